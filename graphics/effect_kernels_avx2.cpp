// Vector rows of the convolutions: four doubles per lane group, each output summed over its taps
// in the same order as the scalar loop (multiply, then add; no fused multiply-add), so the sums
// are the scalar ones bit for bit.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "graphics/pixelformat.h"

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
    out[x] = Truncate ? double(ClampChannel(s)) : s;
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

// K groups of four pixels as independent vectors: each operation is issued for every group, one
// after the other, so the later groups' work fills the wait on the first group's quotients.
template <int K> struct Lanes {
  D v[K];
};
template <int K> struct Masks {
  M v[K];
};

#define QM_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
// Lanes op Lanes, Lanes op number and number op Lanes, group by group.
#define QM_LANES_OPERATOR(Result, op)                                                                                            \
  template <int K> QM_AVX2_INLINE Result<K> operator op(const Lanes<K> &x, const Lanes<K> &y) {                                 \
    Result<K> z;                                                                                                                 \
    for (int k = 0; k < K; k++) z.v[k] = x.v[k] op y.v[k];                                                                       \
    return z;                                                                                                                    \
  }                                                                                                                              \
  template <int K> QM_AVX2_INLINE Result<K> operator op(const Lanes<K> &x, double y) {                                          \
    Result<K> z;                                                                                                                 \
    for (int k = 0; k < K; k++) z.v[k] = x.v[k] op y;                                                                            \
    return z;                                                                                                                    \
  }                                                                                                                              \
  template <int K> QM_AVX2_INLINE Result<K> operator op(double x, const Lanes<K> &y) {                                          \
    Result<K> z;                                                                                                                 \
    for (int k = 0; k < K; k++) z.v[k] = x op y.v[k];                                                                            \
    return z;                                                                                                                    \
  }
QM_LANES_OPERATOR(Lanes, +)
QM_LANES_OPERATOR(Lanes, -)
QM_LANES_OPERATOR(Lanes, *)
QM_LANES_OPERATOR(Lanes, /)
QM_LANES_OPERATOR(Masks, <)
QM_LANES_OPERATOR(Masks, >)
QM_LANES_OPERATOR(Masks, <=)
QM_LANES_OPERATOR(Masks, ==)
#undef QM_LANES_OPERATOR

// Select(m, a, b) is m ? a : b per lane, as the scalar branch would pick.
template <int K> QM_AVX2_INLINE Lanes<K> Select(const Masks<K> &m, const Lanes<K> &a, const Lanes<K> &b) {
  Lanes<K> z;
  for (int k = 0; k < K; k++) z.v[k] = m.v[k] ? a.v[k] : b.v[k];
  return z;
}
template <int K> QM_AVX2_INLINE Lanes<K> Splat(double x) {
  Lanes<K> z;
  for (int k = 0; k < K; k++) z.v[k] = D{} + x;
  return z;
}

// The modulation of pixels with channels r, g, b (0..1) to channels in 0..1, for K groups of four
// lanes. max and min are written as the comparisons they make. Where a scalar branch cannot be
// taken for the values that reach it, the lanes leave it out; each such place says why.
// Up and Down: the steps of one turn that the shifted hue may need each way (see ModulateRowAvx2).
template <int Up, int Down, int K> struct Modulation {
  typedef Lanes<K> V;
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
    const Masks<K> redMax = r == mx, greenMax = g == mx;
    const V first = Select(redMax, b, Select(greenMax, r, g)), second = Select(redMax, g, Select(greenMax, b, r));
    const V q = (((mx - first) / 6.0 + halfDelta) - ((mx - second) / 6.0 + halfDelta)) / delta;
    V h = Select(redMax, q, Select(greenMax, Splat<K>(1.0 / 3.0), Splat<K>(2.0 / 3.0)) + q);
    // first and second lie within mn..mx, so |q| is at most 1/6 (and a rounding): the hue stays
    // below 1 and only a negative one turns back.
    h = Select(h < 0.0, h + 1.0, h);
    const Masks<K> grey = mx == mn;
    h = Select(grey, Splat<K>(0.0), h);
    s = Select(grey, Splat<K>(0.0), s);
    h = h + p.hueShift;
    for (int step = 0; step < Up; step++) h = Select(h < 0.0, h + 1.0, h);
    for (int step = 0; step < Down; step++) h = Select(h > 1.0, h - 1.0, h);
    s = s * p.satFactor;
    l = l * p.lightFactor;
    const V m2 = Select(l <= 0.5, l * (1.0 + s), (l + s) - l * s);
    const V m1 = 2.0 * l - m2;
    const V diff6 = (m2 - m1) * 6.0;
    const Masks<K> noSat = s == 0.0;
    // With h within 0..1, h + 1/3 can only pass 1 and h - 1/3 only fall below 0.
    const V hr = h + 1.0 / 3.0, hb = h - 1.0 / 3.0;
    r = Select(noSat, l, Channel(m1, m2, diff6, Select(hr > 1.0, hr - 1.0, hr)));
    g = Select(noSat, l, Channel(m1, m2, diff6, h));
    b = Select(noSat, l, Channel(m1, m2, diff6, Select(hb < 0.0, hb + 1.0, hb)));
  }
};

// Times 255, limited to 0..255 and truncated: max and min give the second operand where the first
// is not a number, so such a lane gives 0 as in the scalar comparisons.
QM_AVX2_INLINE U ByteOf(const D &channel) {
  const D v = _mm256_min_pd(_mm256_max_pd(channel * 255.0, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
  const I out = __builtin_convertvector(v, I);
  return U(out);
}

// The modulation of 32-bit words, 4 K at a time, with channels placed by the format's shifts.
template <int Up, int Down, int K> QM_AVX2_INLINE void ModulateWords(uint32_t *words, const ModulateParams &p) {
  Modulation<Up, Down, K> m;
  for (int k = 0; k < K; k++) {
    I v;
    std::memcpy(&v, words + 4 * k, sizeof v);
    const I r = (v >> p.shiftR) & 0xFF, g = (v >> p.shiftG) & 0xFF, b = (v >> p.shiftB) & 0xFF;
    const double scale = 0.00392156862745098;
    m.r.v[k] = __builtin_convertvector(r, D) * scale;
    m.g.v[k] = __builtin_convertvector(g, D) * scale;
    m.b.v[k] = __builtin_convertvector(b, D) * scale;
  }
  m.Run(p);
  for (int k = 0; k < K; k++) {
    const U out = (ByteOf(m.r.v[k]) << p.shiftR) | (ByteOf(m.g.v[k]) << p.shiftG) | (ByteOf(m.b.v[k]) << p.shiftB);
    std::memcpy(words + 4 * k, &out, sizeof out);
  }
}

// A row, kGroup words per step and the rest four at a time. A step's words equal to the step's before
// take that step's result: pictures have runs.
constexpr int32_t kGroups = 4, kGroup = 4 * kGroups;

template <int Up, int Down> __attribute__((target("avx2"))) void ModulateRow(uint32_t *row, int32_t n, const ModulateParams &p) {
  uint32_t lastIn[kGroup], lastOut[kGroup];
  bool have = false;
  int32_t x = 0;
  for (; x + kGroup <= n; x += kGroup) {
    if (!have || std::memcmp(row + x, lastIn, sizeof lastIn) != 0) {
      std::memcpy(lastIn, row + x, sizeof lastIn);
      ModulateWords<Up, Down, kGroups>(row + x, p);
      std::memcpy(lastOut, row + x, sizeof lastOut);
      have = true;
    } else {
      std::memcpy(row + x, lastOut, sizeof lastOut);
    }
  }
  for (; x < n; x += 4) ModulateWords<Up, Down, 1>(row + x, p);
}

#undef QM_AVX2_INLINE

} // namespace

// hueShift must lie within -2..2; n is a multiple of 4. The hue before the shift lies within 0..1,
// so a shift within 0..1 can only take it past 1, once, one within -1..0 only below 0, once, and
// others need up to two steps each way.
__attribute__((target("avx2"))) void ModulateRowAvx2(uint32_t *row, int32_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB,
                                                     double hueShift, double satFactor, double lightFactor) {
  const ModulateParams p{shiftR, shiftG, shiftB, hueShift, satFactor, lightFactor};
  if (hueShift >= 0 && hueShift <= 1) ModulateRow<0, 1>(row, n, p);
  else if (hueShift < 0 && hueShift >= -1) ModulateRow<1, 0>(row, n, p);
  else ModulateRow<2, 2>(row, n, p);
}
