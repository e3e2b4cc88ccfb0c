// Direct movers: pushes, slides, gates and cards. Whole pictures, or runs of their whole rows or
// columns, move across the area; a frame is drawn from its position alone, so the picture of any
// frame can be drawn from its number. These effects run over whole pictures (a background
// picture, or a layer standing in for one): positions are relative to the area's top left.
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

struct MoverState {
  int32_t pos;   // how far the effect has come along its axis, in pixels
  int32_t last;  // slides: where along the axis the old picture was drawn last
};

// One kind of mover. Every kind starts at one step and ends at its end position; frame n stands
// at n steps, the last frame at the end.
struct Mover {
  int32_t normal, fast, slow;  // speed divisors
  int32_t maxStep;             // 0: none
  bool speedOverLongerSide;    // the speed divides the longer side rather than the axis
  bool turns;                  // past the axis size only the new picture shows (slides)
  int32_t (*end)(const qmFxRequest *fx);
  // renewed: the FXSOURCE_* pictures taken again for this frame.
  void (*draw)(qmFxRequest *fx, MoverState *s, bool last, uint32_t renewed);
  void (*start)(qmFxRequest *fx);  // after the set-up, or null
};

// Whether the member moves its pictures up and down (along the rows) rather than sideways.
bool Vertical(int32_t effect) {
  switch (effect) {
    case FX_PUSHTOP: case FX_PUSHBOTTOM: case FX_SLIDETOP: case FX_SLIDEBOTTOM:
    case FX_HOPENGATE: case FX_HCLOSEGATE: case FX_CARDTOP: case FX_CARDBOTTOM:
      return true;
    default:
      return false;
  }
}
int32_t AxisSize(const qmFxRequest *fx) { return Vertical(fx->effect) ? fx->height : fx->width; }

// n whole rows (or columns) of pic from src on, with the first at dst of the area; the blitter
// cuts what lies outside it.
void Band(qmFxRequest *fx, const qmBitmap *pic, int32_t src, int32_t n, int32_t dst) {
  if (n < 1) return;
  if (Vertical(fx->effect)) BlitFxToScreen(fx, pic, 0, src, fx->x, fx->y + dst, fx->width, n, nullptr, nullptr);
  else BlitFxToScreen(fx, pic, src, 0, fx->x + dst, fx->y, n, fx->height, nullptr, nullptr);
}
void Whole(qmFxRequest *fx, const qmBitmap *pic, int32_t at) { Band(fx, pic, 0, AxisSize(fx), at); }

// Pushes: the new picture comes in at one edge and pushes the old one out at the other.
int32_t PushEnd(const qmFxRequest *fx) { return AxisSize(fx); }
void PushDraw(qmFxRequest *fx, MoverState *s, bool, uint32_t) {
  const int32_t size = AxisSize(fx), p = s->pos;
  // The two pictures never overlap.
  const bool fromStart = fx->effect == FX_PUSHLEFT || fx->effect == FX_PUSHTOP;
  Whole(fx, fx->srcImage, fromStart ? p - size : size - p);
  Whole(fx, fx->oldImage, fromStart ? p : -p);
}

// Slides: the old picture slides out over a plain colour (the parameter, $RRGGBB), then the new
// one slides back in through the same edge.
int32_t SlideEnd(const qmFxRequest *fx) { return 2 * AxisSize(fx); }
void SlideStart(qmFxRequest *fx) {
  if (fx->parameter == FX_RANDOMPARAMETER) fx->parameter = 0;
}
void SlideClear(qmFxRequest *fx, int32_t at, int32_t n) {
  const uint32_t rgb = uint32_t(fx->parameter);
  if (Vertical(fx->effect)) ClearFxRect(fx, 0, at, fx->width, n, rgb);
  else ClearFxRect(fx, at, 0, n, fx->height, rgb);
}
void SlideDraw(qmFxRequest *fx, MoverState *s, bool last, uint32_t) {
  const int32_t size = AxisSize(fx), p = s->pos;
  const bool outwards = fx->effect == FX_SLIDELEFT || fx->effect == FX_SLIDETOP;  // the old one moves right or down
  if (fx->phase == FXPHASE_DRAW) SlideClear(fx, 0, size);
  int32_t at = 0;
  if (last) {
    Whole(fx, fx->srcImage, 0);
  } else if (p <= size) {
    at = outwards ? p : -p;
    if (fx->phase == FXPHASE_FRAME) SlideClear(fx, outwards ? s->last : size - p, fx->step);
    if (size - p >= 1) Whole(fx, fx->oldImage, at);
  } else {
    // A step that jumps over the turn leaves part of the old picture in the area: it has gone
    // out before the new one comes in.
    if (fx->phase == FXPHASE_FRAME && p - fx->step < size) {
      if (outwards) SlideClear(fx, s->last, size - s->last);
      else SlideClear(fx, 0, size + s->last);
    }
    at = outwards ? 2 * size - p : p - 2 * size;
    if (!outwards || p - size >= 1) Whole(fx, fx->srcImage, at);
  }
  s->last = at;
}

// Gates: the picture's two halves (top and bottom for H, left and right for V) close over the
// old picture from both edges, or the old picture's halves open from the middle. Each half has
// half = size / 2 and rest = size - half rows.
int32_t CloseGateEnd(const qmFxRequest *fx) { return AxisSize(fx) / 2; }
// A layer's planes start empty: the old picture goes in first, for the halves to close over.
void CloseGateStart(qmFxRequest *fx) {
  if (fx->realtime) Whole(fx, fx->oldImage, 0);
}
void CloseGateDraw(qmFxRequest *fx, MoverState *s, bool last, uint32_t renewed) {
  const int32_t size = AxisSize(fx), half = size / 2, p = s->pos;
  // Drawn afresh, the old picture lies under the gate first; taken again, it shows between the
  // halves anew.
  if (fx->phase == FXPHASE_DRAW) Whole(fx, fx->oldImage, 0);
  else if (renewed & FXSOURCE_OLD) Band(fx, fx->oldImage, p, size - 2 * p + 1, p);
  if (last) {
    Whole(fx, fx->srcImage, 0);
    return;
  }
  Band(fx, fx->srcImage, 0, half, p - half);
  Band(fx, fx->srcImage, half, size - half, size - p);
}
// Opening: the inner edges start at the middle (an odd size puts them one apart, sharing the
// middle row) and reach the outer edges at the end.
int32_t OpenGateEnd(const qmFxRequest *fx) { return AxisSize(fx) - AxisSize(fx) / 2; }
void OpenGateDraw(qmFxRequest *fx, MoverState *s, bool, uint32_t renewed) {
  const int32_t size = AxisSize(fx), half = size / 2, half2 = size - half, step = fx->step;
  const int32_t nearEdge = half2 - s->pos, farEdge = size - half2 + s->pos;
  // A frame drawn afresh, or over a new picture taken again, has the whole middle uncovered; a
  // running one only this frame's bands.
  if (fx->phase == FXPHASE_DRAW || (renewed & FXSOURCE_NEW))
    Band(fx, fx->srcImage, nearEdge, farEdge - nearEdge + 1, nearEdge);
  Band(fx, fx->oldImage, 0, half, nearEdge - half);
  if (fx->phase == FXPHASE_FRAME) {
    Band(fx, fx->srcImage, nearEdge, step, nearEdge);
    Band(fx, fx->srcImage, farEdge - step, step, farEdge - step);
  }
  Band(fx, fx->oldImage, half, size - half, farEdge);
}

// Cards: the picture turns over its top (or bottom) edge: a band of the new picture of height a
// grows over the edge while the old picture is pushed away, then the new picture takes over.
int32_t CardEnd(const qmFxRequest *fx) { return fx->height; }
void CardDraw(qmFxRequest *fx, MoverState *s, bool, uint32_t) {
  const int32_t h = fx->height, p = s->pos;
  // The first half while 2 pos < h: on an odd height the middle position stays in it, where the
  // bands still fill all h rows.
  const bool first = 2 * p < h;
  const int32_t a = first ? p : h - p;
  const qmBitmap *fresh = fx->srcImage, *old = fx->oldImage;
  if (fx->effect == FX_CARDTOP) {
    if (first) {
      Band(fx, fresh, a, a, 0);
      Band(fx, old, 0, h - a, a);
    } else {
      Band(fx, fresh, a, h - a, 0);
      Band(fx, old, h - 2 * a, a, h - a);
    }
  } else if (first) {
    Band(fx, old, a, h - a, 0);
    Band(fx, fresh, h - 2 * a, a, h - a);
  } else {
    Band(fx, old, a, a, 0);
    Band(fx, fresh, 0, h - a, a);
  }
}

const Mover kPush = {40, 10, 100, 0, false, false, PushEnd, PushDraw, nullptr};
const Mover kSlide = {60, 30, 120, 30, false, true, SlideEnd, SlideDraw, SlideStart};
const Mover kCloseGate = {80, 30, 200, 0, false, false, CloseGateEnd, CloseGateDraw, CloseGateStart};
const Mover kOpenGate = {80, 30, 200, 0, false, false, OpenGateEnd, OpenGateDraw, nullptr};
const Mover kCard = {60, 30, 120, 30, true, false, CardEnd, CardDraw, nullptr};

uint32_t Move(qmFxRequest *fx, int32_t *done, const Mover &m) {
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<MoverState *>(MemAlloc(sizeof(MoverState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    const int32_t size = m.speedOverLongerSide ? (fx->width > fx->height ? fx->width : fx->height) : AxisSize(fx);
    fx->step = FxSpeedToStep(fx->step, size, m.normal, m.fast, m.slow);
    if (m.maxStep && fx->step > m.maxStep) fx->step = m.maxStep;
    s->pos = fx->step;
    fx->stepCount = FxStepCount(m.end(fx) - fx->step, fx->step, 0);
    if (m.start) m.start(fx);
    return 0;
  }
  auto *s = static_cast<MoverState *>(fx->fxState);
  if (fx->phase == FXPHASE_DRAW) s->pos = fx->frameNo * fx->step;
  else if (fx->phase != FXPHASE_FRAME) return 0;
  const int32_t end = m.end(fx);
  const bool last = s->pos >= end;
  if (last) s->pos = end;
  // A layer standing in for a background picture: the pictures follow the script's changes to
  // the layers they come from (a slide past its turn shows only the new one).
  uint32_t renewed = 0;
  if (fx->bgpicEmu) {
    const bool newOnly = m.turns && s->pos > AxisSize(fx);
    renewed = UpdateFxSources(fx, newOnly ? FXSOURCE_NEW : FXSOURCE_OLD | FXSOURCE_NEW);
  }
  m.draw(fx, s, last, renewed);
  s->pos += fx->step;
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

}  // namespace

uint32_t PushFx(qmFxRequest *fx, int32_t *done) { return Move(fx, done, kPush); }
uint32_t SlideFx(qmFxRequest *fx, int32_t *done) { return Move(fx, done, kSlide); }
uint32_t CloseGateHFx(qmFxRequest *fx, int32_t *done) { return Move(fx, done, kCloseGate); }
uint32_t CloseGateVFx(qmFxRequest *fx, int32_t *done) { return Move(fx, done, kCloseGate); }
uint32_t OpenGateHFx(qmFxRequest *fx, int32_t *done) { return Move(fx, done, kOpenGate); }
uint32_t OpenGateVFx(qmFxRequest *fx, int32_t *done) { return Move(fx, done, kOpenGate); }
uint32_t CardFx(qmFxRequest *fx, int32_t *done) { return Move(fx, done, kCard); }
