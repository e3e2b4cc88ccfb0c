#include "runtime/pixelword.h"

static uint32_t Swap24(uint32_t v) {  // 0x00RRGGBB <-> 0x00BBGGRR
  return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

static uint32_t Swap16(uint32_t v) { return ((v & 0xFF) << 8) | ((v >> 8) & 0xFF); }

uint32_t PixelFromRGB32(uint32_t format, uint32_t rgb) {
  switch (format) {
    case PIXFMT32_BGRA: return Swap24(rgb & 0xFFFFFF) << 8;
    case PIXFMT32_RGBA: return (rgb & 0xFFFFFF) << 8;
    case PIXFMT32_ABGR: return Swap24(rgb & 0xFFFFFF);
    default: return rgb;
  }
}

uint32_t PixelToRGB32(uint32_t format, uint32_t pixel) {
  switch (format) {
    case PIXFMT32_BGRA: return Swap24(pixel >> 8);
    case PIXFMT32_RGBA: return pixel >> 8;
    case PIXFMT32_ABGR: return Swap24(pixel & 0xFFFFFF);
    default: return pixel;
  }
}

// RGB565 with red and blue exchanged (the same operation both ways).
static uint32_t SwapRB565(uint32_t v) { return ((v & 0x1F) << 11) | (v & 0x07E0) | ((v >> 11) & 0x1F); }
// 565 to 555: green loses its lowest bit.
static uint32_t To555(uint32_t v) { return ((v >> 1) & 0x7FE0) | (v & 0x1F); }
// 555 to 565: a 0 bit is inserted below green.
static uint32_t From555(uint32_t v) { return ((v & 0x7FE0) << 1) | (v & 0x1F); }

uint32_t Pixel16FromRGB565(uint32_t format, uint32_t v) {
  v &= 0xFFFF;
  switch (format) {
    case PIXFMT16_RGB555: return To555(v);
    case PIXFMT16_BGR555: return To555(SwapRB565(v));
    case PIXFMT16_RGB555_SWAPPED: return Swap16(To555(v));
    case PIXFMT16_BGR555_SWAPPED: return Swap16(To555(SwapRB565(v)));
    case PIXFMT16_BGR565: return SwapRB565(v);
    case PIXFMT16_RGB565_SWAPPED: return Swap16(v);
    case PIXFMT16_BGR565_SWAPPED: return Swap16(SwapRB565(v));
    default: return v;
  }
}

uint32_t Pixel16ToRGB565(uint32_t format, uint32_t v) {
  v &= 0xFFFF;
  switch (format) {
    case PIXFMT16_RGB555: return From555(v);
    case PIXFMT16_BGR555: return SwapRB565(From555(v));
    case PIXFMT16_RGB555_SWAPPED: return From555(Swap16(v));
    case PIXFMT16_BGR555_SWAPPED: return SwapRB565(From555(Swap16(v)));
    case PIXFMT16_BGR565: return SwapRB565(v);
    case PIXFMT16_RGB565_SWAPPED: return Swap16(v);
    case PIXFMT16_BGR565_SWAPPED: return SwapRB565(Swap16(v));
    default: return v;
  }
}
