// The distortions' rendering for processors with AVX2: barrel and perspective rows mapped, and
// point samples taken, four pixels at a time; four bilinear pixels sampled and stored at once;
// the byte sums of a sample as one vector of four doubles; rounding by instruction. Every
// lane gets the scalar operations in the scalar order (sums, products, quotients and roots are
// correctly rounded either way, and nothing is fused), so the results are the scalar ones.
// Smooth barrels also take eight bilinear pixels at once by means in floats, kept only where
// they provably give the bytes of the exact means (BilinearGroup8), and radial ones keep what
// depends on the distance from the centre alone for mirrored rows and columns (RadialRow).
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/bitmap.h"
#include "graphics/distort.h"

// The shared rendering is compiled here for AVX2. The headers above come first, so that their
// inline functions, which other files share, keep the baseline instruction set (the file has no
// -mavx2: a shared inline copy with AVX2 code could be the one the linker keeps for everyone).
// Fused multiply-adds come only where written (the float means): the file is built without
// contraction (graphics/CMakeLists.txt), so the doubles keep their separate roundings.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif
#include "graphics/distort_render.h"

namespace {

// The four bytes of the words summed in one vector, byte k in lane k. Kept as plain doubles,
// which any allocation holds, and loaded whole.
struct ByteSums4 {
  double v[4] = {0, 0, 0, 0};
  void Add(double a, uint32_t w) {
    const __m256d bytes = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(int32_t(w))));
    _mm256_storeu_pd(v, _mm256_add_pd(_mm256_loadu_pd(v), _mm256_mul_pd(_mm256_set1_pd(a), bytes)));
  }
  // As ByteSums::Word: max and min are the clamp, as the means are numbers.
  uint32_t Word(double d) const {
    __m256d mean = _mm256_add_pd(_mm256_div_pd(_mm256_loadu_pd(v), _mm256_set1_pd(d)), _mm256_set1_pd(0.5));
    mean = _mm256_min_pd(_mm256_max_pd(mean, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
    const __m128i bytes = _mm_shuffle_epi8(_mm256_cvttpd_epi32(mean), _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
    return uint32_t(_mm_cvtsi128_si32(bytes));
  }
};

// Lanes written out to the row's records.
struct Lanes {
  double u[4], v[4], valid[4], p[4], q[4], r[4], s[4];
  void Write(Mapped *out, bool derivatives) const {
    for (int k = 0; k < 4; k++) out[k] = Mapped{u[k], v[k], valid[k], p[k], q[k], r[k], s[k], derivatives};
  }
};

// x of result pixels i..i+3, as the scalar's originX + i + 0.5.
inline __m256d ColumnsAt(const qmDistortRequest *req, int64_t i) {
  return _mm256_add_pd(_mm256_add_pd(_mm256_set1_pd(double(req->originX + i)), _mm256_setr_pd(0, 1, 2, 3)), _mm256_set1_pd(0.5));
}

inline __m256d Set(double x) { return _mm256_set1_pd(x); }

// MapPoint's results for four pixels of a row.
struct Mapped4 {
  __m256d u, v, valid, p, q, r, s;
  void Write(Mapped *out, bool derivatives) const {
    Lanes l;
    _mm256_storeu_pd(l.u, u), _mm256_storeu_pd(l.v, v), _mm256_storeu_pd(l.valid, valid), _mm256_storeu_pd(l.p, p);
    _mm256_storeu_pd(l.q, q), _mm256_storeu_pd(l.r, r), _mm256_storeu_pd(l.s, s);
    l.Write(out, derivatives);
  }
};

// MapPoint of the barrel for the pixels of the result row at y, four at a time.
template <bool WithDerivatives> struct BarrelRow {
  const qmDistortRequest *req;
  const double *c = req->coeffs;
  const double dyS;
  const __m256d dy = Set(dyS), dy2 = Set(dyS * dyS), half = Set(0.5);
  const __m256d c0 = Set(c[0]), c1 = Set(c[1]), c2 = Set(c[2]), c3 = Set(c[3]), c4 = Set(c[4]), c5 = Set(c[5]), c6 = Set(c[6]), c7 = Set(c[7]);
  const __m256d c0x3 = Set(3 * c[0]), c1x2 = Set(2 * c[1]), c4x3 = Set(3 * c[4]), c5x2 = Set(2 * c[5]);
  // Within kEps of the centre the scalar returns fixed values (with no half-pixel shift).
  const __m256d centreU = Set(c[8] - 0.5), centreV = Set(c[9] - 0.5), eps = Set(kEps);
  // Both polynomials the same, bit for bit: then fy is fx, and the map is radial.
  const bool radial = std::memcmp(c, c + 4, 4 * sizeof(double)) == 0;
  BarrelRow(const qmDistortRequest *r, double y) : req(r), dyS(y - r->coeffs[9]) {}
  // u, v and valid of pixels i..i+3 as At gives them (the derivatives left out), and whether
  // the ellipse of every one is surely within a pixel (F below 4 by a wide margin), by the
  // rough derivatives: F is never above alpha gamma. Radial maps are told by Radial instead.
  bool SmallAt(int64_t i, Mapped4 *m) const {
    const __m256d one = Set(1);
    *m = At(i, true);
    const __m256d alpha = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(m->r, m->r), _mm256_mul_pd(m->s, m->s)), one);
    const __m256d gamma = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(m->p, m->p), _mm256_mul_pd(m->q, m->q)), one);
    return _mm256_movemask_pd(_mm256_cmp_pd(_mm256_mul_pd(alpha, gamma), Set(3.99), _CMP_LT_OQ)) == 15;
  }
  // What a radial map gives pixels i..i+3 by their distance from the centre alone: the squared
  // distance (the root's operand), whether they are at the centre, f and the F of the ellipse.
  // The derivatives are f I + (g / r) d d^T for the offset d from the centre and g = f'(r) as
  // the doubles give them, whose singular values are f and f + g r: so F = 1 + |J|^2 + det J^2
  // = (1 + f^2) (1 + (f + g r)^2). Where this is below 3.99 every term of F is below 4, and the
  // F that EwaShapeOf makes from the rounded derivatives lies within 1e-13 of it: the ellipse
  // is surely within a pixel. At the centre the derivatives are c3 and c7 (here equal) alone.
  void Radial(int64_t i, __m256d *r2, __m256d *centre, __m256d *f, __m256d *ellipse) const {
    const __m256d dx = _mm256_sub_pd(ColumnsAt(req, i), Set(c[8])), one = Set(1);
    *r2 = _mm256_add_pd(_mm256_mul_pd(dx, dx), dy2);
    const __m256d r = _mm256_sqrt_pd(*r2);
    *centre = _mm256_cmp_pd(r, eps, _CMP_LE_OQ);
    *f = _mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(c0, r), c1), r), c2), r), c3);
    const __m256d g = _mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(c0x3, r), c1x2), r), c2);
    const __m256d along = _mm256_blendv_pd(_mm256_add_pd(*f, _mm256_mul_pd(g, r)), c3, *centre);
    const __m256d across = _mm256_blendv_pd(*f, c3, *centre);
    *ellipse = _mm256_mul_pd(_mm256_add_pd(one, _mm256_mul_pd(across, across)), _mm256_add_pd(one, _mm256_mul_pd(along, along)));
  }
  // The root's operands alone.
  void Radial2(int64_t i, __m256d *r2) const {
    const __m256d dx = _mm256_sub_pd(ColumnsAt(req, i), Set(c[8]));
    *r2 = _mm256_add_pd(_mm256_mul_pd(dx, dx), dy2);
  }
  // SmallAt of a radial map from what Radial gave for pixels i..i+3.
  bool SmallFrom(int64_t i, __m256d centre, __m256d f, __m256d ellipse, Mapped4 *m) const {
    const __m256d dx = _mm256_sub_pd(ColumnsAt(req, i), Set(c[8]));
    const __m256d u = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(f, dx), Set(c[8])), half);
    const __m256d v = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(f, dy), Set(c[9])), half);
    m->u = _mm256_blendv_pd(u, centreU, centre), m->v = _mm256_blendv_pd(v, centreV, centre), m->valid = Set(1);
    // Not numbers compare false: such lanes are not small.
    return _mm256_movemask_pd(_mm256_cmp_pd(ellipse, Set(3.99), _CMP_LT_OQ)) == 15;
  }
  // Rough: the derivatives by one reciprocal instead of four quotients, within a few units in
  // the last place of the exact ones; only for telling an ellipse that is surely small.
  Mapped4 At(int64_t i, bool rough = false) const {
    const __m256d zero = _mm256_setzero_pd();
    Mapped4 m{zero, zero, Set(1), zero, zero, zero, zero};
    const __m256d dx = _mm256_sub_pd(ColumnsAt(req, i), Set(c[8]));
    const __m256d r = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), dy2));
    const __m256d centre = _mm256_cmp_pd(r, eps, _CMP_LE_OQ);
    const __m256d fx = _mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(c0, r), c1), r), c2), r), c3);
    const __m256d fy = _mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(c4, r), c5), r), c6), r), c7);
    const __m256d u = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(fx, dx), Set(c[8])), half);
    const __m256d v = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(fy, dy), Set(c[9])), half);
    m.u = _mm256_blendv_pd(u, centreU, centre), m.v = _mm256_blendv_pd(v, centreV, centre);
    if (WithDerivatives) {
      const __m256d gx = _mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(c0x3, r), c1x2), r), c2);
      const __m256d gy = _mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(c4x3, r), c5x2), r), c6);
      const __m256d a = _mm256_mul_pd(dx, gx), b = _mm256_mul_pd(dy, gy);
      if (rough) {
        const __m256d inv = _mm256_div_pd(Set(1), r);
        m.p = _mm256_add_pd(fx, _mm256_mul_pd(_mm256_mul_pd(a, dx), inv)), m.q = _mm256_mul_pd(_mm256_mul_pd(a, dy), inv);
        m.r = _mm256_mul_pd(_mm256_mul_pd(b, dx), inv), m.s = _mm256_add_pd(fy, _mm256_mul_pd(_mm256_mul_pd(b, dy), inv));
        // Where the polynomials are large, terms that cancel could be far off: no answer there.
        const __m256d large = _mm256_or_pd(_mm256_cmp_pd(_mm256_andnot_pd(Set(-0.0), fx), Set(1e6), _CMP_NLT_UQ),
                                           _mm256_cmp_pd(_mm256_andnot_pd(Set(-0.0), fy), Set(1e6), _CMP_NLT_UQ));
        m.p = _mm256_blendv_pd(m.p, Set(NAN), large);
        m.p = _mm256_blendv_pd(m.p, c3, centre), m.q = _mm256_blendv_pd(m.q, zero, centre);
        m.r = _mm256_blendv_pd(m.r, zero, centre), m.s = _mm256_blendv_pd(m.s, c7, centre);
        return m;
      }
      const __m256d p = _mm256_add_pd(fx, _mm256_div_pd(_mm256_mul_pd(a, dx), r));
      const __m256d q = _mm256_div_pd(_mm256_mul_pd(a, dy), r);
      const __m256d rr = _mm256_div_pd(_mm256_mul_pd(b, dx), r);
      const __m256d s = _mm256_add_pd(fy, _mm256_div_pd(_mm256_mul_pd(b, dy), r));
      m.p = _mm256_blendv_pd(p, c3, centre), m.q = _mm256_blendv_pd(q, zero, centre);
      m.r = _mm256_blendv_pd(rr, zero, centre), m.s = _mm256_blendv_pd(s, c7, centre);
    }
    return m;
  }
};

// MapPoint of the perspective for the pixels of the result row at y, four at a time.
template <bool WithDerivatives> struct PerspectiveRow {
  const qmDistortRequest *req;
  const double *c = req->coeffs;
  const double y;
  const double mmS = std::fabs(c[6]) >= std::fabs(c[7]) ? c[6] : c[7];
  const __m256d c0 = Set(c[0]), c1 = Set(c[1]), c3 = Set(c[3]), c4 = Set(c[4]), c6 = Set(c[6]), c7 = Set(c[7]), c8 = Set(c[8]);
  const __m256d c7y = Set(c[7] * y), c1y = Set(c[1] * y), c4y = Set(c[4] * y), one = Set(1), half = Set(0.5);
  const __m256d mm = Set(mmS), absMm = Set(std::fabs(mmS)), sign = Set(-0.0);
  PerspectiveRow(const qmDistortRequest *r, double yy) : req(r), y(yy) {}
  Mapped4 At(int64_t i) const {
    const __m256d zero = _mm256_setzero_pd();
    Mapped4 m{zero, zero, zero, zero, zero, zero, zero};
    const __m256d x = ColumnsAt(req, i);
    const __m256d q = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(c6, x), c7y), one);
    const __m256d qc = _mm256_mul_pd(q, c8);
    m.valid = _mm256_blendv_pd(zero, one, _mm256_cmp_pd(qc, zero, _CMP_GE_OQ));
    const __m256d nearHorizon = _mm256_cmp_pd(_mm256_mul_pd(Set(2), _mm256_andnot_pd(sign, q)), absMm, _CMP_LT_OQ);
    m.valid = _mm256_blendv_pd(m.valid, _mm256_sub_pd(half, _mm256_div_pd(qc, mm)), nearHorizon);
    const __m256d u = _mm256_div_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(c0, x), c1y), Set(c[2])), q);
    const __m256d v = _mm256_div_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(c3, x), c4y), Set(c[5])), q);
    m.u = _mm256_sub_pd(u, half), m.v = _mm256_sub_pd(v, half);
    if (WithDerivatives) {
      m.p = _mm256_div_pd(_mm256_sub_pd(c0, _mm256_mul_pd(c6, u)), q);
      m.q = _mm256_div_pd(_mm256_sub_pd(c1, _mm256_mul_pd(c7, u)), q);
      m.r = _mm256_div_pd(_mm256_sub_pd(c3, _mm256_mul_pd(c6, v)), q);
      m.s = _mm256_div_pd(_mm256_sub_pd(c4, _mm256_mul_pd(c7, v)), q);
    }
    return m;
  }
};

// Maps the row four pixels at a time; returns the first pixel left to do.
template <typename Row> int64_t MapRowGroups(const Row &mapper, bool derivatives, Mapped *row, int64_t from) {
  int64_t i = from;
  for (; i + 4 <= mapper.req->resultWidth; i += 4) mapper.At(i).Write(row + i, derivatives);
  return i;
}

// RenderPoint for result row j, four pixels at a time; returns the first pixel left to do.
template <typename Row> int64_t PointRowGroups(const Row &mapper, int64_t j) {
  const qmDistortRequest *req = mapper.req;
  const qmDistortPicture &pic = req->src, &d = req->dst;
  const __m256d zero = _mm256_setzero_pd(), minus1 = Set(-1), w = Set(pic.width), h = Set(pic.height);
  const int *base = reinterpret_cast<const int *>(pic.pixels);
  int64_t i = 0;
  for (; i + 4 <= req->resultWidth; i += 4) {
    const Mapped4 m = mapper.At(i);
    __m256d ok = _mm256_and_pd(_mm256_cmp_pd(m.valid, zero, _CMP_GT_OQ), _mm256_cmp_pd(m.u, minus1, _CMP_GT_OQ));
    ok = _mm256_and_pd(ok, _mm256_and_pd(_mm256_cmp_pd(m.u, w, _CMP_LT_OQ), _mm256_cmp_pd(m.v, minus1, _CMP_GT_OQ)));
    ok = _mm256_and_pd(ok, _mm256_cmp_pd(m.v, h, _CMP_LT_OQ));
    // Lanes outside read nothing: their positions become 0 and their gather is masked off.
    const __m128i x = _mm256_cvttpd_epi32(_mm256_and_pd(ok, m.u)), y = _mm256_cvttpd_epi32(_mm256_and_pd(ok, m.v));
    const __m256i at = _mm256_add_epi64(_mm256_mul_epi32(_mm256_cvtepi32_epi64(y), _mm256_set1_epi64x(pic.pitch)), _mm256_cvtepi32_epi64(x));
    alignas(32) int64_t ats[4];
    alignas(16) int32_t xs[4], ys[4];
    _mm256_store_si256(reinterpret_cast<__m256i *>(ats), at);
    const int okBits = _mm256_movemask_pd(ok);
    uint32_t *out = d.pixels + j * d.pitch + i;
    for (int k = 0; k < 4; k++) out[k] = okBits >> k & 1 ? uint32_t(base[ats[k]]) : 0;
    if (!d.mask && !d.alpha) continue;
    _mm_store_si128(reinterpret_cast<__m128i *>(xs), x), _mm_store_si128(reinterpret_cast<__m128i *>(ys), y);
    for (int k = 0; k < 4; k++) {
      const bool in = okBits >> k & 1;
      const int64_t sx = xs[k], sy = ys[k];
      if (d.mask) SetMaskBit(d.mask + j * d.maskBytesPerRow, int32_t(i + k), in && (!pic.mask || GetMaskBit(pic.mask + sy * pic.maskBytesPerRow, int32_t(sx))));
      if (d.alpha) d.alpha[j * d.alphaBytesPerRow + i + k] = !in ? 0 : pic.alpha ? pic.alpha[sy * pic.alphaBytesPerRow + sx] : 255;
    }
  }
  return i;
}

// The four bytes of the left (side 0) or right (side 1) words of the pairs, each as doubles:
// a byte put under the exponent of 2^52 is that double plus the byte, exactly.
inline void BytesOf(__m256i pairs, int side, __m256d *b) {
  const __m256d magic = _mm256_castsi256_pd(_mm256_set1_epi64x(0x4330000000000000));
  for (int k = 0; k < 4; k++) {
    const char at = char(4 * side + k), z = char(0x80);
    const __m256i pick = _mm256_setr_epi8(at, z, z, z, z, z, z, z, char(at + 8), z, z, z, z, z, z, z, //
                                          at, z, z, z, z, z, z, z, char(at + 8), z, z, z, z, z, z, z);
    b[k] = _mm256_sub_pd(_mm256_or_pd(_mm256_castsi256_pd(_mm256_shuffle_epi8(pairs, pick)), magic), magic);
  }
}

// The two words from p on.
inline int64_t Pair(const uint32_t *p) {
  int64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Where four lanes take their bilinear mix of four pixels inside the picture, as Bilinear: the
// whole positions, the fractions and their rests to 1 and each lane's two words of its upper and
// lower row. False where any lane does otherwise.
struct BilinearTaps {
  __m128i x, y;
  __m256d tx, ty, rx, ry;
  __m256i pairs[2]; // upper and lower row: the left word in the low half of each lane
};

__attribute__((always_inline)) inline bool TapsOf(const qmDistortPicture &pic, __m256d u, __m256d v, __m256d valid, BilinearTaps *t) {
  const __m256d zero = _mm256_setzero_pd(), one = Set(1);
  // floor(u) >= 0 and floor(u) + 1 < width are u >= 0 and u < width - 1, a whole number.
  __m256d ok = _mm256_cmp_pd(valid, zero, _CMP_GT_OQ);
  ok = _mm256_and_pd(ok, _mm256_and_pd(_mm256_cmp_pd(u, zero, _CMP_GE_OQ), _mm256_cmp_pd(v, zero, _CMP_GE_OQ)));
  ok = _mm256_and_pd(ok, _mm256_cmp_pd(u, Set(pic.width - 1), _CMP_LT_OQ));
  ok = _mm256_and_pd(ok, _mm256_cmp_pd(v, Set(pic.height - 1), _CMP_LT_OQ));
  if (_mm256_movemask_pd(ok) != 15) return false;
  const __m256d fu = _mm256_floor_pd(u), fv = _mm256_floor_pd(v);
  t->tx = _mm256_sub_pd(u, fu), t->ty = _mm256_sub_pd(v, fv);
  t->rx = _mm256_sub_pd(one, t->tx), t->ry = _mm256_sub_pd(one, t->ty);
  t->x = _mm256_cvttpd_epi32(fu), t->y = _mm256_cvttpd_epi32(fv);
  const __m256i at = _mm256_add_epi64(_mm256_mul_epi32(_mm256_cvtepi32_epi64(t->y), _mm256_set1_epi64x(pic.pitch)), _mm256_cvtepi32_epi64(t->x));
  // Each lane's two neighbours along a row in one load of 64 bits (plain loads: gathers are slow
  // on some processors).
  alignas(32) int64_t ats[4];
  _mm256_store_si256(reinterpret_cast<__m256i *>(ats), at);
  const uint32_t *upper = pic.pixels, *lower = pic.pixels + pic.pitch;
  t->pairs[0] = _mm256_setr_epi64x(Pair(upper + ats[0]), Pair(upper + ats[1]), Pair(upper + ats[2]), Pair(upper + ats[3]));
  t->pairs[1] = _mm256_setr_epi64x(Pair(lower + ats[0]), Pair(lower + ats[1]), Pair(lower + ats[2]), Pair(lower + ats[3]));
  return true;
}

// The opacities of the four taps of lanes lane0..lane0+3 of o (tap by tap) from the source's
// alpha plane or mask, which it has.
void TapOpacities(const qmDistortPicture &pic, const BilinearTaps &t, int32_t (*o)[8], int lane0) {
  alignas(16) int32_t xs[4], ys[4];
  _mm_store_si128(reinterpret_cast<__m128i *>(xs), t.x), _mm_store_si128(reinterpret_cast<__m128i *>(ys), t.y);
  for (int k = 0; k < 4; k++) {
    const int l = lane0 + k;
    if (pic.alpha) {
      const uint8_t *a = pic.alpha + int64_t(ys[k]) * pic.alphaBytesPerRow + xs[k];
      o[0][l] = a[0], o[1][l] = a[1], o[2][l] = a[pic.alphaBytesPerRow], o[3][l] = a[pic.alphaBytesPerRow + 1];
    } else {
      const uint8_t *m0 = pic.mask + int64_t(ys[k]) * pic.maskBytesPerRow, *m1 = m0 + pic.maskBytesPerRow;
      o[0][l] = GetMaskBit(m0, xs[k]) ? 255 : 0, o[1][l] = GetMaskBit(m0, xs[k] + 1) ? 255 : 0;
      o[2][l] = GetMaskBit(m1, xs[k]) ? 255 : 0, o[3][l] = GetMaskBit(m1, xs[k] + 1) ? 255 : 0;
    }
  }
}

// Ewa and Store for result pixels i..i+3 of row j where each takes the bilinear mix of four
// pixels inside the picture, lanes being pixels: the same operations in the same order as
// there, pixel by pixel. False, with nothing written, where any of them does otherwise.
bool BilinearGroup(const qmDistortRequest *req, __m256d u, __m256d v, __m256d valid, int64_t i, int64_t j) {
  const qmDistortPicture &pic = req->src, &d = req->dst;
  BilinearTaps taps;
  if (!TapsOf(pic, u, v, valid, &taps)) return false;
  const __m256d zero = _mm256_setzero_pd();
  const __m256d weights[4] = {_mm256_mul_pd(taps.rx, taps.ry), _mm256_mul_pd(taps.tx, taps.ry), _mm256_mul_pd(taps.rx, taps.ty),
                              _mm256_mul_pd(taps.tx, taps.ty)};
  __m256d opacity[4] = {Set(255), Set(255), Set(255), Set(255)};
  if (pic.alpha || pic.mask) {
    alignas(32) int32_t o[4][8];
    TapOpacities(pic, taps, o, 0);
    for (int t = 0; t < 4; t++) opacity[t] = _mm256_cvtepi32_pd(_mm_load_si128(reinterpret_cast<const __m128i *>(o[t])));
  }
  // The sums tap by tap, as Bilinear adds them from zero: the first terms stand for their sums
  // with zero, which they equal, being at least +0 or not numbers.
  __m256d sum[4], sumA = zero;
  for (int t = 0; t < 4; t++) {
    const __m256d a = _mm256_mul_pd(opacity[t], weights[t]);
    __m256d bytes[4];
    BytesOf(taps.pairs[t >> 1], t & 1, bytes);
    for (int c = 0; c < 4; c++) sum[c] = t ? _mm256_add_pd(sum[c], _mm256_mul_pd(a, bytes[c])) : _mm256_mul_pd(a, bytes[c]);
    sumA = t ? _mm256_add_pd(sumA, a) : a;
  }
  // Store with a total of 1: the opacity is the sum itself (a quotient by 1), the bytes the
  // sums over it where it is above 0. Max and min are the clamp, for numbers and for the
  // quotients by 0 that the blend then drops.
  const __m256d half = Set(0.5), top = Set(255);
  __m128i word = _mm_setzero_si128();
  for (int c = 0; c < 4; c++) {
    const __m256d mean = _mm256_min_pd(_mm256_max_pd(_mm256_add_pd(_mm256_div_pd(sum[c], sumA), half), zero), top);
    word = _mm_or_si128(word, _mm_slli_epi32(_mm256_cvttpd_epi32(mean), 8 * c));
  }
  const __m128i some = _mm256_cvtpd_epi32(_mm256_and_pd(_mm256_cmp_pd(sumA, zero, _CMP_GT_OQ), Set(-1.0))); // -1 where above 0
  _mm_storeu_si128(reinterpret_cast<__m128i *>(d.pixels + j * d.pitch + i), _mm_and_si128(word, some));
  const __m128i opacityOut = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(_mm256_add_pd(sumA, half), zero), top));
  if (d.alpha) {
    const int32_t bytes = _mm_cvtsi128_si32(_mm_shuffle_epi8(opacityOut, _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)));
    std::memcpy(d.alpha + j * d.alphaBytesPerRow + i, &bytes, sizeof bytes);
  }
  if (d.mask) {
    alignas(16) int32_t o[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(o), opacityOut);
    for (int k = 0; k < 4; k++) SetMaskBit(d.mask + j * d.maskBytesPerRow, int32_t(i + k), o[k] >= 128);
  }
  return true;
}

// Eight floats from the doubles of lanes 0..3 (lo) and 4..7 (hi).
inline __m256 Floats8(__m256d lo, __m256d hi) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(lo)), _mm256_cvtpd_ps(hi), 1);
}

// The left (side 0) or right (side 1) words of the pairs of lanes 0..3 (lo) and 4..7 (hi), in
// lane order.
inline __m256i Words8(__m256i lo, __m256i hi, int side) {
  const __m256 l = _mm256_castsi256_ps(lo), h = _mm256_castsi256_ps(hi);
  const __m256 picked = side ? _mm256_shuffle_ps(l, h, _MM_SHUFFLE(3, 1, 3, 1)) : _mm256_shuffle_ps(l, h, _MM_SHUFFLE(2, 0, 2, 0));
  return _mm256_permute4x64_epi64(_mm256_castps_si256(picked), _MM_SHUFFLE(3, 1, 2, 0));
}

// How far a bilinear mean in floats may lie from the exact one, counted in float units u = 2^-24
// of relative error (nothing cancels, every term being at least 0, and the means are at most
// 255): with planes, the two fractions, their product, the opacity, the byte and three sums (a
// fused multiply-add rounds once for its product and sum) make at most 8u on the byte sums and
// 7u on the opacity sums, the reciprocal 8u, the product 17u: 2.6e-4.
// Without planes every opacity is 255 and the weights sum to 1 but for a few units of a double,
// so the mean is the weighted sum itself, with 7u: 1.1e-4. The margins keep about twice that
// (and four to six times the largest gaps seen over random fractions and bytes): beyond them from
// the halves between whole numbers both means round to the same byte; and as the means lie
// within them of 0..255, they are rounded without a clamp.
constexpr float kFloatMargin = 1.0f / 2048, kFloatMarginOpaque = 1.0f / 4096;
// Opacity sums below this are left to the doubles: there the weights lost in floats below the
// smallest normal number would matter.
constexpr float kFloatLeast = 0x1p-60f;

// BilinearGroup for result pixels i..i+7 of row j, lanes 0..3 of lo and hi being pixels i..i+3
// and i+4..i+7: the means first in floats, eight pixels at a time, and kept where each lies
// clear of the whole numbers at which the rounding of the exact mean could go either way (the
// exact sums are then not needed, as both truncate alike). False, with nothing written, where
// any pixel does not take the bilinear mix inside the picture or any mean lies too close.
__attribute__((always_inline)) inline bool BilinearGroup8(const qmDistortRequest *req, const Mapped4 &lo, const Mapped4 &hi, int64_t i, int64_t j) {
  const qmDistortPicture &pic = req->src, &d = req->dst;
  BilinearTaps tl, th;
  if (!TapsOf(pic, lo.u, lo.v, lo.valid, &tl) || !TapsOf(pic, hi.u, hi.v, hi.valid, &th)) return false;
  const bool opaque = !pic.alpha && !pic.mask;
  __m256 opacity[4];
  if (!opaque) {
    alignas(32) int32_t o[4][8];
    TapOpacities(pic, tl, o, 0), TapOpacities(pic, th, o, 4);
    for (int t = 0; t < 4; t++) opacity[t] = _mm256_cvtepi32_ps(_mm256_load_si256(reinterpret_cast<const __m256i *>(o[t])));
  }
  // Byte c of every word moved to the word's low byte, the others zero.
  __m256i pickByte[4];
  for (int c = 0; c < 4; c++) {
    const char z = char(0x80);
    pickByte[c] = _mm256_setr_epi8(char(c), z, z, z, char(c + 4), z, z, z, char(c + 8), z, z, z, char(c + 12), z, z, z, //
                                   char(c), z, z, z, char(c + 4), z, z, z, char(c + 8), z, z, z, char(c + 12), z, z, z);
  }
  // The sums of the bytes by weight, or by weight times opacity, with the opacity sums.
  const __m256 tx = Floats8(tl.tx, th.tx), ty = Floats8(tl.ty, th.ty), rx = Floats8(tl.rx, th.rx), ry = Floats8(tl.ry, th.ry);
  const __m256 weights[4] = {_mm256_mul_ps(rx, ry), _mm256_mul_ps(tx, ry), _mm256_mul_ps(rx, ty), _mm256_mul_ps(tx, ty)};
  __m256 sum[4], sumA = _mm256_setzero_ps();
  for (int t = 0; t < 4; t++) {
    const __m256 a = opaque ? weights[t] : _mm256_mul_ps(weights[t], opacity[t]);
    const __m256i words = Words8(tl.pairs[t >> 1], th.pairs[t >> 1], t & 1);
    for (int c = 0; c < 4; c++) {
      const __m256 bytes = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(words, pickByte[c]));
      sum[c] = t ? _mm256_fmadd_ps(a, bytes, sum[c]) : _mm256_mul_ps(a, bytes);
    }
    if (!opaque) sumA = t ? _mm256_add_ps(sumA, a) : a;
  }
  // Each byte is its mean's nearest whole number, and the truncation of the exact mean plus a
  // half gives the same where the float mean lies farther than the margin from the halves
  // between whole numbers: |mean - nearest| is then at most 0.5 - margin.
  const __m256 sign = _mm256_set1_ps(-0.0f);
  __m256 farthest = _mm256_setzero_ps();
  auto nearest = [&](__m256 x) {
    const __m256 whole = _mm256_round_ps(x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    farthest = _mm256_max_ps(farthest, _mm256_andnot_ps(sign, _mm256_sub_ps(x, whole)));
    return _mm256_cvttps_epi32(whole);
  };
  __m256 reciprocal = _mm256_set1_ps(1), tooSmall = _mm256_setzero_ps();
  __m256i opacityOut = _mm256_set1_epi32(255);
  if (!opaque) {
    // Sums too small to trust first: the other lanes' quotients are then all numbers.
    tooSmall = _mm256_cmp_ps(sumA, _mm256_set1_ps(kFloatLeast), _CMP_LT_OQ);
    reciprocal = _mm256_div_ps(_mm256_set1_ps(1), sumA);
    opacityOut = nearest(sumA);
  }
  __m256i word = _mm256_setzero_si256();
  for (int c = 0; c < 4; c++) word = _mm256_or_si256(word, _mm256_slli_epi32(nearest(opaque ? sum[c] : _mm256_mul_ps(sum[c], reciprocal)), 8 * c));
  const __m256 limit = _mm256_set1_ps(0.5f - (opaque ? kFloatMarginOpaque : kFloatMargin));
  if (_mm256_movemask_ps(_mm256_or_ps(tooSmall, _mm256_cmp_ps(farthest, limit, _CMP_GT_OQ)))) return false;
  // Every opacity sum is above 0 here, so every word is its mean's.
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(d.pixels + j * d.pitch + i), word);
  const __m128i shorts = _mm_packs_epi32(_mm256_castsi256_si128(opacityOut), _mm256_extracti128_si256(opacityOut, 1));
  const __m128i bytes = _mm_packus_epi16(shorts, shorts);
  if (d.alpha) _mm_storel_epi64(reinterpret_cast<__m128i *>(d.alpha + j * d.alphaBytesPerRow + i), bytes);
  if (d.mask) {
    alignas(16) uint8_t o[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(o), bytes);
    for (int k = 0; k < 8; k++) SetMaskBit(d.mask + j * d.maskBytesPerRow, int32_t(i + k), o[k] >= 128);
  }
  return true;
}

bool StoreBilinearGroup(const qmDistortRequest *req, const Mapped *m, const EwaShape *e, int64_t i, int64_t j) {
  // Ewa's choice of the bilinear mix, made by the shapes.
  if (e[0].taps | e[1].taps | e[2].taps | e[3].taps) return false;
  // Field by field from the records (loads of what was stored as it is read, so nothing waits
  // on a store of another width).
  const __m256d u = _mm256_setr_pd(m[0].u, m[1].u, m[2].u, m[3].u), v = _mm256_setr_pd(m[0].v, m[1].v, m[2].v, m[3].v);
  const __m256d valid = _mm256_setr_pd(m[0].valid, m[1].valid, m[2].valid, m[3].valid);
  return BilinearGroup(req, u, v, valid, i, j);
}

// EwaShapeOf for four points at a time (every lane takes every step; the lanes that EwaShapeOf
// leaves early are marked as having no taps).
void ShapeRow(const Mapped *m, EwaShape *out, int64_t n, double w, double h) {
  const __m256d one = Set(1), limit = Set(20 * w * h);
  int64_t i = 0;
  for (; i + 4 <= n; i += 4, m += 4, out += 4) {
    const __m256d p = _mm256_setr_pd(m[0].p, m[1].p, m[2].p, m[3].p), q = _mm256_setr_pd(m[0].q, m[1].q, m[2].q, m[3].q);
    const __m256d r = _mm256_setr_pd(m[0].r, m[1].r, m[2].r, m[3].r), s = _mm256_setr_pd(m[0].s, m[1].s, m[2].s, m[3].s);
    const __m256d alpha = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(r, r), _mm256_mul_pd(s, s)), one);
    const __m256d beta = _mm256_mul_pd(Set(-2), _mm256_add_pd(_mm256_mul_pd(p, r), _mm256_mul_pd(q, s)));
    const __m256d gamma = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(p, p), _mm256_mul_pd(q, q)), one);
    const __m256d F = _mm256_sub_pd(_mm256_mul_pd(alpha, gamma), _mm256_div_pd(_mm256_mul_pd(beta, beta), Set(4)));
    __m256d taps = _mm256_and_pd(_mm256_cmp_pd(F, Set(4), _CMP_GT_OQ), _mm256_cmp_pd(F, Set(1e6), _CMP_NGT_UQ));
    if (!_mm256_movemask_pd(taps)) { // all four take the bilinear mix, which reads no other field
      for (int k = 0; k < 4; k++) out[k].taps = 0;
      continue;
    }
    const __m256d vLimit = _mm256_add_pd(_mm256_sqrt_pd(alpha), one);
    const __m256d uWidth = _mm256_add_pd(_mm256_sqrt_pd(_mm256_div_pd(F, alpha)), one);
    taps = _mm256_and_pd(taps, _mm256_cmp_pd(_mm256_mul_pd(_mm256_mul_pd(Set(4), vLimit), uWidth), limit, _CMP_NGT_UQ));
    const __m256d slope = _mm256_div_pd(beta, _mm256_mul_pd(Set(-2), alpha));
    const __m256d scale = _mm256_div_pd(Set(kWeights), F);
    alignas(32) double l[6][4];
    _mm256_store_pd(l[0], _mm256_mul_pd(alpha, scale)), _mm256_store_pd(l[1], _mm256_mul_pd(beta, scale));
    _mm256_store_pd(l[2], _mm256_mul_pd(gamma, scale)), _mm256_store_pd(l[3], vLimit);
    _mm256_store_pd(l[4], uWidth), _mm256_store_pd(l[5], slope);
    const int bits = _mm256_movemask_pd(taps);
    for (int k = 0; k < 4; k++)
      out[k] = m[k].derivatives && (bits >> k & 1) ? EwaShape{l[0][k], l[1][k], l[2][k], l[3][k], l[4][k], l[5][k], 1} : EwaShape{};
  }
  for (; i < n; i++, m++, out++) *out = EwaShapeOf(*m, w, h);
}

// A radial barrel's values for the groups of one result row that depend on the distance from
// the centre alone (BarrelRow::Radial), lane k of group g at 4 g + k: the row's mirror about
// the centre row takes them as they stand, and a group whose columns mirror those of a group
// already made takes that group's lanes in reverse. Either is taken only where the root's
// operands are equal, bit for bit, so the values are the ones Radial would give.
struct RadialRow {
  std::vector<double> r2, centre, f, ellipse;
  double dy2 = NAN; // of the row they were made for; not a number before the first
  // Columns i and mirror - i lie at opposite offsets from the centre.
  int64_t mirror = -1;
  explicit RadialRow(const qmDistortRequest *req) {
    const size_t n = size_t(std::max(req->resultWidth, 0)) / 4 * 4;
    r2.resize(n), centre.resize(n), f.resize(n), ellipse.resize(n);
    const double m = 2 * (req->coeffs[8] - req->originX) - 1;
    if (m >= 0 && m <= 2.0 * req->resultWidth && m == std::floor(m)) mirror = int64_t(m);
  }
  void Store(int64_t i, __m256d r2v, __m256d centrev, __m256d fv, __m256d ellipsev) {
    _mm256_storeu_pd(&r2[size_t(i)], r2v), _mm256_storeu_pd(&centre[size_t(i)], centrev);
    _mm256_storeu_pd(&f[size_t(i)], fv), _mm256_storeu_pd(&ellipse[size_t(i)], ellipsev);
  }
  // The values of the row at y, made or kept.
  template <typename Row> void Fill(const Row &mapper) {
    if (mapper.dyS * mapper.dyS == dy2) return; // the mirror row, or the same row again
    dy2 = mapper.dyS * mapper.dyS;
    const int64_t n = int64_t(r2.size());
    // The groups from the first column past the centre on are made; those before it mirror them
    // where their mirrors lie wholly among them.
    const int64_t split = mirror < 0 ? 0 : std::min(n, (mirror / 2 + 4) / 4 * 4);
    __m256d a, b, c, d;
    for (int64_t i = split; i < n; i += 4) mapper.Radial(i, &a, &b, &c, &d), Store(i, a, b, c, d);
    for (int64_t i = 0; i < split; i += 4) {
      const int64_t from = mirror - i - 3;
      if (from >= split && from + 4 <= n) {
        mapper.Radial2(i, &a);
        auto back = [&](const std::vector<double> &v) { return _mm256_permute4x64_pd(_mm256_loadu_pd(&v[size_t(from)]), _MM_SHUFFLE(0, 1, 2, 3)); };
        if (_mm256_movemask_pd(_mm256_cmp_pd(a, back(r2), _CMP_EQ_OQ)) == 15) {
          Store(i, a, back(centre), back(f), back(ellipse));
          continue;
        }
      }
      mapper.Radial(i, &a, &b, &c, &d), Store(i, a, b, c, d);
    }
  }
};

// RenderSmooth's mapping, shaping and bilinear groups for result row j, eight pixels at a time
// (BilinearGroup8) or else four, with no records where a group's ellipses are surely within a
// pixel (SmallAt). Other groups are left mapped and shaped exactly (stored 0). Returns the first
// pixel left to do. A stretch of groups is mapped before any of it is sampled, so that the roots
// of neighbouring groups overlap instead of each waiting behind the previous group's sampling.
template <typename Row>
int64_t SmoothRowGroups(const Row &mapper, int64_t j, RadialRow *radial, Mapped *mapped, EwaShape *shapes, uint8_t *stored) {
  const qmDistortRequest *req = mapper.req;
  if (mapper.radial) radial->Fill(mapper);
  auto smallAt = [&](int64_t i, Mapped4 *m) {
    if (!mapper.radial) return mapper.SmallAt(i, m);
    const size_t k = size_t(i);
    return mapper.SmallFrom(i, _mm256_loadu_pd(&radial->centre[k]), _mm256_loadu_pd(&radial->f[k]), _mm256_loadu_pd(&radial->ellipse[k]), m);
  };
  // One group of four by the doubles, or left mapped and shaped.
  auto group = [&](const Mapped4 &m, bool bilinear, int64_t at) {
    const bool done = bilinear && BilinearGroup(req, m.u, m.v, m.valid, at, j);
    for (int k = 0; k < 4; k++) stored[at + k] = done;
    if (done) return;
    mapper.At(at).Write(mapped + at, true);
    ShapeRow(mapped + at, shapes + at, 4, req->src.width, req->src.height);
  };
  // Groups of four per stretch: even, so that the pairs of eight start where the row's do.
  constexpr int64_t kStretch = 16;
  Mapped4 m[kStretch];
  bool small[kStretch];
  const int64_t groups = std::max<int64_t>(req->resultWidth, 0) / 4;
  for (int64_t g0 = 0; g0 < groups; g0 += kStretch) {
    const int64_t count = std::min(kStretch, groups - g0);
    for (int64_t g = 0; g < count; g++) small[g] = smallAt(4 * (g0 + g), &m[g]);
    int64_t g = 0;
    for (; g + 2 <= count; g += 2) {
      const int64_t i = 4 * (g0 + g);
      if (small[g] && small[g + 1] && BilinearGroup8(req, m[g], m[g + 1], i, j)) {
        for (int k = 0; k < 8; k++) stored[i + k] = 1;
        continue;
      }
      group(m[g], small[g], i), group(m[g + 1], small[g + 1], i + 4);
    }
    if (g < count) group(m[g], small[g], 4 * (g0 + g));
  }
  return 4 * groups;
}

struct Avx2Kernels {
  using Sums = ByteSums4;
  // The rounding instruction: the same values as the portable Floor and Ceil, without branches.
  static double Floor(double x) {
    const __m128d v = _mm_set_sd(x);
    return _mm_cvtsd_f64(_mm_round_sd(v, v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
  }
  static double Ceil(double x) {
    const __m128d v = _mm_set_sd(x);
    return _mm_cvtsd_f64(_mm_round_sd(v, v, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC));
  }
  static bool StoreBilinearGroup(const qmDistortRequest *req, const Mapped *m, const EwaShape *e, int64_t i, int64_t j) {
    return ::StoreBilinearGroup(req, m, e, i, j);
  }
  static void ShapeRow(const Mapped *m, EwaShape *e, int64_t n, double w, double h) { ::ShapeRow(m, e, n, w, h); }
  template <int32_t Method> static int64_t PointRowGroups(const qmDistortRequest *req, int64_t j) {
    const double y = req->originY + j + 0.5;
    if constexpr (Method == DISTORT_BARREL) return ::PointRowGroups(BarrelRow<false>(req, y), j);
    if constexpr (Method == DISTORT_PERSPECTIVE) return ::PointRowGroups(PerspectiveRow<false>(req, y), j);
    return 0;
  }
  using RowCache = RadialRow;
  template <int32_t Method>
  static int64_t SmoothRowGroups(const qmDistortRequest *req, int64_t j, RowCache *cache, Mapped *m, EwaShape *e, uint8_t *stored) {
    if constexpr (Method == DISTORT_BARREL) return ::SmoothRowGroups(BarrelRow<true>(req, req->originY + j + 0.5), j, cache, m, e, stored);
    return 0;
  }
  template <int32_t Method, bool WithDerivatives> static void MapRow(const qmDistortRequest *req, double y, Mapped *row, int64_t from) {
    int64_t done = from;
    if constexpr (Method == DISTORT_BARREL) done = MapRowGroups(BarrelRow<WithDerivatives>(req, y), WithDerivatives, row, from);
    if constexpr (Method == DISTORT_PERSPECTIVE) done = MapRowGroups(PerspectiveRow<WithDerivatives>(req, y), WithDerivatives, row, from);
    // Arc and polar take an arc tangent and a hypotenuse from the maths library, lane by lane.
    MapRowScalar<Method, WithDerivatives>(req, y, row, done);
  }
};

} // namespace

int32_t RenderDistortionAvx2(qmDistortRequest *req) {
  RenderWith<Avx2Kernels>(req);
  return 0;
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
