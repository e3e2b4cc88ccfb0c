// The vector byte order of presenting (alone, and keeping a copy of the source) against its
// scalar twin, bit for bit, on random rows of every length around the vector widths and the
// cache-bypassing length, at every alignment of the source and of each target.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/sdl/present_kernels.h"

namespace {

TEST(SimdDiff, PresentByteOrder) {
  std::mt19937 rng(20261210);
  // Short rows, and rows around the length from which the kept copy bypasses the cache.
  std::vector<int> counts;
  for (int count = 0; count <= 70; count++) counts.push_back(count);
  for (int count = 1016; count <= 1032; count++) counts.push_back(count);
  counts.push_back(1931);
  for (uint32_t fill : {0u, 0xFF000000u}) {
    for (int count : counts) {
      for (int offset = 0; offset < 8; offset++) {
        std::vector<uint32_t> src(size_t(count + offset));
        for (uint32_t &p : src) p = rng();
        // One word past the row on each side shows that nothing outside it is written.
        std::vector<uint32_t> fast(size_t(count + offset + 1), 0x5A5A5A5Au), slow = fast;
        ConvertXrgbRow(src.data() + offset, fast.data() + offset, count, fill);
        ConvertXrgbRowScalar(src.data() + offset, slow.data() + offset, count, fill);
        ASSERT_EQ(fast, slow) << "count " << count << ", offset " << offset << ", fill " << fill;
        // The pass that also keeps the source: the same window row, and the source unchanged,
        // with the kept row at every alignment apart from the window's.
        for (int keepOffset = 0; keepOffset < 8; keepOffset++) {
          std::vector<uint32_t> window(fast.size(), 0x5A5A5A5Au), kept(size_t(count + keepOffset + 1), 0x5A5A5A5Au);
          ConvertXrgbRowKeeping(src.data() + offset, window.data() + offset, kept.data() + keepOffset, count, fill);
          ASSERT_EQ(window, slow) << "keeping, count " << count << ", offset " << offset << ", kept at " << keepOffset;
          for (int i = 0; i <= count + keepOffset; i++)
            ASSERT_EQ(kept[size_t(i)], i >= keepOffset && i < count + keepOffset ? src[size_t(offset + i - keepOffset)] : 0x5A5A5A5Au)
                << "count " << count << ", kept at " << keepOffset << ", word " << i;
        }
      }
    }
  }
  // The layout itself: bytes unused, R, G, B in memory become 0xFFRRGGBB.
  const uint8_t bytes[4] = {0xA5, 0x12, 0x34, 0x56};
  uint32_t in;
  std::memcpy(&in, bytes, 4);
  std::vector<uint32_t> row(16, in), got(16);
  ConvertXrgbRow(row.data(), got.data(), 16, 0xFF000000u);
  for (uint32_t p : got) EXPECT_EQ(p, 0xFF123456u);
}

// The way back from the window's words to pixels: vector against scalar at every length and
// alignment, and a round trip giving each pixel again with its unused byte cleared.
TEST(SimdDiff, PresentByteOrderBack) {
  std::mt19937 rng(20261211);
  for (int count = 0; count <= 70; count++) {
    for (int offset = 0; offset < 8; offset++) {
      std::vector<uint32_t> window(size_t(count + offset));
      for (uint32_t &p : window) p = rng();
      std::vector<uint32_t> fast(size_t(count + offset + 1), 0x5A5A5A5Au), slow = fast;
      RestoreXrgbRow(window.data() + offset, fast.data() + offset, count);
      RestoreXrgbRowScalar(window.data() + offset, slow.data() + offset, count);
      ASSERT_EQ(fast, slow) << "count " << count << ", offset " << offset;
    }
  }
  for (uint32_t fill : {0u, 0xFF000000u}) {
    std::vector<uint32_t> pixels(1931), shown(pixels.size()), back(pixels.size());
    for (uint32_t &p : pixels) p = rng();
    ConvertXrgbRow(pixels.data(), shown.data(), int32_t(pixels.size()), fill);
    RestoreXrgbRow(shown.data(), back.data(), int32_t(pixels.size()));
    for (size_t i = 0; i < pixels.size(); i++) {
      uint8_t in[4], out[4];
      std::memcpy(in, &pixels[i], 4);
      std::memcpy(out, &back[i], 4);
      ASSERT_EQ(out[0], 0) << i;
      ASSERT_EQ(std::memcmp(in + 1, out + 1, 3), 0) << "R, G, B of pixel " << i << ", fill " << fill;
    }
  }
}

}  // namespace
