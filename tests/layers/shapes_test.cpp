// Shape layers keep their shape: a turned or scaled shape is drawn again at the new geometry, a
// new radius, size or vertex list redraws it, and GetLayerStyle answers with the keys it takes.
// A shape changed on its layer must look exactly like the same shape drawn at that geometry in
// the first place; the sizes of what shows follow from the geometry written out in each row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "layers/layer.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "tests/display/display_vm.h"
#include "tests/layers/layers_vm.h"

namespace {

constexpr int kW = 80, kH = 60;
constexpr uint32_t kBackground = 0x102030;
constexpr int kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00FF00;

using layertest::Channel;

struct Patch {
  int x = 0, y = 0, w = 0, h = 0;
  std::vector<uint32_t> px;
};

struct ShapeVm : DisplayVm {
  qmDisplay *d = nullptr;

  ShapeVm() { d = layertest::OpenLayersDisplay(this, kW, kH, kBackground); }
  std::vector<uint32_t> Screen() {
    std::vector<uint32_t> out;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) out.push_back(WindowPixel(d, x, y));
    return out;
  }
  // What differs from the background, cut to its bounding box.
  Patch Drawn() {
    const std::vector<uint32_t> s = Screen();
    int x0 = kW, y0 = kH, x1 = -1, y1 = -1;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++)
        if (s[size_t(y * kW + x)] != kBackground)
          x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    Patch p;
    if (x1 < 0) return p;
    p.x = x0, p.y = y0, p.w = x1 - x0 + 1, p.h = y1 - y0 + 1;
    for (int y = y0; y <= y1; y++)
      for (int x = x0; x <= x1; x++) p.px.push_back(s[size_t(y * kW + x)]);
    return p;
  }
  uint32_t Polygon(int x, int y, const std::vector<double> &xy, uint32_t color) {
    return CallWith("polygon", [&] {
      vm_pushnumber(L, x), vm_pushnumber(L, y);
      vm_newtable(L);
      for (size_t i = 0; i < xy.size(); i++) {
        vm_pushnumber(L, xy[i]);
        vm_rawseti(L, -2, int(i + 1));
      }
      vm_pushnumber(L, double(xy.size() / 2));
      vm_pushnumber(L, color);
      return 5;
    }).code;
  }
  uint32_t Style(int pos, const std::function<void()> &fill) {
    return CallWith("setlayerstyle", [&] {
      vm_pushnumber(L, pos);
      vm_newtable(L);
      fill();
      return 2;
    }).code;
  }
  // A table of numbers from index 0 under key in the table on the stack top.
  void SetList(const char *key, const std::vector<double> &v) {
    vm_pushstring(L, key);
    vm_newtable(L);
    for (size_t i = 0; i < v.size(); i++) {
      vm_pushnumber(L, v[i]);
      vm_rawseti(L, -2, int(i));
    }
    vm_settable(L, -3);
  }
  void Clear() {
    while (CountLayers(d->bgpic) > 0) ASSERT_EQ(Call("RemoveLayer", {1}).code, 0u);
  }
  void PlainStyle() {
    ASSERT_EQ(Call("SetFillStyle", {1}).code, 0u);
    ASSERT_EQ(Call("SetFormStyle", {1}).code, 0u);
  }
};

int MaxChannelDifference(const Patch &a, const Patch &b) {
  int worst = 0;
  for (size_t i = 0; i < a.px.size() && i < b.px.size(); i++)
    for (int shift : {16, 8, 0})
      worst = std::max(worst, std::abs(int(Channel(a.px[i], shift)) - int(Channel(b.px[i], shift))));
  return worst;
}

TEST(ShapeLayers, TransformedShapesEqualShapesDrawnAtTheNewGeometry) {
  ShapeVm vm;
  struct Row {
    const char *name;
    std::function<void()> setup;
    std::function<uint32_t()> layered;
    std::function<void()> style;
    std::function<uint32_t()> direct;
    int width, height;  // of what the turned or scaled shape covers
    int tolerance;      // per channel: anti-aliased edges may differ by rounding
  } rows[] = {
      {"filled box turned 90 is a box of h x w", [] {}, [&] { return vm.Call("Box", {10, 10, 20, 8, kRed}).code; },
       [&] { vm.Set("rotate", 90), vm.Set("anchorx", 0.5), vm.Set("anchory", 0.5); },
       [&] { return vm.Call("Box", {10, 10, 8, 20, kRed}).code; }, 8, 20, 0},
      {"outlined box turned 90 is a frame of h x w", [&] { vm.Call("SetFillStyle", {0}); },
       [&] { return vm.Call("Box", {10, 10, 20, 8, kRed}).code; },
       [&] { vm.Set("rotate", 90), vm.Set("anchorx", 0.5), vm.Set("anchory", 0.5); },
       [&] { return vm.Call("Box", {10, 10, 8, 20, kRed}).code; }, 8, 20, 0},
      {"box scaled 2x is a box of 2w x 2h", [] {}, [&] { return vm.Call("Box", {5, 5, 12, 7, kRed}).code; },
       [&] { vm.Set("scalex", 2), vm.Set("scaley", 2); }, [&] { return vm.Call("Box", {5, 5, 24, 14, kRed}).code; },
       24, 14, 0},
      // A 13 x 13 circle picture scaled would cover 26 pixels; the circle of twice the radius
      // covers 2 * 12 + 1.
      {"circle scaled 2x is a circle of twice the radius", [] {},
       [&] { return vm.Call("Circle", {20, 10, 6, kBlue}).code; }, [&] { vm.Set("scalex", 2), vm.Set("scaley", 2); },
       [&] { return vm.Call("Circle", {20, 10, 12, kBlue}).code; }, 25, 25, 0},
      // The anti-aliased fringe adds a partly covered pixel on each side.
      {"anti-aliased circle scaled 2x", [&] { vm.Call("SetFormStyle", {16}); },
       [&] { return vm.Call("Circle", {20, 10, 6, kBlue}).code; }, [&] { vm.Set("scalex", 2), vm.Set("scaley", 2); },
       [&] { return vm.Call("Circle", {20, 10, 12, kBlue}).code; }, 27, 27, 8},
      {"polygon scaled 2x has its vertices doubled", [] {},
       [&] { return vm.Polygon(5, 5, {0, 0, 10, 0, 0, 8}, kGreen); }, [&] { vm.Set("scalex", 2), vm.Set("scaley", 2); },
       [&] { return vm.Polygon(5, 5, {0, 0, 20, 0, 0, 16}, kGreen); }, 21, 17, 0},
      {"outlined ellipse stretched in y", [&] { vm.Call("SetFillStyle", {0}); },
       [&] { return vm.Call("Ellipse", {10, 10, 12, 5, kRed}).code; }, [&] { vm.Set("scaley", 3); },
       [&] { return vm.Call("Ellipse", {10, 10, 12, 15, kRed}).code; }, 25, 31, 0},
  };
  for (const Row &r : rows) {
    vm.Clear();
    vm.PlainStyle();
    r.setup();
    ASSERT_EQ(r.layered(), 0u) << r.name;
    ASSERT_EQ(vm.Style(1, r.style), 0u) << r.name;
    const Patch turned = vm.Drawn();
    vm.Clear();
    ASSERT_EQ(r.direct(), 0u) << r.name;
    const Patch direct = vm.Drawn();
    EXPECT_EQ(turned.w, r.width) << r.name;
    EXPECT_EQ(turned.h, r.height) << r.name;
    ASSERT_EQ(turned.w, direct.w) << r.name;
    ASSERT_EQ(turned.h, direct.h) << r.name;
    EXPECT_LE(MaxChannelDifference(turned, direct), r.tolerance) << r.name;
  }
  vm.PlainStyle();
}

TEST(ShapeLayers, ContentKeysRedrawTheShape) {
  ShapeVm vm;
  struct Row {
    const char *name;
    std::function<uint32_t()> draw;
    std::function<void()> style;
    std::function<uint32_t()> direct;
  } rows[] = {
      {"radius of a circle", [&] { return vm.Call("Circle", {20, 10, 5, kRed}).code; },
       [&] { vm.Set("radius", 9); }, [&] { return vm.Call("Circle", {20, 10, 9, kRed}).code; }},
      {"sizex of a box", [&] { return vm.Call("Box", {10, 10, 20, 8, kRed}).code; }, [&] { vm.Set("sizex", 30); },
       [&] { return vm.Call("Box", {10, 10, 30, 8, kRed}).code; }},
      {"round corners of a box", [&] { return vm.Call("Box", {10, 10, 30, 20, kRed}).code; },
       [&] { vm.Set("roundlevel", 50); },
       [&] {
         return vm.CallWith("box", [&] {
           for (double v : {10.0, 10.0, 30.0, 20.0, double(kRed)}) vm_pushnumber(vm.L, v);
           vm_newtable(vm.L);
           vm.Set("roundlevel", 50);
           return 6;
         }).code;
       }},
      // New vertices are moved to start at the layer's corner.
      {"vertices of a polygon", [&] { return vm.Polygon(5, 5, {0, 0, 10, 0, 0, 8}, kGreen); },
       [&] { vm.SetList("vertices", {2, 2, 22, 2, 2, 12}); },
       [&] { return vm.Polygon(5, 5, {0, 0, 20, 0, 0, 10}, kGreen); }},
      {"radii and angles of an arc", [&] { return vm.Call("Arc", {20, 10, 8, 8, 0, 90, kBlue}).code; },
       [&] { vm.Set("radiusa", 14), vm.Set("endangle", 180); },
       [&] { return vm.Call("Arc", {20, 10, 14, 8, 0, 180, kBlue}).code; }},
      {"colour and fill style", [&] { return vm.Call("Box", {10, 10, 20, 8, kRed}).code; },
       [&] { vm.Set("color", kBlue), vm.Set("fillstyle", 0); },
       [&] {
         vm.Call("SetFillStyle", {0});
         return vm.Call("Box", {10, 10, 20, 8, kBlue}).code;
       }},
  };
  for (const Row &r : rows) {
    vm.Clear();
    vm.PlainStyle();
    ASSERT_EQ(r.draw(), 0u) << r.name;
    ASSERT_EQ(vm.Style(1, r.style), 0u) << r.name;
    const std::vector<uint32_t> changed = vm.Screen();
    vm.Clear();
    ASSERT_EQ(r.direct(), 0u) << r.name;
    EXPECT_EQ(changed, vm.Screen()) << r.name;
  }
  vm.PlainStyle();
}

TEST(ShapeLayers, TypeChangeToAnotherShape) {
  ShapeVm vm;
  ASSERT_EQ(vm.Call("Box", {10, 10, 20, 8, kRed}).code, 0u);
  const std::vector<uint32_t> box = vm.Screen();
  // Without the circle's radius nothing changes.
  EXPECT_EQ(vm.Style(1, [&] { vm.Set("type", QMTYPE_CIRCLE); }), uint32_t(ERR_MISSINGPARAMTR));
  EXPECT_EQ(vm.Screen(), box);
  EXPECT_EQ(GetNthLayer(vm.d->bgpic, 1)->type, QMTYPE_BOX);
  // Another shape type's keys are refused the same way, and a bad radius too.
  EXPECT_EQ(vm.Style(1, [&] { vm.Set("type", QMTYPE_ELLIPSE), vm.Set("radiusa", 4); }),
            uint32_t(ERR_MISSINGPARAMTR));
  EXPECT_EQ(vm.Style(1, [&] { vm.Set("type", QMTYPE_CIRCLE), vm.Set("radius", 0); }), uint32_t(ERR_WRONGUSAGE));
  EXPECT_EQ(vm.Screen(), box);

  ASSERT_EQ(vm.Style(1, [&] { vm.Set("type", QMTYPE_CIRCLE), vm.Set("radius", 6); }), 0u);
  EXPECT_EQ(GetNthLayer(vm.d->bgpic, 1)->type, QMTYPE_CIRCLE);
  const std::vector<uint32_t> circle = vm.Screen();
  vm.Clear();
  ASSERT_EQ(vm.Call("Circle", {10, 10, 6, kRed}).code, 0u);
  EXPECT_EQ(circle, vm.Screen());
}

TEST(ShapeLayers, GetLayerStyleAnswersTheShapeKeys) {
  ShapeVm vm;
  struct Row {
    const char *name;
    std::function<uint32_t()> draw;
    std::vector<std::pair<const char *, double>> keys;
  } rows[] = {
      {"box", [&] { return vm.Call("Box", {10, 10, 20, 8, kRed}).code; },
       {{"sizex", 20}, {"sizey", 8}, {"roundlevel", 0}, {"color", kRed}, {"fillstyle", 1}}},
      {"circle", [&] { return vm.Call("Circle", {20, 10, 7, kBlue}).code; }, {{"radius", 7}, {"color", kBlue}}},
      {"ellipse", [&] { return vm.Call("Ellipse", {30, 20, 9, 4, kRed}).code; }, {{"radiusa", 9}, {"radiusb", 4}}},
      {"arc", [&] { return vm.Call("Arc", {30, 20, 10, 6, 15, 200, kRed}).code; },
       {{"radiusa", 10}, {"radiusb", 6}, {"startangle", 15}, {"endangle", 200}, {"clockwise", 1}}},
      {"polygon", [&] { return vm.Polygon(7, 9, {3, 4, 13, 4, 3, 12}, kGreen); }, {{"color", kGreen}}},
  };
  for (const Row &r : rows) {
    vm.Clear();
    vm.PlainStyle();
    ASSERT_EQ(r.draw(), 0u) << r.name;
    const std::vector<uint32_t> before = vm.Screen();
    vm_settop(vm.L, 0);
    vm_pushstring(vm.L, "getlayerstyle");
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushnumber(vm.L, 1);
    ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0) << r.name;
    for (const auto &[key, want] : r.keys) {
      vm_pushstring(vm.L, key);
      vm_gettable(vm.L, 1);
      EXPECT_EQ(vm_tonumber(vm.L, -1), want) << r.name << " " << key;
      vm_pop(vm.L, 1);
    }
    if (std::string(r.name) == "polygon") {
      // The vertices relative to their box: the given points less their smallest x and y.
      vm_pushstring(vm.L, "vertices");
      vm_gettable(vm.L, 1);
      const double want[6] = {0, 0, 10, 0, 0, 8};
      for (int k = 0; k < 6; k++) {
        vm_rawgeti(vm.L, -1, k);
        EXPECT_EQ(vm_tonumber(vm.L, -1), want[k]) << "vertex word " << k;
        vm_pop(vm.L, 1);
      }
      vm_pop(vm.L, 1);
    }
    // The answer given back as a style changes nothing.
    vm_pushstring(vm.L, "setlayerstyle");
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushnumber(vm.L, 1);
    vm_pushvalue(vm.L, 1);
    ASSERT_EQ(vm_pcall(vm.L, 2, 0, 0), 0) << r.name;
    vm_settop(vm.L, 0);
    EXPECT_EQ(vm.Screen(), before) << r.name << " given back";
  }
}

// Drawn as layers, a shape's edge, drop shadow, thick outline and colour alpha become the
// layer's border, shadow and transparency (the picture keeps the plain shape), so that the
// script can restyle them per layer; a line keeps its own.
TEST(ShapeLayers, DrawEffectsBecomeLayerAttributes) {
  ShapeVm vm;
  struct Row {
    const char *name;
    std::vector<std::pair<const char *, std::vector<CmdArg>>> style;  // commands before the shape
    const char *shape;
    std::vector<CmdArg> args;
    std::vector<std::pair<const char *, double>> keys;
  } rows[] = {
      {"edge", {{"SetFormStyle", {64, kBlue, 5}}}, "Box", {10, 10, 20, 8, kRed},
       {{"border", 1}, {"bordercolor", kBlue}, {"bordersize", 5}, {"shadow", 0}, {"transparency", 0}}},
      {"shadow", {{"SetFormStyle", {32, kGreen, 6, 5}}}, "Circle", {20, 10, 7, kRed},
       {{"shadow", 1}, {"shadowcolor", kGreen}, {"shadowsize", 6}, {"shadowdir", 5}, {"border", 0}}},
      {"thick outline: half its width, at least 1", {{"SetFillStyle", {0, 6}}}, "Ellipse", {30, 20, 9, 4, kRed},
       {{"border", 1}, {"bordercolor", kRed}, {"bordersize", 3}, {"fillstyle", 0}}},
      {"outline of width 3", {{"SetFillStyle", {0, 3}}}, "Box", {10, 10, 20, 8, kRed},
       {{"border", 1}, {"bordersize", 1}}},
      {"thick outline overrides the edge", {{"SetFillStyle", {0, 4}}, {"SetFormStyle", {64, kBlue, 7}}}, "Box",
       {10, 10, 20, 8, kGreen}, {{"border", 1}, {"bordercolor", kGreen}, {"bordersize", 2}}},
      {"thin outline", {{"SetFillStyle", {0}}}, "Box", {10, 10, 20, 8, kRed}, {{"border", 0}}},
      {"colour alpha", {}, "Box", {10, 10, 20, 8, double(0x80FF0000)}, {{"transparency", 128}, {"color", kRed}}},
      {"translucent outline", {{"SetFillStyle", {0, 2}}}, "Circle", {20, 10, 7, double(0x40FF0000)},
       {{"transparency", 64}, {"bordercolor", kRed}, {"bordersize", 1}, {"color", kRed}}},
  };
  for (const Row &r : rows) {
    vm.Clear();
    vm.PlainStyle();
    for (const auto &[command, args] : r.style) ASSERT_EQ(vm.Call(command, args).code, 0u) << r.name;
    ASSERT_EQ(vm.Call(r.shape, r.args).code, 0u) << r.name;
    vm_settop(vm.L, 0);
    vm_pushstring(vm.L, "getlayerstyle");
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushnumber(vm.L, 1);
    ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0) << r.name;
    for (const auto &[key, want] : r.keys) {
      vm_pushstring(vm.L, key);
      vm_gettable(vm.L, 1);
      EXPECT_EQ(vm_tonumber(vm.L, -1), want) << r.name << " " << key;
      vm_pop(vm.L, 1);
    }
    vm_settop(vm.L, 0);
  }
  // The edge is the layer's: the shape's picture is the plain box, and taking the border away
  // leaves nothing of the edge on the display.
  vm.Clear();
  vm.PlainStyle();
  ASSERT_EQ(vm.Call("SetFormStyle", {64, kBlue, 4}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {20, 15, 20, 10, kRed}).code, 0u);
  EXPECT_NE(DisplayVm::WindowPixel(vm.d, 17, 20), uint32_t(kBackground));
  ASSERT_EQ(vm.Style(1, [&] { vm.Set("border", 0); }), 0u);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 17, 20), uint32_t(kBackground));
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 25, 20), uint32_t(kRed));
  vm.PlainStyle();
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
}

TEST(ShapeLayers, BorderOfAnUnfilledBoxIsItsOutline) {
  ShapeVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {0}).code, 0u);
  // A frame from (20, 15) to (43, 30).
  ASSERT_EQ(vm.Call("Box", {20, 15, 24, 16, kRed}).code, 0u);
  ASSERT_EQ(vm.Style(1, [&] { vm.Set("border", 1), vm.Set("bordercolor", kGreen), vm.Set("bordersize", 3); }), 0u);
  auto green = [](uint32_t c) { return Channel(c, 8) > 0x80 && Channel(c, 16) < 0x40; };
  // Width 3 about the edge: one pixel either side of the edge line is the border's colour.
  for (int x : {24, 32, 40}) {
    EXPECT_TRUE(green(DisplayVm::WindowPixel(vm.d, x, 14))) << "above the top edge at " << x;
    EXPECT_TRUE(green(DisplayVm::WindowPixel(vm.d, x, 16))) << "below the top edge at " << x;
    EXPECT_TRUE(green(DisplayVm::WindowPixel(vm.d, x, 31))) << "below the bottom edge at " << x;
  }
  for (int y : {20, 25}) {
    EXPECT_TRUE(green(DisplayVm::WindowPixel(vm.d, 19, y))) << "left of the left edge at " << y;
    EXPECT_TRUE(green(DisplayVm::WindowPixel(vm.d, 44, y))) << "right of the right edge at " << y;
  }
  // Farther from the edge than the width and its anti-aliased fringe, inside or out, nothing
  // is drawn: the border is no filled rectangle.
  for (auto [x, y] : std::vector<std::pair<int, int>>{{32, 10}, {32, 35}, {32, 23}, {25, 23}, {15, 23}, {48, 23}})
    EXPECT_EQ(DisplayVm::WindowPixel(vm.d, x, y), kBackground) << x << ", " << y;
  // It is the border the draw library gives a layer of an unfilled box twice that line width.
  const std::vector<uint32_t> bordered = vm.Screen();
  vm.Clear();
  ASSERT_EQ(vm.Call("SetFormStyle", {16}).code, 0u);
  ASSERT_EQ(vm.Call("SetLineWidth", {6}).code, 0u);  // as a layer: a border half the line width
  ASSERT_EQ(vm.Call("Box", {20, 15, 24, 16, kGreen}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("SetLineWidth", {1}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {20, 15, 24, 16, kRed}).code, 0u);
  EXPECT_EQ(bordered, vm.Screen());
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
}

TEST(ShapeLayers, ShapeFromAPictureTakesTheDrawStyleInForce) {
  ShapeVm vm;
  // A 6 x 4 grey brush shown as a layer.
  ASSERT_EQ(vm.CallWith("rgbarraytobrush", [&] {
              vm_pushnumber(vm.L, 1);
              vm_newtable(vm.L);
              for (int i = 0; i < 24; i++) {
                vm_pushnumber(vm.L, 0x808080);
                vm_rawseti(vm.L, -2, i);
              }
              for (double v : {6.0, 4.0, -1.0, 0.0}) vm_pushnumber(vm.L, v);
              return 6;
            }).code,
            0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 12, 9}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {0}).code, 0u);
  ASSERT_EQ(vm.Style(1, [&] {
              vm.Set("type", QMTYPE_BOX), vm.Set("sizex", 20), vm.Set("sizey", 10);
              vm.Set("color", kRed);
            }),
            0u);
  const std::vector<uint32_t> changed = vm.Screen();
  vm.Clear();
  ASSERT_EQ(vm.Call("Box", {12, 9, 20, 10, kRed}).code, 0u);
  EXPECT_EQ(changed, vm.Screen());
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
}

// A quarter turn keeps a frame's line width, with layers and without: the turned frame is the
// frame of h x w.
TEST(ShapeLayers, QuarterTurnKeepsTheLineWidth) {
  ShapeVm vm;
  for (bool layers : {true, false}) {
    const char *what = layers ? "with layers" : "without layers";
    vm.Clear();
    if (!layers) {
      ASSERT_EQ(vm.Call("DisableLayers", {}).code, 0u);
    }
    ASSERT_EQ(vm.Call("SetFillStyle", {0}).code, 0u);
    ASSERT_EQ(vm.Call("SetLineWidth", {3}).code, 0u);
    // Turned about its top-left corner: placed low enough to stay on the display.
    ASSERT_EQ(vm.Call("Box", {30, 30, 24, 10, kRed, 0, 90}).code, 0u);
    const Patch turned = vm.Drawn();
    ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
    vm.Clear();
    ASSERT_EQ(vm.Call("Box", {10, 10, 10, 24, kRed}).code, 0u);
    const Patch direct = vm.Drawn();
    EXPECT_EQ(turned.w, direct.w) << what;
    EXPECT_EQ(turned.h, direct.h) << what;
    if (!layers) {
      EXPECT_EQ(turned.px, direct.px) << what;
      continue;
    }
    // As a layer the thick frame is a one-pixel outline with the layer's border about it, an
    // anti-aliased polyline whose corners may differ by a level or two once turned.
    ASSERT_EQ(turned.px.size(), direct.px.size());
    for (size_t i = 0; i < turned.px.size(); i++)
      for (int shift : {0, 8, 16})
        EXPECT_NEAR(Channel(turned.px[i], shift), Channel(direct.px[i], shift), 2)
            << what << " at " << i % turned.w << ", " << i / turned.w;
    ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  }
  ASSERT_EQ(vm.Call("SetLineWidth", {1}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
}

// Bad content keys are refused and leave the shape as it was.
TEST(ShapeLayers, BadContentKeys) {
  ShapeVm vm;
  ASSERT_EQ(vm.Call("Box", {5, 5, 10, 6, kRed}).code, 0u);
  ASSERT_EQ(vm.Call("Circle", {30, 5, 5, kRed}).code, 0u);
  ASSERT_EQ(vm.Call("Arc", {50, 5, 6, 6, 0, 90, kRed}).code, 0u);
  ASSERT_EQ(vm.Polygon(5, 30, {0, 0, 10, 0, 0, 8}, kGreen), 0u);
  const std::vector<uint32_t> before = vm.Screen();
  const struct {
    const char *name;
    int layer;
    std::function<void()> style;
    uint32_t code;
  } rows[] = {
      {"box width 0", 1, [&] { vm.Set("sizex", 0); }, ERR_WRONGUSAGE},
      {"circle radius below 1", 2, [&] { vm.Set("radius", -3); }, ERR_WRONGUSAGE},
      {"negative arc angle", 3, [&] { vm.Set("startangle", -10); }, ERR_WRONGUSAGE},
      {"one vertex", 4, [&] { vm.SetList("vertices", {1, 1}); }, ERR_WRONGUSAGE},
      {"vertex not a number", 4, [&] {
         vm.SetList("vertices", {1, 1, 5, 5, 9, 1});
         vm_pushstring(vm.L, "vertices");
         vm_gettable(vm.L, -2);
         vm_pushstring(vm.L, "x");
         vm_rawseti(vm.L, -2, 3);
         vm_pop(vm.L, 1);
       }, ERR_NUMTABLEARG},
      {"polygon from a box without vertices", 1, [&] { vm.Set("type", QMTYPE_POLYGON); }, ERR_MISSINGPARAMTR},
  };
  for (const auto &r : rows) EXPECT_EQ(vm.Style(r.layer, r.style), r.code) << r.name;
  EXPECT_EQ(vm.Screen(), before);
  // Keys of the layer's place alone leave the shape's keys unchecked.
  EXPECT_EQ(vm.Style(2, [&] { vm.Set("transparency", 0); }), 0u);
}

}  // namespace

namespace {

// The tags of a shape drawn with layers on belong to its layer: the name, the insert position,
// the hidden switch and the transparency (which is the layer's, not mixed into its picture).
TEST(ShapeLayers, TagsOfAShapeBelongToItsLayer) {
  ShapeVm vm;
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {0, 0, 10, 10, kBlue}).code, 0u);
  auto box = [&](const std::function<void()> &tags) {
    return vm.CallWith("box", [&] {
      for (double v : {20.0, 20.0, 10.0, 6.0, double(kRed)}) vm_pushnumber(vm.L, v);
      vm_newtable(vm.L);
      tags();
      return 6;
    }).code;
  };
  ASSERT_EQ(box([&] { vm.SetText("name", "frame"), vm.Set("insertpos", 1), vm.Set("transparency", 128); }), 0u);
  qmLayer *first = FirstLayer(vm.d->bgpic);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->name, nullptr);
  EXPECT_STREQ(first->name, "frame");
  EXPECT_EQ(first->type, QMTYPE_BOX);
  EXPECT_EQ(first->transparency, 128);
  // Mixed at 255 - 128 over the background: d + ((s - d) * 127 >> 8) per channel.
  auto mix = [](int s, int d) { return d + (((s - d) * 127) >> 8); };
  const uint32_t want = uint32_t(mix(0xFF, 0x10) << 16 | mix(0, 0x20) << 8 | mix(0, 0x30));
  const uint32_t got = vm.WindowPixel(vm.d, 25, 23);
  for (int shift : {16, 8, 0})
    EXPECT_NEAR(int(Channel(got, shift)), int(Channel(want, shift)), 1) << std::hex << got << " " << want;
  // Without transparency the picture itself stays opaque: showing it plainly gives pure red.
  ASSERT_EQ(vm.Call("SetLayerTransparency", {1, 0}).code, 0u);
  EXPECT_EQ(vm.WindowPixel(vm.d, 25, 23), uint32_t(kRed));
  ASSERT_EQ(box([&] { vm.Set("hidden", 1); }), 0u);
  EXPECT_EQ(LastLayer(vm.d->bgpic)->hidden, 1);
}

}  // namespace
