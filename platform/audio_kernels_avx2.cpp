// The resampling loop four output frames at a time: one left/right pair per 64-bit lane; the two
// frames an output frame lies between are adjacent, so one 16-byte load holds both.
#include <immintrin.h>

#include <cstdint>

#include "platform/audio_kernels.h"

__attribute__((target("avx2"))) uint32_t ResampleRunAvx2(const float *dec, uint32_t have, uint32_t *used,
                                                         uint64_t *phase, uint64_t step, float *out, uint32_t frames,
                                                         float gainLeft, float gainRight) {
  const __m256i offsets = _mm256_setr_epi64x(0, (long long)step, (long long)(2 * step), (long long)(3 * step));
  const __m256 gains = _mm256_setr_ps(gainLeft, gainRight, gainLeft, gainRight, gainLeft, gainRight, gainLeft, gainRight);
  const __m256i lows = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  const __m256i twice = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
  uint32_t at = *used;
  uint64_t p = *phase;
  uint32_t made = 0;
  while (frames - made >= 4) {
    uint64_t after = p + 4 * step;
    if ((after >> 32) > have - at) break;
    // Frame j lies between the pairs at + (p + j step) / 2^32 - 2 and the one after.
    const float *base = dec + (size_t(at) - 2) * 2;
    __m128 pair0 = _mm_loadu_ps(base + (p >> 32) * 2);
    __m128 pair1 = _mm_loadu_ps(base + ((p + step) >> 32) * 2);
    __m128 pair2 = _mm_loadu_ps(base + ((p + 2 * step) >> 32) * 2);
    __m128 pair3 = _mm_loadu_ps(base + ((p + 3 * step) >> 32) * 2);
    __m256d even = _mm256_castps_pd(_mm256_set_m128(pair2, pair0));  // cur0 next0 | cur2 next2
    __m256d odd = _mm256_castps_pd(_mm256_set_m128(pair3, pair1));   // cur1 next1 | cur3 next3
    __m256 cur = _mm256_castpd_ps(_mm256_unpacklo_pd(even, odd));
    __m256 next = _mm256_castpd_ps(_mm256_unpackhi_pd(even, odd));
    // The fractions (low halves of the positions), unsigned, to float by way of double, which
    // holds them exactly: one rounding, as the scalar conversion.
    __m256i pos = _mm256_add_epi64(_mm256_set1_epi64x((long long)p), offsets);
    __m128i fraction = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(pos, lows));
    __m256d exact = _mm256_add_pd(_mm256_cvtepi32_pd(_mm_xor_si128(fraction, _mm_set1_epi32(INT32_MIN))),
                                  _mm256_set1_pd(2147483648.0));
    __m128 f = _mm_mul_ps(_mm256_cvtpd_ps(exact), _mm_set1_ps(1.0f / 4294967296.0f));
    __m256 frac = _mm256_permutevar8x32_ps(_mm256_castps128_ps256(f), twice);
    __m256 v = _mm256_mul_ps(_mm256_add_ps(cur, _mm256_mul_ps(_mm256_sub_ps(next, cur), frac)), gains);
    _mm256_storeu_ps(out, _mm256_add_ps(_mm256_loadu_ps(out), v));
    out += 8;
    made += 4;
    at += uint32_t(after >> 32);
    p = after & 0xFFFFFFFFu;
  }
  *used = at;
  *phase = p;
  return made;
}
