// A display VM with one open display and the brush library's commands as a test reads them:
// brushes from and to ARGB tables, single pixels and attributes.
#pragma once
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "display/brush.h"
#include "runtime/attributes.h"
#include "tests/display/display_vm.h"

struct BrushVm : DisplayVm {
  qmDisplay *d = nullptr;
  BrushVm() {
    EXPECT_EQ(Create(1, [&] { Set("width", 64), Set("height", 48), Set("color", 0x102030); }).code, 0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    d = Display(1);
  }
  // RGBArrayToBrush(id, pixels, w, h, type, inverted).
  CommandCall FromArray(double id, const std::vector<uint32_t> &px, int w, int h, double type = -1,
                        int inverted = 0) {
    return CallWith("rgbarraytobrush", [&] {
      vm_pushnumber(L, id);
      vm_newtable(L);
      for (size_t i = 0; i < px.size(); i++) {
        vm_pushnumber(L, px[i]);
        vm_rawseti(L, -2, int(i));
      }
      for (double v : {double(w), double(h), type, double(inverted)}) vm_pushnumber(L, v);
      return 6;
    });
  }
  // BrushToRGBArray(id, inverted) as numbers; empty on error.
  std::vector<double> ToArray(double id, int inverted = 0) {
    std::vector<double> out;
    vm_settop(L, 0);
    vm_pushstring(L, "brushtorgbarray");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushnumber(L, id);
    vm_pushnumber(L, inverted);
    if (vm_pcall(L, 2, 1, 0) != 0) {
      vm_setendrequested(L, 0);
      vm_settop(L, 0);
      return out;
    }
    for (int i = 0;; i++) {
      vm_rawgeti(L, 1, i);
      if (vm_type(L, -1) == VM_TNIL) break;
      out.push_back(vm_tonumber(L, -1));
      vm_pop(L, 1);
    }
    vm_settop(L, 0);
    return out;
  }
  qmBrush *Brush(uint32_t id) {
    qmObjectId oid{id, 0};
    qmBrush *b = nullptr;
    return FindBrush(ObjectRegistryOf(L), &oid, &b, FINDBRUSH_HARDWARE) == 0 ? b : nullptr;
  }
  // The pixel and plane value as ReadBrushPixel gives them.
  std::pair<double, double> Read(double id, double x, double y) {
    CommandCall r = Call("ReadBrushPixel", {id, x, y});
    EXPECT_EQ(r.code, 0u);
    return r.results.size() == 2 ? std::make_pair(r.results[0], r.results[1]) : std::make_pair(-2.0, -2.0);
  }
  uint32_t Attr(double id, int attribute) {
    CommandCall r = Call("GetAttribute", {3, id, attribute});
    return r.code ? 0xDEADu : uint32_t(r.results.at(0));
  }
  uint32_t Background(int x, int y) { return BitmapPixel(d->backgroundCopy, x, y); }
};

