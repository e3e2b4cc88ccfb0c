// Palette quantizer: true-colour pixels reduced to at most 256 colours by a two-pass median cut
// over a 5-6-5 histogram, then every pixel remapped to its nearest palette colour, plainly or
// with Floyd-Steinberg error diffusion. One transparent colour can stay out of the reduction.
#pragma once
#include <cstdint>

// Source pixel layouts (FetchPixelRGB); 5- and 6-bit fields are shifted up without replication.
enum : int32_t {
  QPIX_RGB555_LE = 0,  // 16-bit little-endian, red bits 10-14, green 5-9, blue 0-4
  QPIX_BGR555_LE = 1,
  QPIX_RGB555_BE = 2,
  QPIX_BGR555_BE = 3,
  QPIX_RGB565_LE = 4,  // red bits 11-15, green 5-10, blue 0-4
  QPIX_BGR565_LE = 5,
  QPIX_RGB565_BE = 6,
  QPIX_BGR565_BE = 7,
  QPIX_RGB24 = 8,      // bytes red, green, blue
  QPIX_BGR24 = 9,      // bytes blue, green, red
  QPIX_XRGB32 = 10,    // 32-bit little-endian word 0x??RRGGBB
  QPIX_ARGB_BYTES = 11,// bytes alpha, red, green, blue
  QPIX_RGBX32 = 12,    // 32-bit little-endian word 0xRRGGBB??
  QPIX_XBGR32 = 13,    // 32-bit little-endian word 0x??BBGGRR
};

struct qmQuantizeRequest {
  const void *pixels;
  int32_t pixelFormat;    // QPIX_*
  int32_t bytesPerPixel;
  int32_t width;
  int32_t height;
  int32_t pitch;          // source row length in pixels
  uint8_t *indices;       // out: width x height bytes, rows without gaps
  uint32_t *palette;      // out: count words 0x00RRGGBB (room for 256)
  int32_t *count;         // in: colours wanted (1..256); out: entries written
  uint32_t transparent;   // 0xRRGGBB kept out of the reduction, or 0xFFFFFFFF
  int32_t reserve;        // without a transparent colour: at most 255 colours and one black extra
  int32_t dither;         // 0 nearest colour, else Floyd-Steinberg
  int32_t result;         // out: 1 after success, 0 after an allocation failure
};

void QuantizePalette(qmQuantizeRequest *request);

// The writers' wrapper over 0xAARRGGBB words (pitch in pixels): fills a request and returns its
// result word. colors is clamped to 1..256; *countOut receives the palette size.
int32_t QuantizeImage(const uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t colors,
                      uint32_t transparent, int32_t reserve, int32_t dither, uint8_t *indices, uint32_t *palette,
                      int32_t *countOut);
