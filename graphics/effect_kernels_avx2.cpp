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
typedef double D __attribute__((vector_size(32)));
typedef int64_t M __attribute__((vector_size(32)));
typedef int32_t I __attribute__((vector_size(16)));
typedef uint32_t U __attribute__((vector_size(16)));

// Eight pixels as two independent halves: each operation is issued for both, one after the other,
// so the second half's work fills the wait on the first half's quotients.
struct D2 {
  D lo, hi;
};
struct M2 {
  M lo, hi;
};

#define QM_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
#define QM_D2_ARITHMETIC(op)                                                                                                     \
  QM_AVX2_INLINE D2 operator op(const D2 &x, const D2 &y) { return {x.lo op y.lo, x.hi op y.hi}; }                             \
  QM_AVX2_INLINE D2 operator op(const D2 &x, double y) { return {x.lo op y, x.hi op y}; }                                       \
  QM_AVX2_INLINE D2 operator op(double x, const D2 &y) { return {x op y.lo, x op y.hi}; }
#define QM_D2_COMPARISON(op)                                                                                                     \
  QM_AVX2_INLINE M2 operator op(const D2 &x, const D2 &y) { return {x.lo op y.lo, x.hi op y.hi}; }                             \
  QM_AVX2_INLINE M2 operator op(const D2 &x, double y) { return {x.lo op y, x.hi op y}; }
QM_D2_ARITHMETIC(+)
QM_D2_ARITHMETIC(-)
QM_D2_ARITHMETIC(*)
QM_D2_ARITHMETIC(/)
QM_D2_COMPARISON(<)
QM_D2_COMPARISON(>)
QM_D2_COMPARISON(<=)
QM_D2_COMPARISON(==)
#undef QM_D2_ARITHMETIC
#undef QM_D2_COMPARISON

// Select(m, a, b) is m ? a : b per lane, as the scalar branch would pick.
QM_AVX2_INLINE D Select(const M &m, const D &a, const D &b) { return m ? a : b; }
QM_AVX2_INLINE D2 Select(const M2 &m, const D2 &a, const D2 &b) { return {m.lo ? a.lo : b.lo, m.hi ? a.hi : b.hi}; }
template <typename V> QM_AVX2_INLINE V Splat(double x) { return V{} + x; }
template <> QM_AVX2_INLINE D2 Splat<D2>(double x) { return {D{} + x, D{} + x}; }

// The modulation of pixels with channels r, g, b (0..1) to channels in 0..1, for four lanes (D)
// or eight (D2). max and min are written as the comparisons they make. Where a scalar branch
// cannot be taken for the values that reach it, the lanes leave it out; each such place says why.
// Up and Down: the steps of one turn that the shifted hue may need each way (see ModulateRowAvx2).
template <int Up, int Down, typename V> struct Modulation {
  V r, g, b;

  // One HSL channel for a hue within 0..1, branch by branch as the scalar HslChannel.
  QM_AVX2_INLINE static V Channel(const V &m1, const V &m2, const V &diff6, const V &h) {
    const V rise = m1 + diff6 * h, fall = m1 + diff6 * (2.0 / 3.0 - h);
    // Doubling is exact, so 2h < 1 is h < 0.5.
    return Select(6.0 * h < 1.0, rise, Select(h < 0.5, m2, Select(3.0 * h < 2.0, fall, m1)));
  }

  QM_AVX2_INLINE void Run(const ModulateParams &p) {
    const V rg = Select(r > g, r, g), mx = Select(rg > b, rg, b);
    const V rgMin = Select(r < g, r, g), mn = Select(rgMin < b, rgMin, b);
    const V sum = mx + mn;
    V l = sum * 0.5; // halving is exact: the quotient by 2
    const V delta = mx - mn;
    // Each lane takes one of the scalar branches, so the operands are chosen first and divided
    // once: the same quotients with four divisions instead of nine.
    V s = delta / Select(l < 0.5, sum, (2.0 - mx) - mn);
    const V halfDelta = delta * 0.5;
    // The hue is offset + (d(first) - d(second)) / delta with d(c) = (mx - c) / 6 + delta / 2:
    // red largest (no offset, b, g), else green (1/3, r, b), else blue (2/3, g, r).
    const auto redMax = r == mx, greenMax = g == mx;
    const V first = Select(redMax, b, Select(greenMax, r, g)), second = Select(redMax, g, Select(greenMax, b, r));
    const V q = (((mx - first) / 6.0 + halfDelta) - ((mx - second) / 6.0 + halfDelta)) / delta;
    V h = Select(redMax, q, Select(greenMax, Splat<V>(1.0 / 3.0), Splat<V>(2.0 / 3.0)) + q);
    // first and second lie within mn..mx, so |q| is at most 1/6 (and a rounding): the hue stays
    // below 1 and only a negative one turns back.
    h = Select(h < 0.0, h + 1.0, h);
    const auto grey = mx == mn;
    h = Select(grey, Splat<V>(0.0), h);
    s = Select(grey, Splat<V>(0.0), s);
    h = h + p.hueShift;
    for (int step = 0; step < Up; step++) h = Select(h < 0.0, h + 1.0, h);
    for (int step = 0; step < Down; step++) h = Select(h > 1.0, h - 1.0, h);
    s = s * p.satFactor;
    l = l * p.lightFactor;
    const V m2 = Select(l <= 0.5, l * (1.0 + s), (l + s) - l * s);
    const V m1 = 2.0 * l - m2;
    const V diff6 = (m2 - m1) * 6.0;
    const auto noSat = s == 0.0;
    // With h within 0..1, h + 1/3 can only pass 1 and h - 1/3 only fall below 0.
    const V hr = h + 1.0 / 3.0, hb = h - 1.0 / 3.0;
    r = Select(noSat, l, Channel(m1, m2, diff6, Select(hr > 1.0, hr - 1.0, hr)));
    g = Select(noSat, l, Channel(m1, m2, diff6, h));
    b = Select(noSat, l, Channel(m1, m2, diff6, Select(hb < 0.0, hb + 1.0, hb)));
  }
};

#undef QM_AVX2_INLINE

// The modulation of 32-bit words, eight at a time (four for a row's last four), with channels
// placed by the format's shifts.
struct ModulateWords {
  __attribute__((target("avx2"), always_inline)) static inline D Channel(const I &v, int32_t shift) {
    const I c = (v >> shift) & 0xFF;
    return __builtin_convertvector(c, D) * 0.00392156862745098;
  }

  // Times 255, limited to 0..255 and truncated: max and min give the second operand where the
  // first is not a number, so such a lane gives 0 as in the scalar comparisons.
  __attribute__((target("avx2"), always_inline)) static inline U Byte(const D &channel) {
    const D v = _mm256_min_pd(_mm256_max_pd(channel * 255.0, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
    const I out = __builtin_convertvector(v, I);
    return U(out);
  }

  __attribute__((target("avx2"), always_inline)) static inline U Pack(const D &r, const D &g, const D &b, const ModulateParams &p) {
    return (Byte(r) << p.shiftR) | (Byte(g) << p.shiftG) | (Byte(b) << p.shiftB);
  }

  template <int Up, int Down> __attribute__((target("avx2"), always_inline)) static inline U Run(const I &v, const ModulateParams &p) {
    Modulation<Up, Down, D> m{Channel(v, p.shiftR), Channel(v, p.shiftG), Channel(v, p.shiftB)};
    m.Run(p);
    return Pack(m.r, m.g, m.b, p);
  }

  template <int Up, int Down>
  __attribute__((target("avx2"), always_inline)) static inline void Run8(const I &v0, const I &v1, const ModulateParams &p, U &out0, U &out1) {
    Modulation<Up, Down, D2> m{{Channel(v0, p.shiftR), Channel(v1, p.shiftR)},
                               {Channel(v0, p.shiftG), Channel(v1, p.shiftG)},
                               {Channel(v0, p.shiftB), Channel(v1, p.shiftB)}};
    m.Run(p);
    out0 = Pack(m.r.lo, m.g.lo, m.b.lo, p);
    out1 = Pack(m.r.hi, m.g.hi, m.b.hi, p);
  }

  // A group of eight equal to the one before it takes that group's result: pictures have runs.
  template <int Up, int Down> __attribute__((target("avx2"))) static void Row(uint32_t *row, int32_t n, const ModulateParams &p) {
    __m256i lastIn = _mm256_setzero_si256();
    U lastOut[2] = {};
    bool have = false;
    int32_t x = 0;
    for (; x + 8 <= n; x += 8) {
      const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + x));
      if (!have || _mm256_movemask_epi8(_mm256_cmpeq_epi32(words, lastIn)) != -1) {
        I v[2];
        std::memcpy(v, &words, sizeof v);
        Run8<Up, Down>(v[0], v[1], p, lastOut[0], lastOut[1]);
        lastIn = words, have = true;
      }
      std::memcpy(row + x, lastOut, sizeof lastOut);
    }
    if (x < n) {
      I v;
      std::memcpy(&v, row + x, sizeof v);
      const U out = Run<Up, Down>(v, p);
      std::memcpy(row + x, &out, sizeof out);
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
  if (hueShift >= 0 && hueShift <= 1) ModulateWords::Row<0, 1>(row, n, p);
  else if (hueShift < 0 && hueShift >= -1) ModulateWords::Row<1, 0>(row, n, p);
  else ModulateWords::Row<2, 2>(row, n, p);
}
