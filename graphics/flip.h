// Mirroring a bitmap with its mask and alpha plane, in place.
#pragma once
#include <cstdint>

struct qmFlipRequest {
  uint32_t *pixels;
  int32_t width, height;
  int32_t pitch; // in pixels
  uint8_t *mask; // or null
  int32_t maskBytesPerRow;
  uint8_t *alpha; // or null
  int32_t alphaBytesPerRow;
  int32_t direction;     // 0: rows swap top to bottom; other: columns swap left to right
  int32_t bytesPerPixel; // pixels move only when 4; the planes always
  uint8_t *scratch;      // at least maskBytesPerRow bytes, for the horizontal mask flip
};

void FlipPixels(const qmFlipRequest *req);
