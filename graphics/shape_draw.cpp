#include "graphics/shape_draw.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "graphics/transform.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"

namespace {

// A matrix that only stretches (both factors positive) is drawn as the shape at the stretched
// size, which is what a script drawing that size directly gets.
bool PureScale(const double m[4], double *sx, double *sy) {
  if (m[1] != 0 || m[2] != 0 || !(m[0] > 0) || !(m[3] > 0)) return false;
  *sx = m[0], *sy = m[3];
  return true;
}

int32_t Scaled(int32_t v, double s) {
  return int32_t(std::clamp<double>(std::lround(double(v) * s), 0, double(QM_MAX_PICTURE_SIDE)));
}

void InitShape(qmShapeRequest *req, int32_t type, const qmDrawStyle *style, const qmShapePlacement *at,
               uint32_t color) {
  *req = {};
  req->type = type;
  req->x = at->x, req->y = at->y;
  req->color = color;
  req->anchorX = at->anchorX, req->anchorY = at->anchorY;
  req->style = *style;
  std::copy(at->matrix, at->matrix + 4, req->matrix);
  SnapMatrixNoise(req->matrix, req->matrix);
}

// The request drawn at the stretched size: its box grows about the anchor, the matrix becomes
// the identity.
void StretchBox(qmShapeRequest *req, int32_t width, int32_t height) {
  req->x += int32_t(req->width * req->anchorX) - int32_t(width * req->anchorX);
  req->y += int32_t(req->height * req->anchorY) - int32_t(height * req->anchorY);
  req->width = width, req->height = height;
  req->matrix[0] = req->matrix[3] = 1;
  req->matrix[1] = req->matrix[2] = 0;
}

uint32_t Render(qmShapeRequest *req, double styleScale, const qmBitmap *texture, qmShapeImage *out) {
  *out = {};
  if (req->width < 1 || req->height < 1) return ERR_WRONGUSAGE;
  ScaleShapeStyle(&req->style, styleScale);
  ValidateDrawStyle(&req->style);
  return RenderShapeImage(req, texture, out);
}

double MatrixScale(const double m[4]) { return std::hypot(m[0], m[1]); }

// A length scaled with the matrix, at least 1 (line widths and shadow sizes).
int32_t ScaledStroke(int32_t v, double s) { return std::max(1, int32_t(std::lround(std::min(v * s, 1e6)))); }

// The box of polygon vertices relative to it: from 0 to the largest coordinates, rounded.
void PolygonBox(const double *vertices, int32_t count, int32_t *width, int32_t *height) {
  double x1 = 0, y1 = 0;
  for (int32_t i = 0; i < count; i++) x1 = std::max(x1, vertices[2 * i]), y1 = std::max(y1, vertices[2 * i + 1]);
  *width = int32_t(std::nearbyint(x1)) + 1, *height = int32_t(std::nearbyint(y1)) + 1;
}

// Radii stretched by the matrix when it only stretches; the box follows them.
uint32_t PlaceRadii(qmShapeRequest *req, int32_t ra, int32_t rb, double *styleScale) {
  int32_t w, h;
  if (uint32_t code = SideFromRadius(ra, &w)) return code;
  if (uint32_t code = SideFromRadius(rb, &h)) return code;
  req->radiusX = ra, req->radiusY = rb;
  req->width = w, req->height = h;
  double sx, sy;
  *styleScale = MatrixScale(req->matrix);
  if (!IsIdentityMatrix(req->matrix) && PureScale(req->matrix, &sx, &sy)) {
    const int32_t a = std::max(1, Scaled(ra, sx)), b = std::max(1, Scaled(rb, sy));
    if (uint32_t code = SideFromRadius(a, &w)) return code;
    if (uint32_t code = SideFromRadius(b, &h)) return code;
    req->radiusX = a, req->radiusY = b;
    StretchBox(req, w, h);
  }
  return 0;
}

}  // namespace

uint32_t SideFromRadius(int32_t radius, int32_t *side) {
  if (radius < 1) return ERR_WRONGUSAGE;
  const int64_t s = 2 * int64_t(radius) + 1;
  if (s > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  *side = int32_t(s);
  return 0;
}

void ScaleShapeStyle(qmDrawStyle *style, double scale) {
  if (scale == 1 || !std::isfinite(scale)) return;
  style->shadowSize = ScaledStroke(style->shadowSize, scale);
  style->lineWidth = ScaledStroke(style->lineWidth, scale);
}

uint32_t RenderBox(const qmDrawStyle *style, const qmShapePlacement *at, int32_t width, int32_t height,
                   uint32_t color, const int32_t corners[4], const qmBitmap *texture, qmShapeImage *out) {
  qmShapeRequest req;
  InitShape(&req, QMTYPE_BOX, style, at, color);
  req.width = width, req.height = height;
  std::copy(corners, corners + 4, req.corners);
  ClampCornerLevels(req.corners);
  const double styleScale = MatrixScale(req.matrix);
  double sx, sy;
  if (!IsIdentityMatrix(req.matrix) && PureScale(req.matrix, &sx, &sy))
    StretchBox(&req, std::max(1, Scaled(width, sx)), std::max(1, Scaled(height, sy)));
  return Render(&req, styleScale, texture, out);
}

uint32_t DrawEllipseShape(int32_t type, const qmDrawStyle *style, const qmShapePlacement *at, int32_t radiusA,
                          int32_t radiusB, uint32_t color, const qmBitmap *texture, qmShapeImage *out) {
  *out = {};
  qmShapeRequest req;
  InitShape(&req, type, style, at, color);
  double styleScale = 1;
  if (uint32_t code = PlaceRadii(&req, radiusA, radiusB, &styleScale)) return code;
  return Render(&req, styleScale, texture, out);
}

uint32_t DrawArcShape(const qmDrawStyle *style, const qmShapePlacement *at, int32_t radiusA, int32_t radiusB,
                      int32_t startAngle, int32_t endAngle, int32_t clockwise, uint32_t color,
                      const qmBitmap *texture, qmShapeImage *out) {
  *out = {};
  if (startAngle < 0 || endAngle < 0) return ERR_WRONGUSAGE;
  if (startAngle == endAngle) return 0;
  qmShapeRequest req;
  InitShape(&req, QMTYPE_ARC, style, at, color);
  req.startAngle = startAngle, req.endAngle = endAngle;
  req.clockwise = clockwise != 0;
  double styleScale = 1;
  if (uint32_t code = PlaceRadii(&req, radiusA, radiusB, &styleScale)) return code;
  return Render(&req, styleScale, texture, out);
}

uint32_t DrawPolygonShape(const qmDrawStyle *style, const qmShapePlacement *at, const double *vertices,
                          int32_t count, uint32_t color, const qmBitmap *texture, qmShapeImage *out) {
  *out = {};
  if (!vertices || count < 2) return ERR_WRONGUSAGE;
  qmShapeRequest req;
  InitShape(&req, QMTYPE_POLYGON, style, at, color);
  const double styleScale = MatrixScale(req.matrix);
  double sx = 1, sy = 1;
  const bool stretch = !IsIdentityMatrix(req.matrix) && PureScale(req.matrix, &sx, &sy);
  std::vector<double> points;
  try {
    points.assign(vertices, vertices + 2 * size_t(count));
    // The outline is closed, as the polygon command closes it.
    if (points[0] != points[2 * size_t(count) - 2] || points[1] != points[2 * size_t(count) - 1]) {
      points.push_back(points[0]);
      points.push_back(points[1]);
    }
  } catch (...) {
    return ERR_MEM;
  }
  const int32_t given = count;
  count = int32_t(points.size() / 2);
  double x1 = 0, y1 = 0;
  for (int32_t i = 0; i < count; i++) {
    points[2 * i] *= sx, points[2 * i + 1] *= sy;
    x1 = std::max(x1, points[2 * i]), y1 = std::max(y1, points[2 * i + 1]);
  }
  const double w = std::nearbyint(x1) + 1, h = std::nearbyint(y1) + 1;
  if (!(w <= QM_MAX_PICTURE_SIDE && h <= QM_MAX_PICTURE_SIDE)) return ERR_MEM;
  req.points = points.data(), req.pointCount = count;
  if (stretch) {
    // The box at the original size first, so that the anchor keeps its place.
    PolygonBox(vertices, given, &req.width, &req.height);
    StretchBox(&req, int32_t(w), int32_t(h));
  } else {
    req.width = int32_t(w), req.height = int32_t(h);
  }
  return Render(&req, styleScale, texture, out);
}

uint32_t RenderLine(const qmShapePlacement *at, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness,
                    uint32_t color, int32_t antialias, const qmLineView *view, qmShapeImage *out) {
  *out = {};
  double m[4] = {at->matrix[0], at->matrix[1], at->matrix[2], at->matrix[3]};
  SnapMatrixNoise(m, m);
  if (!IsIdentityMatrix(m)) {
    // The ends turn about the anchor point of the line's box.
    const int64_t bx = std::min(x1, x2), by = std::min(y1, y2);
    const int64_t w = std::llabs(int64_t(x2) - x1) + 1, h = std::llabs(int64_t(y2) - y1) + 1;
    const double ax = double(bx + int64_t(double(w) * at->anchorX)), ay = double(by + int64_t(double(h) * at->anchorY));
    auto turn = [&](int32_t *px, int32_t *py) {
      const double dx = *px - ax, dy = *py - ay;
      const double nx = ax + std::trunc(m[0] * dx + m[2] * dy), ny = ay + std::trunc(m[1] * dx + m[3] * dy);
      *px = int32_t(std::clamp(nx, double(INT32_MIN), double(INT32_MAX)));
      *py = int32_t(std::clamp(ny, double(INT32_MIN), double(INT32_MAX)));
    };
    turn(&x1, &y1);
    turn(&x2, &y2);
    thickness = ScaledStroke(thickness, MatrixScale(m));
  }
  if (thickness > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  return RenderLineImage(x1, y1, x2, y2, color, std::max(thickness, 1), antialias, view, out);
}

uint32_t ShapeBoxSize(int32_t type, const qmShapeLayerData *shape, int32_t *width, int32_t *height) {
  switch (type) {
  case QMTYPE_BOX: return *width >= 1 && *height >= 1 ? 0u : uint32_t(ERR_WRONGUSAGE);
  case QMTYPE_CIRCLE:
  case QMTYPE_ELLIPSE:
  case QMTYPE_ARC:
    if (uint32_t code = SideFromRadius(shape->radiusA, width)) return code;
    return SideFromRadius(type == QMTYPE_CIRCLE ? shape->radiusA : shape->radiusB, height);
  case QMTYPE_POLYGON: {
    if (!shape->vertices || shape->vertexCount < 2) return ERR_WRONGUSAGE;
    PolygonBox(shape->vertices, shape->vertexCount, width, height);
    return 0;
  }
  default: return ERR_WRONGUSAGE;
  }
}

uint32_t RenderShapeOfType(int32_t type, const qmDrawStyle *style, const qmShapePlacement *at,
                           const qmShapeLayerData *shape, int32_t width, int32_t height, uint32_t color,
                           const qmBitmap *texture, qmShapeImage *out) {
  *out = {};
  switch (type) {
  case QMTYPE_BOX: return RenderBox(style, at, width, height, color, shape->corners, texture, out);
  case QMTYPE_CIRCLE: return DrawEllipseShape(type, style, at, shape->radiusA, shape->radiusA, color, texture, out);
  case QMTYPE_ELLIPSE: return DrawEllipseShape(type, style, at, shape->radiusA, shape->radiusB, color, texture, out);
  case QMTYPE_POLYGON:
    return DrawPolygonShape(style, at, shape->vertices, shape->vertexCount, color, texture, out);
  case QMTYPE_ARC:
    return DrawArcShape(style, at, shape->radiusA, shape->radiusB, shape->startAngle, shape->endAngle,
                        shape->clockwise, color, texture, out);
  default: return ERR_WRONGUSAGE;
  }
}

uint32_t RenderShapeOutline(int32_t type, const qmShapePlacement *at, const qmShapeLayerData *shape, int32_t width,
                            int32_t height, uint32_t rgb, int32_t size, qmShapeImage *out) {
  qmDrawStyle style{};
  style.fillStyle = DRAWFILL_NONE;
  style.formStyle = FORM_ANTIALIAS;
  style.lineWidth = std::max(size, 1);
  style.edgeSize = style.shadowSize = 1;
  // The outline keeps its width whatever the matrix does to the shape.
  qmShapePlacement p = *at;
  const double s = MatrixScale(p.matrix);
  if (s > 0 && std::isfinite(s)) style.lineWidth = std::max(1, int32_t(std::lround(style.lineWidth / s)));
  return RenderShapeOfType(type, &style, &p, shape, width, height, rgb & 0xFFFFFF, nullptr, out);
}
