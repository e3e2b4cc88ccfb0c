// Shaped windows: the X server's shape extension cuts the window to a one-bit mask, so the
// desktop shows through where the picture's mask is clear or its alpha is 0.
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <vector>

#include "platform/sdl/sdl_internal.h"

void ShapeSystemWindow(SDL_Window *window, const uint8_t *shape, int32_t width, int32_t height) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11 || width < 1 || height < 1) return;
  Display *display = info.info.x11.display;
  int eventBase = 0, errorBase = 0;
  if (!XShapeQueryExtension(display, &eventBase, &errorBase)) return;
  // An X bitmap: rows of whole bytes, the first pixel in the lowest bit.
  const size_t rowBytes = (size_t(width) + 7) / 8;
  std::vector<char> bits(rowBytes * size_t(height), 0);
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++)
      if (shape[size_t(y) * size_t(width) + size_t(x)]) bits[size_t(y) * rowBytes + size_t(x) / 8] |= char(1 << (x % 8));
  Pixmap mask = XCreateBitmapFromData(display, info.info.x11.window, bits.data(), unsigned(width), unsigned(height));
  if (!mask) return;
  XShapeCombineMask(display, info.info.x11.window, ShapeBounding, 0, 0, mask, ShapeSet);
  XFreePixmap(display, mask);
  XFlush(display);
}
