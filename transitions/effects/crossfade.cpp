// Crossfade: the old picture mixed into the new one with a weight falling by the step each frame.
// The whole rectangle fades; the new picture's mask and alpha play no part.
#include "display/safeblt.h"
#include "graphics/blit.h"
#include "graphics/color_kernels.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

struct CrossfadeState {
  int32_t level;  // 0..255: the new picture's share, in 256ths
  qmBitmap *work;
};

// Level units a frame: speed constants below 1, a positive step up to 120.
int32_t CrossfadeStep(int32_t speed) {
  if (speed == FX_FASTSPEED) return 20;
  if (speed == FX_SLOWSPEED) return 5;
  if (speed < 1) return 10;
  return speed > 120 ? 120 : speed;
}

}  // namespace

uint32_t CrossfadeFx(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<CrossfadeState *>(MemAlloc(sizeof(CrossfadeState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    fx->step = CrossfadeStep(fx->step);
    s->work = AllocBitmap(fx->width, fx->height);
    if (!s->work) return ERR_MEM;
    fx->stepCount = FxStepCount(255, fx->step, 1);
    return 0;
  }
  auto *s = static_cast<CrossfadeState *>(fx->fxState);
  int32_t level;
  if (fx->phase == FXPHASE_FRAME) level = s->level + fx->step;
  else if (fx->phase == FXPHASE_DRAW) level = fx->frameNo * fx->step;
  else return 0;
  int32_t last = 0;
  if (level > 254) {
    level = 255;
    last = 1;
  }
  fx->borderLevel = fx->layerTarget ? 255 - level : level;
  const qmBitmap *n = fx->srcImage, *o = fx->oldImage;
  const bool mixing = level < 255 && o;
  qmSafeBlt b;
  FxScreenBlit(fx, n, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr, &b);
  qmBlitRect r;
  qmBitmap *target = SafeBltPixelTarget(fx->scene, &b, &r);
  if (target && target != o && target != n) {
    // Straight into the target's clipped rectangle, each picture read once; the blit then does
    // only what follows the pixels (output planes, scaled copy, present).
    if (mixing) {
      const int32_t tp = target->bytesPerRow / 4, op = o->bytesPerRow / 4, np = n->bytesPerRow / 4;
      qmMixRequest mix{o->pixels + int64_t(r.srcY) * op + r.srcX, n->pixels + int64_t(r.srcY) * np + r.srcX, nullptr, 0,
                       r.width, r.height, 255 - level, QM_BITMAP_FORMAT, op, np, 0,
                       target->pixels + int64_t(r.dstY) * tp + r.dstX, tp};
      MixPixels(&mix);
    } else {
      BltBitmap(n, r.srcX, r.srcY, target, r.dstX, r.dstY, r.width, r.height);
    }
    b.src = target;
    b.srcX = b.dstX = r.dstX;
    b.srcY = b.dstY = r.dstY;
    b.width = r.width;
    b.height = r.height;
    b.srcWidth = target->width;
    b.srcHeight = target->height;
    b.flags |= SAFEBLT_INTARGET;
    SafeBlt(fx->scene, &b);
  } else {
    if (mixing) {
      // The old picture mixed into the new one with weight 255 - level, written to the work
      // picture in the same pass.
      qmMixRequest mix{o->pixels, n->pixels, nullptr, 0, fx->width, fx->height, 255 - level, QM_BITMAP_FORMAT,
                       o->bytesPerRow / 4, n->bytesPerRow / 4, 0, s->work->pixels, s->work->bytesPerRow / 4};
      MixPixels(&mix);
    } else {
      BltBitmap(n, 0, 0, s->work, 0, 0, fx->width, fx->height);
    }
    BlitFxToScreen(fx, s->work, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr);
  }
  // The next frame follows the one drawn last, also after a jump.
  s->level = level;
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

void CrossfadeFxFree(qmFxRequest *fx, int32_t) {
  auto *s = static_cast<CrossfadeState *>(fx->fxState);
  if (!s) return;
  FreeBitmap(s->work);
  s->work = nullptr;
}
