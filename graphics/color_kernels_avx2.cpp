// Vector rows of the YUV frame conversion to 32-bit pixels. Each integer quotient n / d is taken
// as truncate(n * (1 / d) + 2^-30) in doubles: n stays below 2^31, so the product is within
// 2^-44 of n / d, and a quotient that is not whole lies at least 1 / d (more than 2^-22) from
// the next integer. The nudge lifts exact quotients over the rounding of the reciprocal without
// reaching the next integer, which makes the result the integer division's, bit for bit.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "graphics/color_kernels.h"
#include "graphics/pixelformat.h"

namespace {

__attribute__((target("avx2"))) inline __m256i Quotient(__m256i n, double divisor) {
  const __m256d inv = _mm256_set1_pd(1.0 / divisor), nudge = _mm256_set1_pd(1.0 / 1073741824.0);
  __m128i lo = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(n)), inv), nudge));
  __m128i hi = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(n, 1)), inv), nudge));
  __m256i q = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
  return _mm256_min_epi32(_mm256_max_epi32(q, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

inline uint32_t Load32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

} // namespace

__attribute__((target("avx2"))) void ConvertYuvRowsAvx2(const qmYuvFrameRequest *req) {
  int32_t sr = 16, sg = 8, sb = 0;
  switch (req->format) {
  case PIXFMT_BGRX: sr = 8, sg = 16, sb = 24; break;
  case PIXFMT_RGBX: sr = 24, sg = 16, sb = 8; break;
  case PIXFMT_XBGR: sr = 0, sg = 8, sb = 16; break;
  default: break;
  }
  const __m128i shr = _mm_cvtsi32_si128(sr), shg = _mm_cvtsi32_si128(sg), shb = _mm_cvtsi32_si128(sb);
  const __m256i dup = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
  for (int32_t y = 0; y < req->height; y++) {
    const uint8_t *py = req->planeY + int64_t(y) * req->bytesPerRowY;
    const uint8_t *pu = req->planeU + int64_t(y >> 1) * req->bytesPerRowU;
    const uint8_t *pv = req->planeV + int64_t(y >> 1) * req->bytesPerRowV;
    uint32_t *out = static_cast<uint32_t *>(req->dst) + int64_t(y) * req->dstPitch;
    int32_t x = 0;
    for (; x + 8 <= req->width; x += 8) {
      const __m256i Y = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(py + x)));
      const __m256i U = _mm256_permutevar8x32_epi32(_mm256_cvtepu8_epi32(_mm_cvtsi32_si128(int(Load32(pu + x / 2)))), dup);
      const __m256i V = _mm256_permutevar8x32_epi32(_mm256_cvtepu8_epi32(_mm_cvtsi32_si128(int(Load32(pv + x / 2)))), dup);
      const __m256i nr = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(Y, _mm256_set1_epi32(1904000)),
                                                           _mm256_mullo_epi32(V, _mm256_set1_epi32(2609823))),
                                          _mm256_set1_epi32(-363703744));
      const __m256i ng = _mm256_add_epi32(
          _mm256_sub_epi32(_mm256_sub_epi32(_mm256_mullo_epi32(Y, _mm256_set1_epi32(3827562)), _mm256_mullo_epi32(U, _mm256_set1_epi32(1287801))),
                           _mm256_mullo_epi32(V, _mm256_set1_epi32(2672387))),
          _mm256_set1_epi32(447306710));
      const __m256i nb = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(Y, _mm256_set1_epi32(952000)),
                                                           _mm256_mullo_epi32(U, _mm256_set1_epi32(1649289))),
                                          _mm256_set1_epi32(-225932192));
      const __m256i px = _mm256_or_si256(_mm256_or_si256(_mm256_sll_epi32(Quotient(nr, 1635200.0), shr), _mm256_sll_epi32(Quotient(ng, 3287200.0), shg)),
                                         _mm256_sll_epi32(Quotient(nb, 817600.0), shb));
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), px);
    }
    for (; x < req->width; x++) {
      const int32_t Y = py[x], U = pu[x >> 1], V = pv[x >> 1];
      out[x] = ColorToPixel((uint32_t(YuvRed(Y, U, V)) << 16) | (uint32_t(YuvGreen(Y, U, V)) << 8) | uint32_t(YuvBlue(Y, U, V)), req->format);
    }
  }
}
