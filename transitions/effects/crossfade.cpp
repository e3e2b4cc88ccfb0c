// Crossfade: the old picture mixed into the new one with a weight falling by the step each frame.
// The whole rectangle fades; the new picture's mask and alpha play no part.
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxowned.h"
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
    FxOwn(fx, &s->work);
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
  MixFxPictures(fx, level, s->work);
  // The next frame follows the one drawn last, also after a jump.
  s->level = level;
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

