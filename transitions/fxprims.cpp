#include "transitions/fxprims.h"

#include <algorithm>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/displaywindow.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "display/displayops.h"
#include "graphics/alpha_kernels.h"
#include "graphics/alphaops.h"
#include "graphics/blit.h"
#include "layers/layer.h"
#include "layers/redraw.h"
#include "runtime/objtypes.h"
#include "transitions/effects/fxblend.h"
#include "transitions/fxtable.h"
#include "transitions/fxrequest.h"

qmPlaneSet *FxPlanes(qmFxRequest *fx) {
  if (!fx->realtime || !fx->realtimePrepared || !fx->layer || !fx->layer->current) return nullptr;
  qmPlaneSet *p = &fx->layer->current->own;
  return p->bitmap ? p : nullptr;
}

namespace {

// Cuts a copy of (sx, sy, w x h) of a picture of sw x sh to (dx, dy) of one of dw x dh, in a width
// that no position of the script can leave; false when nothing is left (the values are then
// left as they were).
bool ClipCopy(int32_t sw, int32_t sh, int32_t dw, int32_t dh, int32_t *sx, int32_t *sy, int32_t *dx, int32_t *dy,
              int32_t *w, int32_t *h) {
  int64_t x = *sx, y = *sy, tx = *dx, ty = *dy, cw = *w, ch = *h;
  if (x < 0) tx -= x, cw += x, x = 0;
  if (y < 0) ty -= y, ch += y, y = 0;
  if (tx < 0) x -= tx, cw += tx, tx = 0;
  if (ty < 0) y -= ty, ch += ty, ty = 0;
  cw = std::min({cw, int64_t(sw) - x, int64_t(dw) - tx});
  ch = std::min({ch, int64_t(sh) - y, int64_t(dh) - ty});
  if (cw < 1 || ch < 1) return false;
  *sx = int32_t(x), *sy = int32_t(y), *dx = int32_t(tx), *dy = int32_t(ty), *w = int32_t(cw), *h = int32_t(ch);
  return true;
}

// Which part of (px, py, w x h) of the planes shows: all of it, or what the source's mask or alpha
// (lying over the source at sx, sy) shows; with erase none of it.
void CoverPlanes(qmPlaneSet *p, int32_t sx, int32_t sy, int32_t px, int32_t py, int32_t w, int32_t h,
                 const qmMask *mask, const qmAlphaChannel *alpha, bool erase) {
  if (erase) {
    if (p->alpha) FillAlphaRect(p->alpha, px, py, w, h, 0);
    if (p->mask) FillMaskRect(p->mask, px, py, w, h, MASKINVISIBLE);
    return;
  }
  if (p->alpha) {
    if (mask) MaskToAlphaRect(mask, sx, sy, p->alpha, px, py, w, h, 255);
    else if (alpha) CombineAlphaRect(alpha, sx, sy, p->alpha, px, py, w, h, 0, 0);
    else FillAlphaRect(p->alpha, px, py, w, h, 255);
  }
  if (p->mask) {
    if (mask) CopyMaskRect(mask, sx, sy, p->mask, px, py, w, h, MASKVANILLACOPY);
    else if (alpha) MaskFromAlphaRect(alpha, sx, sy, p->mask, px, py, w, h, MASKVANILLACOPY);
    else FillMaskRect(p->mask, px, py, w, h, MASKVISIBLE);
  }
}

// A piece of src into the planes at (px, py) of the area, shown or (erase) made transparent; the
// rectangle written, in area coordinates, or false when none.
bool PieceIntoPlanes(qmPlaneSet *p, const qmBitmap *src, int32_t sx, int32_t sy, int32_t *px, int32_t *py, int32_t *w,
                     int32_t *h, const qmMask *mask, const qmAlphaChannel *alpha, bool erase) {
  if (!ClipCopy(src->width, src->height, p->bitmap->width, p->bitmap->height, &sx, &sy, px, py, w, h)) return false;
  CoverPlanes(p, sx, sy, *px, *py, *w, *h, mask, alpha, erase);
  if (!erase) BltBitmap(src, sx, sy, p->bitmap, *px, *py, *w, *h);
  return true;
}

// A rectangle of the area (area coordinates) changed in the planes: on the screen now, or at
// the frame's end for a decorated layer (whole) and never while frames are replayed.
void PresentPlanesRect(qmFxRequest *fx, int32_t px, int32_t py, int32_t w, int32_t h) {
  if (fx->rerender || fx->layerDecorated) return;
  PresentFxRect(fx, fx->x + px, fx->y + py, w, h);
}

// In a hide the new picture's pieces take the layer away; any other picture is drawn into it.
bool ErasesLayer(const qmFxRequest *fx, const qmBitmap *src) { return fx->layerTarget && src == fx->srcImage; }

}  // namespace

void FxScreenBlit(qmFxRequest *fx, const qmBitmap *src, int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                  int32_t width, int32_t height, const qmMask *mask, const qmAlphaChannel *alpha, qmSafeBlt *out) {
  qmScene *scene = fx->scene;
  qmSafeBlt b{};
  b.src = src;
  b.srcX = srcX;
  b.srcY = srcY;
  b.dstX = dstX;
  b.dstY = dstY;
  b.width = width;
  b.height = height;
  b.srcWidth = fx->width;
  b.srcHeight = fx->height;
  b.dstWidth = fx->screenWidth;
  b.dstHeight = fx->screenHeight;
  b.flags = fx->bltFlags;
  b.mask = mask;
  b.alpha = alpha;
  b.clip = scene->picture ? scene->picture->activeClip : nullptr;
  if (qmPlaneSet *p = FxPlanes(fx)) {
    // Into the layer's planes at the same place of the area; the part written shows from now on
    // and reaches the screen at the frame's end.
    b.dst = p->bitmap;
    b.dstX = dstX - fx->x;
    b.dstY = dstY - fx->y;
    b.dstWidth = p->bitmap->width;
    b.dstHeight = p->bitmap->height;
    b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOCLIP;
    b.clip = nullptr;
    int32_t sx = srcX, sy = srcY, px = b.dstX, py = b.dstY, w = width, h = height;
    const int32_t sw = src ? std::min(fx->width, src->width) : 0, sh = src ? std::min(fx->height, src->height) : 0;
    if (ClipCopy(sw, sh, b.dstWidth, b.dstHeight, &sx, &sy, &px, &py, &w, &h)) {
      CoverPlanes(p, sx, sy, px, py, w, h, mask, alpha, ErasesLayer(fx, src));
      AddFxPending(fx, px, py, w, h);
    }
    if (ErasesLayer(fx, src)) b.width = b.height = 0;
    *out = b;
    return;
  }
  // With layers on a scaled display the pieces go into the layer buffer, which the frame's end
  // presents whole; the background copy keeps the background alone.
  qmDisplay *d = scene->current;
  if (fx->scaledDisplay && d && d->layersOn && !(fx->bltFlags & SAFEBLT_TOBACKGROUND) && d->layerBuffer) {
    b.dst = d->layerBuffer;
    b.dstWidth = d->layerBuffer->width;
    b.dstHeight = d->layerBuffer->height;
    b.flags = SAFEBLT_PIXELSONLY;
  }
  *out = b;
}

void BlitFxToScreen(qmFxRequest *fx, const qmBitmap *src, int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                    int32_t width, int32_t height, const qmMask *mask, const qmAlphaChannel *alpha) {
  if (qmPlaneSet *p = FxPlanes(fx)) {
    int32_t px = dstX - fx->x, py = dstY - fx->y;
    if (src && PieceIntoPlanes(p, src, srcX, srcY, &px, &py, &width, &height, mask, alpha, ErasesLayer(fx, src)))
      PresentPlanesRect(fx, px, py, width, height);
    return;
  }
  qmSafeBlt b;
  FxScreenBlit(fx, src, srcX, srcY, dstX, dstY, width, height, mask, alpha, &b);
  SafeBlt(fx->scene, &b);
}

void BlitFxPiece(qmFxRequest *fx, int32_t px, int32_t py, int32_t width, int32_t height, uint32_t flags) {
  qmPlaneSet *p = fx->layer && fx->layer->current ? &fx->layer->current->own : nullptr;
  if (!p || !p->bitmap || !fx->srcImage || px < 0 || py < 0) return;
  if (!PieceIntoPlanes(p, fx->srcImage, px, py, &px, &py, &width, &height, fx->srcMask, fx->srcAlpha,
                       (flags & FXPIECE_ERASE) != 0))
    return;
  if (!(flags & FXPIECE_NOPRESENT)) PresentPlanesRect(fx, px, py, width, height);
}

void AddFxPending(qmFxRequest *fx, int32_t px, int32_t py, int32_t width, int32_t height) {
  if (width < 1 || height < 1) return;
  if (fx->pendingWidth < 1) {
    fx->pendingX = px, fx->pendingY = py, fx->pendingWidth = width, fx->pendingHeight = height;
    return;
  }
  const int32_t x2 = std::max(fx->pendingX + fx->pendingWidth, px + width);
  const int32_t y2 = std::max(fx->pendingY + fx->pendingHeight, py + height);
  fx->pendingX = std::min(fx->pendingX, px);
  fx->pendingY = std::min(fx->pendingY, py);
  fx->pendingWidth = x2 - fx->pendingX;
  fx->pendingHeight = y2 - fx->pendingY;
}

bool RenderEmulatedFxPicture(qmFxRequest *fx) {
  const qmBGPic *emu = fx->emuBGPic;
  if (!emu || !fx->srcImage) return false;
  qmBitmap *whole = AllocClearedBitmap(emu->shownWidth, emu->shownHeight);
  if (!whole) return false;
  // Composed at the area's place, then cut out: the picture lies where the screen will show it.
  int32_t x = fx->x, y = fx->y, w = fx->width, h = fx->height;
  if (ClipRectToPicture(whole->width, whole->height, &x, &y, &w, &h))
    Redraw(fx->scene, nullptr, fx->emuBGPic, whole, x, y, w, h, REDRAW_FROMSHOWN | REDRAW_NOSPRITES);
  FillBitmapRect(fx->srcImage, 0, 0, fx->width, fx->height, 0);
  BltBitmapClipped(whole, fx->x, fx->y, fx->srcImage, 0, 0, fx->width, fx->height);
  FreeBitmap(whole);
  return true;
}

uint32_t UpdateFxSources(qmFxRequest *fx, uint32_t flags) {
  uint32_t did = 0;
  qmScene *scene = fx->scene;
  qmDisplay *d = scene->current;
  qmBGPic *pic = d ? d->bgpic : nullptr;
  if ((flags & FXSOURCE_OLD) && pic && pic->layersChanged && fx->oldImage && d->layerBuffer) {
    // The screen under the area without the layer, composed anew.
    qmLayer *l = fx->layer;
    const int32_t was = l ? l->hidden : 0;
    if (l) l->hidden = 1;
    qmBitmap *whole = AllocClearedBitmap(pic->shownWidth, pic->shownHeight);
    if (whole) {
      int32_t x = fx->x, y = fx->y, w = fx->width, h = fx->height;
      if (ClipRectToPicture(whole->width, whole->height, &x, &y, &w, &h))
        Redraw(scene, d, pic, whole, x, y, w, h, REDRAW_NOSPRITES);
      BltBitmapClipped(whole, fx->x, fx->y, fx->oldImage, 0, 0, fx->width, fx->height);
      FreeBitmap(whole);
      pic->layersChanged = 0;
      did |= FXSOURCE_OLD;
    }
    if (l) l->hidden = was;
  }
  if ((flags & FXSOURCE_NEW) && fx->emuBGPic && fx->emuBGPic->layersChanged && RenderEmulatedFxPicture(fx)) {
    fx->emuBGPic->layersChanged = 0;
    did |= FXSOURCE_NEW;
  }
  return did;
}

bool ResetFxPlanes(qmFxRequest *fx) {
  qmPlaneSet *p = FxPlanes(fx);
  if (!p) return false;
  if (fx->layerTarget) BlitFxPiece(fx, 0, 0, fx->width, fx->height, FXPIECE_NOPRESENT);
  else CoverPlanes(p, 0, 0, 0, 0, p->bitmap->width, p->bitmap->height, nullptr, nullptr, true);
  fx->pendingWidth = fx->pendingHeight = 0;
  return true;
}

void FillAlphaFromPlanes(qmAlphaChannel *alpha, const qmMask *mask, const qmAlphaChannel *srcAlpha, int32_t width,
                         int32_t height) {
  if (!alpha) return;
  if (mask) MaskToAlphaRect(mask, 0, 0, alpha, 0, 0, width, height, 255);
  else if (srcAlpha) CombineAlphaRect(srcAlpha, 0, 0, alpha, 0, 0, width, height, 0, 0);
  else FillAlphaRect(alpha, 0, 0, width, height, 255);
}

void MixFxPictures(qmFxRequest *fx, int32_t level, qmBitmap *work) {
  if (qmPlaneSet *p = FxPlanes(fx)) {
    // The layer's own picture over what lies under it, at the share of the one shown at the end.
    const int32_t share = fx->layerTarget ? 255 - level : level;
    if (p->alpha) {
      FillAlphaFromPlanes(p->alpha, fx->srcMask, fx->srcAlpha, fx->width, fx->height);
      if (share < 255) ScaleAlphaChannel(p->alpha, p->alpha, fx->height, share);
    }
    PresentPlanesRect(fx, 0, 0, fx->width, fx->height);
    return;
  }
  const qmBitmap *n = fx->srcImage, *o = fx->oldImage;
  if (level < 255 && o)
    MixFxToScreen(fx, FxPixelsOf(o), FxPixelsOf(n), nullptr, 255 - level, 0, 0, fx->x, fx->y, fx->width, fx->height, work);
  else
    BlitFxToScreen(fx, n, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr);
}

void PresentFxRect(qmFxRequest *fx, int32_t x, int32_t y, int32_t width, int32_t height) {
  qmScene *scene = fx->scene;
  qmDisplay *d = scene->current;
  if (!d || !d->layerBuffer) return;
  if (qmLayer *l = fx->layer) {
    qmLayerState *s = l->current;
    // The filters run again over what the planes show now.
    if (fx->realtimePrepared && s->filtered.bitmap) FreePlaneSet(&s->filtered);
    if (fx->layerDecorated) {
      GetLayerBounds(d, l, s, &x, &y, &width, &height);
      // The shadow falls from the part shown so far: made anew from the planes.
      if (l->shadow.on && s->shadowAlpha) {
        FreeAlphaChannel(s->shadowAlpha);
        s->shadowAlpha = nullptr;
      }
    }
    if (!fx->noBorderFade && IsAlphaFx(fx->effect)) {
      // Blends fade the border and the shadow with the layer's own share.
      l->borderFade = l->shadowFade = fx->borderLevel + 1;
    } else if (!fx->noBorderFade && fx->stepCount > 0) {
      // 1 + 0..255: the border's share of its opacity (0 would mean no fade at all).
      int32_t level = int32_t(int64_t(fx->frameNo) * 255 / fx->stepCount);
      if (level > 255) level = 255;
      if (fx->layerTarget) level = 255 - level;
      l->borderFade = level + 1;
    }
  }
  if (!ClipRectToPicture(fx->screenWidth, fx->screenHeight, &x, &y, &width, &height)) return;
  // While the script batches its layer changes, the frame waits with them for the end of the batch.
  if (d->outputType == DISPOUT_BGPIC) return RefreshRect(scene, x, y, width, height);
  RedrawDisplayRect(scene, d, x, y, width, height);
  if (fx->scaledDisplay) return;  // the frame's end presents the buffer
  BltToDisplay(d->layerBuffer, x, y, d, x, y, width, height, 0);
}

void ShowFxPixelTarget(qmFxRequest *fx, qmSafeBlt *b, qmBitmap *target, const qmBlitRect *r) {
  b->src = target;
  b->srcX = b->dstX = r->dstX;
  b->srcY = b->dstY = r->dstY;
  b->width = r->width;
  b->height = r->height;
  b->srcWidth = target->width;
  b->srcHeight = target->height;
  b->flags |= SAFEBLT_INTARGET;
  SafeBlt(fx->scene, b);
}

void DrawFxPiece(qmFxRequest *fx, int32_t px, int32_t py, int32_t width, int32_t height) {
  if (px < 0 || py < 0 || width < 1 || height < 1) return;
  // A layer taken away through its planes loses the piece; one brought in gains it.
  if (fx->realtime) return BlitFxPiece(fx, px, py, width, height, fx->layerTarget ? uint32_t(FXPIECE_ERASE) : 0u);
  BlitFxToScreen(fx, fx->srcImage, px, py, fx->x + px, fx->y + py, width, height, fx->srcMask, fx->srcAlpha);
}

void ClearFxRect(qmFxRequest *fx, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rgb) {
  qmDisplay *d = fx->scene->current;
  if (!d) return;
  x += fx->x;
  y += fx->y;
  // Cut to the screen: the window and the buffer take nothing outside it.
  if (x < 0) width += x, x = 0;
  if (y < 0) height += y, y = 0;
  if (width > fx->screenWidth - x) width = fx->screenWidth - x;
  if (height > fx->screenHeight - y) height = fx->screenHeight - y;
  if (width < 1 || height < 1) return;
  if (qmPlaneSet *p = FxPlanes(fx)) {
    int32_t sx = 0, sy = 0, px = x - fx->x, py = y - fx->y;
    if (!ClipCopy(fx->width, fx->height, p->bitmap->width, p->bitmap->height, &sx, &sy, &px, &py, &width, &height))
      return;
    FillBitmapRect(p->bitmap, px, py, width, height, rgb);
    CoverPlanes(p, 0, 0, px, py, width, height, nullptr, nullptr, false);
    PresentPlanesRect(fx, px, py, width, height);
    return;
  }
  if (fx->scaledDisplay && d->layerBuffer) FillBitmapRect(d->layerBuffer, x, y, width, height, rgb);
  else FillPlatformRect(d, x, y, width, height, rgb);
}

void FxFrameTail(qmFxRequest *fx) {
  // What the routine wrote into the planes itself reaches the screen now.
  if (fx->pendingWidth > 0) {
    PresentPlanesRect(fx, fx->pendingX, fx->pendingY, fx->pendingWidth, fx->pendingHeight);
    fx->pendingWidth = fx->pendingHeight = 0;
  }
  // The border's fade follows the frame: the whole layer once more (on a scaled display into
  // the buffer presented below).
  if (!fx->rerender && fx->realtime && fx->layerDecorated) PresentFxRect(fx, fx->x, fx->y, fx->width, fx->height);
  if (!fx->rerender && fx->scaledDisplay) {
    qmDisplay *d = fx->scene->current;
    if (d && d->layerBuffer && d->outputType != DISPOUT_BGPIC)
      BltToDisplay(d->layerBuffer, 0, 0, d, 0, 0, fx->screenWidth, fx->screenHeight, 1);
  }
  fx->frameNo++;
}

void BltBitmapClipped(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
                      int32_t width, int32_t height) {
  if (!src || !dst) return;
  if (ClipCopy(src->width, src->height, dst->width, dst->height, &srcX, &srcY, &dstX, &dstY, &width, &height))
    BltBitmap(src, srcX, srcY, dst, dstX, dstY, width, height);
}
