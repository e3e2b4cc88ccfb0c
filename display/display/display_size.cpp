// Display sizes: script and window size changes under the three scale modes, fitting to the
// screen with letterbox bars, and the refresh that brings the window up to date.
#include <cstdio>

#include "display/bgpic.h"
#include "display/display/displaylib.h"
#include "display/displayops.h"
#include "display/doublebuffer.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "graphics/bitmapops.h"
#include "display/safeblt.h"
#include "platform/desktop.h"
#include "platform/window.h"
#include "display/displaywindow.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"

namespace {

bool Shaped(const qmBGPic *pic) { return pic && (pic->shown.mask || pic->shown.alpha); }

void NotifySatellites(qmDisplay *d) {
  int32_t size[2] = {d->width, d->height};
  for (qmDisplayHook *h = d->satellites; h; h = h->next)
    if (h->function) h->function(h, 4, size, h->userData);
}

// A double buffer's present buffer at the size the window shows, holding the draw buffer's
// picture (scaled when the display scales).
uint32_t FitPresentBuffer(qmDisplay *d) {
  if (!d->doubleBuffer || !d->backBuffer1 || !d->backBuffer2) return 0;
  qmBitmap *draw = d->backBuffer2;
  const bool scaled = DisplayScales(d);
  const int32_t w = scaled ? d->scaleWidth : draw->width, h = scaled ? d->scaleHeight : draw->height;
  if (d->backBuffer1->width != w || d->backBuffer1->height != h)
    if (uint32_t code = ResizePresentBuffer(d, w, h)) return code;
  DropHeldBackBuffer(d, d->backBuffer1);  // written whole below
  if (!scaled) {
    BltBitmap(draw, 0, 0, d->backBuffer1, 0, 0, w, h);
    return 0;
  }
  return ScaleBitmap(draw, nullptr, nullptr, 0, 0, d->backBuffer1, draw->width, draw->height, w, h,
                     int32_t(d->smoothScale), nullptr);
}

void ResetTextCursor(qmDisplay *d) {
  const int32_t right = (d->bgpic ? d->bgpic->unscaledWidth : d->width) - 1;
  // While a Select* runs, the cursor it gives back is reset.
  if (d->selectSave[0]) {
    d->selectSave[1] = d->selectSave[2] = d->selectSave[3] = 0;
    d->selectSave[4] = uint32_t(right);
    return;
  }
  d->cursorX = d->cursorY = d->textMarginLeft = 0;
  d->textMarginRight = right;
}

}  // namespace

qmLetterbox LetterboxSplit(int32_t W, int32_t H, int32_t w, int32_t h, bool keep) {
  qmLetterbox l{W, H, 0, 0, 0, 0};
  if (!keep || w < 1 || h < 1) return l;
  l.scaleWidth = W;
  l.scaleHeight = int32_t(double(h) / w * W);
  if (H < l.scaleHeight) {
    l.scaleWidth = int32_t(double(w) / h * H);
    l.scaleHeight = H;
  }
  l.left = (W - l.scaleWidth) / 2;
  l.right = W - l.scaleWidth - l.left;
  l.top = (H - l.scaleHeight) / 2;
  l.bottom = H - l.scaleHeight - l.top;
  return l;
}

namespace {

// The display's picture takes the scaled size and the bars around it.
void ApplyLetterbox(qmDisplay *d, const qmLetterbox &l) {
  d->scaleWidth = l.scaleWidth;
  d->scaleHeight = l.scaleHeight;
  d->marginLeft = l.left;
  d->marginTop = l.top;
  d->marginRight = l.right;
  d->marginBottom = l.bottom;
}

}  // namespace

uint32_t ResizeDisplayCore(VmState *L, qmDisplay *d, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags,
                           int32_t smooth) {
  qmBGPic *pic = d->bgpic;
  if (!pic) return ERR_WRONGUSAGE;
  if (w < 1 || h < 1) return ERR_BADDIMENSIONS;
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  const bool script = flags & RESIZE_SCRIPT, noWindow = flags & RESIZE_NOWINDOW;
  const int32_t oldW = d->width, oldH = d->height;
  const bool scaleSize = d->scaleWidth && d->scaleHeight;
  bool autoShape = false;

  if (script && d->scaleLayer && scaleSize) {
    // The logical size changes; the window keeps its size.
    if (w != pic->unscaledWidth || h != pic->unscaledHeight) {
      if (uint32_t code = SetBGPicSize(pic, w, h, smooth)) return code;
      if (uint32_t code = ScaleBGPicForDisplay(GetScene(L), d, pic)) return code;
      if (uint32_t code = PrepareDisplayBuffers(d, pic, 1)) return code;
      if (!noWindow) RefreshDisplayCore(L, d, 0);
    }
  } else {
    bool placed = false;
    if (script) {
      if (!(d->scaleAuto && scaleSize)) {
        if (x != kKeepPosition) d->x = x;
        if (y != kKeepPosition) d->y = y;
        d->width = w;
        d->height = h;
        ResolveDisplayPosition(L, d);
        placed = true;
      }
    } else {
      d->width = w;
      d->height = h;
      if (d->scaleAuto || d->scaleLayer) {
        const qmLetterbox l = LetterboxSplit(w, h, pic->unscaledWidth, pic->unscaledHeight,
                                             (d->flags & DISPF_KEEPPROPORTIONS) && !Shaped(pic));
        ApplyLetterbox(d, l);
      }
    }
    if (!Shaped(pic) && placed) {
      if (!IsDisplaySizeSupported()) {
        char size[32];
        std::snprintf(size, sizeof size, "%dx%d", w, h);
        SetErrorArgument(size);
        return ERR_DISPLAYSIZE;
      }
      if (!noWindow) {
        SetPlatformWindowBounds(d);
        PrepareDisplayRegions(d);
        UpdatePlatformWindow(d);
      }
    }
    if (!script && d->scaleLayer) {
      if (d->scaleWidth == pic->unscaledWidth && d->scaleHeight == pic->unscaledHeight) ResetBGPicScale(GetScene(L), d, pic);
      else if (uint32_t code = ScaleBGPicForDisplay(GetScene(L), d, pic)) return code;
    } else if (!script && d->scaleAuto) {
      autoShape = true;
      FreeMask(d->scaledMask);
      FreeAlphaChannel(d->scaledAlpha);
      d->scaledMask = d->scaledAlpha = nullptr;
      d->scaleX = double(d->scaleWidth) / pic->unscaledWidth;
      d->scaleY = double(d->scaleHeight) / pic->unscaledHeight;
      // At exactly 1.0 nothing is scaled; a shaped picture's window shape is scaled with it.
      if ((d->scaleX != 1.0 || d->scaleY != 1.0) && Shaped(pic)) {
        qmScaleOutputs o{};
        if (uint32_t code = ScaleBitmap(pic->shown.bitmap, pic->shown.mask, pic->shown.alpha, 0, 0, nullptr,
                                        pic->shownWidth, pic->shownHeight, d->scaleWidth, d->scaleHeight,
                                        int32_t(d->smoothScale), &o))
          return code;
        FreeBitmap(o.bitmap);
        d->scaledMask = o.mask;
        d->scaledAlpha = o.alpha;
      }
    } else {
      if (uint32_t code = SetBGPicSize(pic, w, h, smooth)) return code;
      if (d->scaleAuto && scaleSize) {
        d->scaleX = double(d->scaleWidth) / pic->unscaledWidth;
        d->scaleY = double(d->scaleHeight) / pic->unscaledHeight;
      }
    }
    if (!autoShape || !d->backgroundCopy) {
      if (uint32_t code = PrepareDisplayBuffers(d, pic, 1)) return code;
    }
    if (d->doubleBuffer && d->scaleAuto && scaleSize)
      if (uint32_t code = ResizePresentBuffer(d, d->scaleWidth, d->scaleHeight)) return code;
    if (!noWindow && d->state == DISPSTATE_OPEN) {
      if (Shaped(pic)) {
        CloseDisplayWindow(L, d);
        if (uint32_t code = OpenDisplayWindow(L, d, int32_t(d->activateOnOpen))) return code;
      } else {
        DrawLetterboxBars(GetScene(L), d);
        if (d->doubleBuffer) PresentDoubleBuffer(d, 1, 64);
        else BltToDisplay(GetBGPicRefreshSource(GetScene(L), d, pic), 0, 0, d, 0, 0, pic->shownWidth, pic->shownHeight, 73);
      }
    }
  }
  if (script || !(d->scaleAuto || d->scaleLayer)) ResetTextCursor(d);
  // Placed again at the new scale, and drawn again over the picture just shown.
  TellVideosOfDisplay(L, d, DISPVIDEO_RESCALE);
  if (!(flags & RESIZE_NONOTIFY) && (d->width != oldW || d->height != oldH)) NotifySatellites(d);
  return 0;
}

uint32_t FitDisplayToScreen(VmState *L, qmDisplay *d) {
  if (uint32_t code = PrepareDisplayBuffers(d, d->bgpic, 0)) return code;
  if (!d->scaleAuto && !d->scaleLayer) return 0;
  int32_t winW = d->scaleWidth, winH = d->scaleHeight;
  if (d->flags & DISPF_FITSCALE) {
    int32_t area[4];
    if ((d->flags & DISPF_BORDERLESS) && d->private1) {
      area[0] = area[1] = 0;
      area[2] = GetPlatformAttr(nullptr, 14);
      area[3] = GetPlatformAttr(nullptr, 15);
    } else {
      GetPlatformAttr(area, 23);
    }
    d->x = area[0];
    d->y = area[1];
    const int32_t W = area[2] - d->frameWidth, H = area[3] - d->frameHeight;
    const bool keep = (d->flags & DISPF_KEEPPROPORTIONS) && !Shaped(d->bgpic);
    const qmLetterbox l = LetterboxSplit(W, H, d->bgpic->unscaledWidth, d->bgpic->unscaledHeight, keep);
    ApplyLetterbox(d, l);
    winW = keep ? W : l.scaleWidth;
    winH = keep ? H : l.scaleHeight;
  }
  if (d->scaleWidth < 1 || d->scaleHeight < 1 || winW < 1 || winH < 1) return 0;
  return ResizeDisplayCore(L, d, 0, 0, winW, winH, RESIZE_NOWINDOW, int32_t(d->smoothScale));
}

qmDesktopFit CaptureDesktopFit(const qmDisplay *d) {
  return {0,
          d->flags,
          d->scaleAuto,
          d->scaleMode,
          d->width,
          d->height,
          d->scaleWidth,
          d->scaleHeight,
          d->marginLeft,
          d->marginTop,
          d->marginRight,
          d->marginBottom,
          d->scaleX,
          d->scaleY};
}

uint32_t FitDisplayToDesktop(VmState *L, qmDisplay *d, const qmDesktopFit &before, int32_t W, int32_t H) {
  if (!d->bgpic) return 0;
  d->desktopFit = before;
  d->desktopFit.active = 1;
  // The platform may have centred an unscaled picture; the split below places it instead.
  d->marginLeft = d->marginTop = d->marginRight = d->marginBottom = 0;
  if (!d->scaleAuto && !d->scaleLayer) {
    d->scaleAuto = 1;
    d->scaleMode = 1;
    d->flags |= DISPF_SCALEAUTO;
  }
  d->flags |= DISPF_KEEPPROPORTIONS;
  // As when the user sizes the window: the split, the scale factors, the refresh buffers.
  if (uint32_t code = ResizeDisplayCore(L, d, 0, 0, W, H, RESIZE_NOWINDOW | RESIZE_NONOTIFY, int32_t(d->smoothScale)))
    return code;
  return FitPresentBuffer(d);
}

void RestoreDisplayFromDesktop(VmState *L, qmDisplay *d) {
  if (!d->desktopFit.active) return;
  const qmDesktopFit f = d->desktopFit;
  d->desktopFit.active = 0;
  const bool wasScaled = f.scaleAuto || d->scaleLayer;
  d->flags = f.flags;
  d->scaleAuto = f.scaleAuto;
  d->scaleMode = f.scaleMode;
  if (wasScaled) {
    // The window goes back to its size and the display's own split follows from it.
    ResizeDisplayCore(L, d, 0, 0, f.width, f.height, RESIZE_NOWINDOW | RESIZE_NONOTIFY, int32_t(d->smoothScale));
  } else {
    FreeMask(d->scaledMask);
    FreeAlphaChannel(d->scaledAlpha);
    d->scaledMask = d->scaledAlpha = nullptr;
  }
  d->width = f.width;
  d->height = f.height;
  d->scaleWidth = f.scaleWidth;
  d->scaleHeight = f.scaleHeight;
  d->marginLeft = f.marginLeft;
  d->marginTop = f.marginTop;
  d->marginRight = f.marginRight;
  d->marginBottom = f.marginBottom;
  d->scaleX = f.scaleX;
  d->scaleY = f.scaleY;
  FitPresentBuffer(d);
}

void DrawLetterboxBars(const qmScene *scene, qmDisplay *d) {
  const int32_t l = d->marginLeft, t = d->marginTop, r = d->marginRight, b = d->marginBottom;
  const int32_t W = d->width, H = d->height;
  // A full screen shows the backfill in the bars; it is made at the window's size.
  const qmBitmap *fill = scene && scene->fullScreen ? scene->backfillPicture : nullptr;
  if (fill && fill->width == W && fill->height == H) {
    const int32_t bars[4][4] = {{0, 0, l, H}, {0, 0, W, t}, {W - r, 0, r, H}, {0, H - b, W, b}};
    for (const auto &bar : bars)
      if (bar[2] > 0 && bar[3] > 0)
        PresentBackBuffer(fill, bar[0], bar[1], d, bar[0] - l, bar[1] - t, bar[2], bar[3], 0, 0, 0);
    return;
  }
  if (l) FillPlatformRect(d, -l, -t, l, H, 0);
  if (t) FillPlatformRect(d, -l, -t, W, t, 0);
  if (r) FillPlatformRect(d, W - l - r, -t, r, H, 0);
  if (b) FillPlatformRect(d, -l, H - t - b, W, b, 0);
}

void RefreshDisplayCore(VmState *L, qmDisplay *d, uint32_t flags) {
  DrawLetterboxBars(GetScene(L), d);
  if (!d->doubleBuffer && !d->doubleBufferPaused) {
    qmBGPic *pic = d->bgpic;
    if (!pic || !d->layerBuffer) return;
    RedrawDisplayRect(GetScene(L), d, 0, 0, pic->shownWidth, pic->shownHeight);
    BltToDisplay(d->layerBuffer, 0, 0, d, 0, 0, pic->shownWidth, pic->shownHeight, flags | 9);
  } else {
    PresentDoubleBuffer(d, 1, flags);
  }
  TellVideosOfDisplay(L, d, DISPVIDEO_REDRAW);
}
