// The spiral: a block runs clockwise from the top-right corner inwards over three rings, down the
// right side, left along the bottom, up the left side and right along the top of each. The area
// is cut into seven equal columns and six equal rows; each side is one column or row band wide.
// The init call walks the path once into a table of blocks, one a frame, which gives the frame
// count; each frame draws its block from the table.
#include <algorithm>

#include "transitions/effects/fxroutines.h"
#include "transitions/effects/piecereveal.h"
#include "transitions/fxowned.h"
#include "transitions/fxtable.h"

namespace {

// The walk along the path.
struct Path {
  int32_t pos;    // the block's place along the side
  int32_t side;   // 0..11: ring side / 4, right, bottom, left, top by side % 4
  int32_t px, py;  // the x of the vertical sides, the y of the horizontal ones
  int32_t cw, rh;  // the column width and the row height
};

struct Block {
  int32_t x, y, w, h;
};

struct SpiralState {
  int32_t count;   // frames
  Block *blocks;   // the block of each frame
};

void Restart(const qmFxRequest *fx, Path *s) {
  s->pos = 0;
  s->side = 0;
  s->px = fx->width - s->cw;
  s->py = 0;
}

// Where the block stops on the current side.
int32_t SideEnd(const qmFxRequest *fx, const Path *s) {
  const int32_t ring = s->side / 4;
  switch (s->side % 4) {
    case 0: return ring == 0 ? fx->height - 1 : fx->height - ring * s->rh;
    case 1: return ring * s->cw;
    case 2: return ring * s->rh;
    default: return fx->width - (ring + 1) * s->cw;
  }
}

// One frame of the path: its block into out, then on along the side, or round the corner once
// the block stood at the side's end. True when the last side has ended.
bool SpiralStep(const qmFxRequest *fx, Path *s, Block *out) {
  const int32_t step = fx->step, ring = s->side / 4, side = s->side % 4;
  if (side == 0 || side == 2) *out = {s->px, s->pos, s->cw, step};
  else *out = {s->pos, s->py, step, s->rh};
  const int32_t end = SideEnd(fx, s);
  if (s->pos != end) {
    s->pos = side == 0 || side == 3 ? std::min(s->pos + step, end) : std::max(s->pos - step, end);
    return false;
  }
  if (s->side == 11) return true;
  s->side++;
  switch (side) {
    case 0:  // to the bottom; the innermost ring's bottom band lies right under its top band
      s->pos = s->px - step;
      s->py = ring == 2 ? 3 * s->rh : fx->height - (ring + 1) * s->rh;
      break;
    case 1:  // to the left side
      s->px = ring * s->cw;
      s->pos = s->py - step;
      break;
    case 2:  // to the top
      s->py = ring * s->rh;
      s->pos = (ring + 1) * s->cw;
      break;
    default:  // to the next ring's right side
      s->px = fx->width - (ring + 2) * s->cw;
      s->pos = (ring + 1) * s->rh;
      break;
  }
  return false;
}

// The path's frames, their blocks into blocks when given.
int32_t WalkPath(const qmFxRequest *fx, Block *blocks) {
  Path p{};
  p.cw = fx->width / 7 + 1;
  p.rh = fx->height / 6 + 1;
  Restart(fx, &p);
  // Every side moves its block towards its end, so the path ends.
  int32_t frames = 0;
  Block b{};
  for (bool ended = false; !ended; frames++) {
    ended = SpiralStep(fx, &p, &b);
    if (blocks) blocks[frames] = b;
  }
  return frames;
}

uint32_t SpiralSetup(qmFxRequest *fx, SpiralState *s, int32_t) {
  FxOwn(fx, &s->blocks);
  // The speed constants name block sizes of their own.
  const int32_t speed = fx->step;
  fx->step = speed == FX_FASTSPEED ? 15 : speed == FX_NORMALSPEED ? 10 : speed == FX_SLOWSPEED ? 5 : speed;
  fx->step = std::clamp(fx->step, 1, 30);
  s->count = WalkPath(fx, nullptr);
  if (s->count > INT32_MAX / int32_t(sizeof(Block))) return ERR_MEM;
  s->blocks = static_cast<Block *>(MemAlloc(uint32_t(s->count) * uint32_t(sizeof(Block)), 0));
  if (!s->blocks) return ERR_MEM;
  WalkPath(fx, s->blocks);
  fx->stepCount = s->count;
  return 0;
}
void SpiralStart(const qmFxRequest *, SpiralState *, int32_t) {}
void SpiralFrame(qmFxRequest *fx, SpiralState *s, int32_t, int32_t *done) {
  int32_t k = fx->frameNo;
  if (k >= s->count - 1) {
    k = s->count - 1;
    *done = 1;
  }
  const Block &b = s->blocks[k];
  DrawCutFxPiece(fx, b.x, b.y, b.w, b.h);
}

const qmPieceReveal<SpiralState> kSpiral = {0, SpiralSetup, SpiralStart, SpiralFrame};

}  // namespace

uint32_t SpiralFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kSpiral); }
