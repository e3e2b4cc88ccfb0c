// Tile effects: the puzzle shows one square tile a frame in an order drawn at the init call; the
// diagonal shows a staircase of tiles moving from the top-left corner to the bottom-right one.
#include <cstdint>
#include <cstdlib>

#include "transitions/effects/fxroutines.h"
#include "transitions/effects/piecereveal.h"
#include "transitions/fxowned.h"
#include "transitions/fxtable.h"

namespace {

struct PuzzleState {
  int32_t next;  // index into order of the tile of the next frame
  int32_t count, columns, rows;
  int32_t *order;  // tile t lies in row t / columns, column t mod columns
};

struct DiagonalState {
  int32_t front;  // the right edge of the newest tile of row 0
  int32_t rows;   // rows of tiles under way
};

// The root of k in a forest whose roots are the free slots, halving the path on the way.
int32_t FreeRoot(int32_t *parent, int32_t k) {
  while (parent[k] != k) {
    parent[k] = parent[parent[k]];
    k = parent[k];
  }
  return k;
}

uint32_t PuzzleSetup(qmFxRequest *fx, PuzzleState *s, int32_t) {
  FxOwn(fx, &s->order);
  fx->step = FxSpeedToStep(fx->step, fx->width, 20, 10, 30);
  if (fx->step < 5) fx->step = 5;
  s->columns = fx->width / fx->step + 1;
  s->rows = fx->height / fx->step + 1;
  const int64_t n = int64_t(s->columns) * s->rows;
  if (n > INT32_MAX / 4 - 1) return ERR_MEM;
  s->count = int32_t(n);
  s->order = static_cast<int32_t *>(MemAlloc(uint32_t(n) * 4u, 0));
  if (!s->order) return ERR_MEM;
  if (uint32_t code = DrawPuzzleOrder(s->order, s->count)) return code;
  fx->stepCount = FxStepCount(s->count - 1, 1, 0);
  return 0;
}
void PuzzleStart(const qmFxRequest *, PuzzleState *s, int32_t) { s->next = 0; }
void PuzzleFrame(qmFxRequest *fx, PuzzleState *s, int32_t, int32_t *done) {
  if (s->next >= s->count - 1) {
    s->next = s->count - 1;
    *done = 1;
  }
  const int32_t t = s->order[s->next], tile = fx->step;
  DrawFxPiece(fx, tile * (t % s->columns), tile * (t / s->columns), tile, tile);
  s->next++;
}

// Row i of tiles starts one frame after row i - 1, then moves on a tile a frame.
uint32_t DiagonalSetup(qmFxRequest *fx, DiagonalState *s, int32_t) {
  fx->step = FxSpeedToStep(fx->step, fx->width, 60, 20, 130);
  if (fx->step > fx->width / 4) fx->step = 1;
  s->front = fx->step;
  fx->stepCount = FxStepCount(fx->width + fx->height - fx->step, fx->step, 0);
  return 0;
}
void DiagonalStart(const qmFxRequest *fx, DiagonalState *s, int32_t) {
  s->front = fx->step;
  s->rows = 0;
}
void DiagonalFrame(qmFxRequest *fx, DiagonalState *s, int32_t, int32_t *done) {
  const int32_t tile = fx->step, end = fx->width + fx->height;
  // The last frame's front is pulled back to the end: its tiles join the ones before.
  if (s->front >= end) {
    s->front = end;
    *done = 1;
  }
  if (s->rows < fx->height / tile + 1) s->rows++;
  for (int32_t i = 0; i < s->rows; i++) DrawFxPiece(fx, s->front - (i + 1) * tile, i * tile, tile, tile);
  s->front += tile;
}

const qmPieceReveal<PuzzleState> kPuzzle = {0, PuzzleSetup, PuzzleStart, PuzzleFrame};
const qmPieceReveal<DiagonalState> kDiagonal = {0, DiagonalSetup, DiagonalStart, DiagonalFrame};

}  // namespace

// Two forests of free slots (one leading down, one up) find the slot without walking the taken ones.
uint32_t DrawPuzzleOrder(int32_t *order, int32_t n) {
  auto *down = static_cast<int32_t *>(MemAlloc(uint32_t(n + 1) * 4u, 0));  // slot s at s + 1; 0: none
  auto *up = static_cast<int32_t *>(MemAlloc(uint32_t(n + 1) * 4u, 0));    // slot s at s; n: none
  if (!down || !up) {
    MemFree(down);
    MemFree(up);
    return ERR_MEM;
  }
  for (int32_t k = 0; k <= n; k++) down[k] = up[k] = k;
  for (int32_t i = 0; i < n; i++) {
    int32_t drawn = int32_t(double(n) * drand48());
    if (drawn >= n) drawn = n - 1;
    const int32_t below = FreeRoot(down, drawn + 1);
    const int32_t slot = below > 0 ? below - 1 : FreeRoot(up, drawn);
    order[i] = slot;
    down[slot + 1] = slot;
    up[slot] = slot + 1;
  }
  MemFree(down);
  MemFree(up);
  return 0;
}

uint32_t PuzzleFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kPuzzle); }
uint32_t DiagonalFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kDiagonal); }
