// Masked pictures in the roll and the warps: a roll's band lies over the new picture (not the old
// one) where the roll itself shows nothing, on the display and in a layer's planes; and water and
// strudel move a masked layer's outline with its pixels.
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "display/brush.h"
#include "layers/layer.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxtable.h"

namespace {

constexpr int kBack = 3, kNew = 8;  // pattern seeds

bool Shows(int x, int y) { return (x + 2 * y) % 3 != 0; }

TEST(MaskedFx, RollBandLiesOverTheNewPicture) {
  // ROLLTOP at 2 rows a frame on 48 rows: the table has n = 20 entries, entry k the angle
  // asin(1 - 2k / n) + pi / 2; band row p - n + 1 + k shows the picture's row p + trunc(angle n /
  // 2 pi) where both lie inside. Before the band the new picture lies flat through its mask;
  // under the band the band's own pixels where their mask shows, else the flat new picture, else
  // the old one; after it the old picture.
  const int W = 30, H = 48, n = 20;
  for (bool inLayer : {false, true}) {
    SCOPED_TRACE(inLayer ? "in a layer" : "on the display");
    FxVm vm(W, H, inLayer);
    vm.MakeBGPic(3, W, H, kBack);
    ASSERT_EQ(vm.Call("DisplayBGPic", {3}).code, 0u);
    qmBrush *b = vm.MakeBrush(1, W, H, kNew);
    ASSERT_NE(b, nullptr);
    FxVm::MaskBrush(b, Shows);
    if (inLayer) {
      ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
      ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
      vm.StartCapture();
      ASSERT_EQ(vm.Call("ShowLayerFX", {1, FX_ROLLTOP}).code, 0u);
    } else {
      vm.StartCapture();
      ASSERT_EQ(vm.Call("DisplayBrushFX", {1, 0, 0, FX_ROLLTOP}).code, 0u);
    }
    ASSERT_EQ(FxVm::Frames().size(), 24u);
    for (int k = 1; k <= 23; k++) {
      const int p = 2 * k;
      std::vector<int> source(H, -1);  // per row: the picture's row the band shows there
      for (int i = 0; i < n; i++) {
        const int row = p - n + 1 + i;
        const int from = p + int(std::trunc((std::asin(1.0 - 2.0 * i / n) + M_PI / 2) * n / (2 * M_PI)));
        if (row >= 0 && row < H && from >= 0 && from < H) source[row] = from;
      }
      int first = H;
      for (int y = H - 1; y >= 0; y--)
        if (source[y] >= 0) first = y;
      const int flatEnd = first < H ? first : p;
      for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
          uint32_t want = FxVm::Pattern(kBack, x, y);
          if (source[y] >= 0 && Shows(x, source[y])) want = FxVm::Pattern(kNew, x, source[y]);
          else if ((y < flatEnd || source[y] >= 0) && Shows(x, y)) want = FxVm::Pattern(kNew, x, y);
          ASSERT_EQ(FxVm::Frames()[size_t(k) - 1][size_t(y) * W + x], want) << "frame " << k << " at " << x << "," << y;
        }
    }
  }
}

TEST(MaskedFx, WarpsMoveTheLayersOutlineWithItsPixels) {
  // Each pixel of the brush holds its own place (x << 12 | y), so a pixel of the layer's planes
  // tells where the warp took it from. Wherever the planes show anything, the source place lies
  // inside the mask and the alpha is the frame's level: 255 x frame / (2 D) for water over 2 D
  // frames, degrees x 255 / 720 for strudel; taking the layer away shows 255 minus that.
  constexpr int kAx = 6, kAy = 5, kAw = 33, kAh = 24;
  struct Row {
    const char *name;
    int32_t effect, speed;
    bool hides;
    std::function<int(int frame)> level;
    int frames;  // the last one shows the picture itself
  };
  const Row rows[] = {
      {"WATER1 fast: 20 frames", FX_WATER1, FX_FASTSPEED, false, [](int k) { return k * 255 / 20; }, 20},
      {"WATER4 fast, taken away", FX_WATER4, FX_FASTSPEED, true, [](int k) { return 255 - k * 255 / 20; }, 20},
      {"STRUDEL fast: 16 degrees a frame", FX_STRUDEL, FX_FASTSPEED, false, [](int k) { return k * 16 * 255 / 720; }, 45},
      {"STRUDEL fast, taken away", FX_STRUDEL, FX_FASTSPEED, true, [](int k) { return 255 - k * 16 * 255 / 720; }, 45},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    FxVm vm(kAx * 2 + kAw, kAy * 2 + kAh, true);
    vm.MakeBGPic(3, vm.width, vm.height, kBack);
    ASSERT_EQ(vm.Call("DisplayBGPic", {3}).code, 0u);
    qmBrush *b = vm.MakeBrush(1, kAw, kAh, kNew);
    ASSERT_NE(b, nullptr);
    for (int y = 0; y < kAh; y++)
      for (int x = 0; x < kAw; x++) b->bitmap->pixels[y * (b->bitmap->bytesPerRow / 4) + x] = uint32_t(x << 12 | y);
    FxVm::MaskBrush(b, Shows);
    ASSERT_EQ(vm.Call("DisplayBrush", {1, kAx, kAy}).code, 0u);
    if (!r.hides) {
      ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
    }
    int checked = 0, moved = 0;
    vm.StartCapture();
    FxFrames::onFrame = [&](int k) {
      if (k >= r.frames) return;
      const qmLayer *l = GetNthLayer(vm.d->bgpic, 1);
      ASSERT_NE(l, nullptr);
      const qmPlaneSet &planes = l->current->own;
      ASSERT_NE(planes.alpha, nullptr) << "frame " << k;
      for (int y = 0; y < kAh; y++)
        for (int x = 0; x < kAw; x++) {
          const uint8_t a = planes.alpha->memory[y * planes.alpha->bytesPerRow + x];
          if (a == 0) continue;
          const uint32_t word = planes.bitmap->pixels[y * (planes.bitmap->bytesPerRow / 4) + x];
          const int sx = int(word >> 12 & 0xFFF), sy = int(word & 0xFFF);
          ASSERT_TRUE(sx < kAw && sy < kAh && Shows(sx, sy)) << "frame " << k << " at " << x << "," << y;
          ASSERT_EQ(a, r.level(k)) << "frame " << k << " at " << x << "," << y;
          checked++;
          if (!Shows(x, y)) moved++;
        }
    };
    ASSERT_EQ(vm.Call(r.hides ? "HideLayerFX" : "ShowLayerFX", {1, r.effect, r.speed}).code, 0u);
    EXPECT_EQ(FxVm::Frames().size(), size_t(r.frames));
    EXPECT_GT(checked, 0);
    EXPECT_GT(moved, 0) << "the outline moves: some covered pixels lie outside the mask's own outline";
  }
}

}  // namespace
