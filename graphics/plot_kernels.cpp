#include "graphics/plot_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "graphics/alpha_kernels.h"

void PlotPixel(qmPlotState *s, int32_t x, int32_t y) {
  if (s->clip) {
    const int64_t cx = int64_t(x) - s->clipLeft, cy = int64_t(y) - s->clipTop;
    if (cx < 0 || cy < 0 || cx >= s->clipWidth || cy >= s->clipHeight) return;
    if (s->clipMask && !GetMaskBit(s->clipMask + cy * s->clipMaskBytesPerRow, int32_t(cx))) return;
  }
  if (s->pixels && s->bytesPerPixel == 4) {
    uint32_t color = s->color;
    int32_t r = s->red, g = s->green, b = s->blue;
    if (s->texture) {
      color = s->texture[int64_t(y) * s->texturePitch + x];
      // Bitmaps store alpha, red, green, blue in memory order: the word is byte-swapped.
      const uint32_t argb = __builtin_bswap32(color);
      r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    }
    uint32_t *p = s->pixels + int64_t(y) * s->pitch + x;
    if (s->level < 255 && !s->alpha) {
      const uint32_t d = __builtin_bswap32(*p);
      const int32_t dr = (d >> 16) & 0xFF, dg = (d >> 8) & 0xFF, db = d & 0xFF;
      const int32_t l = s->level;
      const uint32_t nr = uint32_t(dr + (((r - dr) * l) >> 8)) & 0xFF;
      const uint32_t ng = uint32_t(dg + (((g - dg) * l) >> 8)) & 0xFF;
      const uint32_t nb = uint32_t(db + (((b - db) * l) >> 8)) & 0xFF;
      *p = __builtin_bswap32((d & 0xFF000000u) | (nr << 16) | (ng << 8) | nb);
    } else {
      *p = color;
    }
  }
  if (s->mask) {
    uint8_t *row = s->mask + int64_t(y) * s->maskBytesPerRow;
    switch (s->maskMode) {
    case MASKVISIBLE:
    case MASKVANILLACOPY:
    case MASKOR: SetMaskBit(row, x, true); break;
    case MASKINVISIBLE: SetMaskBit(row, x, false); break;
    case MASKXOR: SetMaskBit(row, x, !GetMaskBit(row, x)); break;
    default: break;
    }
  }
  if (s->alpha) s->alpha[int64_t(y) * s->alphaBytesPerRow + x] = uint8_t(s->level);
}

void PlotCoverage(const uint8_t *coverage, int32_t x, int32_t y, qmPlotState *s, int32_t width, int32_t height,
                  int32_t bytesPerRow, int32_t solid) {
  for (int32_t row = 0; row < height; row++) {
    const uint8_t *c = coverage + int64_t(row) * bytesPerRow;
    for (int32_t col = 0; col < width; col++) {
      if (!c[col]) continue;
      if (!solid) s->level = s->overallLevel == 255 ? c[col] : s->overallLevel * c[col] / 255;
      PlotPixel(s, x + col, y + row);
    }
  }
}

namespace {

// The steps [first, last] of a walk of `steps` steps up the major axis from `from` that land
// inside [low, low + size) of that axis; empty (first > last) when none does.
void StepsInside(int64_t from, int64_t steps, int64_t low, int64_t size, int64_t *first, int64_t *last) {
  *first = std::max<int64_t>(0, low - from);
  *last = std::min(steps, low + size - 1 - from);
}

// After k steps of the walk whose error starts at 2 minor - major and moves the minor axis
// whenever it is not negative: how far the minor axis has moved, (2 minor k + major) / (2 major),
// and the error then. The products need more than 64 bits; the error itself stays small.
void WalkAfter(int64_t minor, int64_t major, int64_t k, int64_t *moved, int64_t *err) {
  *moved = major == 0 ? 0 : int64_t((__int128(2) * minor * k + major) / (__int128(2) * major));
  *err = int64_t(__int128(2) * minor - major + __int128(2) * minor * k - __int128(2) * major * *moved);
}

} // namespace

void ThickLinePixels(qmPlotState *s, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const int64_t dx = std::llabs(int64_t(x2) - x1), dy = std::llabs(int64_t(y2) - y1);
  const double a = std::atan2(double(dy), double(dx));
  const bool steep = dx < dy;
  const double along = steep ? std::sin(a) : std::cos(a);
  int64_t run = along == 0 ? 0 : int64_t(s->lineWidth / along);
  int64_t offset = run / 2;
  if (along == 0 || run == 0) run = 1, offset = 0;
  // With clipping only the steps whose row (or column) can show are walked; the walk resumes
  // there with the position and error it would have reached, so the pixels are those of the
  // whole line.
  if (steep) {
    if (y1 > y2) std::swap(x1, x2), std::swap(y1, y2);
    const int32_t stepX = x2 >= x1 ? 1 : -1;
    int64_t first = 0, last = dy;
    if (s->clip) StepsInside(y1, dy, s->clipTop, s->clipHeight, &first, &last);
    if (first > last) return;
    int64_t moved, err;
    WalkAfter(dx, dy, first, &moved, &err);
    int64_t x = x1 + stepX * moved;
    for (int64_t y = y1 + first; y <= y1 + last; y++) {
      for (int64_t i = 0; i < run; i++) PlotPixel(s, int32_t(x - offset + i), int32_t(y));
      if (err < 0) {
        err += 2 * dx;
      } else {
        err += 2 * (dx - dy);
        x += stepX;
      }
    }
  } else {
    if (x1 > x2) std::swap(x1, x2), std::swap(y1, y2);
    const int32_t stepY = y2 >= y1 ? 1 : -1;
    int64_t first = 0, last = dx;
    if (s->clip) StepsInside(x1, dx, s->clipLeft, s->clipWidth, &first, &last);
    if (first > last) return;
    int64_t moved, err;
    WalkAfter(dy, dx, first, &moved, &err);
    int64_t y = y1 + stepY * moved;
    for (int64_t x = x1 + first; x <= x1 + last; x++) {
      for (int64_t i = 0; i < run; i++) PlotPixel(s, int32_t(x), int32_t(y - offset + i));
      if (err < 0) {
        err += 2 * dy;
      } else {
        err += 2 * (dy - dx);
        y += stepY;
      }
    }
  }
}

void AntialiasLinePixels(qmPlotState *s, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const int32_t overall = s->overallLevel;
  auto plot = [&](int32_t x, int32_t y, int32_t level) {
    // Scaled as level x overall / 255: the overall fraction alone would truncate to 0.
    s->level = overall == 255 ? level : level * overall / 255;
    PlotPixel(s, x, y);
  };
  if (x1 == x2 && y1 == y2) {
    s->level = overall;
    PlotPixel(s, x1, y1);
    return;
  }
  const int64_t dx = int64_t(x2) - x1, dy = int64_t(y2) - y1;
  if (std::llabs(dx) > std::llabs(dy)) {
    if (x1 > x2) std::swap(x1, x2), std::swap(y1, y2);
    const int64_t g = ((int64_t(y2) - y1) * 65536) / (int64_t(x2) - x1);
    int64_t first = 0, last = int64_t(x2) - x1;
    if (s->clip) StepsInside(x1, last, s->clipLeft, s->clipWidth, &first, &last);
    int64_t acc = int64_t(y1) * 65536 + first * g;
    for (int64_t x = x1 + first; x <= x1 + last; x++, acc += g) {
      const int32_t f = int32_t((acc >> 8) & 255);
      plot(int32_t(x), int32_t(acc >> 16), 255 - f);
      plot(int32_t(x), int32_t((acc >> 16) + 1), f);
    }
  } else {
    if (y1 > y2) std::swap(x1, x2), std::swap(y1, y2);
    const int64_t g = ((int64_t(x2) - x1) * 65536) / (int64_t(y2) - y1);
    int64_t first = 0, last = int64_t(y2) - y1;
    if (s->clip) StepsInside(y1, last, s->clipTop, s->clipHeight, &first, &last);
    int64_t acc = int64_t(x1) * 65536 + first * g;
    for (int64_t y = y1 + first; y <= y1 + last; y++, acc += g) {
      const int32_t f = int32_t((acc >> 8) & 255);
      plot(int32_t(acc >> 16), int32_t(y), 255 - f);
      plot(int32_t((acc >> 16) + 1), int32_t(y), f);
    }
  }
}
