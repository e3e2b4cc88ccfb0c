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
#include "tests/display/display/window_dump.h"
#include "tests/display/display_vm.h"
#include "tests/platform/tempdir.h"
#include "tests/platform/xvfb_server.h"

namespace {

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
