// Vector rows of the convolutions: four doubles per lane group, each output summed over its taps
// in the same order as the scalar loop (multiply, then add; no fused multiply-add), so the sums
// are the scalar ones bit for bit.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

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

struct ModulateParams {
  int32_t shiftR, shiftG, shiftB;
  double hueShift, satFactor, lightFactor;
};

// Four pixels of the modulation as vectors of doubles (D), lane masks (M) and 32-bit lanes (I, U).
// a ? b : c picks per lane as the scalar branches would; max and min are written as the
// comparisons they make. Where a scalar branch cannot be taken for the values that reach it, the
// lanes leave it out; each such place says why.
struct ModulateLanes {
  typedef double D __attribute__((vector_size(32)));
  typedef int64_t M __attribute__((vector_size(32)));
  typedef int32_t I __attribute__((vector_size(16)));
  typedef uint32_t U __attribute__((vector_size(16)));

  // One HSL channel for a hue within 0..1, branch by branch as the scalar HslChannel.
  __attribute__((target("avx2"), always_inline)) static inline D Channel(const D &m1, const D &m2, const D &diff6, const D &h) {
    const D rise = m1 + diff6 * h, fall = m1 + diff6 * (2.0 / 3.0 - h);
    // Doubling is exact, so 2h < 1 is h < 0.5.
    return 6.0 * h < 1.0 ? rise : h < 0.5 ? m2 : 3.0 * h < 2.0 ? fall : m1;
  }

  // Times 255, limited to 0..255 and truncated: max and min give the second operand where the first
  // is not a number, so such a lane gives 0 as in the scalar comparisons.
  __attribute__((target("avx2"), always_inline)) static inline U Byte(const D &channel) {
    const D v = _mm256_min_pd(_mm256_max_pd(channel * 255.0, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
    const I out = __builtin_convertvector(v, I);
    return U(out);
  }

  // Up and Down: the steps of one turn that the shifted hue may need each way (see ModulateRowAvx2).
  template <int Up, int Down> __attribute__((target("avx2"), always_inline)) static inline U Run(const I &v, const ModulateParams &p) {
    const double scale = 0.00392156862745098;
    const I cr = (v >> p.shiftR) & 0xFF, cg = (v >> p.shiftG) & 0xFF, cb = (v >> p.shiftB) & 0xFF;
    const D r = __builtin_convertvector(cr, D) * scale;
    const D g = __builtin_convertvector(cg, D) * scale;
    const D b = __builtin_convertvector(cb, D) * scale;
    const D rg = r > g ? r : g, mx = rg > b ? rg : b;
    const D rgMin = r < g ? r : g, mn = rgMin < b ? rgMin : b;
    const D sum = mx + mn;
    D l = sum * 0.5; // halving is exact: the quotient by 2
    const D delta = mx - mn;
    // Each lane takes one of the scalar branches, so the operands are chosen first and divided
    // once: the same quotients with four divisions instead of nine.
    D s = delta / (l < 0.5 ? sum : (2.0 - mx) - mn);
    const D halfDelta = delta * 0.5;
    // The hue is offset + (d(first) - d(second)) / delta with d(c) = (mx - c) / 6 + delta / 2:
    // red largest (no offset, b, g), else green (1/3, r, b), else blue (2/3, g, r).
    const M redMax = r == mx, greenMax = g == mx;
    const D first = redMax ? b : greenMax ? r : g, second = redMax ? g : greenMax ? b : r;
    const D q = (((mx - first) / 6.0 + halfDelta) - ((mx - second) / 6.0 + halfDelta)) / delta;
    D h = redMax ? q : (greenMax ? D{} + 1.0 / 3.0 : D{} + 2.0 / 3.0) + q;
    // first and second lie within mn..mx, so |q| is at most 1/6 (and a rounding): the hue stays
    // below 1 and only a negative one turns back.
    h = h < 0.0 ? h + 1.0 : h;
    const M grey = mx == mn;
    h = grey ? D{} : h;
    s = grey ? D{} : s;
    h += p.hueShift;
    for (int step = 0; step < Up; step++) h = h < 0.0 ? h + 1.0 : h;
    for (int step = 0; step < Down; step++) h = h > 1.0 ? h - 1.0 : h;
    s *= p.satFactor;
    l *= p.lightFactor;
    const D m2 = l <= 0.5 ? l * (1.0 + s) : (l + s) - l * s;
    const D m1 = 2.0 * l - m2;
    const D diff6 = (m2 - m1) * 6.0;
    const M noSat = s == 0.0;
    // With h within 0..1, h + 1/3 can only pass 1 and h - 1/3 only fall below 0.
    const D hr = h + 1.0 / 3.0, hb = h - 1.0 / 3.0;
    D rr = Channel(m1, m2, diff6, hr > 1.0 ? hr - 1.0 : hr);
    D gg = Channel(m1, m2, diff6, h);
    D bb = Channel(m1, m2, diff6, hb < 0.0 ? hb + 1.0 : hb);
    rr = noSat ? l : rr, gg = noSat ? l : gg, bb = noSat ? l : bb;
    return (Byte(rr) << p.shiftR) | (Byte(gg) << p.shiftG) | (Byte(bb) << p.shiftB);
  }

  // A group of four equal to the one before it takes that group's result: pictures have runs.
  template <int Up, int Down> __attribute__((target("avx2"))) static void Row(uint32_t *row, int32_t n, const ModulateParams &p) {
    I lastIn{};
    U lastOut{};
    bool have = false;
    for (int32_t x = 0; x + 4 <= n; x += 4) {
      I v;
      std::memcpy(&v, row + x, sizeof v);
      const __m128i same = _mm_cmpeq_epi32(__m128i(v), __m128i(lastIn));
      if (!have || _mm_movemask_epi8(same) != 0xFFFF) lastIn = v, lastOut = Run<Up, Down>(v, p), have = true;
      std::memcpy(row + x, &lastOut, sizeof lastOut);
    }
  }
};

} // namespace

// hueShift must lie within -2..2; n is a multiple of 4. The hue before the shift lies within 0..1,
// so a shift within 0..1 can only take it past 1, once, one within -1..0 only below 0, once, and
// others need up to two steps each way.
__attribute__((target("avx2"))) void ModulateRowAvx2(uint32_t *row, int32_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB,
                                                     double hueShift, double satFactor, double lightFactor) {
  const ModulateParams p{shiftR, shiftG, shiftB, hueShift, satFactor, lightFactor};
  if (hueShift >= 0 && hueShift <= 1) ModulateLanes::Row<0, 1>(row, n, p);
  else if (hueShift < 0 && hueShift >= -1) ModulateLanes::Row<1, 0>(row, n, p);
  else ModulateLanes::Row<2, 2>(row, n, p);
}
