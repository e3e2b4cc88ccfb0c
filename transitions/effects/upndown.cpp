// Up-and-down: the area is cut into eight columns, revealed in four passes of two; in each pass
// one column fills from the top down while its partner fills from the bottom up. Pieces are two
// rows taller than a step, so consecutive ones overlap.
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

struct UpNDownState {
  int32_t pos;   // rows run so far over all passes (a pass is one area height)
  int32_t pass;  // the pass whose first pieces were drawn
};

constexpr int32_t kPasses = 4;
// The (downward, upward) column of each pass.
constexpr int32_t kPairs[kPasses][2] = {{0, 1}, {3, 2}, {4, 5}, {7, 6}};

// The piece of column j whose top is at row y.
void ColumnPiece(qmFxRequest *fx, int32_t j, int32_t y) {
  const int32_t c = fx->width / 8 + 1;
  DrawFxPiece(fx, j * c, y, c, fx->step + 2);
}

}  // namespace

uint32_t UpNDownFx(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<UpNDownState *>(MemAlloc(sizeof(UpNDownState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    const int32_t longer = fx->width > fx->height ? fx->width : fx->height;
    fx->step = FxSpeedToStep(fx->step, longer, 60, 30, 120);
    if (fx->step > 30) fx->step = 30;
    fx->stepCount = FxStepCount(kPasses * fx->height, fx->step, 0);
    return 0;
  }
  if (fx->phase != FXPHASE_FRAME) return 0;
  auto *s = static_cast<UpNDownState *>(fx->fxState);
  if (fx->frameNo == 0) s->pos = s->pass = 0;
  const int32_t h = fx->height, step = fx->step;
  // An area without rows has nothing to reveal; a step above the height may jump past the last
  // pass. Either way this frame shows the whole picture and ends.
  const int32_t k = h > 0 ? s->pos / h : kPasses, o = h > 0 ? s->pos % h : 0;
  if (k >= kPasses) {
    DrawFxPiece(fx, 0, 0, fx->width, h);
    *done = 1;
  } else {
    if (k > 0 && k != s->pass) {
      ColumnPiece(fx, 0, o);
      ColumnPiece(fx, 1, 0);
      s->pass = k;
      ColumnPiece(fx, kPairs[k][0], 0);
      ColumnPiece(fx, kPairs[k][1], h - step - 1);
    }
    const int32_t t = h - o - step > 1 ? h - o - step : 1;
    ColumnPiece(fx, kPairs[k][0], o);
    ColumnPiece(fx, kPairs[k][1], t - 1);
  }
  s->pos += step;
  FxFrameTail(fx);
  return 0;
}
