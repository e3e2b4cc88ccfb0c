#include "transitions/effects/maskcompose.h"

#include "display/safeblt.h"
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
  if (fx->realtime || !fx->oldImage || (!mask && !alpha)) {
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
  qmSafeBlt b{};
  b.src = image;
  b.dst = work;
  b.srcX = b.dstX = srcX;
  b.srcY = b.dstY = srcY;
  b.width = width;
  b.height = height;
  b.srcWidth = b.dstWidth = fx->width;
  b.srcHeight = b.dstHeight = fx->height;
  b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOCLIP;
  b.mask = mask;
  b.alpha = alpha;
  SafeBlt(fx->scene, &b);
  BlitFxToScreen(fx, work, srcX, srcY, dstX, dstY, width, height, nullptr, nullptr);
}
