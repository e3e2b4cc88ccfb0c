#include "graphics/polygon_kernels.h"

#include <algorithm>

#include "graphics/alpha_kernels.h"

void PolygonMaskPixels(uint8_t *mask, int32_t bytesPerRow, int32_t width, int32_t height, int32_t *crossings,
                       const int32_t *points, int32_t count) {
  if (count < 1) return;
  int32_t minY = points[1], maxY = points[1];
  for (int32_t i = 1; i < count; i++) {
    minY = std::min(minY, points[2 * i + 1]);
    maxY = std::max(maxY, points[2 * i + 1]);
  }
  for (int32_t y = std::max(minY, 0); y <= std::min(maxY, height - 1); y++) {
    int32_t n = 0;
    for (int32_t i = 0; i < count; i++) {
      const int32_t *p = points + 2 * ((i + count - 1) % count), *q = points + 2 * i;
      if (p[1] == q[1]) continue;
      if (p[1] > q[1]) std::swap(p, q);
      // The bottom row of the polygon counts as inside, so a square keeps its last row.
      bool crosses = (p[1] <= y && y < q[1]) || (y == maxY && p[1] < y && y <= q[1]);
      if (!crosses) continue;
      float t = float(y - p[1]) * float(q[0] - p[0]) / float(q[1] - p[1]);
      int32_t x = int32_t(t + 0.5f + float(p[0]));
      int32_t j = n++;
      while (j > 0 && crossings[j - 1] > x) crossings[j] = crossings[j - 1], j--;
      crossings[j] = x;
    }
    uint8_t *row = mask + int64_t(y) * bytesPerRow;
    for (int32_t k = 0; k + 1 < n; k += 2) {
      int32_t from = std::max(crossings[k], 0), to = std::min(crossings[k + 1], width - 1);
      for (int32_t x = from; x <= to; x++) SetMaskBit(row, x, true);
    }
  }
}
