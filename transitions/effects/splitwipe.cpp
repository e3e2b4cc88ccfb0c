// Effects that open from several places at once: the splits open each half of the area from its
// own middle line outwards; the quadrant wipe grows rectangles in two opposite quadrants, then in
// the other two; the corner wipe grows a rectangle from each corner. Each shows the whole new
// picture on its last frame.
#include <algorithm>

#include "transitions/effects/fxroutines.h"
#include "transitions/effects/piecereveal.h"
#include "transitions/fxtable.h"

namespace {

struct SplitState {
  int32_t a, b;  // the bands moving towards the start and towards the end of the first half
};

struct QuadState {
  int32_t prevWidth, prevHeight;  // the rectangle drawn last in the current pair
  int32_t pos;
  int32_t pairStart;  // pos at which the current pair began
  int32_t secondPair;  // the top-right and bottom-left quadrants are under way
};

struct SwissState {
  int32_t pos;
  int32_t prevWidth, prevHeight;  // the corner rectangle drawn last
};

int32_t Longer(const qmFxRequest *fx) { return std::max(fx->width, fx->height); }

void SetupStep(qmFxRequest *fx) { fx->step = std::clamp(FxSpeedToStep(fx->step, Longer(fx), 120, 60, 240), 1, 30); }

void DrawWhole(qmFxRequest *fx) { DrawFxPiece(fx, 0, 0, fx->width, fx->height); }

// Splits: the variant is 1 for columns (HSPLIT), 0 for rows (VSPLIT).
int32_t SplitSize(const qmFxRequest *fx, int32_t columns) { return columns ? fx->width : fx->height; }
uint32_t SplitSetup(qmFxRequest *fx, SplitState *s, int32_t columns) {
  SetupStep(fx);
  const int32_t quarter = SplitSize(fx, columns) / 4;
  s->a = quarter + fx->step;
  s->b = quarter - fx->step;
  fx->stepCount = FxStepCount(quarter + fx->step, fx->step, 1);
  return 0;
}
void SplitStart(const qmFxRequest *fx, SplitState *s, int32_t columns) {
  const int32_t quarter = SplitSize(fx, columns) / 4;
  s->a = quarter + fx->step;
  s->b = quarter - fx->step;
}
void SplitFrame(qmFxRequest *fx, SplitState *s, int32_t columns, int32_t *done) {
  const int32_t size = SplitSize(fx, columns), step = fx->step;
  s->a -= step;
  s->b += step;
  if (s->a < 1) {
    s->a = 0;
    *done = 1;
  }
  int32_t a = s->a, b = s->b;
  s->b = std::min(s->b, size / 2);
  for (int32_t half = 0; half < 2; half++) {
    for (int32_t band : {a, b}) {
      if (columns) DrawFxPiece(fx, band, 0, step, fx->height);
      else DrawFxPiece(fx, 0, band, fx->width, step);
    }
    a += size / 2 + size % 2;
    b += size / 2 + size % 2;
  }
  if (*done) DrawWhole(fx);
}

// Quadrants: a rectangle centred in its quadrant; each frame the ring between it and the one
// before, as four overlapping strips, in the quadrant at (qx, qy).
void QuadRing(qmFxRequest *fx, int32_t qx, int32_t qy, int32_t rw, int32_t rh, int32_t pw, int32_t ph) {
  const int32_t x = qx + (fx->width / 2 - rw) / 2, y = qy + (fx->height / 2 - rh) / 2;
  const int32_t dw = (rw - pw) / 2 + 1, dh = (rh - ph) / 2 + 1;
  DrawFxPiece(fx, x, y, dw, rh);
  DrawFxPiece(fx, x + dw, y, pw, dh);
  DrawFxPiece(fx, x + rw - dw, y, dw, rh);
  DrawFxPiece(fx, x + dw, y + rh - dh, pw, dh);
}
uint32_t QuadSetup(qmFxRequest *fx, QuadState *, int32_t) {
  SetupStep(fx);
  fx->stepCount = FxStepCount(Longer(fx), fx->step, 1);
  return 0;
}
void QuadStart(const qmFxRequest *, QuadState *s, int32_t) { *s = {}; }
void QuadFrame(qmFxRequest *fx, QuadState *s, int32_t, int32_t *done) {
  const int32_t halfW = fx->width / 2, halfH = fx->height / 2, l = Longer(fx);
  s->pos += fx->step;
  int32_t rw = 0, rh = 0;
  FxRectOfPosition(fx, s->pos - s->pairStart, true, &rw, &rh);
  if (rw >= halfW) {
    rw = halfW;
    rh = halfH;
  }
  // The quadrants of the right and the bottom start past the middle line of an odd size; the
  // second pair mirrors the first.
  const int32_t right = halfW + fx->width % 2, lower = halfH + fx->height % 2;
  QuadRing(fx, s->secondPair ? right : 0, 0, rw, rh, s->prevWidth, s->prevHeight);
  QuadRing(fx, s->secondPair ? 0 : right, lower, rw, rh, s->prevWidth, s->prevHeight);
  // The end comes first: an area no longer than a step ends on its first frame, as counted.
  if (s->pos >= l) {
    *done = 1;
    DrawWhole(fx);
  } else if (s->pos >= l / 2 && !s->secondPair) {
    s->secondPair = 1;
    s->pairStart = s->pos;
    s->prevWidth = s->prevHeight = 0;
  } else {
    s->prevWidth = rw;
    s->prevHeight = rh;
  }
}

// Corners: four rectangles grow from the corners until half the longer side, then the whole.
uint32_t SwissSetup(qmFxRequest *fx, SwissState *, int32_t) {
  SetupStep(fx);
  fx->stepCount = FxStepCount(Longer(fx) / 2, fx->step, 1);
  return 0;
}
void SwissStart(const qmFxRequest *, SwissState *s, int32_t) { *s = {}; }
void SwissFrame(qmFxRequest *fx, SwissState *s, int32_t, int32_t *done) {
  const int32_t w = fx->width, h = fx->height;
  s->pos += fx->step;
  int32_t cw = 0, ch = 0;
  FxRectOfPosition(fx, s->pos, true, &cw, &ch);
  const int32_t pw = s->prevWidth, ph = s->prevHeight;
  if (s->pos < Longer(fx) / 2) {
    // Each corner's L between its new rectangle and the one before.
    DrawFxPiece(fx, pw, 0, cw - pw, ch);  // top left
    DrawFxPiece(fx, 0, ph, cw, ch - ph);
    DrawFxPiece(fx, 0, h - ch, cw, ch - ph);  // bottom left
    DrawFxPiece(fx, pw, h - ph, cw - pw, ph);
    DrawFxPiece(fx, w - cw, h - ch, cw, ch - ph);  // bottom right
    DrawFxPiece(fx, w - cw, h - ph, cw - pw, ph);
    DrawFxPiece(fx, w - cw, 0, cw - pw, ch);  // top right
    DrawFxPiece(fx, w - cw, ph, cw, ch - ph);
  } else {
    *done = 1;
    DrawWhole(fx);
  }
  s->prevWidth = cw;
  s->prevHeight = ch;
}

const qmPieceReveal<SplitState> kSplit[2] = {{0, SplitSetup, SplitStart, SplitFrame},
                                             {1, SplitSetup, SplitStart, SplitFrame}};
const qmPieceReveal<QuadState> kQuad = {0, QuadSetup, QuadStart, QuadFrame};
const qmPieceReveal<SwissState> kSwiss = {0, SwissSetup, SwissStart, SwissFrame};

}  // namespace

uint32_t SplitFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kSplit[fx->effect == FX_HSPLIT]); }
uint32_t QuadRectFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kQuad); }
uint32_t SwissFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kSwiss); }
