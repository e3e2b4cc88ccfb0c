// Vector scan of the rectangle merge: sixteen entries per step, same rule and order as
// MergeLiveRectsScalar.
#include <immintrin.h>

#include <cstdint>
#include <memory>
#include <new>

#include "display/dirtyrects.h"

namespace {

constexpr int32_t kStep = 16;  // entries per step, two vectors

// The entries as columns, so that a step reads eight of one corner at once. Each corner also
// moved out by the reach and held within int32 (nearX1 = x1 - reach, farX2 = x2 + reach, ...): j
// reaches the box a when nearX1[j] <= a.x2, farX2[j] >= a.x1 and so for y, one 32-bit compare
// each, exact since a held bound holds for every corner. live is -1 or 0; the entries past count,
// up to a whole step, are not live.
struct qmRectColumns {
  int32_t *x1, *y1, *x2, *y2;
  int32_t *nearX1, *nearY1, *farX2, *farY2;
  int32_t *live;
};

// The box of the entry whose turn it is, each corner in every lane.
struct qmScanBox {
  __m256i x1, y1, x2, y2;
};

// Eight entries as the reach tests read them. A join changes only the box, and the lanes a step
// tests again all come after the lanes it took, so a step is read once.
struct qmHalf {
  __m256i nearX1, nearY1, farX2, farY2, live;
};

__attribute__((target("avx2"))) __m256i Load(const int32_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
__attribute__((target("avx2"))) void Store(int32_t *p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }

__attribute__((target("avx2"))) qmHalf LoadHalf(const qmRectColumns &c, int32_t at) {
  return {Load(c.nearX1 + at), Load(c.nearY1 + at), Load(c.farX2 + at), Load(c.farY2 + at), Load(c.live + at)};
}
__attribute__((target("avx2"))) qmScanBox LoadCorners(const qmRectColumns &c, int32_t at) {
  return {Load(c.x1 + at), Load(c.y1 + at), Load(c.x2 + at), Load(c.y2 + at)};
}

// All ones in the lanes within reach of the box and live.
__attribute__((target("avx2"))) __m256i HitLanes(const qmScanBox &a, const qmHalf &s) {
  const __m256i out = _mm256_or_si256(_mm256_or_si256(_mm256_cmpgt_epi32(s.nearX1, a.x2), _mm256_cmpgt_epi32(a.x1, s.farX2)),
                                      _mm256_or_si256(_mm256_cmpgt_epi32(s.nearY1, a.y2), _mm256_cmpgt_epi32(a.y1, s.farY2)));
  return _mm256_andnot_si256(out, s.live);
}

__attribute__((target("avx2"))) uint32_t Bits(__m256i lo, __m256i hi) {
  return uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(lo))) | uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(hi))) << 8;
}

// Lane k all ones where bit k of bits is set.
__attribute__((target("avx2"))) __m256i LaneMask(uint32_t bits) {
  const __m256i bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(int32_t(bits)), bit), bit);
}

// The least and the greatest of the eight lanes, in every lane.
__attribute__((target("avx2"))) __m256i AllMin(__m256i v) {
  v = _mm256_min_epi32(v, _mm256_permute2x128_si256(v, v, 1));
  v = _mm256_min_epi32(v, _mm256_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  return _mm256_min_epi32(v, _mm256_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
}
__attribute__((target("avx2"))) __m256i AllMax(__m256i v) {
  v = _mm256_max_epi32(v, _mm256_permute2x128_si256(v, v, 1));
  v = _mm256_max_epi32(v, _mm256_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  return _mm256_max_epi32(v, _mm256_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
}

// The box corner `box` moved to the least (or greatest) of it and the lanes of `take`, which may
// be all of them: every lane keeps the box too.
__attribute__((target("avx2"))) __m256i Least(__m256i box, __m256i lo, __m256i hi, __m256i takeLo, __m256i takeHi) {
  return AllMin(_mm256_min_epi32(_mm256_blendv_epi8(box, _mm256_min_epi32(box, lo), takeLo),
                                 _mm256_blendv_epi8(box, _mm256_min_epi32(box, hi), takeHi)));
}
__attribute__((target("avx2"))) __m256i Greatest(__m256i box, __m256i lo, __m256i hi, __m256i takeLo, __m256i takeHi) {
  return AllMax(_mm256_max_epi32(_mm256_blendv_epi8(box, _mm256_max_epi32(box, lo), takeLo),
                                 _mm256_blendv_epi8(box, _mm256_max_epi32(box, hi), takeHi)));
}

// The box grown by the entries of the step in `takeLo` and `takeHi`.
__attribute__((target("avx2"))) qmScanBox Grow(const qmScanBox &a, const qmScanBox &lo, const qmScanBox &hi, __m256i takeLo,
                                                __m256i takeHi) {
  return {Least(a.x1, lo.x1, hi.x1, takeLo, takeHi), Least(a.y1, lo.y1, hi.y1, takeLo, takeHi),
          Greatest(a.x2, lo.x2, hi.x2, takeLo, takeHi), Greatest(a.y2, lo.y2, hi.y2, takeLo, takeHi)};
}

// Takes into the box the entries of the step at `at` that join it, `hitLo` and `hitHi` being
// those within reach of it as it stands; returns the entries taken, bit k for entry at + k.
__attribute__((target("avx2"))) uint32_t TakeEntries(qmScanBox *a, const qmRectColumns &c, int32_t at, const qmHalf &sLo,
                                                     const qmHalf &sHi, __m256i hitLo, __m256i hitHi) {
  const qmScanBox lo = LoadCorners(c, at), hi = LoadCorners(c, at + 8);
  const uint32_t hits = Bits(hitLo, hitHi);
  // Usually the box grown by all of them at once reaches no other later entry: one in between
  // then met a box no larger than that one, so the order could not have mattered.
  const qmScanBox all = Grow(*a, lo, hi, hitLo, hitHi);
  if (!(Bits(HitLanes(all, sLo), HitLanes(all, sHi)) & ~hits & (0xFFFEu << __builtin_ctz(hits)))) {
    *a = all;
    return hits;
  }
  // Else one by one in list order, the grown box testing the later entries again.
  uint32_t taken = 0;
  for (uint32_t next = hits; next;) {
    const uint32_t k = uint32_t(__builtin_ctz(next));
    taken |= 1u << k;
    *a = Grow(*a, lo, hi, LaneMask((1u << k) & 0xFF), LaneMask((1u << k) >> 8));
    next = Bits(HitLanes(*a, sLo), HitLanes(*a, sHi)) & (0xFFFEu << k);
  }
  return taken;
}

int32_t Held(int64_t v) { return int32_t(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }

void SetEntry(const qmRectColumns &c, int32_t i, const qmDirtyRect &r, int32_t live, int32_t reach) {
  c.x1[i] = r.x1, c.y1[i] = r.y1, c.x2[i] = r.x2, c.y2[i] = r.y2;
  c.nearX1[i] = Held(int64_t(r.x1) - reach), c.nearY1[i] = Held(int64_t(r.y1) - reach);
  c.farX2[i] = Held(int64_t(r.x2) + reach), c.farY2[i] = Held(int64_t(r.y2) + reach);
  c.live[i] = live;
}

// v - reach and v + reach for reach >= 0, held at the ends of int32.
__attribute__((target("avx2"))) __m256i Near(__m256i v, __m256i reach) {
  const __m256i d = _mm256_sub_epi32(v, reach);
  return _mm256_blendv_epi8(d, _mm256_set1_epi32(INT32_MIN), _mm256_cmpgt_epi32(d, v));
}
__attribute__((target("avx2"))) __m256i Far(__m256i v, __m256i reach) {
  const __m256i sum = _mm256_add_epi32(v, reach);
  return _mm256_blendv_epi8(sum, _mm256_set1_epi32(INT32_MAX), _mm256_cmpgt_epi32(v, sum));
}

// The columns of the rectangles, eight at a time turned from rows.
__attribute__((target("avx2"))) void FillColumns(const qmRectColumns &c, const qmDirtyRect *r, const uint8_t *live,
                                                 int32_t count, int32_t reach) {
  const __m256i reachV = _mm256_set1_epi32(reach), order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  int32_t at = 0;
  for (; at + 8 <= count; at += 8) {
    const __m256i *rows = reinterpret_cast<const __m256i *>(r + at);  // two rectangles each
    const __m256i r01 = _mm256_loadu_si256(rows), r23 = _mm256_loadu_si256(rows + 1);
    const __m256i r45 = _mm256_loadu_si256(rows + 2), r67 = _mm256_loadu_si256(rows + 3);
    const __m256i lo0 = _mm256_unpacklo_epi32(r01, r23), hi0 = _mm256_unpackhi_epi32(r01, r23);
    const __m256i lo1 = _mm256_unpacklo_epi32(r45, r67), hi1 = _mm256_unpackhi_epi32(r45, r67);
    // Lanes in the order 0 2 4 6 1 3 5 7 until put back.
    const __m256i x1 = _mm256_permutevar8x32_epi32(_mm256_unpacklo_epi64(lo0, lo1), order);
    const __m256i y1 = _mm256_permutevar8x32_epi32(_mm256_unpackhi_epi64(lo0, lo1), order);
    const __m256i x2 = _mm256_permutevar8x32_epi32(_mm256_unpacklo_epi64(hi0, hi1), order);
    const __m256i y2 = _mm256_permutevar8x32_epi32(_mm256_unpackhi_epi64(hi0, hi1), order);
    Store(c.x1 + at, x1), Store(c.y1 + at, y1), Store(c.x2 + at, x2), Store(c.y2 + at, y2);
    Store(c.nearX1 + at, Near(x1, reachV)), Store(c.nearY1 + at, Near(y1, reachV));
    Store(c.farX2 + at, Far(x2, reachV)), Store(c.farY2 + at, Far(y2, reachV));
    const __m256i flags = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(live + at)));
    Store(c.live + at, _mm256_xor_si256(_mm256_cmpeq_epi32(flags, _mm256_setzero_si256()), _mm256_set1_epi32(-1)));
  }
  for (; at < count; at++) SetEntry(c, at, r[at], live[at] ? -1 : 0, reach);
  for (; at % kStep; at++) SetEntry(c, at, {0, 0, 0, 0}, 0, reach);
}

}  // namespace

__attribute__((target("avx2"))) int32_t MergeLiveRectsAvx2(qmDirtyRect *r, uint8_t *live, int32_t count, int32_t reach) {
  // Nine columns of count values, each rounded up to whole steps.
  const int32_t padded = (count + kStep - 1) / kStep * kStep;
  const std::unique_ptr<int32_t[]> columns(new (std::nothrow) int32_t[size_t(padded) * 9]);
  if (!columns) return MergeLiveRectsScalar(r, live, count, reach);
  int32_t *const scratch = columns.get();
  const qmRectColumns c{scratch,              scratch + padded,     scratch + 2 * padded,
                        scratch + 3 * padded, scratch + 4 * padded, scratch + 5 * padded,
                        scratch + 6 * padded, scratch + 7 * padded, scratch + 8 * padded};
  FillColumns(c, r, live, count, reach);
  int32_t left = 0;
  for (int32_t i = 0; i < count; i++) {
    if (!c.live[i]) continue;
    left++;
    qmScanBox a{_mm256_set1_epi32(c.x1[i]), _mm256_set1_epi32(c.y1[i]), _mm256_set1_epi32(c.x2[i]), _mm256_set1_epi32(c.y2[i])};
    c.live[i] = 0;  // not its own partner
    for (int32_t at = 0; at < count; at += kStep) {
      const qmHalf sLo = LoadHalf(c, at), sHi = LoadHalf(c, at + 8);
      const __m256i hitLo = HitLanes(a, sLo), hitHi = HitLanes(a, sHi);
      const __m256i any = _mm256_or_si256(hitLo, hitHi);
      if (_mm256_testz_si256(any, any)) continue;
      const uint32_t taken = TakeEntries(&a, c, at, sLo, sHi, hitLo, hitHi);
      Store(c.live + at, _mm256_andnot_si256(LaneMask(taken & 0xFF), sLo.live));
      Store(c.live + at + 8, _mm256_andnot_si256(LaneMask(taken >> 8), sHi.live));
      for (uint32_t bits = taken; bits; bits &= bits - 1) live[at + __builtin_ctz(bits)] = 0;
      // Those before i were counted already when their own turn came.
      const int32_t before = i - at;
      left -= __builtin_popcount(taken & (before >= kStep ? 0xFFFFu : before <= 0 ? 0u : (1u << before) - 1));
    }
    c.live[i] = -1;
    r[i] = {_mm256_cvtsi256_si32(a.x1), _mm256_cvtsi256_si32(a.y1), _mm256_cvtsi256_si32(a.x2), _mm256_cvtsi256_si32(a.y2)};
    SetEntry(c, i, r[i], -1, reach);
  }
  return left;
}
