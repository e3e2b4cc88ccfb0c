#include "layers/animlayer.h"

#include "display/bgpic.h"
#include "display/scene.h"
#include "layers/layer.h"
#include "layers/layerimage.h"
#include "layers/redraw.h"
#include "layers/sweep.h"
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
  // Every frame of the layer has the size it was drawn in.
  if (next.bitmap->width != base->objectWidth || next.bitmap->height != base->objectHeight) {
    FreePlaneSet(&next);
    return ERR_WRONGUSAGE;
  }
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

uint32_t ChangeAnimLayerFrames(qmScene *scene, qmLayer *l, int32_t count, int32_t position) {
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &l->object, &a, FINDANIM_FREED)) return code;
  if (!a->freed || IsObjectInAnyLayer(scene->objects, QMTYPE_ANIM, &l->object, l)) {
    qmObjectId copyId{0, 1};
    qmAnim *copy = nullptr;
    if (uint32_t code = CopyAnimRecord(scene->objects, a, &copyId, &copy)) return code;
    copy->freed = 1;
    l->object = copyId;
    a = copy;
  }
  const int32_t old = a->frameCount, shown = l->base->frame;
  if (uint32_t code = ChangeAnimFrameCount(scene, &l->object, count, position, 1)) return code;
  // Where the frame shown went: before the change it stays, after it moves by the count; a
  // removed frame leaves the layer at frame 0.
  const int32_t p = position ? position - 1 : (count > 0 ? old : old + count);
  int32_t frame = shown;
  if (shown - 1 >= p) {
    if (count > 0) frame = shown + count;
    else frame = shown - 1 < p - count ? 0 : shown + count;
  }
  ForEachLayerState(l, [&](qmLayerState *s) {
    s->frame = frame;
    s->frameCount = a->frameCount;
  });
  if (frame == 0) RefreshLayer(scene, l);
  return 0;
}
