#include "graphics/shape_geometry.h"

#include <algorithm>
#include <cmath>

#include "graphics/bitmap.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"

namespace {

// n rounded down to a multiple of 360 below or at it, for angle arithmetic on any int64.
int64_t FloorTurns(int64_t n) { return (n >= 0 ? n / 360 : -((-n + 359) / 360)) * 360; }

int32_t RoundToInt(double v) { return int32_t(std::nearbyint(v)); }

struct Box {
  int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
  void Add(int64_t x, int64_t y) {
    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
  }
};

Box BoundsOf(const int32_t *p, int32_t count) {
  Box b;
  for (int32_t i = 0; i < count; i++) b.Add(p[2 * i], p[2 * i + 1]);
  return b;
}

// Appends the first point unless the outline already ends on it.
int32_t CloseOutline(double *out, int32_t count, int32_t first) {
  if (count > first && (out[2 * (count - 1)] != out[2 * first] || out[2 * (count - 1) + 1] != out[2 * first + 1])) {
    out[2 * count] = out[2 * first];
    out[2 * count + 1] = out[2 * first + 1];
    count++;
  }
  return count;
}

} // namespace

int32_t ArcStepForRadius(int32_t r) { return r <= 2 ? 90 : r <= 9 ? 30 : r <= 14 ? 18 : 5; }


void RotationMatrix(double degrees, double m[4]) {
  const double r = std::fmod(degrees, 360.0);
  if (r == 0) {
    m[0] = 1, m[1] = 0, m[2] = 0, m[3] = 1;
    return;
  }
  // Turned by 360 minus the angle, as every picture of the player turns.
  const double t = (360.0 - r) * 0.017453292519943295;
  m[0] = std::cos(t), m[1] = std::sin(t), m[2] = -std::sin(t), m[3] = std::cos(t);
}

int32_t GenerateArcPoints(const double m[4], int32_t start32, int32_t end32, double anchorX, double anchorY,
                          double *out, int32_t step, int32_t pie, int32_t bounds, double centerX, double centerY,
                          double radiusX, double radiusY) {
  const qmDrawTables *t = GetDrawTables();
  const int64_t cx = int64_t(centerX) >> 16, cy = int64_t(centerY) >> 16;
  const int64_t dx = 2 * (int64_t(radiusX) >> 16) + 1, dy = 2 * (int64_t(radiusY) >> 16) + 1;
  const bool identity = IsIdentityMatrix(m);
  int64_t ox = 0, oy = 0;
  if (!identity) {
    // The centre turned about the box middle and about the anchor: the difference moves the
    // shape so that it turns about its anchor point.
    const int64_t hx = int64_t(0.5 * double(dx)), hy = int64_t(0.5 * double(dy));
    const int64_t ax = int64_t(anchorX * double(dx)), ay = int64_t(anchorY * double(dy));
    auto turn = [&](int64_t px, int64_t py, int64_t *rx, int64_t *ry) {
      *rx = px + int64_t(m[0] * double(cx - px) + m[2] * double(cy - py));
      *ry = py + int64_t(m[1] * double(cx - px) + m[3] * double(cy - py));
    };
    int64_t c1x, c1y, c2x, c2y;
    turn(hx, hy, &c1x, &c1y);
    turn(ax, ay, &c2x, &c2y);
    ox = c2x - c1x, oy = c2y - c1y;
  }
  int64_t start = start32, end = end32;
  if (start > end) std::swap(start, end);
  if (start < 0) {
    const int64_t k = FloorTurns(start);
    start -= k, end -= k;
  }
  if (end > 360) {
    const int64_t k = FloorTurns(end - 1);
    start -= k, end -= k;
  }
  if (end - start > 360) start = 0, end = 360;
  if (step < 1) step = 1;

  auto point = [&](int64_t angle, double *px, double *py) {
    int64_t i = angle < 0 ? angle + 360 : angle;
    i = std::clamp<int64_t>(i, 0, 360);
    const double X = radiusX * t->cosine[i], Y = radiusY * t->sine[i];
    const double fx = identity ? X + centerX : m[0] * X + m[2] * Y + centerX;
    const double fy = identity ? Y + centerY : m[1] * X + m[3] * Y + centerY;
    *px = double(int64_t(std::nearbyint(fx)) >> 16);
    *py = double(int64_t(std::nearbyint(fy)) >> 16);
  };

  int32_t n = 0;
  if (bounds) {
    double minX = 100000, minY = 100000, maxX = -100000, maxY = -100000;
    for (int64_t a = 0; a < 360 + step; a += step) {
      double px, py;
      point(std::min<int64_t>(a, 360), &px, &py);
      minX = std::min(minX, px), minY = std::min(minY, py), maxX = std::max(maxX, px), maxY = std::max(maxY, py);
    }
    out[0] = minX, out[1] = minY, out[2] = maxX, out[3] = maxY;
    n = 2;
  }
  const int32_t first = n;
  for (int64_t a = start; a < end + step; a += step) {
    double px, py;
    point(std::min(a, end), &px, &py);
    if (n > first && out[2 * (n - 1)] == px && out[2 * (n - 1) + 1] == py) continue;
    out[2 * n] = px, out[2 * n + 1] = py;
    n++;
  }
  if (pie && end - start < 360) {
    out[2 * n] = double(cx), out[2 * n + 1] = double(cy);
    n++;
  }
  while (n < 2) {
    out[2 * n] = out[2 * (n - 1)], out[2 * n + 1] = out[2 * (n - 1) + 1];
    n++;
  }
  for (int32_t i = 0; i < n; i++) out[2 * i] += double(ox), out[2 * i + 1] += double(oy);
  return n;
}

int32_t BuildShapeOutline(const qmShapeRequest *req, int32_t w, int32_t h, double *out) {
  static const double kIdentity[4] = {1, 0, 0, 1};
  switch (req->type) {
  case QMTYPE_BOX: {
    const int32_t *c = req->corners;
    if (!c[0] && !c[1] && !c[2] && !c[3]) {
      const double pts[10] = {0, 0, double(w - 1), 0, double(w - 1), double(h - 1), 0, double(h - 1), 0, 0};
      std::copy(pts, pts + 10, out);
      return 5;
    }
    const int32_t half = std::min(w, h) / 2;
    int32_t r[4];
    for (int i = 0; i < 4; i++) {
      const double q = c[i] <= 0 ? 0.01 : std::min(c[i], 100) / 100.0;
      r[i] = int32_t(q * half);
    }
    // Corners a (top-left), b (bottom-left), c (bottom-right), d (top-right), each a quarter arc.
    const int32_t centres[4][2] = {{r[0], r[0]}, {r[1], h - 1 - r[1]}, {w - 1 - r[2], h - 1 - r[2]}, {w - 1 - r[3], r[3]}};
    const int32_t corners[4][2] = {{0, 0}, {0, h - 1}, {w - 1, h - 1}, {w - 1, 0}};
    const int32_t from[4] = {90, 180, 270, 0};
    int32_t n = 0;
    for (int i = 0; i < 4; i++) {
      if (r[i] == 0) {
        out[2 * n] = corners[i][0], out[2 * n + 1] = corners[i][1];
        n++;
        continue;
      }
      n += GenerateArcPoints(kIdentity, from[i], from[i] + 90, 0.5, 0.5, out + 2 * n, ArcStepForRadius(r[i]), 0, 0,
                             double(centres[i][0]) * 65536, double(centres[i][1]) * 65536, double(r[i]) * 65536,
                             double(r[i]) * 65536);
    }
    return CloseOutline(out, n, 0);
  }
  case QMTYPE_CIRCLE:
  case QMTYPE_ELLIPSE: {
    const int32_t rx = w / 2, ry = h / 2;
    const int32_t n = GenerateArcPoints(kIdentity, 0, 360, req->anchorX, req->anchorY, out,
                                        ArcStepForRadius(std::max(rx, ry)), 1, 0, double(rx) * 65536,
                                        double(ry) * 65536, double(rx) * 65536, double(ry) * 65536);
    return CloseOutline(out, n, 0);
  }
  case QMTYPE_POLYGON:
    std::copy(req->points, req->points + 2 * req->pointCount, out);
    return req->pointCount;
  case QMTYPE_ARC: {
    // Whole turns are taken off first: only the angles' difference and position matter.
    int64_t start = req->startAngle, end = req->endAngle;
    if (req->clockwise) {
      if (start > end) end += FloorTurns(start - end + 359);
    } else if (start < end) {
      start += FloorTurns(end - start + 359);
    }
    const int32_t rx = w / 2, ry = h / 2;
    const int64_t base = FloorTurns(std::min(start, end));
    const int32_t n = GenerateArcPoints(kIdentity, int32_t(-(start - base)), int32_t(-(end - base)), req->anchorX,
                                        req->anchorY, out, ArcStepForRadius(std::max(rx, ry)), 1, 1,
                                        double(rx) * 65536, double(ry) * 65536, double(rx) * 65536,
                                        double(ry) * 65536);
    return CloseOutline(out, n, 2);
  }
  default: return 0;
  }
}

void TransformPointsAboutAnchor(const double m[4], double anchorX, double anchorY, int32_t width, int32_t height,
                                int32_t *p, int32_t count, int32_t shift, int32_t *minX, int32_t *minY,
                                int32_t *outWidth, int32_t *outHeight) {
  const int64_t ax = int64_t(double(width) * anchorX), ay = int64_t(double(height) * anchorY);
  int64_t x0 = 100000, y0 = 100000, x1 = -100000, y1 = -100000;
  for (int32_t i = 0; i < count; i++) {
    const double dx = double(p[2 * i] - ax), dy = double(p[2 * i + 1] - ay);
    p[2 * i] = int32_t(ax + int64_t(m[0] * dx + m[2] * dy));
    p[2 * i + 1] = int32_t(ay + int64_t(m[1] * dx + m[3] * dy));
    x0 = std::min<int64_t>(x0, p[2 * i]), y0 = std::min<int64_t>(y0, p[2 * i + 1]);
    x1 = std::max<int64_t>(x1, p[2 * i]), y1 = std::max<int64_t>(y1, p[2 * i + 1]);
  }
  if (shift)
    for (int32_t i = 0; i < count; i++) p[2 * i] -= int32_t(x0), p[2 * i + 1] -= int32_t(y0);
  if (minX) *minX = int32_t(x0);
  if (minY) *minY = int32_t(y0);
  if (outWidth) *outWidth = int32_t(x1 - x0 + 1);
  if (outHeight) *outHeight = int32_t(y1 - y0 + 1);
}

int32_t ClipLineToRange(int32_t *a1, int32_t *b1, int32_t *a2, int32_t *b2, int32_t low, int32_t high) {
  // b at a along the segment, truncated toward zero; the segment's own ends are kept exactly.
  auto at = [&](int64_t a) {
    if (*a2 == *a1) return *b1;
    const double slope = double(int64_t(*b2) - *b1) / double(int64_t(*a2) - *a1);
    return int32_t(double(*b1) + slope * double(a - *a1));
  };
  if (*a1 < low) {
    if (*a2 < low) return 0;
    const int32_t nb1 = at(low);
    if (*a2 > high) *b2 = at(high), *a2 = high;
    *b1 = nb1, *a1 = low;
  } else if (*a1 > high) {
    if (*a2 > high) return 0;
    const int32_t nb1 = at(high);
    if (*a2 < low) *b2 = at(low), *a2 = low;
    *b1 = nb1, *a1 = high;
  } else if (*a2 > high) {
    *b2 = at(high), *a2 = high;
  } else if (*a2 < low) {
    *b2 = at(low), *a2 = low;
  }
  return 1;
}

int32_t MitreOffsetPolygon(const int32_t *in, int32_t count, int32_t size, int32_t *out) {
  // (a) Orientation by the shoelace sum.
  double area = 0;
  for (int32_t i = 0; i < count; i++) {
    const int32_t j = (i + 1) % count;
    area += double(in[2 * i]) * in[2 * j + 1] - double(in[2 * j]) * in[2 * i + 1];
  }
  const double orientation = area > 0 ? 1 : -1;
  // (b) to (d): the corners that matter, into out as doubles' integer source.
  int32_t n = count;
  while (n > 1 && in[2 * (n - 1)] == in[0] && in[2 * (n - 1) + 1] == in[1]) n--;
  int32_t k = 0;
  for (int32_t i = 0; i < n; i++) {
    const int32_t x = in[2 * i], y = in[2 * i + 1];
    if (k > 0 && out[2 * (k - 1)] == x && out[2 * (k - 1) + 1] == y) continue;
    // A point in the middle of a horizontal or vertical run adds nothing.
    if (k > 1) {
      const int32_t *a = out + 2 * (k - 2), *b = out + 2 * (k - 1);
      if ((a[0] == b[0] && b[0] == x) || (a[1] == b[1] && b[1] == y)) {
        out[2 * (k - 1)] = x, out[2 * (k - 1) + 1] = y;
        continue;
      }
    }
    out[2 * k] = x, out[2 * k + 1] = y;
    k++;
  }
  Box bounds = BoundsOf(in, count);
  auto rectangle = [&] {
    const int32_t x0 = int32_t(bounds.x0 - size), y0 = int32_t(bounds.y0 - size);
    const int32_t x1 = int32_t(bounds.x1 + size), y1 = int32_t(bounds.y1 + size);
    const int32_t r[10] = {x0, y0, x1, y0, x1, y1, x0, y1, x0, y0};
    std::copy(r, r + 10, out);
    return 5;
  };
  if (k < 3) return rectangle();
  // (e) The diameter.
  double d = 0;
  for (int32_t i = 0; i < k; i++)
    for (int32_t j = i + 1; j < k; j++)
      d = std::max(d, std::hypot(double(out[2 * i] - out[2 * j]), double(out[2 * i + 1] - out[2 * j + 1])));
  if (d == 0) return rectangle();
  // (f) Each corner moves along its bisector by size / sin(half the corner angle).
  double moved[2 * (kOutlinePointMax + 1)];
  const double s = size;
  for (int32_t i = 0; i < k; i++) {
    const int32_t p = (i + k - 1) % k, q = (i + 1) % k;
    double ux = out[2 * i] - out[2 * p], uy = out[2 * i + 1] - out[2 * p + 1];
    double vx = out[2 * i] - out[2 * q], vy = out[2 * i + 1] - out[2 * q + 1];
    const double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
    if (lu > 0) ux /= lu, uy /= lu;
    if (lv > 0) vx /= lv, vy /= lv;
    const float cross = float(ux * vy - uy * vx);
    if (std::fabs(cross) < 0.001f) return rectangle();
    double bx = ux + vx, by = uy + vy;
    const double dot = ux * vx + uy * vy;
    double div = (s / d) * std::sqrt(std::max(0.0, 1 - dot * dot));
    if (div == 0) div = 0.0001;
    // u + v points outward at a convex corner and inward at a reflex one.
    const double sign = orientation * (cross > 0 ? -1 : 1);
    bx = bx / div * sign, by = by / div * sign;
    moved[2 * i] = out[2 * i] + (s * s / d) * bx;
    moved[2 * i + 1] = out[2 * i + 1] + (s * s / d) * by;
  }
  // (g) Closed and rounded.
  for (int32_t i = 0; i < k; i++) out[2 * i] = RoundToInt(moved[2 * i]), out[2 * i + 1] = RoundToInt(moved[2 * i + 1]);
  out[2 * k] = out[0], out[2 * k + 1] = out[1];
  return k + 1;
}

uint32_t PrepareShapeGeometry(qmShapeRequest *req, int32_t **mainPoints, int32_t *mainCount, int32_t **edgePoints,
                              int32_t *edgeCount) {
  // No image of a larger shape could be made; checked before any outline arithmetic.
  if (req->width < 1 || req->height < 1 || req->width > QM_MAX_PICTURE_SIDE || req->height > QM_MAX_PICTURE_SIDE)
    return ERR_MEM;
  const qmDrawStyle &st = req->style;
  const qmDrawTables *t = GetDrawTables();
  const bool filled = st.fillStyle != DRAWFILL_NONE;
  req->hasEdge = (st.formStyle & FORM_EDGE) && filled;
  req->edgeSize = st.edgeSize;
  req->edgeAlpha = int32_t(st.edgeColor >> 24);
  req->edgeColor = st.edgeColor & 0xFFFFFF;
  req->hasShadow = (st.formStyle & FORM_SHADOW) && filled;
  req->shadowSize = st.shadowSize;
  req->shadowDirection = st.shadowDirection;
  req->shadowAlpha = int32_t(st.shadowColor >> 24);
  req->shadowColor = st.shadowColor & 0xFFFFFF;
  req->antialias = (st.formStyle & FORM_ANTIALIAS) != 0;

  int32_t *main = t->points[0], *edge = t->points[1];
  double *f = t->fpoints[0];
  int32_t n = BuildShapeOutline(req, req->width, req->height, f);
  for (int32_t i = 0; i < 2 * n; i++) main[i] = RoundToInt(f[i]);
  int32_t en = 0;
  if (req->hasEdge) {
    const int32_t s = req->edgeSize;
    if (req->type == QMTYPE_POLYGON) {
      // The arc's bounding pair is not part of a polygon; polygons have none.
      en = MitreOffsetPolygon(main, n, s, edge);
    } else {
      en = BuildShapeOutline(req, req->width + 2 * s, req->height + 2 * s, f);
      for (int32_t i = 0; i < 2 * en; i++) edge[i] = RoundToInt(f[i]) - s;
    }
  }
  if (!IsIdentityMatrix(req->matrix)) {
    TransformPointsAboutAnchor(req->matrix, req->anchorX, req->anchorY, req->width, req->height, main, n, 0, nullptr,
                               nullptr, nullptr, nullptr);
    if (en)
      TransformPointsAboutAnchor(req->matrix, req->anchorX, req->anchorY, req->width, req->height, edge, en, 0,
                                 nullptr, nullptr, nullptr, nullptr);
  }
  Box body = BoundsOf(main, n);
  if (en) {
    const Box e = BoundsOf(edge, en);
    body.Add(e.x0, e.y0), body.Add(e.x1, e.y1);
  }
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  if (req->hasShadow) GetShadowMargins(req->shadowSize, req->shadowDirection, &left, &top, &right, &bottom);
  const int64_t w = body.x1 - body.x0 + 1 + left + right, h = body.y1 - body.y0 + 1 + top + bottom;
  if (n < 1 || w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  req->imageWidth = int32_t(w), req->imageHeight = int32_t(h);
  req->originX = int32_t(body.x0 - left), req->originY = int32_t(body.y0 - top);
  req->shapeX = req->edgeX = -req->originX;
  req->shapeY = req->edgeY = -req->originY;
  req->shadowX = req->shapeX + right - left;
  req->shadowY = req->shapeY + bottom - top;
  *mainPoints = main, *mainCount = n;
  *edgePoints = edge, *edgeCount = en;
  return 0;
}
