// Coverage planes for the draw library: polygons, closed outlines and thick lines rasterised
// into a zeroed 8-bit plane (0 uncovered, 255 covered, between on anti-aliased edges). They draw
// through OpenCV, in the coverage module (coverage_module.h) opened on the first call; when the
// module cannot be found every one of them fails with ERR_OPENLIB, naming the module.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

// Points are count {x, y} pairs of the plane's own coordinates. Each returns 0, or ERR_MEM when
// the rasteriser cannot get its memory; nothing outside the plane's width x height is written.
uint32_t FillCoveragePolygon(qmAlphaChannel *plane, const int32_t *points, int32_t count, int32_t antialias);
uint32_t DrawCoverageOutline(qmAlphaChannel *plane, const int32_t *points, int32_t count, int32_t width,
                             int32_t antialias);
// The same hard-edged polygon or closed outline written straight into a 32-bit bitmap as the
// stored pixel word (no coverage plane); the points lie in the bitmap's own coordinates.
uint32_t FillBitmapPolygon(qmBitmap *bitmap, const int32_t *points, int32_t count, uint32_t pixel);
uint32_t DrawBitmapOutline(qmBitmap *bitmap, const int32_t *points, int32_t count, int32_t width, uint32_t pixel);
uint32_t DrawCoverageLine(qmAlphaChannel *plane, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness,
                          int32_t antialias);
