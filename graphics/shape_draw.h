// Shapes drawn again from what a layer remembers of them: each shape command's geometry, its
// draw style and colour, rendered into a new image through a matrix about an anchor. Nothing
// here knows the VM; a texture fill's brush picture is found by the caller.
#pragma once
#include <cstdint>

#include "graphics/draw_style.h"
#include "graphics/shape_render.h"

// What a shape layer keeps of the command that drew it, beside its box and colour.
struct qmShapeLayerData {
  qmDrawStyle style;  // the draw style in force when the shape was drawn
  int32_t thickness;  // lines
  int32_t corners[4];  // box round levels: top-left, bottom-left, bottom-right, top-right
  int32_t radiusA, radiusB;
  int32_t startAngle, endAngle, clockwise;  // arcs
  double *vertices;  // polygons: {x, y} pairs relative to the box; owned by the state record
  int32_t vertexCount;
};

// Where a shape goes: the top-left corner of its untransformed box, and the matrix it is drawn
// through about the anchor (fractions of the box).
struct qmShapePlacement {
  int32_t x, y;
  double matrix[4];
  double anchorX, anchorY;
};

// A shape's own box from its radius: 2r + 1, refused beyond the largest picture before
// anything is made. 0, ERR_WRONGUSAGE for a radius below 1 or ERR_MEM.
uint32_t SideFromRadius(int32_t radius, int32_t *side);
// A matrix's lengths along x and y scale a shape's line width and drop shadow with it.
void ScaleShapeStyle(qmDrawStyle *style, double scale);

// The renderers: 0 with the image in out (its bitmap null when nothing is visible), or ERR_MEM
// or ERR_WRONGUSAGE for a shape that cannot exist (a radius or side below 1).
uint32_t RenderBox(const qmDrawStyle *style, const qmShapePlacement *at, int32_t width, int32_t height,
                   uint32_t color, const int32_t corners[4], const qmBitmap *texture, qmShapeImage *out);
// type is QMTYPE_CIRCLE or QMTYPE_ELLIPSE.
uint32_t DrawEllipseShape(int32_t type, const qmDrawStyle *style, const qmShapePlacement *at, int32_t radiusA,
                          int32_t radiusB, uint32_t color, const qmBitmap *texture, qmShapeImage *out);
uint32_t DrawPolygonShape(const qmDrawStyle *style, const qmShapePlacement *at, const double *vertices,
                          int32_t count, uint32_t color, const qmBitmap *texture, qmShapeImage *out);
uint32_t DrawArcShape(const qmDrawStyle *style, const qmShapePlacement *at, int32_t radiusA, int32_t radiusB,
                      int32_t startAngle, int32_t endAngle, int32_t clockwise, uint32_t color,
                      const qmBitmap *texture, qmShapeImage *out);
// A line between two points; the matrix turns the ends about the anchor of their box. A view
// (null: none) bounds the image to the part that can show (see RenderLineImage).
uint32_t RenderLine(const qmShapePlacement *at, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness,
                    uint32_t color, int32_t antialias, const qmLineView *view, qmShapeImage *out);

// The box of the shape that the data describes (circles and ellipses 2 x radius + 1, a polygon
// its vertices' extent). 0 or ERR_WRONGUSAGE.
uint32_t ShapeBoxSize(int32_t type, const qmShapeLayerData *shape, int32_t *width, int32_t *height);
// Renders the shape of that type at its placement with the renderer of its kind.
uint32_t RenderShapeOfType(int32_t type, const qmDrawStyle *style, const qmShapePlacement *at,
                           const qmShapeLayerData *shape, int32_t width, int32_t height, uint32_t color,
                           const qmBitmap *texture, qmShapeImage *out);
// The shape's outline, size pixels wide and anti-aliased, in colour rgb: a layer's border.
uint32_t RenderShapeOutline(int32_t type, const qmShapePlacement *at, const qmShapeLayerData *shape, int32_t width,
                            int32_t height, uint32_t rgb, int32_t size, qmShapeImage *out);
