// Pixels a window holds for a picture, on a real X server (Xvfb): when the window is sized from
// outside (SDL asked directly, as a window manager would size it), the surface is made anew at
// its next taking; the pump gives the held pixels back first, and they reach the new surface.
#include <cstring>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "platform/present.h"
#include "platform/time.h"
#include "xvfb_fixture.h"

namespace sdltest {
namespace {

class XvfbPresentTest : public XvfbDesktopTest {
  [[maybe_unused]] LeakCheckPause pause;  // the X libraries' own blocks
};

uint32_t Colour(int x, int y) { return uint32_t(x * 5 & 255) << 16 | uint32_t(y * 3 & 255) << 8 | uint32_t((x ^ y) & 255); }

TEST_F(XvfbPresentTest, HeldPixelsComeBackWhenTheWindowIsSizedFromOutside) {
  const int w = 200, h = 150;
  qmBitmap *picture = AllocBitmap(w, h), *keep = AllocBitmap(w, h);
  ASSERT_NE(picture, nullptr);
  ASSERT_NE(keep, nullptr);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      SetBitmapPixel(picture, x, y, Colour(x, y), 0);
      SetBitmapPixel(keep, x, y, 0x0000FF, 0);
    }
  auto kept = [&](int x, int y) { return __builtin_bswap32(keep->pixels[y * (keep->bytesPerRow / 4) + x]) & 0xFFFFFFu; };
  ASSERT_TRUE(PresentBackBufferHeld(picture, display, 0, 0, w, h, keep));
  EXPECT_EQ(kept(10, 10), 0x0000FFu) << "held, not copied";

  SDL_SetWindowSize(pw->window, 400, 300);
  // The size change comes through the pump; a generous deadline for a busy machine.
  const double end = GetTimeSeconds() + 30;
  while (pw->held.pixels && GetTimeSeconds() < end) {
    Pump();
    SDL_Delay(5);
  }
  ASSERT_EQ(pw->held.pixels, nullptr) << "no size change came";
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) ASSERT_EQ(kept(x, y), Colour(x, y)) << x << "," << y;

  // Shown again from the kept picture, on the surface made at the new size.
  PresentBackBuffer(keep, 0, 0, display, 0, 0, w, h, 0, 0, 0);
  SDL_Surface *s = SDL_GetWindowSurface(pw->window);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->w, 400);
  for (auto [x, y] : {std::pair{0, 0}, {123, 77}, {w - 1, h - 1}}) {
    uint32_t p = 0;
    std::memcpy(&p, static_cast<uint8_t *>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel,
                s->format->BytesPerPixel);
    uint8_t r, g, b;
    SDL_GetRGB(p, s->format, &r, &g, &b);
    EXPECT_EQ(uint32_t(r) << 16 | uint32_t(g) << 8 | b, Colour(x, y)) << x << "," << y;
  }
  FreeBitmap(picture);
  FreeBitmap(keep);
}

}  // namespace
}  // namespace sdltest
