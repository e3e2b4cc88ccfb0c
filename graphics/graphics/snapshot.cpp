#include "graphics/graphics/snapshot.h"

#include <algorithm>

#include "display/bgpic.h"
#include "display/display.h"
#include "graphics/bitmap.h"
#include "platform/desktop.h"
#include "platform/window.h"
#include "display/displaywindow.h"
#include "runtime/errcodes.h"

namespace {

uint32_t Grab(int32_t x, int32_t y, int32_t width, int32_t height, qmSnapshot *out) {
  qmBitmap *b = width > 0 && height > 0 ? GrabScreenPixels(x, y, width, height) : nullptr;
  if (!b) return ERR_MEM;
  *out = {b, b, width, height};
  return 0;
}

// While double buffering, what the script draws; otherwise what the display holds of its
// picture and everything drawn on it, at the picture's size.
uint32_t DisplayPixels(const qmDisplay *d, qmSnapshot *out) {
  const qmBitmap *b = nullptr;
  int32_t w = d->width, h = d->height;
  if (d->doubleBuffer && d->backBuffer2) {
    b = d->backBuffer2;
  } else if (d->backgroundCopy) {
    b = d->backgroundCopy;
    if (d->bgpic) w = d->bgpic->shownWidth, h = d->bgpic->shownHeight;
  } else if (d->bgpic && d->bgpic->shown.bitmap) {
    b = d->bgpic->shown.bitmap;
    w = d->bgpic->shownWidth, h = d->bgpic->shownHeight;
  }
  if (!b) return ERR_MEM;
  w = std::min(w, b->width), h = std::min(h, b->height);
  if (w < 1 || h < 1) return ERR_MEM;
  *out = {b, nullptr, w, h};
  return 0;
}

}  // namespace

uint32_t TakeSnapshot(const qmDisplay *d, int32_t type, qmSnapshot *out) {
  *out = {};
  switch (type) {
  case SNAPWINDOW:
  {
    if (!d || d->state != DISPSTATE_OPEN) return ERR_CLOSEDDISPDRAW;
    int32_t x = 0, y = 0;
    GetPlatformWindowPosition(d, &x, &y);
    return Grab(x, y, d->width + d->frameWidth, d->height + d->frameHeight, out);
  }
  case SNAPDISPLAY:
    return d ? DisplayPixels(d, out) : uint32_t(ERR_MEM);
  case SNAPDESKTOP:
    return Grab(0, 0, GetPlatformAttr(nullptr, 14), GetPlatformAttr(nullptr, 15), out);
  default:
    return ERR_WRONGUSAGE;
  }
}

bool SnapshotComposesLayers(const qmDisplay *d) {
  return d && d->layersOn && !(d->doubleBuffer && d->backBuffer2) && d->bgpic;
}

uint32_t NewLayeredSnapshot(const qmDisplay *d, qmSnapshot *out) {
  *out = {};
  const int32_t w = d->bgpic->shownWidth, h = d->bgpic->shownHeight;
  qmBitmap *b = w > 0 && h > 0 ? AllocClearedBitmap(w, h) : nullptr;
  if (!b) return ERR_MEM;
  *out = {b, b, w, h};
  return 0;
}

void FreeSnapshot(qmSnapshot *s) {
  FreeBitmap(s->owned);
  *s = {};
}
