#include "layers/animlayer.h"

#include <cstring>

#include "display/bgpic.h"
#include "display/scene.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "layers/layer.h"
#include "layers/layerimage.h"
#include "layers/layerops.h"
#include "layers/redraw.h"
#include "layers/sweep.h"
#include "media/animcore/anim.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"

namespace {

// An in-memory frame with the planes of the layer's own picture is copied into that picture:
// no planes are made and freed at every frame. False when the planes differ.
bool RefillOwnPicture(qmPlaneSet &own, const qmBitmap *b, const qmMask *m, const qmAlphaChannel *al, int32_t w,
                      int32_t h) {
  if (!own.bitmap || !b || !m != !own.mask || !al != !own.alpha) return false;
  if (b->width != w || b->height != h || own.bitmap->width != w || own.bitmap->height != h) return false;
  BltBitmap(b, 0, 0, own.bitmap, 0, 0, w, h);
  if (m) CopyMaskRect(m, 0, 0, own.mask, 0, 0, w, h, MASKVANILLACOPY);
  if (al)
    for (int32_t y = 0; y < h; y++)
      std::memcpy(own.alpha->memory + size_t(y) * own.alpha->bytesPerRow, al->memory + size_t(y) * al->bytesPerRow,
                  size_t(w));
  return true;
}

}  // namespace

uint32_t SetAnimLayerFrame(qmScene *scene, qmLayer *l, int32_t frame, int32_t noRefresh) {
  if (l->type != QMTYPE_ANIM) return ERR_NOANMLAYER;
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &l->object, &a, FINDANIM_FREED)) return code;
  qmLayerState *base = l->base;
  const int32_t n = a->frameCount;
  if (frame == 0) frame = base->frame >= n ? 1 : base->frame + 1;
  else if (frame == -1) frame = n;
  if (frame < 1 || frame > n) return ERR_ANIMFRAME;
  if (!a->onDisk) {
    qmBitmap *b = nullptr;
    qmMask *m = nullptr;
    qmAlphaChannel *al = nullptr;
    if (uint32_t code = FetchAnimFrame(a, frame - 1, 0, 1, &b, &m, &al)) return code;
    if (RefillOwnPicture(base->own, b, m, al, base->objectWidth, base->objectHeight)) {
      base->frame = frame;
      base->frameCount = n;
      base->frameDelay = GetAnimFrameDelay(a, frame - 1);
      return RenewLayerPicture(scene, l, noRefresh);
    }
  }
  qmPlaneSet next{};
  if (uint32_t code = FetchAnimFrame(a, frame - 1, 1, 1, &next.bitmap, &next.mask, &next.alpha)) return code;
  // Every frame of the layer has the size it was drawn in.
  if (next.bitmap->width != base->objectWidth || next.bitmap->height != base->objectHeight) {
    FreePlaneSet(&next);
    return ERR_WRONGUSAGE;
  }
  base->frame = frame;
  base->frameCount = n;
  base->frameDelay = GetAnimFrameDelay(a, frame - 1);
  const uint32_t code = SwapLayerPicture(scene, l, &next, noRefresh);
  FreePlaneSet(&next);
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
