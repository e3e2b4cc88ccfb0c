// Vector rows of the convolutions: four doubles per lane group, each output summed over its taps
// in the same order as the scalar loop (multiply, then add; no fused multiply-add), so the sums
// are the scalar ones bit for bit.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/pixelformat.h"
#include "runtime/cancel.h"

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

// hueShift must lie within -2..2. Does the row's whole groups of four and gives how many pixels
// that is. The hue before the shift lies within 0..1, so a shift within 0..1 can only take it past
// 1, once, one within -1..0 only below 0, once, and others need up to two steps each way.
__attribute__((target("avx2"))) int32_t ModulateRowAvx2(uint32_t *row, int32_t width, int32_t shiftR, int32_t shiftG,
                                                        int32_t shiftB, double hueShift, double satFactor, double lightFactor) {
  const ModulateParams p{shiftR, shiftG, shiftB, hueShift, satFactor, lightFactor};
  const int32_t n = width & ~3;
  if (hueShift >= 0 && hueShift <= 1) ModulateRow<0, 1>(row, n, p);
  else if (hueShift < 0 && hueShift >= -1) ModulateRow<1, 0>(row, n, p);
  else ModulateRow<2, 2>(row, n, p);
  return n;
}

namespace {

// The blur's passes in float32 with the definition's results. Each output is a float sum S of
// the taps with fused multiply-adds, started from 2E rather than 0, E = 255 (w + 2) u, u = 2^-24.
// The sum D of the definition (doubles, multiply then add, from tap 0) lies within E - 128 u of
// S - 2E: the weights' rounding to float costs at most 255 u (1 + 2u), each of the w roundings of
// the float sum at most 128 u (every partial sum stays below 256), and the double sum's 2w
// roundings far less than the rest. So S lies above D, and S - 4E, even rounded (128 u more), at
// or below it: where both truncate toward zero to the same n, so does D. For n >= 1 both ends lie
// in n..n+1, and for n = 0 D, a sum of products of non-negative numbers, lies in 0..1; S stays
// below 255 + 3E, so n is at most 255, where the clamp gives 255 as well. 2E and 4E are exact in
// float. Elsewhere a window of one value takes the table of such windows, and any other the
// definition's own sum.
struct CertifiedKernel {
  const float *weights;
  const double *exact;
  int32_t count;
  __m256 start, spread; // 2E, where every sum starts, and 4E
  const float *flat; // the definition's truncated sum of a window all of value v, for v 0..255
  bool symmetric;    // weights[i] == weights[count - 1 - i] for every i
};

// Stores the truncation of S (S is positive, so no -0) and returns all ones in the lanes whose
// truncation S - 4E does not confirm.
__attribute__((target("avx2"))) inline __m256i FinishGroup(float *out, __m256 s, __m256 spread) {
  const __m256 lo = _mm256_round_ps(_mm256_sub_ps(s, spread), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  const __m256 hi = _mm256_round_ps(s, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  _mm256_storeu_ps(out, hi);
  return _mm256_castps_si256(_mm256_cmp_ps(lo, hi, _CMP_NEQ_UQ));
}

// The lanes of four groups' masks as 32 bits, eight per group in order: the packs narrow each
// 128-bit half, leaving each group's first four lanes in the low half and its last four in the
// high half, and the permutation puts them back side by side.
__attribute__((target("avx2"))) inline uint32_t LaneBits(__m256i g0, __m256i g1, __m256i g2, __m256i g3) {
  const __m256i bytes = _mm256_packs_epi16(_mm256_packs_epi32(g0, g1), _mm256_packs_epi32(g2, g3));
  return uint32_t(_mm256_movemask_epi8(_mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7))));
}

// Groups of outputs to settle: the first output, and a bit per output from it (up to 64).
struct Marks {
  int64_t *first;
  uint64_t *lanes;
};

__attribute__((target("avx2"))) inline __m256d Truncated(__m256d v) {
  const __m256d clamped = _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
  return _mm256_round_pd(clamped, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
}

// The definition's sums of four outputs from x, truncated.
__attribute__((target("avx2"))) inline __m128 DefinitionSums(const float *const *taps, const CertifiedKernel &k, int64_t x) {
  __m256d sum = _mm256_setzero_pd();
  for (int32_t i = 0; i < k.count; i++)
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_set1_pd(k.exact[i]), _mm256_cvtps_pd(_mm_loadu_ps(taps[i] + x))));
  return _mm256_cvtpd_ps(Truncated(sum));
}

// Kernels of fewer taps settle windows of one value by their sums too: the table gives what the
// sums would, and saves time only where they are long.
constexpr int32_t kFlatTableTaps = 9;

// Output x by the definition's own sum, truncated; Taps is the kernel's count where it is one of
// the short widths, 0 otherwise. The first product stands for 0 plus it (it is never -0), and the
// sum lies in 0..256 (non-negative products, taps at most 255, weights summing to 1 within a few
// units of the last place), so truncation alone gives the clamped channel.
template <int32_t Taps>
__attribute__((target("avx2"), always_inline)) inline void SettleOne(const float *const *taps, const CertifiedKernel &k, int64_t x,
                                                                    float *out) {
  const int32_t count = Taps ? Taps : k.count;
  double sum = k.exact[0] * double(taps[0][x]);
  for (int32_t i = 1; i < count; i++) sum += k.exact[i] * double(taps[i][x]);
  out[x] = float(int32_t(sum));
}

// Short sums: each marked output is summed alone, in place, without gathering taps or listing the
// outputs first. Each round settles the lowest output of every mark and keeps the marks with
// outputs left at the front of the list, so no branch hangs on how many a mark holds (mostly one).
template <int32_t Taps>
__attribute__((target("avx2"))) void SettleShort(const float *const *taps, const CertifiedKernel &k, const Marks &marks, int32_t count,
                                                 float *out) {
  while (count) {
    int32_t left = 0;
    for (int32_t m = 0; m < count; m++) {
      const uint64_t lanes = marks.lanes[m];
      const int64_t first = marks.first[m];
      SettleOne<Taps>(taps, k, first + __builtin_ctzll(lanes), out);
      marks.first[left] = first;
      marks.lanes[left] = lanes & (lanes - 1);
      left += (lanes & (lanes - 1)) != 0;
    }
    count = left;
  }
}

// The marked outputs by the table of one-value windows or the definition's own sums; returns how
// many were marked. Kept apart from the fused row loop (no fma here), so each multiply and add
// stays two roundings.
__attribute__((target("avx2"), noinline)) int32_t SettleLanes(const float *const *taps, const CertifiedKernel &k, const Marks &marks,
                                                             int32_t count, float *out) {
  int32_t settled = 0;
  if (k.count < kFlatTableTaps) {
    for (int32_t m = 0; m < count; m++) settled += __builtin_popcountll(marks.lanes[m]);
    switch (k.count) {
    case 3: SettleShort<3>(taps, k, marks, count, out); break;
    case 5: SettleShort<5>(taps, k, marks, count, out); break;
    case 7: SettleShort<7>(taps, k, marks, count, out); break;
    default: SettleShort<0>(taps, k, marks, count, out); break;
    }
    return settled;
  }
  const __m256i bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  for (int32_t m = 0; m < count; m++) {
    settled += __builtin_popcountll(marks.lanes[m]);
    for (uint64_t left = marks.lanes[m]; left;) {
      const int32_t group = __builtin_ctzll(left) / 8;
      const uint32_t lanes = uint32_t(left >> (8 * group)) & 0xFF;
      left &= ~(uint64_t(0xFF) << (8 * group));
      const int64_t x = marks.first[m] + 8 * group;
      const __m256 unsure =
          _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(int32_t(lanes)), bit), bit));
      __m256 v = _mm256_loadu_ps(out + x);
      const __m256 first = _mm256_loadu_ps(taps[0] + x);
      __m256 flat = unsure;
      for (int32_t i = 1; i < k.count; i++) {
        flat = _mm256_and_ps(flat, _mm256_cmp_ps(_mm256_loadu_ps(taps[i] + x), first, _CMP_EQ_OQ));
        if ((i & 3) == 1 && _mm256_testz_ps(flat, flat)) break;
      }
      // The taps are whole numbers 0..255, so every lane's index is inside the table.
      if (!_mm256_testz_ps(flat, flat)) v = _mm256_blendv_ps(v, _mm256_i32gather_ps(k.flat, _mm256_cvttps_epi32(first), 4), flat);
      const __m256 rest = _mm256_andnot_ps(flat, unsure);
      const int32_t halves = _mm256_movemask_ps(rest);
      // Each half of four only where one of its lanes is left.
      __m128 low = _mm256_castps256_ps128(v), high = _mm256_extractf128_ps(v, 1);
      if (halves & 0x0F) low = _mm_blendv_ps(low, DefinitionSums(taps, k, x), _mm256_castps256_ps128(rest));
      if (halves & 0xF0) high = _mm_blendv_ps(high, DefinitionSums(taps, k, x + 4), _mm256_extractf128_ps(rest, 1));
      _mm256_storeu_ps(out + x, _mm256_set_m128(high, low));
    }
  }
  return settled;
}

// The outputs from x to n, fewer than eight, by the definition's own sums.
__attribute__((target("avx2"), noinline)) void SettleTail(const float *const *taps, const CertifiedKernel &k, int64_t x, int64_t n,
                                                         float *out) {
  for (; x < n; x++) {
    double s = 0;
    for (int32_t i = 0; i < k.count; i++) s += k.exact[i] * double(taps[i][x]);
    out[x] = float(ClampChannel(s));
  }
}

// out[x] = the truncated blur sum over the taps at x, for x < n; marks hold n / 8 entries each.
// Returns the number of outputs that had to be settled in the groups of eight. Taps is the
// kernel's count where the loops over the taps are unrolled for it, 0 otherwise.
template <int32_t Taps>
__attribute__((target("avx2,fma"))) int32_t CertifiedRowOf(const float *const *taps, const CertifiedKernel &k, int64_t n, float *out,
                                                          const Marks &marks) {
  const int32_t tapCount = Taps ? Taps : k.count;
  int32_t count = 0;
  // A block's mark is written and the count moves past it only where a lane is unsure, so the
  // row's loop has no branch on the data; the marked lanes are settled after the row.
  auto mark = [&](int64_t x, uint64_t lanes) {
    marks.first[count] = x;
    marks.lanes[count] = lanes;
    count += lanes != 0;
  };
  int64_t x = 0;
  // Eight independent sums hide the latency of the fused additions.
  for (; x + 64 <= n; x += 64) {
    __m256 a[8];
    for (__m256 &v : a) v = k.start;
    if (k.symmetric) {
      // Mirrored taps share a weight: their sum, at most 510, is exact, so one product stands
      // for two and the bound above still holds (fewer roundings, the same weights).
      const int32_t half = tapCount / 2;
      for (int32_t i = 0; i < half; i++) {
        const __m256 e = _mm256_set1_ps(k.weights[i]);
        const float *t = taps[i] + x, *m = taps[tapCount - 1 - i] + x;
        for (int j = 0; j < 8; j++) a[j] = _mm256_fmadd_ps(e, _mm256_add_ps(_mm256_loadu_ps(t + 8 * j), _mm256_loadu_ps(m + 8 * j)), a[j]);
      }
      const __m256 e = _mm256_set1_ps(k.weights[half]);
      for (int j = 0; j < 8; j++) a[j] = _mm256_fmadd_ps(e, _mm256_loadu_ps(taps[half] + x + 8 * j), a[j]);
    } else {
      for (int32_t i = 0; i < tapCount; i++) {
        const __m256 e = _mm256_set1_ps(k.weights[i]);
        const float *t = taps[i] + x;
        for (int j = 0; j < 8; j++) a[j] = _mm256_fmadd_ps(e, _mm256_loadu_ps(t + 8 * j), a[j]);
      }
    }
    __m256i u[8];
    for (int j = 0; j < 8; j++) u[j] = FinishGroup(out + x + 8 * j, a[j], k.spread);
    mark(x, uint64_t(LaneBits(u[0], u[1], u[2], u[3])) | uint64_t(LaneBits(u[4], u[5], u[6], u[7])) << 32);
  }
  for (; x + 8 <= n; x += 8) {
    __m256 a = k.start;
    for (int32_t i = 0; i < tapCount; i++) a = _mm256_fmadd_ps(_mm256_set1_ps(k.weights[i]), _mm256_loadu_ps(taps[i] + x), a);
    mark(x, uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(FinishGroup(out + x, a, k.spread)))));
  }
  if (x < n) SettleTail(taps, k, x, n, out);
  return count ? SettleLanes(taps, k, marks, count, out) : 0;
}

__attribute__((target("avx2,fma"))) int32_t CertifiedRow(const float *const *taps, const CertifiedKernel &k, int64_t n, float *out,
                                                        const Marks &marks) {
  switch (k.count) {
  case 3: return CertifiedRowOf<3>(taps, k, n, out, marks);
  case 5: return CertifiedRowOf<5>(taps, k, n, out, marks);
  case 7: return CertifiedRowOf<7>(taps, k, n, out, marks);
  default: return CertifiedRowOf<0>(taps, k, n, out, marks);
  }
}

// Rows where many windows have to be settled (flat areas, gradients of a level or so per pixel,
// whose sums fall on whole numbers) cost more by the float path than by the double sums alone,
// an output settled alone costing several by the double rows: after a row with more than one in
// eight settled a pass takes the double sums for a stretch of rows and then tries again, the
// stretch doubling (from 16 up to 1024 rows) while the tries keep failing.
struct PassChoice {
  int32_t doubleRowsLeft = 0, stretch = 16;
  bool Doubles() {
    if (doubleRowsLeft <= 0) return false;
    doubleRowsLeft--;
    return true;
  }
  void After(int32_t settled, int64_t outputs) {
    if (int64_t(settled) * 8 <= outputs) {
      stretch = 16;
      return;
    }
    doubleRowsLeft = stretch;
    stretch = std::min(2 * stretch, 1024);
  }
};

__attribute__((target("avx2"))) void FloatsToDoubles(const float *f, int64_t n, double *d) {
  int64_t i = 0;
  for (; i + 4 <= n; i += 4) _mm256_storeu_pd(d + i, _mm256_cvtps_pd(_mm_loadu_ps(f + i)));
  for (; i < n; i++) d[i] = double(f[i]);
}

__attribute__((target("avx2"))) void DoublesToFloats(const double *d, int64_t n, float *f) {
  int64_t i = 0;
  for (; i + 4 <= n; i += 4) _mm_storeu_ps(f + i, _mm256_cvtpd_ps(_mm256_loadu_pd(d + i)));
  for (; i < n; i++) f[i] = float(d[i]);
}

// The three channels of n words as floats, in one sweep.
__attribute__((target("avx2"))) void SplitRow(const uint32_t *src, int32_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB,
                                              float *__restrict r, float *__restrict g, float *__restrict b) {
  const __m128i sr = _mm_cvtsi32_si128(shiftR), sg = _mm_cvtsi32_si128(shiftG), sb = _mm_cvtsi32_si128(shiftB);
  const __m256i byte = _mm256_set1_epi32(0xFF);
  int32_t x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x));
    _mm256_storeu_ps(r + x, _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srl_epi32(v, sr), byte)));
    _mm256_storeu_ps(g + x, _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srl_epi32(v, sg), byte)));
    _mm256_storeu_ps(b + x, _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srl_epi32(v, sb), byte)));
  }
  for (; x < n; x++)
    r[x] = float((src[x] >> shiftR) & 0xFF), g[x] = float((src[x] >> shiftG) & 0xFF), b[x] = float((src[x] >> shiftB) & 0xFF);
}

} // namespace

__attribute__((target("avx2,fma"))) uint32_t BlurRowsCertifiedAvx2(uint32_t *pixels, int32_t width, int32_t height,
                                                                  int32_t pitch, const double *kernel, int32_t w,
                                                                  int32_t shiftR, int32_t shiftG, int32_t shiftB,
                                                                  const uint8_t *flat, const qmCancel &cancel) {
  if (uint32_t code = PollCancel(cancel)) return code;
  const int32_t half = w / 2;
  const int64_t padded = int64_t(width) + w - 1, outputs = 3 * int64_t(width);
  std::vector<float> weights(static_cast<size_t>(w)), flatSums(256);
  for (int32_t i = 0; i < w; i++) weights[size_t(i)] = float(kernel[i]);
  for (int32_t v = 0; v < 256; v++) flatSums[size_t(v)] = float(flat[v]);
  bool symmetric = true;
  for (int32_t i = 0; i < w; i++) symmetric = symmetric && weights[size_t(i)] == weights[size_t(w - 1 - i)];
  const float bound = float(255.0 * (w + 2) / 16777216.0);
  const CertifiedKernel k{weights.data(), kernel, w, _mm256_set1_ps(2 * bound), _mm256_set1_ps(4 * bound), flatSums.data(),
                          symmetric};
  const __m128i shifts[3] = {_mm_cvtsi32_si128(shiftR), _mm_cvtsi32_si128(shiftG), _mm_cvtsi32_si128(shiftB)};
  // One padded row's three planes; the last w horizontal results of each channel in a ring;
  // both also as doubles where the double sums take them (ringHolds, ringHoldsF: the padded row
  // whose doubles and floats each slot holds, -1 for none).
  const size_t rowSize = size_t(3 * padded), ringSize = size_t(w) * 3 * size_t(width);
  std::vector<float> row(rowSize), ring(ringSize), sums(3 * size_t(width));
  std::vector<double> rowD(rowSize), ringD(ringSize), sumsD(3 * size_t(width));
  std::vector<int64_t> ringHolds(size_t(w) * 3, -1), ringHoldsF(size_t(w) * 3, -1);
  auto ringAt = [&](int64_t p, int c) { return (size_t(p % w) * 3 + size_t(c)) * size_t(width); };
  // Ring row p of channel c as `to` holds it (the slot's record in holds), made from `from` first
  // where the slot holds an older row.
  auto held = [&](auto &to, const auto &from, std::vector<int64_t> &holds, auto convert, int64_t p, int c) {
    const size_t at = ringAt(p, c);
    int64_t &slot = holds[size_t(p % w) * 3 + size_t(c)];
    if (slot != p) convert(from.data() + at, width, to.data() + at), slot = p;
    return to.data() + at;
  };
  std::vector<const float *> taps(static_cast<size_t>(w));
  std::vector<const double *> tapsD(static_cast<size_t>(w));
  std::vector<int64_t> markFirst(size_t(width) / 8 + 1);
  std::vector<uint64_t> markLanes(size_t(width) / 8 + 1);
  const Marks marks{markFirst.data(), markLanes.data()};
  PassChoice across, down;
  // Padded row p is the horizontal result of picture row p - w/2, the edge rows repeated.
  auto horizontal = [&](int64_t p) __attribute__((target("avx2,fma"))) {
    const uint32_t *src = pixels + std::clamp<int64_t>(p - half, 0, height - 1) * pitch;
    if (across.Doubles()) {
      double *planes[3] = {rowD.data(), rowD.data() + padded, rowD.data() + 2 * padded};
      SplitChannelsAvx2(src, width, shiftR, shiftG, shiftB, planes[0] + half, planes[1] + half, planes[2] + half);
      for (int c = 0; c < 3; c++) {
        std::fill(planes[c], planes[c] + half, planes[c][half]);
        std::fill(planes[c] + half + width, planes[c] + padded, planes[c][half + width - 1]);
        for (int32_t t = 0; t < w; t++) tapsD[size_t(t)] = planes[c] + t;
        const size_t at = ringAt(p, c);
        ConvolveTapsRows<true>(tapsD.data(), kernel, w, width, ringD.data() + at);
        ringHolds[size_t(p % w) * 3 + size_t(c)] = p;
      }
      return;
    }
    // The next call's row is fetched while this one is summed: the picture is read from memory.
    const uint32_t *next = pixels + std::clamp<int64_t>(p + 1 - half, 0, height - 1) * pitch;
    for (int32_t x = 0; x < width; x += 16) _mm_prefetch(reinterpret_cast<const char *>(next + x), _MM_HINT_T0);
    float *planes[3] = {row.data(), row.data() + padded, row.data() + 2 * padded};
    SplitRow(src, width, shiftR, shiftG, shiftB, planes[0] + half, planes[1] + half, planes[2] + half);
    int32_t settled = 0;
    for (int c = 0; c < 3; c++) {
      float *plane = planes[c], *inner = plane + half;
      std::fill(plane, inner, inner[0]);
      std::fill(inner + width, plane + padded, inner[width - 1]);
      for (int32_t t = 0; t < w; t++) taps[size_t(t)] = plane + t;
      settled += CertifiedRow(taps.data(), k, width, ring.data() + ringAt(p, c), marks);
      ringHoldsF[size_t(p % w) * 3 + size_t(c)] = p;
    }
    across.After(settled, outputs);
  };
  for (int32_t p = 0; p + 1 < w; p++) horizontal(p);
  for (int32_t y = 0; y < height; y++) {
    horizontal(int64_t(y) + w - 1);
    uint32_t *out = pixels + int64_t(y) * pitch;
    if (down.Doubles()) {
      for (int c = 0; c < 3; c++) {
        for (int32_t t = 0; t < w; t++) tapsD[size_t(t)] = held(ringD, ring, ringHolds, FloatsToDoubles, int64_t(y) + t, c);
        ConvolveTapsRows<true>(tapsD.data(), kernel, w, width, sumsD.data() + size_t(c) * size_t(width));
      }
      const double *r = sumsD.data(), *g = r + width, *b = g + width;
      PackChannelsAvx2(r, g, b, width, shiftR, shiftG, shiftB, out);
      continue;
    }
    int32_t settled = 0;
    for (int c = 0; c < 3; c++) {
      for (int32_t t = 0; t < w; t++) taps[size_t(t)] = held(ring, ringD, ringHoldsF, DoublesToFloats, int64_t(y) + t, c);
      settled += CertifiedRow(taps.data(), k, width, sums.data() + size_t(c) * size_t(width), marks);
    }
    down.After(settled, outputs);
    const float *r = sums.data(), *g = r + width, *b = g + width;
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) {
      const __m256i vr = _mm256_sll_epi32(_mm256_cvttps_epi32(_mm256_loadu_ps(r + x)), shifts[0]);
      const __m256i vg = _mm256_sll_epi32(_mm256_cvttps_epi32(_mm256_loadu_ps(g + x)), shifts[1]);
      const __m256i vb = _mm256_sll_epi32(_mm256_cvttps_epi32(_mm256_loadu_ps(b + x)), shifts[2]);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), _mm256_or_si256(_mm256_or_si256(vr, vg), vb));
    }
    for (; x < width; x++) out[x] = (uint32_t(r[x]) << shiftR) | (uint32_t(g[x]) << shiftG) | (uint32_t(b[x]) << shiftB);
  }
  return 0;
}
