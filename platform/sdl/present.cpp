#include "platform/present.h"

#include <cstring>

#include "platform/desktop.h"
#include "platform/memory.h"
#include "platform/sdl/present_kernels.h"
#include "platform/sdl/sdl_internal.h"

namespace {
struct Rect {
  int32_t x, y, w, h;
};

// Intersects r with [0, w) x [0, h); false when nothing is left.
bool ClipTo(Rect &r, int32_t w, int32_t h) {
  int32_t x0 = r.x < 0 ? 0 : r.x, y0 = r.y < 0 ? 0 : r.y;
  int64_t x1 = int64_t(r.x) + r.w, y1 = int64_t(r.y) + r.h;
  if (x1 > w) x1 = w;
  if (y1 > h) y1 = h;
  if (x1 <= x0 || y1 <= y0) return false;
  r = {x0, y0, int32_t(x1 - x0), int32_t(y1 - y0)};
  return true;
}

void AddPending(qmPlatformWindow *pw, const Rect &r) {
  if (pw->pendingCount < kMaxPendingRects) {
    pw->pending[pw->pendingCount++] = {r.x, r.y, r.w, r.h};
    return;
  }
  // Full: the last entry grows to cover the new one.
  qmPlatformRect &last = pw->pending[kMaxPendingRects - 1];
  int32_t x0 = last.x < r.x ? last.x : r.x, y0 = last.y < r.y ? last.y : r.y;
  int32_t x1 = last.x + last.width > r.x + r.w ? last.x + last.width : r.x + r.w;
  int32_t y1 = last.y + last.height > r.y + r.h ? last.y + last.height : r.y + r.h;
  last = {x0, y0, x1 - x0, y1 - y0};
}

qmPlatformWindow *OpenWindowOf(qmPlatformWindow *pw) { return pw && pw->window ? pw : nullptr; }

// The surface for a write of anything but held pixels, which go back first: the write may cover
// them, and taking the surface may make it anew.
SDL_Surface *SurfaceOf(qmPlatformWindow *pw) {
  RestoreHeldPixels(pw);
  SDL_Surface *s = SDL_GetWindowSurface(pw->window);
  if (s) pw->surfaceLost = 0;
  return s;
}

bool Inside(const Rect &inner, const Rect &outer) {
  return inner.x >= outer.x && inner.y >= outer.y && int64_t(inner.x) + inner.w <= int64_t(outer.x) + outer.w &&
         int64_t(inner.y) + inner.h <= int64_t(outer.y) + outer.h;
}

// Whether the window holds pixels of `keep` placed as src goes to dst.
bool HoldsAlike(const qmHeldPixels &h, const uint32_t *keep, int32_t keepPitch, const Rect &src, const Rect &dst) {
  return h.pixels == keep && h.pitch == keepPitch && h.windowX - h.x == dst.x - src.x && h.windowY - h.y == dst.y - src.y;
}

// Surfaces of other layouts go through SDL's converter, row by row.
void ConvertRowOther(const uint32_t *src, void *dst, int32_t n, const SDL_Surface *s) {
  SDL_ConvertPixels(n, 1, SDL_PIXELFORMAT_BGRX8888, src, n * 4, s->format->format, dst, n * s->format->BytesPerPixel);
}

int32_t FillOf(const SDL_Surface *s) {
  if (s->format->format == SDL_PIXELFORMAT_RGB888) return 0;
  if (s->format->format == SDL_PIXELFORMAT_ARGB8888) return int32_t(0xFF000000u);
  return -1;  // another layout
}

void WriteRow(SDL_Surface *s, int32_t x, int32_t y, const uint32_t *src, int32_t n) {
  auto *row = static_cast<uint8_t *>(s->pixels) + int64_t(y) * s->pitch;
  int32_t fill = FillOf(s);
  if (fill != -1) ConvertXrgbRow(src, reinterpret_cast<uint32_t *>(row) + x, n, uint32_t(fill));
  else ConvertRowOther(src, row + int64_t(x) * s->format->BytesPerPixel, n, s);
}

void PushWindow(qmPlatformWindow *pw, uint64_t now) {
  if (!pw->window || pw->pendingCount == 0) return;
  // Frames faster than the screen are paced but only the newest is shown, once per refresh.
  if (FrameRateLimitOn() && GetCurrentFrameRate() > GetRefreshRate() && pw->lastShown &&
      now - pw->lastShown < uint64_t(1000000 / GetRefreshRate()))
    return;
  SDL_Rect rects[kMaxPendingRects];
  for (int32_t i = 0; i < pw->pendingCount; i++)
    rects[i] = {pw->pending[i].x, pw->pending[i].y, pw->pending[i].width, pw->pending[i].height};
  SDL_UpdateWindowSurfaceRects(pw->window, rects, pw->pendingCount);
  pw->pendingCount = 0;
  pw->lastShown = now ? now : 1;
}

void FillSurfaceRect(qmPlatformWindow *pw, int32_t offsetX, int32_t offsetY, Rect r, uint32_t rgb) {
  SDL_Surface *s = SurfaceOf(pw);
  if (!s) return;
  r.x += offsetX;
  r.y += offsetY;
  if (!ClipTo(r, s->w, s->h)) return;
  SDL_Rect sr{r.x, r.y, r.w, r.h};
  SDL_FillRect(s, &sr, SDL_MapRGB(s->format, uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)));
  AddPending(pw, r);
}
}  // namespace

void PresentWindowPixels(qmPlatformWindow *window, const qmPixelView *view, const qmPresentRect *rect,
                         int32_t offsetX, int32_t offsetY) {
  qmPlatformWindow *pw = OpenWindowOf(window);
  const int32_t srcX = rect->srcX, srcY = rect->srcY, dstX = rect->dstX, dstY = rect->dstY;
  const int32_t width = rect->width, height = rect->height;
  const int32_t scaledWidth = rect->scaledWidth, scaledHeight = rect->scaledHeight;
  if (!pw || !view || !view->pixels || view->format != PIXELS_XRGB_BYTES || width <= 0 || height <= 0) return;
  SDL_Surface *s = SurfaceOf(pw);
  if (!s || SDL_MUSTLOCK(s)) return;
  const int32_t pitch = view->pitch / 4;

  if (scaledWidth > 0 && scaledHeight > 0) {
    Rect dst{offsetX, offsetY, scaledWidth, scaledHeight};
    Rect vis = dst;
    if (!ClipTo(vis, s->w, s->h)) return;
    auto *cols = static_cast<int32_t *>(MemAlloc(uint32_t(vis.w) * 4, 0));
    auto *row = static_cast<uint32_t *>(MemAlloc(uint32_t(vis.w) * 4, 0));
    if (cols && row) {
      // Nearest neighbour, sampled at pixel centres.
      for (int32_t i = 0; i < vis.w; i++) {
        int64_t dx = vis.x - dst.x + i;
        int64_t sx = srcX + (2 * dx + 1) * width / (2 * int64_t(scaledWidth));
        cols[i] = int32_t(sx < 0 ? 0 : sx >= view->width ? view->width - 1 : sx);
      }
      for (int32_t j = 0; j < vis.h; j++) {
        int64_t dy = vis.y - dst.y + j;
        int64_t sy = srcY + (2 * dy + 1) * height / (2 * int64_t(scaledHeight));
        if (sy < 0) sy = 0;
        if (sy >= view->height) sy = view->height - 1;
        const uint32_t *srow = view->pixels + sy * pitch;
        for (int32_t i = 0; i < vis.w; i++) row[i] = srow[cols[i]];
        WriteRow(s, vis.x, vis.y + j, row, vis.w);
      }
      AddPending(pw, vis);
    }
    MemFree(cols);
    MemFree(row);
    return;
  }

  // Clip the source to the bitmap and carry the cut over to the destination, then the other way.
  Rect src{srcX, srcY, width, height};
  if (!ClipTo(src, view->width, view->height)) return;
  Rect dst{dstX + offsetX + (src.x - srcX), dstY + offsetY + (src.y - srcY), src.w, src.h};
  Rect vis = dst;
  if (!ClipTo(vis, s->w, s->h)) return;
  src.x += vis.x - dst.x;
  src.y += vis.y - dst.y;
  for (int32_t j = 0; j < vis.h; j++)
    WriteRow(s, vis.x, vis.y + j, view->pixels + int64_t(src.y + j) * pitch + src.x, vis.w);
  AddPending(pw, vis);
}

namespace {

// The unscaled rectangle to the window and either copied to `keep` or held by the window for
// it; 0, with nothing done, unless it lies whole in the view and the window.
int32_t PresentKeepingOrHolding(qmPlatformWindow *window, const qmPixelView *view, const qmPresentRect *rect,
                                int32_t offsetX, int32_t offsetY, uint32_t *keep, int32_t keepPitch, bool hold) {
  qmPlatformWindow *pw = OpenWindowOf(window);
  if (!pw || !view || !view->pixels || !keep || view->format != PIXELS_XRGB_BYTES || rect->scaledWidth ||
      rect->scaledHeight || rect->width <= 0 || rect->height <= 0)
    return 0;
  // While pixels are held their surface is the window's.
  qmHeldPixels &held = pw->held;
  SDL_Surface *s = held.pixels ? held.surface : SurfaceOf(pw);
  if (!s || SDL_MUSTLOCK(s) || FillOf(s) == -1) return 0;
  const Rect src{rect->srcX, rect->srcY, rect->width, rect->height};
  const Rect dst{rect->dstX + offsetX, rect->dstY + offsetY, src.w, src.h};
  if (!Inside(src, {0, 0, view->width, view->height}) || !Inside(dst, {0, 0, s->w, s->h})) return 0;

  // Inside what is held for `keep`, only the window changes; what is held and wholly written
  // again needs no bringing back; anything else held goes back before it is written over.
  bool windowOnly = hold;
  if (held.pixels) {
    const Rect heldRect{held.x, held.y, held.width, held.height};
    const bool alike = HoldsAlike(held, keep, keepPitch, src, dst);
    if (alike && Inside(src, heldRect)) {
      windowOnly = true;
    } else if (alike && Inside(heldRect, src)) {
      held = {};
    } else {
      RestoreHeldPixels(pw);
    }
  }
  const uint32_t fill = uint32_t(FillOf(s));
  const uint32_t *from = view->pixels + int64_t(src.y) * (view->pitch / 4) + src.x;
  auto *to = reinterpret_cast<uint32_t *>(static_cast<uint8_t *>(s->pixels) + int64_t(dst.y) * s->pitch) + dst.x;
  uint32_t *kept = keep + int64_t(src.y) * (keepPitch / 4) + src.x;
  const int64_t fromStep = view->pitch / 4, toStep = s->pitch / 4, keptStep = keepPitch / 4;
  if (windowOnly) {
    for (int32_t j = 0; j < src.h; j++, from += fromStep, to += toStep) ConvertXrgbRow(from, to, src.w, fill);
  } else {
    for (int32_t j = 0; j < src.h; j++, from += fromStep, to += toStep, kept += keptStep)
      ConvertXrgbRowKeeping(from, to, kept, src.w, fill);
  }
  if (hold && !held.pixels) held = {keep, keepPitch, src.x, src.y, src.w, src.h, dst.x, dst.y, s};
  AddPending(pw, dst);
  return 1;
}

}  // namespace

int32_t PresentWindowPixelsKeeping(qmPlatformWindow *window, const qmPixelView *view, const qmPresentRect *rect,
                                   int32_t offsetX, int32_t offsetY, uint32_t *keep, int32_t keepPitch) {
  return PresentKeepingOrHolding(window, view, rect, offsetX, offsetY, keep, keepPitch, false);
}

int32_t PresentWindowPixelsHeld(qmPlatformWindow *window, const qmPixelView *view, const qmPresentRect *rect,
                                int32_t offsetX, int32_t offsetY, uint32_t *keep, int32_t keepPitch) {
  return PresentKeepingOrHolding(window, view, rect, offsetX, offsetY, keep, keepPitch, true);
}

void RestoreHeldPixels(qmPlatformWindow *window) {
  if (!window || !window->held.pixels) return;
  const qmHeldPixels h = window->held;
  window->held = {};
  for (int32_t j = 0; j < h.height; j++) {
    const auto *from = reinterpret_cast<const uint32_t *>(static_cast<const uint8_t *>(h.surface->pixels) +
                                                          int64_t(h.windowY + j) * h.surface->pitch) + h.windowX;
    RestoreXrgbRow(from, h.pixels + int64_t(h.y + j) * (h.pitch / 4) + h.x, h.width);
  }
}

void DropHeldPixels(qmPlatformWindow *window, const uint32_t *keep) {
  if (window && keep && window->held.pixels == keep) window->held = {};
}

int32_t RepushHeldPixels(qmPlatformWindow *window, const uint32_t *keep, const qmPresentRect *rect, int32_t offsetX,
                         int32_t offsetY) {
  qmPlatformWindow *pw = OpenWindowOf(window);
  if (!pw || !keep || !pw->held.pixels || rect->scaledWidth || rect->scaledHeight || rect->width <= 0 ||
      rect->height <= 0)
    return 0;
  const qmHeldPixels &h = pw->held;
  const Rect src{rect->srcX, rect->srcY, rect->width, rect->height};
  const Rect dst{rect->dstX + offsetX, rect->dstY + offsetY, src.w, src.h};
  if (!HoldsAlike(h, keep, h.pitch, src, dst) || !Inside(src, {h.x, h.y, h.width, h.height})) return 0;
  AddPending(pw, dst);
  return 1;
}

void FlushWindowFrame(qmPlatformWindow *pw) {
  if (!pw) return;
  uint64_t now = DesktopMicros();
  PushWindow(pw, now);
  uint64_t last = uint64_t(pw->lastPresent.seconds) * 1000000u + pw->lastPresent.microseconds;
  uint64_t elapsed = now > last ? now - last : 0;
  uint64_t frame = 1000000u / uint64_t(GetCurrentFrameRate());
  // A frame that took longer, or a pause of a second or more, sleeps nothing.
  if (elapsed < 1000000u && elapsed < frame) DesktopSleepMicros(uint32_t(frame - elapsed));
  now = DesktopMicros();
  pw->lastPresent = {uint32_t(now / 1000000u), uint32_t(now % 1000000u)};
}

void PushPendingWindowUpdates() {
  uint64_t now = 0;
  for (qmPlatformWindow *pw = gWindows; pw; pw = pw->next) {
    if (!pw->pendingCount) continue;
    if (!now) now = DesktopMicros();
    PushWindow(pw, now);
  }
}

void FillWindowRect(qmPlatformWindow *window, int32_t offsetX, int32_t offsetY, int32_t x, int32_t y,
                    int32_t width, int32_t height, uint32_t rgb) {
  qmPlatformWindow *pw = OpenWindowOf(window);
  if (pw) FillSurfaceRect(pw, offsetX, offsetY, {x, y, width, height}, rgb);
}

void DrawWindowLine(qmPlatformWindow *window, int32_t offsetX, int32_t offsetY, int32_t x1, int32_t y1, int32_t x2,
                    int32_t y2, uint32_t rgb) {
  qmPlatformWindow *pw = OpenWindowOf(window);
  if (!pw) return;
  SDL_Surface *s = SurfaceOf(pw);
  if (!s) return;
  uint32_t pixel = SDL_MapRGB(s->format, uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb));
  int32_t bpp = s->format->BytesPerPixel;
  int32_t ox = offsetX, oy = offsetY;
  int32_t dx = x2 > x1 ? x2 - x1 : x1 - x2, dy = y2 > y1 ? y1 - y2 : y2 - y1;
  int32_t stepX = x1 < x2 ? 1 : -1, stepY = y1 < y2 ? 1 : -1, err = dx + dy;
  for (int32_t x = x1, y = y1;;) {
    int32_t px = x + ox, py = y + oy;
    if (px >= 0 && py >= 0 && px < s->w && py < s->h)
      std::memcpy(static_cast<uint8_t *>(s->pixels) + int64_t(py) * s->pitch + int64_t(px) * bpp, &pixel, size_t(bpp));
    if (x == x2 && y == y2) break;
    int32_t e2 = 2 * err;
    if (e2 >= dy) { err += dy; x += stepX; }
    if (e2 <= dx) { err += dx; y += stepY; }
  }
  Rect r{(x1 < x2 ? x1 : x2) + ox, (y1 < y2 ? y1 : y2) + oy, dx + 1, -dy + 1};
  if (ClipTo(r, s->w, s->h)) AddPending(pw, r);
}
