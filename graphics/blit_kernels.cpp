#include "graphics/blit_kernels.h"

#include <cstring>

#include "graphics/cpu.h"
#include "graphics/pixelformat.h"

#ifdef QM_HAVE_AVX2
void MaskedCopyPixelsAvx2(const qmMaskedBlitRequest *req);
void CopyRowsAvx2(uint32_t *dst, const uint32_t *src, int32_t width, int32_t height, int32_t dstPitch, int32_t srcPitch);
#endif

namespace {

bool IsWordFormat(int32_t format) { return format >= PIXFMT_XRGB && format <= PIXFMT_XBGR; }

uint32_t ConvertMaskedWord(uint32_t v, int32_t convert) {
  switch (convert) {
  case QM_CONVERT_XRGB_TO_BGRX: return CanonicalToPixel(PIXFMT_BGRX, v);
  case QM_CONVERT_SHIFT8: return v << 8;
  default: return v;
  }
}

} // namespace

uint32_t ReorderPixel(uint32_t src, uint32_t dst, int32_t srcFormat, int32_t dstFormat) {
  if (!IsWordFormat(srcFormat) || !IsWordFormat(dstFormat)) return dst;
  // The three colour bytes move; the destination's fourth byte stays as it was.
  uint32_t colour = CanonicalToPixel(dstFormat, PixelToCanonical(srcFormat, src) & 0xFFFFFF);
  uint32_t keep = FourthByteMask(dstFormat);
  return (dst & keep) | (colour & ~keep);
}

void CopyPixels(const qmBlitRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const uint32_t *src = req->srcBase + int64_t(req->srcY) * req->srcPitch + req->srcX;
  uint32_t *dst = req->dstBase + int64_t(req->dstY) * req->dstPitch + req->dstX;
  QM_AVX2_RETURN_IF(!req->convert, CopyRowsAvx2(dst, src, req->width, req->height, req->dstPitch, req->srcPitch));
  if (!req->convert) {
    size_t rowBytes = size_t(req->width) * 4;
    for (int32_t y = 0; y < req->height; y++, src += req->srcPitch, dst += req->dstPitch)
      std::memcpy(dst, src, rowBytes);
    return;
  }
  if (!IsWordFormat(req->dstFormat) || !IsWordFormat(req->srcFormat)) return;
  for (int32_t y = 0; y < req->height; y++, src += req->srcPitch, dst += req->dstPitch)
    for (int32_t x = 0; x < req->width; x++) dst[x] = ReorderPixel(src[x], dst[x], req->srcFormat, req->dstFormat);
}

void MaskedCopyPixelsScalar(const qmMaskedBlitRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const uint32_t *src = req->srcBase + int64_t(req->srcY) * req->srcPitch + req->srcX;
  uint32_t *dst = req->dstBase + int64_t(req->dstY) * req->dstPitch + req->dstX;
  const uint8_t *mrow = req->mask + int64_t(req->srcY) * req->maskBytesPerRow;
  for (int32_t y = 0; y < req->height; y++) {
    const uint8_t *m = mrow + (req->srcX >> 3);
    uint32_t bit = 0x80u >> (req->srcX & 7);
    for (int32_t x = 0; x < req->width; x++) {
      if (*m & bit) dst[x] = ConvertMaskedWord(src[x], req->convert);
      bit >>= 1;
      if (!bit) {
        bit = 0x80;
        m++;
      }
    }
    src += req->srcPitch;
    dst += req->dstPitch;
    mrow += req->maskBytesPerRow;
  }
}

void MaskedCopyPixels(const qmMaskedBlitRequest *req) {
  QM_AVX2_RETURN_IF(req->convert == QM_CONVERT_NONE, MaskedCopyPixelsAvx2(req));
  MaskedCopyPixelsScalar(req);
}

void TemplatePixels(const qmTemplateRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  uint32_t *dst = req->dstBase + int64_t(req->dstY) * req->dstPitch + req->dstX;
  const uint8_t *mrow = req->mask + int64_t(req->maskY) * req->maskBytesPerRow;
  for (int32_t y = 0; y < req->height; y++) {
    const uint8_t *m = mrow + (req->maskX >> 3);
    uint32_t bit = 0x80u >> (req->maskX & 7);
    for (int32_t x = 0; x < req->width; x++) {
      if (*m & bit) dst[x] = req->color;
      bit >>= 1;
      if (!bit) {
        bit = 0x80;
        m++;
      }
    }
    dst += req->dstPitch;
    mrow += req->maskBytesPerRow;
  }
}

void FillPixelsRect(uint32_t *pixels, int32_t pitch, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t word) {
  if (width < 1 || height < 1) return;
  uint32_t *row = pixels + int64_t(y) * pitch + x;
  for (int32_t j = 0; j < height; j++, row += pitch)
    for (int32_t i = 0; i < width; i++) row[i] = word;
}

void CopyPixelsThroughAlpha(const qmAlphaCopyRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const uint32_t *src = req->srcBase + int64_t(req->srcY) * req->srcPitch + req->srcX;
  uint32_t *dst = req->dstBase + int64_t(req->dstY) * req->dstPitch + req->dstX;
  const uint8_t *a = req->alpha + int64_t(req->alphaY) * req->alphaBytesPerRow + req->alphaX;
  for (int32_t y = 0; y < req->height; y++) {
    for (int32_t x = 0; x < req->width; x++)
      if (a[x]) dst[x] = src[x];
    src += req->srcPitch;
    dst += req->dstPitch;
    a += req->alphaBytesPerRow;
  }
}
