// Flows: the new picture is uncovered band by band from one edge while the line (row or column)
// at the edge of the uncovered part runs over the rest of the area like paint. A layer taken
// away flows backwards: its picture retreats to the edge, and the last frame shows the area
// without it.
// "Lines" are rows for the H members and columns for the V members. On the screen each frame is
// composed in a work bitmap of the area's size and the part that changed is presented; in a
// layer's planes the lines go straight in, from a copy of the layer's picture (pieces of the
// new picture itself would take the layer away in a hide).
#include "display/safeblt.h"
#include "graphics/bitmap.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

struct FlowState {
  qmBitmap *work;  // on the screen the area as composed so far; in planes the picture's copy
  int32_t pos;     // the edge line of the uncovered part
};

bool Columns(int32_t effect) { return effect == FX_VFLOWLEFT || effect == FX_VFLOWRIGHT; }
// The members that start at the bottom or right edge.
bool FromEnd(int32_t effect) { return effect == FX_HFLOWBOTTOM || effect == FX_VFLOWRIGHT; }
int32_t Lines(const qmFxRequest *fx) { return Columns(fx->effect) ? fx->width : fx->height; }

// The rectangle of n lines from line a.
void LineRect(const qmFxRequest *fx, int32_t a, int32_t n, int32_t *x, int32_t *y, int32_t *w, int32_t *h) {
  if (Columns(fx->effect)) *x = a, *y = 0, *w = n, *h = fx->height;
  else *x = 0, *y = a, *w = fx->width, *h = n;
}

// On the screen the frames draw from the new picture, or, when a layer is taken away, from the
// area as it shows the layer (its picture is what retreats; the new picture is the area
// without it). In planes the picture is the layer's own.
bool Backward(const qmFxRequest *fx) { return fx->layerTarget != 0; }
const qmBitmap *Source(const qmFxRequest *fx) { return Backward(fx) ? fx->oldImage : fx->srcImage; }
// On the screen a masked picture flows over the old one.
bool Masked(const qmFxRequest *fx) { return !Backward(fx) && (fx->srcMask || fx->srcAlpha); }

// In planes: n lines of the picture from line src to line dst of the layer, through the picture's
// mask or alpha at the source line; the frame's end presents them.
void ToPlanes(qmFxRequest *fx, FlowState *s, int32_t src, int32_t n, int32_t dst) {
  int32_t sx, sy, w, h, dx, dy, dw, dh;
  LineRect(fx, src, n, &sx, &sy, &w, &h);
  LineRect(fx, dst, n, &dx, &dy, &dw, &dh);
  qmSafeBlt b;
  FxScreenBlit(fx, s->work, sx, sy, fx->x + dx, fx->y + dy, w, h, fx->srcMask, fx->srcAlpha, &b);
  SafeBlt(fx->scene, &b);
}

// n lines of the source from line src into the work bitmap at line dst, through the source's mask
// or alpha when it is masked.
void ToWork(qmFxRequest *fx, FlowState *s, int32_t src, int32_t n, int32_t dst) {
  if (n < 1) return;
  int32_t sx, sy, w, h, dx, dy, dw, dh;
  LineRect(fx, src, n, &sx, &sy, &w, &h);
  LineRect(fx, dst, n, &dx, &dy, &dw, &dh);
  if (!Masked(fx)) return BltBitmapClipped(Source(fx), sx, sy, s->work, dx, dy, w, h);
  qmSafeBlt b;
  FxScreenBlit(fx, Source(fx), sx, sy, dx, dy, w, h, fx->srcMask, fx->srcAlpha, &b);
  b.dst = s->work;
  b.dstWidth = s->work->width;
  b.dstHeight = s->work->height;
  b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOCLIP;
  b.clip = nullptr;
  SafeBlt(fx->scene, &b);
}

// Lines [from, to) become copies of the source's line src.
void Smear(qmFxRequest *fx, FlowState *s, int32_t src, int32_t from, int32_t to) {
  if (src < 0 || to <= from) return;
  if (fx->realtime) {
    for (int32_t l = from; l < to; l++) ToPlanes(fx, s, src, 1, l);
    return;
  }
  if (Masked(fx)) {
    // Each copy goes through the source line's mask or alpha over what lies there.
    for (int32_t l = from; l < to; l++) ToWork(fx, s, src, 1, l);
    return;
  }
  ToWork(fx, s, src, 1, from);
  // Doubling the copied run keeps the work to the area's bytes in few calls.
  for (int32_t done = 1; done < to - from;) {
    const int32_t n = done < to - from - done ? done : to - from - done;
    int32_t sx, sy, w, h, dx, dy, dw, dh;
    LineRect(fx, from, n, &sx, &sy, &w, &h);
    LineRect(fx, from + done, n, &dx, &dy, &dw, &dh);
    BltBitmapClipped(s->work, sx, sy, s->work, dx, dy, w, h);
    done += n;
  }
}

// Lines [a, b) of the work bitmap to the screen.
void Present(qmFxRequest *fx, FlowState *s, int32_t a, int32_t b) {
  if (a < 0) a = 0;
  if (b > Lines(fx)) b = Lines(fx);
  if (b <= a) return;
  int32_t x, y, w, h;
  LineRect(fx, a, b - a, &x, &y, &w, &h);
  BlitFxToScreen(fx, s->work, x, y, fx->x + x, fx->y + y, w, h, nullptr, nullptr);
}

// The area with the layer gone: its planes emptied, or on the screen what lies under it, which is
// the new picture of a layer taken away.
void ClearArea(qmFxRequest *fx, FlowState *s) {
  if (fx->realtime) return BlitFxPiece(fx, 0, 0, fx->width, fx->height, FXPIECE_ERASE);
  BltBitmapClipped(fx->srcImage, 0, 0, s->work, 0, 0, fx->width, fx->height);
  Present(fx, s, 0, Lines(fx));
}

// Lines [a, a + n) of the source with the edge line e - 1 smeared beyond e; on the screen over
// the old picture where the source is masked, then lines [p, q) presented.
void Compose(qmFxRequest *fx, FlowState *s, int32_t a, int32_t n, int32_t e, int32_t p, int32_t q) {
  if (fx->realtime) {
    if (n > 0) ToPlanes(fx, s, a, n, a);
  } else {
    if (Masked(fx)) {
      int32_t x, y, w, h;
      LineRect(fx, p, q - p, &x, &y, &w, &h);
      BltBitmapClipped(fx->oldImage, x, y, s->work, x, y, w, h);
    }
    ToWork(fx, s, a, n, a);
  }
  if (FromEnd(fx->effect)) Smear(fx, s, e - 1, 0, e);
  else Smear(fx, s, e - 1, e, Lines(fx));
  if (!fx->realtime) Present(fx, s, p, q);
}

uint32_t Flow(qmFxRequest *fx, int32_t *done) {
  const int32_t size = Lines(fx);
  const bool fromEnd = FromEnd(fx->effect), backward = Backward(fx);
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<FlowState *>(MemAlloc(sizeof(FlowState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    FxOwn(fx, &s->work);
    // An area without pixels has nothing to compose: its one frame draws nothing.
    if (fx->width > 0 && fx->height > 0 && !(s->work = AllocBitmap(fx->width, fx->height)))
      return ERR_MEM;
    if (s->work && fx->realtime) BltBitmapClipped(fx->srcImage, 0, 0, s->work, 0, 0, fx->width, fx->height);
    fx->step = Columns(fx->effect) ? FxSpeedToStep(fx->step, size, 30, 10, 80) : FxSpeedToStep(fx->step, size, 50, 20, 120);
    if (fx->step > 30) fx->step = 30;
    const int32_t step = fx->step;
    s->pos = fromEnd == backward ? step : size - step;
    fx->stepCount = FxStepCount(backward ? size - 2 * step : size - step, step, 0);
    return 0;
  }
  auto *s = static_cast<FlowState *>(fx->fxState);
  if ((fx->phase != FXPHASE_FRAME && fx->phase != FXPHASE_DRAW) || !s->work) {
    if (fx->phase == FXPHASE_FRAME) {
      *done = 1;
      FxFrameTail(fx);
    }
    return 0;
  }
  const int32_t step = fx->step;
  // The edge runs from its start towards the far side; the forward flow of the end members and
  // the backward flow of the others run the other way.
  const int32_t dir = fromEnd == backward ? 1 : -1;
  if (fx->phase == FXPHASE_DRAW) {
    const int32_t d = fx->frameNo * step;
    int32_t e = fromEnd == backward ? d : size - d;
    if (e < 0) e = 0;
    if (e > size) e = size;
    const bool gone = backward && (fromEnd ? e >= size - step : e <= step);
    // Drawn afresh: the whole uncovered part.
    if (gone) ClearArea(fx, s);
    else if (fromEnd) Compose(fx, s, e, size - e, e, 0, size);
    else Compose(fx, s, 0, e, e, 0, size);
    // In planes nothing else brings this frame to the screen.
    if (fx->realtime && !fx->rerender) PresentFxRect(fx, fx->x, fx->y, fx->width, fx->height);
    s->pos = e + dir * step;
    return 0;
  }
  bool last = false;
  if (!backward && !fromEnd && s->pos >= size) last = true, s->pos = size;
  if (!backward && fromEnd && s->pos < 1) last = true, s->pos = 0;
  if (backward && !fromEnd && s->pos <= step) last = true, s->pos = step;
  if (backward && fromEnd && s->pos >= size - step) last = true, s->pos = size - step;
  const int32_t pos = s->pos;
  if (last && backward) {
    ClearArea(fx, s);
  } else {
    // This frame's band; the part presented runs from it to the far edge.
    if (fromEnd) Compose(fx, s, pos, step, pos, 0, pos + step);
    else Compose(fx, s, pos - step, step, pos, pos - step, size);
  }
  s->pos += dir * step;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

}  // namespace

uint32_t FlowTopFx(qmFxRequest *fx, int32_t *done) { return Flow(fx, done); }
uint32_t FlowBottomFx(qmFxRequest *fx, int32_t *done) { return Flow(fx, done); }
uint32_t FlowLeftFx(qmFxRequest *fx, int32_t *done) { return Flow(fx, done); }
uint32_t FlowRightFx(qmFxRequest *fx, int32_t *done) { return Flow(fx, done); }

