// The layer style engine and layer images: transform matrices, the filter pass in priority
// order, the "filters" list reader, SetLayerStyle and its front-ends against GetLayerStyle,
// and random sequences of style changes whose windows must equal a full recomposition made
// here from the brush pixels by the rules written out in this file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/brush.h"
#include "display/displaytags.h"
#include "display/filters.h"
#include "graphics/draw_style.h"
#include "layers/layer.h"
#include "layers/layerimage.h"
#include "layers/style.h"
#include "layers/layers/style_commands.h"
#include "runtime/bindings/style_reader.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "tests/display/display_vm.h"
#include "tests/layers/layers_vm.h"

namespace {

constexpr int kW = 64, kH = 48;
constexpr uint32_t kBackground = 0x203040;

using layertest::Blend;
using layertest::Channel;
using layertest::Near;

// ---------------------------------------------------------------------------------------------
// Matrices

TEST(LayerTransform, BuildMatrixRotatesClockwiseByTheAngle) {
  double m[4];
  BuildTransformMatrix(m, 0, 0, 10, 20, 1, 1, 90);
  const double want[4] = {0, -1, 1, 0};  // (cos 270, sin 270, -sin 270, cos 270)
  for (int k = 0; k < 4; k++) EXPECT_NEAR(m[k], want[k], 1e-15) << k;
  // Rotation 0 leaves the scale matrix as it is; 360 goes through the turn and is near it.
  BuildTransformMatrix(m, 0, 0, 10, 20, 2, 3, 0);
  EXPECT_EQ(m[0], 2.0);
  EXPECT_EQ(m[1], 0.0);
  EXPECT_EQ(m[2], 0.0);
  EXPECT_EQ(m[3], 3.0);
  BuildTransformMatrix(m, 0, 0, 10, 20, 1, 1, 360);
  EXPECT_NEAR(m[0], 1, 1e-15);
  EXPECT_NEAR(m[1], 0, 1e-15);
  EXPECT_NEAR(m[3], 1, 1e-15);
  // A target size replaces the scale factors.
  BuildTransformMatrix(m, 20, 10, 10, 20, 5, 5, 0);
  EXPECT_EQ(m[0], 2.0);
  EXPECT_EQ(m[3], 0.5);
}

TEST(LayerTransform, PureRotationIsTellingEqualScalesFromOthers) {
  struct Case {
    const char *name;
    double sx, sy, angle;
    int generalBefore, generalAfter;
  } cases[] = {
      {"turned, equal scales", 2, 2, 30, 1, 0},
      {"turned, unequal scales", 2, 3, 30, 0, 1},
      {"only scaled: the flag is left alone", 2, 3, 0, 1, 1},
  };
  for (const Case &c : cases) {
    qmTransform t{};
    BuildTransformMatrix(t.matrix, 0, 0, 10, 10, c.sx, c.sy, c.angle);
    t.generalTransform = c.generalBefore;
    DetectPureRotation(&t);
    EXPECT_EQ(t.generalTransform, c.generalAfter) << c.name;
    if (c.angle != 0) {
      EXPECT_NEAR(t.scaleXEstimate, c.sx, 1e-3) << c.name;
      EXPECT_NEAR(t.scaleYEstimate, c.sy, 1e-3) << c.name;
    }
  }
  // A shear is no rotation at all.
  qmTransform shear{};
  const double m[4] = {1, 0.5, 0, 1};
  std::copy(m, m + 4, shear.matrix);
  double sx = 0, sy = 0;
  EXPECT_EQ(FindRotationScales(&shear, &sx, &sy), 0);
  DetectPureRotation(&shear);
  EXPECT_EQ(shear.generalTransform, 1);
}

TEST(LayerTransform, UpdateTransformPrefersTheUserMatrix) {
  qmTransform t{};
  t.scaleX = t.scaleY = 1;
  t.rotation = 90;
  UpdateTransform(&t, 8, 8);
  EXPECT_NEAR(t.matrix[1], -1, 1e-15);
  const double user[4] = {1, 0.25, 0.5, 2};
  std::copy(user, user + 4, t.userMatrix);
  t.userMatrixSet = 1;
  UpdateTransform(&t, 8, 8);
  for (int k = 0; k < 4; k++) EXPECT_EQ(t.matrix[k], user[k]);
}

// ---------------------------------------------------------------------------------------------
// The filter pass

struct SmallPicture {
  qmBitmap *b;
  SmallPicture(int w, int h, uint32_t rgb) : b(AllocBitmap(w, h)) {
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) Set(x, y, rgb);
  }
  ~SmallPicture() { FreeBitmap(b); }
  void Set(int x, int y, uint32_t rgb) { b->pixels[y * (b->bytesPerRow / 4) + x] = __builtin_bswap32(rgb); }
  uint32_t Get(int x, int y) const { return DisplayVm::BitmapPixel(b, x, y); }
};

// Tinting fully to white and inverting give black or white depending on which runs first.
TEST(LayerFilters, RunInDescendingPriorityThenSlotOrder) {
  struct Case {
    const char *name;
    int invertPriority, tintPriority;
    uint32_t want;
  } cases[] = {
      {"tint first by priority", 10, 200, 0x000000},
      {"invert first by priority", 200, 10, 0xFFFFFF},
      {"equal priorities: slot order, invert before tint", 50, 50, 0xFFFFFF},
      {"priority 0 still runs", 0, 0, 0xFFFFFF},
  };
  for (const Case &c : cases) {
    qmFilterSlot slots[kFilterSlotCount] = {};
    slots[FILTER_INVERT].enabled = 1;
    slots[FILTER_INVERT].priority = uint8_t(c.invertPriority);
    slots[FILTER_TINT].enabled = 1;
    slots[FILTER_TINT].priority = uint8_t(c.tintPriority);
    slots[FILTER_TINT].params[0] = 0xFFFFFF;
    slots[FILTER_TINT].params[1] = 255;
    SmallPicture p(3, 2, 0x123456);
    ApplyFilters(slots, p.b, nullptr, nullptr, 3, 2);
    EXPECT_TRUE(Near(p.Get(2, 1), c.want, 1)) << c.name << ": " << std::hex << p.Get(2, 1);
  }
}

TEST(LayerFilters, FlipsMoveThePixels) {
  qmFilterSlot slots[kFilterSlotCount] = {};
  slots[FILTER_XFLIP].enabled = 1;
  slots[FILTER_YFLIP].enabled = 1;
  SmallPicture p(3, 2, 0);
  p.Set(0, 0, 0xAA0000);
  ApplyFilters(slots, p.b, nullptr, nullptr, 3, 2);
  EXPECT_EQ(p.Get(2, 1), 0xAA0000u);
  EXPECT_EQ(p.Get(0, 0), 0u);
  EXPECT_EQ(HasShapeFilters(slots), 1);
  slots[FILTER_XFLIP].enabled = slots[FILTER_YFLIP].enabled = 0;
  EXPECT_EQ(HasFilters(slots), 0);
}

// ---------------------------------------------------------------------------------------------
// Script side

struct StyleVm : DisplayVm {
  qmDisplay *d = nullptr;

  StyleVm() { d = layertest::OpenLayersDisplay(this, kW, kH, kBackground); }
  qmBGPic *Pic() { return d->bgpic; }
  qmLayer *Layer(int pos) { return GetNthLayer(Pic(), pos); }

  // A brush of that id from pixels 0xAARRGGBB (type: -1 opaque, 28 mask, 30 alpha).
  void AddBrush(int id, int w, int h, const std::vector<uint32_t> &px, double type) {
    const CommandCall r = CallWith("rgbarraytobrush", [&] {
      vm_pushnumber(L, id);
      vm_newtable(L);
      for (size_t i = 0; i < px.size(); i++) {
        vm_pushnumber(L, px[i]);
        vm_rawseti(L, -2, int(i));
      }
      for (double v : {double(w), double(h), type, 0.0}) vm_pushnumber(L, v);
      return 6;
    });
    ASSERT_EQ(r.code, 0u);
  }
  // SetLayerStyle(layer, table) with the table filled by fill.
  uint32_t Style(int pos, const std::function<void()> &fill) {
    return CallWith("setlayerstyle", [&] {
      vm_pushnumber(L, pos);
      vm_newtable(L);
      fill();
      return 2;
    }).code;
  }
  // A "filters" list of {name = ..., priority = ...} entries in the table on the stack top.
  void SetFilters(const std::vector<std::pair<const char *, int>> &entries) {
    vm_pushstring(L, "filters");
    vm_newtable(L);
    for (size_t i = 0; i < entries.size(); i++) {
      vm_newtable(L);
      SetText("name", entries[i].first);
      Set("priority", entries[i].second);
      vm_rawseti(L, -2, int(i));
    }
    vm_settable(L, -3);
  }
  // GetLayerStyle(pos): its number fields, its string fields and the filter names in order.
  struct StyleTable {
    std::map<std::string, double> numbers;
    std::map<std::string, std::string> strings;
    std::vector<std::string> filters;
    uint32_t code = 0;
  };
  StyleTable GetStyle(int pos) {
    StyleTable out;
    vm_settop(L, 0);
    vm_pushstring(L, "getlayerstyle");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushnumber(L, pos);
    out.code = vm_pcall(L, 1, 1, 0);
    if (out.code) {
      vm_setendrequested(L, 0);
      vm_settop(L, 0);
      return out;
    }
    vm_pushnil(L);
    while (vm_next(L, 1)) {
      if (vm_type(L, -2) == VM_TSTRING) {
        const std::string key = vm_tostring(L, -2);
        if (vm_type(L, -1) == VM_TNUMBER) out.numbers[key] = vm_tonumber(L, -1);
        else if (vm_type(L, -1) == VM_TSTRING) out.strings[key] = vm_tostring(L, -1);
      }
      vm_pop(L, 1);
    }
    vm_pushstring(L, "filters");
    vm_gettable(L, 1);
    for (int i = 0;; i++) {
      vm_rawgeti(L, -1, i);
      if (vm_type(L, -1) != VM_TTABLE) break;
      vm_pushstring(L, "name");
      vm_gettable(L, -2);
      out.filters.push_back(vm_tostring(L, -1));
      vm_pop(L, 2);
    }
    vm_settop(L, 0);
    return out;
  }
};

std::vector<uint32_t> Solid(int w, int h, uint32_t argb) { return std::vector<uint32_t>(size_t(w * h), argb); }

TEST(LayerStyle, EdgeCasesOfTheKeys) {
  StyleVm vm;
  vm.AddBrush(1, 8, 6, Solid(8, 6, 0xFF808080), -1);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 4, 4}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {20, 20, 10, 8, 0xFF0000}).code, 0u);

  ASSERT_EQ(vm.Style(1, [&] { vm.Set("rotate", 370); }), 0u);
  EXPECT_DOUBLE_EQ(vm.Layer(1)->transform.rotation, 10.0);
  ASSERT_EQ(vm.Call("RotateLayer", {1, -30}).code, 0u);
  EXPECT_DOUBLE_EQ(vm.Layer(1)->transform.rotation, -30.0);  // the sign stays

  struct Bad {
    const char *name;
    std::function<uint32_t()> call;
    uint32_t code;
  } bad[] = {
      {"zero on the diagonal", [&] { return vm.Call("TransformLayer", {1, 0, -1, 1, 0}).code; }, ERR_WRONGUSAGE},
      {"anchor above 1", [&] { return vm.Style(1, [&] { vm.Set("anchorx", 1.5); }); }, ERR_WRONGUSAGE},
      {"anchor below 0", [&] { return vm.Call("SetLayerAnchor", {1, 0.5, -0.1}).code; }, ERR_WRONGUSAGE},
      {"filter number other than 0", [&] { return vm.Call("SetLayerFilter", {1, 2}).code; }, ERR_WRONGUSAGE},
      {"negative target width", [&] { return vm.Style(1, [&] { vm.Set("width", -5); }); }, ERR_BADDIMENSIONS},
      {"scale 0", [&] { return vm.Style(1, [&] { vm.Set("scaley", 0); }); }, ERR_BADDIMENSIONS},
      {"circle from a box without radius",
       [&] { return vm.Style(2, [&] { vm.Set("type", QMTYPE_CIRCLE); }); }, ERR_MISSINGPARAMTR},
      {"style not a table", [&] { return vm.Call("SetLayerStyle", {1, 5}).code; }, ERR_TABEXPECTED},
      {"layer out of range", [&] { return vm.Style(3, [] {}); }, ERR_LAYERRANGE},
      {"unknown layer name", [&] { return vm.Call("SetLayerTransparency", {CmdArg::Str("nope"), 3}).code; },
       ERR_FINDLAYER},
  };
  for (const Bad &b : bad) EXPECT_EQ(b.call(), b.code) << b.name;
  EXPECT_EQ(vm.Layer(1)->anchorX, 0.0);  // a refused style changed nothing

  // SetLayerFilter 0 clears every slot, the tint included.
  ASSERT_EQ(vm.Call("SetLayerTint", {1, 0xFF0000, 100}).code, 0u);
  ASSERT_EQ(vm.Style(1, [&] { vm.SetFilters({{"blur", 3}, {"invert", 0}}); }), 0u);
  EXPECT_EQ(HasFilters(vm.Layer(1)->filters), 1);
  ASSERT_EQ(vm.Call("SetLayerFilter", {1, 0}).code, 0u);
  EXPECT_EQ(HasFilters(vm.Layer(1)->filters), 0);

  // Layers off: the style commands refuse.
  ASSERT_EQ(vm.Call("DisableLayers", {}).code, 0u);
  EXPECT_EQ(vm.Call("RotateLayer", {1, 10}).code, ERR_NOLAYERS);
  EXPECT_EQ(vm.GetStyle(1).code, ERR_NOLAYERS);
}

// Each bad "filters" list with the code it gives, through SetLayerStyle.
TEST(LayerStyle, FilterListErrors) {
  StyleVm vm;
  vm.AddBrush(1, 4, 4, Solid(4, 4, 0xFF336699), -1);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
  auto entry = [&](const std::function<void()> &fill) {
    vm_pushstring(vm.L, "filters");
    vm_newtable(vm.L);
    vm_newtable(vm.L);
    fill();
    vm_rawseti(vm.L, -2, 0);
    vm_settable(vm.L, -3);
  };
  struct Case {
    const char *name;
    std::function<void()> fill;
    uint32_t code;
  } cases[] = {
      {"filters not a table", [&] { vm.Set("filters", 3); }, ERR_TABEXPECTED2},
      {"entry not a table",
       [&] {
         vm_pushstring(vm.L, "filters");
         vm_newtable(vm.L);
         vm_pushnumber(vm.L, 7);
         vm_rawseti(vm.L, -2, 0);
         vm_settable(vm.L, -3);
       },
       ERR_TABEXPECTED2},
      {"no name", [&] { entry([&] { vm.Set("priority", 3); }); }, ERR_NOFILTERNAME},
      {"name not a string", [&] { entry([&] { vm.Set("name", 5); }); }, ERR_STRTABLEARG},
      {"unknown name", [&] { entry([&] { vm.SetText("name", "sparkle"); }); }, ERR_UNKNOWNFILTER},
      {"argument not a number",
       [&] {
         entry([&] {
           vm.SetText("name", "blur");
           vm_pushstring(vm.L, "args");
           vm_newtable(vm.L);
           vm_pushstring(vm.L, "wide");
           vm_rawseti(vm.L, -2, 0);
           vm_settable(vm.L, -3);
         });
       },
       ERR_NUMTABLEARG},
  };
  for (const Case &c : cases) EXPECT_EQ(vm.Style(1, c.fill), c.code) << c.name;
  EXPECT_EQ(HasFilters(vm.Layer(1)->filters), 0);

  // Names in any case; levels as percentages of 255; parameters left out take the defaults.
  ASSERT_EQ(vm.Style(1, [&] {
    entry([&] {
      vm.SetText("name", "SepiaTone");
      vm.Set("priority", 9);
      vm_pushstring(vm.L, "args");
      vm_newtable(vm.L);
      vm_pushstring(vm.L, "50%");
      vm_rawseti(vm.L, -2, 0);
      vm_settable(vm.L, -3);
    });
  }), 0u);
  const qmFilterSlot &sepia = vm.Layer(1)->filters[FILTER_SEPIATONE];
  EXPECT_EQ(sepia.enabled, 1);
  EXPECT_EQ(sepia.priority, 9);
  EXPECT_EQ(sepia.params[0], 127);
  ASSERT_EQ(vm.Style(1, [&] { entry([&] { vm.SetText("name", "gamma"); }); }), 0u);
  EXPECT_EQ(vm.Layer(1)->filters[FILTER_GAMMA].floatParams[2], 1.0f);
  // "disable" turns a slot off and keeps its priority and parameters for later.
  ASSERT_EQ(vm.Style(1, [&] {
    entry([&] {
      vm.SetText("name", "sepiatone");
      vm.Set("disable", 1);
    });
  }), 0u);
  EXPECT_EQ(sepia.enabled, 0);
  EXPECT_EQ(sepia.priority, 9);
  EXPECT_EQ(sepia.params[0], 127);
  EXPECT_EQ(vm.Layer(1)->filters[FILTER_GAMMA].enabled, 1);  // not named: kept
}

// What SetLayerStyle sets, GetLayerStyle reads back, for each kind of layer there is.
TEST(LayerStyle, RoundTripThroughGetLayerStyle) {
  StyleVm vm;
  std::vector<uint32_t> px;
  for (int i = 0; i < 12 * 10; i++) px.push_back(0xFF000000u | uint32_t(i * 2048 + i));
  vm.AddBrush(1, 12, 10, px, -1);
  ASSERT_EQ(vm.Call("CreateBGPic", {7, 20, 16}).code, 0u);
  struct Kind {
    const char *name;
    std::function<uint32_t()> draw;
    int type;
  } kinds[] = {
      {"brush", [&] { return vm.Call("DisplayBrush", {1, 3, 4}).code; }, QMTYPE_BRUSH},
      {"brush part", [&] { return vm.Call("DisplayBrushPart", {1, 2, 3, 5, 6, 6, 4}).code; }, QMTYPE_BRUSHPART},
      {"picture part", [&] { return vm.Call("DisplayBGPicPart", {7, 1, 2, 9, 5, 10, 11}).code; }, QMTYPE_BGPICPART},
      {"box", [&] { return vm.Call("Box", {30, 20, 9, 7, 0x00FF00}).code; }, QMTYPE_BOX},
  };
  int pos = 0;
  for (const Kind &k : kinds) {
    ASSERT_EQ(k.draw(), 0u) << k.name;
    pos++;
    ASSERT_EQ(vm.Layer(pos)->type, k.type) << k.name;
    ASSERT_EQ(vm.Style(pos, [&] {
      vm.Set("x", 11), vm.Set("y", 13);
      vm.Set("rotate", 45), vm.Set("scalex", 2), vm.Set("scaley", 0.5);
      vm.Set("anchorx", 0.25), vm.Set("anchory", 1);
      vm.Set("transparency", 60), vm.Set("tint", 90), vm.Set("tintcolor", 0x123456);
      vm.Set("hidden", 1), vm.Set("smoothscale", 1);
      vm.Set("shadow", 1), vm.Set("shadowsize", 6), vm.Set("shadowdir", 2), vm.Set("shadowcolor", 0x40102030);
      vm.Set("border", 1), vm.Set("bordersize", 3), vm.Set("bordercolor", 0xFF00FF);
      vm.SetFilters({{"yflip", 1}, {"blur", 2}});
    }), 0u) << k.name;
    const StyleVm::StyleTable t = vm.GetStyle(pos);
    ASSERT_EQ(t.code, 0u) << k.name;
    const std::map<std::string, double> want = {
        {"x", 11},          {"y", 13},          {"rotate", 45},      {"scalex", 2},
        {"scaley", 0.5},    {"anchorx", 0.25},  {"anchory", 1},      {"transparency", 60},
        {"tint", 90},       {"tintcolor", 0x123456}, {"hidden", 1},  {"smoothscale", 1},
        {"shadow", 1},      {"shadowsize", 6},  {"shadowdir", 2},    {"shadowcolor", 0x40102030},
        {"border", 1},      {"bordersize", 3},  {"bordercolor", 0xFF00FF}, {"edgesize", 3},
        {"outlinethickness", 3}, {"edgecolor", 0xFF00FF}, {"width", 0}, {"height", 0},
        {"clipregion", -1}, {"z", pos}};
    for (const auto &[key, value] : want) {
      auto it = t.numbers.find(key);
      ASSERT_NE(it, t.numbers.end()) << k.name << " " << key;
      EXPECT_DOUBLE_EQ(it->second, value) << k.name << " " << key;
    }
    // Enabled filters in slot order: blur (0), tint (16), yflip (19).
    EXPECT_EQ(t.filters, (std::vector<std::string>{"blur", "tint", "yflip"})) << k.name;
    EXPECT_EQ(t.strings.at("group"), "") << k.name;
    EXPECT_EQ(t.strings.at("name"), "") << k.name;
  }
  // The part keys of picture layers.
  const StyleVm::StyleTable part = vm.GetStyle(2);
  EXPECT_EQ(part.numbers.at("partx"), 2);
  EXPECT_EQ(part.numbers.at("party"), 3);
  EXPECT_EQ(part.numbers.at("partwidth"), 6);
  EXPECT_EQ(part.numbers.at("partheight"), 4);
  EXPECT_EQ(part.numbers.at("id"), 1);
  EXPECT_EQ(vm.GetStyle(3).numbers.at("id"), 7);
  // A user matrix reads back as it was given and clears rotation and scale.
  ASSERT_EQ(vm.Call("TransformLayer", {1, 1, 0.5, 0, 2}).code, 0u);
  const StyleVm::StyleTable user = vm.GetStyle(1);
  EXPECT_EQ(user.numbers.at("rotate"), 0);
  EXPECT_EQ(user.numbers.at("scalex"), 1);
  EXPECT_EQ(vm.GetStyle(9).code, ERR_LAYERRANGE);
}

// The form-style keys of shape styles: which bits go to the draw style, which switch the
// layer's shadow and border, and when a style counts as given.
TEST(LayerStyle, FormStyleKeys) {
  DisplayVm vm;
  struct Case {
    const char *name;
    std::function<void()> fill;
    uint32_t formBefore, formAfter;
    int shadow, border, given, changed;
  } cases[] = {
      {"shadow bit and antialias", [&] { vm.Set("formstyle", FORM_SHADOW | FORM_ANTIALIAS); }, 2, 2 | FORM_ANTIALIAS,
       1, 0, 1, 1},
      {"edge bit alone is no style", [&] { vm.Set("formstyle", FORM_EDGE); }, 2, 2, 0, 1, 0, 1},
      {"normal resets the bits", [&] { vm.Set("formstyle", FORM_NORMAL | FORM_ANTIALIAS | FORM_SHADOW); },
       2 | FORM_ANTIALIAS, FORM_NORMAL, 0, 0, 1, 0},
      {"clear removes bits and switches off", [&] { vm.Set("formstyleclear", FORM_ANTIALIAS | FORM_SHADOW); },
       2 | FORM_ANTIALIAS, 2, -1, 0, 1, 1},
      {"nothing given", [] {}, 2, 2, 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    qmLayer layer{};
    if (c.shadow < 0) layer.shadow.on = 1;
    qmDrawStyle style{};
    style.formStyle = c.formBefore;
    style.gradient.colorCount = 3;
    int32_t given = 0, changed = 0;
    vm_settop(vm.L, 0);
    vm_newtable(vm.L);
    c.fill();
    ASSERT_EQ(ReadFormStyleOptions(vm.L, &layer, 1, &style, &given, &changed), 0u) << c.name;
    EXPECT_EQ(style.formStyle, c.formAfter) << c.name;
    EXPECT_EQ(layer.shadow.on, c.shadow < 0 ? 0 : c.shadow) << c.name;
    EXPECT_EQ(layer.border.on, c.border) << c.name;
    EXPECT_EQ(given, c.given) << c.name;
    EXPECT_EQ(changed, c.changed) << c.name;
  }
  // Gradient and texture keys, read and written back; a new colour drops the extra stops.
  qmDrawStyle style{};
  style.gradient.colorCount = 3;
  int32_t given = 0, changed = 0;
  vm_settop(vm.L, 0);
  vm_newtable(vm.L);
  vm.Set("fillstyle", DRAWFILL_GRADIENT), vm.Set("gradientstyle", GRADIENT_RADIAL), vm.Set("gradientangle", 30);
  vm.Set("gradientstartcolor", 0x102030), vm.Set("gradientcenterx", 0.25), vm.Set("texturex", 4);
  ASSERT_EQ(ReadFormStyleOptions(vm.L, nullptr, 1, &style, &given, &changed), 0u);
  EXPECT_EQ(style.gradient.colorCount, 0u);
  EXPECT_EQ(style.gradient.centerX, 0.25);
  EXPECT_EQ(given, 1);
  vm_newtable(vm.L);
  WriteFormStyleFields(vm.L, &style);
  const std::pair<const char *, double> want[] = {{"fillstyle", DRAWFILL_GRADIENT}, {"gradientstyle", GRADIENT_RADIAL},
                                                  {"gradientangle", 30}, {"gradientstartcolor", 0x102030},
                                                  {"texturex", 4}};
  for (const auto &[key, value] : want) {
    vm_pushstring(vm.L, key);
    vm_gettable(vm.L, -2);
    EXPECT_EQ(vm_tonumber(vm.L, -1), value) << key;
    vm_pop(vm.L, 1);
  }
  // A gradient centre outside 0..1 is refused.
  vm_settop(vm.L, 0);
  vm_newtable(vm.L);
  vm.Set("gradientcenterx", 1.5);
  EXPECT_EQ(ReadFormStyleOptions(vm.L, nullptr, 1, &style, &given, &changed), ERR_WRONGUSAGE);
  vm_settop(vm.L, 0);
}

// ---------------------------------------------------------------------------------------------
// The picture against a recomposition

enum PlaneKind { OPAQUE, MASKED, ALPHA };

struct Picture {
  int w, h;
  PlaneKind kind;
  std::vector<uint32_t> px;  // 0xAARRGGBB, the top byte the plane value
  uint32_t At(int x, int y) const { return px[size_t(y * w + x)]; }
};

Picture MakePicture(int seed, int w, int h, PlaneKind kind) {
  Picture p{w, h, kind, {}};
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint32_t a = 255;
      if (kind == MASKED) a = (x * 3 + y + seed) % 4 ? 255 : 0;
      if (kind == ALPHA) a = uint32_t((x * 41 + y * 17 + seed * 3) % 256);
      const uint32_t r = (seed * 61 + x * 9) & 0xFF, g = (seed * 23 + y * 15) & 0xFF, b = (seed * 97 + x * y) & 0xFF;
      p.px.push_back(a << 24 | r << 16 | g << 8 | b);
    }
  return p;
}

struct ModelLayer {
  int brush;
  int x, y;  // the requested position (anchor 0/0)
  int transparency = 0;
  bool hidden = false;
  int rotation = 0;  // 0, 90, 180, 270
  int scale = 1;     // 1 or 2, only without rotation
  bool invert = false, xflip = false;
};

// The layer's picture as shown: turned by the rotation matrix (cos t, sin t, -sin t, cos t)
// with t = 360 - angle, then mirrored, then inverted; and where its top-left corner lies.
Picture Shown(const Picture &p, const ModelLayer &l, int *left, int *top) {
  if (l.scale != 1) {
    // Scaled by whole factors: every pixel becomes a block of scale x scale.
    Picture big{p.w * l.scale, p.h * l.scale, p.kind, {}};
    for (int y = 0; y < big.h; y++)
      for (int x = 0; x < big.w; x++) big.px.push_back(p.At(x / l.scale, y / l.scale));
    ModelLayer unscaled = l;
    unscaled.scale = 1;
    return Shown(big, unscaled, left, top);
  }
  const double t = (360 - l.rotation) * M_PI / 180;
  const int c = int(std::lround(std::cos(t))), s = int(std::lround(std::sin(t)));
  // x' = c x - s y, y' = s x + c y over the corners of the picture's pixels.
  int minX = 1 << 20, minY = 1 << 20, maxX = -(1 << 20), maxY = -(1 << 20);
  for (int cx : {0, p.w - 1})
    for (int cy : {0, p.h - 1}) {
      const int tx = c * cx - s * cy, ty = s * cx + c * cy;
      minX = std::min(minX, tx), maxX = std::max(maxX, tx);
      minY = std::min(minY, ty), maxY = std::max(maxY, ty);
    }
  Picture out{maxX - minX + 1, maxY - minY + 1, p.kind, {}};
  out.px.assign(size_t(out.w * out.h), 0);
  for (int y = 0; y < p.h; y++)
    for (int x = 0; x < p.w; x++) {
      int u = c * x - s * y - minX, v = s * x + c * y - minY;
      if (l.xflip) u = out.w - 1 - u;
      uint32_t px = p.At(x, y);
      if (l.invert) px = (px & 0xFF000000u) | (~px & 0xFFFFFF);
      out.px[size_t(v * out.w + u)] = px;
    }
  *left = l.x + minX, *top = l.y + minY;
  return out;
}


// Background, then each layer bottom to top: opaque replaces, masked replaces where set, alpha
// blends; transparency t scales the contribution by (255 - t) / 255.
std::vector<uint32_t> Compose(const std::vector<Picture> &pics, const std::vector<ModelLayer> &layers) {
  std::vector<uint32_t> out(kW * kH, kBackground);
  for (const ModelLayer &l : layers) {
    if (l.hidden) continue;
    int left = 0, top = 0;
    const Picture p = Shown(pics[size_t(l.brush)], l, &left, &top);
    for (int y = 0; y < p.h; y++)
      for (int x = 0; x < p.w; x++) {
        const int X = left + x, Y = top + y;
        if (X < 0 || Y < 0 || X >= kW || Y >= kH) continue;
        const uint32_t s = p.At(x, y) & 0xFFFFFF, plane = p.At(x, y) >> 24;
        uint32_t a = 255;
        if (p.kind == MASKED) a = plane ? 255 : 0;
        if (p.kind == ALPHA) a = plane;
        a = a * uint32_t(255 - l.transparency) / 255;
        uint32_t &d = out[size_t(Y * kW + X)];
        d = Blend(d, s, a);
      }
  }
  return out;
}

struct OracleVm : StyleVm {
  std::vector<Picture> pics;
  void Add(const Picture &p) {
    pics.push_back(p);
    AddBrush(int(pics.size()), p.w, p.h, p.px, p.kind == MASKED ? 28 : p.kind == ALPHA ? 30 : -1);
  }
  void ExpectScreen(const std::vector<ModelLayer> &model, const std::string &what, int tolerance) {
    const std::vector<uint32_t> want = Compose(pics, model);
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) {
        const uint32_t got = WindowPixel(d, x, y);
        if (!Near(got, want[size_t(y * kW + x)], tolerance)) {
          ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << std::hex << got << ", expected "
                        << want[size_t(y * kW + x)];
          return;
        }
      }
  }
};

TEST(LayerStyle, QuarterTurnsAndFiltersShowAsComputed) {
  OracleVm vm;
  vm.Add(MakePicture(3, 9, 5, OPAQUE));
  vm.Add(MakePicture(4, 7, 6, MASKED));
  vm.Add(MakePicture(5, 6, 8, ALPHA));
  std::vector<ModelLayer> model = {{0, 10, 20}, {1, 30, 12}, {2, 44, 30}};
  for (int i = 0; i < 3; i++) ASSERT_EQ(vm.Call("DisplayBrush", {i + 1, model[i].x, model[i].y}).code, 0u);
  vm.ExpectScreen(model, "drawn", 2);
  for (int angle : {90, 180, 270, 0}) {
    for (int i = 0; i < 3; i++) {
      ASSERT_EQ(vm.Call("RotateLayer", {i + 1, angle}).code, 0u);
      model[i].rotation = angle;
    }
    vm.ExpectScreen(model, "turned by " + std::to_string(angle), 2);
  }
  // Filters over a turned layer show the filters over the turned picture.
  ASSERT_EQ(vm.Call("RotateLayer", {2, 90}).code, 0u);
  model[1].rotation = 90;
  ASSERT_EQ(vm.Style(2, [&] { vm.SetFilters({{"invert", 0}, {"xflip", 0}}); }), 0u);
  model[1].invert = model[1].xflip = true;
  vm.ExpectScreen(model, "inverted and mirrored after a turn", 2);
}

// Content keys give a layer another brush or a part of it; a new anchor moves the picture
// around the requested position.
TEST(LayerStyle, ContentAndAnchorKeys) {
  OracleVm vm;
  vm.Add(MakePicture(6, 10, 8, OPAQUE));
  vm.Add(MakePicture(7, 12, 9, MASKED));
  std::vector<ModelLayer> model = {{0, 8, 6}, {0, 30, 20}};
  for (const ModelLayer &m : model) ASSERT_EQ(vm.Call("DisplayBrush", {1, m.x, m.y}).code, 0u);
  ASSERT_EQ(vm.Style(1, [&] { vm.Set("id", 2); }), 0u);
  model[0].brush = 1;
  EXPECT_EQ(vm.Layer(1)->type, QMTYPE_BRUSH);
  vm.ExpectScreen(model, "another brush", 2);
  // A part of it: the layer becomes a part layer showing that rectangle.
  Picture part{4, 3, MASKED, {}};
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++) part.px.push_back(vm.pics[1].At(2 + x, 5 + y));
  vm.pics.push_back(part);
  ASSERT_EQ(vm.Style(1, [&] {
    vm.Set("partx", 2), vm.Set("party", 5), vm.Set("partwidth", 4), vm.Set("partheight", 3);
  }), 0u);
  EXPECT_EQ(vm.Layer(1)->type, QMTYPE_BRUSHPART);
  model[0].brush = 2;
  vm.ExpectScreen(model, "a part", 2);
  EXPECT_EQ(vm.Style(1, [&] { vm.Set("partx", 40); }), ERR_COORDSRANGE);
  EXPECT_EQ(vm.Style(1, [&] { vm.Set("id", 99); }), ERR_FINDBRUSH);
  // Anchored at the centre: the picture lies half its size up and left of the position.
  ASSERT_EQ(vm.Call("SetLayerAnchor", {2, 0.5, 0.5}).code, 0u);
  model[1].x -= 5, model[1].y -= 4;
  vm.ExpectScreen(model, "anchored at the centre", 2);
  ASSERT_EQ(vm.Style(2, [&] { vm.Set("x", 40), vm.Set("y", 30); }), 0u);
  model[1].x = 35, model[1].y = 26;
  vm.ExpectScreen(model, "moved with the anchor", 2);
}

// Filters and a turn given as display tags show once, whether layers keep the picture or it
// is drawn straight into the display; a filter applied twice would undo an invert.
TEST(LayerStyle, DisplayTagFiltersAndTurnsShowOnce) {
  for (bool layers : {true, false}) {
    OracleVm vm;
    if (!layers) {
      ASSERT_EQ(vm.Call("DisableLayers", {}).code, 0u);
    }
    vm.Add(MakePicture(8, 9, 7, MASKED));
    vm.Add(MakePicture(9, 8, 5, OPAQUE));
    auto show = [&](int brush, int x, int y, const std::function<void()> &fill) {
      return vm.CallWith("displaybrush", [&] {
        vm_pushnumber(vm.L, brush);
        vm_pushnumber(vm.L, x);
        vm_pushnumber(vm.L, y);
        vm_newtable(vm.L);
        fill();
        return 4;
      }).code;
    };
    ASSERT_EQ(show(1, 6, 9, [&] { vm.SetFilters({{"invert", 0}}); }), 0u);
    ASSERT_EQ(show(2, 30, 20, [&] { vm.Set("rotate", 90); }), 0u);
    std::vector<ModelLayer> model = {{0, 6, 9}, {1, 30, 20}};
    model[0].invert = true;
    model[1].rotation = 90;
    vm.ExpectScreen(model, layers ? "with layers" : "without layers", 2);
    if (layers) {
      EXPECT_EQ(vm.Layer(1)->filters[FILTER_INVERT].enabled, 1);
      // The layer keeps the untouched picture; the turn is its transformed image.
      EXPECT_EQ(vm.Layer(2)->base->own.bitmap->width, 8);
      EXPECT_NE(vm.Layer(2)->current->transformed.bitmap, nullptr);
    }
  }
}

// SetLayerPosFrame moves a layer as the movers do.
TEST(LayerStyle, SetLayerPosFrameMovesTheLayer) {
  OracleVm vm;
  vm.Add(MakePicture(10, 6, 6, ALPHA));
  std::vector<ModelLayer> model = {{0, 3, 3}};
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 3, 3}).code, 0u);
  ASSERT_EQ(SetLayerPosFrame(vm.L, vm.Layer(1), 40, 25, 0, 0), 0u);
  model[0].x = 40, model[0].y = 25;
  vm.ExpectScreen(model, "moved", 2);
  EXPECT_EQ(vm_gettop(vm.L), 0);  // what it pushed is gone again
}

// Where the planes of what a layer shows are kept: the brush's own fields, a part layer's own
// copy, nothing for a shape.
TEST(LayerStyle, MaskRefsByKind) {
  OracleVm vm;
  vm.Add(MakePicture(11, 6, 6, MASKED));
  ASSERT_EQ(vm.Call("CreateBGPic", {5, 16, 16}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBGPicPart", {5, 0, 0, 4, 4, 8, 8}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {20, 20, 5, 5, 0xFF}).code, 0u);
  qmBrush *brush = nullptr;
  const qmObjectId id{1, 0};
  ASSERT_EQ(FindBrush(ObjectRegistryOf(vm.L), &id, &brush, FINDBRUSH_HARDWARE), 0u);
  qmMask **mask = nullptr;
  qmAlphaChannel **alpha = nullptr;
  ASSERT_EQ(GetLayerMaskRefs(GetPlayerContext(vm.L)->scene, vm.Layer(1), 0, &mask, &alpha), 0u);
  EXPECT_EQ(mask, &brush->mask);
  EXPECT_EQ(alpha, &brush->alpha);
  ASSERT_EQ(GetLayerMaskRefs(GetPlayerContext(vm.L)->scene, vm.Layer(2), 0, &mask, &alpha), 0u);
  EXPECT_EQ(mask, &vm.Layer(2)->base->own.mask);
  ASSERT_EQ(GetLayerMaskRefs(GetPlayerContext(vm.L)->scene, vm.Layer(3), 0, &mask, &alpha), 0u);
  EXPECT_EQ(mask, nullptr);
  EXPECT_EQ(alpha, nullptr);
}

// A part layer that holds no picture of its own shows its background picture at the picture's
// present size. The mask and alpha it hands out for replacing must be those of that same
// picture: after a size change the master's are of another size than the image shown.
TEST(LayerStyle, PicturePartMaskRefsLieOverTheImageItShows) {
  for (PlaneKind kind : {MASKED, ALPHA}) {
    OracleVm vm;
    vm.Add(MakePicture(12, 6, 6, kind));
    ASSERT_EQ(vm.Call("BrushToBGPic", {1, 5}).code, 0u);
    ASSERT_EQ(vm.Call("ScaleBGPic", {5, 12, 9}).code, 0u);
    ASSERT_EQ(vm.Call("DisplayBGPicPart", {5, 2, 2, 4, 4, 0, 0}).code, 0u);
    qmScene *scene = GetPlayerContext(vm.L)->scene;
    qmLayer *layer = vm.Layer(1);
    qmMask **mask = nullptr;
    qmAlphaChannel **alpha = nullptr;
    // While it holds its cut-out part, that is where they are.
    ASSERT_EQ(GetLayerMaskRefs(scene, layer, 0, &mask, &alpha), 0u);
    EXPECT_EQ(mask, &layer->base->own.mask);
    EXPECT_EQ(alpha, &layer->base->own.alpha);
    DropOwnPicture(layer->base);
    qmLayerImage img{};
    ASSERT_EQ(GetLayerImage(scene, layer, layer->base, 0, 0, -1, &img), 0u);
    ASSERT_EQ(img.width, 12);
    ASSERT_EQ(img.height, 9);
    ASSERT_EQ(GetLayerMaskRefs(scene, layer, 0, &mask, &alpha), 0u);
    ASSERT_NE(mask, nullptr);
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(*mask, img.mask);
    EXPECT_EQ(*alpha, img.alpha);
    const int32_t w = kind == MASKED ? (*mask)->width : (*alpha)->width;
    const int32_t h = kind == MASKED ? (*mask)->height : (*alpha)->height;
    EXPECT_EQ(w, 12);
    EXPECT_EQ(h, 9);
  }
}

// Seeded random sequences of style changes: after each step the window must equal the full
// recomposition of the model. A missed refresh rectangle or a stale cache leaves wrong pixels.
TEST(LayerStyle, RandomStyleSequencesMatchAFullRecomposition) {
  for (unsigned seed : {3u, 11u, 29u}) {
    OracleVm vm;
    for (int i = 0; i < 5; i++) vm.Add(MakePicture(int(seed) + i, 5 + i * 3, 4 + i * 2, PlaneKind(i % 3)));
    std::vector<ModelLayer> model;
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    for (int step = 0; step < 50; step++) {
      const int n = int(model.size());
      const int op = n < 3 ? 0 : pick(8);
      std::string what = "seed " + std::to_string(seed) + " step " + std::to_string(step) + " op ";
      const int p = n ? 1 + pick(n) : 0;
      ModelLayer *m = n ? &model[size_t(p - 1)] : nullptr;
      if (op == 0) {
        const int b = pick(5), x = pick(kW + 10) - 10, y = pick(kH + 10) - 10;
        ASSERT_EQ(vm.Call("DisplayBrush", {b + 1, x, y}).code, 0u);
        model.push_back({b, x, y});
        what += "add";
      } else if (op == 1) {
        const int x = pick(kW + 10) - 10, y = pick(kH + 10) - 10;
        ASSERT_EQ(vm.Style(p, [&] { vm.Set("x", x), vm.Set("y", y); }), 0u);
        m->x = x, m->y = y;
        what += "move";
      } else if (op == 2) {
        const int dx = pick(11) - 5, dy = pick(11) - 5;
        ASSERT_EQ(vm.Style(p, [&] { vm.Set("translatex", dx), vm.Set("translatey", dy); }), 0u);
        m->x += dx, m->y += dy;
        what += "translate";
      } else if (op == 3) {
        m->hidden = !m->hidden;
        ASSERT_EQ(vm.Style(p, [&] { vm.Set("hidden", m->hidden ? 1 : 0); }), 0u);
        what += "hidden";
      } else if (op == 4) {
        const int t = pick(3) ? pick(256) : 0;
        ASSERT_EQ(vm.Call("SetLayerTransparency", {p, t}).code, 0u);
        m->transparency = t;
        what += "transparency";
      } else if (op == 5) {
        m->invert = pick(2), m->xflip = pick(2);
        if (!m->invert && !m->xflip) {
          ASSERT_EQ(vm.Call("SetLayerFilter", {p, 0}).code, 0u);
        } else {
          std::vector<std::pair<const char *, int>> list;
          if (m->invert) list.push_back({"invert", pick(3)});
          if (m->xflip) list.push_back({"xflip", pick(3)});
          ASSERT_EQ(vm.Style(p, [&] { vm.SetFilters(list); }), 0u);
          // Slots the list leaves out keep their state: one that went away must be cleared.
          if (!m->invert || !m->xflip) {
            ASSERT_EQ(vm.Style(p, [&] {
              vm_pushstring(vm.L, "filters");
              vm_newtable(vm.L);
              vm_newtable(vm.L);
              vm.SetText("name", m->invert ? "xflip" : "invert");
              vm.Set("disable", 1);
              vm_rawseti(vm.L, -2, 0);
              vm_settable(vm.L, -3);
            }),
                      0u);
          }
        }
        what += "filters";
      } else if (op == 6 && pick(3) == 0) {
        // Twice or once the size, unturned.
        m->scale = 1 + pick(2), m->rotation = 0;
        ASSERT_EQ(vm.Style(p, [&] { vm.Set("rotate", 0), vm.Set("scalex", m->scale), vm.Set("scaley", m->scale); }),
                  0u);
        what += "scale";
      } else if (op == 6) {
        const int angle = 90 * pick(4);
        ASSERT_EQ(vm.Style(p, [&] { vm.Set("rotate", angle), vm.Set("scalex", 1), vm.Set("scaley", 1); }), 0u);
        m->rotation = angle, m->scale = 1;
        what += "rotate";
      } else {
        // Several properties at once, moved and turned together.
        const int x = pick(kW), y = pick(kH), angle = 90 * pick(4);
        ASSERT_EQ(vm.Style(p, [&] {
          vm.Set("x", x), vm.Set("y", y), vm.Set("rotate", angle), vm.Set("scalex", 1), vm.Set("scaley", 1);
        }), 0u);
        m->x = x, m->y = y, m->rotation = angle, m->scale = 1;
        what += "move and rotate";
      }
      ASSERT_EQ(CountLayers(vm.Pic()), int(model.size())) << what;
      vm.ExpectScreen(model, what, 2);
      if (HasFailure()) return;
    }
  }
}

}  // namespace
