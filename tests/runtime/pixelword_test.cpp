// Pixel-word conversions of the brush code.
#include <gtest/gtest.h>

#include "runtime/pixelword.h"

namespace {

TEST(PixelWords, ThirtyTwoBitFormats) {
  struct Case {
    uint32_t format, rgb, pixel;
  } cases[] = {
      {PIXFMT32_BGRA, 0x123456, 0x56341200},
      {PIXFMT32_RGBA, 0x123456, 0x12345600},
      {PIXFMT32_ABGR, 0x123456, 0x00563412},
      {7, 0x123456, 0x123456},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(PixelFromRGB32(c.format, c.rgb), c.pixel) << c.format;
    EXPECT_EQ(PixelToRGB32(c.format, c.pixel), c.rgb) << c.format;
  }
}

TEST(PixelWords, SixteenBitFormats) {
  // red 0x1F, green 0x2A (lowest bit 0, so 555 keeps it), blue 0x05
  const uint32_t rgb565 = (0x1F << 11) | (0x2A << 5) | 0x05;
  const uint32_t rgb555 = (0x1F << 10) | (0x15 << 5) | 0x05;
  const uint32_t bgr555 = (0x05 << 10) | (0x15 << 5) | 0x1F;
  const uint32_t bgr565 = (0x05 << 11) | (0x2A << 5) | 0x1F;
  auto swap = [](uint32_t v) { return ((v & 0xFF) << 8) | (v >> 8); };
  struct Case {
    uint32_t format, pixel;
  } cases[] = {
      {PIXFMT16_RGB555, rgb555}, {PIXFMT16_BGR555, bgr555}, {PIXFMT16_RGB555_SWAPPED, swap(rgb555)},
      {PIXFMT16_BGR555_SWAPPED, swap(bgr555)}, {PIXFMT16_RGB565, rgb565}, {PIXFMT16_BGR565, bgr565},
      {PIXFMT16_RGB565_SWAPPED, swap(rgb565)}, {PIXFMT16_BGR565_SWAPPED, swap(bgr565)}, {9, rgb565},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Pixel16FromRGB565(c.format, rgb565), c.pixel) << c.format;
    EXPECT_EQ(Pixel16ToRGB565(c.format, c.pixel), rgb565) << c.format;
  }
  // 555 drops green's lowest bit and brings back a 0.
  EXPECT_EQ(Pixel16ToRGB565(PIXFMT16_RGB555, Pixel16FromRGB565(PIXFMT16_RGB555, 0x0020)), 0u);
  EXPECT_EQ(Pixel16FromRGB565(PIXFMT16_RGB565, 0x12345678), 0x5678u);
}

}  // namespace
