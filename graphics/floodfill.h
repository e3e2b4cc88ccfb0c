// Boundary flood fill: spreads from a point over every pixel until the boundary colour, inside
// an allowed rectangle, by runs kept on an explicit stack (no recursion, whatever the area).
#pragma once
#include <cstdint>

struct qmFillRequest {
  uint32_t *pixels; // the whole picture; coordinates below are absolute
  int32_t width, height; // of the allowed area
  int32_t pitch;         // in pixels
  uint32_t boundary;     // pixel values, compared after the compare mask
  uint32_t fill;
  int32_t left, top; // of the allowed area
};

// Fills from (x, y). A start outside the allowed area or on the boundary colour changes nothing.
// 0, or ERR_MEM when the run stack could not grow (the fill stops where it got to).
int32_t FloodFillPixels(const qmFillRequest *req, int32_t x, int32_t y, uint32_t compareMask);
