#include "graphics/fillarea.h"

#include <algorithm>
#include <cstdio>

#include "graphics/blit.h"
#include "runtime/errcodes.h"

uint32_t DrawGradient(qmBitmap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                      const qmGradientFill *gradient) {
  if (!bitmap) {
    std::fputs("ERROR! DRAWGRADIENT() CALLED WITH DST=NULL!\n", stderr);
    return 0;
  }
  if (width < 1 || height < 1) return 0;
  const bool inside = x >= 0 && y >= 0 && int64_t(x) + width <= bitmap->width && int64_t(y) + height <= bitmap->height;
  if (!inside) {
    // Painted whole into a picture of its own, so the cut-off parts keep the gradient in place.
    qmBitmap *whole = AllocBitmap(width, height);
    if (!whole) return ERR_MEM;
    uint32_t code = DrawGradient(whole, 0, 0, width, height, gradient);
    if (code == 0) BltBitmap(whole, 0, 0, bitmap, x, y, width, height);
    FreeBitmap(whole);
    return code;
  }
  qmBitmapView view;
  if (!LockBitmap(bitmap, &view)) return ERR_LOCKBMAP;
  qmGradientRequest req{view.base, view.bytesPerPixel, view.pixelFormat, x, y, width, height, view.pitch, gradient};
  RenderGradient(&req);
  UnlockBitmap();
  return 0;
}

void TileBitmap(qmBitmap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height, const qmBitmap *texture,
                int32_t offsetX, int32_t offsetY, int32_t tileWidth, int32_t tileHeight) {
  if (!bitmap || !texture) return;
  tileWidth = std::min(tileWidth, texture->width);
  tileHeight = std::min(tileHeight, texture->height);
  if (tileWidth < 1 || tileHeight < 1) return;
  offsetX %= tileWidth;
  if (offsetX < 0) offsetX += tileWidth;
  offsetY %= tileHeight;
  if (offsetY < 0) offsetY += tileHeight;
  for (int64_t ty = 0, sy = offsetY; ty < height; ty += tileHeight - sy, sy = 0) {
    const int32_t h = int32_t(std::min<int64_t>(tileHeight - sy, height - ty));
    for (int64_t tx = 0, sx = offsetX; tx < width; tx += tileWidth - sx, sx = 0) {
      const int32_t w = int32_t(std::min<int64_t>(tileWidth - sx, width - tx));
      BltBitmap(texture, int32_t(sx), int32_t(sy), bitmap, int32_t(x + tx), int32_t(y + ty), w, h);
    }
  }
}
