#include "graphics/flip.h"

#include <algorithm>
#include <cstring>

#include "graphics/alpha_kernels.h"

namespace {

template <typename T> void SwapRows(T *a, T *b, int32_t count) {
  std::swap_ranges(a, a + count, b);
}

} // namespace

void FlipPixels(const qmFlipRequest *req) {
  const int32_t w = req->width, h = req->height;
  if (w < 1 || h < 1) return;
  const bool movePixels = req->bytesPerPixel == 4 && req->pixels;
  if (req->direction == 0) {
    for (int32_t j = 0; j < h / 2; j++) {
      int32_t k = h - 1 - j;
      if (movePixels) SwapRows(req->pixels + int64_t(j) * req->pitch, req->pixels + int64_t(k) * req->pitch, w);
      if (req->mask)
        SwapRows(req->mask + int64_t(j) * req->maskBytesPerRow, req->mask + int64_t(k) * req->maskBytesPerRow,
                 req->maskBytesPerRow);
      if (req->alpha)
        SwapRows(req->alpha + int64_t(j) * req->alphaBytesPerRow, req->alpha + int64_t(k) * req->alphaBytesPerRow, w);
    }
    return;
  }
  for (int32_t j = 0; j < h; j++) {
    if (movePixels) std::reverse(req->pixels + int64_t(j) * req->pitch, req->pixels + int64_t(j) * req->pitch + w);
    if (req->alpha) std::reverse(req->alpha + int64_t(j) * req->alphaBytesPerRow, req->alpha + int64_t(j) * req->alphaBytesPerRow + w);
    if (req->mask && req->scratch) {
      // Rewritten bit by bit from a copy, so the padding bits past the width stay where they are.
      uint8_t *row = req->mask + int64_t(j) * req->maskBytesPerRow;
      std::memcpy(req->scratch, row, size_t(req->maskBytesPerRow));
      for (int32_t i = 0; i < w; i++) SetMaskBit(row, i, GetMaskBit(req->scratch, w - 1 - i));
    }
  }
}
