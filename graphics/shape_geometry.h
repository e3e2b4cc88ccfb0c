// Shape outlines: every box, circle, ellipse, arc and polygon becomes a closed polygon of integer
// points; an edge grows it, a drop shadow and the transform decide the image it is drawn in.
#pragma once
#include <cstdint>

#include "graphics/draw_style.h"
#include "graphics/transform.h"

struct qmShapeRequest {
  int32_t type;  // QMTYPE_BOX, CIRCLE, ELLIPSE, LINE, POLYGON or ARC
  int32_t x, y;  // the position on the output (resolved by the caller)
  int32_t width, height;  // the shape's box; circles and ellipses 2 x radius + 1
  int32_t radiusX, radiusY;
  int32_t startAngle, endAngle;  // degrees (arcs)
  int32_t clockwise;
  int32_t corners[4];     // round levels in percent: top-left, bottom-left, bottom-right, top-right
  const double *points;   // polygon {x, y} pairs relative to its box
  int32_t pointCount;
  uint32_t color;         // 0xAARRGGBB; the alpha byte is transparency
  double matrix[4];       // x' = m0 x + m2 y, y' = m1 x + m3 y
  double anchorX, anchorY;  // fractions of the box the shape turns about
  qmDrawStyle style;      // the request's own copy

  // Written by PrepareShapeGeometry.
  int32_t hasEdge, edgeSize, edgeAlpha;
  int32_t hasShadow, shadowSize, shadowDirection, shadowAlpha;
  uint32_t edgeColor, shadowColor;  // without alpha
  int32_t antialias;
  int32_t imageWidth, imageHeight;
  int32_t originX, originY;  // the image's top-left relative to the shape's box
  int32_t shapeX, shapeY;    // where the main outline's coordinates start in the image
  int32_t edgeX, edgeY;      // likewise the edge outline's
  int32_t shadowX, shadowY;  // likewise the shadow's (edge outline with an edge, else main)
};

// Angle step in degrees of arcs of that radius.
int32_t ArcStepForRadius(int32_t radius);
// A rotation by degrees (taken modulo 360) with scale 1, as shapes and layers turn.
void RotationMatrix(double degrees, double m[4]);

// Points of an ellipse arc into out ({x, y} doubles holding whole numbers); centre and radii in
// 16.16. Returns the count, at most 2 + 360 / step + 2.
int32_t GenerateArcPoints(const double m[4], int32_t start, int32_t end, double anchorX, double anchorY, double *out,
                          int32_t step, int32_t pie, int32_t bounds, double centerX, double centerY, double radiusX,
                          double radiusY);
// The outline of the request's shape at width x height, untransformed; 0 for an unknown type.
int32_t BuildShapeOutline(const qmShapeRequest *req, int32_t width, int32_t height, double *out);
// Each point p becomes anchor + trunc(m (p - anchor)); the bounding box is gathered and, with
// shift, the points move to start at (0, 0). Any output may be null.
void TransformPointsAboutAnchor(const double m[4], double anchorX, double anchorY, int32_t width, int32_t height,
                                int32_t *points, int32_t count, int32_t shift, int32_t *minX, int32_t *minY,
                                int32_t *outWidth, int32_t *outHeight);
// Clips the segment to low <= a <= high, interpolating b; 0 when nothing is left.
int32_t ClipLineToRange(int32_t *a1, int32_t *b1, int32_t *a2, int32_t *b2, int32_t low, int32_t high);
// The closed polygon grown outward by size on every side (mitred corners); a polygon with a
// straight corner falls back to its bounding rectangle grown by size. Points in and out are
// {x, y} integer pairs; out holds count + 6 points. Returns the count.
int32_t MitreOffsetPolygon(const int32_t *in, int32_t count, int32_t size, int32_t *out);
// Fills the geometry fields and the main and edge outlines (integer points in the shape's own
// coordinates; add shapeX/Y or edgeX/Y to place them in the image). 0 or ERR_MEM (an image
// beyond the picture limit).
uint32_t PrepareShapeGeometry(qmShapeRequest *req, int32_t **mainPoints, int32_t *mainCount, int32_t **edgePoints,
                              int32_t *edgeCount);
