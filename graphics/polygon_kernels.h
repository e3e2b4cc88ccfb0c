// Scan conversion of integer polygons into 1-bit masks.
#pragma once
#include <cstdint>

// Even-odd fill: points are count {x, y} pairs; every bit between a pair of crossings is set
// (both ends included), none is cleared. Rows and columns outside width x height are skipped.
// The crossings buffer holds at least count integers.
void PolygonMaskPixels(uint8_t *mask, int32_t bytesPerRow, int32_t width, int32_t height, int32_t *crossings,
                       const int32_t *points, int32_t count);
