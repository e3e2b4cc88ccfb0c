// The scrolls drawn frame by frame: every pixel of a frame against where a straight move of the
// given speed puts the picture (from just outside the display to its place, or from its place
// out for a layer taken away), on the display and in a layer; and the layer's place afterwards.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "display/brush.h"
#include "runtime/errcodes.h"
#include "layers/layer.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxrunner.h"
#include "transitions/fxtable.h"

namespace {

constexpr int kW = 48, kH = 30;    // the display
constexpr int kAx = 5, kAy = 4;    // the brush's place
constexpr int kAw = 31, kAh = 20;  // the brush: odd and even sides
constexpr int kBack = 3, kNew = 8;  // pattern seeds
constexpr int kSpeed = 4;           // pixels a frame along the leading axis

bool Shows(int x, int y) { return (x + 2 * y) % 3 != 0; }

// One axis of a straight move of n steps from a to b: the leading axis goes kSpeed a step (the
// last step cut at b); the other spreads its distance evenly, the spare pixels over the first
// steps.
int Along(int a, int b, int k, int n, bool leading) {
  const int dist = b > a ? b - a : a - b, sign = b > a ? 1 : -1;
  const int gone = leading ? std::min(k * kSpeed, dist) : k * (dist / n) + std::min(k, dist % n);
  return a + sign * gone;
}

TEST(Scroll, EveryFrameShowsThePictureWhereTheMovePutsIt) {
  struct Row {
    int32_t effect;
    bool masked;
    bool hides;  // the brush shown as a layer, then taken away
    int startX, startY;  // just outside the display
  };
  const Row rows[] = {
      {FX_SCROLLLEFT, false, false, -kAw, kAy},    {FX_SCROLLRIGHT, true, false, kW, kAy},
      {FX_SCROLLTOP, false, false, kAx, -kAh},     {FX_SCROLLBOTTOM, true, false, kAx, kH},
      {FX_SCROLLNORTHWEST, true, false, -kAw, -kAh}, {FX_SCROLLSOUTHEAST, false, false, kW, kH},
      {FX_SCROLLLEFT, true, true, -kAw, kAy},      {FX_SCROLLBOTTOM, false, true, kAx, kH},
      {FX_SCROLLNORTHEAST, false, true, kW, -kAh},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(std::to_string(r.effect) + (r.masked ? " masked" : " opaque") + (r.hides ? " hidden" : " shown"));
    FxVm vm(kW, kH, r.hides);
    vm.MakeBGPic(3, kW, kH, kBack);
    ASSERT_EQ(vm.Call("DisplayBGPic", {3}).code, 0u);
    qmBrush *b = vm.MakeBrush(1, kAw, kAh, kNew);
    ASSERT_NE(b, nullptr);
    if (r.masked) FxVm::MaskBrush(b, Shows);
    int x0 = r.startX, y0 = r.startY, x1 = kAx, y1 = kAy;
    if (r.hides) {
      std::swap(x0, x1), std::swap(y0, y1);
      ASSERT_EQ(vm.Call("DisplayBrush", {1, kAx, kAy}).code, 0u);
      vm.StartCapture();
      ASSERT_EQ(vm.Call("HideLayerFX", {1, r.effect, kSpeed}).code, 0u);
    } else {
      vm.StartCapture();
      ASSERT_EQ(vm.Call("DisplayBrushFX", {1, kAx, kAy, r.effect, kSpeed}).code, 0u);
    }
    // The wider picture leads along x, unless the move is vertical only.
    const int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
    const bool xLeads = dx != 0 && (dy == 0 || kAw > kAh);
    const int n = ((xLeads ? dx : dy) + kSpeed - 1) / kSpeed;
    const auto &frames = FxVm::Frames();
    ASSERT_EQ(frames.size(), size_t(n));
    for (size_t f = 0; f < frames.size(); f++) {
      const int k = int(f) + 1;
      const int px0 = Along(x0, x1, k, n, xLeads), py0 = Along(y0, y1, k, n, !xLeads);
      for (int y = 0; y < kH; y++)
        for (int x = 0; x < kW; x++) {
          const int px = x - px0, py = y - py0;
          const bool on = px >= 0 && py >= 0 && px < kAw && py < kAh && (!r.masked || Shows(px, py));
          const uint32_t want = on ? FxVm::Pattern(kNew, px, py) : FxVm::Pattern(kBack, x, y);
          ASSERT_EQ(frames[f][size_t(y) * kW + x], want) << "frame " << k << " at " << x << "," << y;
        }
    }
    if (r.hides) {
      // Hidden, and back at its place for when it is shown again.
      const qmLayer *l = GetNthLayer(vm.d->bgpic, 1);
      ASSERT_NE(l, nullptr);
      EXPECT_EQ(l->hidden, 1);
      EXPECT_EQ(l->current->x, kAx);
      EXPECT_EQ(l->current->y, kAy);
      EXPECT_EQ(vm.Window(), std::vector<uint32_t>(frames.back()));
    }
    EXPECT_EQ(b->lock, 0u) << "the brush is no longer held";
  }
}

TEST(Scroll, TheParameterNamesTheMovesPath) {
  // BOUNCE overshoots its place and swings back: some frame shows the picture's left column
  // right of its place, and the last one has it home; the straight path (parameter -1 taken as
  // the line) never passes it.
  for (int32_t parameter : {-1, 1}) {
    SCOPED_TRACE(parameter);
    FxVm vm(kW, kH);
    vm.MakeBGPic(3, kW, kH, kBack);
    ASSERT_EQ(vm.Call("DisplayBGPic", {3}).code, 0u);
    ASSERT_NE(vm.MakeBrush(1, 8, 6, kNew), nullptr);
    vm.StartCapture();
    ASSERT_EQ(vm.Call("DisplayBrushFX", {1, kAx, kAy, FX_SCROLLLEFT, kSpeed, parameter}).code, 0u);
    const auto &frames = FxVm::Frames();
    ASSERT_FALSE(frames.empty());
    bool passed = false;
    for (const auto &f : frames)
      for (int x = kAx + 1; x < kW; x++) passed |= f[size_t(kAy) * kW + x] == FxVm::Pattern(kNew, 0, 0);
    EXPECT_EQ(passed, parameter == 1);
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) {
        const bool on = x >= kAx && y >= kAy && x < kAx + 8 && y < kAy + 6;
        ASSERT_EQ(frames.back()[size_t(y) * kW + x], on ? FxVm::Pattern(kNew, x - kAx, y - kAy) : FxVm::Pattern(kBack, x, y));
      }
  }
}

TEST(Scroll, ASpeedTheMoveRefusesFailsAndHoldsNothing) {
  // 0 and DEFAULTSPEED name no move speed.
  for (int32_t speed : {0, -4}) {
    SCOPED_TRACE(speed);
    FxVm vm(40, 30);
    qmBrush *b = vm.MakeBrush(1, 20, 10, kNew);
    ASSERT_NE(b, nullptr);
    const std::vector<uint32_t> before = vm.Window();
    EXPECT_EQ(vm.Call("DisplayBrushFX", {1, 3, 2, FX_SCROLLTOP, speed}).code, uint32_t(ERR_WRONGUSAGE));
    EXPECT_EQ(b->lock, 0u);
    EXPECT_EQ(vm.Window(), before);
  }
}

TEST(Scroll, ARandomEffectMayBeAScroll) {
  // The draw lands on SCROLLLEFT: 20 columns from -20 to 3 at 10 a frame.
  FxVm vm(40, 30);
  ASSERT_NE(vm.MakeBrush(1, 20, 10, kNew), nullptr);
  vm.StartCapture();
  qmFxRequest r{};
  r.scene = vm.Scene();
  r.uniform = [] { return (double(FX_SCROLLLEFT) + 0.5) / 141.0; };
  r.objectType = FXTARGET_BRUSH;
  r.objectId = {1, 0};
  r.x = 3, r.y = 2;
  r.effect = FX_RANDOMEFFECT;
  r.step = FX_NORMALSPEED;
  r.parameter = FX_RANDOMPARAMETER;
  r.bgpicX = r.bgpicY = 99999;
  ASSERT_EQ(RunTransition(&r, nullptr), 0u);
  EXPECT_EQ(FxVm::Frames().size(), 3u);
}

}  // namespace
