// The spiral: a block runs clockwise from the top-right corner inwards over three rings, down the
// right side, left along the bottom, up the left side and right along the top of each. The area
// is cut into seven equal columns and six equal rows; each side is one column or row band wide.
// The frame count is that of a run of the path without drawing, made at the init call.
#include <algorithm>

#include "transitions/effects/fxroutines.h"
#include "transitions/effects/piecereveal.h"
#include "transitions/fxtable.h"

namespace {

struct SpiralState {
  int32_t pos;    // the block's place along the side
  int32_t side;   // 0..11: ring side / 4, right, bottom, left, top by side % 4
  int32_t px, py;  // the x of the vertical sides, the y of the horizontal ones
  int32_t cw, rh;  // the column width and the row height
};

void Restart(const qmFxRequest *fx, SpiralState *s) {
  s->pos = 0;
  s->side = 0;
  s->px = fx->width - s->cw;
  s->py = 0;
}

// Where the block stops on the current side.
int32_t SideEnd(const qmFxRequest *fx, const SpiralState *s) {
  const int32_t ring = s->side / 4;
  switch (s->side % 4) {
    case 0: return ring == 0 ? fx->height - 1 : fx->height - ring * s->rh;
    case 1: return ring * s->cw;
    case 2: return ring * s->rh;
    default: return fx->width - (ring + 1) * s->cw;
  }
}

// One frame of the path: the block (when draw), then on along the side, or round the corner
// once the block stood at the side's end. True when the last side has ended.
bool SpiralStep(qmFxRequest *fx, SpiralState *s, bool draw) {
  const int32_t step = fx->step, ring = s->side / 4, side = s->side % 4;
  const bool upright = side == 0 || side == 2;
  if (draw) {
    if (upright) DrawCutFxPiece(fx, s->px, s->pos, s->cw, step);
    else DrawCutFxPiece(fx, s->pos, s->py, step, s->rh);
  }
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

uint32_t SpiralSetup(qmFxRequest *fx, SpiralState *s, int32_t) {
  // The speed constants name block sizes of their own.
  const int32_t speed = fx->step;
  fx->step = speed == FX_FASTSPEED ? 15 : speed == FX_NORMALSPEED ? 10 : speed == FX_SLOWSPEED ? 5 : speed;
  fx->step = std::clamp(fx->step, 1, 30);
  s->cw = fx->width / 7 + 1;
  s->rh = fx->height / 6 + 1;
  // Every side moves its block towards its end, so the path ends.
  Restart(fx, s);
  int32_t frames = 1;
  while (!SpiralStep(fx, s, false)) frames++;
  fx->stepCount = frames;
  Restart(fx, s);
  return 0;
}
void SpiralStart(const qmFxRequest *fx, SpiralState *s, int32_t) { Restart(fx, s); }
void SpiralFrame(qmFxRequest *fx, SpiralState *s, int32_t, int32_t *done) {
  if (SpiralStep(fx, s, true)) *done = 1;
}

const qmPieceReveal<SpiralState> kSpiral = {0, SpiralSetup, SpiralStart, SpiralFrame};

}  // namespace

uint32_t SpiralFx(qmFxRequest *fx, int32_t *done) { return RunPieceReveal(fx, done, kSpiral); }
