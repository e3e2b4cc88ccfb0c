// Masked pictures in the roll and the warps: a roll's band lies over the new picture (not the old
// one) where the roll itself shows nothing, on the display and in a layer's planes; and water and
// strudel move a masked layer's outline with its pixels.
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "display/brush.h"
#include "graphics/bitmap.h"
#include "layers/layer.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxtable.h"

namespace {

constexpr int kBack = 3, kNew = 8;  // pattern seeds

bool Shows(int x, int y) { return (x + 2 * y) % 3 != 0; }

// A roll's band with its edge at row p of h rows and a table of n entries, entry k the angle
// asin(1 - 2k / n) + pi / 2: band row p - n + 1 + k shows the picture's row p + trunc(angle n /
// 2 pi) where both lie inside. Per row the picture's row the band shows there, or -1; flatEnd:
// the rows before it lie flat (the band's first row, or p without a band).
std::vector<int> RollBand(int p, int h, int n, int *flatEnd) {
  std::vector<int> source(size_t(h), -1);
  for (int i = 0; i < n; i++) {
    const int row = p - n + 1 + i;
    const int from = p + int(std::trunc((std::asin(1.0 - 2.0 * i / n) + M_PI / 2) * n / (2 * M_PI)));
    if (row >= 0 && row < h && from >= 0 && from < h) source[size_t(row)] = from;
  }
  *flatEnd = p;
  for (int y = h - 1; y >= 0; y--)
    if (source[size_t(y)] >= 0) *flatEnd = y;
  return source;
}

TEST(MaskedFx, RollBandLiesOverTheNewPicture) {
  // ROLLTOP at 2 rows a frame on 48 rows: the table has n = 20 entries. Before the band the new
  // picture lies flat through its mask;
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
      int flatEnd;
      const std::vector<int> source = RollBand(p, H, n, &flatEnd);
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

// A partly transparent alpha: every value from clear to opaque turns up in each row.
uint8_t Coverage(int x, int y) { return uint8_t((x * 37 + y * 11) % 7 == 0 ? 0 : (x * 53 + y * 29) % 256); }

TEST(MaskedFx, RollBandLiesOverAnAlphaPictureInTheLayersPlanes) {
  // ROLLTOP at 2 rows a frame on 48 rows, band rows as in the masked case, in the layer's own
  // planes. Before the band the layer holds the picture with its alpha, after it nothing; under
  // the band it holds the band (picture row source[y], alpha ab) laid over the flat picture (row y,
  // alpha au): shown over any background, the picture and then the band. So its alpha is
  // ab + au (1 - ab) and each byte of its colour (b ab + p au (1 - ab)) / that alpha, in 255ths,
  // rounded to nearest, each byte of the word alike; where both are clear the colour does not count.
  const int W = 30, H = 48, n = 20;
  FxVm vm(W, H, true);
  vm.MakeBGPic(3, W, H, kBack);
  ASSERT_EQ(vm.Call("DisplayBGPic", {3}).code, 0u);
  qmBrush *b = vm.MakeBrush(1, W, H, kNew);
  ASSERT_NE(b, nullptr);
  b->alpha = AllocAlphaChannel(W, H, 1);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) b->alpha->memory[y * b->alpha->bytesPerRow + x] = Coverage(x, y);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  int banded = 0, mixed = 0;
  vm.StartCapture();
  FxFrames::onFrame = [&](int k) {
    if (k > 23) return;
    const int p = 2 * k;
    int flatEnd;
    const std::vector<int> source = RollBand(p, H, n, &flatEnd);
    const qmPlaneSet &planes = GetNthLayer(vm.d->bgpic, 1)->current->own;
    ASSERT_NE(planes.alpha, nullptr);
    for (int y = 0; y < H; y++)
      for (int x = 0; x < W; x++) {
        const uint32_t got = planes.bitmap->pixels[y * (planes.bitmap->bytesPerRow / 4) + x];
        const int gotAlpha = planes.alpha->memory[y * planes.alpha->bytesPerRow + x];
        const uint32_t flat = b->bitmap->pixels[y * (b->bitmap->bytesPerRow / 4) + x];
        const int au = Coverage(x, y);
        if (source[y] < 0) {
          const int want = y < flatEnd ? au : 0;
          ASSERT_EQ(gotAlpha, want) << "frame " << k << " at " << x << "," << y;
          if (want) {
            ASSERT_EQ(got, flat) << "frame " << k << " at " << x << "," << y;
          }
          continue;
        }
        const uint32_t band = b->bitmap->pixels[source[y] * (b->bitmap->bytesPerRow / 4) + x];
        const int ab = Coverage(x, source[y]);
        // In 255ths squared: the band's weight and what shows of the picture under it.
        const double wb = 255.0 * ab, wp = double(au) * (255 - ab);
        ASSERT_EQ(gotAlpha, int(std::lround((wb + wp) / 255.0))) << "frame " << k << " at " << x << "," << y;
        banded++;
        if (wb + wp == 0) continue;
        if (wb > 0 && wp > 0) mixed++;
        for (int shift = 0; shift < 32; shift += 8) {
          const double over = (band >> shift) & 0xFF, under = (flat >> shift) & 0xFF;
          ASSERT_EQ(int((got >> shift) & 0xFF), int(std::lround((over * wb + under * wp) / (wb + wp))))
              << "frame " << k << " at " << x << "," << y << " byte " << shift / 8;
        }
      }
  };
  // A layer with only an alpha plane would be composed on the screen: its planes are asked for.
  const uint32_t code = vm.CallWith("showlayerfx", [&] {
                            vm_pushnumber(vm.L, 1);
                            vm_newtable(vm.L);
                            vm.Set("type", FX_ROLLTOP);
                            vm.Set("forcerealtimelayers", 1);
                            return 2;
                          }).code;
  ASSERT_EQ(code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 24u);
  EXPECT_GT(banded, 0);
  EXPECT_GT(mixed, 0) << "some band pixels lie partly over a partly transparent picture";
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
