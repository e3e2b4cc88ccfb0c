#include "layers/animlayer.h"

#include "display/bgpic.h"
#include "display/scene.h"
#include "layers/layer.h"
#include "layers/layerimage.h"
#include "layers/redraw.h"
#include "media/animcore/anim.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"

uint32_t SetAnimLayerFrame(qmScene *scene, qmLayer *l, int32_t frame, int32_t noRefresh) {
  if (l->type != QMTYPE_ANIM) return ERR_NOANMLAYER;
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &l->object, &a, FINDANIM_FREED)) return code;
  qmLayerState *base = l->base;
  const int32_t n = a->frameCount;
  if (frame == 0) frame = base->frame >= n ? 1 : base->frame + 1;
  else if (frame == -1) frame = n;
  if (frame < 1 || frame > n) return ERR_ANIMFRAME;
  qmPlaneSet next{};
  if (uint32_t code = FetchAnimFrame(a, frame - 1, 1, 1, &next.bitmap, &next.mask, &next.alpha)) return code;
  int32_t before[4];
  GetLayerBounds(scene->current, l, l->current, &before[0], &before[1], &before[2], &before[3]);
  FreePlaneSet(&base->own);
  base->own = next;
  base->frame = frame;
  base->frameCount = n;
  base->frameDelay = GetAnimFrameDelay(a, frame - 1);
  DropDerivedImages(base);
  uint32_t code = 0;
  if (l->current != base) {
    DropDerivedImages(l->current);
    // A turned or scaled layer shows the new frame through its transform again.
    code = RenderLayerImage(scene, l, 0);
    if (!noRefresh) RefreshRect(scene, before[0], before[1], before[2], before[3]);
  }
  if (scene->picture) scene->picture->layersChanged = 1;
  if (!noRefresh) RefreshLayer(scene, l);
  return code;
}
