// Transitions of layers: shown, hidden, removed and undone, and run again when the picture
// changes size in the middle.
#include <cctype>
#include <string>

#include "display/displayops.h"
#include "layers/layer.h"
#include "runtime/errcodes.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxtable.h"

namespace {

constexpr uint32_t kBackdrop = 0x102030;

struct LayerFx : FxVm {
  LayerFx() : FxVm(60, 40, true) {
    MakeBrush(1, 20, 10, 8);
    MakeBrush(2, 12, 6, 5);
  }
  int Layers() { return CountLayers(d->bgpic); }
  qmLayer *Layer(int n) { return GetNthLayer(d->bgpic, n); }
  // Whether the window shows brush seed's pattern of w x h at (x, y), or the backdrop there.
  bool Shows(int seed, int x, int y, int w, int h) {
    for (int j = 0; j < h; j++)
      for (int i = 0; i < w; i++)
        if (WindowPixel(d, x + i, y + j) != Pattern(seed, i, j)) return false;
    return true;
  }
  bool Bare(int x, int y, int w, int h) {
    for (int j = 0; j < h; j++)
      for (int i = 0; i < w; i++)
        if (WindowPixel(d, x + i, y + j) != kBackdrop) return false;
    return true;
  }
};

TEST(LayerTransitions, ShowHideAndRemove) {
  LayerFx vm;
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
  ASSERT_EQ(vm.Layers(), 1);
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  ASSERT_TRUE(vm.Bare(5, 6, 20, 10));

  vm.StartCapture();
  ASSERT_EQ(vm.Call("ShowLayerFX", {1, FX_HSTRIPES, 5}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 4u) << "20 pixels at 5: 15 in 3 frames, one more";
  EXPECT_EQ(vm.Layer(1)->hidden, 0);
  EXPECT_TRUE(vm.Shows(8, 5, 6, 20, 10));

  vm.StartCapture();
  ASSERT_EQ(vm.Call("HideLayerFX", {1, FX_CROSSFADE}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 26u);
  ASSERT_EQ(vm.Layers(), 1);
  EXPECT_EQ(vm.Layer(1)->hidden, 1);
  EXPECT_TRUE(vm.Bare(5, 6, 20, 10));

  ASSERT_EQ(vm.Call("ShowLayer", {1}).code, 0u);
  vm.StartCapture();
  ASSERT_EQ(vm.Call("RemoveLayerFX", {1, FX_VSTRIPES, 3}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 4u) << "10 rows at 3: 7 in 3 frames, one more";
  EXPECT_EQ(vm.Layers(), 0);
  EXPECT_TRUE(vm.Bare(5, 6, 20, 10));
}

TEST(LayerTransitions, UndoTakesTheLevelthNewestLayerOfTheObject) {
  LayerFx vm;
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 40, 30}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 30, 2}).code, 0u);
  vm.StartCapture();
  CommandCall r = vm.CallWith("undofx", [&] {
    vm_pushnumber(vm.L, 3);  // BRUSH
    vm_pushnumber(vm.L, 1);
    vm_newtable(vm.L);
    vm.Set("type", FX_HSTRIPES);
    vm.Set("undolevel", 2);
    return 3;
  });
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(vm.Layers(), 2);
  EXPECT_TRUE(vm.Bare(0, 0, 20, 10)) << "the older layer of brush 1 went";
  EXPECT_TRUE(vm.Shows(8, 30, 2, 20, 10)) << "the newest stays";
  EXPECT_TRUE(vm.Shows(5, 40, 30, 12, 6));
  EXPECT_EQ(vm.Call("UndoFX", {3, 1, 0, 5, -1, 3}).code, uint32_t(ERR_FINDARRAY));
}

TEST(LayerTransitions, AResizeRunsTheLayerTransitionAgain) {
  LayerFx vm;
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 5, 6}).code, 0u);
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  vm.StartCapture();
  qmScene *scene = vm.Scene();
  qmDisplay *d = vm.d;
  FxFrames::onFrame = [scene, d](int frame) {
    if (frame == 2) ResizeDisplay(scene, d, kKeepPosition, kKeepPosition, 70, 40, 0, 0);
  };
  ASSERT_EQ(vm.Call("ShowLayerFX", {1, FX_HSTRIPES, 5}).code, 0u);
  EXPECT_EQ(FxVm::Frames().size(), 2u + 4u) << "two frames, then the whole transition again";
  EXPECT_EQ(vm.Layer(1)->hidden, 0);
  EXPECT_TRUE(vm.Shows(8, 5, 6, 20, 10));
}

TEST(LayerTransitions, Errors) {
  struct Row {
    const char *name;
    bool layers;
    const char *command;
    CmdArg layer;
    uint32_t code;
  };
  const Row rows[] = {
      {"layers off", false, "ShowLayerFX", 1, ERR_NOLAYERS},
      {"undo with layers off", false, "UndoFX", 3, ERR_NOLAYERS},
      {"no such layer", true, "HideLayerFX", 4, ERR_LAYERRANGE},
      {"no layer of that name", true, "RemoveLayerFX", CmdArg::Str("nobody"), ERR_FINDLAYER},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    FxVm vm(40, 30, r.layers);
    vm.MakeBrush(1, 4, 4, 1);
    if (r.layers) {
      ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
    }
    vm.StartCapture();
    std::vector<CmdArg> args = {r.layer};
    if (std::string(r.command) == "UndoFX") args.push_back(1);
    EXPECT_EQ(vm.Call(r.command, args).code, r.code);
    EXPECT_TRUE(FxVm::Frames().empty());
  }
}

}  // namespace
