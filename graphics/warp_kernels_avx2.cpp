// Vector rows of the swirl's source positions, four pixels at a time with the scalar arithmetic
// step for step, the turn's table entry looked up by root (SwirlRootIndex). The integer square
// root is floor(sqrt(n)) in doubles: n stays below 2^28 inside the swirl's radius, where a
// correctly rounded root never crosses the next integer.
#include <immintrin.h>

#include <cstdint>

#include "graphics/warp_kernels.h"

__attribute__((target("avx2"))) void SwirlSourceRowAvx2(const qmSwirlGeometry *g, int32_t y, int32_t *sxOut, int32_t *syOut) {
  const double dyS = g->ys * (y - g->h2);
  const __m256d dy = _mm256_set1_pd(dyS), xs = _mm256_set1_pd(g->xs), w2 = _mm256_set1_pd(g->w2), h2 = _mm256_set1_pd(g->h2);
  const __m256d rr = _mm256_set1_pd(g->r * g->r);
  const __m256d lastX = _mm256_set1_pd(g->width - 1), lastY = _mm256_set1_pd(g->height - 1), zero = _mm256_setzero_pd();
  const bool divX = g->xs != 1.0, divY = g->ys != 1.0;
  int32_t x = 0;
  for (; x + 4 <= g->width; x += 4) {
    const __m128i xi = _mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3));
    const __m256d dx = _mm256_mul_pd(xs, _mm256_sub_pd(_mm256_cvtepi32_pd(xi), w2));
    const __m256d d2 = _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
    const __m256d inside = _mm256_cmp_pd(d2, rr, _CMP_LT_OQ);
    const int mask = _mm256_movemask_pd(inside);
    __m128i sx = xi, sy = _mm_set1_epi32(y);
    if (mask) {
      const __m256d root = _mm256_floor_pd(_mm256_sqrt_pd(_mm256_round_pd(d2, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)));
      // Outside the radius the values are not used; the root 0 keeps the index in the table.
      const __m128i idx = _mm_i32gather_epi32(g->rootIndex, _mm256_cvttpd_epi32(_mm256_blendv_pd(zero, root, inside)), 4);
      const __m256d sn = _mm256_i32gather_pd(g->sine, idx, 8), cs = _mm256_i32gather_pd(g->cosine, idx, 8);
      __m256d ru = _mm256_sub_pd(_mm256_mul_pd(dx, cs), _mm256_mul_pd(dy, sn));
      __m256d rv = _mm256_add_pd(_mm256_mul_pd(dx, sn), _mm256_mul_pd(dy, cs));
      if (divX) ru = _mm256_div_pd(ru, xs);
      if (divY) rv = _mm256_div_pd(rv, _mm256_set1_pd(g->ys));
      const __m256d u = _mm256_min_pd(_mm256_max_pd(_mm256_add_pd(ru, w2), zero), lastX);
      const __m256d v = _mm256_min_pd(_mm256_max_pd(_mm256_add_pd(rv, h2), zero), lastY);
      const __m128i in32 = _mm256_cvtpd_epi32(_mm256_and_pd(inside, _mm256_set1_pd(-1.0))); // -1 inside, 0 outside
      sx = _mm_blendv_epi8(sx, _mm256_cvttpd_epi32(u), in32);
      sy = _mm_blendv_epi8(sy, _mm256_cvttpd_epi32(v), in32);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(sxOut + x), sx);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(syOut + x), sy);
  }
  // The last few pixels by the scalar twin.
  SwirlSourceRowScalar(g, y, sxOut, syOut, x);
}
