#include "graphics/blend_kernels.h"

#include "graphics/cpu.h"
#include "graphics/pixelformat.h"

#ifdef QM_HAVE_AVX2
void BlendAlphaPixelsAvx2(const qmBlendRequest *req);
#endif

void BlendAlphaPixelsScalar(const qmBlendRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const uint32_t *src = req->srcBase + int64_t(req->srcY) * req->srcPitch + req->srcX;
  uint32_t *dst = req->dstBase + int64_t(req->dstY) * req->dstPitch + req->dstX;
  const uint8_t *alpha = req->alpha + int64_t(req->alphaY) * req->alphaBytesPerRow + req->alphaX;
  const int32_t fmt = req->format;
  for (int32_t y = 0; y < req->height; y++) {
    for (int32_t x = 0; x < req->width; x++) {
      int32_t a = alpha[x];
      if (a == 0) continue;
      if (a == 255) {
        dst[x] = src[x];
        continue;
      }
      uint32_t s = PixelToCanonical(fmt, src[x]), d = PixelToCanonical(fmt, dst[x]);
      dst[x] = CanonicalToPixel(fmt, BlendCanonical(d, s, a));
    }
    src += req->srcPitch;
    dst += req->dstPitch;
    alpha += req->alphaBytesPerRow;
  }
}

void BlendAlphaPixels(const qmBlendRequest *req) {
  QM_AVX2_RETURN(BlendAlphaPixelsAvx2(req));
  BlendAlphaPixelsScalar(req);
}

namespace {

int32_t CoverageAt(const qmCoverageRequest *req, int32_t x, int32_t y) {
  if (req->mode == QM_COVER_ALPHA16) {
    uint32_t c = req->coverage16[int64_t(req->coverage16Y + y) * req->coverage16RowLength + req->coverage16X + x];
    return c > 255 ? 255 : int32_t(c);
  }
  int32_t c = req->coverage[int64_t(req->coverageY + y) * req->coverageBytesPerRow + req->coverageX + x];
  if (req->mode == QM_COVER_BLEND64) return c >= 64 ? 255 : c * 4; // 64 and above: full
  return c;
}

} // namespace

void AlphaCoveragePixels(const qmCoverageRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const int32_t fmt = req->format;
  const uint32_t colourWord = CanonicalToPixel(fmt, req->color & 0xFFFFFF);
  const bool useTexture = req->texture && req->mode != QM_COVER_ALPHA16;
  for (int32_t y = 0; y < req->height; y++) {
    uint32_t *dst = req->dstBase + int64_t(req->dstY + y) * req->dstPitch + req->dstX;
    uint8_t *dstAlpha = req->dstAlpha ? req->dstAlpha + int64_t(req->dstY + y) * req->dstAlphaBytesPerRow + req->dstX
                                      : nullptr;
    const uint32_t *tex =
        useTexture ? req->texture + int64_t(req->textureY + y) * req->texturePitch + req->textureX : nullptr;
    for (int32_t x = 0; x < req->width; x++) {
      int32_t c = CoverageAt(req, x, y);
      if (c == 0) continue;
      uint32_t srcWord = tex ? tex[x] : colourWord;
      switch (req->mode) {
      case QM_COVER_BLEND:
      case QM_COVER_BLEND64:
        if (c == 255)
          dst[x] = srcWord;
        else
          dst[x] = CanonicalToPixel(fmt, BlendCanonical(PixelToCanonical(fmt, dst[x]), PixelToCanonical(fmt, srcWord), c));
        break;
      case QM_COVER_ALPHA:
      case QM_COVER_ALPHA16: {
        // Without an alpha plane the target counts as opaque and no alpha is written.
        int32_t a = dstAlpha ? dstAlpha[x] : 255;
        int32_t newAlpha;
        if (a != 0) {
          dst[x] = CanonicalToPixel(fmt, BlendCanonical(PixelToCanonical(fmt, dst[x]), PixelToCanonical(fmt, srcWord), c));
          newAlpha = req->level * (a + (((c - a) * c) >> 8)) / 255;
        } else {
          dst[x] = srcWord;
          newAlpha = req->level * c / 255;
        }
        if (dstAlpha) dstAlpha[x] = uint8_t(newAlpha);
        break;
      }
      default: dst[x] = srcWord; break;
      }
    }
  }
}
