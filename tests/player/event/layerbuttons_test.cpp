// Buttons that follow a layer: hit on the layer's current box, pixel by pixel through its mask
// when asked, and quiet while the layer is hidden unless they stay active then.
#include <gtest/gtest.h>

#include "display/bgpic.h"
#include "player/event/event_buttons.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"
#include "tests/player/event/input_vm.h"

namespace {

using Lines = std::vector<std::string>;

struct LayerButtonVm : InputVm {
  LayerButtonVm() {
    EXPECT_EQ(Call("EnableLayers", {}).code, 0u);
    // Brush 1: 8x8 with a mask that is set except in its top-left 4x4 quarter.
    const CommandCall r = CallWith("rgbarraytobrush", [&] {
      vm_pushnumber(L, 1);
      vm_newtable(L);
      for (int i = 0; i < 64; i++) {
        const bool clear = i % 8 < 4 && i / 8 < 4;
        vm_pushnumber(L, clear ? 0x00FF0000 : 0xFF00FF00);
        vm_rawseti(L, -2, i);
      }
      for (double v : {8.0, 8.0, 28.0, 0.0}) vm_pushnumber(L, v);
      return 6;
    });
    EXPECT_EQ(r.code, 0u);
  }
  // MakeButton(id, LAYERBUTTON, layer, pixelexact, activewhenhidden, {events}).
  CommandCall MakeLayerButton(double id, const CmdArg &layer, int exact, int whenHidden, const Lines &events,
                              const std::string &name) {
    return CallWith("makebutton", [&] {
      vm_pushnumber(L, id);
      vm_pushnumber(L, 1);
      if (layer.kind == CmdArg::STR) vm_pushstring(L, layer.str);
      else vm_pushnumber(L, layer.num);
      vm_pushnumber(L, exact);
      vm_pushnumber(L, whenHidden);
      vm_newtable(L);
      for (const std::string &e : events) {
        vm_pushstring(L, e.c_str());
        PushHandler(name);
        vm_settable(L, -3);
      }
      return 6;
    });
  }
};

TEST(LayerButtons, FollowTheLayerAndItsPixels) {
  LayerButtonVm vm;
  ASSERT_EQ(vm.CallWith("displaybrush", [&] {
                for (double v : {1.0, 100.0, 50.0}) vm_pushnumber(vm.L, v);
                vm_newtable(vm.L);
                vm.SetText("name", "ship");
                return 4;
              }).code,
            0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 10, 10}).code, 0u);
  std::string layerField;
  InputVm::Actions()["box"] = [&](VmState *L) {
    vm_pushstring(L, "layer");
    vm_gettable(L, 1);
    vm_pushstring(L, "layername");
    vm_gettable(L, 1);
    layerField = std::to_string(int(vm_tonumber(L, -2))) + "/" + (vm_tostring(L, -1) ? vm_tostring(L, -1) : "?");
    vm_pop(L, 2);
  };
  ASSERT_EQ(vm.MakeLayerButton(1, CmdArg::Str("SHIP"), 0, 0, {"onmousedown"}, "box").code, 0u);
  ASSERT_EQ(vm.MakeLayerButton(2, 2, 1, 0, {"onmousedown"}, "exact").code, 0u);
  EXPECT_EQ(vm.MakeLayerButton(3, 2, 1, 0, {"onmousedown"}, "again").code, uint32_t(ERR_WRONGUSAGE))
      << "one button per layer";
  EXPECT_EQ(vm.MakeLayerButton(3, 3, 1, 0, {"onmousedown"}, "none").code, uint32_t(ERR_LAYERRANGE));
  EXPECT_EQ(vm.MakeLayerButton(3, CmdArg::Str("nope"), 1, 0, {"onmousedown"}, "none").code, uint32_t(ERR_FINDLAYER));

  vm.Click(101, 51);  // the box button takes the clear quarter too
  vm.Click(11, 11);   // the exact button: clear quarter, no hit
  vm.Click(16, 16);   // set
  vm.Click(18, 18);   // just past the box
  EXPECT_EQ(InputVm::Log(), (Lines{"box:OnMouseDown:1", "exact:OnMouseDown:2"}));
  EXPECT_EQ(layerField, "1/ship");
  InputVm::Log().clear();

  // The button follows its layer when it moves.
  ASSERT_EQ(vm.Call("TranslateLayer", {1, -90, -40}).code, 0u);  // now at (10, 10), under layer 2
  vm.Click(101, 51);
  vm.Click(13, 13);  // the newest button (the exact one) misses its clear pixel; the box one hits
  EXPECT_EQ(InputVm::Log(), (Lines{"box:OnMouseDown:1"}));
  EXPECT_EQ(layerField, "1/ship");
}

TEST(LayerButtons, HiddenLayersAndActiveWhenHidden) {
  LayerButtonVm vm;
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 10, 10}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 40, 10}).code, 0u);
  ASSERT_EQ(vm.MakeLayerButton(1, 1, 0, 0, {"onmousedown"}, "quiet").code, 0u);
  ASSERT_EQ(vm.MakeLayerButton(2, 2, 0, 1, {"onmousedown"}, "awake").code, 0u);
  ASSERT_EQ(vm.Call("HideLayer", {1}).code, 0u);
  ASSERT_EQ(vm.Call("HideLayer", {2}).code, 0u);
  vm.Click(12, 12);
  vm.Click(42, 12);
  EXPECT_EQ(InputVm::Log(), (Lines{"awake:OnMouseDown:2"}));
  InputVm::Log().clear();
  ASSERT_EQ(vm.Call("ShowLayer", {1}).code, 0u);
  vm.Click(12, 12);
  EXPECT_EQ(InputVm::Log(), (Lines{"quiet:OnMouseDown:1"}));
  // The layer's removal takes its button along, and so does FreeLayers.
  ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
  EXPECT_EQ(CountButtons(vm.d->bgpic), 1);
  ASSERT_EQ(vm.Call("FreeLayers", {}).code, 0u);
  EXPECT_EQ(CountButtons(vm.d->bgpic), 0);
  InputVm::Log().clear();
  vm.Click(42, 12);
  EXPECT_TRUE(InputVm::Log().empty());
}

}  // namespace
