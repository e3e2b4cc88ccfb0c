// Reading the desktop's pixels: the X server's root window, read directly through Xlib (the
// SDL backend offers no screen reading). Without an X server there is nothing to read.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>

#include "platform/memory.h"
#include "platform/sdl/sdl_internal.h"

namespace {

// The shift that brings the top bit of a channel mask to bit 7.
int ShiftOf(unsigned long mask) {
  int top = 63 - __builtin_clzl(mask);
  return top - 7;
}

uint32_t Channel(unsigned long pixel, unsigned long mask) {
  if (!mask) return 0;
  const int shift = ShiftOf(mask);
  const unsigned long v = pixel & mask;
  return uint32_t((shift >= 0 ? v >> shift : v << -shift) & 0xFF);
}

}  // namespace

uint32_t *GrabX11Pixels(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (x < 0 || y < 0 || width < 1 || height < 1) return nullptr;
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) return nullptr;
  const Window root = DefaultRootWindow(dpy);
  XWindowAttributes attrs{};
  uint32_t *pixels = nullptr;
  if (XGetWindowAttributes(dpy, root, &attrs) && int64_t(x) + width <= attrs.width &&
      int64_t(y) + height <= attrs.height) {
    XImage *image = XGetImage(dpy, root, x, y, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (image) {
      pixels = static_cast<uint32_t *>(MemAlloc(uint32_t(width) * uint32_t(height) * 4u, 0));
      for (int32_t row = 0; pixels && row < height; row++)
        for (int32_t col = 0; col < width; col++) {
          const unsigned long p = XGetPixel(image, col, row);
          const uint32_t rgb = Channel(p, image->red_mask) << 16 | Channel(p, image->green_mask) << 8 |
                               Channel(p, image->blue_mask);
          pixels[size_t(row) * size_t(width) + size_t(col)] = rgb;
        }
      XDestroyImage(image);
    }
  }
  XCloseDisplay(dpy);
  return pixels;
}
