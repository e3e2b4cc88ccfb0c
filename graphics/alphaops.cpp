#include "graphics/alphaops.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "graphics/alpha_kernels.h"
#include "graphics/blend_kernels.h"
#include "graphics/blit_kernels.h"
#include "graphics/geometry.h"

int32_t MaskPlaneWidth(const qmMask *m) { return m->width > 0 ? m->width : m->bytesPerRow * 8; }
int32_t AlphaPlaneWidth(const qmAlphaChannel *a) { return a->width > 0 ? a->width : a->bytesPerRow; }
int32_t PlaneHeight(const qmMask *m) { return m->height > 0 ? m->height : INT32_MAX; }

void CombineAlphaRect(const qmAlphaChannel *src, int32_t srcX, int32_t srcY, qmAlphaChannel *dst, int32_t dstX,
                      int32_t dstY, int32_t width, int32_t height, int32_t mode, int32_t value) {
  if (!src || !dst) return;
  qmBlitRect r{srcX, srcY, dstX, dstY, width, height};
  if (!ClipBlitRect(nullptr, &r, AlphaPlaneWidth(src), PlaneHeight(src), AlphaPlaneWidth(dst), PlaneHeight(dst), 0))
    return;
  qmCombineAlphaRequest req{src->memory, r.srcX, r.srcY, dst->memory, r.dstX, r.dstY, r.width, r.height,
                            src->bytesPerRow, dst->bytesPerRow, mode, value};
  CombineAlphaPixels(&req);
}

void FillAlphaRect(qmAlphaChannel *alpha, int32_t x, int32_t y, int32_t width, int32_t height, uint8_t value) {
  if (!alpha) return;
  qmBlitRect r{x, y, x, y, width, height};
  const int32_t w = AlphaPlaneWidth(alpha), h = PlaneHeight(alpha);
  if (!ClipBlitRect(nullptr, &r, w, h, w, h, 0)) return;
  FillBytesRect(alpha->memory, r.dstX, r.dstY, r.width, r.height, alpha->bytesPerRow, value);
}

namespace {

void MaskIntoAlpha(const qmMask *mask, int32_t maskX, int32_t maskY, qmAlphaChannel *alpha, int32_t x, int32_t y,
                   int32_t width, int32_t height, uint8_t value, bool clearOutside) {
  if (!mask || !alpha) return;
  qmBlitRect r{maskX, maskY, x, y, width, height};
  if (!ClipBlitRect(nullptr, &r, MaskPlaneWidth(mask), PlaneHeight(mask), AlphaPlaneWidth(alpha), PlaneHeight(alpha),
                    0))
    return;
  if (clearOutside) FillBytesRect(alpha->memory, r.dstX, r.dstY, r.width, r.height, alpha->bytesPerRow, 0);
  qmAlphaThroughMaskRequest req{mask->memory, r.srcX, r.srcY, mask->bytesPerRow, r.dstX, alpha->memory,
                                r.dstY, alpha->bytesPerRow, r.width, r.height, value};
  FillAlphaThroughMaskPixels(&req);
}

} // namespace

void FillAlphaThroughMask(const qmMask *mask, int32_t maskX, int32_t maskY, qmAlphaChannel *alpha, int32_t x, int32_t y,
                          int32_t width, int32_t height, uint8_t value) {
  MaskIntoAlpha(mask, maskX, maskY, alpha, x, y, width, height, value, false);
}

void MaskToAlphaRect(const qmMask *mask, int32_t maskX, int32_t maskY, qmAlphaChannel *alpha, int32_t x, int32_t y,
                     int32_t width, int32_t height, uint8_t value) {
  MaskIntoAlpha(mask, maskX, maskY, alpha, x, y, width, height, value, true);
}

void ScaleAlphaChannel(const qmAlphaChannel *src, qmAlphaChannel *dst, int32_t rows, int32_t intensity) {
  if (!src || !dst) return;
  rows = std::min({rows, PlaneHeight(src), PlaneHeight(dst)});
  if (rows < 1) return;
  ScaleAlphaBytes(src->memory, dst->memory, intensity, std::min(src->bytesPerRow, dst->bytesPerRow), rows);
}

void BltAlphaBitmap(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
                    int32_t width, int32_t height, const qmAlphaChannel *alpha) {
  if (!dst) {
    std::fputs("ERROR! BLTALPHABITMAP() CALLED WITH DST=NULL!\n", stderr);
    return;
  }
  if (!src || !alpha || src->bytesPerPixel != 4 || dst->bytesPerPixel != 4) return;
  qmBlitRect r{srcX, srcY, dstX, dstY, width, height};
  if (!ClipBlitRect(nullptr, &r, std::min(src->width, AlphaPlaneWidth(alpha)), std::min(src->height, PlaneHeight(alpha)),
                    dst->width, dst->height, 0))
    return;
  qmBlendRequest req{src->pixels, r.srcX, r.srcY, dst->pixels, r.dstX, r.dstY, r.width, r.height,
                     src->bytesPerRow / 4, dst->bytesPerRow / 4, alpha->memory, r.srcX, r.srcY, alpha->bytesPerRow,
                     dst->pixelFormat};
  BlendAlphaPixels(&req);
}

void CopyBitmapThroughAlpha(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX,
                            int32_t dstY, int32_t width, int32_t height, const qmAlphaChannel *alpha) {
  if (!src || !dst || !alpha || src->bytesPerPixel != 4 || dst->bytesPerPixel != 4) return;
  qmBlitRect r{srcX, srcY, dstX, dstY, width, height};
  if (!ClipBlitRect(nullptr, &r, std::min(src->width, AlphaPlaneWidth(alpha)), std::min(src->height, PlaneHeight(alpha)),
                    dst->width, dst->height, 0))
    return;
  qmAlphaCopyRequest req{src->pixels, r.srcX, r.srcY, r.srcX, r.srcY, src->bytesPerRow / 4, dst->pixels,
                         r.dstX, r.dstY, dst->bytesPerRow / 4, r.width, r.height, alpha->memory, alpha->bytesPerRow};
  CopyPixelsThroughAlpha(&req);
}

void MaskFromAlphaRect(const qmAlphaChannel *alpha, int32_t srcX, int32_t srcY, qmMask *mask, int32_t dstX,
                       int32_t dstY, int32_t width, int32_t height, int32_t maskMode) {
  if (!alpha || !mask) return;
  qmBlitRect r{srcX, srcY, dstX, dstY, width, height};
  if (!ClipBlitRect(nullptr, &r, AlphaPlaneWidth(alpha), PlaneHeight(alpha), MaskPlaneWidth(mask), PlaneHeight(mask),
                    0))
    return;
  qmMaskFromAlphaRequest req{r.srcX, alpha->bytesPerRow, r.dstX, mask->bytesPerRow, r.width, r.height};
  MaskFromAlphaPixels(alpha->memory, mask->memory, r.srcY, r.dstY, maskMode, &req);
}
