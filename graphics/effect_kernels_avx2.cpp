// Vector rows of the convolutions: four doubles per lane group, each output summed over its taps
// in the same order as the scalar loop (multiply, then add; no fused multiply-add), so the sums
// are the scalar ones bit for bit.
#include <immintrin.h>

#include <cstdint>

namespace {

__attribute__((target("avx2"))) inline __m256d Clamp255(__m256d v) {
  return _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
}

// With Truncate each sum is stored clamped to 0..255 and truncated, as a written channel would hold it.
template <bool Truncate> __attribute__((target("avx2"))) inline void StoreSums(double *out, __m256d v) {
  if (Truncate) v = _mm256_round_pd(Clamp255(v), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  _mm256_storeu_pd(out, v);
}

template <bool Truncate>
__attribute__((target("avx2"))) void ConvolveTapsRows(const double *const *taps, const double *weights, int32_t count, int32_t n,
                                                      double *out) {
  int32_t x = 0;
  // Eight independent sums in flight hide the latency of the additions.
  for (; x + 32 <= n; x += 32) {
    __m256d a[8];
    for (__m256d &v : a) v = _mm256_setzero_pd();
    for (int32_t k = 0; k < count; k++) {
      const __m256d e = _mm256_set1_pd(weights[k]);
      const double *t = taps[k] + x;
      for (int i = 0; i < 8; i++) a[i] = _mm256_add_pd(a[i], _mm256_mul_pd(e, _mm256_loadu_pd(t + 4 * i)));
    }
    for (int i = 0; i < 8; i++) StoreSums<Truncate>(out + x + 4 * i, a[i]);
  }
  for (; x + 4 <= n; x += 4) {
    __m256d a = _mm256_setzero_pd();
    for (int32_t k = 0; k < count; k++) a = _mm256_add_pd(a, _mm256_mul_pd(_mm256_set1_pd(weights[k]), _mm256_loadu_pd(taps[k] + x)));
    StoreSums<Truncate>(out + x, a);
  }
  for (; x < n; x++) {
    double s = 0;
    for (int32_t k = 0; k < count; k++) s += weights[k] * taps[k][x];
    out[x] = Truncate ? (s < 0 ? 0.0 : s > 255 ? 255.0 : double(int32_t(s))) : s;
  }
}

} // namespace

__attribute__((target("avx2"))) void ConvolveTapsAvx2(const double *const *taps, const double *weights, int32_t count, int32_t n,
                                                      double *out, int32_t truncate) {
  if (truncate) ConvolveTapsRows<true>(taps, weights, count, n, out);
  else ConvolveTapsRows<false>(taps, weights, count, n, out);
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

namespace {

__attribute__((target("avx2"))) inline __m256d Select(__m256d cond, __m256d yes, __m256d no) { return _mm256_blendv_pd(no, yes, cond); }

// One HSL channel for hue h, branch by branch as the scalar HslChannel.
__attribute__((target("avx2"))) inline __m256d HslChannel4(__m256d m1, __m256d m2, __m256d h) {
  const __m256d one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd();
  const __m256d below = _mm256_cmp_pd(h, zero, _CMP_LT_OQ);
  const __m256d above = _mm256_andnot_pd(below, _mm256_cmp_pd(h, one, _CMP_GT_OQ));
  h = Select(below, _mm256_add_pd(h, one), Select(above, _mm256_sub_pd(h, one), h));
  const __m256d diff6 = _mm256_mul_pd(_mm256_sub_pd(m2, m1), _mm256_set1_pd(6.0));
  const __m256d rise = _mm256_add_pd(m1, _mm256_mul_pd(diff6, h));
  const __m256d fall = _mm256_add_pd(m1, _mm256_mul_pd(diff6, _mm256_sub_pd(_mm256_set1_pd(2.0 / 3.0), h)));
  const __m256d c6 = _mm256_cmp_pd(_mm256_mul_pd(_mm256_set1_pd(6.0), h), one, _CMP_LT_OQ);
  const __m256d c2 = _mm256_cmp_pd(_mm256_mul_pd(_mm256_set1_pd(2.0), h), one, _CMP_LT_OQ);
  const __m256d c3 = _mm256_cmp_pd(_mm256_mul_pd(_mm256_set1_pd(3.0), h), _mm256_set1_pd(2.0), _CMP_LT_OQ);
  return Select(c6, rise, Select(c2, m2, Select(c3, fall, m1)));
}

__attribute__((target("avx2"))) inline __m128i Channel255(__m256d v) {
  return _mm256_cvttpd_epi32(Clamp255(_mm256_mul_pd(v, _mm256_set1_pd(255.0))));
}

} // namespace

// Four pixels at a time, every branch computed and the lanes chosen as the scalar code would go;
// hueShift must lie within -2..2 (the hue then needs at most two steps back into 0..1).
__attribute__((target("avx2"))) void ModulateRowAvx2(uint32_t *row, int32_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB,
                                                     double hueShift, double satFactor, double lightFactor) {
  const __m256d one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd(), half = _mm256_set1_pd(0.5), two = _mm256_set1_pd(2.0);
  const __m256d scale = _mm256_set1_pd(0.00392156862745098), six = _mm256_set1_pd(6.0);
  const __m128i sr = _mm_cvtsi32_si128(shiftR), sg = _mm_cvtsi32_si128(shiftG), sb = _mm_cvtsi32_si128(shiftB);
  const __m128i byte = _mm_set1_epi32(0xFF);
  int32_t x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x));
    const __m256d r = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(v, sr), byte)), scale);
    const __m256d g = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(v, sg), byte)), scale);
    const __m256d b = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(v, sb), byte)), scale);
    const __m256d mx = _mm256_max_pd(_mm256_max_pd(r, g), b), mn = _mm256_min_pd(_mm256_min_pd(r, g), b);
    __m256d l = _mm256_div_pd(_mm256_add_pd(mx, mn), two);
    const __m256d grey = _mm256_cmp_pd(mx, mn, _CMP_EQ_OQ);
    const __m256d delta = _mm256_sub_pd(mx, mn);
    __m256d s = Select(_mm256_cmp_pd(l, half, _CMP_LT_OQ), _mm256_div_pd(delta, _mm256_add_pd(mx, mn)),
                       _mm256_div_pd(delta, _mm256_sub_pd(_mm256_sub_pd(two, mx), mn)));
    const __m256d halfDelta = _mm256_div_pd(delta, two);
    const __m256d dr = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(mx, r), six), halfDelta);
    const __m256d dg = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(mx, g), six), halfDelta);
    const __m256d db = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(mx, b), six), halfDelta);
    const __m256d hr = _mm256_div_pd(_mm256_sub_pd(db, dg), delta);
    const __m256d hg = _mm256_add_pd(_mm256_set1_pd(1.0 / 3.0), _mm256_div_pd(_mm256_sub_pd(dr, db), delta));
    const __m256d hb = _mm256_add_pd(_mm256_set1_pd(2.0 / 3.0), _mm256_div_pd(_mm256_sub_pd(dg, dr), delta));
    __m256d h = Select(_mm256_cmp_pd(r, mx, _CMP_EQ_OQ), hr, Select(_mm256_cmp_pd(g, mx, _CMP_EQ_OQ), hg, hb));
    h = Select(_mm256_cmp_pd(h, zero, _CMP_LT_OQ), _mm256_add_pd(h, one), h);
    h = Select(_mm256_cmp_pd(h, one, _CMP_GT_OQ), _mm256_sub_pd(h, one), h);
    h = _mm256_andnot_pd(grey, h);
    s = _mm256_andnot_pd(grey, s);
    h = _mm256_add_pd(h, _mm256_set1_pd(hueShift));
    for (int step = 0; step < 3; step++) h = Select(_mm256_cmp_pd(h, zero, _CMP_LT_OQ), _mm256_add_pd(h, one), h);
    for (int step = 0; step < 3; step++) h = Select(_mm256_cmp_pd(h, one, _CMP_GT_OQ), _mm256_sub_pd(h, one), h);
    s = _mm256_mul_pd(s, _mm256_set1_pd(satFactor));
    l = _mm256_mul_pd(l, _mm256_set1_pd(lightFactor));
    const __m256d m2 = Select(_mm256_cmp_pd(l, half, _CMP_LE_OQ), _mm256_mul_pd(l, _mm256_add_pd(one, s)),
                              _mm256_sub_pd(_mm256_add_pd(l, s), _mm256_mul_pd(l, s)));
    const __m256d m1 = _mm256_sub_pd(_mm256_mul_pd(two, l), m2);
    const __m256d noSat = _mm256_cmp_pd(s, zero, _CMP_EQ_OQ);
    const __m256d rr = Select(noSat, l, HslChannel4(m1, m2, _mm256_add_pd(h, _mm256_set1_pd(1.0 / 3.0))));
    const __m256d gg = Select(noSat, l, HslChannel4(m1, m2, h));
    const __m256d bb = Select(noSat, l, HslChannel4(m1, m2, _mm256_sub_pd(h, _mm256_set1_pd(1.0 / 3.0))));
    const __m128i out = _mm_or_si128(_mm_or_si128(_mm_sll_epi32(Channel255(rr), sr), _mm_sll_epi32(Channel255(gg), sg)),
                                     _mm_sll_epi32(Channel255(bb), sb));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(row + x), out);
  }
}
