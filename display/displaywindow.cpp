#include "display/displaywindow.h"

#include <algorithm>
#include <cstddef>

#include "display/display.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "platform/desktop.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"
#include "platform/pointer.h"
#include "platform/present.h"
#include "platform/window.h"
#include "runtime/errcodes.h"

// Pictures the platform decodes must fit in a bitmap.
static_assert(kMaxImageSide == QM_MAX_PLANE_SIDE);

namespace {

uint32_t WindowFlags(const qmDisplay *d) {
  uint32_t flags = 0;
  if (d->flags & DISPF_BORDERLESS) flags |= WINDOW_BORDERLESS;
  if (d->flags & DISPF_SIZEABLE) flags |= WINDOW_SIZEABLE;
  return flags;
}

qmWindowPlace PlaceOf(const qmDisplay *d) { return {d->x, d->y, d->width, d->height, d->frameLeft, d->frameTop}; }

int32_t RegionHitOfOwner(void *owner, int32_t x, int32_t y) {
  return DisplayRegionHit(static_cast<const qmDisplay *>(owner), x, y);
}

bool InRegions(const qmDisplayRegion *regions, int32_t count, int32_t x, int32_t y) {
  for (int32_t i = 0; i < count; i++) {
    const qmDisplayRegion &r = regions[i];
    if (x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height) return true;
  }
  return false;
}

qmPlatformWindow *OpenWindowOf(const qmDisplay *d) {
  return d && d->state == DISPSTATE_OPEN ? d->platform : nullptr;
}

}  // namespace

uint32_t CreatePlatformWindowRecord(qmDisplay *display) {
  return NewSystemWindow(display, RegionHitOfOwner, &display->platform);
}

void FreePlatformWindowRecord(qmDisplay *display) {
  if (!display->platform) return;
  ClosePlatformWindow(display);
  FreeSystemWindow(display->platform);
  display->platform = nullptr;
}

void GetPlatformPointer(const qmDisplay *display, int32_t *x, int32_t *y) {
  GetSystemWindowPointer(display->platform, x, y);
}

void GetPlatformWindowPosition(const qmDisplay *display, int32_t *x, int32_t *y) {
  *x = display->x, *y = display->y;
  int32_t wx = 0, wy = 0;
  if (!GetSystemWindowPosition(display->platform, &wx, &wy)) return;
  *x = wx - display->frameLeft, *y = wy - display->frameTop;
}

void GetWindowFrameWidths(qmDisplay *display) {
  int32_t frame[4];
  GetSystemWindowFrame(display->platform, WindowFlags(display), frame);
  display->frameLeft = frame[0];
  display->frameTop = frame[1];
  display->frameWidth = frame[2];
  display->frameHeight = frame[3];
}

// The window's shape at the content's size: a brush mask's set bits, or an alpha plane's
// values; nothing outside the plane shows. Null when out of memory.
static uint8_t *ShapeOfPlanes(const qmMask *mask, const qmAlphaChannel *alpha, int32_t width, int32_t height) {
  auto *shape = static_cast<uint8_t *>(MemAlloc(uint32_t(width) * uint32_t(height), 1));
  if (!shape) return nullptr;
  const qmMask *plane = alpha ? alpha : mask;
  // A wrapped plane tells no size of its own: it covers the content.
  const int32_t w = plane->width ? std::min(width, plane->width) : width;
  const int32_t h = plane->height ? std::min(height, plane->height) : height;
  for (int32_t y = 0; y < h; y++) {
    const uint8_t *row = plane->memory + size_t(y) * size_t(plane->bytesPerRow);
    uint8_t *out = shape + size_t(y) * size_t(width);
    for (int32_t x = 0; x < w; x++) out[x] = alpha ? row[x] : (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
  }
  return shape;
}

uint32_t OpenPlatformWindow(qmDisplay *display, int32_t show, qmBitmap *shapeBrush, qmMask *shapeAlpha,
                            int32_t fullScreen) {
  if (!display->platform) {
    if (uint32_t err = InitDesktop()) return err;
    if (uint32_t err = CreatePlatformWindowRecord(display)) return err;
  }
  if (SystemWindowOpen(display->platform)) return 0;
  qmWindowOpening opening{};
  opening.place = PlaceOf(display);
  opening.flags = WindowFlags(display);
  opening.title = display->title;
  opening.fullScreen = fullScreen ? 1 : 0;
  opening.show = show;
  opening.mayCentre = display->scaleWidth == 0 && display->marginLeft == 0 && display->marginTop == 0;
  // The shape comes as the picture's mask (handed over in place of a brush) or alpha plane.
  uint8_t *shape = nullptr;
  if ((shapeBrush || shapeAlpha) && !fullScreen) {
    shape = ShapeOfPlanes(reinterpret_cast<const qmMask *>(shapeBrush), shapeAlpha, display->width, display->height);
    if (!shape) return ERR_MEM;
  }
  opening.shape = shape;
  const uint32_t err = OpenSystemWindow(display->platform, &opening, &display->marginLeft, &display->marginTop);
  MemFree(shape);
  if (err) return err;
  GetWindowFrameWidths(display);
  return 0;
}

void ClosePlatformWindow(qmDisplay *display) {
  if (CloseSystemWindow(display->platform)) display->marginLeft = display->marginTop = 0;
}

void SetPlatformWindowBounds(qmDisplay *display) {
  const qmWindowPlace place = PlaceOf(display);
  SetSystemWindowBounds(display->platform, &place);
}

void MovePlatformWindow(qmDisplay *display) {
  const qmWindowPlace place = PlaceOf(display);
  MoveSystemWindow(display->platform, &place);
}

void SetPlatformWindowTitle(qmDisplay *display) { SetSystemWindowTitle(display->platform, display->title); }

uint32_t MinimizePlatformWindow(qmDisplay *display, int32_t minimize) {
  return MinimizeSystemWindow(display->platform, minimize);
}

void ActivatePlatformWindow(qmDisplay *display) { ActivateSystemWindow(display->platform); }
uint32_t SetDropTarget(qmDisplay *display) { return SetSystemWindowDropTarget(display->platform); }
void UpdatePlatformWindow(qmDisplay *display) { UpdateSystemWindow(display->platform); }

int32_t GetDesktopFullScreenSize(const qmDisplay *display, int32_t *width, int32_t *height) {
  return GetSystemWindowDesktopSize(display->platform, width, height);
}

int32_t DisplayRegionHit(const qmDisplay *d, int32_t x, int32_t y) {
  if (!(d->flags & DISPF_BORDERLESS)) return 0;
  // Without regions of the script's the top 15 rows drag and the bottom-right 10 x 10 sizes.
  qmDisplayRegion drag{0, 0, 0, d->width, 15};
  qmDisplayRegion size{0, d->width - 10, d->height - 10, 10, 10};
  if (!(d->flags & DISPF_FIXED)) {
    if (d->dragRegionCount > 0 ? InRegions(d->dragRegions, d->dragRegionCount, x, y) : InRegions(&drag, 1, x, y))
      return 1;
  }
  if (d->flags & DISPF_SIZEABLE) {
    if (d->sizeRegionCount > 0 ? InRegions(d->sizeRegions, d->sizeRegionCount, x, y) : InRegions(&size, 1, x, y))
      return 2;
  }
  return 0;
}

void PresentBackBuffer(const qmBitmap *bitmap, int32_t srcX, int32_t srcY, qmDisplay *display, int32_t dstX,
                       int32_t dstY, int32_t width, int32_t height, int32_t scaledWidth, int32_t scaledHeight,
                       uint32_t flags) {
  if (!display || !bitmap) return;
  if (!(flags & PRESENT_EVEN_IF_CLOSED) && display->state != DISPSTATE_OPEN) return;
  const qmPixelView view{bitmap->pixels, bitmap->width, bitmap->height, bitmap->bytesPerRow, PIXELS_XRGB_BYTES};
  const qmPresentRect rect{srcX, srcY, dstX, dstY, width, height, scaledWidth, scaledHeight};
  PresentWindowPixels(display->platform, &view, &rect, display->marginLeft, display->marginTop);
}

namespace {

// PresentBackBufferKeeping, or with `hold` PresentBackBufferHeld.
bool PresentKeepingOrHolding(const qmBitmap *bitmap, qmDisplay *display, int32_t x, int32_t y, int32_t width,
                             int32_t height, qmBitmap *keep, bool hold) {
  if (!display || !bitmap || !keep || display->state != DISPSTATE_OPEN || x < 0 || y < 0 ||
      int64_t(x) + width > keep->width || int64_t(y) + height > keep->height)
    return false;
  const qmPixelView view{bitmap->pixels, bitmap->width, bitmap->height, bitmap->bytesPerRow, PIXELS_XRGB_BYTES};
  const qmPresentRect rect{x, y, x, y, width, height, 0, 0};
  auto present = hold ? PresentWindowPixelsHeld : PresentWindowPixelsKeeping;
  return present(display->platform, &view, &rect, display->marginLeft, display->marginTop, keep->pixels,
                 keep->bytesPerRow) != 0;
}

}  // namespace

bool PresentBackBufferKeeping(const qmBitmap *bitmap, qmDisplay *display, int32_t x, int32_t y, int32_t width,
                              int32_t height, qmBitmap *keep) {
  return PresentKeepingOrHolding(bitmap, display, x, y, width, height, keep, false);
}

bool PresentBackBufferHeld(const qmBitmap *bitmap, qmDisplay *display, int32_t x, int32_t y, int32_t width,
                           int32_t height, qmBitmap *keep) {
  return PresentKeepingOrHolding(bitmap, display, x, y, width, height, keep, true);
}

void RestoreHeldBackBuffer(qmDisplay *display) {
  if (display) RestoreHeldPixels(display->platform);
}

void DropHeldBackBuffer(qmDisplay *display, const qmBitmap *keep) {
  if (display && keep) DropHeldPixels(display->platform, keep->pixels);
}

bool RepushHeldBackBuffer(qmDisplay *display, const qmBitmap *keep, int32_t x, int32_t y, int32_t width,
                          int32_t height) {
  if (!display || !keep || display->state != DISPSTATE_OPEN) return false;
  const qmPresentRect rect{x, y, x, y, width, height, 0, 0};
  return RepushHeldPixels(display->platform, keep->pixels, &rect, display->marginLeft, display->marginTop) != 0;
}

void PresentDisplayUpdate(qmBitmap *bitmap, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height) {
  PresentBackBuffer(bitmap, 0, 0, display, x, y, width, height, 0, 0, PRESENT_NO_MOVIE_CLIP);
}

void FlushDisplayWindow(qmDisplay *display) {
  if (display) FlushWindowFrame(display->platform);
}

void FillPlatformRect(qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rgb) {
  if (qmPlatformWindow *w = OpenWindowOf(display))
    FillWindowRect(w, display->marginLeft, display->marginTop, x, y, width, height, rgb);
}

void PlotPlatformPixel(qmDisplay *display, int32_t x, int32_t y, uint32_t rgb) {
  if (qmPlatformWindow *w = OpenWindowOf(display))
    FillWindowRect(w, display->marginLeft, display->marginTop, x, y, 1, 1, rgb);
}

void DrawPlatformLine(qmDisplay *display, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t rgb) {
  if (qmPlatformWindow *w = OpenWindowOf(display))
    DrawWindowLine(w, display->marginLeft, display->marginTop, x1, y1, x2, y2, rgb);
}

void SetPlatformPointer(qmDisplay *display, void *image, int32_t kind, void *owner) {
  if (display) SetPlatformPointer(display->platform, image, kind, owner);
}

void ShowPlatformPointer(qmDisplay *display) {
  if (display) ShowPlatformPointer(display->platform);
}

void HidePlatformPointer(qmDisplay *display) {
  if (display) HidePlatformPointer(display->platform);
}

void MovePointerTo(qmDisplay *display, int32_t x, int32_t y) {
  if (display) MovePointerTo(display->platform, x, y);
}

int32_t PlatformPointerHidden(const qmDisplay *display) {
  return display ? PlatformPointerHidden(display->platform) : 0;
}

void *PlatformPointerImage(const qmDisplay *display) { return display ? PlatformPointerImage(display->platform) : nullptr; }

void *PlatformPointerOwner(const qmDisplay *display) { return display ? PlatformPointerOwner(display->platform) : nullptr; }

void SetPlatformAttr(qmDisplay *, int32_t selector, int32_t value) { SetPlatformAttr(selector, value); }

qmBitmap *GrabScreenPixels(int32_t x, int32_t y, int32_t width, int32_t height) {
  uint32_t *rgb = ReadScreenPixels(x, y, width, height);
  if (!rgb) return nullptr;
  qmBitmap *bitmap = AllocBitmap(width, height);
  for (int32_t row = 0; bitmap && row < height; row++)
    for (int32_t col = 0; col < width; col++)
      SetBitmapPixel(bitmap, col, row, rgb[size_t(row) * size_t(width) + size_t(col)], 0);
  MemFree(rgb);
  return bitmap;
}
