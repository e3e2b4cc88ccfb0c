// Boundary flood fill against the recursive description run in Python on small mazes, and on
// pictures large enough that recursion would have overflowed the stack.
#include "graphics/floodfill.h"

#include <gtest/gtest.h>

#include <vector>

#include "effects_ref.h"
#include "graphics/pixelformat.h"

using fxtest::RunReference;

namespace {

constexpr uint32_t kWall = 0x112233, kFill = 0xFF8000;

std::vector<uint32_t> Maze(int32_t w, int32_t h, uint32_t seed, int32_t density) {
  std::vector<uint32_t> px(size_t(w) * h);
  uint32_t s = seed;
  for (auto &p : px) {
    s = s * 1664525u + 1013904223u;
    const uint32_t r = s >> 24;
    p = int32_t(r % 100) < density ? kWall : (r % 3 == 0 ? kFill : 0x000000 | (r << 8));
  }
  return px;
}

TEST(FloodFill, RandomMazesMatchTheRecursiveFill) {
  const int32_t w = 24, h = 16;
  for (uint32_t seed = 1; seed <= 12; seed++) {
    const auto maze = Maze(w, h, seed, 25 + int32_t(seed % 4) * 5);
    const int32_t sx = int32_t(seed * 5) % w, sy = int32_t(seed * 3) % h;
    const auto ref = RunReference("flood " + std::to_string(sx) + " " + std::to_string(sy) + " " + std::to_string(kWall) + " " +
                                      std::to_string(kFill),
                                  w, h, maze);
    ASSERT_EQ(ref.size(), size_t(w * h));
    for (int32_t fmt : {PIXFMT_XRGB, PIXFMT_BGRX}) {
      std::vector<uint32_t> px(size_t(w + 3) * h, 0x5A5A5A5A);
      for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) px[size_t(y) * (w + 3) + x] = CanonicalToPixel(fmt, maze[size_t(y) * w + x]);
      qmFillRequest req{px.data(), w, h, w + 3, CanonicalToPixel(fmt, kWall), CanonicalToPixel(fmt, kFill), 0, 0};
      ASSERT_EQ(FloodFillPixels(&req, sx, sy, CompareMaskForFormat(fmt)), 0);
      for (int32_t y = 0; y < h; y++) {
        for (int32_t x = 0; x < w; x++)
          ASSERT_EQ(PixelToCanonical(fmt, px[size_t(y) * (w + 3) + x]), uint32_t(ref[y * w + x])) << "seed " << seed << " at " << x << "," << y;
        EXPECT_EQ(px[size_t(y) * (w + 3) + w], 0x5A5A5A5Au);
      }
    }
  }
}

TEST(FloodFill, RingInteriorStartOnBoundaryAndArea) {
  // A ring of wall around a 5 x 3 interior holding several colours; outside stays.
  const int32_t w = 9, h = 7;
  std::vector<uint32_t> px(w * h, 0x0000FF);
  for (int32_t y = 1; y <= 5; y++)
    for (int32_t x = 1; x <= 7; x++) px[y * w + x] = (y == 1 || y == 5 || x == 1 || x == 7) ? kWall : uint32_t(0x10 * (x + y));
  auto filled = px;
  qmFillRequest req{filled.data(), w, h, w, kWall, kFill, 0, 0};
  ASSERT_EQ(FloodFillPixels(&req, 4, 3, 0xFFFFFF), 0);
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      const bool inside = x >= 2 && x <= 6 && y >= 2 && y <= 4;
      EXPECT_EQ(filled[y * w + x], inside ? kFill : px[y * w + x]) << x << "," << y;
    }
  // On the boundary colour, or outside the allowed area on any side: nothing.
  for (auto [x, y] : {std::pair{1, 1}, std::pair{-1, 3}, std::pair{9, 3}, std::pair{4, -1}, std::pair{4, 7}}) {
    auto same = px;
    qmFillRequest r{same.data(), w, h, w, kWall, kFill, 0, 0};
    EXPECT_EQ(FloodFillPixels(&r, x, y, 0xFFFFFF), 0);
    EXPECT_EQ(same, px) << x << "," << y;
  }
  // The allowed area 3..5 x 2..3 keeps the fill inside it.
  auto part = px;
  qmFillRequest r{part.data(), 3, 2, w, kWall, kFill, 3, 2};
  ASSERT_EQ(FloodFillPixels(&r, 4, 3, 0xFFFFFF), 0);
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      const bool inside = x >= 3 && x <= 5 && y >= 2 && y <= 3;
      EXPECT_EQ(part[y * w + x], inside ? kFill : px[y * w + x]) << x << "," << y;
    }
}

TEST(FloodFill, FillColourOutsideTheMaskStillEnds) {
  // The fourth byte is outside the compare mask: filled pixels must still count as filled.
  std::vector<uint32_t> px(64 * 64, 0);
  qmFillRequest req{px.data(), 64, 64, 64, 0x00FFFFFF, 0xFF123456, 0, 0};
  ASSERT_EQ(FloodFillPixels(&req, 10, 10, 0x00FFFFFF), 0);
  EXPECT_EQ(px, std::vector<uint32_t>(64 * 64, 0xFF123456));
}

TEST(FloodFill, LargePicturesNeedNoRecursion) {
  // A comb of 32767 x 64: every column a run of its own in the rows below the spine, so a fill
  // by recursion would nest thousands deep.
  const int32_t w = 32767, h = 64;
  std::vector<uint32_t> px(size_t(w) * h, 0);
  for (int32_t y = 1; y < h; y++)
    for (int32_t x = 1; x < w; x += 2) px[size_t(y) * w + x] = kWall;
  qmFillRequest req{px.data(), w, h, w, kWall, kFill, 0, 0};
  ASSERT_EQ(FloodFillPixels(&req, w - 1, h - 1, 0xFFFFFF), 0);
  int64_t filled = 0;
  for (uint32_t v : px) filled += v == kFill;
  EXPECT_EQ(filled, int64_t(w) + int64_t(w / 2 + 1) * (h - 1));
  // A 4000 x 4000 open picture fills completely.
  std::vector<uint32_t> open(size_t(4000) * 4000, 0x222222);
  qmFillRequest all{open.data(), 4000, 4000, 4000, kWall, kFill, 0, 0};
  ASSERT_EQ(FloodFillPixels(&all, 2000, 2000, 0xFFFFFF), 0);
  EXPECT_EQ(open, std::vector<uint32_t>(size_t(4000) * 4000, kFill));
}

} // namespace
