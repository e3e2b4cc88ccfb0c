#include "graphics/floodfill.h"

#include <new>
#include <vector>

#include "runtime/errcodes.h"

namespace {

struct Run {
  int32_t xl, xr, y;
};

} // namespace

int32_t FloodFillPixels(const qmFillRequest *req, int32_t x, int32_t y, uint32_t compareMask) {
  const int64_t left = req->left, top = req->top;
  const int64_t right = left + int64_t(req->width) - 1, bottom = top + int64_t(req->height) - 1;
  if (x < left || x > right || y < top || y > bottom) return 0;
  // Both colours are compared masked: a fill colour with bits outside the mask would otherwise
  // never count as filled, and the fill would not end.
  const uint32_t boundary = req->boundary & compareMask, fill = req->fill & compareMask;
  auto at = [req](int64_t px, int64_t py) -> uint32_t & { return req->pixels[py * req->pitch + px]; };
  auto open = [&](int64_t px, int64_t py) {
    const uint32_t v = at(px, py) & compareMask;
    return v != boundary && v != fill;
  };
  // Fills the run through (px, py) and gives its ends.
  auto fillRun = [&](int64_t px, int64_t py) -> Run {
    int64_t xl = px, xr = px;
    at(px, py) = req->fill;
    while (xl > left && (at(xl - 1, py) & compareMask) != boundary) at(--xl, py) = req->fill;
    while (xr < right && (at(xr + 1, py) & compareMask) != boundary) at(++xr, py) = req->fill;
    return {int32_t(xl), int32_t(xr), int32_t(py)};
  };

  if ((at(x, y) & compareMask) == boundary) return 0;
  try {
    std::vector<Run> stack;
    stack.push_back(fillRun(x, y));
    while (!stack.empty()) {
      const Run run = stack.back();
      stack.pop_back();
      for (int64_t ny : {int64_t(run.y) - 1, int64_t(run.y) + 1}) {
        if (ny < top || ny > bottom) continue;
        for (int64_t px = run.xl; px <= run.xr; px++) {
          if (!open(px, ny)) continue;
          const Run found = fillRun(px, ny);
          stack.push_back(found);
          px = found.xr;
        }
      }
    }
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
  return 0;
}
