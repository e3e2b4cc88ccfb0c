// Pushes, slides, gates and cards between two whole background pictures: the frame count, and
// every frame against where the effect's geometry puts each line of the two pictures.
#include "display/asyncdraw.h"
#include "display/safeblt.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "platform/memory.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

constexpr int kOldSeed = 4, kNewSeed = 9;

// Where one line of the window comes from at position p: a line of the old or the new picture,
// or the slides' plain colour.
struct From {
  enum { COLOUR, OLD, NEW } pic;
  int line;
};

bool Vertical(int32_t e) {
  return e == FX_PUSHTOP || e == FX_PUSHBOTTOM || e == FX_SLIDETOP || e == FX_SLIDEBOTTOM || e == FX_HOPENGATE ||
         e == FX_HCLOSEGATE || e == FX_CARDTOP || e == FX_CARDBOTTOM;
}

// The line at r of a member of axis size at position p (p at its end on the last frame).
From Model(int32_t e, int size, int p, bool last, int r) {
  const int half = size / 2, half2 = size - half;
  switch (e) {
    case FX_PUSHLEFT: case FX_PUSHTOP:
      return r < p ? From{From::NEW, r - p + size} : From{From::OLD, r - p};
    case FX_PUSHRIGHT: case FX_PUSHBOTTOM:
      return r >= size - p ? From{From::NEW, r - size + p} : From{From::OLD, r + p};
    case FX_SLIDELEFT: case FX_SLIDETOP:
      if (last) return {From::NEW, r};
      if (p <= size) return r >= p ? From{From::OLD, r - p} : From{From::COLOUR, 0};
      return r >= 2 * size - p ? From{From::NEW, r - 2 * size + p} : From{From::COLOUR, 0};
    case FX_SLIDERIGHT: case FX_SLIDEBOTTOM:
      if (last) return {From::NEW, r};
      if (p <= size) return r < size - p ? From{From::OLD, r + p} : From{From::COLOUR, 0};
      return r < p - size ? From{From::NEW, r + 2 * size - p} : From{From::COLOUR, 0};
    case FX_HCLOSEGATE: case FX_VCLOSEGATE:
      // The new halves close from both edges: the top half's lower rows above, the bottom half's
      // upper rows below, the old picture between until they meet.
      if (last) return {From::NEW, r};
      if (r < p) return {From::NEW, r + half - p};
      if (r >= size - p) return {From::NEW, r - size + p + half};
      return {From::OLD, r};
    case FX_HOPENGATE: case FX_VOPENGATE: {
      const int nearEdge = half2 - p, farEdge = size - half2 + p;
      if (r < nearEdge) return {From::OLD, r + half - nearEdge};
      if (r >= farEdge) return {From::OLD, half + r - farEdge};
      return {From::NEW, r};
    }
    case FX_CARDTOP: {
      // A band of height a: of the new picture from its row a at the top, the old pushed below.
      const bool first = 2 * p < size;
      const int a = first ? p : size - p, split = first ? a : size - a;
      return r < split ? From{From::NEW, a + r} : From{From::OLD, r - a};
    }
    default: {  // FX_CARDBOTTOM
      const bool first = 2 * p < size;
      const int a = first ? p : size - p, split = first ? size - a : a;
      return r < split ? From{From::OLD, a + r} : From{From::NEW, r - a};
    }
  }
}

// The end position of each member.
int End(int32_t e, int size) {
  if (e >= FX_SLIDELEFT && e <= FX_SLIDEBOTTOM) return 2 * size;
  if (e == FX_HCLOSEGATE || e == FX_VCLOSEGATE) return size / 2;
  if (e == FX_HOPENGATE || e == FX_VOPENGATE) return size - size / 2;
  return size;
}

TEST(Movers, EveryFrameShowsThePicturesWholeWhereTheyStand) {
  struct Row {
    const char *name;
    int32_t effect;
    int w, h;
    int32_t speed;
    int step;       // the step the speed gives
    size_t frames;  // worked out by hand from the step and the end
    int32_t parameter;
    uint32_t colour;
  };
  const Row rows[] = {
      {"PUSHLEFT, odd width", FX_PUSHLEFT, 61, 30, 7, 7, 9, -1, 0},
      {"PUSHBOTTOM, odd height", FX_PUSHBOTTOM, 60, 31, 7, 7, 5, -1, 0},
      {"SLIDELEFT of 100 at 30: 30, 60, 90, 120, 150, 180, 200", FX_SLIDELEFT, 100, 40, 30, 30, 7, -1, 0},
      {"SLIDERIGHT in an orange colour", FX_SLIDERIGHT, 61, 30, 13, 13, 10, 0xFF8000, 0xFF8000},
      {"SLIDETOP: a step above 30 is 30", FX_SLIDETOP, 60, 31, 50, 30, 3, -1, 0},
      {"SLIDEBOTTOM turning between two steps", FX_SLIDEBOTTOM, 60, 31, 9, 9, 7, 0x00FF80, 0x00FF80},
      {"SLIDELEFT turning between two steps: 30, 60, 90, 100", FX_SLIDELEFT, 50, 20, 30, 30, 4, -1, 0},
      {"HOPENGATE, odd height: the first bands share the middle row", FX_HOPENGATE, 60, 31, 4, 4, 4, -1, 0},
      {"HCLOSEGATE, odd height", FX_HCLOSEGATE, 60, 31, 4, 4, 4, -1, 0},
      {"HCLOSEGATE normal: 40 / 80 rounds up to 1", FX_HCLOSEGATE, 60, 40, FX_NORMALSPEED, 1, 20, -1, 0},
      {"VOPENGATE, odd width", FX_VOPENGATE, 61, 30, 5, 5, 7, -1, 0},
      {"VCLOSEGATE, even width", FX_VCLOSEGATE, 60, 30, 5, 5, 6, -1, 0},
      {"VCLOSEGATE: a step above the half closes at once", FX_VCLOSEGATE, 60, 30, 40, 40, 1, -1, 0},
      {"CARDTOP, odd height, through the middle position 15", FX_CARDTOP, 60, 31, 5, 5, 7, -1, 0},
      {"CARDTOP, even height: the second half from 15 on", FX_CARDTOP, 60, 30, 5, 5, 6, -1, 0},
      {"CARDBOTTOM, odd height, through the middle position 13", FX_CARDBOTTOM, 61, 27, 13, 13, 3, -1, 0},
      {"CARDBOTTOM", FX_CARDBOTTOM, 61, 30, 4, 4, 8, -1, 0},
      {"CARDTOP normal: the step comes from the longer side", FX_CARDTOP, 120, 40, FX_NORMALSPEED, 2, 20, -1, 0},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    FxVm vm(r.w, r.h);
    vm.MakeBGPic(3, r.w, r.h, kOldSeed);
    ASSERT_EQ(vm.Call("DisplayBGPic", {3}).code, 0u);
    vm.MakeBGPic(2, r.w, r.h, kNewSeed);
    vm.StartCapture();
    ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, r.effect, r.speed, r.parameter}).code, 0u);
    const auto &frames = FxVm::Frames();
    ASSERT_EQ(frames.size(), r.frames);
    const bool vertical = Vertical(r.effect);
    const int size = vertical ? r.h : r.w, end = End(r.effect, size);
    for (size_t k = 1; k <= frames.size(); k++) {
      const bool last = k == frames.size();
      const int p = last ? end : int(k) * r.step;
      ASSERT_LE(p, end);
      for (int y = 0; y < r.h; y++)
        for (int x = 0; x < r.w; x++) {
          const From f = Model(r.effect, size, p, last, vertical ? y : x);
          uint32_t want = r.colour;
          if (f.pic != From::COLOUR) {
            ASSERT_TRUE(f.line >= 0 && f.line < size) << "line " << f.line << " frame " << k << " at " << x << "," << y;
            const int seed = f.pic == From::NEW ? kNewSeed : kOldSeed;
            want = vertical ? FxVm::Pattern(seed, x, f.line) : FxVm::Pattern(seed, f.line, y);
          }
          ASSERT_EQ(frames[k - 1][size_t(y) * r.w + x], want) << "frame " << k << " at " << x << "," << y;
        }
    }
  }
}

TEST(Movers, AScaledDisplayShowsEachFrameStretched) {
  // A 40x30 display scaled to 80x60: each frame of a slide and a gate is the picture the model
  // gives, stretched (window pixel (x, y) shows picture pixel (x / 2, y / 2)).
  for (int32_t effect : {FX_SLIDERIGHT, FX_VOPENGATE, FX_CARDBOTTOM}) {
    SCOPED_TRACE(effect);
    FxVm vm(40, 30);
    vm.ScaleDisplay(80, 60);
    ASSERT_EQ(vm.d->scaleWidth, 80);
    vm.MakeBGPic(3, 40, 30, kOldSeed);
    ASSERT_EQ(vm.Call("DisplayBGPic", {3}).code, 0u);
    vm.MakeBGPic(2, 40, 30, kNewSeed);
    vm.StartCapture();
    ASSERT_EQ(vm.Call("DisplayTransitionFX", {2, effect, 6, 0x3060C0}).code, 0u);
    const auto &frames = FxVm::Frames();
    const bool vertical = Vertical(effect);
    const int size = vertical ? 30 : 40, end = End(effect, size);
    ASSERT_FALSE(frames.empty());
    for (size_t k = 1; k <= frames.size(); k++) {
      const bool last = k == frames.size();
      const int p = last ? end : int(k) * 6;
      ASSERT_EQ(frames[k - 1].size(), size_t(80) * 60);
      for (int y = 0; y < 60; y++)
        for (int x = 0; x < 80; x++) {
          const int px = x / 2, py = y / 2;
          const From f = Model(effect, size, p, last, vertical ? py : px);
          uint32_t want = 0x3060C0;
          if (f.pic != From::COLOUR) {
            const int seed = f.pic == From::NEW ? kNewSeed : kOldSeed;
            want = vertical ? FxVm::Pattern(seed, px, f.line) : FxVm::Pattern(seed, f.line, py);
          }
          ASSERT_EQ(frames[k - 1][size_t(y) * 80 + x], want) << "frame " << k << " at " << x << "," << y;
        }
    }
  }
}

TEST(Movers, ALayerStandingInTakesItsPictureAgainWhenItChanges) {
  // A hidden 20x10 layer at (5, 6) pushed in, driven frame by frame, standing in for background
  // picture 2. After three frames (the push at 6 of step 2) the picture's pixels change: the next
  // frame shows the new picture's columns 12..19 in the area's first 8 columns, taken anew.
  FxVm vm(60, 40, true);
  vm.MakeBrush(1, 20, 10, 8);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  qmBGPic *emu = vm.MakeBGPic(2, 60, 40, 4);
  ASSERT_NE(emu, nullptr);
  ASSERT_EQ(vm.CallWith("showlayerfx", [&] {
              vm_pushnumber(vm.L, 1);
              vm_newtable(vm.L);
              vm.Set("type", FX_PUSHLEFT);
              vm.Set("speed", 2);
              vm.Set("async", 1);
              vm.Set("bgpicemu", 1);
              vm.Set("bgpic", 2);
              return 2;
            }).code,
            0u);
  auto *ad = reinterpret_cast<qmAsyncDraw *>(FirstObject(vm.Scene()->objects, QMTYPE_ASYNCDRAW));
  ASSERT_NE(ad, nullptr);
  int32_t result = 0;
  for (int k = 0; k < 3; k++) ASSERT_EQ(AdvanceAsyncDraw(vm.Scene(), ad, 0, 0, &result), 0u);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 5, 6), FxVm::Pattern(4, 5 + 14, 6));
  FxVm::Paint(emu->master.bitmap, 6);
  emu->layersChanged = 1;
  ASSERT_EQ(AdvanceAsyncDraw(vm.Scene(), ad, 0, 0, &result), 0u);
  EXPECT_EQ(emu->layersChanged, 0u);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 8; x++)
      ASSERT_EQ(DisplayVm::WindowPixel(vm.d, 5 + x, 6 + y), FxVm::Pattern(6, 5 + x + 12, 6 + y)) << x << "," << y;
  CancelAsyncDrawObject(vm.Scene(), ad);
}


TEST(Movers, AFrameDrawnAfreshMatchesTheRunningFrame) {
  // A frame drawn from its number alone (as when an asynchronous transition is sent to it) over a
  // window painted over: the same picture as that frame of the running transition.
  const int W = 41, H = 27;
  for (int32_t effect : {FX_PUSHRIGHT, FX_SLIDELEFT, FX_SLIDEBOTTOM, FX_HOPENGATE, FX_VOPENGATE, FX_HCLOSEGATE,
                         FX_VCLOSEGATE, FX_CARDTOP, FX_CARDBOTTOM}) {
    SCOPED_TRACE(effect);
    FxVm vm(W, H);
    vm.MakeBGPic(3, W, H, kOldSeed);
    ASSERT_EQ(vm.Call("DisplayBGPic", {3}).code, 0u);
    qmBitmap *fresh = AllocBitmap(W, H), *old = AllocBitmap(W, H);
    FxVm::Paint(fresh, kNewSeed);
    FxVm::Paint(old, kOldSeed);
    auto start = [&](qmFxRequest *fx) {
      *fx = {};
      fx->scene = vm.Scene();
      fx->effect = effect;
      fx->step = 4;
      fx->parameter = FX_RANDOMPARAMETER;
      fx->width = fx->screenWidth = W;
      fx->height = fx->screenHeight = H;
      fx->srcImage = fresh;
      fx->oldImage = old;
      fx->bltFlags = SAFEBLT_BACKGROUND;
      fx->phase = FXPHASE_INIT;
      ASSERT_EQ(FindFxRoutines(effect)->frame(fx, nullptr), 0u);
    };
    qmFxRequest fx;
    start(&fx);
    std::vector<std::vector<uint32_t>> running;
    for (int32_t done = 0; !done;) {
      fx.phase = FXPHASE_FRAME;
      ASSERT_EQ(FindFxRoutines(effect)->frame(&fx, &done), 0u);
      running.push_back(vm.Window());
    }
    ASSERT_EQ(running.size(), size_t(fx.stepCount));
    MemFree(fx.fxState);
    for (int32_t n = 1; n <= int32_t(running.size()); n++) {
      start(&fx);
      ClearFxRect(&fx, 0, 0, W, H, 0x5A5A5A);
      fx.phase = FXPHASE_DRAW;
      fx.frameNo = n;
      ASSERT_EQ(FindFxRoutines(effect)->frame(&fx, nullptr), 0u);
      EXPECT_EQ(fx.frameNo, n) << "drawing a frame afresh does not count it";
      ASSERT_EQ(vm.Window(), running[size_t(n) - 1]) << "frame " << n;
      MemFree(fx.fxState);
    }
    FreeBitmap(fresh);
    FreeBitmap(old);
  }
}

}  // namespace

namespace {

TEST(ThinAreas, OneLineAreasRunToTheNewPicture) {
  // Areas one pixel wide or high: every step stays at least 1, and the last frame is the new
  // picture. The movers run over a layer standing in for a background picture (a display is never
  // that thin), the others over a brush.
  const int32_t movers[] = {FX_HOPENGATE, FX_HCLOSEGATE, FX_VOPENGATE, FX_VCLOSEGATE, FX_PUSHLEFT,
                            FX_PUSHBOTTOM, FX_SLIDERIGHT, FX_SLIDETOP, FX_CARDTOP, FX_CARDBOTTOM};
  const int32_t others[] = {FX_HFLOWTOP, FX_HFLOWBOTTOM, FX_VFLOWLEFT, FX_VFLOWRIGHT, FX_UPNDOWN};
  const int W = 20, H = 20, ax = 2, ay = 3;
  for (auto [w, h] : {std::pair{1, 6}, std::pair{6, 1}})
    for (int32_t speed : {int32_t(FX_NORMALSPEED), int32_t(FX_SLOWSPEED), 5}) {
      for (int32_t e : movers) {
        SCOPED_TRACE(testing::Message() << "effect " << e << " on " << w << "x" << h << " at " << speed);
        FxVm vm(W, H, true);
        vm.MakeBrush(1, w, h, kNewSeed);
        ASSERT_EQ(vm.Call("DisplayBrush", {1, ax, ay}).code, 0u);
        ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
        // The picture the layer stands in for shows the brush where the layer lies.
        qmBGPic *emu = vm.MakeBGPic(2, W, H, 0);
        ASSERT_NE(emu, nullptr);
        for (int y = 0; y < H; y++)
          for (int x = 0; x < W; x++)
            emu->master.bitmap->pixels[y * (emu->master.bitmap->bytesPerRow / 4) + x] =
                __builtin_bswap32(FxVm::Pattern(kNewSeed, x - ax, y - ay));
        vm.StartCapture();
        ASSERT_EQ(vm.CallWith("showlayerfx", [&] {
                    vm_pushnumber(vm.L, 1);
                    vm_newtable(vm.L);
                    vm.Set("type", e);
                    vm.Set("speed", speed);
                    vm.Set("bgpicemu", 1);
                    vm.Set("bgpic", 2);
                    return 2;
                  }).code,
                  0u);
        ASSERT_FALSE(FxVm::Frames().empty());
        for (int y = 0; y < h; y++)
          for (int x = 0; x < w; x++)
            ASSERT_EQ(vm.Window()[size_t(y + ay) * W + x + ax], FxVm::Pattern(kNewSeed, x, y)) << x << "," << y;
      }
      for (int32_t e : others) {
        SCOPED_TRACE(testing::Message() << "effect " << e << " on " << w << "x" << h << " at " << speed);
        FxVm vm(W, H);
        vm.MakeBrush(1, w, h, kNewSeed);
        vm.StartCapture();
        ASSERT_EQ(vm.Call("DisplayBrushFX", {1, ax, ay, e, speed}).code, 0u);
        ASSERT_FALSE(FxVm::Frames().empty());
        for (int y = 0; y < h; y++)
          for (int x = 0; x < w; x++)
            ASSERT_EQ(vm.Window()[size_t(y + ay) * W + x + ax], FxVm::Pattern(kNewSeed, x, y)) << x << "," << y;
      }
    }
}

}  // namespace
