// Stretches and zooms: the new picture scaled into a rectangle that grows from an edge, a centre
// line or an anchor point until it fills the area (a layer taken away through its planes shrinks
// instead); zoom in and out: the old picture shrinks to, or is magnified into, the centre, then
// the new one comes out of it. Any frame follows from its number alone.
#include <algorithm>
#include <cstdlib>

#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/effects/fxscale.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

struct Rect {
  int32_t x, y, width, height;
};

struct StretchZoomState {
  int32_t extent;  // the side (or, stretching right and down, the offset) the rectangle has reached
  Rect previous;   // relative to the area
  qmBitmap *work;  // the scaled pixels of the frame, area-sized
};

struct ZoomInOutState {
  int32_t size;  // 0..2M: up to M the old picture, beyond it the new one
  Rect previous;
  qmBitmap *work;
};

// The side the extent measures (and the speed divides).
int32_t FullSize(const qmFxRequest *fx) {
  switch (fx->effect) {
    case FX_STRETCHLEFT: case FX_STRETCHRIGHT: case FX_VSTRETCHCENTER: return fx->width;
    case FX_STRETCHTOP: case FX_STRETCHBOTTOM: case FX_HSTRETCHCENTER: return fx->height;
    default: return fx->width < fx->height ? fx->height : fx->width;
  }
}

// A layer taken away through its own planes shrinks; everything else grows onto the area.
bool Shrinking(const qmFxRequest *fx) { return fx->layerTarget && fx->realtime; }

// The extent counts down: the rectangle's offset while it grows right or down, its side while a
// layer shrinks.
bool CountsDown(const qmFxRequest *fx) {
  const bool offset = fx->effect == FX_STRETCHRIGHT || fx->effect == FX_STRETCHBOTTOM;
  return offset != Shrinking(fx);
}

// The rectangle an extent gives, relative to the area.
Rect StretchRect(const qmFxRequest *fx, int32_t e) {
  const int32_t w = fx->width, h = fx->height;
  switch (fx->effect) {
    case FX_STRETCHLEFT: return {0, 0, e, h};
    case FX_STRETCHRIGHT: return {e, 0, w - e, h};
    case FX_STRETCHTOP: return {0, 0, w, e};
    case FX_STRETCHBOTTOM: return {0, e, w, h - e};
    case FX_HSTRETCHCENTER: return {0, (h - e) / 2, w, e};
    case FX_VSTRETCHCENTER: return {(w - e) / 2, 0, e, h};
    default: break;
  }
  // Zooms: the extent is the larger side, the smaller keeps the area's proportion.
  int32_t rw = e, rh = e;
  if (w >= h) rh = int32_t(int64_t(e) * h / w);
  else rw = int32_t(int64_t(e) * w / h);
  if (rw < 1) rw = 1;
  if (rh < 1) rh = 1;
  const int32_t cx = (w - rw) / 2, cy = (h - rh) / 2, right = w - rw, bottom = h - rh;
  switch (fx->effect) {
    case FX_ZOOMCENTER: return {cx, cy, rw, rh};
    case FX_ZOOMNORTH: return {cx, 0, rw, rh};
    case FX_ZOOMNORTHEAST: return {right, 0, rw, rh};
    case FX_ZOOMEAST: return {right, cy, rw, rh};
    case FX_ZOOMSOUTHEAST: return {right, bottom, rw, rh};
    case FX_ZOOMSOUTH: return {cx, bottom, rw, rh};
    case FX_ZOOMSOUTHWEST: return {0, bottom, rw, rh};
    case FX_ZOOMWEST: return {0, cy, rw, rh};
    default: return {0, 0, rw, rh};  // FX_ZOOMNORTHWEST
  }
}

// Erases from the layer's planes what lies in prev but not in now.
void EraseOutside(qmFxRequest *fx, Rect prev, Rect now, uint32_t flags) {
  flags |= FXPIECE_ERASE;
  if (now.width < 1 || now.height < 1) return BlitFxPiece(fx, prev.x, prev.y, prev.width, prev.height, flags);
  BlitFxPiece(fx, prev.x, prev.y, prev.width, now.y - prev.y, flags);
  BlitFxPiece(fx, prev.x, now.y, now.x - prev.x, now.height, flags);
  BlitFxPiece(fx, now.x + now.width, now.y, prev.x + prev.width - now.x - now.width, now.height, flags);
  BlitFxPiece(fx, prev.x, now.y + now.height, prev.width, prev.y + prev.height - now.y - now.height, flags);
}

}  // namespace

uint32_t StretchZoomFx(qmFxRequest *fx, int32_t *done) {
  const int32_t full = FullSize(fx);
  const bool down = CountsDown(fx);
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<StretchZoomState *>(MemAlloc(sizeof(StretchZoomState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    FxOwn(fx, &s->work);
    fx->step = FxSpeedToStep(fx->step, full, 30, 10, 80);
    s->extent = down ? full - fx->step : fx->step;
    s->previous = {0, 0, fx->width, fx->height};
    s->work = AllocBitmap(fx->width, fx->height);
    if (!s->work) return ERR_MEM;
    const int32_t end = down ? 0 : full;
    fx->stepCount = end ? FxStepCount(end - s->extent, fx->step, 0) : FxStepCount(s->extent, fx->step, 0);
    return 0;
  }
  auto *s = static_cast<StretchZoomState *>(fx->fxState);
  const bool direct = fx->phase == FXPHASE_DRAW;
  if (direct) {
    s->extent = fx->frameNo * fx->step;
    if (down) s->extent = full - s->extent;
  } else if (fx->phase != FXPHASE_FRAME) {
    return 0;
  }
  int32_t last = 0;
  Rect r;
  if ((!down && s->extent >= full) || (down && s->extent < 1)) {
    last = 1;
    r = Shrinking(fx) ? Rect{0, 0, 0, 0} : Rect{0, 0, fx->width, fx->height};
  } else {
    r = StretchRect(fx, s->extent);
  }
  const uint32_t pieceFlags = direct || fx->rerender || fx->layerDecorated ? uint32_t(FXPIECE_NOPRESENT) : 0u;
  if (fx->realtime) {
    if (direct) BlitFxPiece(fx, 0, 0, fx->width, fx->height, FXPIECE_ERASE | FXPIECE_NOPRESENT);
    else if (Shrinking(fx)) EraseOutside(fx, s->previous, r, pieceFlags);
  } else if (direct && fx->oldImage) {
    // A frame drawn on its own: the area as it was, then this frame's rectangle.
    BlitFxToScreen(fx, fx->oldImage, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr);
  } else if ((fx->srcMask || fx->srcAlpha) && fx->oldImage) {
    // The scaled picture shows what lay under the rectangle where it is transparent.
    BlitFxToScreen(fx, fx->oldImage, r.x, r.y, fx->x + r.x, fx->y + r.y, r.width, r.height, nullptr, nullptr);
  }
  uint32_t code = DrawFxScaled(fx, fx->srcImage, fx->srcMask, fx->srcAlpha, 0, 0, fx->width, fx->height, r.x, r.y,
                               r.width, r.height, s->work);
  s->previous = r;
  s->extent += (down ? -1 : 1) * fx->step;
  if (code || direct) return code;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

uint32_t ZoomInOutFx(qmFxRequest *fx, int32_t *done) {
  const int32_t w = fx->width, h = fx->height, m = w > h ? w : h;
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<ZoomInOutState *>(MemAlloc(sizeof(ZoomInOutState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    FxOwn(fx, &s->work);
    fx->step = FxSpeedToStep(fx->step, m, 60, 30, 120);
    s->size = fx->step;
    s->previous = {0, 0, w, h};
    s->work = AllocBitmap(w, h);
    if (!s->work) return ERR_MEM;
    fx->stepCount = FxStepCount(2 * m - fx->step, fx->step, 0);
    if (fx->effect == FX_ZOOMIN && fx->parameter == FX_RANDOMPARAMETER) fx->parameter = 0;
    return 0;
  }
  auto *s = static_cast<ZoomInOutState *>(fx->fxState);
  const bool direct = fx->phase == FXPHASE_DRAW;
  const bool zoomIn = fx->effect == FX_ZOOMIN;
  const uint32_t colour = uint32_t(fx->parameter) & 0xFFFFFF;
  if (direct) {
    s->size = fx->frameNo * fx->step;
    if (zoomIn) ClearFxRect(fx, 0, 0, w, h, colour);
  } else if (fx->phase != FXPHASE_FRAME) {
    return 0;
  }
  int32_t last = 0;
  Rect r{0, 0, w, h};
  if (s->size < 2 * m) {
    const int32_t d = std::max(1, std::abs(m - s->size));
    if (w >= h) r.width = d, r.height = int32_t(int64_t(d) * h / w + 1);
    else r.height = d, r.width = int32_t(int64_t(d) * w / h + 1);
    r.width = std::clamp(r.width, 1, w);
    r.height = std::clamp(r.height, 1, h);
    r.x = (w - r.width) / 2;
    r.y = (h - r.height) / 2;
  } else {
    s->size = 2 * m;
    last = 1;
  }
  const bool oldShown = s->size <= m;
  // A layer standing in for a background picture: the pictures follow the script's changes to
  // the layers they come from (past the middle only the new one shows).
  if (fx->bgpicEmu) UpdateFxSources(fx, oldShown ? FXSOURCE_OLD | FXSOURCE_NEW : FXSOURCE_NEW);
  const qmBitmap *pic = oldShown && fx->oldImage ? fx->oldImage : fx->srcImage;
  const qmMask *mask = pic == fx->srcImage ? fx->srcMask : nullptr;
  const qmAlphaChannel *alpha = pic == fx->srcImage ? fx->srcAlpha : nullptr;
  uint32_t code;
  if (zoomIn) {
    if (!direct && oldShown) {
      // What the shrinking picture gave up takes the colour; each strip reaches one pixel into
      // the rectangle so that no seam is left.
      const Rect p = s->previous;
      ClearFxRect(fx, p.x, p.y, r.x - p.x + 1, p.height, colour);
      ClearFxRect(fx, p.x, p.y, p.width, r.y - p.y + 1, colour);
      ClearFxRect(fx, r.x + r.width - 1, p.y, p.x + p.width - r.x - r.width + 1, p.height, colour);
      ClearFxRect(fx, p.x, r.y + r.height - 1, p.width, p.y + p.height - r.y - r.height + 1, colour);
      s->previous = r;
    }
    code = DrawFxScaled(fx, pic, mask, alpha, 0, 0, w, h, r.x, r.y, r.width, r.height, s->work);
  } else {
    code = DrawFxScaled(fx, pic, mask, alpha, r.x, r.y, r.width, r.height, 0, 0, w, h, s->work);
  }
  s->size += fx->step;
  if (code || direct) return code;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

