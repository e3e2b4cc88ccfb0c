// Where a transition ends: on the window and in the layers, exactly what the plain display
// command shows for the same object, with layers on and off.
#include <functional>

#include "layers/layer.h"
#include "tests/transitions/fx_vm.h"
#include "transitions/fxtable.h"

namespace {

struct Row {
  const char *name;
  bool layers;
  std::function<void(FxVm &)> setup;
  std::function<CommandCall(FxVm &)> plain, fx;
};

// A table argument of numbers.
CommandCall WithTable(FxVm &vm, const char *command, std::vector<double> args,
                      std::vector<std::pair<const char *, double>> fields) {
  return vm.CallWith(command, [&] {
    for (double a : args) vm_pushnumber(vm.L, a);
    vm_newtable(vm.L);
    for (auto [k, v] : fields) vm.Set(k, v);
    return int(args.size()) + 1;
  });
}

TEST(TransitionEnds, MatchThePlainDisplayCommands) {
  auto maskedBrush = [](FxVm &vm) {
    vm.MakeBrush(1, 20, 12, 8);
    // Colour 0 of the pattern's first column keys a mask: some pixels stay transparent.
    ASSERT_EQ(vm.Call("SetBrushTransparency", {1, double(FxVm::Pattern(8, 3, 0))}).code, 0u);
  };
  auto picture = [](FxVm &vm) { vm.MakeBGPic(2, 50, 40, 4); };
  auto text = [](FxVm &vm) { ASSERT_EQ(vm.Call("CreateTextObject", {1, CmdArg::Str("Quenmoor")}).code, 0u); };
  const Row rows[] = {
      {"a brush with a mask", false, maskedBrush, [](FxVm &vm) { return vm.Call("DisplayBrush", {1, 7, 9}); },
       [](FxVm &vm) { return vm.Call("DisplayBrushFX", {1, 7, 9, FX_VSTRIPES}); }},
      {"a brush placed by dx and dy", false, maskedBrush, [](FxVm &vm) { return vm.Call("DisplayBrush", {1, 11, 3}); },
       [](FxVm &vm) { return WithTable(vm, "displaybrushfx", {1, 0, 0}, {{"dx", 11}, {"dy", 3}, {"type", FX_HSTRIPES}}); }},
      {"a brush with a mask on layers", true, maskedBrush, [](FxVm &vm) { return vm.Call("DisplayBrush", {1, 7, 9}); },
       [](FxVm &vm) { return vm.Call("DisplayBrushFX", {1, 7, 9, FX_CROSSFADE}); }},
      {"a centred brush", false, maskedBrush,
       [](FxVm &vm) { return vm.Call("DisplayBrush", {1, -100000, -100000}); },
       [](FxVm &vm) { return vm.Call("DisplayBrushFX", {1, -100000, -100000, 28}); }},
      {"a part of a picture", false, picture, [](FxVm &vm) { return vm.Call("DisplayBGPicPart", {2, 4, 5, 20, 10, 9, 8}); },
       [](FxVm &vm) { return vm.Call("DisplayBGPicPartFX", {2, 4, 5, 20, 10, 24, -1, -1, 9, 8}); }},
      {"a text object", false, text, [](FxVm &vm) { return vm.Call("DisplayTextObject", {1, 3, 4}); },
       [](FxVm &vm) { return vm.Call("DisplayTextObjectFX", {1, 3, 4, FX_PUSHLEFT}); }},
      {"a text object on layers", true, text, [](FxVm &vm) { return vm.Call("DisplayTextObject", {1, 3, 4}); },
       [](FxVm &vm) { return vm.Call("DisplayTextObjectFX", {1, 3, 4, 29}); }},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint32_t> plain;
    int plainLayers = 0;
    {
      FxVm vm(60, 40, r.layers);
      r.setup(vm);
      const std::vector<uint32_t> before = vm.Window();
      ASSERT_EQ(r.plain(vm).code, 0u);
      plain = vm.Window();
      ASSERT_NE(plain, before) << "the plain command draws";
      plainLayers = CountLayers(vm.d->bgpic);
    }
    FxVm vm(60, 40, r.layers);
    r.setup(vm);
    vm.StartCapture();
    ASSERT_EQ(r.fx(vm).code, 0u);
    EXPECT_FALSE(FxVm::Frames().empty());
    EXPECT_EQ(vm.Window(), plain);
    EXPECT_EQ(CountLayers(vm.d->bgpic), plainLayers);
    if (r.layers) {
      ASSERT_EQ(plainLayers, 1);
      EXPECT_EQ(GetNthLayer(vm.d->bgpic, 1)->hidden, 0);
    }
  }
}

}  // namespace
