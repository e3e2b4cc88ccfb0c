// The vector scan of the rectangle merge against its scalar reference on random lists: the
// boxes, the live flags and the count left must be equal for every input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "display/dirtyrects.h"
#include "graphics/cpu.h"

namespace {

enum Layout { CLUSTERED, SPREAD, CHAIN, EXTREME, LAYOUTS };

struct MergeCase {
  std::vector<qmDirtyRect> rects;
  std::vector<uint8_t> live;
};

int32_t Pick(std::mt19937 &rng, int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }

// A corner near either end of int32, near kMergedRect, or anywhere.
int32_t ExtremeCorner(std::mt19937 &rng) {
  switch (Pick(rng, 0, 4)) {
  case 0: return INT32_MIN + Pick(rng, 0, 3);
  case 1: return INT32_MAX - Pick(rng, 0, 3);
  case 2: return kMergedRect + Pick(rng, -2, 2);
  case 3: return Pick(rng, -3, 3);
  default: return int32_t(rng());
  }
}

MergeCase RandomCase(std::mt19937 &rng, int32_t count, Layout layout) {
  MergeCase c;
  // Clustered lists crowd their rectangles into an area about as large as their sum, so most
  // join; a chain runs along one row, each rectangle touching or overlapping the next ones.
  const int32_t side = layout == CLUSTERED ? 8 + 6 * int32_t(std::sqrt(double(count))) : 1920;
  for (int32_t i = 0; i < count; i++) {
    qmDirtyRect r;
    if (layout == EXTREME) {
      r = {ExtremeCorner(rng), ExtremeCorner(rng), ExtremeCorner(rng), ExtremeCorner(rng)};
      if (Pick(rng, 0, 3) && r.x1 > r.x2) std::swap(r.x1, r.x2);  // now and then left reversed
      if (Pick(rng, 0, 3) && r.y1 > r.y2) std::swap(r.y1, r.y2);
    } else if (layout == CHAIN) {
      const int32_t x = i * 5 + Pick(rng, -4, 4);
      r = {x, Pick(rng, 0, 3), x + Pick(rng, 0, 6), Pick(rng, 3, 9)};
    } else {
      const int32_t x = Pick(rng, -20, side), y = Pick(rng, -20, layout == CLUSTERED ? side : 1080);
      r = {x, y, x + Pick(rng, 0, 40), y + Pick(rng, 0, 40)};
    }
    if (!Pick(rng, 0, 15)) r.x1 = kMergedRect;  // as MergeRectArray leaves a taken entry
    c.rects.push_back(r);
    // Dead entries on input; any nonzero byte is live.
    c.live.push_back(uint8_t(Pick(rng, 0, 9) == 0 ? 0 : Pick(rng, 0, 5) == 0 ? Pick(rng, 1, 255) : 1));
  }
  return c;
}

TEST(SimdDiff, MergeLiveRects) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(20261211);
  const int32_t reaches[] = {0, 1, 0, 1, 2, 100, INT32_MAX};
  int32_t joined = 0;
  for (int iter = 0; iter < 400; iter++) {
    // Mostly short lists, where the step's tail lanes matter, and some up to 1100.
    const int32_t count = iter % 4 ? Pick(rng, 0, 40) : Pick(rng, 0, 1100);
    const auto layout = Layout(Pick(rng, 0, LAYOUTS - 1));
    const int32_t reach = reaches[iter % 7];
    MergeCase vec = RandomCase(rng, count, layout), ref = vec;
    const auto deadBefore = std::count(vec.live.begin(), vec.live.end(), 0);
    const int32_t left = MergeLiveRects(vec.rects.data(), vec.live.data(), count, reach);
    const int32_t refLeft = MergeLiveRectsScalar(ref.rects.data(), ref.live.data(), count, reach);
    ASSERT_EQ(left, refLeft) << "case " << iter;
    ASSERT_EQ(vec.live, ref.live) << "case " << iter;
    for (int32_t i = 0; i < count; i++) {
      const qmDirtyRect &a = vec.rects[size_t(i)], &b = ref.rects[size_t(i)];
      ASSERT_TRUE(a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2) << "case " << iter << " entry " << i;
    }
    joined += int32_t(std::count(ref.live.begin(), ref.live.end(), 0) - deadBefore);
  }
  EXPECT_GT(joined, 1000);  // the lists do merge
}

}  // namespace
