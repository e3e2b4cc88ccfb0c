// Line and reveal wipes: one-pixel lines drawn in an interleaved order (the speed does not count),
// and a straight edge moved across the area from one side, a strip of step + 1 lines a frame.
#include <algorithm>

#include "transitions/effects/fxroutines.h"
#include "transitions/effects/piecereveal.h"
#include "transitions/fxtable.h"

namespace {

struct LineState {
  int32_t a;  // the line counter, the line from the start, or the edge
  int32_t b;  // the line from the end
};

// Variant bits.
enum : int32_t {
  kColumns = 1,  // the lines are columns (V lines, left and right reveals); else rows
  kFromEnd = 2,  // the reveal starts at the right or the bottom
};

using Member = qmPieceReveal<LineState>;

int32_t Size(const qmFxRequest *fx, int32_t variant) { return variant & kColumns ? fx->width : fx->height; }

// Lines [first, first + count) across the whole area.
void Lines(qmFxRequest *fx, int32_t variant, int32_t first, int32_t count) {
  if (variant & kColumns) DrawCutFxPiece(fx, first, 0, count, fx->height);
  else DrawCutFxPiece(fx, 0, first, fx->width, count);
}

// Every even line forwards, then every odd line back: a counter running 0, 2, 4... to 2 x size.
uint32_t InterleavedSetup(qmFxRequest *fx, LineState *, int32_t variant) {
  fx->stepCount = FxStepCount(2 * Size(fx, variant), 2, 0);
  return 0;
}
void InterleavedStart(const qmFxRequest *, LineState *s, int32_t) { s->a = 0; }
void InterleavedFrame(qmFxRequest *fx, LineState *s, int32_t variant, int32_t *done) {
  const int32_t size = Size(fx, variant);
  if (s->a >= 2 * size) *done = 1;
  const int32_t line = s->a < size ? s->a : std::clamp(2 * size - s->a + 1, 0, size - 1);
  Lines(fx, variant, line, 1);
  s->a += 2;
}

// An even line from the start and an odd one from the end in the same frame.
int32_t LastOddLine(int32_t size) { return size % 2 ? size - 2 : size - 1; }
uint32_t PairsSetup(qmFxRequest *fx, LineState *, int32_t variant) {
  fx->stepCount = FxStepCount(Size(fx, variant), 2, 0);
  return 0;
}
void PairsStart(const qmFxRequest *fx, LineState *s, int32_t variant) {
  s->a = 0;
  s->b = LastOddLine(Size(fx, variant));
}
void PairsFrame(qmFxRequest *fx, LineState *s, int32_t variant, int32_t *done) {
  const int32_t size = Size(fx, variant);
  if (s->a >= size) *done = 1;
  if (s->b < 0) s->b = 0;
  Lines(fx, variant, s->a < size ? s->a : size - 1, 1);
  Lines(fx, variant, s->b, 1);
  s->a += 2;
  s->b -= 2;
}

// Reveals: a strip of step + 1 lines a frame; the last strip is moved back to end at the far edge.
uint32_t RevealSetup(qmFxRequest *fx, LineState *, int32_t variant) {
  const int32_t size = Size(fx, variant);
  fx->step = FxSpeedToStep(fx->step, size, 70, 30, 200);
  if (fx->step > size / 2) fx->step = variant & kColumns ? 1 : size / 2;
  // A one-line area still moves (its strip is cut to the area).
  if (fx->step < 1) fx->step = 1;
  fx->stepCount = FxStepCount(size - fx->step - 1, fx->step + 1, 0);
  return 0;
}
void RevealStart(const qmFxRequest *fx, LineState *s, int32_t variant) {
  s->a = variant & kFromEnd ? Size(fx, variant) - 1 : 0;
}
void RevealFrame(qmFxRequest *fx, LineState *s, int32_t variant, int32_t *done) {
  const int32_t size = Size(fx, variant), step = fx->step;
  if (variant & kFromEnd) {
    if (s->a <= step) {
      s->a = step;
      *done = 1;
    }
    Lines(fx, variant, s->a - step, step + 1);
    s->a -= step + 1;
  } else {
    if (s->a >= size - step - 1) {
      s->a = size - step - 1;
      *done = 1;
    }
    Lines(fx, variant, s->a, step + 1);
    s->a += step + 1;
  }
}

const Member kInterleaved[2] = {{0, InterleavedSetup, InterleavedStart, InterleavedFrame},
                                {kColumns, InterleavedSetup, InterleavedStart, InterleavedFrame}};
const Member kPairs[2] = {{0, PairsSetup, PairsStart, PairsFrame}, {kColumns, PairsSetup, PairsStart, PairsFrame}};
// Left, right, top, bottom.
const Member kReveals[4] = {{kColumns, RevealSetup, RevealStart, RevealFrame},
                            {kColumns | kFromEnd, RevealSetup, RevealStart, RevealFrame},
                            {0, RevealSetup, RevealStart, RevealFrame},
                            {kFromEnd, RevealSetup, RevealStart, RevealFrame}};

}  // namespace

uint32_t HLinesFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kInterleaved[0]); }
uint32_t VLinesFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kInterleaved[1]); }
uint32_t HLines2Fx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kPairs[0]); }
uint32_t VLines2Fx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kPairs[1]); }
uint32_t RevealLeftFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kReveals[0]); }
uint32_t RevealRightFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kReveals[1]); }
uint32_t RevealTopFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kReveals[2]); }
uint32_t RevealBottomFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kReveals[3]); }
