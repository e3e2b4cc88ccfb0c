#include "graphics/pixelformat.h"

namespace {

uint32_t Swap16(uint32_t v) { return ((v & 0xFF) << 8) | ((v >> 8) & 0xFF); }

// The 16-bit codes come in groups of four: 15-bit (0..3) and 16-bit (4..7),
// each as RGB, BGR, RGB swapped, BGR swapped.
bool IsBgr16(int32_t format) { return format == 1 || format == 3 || format == 5 || format == 7; }
bool IsSwapped16(int32_t format) { return format == 2 || format == 3 || format == 6 || format == 7; }

uint32_t ExchangeRedBlue565(uint32_t v) { return ((v & 0x1F) << 11) | (v & 0x7E0) | ((v >> 11) & 0x1F); }

} // namespace

uint32_t ColorToPixel(uint32_t rgb, int32_t format) {
  uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  switch (format) {
  case 0: return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
  case 1: return ((b >> 3) << 10) | ((g >> 3) << 5) | (r >> 3);
  case 2: return Swap16(ColorToPixel(rgb, 0));
  case 3: return Swap16(ColorToPixel(rgb, 1));
  case 4: return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
  case 5: return ((b >> 3) << 11) | ((g >> 2) << 5) | (r >> 3);
  case 6: return Swap16(ColorToPixel(rgb, 4));
  case 7: return Swap16(ColorToPixel(rgb, 5));
  case 8:
  case 10: return rgb & 0xFFFFFF;
  case 9:
  case 13: return (b << 16) | (g << 8) | r;
  case 11: return (b << 24) | (g << 16) | (r << 8);
  case 12: return (r << 24) | (g << 16) | (b << 8);
  default: return 0;
  }
}

uint32_t Pixel16FromRgb565(int32_t format, uint32_t value) {
  value &= 0xFFFF;
  if (format < 0 || format > 7 || format == 4) return value;
  if (IsBgr16(format)) value = ExchangeRedBlue565(value);
  if (format < 4) value = ((value >> 1) & 0x7FE0) | (value & 0x1F); // green loses its lowest bit
  if (IsSwapped16(format)) value = Swap16(value);
  return value;
}

uint32_t Pixel16ToRgb565(int32_t format, uint32_t value) {
  value &= 0xFFFF;
  if (format < 0 || format > 7 || format == 4) return value;
  if (IsSwapped16(format)) value = Swap16(value);
  if (format < 4) value = ((value & 0x7FE0) << 1) | (value & 0x1F); // green gains a 0 bit
  if (IsBgr16(format)) value = ExchangeRedBlue565(value);
  return value;
}
