// Single pixels, mask bits, thin lines and mask rectangles.
#include <algorithm>
#include <cstdlib>

#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/pixelformat.h"

namespace {

int32_t PlaneWidth(const qmMask *m) { return m->width > 0 ? m->width : m->bytesPerRow * 8; }
int32_t PlaneHeight(const qmMask *m) { return m->height > 0 ? m->height : INT32_MAX; }

bool InsideBitmap(const qmBitmap *b, int32_t x, int32_t y) {
  return x >= 0 && y >= 0 && x < b->width && y < b->height && b->bytesPerPixel == 4;
}

void WriteColour(qmBitmap *b, int32_t x, int32_t y, uint32_t rgb) {
  uint32_t &p = b->pixels[int64_t(y) * (b->bytesPerRow / 4) + x];
  uint32_t keep = FourthByteMask(b->pixelFormat);
  p = (p & keep) | (CanonicalToPixel(b->pixelFormat, rgb & 0xFFFFFF) & ~keep);
}

} // namespace

void CopyMaskRect(const qmMask *src, int32_t srcX, int32_t srcY, qmMask *dst, int32_t dstX, int32_t dstY, int32_t width,
                  int32_t height, int32_t mode) {
  if (!src || !dst || mode < MASKVISIBLE || mode > MASKOR) return;
  int64_t sx = srcX, sy = srcY, dx = dstX, dy = dstY, w = width, h = height;
  if (sx < 0) dx -= sx, w += sx, sx = 0;
  if (sy < 0) dy -= sy, h += sy, sy = 0;
  if (dx < 0) sx -= dx, w += dx, dx = 0;
  if (dy < 0) sy -= dy, h += dy, dy = 0;
  w = std::min({w, PlaneWidth(src) - sx, PlaneWidth(dst) - dx});
  h = std::min({h, PlaneHeight(src) - sy, PlaneHeight(dst) - dy});
  if (w < 1 || h < 1) return;
  if (sx % 8 == 0 && dx % 8 == 0) {
    // Both rows start on a byte: the mode applies to eight bits at once, the last byte's bits
    // past the rectangle kept.
    const int64_t bytes = (w + 7) / 8;
    const uint8_t lastBits = uint8_t(0xFF00 >> (w - (bytes - 1) * 8));
    for (int64_t j = 0; j < h; j++) {
      const uint8_t *s = src->memory + (sy + j) * src->bytesPerRow + sx / 8;
      uint8_t *d = dst->memory + (dy + j) * dst->bytesPerRow + dx / 8;
      for (int64_t k = 0; k < bytes; k++) {
        const uint8_t a = s[k], b = d[k];
        uint8_t v;
        switch (mode) {
          case MASKINVISIBLE: v = uint8_t(b & ~a); break;
          case MASKVANILLACOPY: v = a; break;
          case MASKXOR: v = uint8_t(b ^ a); break;
          case MASKAND: v = uint8_t(b & a); break;
          default: v = uint8_t(b | a); break;  // MASKVISIBLE, MASKOR
        }
        const uint8_t inside = k == bytes - 1 ? lastBits : uint8_t(0xFF);
        d[k] = uint8_t((b & ~inside) | (v & inside));
      }
    }
    return;
  }
  for (int64_t j = 0; j < h; j++) {
    const uint8_t *s = src->memory + (sy + j) * src->bytesPerRow;
    uint8_t *d = dst->memory + (dy + j) * dst->bytesPerRow;
    for (int64_t i = 0; i < w; i++) {
      int32_t x = int32_t(dx + i);
      bool old = GetMaskBit(d, x);
      bool now = ApplyMaskMode(mode, GetMaskBit(s, int32_t(sx + i)), old);
      if (now != old) SetMaskBit(d, x, now);
    }
  }
}

void FillMaskRect(qmMask *mask, int32_t x, int32_t y, int32_t width, int32_t height, int32_t mode) {
  if (!mask || mode < MASKVISIBLE || mode > MASKOR || mode == MASKAND) return;
  int64_t x0 = std::max(x, 0), y0 = std::max(y, 0);
  int64_t x1 = std::min<int64_t>(int64_t(x) + width, PlaneWidth(mask));
  int64_t y1 = std::min<int64_t>(int64_t(y) + height, PlaneHeight(mask));
  for (int64_t j = y0; j < y1; j++) {
    uint8_t *row = mask->memory + j * mask->bytesPerRow;
    for (int64_t i = x0; i < x1; i++) SetMaskBit(row, int32_t(i), ApplyMaskMode(mode, true, GetMaskBit(row, int32_t(i))));
  }
}

uint32_t GetBitmapPixel(const void *record, int32_t x, int32_t y, int32_t isMask) {
  if (!record || x < 0 || y < 0) return 0;
  if (isMask) {
    auto *m = static_cast<const qmMask *>(record);
    if (x >= PlaneWidth(m) || y >= PlaneHeight(m)) return 0;
    return GetMaskBit(m->memory + int64_t(y) * m->bytesPerRow, x) ? 1 : 0;
  }
  auto *b = static_cast<const qmBitmap *>(record);
  if (!InsideBitmap(b, x, y)) return 0;
  return PixelToCanonical(b->pixelFormat, b->pixels[int64_t(y) * (b->bytesPerRow / 4) + x]) & 0xFFFFFF;
}

void SetBitmapPixel(void *record, int32_t x, int32_t y, uint32_t value, int32_t isMask) {
  if (!record || x < 0 || y < 0) return;
  if (isMask) {
    auto *m = static_cast<qmMask *>(record);
    if (x >= PlaneWidth(m) || y >= PlaneHeight(m)) return;
    uint8_t *row = m->memory + int64_t(y) * m->bytesPerRow;
    SetMaskBit(row, x, ApplyMaskMode(int32_t(value), true, GetMaskBit(row, x)));
    return;
  }
  auto *b = static_cast<qmBitmap *>(record);
  if (InsideBitmap(b, x, y)) WriteColour(b, x, y, value);
}

void DrawBitmapLine(qmBitmap *bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t rgb) {
  if (!bitmap) return;
  // Bresenham over 64-bit error terms, both end points drawn.
  int64_t dx = std::llabs(int64_t(x2) - x1), dy = -std::llabs(int64_t(y2) - y1);
  int32_t stepX = x1 < x2 ? 1 : -1, stepY = y1 < y2 ? 1 : -1;
  int64_t err = dx + dy;
  int64_t x = x1, y = y1;
  for (;;) {
    if (InsideBitmap(bitmap, int32_t(x), int32_t(y)) && x >= 0 && y >= 0) WriteColour(bitmap, int32_t(x), int32_t(y), rgb);
    if (x == x2 && y == y2) break;
    int64_t e2 = 2 * err;
    if (e2 >= dy) err += dy, x += stepX;
    if (e2 <= dx) err += dx, y += stepY;
  }
}
