// Shape wipes: the new picture shows through a polygon that grows each frame, filled into a mask.
// SUN is an ellipse growing from the centre, STAR a five-pointed star, CLOCKWIPE a wedge swept
// clockwise from twelve o'clock. Polygons are clipped to the area before they are filled.
#include <algorithm>

#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/geometry.h"
#include "graphics/polygon_kernels.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/effects/maskcompose.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxrequest.h"
#include "transitions/fxtable.h"

namespace {

// Points of a polygon after clipping: each of the four passes adds at most one point per point.
constexpr int32_t kShapePoints = 16 * (kArcPolygonMax + 16);

struct ShapeState {
  qmMask *reveal;             // the shapes filled so far
  qmMask *shown;              // what the frame shows of the new picture
  qmAlphaChannel *alpha;      // the same for a picture with an alpha plane
  qmBitmap *work;
  int32_t *points, *clipped;  // kShapePoints {x, y} pairs each
  int32_t *crossings;         // kShapePoints integers, the fill's scratch
  int32_t filled;             // the frames whose shapes the reveal mask holds (1..filled)
  int32_t size;               // SUN and STAR: the shape's extent along the larger side
  int32_t maxSize;            // SUN: a size past which the area is covered whatever the rounding
  // CLOCKWIPE: the hand, where it was a frame ago, the border segment it is on (0..5) and
  // whether it has left the top edge.
  int32_t handX, handY, prevX, prevY, segment, cornered;
};

int32_t LargerSide(const qmFxRequest *fx) { return std::max(fx->width, fx->height); }
int32_t SmallerSide(const qmFxRequest *fx) { return std::min(fx->width, fx->height); }

uint32_t ShapeInit(qmFxRequest *fx, ShapeState **out) {
  auto *s = static_cast<ShapeState *>(MemAlloc(sizeof(ShapeState), 1));
  if (!s) return ERR_MEM;
  fx->fxState = s;
  FxOwn(fx, &s->reveal, &s->shown, &s->alpha, &s->work, &s->points, &s->clipped, &s->crossings);
  *out = s;
  s->reveal = AllocMask(fx->width, fx->height, 1);
  s->shown = AllocMask(fx->width, fx->height, 1);
  if (fx->srcAlpha && !(s->alpha = AllocAlphaChannel(fx->width, fx->height, 1))) return ERR_MEM;
  s->work = AllocBitmap(fx->width, fx->height);
  s->points = static_cast<int32_t *>(MemAlloc(kShapePoints * 8, 0));
  s->clipped = static_cast<int32_t *>(MemAlloc(kShapePoints * 8, 0));
  s->crossings = static_cast<int32_t *>(MemAlloc(kShapePoints * 4, 0));
  return s->reveal && s->shown && s->work && s->points && s->clipped && s->crossings ? 0u : uint32_t(ERR_MEM);
}

// The polygon in s->points clipped to the area, into s->points again; the new count.
int32_t ClipToArea(const qmFxRequest *fx, ShapeState *s, int32_t count) {
  count = ClipPolygonEdge(count, s->points, s->clipped, 0, CLIPEDGE_LEFT);
  count = ClipPolygonEdge(count, s->clipped, s->points, 0, CLIPEDGE_TOP);
  count = ClipPolygonEdge(count, s->points, s->clipped, fx->width - 1, CLIPEDGE_RIGHT);
  count = ClipPolygonEdge(count, s->clipped, s->points, fx->height - 1, CLIPEDGE_BOTTOM);
  return count;
}

void FillPolygon(const qmFxRequest *fx, ShapeState *s, int32_t count) {
  PolygonMaskPixels(s->reveal->memory, s->reveal->bytesPerRow, fx->width, fx->height, s->crossings, s->points, count);
}

// The new picture as far as it is revealed, over the old one in the rectangle.
void RevealMask(qmFxRequest *fx, ShapeState *s, int32_t x, int32_t y, int32_t width, int32_t height) {
  const qmMask *shown = RevealCoverage(fx, s->reveal, x, y, width, height, s->shown, s->alpha);
  ComposeMaskedFx(fx, fx->srcImage, x, y, width, height, shown, shown ? nullptr : s->alpha, s->work);
}

// The last frame: the new picture through its own planes; a layer taken away through its planes
// is gone (a piece of the new picture erases it).
void ShowWholePicture(qmFxRequest *fx, ShapeState *s) {
  if (fx->realtime && fx->layerTarget) BlitFxToScreen(fx, fx->srcImage, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr);
  else ComposeMaskedFx(fx, fx->srcImage, 0, 0, fx->width, fx->height, fx->srcMask, fx->srcAlpha, s->work);
}

// Speed to step of SUN and STAR, along the larger side.
int32_t GrowStep(const qmFxRequest *fx) {
  return std::clamp(FxSpeedToStep(fx->step, LargerSide(fx), 12, 6, 24), 1, 100);
}

int32_t MakeOdd(int32_t v) { return v % 2 ? v : v + 1; }

// What a step of a shape does: only decide whether it ends, fill its shape into the reveal mask,
// or fill it and show the new picture through the mask.
enum ShapeMode { SHAPE_COUNT, SHAPE_FILL, SHAPE_DRAW };

// Nothing revealed yet.
void ClearReveal(const qmFxRequest *fx, ShapeState *s) {
  FillMaskRect(s->reveal, 0, 0, fx->width, fx->height, MASKINVISIBLE);
  s->filled = 0;
}

// Frame n drawn whole needs the shapes of frames 1..n - 1 in the reveal mask: those filled so far
// stay when none lies beyond them (a jump forward), else the mask starts empty. The first frame
// whose shape is still to fill.
int32_t RevealBefore(const qmFxRequest *fx, ShapeState *s, int32_t n) {
  if (s->filled > n - 1) ClearReveal(fx, s);
  return s->filled + 1;
}

// One frame of SUN at s->size; true when the ellipse covers the area.
bool SunStep(qmFxRequest *fx, ShapeState *s, ShapeMode mode) {
  const double ratio = double(SmallerSide(fx)) / double(LargerSide(fx));
  const int32_t along = MakeOdd(s->size), across = MakeOdd(std::max(3, int32_t(s->size * ratio + 1)));
  const int32_t boxW = fx->width >= fx->height ? along : across, boxH = fx->width >= fx->height ? across : along;
  const int32_t ox = (fx->width - boxW) / 2, oy = (fx->height - boxH) / 2;
  int32_t count = GetArcPolygon(s->points, boxW / 2, boxH / 2, 0, 360);
  for (int32_t i = 0; i < count; i++) s->points[2 * i] += ox, s->points[2 * i + 1] += oy;
  count = ClipToArea(fx, s, count);
  bool covered = true;
  for (int32_t i = 0; i < count && covered; i++) {
    const int32_t x = s->points[2 * i], y = s->points[2 * i + 1];
    covered = (x == 0 || x == fx->width - 1) && (y == 0 || y == fx->height - 1);
  }
  // Rounding may leave a point off the corners for ever: past this size the ellipse holds the
  // area twice over.
  if (s->size >= s->maxSize) covered = true;
  // The covering frame shows the whole picture: a polygon of the corners alone may fill nothing
  // (an area of one pixel).
  if (mode == SHAPE_DRAW && covered) {
    ShowWholePicture(fx, s);
  } else if (mode != SHAPE_COUNT) {
    FillPolygon(fx, s, count);
    if (mode != SHAPE_DRAW) return covered;
    // A frame in order changes only the ellipse's box; one drawn whole, everything.
    int32_t left = 0, top = 0, right = fx->width - 1, bottom = fx->height - 1;
    if (fx->phase == FXPHASE_FRAME && count > 0) {
      left = right = s->points[0];
      top = bottom = s->points[1];
      for (int32_t i = 1; i < count; i++) {
        left = std::min(left, s->points[2 * i]), right = std::max(right, s->points[2 * i]);
        top = std::min(top, s->points[2 * i + 1]), bottom = std::max(bottom, s->points[2 * i + 1]);
      }
    }
    RevealMask(fx, s, left, top, right - left + 1, bottom - top + 1);
  }
  return covered;
}

// STAR's width and height at a size.
void StarSize(const qmFxRequest *fx, int32_t size, int32_t *w, int32_t *h) {
  const int32_t across = std::max(1, int32_t(double(size) * SmallerSide(fx) / LargerSide(fx) + 1));
  *w = fx->width < fx->height ? across : size;
  *h = fx->width < fx->height ? size : across;
}

// The star of a size into the reveal mask, its box within the area in box (x, y, width, height)
// when given; false when the star has outgrown the area (the last frame).
bool FillStar(const qmFxRequest *fx, ShapeState *s, int32_t size, int32_t *box) {
  int32_t w, h;
  StarSize(fx, size, &w, &h);
  if (w >= 4 * fx->width) return false;
  const int32_t L = (fx->width - w) / 2, T = (fx->height - h) / 2, a = int32_t(0.375 * h);
  const int32_t star[11][2] = {{L, T + a},
                               {L + int32_t(0.4 * w), T + a},
                               {L + w / 2, T},
                               {L + w - int32_t(0.4 * w), T + a},
                               {L + w - 1, T + a},
                               {L + w - int32_t(0.3 * w), T + int32_t(0.6 * h)},
                               {L + w - w / 5, T + h - 1},
                               {L + w / 2, T + h - h / 4},
                               {L + w / 5, T + h - 1},
                               {L + int32_t(0.3 * w), T + int32_t(0.6 * h)},
                               {L, T + a}};
  for (int32_t i = 0; i < 11; i++) s->points[2 * i] = star[i][0], s->points[2 * i + 1] = star[i][1];
  FillPolygon(fx, s, ClipToArea(fx, s, 11));
  if (box) box[0] = std::max(L, 0), box[1] = std::max(T, 0), box[2] = std::min(w, fx->width), box[3] = std::min(h, fx->height);
  return true;
}

// CLOCKWIPE: the hand one step on along the border, carrying the surplus round a corner (at most
// one corner a step). True once the hand is back at twelve o'clock.
bool AdvanceHand(const qmFxRequest *fx, ShapeState *s) {
  const int32_t w = fx->width, h = fx->height, step = fx->step;
  s->prevX = s->handX;
  s->prevY = s->handY;
  const int32_t was = s->segment;
  switch (s->segment) {
    case 0:
      s->handX += step;
      if (s->handX > w - 1) s->handY = s->handX - w + 1, s->handX = w - 1, s->segment = 1;
      break;
    case 1:
      s->handY += step;
      if (s->handY > h - 1) s->handX = w - 2 + h - s->handY, s->handY = h - 1, s->segment = 2;
      break;
    case 2:
      s->handX -= step;
      if (s->handX < 0) s->handY = h - 1 + s->handX, s->handX = 0, s->segment = 3;
      break;
    case 3:
      s->handY -= step;
      if (s->handY < 0) s->handX = -s->handY, s->handY = 0, s->segment = 4;
      break;
    case 4:
      s->handX += step;
      if (s->handX > w / 2 + 1) s->handX = w / 2 + 1, s->segment = 5;
      break;
    default:
      return true;
  }
  if (s->segment != was) s->cornered = 1;
  return false;
}

void ResetHand(const qmFxRequest *fx, ShapeState *s) {
  s->handX = fx->width / 2 + fx->step;
  s->handY = 0;
  s->prevX = fx->width / 2;
  s->prevY = 0;
  s->segment = 0;
  s->cornered = 0;
}

// Frames a hand needs at most: every border pixel once, plus the corners.
int32_t MaxHandSteps(const qmFxRequest *fx) { return 2 * (fx->width + fx->height) / fx->step + 8; }

void AddPoint(ShapeState *s, int32_t *n, int32_t x, int32_t y) {
  s->points[2 * *n] = x;
  s->points[2 * *n + 1] = y;
  ++*n;
}

// The wedge swept this frame; with whole the area is composed, not only the wedge's box.
void DrawWedge(qmFxRequest *fx, ShapeState *s, ShapeMode mode, bool whole) {
  const int32_t w = fx->width, h = fx->height, cx = w / 2, cy = h / 2;
  int32_t n = 0;
  AddPoint(s, &n, cx, cy);
  AddPoint(s, &n, s->prevX, s->prevY);
  if (s->cornered) {
    switch (s->segment) {
      case 1: AddPoint(s, &n, w - 1, s->prevY); break;
      case 2: AddPoint(s, &n, w - 1, h - 1); break;
      case 3: AddPoint(s, &n, 0, h - 1); break;
      case 4: AddPoint(s, &n, 0, 0); break;
      default: break;
    }
  }
  AddPoint(s, &n, s->handX, s->handY);
  AddPoint(s, &n, cx, cy);
  FillPolygon(fx, s, ClipToArea(fx, s, n));
  if (mode != SHAPE_DRAW) return;
  const int32_t left = whole ? 0 : std::max(0, std::min({cx, s->prevX, s->handX}));
  const int32_t top = whole ? 0 : std::max(0, std::min({cy, s->prevY, s->handY}));
  RevealMask(fx, s, left, top, w - left, h - top);
}

// Readies the mask for frame n (from 1) of a shape that grows by the step from step + 10: a
// frame drawn whole gets the shapes of the frames before it filled in again, the first frame of
// a run an empty mask. n, or 0 for a phase that draws nothing.
int32_t BeginGrowingShape(qmFxRequest *fx, ShapeState *s, void (*fill)(qmFxRequest *, ShapeState *, int32_t size)) {
  const int32_t n = std::max(fx->phase == FXPHASE_DRAW ? fx->frameNo : fx->frameNo + 1, 1);
  if (fx->phase == FXPHASE_DRAW) {
    for (int32_t k = RevealBefore(fx, s, n); k < n; k++) fill(fx, s, fx->step + 10 + (k - 1) * fx->step);
    s->size = fx->step + 10 + (n - 1) * fx->step;
  } else if (fx->phase != FXPHASE_FRAME) {
    return 0;
  } else if (fx->frameNo == 0) {
    ClearReveal(fx, s);
    s->size = fx->step + 10;
  }
  return n;
}

}  // namespace

uint32_t SunFx(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) {
    ShapeState *s;
    if (uint32_t code = ShapeInit(fx, &s)) return code;
    fx->step = GrowStep(fx);
    s->maxSize = 4 * LargerSide(fx) + fx->step + 16;
    // The frames are counted by growing the ellipse until it covers the area.
    fx->stepCount = 1;
    for (s->size = fx->step + 10; !SunStep(fx, s, SHAPE_COUNT); s->size += fx->step) fx->stepCount++;
    s->size = fx->step + 10;
    return 0;
  }
  auto *s = static_cast<ShapeState *>(fx->fxState);
  const int32_t n = BeginGrowingShape(fx, s, [](qmFxRequest *f, ShapeState *st, int32_t size) {
    st->size = size;
    SunStep(f, st, SHAPE_FILL);
  });
  if (!n) return 0;
  const bool covered = SunStep(fx, s, SHAPE_DRAW);
  s->filled = n;
  s->size += fx->step;
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (covered) *done = 1;
  FxFrameTail(fx);
  return 0;
}

uint32_t StarFx(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) {
    ShapeState *s;
    if (uint32_t code = ShapeInit(fx, &s)) return code;
    fx->step = GrowStep(fx);
    s->size = fx->step + 10;
    fx->stepCount = 1;
    for (int32_t c = s->size, w, h; StarSize(fx, c, &w, &h), w < 4 * fx->width; c += fx->step) fx->stepCount++;
    return 0;
  }
  auto *s = static_cast<ShapeState *>(fx->fxState);
  const int32_t n = BeginGrowingShape(
      fx, s, [](qmFxRequest *f, ShapeState *st, int32_t size) { FillStar(f, st, size, nullptr); });
  if (!n) return 0;
  int32_t box[4];
  const bool last = !FillStar(fx, s, s->size, box);
  s->filled = n;
  if (last) ShowWholePicture(fx, s);
  else if (fx->phase == FXPHASE_DRAW) RevealMask(fx, s, 0, 0, fx->width, fx->height);
  else RevealMask(fx, s, box[0], box[1], box[2], box[3]);
  s->size += fx->step;
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

uint32_t ClockWipeFx(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) {
    ShapeState *s;
    if (uint32_t code = ShapeInit(fx, &s)) return code;
    const int32_t speed = fx->step;
    fx->step = speed == FX_FASTSPEED ? 15 : speed == FX_NORMALSPEED ? 10 : speed == FX_SLOWSPEED ? 5 : speed;
    fx->step = std::clamp(fx->step, 1, 30);
    // The frames are counted by walking the hand round; a walk is never longer than the border.
    ResetHand(fx, s);
    fx->stepCount = 1;
    for (int32_t limit = MaxHandSteps(fx); !AdvanceHand(fx, s) && fx->stepCount < limit;) fx->stepCount++;
    ResetHand(fx, s);
    return 0;
  }
  auto *s = static_cast<ShapeState *>(fx->fxState);
  if (fx->phase == FXPHASE_DRAW) {
    // The wedges of the frames before, then this frame's with the whole area composed.
    const int32_t n = std::max(fx->frameNo, 1), first = RevealBefore(fx, s, n);
    ResetHand(fx, s);
    for (int32_t k = 1; k < n; k++) {
      if (k >= first) DrawWedge(fx, s, SHAPE_FILL, false);
      AdvanceHand(fx, s);
    }
    if (n >= fx->stepCount) ShowWholePicture(fx, s);
    else DrawWedge(fx, s, SHAPE_DRAW, true);
    s->filled = n;
    AdvanceHand(fx, s);
    return 0;
  }
  if (fx->phase != FXPHASE_FRAME) return 0;
  if (fx->frameNo == 0) {
    ClearReveal(fx, s);
    ResetHand(fx, s);
  }
  const bool last = fx->frameNo + 1 >= fx->stepCount;
  if (last) ShowWholePicture(fx, s);
  else DrawWedge(fx, s, SHAPE_DRAW, false);
  s->filled = fx->frameNo + 1;
  if (AdvanceHand(fx, s) || last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

