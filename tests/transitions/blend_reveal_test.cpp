// The fading and mask-revealing effects frame by frame: the tint of FADE and BLEND against the
// channel formula, the reveal effects showing each pixel old or new and never going back, the
// roll's flat part and untouched part, and areas of one pixel that still end.
#include "tests/transitions/fx_vm.h"
#include "transitions/fxtable.h"

namespace {

uint32_t At(const std::vector<uint32_t> &frame, int width, int x, int y) { return frame[size_t(y) * width + x]; }

// Each channel c moved toward the colour's by tint: c + ((k - c) * tint) / 256, the division
// rounding toward minus infinity.
uint32_t Tinted(uint32_t pixel, uint32_t colour, int tint) {
  uint32_t out = 0;
  for (int shift : {16, 8, 0}) {
    const int c = int(pixel >> shift & 255), k = int(colour >> shift & 255);
    out |= uint32_t(c + ((k - c) * tint >> 8)) << shift;
  }
  return out;
}

}  // namespace

TEST(BlendEffects, FadeAndBlendTintByTheLevel) {
  // At the normal speed frame k has level 10k: the tint is the level up to 255, then
  // 255 - (level mod 256) down to 1, and 0 on frame 52. FADE tints the old picture until the
  // level passes 255 and the new one after; BLEND tints the new one throughout.
  const uint32_t colour = 0xFF8010;
  struct Row {
    int32_t effect;
    int frame, tint;
    bool oldPicture;
  } rows[] = {{FX_FADE, 1, 10, true},     {FX_FADE, 13, 130, true},   {FX_FADE, 25, 250, true},
              {FX_FADE, 26, 251, false},  {FX_FADE, 40, 111, false},  {FX_FADE, 51, 1, false},
              {FX_FADE, 52, 0, false},    {FX_BLEND, 1, 10, false},   {FX_BLEND, 25, 250, false},
              {FX_BLEND, 26, 251, false}, {FX_BLEND, 51, 1, false},   {FX_BLEND, 52, 0, false}};
  for (int32_t effect : {FX_FADE, FX_BLEND}) {
    FxVm vm(40, 30);
    const std::vector<uint32_t> before = vm.Window();
    vm.MakeBGPic(2, 40, 30, 5);
    vm.StartCapture();
    ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, effect, FX_NORMALSPEED, double(colour)}).code, 0u);
    ASSERT_EQ(FxVm::Frames().size(), 52u);
    for (const Row &r : rows) {
      if (r.effect != effect) continue;
      for (int y = 0; y < 30; y++)
        for (int x = 0; x < 40; x++) {
          const uint32_t p = r.oldPicture ? At(before, 40, x, y) : FxVm::Pattern(5, x, y);
          ASSERT_EQ(At(FxVm::Frames()[size_t(r.frame) - 1], 40, x, y), Tinted(p, colour, r.tint))
              << "effect " << effect << " frame " << r.frame << " at " << x << "," << y;
        }
    }
  }
}

TEST(BlendEffects, FadeOfAMaskedBrushTintsOnlyInsideTheMask) {
  // A brush keyed by one colour: where its mask is clear the old picture stays through the whole
  // fade, where it is set the old picture tints up and the brush comes out of the colour.
  const int W = 50, H = 36, bx = 7, by = 5, w = 21, h = 13;
  FxVm vm(W, H);
  const std::vector<uint32_t> before = vm.Window();
  vm.MakeBrush(1, w, h, 8);
  const uint32_t key = FxVm::Pattern(8, 3, 0);
  ASSERT_EQ(vm.Call("SetBrushTransparency", {1, double(key)}).code, 0u);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("DisplayBrushFX", {1, bx, by, FX_FADE, 20, 0x0000FF}).code, 0u);
  ASSERT_EQ(FxVm::Frames().size(), 26u);
  for (int k : {1, 12, 13, 20, 26}) {
    const int level = std::min(20 * k, 511), tint = level <= 255 ? level : level >= 511 ? 0 : 255 - level % 256;
    for (int y = 0; y < H; y++)
      for (int x = 0; x < W; x++) {
        const bool inside = x >= bx && x < bx + w && y >= by && y < by + h;
        const uint32_t old = At(before, W, x, y);
        uint32_t want = old;
        if (inside && FxVm::Pattern(8, x - bx, y - by) != key)
          want = Tinted(level <= 255 ? old : FxVm::Pattern(8, x - bx, y - by), 0x0000FF, tint);
        ASSERT_EQ(At(FxVm::Frames()[size_t(k) - 1], W, x, y), want) << "frame " << k << " at " << x << "," << y;
      }
  }
}

TEST(RevealEffects, EachPixelGoesFromOldToNewOnceAndNothingOutsideChanges) {
  // Dissolve and the shape wipes over a brush of odd and of even size at (5, 4).
  const int W = 60, H = 44;
  for (int32_t effect : {FX_DISSOLVE, FX_SUN, FX_STAR, FX_CLOCKWIPE})
    for (auto [w, h] : {std::pair{37, 23}, std::pair{40, 24}, std::pair{23, 37}}) {
      SCOPED_TRACE(testing::Message() << "effect " << effect << " on " << w << "x" << h);
      FxVm vm(W, H);
      const std::vector<uint32_t> before = vm.Window();
      vm.MakeBrush(1, w, h, 3);
      vm.StartCapture();
      ASSERT_EQ(vm.Call("DisplayBrushFX", {1, 5, 4, effect, FX_FASTSPEED}).code, 0u);
      ASSERT_GT(FxVm::Frames().size(), 1u);
      std::vector<bool> shown(size_t(W) * H, false);
      for (const auto &frame : FxVm::Frames())
        for (int y = 0; y < H; y++)
          for (int x = 0; x < W; x++) {
            const uint32_t p = At(frame, W, x, y), old = At(before, W, x, y);
            if (!(x >= 5 && x < 5 + w && y >= 4 && y < 4 + h)) {
              ASSERT_EQ(p, old) << "outside at " << x << "," << y;
              continue;
            }
            const bool isNew = p == FxVm::Pattern(3, x - 5, y - 4);
            ASSERT_TRUE(isNew || p == old) << x << "," << y;
            ASSERT_TRUE(isNew || !shown[size_t(y) * W + x]) << "went back at " << x << "," << y;
            shown[size_t(y) * W + x] = shown[size_t(y) * W + x] || isNew;
          }
      for (int y = 4; y < 4 + h; y++)
        for (int x = 5; x < 5 + w; x++) ASSERT_TRUE(shown[size_t(y) * W + x]) << "never shown at " << x << "," << y;
    }
}

TEST(RevealEffects, DissolveShowsEveryPixelAtLevel255) {
  // At 5 a frame the level is 255 on frame 51: every reveal time (0..254) lies below it, on
  // areas of any width, before the 52nd frame ends the effect.
  for (auto [w, h] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{9, 1}, std::pair{1, 9}, std::pair{64, 48}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    FxVm vm(64, 48);
    vm.MakeBrush(1, w, h, 6);
    vm.StartCapture();
    ASSERT_EQ(vm.Call("DisplayBrushFX", {1, 0, 0, FX_DISSOLVE, 5}).code, 0u);
    ASSERT_EQ(FxVm::Frames().size(), 52u);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) ASSERT_EQ(At(FxVm::Frames()[50], 64, x, y), FxVm::Pattern(6, x, y)) << x << "," << y;
  }
}

TEST(RevealEffects, RollLaysTheNewPictureFlatBehindItsBand) {
  // ROLLTOP at 2 rows a frame on 48 rows: the roll's band is the 20 rows up to the edge at 2k,
  // so rows before 2k - 19 show the new picture and rows after 2k the old one.
  const int W = 30, H = 48, band = 20;
  FxVm vm(W, H);
  const std::vector<uint32_t> before = vm.Window();
  vm.MakeBGPic(2, W, H, 9);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, FX_ROLLTOP}).code, 0u);
  ASSERT_EQ(FxVm::Frames().size(), 24u);
  for (int k = 1; k <= 23; k++) {
    const int edge = 2 * k;
    for (int y = 0; y < H; y++) {
      if (y > edge - band && y <= edge) continue;
      for (int x = 0; x < W; x++)
        ASSERT_EQ(At(FxVm::Frames()[size_t(k) - 1], W, x, y), y <= edge - band ? FxVm::Pattern(9, x, y) : At(before, W, x, y))
            << "frame " << k << " at " << x << "," << y;
    }
  }
}

TEST(RevealEffects, AreasOfOnePixelEnd) {
  // The frame-counting walks of the shape wipes and every other effect here end on areas of one
  // pixel's width or height, and leave the brush whole.
  for (int32_t effect : {FX_SUN, FX_STAR, FX_CLOCKWIPE, FX_DISSOLVE, FX_FADE, FX_BLEND, FX_ROLLTOP, FX_ROLLLEFT,
                         FX_WALLPAPERTOP, FX_WALLPAPERLEFT})
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{7, 1}}) {
      SCOPED_TRACE(testing::Message() << "effect " << effect << " on " << w << "x" << h);
      FxVm vm(20, 16);
      vm.MakeBrush(1, w, h, 4);
      vm.StartCapture();
      ASSERT_EQ(vm.Call("DisplayBrushFX", {1, 3, 2, effect, FX_SLOWSPEED}).code, 0u);
      ASSERT_FALSE(FxVm::Frames().empty());
      ASSERT_LT(FxVm::Frames().size(), 1000u);
      for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) ASSERT_EQ(At(FxVm::Frames().back(), 20, 3 + x, 2 + y), FxVm::Pattern(4, x, y));
    }
}
