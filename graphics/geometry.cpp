#include "graphics/geometry.h"

#include <algorithm>
#include <cmath>

#include "graphics/clipregion.h"
#include "graphics/polygon_kernels.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

bool ClipBlitRect(const qmClipRegion *region, qmBlitRect *r, int32_t srcWidth, int32_t srcHeight,
                  int32_t dstWidth, int32_t dstHeight, int32_t useClip) {
  // 64 bits throughout: script positions near the int32 limits must not wrap into the picture.
  int64_t sx = r->srcX, sy = r->srcY, dx = r->dstX, dy = r->dstY, w = r->width, h = r->height;
  int64_t left = 0, top = 0, right = dstWidth, bottom = dstHeight;
  if (useClip && region) {
    // The region narrows the destination; it never widens it beyond the bitmap.
    left = std::max<int64_t>(left, region->x);
    top = std::max<int64_t>(top, region->y);
    right = std::min<int64_t>(right, int64_t(region->x) + region->width);
    bottom = std::min<int64_t>(bottom, int64_t(region->y) + region->height);
  }
  if (sx < 0) dx -= sx, w += sx, sx = 0;
  if (sy < 0) dy -= sy, h += sy, sy = 0;
  if (dx < left) sx += left - dx, w -= left - dx, dx = left;
  if (dy < top) sy += top - dy, h -= top - dy, dy = top;
  w = std::min({w, srcWidth - sx, right - dx});
  h = std::min({h, srcHeight - sy, bottom - dy});
  if (w < 1 || h < 1) return false;
  *r = qmBlitRect{int32_t(sx), int32_t(sy), int32_t(dx), int32_t(dy), int32_t(w), int32_t(h)};
  return true;
}

void GetTransformedRect(int32_t x, int32_t y, int32_t width, int32_t height, double anchorX, double anchorY,
                        const double m[4], int32_t *outX, int32_t *outY, int32_t *outWidth, int32_t *outHeight) {
  const double ax = width * anchorX, ay = height * anchorY;
  const double cx[4] = {0, double(width - 1), 0, double(width - 1)};
  const double cy[4] = {0, 0, double(height - 1), double(height - 1)};
  double minX = 100000.0, minY = 100000.0, maxX = -100000.0, maxY = -100000.0;
  for (int i = 0; i < 4; i++) {
    double px = cx[i] - ax, py = cy[i] - ay;
    double tx = m[0] * px + m[2] * py + ax, ty = m[1] * px + m[3] * py + ay;
    minX = std::min(minX, tx), maxX = std::max(maxX, tx);
    minY = std::min(minY, ty), maxY = std::max(maxY, ty);
  }
  *outX = int32_t(x + minX);
  *outY = int32_t(y + minY);
  *outWidth = int32_t(maxX - minX + 1);
  *outHeight = int32_t(maxY - minY + 1);
}

int32_t ClipPolygonEdge(int32_t count, const int32_t *in, int32_t *out, int32_t limit, int32_t edge) {
  auto inside = [&](const int32_t *p) {
    switch (edge) {
    case CLIPEDGE_LEFT: return p[0] >= limit;
    case CLIPEDGE_TOP: return p[1] >= limit;
    case CLIPEDGE_RIGHT: return p[0] <= limit;
    default: return p[1] <= limit;
    }
  };
  int32_t n = 0;
  for (int32_t i = 0; i < count; i++) {
    const int32_t *p = in + 2 * i, *q = in + 2 * ((i + 1) % count);
    const bool pin = inside(p), qin = inside(q);
    if (pin) out[2 * n] = p[0], out[2 * n + 1] = p[1], n++;
    if (pin == qin) continue;
    const double slope = double(q[1] - p[1]) / double(q[0] - p[0]);
    if (edge == CLIPEDGE_LEFT || edge == CLIPEDGE_RIGHT) {
      out[2 * n] = limit;
      out[2 * n + 1] = p[1] + int32_t(slope * (limit - p[0]));
    } else {
      out[2 * n] = p[0] + int32_t((limit - p[1]) / slope);
      out[2 * n + 1] = limit;
    }
    n++;
  }
  return n;
}

namespace {

// Exact trigonometric values sit on integers (cos 60 = 0.5): round those, truncate the rest.
int32_t Table1024(double v) {
  double scaled = 1024.0 * v, nearest = std::round(scaled);
  return std::fabs(scaled - nearest) < 1e-6 ? int32_t(nearest) : int32_t(scaled);
}

struct ArcTables {
  int32_t cos[360], sin[360];
  ArcTables() {
    for (int d = 0; d < 360; d++) {
      cos[d] = Table1024(std::cos(d * M_PI / 180.0));
      sin[d] = Table1024(std::sin(d * M_PI / 180.0));
    }
  }
};

const ArcTables &Tables() {
  static const ArcTables tables;
  return tables;
}

int32_t Wrap360(int32_t d) { return ((d % 360) + 360) % 360; }

} // namespace

int32_t ArcCos1024(int32_t degree) { return Tables().cos[Wrap360(degree)]; }
int32_t ArcSin1024(int32_t degree) { return Tables().sin[Wrap360(degree)]; }

int32_t GetArcPolygon(int32_t *points, int32_t rx, int32_t ry, int32_t start, int32_t end) {
  const int64_t sx = 2 * int64_t(rx) + 1, sy = 2 * int64_t(ry) + 1;
  auto put = [&](int32_t n, int32_t d) {
    points[2 * n] = int32_t(rx + sx * ArcCos1024(d) / 2048);
    points[2 * n + 1] = int32_t(ry + sy * ArcSin1024(d) / 2048);
  };
  int32_t n = 0;
  put(n++, start);
  // At most one full turn: the point buffer has room for 361 arc points.
  const int64_t last = std::min<int64_t>(end, int64_t(start) + 360);
  for (int64_t d = int64_t(start) + 1; d <= last; d++) put(n++, int32_t(d));
  if (!(start == 0 && end == 360)) {
    points[2 * n] = rx, points[2 * n + 1] = ry, n++;
    points[2 * n] = points[0], points[2 * n + 1] = points[1], n++;
  }
  return n;
}

uint32_t FillMaskPolygon(qmMask *mask, const int32_t *points, int32_t count) {
  if (!mask || count < 1) return 0;
  auto *crossings = static_cast<int32_t *>(MemAlloc(uint32_t(count) * 4, 0));
  if (!crossings) return ERR_MEM;
  PolygonMaskPixels(mask->memory, mask->bytesPerRow, mask->width, mask->height, crossings, points, count);
  MemFree(crossings);
  return 0;
}
