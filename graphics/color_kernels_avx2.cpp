// Vector rows of the YUV frame conversion to 32-bit pixels, sixteen pixels per step. Each channel
// is the integer quotient n / d of YuvRed, YuvGreen and YuvBlue, limited to 0..255, computed
// exactly by reducing it first:
//
// Red and blue. c Y / d = 85 Y / 73 in both (1904000 = 22400 * 85, 1635200 = 22400 * 73; 952000
// = 11200 * 85, 817600 = 11200 * 73). With the chroma term t = g a + b, g the common factor and
// 0 <= b < g, n = g (85 Y + a) + b, so floor(n / d) = floor((85 Y + a) / 73): b / g < 1 cannot
// carry a whole multiple of 73. n <= 0 gives 0 and n >= 256 d gives 255 exactly when that
// quotient is <= 0 or >= 256, so the channel is floor((85 Y + a) / 73) limited to 0..255, in
// 16-bit lanes: 85 Y + a is summed with signed saturation (any sum from 73 * 256 up stays there)
// and divided by a multiply-high with 28729 / 2^21, which is floor(m / 73) for 0 <= m < 73 * 256,
// at least 256 above that and negative below 0.
//
// Green. Both factors are even (gcd 2): floor(n / 3287200) = floor(m / 1643600) with m = 1913781 Y
// + a, a = floor(t / 2), in 32-bit lanes. A float estimate of m / 1643600 - 1/2 is within 2^-13 of
// its exact value, so it truncates to the quotient or one less; one exact integer remainder
// r = m - q d decides the step up (r >= d).
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "graphics/color_kernels.h"
#include "graphics/pixelformat.h"

namespace {

constexpr int32_t kGreenY = 1913781, kGreenD = 1643600; // YuvGreen's factor of Y and divisor, halved
constexpr int32_t kDiv73 = 28729, kDiv73Shift = 5;      // floor(m / 73) = (m * 28729) >> 21
static_assert(2 * kGreenY == 3827562 && 2 * kGreenD == 3287200);
static_assert(1904000 == 22400 * 85 && 1635200 == 22400 * 73 && 952000 == 11200 * 85 && 817600 == 11200 * 73);
// 28729 / 2^21 exceeds 1 / 73 by less than 1 / (73 * 73 * 256): exact below 73 * 256.
static_assert(int64_t(kDiv73) * 73 > (int64_t(1) << 21) && (int64_t(kDiv73) * 73 - (int64_t(1) << 21)) * 73 * 256 < (int64_t(1) << 21));

// floor(t / g) of chroma terms t below 2^29 in magnitude and g at most 22400: t / g is within 2^-37
// of the double product below, and a quotient that is not whole lies at least 1 / g (over 2^-15)
// from the next integer, so the nudge of 2^-20 lifts whole quotients over the rounding without
// reaching the next integer.
__attribute__((target("avx2"))) inline __m128i FloorQuotient(__m256d t, double g) {
  const __m256d q = _mm256_add_pd(_mm256_mul_pd(t, _mm256_set1_pd(1.0 / g)), _mm256_set1_pd(1.0 / 1048576.0));
  return _mm256_cvttpd_epi32(_mm256_round_pd(q, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
}

// floor((factor c - offset) / g) of eight samples c, each repeated for the two pixels it serves,
// in 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i Reduced16(__m256i c, double factor, double offset, double g) {
  // Factor times sample minus offset is a whole number below 2^30 in magnitude: exact in doubles.
  const __m256d lo = _mm256_sub_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(c)), _mm256_set1_pd(factor)), _mm256_set1_pd(offset));
  const __m256d hi = _mm256_sub_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(c, 1)), _mm256_set1_pd(factor)), _mm256_set1_pd(offset));
  const __m128i a = _mm_packs_epi32(FloorQuotient(lo, g), FloorQuotient(hi, g)); // within -20173..17378
  return _mm256_set_m128i(_mm_unpackhi_epi16(a, a), _mm_unpacklo_epi16(a, a));
}

// The reduced chroma terms of eight samples, each repeated for the two pixels it serves: red and
// blue for sixteen pixels in 16-bit lanes; green for pixels 0..7 and 8..15 exactly (32-bit) and as
// the float estimate's share, a / 1643600 - 1/2.
struct Chroma16 {
  __m256i red, blue, green[2];
  __m256 greenEstimate[2];
};

__attribute__((target("avx2"))) inline Chroma16 ChromaOf(const uint8_t *pu, const uint8_t *pv) {
  const __m256i U = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(pu)));
  const __m256i V = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(pv)));
  Chroma16 c;
  c.red = Reduced16(V, 2609823.0, 363703744.0, 22400.0);
  c.blue = Reduced16(U, 1649289.0, 225932192.0, 11200.0);
  // The green chroma term lies within -562541230..447306710: exact in 32-bit lanes.
  const __m256i t = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(U, _mm256_set1_epi32(-1287801)), _mm256_mullo_epi32(V, _mm256_set1_epi32(-2672387))),
                                     _mm256_set1_epi32(447306710));
  const __m256i a = _mm256_srai_epi32(t, 1);
  const __m256 estimate = _mm256_sub_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(a), _mm256_set1_ps(1.0f / float(kGreenD))), _mm256_set1_ps(0.5f));
  const __m256i first = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3), second = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
  c.green[0] = _mm256_permutevar8x32_epi32(a, first), c.green[1] = _mm256_permutevar8x32_epi32(a, second);
  c.greenEstimate[0] = _mm256_permutevar8x32_ps(estimate, first), c.greenEstimate[1] = _mm256_permutevar8x32_ps(estimate, second);
  return c;
}

// Green quotients of eight pixels (not yet limited to 0..255). The estimate is off by at most
// 255 * 2^-23 (the factor's rounding) + 2^-16 (the chroma share's) + 2^-15 (the products and sums)
// < 2^-13 of m / d - 1/2, so it truncates to floor(m / d) or one less; where m / d < 1/2 a negative
// estimate truncates toward zero, but the quotient there is 0 or negative (giving 0) as well.
__attribute__((target("avx2"))) inline __m256i Green8(__m256i y, __m256i a, __m256 estimate) {
  const __m256 e = _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(y), _mm256_set1_ps(float(kGreenY) / float(kGreenD))), estimate);
  const __m256i q = _mm256_cvttps_epi32(e);
  const __m256i m = _mm256_add_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(kGreenY)), a); // below 2^30 in magnitude
  const __m256i r = _mm256_sub_epi32(m, _mm256_mullo_epi32(q, _mm256_set1_epi32(kGreenD)));
  return _mm256_sub_epi32(q, _mm256_cmpgt_epi32(r, _mm256_set1_epi32(kGreenD - 1)));
}

__attribute__((target("avx2"))) inline __m256i RedOrBlue16(__m256i y85, __m256i a) {
  return _mm256_srai_epi16(_mm256_mulhi_epi16(_mm256_adds_epi16(y85, a), _mm256_set1_epi16(kDiv73)), kDiv73Shift);
}

// Sixteen pixels of one row: the quotients are limited to 0..255 by the unsigned saturation of the
// byte packing, laid out as bytes blue, green, red, 0 and moved into the format's order.
__attribute__((target("avx2"))) inline void Row16(const uint8_t *py, const Chroma16 &c, __m256i order, uint32_t *out) {
  const __m256i Y = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(py)));
  const __m256i y85 = _mm256_mullo_epi16(Y, _mm256_set1_epi16(85));
  const __m256i r = RedOrBlue16(y85, c.red), b = RedOrBlue16(y85, c.blue);
  const __m256i g0 = Green8(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(Y)), c.green[0], c.greenEstimate[0]);
  const __m256i g1 = Green8(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(Y, 1)), c.green[1], c.greenEstimate[1]);
  const __m256i g = _mm256_permute4x64_epi64(_mm256_packs_epi32(g0, g1), 0xD8); // pixels 0..15 in order
  // Per 128-bit half (pixels 0..7, then 8..15): eight blue bytes then eight green; red then zeros.
  const __m256i zero = _mm256_setzero_si256();
  const __m256i bg = _mm256_packus_epi16(b, g);
  const __m256i r0 = _mm256_packus_epi16(r, zero);
  const __m256i bgPairs = _mm256_unpacklo_epi8(bg, _mm256_srli_si256(bg, 8));
  const __m256i r0Pairs = _mm256_unpacklo_epi8(r0, zero);
  const __m256i a = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(bgPairs, r0Pairs), order); // pixels 0..3, 8..11
  const __m256i d = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(bgPairs, r0Pairs), order); // pixels 4..7, 12..15
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), _mm256_permute2x128_si256(a, d, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 8), _mm256_permute2x128_si256(a, d, 0x31));
}

// The byte shuffle from blue, green, red, 0 into the format's byte order (-1: a 0 byte), in both
// 128-bit halves.
__attribute__((target("avx2"))) __m256i ByteOrderOf(int32_t format) {
  int8_t b = 0, g = 1, r = 2, z = 3; // byte of each channel within the little-endian word
  switch (format) {
  case PIXFMT_BGRX: z = 0, r = 1, g = 2, b = 3; break;
  case PIXFMT_RGBX: z = 0, b = 1, g = 2, r = 3; break;
  case PIXFMT_XBGR: r = 0, g = 1, b = 2, z = 3; break;
  default: break;
  }
  int8_t m[16];
  for (int8_t p = 0; p < 4; p++) m[4 * p + b] = int8_t(4 * p), m[4 * p + g] = int8_t(4 * p + 1), m[4 * p + r] = int8_t(4 * p + 2), m[4 * p + z] = -1;
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(m)));
}

} // namespace

// The two rows that share a chroma row are done together, so each chroma term is computed once.
__attribute__((target("avx2"))) void ConvertYuvRowsAvx2(const qmYuvFrameRequest *req) {
  const __m256i order = ByteOrderOf(req->format);
  const int32_t width = req->width;
  for (int32_t y = 0; y < req->height; y += 2) {
    const int32_t rows = std::min(2, req->height - y);
    const uint8_t *py = req->planeY + int64_t(y) * req->bytesPerRowY;
    const uint8_t *pu = req->planeU + int64_t(y >> 1) * req->bytesPerRowU;
    const uint8_t *pv = req->planeV + int64_t(y >> 1) * req->bytesPerRowV;
    uint32_t *out = static_cast<uint32_t *>(req->dst) + int64_t(y) * req->dstPitch;
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
      const Chroma16 c = ChromaOf(pu + x / 2, pv + x / 2);
      Row16(py + x, c, order, out + x);
      if (rows == 2) Row16(py + req->bytesPerRowY + x, c, order, out + req->dstPitch + x);
    }
    for (int32_t k = 0; k < rows; k++)
      for (int32_t i = x; i < width; i++) {
        const int32_t Y = py[int64_t(k) * req->bytesPerRowY + i], U = pu[i >> 1], V = pv[i >> 1];
        out[int64_t(k) * req->dstPitch + i] =
            ColorToPixel((uint32_t(YuvRed(Y, U, V)) << 16) | (uint32_t(YuvGreen(Y, U, V)) << 8) | uint32_t(YuvBlue(Y, U, V)), req->format);
      }
  }
}
