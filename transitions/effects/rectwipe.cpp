// Rectangle wipes: a rectangle of the area's proportions grows from an anchor (the centre, an edge's
// middle or a corner) until it fills the area, or the part still covered shrinks towards the
// opposite anchor. Each frame draws only the ring between two consecutive rectangles.
#include <algorithm>

#include "transitions/effects/fxroutines.h"
#include "transitions/effects/piecereveal.h"
#include "transitions/fxtable.h"

namespace {

struct RectState {
  int32_t pos;
  int32_t lastX, lastY;  // the covered rectangle drawn last (shrinking wipes)
};

// The variant is the direction: 0 CENTER, then NORTH, NORTHEAST... clockwise to NORTHWEST.
using Member = qmPieceReveal<RectState>;

// Where the growing rectangle keeps its anchor, per axis: 0 the left (top) edge, 1 the middle,
// 2 the right (bottom) edge. The shrinking wipes keep the opposite one, 2 - anchor.
constexpr int8_t kAnchorX[9] = {1, 1, 2, 2, 2, 1, 0, 0, 0};
constexpr int8_t kAnchorY[9] = {1, 0, 0, 1, 2, 2, 2, 1, 0};

// The offset of a size inside outer that keeps the anchor; a middle takes the truncated half.
int32_t Inside(int32_t anchor, int32_t outer, int32_t size) {
  return anchor == 0 ? 0 : anchor == 2 ? outer - size : (outer - size) / 2;
}

struct Box {
  int32_t x, y, w, h;
};

// The ring outer minus inner (inner lies inside outer): the side strips whole height, the top
// and bottom ones between them. An empty inner leaves outer whole.
void Ring(qmFxRequest *fx, const Box &o, Box i) {
  if (i.w < 1 || i.h < 1) return DrawCutFxPiece(fx, o.x, o.y, o.w, o.h);
  DrawCutFxPiece(fx, o.x, o.y, i.x - o.x, o.h);
  DrawCutFxPiece(fx, i.x + i.w, o.y, o.x + o.w - i.x - i.w, o.h);
  DrawCutFxPiece(fx, i.x, o.y, i.w, i.y - o.y);
  DrawCutFxPiece(fx, i.x, i.y + i.h, i.w, o.y + o.h - i.y - i.h);
}

int32_t Longer(const qmFxRequest *fx) { return std::max(fx->width, fx->height); }

void SetupStep(qmFxRequest *fx) {
  const int32_t l = Longer(fx);
  fx->step = FxSpeedToStep(fx->step, l, 70, 30, 200);
  if (fx->step > l / 4) fx->step = 1;
  fx->stepCount = FxStepCount(l - fx->step, fx->step, 0);
}

// Growing: the new rectangle less the one before it, both at the anchor.
uint32_t GrowSetup(qmFxRequest *fx, RectState *s, int32_t) {
  SetupStep(fx);
  s->pos = fx->step;
  return 0;
}
void GrowStart(const qmFxRequest *fx, RectState *s, int32_t) { s->pos = fx->step; }
void GrowFrame(qmFxRequest *fx, RectState *s, int32_t dir, int32_t *done) {
  const int32_t ax = kAnchorX[dir], ay = kAnchorY[dir];
  int32_t position = s->pos;
  Box n{0, 0, fx->width, fx->height};
  if (position < Longer(fx)) {
    FxRectOfPosition(fx, position, true, &n.w, &n.h);
    n.x = Inside(ax, fx->width, n.w);
    n.y = Inside(ay, fx->height, n.h);
    // A centred rectangle grows by one where the margins would differ, so it stays centred.
    if (ax == 1 && (fx->width - n.w) % 2) n.w++;
    if (ay == 1 && (fx->height - n.h) % 2) n.h++;
  } else {
    *done = 1;
    position -= fx->step;
  }
  Box p{};
  FxRectOfPosition(fx, position - fx->step, false, &p.w, &p.h);
  p.x = n.x + Inside(ax, n.w, p.w);
  p.y = n.y + Inside(ay, n.h, p.h);
  Ring(fx, n, p);
  s->pos = position + fx->step;
}

// Shrinking: the covered rectangle drawn last less the new, smaller one.
uint32_t ShrinkSetup(qmFxRequest *fx, RectState *s, int32_t) {
  SetupStep(fx);
  s->pos = Longer(fx) - fx->step;
  return 0;
}
void ShrinkStart(const qmFxRequest *fx, RectState *s, int32_t) {
  s->pos = Longer(fx) - fx->step;
  s->lastX = s->lastY = 0;
}
void ShrinkFrame(qmFxRequest *fx, RectState *s, int32_t dir, int32_t *done) {
  Box c{};
  if (s->pos < 1) {
    *done = 1;
  } else {
    FxRectOfPosition(fx, s->pos, true, &c.w, &c.h);
    c.x = Inside(2 - kAnchorX[dir], fx->width, c.w);
    c.y = Inside(2 - kAnchorY[dir], fx->height, c.h);
  }
  Box p{s->lastX, s->lastY, 0, 0};
  FxRectOfPosition(fx, s->pos + fx->step, false, &p.w, &p.h);
  Ring(fx, p, c);
  s->lastX = c.x;
  s->lastY = c.y;
  s->pos -= fx->step;
}

constexpr Member Grow(int32_t dir) { return {dir, GrowSetup, GrowStart, GrowFrame}; }
constexpr Member Shrink(int32_t dir) { return {dir, ShrinkSetup, ShrinkStart, ShrinkFrame}; }
const Member kGrow[9] = {Grow(0), Grow(1), Grow(2), Grow(3), Grow(4), Grow(5), Grow(6), Grow(7), Grow(8)};
const Member kShrink[9] = {Shrink(0), Shrink(1), Shrink(2), Shrink(3), Shrink(4),
                           Shrink(5), Shrink(6), Shrink(7), Shrink(8)};

}  // namespace

uint32_t RectFx(qmFxRequest *fx, int32_t *done) {
  return RunPieceReveal(fx, done, kGrow[std::clamp(fx->effect - FX_RECTCENTER, 0, 8)]);
}
uint32_t RectBackFx(qmFxRequest *fx, int32_t *done) {
  return RunPieceReveal(fx, done, kShrink[std::clamp(fx->effect - FX_RECTBACKCENTER, 0, 8)]);
}
