#include <gtest/gtest.h>

#include "graphics/pixelformat.h"

TEST(PixelFormat, CanonicalRoundTrips) {
  struct Case {
    int32_t format;
    uint32_t word, canonical, back;
  } cases[] = {
      // Format 11 is the word 0xBBGGRR00: the low byte is the fourth (alpha) byte and is lost.
      {11, 0xAABBCCDD, 0x00CCBBAA, 0xAABBCC00},
      {11, 0x33221100, 0x00112233, 0x33221100},
      {10, 0x00112233, 0x00112233, 0x00112233},
      {12, 0x11223300, 0x00112233, 0x11223300},
      {13, 0x00332211, 0x00112233, 0x00332211},
      {7, 0x12345678, 0x12345678, 0x12345678}, // unknown codes are left alone
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(PixelToCanonical(c.format, c.word), c.canonical);
    EXPECT_EQ(CanonicalToPixel(c.format, c.canonical), c.back);
  }
}

TEST(PixelFormat, BlendRule) {
  EXPECT_EQ(BlendChannel(0, 255, 255), 254);
  EXPECT_EQ(BlendChannel(0, 255, 128), 127);
  EXPECT_EQ(BlendChannel(255, 0, 128), 127); // arithmetic shift rounds toward minus infinity
  EXPECT_EQ(BlendChannel(10, 11, 1), 10);
  EXPECT_EQ(BlendChannel(11, 10, 1), 10);
}

TEST(PixelFormat, ColorToPixel) {
  const uint32_t rgb = 0xF08040;
  struct Case {
    int32_t format;
    uint32_t value;
  } cases[] = {
      {0, (0x1E << 10) | (0x10 << 5) | 0x08}, {1, (0x08 << 10) | (0x10 << 5) | 0x1E},
      {2, 0x087A},                             {4, (0x1E << 11) | (0x20 << 5) | 0x08},
      {5, (0x08 << 11) | (0x20 << 5) | 0x1E}, {6, 0x08F4},
      {8, 0xF08040},                           {9, 0x4080F0},
      {10, 0xF08040},                          {11, 0x4080F000},
      {12, 0xF0804000},                        {13, 0x4080F0},
      {14, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(ColorToPixel(rgb, c.format), c.value);
  }
  // Format 11 in memory: 0, red, green, blue.
  uint32_t w = ColorToPixel(0x112233, 11);
  const auto *bytes = reinterpret_cast<const uint8_t *>(&w);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 0x11);
  EXPECT_EQ(bytes[2], 0x22);
  EXPECT_EQ(bytes[3], 0x33);
}

TEST(PixelFormat, Pixel16Helpers) {
  const uint32_t rgb565 = ColorToPixel(0xF08040, 4);
  for (int32_t f = 0; f <= 7; f++) {
    SCOPED_TRACE(f);
    // Through the 16-bit helpers, 5-6-5 gives what ColorToPixel gives directly
    // (up to the green bit a 15-bit code cannot hold).
    EXPECT_EQ(Pixel16FromRgb565(f, rgb565), ColorToPixel(0xF08040, f));
    uint32_t back = Pixel16ToRgb565(f, Pixel16FromRgb565(f, rgb565));
    EXPECT_EQ(back, f < 4 ? (rgb565 & ~0x20u) : rgb565);
  }
  EXPECT_EQ(Pixel16FromRgb565(9, 0x1234), 0x1234u);
}
