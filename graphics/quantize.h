// Palette quantizer: true-colour pixels reduced to at most 256 colours by a two-pass median cut
// over a 5-6-5 histogram, then every pixel remapped to its nearest palette colour, plainly or
// with Floyd-Steinberg error diffusion. One transparent colour can stay out of the reduction.
#pragma once
#include <cstdint>

#include "graphics/pixelformat.h"

struct qmQuantizeRequest {
  const void *pixels;
  int32_t pixelFormat;    // PIXFMT_* (5- and 6-bit fields are shifted up without replication)
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
