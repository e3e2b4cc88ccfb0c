// Roll and wallpaper: the new picture unrolls over the old one from the top or the left edge. A
// band at the moving edge shows the part still on the roll, squeezed like a cylinder seen from
// the front; behind it the picture lies flat. ROLL has a thin roll, WALLPAPER a thick one.
#include <algorithm>
#include <cmath>

#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/transition_kernels.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/effects/maskcompose.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxrequest.h"
#include "transitions/fxtable.h"

namespace {

struct RollState {
  qmBitmap *band;      // the rendered roll, at its place in the area
  qmBitmap *work;      // composition through the planes
  qmMask *bandMask;    // the band's coverage, when the new picture has a mask
  qmAlphaChannel *bandAlpha;  // or an alpha plane
  qmMask *coverMask;          // layer planes: the band's coverage joined with the new picture's
  qmAlphaChannel *coverAlpha;
  double *angles;      // the roll's table: asin(1 - 2k / n) + pi / 2, from pi down toward 0
  qmWaveRequest wave;
  int32_t pos;       // the moving edge, along the axis
  int32_t flatEdge;  // the new picture lies flat before this line
};

bool AlongX(int32_t effect) { return effect == FX_ROLLLEFT || effect == FX_WALLPAPERLEFT; }

// Speed to lines a frame.
int32_t RollStep(int32_t speed) {
  if (speed == FX_FASTSPEED) return 5;
  if (speed == FX_NORMALSPEED) return 2;
  if (speed == FX_SLOWSPEED) return 1;
  return std::clamp(speed / 5, 1, 8);
}

// The area's lines [from, to) along the axis as a rectangle.
void Lines(const qmFxRequest *fx, int32_t from, int32_t to, int32_t *x, int32_t *y, int32_t *w, int32_t *h) {
  if (AlongX(fx->effect)) *x = from, *y = 0, *w = to - from, *h = fx->height;
  else *x = 0, *y = from, *w = fx->width, *h = to - from;
}

// The new picture flat over lines [from, to).
void DrawFlat(qmFxRequest *fx, RollState *s, int32_t from, int32_t to) {
  int32_t x, y, w, h;
  Lines(fx, std::max(from, 0), to, &x, &y, &w, &h);
  ComposeMaskedFx(fx, fx->srcImage, x, y, w, h, fx->srcMask, fx->srcAlpha, s->work);
}

uint32_t RollInit(qmFxRequest *fx) {
  auto *s = static_cast<RollState *>(MemAlloc(sizeof(RollState), 1));
  if (!s) return ERR_MEM;
  fx->fxState = s;
  FxOwn(fx, &s->band, &s->work, &s->bandMask, &s->bandAlpha, &s->coverMask, &s->coverAlpha, &s->angles);
  const bool alongX = AlongX(fx->effect);
  const int32_t length = alongX ? fx->width : fx->height;
  const int32_t radius = fx->effect == FX_ROLLTOP || fx->effect == FX_ROLLLEFT ? length / 12 : length / 2;
  const int32_t n = std::max(radius, 20);
  s->angles = static_cast<double *>(MemAlloc(uint32_t(n) * sizeof(double), 0));
  s->band = AllocBitmap(fx->width, fx->height);
  s->work = AllocBitmap(fx->width, fx->height);
  if (fx->srcMask) s->bandMask = AllocMask(fx->width, fx->height, 1);
  else if (fx->srcAlpha) s->bandAlpha = AllocAlphaChannel(fx->width, fx->height, 1);
  if (fx->realtime && s->bandMask) s->coverMask = AllocMask(fx->width, fx->height, 1);
  if (fx->realtime && s->bandAlpha) s->coverAlpha = AllocAlphaChannel(fx->width, fx->height, 1);
  if (!s->angles || !s->band || !s->work || (fx->srcMask && !s->bandMask) || (fx->srcAlpha && !fx->srcMask && !s->bandAlpha) ||
      (fx->realtime && s->bandMask && !s->coverMask) || (fx->realtime && s->bandAlpha && !s->coverAlpha))
    return ERR_MEM;
  for (int32_t k = 0; k < n; k++) s->angles[k] = std::asin(1.0 - 2.0 * k / n) + M_PI / 2;
  fx->step = RollStep(fx->step);
  qmWaveRequest &w = s->wave;
  w.src = fx->srcImage->pixels;
  w.dst = s->band->pixels;
  w.srcPitch = fx->srcImage->bytesPerRow / 4;
  w.dstPitch = s->band->bytesPerRow / 4;
  if (fx->srcMask) {
    w.srcMask = fx->srcMask->memory;
    w.srcMaskBytesPerRow = fx->srcMask->bytesPerRow;
    w.dstMask = s->bandMask->memory;
    w.dstMaskBytesPerRow = s->bandMask->bytesPerRow;
  } else if (fx->srcAlpha) {
    w.srcAlpha = fx->srcAlpha->memory;
    w.srcAlphaBytesPerRow = fx->srcAlpha->bytesPerRow;
    w.dstAlpha = s->bandAlpha->memory;
    w.dstAlphaBytesPerRow = s->bandAlpha->bytesPerRow;
  }
  w.offsets = s->angles;
  w.width = fx->width;
  w.height = fx->height;
  w.vertical = alongX ? 1 : 0;
  w.strips = n;
  w.bytesPerPixel = 4;
  fx->stepCount = FxStepCount(length, fx->step, 1);
  return 0;
}

// The band of the roll at the position: its first line and its line count (0: none).
void RenderBand(RollState *s, int32_t pos, int32_t *first, int32_t *lines) {
  s->wave.position = pos;
  WavePixels(&s->wave);
  *first = s->wave.firstLine;
  *lines = s->wave.linesCopied;
}

// The band's lines to the screen (or the planes). A band with a coverage of its own lies over the
// new picture through the new picture's planes, both over the old picture: where the roll shows
// nothing the new picture already lies flat.
void DrawBand(qmFxRequest *fx, RollState *s, int32_t first, int32_t lines) {
  int32_t x, y, w, h;
  Lines(fx, first, first + lines, &x, &y, &w, &h);
  if (!s->bandMask && !s->bandAlpha) return BlitFxToScreen(fx, s->band, x, y, fx->x + x, fx->y + y, w, h, nullptr, nullptr);
  if (!fx->realtime && !fx->oldImage) {
    ComposeMaskedFx(fx, fx->srcImage, x, y, w, h, fx->srcMask, fx->srcAlpha, s->work);
    ComposeMaskedFx(fx, s->band, x, y, w, h, s->bandMask, s->bandAlpha, s->work);
    return;
  }
  if (x < 0) w += x, x = 0;
  if (y < 0) h += y, y = 0;
  w = std::min(w, fx->width - x);
  h = std::min(h, fx->height - y);
  if (w < 1 || h < 1) return;
  if (!fx->realtime) {
    BltBitmap(fx->oldImage, x, y, s->work, x, y, w, h);
    OverFxPicture(fx, fx->srcImage, fx->srcMask, fx->srcAlpha, s->work, x, y, w, h);
    OverFxPicture(fx, s->band, s->bandMask, s->bandAlpha, s->work, x, y, w, h);
    BlitFxToScreen(fx, s->work, x, y, fx->x + x, fx->y + y, w, h, nullptr, nullptr);
    return;
  }
  // A piece replaces the planes' coverage in its rectangle: the two are joined into one piece.
  if (s->coverMask) {
    BltBitmap(fx->srcImage, x, y, s->work, x, y, w, h);
    OverFxPicture(fx, s->band, s->bandMask, nullptr, s->work, x, y, w, h);
    CopyMaskRect(fx->srcMask, x, y, s->coverMask, x, y, w, h, MASKVANILLACOPY);
    CopyMaskRect(s->bandMask, x, y, s->coverMask, x, y, w, h, MASKOR);
  } else {
    const qmAlphaOverRequest over{
        s->band->pixels + int64_t(y) * (s->band->bytesPerRow / 4) + x,
        fx->srcImage->pixels + int64_t(y) * (fx->srcImage->bytesPerRow / 4) + x,
        s->bandAlpha->memory + int64_t(y) * s->bandAlpha->bytesPerRow + x,
        fx->srcAlpha->memory + int64_t(y) * fx->srcAlpha->bytesPerRow + x,
        s->work->pixels + int64_t(y) * (s->work->bytesPerRow / 4) + x,
        s->coverAlpha->memory + int64_t(y) * s->coverAlpha->bytesPerRow + x,
        w,
        h,
        s->band->bytesPerRow / 4,
        fx->srcImage->bytesPerRow / 4,
        s->work->bytesPerRow / 4,
        s->bandAlpha->bytesPerRow,
        fx->srcAlpha->bytesPerRow,
        s->coverAlpha->bytesPerRow};
    LayAlphaPixelsOver(&over);
  }
  BlitFxToScreen(fx, s->work, x, y, fx->x + x, fx->y + y, w, h, s->coverMask, s->coverMask ? nullptr : s->coverAlpha);
}

// Lines [from, to) of the layer taken away: a piece of the new picture erases them.
void EraseLines(qmFxRequest *fx, int32_t from, int32_t to) {
  int32_t x, y, w, h;
  Lines(fx, std::max(from, 0), to, &x, &y, &w, &h);
  if (w > 0 && h > 0) BlitFxToScreen(fx, fx->srcImage, x, y, fx->x + x, fx->y + y, w, h, nullptr, nullptr);
}

// A layer taken away through its planes rolls back up: the edge runs back from the far side.
uint32_t RollAwayFx(qmFxRequest *fx, RollState *s, int32_t *done) {
  const int32_t length = AlongX(fx->effect) ? fx->width : fx->height;
  if (fx->phase == FXPHASE_FRAME) {
    if (fx->frameNo == 0) s->pos = length;
    s->pos -= fx->step;
  } else if (fx->phase == FXPHASE_DRAW) {
    s->pos = length - fx->frameNo * fx->step;
    ResetFxPlanes(fx);
  } else {
    return 0;
  }
  const bool last = s->pos < 1;
  if (last) {
    EraseLines(fx, 0, length);
  } else {
    int32_t first, lines;
    RenderBand(s, s->pos, &first, &lines);
    // Behind the band the layer is gone; before it, it lies flat as it was.
    if (lines > 0) {
      EraseLines(fx, first + lines, length);
      DrawBand(fx, s, first, lines);
    } else {
      EraseLines(fx, s->pos, length);
    }
  }
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

}  // namespace

uint32_t RollFx(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) return RollInit(fx);
  auto *s = static_cast<RollState *>(fx->fxState);
  if (fx->realtime && fx->layerTarget) return RollAwayFx(fx, s, done);
  const int32_t length = AlongX(fx->effect) ? fx->width : fx->height;
  if (fx->phase == FXPHASE_FRAME) {
    if (fx->frameNo == 0) s->pos = s->flatEdge = 0;
    s->pos += fx->step;
  } else if (fx->phase == FXPHASE_DRAW) {
    s->pos = fx->frameNo * fx->step;
    s->flatEdge = 0;
    ResetFxPlanes(fx);
  } else {
    return 0;
  }
  const bool last = s->pos >= length;
  if (last) {
    DrawFlat(fx, s, s->flatEdge, length);
    s->flatEdge = length;
  } else {
    int32_t first, lines;
    RenderBand(s, s->pos, &first, &lines);
    // A frame drawn whole: beyond the roll the old picture (in a layer's planes, nothing).
    if (fx->phase == FXPHASE_DRAW && !fx->realtime && fx->oldImage) {
      int32_t x, y, w, h;
      Lines(fx, lines > 0 ? first + lines : s->pos, length, &x, &y, &w, &h);
      if (w > 0 && h > 0) BlitFxToScreen(fx, fx->oldImage, x, y, fx->x + x, fx->y + y, w, h, nullptr, nullptr);
    }
    if (lines > 0) {
      DrawFlat(fx, s, s->flatEdge, first);
      DrawBand(fx, s, first, lines);
      s->flatEdge = first;
    } else {
      DrawFlat(fx, s, s->flatEdge, s->pos);
      s->flatEdge = s->pos;
    }
  }
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

