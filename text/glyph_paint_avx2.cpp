// The glyph painter eight pixels at a time, in 32-bit lanes: the channel steps are products of
// up to 255 * 255, which 16 bits cannot hold with their sign.
#include <immintrin.h>

#include "text/glyph_paint.h"

namespace {

// Truncated quotient by 255 of n, |n| <= 65025: (|n| * 0x8081) >> 23 is exact in that range.
__attribute__((target("avx2"))) inline __m256i Div255(__m256i n) {
  const __m256i q = _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_abs_epi32(n), _mm256_set1_epi32(0x8081)), 23);
  return _mm256_sign_epi32(q, n);
}

} // namespace

__attribute__((target("avx2"))) void PaintGlyphSpanAvx2(const qmGlyphSpan *span) {
  const __m256i zero = _mm256_setzero_si256(), byte = _mm256_set1_epi32(0xFF);
  const __m256i color = _mm256_set1_epi32(int32_t(span->color)), fourth = _mm256_set1_epi32(int32_t(span->fourth));
  const __m256i opacity = _mm256_set1_epi32(int32_t(span->opacity));
  const __m256i colorFixed = _mm256_and_si256(color, fourth);
  int32_t x = 0;
  for (; x + 8 <= span->count; x += 8) {
    // Most of a line's coverage is empty: 32 bytes are passed over at once.
    while (x + 32 <= span->count) {
      const __m256i cov32 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(span->coverage + x));
      if (!_mm256_testz_si256(cov32, cov32)) break;
      x += 32;
    }
    if (x + 8 > span->count) break;
    const __m128i cov8 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(span->coverage + x));
    if (_mm_testz_si128(cov8, _mm_set_epi64x(0, -1))) continue;
    const __m256i c = _mm256_cvtepu8_epi32(cov8);
    uint8_t *alpha = span->alpha + x;
    const __m256i a = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(alpha)));
    uint32_t *pixels = span->pixels + x;
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pixels));
    __m256i mixed = zero;
    for (int shift = 0; shift < 32; shift += 8) {
      const __m128i s = _mm_cvtsi32_si128(shift);
      const __m256i from = _mm256_and_si256(_mm256_srl_epi32(p, s), byte), to = _mm256_and_si256(_mm256_srl_epi32(color, s), byte);
      const __m256i step = Div255(_mm256_mullo_epi32(_mm256_sub_epi32(to, from), c));
      mixed = _mm256_or_si256(mixed, _mm256_sll_epi32(_mm256_add_epi32(from, step), s));
    }
    mixed = _mm256_or_si256(_mm256_andnot_si256(fourth, mixed), colorFixed);
    const __m256i covered = _mm256_cmpgt_epi32(c, zero), clear = _mm256_cmpeq_epi32(a, zero);
    const __m256i painted = _mm256_blendv_epi8(mixed, color, clear);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(pixels), _mm256_blendv_epi8(p, painted, covered));
    // c * opacity <= 65025, a quotient of its own; uncovered lanes give 0, which max leaves.
    const __m256i level = _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_mullo_epi32(c, opacity), _mm256_set1_epi32(0x8081)), 23);
    const __m256i na = _mm256_max_epi32(a, level);
    const __m256i words = _mm256_packus_epi16(_mm256_packus_epi32(na, na), zero);
    const uint64_t bytes = uint32_t(_mm256_extract_epi32(words, 0)) | uint64_t(uint32_t(_mm256_extract_epi32(words, 4))) << 32;
    _mm_storel_epi64(reinterpret_cast<__m128i *>(alpha), _mm_cvtsi64_si128(int64_t(bytes)));
  }
  PaintGlyphSpanScalar(span, x);
}
