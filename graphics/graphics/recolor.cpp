#include "graphics/graphics/recolor.h"

#include <algorithm>
#include <vector>

#include "graphics/graphics/alphaops.h"
#include "graphics/pixelformat.h"
#include "runtime/errcodes.h"

namespace {

// The rectangle cut to the view; false when nothing is left.
bool CutRect(const qmBitmapView &v, int32_t &x, int32_t &y, int32_t &width, int32_t &height) {
  if (x < 0) width += x, x = 0;
  if (y < 0) height += y, y = 0;
  width = int32_t(std::min<int64_t>(width, int64_t(v.width) - x));
  height = int32_t(std::min<int64_t>(height, int64_t(v.height) - y));
  return width > 0 && height > 0 && v.bytesPerPixel == 4;
}

}  // namespace

uint32_t MixBitmap(qmBitmap *dst, const qmBitmap *src, const qmMask *mask, int32_t srcX, int32_t srcY, int32_t dstX,
                   int32_t dstY, int32_t width, int32_t height, int32_t level, const qmAlphaChannel *alpha) {
  if (alpha) {
    qmAlphaChannel *scaled = AllocAlphaChannel(AlphaPlaneWidth(alpha), PlaneHeight(alpha), 0);
    if (!scaled) return ERR_MEM;
    ScaleAlphaChannel(alpha, scaled, PlaneHeight(alpha), level);
    BltAlphaBitmap(src, srcX, srcY, dst, dstX, dstY, width, height, scaled);
    FreeAlphaChannel(scaled);
    return 0;
  }
  qmBitmapView d, s;
  if (!LockBitmap(dst, &d) || !LockBitmap(src, &s)) return ERR_LOCKBMAP;
  width = std::min({width, s.width - srcX, d.width - dstX});
  height = std::min({height, s.height - srcY, d.height - dstY});
  if (width > 0 && height > 0 && srcX >= 0 && srcY >= 0 && dstX >= 0 && dstY >= 0 && d.bytesPerPixel == 4 &&
      s.bytesPerPixel == 4) {
    for (int32_t row = 0; row < height; row++) {
      uint32_t *dp = d.base + size_t(dstY + row) * d.pitch + dstX;
      const uint32_t *sp = s.base + size_t(srcY + row) * s.pitch + srcX;
      const uint8_t *mrow = mask ? mask->memory + size_t(srcY + row) * mask->bytesPerRow : nullptr;
      for (int32_t col = 0; col < width; col++) {
        if (mrow && !(mrow[(srcX + col) >> 3] & (0x80 >> ((srcX + col) & 7)))) continue;
        const uint32_t keep = dp[col] & FourthByteMask(d.pixelFormat);
        const uint32_t c = BlendCanonical(PixelToCanonical(d.pixelFormat, dp[col]),
                                          PixelToCanonical(s.pixelFormat, sp[col]), level);
        dp[col] = CanonicalToPixel(d.pixelFormat, c) | keep;
      }
    }
  }
  UnlockBitmap();
  return 0;
}

uint32_t BitmapToGray(qmBitmap *bitmap, int32_t width, int32_t height) {
  qmBitmapView v;
  if (!LockBitmap(bitmap, &v)) return ERR_LOCKBMAP;
  int32_t x = 0, y = 0;
  if (CutRect(v, x, y, width, height)) {
    for (int32_t row = 0; row < height; row++) {
      uint32_t *p = v.base + size_t(row) * v.pitch;
      for (int32_t col = 0; col < width; col++) {
        const uint32_t keep = p[col] & FourthByteMask(v.pixelFormat);
        const uint32_t c = PixelToCanonical(v.pixelFormat, p[col]);
        const uint32_t g = uint32_t(0.299 * ((c >> 16) & 0xFF) + 0.587 * ((c >> 8) & 0xFF) + 0.114 * (c & 0xFF));
        p[col] = CanonicalToPixel(v.pixelFormat, g * 0x010101u) | keep;
      }
    }
  }
  UnlockBitmap();
  return 0;
}

uint32_t FloodFillPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t border,
                         uint32_t fill, int32_t x, int32_t y, uint32_t compareMask) {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  border &= compareMask;
  fill &= compareMask;
  auto at = [&](int32_t px, int32_t py) -> uint32_t & { return pixels[size_t(py) * pitch + px]; };
  auto open = [&](int32_t px, int32_t py) {
    const uint32_t c = at(px, py) & compareMask;
    return c != border && c != fill;
  };
  auto paint = [&](int32_t px, int32_t py) { at(px, py) = (at(px, py) & ~compareMask) | fill; };
  // Span filling with an explicit stack: no recursion depth grows with the picture.
  std::vector<std::pair<int32_t, int32_t>> stack;
  try {
    stack.emplace_back(x, y);
    while (!stack.empty()) {
      auto [sx, sy] = stack.back();
      stack.pop_back();
      if (!open(sx, sy)) continue;
      int32_t left = sx, right = sx;
      while (left > 0 && open(left - 1, sy)) left--;
      while (right < width - 1 && open(right + 1, sy)) right++;
      for (int32_t px = left; px <= right; px++) paint(px, sy);
      for (int32_t ny : {sy - 1, sy + 1}) {
        if (ny < 0 || ny >= height) continue;
        bool inSpan = false;
        for (int32_t px = left; px <= right; px++) {
          const bool o = open(px, ny);
          if (o && !inSpan) stack.emplace_back(px, ny);
          inSpan = o;
        }
      }
    }
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
  return 0;
}
