// Geometry of blits, clip regions and turned pictures: the clipping step of every blit,
// transformed rectangles, polygon clipping against one edge, arc polygons and their masks.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

struct qmClipRegion;

// A blit rectangle: where it is read, where it goes and how large it is.
struct qmBlitRect {
  int32_t srcX, srcY;
  int32_t dstX, dstY;
  int32_t width, height;
};

// Cuts the rectangle to the source, to the destination and, with useClip and a region, to the
// region's rectangle. A part cut off at the left or top moves the source position with it.
// False when nothing is left to draw.
bool ClipBlitRect(const qmClipRegion *region, qmBlitRect *r, int32_t srcWidth, int32_t srcHeight,
                  int32_t dstWidth, int32_t dstHeight, int32_t useClip);

// The bounding box of a rectangle turned by the matrix (x' = m0 x + m2 y, y' = m1 x + m3 y)
// about the anchor point (fractions of the size).
void GetTransformedRect(int32_t x, int32_t y, int32_t width, int32_t height, double anchorX, double anchorY,
                        const double m[4], int32_t *outX, int32_t *outY, int32_t *outWidth, int32_t *outHeight);

// Edges of ClipPolygonEdge: which side of the limit is kept.
enum : int32_t { CLIPEDGE_LEFT = 0, CLIPEDGE_TOP = 1, CLIPEDGE_RIGHT = 2, CLIPEDGE_BOTTOM = 3 };
// One step of clipping a closed polygon of {x, y} pairs: the new point count. out holds at
// least 2 x count points.
int32_t ClipPolygonEdge(int32_t count, const int32_t *in, int32_t *out, int32_t limit, int32_t edge);

// Most points GetArcPolygon writes: the start, 360 degrees, the centre and the start again.
inline constexpr int32_t kArcPolygonMax = 363;
// The arc from start to end degrees on the ellipse of radii rx + 0.5 and ry + 0.5 around
// (rx, ry), one point per degree; unless it is the full circle (0 to 360) the centre and the
// start point close it as a pie. An end below the start gives the start point alone. Returns
// the number of points.
int32_t GetArcPolygon(int32_t *points, int32_t rx, int32_t ry, int32_t start, int32_t end);
// 1024 x cos and sin of whole degrees, truncated from the exact values (cos 120 is -512).
int32_t ArcCos1024(int32_t degree);
int32_t ArcSin1024(int32_t degree);

// Sets the mask bits inside the polygon (even-odd, edges included): 0 or ERR_MEM.
uint32_t FillMaskPolygon(qmMask *mask, const int32_t *points, int32_t count);
