// Vector rows of the YUV frame conversion to 32-bit pixels. Each channel is an integer quotient
// n / d with n = c Y + (the chroma terms), n below 2^31 in magnitude; it is taken as
// truncate(Y * (c / d) + ((chroma terms) / d + 2^-30)) in doubles. Every product and sum there
// is within 2^-42 of the exact value, and a quotient that is not whole lies at least 1 / d (more
// than 2^-22) from the next integer; the nudge of 2^-30 lifts whole quotients over the rounding
// without reaching the next integer, so the result is the integer division's, bit for bit.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "graphics/color_kernels.h"
#include "graphics/pixelformat.h"

namespace {

constexpr double kNudge = 1.0 / 1073741824.0;

// Two groups of four pixels from four chroma terms, each term serving two neighbours.
__attribute__((target("avx2"))) inline __m256i Channel8(__m256d ylo, __m256d yhi, __m256d yScale, __m256d chroma) {
  const __m256d clo = _mm256_permute4x64_pd(chroma, 0x50), chi = _mm256_permute4x64_pd(chroma, 0xFA);
  const __m128i lo = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(ylo, yScale), clo));
  const __m128i hi = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(yhi, yScale), chi));
  const __m256i q = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
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
  const __m256d invR = _mm256_set1_pd(1.0 / 1635200.0), invG = _mm256_set1_pd(1.0 / 3287200.0), invB = _mm256_set1_pd(1.0 / 817600.0);
  const __m256d yR = _mm256_set1_pd(1904000.0 / 1635200.0), yG = _mm256_set1_pd(3827562.0 / 3287200.0), yB = _mm256_set1_pd(952000.0 / 817600.0);
  const __m256d nudge = _mm256_set1_pd(kNudge);
  for (int32_t y = 0; y < req->height; y++) {
    const uint8_t *py = req->planeY + int64_t(y) * req->bytesPerRowY;
    const uint8_t *pu = req->planeU + int64_t(y >> 1) * req->bytesPerRowU;
    const uint8_t *pv = req->planeV + int64_t(y >> 1) * req->bytesPerRowV;
    uint32_t *out = static_cast<uint32_t *>(req->dst) + int64_t(y) * req->dstPitch;
    int32_t x = 0;
    for (; x + 8 <= req->width; x += 8) {
      const __m256i Y = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(py + x)));
      const __m256d ylo = _mm256_cvtepi32_pd(_mm256_castsi256_si128(Y)), yhi = _mm256_cvtepi32_pd(_mm256_extracti128_si256(Y, 1));
      const __m256d U = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(int(Load32(pu + x / 2)))));
      const __m256d V = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(int(Load32(pv + x / 2)))));
      // The chroma terms are whole numbers, exact in doubles.
      const __m256d cr = _mm256_sub_pd(_mm256_mul_pd(V, _mm256_set1_pd(2609823.0)), _mm256_set1_pd(363703744.0));
      const __m256d cg = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(U, _mm256_set1_pd(-1287801.0)), _mm256_mul_pd(V, _mm256_set1_pd(2672387.0))),
                                       _mm256_set1_pd(447306710.0));
      const __m256d cb = _mm256_sub_pd(_mm256_mul_pd(U, _mm256_set1_pd(1649289.0)), _mm256_set1_pd(225932192.0));
      const __m256d tr = _mm256_add_pd(_mm256_mul_pd(cr, invR), nudge), tg = _mm256_add_pd(_mm256_mul_pd(cg, invG), nudge);
      const __m256d tb = _mm256_add_pd(_mm256_mul_pd(cb, invB), nudge);
      const __m256i px = _mm256_or_si256(_mm256_or_si256(_mm256_sll_epi32(Channel8(ylo, yhi, yR, tr), shr), _mm256_sll_epi32(Channel8(ylo, yhi, yG, tg), shg)),
                                         _mm256_sll_epi32(Channel8(ylo, yhi, yB, tb), shb));
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), px);
    }
    for (; x < req->width; x++) {
      const int32_t Y = py[x], U = pu[x >> 1], V = pv[x >> 1];
      out[x] = ColorToPixel((uint32_t(YuvRed(Y, U, V)) << 16) | (uint32_t(YuvGreen(Y, U, V)) << 8) | uint32_t(YuvBlue(Y, U, V)), req->format);
    }
  }
}
