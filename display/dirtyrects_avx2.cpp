// Vector scan of the rectangle merge: eight entries per step, same rule and order as
// MergeLiveRectsScalar.
#include <immintrin.h>

#include <cstdint>

#include "display/dirtyrects.h"

namespace {

// The box of the entry whose turn it is, each corner in every lane, with the bounds that make
// each reach test one signed 32-bit compare: j joins when x1[j] <= x1Max, x2[j] >= x2Min,
// y1[j] <= y1Max and y2[j] >= y2Min.
struct qmScanBox {
  __m256i x1, y1, x2, y2;
  __m256i x1Max, x2Min, y1Max, y2Min;
};

// One step's entries, read once: a join changes only the box, and the lanes tested again are
// all after the lanes taken.
struct qmStep {
  __m256i x1, y1, x2, y2, live;
};

// v + reach and v - reach for reach >= 0, held at INT32_MAX and INT32_MIN: a bound past the
// int32 range holds for every corner, so the compares stay exact.
__attribute__((target("avx2"))) __m256i AddHeld(__m256i v, __m256i reach) {
  const __m256i sum = _mm256_add_epi32(v, reach);
  return _mm256_blendv_epi8(sum, _mm256_set1_epi32(INT32_MAX), _mm256_cmpgt_epi32(v, sum));
}
__attribute__((target("avx2"))) __m256i SubHeld(__m256i v, __m256i reach) {
  const __m256i diff = _mm256_sub_epi32(v, reach);
  return _mm256_blendv_epi8(diff, _mm256_set1_epi32(INT32_MIN), _mm256_cmpgt_epi32(diff, v));
}

__attribute__((target("avx2"))) void SetBounds(qmScanBox *a, __m256i reach) {
  a->x1Max = AddHeld(a->x2, reach);
  a->x2Min = SubHeld(a->x1, reach);
  a->y1Max = AddHeld(a->y2, reach);
  a->y2Min = SubHeld(a->y1, reach);
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

// Lane k all ones where bit k of bits is set.
__attribute__((target("avx2"))) __m256i LaneMask(uint32_t bits) {
  const __m256i bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(int32_t(bits)), bit), bit);
}

// The box grown by the lanes of `take` (which may be all eight: each lane keeps the box too).
__attribute__((target("avx2"))) void Grow(qmScanBox *a, const qmStep &s, __m256i take, __m256i reach) {
  a->x1 = AllMin(_mm256_blendv_epi8(a->x1, _mm256_min_epi32(a->x1, s.x1), take));
  a->y1 = AllMin(_mm256_blendv_epi8(a->y1, _mm256_min_epi32(a->y1, s.y1), take));
  a->x2 = AllMax(_mm256_blendv_epi8(a->x2, _mm256_max_epi32(a->x2, s.x2), take));
  a->y2 = AllMax(_mm256_blendv_epi8(a->y2, _mm256_max_epi32(a->y2, s.y2), take));
  SetBounds(a, reach);
}

// Bit k set when lane k is live and within reach of the box.
__attribute__((target("avx2"))) uint32_t Hits(const qmScanBox &a, const qmStep &s) {
  const __m256i out = _mm256_or_si256(_mm256_or_si256(_mm256_cmpgt_epi32(s.x1, a.x1Max), _mm256_cmpgt_epi32(a.x2Min, s.x2)),
                                      _mm256_or_si256(_mm256_cmpgt_epi32(s.y1, a.y1Max), _mm256_cmpgt_epi32(a.y2Min, s.y2)));
  return uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_andnot_si256(out, s.live))));
}

// Takes into the box the lanes of the step that join it, `hits` being those within reach of it
// as it stands; returns the lanes taken.
__attribute__((target("avx2"))) uint32_t TakeLanes(qmScanBox *a, const qmStep &s, uint32_t hits, __m256i reach) {
  // Usually the box grown by all of them at once reaches no other later lane: a lane in between
  // then met a box no larger than that one, so the order could not have mattered.
  qmScanBox all = *a;
  Grow(&all, s, LaneMask(hits), reach);
  if (!(Hits(all, s) & ~hits & (0xFEu << __builtin_ctz(hits)))) {
    *a = all;
    return hits;
  }
  // Else one by one in lane order, the grown box testing the later lanes again.
  uint32_t taken = 0;
  while (hits) {
    const uint32_t lane = uint32_t(__builtin_ctz(hits));
    taken |= 1u << lane;
    Grow(a, s, LaneMask(1u << lane), reach);
    hits = Hits(*a, s) & (0xFEu << lane);
  }
  return taken;
}

}  // namespace

__attribute__((target("avx2"))) int32_t MergeRectColumnsAvx2(const qmRectColumns &c, int32_t reach) {
  const __m256i reachV = _mm256_set1_epi32(reach);
  int32_t left = 0;
  for (int32_t i = 0; i < c.count; i++) {
    if (!c.live[i]) continue;
    left++;
    qmScanBox a{_mm256_set1_epi32(c.x1[i]), _mm256_set1_epi32(c.y1[i]), _mm256_set1_epi32(c.x2[i]), _mm256_set1_epi32(c.y2[i]),
                {}, {}, {}, {}};
    SetBounds(&a, reachV);
    c.live[i] = 0;  // not its own partner
    for (int32_t at = 0; at < c.count; at += 8) {
      const qmStep s{_mm256_loadu_si256(reinterpret_cast<const __m256i *>(c.x1 + at)),
                     _mm256_loadu_si256(reinterpret_cast<const __m256i *>(c.y1 + at)),
                     _mm256_loadu_si256(reinterpret_cast<const __m256i *>(c.x2 + at)),
                     _mm256_loadu_si256(reinterpret_cast<const __m256i *>(c.y2 + at)),
                     _mm256_loadu_si256(reinterpret_cast<const __m256i *>(c.live + at))};
      const uint32_t hits = Hits(a, s);
      if (!hits) continue;
      const uint32_t taken = TakeLanes(&a, s, hits, reachV);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(c.live + at), _mm256_andnot_si256(LaneMask(taken), s.live));
      // Those before i were counted already when their own turn came.
      const int32_t before = i - at;
      left -= __builtin_popcount(taken & (before >= 8 ? 0xFFu : before <= 0 ? 0u : (1u << before) - 1));
    }
    c.live[i] = -1;
    c.x1[i] = _mm256_cvtsi256_si32(a.x1), c.y1[i] = _mm256_cvtsi256_si32(a.y1);
    c.x2[i] = _mm256_cvtsi256_si32(a.x2), c.y2[i] = _mm256_cvtsi256_si32(a.y2);
  }
  return left;
}
