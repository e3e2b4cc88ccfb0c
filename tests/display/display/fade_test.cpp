// Fades of the player's windows around screen-mode switches, on the dummy desktop with a clock
// of the test's own: every step of the fade is read back from the window.
#include <gtest/gtest.h>

#include <vector>

#include "display/display/displaylib.h"
#include "display/displaywindow.h"
#include "platform/window.h"
#include "tests/display/display_vm.h"

namespace {

uint64_t gNow = 1000000;
SDL_Window *gWatched = nullptr;
std::vector<uint32_t> gSteps;  // the watched pixel at every step, $RRGGBB

uint32_t WatchedPixel() {
  SDL_Surface *s = SDL_GetWindowSurface(gWatched);
  if (!s || SDL_LockSurface(s) != 0) return 0xFFFFFFFFu;
  const uint32_t p = *reinterpret_cast<const uint32_t *>(static_cast<const uint8_t *>(s->pixels) + 5 * s->pitch + 5 * 4);
  SDL_UnlockSurface(s);
  uint8_t r, g, b;
  SDL_GetRGB(p, s->format, &r, &g, &b);
  return uint32_t(r) << 16 | uint32_t(g) << 8 | b;
}

void FakeNow(qmTimeval *t) { *t = {uint32_t(gNow / 1000000), uint32_t(gNow % 1000000)}; }
void FakeSleep(uint32_t us) {
  gSteps.push_back(WatchedPixel());
  gNow += us;
}

// The red channel of every step: each step at most as bright as the one before (or, rising,
// at least as bright), with at least a few distinct levels between the ends.
bool Monotonic(const std::vector<uint32_t> &steps, bool rising) {
  int distinct = 0;
  for (size_t i = 1; i < steps.size(); i++) {
    const uint32_t a = steps[i - 1] >> 16, b = steps[i] >> 16;
    if (rising ? b < a : b > a) return false;
    distinct += a != b;
  }
  return distinct >= 5;
}

TEST(Fade, OutToBlackAndBackIn) {
  DisplayVm vm;
  SetDesktopClock(FakeNow, FakeSleep);
  ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 40), vm.Set("height", 30), vm.Set("color", 0xC06020); }).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  qmDisplay *d = DisplayVm::Display(1);
  gWatched = d->platform->window;
  ASSERT_EQ(WatchedPixel(), 0xC06020u);

  gSteps.clear();
  const uint64_t start = gNow;
  const uint32_t token = FadeDisplayOut();
  EXPECT_NE(token, 0u);
  EXPECT_GE(gNow - start, 500000u);  // half a second
  EXPECT_LT(gNow - start, 600000u);
  EXPECT_TRUE(Monotonic(gSteps, false));
  EXPECT_EQ(WatchedPixel(), 0u);
  // The fader is taken: a second fade gets no token, and fading in with none changes nothing.
  EXPECT_EQ(FadeDisplayOut(), 0u);
  FadeDisplayIn(0);
  EXPECT_EQ(WatchedPixel(), 0u);

  // As after a mode switch, the window is opened again and shows its picture: the fade brings
  // that up from black.
  ASSERT_EQ(vm.Call("CloseDisplay", {1}).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  gWatched = d->platform->window;
  gSteps.clear();
  const uint64_t in = gNow;
  FadeDisplayIn(token);
  EXPECT_GE(gNow - in, 1000000u);  // a second
  EXPECT_LT(gNow - in, 1100000u);
  EXPECT_TRUE(Monotonic(gSteps, true));
  EXPECT_EQ(WatchedPixel(), 0xC06020u);

  // A fader never given back is free again after ten seconds.
  const uint32_t held = FadeDisplayOut();
  EXPECT_NE(held, 0u);
  EXPECT_EQ(FadeDisplayOut(), 0u);
  gNow += 10000000;
  const uint32_t again = FadeDisplayOut();
  EXPECT_NE(again, 0u);
  FadeDisplayIn(again);
  SetDesktopClock(nullptr, nullptr);
}

TEST(Fade, AroundAScreenModeSwitch) {
  DisplayVm vm;
  SetDesktopClock(FakeNow, FakeSleep);
  ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 40), vm.Set("height", 30), vm.Set("color", 0xC06020); }).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  gWatched = DisplayVm::Display(1)->platform->window;
  gSteps.clear();
  const uint64_t start = gNow;
  ASSERT_EQ(ApplyScreenModeCore(vm.L, 1, 640, 480), 0u);
  // Out before the window goes, in once the new one shows the picture.
  EXPECT_GE(gNow - start, 1500000u);
  gWatched = DisplayVm::Display(1)->platform->window;
  EXPECT_NE(WatchedPixel(), 0u);
  ASSERT_EQ(ApplyScreenModeCore(vm.L, 0, 0, 0), 0u);
  SetDesktopClock(nullptr, nullptr);
}

}  // namespace
