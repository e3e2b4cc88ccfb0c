// What the picture targets share: the input as a file that a reader opens by name, read as a
// probe and as a whole picture, whose pixels are all touched and freed.
#pragma once
#include <cstdint>

#include "platform/memory.h"
#include "tools/fuzz/fuzz_applet.h"

// Reading every pixel lets the sanitizers see a picture that is smaller than it claims.
inline void TouchPixels(const uint32_t *pixels, int32_t width, int32_t height) {
  volatile uint32_t sum = 0;
  for (int64_t i = 0; i < int64_t(width) * height; i++) sum = sum + pixels[i];
}
