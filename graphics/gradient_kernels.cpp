#include "graphics/gradient_kernels.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "graphics/pixelformat.h"

namespace {

int32_t Channel(uint32_t c, int shift) { return int32_t((c >> shift) & 0xFF); }

// The two-colour linear gradient walks integer accumulators, so every row costs additions only.
void PlainLinear(const qmGradientRequest *req) {
  const qmGradientFill *g = req->gradient;
  const int64_t W = req->width, H = req->height;
  const int32_t a = ((g->angle % 360) + 360) % 360;
  const double rad = a * M_PI / 180.0;
  const int64_t S = int64_t(255 * std::sin(rad)), K = int64_t(-255 * std::cos(rad));
  int64_t base, v, sign, first;
  if (a <= 90) base = 0, v = H, sign = 1, first = 0;
  else if (a <= 180) base = 0, v = -H, sign = -1, first = H;
  else if (a <= 270) base = H, v = H, sign = -1, first = H;
  else base = H, v = -H, sign = 1, first = 0;
  const int64_t D = W * S - K * v, N0 = base * W * S;
  if (D == 0) return;
  const int32_t s[3] = {Channel(g->startColor, 16), Channel(g->startColor, 8), Channel(g->startColor, 0)};
  const int32_t e[3] = {Channel(g->endColor, 16), Channel(g->endColor, 8), Channel(g->endColor, 0)};
  for (int64_t r = 0; r < H; r++) {
    uint32_t *row = req->pixels + (req->y + r) * req->pitch + req->x;
    int64_t N = N0 - (first + sign * r) * v * K;
    for (int64_t x = 0; x < W; x++, N += sign * S * v) {
      const int64_t t = N / D;
      uint32_t rgb = 0;
      for (int c = 0; c < 3; c++) rgb = (rgb << 8) | uint32_t(std::clamp<int64_t>(s[c] + ((e[c] - s[c]) * t) / H, 0, 255));
      row[x] = ColorToPixel(rgb, req->format);
    }
  }
}

} // namespace

uint32_t GradientColorAt(const int32_t *positions, const uint32_t *colors, int32_t count, int32_t spread, int64_t t) {
  if (count < 1) return 0;
  if (spread == SPREAD_REPEAT) t &= 0xFFFF;
  if (spread == SPREAD_REFLECT) t = (t & 0x10000) ? 0x10000 - (t & 0xFFFF) : (t & 0xFFFF);
  if (t < positions[0]) return spread == SPREAD_NONE ? 0 : colors[0];
  if (t >= positions[count - 1]) return spread == SPREAD_NONE && t > positions[count - 1] ? 0 : colors[count - 1];
  int32_t i = 0;
  while (i + 2 < count && t >= positions[i + 1]) i++;
  const int64_t left = positions[i], w = positions[i + 1] - left;
  const uint32_t lc = colors[i], rc = colors[i + 1];
  const int64_t stepper = (lc == rc || w == 0) ? 0 : ((int64_t(1) << 24) + w / 2) / w;
  const int32_t weight = int32_t(((t - left) * stepper) >> 16);  // 0..256
  uint32_t out = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    int32_t l = Channel(lc, shift), r = Channel(rc, shift);
    out |= uint32_t(std::clamp(l + (((r - l) * weight) >> 8), 0, 255)) << shift;
  }
  return out;
}

void RenderGradient(const qmGradientRequest *req) {
  const qmGradientFill *g = req->gradient;
  if (req->bytesPerPixel != 4 || req->width < 1 || req->height < 1 || !g) return;
  if (g->type == GRADIENT_LINEAR && g->stopCount == 0) return PlainLinear(req);

  std::vector<int32_t> pos;
  std::vector<uint32_t> col;
  if (g->stopCount > 0 && g->stops) {
    for (int32_t i = 0; i < g->stopCount; i++) {
      pos.push_back(int32_t(g->stops[i].position * 65536));
      col.push_back(g->stops[i].color & 0xFFFFFF);
    }
  } else if (g->type == GRADIENT_CONICAL) {
    // The start colour closes the circle.
    pos = {0, int32_t(g->conicalEnd * 65536), 65536};
    col = {g->startColor, g->endColor, g->startColor};
  } else {
    pos = {0, 65536};
    col = {g->startColor, g->endColor};
  }
  const int32_t spread = g->type == GRADIENT_CONICAL ? SPREAD_REFLECT : SPREAD_PAD;
  const double W = req->width, H = req->height;

  // Linear: the end points are the top-left corner and the bottom-left pixel turned about the centre.
  double p1x = 0, p1y = 0, dx = 0, dy = 0, len2 = 0;
  if (g->type == GRADIENT_LINEAR) {
    const int32_t cx = req->width / 2, cy = req->height / 2;
    const double rot = (360 - (((g->angle % 360) + 360) % 360)) * 0.017453292519943295;
    const double c = std::cos(rot), s = std::sin(rot);
    auto turn = [&](double x, double y, double *ox, double *oy) {
      *ox = double(int32_t(cx + x * c - y * s)) * 65536;
      *oy = double(int32_t(cy + x * s + y * c)) * 65536;
    };
    double p2x, p2y;
    turn(-cx, -cy, &p1x, &p1y);
    turn(-cx, req->height - 1 - cy, &p2x, &p2y);
    dx = p2x - p1x, dy = p2y - p1y, len2 = dx * dx + dy * dy;
  }
  const double cx = g->centerX * W, cy = g->centerY * H;
  const double shrink = g->radialShrink == 1.0 ? 0.01 : 1.0 - g->radialShrink;
  const double radius =
      (0.5 + std::max(std::fabs(0.5 - g->centerX), std::fabs(0.5 - g->centerY))) * std::sqrt(W * W + H * H) * shrink;
  const double start = g->angle * M_PI / 180.0;

  for (int32_t y = 0; y < req->height; y++) {
    uint32_t *row = req->pixels + int64_t(req->y + y) * req->pitch + req->x;
    for (int32_t x = 0; x < req->width; x++) {
      const double px = x + 0.5, py = y + 0.5;
      double t;
      if (g->type == GRADIENT_LINEAR) {
        t = len2 > 0 ? ((px * 65536 - p1x) * dx + (py * 65536 - p1y) * dy) / len2 * 65536 : 0;
      } else if (g->type == GRADIENT_RADIAL) {
        t = radius > 0 ? std::hypot(px - cx, py - cy) / radius * 65536 : 0;
      } else {
        double a = std::fmod(std::atan2(py - cy, px - cx) + 2 * M_PI + start, 2 * M_PI);
        t = (a / (-2 * M_PI) + 1) * 65536;
      }
      t = std::clamp(t, -2147483648.0, 2147483647.0);
      row[x] = ColorToPixel(GradientColorAt(pos.data(), col.data(), int32_t(pos.size()), spread, int64_t(t)), req->format);
    }
  }
}
