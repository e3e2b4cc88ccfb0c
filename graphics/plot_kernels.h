// The draw library's own pixel plot: single pixels with clipping, texture, translucency and the
// selected mask and alpha planes, and the line rasterizers and coverage plotter built on it.
#pragma once
#include <cstdint>

struct qmPlotState {
  uint32_t *pixels;  // target pixels, or null: only the planes are written
  int32_t pitch;     // in pixels
  int32_t bytesPerPixel;  // only 4 draws pixels
  const uint32_t *texture;  // or null: each plotted pixel takes the texture's word at (x, y)
  int32_t texturePitch;     // in pixels
  uint8_t *mask;
  int32_t maskBytesPerRow;
  uint8_t *alpha;
  int32_t alphaBytesPerRow;
  int32_t lineWidth;
  int32_t pixelFormat;
  uint32_t color;  // target-format word
  int32_t red, green, blue;
  int32_t level;         // 0..255 for the pixel being plotted; 255 opaque
  int32_t overallLevel;  // 0..255, the shape's own transparency
  int32_t clip;          // 1: the clip rectangle (and clip mask) apply
  int32_t clipLeft, clipTop, clipWidth, clipHeight;
  const uint8_t *clipMask;  // bit (x - left) of row (y - top), or null
  int32_t clipMaskBytesPerRow;
  int32_t maskMode;  // MASKVISIBLE..MASKOR
};

void PlotPixel(qmPlotState *s, int32_t x, int32_t y);
// Plots every non-zero byte of the width x height map at (x + column, y + row). solid: the
// caller's level stays; otherwise the level is the byte (scaled by the overall level).
void PlotCoverage(const uint8_t *coverage, int32_t x, int32_t y, qmPlotState *s, int32_t width, int32_t height,
                  int32_t bytesPerRow, int32_t solid);
// Runs of lineWidth pixels across the line, walked one row or column at a time.
void ThickLinePixels(qmPlotState *s, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// One pixel wide, two pixels per step shaded by the 16.16 position between them.
void AntialiasLinePixels(qmPlotState *s, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
