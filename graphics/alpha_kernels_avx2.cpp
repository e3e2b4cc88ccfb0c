// Vector alpha-plane combine: 32 bytes per step, same rule as CombineAlphaByte.
#include <immintrin.h>

#include "graphics/alpha_kernels.h"

namespace {

// p / 255 for p = s * value <= 65025: (p + 1 + (p >> 8)) >> 8 is exact in that range.
__attribute__((target("avx2"))) __m256i Div255(__m256i p) {
  return _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(p, _mm256_set1_epi16(1)), _mm256_srli_epi16(p, 8)), 8);
}

__attribute__((target("avx2"))) __m256i ScaleBytes(__m256i s, int32_t value) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i v = _mm256_set1_epi16(int16_t(value));
  __m256i lo = Div255(_mm256_mullo_epi16(_mm256_unpacklo_epi8(s, zero), v));
  __m256i hi = Div255(_mm256_mullo_epi16(_mm256_unpackhi_epi8(s, zero), v));
  return _mm256_packus_epi16(lo, hi);
}

__attribute__((target("avx2"))) __m256i CombineVector(int32_t mode, __m256i s, __m256i d, int32_t value) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ones = _mm256_set1_epi8(-1);
  __m256i sZero = _mm256_cmpeq_epi8(s, zero);
  switch (mode) {
  case 1: return _mm256_blendv_epi8(s, d, sZero);
  case 2: return _mm256_blendv_epi8(_mm256_sub_epi8(ones, s), d, sZero);
  case 3: return _mm256_blendv_epi8(ones, d, sZero);
  case 4: return _mm256_blendv_epi8(ScaleBytes(s, value), d, sZero);
  case 5: return _mm256_blendv_epi8(_mm256_sub_epi8(ones, s), d, _mm256_or_si256(sZero, _mm256_cmpeq_epi8(d, zero)));
  case 6: return _mm256_blendv_epi8(_mm256_set1_epi8(char(value)), d, sZero);
  case 7: return _mm256_andnot_si256(_mm256_or_si256(sZero, _mm256_cmpeq_epi8(d, zero)), s);
  case 8: return _mm256_blendv_epi8(d, ones, _mm256_cmpeq_epi8(s, ones));
  default: return s;
  }
}

} // namespace

__attribute__((target("avx2"))) void CombineAlphaPixelsAvx2(const qmCombineAlphaRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const uint8_t *s = req->src + int64_t(req->srcY) * req->srcBytesPerRow + req->srcX;
  uint8_t *d = req->dst + int64_t(req->dstY) * req->dstBytesPerRow + req->dstX;
  const int32_t value = ClampAlphaValue(req->value);
  for (int32_t y = 0; y < req->height; y++, s += req->srcBytesPerRow, d += req->dstBytesPerRow) {
    int32_t x = 0;
    for (; x + 32 <= req->width; x += 32) {
        __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + x));
        __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(d + x));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + x), CombineVector(req->mode, sv, dv, value));
      }
    for (; x < req->width; x++) d[x] = CombineAlphaByte(req->mode, s[x], d[x], req->value);
  }
}
