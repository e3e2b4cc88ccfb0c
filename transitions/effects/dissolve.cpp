// Dissolve: every pixel of the area gets a random reveal time once; each frame raises the level
// and shows the new picture wherever the time lies below it.
#include "graphics/transition_kernels.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/random.h"
#include "transitions/effects/fxblend.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/effects/maskcompose.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxrequest.h"
#include "transitions/fxtable.h"

namespace {

// The level that shows every pixel: reveal times are 0..254, so at 255 all are out.
constexpr int32_t kDissolveEnd = 256;

struct DissolveState {
  int32_t level;
  uint8_t *times;  // width x height reveal times, rows without gaps
  qmMask *reveal;  // the pixels shown so far
  qmAlphaChannel *alpha;  // the same for a picture with an alpha plane in a layer's planes
  qmBitmap *work;
};

int32_t DissolveStep(int32_t speed) {
  if (speed == FX_FASTSPEED) return 8;
  if (speed == FX_NORMALSPEED) return 4;
  if (speed == FX_SLOWSPEED) return 2;
  return speed < 1 ? 1 : speed > 8 ? 8 : speed;
}

}  // namespace

uint32_t DissolveFx(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<DissolveState *>(MemAlloc(sizeof(DissolveState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    FxOwn(fx, &s->times, &s->reveal, &s->alpha, &s->work);
    fx->step = DissolveStep(fx->step);
    const uint64_t pixels = uint64_t(fx->width) * uint64_t(fx->height);
    s->times = pixels <= UINT32_MAX ? static_cast<uint8_t *>(MemAlloc(uint32_t(pixels), 0)) : nullptr;
    s->reveal = AllocMask(fx->width, fx->height, 1);
    s->work = AllocBitmap(fx->width, fx->height);
    if (!s->times || !s->reveal || !s->work) return ERR_MEM;
    if (fx->realtime && fx->srcAlpha && !fx->srcMask && !(s->alpha = AllocAlphaChannel(fx->width, fx->height, 1)))
      return ERR_MEM;
    FillRandModulo(s->times, size_t(pixels), 255);
    fx->stepCount = FxStepCount(kDissolveEnd, fx->step, 1);
    return 0;
  }
  auto *s = static_cast<DissolveState *>(fx->fxState);
  int32_t level;
  // A run sent back to its start (frame 0) begins again.
  if (fx->phase == FXPHASE_FRAME) level = (fx->frameNo ? s->level : 0) + fx->step;
  else if (fx->phase == FXPHASE_DRAW) level = fx->frameNo * fx->step;
  else return 0;
  s->level = level;
  if (fx->realtime) {
    // The layer shows the revealed pixels within its own mask or alpha plane (taking it away, the
    // ones not yet revealed); past 255 all of them, or none.
    const qmMask *src = s->alpha ? nullptr : fx->srcMask;
    qmThresholdRequest t{s->alpha ? fx->srcAlpha->memory : src ? src->memory : nullptr,
                         s->alpha ? s->alpha->memory : s->reveal->memory,
                         fx->width,
                         fx->height,
                         s->alpha ? fx->srcAlpha->bytesPerRow : src ? src->bytesPerRow : 0,
                         s->alpha ? s->alpha->bytesPerRow : s->reveal->bytesPerRow,
                         s->times,
                         s->alpha ? 1 : 0,
                         fx->layerTarget ? 1 : 0};
    ThresholdPlane(&t, level);
    ComposeMaskedFx(fx, fx->srcImage, 0, 0, fx->width, fx->height, s->alpha ? nullptr : s->reveal, s->alpha, s->work);
  } else if (level < kDissolveEnd && fx->oldImage) {
    // The revealed pixels over the old picture in one pass, with no mask plane between.
    RevealFxToScreen(fx, fx->srcImage, fx->oldImage, s->times, fx->srcMask, level, s->work);
  } else {
    const qmMask *mask = fx->srcMask;
    if (level < kDissolveEnd) {
      qmThresholdRequest t{fx->srcMask ? fx->srcMask->memory : nullptr,
                           s->reveal->memory,
                           fx->width,
                           fx->height,
                           fx->srcMask ? fx->srcMask->bytesPerRow : 0,
                           s->reveal->bytesPerRow,
                           s->times,
                           0,
                           0};
      ThresholdPlane(&t, level);
      mask = s->reveal;
    }
    ComposeMaskedFx(fx, fx->srcImage, 0, 0, fx->width, fx->height, mask, level < kDissolveEnd ? nullptr : fx->srcAlpha,
                    s->work);
  }
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (level >= kDissolveEnd) *done = 1;
  FxFrameTail(fx);
  return 0;
}

