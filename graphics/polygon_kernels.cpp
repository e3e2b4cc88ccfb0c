#include "graphics/polygon_kernels.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "graphics/alpha_kernels.h"

namespace {

// A polygon side that is not horizontal, from its top end (x0, y0) down to (x1, y1).
struct Edge {
  int32_t x0, y0, x1, y1;
};

// Sets bits from..to (both included) of a mask row, whole bytes at a time between the ends.
void SetMaskSpan(uint8_t *row, int32_t from, int32_t to) {
  const int32_t first = from >> 3, last = to >> 3;
  const uint8_t head = uint8_t(0xFF >> (from & 7)), tail = uint8_t(0xFF << (7 - (to & 7)));
  if (first == last) {
    row[first] |= uint8_t(head & tail);
    return;
  }
  row[first] |= head;
  if (last - first > 1) std::memset(row + first + 1, 0xFF, size_t(last - first - 1));
  row[last] |= tail;
}

}  // namespace

void PolygonMaskPixels(uint8_t *mask, int32_t bytesPerRow, int32_t width, int32_t height, int32_t *crossings,
                       const int32_t *points, int32_t count) {
  if (count < 1) return;
  int32_t minY = points[1], maxY = points[1];
  std::vector<Edge> edges;
  edges.reserve(size_t(count));
  for (int32_t i = 0; i < count; i++) {
    const int32_t *p = points + 2 * ((i + count - 1) % count), *q = points + 2 * i;
    minY = std::min(minY, q[1]);
    maxY = std::max(maxY, q[1]);
    if (p[1] == q[1]) continue;
    if (p[1] > q[1]) std::swap(p, q);
    edges.push_back({p[0], p[1], q[0], q[1]});
  }
  // Rows are swept top down; a side joins the sweep at its top row and leaves after its bottom.
  std::sort(edges.begin(), edges.end(), [](const Edge &a, const Edge &b) { return a.y0 < b.y0; });
  std::vector<const Edge *> active;
  size_t next = 0;
  for (int32_t y = std::max(minY, 0); y <= std::min(maxY, height - 1); y++) {
    while (next < edges.size() && edges[next].y0 <= y) active.push_back(&edges[next++]);
    int32_t n = 0;
    for (size_t k = 0; k < active.size();) {
      const Edge &e = *active[k];
      if (e.y1 < y) {
        active[k] = active.back();
        active.pop_back();
        continue;
      }
      k++;
      // The bottom row of the polygon counts as inside, so a square keeps its last row.
      const bool crosses = y < e.y1 || (y == maxY && e.y0 < y);
      if (!crosses) continue;
      float t = float(y - e.y0) * float(e.x1 - e.x0) / float(e.y1 - e.y0);
      int32_t x = int32_t(t + 0.5f + float(e.x0));
      int32_t j = n++;
      while (j > 0 && crossings[j - 1] > x) crossings[j] = crossings[j - 1], j--;
      crossings[j] = x;
    }
    uint8_t *row = mask + int64_t(y) * bytesPerRow;
    for (int32_t k = 0; k + 1 < n; k += 2) {
      const int32_t from = std::max(crossings[k], 0), to = std::min(crossings[k + 1], width - 1);
      if (from <= to) SetMaskSpan(row, from, to);
    }
  }
}
