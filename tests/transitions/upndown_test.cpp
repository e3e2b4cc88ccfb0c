// Up-and-down over a brush on the plain display: its frame count and first frame, pixels that
// never go back, and the areas its division by the height cannot take.
#include "display/scene.h"
#include "platform/memory.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxtable.h"

namespace {

constexpr int kSeed = 6;

TEST(UpNDown, RevealsEveryPixelOnceAndNothingOutside) {
  struct Row {
    const char *name;
    int w, h;
    int32_t speed;
    size_t frames;  // 4 heights at the step, one more
  };
  const Row rows[] = {
      {"64x20 at 3: columns of 9, the eighth cut to 1", 64, 20, 3, 28},
      {"37x23 normal: 37 / 60 rounds up to 1", 37, 23, FX_NORMALSPEED, 93},
      {"40x10 at 30: the step passes over the middle passes", 40, 10, 30, 3},
      {"24x7 at 4", 24, 7, 4, 8},
      {"640x8 at 3: columns of 81, the eighth from 567 cut at 640", 640, 8, 3, 12},
  };
  const int bx = 4, by = 5;
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    const int W = r.w + 10, H = r.h + 9;
    FxVm vm(W, H);
    vm.MakeBrush(1, r.w, r.h, kSeed);
    const std::vector<uint32_t> before = vm.Window();
    vm.StartCapture();
    ASSERT_EQ(vm.Call("DisplayBrushFX", {1, bx, by, FX_UPNDOWN, r.speed}).code, 0u);
    const auto &frames = FxVm::Frames();
    ASSERT_EQ(frames.size(), r.frames);
    std::vector<bool> shown(size_t(W) * H, false);
    for (size_t k = 0; k < frames.size(); k++)
      for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
          const uint32_t p = frames[k][size_t(y) * W + x], old = before[size_t(y) * W + x];
          const int ax = x - bx, ay = y - by;
          if (ax < 0 || ay < 0 || ax >= r.w || ay >= r.h) {
            ASSERT_EQ(p, old) << "outside, frame " << k + 1 << " at " << x << "," << y;
            continue;
          }
          const bool isNew = p == FxVm::Pattern(kSeed, ax, ay);
          ASSERT_TRUE(isNew || p == old) << "frame " << k + 1 << " at " << ax << "," << ay;
          ASSERT_TRUE(isNew || !shown[size_t(y) * W + x]) << "went back, frame " << k + 1 << " at " << ax << "," << ay;
          if (isNew) shown[size_t(y) * W + x] = true;
        }
    for (int y = 0; y < r.h; y++)
      for (int x = 0; x < r.w; x++) ASSERT_TRUE(shown[size_t(y + by) * W + x + bx]) << x << "," << y;
  }
}

TEST(UpNDown, TheFirstFrameStartsTheFirstPairAtBothEnds) {
  // At step 3 column 0 shows rows 0..4 (a step and two rows) and column 1 the rows from
  // height - step - 1 on, cut at the bottom; nothing else is new. Columns are width / 8 + 1 wide.
  struct Row {
    int w, h, column;
  };
  for (const Row &r : {Row{64, 20, 9}, Row{640, 12, 81}}) {
    SCOPED_TRACE(r.w);
    FxVm vm(r.w, r.h);
    const std::vector<uint32_t> before = vm.Window();
    vm.MakeBrush(1, r.w, r.h, kSeed);
    vm.StartCapture();
    ASSERT_EQ(vm.Call("DisplayBrushFX", {1, 0, 0, FX_UPNDOWN, 3}).code, 0u);
    ASSERT_FALSE(FxVm::Frames().empty());
    const auto &first = FxVm::Frames()[0];
    for (int y = 0; y < r.h; y++)
      for (int x = 0; x < r.w; x++) {
        const bool isNew = (x < r.column && y < 5) || (x >= r.column && x < 2 * r.column && y >= r.h - 4);
        const size_t i = size_t(y) * r.w + x;
        ASSERT_EQ(first[i], isNew ? FxVm::Pattern(kSeed, x, y) : before[i]) << x << "," << y;
      }
  }
}

TEST(UpNDown, AnAreaWithoutRowsEndsOnItsFirstFrame) {
  FxVm vm(40, 30);
  qmBitmap *picture = AllocBitmap(16, 1);
  ASSERT_NE(picture, nullptr);
  qmFxRequest fx{};
  fx.scene = vm.Scene();
  fx.effect = FX_UPNDOWN;
  fx.step = FX_NORMALSPEED;
  fx.width = 16;
  fx.height = 0;
  fx.screenWidth = 40;
  fx.screenHeight = 30;
  fx.srcImage = picture;
  fx.phase = FXPHASE_INIT;
  ASSERT_EQ(UpNDownFx(&fx, nullptr), 0u);
  EXPECT_EQ(fx.stepCount, 1);
  fx.phase = FXPHASE_FRAME;
  int32_t done = 0;
  ASSERT_EQ(UpNDownFx(&fx, &done), 0u);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(fx.frameNo, 1);
  MemFree(fx.fxState);
  FreeBitmap(picture);
}

}  // namespace
