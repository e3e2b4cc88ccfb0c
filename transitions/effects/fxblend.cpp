#include "transitions/effects/fxblend.h"

#include "display/safeblt.h"
#include "graphics/color_kernels.h"
#include "transitions/fxprims.h"
#include "transitions/fxrequest.h"

namespace {

bool Inside(const qmBitmap *b, const uint32_t *p) {
  return p >= b->pixels && p < b->pixels + int64_t(b->height) * (b->bytesPerRow / 4);
}

}  // namespace

void MixFxPixels(qmFxPixels a, qmFxPixels b, const qmMask *mask, int32_t level, int32_t srcX, int32_t srcY,
                 int32_t width, int32_t height, uint32_t *out, int32_t outPitch) {
  qmMixRequest mix{a.base + int64_t(srcY) * a.pitch + srcX,
                   const_cast<uint32_t *>(b.base + int64_t(srcY) * b.pitch + srcX),
                   mask ? mask->memory + int64_t(srcY) * mask->bytesPerRow : nullptr,
                   srcX,
                   width,
                   height,
                   level,
                   QM_BITMAP_FORMAT,
                   a.pitch,
                   b.pitch,
                   mask ? mask->bytesPerRow : 0,
                   out,
                   outPitch};
  MixPixels(&mix);
}

void MixFxToScreen(qmFxRequest *fx, qmFxPixels a, qmFxPixels b, const qmMask *mask, int32_t level, int32_t srcX,
                   int32_t srcY, int32_t dstX, int32_t dstY, int32_t width, int32_t height, qmBitmap *work) {
  // Only the area's pictures are read: the rectangle is cut to the area.
  if (srcX < 0) dstX -= srcX, width += srcX, srcX = 0;
  if (srcY < 0) dstY -= srcY, height += srcY, srcY = 0;
  if (width > fx->width - srcX) width = fx->width - srcX;
  if (height > fx->height - srcY) height = fx->height - srcY;
  if (width < 1 || height < 1) return;
  qmSafeBlt blt;
  FxScreenBlit(fx, work, srcX, srcY, dstX, dstY, width, height, nullptr, nullptr, &blt);
  qmBlitRect r;
  qmBitmap *target = fx->realtime ? nullptr : SafeBltPixelTarget(fx->scene, &blt, &r);
  if (target && !Inside(target, a.base) && !Inside(target, b.base)) {
    // Straight into the target's clipped rectangle, each picture read once; the blit then does
    // only what follows the pixels (output planes, scaled copy, present).
    const int32_t tp = target->bytesPerRow / 4;
    MixFxPixels(a, b, mask, level, r.srcX, r.srcY, r.width, r.height, target->pixels + int64_t(r.dstY) * tp + r.dstX,
                tp);
    ShowFxPixelTarget(fx, &blt, target, &r);
    return;
  }
  if (!work) return;
  const int32_t wp = work->bytesPerRow / 4;
  MixFxPixels(a, b, mask, level, srcX, srcY, width, height, work->pixels + int64_t(srcY) * wp + srcX, wp);
  BlitFxToScreen(fx, work, srcX, srcY, dstX, dstY, width, height, nullptr, nullptr);
}
