// Block wipes: the new picture is revealed in place, band by band. One kernel serves a family's
// horizontal and vertical members: "along" is the axis the bands are revealed on, "across" the
// axis they are stacked on.
#include <cstdlib>

#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

struct StripesState {
  int32_t size;    // band thickness across
  int32_t offset;  // how far the wipe has come along
};

// The piece at (a, c) along and across, of extent (la, lc), in area coordinates.
void Piece(qmFxRequest *fx, bool vertical, int32_t a, int32_t c, int32_t la, int32_t lc) {
  if (vertical) DrawFxPiece(fx, c, a, lc, la);
  else DrawFxPiece(fx, a, c, la, lc);
}

// Bands revealed from both ends in turn: even bands from the start along, odd bands from the end.
uint32_t StripesFrame(qmFxRequest *fx, int32_t *done, bool vertical, int32_t firstId) {
  const int32_t along = vertical ? fx->height : fx->width;
  const int32_t across = vertical ? fx->width : fx->height;
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<StripesState *>(MemAlloc(sizeof(StripesState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    const int32_t member = fx->effect - firstId;
    if (member > 0) {
      s->size = 1 << member;
    } else if (fx->parameter != FX_RANDOMPARAMETER) {
      s->size = fx->parameter;
    } else {
      // A random thickness up to along / 2..9; the divisor is kept at least 1 for short areas.
      const int32_t r1 = std::rand(), r2 = std::rand();
      int32_t divisor = along / (2 + r2 % 8);
      if (divisor < 1) divisor = 1;
      s->size = r1 % divisor;
    }
    if (s->size < 1) s->size = 1;
    int32_t step = FxSpeedToStep(fx->step, along, 70, 30, 200);
    if (step > along - 1) step = along - 1;
    if (step < 1) step = 1;
    fx->step = step;
    fx->stepCount = FxStepCount(along - step, step, 0);
    return 0;
  }
  if (fx->phase != FXPHASE_FRAME) return 0;
  auto *s = static_cast<StripesState *>(fx->fxState);
  if (fx->frameNo == 0) s->offset = 0;
  const int32_t step = fx->step;
  const int32_t end = along - step > 0 ? along - step : 0;
  if (s->offset >= end) {
    s->offset = end;
    *done = 1;
  }
  for (int32_t c = 0; c < across; c += 2 * s->size) {
    Piece(fx, vertical, s->offset, c, step, s->size);
    Piece(fx, vertical, along - s->offset - step, c + s->size, step, s->size);
  }
  s->offset += step;
  FxFrameTail(fx);
  return 0;
}

}  // namespace

uint32_t HStripesFx(qmFxRequest *fx, int32_t *done) { return StripesFrame(fx, done, false, FX_HSTRIPES); }
uint32_t VStripesFx(qmFxRequest *fx, int32_t *done) { return StripesFrame(fx, done, true, FX_VSTRIPES); }
