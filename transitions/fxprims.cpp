#include "transitions/fxprims.h"

#include "display/bgpic.h"
#include "display/display.h"
#include "display/displaywindow.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "graphics/blit.h"
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

void DrawFxPiece(qmFxRequest *fx, int32_t px, int32_t py, int32_t width, int32_t height) {
  if (px < 0 || py < 0 || width < 1 || height < 1) return;
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
  if (fx->scaledDisplay && d->layerBuffer) FillBitmapRect(d->layerBuffer, x, y, width, height, rgb);
  else FillPlatformRect(d, x, y, width, height, rgb);
}

void FxFrameTail(qmFxRequest *fx) {
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
