#include "graphics/alpha_kernels.h"

#include "graphics/cpu.h"

#ifdef QM_HAVE_AVX2
void CombineAlphaPixelsAvx2(const qmCombineAlphaRequest *req);
#endif

void ColorKeyMaskPixels(const uint32_t *pixels, uint8_t *mask, int32_t width, int32_t height,
                        int32_t maskBytesPerRow, uint32_t key, int32_t pixelPitch, uint32_t compareMask) {
  if (width < 1 || height < 1) return;
  for (int32_t y = 0; y < height; y++, pixels += pixelPitch, mask += maskBytesPerRow) {
    // Whole bytes at once: every bit of the rectangle is written, set or clear.
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) {
      uint8_t byte = 0;
      for (int32_t i = 0; i < 8; i++) byte = uint8_t((byte << 1) | ((pixels[x + i] & compareMask) != key));
      mask[x >> 3] = byte;
    }
    for (; x < width; x++) SetMaskBit(mask, x, (pixels[x] & compareMask) != key);
  }
}

void ReplaceColorsPixels(int32_t width, int32_t height, const uint32_t *pairs, uint32_t *pixels, int32_t pixelPitch,
                         uint32_t compareMask) {
  if (width < 1 || height < 1 || pairs[0] == 0xFFFFFFFFu) return;
  for (int32_t y = 0; y < height; y++, pixels += pixelPitch)
    for (int32_t x = 0; x < width; x++) {
      uint32_t p = pixels[x];
      for (const uint32_t *pair = pairs; pair[0] != 0xFFFFFFFFu; pair += 2)
        if ((p & compareMask) == pair[0]) p = pair[1];
      pixels[x] = p;
    }
}

void InvertPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pixelPitch) {
  if (width < 1 || height < 1) return;
  for (int32_t y = 0; y < height; y++, pixels += pixelPitch)
    for (int32_t x = 0; x < width; x++) pixels[x] = ~pixels[x];
}

void InvertBytes(uint8_t *bytes, int32_t rows, int32_t bytesPerRow) {
  if (rows < 1 || bytesPerRow < 1) return;
  for (int32_t y = 0; y < rows; y++, bytes += bytesPerRow)
    for (int32_t x = 0; x < bytesPerRow; x++) bytes[x] = uint8_t(~bytes[x]);
}

void ArgbToAlphaChannel(const uint32_t *pixels, int32_t width, int32_t height, int32_t pixelPitch, uint8_t *alpha,
                        int32_t alphaBytesPerRow) {
  if (width < 1 || height < 1) return;
  for (int32_t y = 0; y < height; y++, pixels += pixelPitch, alpha += alphaBytesPerRow)
    for (int32_t x = 0; x < width; x++) alpha[x] = uint8_t(pixels[x] >> 24);
}

void FillBytesRect(uint8_t *plane, int32_t x, int32_t y, int32_t width, int32_t height, int32_t bytesPerRow,
                   uint8_t value) {
  if (width < 1 || height < 1) return;
  uint8_t *row = plane + int64_t(y) * bytesPerRow + x;
  for (int32_t j = 0; j < height; j++, row += bytesPerRow)
    for (int32_t i = 0; i < width; i++) row[i] = value;
}

void FillAlphaThroughMaskPixels(const qmAlphaThroughMaskRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const uint8_t *m = req->mask + int64_t(req->maskY) * req->maskBytesPerRow;
  uint8_t *a = req->alpha + int64_t(req->alphaY) * req->alphaBytesPerRow + req->alphaX;
  for (int32_t y = 0; y < req->height; y++, m += req->maskBytesPerRow, a += req->alphaBytesPerRow)
    for (int32_t x = 0; x < req->width; x++)
      if (GetMaskBit(m, req->maskX + x)) a[x] = req->value;
}

void ScaleAlphaBytes(const uint8_t *src, uint8_t *dst, int32_t intensity, int32_t bytesPerRow, int32_t rows) {
  if (rows < 1 || bytesPerRow < 1) return;
  int64_t n = int64_t(rows) * bytesPerRow;
  for (int64_t i = 0; i < n; i++) dst[i] = uint8_t(src[i] * intensity / 255);
}

uint8_t CombineAlphaByte(int32_t mode, uint8_t s, uint8_t d, int32_t value) {
  value = ClampAlphaValue(value);
  switch (mode) {
  case 1: return s ? s : d;
  case 2: return s ? uint8_t(255 - s) : d;
  case 3: return s ? 255 : d;
  case 4: return s ? uint8_t(s * value / 255) : d;
  case 5: return (s && d) ? uint8_t(255 - s) : d;
  case 6: return s ? uint8_t(value) : d;
  case 7: return (s && d) ? s : 0;
  case 8: return s == 255 ? 255 : d;
  default: return s;
  }
}

void CombineAlphaPixelsScalar(const qmCombineAlphaRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const uint8_t *s = req->src + int64_t(req->srcY) * req->srcBytesPerRow + req->srcX;
  uint8_t *d = req->dst + int64_t(req->dstY) * req->dstBytesPerRow + req->dstX;
  for (int32_t y = 0; y < req->height; y++, s += req->srcBytesPerRow, d += req->dstBytesPerRow)
    for (int32_t x = 0; x < req->width; x++) d[x] = CombineAlphaByte(req->mode, s[x], d[x], req->value);
}

void CombineAlphaPixels(const qmCombineAlphaRequest *req) {
  QM_AVX2_RETURN(CombineAlphaPixelsAvx2(req));
  CombineAlphaPixelsScalar(req);
}

void MaskFromAlphaPixels(const uint8_t *src, uint8_t *dstMask, int32_t srcRow, int32_t dstRow, int32_t maskMode,
                         const qmMaskFromAlphaRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const uint8_t *s = src + int64_t(srcRow) * req->srcBytesPerRow + req->srcX;
  uint8_t *m = dstMask + int64_t(dstRow) * req->dstBytesPerRow;
  for (int32_t y = 0; y < req->height; y++, s += req->srcBytesPerRow, m += req->dstBytesPerRow)
    for (int32_t x = 0; x < req->width; x++) {
      bool opaque = s[x] == 255;
      int32_t dx = req->dstX + x;
      bool d = GetMaskBit(m, dx);
      bool n = d;
      switch (maskMode) {
      case MASKVISIBLE:
      case MASKVANILLACOPY: n = opaque; break;
      case MASKINVISIBLE: n = !opaque; break;
      case MASKXOR: n = opaque ? !d : d; break;
      case MASKOR: n = opaque ? true : d; break;
      default: break;
      }
      if (n != d) SetMaskBit(m, dx, n);
    }
}

void CopyMaskThroughMask(const qmMaskThroughMaskRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  for (int32_t j = 0; j < req->height; j++) {
    const uint8_t *clip = req->clip + int64_t(req->y - req->clipY + j) * req->clipBytesPerRow;
    uint8_t *dst = req->dst + int64_t(req->y + j) * req->dstBytesPerRow;
    const uint8_t *srcRow = nullptr;
    if (req->srcAlpha)
      srcRow = req->srcAlpha + int64_t(req->y + j) * req->srcBytesPerRow;
    else if (req->srcMask)
      srcRow = req->srcMask + int64_t(req->y + j) * req->srcBytesPerRow;
    for (int32_t i = 0; i < req->width; i++) {
      bool inside = GetMaskBit(clip, req->x - req->clipX + i);
      int32_t x = req->x + i;
      if (req->srcAlpha)
        dst[x] = inside ? srcRow[x] : 0;
      else
        SetMaskBit(dst, x, inside && (!srcRow || GetMaskBit(srcRow, x)));
    }
  }
}
