// Pixel words, their formats and the arithmetic every kernel shares.
#pragma once
#include <cstdint>

// Pixel format codes: 0..7 16-bit, 8/9 24-bit, 10..13 the 32-bit words below.
enum qmPixelFormat : int32_t {
  PIXFMT_RGB15LE = 0,
  PIXFMT_BGR15LE = 1,
  PIXFMT_RGB15BE = 2,
  PIXFMT_BGR15BE = 3,
  PIXFMT_RGB16LE = 4,
  PIXFMT_BGR16LE = 5,
  PIXFMT_RGB16BE = 6,
  PIXFMT_BGR16BE = 7,
  PIXFMT_RGB24 = 8,
  PIXFMT_BGR24 = 9,
  PIXFMT_XRGB = 10, // word 0x00RRGGBB
  PIXFMT_BGRX = 11, // word 0xBBGGRR00: bytes unused, R, G, B (every bitmap)
  PIXFMT_RGBX = 12, // word 0xRRGGBB00
  PIXFMT_XBGR = 13, // word 0x00BBGGRR
};

// Compare mask that keeps the fourth byte out of colour comparisons.
inline uint32_t CompareMaskForFormat(int32_t format) {
  return (format == PIXFMT_BGRX || format == PIXFMT_RGBX) ? 0xFFFFFF00u : 0x00FFFFFFu;
}

// The byte of a 32-bit word that carries no colour in this format.
inline uint32_t FourthByteMask(int32_t format) {
  return (format == PIXFMT_BGRX || format == PIXFMT_RGBX) ? 0x000000FFu : 0xFF000000u;
}

// Pixel word to canonical 0x00RRGGBB and back; unknown formats count as 10.
inline uint32_t PixelToCanonical(int32_t format, uint32_t value) {
  switch (format) {
  case PIXFMT_RGBX: return value >> 8;
  case PIXFMT_XBGR: return (value & 0xFF00FF00u) | ((value >> 16) & 0xFF) | ((value & 0xFF) << 16);
  case PIXFMT_BGRX: return ((value >> 24) & 0xFF) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000);
  default: return value;
  }
}

inline uint32_t CanonicalToPixel(int32_t format, uint32_t value) {
  switch (format) {
  case PIXFMT_RGBX: return value << 8;
  case PIXFMT_XBGR: return (value & 0xFF00FF00u) | ((value >> 16) & 0xFF) | ((value & 0xFF) << 16);
  case PIXFMT_BGRX: return ((value & 0xFF) << 24) | ((value & 0xFF00) << 8) | ((value >> 8) & 0xFF00);
  default: return value;
  }
}

// a toward b by weight w (0..255); the divisor is 256, so w = 255 stops one short of b.
inline int32_t BlendChannel(int32_t a, int32_t b, int32_t w) { return a + (((b - a) * w) >> 8); }

// Blend of two canonical colours channel by channel; the result's top byte is 0.
inline uint32_t BlendCanonical(uint32_t d, uint32_t s, int32_t w) {
  uint32_t r = BlendChannel((d >> 16) & 0xFF, (s >> 16) & 0xFF, w);
  uint32_t g = BlendChannel((d >> 8) & 0xFF, (s >> 8) & 0xFF, w);
  uint32_t b = BlendChannel(d & 0xFF, s & 0xFF, w);
  return (r << 16) | (g << 8) | b;
}

inline int32_t ClampChannel(double v) { return v < 0 ? 0 : v > 255 ? 255 : static_cast<int32_t>(v); }

// The pixel value of colour 0xRRGGBB in a format; 0 for codes above 13.
uint32_t ColorToPixel(uint32_t rgb, int32_t format);

// 16-bit pixels between code 4 (5-6-5 RGB) and the 16-bit codes 0..7.
uint32_t Pixel16FromRgb565(int32_t format, uint32_t value);
uint32_t Pixel16ToRgb565(int32_t format, uint32_t value);
