// Vector alpha blend. Per byte, d + (((s - d) * a) >> 8) equals (s * a + d * (256 - a)) >> 8,
// whose terms never pass 65280, so 16-bit lanes give the scalar result bit for bit.
#include <immintrin.h>

#include "graphics/blend_kernels.h"
#include "graphics/pixelformat.h"

namespace {

// Eight pixels blended by their eight alpha bytes (a8, pixel 0 lowest), the fourth byte cleared
// in blended words.
__attribute__((target("avx2"))) __m256i Blend8(__m256i s, __m256i d, uint64_t a8, __m256i colourBytes) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i k256 = _mm256_set1_epi16(256);
  // Shuffles of the eight alpha bytes (in every 64 bits): each pixel's value in its four bytes
  // (pixels 0-3 in the low half, 4-7 in the high), and in the 16-bit lanes the low and high
  // unpacks of the pixels give (pixels 0, 1 / 4, 5 and 2, 3 / 6, 7).
  const __m256i spreadBytes = _mm256_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3,  //
                                               4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7);
  const __m256i spreadLo = _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 1, -1, 1, -1, 1, -1, 1, -1,  //
                                            4, -1, 4, -1, 4, -1, 4, -1, 5, -1, 5, -1, 5, -1, 5, -1);
  const __m256i spreadHi = _mm256_setr_epi8(2, -1, 2, -1, 2, -1, 2, -1, 3, -1, 3, -1, 3, -1, 3, -1,  //
                                            6, -1, 6, -1, 6, -1, 6, -1, 7, -1, 7, -1, 7, -1, 7, -1);
  const __m256i a = _mm256_set1_epi64x(int64_t(a8));
  const __m256i aBytes = _mm256_shuffle_epi8(a, spreadBytes);
  const __m256i aLo = _mm256_shuffle_epi8(a, spreadLo), aHi = _mm256_shuffle_epi8(a, spreadHi);
  __m256i sLo = _mm256_unpacklo_epi8(s, zero), sHi = _mm256_unpackhi_epi8(s, zero);
  __m256i dLo = _mm256_unpacklo_epi8(d, zero), dHi = _mm256_unpackhi_epi8(d, zero);
  __m256i rLo = _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_mullo_epi16(sLo, aLo), _mm256_mullo_epi16(dLo, _mm256_sub_epi16(k256, aLo))), 8);
  __m256i rHi = _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_mullo_epi16(sHi, aHi), _mm256_mullo_epi16(dHi, _mm256_sub_epi16(k256, aHi))), 8);
  __m256i r = _mm256_and_si256(_mm256_packus_epi16(rLo, rHi), colourBytes);
  r = _mm256_blendv_epi8(r, s, _mm256_cmpeq_epi8(aBytes, _mm256_set1_epi8(-1)));
  return _mm256_blendv_epi8(r, d, _mm256_cmpeq_epi8(aBytes, zero));
}

}  // namespace

__attribute__((target("avx2"))) void BlendAlphaPixelsAvx2(const qmBlendRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const uint32_t *src = req->srcBase + int64_t(req->srcY) * req->srcPitch + req->srcX;
  uint32_t *dst = req->dstBase + int64_t(req->dstY) * req->dstPitch + req->dstX;
  const uint8_t *alpha = req->alpha + int64_t(req->alphaY) * req->alphaBytesPerRow + req->alphaX;
  const __m256i colourBytes = _mm256_set1_epi32(int32_t(~FourthByteMask(req->format)));
  // The last pixels of a row (fewer than eight) through masked loads and stores, which touch
  // nothing past the row; their alpha bytes past the row read as 0.
  const int32_t tail = req->width & 7;
  const __m256i tailLanes = _mm256_cmpgt_epi32(_mm256_set1_epi32(tail), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  for (int32_t y = 0; y < req->height; y++) {
    int32_t x = 0;
    for (; x + 8 <= req->width; x += 8) {
      uint64_t a8;
      __builtin_memcpy(&a8, alpha + x, 8);
      if (a8 == 0) continue;
      __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x));
      if (a8 == ~uint64_t(0)) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), s);
        continue;
      }
      __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(dst + x));
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), Blend8(s, d, a8, colourBytes));
    }
    if (tail) {
      uint64_t a8 = 0;
      __builtin_memcpy(&a8, alpha + x, size_t(tail));
      if (a8) {
        const __m256i s = _mm256_maskload_epi32(reinterpret_cast<const int *>(src + x), tailLanes);
        const __m256i d = _mm256_maskload_epi32(reinterpret_cast<const int *>(dst + x), tailLanes);
        _mm256_maskstore_epi32(reinterpret_cast<int *>(dst + x), tailLanes, Blend8(s, d, a8, colourBytes));
      }
    }
    src += req->srcPitch;
    dst += req->dstPitch;
    alpha += req->alphaBytesPerRow;
  }
}
