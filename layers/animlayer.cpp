#include "layers/animlayer.h"

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/scene.h"
#include "layers/layer.h"
#include "layers/layerimage.h"
#include "layers/layerops.h"
#include "layers/redraw.h"
#include "layers/sweep.h"
#include "media/animcore/anim.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"

namespace {

// The anim's frame i lent to the state when it is in memory at the size the state shows.
bool LendFrame(const qmAnim *a, int32_t i, qmLayerState *s) {
  if (!a || a->onDisk || !a->bitmaps || i < 0 || i >= a->frameCount) return false;
  const qmBitmap *b = a->bitmaps[i];
  if (!b || b->width != s->objectWidth || b->height != s->objectHeight) return false;
  DropOwnPicture(s);
  s->own = {a->bitmaps[i], a->masks[i], a->alphas[i]};
  s->ownLent = 1;
  return true;
}

}  // namespace

uint32_t ShowAnimLayerFrame(qmScene *scene, qmLayer *l, int32_t frame, int32_t noRefresh) {
  if (l->type != QMTYPE_ANIM) return ERR_NOANMLAYER;
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &l->object, &a, FINDANIM_FREED)) return code;
  qmLayerState *base = l->base;
  const int32_t n = a->frameCount;
  if (frame == 0) frame = base->frame >= n ? 1 : base->frame + 1;
  else if (frame == -1) frame = n;
  if (frame < 1 || frame > n) return ERR_ANIMFRAME;
  // An in-memory frame is shown where it lies, as a brush is: no copy at each step.
  if (!a->onDisk) {
    qmBitmap *b = nullptr;
    if (uint32_t code = FetchAnimFrame(a, frame - 1, 0, 1, &b, nullptr, nullptr)) return code;
    if (LendFrame(a, frame - 1, base)) {
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

uint32_t SetAnimLayerFrame(qmScene *scene, qmLayer *l, int32_t frame, int32_t noRefresh) {
  // A transition drawing the layer gives the layer its own pictures back for the change, and
  // follows the new frame after it.
  if (!IsObjectInAsyncDraw(scene, l)) return ShowAnimLayerFrame(scene, l, frame, noRefresh);
  BroadcastAsyncDraws(scene, ADOP_LAYERCHANGING, reinterpret_cast<intptr_t>(l));
  const uint32_t code = ShowAnimLayerFrame(scene, l, frame, noRefresh);
  const uint32_t followed = BroadcastAsyncDraws(scene, ADOP_LAYERCHANGED, reinterpret_cast<intptr_t>(l));
  return code ? code : followed;
}

void FollowLentFrame(const qmObjectRegistry *objects, qmLayer *l) {
  qmLayerState *s = l->base;
  if (!s || !s->ownLent) return;
  const auto *a = reinterpret_cast<const qmAnim *>(FindObject(objects, QMTYPE_ANIM, &l->object));
  if (l->type == QMTYPE_ANIM && LendFrame(a, s->frame - 1, s)) return;
  // Out of memory the layer shows nothing rather than planes that may go.
  if (CopyLentPicture(s)) DropOwnPicture(s);
}

uint32_t OwnLayerAnim(qmScene *scene, qmLayer *l, qmAnim **out) {
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &l->object, &a, FINDANIM_FREED)) return code;
  if (!a->freed || IsObjectInAnyLayer(scene->objects, QMTYPE_ANIM, &l->object, l)) {
    qmObjectId copyId{0, 1};
    qmAnim *copy = nullptr;
    if (uint32_t code = CopyAnimRecord(scene->objects, a, &copyId, &copy)) return code;
    copy->freed = 1;
    l->object = copyId;
    FollowLentFrame(scene->objects, l);
    a = copy;
  }
  *out = a;
  return 0;
}

uint32_t ChangeAnimLayerFrames(qmScene *scene, qmLayer *l, int32_t count, int32_t position) {
  qmAnim *a = nullptr;
  if (uint32_t code = OwnLayerAnim(scene, l, &a)) return code;
  const int32_t old = a->frameCount, shown = l->base->frame;
  // Where the frame shown goes: before the change it stays, after it moves by the count; a
  // removed frame leaves the layer at frame 0, with its picture kept as its own.
  const int32_t p = position ? position - 1 : (count > 0 ? old : old + count);
  if (count < 0 && shown - 1 >= p && shown - 1 < p - count)
    if (uint32_t code = CopyLentPicture(l->base)) return code;
  if (uint32_t code = ChangeAnimFrameCount(scene, &l->object, count, position, 1)) return code;
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
