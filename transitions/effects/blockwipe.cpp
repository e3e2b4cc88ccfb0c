// Block wipes: the new picture is revealed in place, piece by piece, through the piece-reveal
// skeleton; a member gives its set-up and its pieces (each frame clamps at the end, draws, then
// advances). "Along" is the axis a member's pieces are revealed on, "across" the one they stack on.
#include <cstdlib>

#include "transitions/effects/fxroutines.h"
#include "transitions/effects/piecereveal.h"
#include "transitions/fxtable.h"

namespace {

struct WipeState {
  int32_t size;  // stripe thickness, slat size, or the half width
  int32_t a, b;  // progress: offset, position, counter or the two edges
  int32_t c;     // quarters: the half height
};

// The variant: 1 when the pieces run top to bottom rather than left to right.
using Member = qmPieceReveal<WipeState>;

int32_t Along(const qmFxRequest *fx, int32_t vertical) { return vertical ? fx->height : fx->width; }
int32_t Across(const qmFxRequest *fx, int32_t vertical) { return vertical ? fx->width : fx->height; }

// The piece at (a, c) along and across, of extent (la, lc).
void Piece(qmFxRequest *fx, bool vertical, int32_t a, int32_t c, int32_t la, int32_t lc) {
  if (vertical) DrawFxPiece(fx, c, a, lc, la);
  else DrawFxPiece(fx, a, c, la, lc);
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// Stripes: bands of thickness size; even bands come from the start, odd ones from the end.
uint32_t StripesSetup(qmFxRequest *fx, WipeState *s, int32_t vertical) {
  const int32_t along = Along(fx, vertical);
  const int32_t member = fx->effect - (vertical ? FX_VSTRIPES : FX_HSTRIPES);
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
  // A band thicker than the area covers it whole, as the area's own thickness does.
  s->size = Clamp(s->size, 1, Across(fx, vertical) > 1 ? Across(fx, vertical) : 1);
  fx->step = Clamp(FxSpeedToStep(fx->step, along, 70, 30, 200), 1, along - 1 > 1 ? along - 1 : 1);
  fx->stepCount = FxStepCount(along - fx->step, fx->step, 0);
  return 0;
}
void StripesStart(const qmFxRequest *, WipeState *s, int32_t) { s->a = 0; }
void StripesFrame(qmFxRequest *fx, WipeState *s, int32_t vertical, int32_t *done) {
  const int32_t along = Along(fx, vertical), step = fx->step;
  const int32_t end = along - step > 0 ? along - step : 0;
  if (s->a >= end) {
    s->a = end;
    *done = 1;
  }
  for (int32_t c = 0; c < Across(fx, vertical); c += 2 * s->size) {
    Piece(fx, vertical, s->a, c, step, s->size);
    Piece(fx, vertical, along - s->a - step, c + s->size, step, s->size);
  }
  s->a += step;
}

// Blinds: slats of size b across, each filled from its start by step a frame.
uint32_t BlindsSetup(qmFxRequest *fx, WipeState *s, int32_t vertical) {
  s->size = 8 << (fx->effect - (vertical ? FX_VBLINDS8 : FX_HBLINDS8));
  fx->step = Clamp(FxSpeedToStep(fx->step, s->size, 8, 3, 20), 1, s->size / 2);
  fx->stepCount = FxStepCount(s->size - fx->step, fx->step, 0);
  return 0;
}
void BlindsStart(const qmFxRequest *fx, WipeState *s, int32_t) { s->a = fx->step; }
void BlindsFrame(qmFxRequest *fx, WipeState *s, int32_t vertical, int32_t *done) {
  if (s->a >= s->size) {
    s->a = s->size;
    *done = 1;
  }
  const int32_t along = Along(fx, vertical), slats = Across(fx, vertical) / s->size;
  for (int32_t i = 0; i <= slats; i++) Piece(fx, !vertical, i * s->size + s->a - fx->step, 0, fx->step, along);
  s->a += fx->step;
}

// Opening curtains: from the centre line outward; a is the far edge, b the near one.
uint32_t OpenSetup(qmFxRequest *fx, WipeState *, int32_t vertical) {
  const int32_t along = Along(fx, vertical);
  fx->step = Clamp(FxSpeedToStep(fx->step, along, 140, 60, 320), 0, along / 4);
  fx->stepCount = FxStepCount(along - fx->step - (along / 2 - 1) - 1, fx->step + 1, 0);
  return 0;
}
void OpenStart(const qmFxRequest *fx, WipeState *s, int32_t vertical) {
  s->a = Along(fx, vertical) / 2 - 1;
  s->b = Along(fx, vertical) / 2;
}
void OpenFrame(qmFxRequest *fx, WipeState *s, int32_t vertical, int32_t *done) {
  const int32_t along = Along(fx, vertical), step = fx->step;
  if (s->a >= along - step - 1) {
    s->a = along - step - 1;
    *done = 1;
  }
  if (s->b - step < 0) s->b = step;
  Piece(fx, vertical, s->a, 0, step + 1, Across(fx, vertical));
  Piece(fx, vertical, s->b - step, 0, step + 1, Across(fx, vertical));
  s->a += step + 1;
  s->b -= step + 1;
}

// Closing curtains: from both edges inward; a is the near edge, b the far one.
uint32_t CloseSetup(qmFxRequest *fx, WipeState *, int32_t vertical) {
  const int32_t along = Along(fx, vertical);
  fx->step = FxSpeedToStep(fx->step, along, 140, 60, 320);
  if (fx->step > along / 2) fx->step = 1;
  fx->stepCount = FxStepCount(along / 2, fx->step + 1, 0);
  return 0;
}
void CloseStart(const qmFxRequest *fx, WipeState *s, int32_t vertical) {
  s->a = 0;
  s->b = Along(fx, vertical) - 1;
}
void CloseFrame(qmFxRequest *fx, WipeState *s, int32_t vertical, int32_t *done) {
  const int32_t along = Along(fx, vertical), step = fx->step;
  if (s->a >= along / 2) {
    s->a = along / 2;
    *done = 1;
  }
  Piece(fx, vertical, s->a, 0, step + 1, Across(fx, vertical));
  Piece(fx, vertical, s->b - step, 0, step + 1, Across(fx, vertical));
  s->a += step + 1;
  s->b -= step + 1;
}

// Bars: 16-pixel cells filled column by column for nine frames' worth, then row by row.
constexpr int32_t kBarCell = 16;
uint32_t BarsSetup(qmFxRequest *fx, WipeState *, int32_t) {
  fx->step = Clamp(FxSpeedToStep(fx->step, kBarCell, 16, 8, 40), 1, 8);
  fx->stepCount = FxStepCount(23, fx->step + 1, 0);
  return 0;
}
void BarsStart(const qmFxRequest *, WipeState *s, int32_t) { s->a = 0; }
void BarsFrame(qmFxRequest *fx, WipeState *s, int32_t, int32_t *done) {
  if (s->a > 22) {
    s->a = 23;
    *done = 1;
  }
  // Columns while the counter is below 9 (vertical pieces), rows from then on.
  const bool rows = s->a >= 9;
  const int32_t along = rows ? fx->height : fx->width, across = rows ? fx->width : fx->height;
  const int32_t first = rows ? s->a - 7 : s->a + 1, cells = along / kBarCell;
  for (int32_t i = 0; i < cells; i++) Piece(fx, rows, i * kBarCell, 0, first, across);
  if (along % kBarCell) Piece(fx, rows, cells * kBarCell, 0, along % kBarCell, across);
  s->a += fx->step + 1;
}

// Quarters: the left half's two quarters grow downward, the right half's upward.
uint32_t QuartersSetup(qmFxRequest *fx, WipeState *s, int32_t) {
  s->size = fx->width / 2;
  s->c = fx->height / 2;
  fx->step = Clamp(FxSpeedToStep(fx->step, fx->width, 70, 30, 200), 0, fx->height / 4);
  fx->stepCount = FxStepCount(fx->height - s->c - fx->step - 1, fx->step + 1, 0);
  return 0;
}
void QuartersStart(const qmFxRequest *, WipeState *s, int32_t) { s->a = 0; }
void QuartersFrame(qmFxRequest *fx, WipeState *s, int32_t, int32_t *done) {
  const int32_t w2 = s->size, h2 = s->c, h = fx->height, rows = fx->step + 1;
  const int32_t end = h - h2 - fx->step - 1;
  if (s->a >= end) {
    s->a = end;
    *done = 1;
  }
  const int32_t p = s->a;
  DrawFxPiece(fx, 0, p, w2, rows);
  DrawFxPiece(fx, 0, h2 + p, w2, rows);
  // An odd width gives the last column to the right half.
  const int32_t right = fx->width - w2;
  DrawFxPiece(fx, w2, h - h2 - p - rows, right, rows);
  DrawFxPiece(fx, w2, h - p - rows, right, rows);
  s->a += rows;
}

const Member kStripes[2] = {{0, StripesSetup, StripesStart, StripesFrame}, {1, StripesSetup, StripesStart, StripesFrame}};
const Member kBlinds[2] = {{0, BlindsSetup, BlindsStart, BlindsFrame}, {1, BlindsSetup, BlindsStart, BlindsFrame}};
const Member kOpen[2] = {{0, OpenSetup, OpenStart, OpenFrame}, {1, OpenSetup, OpenStart, OpenFrame}};
const Member kClose[2] = {{0, CloseSetup, CloseStart, CloseFrame}, {1, CloseSetup, CloseStart, CloseFrame}};
const Member kBars = {0, BarsSetup, BarsStart, BarsFrame};
const Member kQuarters = {0, QuartersSetup, QuartersStart, QuartersFrame};

}  // namespace

uint32_t HStripesFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kStripes[0]); }
uint32_t VStripesFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kStripes[1]); }
uint32_t HBlindsFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kBlinds[0]); }
uint32_t VBlindsFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kBlinds[1]); }
uint32_t OpenCurtainVFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kOpen[0]); }
uint32_t OpenCurtainHFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kOpen[1]); }
uint32_t CloseCurtainVFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kClose[0]); }
uint32_t CloseCurtainHFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kClose[1]); }
uint32_t BarsFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kBars); }
uint32_t QuartersFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kQuarters); }
