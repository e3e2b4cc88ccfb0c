#include "display/safeblt.h"

#include <algorithm>
#include <cstdio>

#include "display/display.h"
#include "display/displayops.h"
#include "display/bgpic.h"
#include "display/displaywindow.h"
#include "display/scene.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "graphics/clipregion.h"
#include "graphics/geometry.h"
#include "display/output.h"

namespace {

// Stands in for the display while a blit only writes pixels into a given bitmap and no display
// exists yet; nothing but its output type and its (absent) planes is read, nothing written.
const qmDisplay kPixelsOnlyDisplay = [] {
  qmDisplay d{};
  d.outputType = 3;
  return d;
}();

bool IsScaled(const qmDisplay *d) { return d->scaleMode != 0 && d->scaleWidth != 0 && d->scaleHeight != 0; }

// The clip region's mask combined with the source's mask or alpha, in a plane lying over the
// source. False when the scratch plane cannot be had.
bool ClipMaskIntoScratch(qmScene *scene, const qmSafeBlt *b, const qmBlitRect &r, qmMask *plane) {
  const qmClipRegion *clip = b->clip;
  const bool alpha = b->alpha != nullptr;
  // The scratch plane's own pitch: the alpha form needs the padded alpha row length.
  const int32_t bytesPerRow = alpha ? AlphaBytesPerRow(b->srcWidth) : MaskBytesPerRow(b->srcWidth);
  const int64_t bytes = int64_t(bytesPerRow) * (int64_t(r.srcY) + r.height);
  if (bytes > UINT32_MAX) return false;
  uint8_t *scratch = GetScratchPlane(scene, uint32_t(bytes));
  if (!scratch) return false;
  *plane = qmMask{scratch, b->srcWidth, r.srcY + r.height, bytesPerRow, 1};
  const qmMask *srcPlane = alpha ? b->alpha : b->mask;
  qmMaskThroughMaskRequest req{clip->mask->memory,
                               r.srcX - r.dstX + clip->x,
                               r.srcY - r.dstY + clip->y,
                               clip->mask->bytesPerRow,
                               scratch,
                               r.srcX,
                               r.srcY,
                               bytesPerRow,
                               r.width,
                               r.height,
                               alpha ? nullptr : (b->mask ? b->mask->memory : nullptr),
                               alpha ? b->alpha->memory : nullptr,
                               srcPlane ? srcPlane->bytesPerRow : 0};
  CopyMaskThroughMask(&req);
  return true;
}

} // namespace

void BltToDisplay(const qmBitmap *bitmap, int32_t srcX, int32_t srcY, qmDisplay *display, int32_t dstX, int32_t dstY,
                  int32_t width, int32_t height, uint32_t flags) {
  if (!bitmap || !display) return;
  if ((flags & 1) && display->scaleWidth && display->scaleHeight &&
      (display->scaleWidth != bitmap->width || display->scaleHeight != bitmap->height)) {
    PresentBackBuffer(bitmap, 0, 0, display, 0, 0, bitmap->width, bitmap->height, display->scaleWidth,
                      display->scaleHeight, 0);
    return;
  }
  PresentBackBuffer(bitmap, srcX, srcY, display, dstX, dstY, width, height, 0, 0, 0);
}

namespace {

enum { RESOLVE_SKIP, RESOLVE_REDRAW, RESOLVE_GO };

// Chooses the display, the target bitmap (null: the window or only the output planes) and the
// clipped rectangle of a blit; the caller of RESOLVE_REDRAW rebuilds r from the layers.
int ResolveSafeBlt(qmScene *scene, qmSafeBlt &b, qmDisplay *&D, qmBitmap *&target, bool &toWindow, bool &present,
                   qmBlitRect &r) {
  D = scene ? scene->current : nullptr;
  if (!D) {
    if (!b.dst || !(b.flags & SAFEBLT_PIXELSONLY)) {
      std::fputs("ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!\n", stderr);
      return RESOLVE_SKIP;
    }
    D = const_cast<qmDisplay *>(&kPixelsOnlyDisplay);
    b.flags |= SAFEBLT_NOSPRITES;
  }
  if (!b.src || b.srcX < 0 || b.srcY < 0) return RESOLVE_SKIP;

  // Choose the target of a blit without a destination.
  const bool toDisplay = b.dst == nullptr;
  target = b.dst;
  toWindow = false;
  present = false;
  if (toDisplay) {
    if (D->outputType != DISPOUT_DISPLAY) {
      target = nullptr;  // only the selected planes change
    } else if (((b.flags & SAFEBLT_BACKGROUND) && !D->layersOn) || (b.flags & SAFEBLT_TOBACKGROUND)) {
      target = D->backgroundCopy;
      present = !(b.flags & SAFEBLT_NOPRESENT);
    } else if (D->layersOn && (b.flags & SAFEBLT_REDRAWLAYERS)) {
      r = qmBlitRect{b.srcX, b.srcY, b.dstX, b.dstY, b.width, b.height};
      if (!D->layerBuffer ||
          !ClipBlitRect(b.clip, &r, b.srcWidth, b.srcHeight, std::min(b.dstWidth, D->layerBuffer->width),
                        std::min(b.dstHeight, D->layerBuffer->height), !(b.flags & SAFEBLT_NOCLIP) && b.clip))
        return RESOLVE_SKIP;
      return RESOLVE_REDRAW;
    } else {
      toWindow = true;
    }
  }

  // Clip to both bitmaps whatever the caller claims their sizes are.
  b.srcWidth = std::min(b.srcWidth, b.src->width);
  b.srcHeight = std::min(b.srcHeight, b.src->height);
  if (b.mask) {
    b.srcWidth = std::min(b.srcWidth, MaskPlaneWidth(b.mask));
    b.srcHeight = std::min(b.srcHeight, PlaneHeight(b.mask));
  }
  if (b.alpha) {
    b.srcWidth = std::min(b.srcWidth, AlphaPlaneWidth(b.alpha));
    b.srcHeight = std::min(b.srcHeight, PlaneHeight(b.alpha));
  }
  if (target) {
    b.dstWidth = std::min(b.dstWidth, target->width);
    b.dstHeight = std::min(b.dstHeight, target->height);
  } else if (toWindow) {
    b.dstWidth = std::min(b.dstWidth, D->width);
    b.dstHeight = std::min(b.dstHeight, D->height);
  }
  if (D->outputMask) {
    b.dstWidth = std::min(b.dstWidth, MaskPlaneWidth(D->outputMask));
    b.dstHeight = std::min(b.dstHeight, PlaneHeight(D->outputMask));
  }
  if (D->outputAlpha) {
    b.dstWidth = std::min(b.dstWidth, AlphaPlaneWidth(D->outputAlpha));
    b.dstHeight = std::min(b.dstHeight, PlaneHeight(D->outputAlpha));
  }
  r = qmBlitRect{b.srcX, b.srcY, b.dstX, b.dstY, b.width, b.height};
  return ClipBlitRect(b.clip, &r, b.srcWidth, b.srcHeight, b.dstWidth, b.dstHeight, !(b.flags & SAFEBLT_NOCLIP) && b.clip)
             ? RESOLVE_GO
             : RESOLVE_SKIP;
}

} // namespace

qmBitmap *SafeBltPixelTarget(qmScene *scene, const qmSafeBlt *request, qmBlitRect *rect) {
  qmSafeBlt b = *request;
  qmDisplay *D;
  qmBitmap *target;
  bool toWindow, present;
  if (b.mask || b.alpha || ResolveSafeBlt(scene, b, D, target, toWindow, present, *rect) != RESOLVE_GO) return nullptr;
  if (!(b.flags & SAFEBLT_NOCLIP) && b.clip && b.clip->mask) return nullptr;
  return target;
}

void SafeBlt(qmScene *scene, const qmSafeBlt *request) {
  qmSafeBlt b = *request;
  qmDisplay *D;
  qmBitmap *target;
  bool toWindow, present;
  qmBlitRect r;
  const int resolved = ResolveSafeBlt(scene, b, D, target, toWindow, present, r);
  if (resolved == RESOLVE_SKIP) return;
  if (resolved == RESOLVE_REDRAW) {
    // The rectangle is composed anew in the layer buffer and shown; the source is not drawn.
    RedrawDisplayRect(scene, D, r.dstX, r.dstY, r.width, r.height);
    if (!(b.flags & SAFEBLT_NOPRESENT))
      BltToDisplay(D->layerBuffer, r.dstX, r.dstY, D, r.dstX, r.dstY, r.width, r.height, 1);
    return;
  }
  const bool toDisplay = request->dst == nullptr;
  const bool useClip = !(b.flags & SAFEBLT_NOCLIP) && b.clip;

  // A clip region with a mask turns a plain blit into a masked one.
  qmMask clipPlane;
  if (useClip && b.clip->mask) {
    if (!ClipMaskIntoScratch(scene, &b, r, &clipPlane)) return;
    if (b.alpha) b.alpha = &clipPlane;
    else b.mask = &clipPlane;
  }

  const bool pixelsOnly = b.flags & SAFEBLT_PIXELSONLY;
  const bool givenDst = !toDisplay;
  const bool scaledCopy = IsScaled(D) && target && target == D->backgroundCopy && D->layerBuffer;
  const uint32_t maskMode = givenDst ? uint32_t(MASKVANILLACOPY) : GetOutputMaskMode(scene);
  const uint32_t alphaTag = GetOutputAlphaValue(scene);
  const uint8_t planeAlpha = uint8_t(givenDst || alphaTag == kNoAlphaValue ? 255 : alphaTag);

  if (b.mask) {
    if (target) BltMask(b.src, r.srcX, r.srcY, target, r.dstX, r.dstY, r.width, r.height, b.mask);
    if (pixelsOnly) return;
    if (scaledCopy) BltMask(b.src, r.srcX, r.srcY, D->layerBuffer, r.dstX, r.dstY, r.width, r.height, b.mask);
    if (D->outputMask) CopyMaskRect(b.mask, r.srcX, r.srcY, D->outputMask, r.dstX, r.dstY, r.width, r.height, int32_t(maskMode));
    if (D->outputAlpha)
      FillAlphaThroughMask(b.mask, r.srcX, r.srcY, D->outputAlpha, r.dstX, r.dstY, r.width, r.height, planeAlpha);
  } else if (!b.alpha) {
    if (toWindow) {
      const bool ownBuffer = b.src == D->backgroundCopy || b.src == D->layerBuffer;
      BltToDisplay(b.src, r.srcX, r.srcY, D, r.dstX, r.dstY, r.width, r.height, ownBuffer && IsScaled(D) ? 1 : 0);
    } else if (target && !(b.flags & SAFEBLT_INTARGET)) {
      BltBitmap(b.src, r.srcX, r.srcY, target, r.dstX, r.dstY, r.width, r.height);
    }
    if (pixelsOnly) return;
    if (scaledCopy) BltBitmap(b.src, r.srcX, r.srcY, D->layerBuffer, r.dstX, r.dstY, r.width, r.height);
    if (D->outputMask) FillMaskRect(D->outputMask, r.dstX, r.dstY, r.width, r.height, int32_t(maskMode));
    if (D->outputAlpha) FillAlphaRect(D->outputAlpha, r.dstX, r.dstY, r.width, r.height, planeAlpha);
  } else {
    if (target && !D->outputAlpha) {
      BltAlphaBitmap(b.src, r.srcX, r.srcY, target, r.dstX, r.dstY, r.width, r.height, b.alpha);
      if (pixelsOnly) return;
      if (scaledCopy) BltAlphaBitmap(b.src, r.srcX, r.srcY, D->layerBuffer, r.dstX, r.dstY, r.width, r.height, b.alpha);
    } else if (target) {
      // Drawing into a selected alpha channel copies what is not fully transparent.
      CopyBitmapThroughAlpha(b.src, r.srcX, r.srcY, target, r.dstX, r.dstY, r.width, r.height, b.alpha);
    }
    if (pixelsOnly) return;
    if (D->outputMask) MaskFromAlphaRect(b.alpha, r.srcX, r.srcY, D->outputMask, r.dstX, r.dstY, r.width, r.height, int32_t(maskMode));
    if (D->outputAlpha) {
      if (givenDst || alphaTag == kNoAlphaValue)
        CombineAlphaRect(b.alpha, r.srcX, r.srcY, D->outputAlpha, r.dstX, r.dstY, r.width, r.height, 0, 0);
      else
        CombineAlphaRect(b.alpha, r.srcX, r.srcY, D->outputAlpha, r.dstX, r.dstY, r.width, r.height, 6, int32_t(alphaTag));
    }
  }

  if (present && target) {
    // Sprites shown over the background stay on top: the rectangle is composed anew with them.
    if (!(b.flags & SAFEBLT_NOSPRITES) && target == D->backgroundCopy && D->layerBuffer && D->bgpic &&
        D->bgpic->shownSprites && DisplayRectCovered(scene, D, r.dstX, r.dstY, r.width, r.height)) {
      RedrawDisplayRect(scene, D, r.dstX, r.dstY, r.width, r.height);
      BltToDisplay(D->layerBuffer, r.dstX, r.dstY, D, r.dstX, r.dstY, r.width, r.height, 1);
      return;
    }
    const qmBitmap *shown = IsScaled(D) && D->layerBuffer ? D->layerBuffer : target;
    BltToDisplay(shown, r.dstX, r.dstY, D, r.dstX, r.dstY, r.width, r.height, 1);
  }
}

void RefreshDisplayRect(qmScene *scene, int32_t srcX, int32_t srcY, qmDisplay *display, int32_t x, int32_t y,
                        int32_t width, int32_t height) {
  if (!display || !display->backgroundCopy) return;
  if (x < 0) {
    srcX -= x;
    width += x;
    x = 0;
  }
  if (y < 0) {
    srcY -= y;
    height += y;
    y = 0;
  }
  qmOutputPicture pic{};
  const int32_t w = GetOutputPicture(scene, &pic) ? pic.width : display->backgroundCopy->width;
  const int32_t h = GetOutputPicture(scene, &pic) ? pic.height : display->backgroundCopy->height;
  width = std::min<int64_t>(width, int64_t(w) - x);
  height = std::min<int64_t>(height, int64_t(h) - y);
  if (width < 1 || height < 1) return;
  if (display->layerBuffer && DisplayRectCovered(scene, display, x, y, width, height)) {
    RedrawDisplayRect(scene, display, x, y, width, height);
    BltToDisplay(display->layerBuffer, srcX, srcY, display, x, y, width, height, 1);
    return;
  }
  const qmBitmap *shown = IsScaled(display) && display->layerBuffer ? display->layerBuffer : display->backgroundCopy;
  BltToDisplay(shown, srcX, srcY, display, x, y, width, height, 1);
}
