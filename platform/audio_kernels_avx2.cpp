// The resampling loop four output frames at a time: one left/right pair per 64-bit lane, so the
// two frames each output frame lies between are gathered as whole pairs.
#include <immintrin.h>

#include <cstdint>

#include "platform/audio_kernels.h"

__attribute__((target("avx2"))) uint32_t ResampleRunAvx2(const float *dec, uint32_t have, uint32_t *used,
                                                         uint64_t *phase, uint64_t step, float *out, uint32_t frames,
                                                         float gainLeft, float gainRight) {
  const auto *pairs = reinterpret_cast<const long long *>(dec);
  const __m256i offsets = _mm256_setr_epi64x(0, (long long)step, (long long)(2 * step), (long long)(3 * step));
  const __m256 gains = _mm256_setr_ps(gainLeft, gainRight, gainLeft, gainRight, gainLeft, gainRight, gainLeft, gainRight);
  const __m256i lowsThenHighs = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i twice = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
  uint32_t at = *used;
  uint64_t p = *phase;
  uint32_t made = 0;
  while (frames - made >= 4) {
    uint64_t after = p + 4 * step;
    if ((after >> 32) > have - at) break;
    // Each frame's position from p: its fraction (low half) and whole frames passed (high half).
    __m256i pos = _mm256_add_epi64(_mm256_set1_epi64x((long long)p), offsets);
    __m256i split = _mm256_permutevar8x32_epi32(pos, lowsThenHighs);
    __m128i fraction = _mm256_castsi256_si128(split);
    __m128i curAt = _mm_add_epi32(_mm256_extracti128_si256(split, 1), _mm_set1_epi32(int32_t(at) - 2));
    __m256 cur = _mm256_castsi256_ps(_mm256_i32gather_epi64(pairs, curAt, 8));
    __m256 next = _mm256_castsi256_ps(_mm256_i32gather_epi64(pairs, _mm_add_epi32(curAt, _mm_set1_epi32(1)), 8));
    // The unsigned fraction to float by way of double, which holds it exactly: one rounding,
    // as the scalar conversion.
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
