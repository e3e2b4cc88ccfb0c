// Pixel words of the brush code: the internal colour 0x00RRGGBB against the 32-bit formats
// 11 (0xBBGGRR00), 12 (0xRRGGBB00) and 13 (0x00BBGGRR), and the 16-bit RGB565 word against
// the 16-bit formats 0-7. Unknown formats pass the value through (16-bit: its low 16 bits).
#pragma once
#include <cstdint>

enum : uint32_t {
  PIXFMT16_RGB555 = 0,
  PIXFMT16_BGR555 = 1,
  PIXFMT16_RGB555_SWAPPED = 2,
  PIXFMT16_BGR555_SWAPPED = 3,
  PIXFMT16_RGB565 = 4,
  PIXFMT16_BGR565 = 5,
  PIXFMT16_RGB565_SWAPPED = 6,
  PIXFMT16_BGR565_SWAPPED = 7,
  PIXFMT32_BGRA = 11,
  PIXFMT32_RGBA = 12,
  PIXFMT32_ABGR = 13,
};

uint32_t PixelFromRGB32(uint32_t format, uint32_t rgb);
uint32_t PixelToRGB32(uint32_t format, uint32_t pixel);
uint32_t Pixel16FromRGB565(uint32_t format, uint32_t rgb565);
uint32_t Pixel16ToRGB565(uint32_t format, uint32_t pixel);
