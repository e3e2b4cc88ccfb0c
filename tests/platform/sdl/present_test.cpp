// Presentation read back from the window surface, and frame pacing on the controllable clock.
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "platform/present.h"
#include "sdl_fixture.h"

namespace sdltest {
namespace {

uint32_t Colour(int x, int y) { return uint32_t((x * 7) & 255) << 16 | uint32_t((y * 5) & 255) << 8 | uint32_t((x + y) & 255); }

class PresentTest : public DesktopTest {
 public:
  void SetUp() override {
    DesktopTest::SetUp();
    bitmap = AllocBitmap(320, 240);
    keep = AllocBitmap(320, 240);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_NE(keep, nullptr);
    for (int y = 0; y < 240; y++)
      for (int x = 0; x < 320; x++) {
        uint32_t c = Colour(x, y);
        // Bytes unused, R, G, B in memory; the unused byte is set to show that it is ignored.
        bitmap->pixels[y * (bitmap->bytesPerRow / 4) + x] = 0xA5u | ((c >> 16) & 255) << 8 | ((c >> 8) & 255) << 16 | (c & 255) << 24;
      }
    display->width = 640;
    display->height = 480;
    SetPlatformWindowBounds(display);
    Clear();
  }
  void TearDown() override {
    RestoreHeldBackBuffer(display);
    FreeBitmap(bitmap);
    FreeBitmap(keep);
    DesktopTest::TearDown();
  }
  void Clear() {
    SDL_Surface *s = SDL_GetWindowSurface(pw->window);
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 1, 2, 3));
  }
  uint32_t At(int x, int y) {
    SDL_Surface *s = SDL_GetWindowSurface(pw->window);
    uint32_t p = 0;
    memcpy(&p, static_cast<uint8_t *>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel, s->format->BytesPerPixel);
    uint8_t r, g, b;
    SDL_GetRGB(p, s->format, &r, &g, &b);
    return uint32_t(r) << 16 | uint32_t(g) << 8 | b;
  }
  static constexpr uint32_t kBackground = 0x010203;
  qmBitmap *bitmap = nullptr;
  qmBitmap *keep = nullptr;  // a picture the window may hold pixels for
};

TEST_F(PresentTest, CopiesPixelForPixel) {
  struct Row {
    const char *name;
    int sx, sy, dx, dy, w, h, sw, sh, ml, mt;
    uint32_t flags;
    bool closed;
    // Expected source pixel of a surface point, or -1 for untouched.
    std::function<std::pair<int, int>(int, int)> source;
  };
  auto inRect = [](int x, int y, int rx, int ry, int rw, int rh) { return x >= rx && y >= ry && x < rx + rw && y < ry + rh; };
  const Row rows[] = {
      {"whole bitmap at the corner", 0, 0, 0, 0, 320, 240, 0, 0, 0, 0, 0, false,
       [=](int x, int y) { return inRect(x, y, 0, 0, 320, 240) ? std::pair{x, y} : std::pair{-1, -1}; }},
      {"part at an offset", 10, 20, 100, 50, 30, 40, 0, 0, 0, 0, 0, false,
       [=](int x, int y) { return inRect(x, y, 100, 50, 30, 40) ? std::pair{x - 90, y - 30} : std::pair{-1, -1}; }},
      {"picture offset added", 0, 0, 5, 5, 20, 20, 0, 0, 30, 40, 0, false,
       [=](int x, int y) { return inRect(x, y, 35, 45, 20, 20) ? std::pair{x - 35, y - 45} : std::pair{-1, -1}; }},
      {"clipped at the window's left and bottom", 0, 0, -10, 470, 50, 50, 0, 0, 0, 0, 0, false,
       [=](int x, int y) { return inRect(x, y, 0, 470, 40, 10) ? std::pair{x + 10, y - 470} : std::pair{-1, -1}; }},
      {"source beyond the bitmap is cut", 300, 230, 0, 0, 50, 50, 0, 0, 0, 0, 0, false,
       [=](int x, int y) { return inRect(x, y, 0, 0, 20, 10) ? std::pair{x + 300, y + 230} : std::pair{-1, -1}; }},
      {"scaled 320x240 to 640x480, nearest", 0, 0, 99, 99, 320, 240, 640, 480, 0, 0, 0, false,
       [=](int x, int y) { return std::pair{x / 2, y / 2}; }},
      {"scaled at the picture offset", 0, 0, 0, 0, 320, 240, 160, 120, 8, 4, 0, false,
       [=](int x, int y) { return inRect(x, y, 8, 4, 160, 120) ? std::pair{(x - 8) * 2 + 1, (y - 4) * 2 + 1} : std::pair{-1, -1}; }},
      {"closed display: nothing", 0, 0, 0, 0, 320, 240, 0, 0, 0, 0, 0, true,
       [](int, int) { return std::pair{-1, -1}; }},
      {"closed display with flag 16", 0, 0, 0, 0, 8, 8, 0, 0, 0, 0, PRESENT_EVEN_IF_CLOSED, true,
       [=](int x, int y) { return inRect(x, y, 0, 0, 8, 8) ? std::pair{x, y} : std::pair{-1, -1}; }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Clear();
    display->marginLeft = row.ml;
    display->marginTop = row.mt;
    display->state = row.closed ? DISPSTATE_CLOSED : DISPSTATE_OPEN;
    PresentBackBuffer(bitmap, row.sx, row.sy, display, row.dx, row.dy, row.w, row.h, row.sw, row.sh, row.flags);
    int bad = 0;
    for (int y = 0; y < 480 && bad < 5; y++)
      for (int x = 0; x < 640 && bad < 5; x++) {
        auto [px, py] = row.source(x, y);
        uint32_t want = px < 0 ? kBackground : Colour(px, py);
        if (At(x, y) != want) {
          ADD_FAILURE() << "at " << x << "," << y << ": " << std::hex << At(x, y) << " want " << want;
          bad++;
        }
      }
  }
  display->marginLeft = display->marginTop = 0;
  display->state = DISPSTATE_OPEN;
}

TEST_F(PresentTest, DirectDrawingAndPendingRectangles) {
  FillPlatformRect(display, 10, 10, 4, 3, 0x123456);
  PlotPlatformPixel(display, 0, 0, 0xFF0000);
  DrawPlatformLine(display, 20, 20, 24, 22, 0x00FF00);
  EXPECT_EQ(At(10, 10), 0x123456u);
  EXPECT_EQ(At(13, 12), 0x123456u);
  EXPECT_EQ(At(14, 12), kBackground);
  EXPECT_EQ(At(0, 0), 0xFF0000u);
  EXPECT_EQ(At(20, 20), 0x00FF00u);
  EXPECT_EQ(At(24, 22), 0x00FF00u);
  EXPECT_EQ(pw->pendingCount, 3);
  PushPendingWindowUpdates();
  EXPECT_EQ(pw->pendingCount, 0);
  for (int i = 0; i < 40; i++) PlotPlatformPixel(display, i, 100, 0xFFFFFF);
  EXPECT_EQ(pw->pendingCount, kMaxPendingRects) << "many small changes merge into the last rectangle";
  EXPECT_EQ(pw->pending[kMaxPendingRects - 1].width, 40 - (kMaxPendingRects - 1));
}

// A picture shown but held by the window instead of copied to the kept picture: whatever would
// write over the window's pixels or lose its surface first brings them back into the kept
// picture (unused bytes 0); a refresh pushes them again, and a drop forgets them, without a copy.
TEST_F(PresentTest, HeldPixelsComeBackBeforeTheyCouldBeLost) {
  const int hx = 8, hy = 6, hw = 200, hh = 100;
  auto back = [](int x, int y) {
    const uint32_t c = Colour(x, y);
    return ((c >> 16) & 255) << 8 | ((c >> 8) & 255) << 16 | (c & 255) << 24;
  };
  const struct {
    const char *name;
    std::function<void()> act;
    bool restored;   // the kept picture has the pixels back after act
    bool heldAfter;  // the window still holds them after act
  } rows[] = {
      {"a fill over it", [&] { FillPlatformRect(display, 50, 50, 4, 4, 0xFFFFFF); }, true, false},
      {"a line across it", [&] { DrawPlatformLine(display, 0, 0, 30, 30, 0xFFFFFF); }, true, false},
      {"another picture presented", [&] { PresentBackBuffer(bitmap, 0, 0, display, 100, 100, 8, 8, 0, 0, 0); }, true, false},
      {"the window sized", [&] { display->width = 600, SetPlatformWindowBounds(display); }, true, false},
      {"a size change reported",
       [&] {
         SDL_Event e{};
         e.type = SDL_WINDOWEVENT;
         e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
         e.window.windowID = pw->windowId;
         HandleSystemEvent(&e, nullptr);
       },
       true, false},
      {"the window closed", [&] { ClosePlatformWindow(display); }, true, false},
      {"the windows faded out and in", [&] { FadeDisplayIn(FadeDisplayOut()); }, true, false},
      {"asked for", [&] { RestoreHeldBackBuffer(display); }, true, false},
      {"dropped, then written over",
       [&] { DropHeldBackBuffer(display, keep), FillPlatformRect(display, 50, 50, 4, 4, 0xFFFFFF); }, false, false},
      {"pushed again", [&] { EXPECT_TRUE(RepushHeldBackBuffer(display, keep, hx + 10, hy, 20, hh)); }, false, true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    if (!pw->window) {
      ASSERT_EQ(OpenPlatformWindow(display, 0, nullptr, nullptr, 0), 0u);
    }
    display->width = 640;
    SetPlatformWindowBounds(display);
    display->marginLeft = 3, display->marginTop = 4;
    Clear();
    for (int y = 0; y < 240; y++)
      for (int x = 0; x < 320; x++) keep->pixels[y * (keep->bytesPerRow / 4) + x] = 0x5A5A5A5Au;
    pw->pendingCount = 0;
    ASSERT_TRUE(PresentBackBufferHeld(bitmap, display, hx, hy, hw, hh, keep));
    EXPECT_EQ(At(hx + 3, hy + 4), Colour(hx, hy)) << "shown";
    EXPECT_EQ(At(hx + hw + 2, hy + hh + 3), Colour(hx + hw - 1, hy + hh - 1));
    EXPECT_EQ(pw->pendingCount, 1);
    row.act();
    for (int y = 0; y < 240; y++)
      for (int x = 0; x < 320; x++) {
        const bool in = row.restored && x >= hx && x < hx + hw && y >= hy && y < hy + hh;
        ASSERT_EQ(keep->pixels[y * (keep->bytesPerRow / 4) + x], in ? back(x, y) : 0x5A5A5A5Au) << x << "," << y;
      }
    RestoreHeldBackBuffer(display);
    EXPECT_EQ(keep->pixels[hy * (keep->bytesPerRow / 4) + hx], row.restored || row.heldAfter ? back(hx, hy) : 0x5A5A5A5Au)
        << "brought back at last where still held";
    EXPECT_EQ(pw->held.pixels, nullptr);
  }
  display->marginLeft = display->marginTop = 0;
  display->state = DISPSTATE_OPEN;
}

// The desktop closing takes the window's surface: what it held comes back first.
TEST_F(PresentTest, HeldPixelsComeBackWhenTheDesktopCloses) {
  ASSERT_TRUE(PresentBackBufferHeld(bitmap, display, 0, 0, 320, 240, keep));
  ShutdownDesktop();
  for (auto [x, y] : {std::pair{0, 0}, {100, 50}, {319, 239}})
    EXPECT_EQ(__builtin_bswap32(keep->pixels[y * (keep->bytesPerRow / 4) + x]), Colour(x, y)) << x << "," << y;
}

// Rectangles of the kept picture while the window holds part of it: one inside goes to the window
// only and stays held; one reaching outside brings the held pixels back first; one covering all
// that is held needs nothing back. Refused rectangles leave everything as it was.
TEST_F(PresentTest, RectanglesBesideHeldPixels) {
  qmBitmap *other = AllocBitmap(320, 240);
  ASSERT_NE(other, nullptr);
  for (int y = 0; y < 240; y++)
    for (int x = 0; x < 320; x++) SetBitmapPixel(other, x, y, 0x00FF00, 0);
  auto keepAt = [&](int x, int y) { return __builtin_bswap32(keep->pixels[y * (keep->bytesPerRow / 4) + x]) & 0xFFFFFFu; };
  auto fresh = [&] {
    Clear();
    for (int y = 0; y < 240; y++)
      for (int x = 0; x < 320; x++) SetBitmapPixel(keep, x, y, 0x0000FF, 0);
    ASSERT_TRUE(PresentBackBufferHeld(bitmap, display, 10, 10, 100, 100, keep));
  };

  fresh();
  ASSERT_TRUE(PresentBackBufferKeeping(other, display, 20, 20, 5, 5, keep));
  EXPECT_EQ(At(20, 20), 0x00FF00u);
  EXPECT_EQ(keepAt(20, 20), 0x0000FFu) << "inside: the window only";
  RestoreHeldBackBuffer(display);
  EXPECT_EQ(keepAt(20, 20), 0x00FF00u);
  EXPECT_EQ(keepAt(30, 30), Colour(30, 30));

  fresh();
  ASSERT_TRUE(PresentBackBufferKeeping(other, display, 100, 100, 20, 20, keep));
  EXPECT_EQ(keepAt(50, 50), Colour(50, 50)) << "across: brought back first";
  EXPECT_EQ(keepAt(105, 105), 0x00FF00u);
  EXPECT_EQ(keepAt(115, 115), 0x00FF00u);

  fresh();
  ASSERT_TRUE(PresentBackBufferKeeping(other, display, 0, 0, 200, 200, keep));
  for (auto [x, y] : {std::pair{0, 0}, {50, 50}, {199, 199}}) EXPECT_EQ(keepAt(x, y), 0x00FF00u) << "covering";
  EXPECT_EQ(keepAt(250, 50), 0x0000FFu);

  fresh();
  ASSERT_TRUE(PresentBackBufferHeld(other, display, 0, 0, 320, 240, keep)) << "holding more";
  EXPECT_EQ(keepAt(50, 50), 0x0000FFu);
  EXPECT_FALSE(PresentBackBufferHeld(bitmap, display, 0, 0, 321, 240, keep)) << "wider than the picture";
  display->marginLeft = 400;
  EXPECT_FALSE(PresentBackBufferHeld(bitmap, display, 0, 0, 320, 240, keep)) << "past the window's edge";
  display->marginLeft = 0;
  EXPECT_EQ(keepAt(50, 50), 0x0000FFu) << "refusals changed nothing";
  RestoreHeldBackBuffer(display);
  EXPECT_EQ(keepAt(50, 50), 0x00FF00u);
  EXPECT_EQ(keepAt(319, 239), 0x00FF00u);
  FreeBitmap(other);
}

TEST_F(PresentTest, PacingAtTheRefreshRate) {
  FlushDisplayWindow(display);
  FakeClock::slept = 0;
  FakeClock::Advance(5000);
  FlushDisplayWindow(display);
  EXPECT_EQ(FakeClock::slept, 16666u - 5000u);
  FakeClock::slept = 0;
  FakeClock::Advance(20000);  // a slow frame sleeps nothing
  FlushDisplayWindow(display);
  EXPECT_EQ(FakeClock::slept, 0u);
}

TEST_F(PresentTest, LimitAboveRefreshShowsNewestFrameOncePerRefresh) {
  SetPlatformAttr(display, PLATATTR_FRAMERATE, 120);
  FlushDisplayWindow(display);
  int shown = 0;
  for (int frame = 0; frame < 12; frame++) {
    FakeClock::slept = 0;
    PlotPlatformPixel(display, frame, 0, 0xFFFFFF);
    FlushDisplayWindow(display);
    EXPECT_EQ(FakeClock::slept, 8333u) << "paced at the limit";
    if (pw->pendingCount == 0) shown++;
  }
  EXPECT_GE(shown, 5);  // 12 frames at 120 Hz are 100 ms: six refresh periods
  EXPECT_LE(shown, 7);
  SetPlatformAttr(display, PLATATTR_FRAMERATE, 0);
}

}  // namespace
}  // namespace sdltest
