// Flows of a brush on the plain display, of a layer through its planes, and of a layer taken
// away: every frame against the band reached and the line smeared beyond it.
#include "layers/layer.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxtable.h"

namespace {

constexpr int kSeed = 8;

bool Columns(int32_t e) { return e == FX_VFLOWLEFT || e == FX_VFLOWRIGHT; }
bool FromEnd(int32_t e) { return e == FX_HFLOWBOTTOM || e == FX_VFLOWRIGHT; }

// The picture's line shown at line r when the uncovered part reaches the edge e: the line itself
// inside the uncovered part, the line at its edge beyond it.
int FlowLine(int32_t e, int edge, int r) {
  if (FromEnd(e)) return r >= edge ? r : edge - 1;
  return r < edge ? r : edge - 1;
}

TEST(Flows, TheEdgeLineRunsOverTheRestOfTheArea) {
  struct Row {
    const char *name;
    int32_t effect;
    int w, h;
    int32_t speed;
    int step;
    size_t frames;  // worked out by hand
    bool masked;
    bool planes;  // a hidden layer shown through its own planes, else the brush on the display
  };
  const Row rows[] = {
      {"HFLOWTOP of 100 rows at 20: bands end at 20, 40, 60, 80, 100", FX_HFLOWTOP, 30, 100, 20, 20, 5, false, false},
      {"HFLOWTOP: a step above 30 is 30", FX_HFLOWTOP, 30, 100, 50, 30, 4, false, false},
      {"HFLOWBOTTOM: edges at 35, 25, 15, 5, 0", FX_HFLOWBOTTOM, 30, 45, 10, 10, 5, false, false},
      {"VFLOWLEFT, odd width", FX_VFLOWLEFT, 47, 20, 6, 6, 8, false, false},
      {"VFLOWLEFT normal: 47 / 30 is 1 a frame", FX_VFLOWLEFT, 47, 12, FX_NORMALSPEED, 1, 47, false, false},
      {"VFLOWRIGHT: edges at 43 down to 1, then 0", FX_VFLOWRIGHT, 50, 20, 7, 7, 8, false, false},
      {"HFLOWTOP of a masked brush", FX_HFLOWTOP, 30, 41, 8, 8, 6, true, false},
      {"VFLOWRIGHT of a masked brush", FX_VFLOWRIGHT, 33, 17, 5, 5, 7, true, false},
      {"HFLOWBOTTOM of a layer in its planes", FX_HFLOWBOTTOM, 30, 45, 10, 10, 5, false, true},
      {"HFLOWTOP of a masked layer in its planes", FX_HFLOWTOP, 30, 41, 8, 8, 6, true, true},
      {"VFLOWRIGHT of a masked layer in its planes", FX_VFLOWRIGHT, 33, 17, 5, 5, 7, true, true},
  };
  const int bx = 5, by = 3;
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    const int W = r.w + 12, H = r.h + 8;
    FxVm vm(W, H, r.planes);
    vm.MakeBrush(1, r.w, r.h, kSeed);
    const uint32_t key = FxVm::Pattern(kSeed, 3, 0);
    if (r.masked) {
      ASSERT_EQ(vm.Call("SetBrushTransparency", {1, double(key)}).code, 0u);
    }
    if (r.planes) {
      ASSERT_EQ(vm.Call("DisplayBrush", {1, bx, by}).code, 0u);
      ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
    }
    const std::vector<uint32_t> before = vm.Window();
    vm.StartCapture();
    if (r.planes) {
      ASSERT_EQ(vm.CallWith("showlayerfx", [&] {
                  vm_pushnumber(vm.L, 1);
                  vm_newtable(vm.L);
                  vm.Set("type", r.effect);
                  vm.Set("speed", r.speed);
                  vm.Set("forcerealtimelayers", 1);
                  return 2;
                }).code,
                0u);
    } else {
      ASSERT_EQ(vm.Call("DisplayBrushFX", {1, bx, by, r.effect, r.speed}).code, 0u);
    }
    const auto &frames = FxVm::Frames();
    ASSERT_EQ(frames.size(), r.frames);
    const int size = Columns(r.effect) ? r.w : r.h;
    for (size_t k = 1; k <= frames.size(); k++) {
      const int run = int(k) * r.step;
      const int edge = FromEnd(r.effect) ? (size - run > 0 ? size - run : 0) : (run < size ? run : size);
      for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
          const uint32_t old = before[size_t(y) * W + x];
          uint32_t want = old;
          const int ax = x - bx, ay = y - by;
          if (ax >= 0 && ay >= 0 && ax < r.w && ay < r.h) {
            const int sx = Columns(r.effect) ? FlowLine(r.effect, edge, ax) : ax;
            const int sy = Columns(r.effect) ? ay : FlowLine(r.effect, edge, ay);
            const uint32_t p = FxVm::Pattern(kSeed, sx, sy);
            if (!r.masked || p != key) want = p;
          }
          ASSERT_EQ(frames[k - 1][size_t(y) * W + x], want) << "frame " << k << " at " << x << "," << y;
        }
    }
  }
}

TEST(Flows, ALayerTakenAwayRetreatsAndLeavesTheAreaBare) {
  // The brush's layer (20x10 at (5, 6)) flows back to its edge; the last frame shows what lies
  // under it. Backwards the flow stops a step short: size - 2 steps in steps, one more.
  struct Row {
    const char *name;
    int32_t effect;
    int step;
    size_t frames;
  };
  const Row rows[] = {
      {"HFLOWTOP at 3: edges at 7 and 4, then bare", FX_HFLOWTOP, 3, 3},
      {"HFLOWBOTTOM at 2: edges at 2, 4, 6, then bare", FX_HFLOWBOTTOM, 2, 4},
      {"VFLOWRIGHT at 3: edges at 3 to 15, then bare", FX_VFLOWRIGHT, 3, 6},
      {"VFLOWLEFT at 4: edges at 16 to 8, then bare", FX_VFLOWLEFT, 4, 4},
  };
  const int W = 40, H = 24, lx = 5, ly = 6, lw = 20, lh = 10;
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    FxVm vm(W, H, true);
    vm.MakeBrush(1, lw, lh, kSeed);
    const std::vector<uint32_t> bare = vm.Window();
    ASSERT_EQ(vm.Call("DisplayBrush", {1, lx, ly}).code, 0u);
    vm.StartCapture();
    ASSERT_EQ(vm.Call("HideLayerFX", {1, r.effect, r.step}).code, 0u);
    const auto &frames = FxVm::Frames();
    ASSERT_EQ(frames.size(), r.frames);
    const int size = Columns(r.effect) ? lw : lh;
    for (size_t k = 1; k <= frames.size(); k++) {
      const bool last = k == frames.size();
      const int run = int(k) * r.step;
      const int edge = FromEnd(r.effect) ? run : size - run;
      for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
          uint32_t want = bare[size_t(y) * W + x];
          const int ax = x - lx, ay = y - ly;
          if (!last && ax >= 0 && ay >= 0 && ax < lw && ay < lh) {
            // The layer's own picture retreats towards the edge the flow starts from.
            const int shown = FlowLine(r.effect, edge, Columns(r.effect) ? ax : ay);
            want = Columns(r.effect) ? FxVm::Pattern(kSeed, shown, ay) : FxVm::Pattern(kSeed, ax, shown);
          }
          ASSERT_EQ(frames[k - 1][size_t(y) * W + x], want) << "frame " << k << " at " << x << "," << y;
        }
    }
    EXPECT_EQ(GetNthLayer(vm.d->bgpic, 1)->hidden, 1);
    EXPECT_EQ(vm.Window(), bare);
  }
}

}  // namespace
