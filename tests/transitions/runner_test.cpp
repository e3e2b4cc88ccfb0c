// Transitions run through the commands on a display of the dummy driver: frames counted at the
// frame ends, the pictures of chosen frames against formulas of the effects, and the ends.
#include <SDL.h>

#include <cctype>
#include <string>

#include "display/brush.h"
#include "display/displayops.h"
#include "platform/process.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxprims.h"
#include "transitions/fxrunner.h"
#include "transitions/fxtable.h"

namespace {

// The window's pixel (x, y) of a captured frame.
uint32_t At(const std::vector<uint32_t> &frame, int width, int x, int y) { return frame[size_t(y) * width + x]; }

// The picture the pattern of seed gives, as the window shows it.
std::vector<uint32_t> Picture(int seed, int w, int h) {
  std::vector<uint32_t> out(size_t(w) * h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) out[size_t(y) * w + x] = FxVm::Pattern(seed, x, y);
  return out;
}

TEST(Transitions, FramesRunEqualTheEffectsStepCount) {
  // Frame counts worked out by hand from each family's speed rule and frame-count rule.
  struct Row {
    const char *name;
    int w, h;
    int32_t effect, speed;
    size_t frames;
  };
  const Row rows[] = {
      {"HSTRIPES8 on 100x40 at step 10", 100, 40, 3, 10, 10},
      {"HSTRIPES normal: 140/70 = 2 a frame", 140, 40, 0, FX_NORMALSPEED, 70},
      {"HSTRIPES fast: 140/30 = 4 a frame", 140, 40, 0, FX_FASTSPEED, 35},
      {"HSTRIPES slow: 140/200 rounds up to 1", 140, 40, 0, FX_SLOWSPEED, 140},
      {"HSTRIPES at 25: 115 pixels in 5 frames, one more", 140, 40, 0, 25, 6},
      {"VSTRIPES4 normal on 48 rows: step 1", 64, 48, 9, FX_NORMALSPEED, 48},
      {"VSTRIPES64 above the height: step height - 1", 64, 48, 13, 500, 2},
      {"VBLINDS16 normal: 16/8 = 2 a frame in every slat", 100, 40, 20, FX_NORMALSPEED, 8},
      {"HBLINDS8 fast: 8/3 = 2 a frame", 64, 48, 14, FX_FASTSPEED, 4},
      {"HCLOSECURTAIN at 1000 on 200 rows: step 1, two rows a frame", 64, 200, 27, 1000, 51},
      {"VOPENCURTAIN normal on 140: step 1, 69 columns two a frame", 140, 40, 24, FX_NORMALSPEED, 36},
      {"BARS normal: 23 counts two a frame whatever the size", 100, 40, 28, FX_NORMALSPEED, 13},
      {"QUARTERS normal on 140x40: step 2, 17 rows three a frame", 140, 40, 29, FX_NORMALSPEED, 7},
      {"CROSSFADE normal: levels 10..250, then 255", 64, 48, 115, FX_NORMALSPEED, 26},
      {"CROSSFADE fast: 20 a frame", 64, 48, 115, FX_FASTSPEED, 13},
      {"CROSSFADE slow: 5 a frame", 64, 48, 115, FX_SLOWSPEED, 51},
      {"CROSSFADE above 120 is cut to 120", 64, 48, 115, 200, 3},
      {"PUSHLEFT normal: 100/40 = 2 a frame", 100, 40, 78, FX_NORMALSPEED, 50},
      {"PUSHRIGHT at 30: 30, 60, 90, then 100", 100, 40, 79, 30, 4},
      {"PUSHTOP fast: 40/10 = 4 a frame", 100, 40, 80, FX_FASTSPEED, 10},
      {"PUSHBOTTOM at 1000 goes in one frame", 100, 40, 81, 1000, 1},
      {"STRETCHLEFT normal: 100/30 = 3, from 3 to 100", 100, 40, FX_STRETCHLEFT, FX_NORMALSPEED, 34},
      {"STRETCHRIGHT at 30: its left edge 70, 40, 10, then done", 100, 40, FX_STRETCHRIGHT, 30, 4},
      {"HSTRETCHCENTER fast: 48/10 = 4 over the height", 64, 48, FX_HSTRETCHCENTER, FX_FASTSPEED, 12},
      {"ZOOMCENTER slow on an odd area: 101/80 = 1", 101, 41, FX_ZOOMCENTER, FX_SLOWSPEED, 101},
      {"ZOOMNORTHWEST on a tall area: the height leads", 40, 90, FX_ZOOMNORTHWEST, 30, 3},
      {"ZOOMIN normal: 120/60 = 2 over twice the larger side", 120, 48, FX_ZOOMIN, FX_NORMALSPEED, 120},
      {"ZOOMOUT at 25 over 2 x 50", 50, 31, FX_ZOOMOUT, 25, 4},
      {"CRUSHLEFT normal on 640: 10 a frame", 640, 24, FX_CRUSHLEFT, FX_NORMALSPEED, 64},
      {"CRUSHBOTTOM at 7 on 41 rows", 30, 41, FX_CRUSHBOTTOM, 7, 6},
      {"TURNDOWNTOP normal on 480: 8 a frame", 24, 480, FX_TURNDOWNTOP, FX_NORMALSPEED, 60},
      {"TURNDOWNRIGHT at 9 on 61 columns", 61, 20, FX_TURNDOWNRIGHT, 9, 7},
      {"VFLIPCOIN normal on 48 rows: step 1 over twice the height", 64, 48, FX_VFLIPCOIN, FX_NORMALSPEED, 96},
      {"HLOWFLIPCOIN at 20 over 2 x 50", 50, 30, FX_HLOWFLIPCOIN, 20, 5},
      {"WATER1 normal: 50", 40, 30, FX_WATER1, FX_NORMALSPEED, 50},
      {"WATER2 at 200 is held to 100", 40, 30, FX_WATER2, 200, 200},
      {"WATER3 at 1 is raised to 5", 41, 31, FX_WATER3, 1, 10},
      {"WATER4 fast: 20", 40, 30, FX_WATER4, FX_FASTSPEED, 20},
      {"STRUDEL normal: 8 degrees a frame", 40, 30, FX_STRUDEL, FX_NORMALSPEED, 90},
      {"STRUDEL slow on an odd area: 4 degrees", 41, 29, FX_STRUDEL, FX_SLOWSPEED, 180},
      {"STRUDEL at 100 is held to 16", 40, 30, FX_STRUDEL, 100, 45},
      {"PIXELZOOM1: 24 block sizes and the end", 40, 30, FX_PIXELZOOM1, FX_NORMALSPEED, 25},
      {"PIXELZOOM1 takes no speed", 41, 31, FX_PIXELZOOM1, 3, 25},
      {"PIXELZOOM2: the old picture coarsened first", 40, 30, FX_PIXELZOOM2, FX_FASTSPEED, 49},
      {"FADE normal: levels 10..510, then 511", 64, 48, 116, FX_NORMALSPEED, 52},
      {"FADE fast: 20 a frame over 491", 64, 48, 116, FX_FASTSPEED, 26},
      {"FADE slow: 5 a frame over 506", 64, 48, 116, FX_SLOWSPEED, 103},
      {"FADE above 255 is cut to 255", 64, 48, 116, 300, 3},
      {"BLEND normal as FADE", 64, 48, 117, FX_NORMALSPEED, 52},
      {"DISSOLVE normal: 4 a frame to 256", 64, 48, 139, FX_NORMALSPEED, 64},
      {"DISSOLVE fast: 8 a frame", 64, 48, 139, FX_FASTSPEED, 32},
      {"DISSOLVE slow: 2 a frame", 64, 48, 139, FX_SLOWSPEED, 128},
      {"DISSOLVE at 100 is cut to 8", 64, 48, 139, 100, 32},
      {"DISSOLVE at 0 is raised to 1", 64, 48, 139, 0, 256},
      {"ROLLTOP normal on 480 rows: 2 a frame", 30, 480, 84, FX_NORMALSPEED, 240},
      {"ROLLLEFT fast: 5 a frame over 64 columns", 64, 48, 85, FX_FASTSPEED, 13},
      {"WALLPAPERTOP at 30: 6 a frame", 64, 48, 86, 30, 8},
      {"WALLPAPERLEFT at 100 is cut to 8", 64, 48, 87, 100, 8},
      // The hand travels step pixels of the border a frame from twelve o'clock and stops one pixel
      // past it: (2 (w - 1) + 2 (h - 1) + 1) / step frames, and the one that sees it there.
      {"CLOCKWIPE normal: 10 a frame round 221", 64, 48, 97, FX_NORMALSPEED, 23},
      {"CLOCKWIPE fast: 15 a frame", 64, 48, 97, FX_FASTSPEED, 15},
      {"CLOCKWIPE slow: 5 a frame", 64, 48, 97, FX_SLOWSPEED, 45},
      // The star grows by 64 / 12 = 5 from 15 until its width is four times the area's.
      {"STAR normal, wide: 15..255 in steps of 5", 64, 48, 98, FX_NORMALSPEED, 50},
      {"STAR normal, tall: width 3/4 of the size reaches 192 at 255", 48, 64, 98, FX_NORMALSPEED, 49},
      // Strange pushes: the step is made even, and the rows meet after reach / step frames.
      {"HSTRANGEPUSH normal on 100: 100/60 = 1, made 2", 100, 40, FX_HSTRANGEPUSH, FX_NORMALSPEED, 50},
      {"HSTRANGEPUSH at 5 moves 6 a frame: 6..96, then 100", 100, 40, FX_HSTRANGEPUSH, 5, 17},
      {"VSTRANGEPUSH fast on 48 rows: 48/30 = 1, made 2", 64, 48, FX_VSTRANGEPUSH, FX_FASTSPEED, 24},
      {"VSTRANGEPUSH slow on 480 rows: 480/120 = 4", 30, 480, FX_VSTRANGEPUSH, FX_SLOWSPEED, 120},
      {"VSTRANGEPUSH at 1000 goes in one frame", 64, 48, FX_VSTRANGEPUSH, 1000, 1},
      // Scrolls: the move engine's speed in pixels a frame (normal 10, fast 15, slow 5) from
      // outside the display to the place; a diagonal takes the leading axis' step count.
      {"SCROLLLEFT normal on 100: -100 to 0 at 10", 100, 40, FX_SCROLLLEFT, FX_NORMALSPEED, 10},
      {"SCROLLRIGHT at 30 on 100: 70, 40, 10, 0", 100, 40, FX_SCROLLRIGHT, 30, 4},
      {"SCROLLTOP fast on 40 rows: -25, -10, 0", 100, 40, FX_SCROLLTOP, FX_FASTSPEED, 3},
      {"SCROLLBOTTOM slow on 48 rows: 5 a frame", 64, 48, FX_SCROLLBOTTOM, FX_SLOWSPEED, 10},
      {"SCROLLNORTHEAST normal on a wide area: 100 columns lead", 100, 40, FX_SCROLLNORTHEAST, FX_NORMALSPEED, 10},
      {"SCROLLSOUTHEAST at 1000 goes in one frame", 64, 48, FX_SCROLLSOUTHEAST, 1000, 1},
      {"SCROLLSOUTHWEST at 7 on a tall area: 90 rows lead", 40, 90, FX_SCROLLSOUTHWEST, 7, 13},
      {"SCROLLNORTHWEST slow on 41x41: 9 frames", 41, 41, FX_SCROLLNORTHWEST, FX_SLOWSPEED, 9},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    FxVm vm(r.w, r.h);
    vm.MakeBGPic(2, r.w, r.h, 7);
    vm.StartCapture();
    ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, r.effect, r.speed}).code, 0u);
    EXPECT_EQ(FxVm::Frames().size(), r.frames);
    ASSERT_FALSE(FxVm::Frames().empty());
    EXPECT_EQ(FxVm::Frames().back(), Picture(7, r.w, r.h)) << "the last frame is the new picture";
    EXPECT_EQ(vm.Window(), Picture(7, r.w, r.h));
    EXPECT_EQ(vm.d->bgpic->lock, 0u) << "the use counter is back";
  }
}

TEST(Transitions, APictureOfAnotherSizeResizesTheWindowFirst) {
  FxVm vm(64, 48);
  vm.MakeBGPic(2, 100, 40, 7);
  vm.StartCapture();
  // 100 columns at 10: 90 in 9 frames, one more.
  ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, 3, 10}).code, 0u);
  vm.d = DisplayVm::Display(1);
  EXPECT_EQ(vm.d->width, 100);
  EXPECT_EQ(vm.d->height, 40);
  EXPECT_EQ(FxVm::Frames().size(), 10u);
  EXPECT_EQ(vm.Window(), Picture(7, 100, 40));
}

TEST(Transitions, AnAreaOffTheScreenStillRunsEveryFrame) {
  FxVm vm(40, 30);
  const std::vector<uint32_t> before = vm.Window();
  vm.MakeBrush(1, 20, 10, 8);
  vm.StartCapture();
  // HSTRIPES at 5 on 20 columns: 15 in 3 frames, one more.
  ASSERT_EQ(vm.Call("DisplayBrushFX", {1, 300, -200, FX_HSTRIPES, 5}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 4u);
  EXPECT_EQ(vm.Window(), before);
}

TEST(Transitions, StripesRevealPiecesInPlaceAndNothingOutside) {
  // HSTRIPES8 of a 100x40 brush at (10, 20) on 140x80, step 10: bands of 8 rows, even bands from
  // the left, odd ones from the right; frame 1 shows x 0..9 of bands 0, 2, 4 and x 90..99 of 1, 3.
  FxVm vm(140, 80);
  const std::vector<uint32_t> before = vm.Window();
  vm.MakeBrush(1, 100, 40, 3);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("DisplayBrushFX", {1, 10, 20, 3, 10}).code, 0u);
  const auto &frames = FxVm::Frames();
  ASSERT_EQ(frames.size(), 10u);
  auto inArea = [](int x, int y) { return x >= 10 && x < 110 && y >= 20 && y < 60; };
  std::vector<bool> shown(size_t(140) * 80, false);
  for (size_t f = 0; f < frames.size(); f++) {
    for (int y = 0; y < 80; y++)
      for (int x = 0; x < 140; x++) {
        const uint32_t p = At(frames[f], 140, x, y);
        if (!inArea(x, y)) {
          ASSERT_EQ(p, At(before, 140, x, y)) << "frame " << f + 1 << " outside at " << x << "," << y;
          continue;
        }
        const bool isNew = p == FxVm::Pattern(3, x - 10, y - 20);
        const bool isOld = p == At(before, 140, x, y);
        ASSERT_TRUE(isNew || isOld) << "frame " << f + 1 << " at " << x << "," << y;
        if (shown[size_t(y) * 140 + x]) {
          ASSERT_TRUE(isNew) << "a revealed pixel went back, frame " << f + 1;
        }
        if (isNew) shown[size_t(y) * 140 + x] = true;
        if (f == 0) {
          const int ax = x - 10, band = (y - 20) / 8;
          const bool expect = band % 2 == 0 ? ax < 10 : ax >= 90;
          ASSERT_EQ(isNew, expect) << "first frame at " << ax << "," << y - 20;
        }
      }
  }
  for (int y = 20; y < 60; y++)
    for (int x = 10; x < 110; x++) ASSERT_TRUE(shown[size_t(y) * 140 + x]) << x << "," << y;
  EXPECT_EQ(vm.Brush(1)->lock, 0u);
}

TEST(Transitions, EveryBlockWipeEndsOnTheWholeNewPictureAndNothingElse) {
  // Each block wipe over a brush of odd and of even size at (5, 4): outside the area nothing
  // changes; inside a pixel is old or new, never goes back once new, and all are new at the end.
  const int W = 60, H = 40;
  for (int32_t effect = 0; effect <= 29; effect++)
    for (auto [w, h] : {std::pair{37, 23}, std::pair{40, 24}}) {
      SCOPED_TRACE(testing::Message() << "effect " << effect << " on " << w << "x" << h);
      FxVm vm(W, H);
      const std::vector<uint32_t> before = vm.Window();
      vm.MakeBrush(1, w, h, 3);
      vm.StartCapture();
      ASSERT_EQ(vm.Call("DisplayBrushFX", {1, 5, 4, effect, FX_NORMALSPEED, 3}).code, 0u);
      ASSERT_FALSE(FxVm::Frames().empty());
      std::vector<bool> shown(size_t(W) * H, false);
      for (const auto &frame : FxVm::Frames())
        for (int y = 0; y < H; y++)
          for (int x = 0; x < W; x++) {
            const uint32_t p = At(frame, W, x, y), old = At(before, W, x, y);
            const bool inside = x >= 5 && x < 5 + w && y >= 4 && y < 4 + h;
            if (!inside) {
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
      EXPECT_EQ(FxVm::Frames().back(), vm.Window());
    }
}

TEST(Transitions, CrossfadeMixesByTheLevel) {
  // Frame k of the normal speed mixes at level 10k: each channel o + ((n - o) * level) / 256,
  // the division rounding toward minus infinity.
  FxVm vm(40, 30);
  const std::vector<uint32_t> before = vm.Window();
  vm.MakeBGPic(2, 40, 30, 5);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, FX_CROSSFADE}).code, 0u);
  ASSERT_EQ(FxVm::Frames().size(), 26u);
  for (int k : {1, 5, 13, 25}) {
    const int level = 10 * k;
    for (int y = 0; y < 30; y++)
      for (int x = 0; x < 40; x++) {
        const uint32_t o = At(before, 40, x, y), n = FxVm::Pattern(5, x, y);
        uint32_t want = 0;
        for (int shift : {16, 8, 0}) {
          const int oc = int(o >> shift & 255), nc = int(n >> shift & 255);
          want |= uint32_t(oc + ((nc - oc) * level >> 8)) << shift;
        }
        ASSERT_EQ(At(FxVm::Frames()[size_t(k) - 1], 40, x, y), want) << "frame " << k << " at " << x << "," << y;
      }
  }
}

TEST(Transitions, CrossfadeOfAPartMixesOnlyWhereItMayDraw) {
  // A 30x20 brush at (40, 25) of a 60x40 display: cut by the window's edges, and by a box or a
  // mask-shaped clip region. Inside what is left frame k mixes at level 10k; all else stays.
  const int W = 60, H = 40, bx = 40, by = 25;
  const uint32_t key = FxVm::Pattern(8, 3, 0);
  struct Row {
    const char *name;
    int region;  // 0 none, 14 box, 28 mask
    std::function<bool(int x, int y)> inside;
  };
  const Row rows[] = {
      {"the window's edges only", 0, [](int, int) { return true; }},
      {"a box region", 14, [](int x, int y) { return x >= 45 && x < 55 && y >= 28 && y < 38; }},
      {"a mask region", 28,
       [key](int x, int y) {
         const int mx = x - 36, my = y - 22;
         return mx >= 0 && my >= 0 && mx < 20 && my < 12 && FxVm::Pattern(8, mx, my) != key;
       }},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    FxVm vm(W, H);
    vm.MakeBGPic(2, W, H, 4);
    ASSERT_EQ(vm.Call("DisplayBGPic", {2}).code, 0u);
    vm.MakeBrush(1, 30, 20, 5);
    if (r.region == 14) {
      ASSERT_EQ(vm.Call("CreateClipRegion", {1, 14, 45, 28, 10, 10}).code, 0u);
    }
    if (r.region == 28) {
      vm.MakeBrush(3, 20, 12, 8);
      ASSERT_EQ(vm.Call("SetBrushTransparency", {3, double(key)}).code, 0u);
      ASSERT_EQ(vm.Call("CreateClipRegion", {1, 28, 3, 36, 22}).code, 0u);
    }
    if (r.region) {
      ASSERT_EQ(vm.Call("SetClipRegion", {1}).code, 0u);
    }
    const std::vector<uint32_t> before = vm.Window();
    vm.StartCapture();
    ASSERT_EQ(vm.Call("DisplayBrushFX", {1, bx, by, FX_CROSSFADE}).code, 0u);
    ASSERT_EQ(FxVm::Frames().size(), 26u);
    for (int k : {1, 13, 25, 26}) {
      const int level = k == 26 ? 256 : 10 * k;
      for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
          const uint32_t o = At(before, W, x, y);
          uint32_t want = o;
          if (x >= bx && y >= by && r.inside(x, y)) {
            const uint32_t n = FxVm::Pattern(5, x - bx, y - by);
            want = 0;
            for (int shift : {16, 8, 0}) {
              const int oc = int(o >> shift & 255), nc = int(n >> shift & 255);
              want |= uint32_t(oc + ((nc - oc) * level >> 8)) << shift;
            }
          }
          ASSERT_EQ(At(FxVm::Frames()[size_t(k) - 1], W, x, y), want) << "frame " << k << " at " << x << "," << y;
        }
    }
  }
}

TEST(Transitions, PushMovesBothPicturesWhole) {
  struct Row {
    int32_t effect;
    // Where the window pixel (x, y) comes from at push position pos: seed 9 new, 0 old.
    std::function<std::pair<int, int>(int x, int y, int pos, int *seed)> from;
  };
  const int W = 60, H = 30;
  const Row rows[] = {
      {FX_PUSHLEFT, [](int x, int y, int pos, int *s) { *s = x < pos ? 9 : 0; return x < pos ? std::pair{x - pos + W, y} : std::pair{x - pos, y}; }},
      {FX_PUSHRIGHT, [](int x, int y, int pos, int *s) { *s = x >= W - pos ? 9 : 0; return x >= W - pos ? std::pair{x - W + pos, y} : std::pair{x + pos, y}; }},
      {FX_PUSHTOP, [](int x, int y, int pos, int *s) { *s = y < pos ? 9 : 0; return y < pos ? std::pair{x, y - pos + H} : std::pair{x, y - pos}; }},
      {FX_PUSHBOTTOM, [](int x, int y, int pos, int *s) { *s = y >= H - pos ? 9 : 0; return y >= H - pos ? std::pair{x, y - H + pos} : std::pair{x, y + pos}; }},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.effect);
    FxVm vm(W, H);
    vm.MakeBGPic(3, W, H, 4);
    ASSERT_EQ(vm.Call("DisplayBGPic", {3}).code, 0u);
    const std::vector<uint32_t> before = vm.Window();
    ASSERT_EQ(before, Picture(4, W, H));
    vm.MakeBGPic(2, W, H, 9);
    vm.StartCapture();
    ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, r.effect, 7}).code, 0u);
    ASSERT_GE(FxVm::Frames().size(), 3u);
    const int pos = 14;  // frame 2 at step 7
    for (int y = 0; y < H; y++)
      for (int x = 0; x < W; x++) {
        int seed = 0;
        auto [sx, sy] = r.from(x, y, pos, &seed);
        const uint32_t want = FxVm::Pattern(seed == 9 ? 9 : 4, sx, sy);
        ASSERT_EQ(At(FxVm::Frames()[1], W, x, y), want) << x << "," << y;
      }
  }
}

TEST(Transitions, AQuitStillLeavesTheWholeNewPicture) {
  FxVm vm(80, 40);
  vm.MakeBGPic(2, 80, 40, 6);
  vm.MakeBrush(1, 30, 20, 8);
  vm.StartCapture();
  // A quit from outside (as SIGINT asks for one) after the third frame.
  FxFrames::onFrame = [](int frame) {
    if (frame == 3) RequestQuit();
  };
  vm.Call("DisplayTransitionFX", {2, FX_HSTRIPES, 1});
  ClearQuitRequest();
  vm_setendrequested(vm.L, 0);
  EXPECT_EQ(FxVm::Frames().size(), 3u);
  EXPECT_LT(FxVm::Frames().size(), 79u) << "the loop ended early";
  EXPECT_GE(FxVm::Frames().size(), 3u);
  EXPECT_EQ(vm.Window(), Picture(6, 80, 40));
  EXPECT_EQ(vm.d->bgpic->lock, 0u);
}

TEST(Transitions, AResizeRunsAnObjectTransitionAgain) {
  FxVm vm(80, 40);
  vm.MakeBrush(1, 20, 10, 8);
  vm.StartCapture();
  qmScene *scene = vm.Scene();
  qmDisplay *d = vm.d;
  FxFrames::onFrame = [scene, d](int frame) {
    if (frame == 2) ResizeDisplay(scene, d, kKeepPosition, kKeepPosition, 90, 40, 0, 0);
  };
  // HSTRIPES at step 5 on 20 pixels: 4 frames each run.
  ASSERT_EQ(vm.Call("DisplayBrushFX", {1, 0, 0, FX_HSTRIPES, 5, 2}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 2u + 4u);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 20; x++) ASSERT_EQ(DisplayVm::WindowPixel(d, x, y), FxVm::Pattern(8, x, y)) << x << "," << y;
  EXPECT_EQ(vm.Brush(1)->lock, 0u);
}

TEST(Transitions, AScaledDisplayShowsEachFrameStretched) {
  // A display of 40x30 scaled to 80x60: the wipe runs over the picture's 40 columns (step 10: 30
  // in 3 frames, one more) and the window shows picture pixel (x/2, y/2) at (x, y) at the end.
  FxVm vm(40, 30);
  vm.ScaleDisplay(80, 60);
  ASSERT_EQ(vm.d->scaleWidth, 80);
  const std::vector<uint32_t> before = vm.Window();
  vm.MakeBGPic(2, 40, 30, 2);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, 3, 10}).code, 0u);
  ASSERT_EQ(FxVm::Frames().size(), 4u);
  for (int y = 0; y < 60; y++)
    for (int x = 0; x < 80; x++) ASSERT_EQ(DisplayVm::WindowPixel(vm.d, x, y), FxVm::Pattern(2, x / 2, y / 2)) << x << "," << y;
  // Frame 1 shows columns 0..9 of the even bands of 8 rows, stretched: window columns 0..19.
  const auto &first = FxVm::Frames()[0];
  for (int y = 0; y < 60; y++)
    for (int x = 0; x < 80; x++) {
      const bool isNew = (y / 16) % 2 == 0 ? x < 20 : x >= 60;
      ASSERT_EQ(At(first, 80, x, y), isNew ? FxVm::Pattern(2, x / 2, y / 2) : At(before, 80, x, y)) << x << "," << y;
    }
}

TEST(Transitions, BrushWithLayersStaysAsALayer) {
  FxVm vm(60, 40, true);
  vm.MakeBrush(1, 20, 10, 8);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("DisplayBrushFX", {1, 5, 6, FX_VSTRIPES, 3}).code, 0u);
  EXPECT_FALSE(FxVm::Frames().empty());
  EXPECT_NE(PictureLayerAt(vm.Scene(), vm.d->bgpic, 1), nullptr);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 20; x++)
      ASSERT_EQ(DisplayVm::WindowPixel(vm.d, x + 5, y + 6), FxVm::Pattern(8, x, y)) << x << "," << y;
}

// A routine that fails on its third frame, and counts its free calls.
int gFreed;
uint32_t FailOnThird(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) {
    fx->fxState = malloc(4);
    fx->stepCount = 10;
    return 0;
  }
  if (fx->frameNo == 2) return ERR_MEM;
  fx->frameNo++;
  if (fx->frameNo == fx->stepCount) *done = 1;
  return 0;
}
void CountFree(qmFxRequest *, int32_t) { gFreed++; }

TEST(Transitions, AFailingFrameEndsTheTransitionWithItsCode) {
  FxVm vm(40, 30);
  qmBrush *b = vm.MakeBrush(1, 10, 10, 8);
  vm.StartCapture();
  gFreed = 0;
  qmFxRequest r{};
  r.scene = vm.Scene();
  r.objectType = FXTARGET_BRUSH;
  r.objectId = {1, 0};
  r.effect = 0;
  r.step = FX_NORMALSPEED;
  r.frameFn = FailOnThird;
  r.freeFn = CountFree;
  EXPECT_EQ(RunTransition(&r, nullptr), uint32_t(ERR_MEM));
  EXPECT_EQ(FxVm::Frames().size(), 2u);
  EXPECT_EQ(gFreed, 1);
  EXPECT_EQ(b->lock, 0u);
}

TEST(Transitions, CommandErrors) {
  struct Row {
    const char *name;
    const char *command;
    std::vector<CmdArg> args;
    const char *key;  // with a table last: one field of it, or null
    double value;
    const char *text;  // the field's value as a string instead, or null
    uint32_t code;
  };
  const Row rows[] = {
      {"async is refused for a background picture", "DisplayTransitionFX", {2, CmdArg::Table()}, "async", 1, nullptr, ERR_WRONGUSAGE},
      {"a transparent background picture", "DisplayTransitionFX", {3}, nullptr, 0, nullptr, ERR_WRONGUSAGE},
      {"an effect id beyond the table", "DisplayTransitionFX", {2, 141}, nullptr, 0, nullptr, ERR_WRONGUSAGE},
      {"a missing picture", "DisplayTransitionFX", {9}, nullptr, 0, nullptr, ERR_FINDBGPIC},
      {"a missing brush", "DisplayBrushFX", {9, 0, 0}, nullptr, 0, nullptr, ERR_FINDBRUSH},
      {"a table in the wrong place", "DisplayTransitionFX", {2, CmdArg::Table(), 1}, nullptr, 0, nullptr, ERR_NUMEXPECTED},
      {"a key that is no number", "DisplayTransitionFX", {2, CmdArg::Table()}, "speed", 0, "fast", ERR_NUMTABLEARG},
      {"too many arguments", "DisplayTransitionFX", {2, 1, 2, 3, 4}, nullptr, 0, nullptr, ERR_TOOMANYARGS},
      {"GetRandomFX takes one argument", "GetRandomFX", {}, nullptr, 0, nullptr, ERR_MISSINGPARAMTR},
      {"a layer asked for without layers", "DisplayBGPicPartFX", {2, 0, 0, 4, 4, CmdArg::Table()}, "layers", 1, nullptr, ERR_WRONGUSAGE},
      {"a layer asked for positionally without layers", "DisplayBGPicPartFX", {2, 0, 0, 4, 4, 0, 1, -1, 0, 0, 1}, nullptr, 0, nullptr, ERR_WRONGUSAGE},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    FxVm vm(40, 30);
    vm.MakeBGPic(2, 40, 30, 1);
    qmBGPic *transparent = vm.MakeBGPic(3, 40, 30, 2);
    ASSERT_NE(transparent, nullptr);
    transparent->transparentColor = 0;
    vm.StartCapture();
    std::string lower;
    for (const char *c = r.command; *c; c++) lower += char(std::tolower(static_cast<unsigned char>(*c)));
    CommandCall call = vm.CallWith(lower.c_str(), [&] {
      for (const CmdArg &a : r.args) {
        if (a.kind == CmdArg::TABLE) {
          vm_newtable(vm.L);
          if (r.key && r.text) vm.SetText(r.key, r.text);
          else if (r.key) vm.Set(r.key, r.value);
        } else {
          vm_pushnumber(vm.L, a.num);
        }
      }
      return int(r.args.size());
    });
    EXPECT_EQ(call.code, r.code);
    EXPECT_TRUE(FxVm::Frames().empty()) << "nothing was drawn";
  }
}

TEST(Transitions, ClearScreenLeavesNoPictureBehind) {
  FxVm vm(40, 30);
  const qmObjectHeader *before = FirstObject(vm.Scene()->objects, QMTYPE_BGPIC);
  int count = 0;
  for (const qmObjectHeader *h = before; h; h = h->next) count++;
  vm.StartCapture();
  ASSERT_EQ(vm.Call("ClearScreen", {FX_CROSSFADE, 0xFF0000}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 26u);
  for (uint32_t p : vm.Window()) ASSERT_EQ(p, 0xFF0000u);
  int after = 0;
  for (const qmObjectHeader *h = FirstObject(vm.Scene()->objects, QMTYPE_BGPIC); h; h = h->next)
    if (h->id || !h->handle || DisplayShowingBGPic(vm.Scene(), reinterpret_cast<const qmBGPic *>(h)) == nullptr) after++;
  EXPECT_EQ(after, count) << "only the display's own picture is listed";
}

TEST(Transitions, Effect113IsARandomEffect) {
  FxVm vm(40, 30);
  vm.MakeBGPic(2, 40, 30, 1);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, 113}).code, 0u);
  EXPECT_FALSE(FxVm::Frames().empty());
  EXPECT_EQ(vm.Window(), Picture(1, 40, 30));
}

TEST(Transitions, GetRandomFXOnlyForObjects) {
  FxVm vm(40, 30);
  for (int i = 0; i < 3000; i++) {
    CommandCall r = vm.Call("GetRandomFX", {1});
    ASSERT_EQ(r.code, 0u);
    const int32_t e = int32_t(r.results.at(0));
    ASSERT_FALSE(IsWholeDisplayFx(e)) << e;
    ASSERT_TRUE(e >= 0 && e < 140 && e != 113) << e;
  }
}

}  // namespace

namespace {

TEST(FramePrimitives, ClearFxRectFillsTheCutRectangle) {
  // A 40x30 display, the area at (10, 5): rectangles of the area, some beyond the screen's edges.
  struct Row {
    const char *name;
    int x, y, w, h;
  };
  const Row rows[] = {
      {"inside", 2, 3, 6, 4},
      {"over the left and top edges", -15, -9, 20, 10},
      {"over the right and bottom edges", 25, 20, 30, 30},
      {"wholly outside", 40, 0, 5, 5},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    FxVm vm(40, 30);
    const std::vector<uint32_t> before = vm.Window();
    qmFxRequest fx{};
    fx.scene = vm.Scene();
    fx.x = 10;
    fx.y = 5;
    fx.screenWidth = 40;
    fx.screenHeight = 30;
    ClearFxRect(&fx, r.x, r.y, r.w, r.h, 0xFF8000);
    const std::vector<uint32_t> after = vm.Window();
    for (int y = 0; y < 30; y++)
      for (int x = 0; x < 40; x++) {
        const bool in = x >= 10 + r.x && x < 10 + r.x + r.w && y >= 5 + r.y && y < 5 + r.y + r.h;
        ASSERT_EQ(after[size_t(y) * 40 + x], in ? 0xFF8000u : before[size_t(y) * 40 + x]) << x << "," << y;
      }
  }
}

}  // namespace
