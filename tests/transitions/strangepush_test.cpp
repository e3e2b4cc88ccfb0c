// The strange push drawn frame by frame: every pixel of a frame against where the formula of the
// effect puts the new picture's rows, on the display and in a layer taken away.
#include <string>
#include <vector>

#include "display/brush.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxtable.h"

namespace {

constexpr int kW = 48, kH = 30;      // the display
constexpr int kAx = 5, kAy = 4;      // the brush's place
constexpr int kAw = 31, kAh = 20;    // the brush: odd and even sides
constexpr int kBack = 3, kNew = 8;   // pattern seeds

bool Shows(int x, int y) { return (x + 2 * y) % 3 != 0; }

// Where the new picture's pixel at area position (px, py) comes from at distance c, or false
// when the old picture shows there: odd rows from the left (top), even rows from the right
// (bottom), each row keeping its parity in the source.
bool Source(int32_t effect, int c, int px, int py, int *sx, int *sy) {
  if (effect == FX_HSTRANGEPUSH) {
    *sy = py;
    if (py % 2 == 1 && px < c) return *sx = kAw - c + px, true;
    if (py % 2 == 0 && px >= kAw - c) return *sx = px - (kAw - c), true;
    return false;
  }
  *sx = px;
  if (py < c && (kAh - c + py) % 2 == 1) return *sy = kAh - c + py, true;
  if (py >= kAh - c && (py - (kAh - c)) % 2 == 0) return *sy = py - (kAh - c), true;
  return false;
}

TEST(StrangePush, EveryFrameShowsTheRowsWhereTheyStand) {
  struct Row {
    int32_t effect;
    bool masked;
    bool hides;  // the brush shown as a layer, then taken away
  };
  const Row rows[] = {
      {FX_HSTRANGEPUSH, false, false}, {FX_VSTRANGEPUSH, false, false}, {FX_HSTRANGEPUSH, true, false},
      {FX_VSTRANGEPUSH, true, false},  {FX_HSTRANGEPUSH, false, true},  {FX_VSTRANGEPUSH, true, true},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(std::to_string(r.effect) + (r.masked ? " masked" : " opaque") + (r.hides ? " hidden" : " shown"));
    FxVm vm(kW, kH, r.hides);
    vm.MakeBGPic(3, kW, kH, kBack);
    ASSERT_EQ(vm.Call("DisplayBGPic", {3}).code, 0u);
    qmBrush *b = vm.MakeBrush(1, kAw, kAh, kNew);
    ASSERT_NE(b, nullptr);
    if (r.masked) {
      b->mask = AllocMask(kAw, kAh, 1);
      b->transparentColor = kOwnMaskColor;
      for (int y = 0; y < kAh; y++)
        for (int x = 0; x < kAw; x++)
          if (Shows(x, y)) b->mask->memory[y * b->mask->bytesPerRow + x / 8] |= uint8_t(0x80 >> (x % 8));
    }
    // Speed 5 is odd: the step is 6.
    const int32_t step = 6, reach = r.effect == FX_HSTRANGEPUSH ? kAw : kAh;
    if (r.hides) {
      ASSERT_EQ(vm.Call("DisplayBrush", {1, kAx, kAy}).code, 0u);
      vm.StartCapture();
      ASSERT_EQ(vm.Call("HideLayerFX", {1, r.effect, 5}).code, 0u);
    } else {
      vm.StartCapture();
      ASSERT_EQ(vm.Call("DisplayBrushFX", {1, kAx, kAy, r.effect, 5}).code, 0u);
    }
    const auto &frames = FxVm::Frames();
    ASSERT_EQ(frames.size(), size_t((reach + step - 1) / step));
    for (size_t f = 0; f < frames.size(); f++) {
      const int k = int(f) + 1;
      int c = r.hides ? reach - k * step : k * step;
      c = c < 0 ? 0 : c > reach ? reach : c;
      for (int y = 0; y < kH; y++)
        for (int x = 0; x < kW; x++) {
          const int px = x - kAx, py = y - kAy;
          int sx = 0, sy = 0;
          const bool inArea = px >= 0 && py >= 0 && px < kAw && py < kAh;
          const bool fresh = inArea && Source(r.effect, c, px, py, &sx, &sy) && (!r.masked || Shows(sx, sy));
          const uint32_t want = fresh ? FxVm::Pattern(kNew, sx, sy) : FxVm::Pattern(kBack, x, y);
          ASSERT_EQ(frames[f][size_t(y) * kW + x], want) << "frame " << k << " at " << x << "," << y;
        }
    }
  }
}

}  // namespace
