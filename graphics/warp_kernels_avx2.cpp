// Vector rows of the swirl's source positions, four pixels at a time with the scalar arithmetic
// step for step, the turn's table entry looked up by root (SwirlRootIndex). The integer square
// root is floor(sqrt(n)) in doubles: n stays below 2^28 inside the swirl's radius, where a
// correctly rounded root never crosses the next integer. The ripple's source places four at a time
// the same way, and eight at a time in fixed point through the ring table; the warps' mixing row,
// eight pixels gathered from each picture at a time; rows written past the cache; a band's last
// source row.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "graphics/warp_kernels.h"

__attribute__((target("avx2"))) void SwirlSourceRowAvx2(const qmSwirlGeometry *g, int32_t y, int32_t *sxOut, int32_t *syOut) {
  const double dyS = g->ys * (y - g->h2);
  const __m256d dy = _mm256_set1_pd(dyS), xs = _mm256_set1_pd(g->xs), w2 = _mm256_set1_pd(g->w2), h2 = _mm256_set1_pd(g->h2);
  const __m256d rr = _mm256_set1_pd(g->r * g->r);
  const __m256d lastX = _mm256_set1_pd(g->width - 1), lastY = _mm256_set1_pd(g->height - 1), zero = _mm256_setzero_pd();
  const bool divX = g->xs != 1.0, divY = g->ys != 1.0;
  const int16_t *roots = g->roots ? g->roots + int64_t(y) * g->width : nullptr;
  int32_t x = 0;
  for (; x + 4 <= g->width; x += 4) {
    const __m128i xi = _mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3));
    const __m256d dx = _mm256_mul_pd(xs, _mm256_sub_pd(_mm256_cvtepi32_pd(xi), w2));
    const __m256d d2 = _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
    __m256d inside;
    if (roots) {
      const __m128i rt = _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(roots + x)));
      inside = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(_mm_cmpgt_epi32(rt, _mm_set1_epi32(-1))));
    } else {
      inside = _mm256_cmp_pd(d2, rr, _CMP_LT_OQ);
    }
    const int mask = _mm256_movemask_pd(inside);
    __m128i sx = xi, sy = _mm_set1_epi32(y);
    if (mask) {
      __m256d sn, cs;
      if (roots) {
        // Plain loads of the turn per root: a gather of doubles is slower here. Outside the
        // radius the root -1 becomes 0, whose values are not used.
        int32_t r[4];
        for (int32_t i = 0; i < 4; i++) r[i] = roots[x + i] < 0 ? 0 : roots[x + i];
        sn = _mm256_setr_pd(g->rootSine[r[0]], g->rootSine[r[1]], g->rootSine[r[2]], g->rootSine[r[3]]);
        cs = _mm256_setr_pd(g->rootCosine[r[0]], g->rootCosine[r[1]], g->rootCosine[r[2]], g->rootCosine[r[3]]);
      } else {
        const __m256d root = _mm256_floor_pd(_mm256_sqrt_pd(_mm256_round_pd(d2, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)));
        // Outside the radius the values are not used; the root 0 keeps the index in the table.
        const __m128i at = _mm256_cvttpd_epi32(_mm256_blendv_pd(zero, root, inside));
        if (g->rootSine) {
          // Plain loads, as from the roots.
          alignas(16) int32_t r[4];
          _mm_store_si128(reinterpret_cast<__m128i *>(r), at);
          sn = _mm256_setr_pd(g->rootSine[r[0]], g->rootSine[r[1]], g->rootSine[r[2]], g->rootSine[r[3]]);
          cs = _mm256_setr_pd(g->rootCosine[r[0]], g->rootCosine[r[1]], g->rootCosine[r[2]], g->rootCosine[r[3]]);
        } else {
          const __m128i idx = _mm_i32gather_epi32(g->rootIndex, at, 4);
          // The masked form, every lane on: its first operand is defined, where the plain gather
          // starts from an undefined vector the compiler warns about.
          const __m256d none = _mm256_setzero_pd(), all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
          sn = _mm256_mask_i32gather_pd(none, g->sine, idx, all, 8);
          cs = _mm256_mask_i32gather_pd(none, g->cosine, idx, all, 8);
        }
      }
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

namespace {

// The eight floats of table at rel (0..15) from the sixteen at its start.
__attribute__((target("avx2"))) inline __m256 WindowFloats(const float *table, __m256i rel, __m256i upper) {
  const __m256 lo = _mm256_permutevar8x32_ps(_mm256_loadu_ps(table), rel);
  const __m256 hi = _mm256_permutevar8x32_ps(_mm256_loadu_ps(table + 8), rel);
  return _mm256_blendv_ps(lo, hi, _mm256_castsi256_ps(upper));
}

} // namespace

// Eight places at a time through the roots in floats, the turn's factors picked by root from a
// window of sixteen entries around the group's first root (neighbours' roots differ by at most the
// column scale), or one by one where the group's roots spread wider; a place whose fraction lies
// within the band of a whole number, and the last few columns, go the scalar way in doubles.
__attribute__((target("avx2"))) void SwirlFloatRowAvx2(const qmSwirlGeometry *g, int32_t y, int32_t *sxOut, int32_t *syOut) {
  const qmSwirlFloat *f = g->turn;
  const float *cosineTable = f->cosine, *acrossTable = f->across, *downTable = f->down;
  const int32_t width = g->width, height = g->height;
  const int16_t *roots = g->roots + int64_t(y) * width;
  // A point without turn keeps its column; its row is the doubles' dy * 1 + dx * 0, unscaled.
  const double dy = g->ys * (y - g->h2), still = (g->ys == 1.0 ? dy : dy / g->ys) + g->h2;
  const int32_t stillRow = !(still >= 0) ? 0 : still >= height - 1 ? height - 1 : int32_t(still);
  // a = x - w2 and b = y - h2 are whole or half numbers, exact in floats.
  const __m256 b = _mm256_set1_ps(float(y - g->h2)), centreX = _mm256_set1_ps(float(g->w2));
  const __m256 centreY = _mm256_set1_ps(float(g->h2)), eight = _mm256_set1_ps(8.0f);
  const __m256 low = _mm256_set1_ps(f->band), high = _mm256_set1_ps(1.0f - f->band);
  const __m256i steps = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), none = _mm256_set1_epi32(-1);
  const __m256i zero = _mm256_setzero_si256(), lastX = _mm256_set1_epi32(width - 1), lastY = _mm256_set1_epi32(height - 1);
  const __m256i yv = _mm256_set1_epi32(y);
  const __m256i stillFrom = _mm256_set1_epi32(f->stillRoot - 1), stillY = _mm256_set1_epi32(stillRow);
  __m256 a = _mm256_add_ps(_mm256_set1_ps(float(-g->w2)), _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7));
  __m256i xv = steps;
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, a = _mm256_add_ps(a, eight), xv = _mm256_add_epi32(xv, _mm256_set1_epi32(8))) {
    const __m256i root = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(roots + x)));
    const __m256i inside = _mm256_cmpgt_epi32(root, none);
    if (_mm256_testz_si256(inside, inside)) {
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(sxOut + x), xv);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(syOut + x), yv);
      continue;
    }
    // Roots run one way along most groups: the smaller end root (an end outside the radius, -1,
    // counts as 65535) starts a window of eight entries, one permute per table.
    const int32_t base = std::min(uint16_t(roots[x]), uint16_t(roots[x + 7]));
    const __m256i rel = _mm256_sub_epi32(root, _mm256_set1_epi32(base));
    const __m256i spread = _mm256_and_si256(
        inside, _mm256_or_si256(_mm256_cmpgt_epi32(rel, _mm256_set1_epi32(7)), _mm256_cmpgt_epi32(zero, rel)));
    __m256 c, across, down;
    if (_mm256_testz_si256(spread, spread)) {
      c = _mm256_permutevar8x32_ps(_mm256_loadu_ps(cosineTable + base), rel);
      across = _mm256_permutevar8x32_ps(_mm256_loadu_ps(acrossTable + base), rel);
      down = _mm256_permutevar8x32_ps(_mm256_loadu_ps(downTable + base), rel);
    } else {
      // Else a window of sixteen around the first root (the pads let it start up to eight
      // entries before the table), or each root's own entries.
      const int32_t first = roots[x] - 7;
      const __m256i wide = _mm256_sub_epi32(root, _mm256_set1_epi32(first));
      const __m256i out = _mm256_and_si256(
          inside, _mm256_or_si256(_mm256_cmpgt_epi32(wide, _mm256_set1_epi32(15)), _mm256_cmpgt_epi32(zero, wide)));
      if (_mm256_testz_si256(out, out)) {
        const __m256i upper = _mm256_cmpgt_epi32(wide, _mm256_set1_epi32(7));
        c = WindowFloats(cosineTable + first, wide, upper);
        across = WindowFloats(acrossTable + first, wide, upper);
        down = WindowFloats(downTable + first, wide, upper);
      } else {
        alignas(32) int32_t r[8];
        _mm256_store_si256(reinterpret_cast<__m256i *>(r), _mm256_max_epi32(root, zero));
        c = _mm256_setr_ps(cosineTable[r[0]], cosineTable[r[1]], cosineTable[r[2]], cosineTable[r[3]],
                           cosineTable[r[4]], cosineTable[r[5]], cosineTable[r[6]], cosineTable[r[7]]);
        across = _mm256_setr_ps(acrossTable[r[0]], acrossTable[r[1]], acrossTable[r[2]], acrossTable[r[3]],
                                acrossTable[r[4]], acrossTable[r[5]], acrossTable[r[6]], acrossTable[r[7]]);
        down = _mm256_setr_ps(downTable[r[0]], downTable[r[1]], downTable[r[2]], downTable[r[3]], downTable[r[4]],
                              downTable[r[5]], downTable[r[6]], downTable[r[7]]);
      }
    }
    // Truncated, held to the picture: the doubles' limit. Below 0 the fraction is negative and
    // the place goes the doubles' way, though it would be 0 either way.
    const __m256 u = _mm256_add_ps(_mm256_sub_ps(_mm256_mul_ps(a, c), _mm256_mul_ps(b, across)), centreX);
    const __m256 v = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(a, down), _mm256_mul_ps(b, c)), centreY);
    const __m256i iu = _mm256_cvttps_epi32(u), iv = _mm256_cvttps_epi32(v);
    const __m256 ru = _mm256_sub_ps(u, _mm256_cvtepi32_ps(iu)), rv = _mm256_sub_ps(v, _mm256_cvtepi32_ps(iv)); // exact
    const __m256 near = _mm256_or_ps(_mm256_cmp_ps(_mm256_min_ps(ru, rv), low, _CMP_LT_OQ),
                                     _mm256_cmp_ps(_mm256_max_ps(ru, rv), high, _CMP_GT_OQ));
    const __m256i sx = _mm256_min_epi32(_mm256_max_epi32(iu, zero), lastX);
    const __m256i sy = _mm256_min_epi32(_mm256_max_epi32(iv, zero), lastY);
    const __m256i stillMask = _mm256_cmpgt_epi32(root, stillFrom), turned = _mm256_andnot_si256(stillMask, inside);
    if (_mm256_testc_si256(turned, none)) {
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(sxOut + x), sx);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(syOut + x), sy);
    } else {
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(sxOut + x), _mm256_blendv_epi8(xv, sx, turned));
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(syOut + x),
                          _mm256_blendv_epi8(_mm256_blendv_epi8(yv, stillY, stillMask), sy, turned));
    }
    for (int lanes = _mm256_movemask_ps(_mm256_and_ps(near, _mm256_castsi256_ps(turned))); lanes; lanes &= lanes - 1) {
      const int32_t column = x + __builtin_ctz(unsigned(lanes));
      SwirlSourceRowScalar(g, y, sxOut, syOut, column, column + 1);
    }
  }
  SwirlSourceRowScalar(g, y, sxOut, syOut, x, width);
}

namespace {

// The eight words of row at rel (0..15) from the sixteen at the row's start.
__attribute__((target("avx2"))) inline __m256i WindowLanes(const uint32_t *row, __m256i rel, __m256i upper) {
  const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row));
  const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + 8));
  return _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, rel), _mm256_permutevar8x32_epi32(hi, rel), upper);
}

} // namespace

// Offsets sy * pitch + sx stay far below 2^31: pictures are at most 2^28 pixels.
__attribute__((target("avx2"))) void WarpMixRowAvx2(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width,
                                                    const uint32_t *pixels, int32_t pitch, const uint32_t *second,
                                                    int32_t secondPitch, int32_t m) {
  const __m256i lowBytes = _mm256_set1_epi32(0x00FF00FF), highBytes = _mm256_set1_epi32(int32_t(0xFF00FF00u));
  const __m256i k = _mm256_set1_epi16(int16_t(m)), rest = _mm256_set1_epi16(int16_t(256 - m));
  const __m256i p = _mm256_set1_epi32(pitch), q = _mm256_set1_epi32(secondPitch);
  const int *src = reinterpret_cast<const int *>(pixels), *sec = reinterpret_cast<const int *>(second);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m256i vx = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(sx + x));
    const __m256i vy = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(sy + x));
    const __m256i b = _mm256_i32gather_epi32(src, _mm256_add_epi32(_mm256_mullo_epi32(vy, p), vx), 4);
    const __m256i a = _mm256_i32gather_epi32(sec, _mm256_add_epi32(_mm256_mullo_epi32(vy, q), vx), 4);
    // (a * (256 - m) + b * m) >> 8 in each byte, two bytes of a word at a time in 16-bit lanes.
    const __m256i rb = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(a, lowBytes), rest),
                                                          _mm256_mullo_epi16(_mm256_and_si256(b, lowBytes), k)),
                                         8);
    const __m256i ag = _mm256_and_si256(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(a, 8), rest),
                                                         _mm256_mullo_epi16(_mm256_srli_epi16(b, 8), k)),
                                        highBytes);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), _mm256_or_si256(rb, ag));
  }
  WarpMixRowScalar(dst, sx, sy, width, pixels, pitch, second, secondPitch, m, x);
}

// x + (x - cx) * k and y + dy * k in doubles, multiplied then added as the scalar twin does, then
// held to the picture (anything not at least 0, NaN included, becomes 0) and truncated.
__attribute__((target("avx2"))) void RippleSourceRowAvx2(const qmRippleRequest *req, int32_t level, const double *factor,
                                                         int32_t count, int32_t y, int32_t *sxOut, int32_t *syOut) {
  const int32_t width = req->width;
  const int32_t *dist = req->distance + int64_t(y) * width;
  const __m256d zero = _mm256_setzero_pd(), lastX = _mm256_set1_pd(width - 1), lastY = _mm256_set1_pd(req->height - 1);
  const __m256d yd = _mm256_set1_pd(y), dy = _mm256_set1_pd(y - req->centerY);
  const __m128i limit = _mm_set1_epi32(count), cx = _mm_set1_epi32(req->centerX);
  int32_t x = 0;
  for (; x + 4 <= width; x += 4) {
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dist + x));
    // A distance outside the table (never from PrepareRipple's) goes the scalar way.
    const __m128i inTable = _mm_and_si128(_mm_cmpgt_epi32(d, _mm_set1_epi32(-1)), _mm_cmplt_epi32(d, limit));
    if (_mm_movemask_epi8(inTable) != 0xFFFF) {
      RippleSourceRowScalar(req, level, factor, count, y, sxOut, syOut, x, x + 4);
      continue;
    }
    // Four plain loads: a gather of doubles is slower here.
    alignas(16) int32_t di[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(di), d);
    const __m256d k = _mm256_setr_pd(factor[di[0]], factor[di[1]], factor[di[2]], factor[di[3]]);
    const __m128i xi = _mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3));
    const __m256d u = _mm256_add_pd(_mm256_cvtepi32_pd(xi), _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_sub_epi32(xi, cx)), k));
    const __m256d v = _mm256_add_pd(yd, _mm256_mul_pd(dy, k));
    const __m256d uc = _mm256_min_pd(_mm256_blendv_pd(zero, u, _mm256_cmp_pd(u, zero, _CMP_GE_OQ)), lastX);
    const __m256d vc = _mm256_min_pd(_mm256_blendv_pd(zero, v, _mm256_cmp_pd(v, zero, _CMP_GE_OQ)), lastY);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(sxOut + x), _mm256_cvttpd_epi32(uc));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(syOut + x), _mm256_cvttpd_epi32(vc));
  }
  RippleSourceRowScalar(req, level, factor, count, y, sxOut, syOut, x, width);
}

namespace {

// What every group of a ring row shares.
struct RingRow {
  const qmRippleRequest *req;
  const qmRippleFixed *f;
  const uint16_t *ring;
  int32_t *sxOut, *syOut;
  int32_t y, centerX;
  __m128i shift;
  __m256i fraction, low, high, zero, lastX, lastY, steps, cx, yv, dy, checkY, seven, reverse, mirror;
};

// Columns x..x + 7; with mirrored set, also their mirrors 2 * centerX - x - 7..2 * centerX - x.
__attribute__((target("avx2"))) inline void RingGroup(const RingRow &c, int32_t x, bool mirrored) {
  // Neighbours' distances differ by at most 1, so the group's lie within 7 of its first: the
  // factors from 7 below it to 8 above are two plain loads, picked out by lane.
  const int32_t d0 = c.ring[x];
  const __m256i d = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(c.ring + x)));
  const __m256i rel = _mm256_sub_epi32(d, _mm256_set1_epi32(d0 - 7));
  const __m256i k = WindowLanes(reinterpret_cast<const uint32_t *>(c.f->scaled) + d0 - 7, rel, _mm256_cmpgt_epi32(rel, c.seven));
  const __m256i xv = _mm256_add_epi32(_mm256_set1_epi32(x), c.steps), dx = _mm256_sub_epi32(xv, c.cx);
  const __m256i qx = _mm256_mullo_epi32(dx, k), qy = _mm256_mullo_epi32(c.dy, k);
  const __m256i ux = _mm256_add_epi32(xv, _mm256_sra_epi32(qx, c.shift));
  const __m256i sy = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(c.yv, _mm256_sra_epi32(qy, c.shift)), c.zero), c.lastY);
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(c.sxOut + x), _mm256_min_epi32(_mm256_max_epi32(ux, c.zero), c.lastX));
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(c.syOut + x), sy);
  const int32_t m = 2 * c.centerX - x - 7;
  if (mirrored) {
    const __m256i mx = _mm256_permutevar8x32_epi32(_mm256_sub_epi32(c.mirror, ux), c.reverse);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(c.sxOut + m), _mm256_min_epi32(_mm256_max_epi32(mx, c.zero), c.lastX));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(c.syOut + m), _mm256_permutevar8x32_epi32(sy, c.reverse));
  }
  const __m256i fx = _mm256_and_si256(qx, c.fraction), fy = _mm256_and_si256(qy, c.fraction);
  const __m256i nearX = _mm256_andnot_si256(_mm256_cmpeq_epi32(dx, c.zero),
                                            _mm256_or_si256(_mm256_cmpgt_epi32(c.low, fx), _mm256_cmpgt_epi32(fx, c.high)));
  const __m256i nearY = _mm256_and_si256(c.checkY, _mm256_or_si256(_mm256_cmpgt_epi32(c.low, fy), _mm256_cmpgt_epi32(fy, c.high)));
  const __m256i near = _mm256_or_si256(nearX, nearY);
  if (!_mm256_testz_si256(near, near)) {
    RippleRingRowScalar(c.req, c.f, c.y, c.sxOut, c.syOut, x, x + 8);
    if (mirrored) RippleRingRowScalar(c.req, c.f, c.y, c.sxOut, c.syOut, m, m + 8);
  }
}

} // namespace

// The ring table's places eight at a time: (x - centerX) * scaled[d] and (y - centerY) * scaled[d]
// in 32-bit lanes, shifted down to the whole offsets; a group with a product near a whole number
// (outside the centre's own column and row, whose offsets are exactly 0) goes the scalar way.
// Columns left of the centre mirror those right of it: the same distance, the column's product
// negated and the row's the same, so away from a whole number the left place's column is
// 2 * centerX - 1 - the right one's before both are held to the picture.
__attribute__((target("avx2"))) void RippleRingRowAvx2(const qmRippleRequest *req, const qmRippleFixed *f, int32_t y,
                                                       int32_t *sxOut, int32_t *syOut) {
  const int32_t width = req->width, centerX = req->centerX, one = 1 << f->shift;
  const RingRow c{req, f, req->rings + int64_t(y >= req->centerY ? y - req->centerY : req->centerY - y) * width, sxOut, syOut,
                  y, centerX, _mm_cvtsi32_si128(f->shift), _mm256_set1_epi32(one - 1), _mm256_set1_epi32(f->band),
                  _mm256_set1_epi32(one - f->band), _mm256_setzero_si256(), _mm256_set1_epi32(width - 1),
                  _mm256_set1_epi32(req->height - 1), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(centerX),
                  _mm256_set1_epi32(y), _mm256_set1_epi32(y - req->centerY), _mm256_set1_epi32(y == req->centerY ? 0 : -1),
                  _mm256_set1_epi32(7), _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0), _mm256_set1_epi32(2 * centerX - 1)};
  if (width < 16 || centerX < 8 || centerX + 8 >= width) {
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) RingGroup(c, x, false);
    return RippleRingRowScalar(req, f, y, sxOut, syOut, x, width);
  }
  // Right of the centre, each group with its mirror while that lies in the row; the last group,
  // the centre's own column and the columns left of every mirror in groups that overlap others,
  // whose places they make again alike. Mirrors cover covered..centerX - 1.
  int32_t covered = centerX;
  for (int32_t x = centerX + 1;; x += 8) {
    if (x + 8 > width) x = width - 8;
    const int32_t m = 2 * centerX - x - 7;
    const bool mirrored = m >= 0 && m + 8 >= covered;
    RingGroup(c, x, mirrored);
    if (mirrored) covered = std::min(covered, m);
    if (x == width - 8) break;
  }
  RingGroup(c, centerX - 7, false);
  for (int32_t x = 0; x < covered; x += 8) RingGroup(c, std::min(x, std::max(covered - 8, 0)), false);
}

__attribute__((target("avx2"))) int32_t WarpLastRowAvx2(const int32_t *sy, int64_t n) {
  __m256i last = _mm256_setzero_si256();
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) last = _mm256_max_epi32(last, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(sy + i)));
  __m128i half = _mm_max_epi32(_mm256_castsi256_si128(last), _mm256_extracti128_si256(last, 1));
  half = _mm_max_epi32(half, _mm_shuffle_epi32(half, 0x4E));
  half = _mm_max_epi32(half, _mm_shuffle_epi32(half, 0xB1));
  const int32_t vector = _mm_cvtsi128_si32(half), rest = WarpLastRowScalar(sy + i, n - i);
  return vector > rest ? vector : rest;
}

// The picked words go out eight at a time past the cache, from the first 32-byte boundary on.
__attribute__((target("avx2"))) void WarpStreamRowAvx2(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width,
                                                       const uint32_t *pixels, int32_t pitch, int32_t rowMask) {
  int32_t x = 0;
  for (; x < width && (reinterpret_cast<uintptr_t>(dst + x) & 31); x++) dst[x] = pixels[int64_t(sy[x] & rowMask) * pitch + sx[x]];
  // Offsets (sy & rowMask) * pitch + sx eight at a time (below 2^31: pictures are at most 2^28
  // pixels), then eight plain loads.
  const __m256i mask = _mm256_set1_epi32(rowMask), p = _mm256_set1_epi32(pitch);
  for (; x + 8 <= width; x += 8) {
    alignas(32) int32_t at[8];
    const __m256i vy = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(sy + x)), mask);
    _mm256_store_si256(reinterpret_cast<__m256i *>(at),
                       _mm256_add_epi32(_mm256_mullo_epi32(vy, p), _mm256_loadu_si256(reinterpret_cast<const __m256i *>(sx + x))));
    const __m256i v = _mm256_setr_epi32(int32_t(pixels[at[0]]), int32_t(pixels[at[1]]), int32_t(pixels[at[2]]),
                                        int32_t(pixels[at[3]]), int32_t(pixels[at[4]]), int32_t(pixels[at[5]]),
                                        int32_t(pixels[at[6]]), int32_t(pixels[at[7]]));
    _mm256_stream_si256(reinterpret_cast<__m256i *>(dst + x), v);
  }
  for (; x < width; x++) dst[x] = pixels[int64_t(sy[x] & rowMask) * pitch + sx[x]];
}

__attribute__((target("avx2"))) void WarpStreamDoneAvx2() { _mm_sfence(); }
