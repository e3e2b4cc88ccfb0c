// GrabDesktop on an X server of its own: the grabbed brush holds what the window shows, cut to
// the desktop; without an X server there is nothing to grab.
#include <gtest/gtest.h>

#include <cstdlib>

#include "display/displayops.h"
#include "runtime/attributes.h"
#include "platform/eventpump.h"
#include "display/displaywindow.h"
#include "player/event/event_pump.h"
#include "runtime/errcodes.h"
#include "tests/display/display_vm.h"
#include "tests/platform/xvfb_server.h"

namespace {

CommandCall Grab(DisplayVm &vm, double id, const std::function<void()> &fill) {
  return vm.CallWith("grabdesktop", [&] {
    vm_pushnumber(vm.L, id);
    if (!fill) return 1;
    vm_newtable(vm.L);
    fill();
    return 2;
  });
}

TEST(GrabDesktop, TheBrushHoldsWhatTheScreenShows) {
  int number = 0;
  ServerGuard xvfb{StartXvfb(&number)};
  if (xvfb.pid < 0) GTEST_SKIP() << "Xvfb cannot start here";
  setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
  [[maybe_unused]] LeakCheckPause pause;
  DisplayVm vm("x11");
  ASSERT_EQ(vm.Create(1, [&] {
    vm.Set("width", 48), vm.Set("height", 32), vm.Set("borderless", 1), vm.Set("x", 0), vm.Set("y", 0),
        vm.Set("fillstyle", 2), vm.Set("gradientstyle", 2), vm.Set("gradientangle", 30),
        vm.Set("gradientstartcolor", 0xFF2000), vm.Set("gradientendcolor", 0x0030FF);
  }).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  qmDisplay *d = DisplayVm::Display(1);
  for (int i = 0; i < 20; i++) WaitEvents(vm.L, 20);
  RefreshDisplay(vm.L, d, 0);
  FlushDisplayWindow(d);
  for (int i = 0; i < 5; i++) WaitEvents(vm.L, 20);
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(d->platform->window, &wx, &wy);

  ASSERT_EQ(Grab(vm, 1, [&] { vm.Set("x", wx), vm.Set("y", wy), vm.Set("width", 48), vm.Set("height", 32); }).code,
            0u);
  int differing = 0;
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 48; x++)
      differing += vm.Call("ReadBrushPixel", {1, x, y}).results.at(0) !=
                   double(DisplayVm::BitmapPixel(d->backgroundCopy, x, y));
  EXPECT_EQ(differing, 0);

  // The whole desktop without a table; a strip at the right edge is cut to the desktop.
  ASSERT_EQ(Grab(vm, 2, nullptr).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {3, 2, ATTRWIDTH}).results.at(0), 800);
  EXPECT_EQ(vm.Call("GetAttribute", {3, 2, ATTRHEIGHT}).results.at(0), 600);
  ASSERT_EQ(Grab(vm, 3, [&] { vm.Set("x", 790), vm.Set("width", 100); }).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {3, 3, ATTRWIDTH}).results.at(0), 10);
  EXPECT_EQ(Grab(vm, 4, [&] { vm.Set("x", -1); }).code, ERR_WRONGUSAGE);
  EXPECT_EQ(Grab(vm, 4, [&] { vm.Set("x", 800); }).code, ERR_WRONGUSAGE);
}

TEST(GrabDesktop, WithoutAnXServerNothingIsGrabbed) {
  const char *saved = getenv("DISPLAY");
  const std::string keep = saved ? saved : "";
  unsetenv("DISPLAY");
  {
    DisplayVm vm;
    EXPECT_EQ(Grab(vm, 1, nullptr).code, ERR_MEM);
    EXPECT_EQ(vm.Call("GetAttribute", {3, 0, ATTRCOUNT}).results.at(0), 0);
  }
  if (saved) setenv("DISPLAY", keep.c_str(), 1);
}

}  // namespace
