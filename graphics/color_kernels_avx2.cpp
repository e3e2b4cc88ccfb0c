// Vector rows of the YUV frame conversion to 32-bit pixels. Each channel is an integer quotient
// n / d with n = c Y + (the chroma terms), n below 2^31 in magnitude; it is taken as
// truncate(Y * (c / d) + ((chroma terms) / d + 2^-30)) in doubles. Every product and sum there
// is within 2^-42 of the exact value, and a quotient that is not whole lies at least 1 / d (more
// than 2^-22) from the next integer; the nudge of 2^-30 lifts whole quotients over the rounding
// without reaching the next integer, so the result is the integer division's, bit for bit.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "graphics/color_kernels.h"
#include "graphics/pixelformat.h"

namespace {

constexpr double kNudge = 1.0 / 1073741824.0;

inline uint32_t Load32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The chroma terms of four samples, each repeated for the two pixels it serves: lo for the first
// four pixels, hi for the next four.
struct Chroma8 {
  __m256d rlo, rhi, glo, ghi, blo, bhi;
};

__attribute__((target("avx2"))) inline Chroma8 ChromaOf(const uint8_t *pu, const uint8_t *pv) {
  const __m256d U = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(int(Load32(pu)))));
  const __m256d V = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(int(Load32(pv)))));
  // The chroma terms are whole numbers, exact in doubles.
  const __m256d cr = _mm256_sub_pd(_mm256_mul_pd(V, _mm256_set1_pd(2609823.0)), _mm256_set1_pd(363703744.0));
  const __m256d cg = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(U, _mm256_set1_pd(-1287801.0)), _mm256_mul_pd(V, _mm256_set1_pd(2672387.0))),
                                   _mm256_set1_pd(447306710.0));
  const __m256d cb = _mm256_sub_pd(_mm256_mul_pd(U, _mm256_set1_pd(1649289.0)), _mm256_set1_pd(225932192.0));
  const __m256d nudge = _mm256_set1_pd(kNudge);
  const __m256d tr = _mm256_add_pd(_mm256_mul_pd(cr, _mm256_set1_pd(1.0 / 1635200.0)), nudge);
  const __m256d tg = _mm256_add_pd(_mm256_mul_pd(cg, _mm256_set1_pd(1.0 / 3287200.0)), nudge);
  const __m256d tb = _mm256_add_pd(_mm256_mul_pd(cb, _mm256_set1_pd(1.0 / 817600.0)), nudge);
  return {_mm256_permute4x64_pd(tr, 0x50), _mm256_permute4x64_pd(tr, 0xFA), _mm256_permute4x64_pd(tg, 0x50),
          _mm256_permute4x64_pd(tg, 0xFA), _mm256_permute4x64_pd(tb, 0x50), _mm256_permute4x64_pd(tb, 0xFA)};
}

// One channel of eight pixels from the luma products and the chroma terms, as eight 16-bit
// quotients (not yet limited to 0..255).
__attribute__((target("avx2"))) inline __m128i Channel8(__m256d ylo, __m256d yhi, __m256d clo, __m256d chi) {
  const __m128i lo = _mm256_cvttpd_epi32(_mm256_add_pd(ylo, clo));
  const __m128i hi = _mm256_cvttpd_epi32(_mm256_add_pd(yhi, chi));
  return _mm_packs_epi32(lo, hi);
}

// Eight pixels of one row: the quotients are limited to 0..255 by the unsigned saturation of the
// byte packing, laid out as bytes blue, green, red, 0 and moved into the format's order.
__attribute__((target("avx2"))) inline void Row8(const uint8_t *py, const Chroma8 &c, __m128i order, uint32_t *out) {
  const __m256i Y = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(py)));
  const __m256d ylo = _mm256_cvtepi32_pd(_mm256_castsi256_si128(Y)), yhi = _mm256_cvtepi32_pd(_mm256_extracti128_si256(Y, 1));
  // Red and blue scale the luma by the same ratio (1904000 / 1635200 = 952000 / 817600 = 595 /
  // 511), so one product serves both.
  static_assert(1904000.0 / 1635200.0 == 952000.0 / 817600.0);
  const __m256d rb = _mm256_set1_pd(1904000.0 / 1635200.0), gs = _mm256_set1_pd(3827562.0 / 3287200.0);
  const __m256d rblo = _mm256_mul_pd(ylo, rb), rbhi = _mm256_mul_pd(yhi, rb);
  const __m128i r = Channel8(rblo, rbhi, c.rlo, c.rhi);
  const __m128i g = Channel8(_mm256_mul_pd(ylo, gs), _mm256_mul_pd(yhi, gs), c.glo, c.ghi);
  const __m128i b = Channel8(rblo, rbhi, c.blo, c.bhi);
  const __m128i zero = _mm_setzero_si128();
  const __m128i bg = _mm_packus_epi16(b, g); // 8 blue bytes, then 8 green bytes
  const __m128i bgPairs = _mm_unpacklo_epi8(bg, _mm_srli_si128(bg, 8));
  const __m128i r0Pairs = _mm_unpacklo_epi8(_mm_packus_epi16(r, zero), zero);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_shuffle_epi8(_mm_unpacklo_epi16(bgPairs, r0Pairs), order));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4), _mm_shuffle_epi8(_mm_unpackhi_epi16(bgPairs, r0Pairs), order));
}

// The byte shuffle from blue, green, red, 0 into the format's byte order (-1: a 0 byte).
__attribute__((target("avx2"))) __m128i ByteOrderOf(int32_t format) {
  int8_t b = 0, g = 1, r = 2, z = 3; // byte of each channel within the little-endian word
  switch (format) {
  case PIXFMT_BGRX: z = 0, r = 1, g = 2, b = 3; break;
  case PIXFMT_RGBX: z = 0, b = 1, g = 2, r = 3; break;
  case PIXFMT_XBGR: r = 0, g = 1, b = 2, z = 3; break;
  default: break;
  }
  int8_t m[16];
  for (int8_t p = 0; p < 4; p++) m[4 * p + b] = int8_t(4 * p), m[4 * p + g] = int8_t(4 * p + 1), m[4 * p + r] = int8_t(4 * p + 2), m[4 * p + z] = -1;
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(m));
}

} // namespace

// The two rows that share a chroma row are done together, so each chroma term is computed once.
__attribute__((target("avx2"))) void ConvertYuvRowsAvx2(const qmYuvFrameRequest *req) {
  const __m128i order = ByteOrderOf(req->format);
  const int32_t width = req->width;
  for (int32_t y = 0; y < req->height; y += 2) {
    const int32_t rows = std::min(2, req->height - y);
    const uint8_t *py = req->planeY + int64_t(y) * req->bytesPerRowY;
    const uint8_t *pu = req->planeU + int64_t(y >> 1) * req->bytesPerRowU;
    const uint8_t *pv = req->planeV + int64_t(y >> 1) * req->bytesPerRowV;
    uint32_t *out = static_cast<uint32_t *>(req->dst) + int64_t(y) * req->dstPitch;
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) {
      const Chroma8 c = ChromaOf(pu + x / 2, pv + x / 2);
      Row8(py + x, c, order, out + x);
      if (rows == 2) Row8(py + req->bytesPerRowY + x, c, order, out + req->dstPitch + x);
    }
    for (int32_t k = 0; k < rows; k++)
      for (int32_t i = x; i < width; i++) {
        const int32_t Y = py[int64_t(k) * req->bytesPerRowY + i], U = pu[i >> 1], V = pv[i >> 1];
        out[int64_t(k) * req->dstPitch + i] =
            ColorToPixel((uint32_t(YuvRed(Y, U, V)) << 16) | (uint32_t(YuvGreen(Y, U, V)) << 8) | uint32_t(YuvBlue(Y, U, V)), req->format);
      }
  }
}
