#include "display/doublebuffer.h"

#include <algorithm>

#include "display/bgpic.h"
#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/displaywindow.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "graphics/bitmapops.h"
#include "display/safeblt.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"

bool DisplayScales(const qmDisplay *d) {
  return (d->scaleAuto || d->scaleLayer) && d->scaleWidth > 0 && d->scaleHeight > 0;
}

namespace {

int32_t PictureWidth(const qmDisplay *d) { return d->bgpic ? d->bgpic->unscaledWidth : d->width; }
int32_t PictureHeight(const qmDisplay *d) { return d->bgpic ? d->bgpic->unscaledHeight : d->height; }

}  // namespace

uint32_t BeginDoubleBufferCore(qmScene *scene, qmDisplay *d, int32_t) {
  switch (d->outputType) {
  case DISPOUT_BRUSH:
    if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
    return d->selectBGPic && d->selectBGPic->selectedType == QMTYPE_ANIM ? ERR_SELECTANIM : ERR_SELECTBRUSH;
  case DISPOUT_BGPIC: return ERR_SELECTBG;
  case DISPOUT_MASK: return ERR_SELECTMASK;
  case DISPOUT_ALPHA: return ERR_SELECTALPHACHANNEL;
  default: break;
  }
  qmBGPic *pic = d->bgpic;
  if (d->layersOn || (pic && pic->layers.tailPred != &pic->layers)) return ERR_LAYERSOFF;
  if (pic && pic->shownSprites) return ERR_NOSPRITES;
  if (pic && (pic->shown.mask || pic->shown.alpha)) return ERR_DBTRANSWIN;

  const int32_t w = PictureWidth(d), h = PictureHeight(d);
  const int32_t pw = DisplayScales(d) ? d->scaleWidth : w, ph = DisplayScales(d) ? d->scaleHeight : h;
  qmBitmap *present = AllocHardwareBitmap(pw, ph);
  qmBitmap *draw = present ? AllocBitmap(w, h) : nullptr;
  if (draw && !d->doubleBufferBGPic) d->doubleBufferBGPic = static_cast<qmBGPic *>(MemAlloc(sizeof(qmBGPic), 1));
  if (!draw || !d->doubleBufferBGPic || ResetDirtyRects(d) != 0) {
    FreeBitmap(present);
    FreeBitmap(draw);
    return ERR_MEM;
  }
  DropHeldBackBuffer(d, d->backBuffer1);
  FreeBitmap(d->backBuffer1);
  FreeBitmap(d->backBuffer2);
  // A whole Flip passes over all of both buffers.
  for (qmBitmap *b : {present, draw}) MemAdviseLargePages(b->pixels, uint64_t(b->bytesPerRow) * uint64_t(b->height));
  FillBitmapRect(present, 0, 0, pw, ph, 0);
  FillBitmapRect(draw, 0, 0, w, h, 0);
  d->backBuffer1 = present;
  d->backBuffer2 = draw;
  qmBGPic *rec = d->doubleBufferBGPic;
  const qmObjectId self{0, reinterpret_cast<uintptr_t>(rec)};
  InitSelectRecord(rec, QMTYPE_BRUSH, nullptr, 0, &self, {draw, nullptr, nullptr}, w, h, 1);
  scene->picture = rec;
  d->outputType = DISPOUT_BRUSH;
  d->doubleBuffer = 1;
  d->hardwareDoubleBuffer = 0;  // no accelerated bitmaps on this platform
  d->outputBitmap = draw;
  d->outputMask = nullptr;
  d->outputAlpha = nullptr;
  return 0;
}

namespace {

// The size of the present buffer's picture that reaches the window.
void PresentSize(const qmDisplay *d, int32_t *w, int32_t *h) {
  if (DisplayScales(d)) {
    *w = d->scaleWidth;
    *h = d->scaleHeight;
    return;
  }
  const qmBGPic *rec = d->doubleBufferBGPic;
  *w = std::min(PictureWidth(d), rec ? rec->unscaledWidth : d->backBuffer1->width);
  *h = std::min(PictureHeight(d), rec ? rec->unscaledHeight : d->backBuffer1->height);
}

}  // namespace

uint32_t FlipCore(qmDisplay *d) {
  if (!d->doubleBuffer) return ERR_NODOUBLEBUFFER;
  qmBitmap *draw = d->backBuffer2, *present = d->backBuffer1;
  const int32_t w = draw->width, h = draw->height;
  if (DisplayScales(d)) {
    DropHeldBackBuffer(d, present);
    if (uint32_t code = ScaleBitmap(draw, nullptr, nullptr, 0, 0, present, w, h, present->width, present->height,
                                    int32_t(d->smoothScale), nullptr))
      return code;
  } else if (AllDirty(d)) {
    // Where the window shows the whole buffer, only the window is written: it holds the picture
    // for the present buffer until something needs it there.
    int32_t shownWidth, shownHeight;
    PresentSize(d, &shownWidth, &shownHeight);
    if (shownWidth == w && shownHeight == h && PresentBackBufferHeld(draw, d, 0, 0, w, h, present)) {
      d->dirtyCount = 0;
      return 0;
    }
    DropHeldBackBuffer(d, present);
    BltBitmap(draw, 0, 0, present, 0, 0, w, h);
  } else {
    MergeDirtyRects(d);
    for (int32_t i = 0; i < d->dirtyCount; i++) {
      const qmDirtyRect &r = d->dirtyRects[i];
      if (r.x1 == kMergedRect) continue;
      const int32_t x0 = std::max(r.x1, 0), y0 = std::max(r.y1, 0);
      const int32_t x1 = std::min(r.x2, w - 1), y1 = std::min(r.y2, h - 1);
      if (x1 < x0 || y1 < y0) continue;  // nothing of it lies on the picture
      // One reading of the rectangle fills the present buffer and the window where it can.
      const int32_t rw = x1 - x0 + 1, rh = y1 - y0 + 1;
      if (PresentBackBufferKeeping(draw, d, x0, y0, rw, rh, present)) continue;
      RestoreHeldBackBuffer(d);
      BltBitmap(draw, x0, y0, present, x0, y0, rw, rh);
      BltToDisplay(present, x0, y0, d, x0, y0, rw, rh, 0);
    }
    d->dirtyCount = 0;
    return 0;
  }
  PresentDoubleBuffer(d, 0, 0);
  d->dirtyCount = 0;
  return 0;
}

void PresentDoubleBuffer(qmDisplay *d, int32_t whole, uint32_t flags) {
  const qmBitmap *present = d->backBuffer1;
  if (!present) return;
  const bool scaled = DisplayScales(d);
  int32_t w, h;
  PresentSize(d, &w, &h);
  if (whole || scaled || !d->dirtyRects || AllDirty(d)) {
    if (!scaled && RepushHeldBackBuffer(d, present, 0, 0, w, h)) return;
    RestoreHeldBackBuffer(d);
    BltToDisplay(present, 0, 0, d, 0, 0, w, h, flags);
    return;
  }
  RestoreHeldBackBuffer(d);
  for (int32_t i = 0; i < d->dirtyCount; i++) {
    const qmDirtyRect &r = d->dirtyRects[i];
    if (r.x1 == kMergedRect || r.x2 < r.x1 || r.y2 < r.y1) continue;
    BltToDisplay(present, r.x1, r.y1, d, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1, flags);
  }
}

uint32_t ResizePresentBuffer(qmDisplay *d, int32_t width, int32_t height) {
  qmBitmap *b = AllocHardwareBitmap(width, height);
  if (!b) return ERR_MEM;
  DropHeldBackBuffer(d, d->backBuffer1);
  FreeBitmap(d->backBuffer1);
  FillBitmapRect(b, 0, 0, width, height, 0);
  d->backBuffer1 = b;
  PresentDoubleBuffer(d, 1, 0);
  return 0;
}

uint32_t EndDoubleBufferCore(qmScene *scene, qmDisplay *d) {
  if (!d->doubleBuffer) return ERR_NODOUBLEBUFFER;
  qmBitmap *draw = d->backBuffer2;
  if (d->backgroundCopy)
    BltBitmap(draw, 0, 0, d->backgroundCopy, 0, 0, std::min(draw->width, d->backgroundCopy->width),
              std::min(draw->height, d->backgroundCopy->height));
  if (DisplayScales(d) && d->layerBuffer)
    BltBitmap(draw, 0, 0, d->layerBuffer, 0, 0, std::min(draw->width, d->layerBuffer->width),
              std::min(draw->height, d->layerBuffer->height));
  DropHeldBackBuffer(d, d->backBuffer1);
  FreeBitmap(d->backBuffer1);
  FreeBitmap(d->backBuffer2);
  d->backBuffer1 = d->backBuffer2 = nullptr;
  scene->picture = d->bgpic;
  d->outputBitmap = nullptr;
  d->outputMask = nullptr;
  d->outputAlpha = nullptr;
  d->outputType = DISPOUT_DISPLAY;
  d->doubleBuffer = 0;
  d->hardwareDoubleBuffer = 0;
  return 0;
}
