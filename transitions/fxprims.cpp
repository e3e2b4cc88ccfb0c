#include "transitions/fxprims.h"

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
#include "transitions/fxtable.h"
#include "transitions/fxrequest.h"

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
  qmSafeBlt b;
  FxScreenBlit(fx, src, srcX, srcY, dstX, dstY, width, height, mask, alpha, &b);
  SafeBlt(fx->scene, &b);
}

void BlitFxPiece(qmFxRequest *fx, int32_t px, int32_t py, int32_t width, int32_t height, uint32_t flags) {
  qmLayerState *s = fx->layer ? fx->layer->current : nullptr;
  if (!s || !s->own.bitmap || px < 0 || py < 0) return;
  // The layer's planes are of the area's size: the piece is cut to them.
  if (width > fx->width - px) width = fx->width - px;
  if (height > fx->height - py) height = fx->height - py;
  if (width < 1 || height < 1) return;
  qmPlaneSet &p = s->own;
  if (flags & FXPIECE_ERASE) {
    if (p.alpha) FillAlphaRect(p.alpha, px, py, width, height, 0);
    else if (p.mask) FillMaskRect(p.mask, px, py, width, height, MASKINVISIBLE);
  } else {
    if (fx->srcMask && p.mask) CopyMaskRect(fx->srcMask, px, py, p.mask, px, py, width, height, MASKVANILLACOPY);
    else if (fx->srcAlpha && p.alpha) CombineAlphaRect(fx->srcAlpha, px, py, p.alpha, px, py, width, height, 0, 0);
    else if (p.mask) FillMaskRect(p.mask, px, py, width, height, MASKVISIBLE);
    BltBitmap(fx->srcImage, px, py, p.bitmap, px, py, width, height);
  }
  if (!(flags & FXPIECE_NOPRESENT)) PresentFxRect(fx, fx->x + px, fx->y + py, width, height);
}

void PresentFxRect(qmFxRequest *fx, int32_t x, int32_t y, int32_t width, int32_t height) {
  qmScene *scene = fx->scene;
  qmDisplay *d = scene->current;
  if (!d || !d->layerBuffer) return;
  if (qmLayer *l = fx->layer) {
    qmLayerState *s = l->current;
    if (fx->layerDecorated) {
      GetLayerBounds(d, l, s, &x, &y, &width, &height);
      // The shadow falls from the part shown so far: made anew from the planes.
      if (l->shadow.on && s->shadowAlpha) {
        FreeAlphaChannel(s->shadowAlpha);
        s->shadowAlpha = nullptr;
      }
    }
    if (!fx->noBorderFade && fx->stepCount > 0) {
      // 1 + 0..255: the border's share of its opacity (0 would mean no fade at all).
      int32_t level = int32_t(int64_t(fx->frameNo) * 255 / fx->stepCount);
      if (level > 255) level = 255;
      if (fx->layerTarget) level = 255 - level;
      l->borderFade = level + 1;
    }
  }
  if (!ClipRectToPicture(fx->screenWidth, fx->screenHeight, &x, &y, &width, &height)) return;
  RedrawDisplayRect(scene, d, x, y, width, height);
  if (fx->scaledDisplay) return;  // the frame's end presents the buffer
  BltToDisplay(d->layerBuffer, x, y, d, x, y, width, height, 0);
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
  if (fx->realtime && fx->layer && fx->layer->current->own.bitmap) {
    FillBitmapRect(fx->layer->current->own.bitmap, x - fx->x, y - fx->y, width, height, rgb);
    PresentFxRect(fx, x, y, width, height);
    return;
  }
  if (fx->scaledDisplay && d->layerBuffer) FillBitmapRect(d->layerBuffer, x, y, width, height, rgb);
  else FillPlatformRect(d, x, y, width, height, rgb);
}

void FxFrameTail(qmFxRequest *fx) {
  // The border's fade follows the frame: the whole layer once more (on a scaled display into
  // the buffer presented below).
  if (!fx->rerender && fx->realtime && fx->layerDecorated) PresentFxRect(fx, fx->x, fx->y, fx->width, fx->height);
  if (!fx->rerender && fx->scaledDisplay) {
    qmDisplay *d = fx->scene->current;
    if (d && d->layerBuffer) BltToDisplay(d->layerBuffer, 0, 0, d, 0, 0, fx->screenWidth, fx->screenHeight, 1);
  }
  fx->frameNo++;
}

void BltBitmapClipped(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
                      int32_t width, int32_t height) {
  if (!src || !dst) return;
  if (srcX < 0) { dstX -= srcX; width += srcX; srcX = 0; }
  if (srcY < 0) { dstY -= srcY; height += srcY; srcY = 0; }
  if (dstX < 0) { srcX -= dstX; width += dstX; dstX = 0; }
  if (dstY < 0) { srcY -= dstY; height += dstY; dstY = 0; }
  if (width > src->width - srcX) width = src->width - srcX;
  if (width > dst->width - dstX) width = dst->width - dstX;
  if (height > src->height - srcY) height = src->height - srcY;
  if (height > dst->height - dstY) height = dst->height - dstY;
  if (width < 1 || height < 1) return;
  BltBitmap(src, srcX, srcY, dst, dstX, dstY, width, height);
}
