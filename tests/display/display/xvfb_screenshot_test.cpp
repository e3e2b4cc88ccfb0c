// A real window on an X server of its own: what the screen shows, read back with xwd, equals
// the display's picture pixel for pixel.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "display/displayops.h"
#include "display/scene.h"
#include "platform/eventpump.h"
#include "display/displaywindow.h"
#include "player/event/event_pump.h"
#include "runtime/context.h"
#include "tests/display/display_vm.h"
#include "tests/platform/tempdir.h"
#include "tests/platform/xvfb_server.h"

namespace {

// An X window dump in Z format: the header's 25 big-endian words, the window name, the colour
// entries, then rows of pixels.
struct WindowDump {
  uint32_t width = 0, height = 0, bytesPerLine = 0, bitsPerPixel = 0, byteOrder = 0;
  uint32_t masks[3] = {};
  std::vector<uint8_t> pixels;

  bool Read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto word = [&](size_t i) {
      return uint32_t(b[4 * i]) << 24 | uint32_t(b[4 * i + 1]) << 16 | uint32_t(b[4 * i + 2]) << 8 | b[4 * i + 3];
    };
    if (b.size() < 100 || word(1) != 7 || word(2) != 2) return false;
    width = word(4);
    height = word(5);
    byteOrder = word(7);
    bitsPerPixel = word(11);
    bytesPerLine = word(12);
    masks[0] = word(14);
    masks[1] = word(15);
    masks[2] = word(16);
    const size_t start = size_t(word(0)) + size_t(word(19)) * 12;
    if (b.size() < start + size_t(bytesPerLine) * height) return false;
    pixels.assign(b.begin() + long(start), b.end());
    return true;
  }
  // 0xRRGGBB of the pixel at (x, y), for 24 or 32 bits per pixel.
  uint32_t At(uint32_t x, uint32_t y) const {
    const uint32_t n = bitsPerPixel / 8;
    const uint8_t *p = &pixels[size_t(y) * bytesPerLine + size_t(x) * n];
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; i++) v |= uint32_t(p[i]) << (8 * (byteOrder == 0 ? i : n - 1 - i));
    uint32_t rgb = 0;
    for (uint32_t m : masks) {
      const uint32_t shift = uint32_t(__builtin_ctz(m));
      rgb = rgb << 8 | ((v & m) >> shift);
    }
    return rgb;
  }
};

TEST(XvfbScreenshot, TheScreenShowsTheBackBuffer) {
  int number = 0;
  ServerGuard xvfb{StartXvfb(&number)};
  if (xvfb.pid < 0) GTEST_SKIP() << "Xvfb cannot start here";
  if (access("/usr/bin/xwd", X_OK) != 0) GTEST_SKIP() << "no xwd";
  const std::string display = ":" + std::to_string(number);
  setenv("DISPLAY", display.c_str(), 1);
  TempDir dir;
  const std::string dumpPath = dir.path() + "/screen.xwd";
  {
    [[maybe_unused]] LeakCheckPause pause;
    DisplayVm vm("x11");
    // A gradient picture: every pixel differs from its neighbours, so a shift would show.
    ASSERT_EQ(vm.Create(1, [&] {
      vm.Set("width", 96), vm.Set("height", 64), vm.Set("borderless", 1), vm.Set("x", 0), vm.Set("y", 0),
          vm.Set("fillstyle", 2), vm.Set("gradientstyle", 2), vm.Set("gradientangle", 30), vm.Set("gradientstartcolor", 0xFF2000),
          vm.Set("gradientendcolor", 0x0030FF);
    }).code, 0u);
    ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
    qmDisplay *d = DisplayVm::Display(1);
    // The window maps; then it is drawn once more and pushed to the screen.
    for (int i = 0; i < 20; i++) WaitEvents(vm.L, 20);
    RefreshDisplay(GetPlayerContext(vm.L)->scene, d, 0);
    FlushDisplayWindow(d);
    for (int i = 0; i < 5; i++) WaitEvents(vm.L, 20);
    int wx = 0, wy = 0;
    SDL_GetWindowPosition(d->platform->window, &wx, &wy);
    const std::string cmd = "xwd -root -silent -display " + display + " -out " + dumpPath;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    WindowDump dump;
    ASSERT_TRUE(dump.Read(dumpPath));
    ASSERT_TRUE(dump.bitsPerPixel == 24 || dump.bitsPerPixel == 32) << dump.bitsPerPixel;
    ASSERT_LE(uint32_t(wx + 96), dump.width);
    ASSERT_LE(uint32_t(wy + 64), dump.height);
    int differing = 0;
    for (int y = 0; y < 64; y++)
      for (int x = 0; x < 96; x++)
        differing += dump.At(uint32_t(wx + x), uint32_t(wy + y)) != DisplayVm::BitmapPixel(d->backgroundCopy, x, y);
    EXPECT_EQ(differing, 0) << "of " << 96 * 64 << " pixels at " << wx << "," << wy;
    EXPECT_NE(DisplayVm::BitmapPixel(d->backgroundCopy, 0, 0), DisplayVm::BitmapPixel(d->backgroundCopy, 95, 63));
  }
}

}  // namespace
