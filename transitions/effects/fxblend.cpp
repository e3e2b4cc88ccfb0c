#include "transitions/effects/fxblend.h"

#include "display/safeblt.h"
#include "graphics/color_kernels.h"
#include "graphics/pixelformat.h"
#include "graphics/transition_kernels.h"
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

void WriteFxToScreen(qmFxRequest *fx, const uint32_t *readA, const uint32_t *readB, int32_t srcX, int32_t srcY,
                     int32_t dstX, int32_t dstY, int32_t width, int32_t height, qmBitmap *work,
                     const qmFxPixelWriter &write) {
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
  if (target && !Inside(target, readA) && !Inside(target, readB)) {
    // Straight into the target's clipped rectangle, each picture read once; the blit then does
    // only what follows the pixels (output planes, scaled copy, present).
    const int32_t tp = target->bytesPerRow / 4;
    write(r.srcX, r.srcY, r.width, r.height, target->pixels + int64_t(r.dstY) * tp + r.dstX, tp);
    ShowFxPixelTarget(fx, &blt, target, &r);
    return;
  }
  if (!work) return;
  const int32_t wp = work->bytesPerRow / 4;
  write(srcX, srcY, width, height, work->pixels + int64_t(srcY) * wp + srcX, wp);
  BlitFxToScreen(fx, work, srcX, srcY, dstX, dstY, width, height, nullptr, nullptr);
}

void MixFxToScreen(qmFxRequest *fx, qmFxPixels a, qmFxPixels b, const qmMask *mask, int32_t level, int32_t srcX,
                   int32_t srcY, int32_t dstX, int32_t dstY, int32_t width, int32_t height, qmBitmap *work) {
  WriteFxToScreen(fx, a.base, b.base, srcX, srcY, dstX, dstY, width, height, work,
                  [&](int32_t x, int32_t y, int32_t w, int32_t h, uint32_t *out, int32_t outPitch) {
                    MixFxPixels(a, b, mask, level, x, y, w, h, out, outPitch);
                  });
}

void RevealFxToScreen(qmFxRequest *fx, const qmBitmap *shown, const qmBitmap *hidden, const uint8_t *map,
                      const qmMask *mask, int32_t level, qmBitmap *work) {
  WriteFxToScreen(fx, shown->pixels, hidden->pixels, 0, 0, fx->x, fx->y, fx->width, fx->height, work,
                  [&](int32_t x, int32_t y, int32_t w, int32_t h, uint32_t *out, int32_t outPitch) {
                    const int32_t sp = shown->bytesPerRow / 4, hp = hidden->bytesPerRow / 4;
                    const qmRevealRequest req{map + int64_t(y) * fx->width + x,
                                              mask ? mask->memory + int64_t(y) * mask->bytesPerRow : nullptr,
                                              shown->pixels + int64_t(y) * sp + x,
                                              hidden->pixels + int64_t(y) * hp + x,
                                              out,
                                              w,
                                              h,
                                              fx->width,
                                              mask ? mask->bytesPerRow : 0,
                                              x,
                                              sp,
                                              hp,
                                              outPitch,
                                              CompareMaskForFormat(QM_BITMAP_FORMAT)};
                    RevealPixels(&req, level);
                  });
}
