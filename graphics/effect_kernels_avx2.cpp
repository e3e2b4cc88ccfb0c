// Vector rows of the convolutions: four doubles per lane group, each output summed over its taps
// in the same order as the scalar loop (multiply, then add; no fused multiply-add), so the sums
// are the scalar ones bit for bit.
#include <immintrin.h>

#include <cstdint>

namespace {

__attribute__((target("avx2"))) inline __m256d Clamp255(__m256d v) {
  return _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
}

} // namespace

__attribute__((target("avx2"))) void ConvolveTapsAvx2(const double *const *taps, const double *weights, int32_t count, int32_t n,
                                                      double *out) {
  int32_t x = 0;
  // Four independent sums in flight hide the latency of the additions.
  for (; x + 16 <= n; x += 16) {
    __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
    for (int32_t k = 0; k < count; k++) {
      const __m256d e = _mm256_set1_pd(weights[k]);
      const double *t = taps[k] + x;
      a0 = _mm256_add_pd(a0, _mm256_mul_pd(e, _mm256_loadu_pd(t)));
      a1 = _mm256_add_pd(a1, _mm256_mul_pd(e, _mm256_loadu_pd(t + 4)));
      a2 = _mm256_add_pd(a2, _mm256_mul_pd(e, _mm256_loadu_pd(t + 8)));
      a3 = _mm256_add_pd(a3, _mm256_mul_pd(e, _mm256_loadu_pd(t + 12)));
    }
    _mm256_storeu_pd(out + x, a0);
    _mm256_storeu_pd(out + x + 4, a1);
    _mm256_storeu_pd(out + x + 8, a2);
    _mm256_storeu_pd(out + x + 12, a3);
  }
  for (; x + 4 <= n; x += 4) {
    __m256d a = _mm256_setzero_pd();
    for (int32_t k = 0; k < count; k++) a = _mm256_add_pd(a, _mm256_mul_pd(_mm256_set1_pd(weights[k]), _mm256_loadu_pd(taps[k] + x)));
    _mm256_storeu_pd(out + x, a);
  }
  for (; x < n; x++) {
    double s = 0;
    for (int32_t k = 0; k < count; k++) s += weights[k] * taps[k][x];
    out[x] = s;
  }
}

__attribute__((target("avx2"))) void PackChannelsAvx2(const double *r, const double *g, const double *b, int32_t n, int32_t shiftR,
                                                      int32_t shiftG, int32_t shiftB, uint32_t *out) {
  const __m128i sr = _mm_cvtsi32_si128(shiftR), sg = _mm_cvtsi32_si128(shiftG), sb = _mm_cvtsi32_si128(shiftB);
  int32_t x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m128i vr = _mm_sll_epi32(_mm256_cvttpd_epi32(Clamp255(_mm256_loadu_pd(r + x))), sr);
    const __m128i vg = _mm_sll_epi32(_mm256_cvttpd_epi32(Clamp255(_mm256_loadu_pd(g + x))), sg);
    const __m128i vb = _mm_sll_epi32(_mm256_cvttpd_epi32(Clamp255(_mm256_loadu_pd(b + x))), sb);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_or_si128(_mm_or_si128(vr, vg), vb));
  }
  for (; x < n; x++) {
    auto clamp = [](double v) { return v < 0 ? 0u : v > 255 ? 255u : uint32_t(v); };
    out[x] = (clamp(r[x]) << shiftR) | (clamp(g[x]) << shiftG) | (clamp(b[x]) << shiftB);
  }
}

__attribute__((target("avx2"))) void SplitChannelsAvx2(const uint32_t *src, int64_t n, int32_t shiftR, int32_t shiftG,
                                                       int32_t shiftB, double *r, double *g, double *b) {
  const __m128i sr = _mm_cvtsi32_si128(shiftR), sg = _mm_cvtsi32_si128(shiftG), sb = _mm_cvtsi32_si128(shiftB);
  const __m256i byte = _mm256_set1_epi32(0xFF);
  int64_t x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x));
    const __m256i cr = _mm256_and_si256(_mm256_srl_epi32(v, sr), byte);
    const __m256i cg = _mm256_and_si256(_mm256_srl_epi32(v, sg), byte);
    const __m256i cb = _mm256_and_si256(_mm256_srl_epi32(v, sb), byte);
    _mm256_storeu_pd(r + x, _mm256_cvtepi32_pd(_mm256_castsi256_si128(cr)));
    _mm256_storeu_pd(r + x + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(cr, 1)));
    _mm256_storeu_pd(g + x, _mm256_cvtepi32_pd(_mm256_castsi256_si128(cg)));
    _mm256_storeu_pd(g + x + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(cg, 1)));
    _mm256_storeu_pd(b + x, _mm256_cvtepi32_pd(_mm256_castsi256_si128(cb)));
    _mm256_storeu_pd(b + x + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(cb, 1)));
  }
  for (; x < n; x++) {
    const uint32_t v = src[x];
    r[x] = double((v >> shiftR) & 0xFF), g[x] = double((v >> shiftG) & 0xFF), b[x] = double((v >> shiftB) & 0xFF);
  }
}
