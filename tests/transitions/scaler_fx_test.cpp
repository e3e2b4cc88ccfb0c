// The scaling and per-pixel effects run through the commands on a display of the dummy driver:
// frames counted at the frame ends, chosen frames against the scaler's own copy of the same size
// or the mixing formula, and the ends.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>

#include "graphics/bitmapops.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxprims.h"
#include "transitions/fxrunner.h"
#include "transitions/fxtable.h"

namespace {

using Frame = std::vector<uint32_t>;

Frame Picture(int seed, int w, int h) {
  Frame out(size_t(w) * h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) out[size_t(y) * w + x] = FxVm::Pattern(seed, x, y);
  return out;
}

// The display shows the picture of seed 4 (w x h) before the transition to the one of seed 9.
struct TwoPictures : FxVm {
  TwoPictures(int w, int h) : FxVm(w, h) {
    MakeBGPic(3, w, h, 4);
    EXPECT_EQ(Call("DisplayBGPic", {3}).code, 0u);
    MakeBGPic(2, w, h, 9);
    StartCapture();
  }
};

// What one scaled band of a patterned picture adds to an expected frame: the rectangle (sx, sy,
// sw x sh) of the picture of seed scaled by ScaleBitmap to dw x dh and put at (dx, dy).
struct Scaled {
  int seed, sx, sy, sw, sh, dx, dy, dw, dh;
};

void Put(Frame &f, int w, int h, const Scaled &s) {
  qmBitmap *src = AllocBitmap(w, h);
  ASSERT_NE(src, nullptr);
  FxVm::Paint(src, s.seed);
  qmScaleOutputs out{};
  ASSERT_EQ(ScaleBitmap(src, nullptr, nullptr, s.sx, s.sy, nullptr, s.sw, s.sh, s.dw, s.dh, 0, &out), 0u);
  for (int y = 0; y < s.dh; y++)
    for (int x = 0; x < s.dw; x++) f[size_t(s.dy + y) * w + s.dx + x] = DisplayVm::BitmapPixel(out.bitmap, x, y);
  FreeBitmap(out.bitmap);
  FreeBitmap(src);
}

void Fill(Frame &f, int w, int x0, int y0, int fw, int fh, uint32_t rgb) {
  for (int y = y0; y < y0 + fh; y++)
    for (int x = x0; x < x0 + fw; x++) f[size_t(y) * w + x] = rgb;
}

TEST(ScalerFx, FramesShowTheScaledPicturesWhereTheEffectPutsThem) {
  // On 100 x 40, new picture seed 9 over old seed 4. Each row: the effect, its speed, the frame
  // looked at, and what that frame shows over the old picture.
  const int W = 100, H = 40;
  struct Row {
    const char *name;
    int32_t effect, speed;
    int frame;
    std::function<void(Frame &)> draw;
  };
  auto band = [](Scaled s) { return [s](Frame &f) { Put(f, W, H, s); }; };
  auto whole = [](int seed, int dx, int dy, int dw, int dh) { return Scaled{seed, 0, 0, W, H, dx, dy, dw, dh}; };
  const Row rows[] = {
      {"STRETCHLEFT from the left edge", FX_STRETCHLEFT, 30, 1, band(whole(9, 0, 0, 30, 40))},
      {"STRETCHRIGHT from the right edge", FX_STRETCHRIGHT, 30, 1, band(whole(9, 70, 0, 30, 40))},
      {"STRETCHTOP from the top", FX_STRETCHTOP, 10, 1, band(whole(9, 0, 0, 100, 10))},
      {"STRETCHBOTTOM from the bottom", FX_STRETCHBOTTOM, 10, 1, band(whole(9, 0, 30, 100, 10))},
      {"HSTRETCHCENTER about the middle row", FX_HSTRETCHCENTER, 10, 2, band(whole(9, 0, 10, 100, 20))},
      {"VSTRETCHCENTER about the middle column", FX_VSTRETCHCENTER, 30, 2, band(whole(9, 20, 0, 60, 40))},
      {"ZOOMCENTER keeps the proportion", FX_ZOOMCENTER, 50, 1, band(whole(9, 25, 10, 50, 20))},
      {"ZOOMNORTHEAST", FX_ZOOMNORTHEAST, 50, 1, band(whole(9, 50, 0, 50, 20))},
      {"ZOOMSOUTHWEST", FX_ZOOMSOUTHWEST, 50, 1, band(whole(9, 0, 20, 50, 20))},
      {"ZOOMWEST", FX_ZOOMWEST, 50, 1, band(whole(9, 0, 10, 50, 20))},
      {"a zoom's smaller side is at least one pixel", FX_ZOOMSOUTH, 2, 1, band(whole(9, 49, 39, 2, 1))},
      {"CRUSHLEFT: both pictures squeezed side by side", FX_CRUSHLEFT, 30, 1,
       [](Frame &f) { Put(f, W, H, {9, 0, 0, W, H, 0, 0, 30, 40}), Put(f, W, H, {4, 0, 0, W, H, 30, 0, 70, 40}); }},
      {"CRUSHBOTTOM", FX_CRUSHBOTTOM, 10, 1,
       [](Frame &f) { Put(f, W, H, {9, 0, 0, W, H, 0, 30, 100, 10}), Put(f, W, H, {4, 0, 0, W, H, 0, 0, 100, 30}); }},
      {"TURNDOWNTOP: the new top half unfolds over the old one", FX_TURNDOWNTOP, 5, 1,
       [](Frame &f) { Put(f, W, H, {9, 0, 0, W, 20, 0, 0, 100, 5}), Put(f, W, H, {4, 0, 0, W, 20, 0, 5, 100, 15}); }},
      {"TURNDOWNTOP past the middle", FX_TURNDOWNTOP, 5, 6,
       [](Frame &f) { Put(f, W, H, {9, 0, 0, W, 20, 0, 0, 100, 20}), Put(f, W, H, {9, 0, 20, W, 20, 0, 20, 100, 10}); }},
      {"TURNDOWNBOTTOM from the bottom edge", FX_TURNDOWNBOTTOM, 5, 1,
       [](Frame &f) { Put(f, W, H, {9, 0, 20, W, 20, 0, 35, 100, 5}), Put(f, W, H, {4, 0, 20, W, 20, 0, 20, 100, 15}); }},
      {"TURNDOWNLEFT past the middle", FX_TURNDOWNLEFT, 10, 7,
       [](Frame &f) { Put(f, W, H, {9, 0, 0, 50, H, 0, 0, 50, 40}), Put(f, W, H, {9, 50, 0, 50, H, 50, 0, 20, 40}); }},
      {"VFLIPCOIN: the old picture shrinks about the middle over black", FX_VFLIPCOIN, 10, 1,
       [](Frame &f) { Fill(f, W, 0, 0, W, H, 0), Put(f, W, H, {4, 0, 0, W, H, 0, 5, 100, 30}); }},
      {"VFLIPCOIN's middle frame is one row", FX_VFLIPCOIN, 10, 4,
       [](Frame &f) { Fill(f, W, 0, 0, W, H, 0), Put(f, W, H, {4, 0, 0, W, H, 0, 19, 100, 1}); }},
      {"VFLIPCOIN's new picture opens out", FX_VFLIPCOIN, 10, 6,
       [](Frame &f) { Fill(f, W, 0, 0, W, H, 0), Put(f, W, H, {9, 0, 0, W, H, 0, 10, 100, 20}); }},
      {"VLOWFLIPCOIN sinks to the bottom", FX_VLOWFLIPCOIN, 10, 2,
       [](Frame &f) { Fill(f, W, 0, 0, W, 20, 0), Put(f, W, H, {4, 0, 0, W, H, 0, 20, 100, 20}); }},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    TwoPictures vm(W, H);
    ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, r.effect, r.speed}).code, 0u);
    ASSERT_GE(FxVm::Frames().size(), size_t(r.frame));
    Frame want = Picture(4, W, H);
    r.draw(want);
    if (::testing::Test::HasFatalFailure()) return;
    const Frame &got = FxVm::Frames()[size_t(r.frame) - 1];
    for (int y = 0; y < H; y++)
      for (int x = 0; x < W; x++)
        ASSERT_EQ(got[size_t(y) * W + x], want[size_t(y) * W + x]) << "frame " << r.frame << " at " << x << "," << y;
  }
}

TEST(ScalerFx, ZoomInAndFlipCoinFillWithTheParameterColour) {
  const int W = 60, H = 30;
  struct Row {
    const char *name;
    int32_t effect, speed, parameter;
    int frame;
    std::function<void(Frame &)> draw;
  };
  const Row rows[] = {
      // ZOOMIN at 10: M 60, size 10, d 50 wide, 50 x 30 / 60 + 1 = 26 high, at (5, 2).
      {"ZOOMIN in black by default", FX_ZOOMIN, 10, -1, 1,
       [](Frame &f) { Fill(f, W, 0, 0, W, H, 0), Put(f, W, H, {4, 0, 0, W, H, 5, 2, 50, 26}); }},
      {"ZOOMIN in red", FX_ZOOMIN, 10, 0xFF0000, 1,
       [](Frame &f) { Fill(f, W, 0, 0, W, H, 0xFF0000), Put(f, W, H, {4, 0, 0, W, H, 5, 2, 50, 26}); }},
      // Size 80: the new picture 20 wide and 11 high out of the centre, the colour around it.
      {"ZOOMIN's new picture grows from the centre", FX_ZOOMIN, 10, 0x00FF00, 8,
       [](Frame &f) { Fill(f, W, 0, 0, W, H, 0x00FF00), Put(f, W, H, {9, 0, 0, W, H, 20, 9, 20, 11}); }},
      // ZOOMOUT at 10: the old picture's centre 50 x 26 at (5, 2) magnified to the whole area.
      {"ZOOMOUT magnifies the centre", FX_ZOOMOUT, 10, -1, 1, [](Frame &f) { Put(f, W, H, {4, 5, 2, 50, 26, 0, 0, W, H}); }},
      // HFLIPCOIN at 20: R 60, d 40 at x 10; the strips left and right in blue.
      {"HFLIPCOIN in blue", FX_HFLIPCOIN, 20, 0x0000FF, 1,
       [](Frame &f) { Fill(f, W, 0, 0, W, H, 0x0000FF), Put(f, W, H, {4, 0, 0, W, H, 10, 0, 40, 30}); }},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    TwoPictures vm(W, H);
    ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, r.effect, r.speed, r.parameter}).code, 0u);
    ASSERT_GE(FxVm::Frames().size(), size_t(r.frame));
    Frame want = Picture(4, W, H);
    r.draw(want);
    if (::testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(FxVm::Frames()[size_t(r.frame) - 1], want) << "frame " << r.frame;
    EXPECT_EQ(FxVm::Frames().back(), Picture(9, W, H));
  }
}

TEST(ScalerFx, OddSizesUnfoldTheLongerHalfSecond) {
  // TURNDOWNTOP on 41 rows at 5: the top 20 rows, then the bottom 21 rows from row 20.
  const int W = 30, H = 41;
  TwoPictures vm(W, H);
  ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, FX_TURNDOWNTOP, 5}).code, 0u);
  ASSERT_EQ(FxVm::Frames().size(), 9u);  // 36 rows at 5 in 8 frames, one more
  Frame want = Picture(4, W, H);
  Put(want, W, H, {9, 0, 0, W, 20, 0, 0, W, 20});
  Put(want, W, H, {9, 0, 20, W, 21, 0, 20, W, 15});
  EXPECT_EQ(FxVm::Frames()[6], want) << "counter 35: 15 rows of the lower half";
}

// Each frame drawn on its own from its number (as a jump of an asynchronous run draws it), in
// place of the frame that follows the one before, and each after a jump back from the last frame.
uint32_t EachFrameOnItsOwn(qmFxRequest *fx, int32_t *done) {
  const qmFxRoutines *r = FindFxRoutines(fx->effect);
  if (fx->phase != FXPHASE_FRAME) return r->frame(fx, done);
  const int32_t n = fx->frameNo + 1;
  fx->phase = FXPHASE_DRAW;
  fx->frameNo = fx->stepCount;
  uint32_t code = r->frame(fx, nullptr);
  fx->frameNo = n;
  if (!code) code = r->frame(fx, nullptr);
  fx->phase = FXPHASE_FRAME;
  fx->frameNo = n - 1;
  if (n >= fx->stepCount) *done = 1;
  FxFrameTail(fx);
  return code;
}

void FreeOwn(qmFxRequest *fx, int32_t complete) {
  if (const qmFxRoutines *r = FindFxRoutines(fx->effect); r->free) r->free(fx, complete);
}

TEST(ScalerFx, AnyFrameDrawnOnItsOwnIsTheFrameInOrder) {
  // Frames drawn from the number alone, after the last one, against the run in order on the
  // display (the whole-display effects play nowhere else), on an odd and an even area.
  const int32_t effects[] = {FX_STRETCHRIGHT, FX_VSTRETCHCENTER, FX_ZOOMSOUTHEAST, FX_ZOOMIN, FX_ZOOMOUT, FX_CRUSHLEFT,
                             FX_CRUSHBOTTOM, FX_VFLIPCOIN, FX_HLOWFLIPCOIN, FX_TURNDOWNTOP, FX_TURNDOWNBOTTOM,
                             FX_TURNDOWNLEFT, FX_TURNDOWNRIGHT, FX_PIXELZOOM1, FX_PIXELZOOM2, FX_WATER3, FX_STRUDEL};
  for (int32_t effect : effects)
    for (auto [w, h] : {std::pair{40, 24}, std::pair{37, 23}}) {
      SCOPED_TRACE(std::to_string(effect) + " on " + std::to_string(w) + "x" + std::to_string(h));
      std::vector<Frame> inOrder;
      {
        TwoPictures vm(w, h);
        ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, effect, 3, 0xFF00FF}).code, 0u);
        inOrder = FxVm::Frames();
      }
      TwoPictures vm(w, h);
      qmFxRequest r{};
      r.scene = vm.Scene();
      r.frameFn = EachFrameOnItsOwn;
      r.freeFn = FreeOwn;
      r.objectType = FXTARGET_BGPIC;
      r.objectId = {2, 0};
      r.effect = effect;
      r.step = 3;
      r.parameter = 0xFF00FF;
      r.bgpicX = r.bgpicY = 99999;
      ASSERT_EQ(RunTransition(&r, nullptr), 0u);
      ASSERT_EQ(FxVm::Frames().size(), inOrder.size());
      for (size_t k = 0; k < inOrder.size(); k++) ASSERT_EQ(FxVm::Frames()[k], inOrder[k]) << "frame " << k + 1;
    }
}

// 0xRRGGBB of old + (new - old) * m / 256 in each channel, m = level * 255 / total.
uint32_t Mixed(uint32_t o, uint32_t n, int level, int total) {
  const int m = level * 255 / total;
  uint32_t out = 0;
  for (int shift : {16, 8, 0}) {
    const int oc = int(o >> shift & 255), nc = int(n >> shift & 255);
    out |= uint32_t(oc + ((nc - oc) * m >> 8)) << shift;
  }
  return out;
}

TEST(PixelFx, TheCentreMixesTheOldPictureIntoTheNewByTheLevel) {
  // The centre pixel neither ripples nor turns: it is the plain mix of the two pictures there.
  const int W = 40, H = 30;
  struct Row {
    const char *name;
    int32_t effect, speed;
    int frame, level, total;
  };
  const Row rows[] = {
      {"WATER1 normal, frame 10 of 50", FX_WATER1, FX_NORMALSPEED, 10, 10, 50},
      {"WATER4 normal, the strongest ripple", FX_WATER4, FX_NORMALSPEED, 25, 25, 50},
      {"WATER2 at 5, frame 9 of 10", FX_WATER2, 5, 9, 9, 10},
      {"STRUDEL normal, 240 degrees", FX_STRUDEL, FX_NORMALSPEED, 30, 240, 720},
      {"STRUDEL fast, 704 degrees", FX_STRUDEL, FX_FASTSPEED, 44, 704, 720},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    TwoPictures vm(W, H);
    ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, r.effect, r.speed}).code, 0u);
    ASSERT_GE(FxVm::Frames().size(), size_t(r.frame));
    const Frame &f = FxVm::Frames()[size_t(r.frame) - 1];
    const int cx = W / 2, cy = H / 2;
    EXPECT_EQ(f[size_t(cy) * W + cx], Mixed(FxVm::Pattern(4, cx, cy), FxVm::Pattern(9, cx, cy), r.level, r.total));
  }
}

TEST(PixelFx, PixelZoomShowsBlocksOfOnePictureThatGrowFiner) {
  // Frame k of PIXELZOOM1 shows blocks of 25 - k pixels of the new picture, aligned to the area;
  // PIXELZOOM2 first coarsens the old picture (blocks of k + 1), then refines the new one.
  const int W = 41, H = 30;
  struct Row {
    const char *name;
    int32_t effect;
    int frame, block, seed;
  };
  const Row rows[] = {
      {"PIXELZOOM1 first frame", FX_PIXELZOOM1, 1, 24, 9},
      {"PIXELZOOM1 middle", FX_PIXELZOOM1, 17, 8, 9},
      {"PIXELZOOM1 sharp frame is the picture", FX_PIXELZOOM1, 24, 1, 9},
      {"PIXELZOOM2 coarsens the old picture", FX_PIXELZOOM2, 3, 4, 4},
      {"PIXELZOOM2 turns to the new one at its coarsest", FX_PIXELZOOM2, 24, 25, 9},
      {"PIXELZOOM2 refines the new one", FX_PIXELZOOM2, 45, 4, 9},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    TwoPictures vm(W, H);
    ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, r.effect}).code, 0u);
    ASSERT_GE(FxVm::Frames().size(), size_t(r.frame));
    const Frame &f = FxVm::Frames()[size_t(r.frame) - 1];
    for (int by = 0; by < H; by += r.block)
      for (int bx = 0; bx < W; bx += r.block) {
        const uint32_t c = f[size_t(by) * W + bx];
        bool fromBlock = false;
        for (int y = by; y < std::min(H, by + r.block); y++)
          for (int x = bx; x < std::min(W, bx + r.block); x++) {
            ASSERT_EQ(f[size_t(y) * W + x], c) << "block at " << bx << "," << by;
            fromBlock = fromBlock || FxVm::Pattern(r.seed, x, y) == c;
          }
        ASSERT_TRUE(fromBlock) << "the block's colour is one of its own pixels, at " << bx << "," << by;
      }
  }
}

}  // namespace
