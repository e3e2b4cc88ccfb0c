#include "graphics/gradientfill.h"

void InitGradientSpec(qmGradientSpec *g) {
  g->kind = GRADIENT_LINEAR;
  g->colorCount = 0;
  g->centerX = 0.5;
  g->centerY = 0.5;
  g->balance = 0.5;
  g->border = 0;
}

qmGradientFill GradientFillOf(const qmGradientSpec *g) {
  qmGradientFill f{};
  f.type = int32_t(g->kind);
  f.startColor = g->startColor & 0xFFFFFF;
  f.endColor = g->endColor & 0xFFFFFF;
  f.stopCount = int32_t(g->colorCount);
  f.angle = g->angle;
  f.stops = g->colorCount ? g->colors : nullptr;
  f.centerX = g->centerX;
  f.centerY = g->centerY;
  f.conicalEnd = g->balance;
  f.radialShrink = g->border;
  return f;
}
