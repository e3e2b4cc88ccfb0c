#include "transitions/effects/maskcompose.h"

#include "display/safeblt.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "transitions/effects/fxblend.h"
#include "transitions/fxprims.h"
#include "transitions/fxrequest.h"

void ComposeMaskedFx(qmFxRequest *fx, const qmBitmap *image, int32_t srcX, int32_t srcY, int32_t width, int32_t height,
                     const qmMask *mask, const qmAlphaChannel *alpha, qmBitmap *work) {
  if (srcX < 0) width += srcX, srcX = 0;
  if (srcY < 0) height += srcY, srcY = 0;
  if (width > fx->width - srcX) width = fx->width - srcX;
  if (height > fx->height - srcY) height = fx->height - srcY;
  if (width < 1 || height < 1) return;
  const int32_t dstX = fx->x + srcX, dstY = fx->y + srcY;
  if (fx->realtime) {
    // The mask or alpha plane is what the layer shows. Taking a layer away, a piece of the new
    // picture itself would erase the rectangle: its pixels go from a copy.
    const qmBitmap *pixels = image;
    if (fx->layerTarget && image == fx->srcImage && work) {
      BltBitmap(image, srcX, srcY, work, srcX, srcY, width, height);
      pixels = work;
    }
    BlitFxToScreen(fx, pixels, srcX, srcY, dstX, dstY, width, height, mask, alpha);
    return;
  }
  if (!fx->oldImage || (!mask && !alpha)) {
    BlitFxToScreen(fx, image, srcX, srcY, dstX, dstY, width, height, mask, alpha);
    return;
  }
  if (!alpha) {
    // One pass: the image where the mask's bit is set, the old picture elsewhere.
    MixFxToScreen(fx, FxPixelsOf(image), FxPixelsOf(fx->oldImage), mask, 255, srcX, srcY, dstX, dstY, width, height,
                  work);
    return;
  }
  BltBitmap(fx->oldImage, srcX, srcY, work, srcX, srcY, width, height);
  OverFxPicture(fx, image, mask, alpha, work, srcX, srcY, width, height);
  BlitFxToScreen(fx, work, srcX, srcY, dstX, dstY, width, height, nullptr, nullptr);
}

void OverFxPicture(qmFxRequest *fx, const qmBitmap *image, const qmMask *mask, const qmAlphaChannel *alpha,
                   qmBitmap *work, int32_t x, int32_t y, int32_t width, int32_t height) {
  qmSafeBlt b{};
  b.src = image;
  b.dst = work;
  b.srcX = b.dstX = x;
  b.srcY = b.dstY = y;
  b.width = width;
  b.height = height;
  b.srcWidth = b.dstWidth = fx->width;
  b.srcHeight = b.dstHeight = fx->height;
  b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOCLIP;
  b.mask = mask;
  b.alpha = alpha;
  SafeBlt(fx->scene, &b);
}

const qmMask *RevealCoverage(const qmFxRequest *fx, const qmMask *reveal, int32_t x, int32_t y, int32_t width,
                             int32_t height, qmMask *shown, qmAlphaChannel *alpha) {
  const bool invert = fx->realtime && fx->layerTarget;
  const bool byAlpha = alpha && fx->srcAlpha && !fx->srcMask;
  if (!byAlpha && !invert && !fx->srcMask) return reveal;
  if (x < 0) width += x, x = 0;
  if (y < 0) height += y, y = 0;
  if (width > fx->width - x) width = fx->width - x;
  if (height > fx->height - y) height = fx->height - y;
  if (width < 1 || height < 1) return byAlpha ? nullptr : shown;
  if (byAlpha) {
    for (int32_t row = y; row < y + height; row++) {
      const uint8_t *bits = reveal->memory + int64_t(row) * reveal->bytesPerRow;
      const uint8_t *from = fx->srcAlpha->memory + int64_t(row) * fx->srcAlpha->bytesPerRow;
      uint8_t *to = alpha->memory + int64_t(row) * alpha->bytesPerRow;
      for (int32_t i = x; i < x + width; i++) to[i] = GetMaskBit(bits, i) != invert ? from[i] : 0;
    }
    return nullptr;
  }
  CopyMaskRect(reveal, x, y, shown, x, y, width, height, MASKVANILLACOPY);
  if (invert) FillMaskRect(shown, x, y, width, height, MASKXOR);
  if (fx->srcMask) CopyMaskRect(fx->srcMask, x, y, shown, x, y, width, height, MASKAND);
  return shown;
}
