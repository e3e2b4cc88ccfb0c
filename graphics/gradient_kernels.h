// Linear, radial and conical colour gradients painted into a rectangle of 32-bit pixels.
#pragma once
#include <cstdint>

enum : int32_t { GRADIENT_LINEAR = 2, GRADIENT_RADIAL = 3, GRADIENT_CONICAL = 4 };

struct qmGradientStop {
  uint32_t color;   // 0xRRGGBB
  double position;  // 0..1
};

struct qmGradientFill {
  int32_t type;  // GRADIENT_*
  uint32_t startColor, endColor;
  int32_t stopCount;  // 0: the two colours alone
  int32_t angle;      // degrees: the linear direction, or where a conical gradient starts
  const qmGradientStop *stops;
  double centerX, centerY;  // fractions of the width and height (radial, conical)
  double conicalEnd;        // where the end colour sits on a plain conical gradient, 0..1
  double radialShrink;      // f: the radius shrinks by the factor 1 - f
};

struct qmGradientRequest {
  uint32_t *pixels;
  int32_t bytesPerPixel;  // only 4 is painted
  int32_t format;
  int32_t x, y, width, height;
  int32_t pitch;  // in pixels
  const qmGradientFill *gradient;
};

void RenderGradient(const qmGradientRequest *req);

// Spread modes of the colour lookup outside the stops.
enum : int32_t { SPREAD_NONE = 0, SPREAD_REPEAT = 1, SPREAD_PAD = 2, SPREAD_REFLECT = 3 };
// The colour (0xRRGGBB) at the 16.16 position t of a stop list (positions in 16.16, sorted).
uint32_t GradientColorAt(const int32_t *positions, const uint32_t *colors, int32_t count, int32_t spread, int64_t t);
