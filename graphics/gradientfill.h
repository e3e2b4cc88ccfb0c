// The gradient of a background picture or a display-made picture: kind, colours, angle, extra
// colour stops, centre, balance and border, as the gradient option readers fill it.
#pragma once
#include <cstdint>

#include "graphics/gradient_kernels.h"

inline constexpr int32_t kGradientStopMax = 64;

struct qmGradientSpec {
  uint32_t kind;  // GRADIENT_LINEAR, GRADIENT_RADIAL, GRADIENT_CONICAL
  uint32_t startColor, endColor;
  uint32_t colorCount;  // extra stops in use
  int32_t angle;        // degrees
  qmGradientStop colors[kGradientStopMax];
  double centerX, centerY;
  double balance;  // where the end colour sits on a conical gradient
  double border;   // how much a radial gradient's radius shrinks
};

// Linear, centre 0.5 / 0.5, balance 0.5, border 0, no extra stops; the colours and angle stay.
void InitGradientSpec(qmGradientSpec *g);
// The description the gradient kernel paints from; it points into g.
qmGradientFill GradientFillOf(const qmGradientSpec *g);
