// Shadows, borders and clip regions of layers, and placing layers and giving them new images.
// Expected pixels come from the rules written out here: a shadow is the layer's rectangle moved
// by the size in its direction (up, then clockwise in eighths), a plain picture's border is a
// frame of the border colour as thick as its size, and a colour of transparency TT is mixed in
// at 255 - TT.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/displayops.h"
#include "graphics/alpha_kernels.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/clipregion.h"
#include "layers/border.h"
#include "layers/layer.h"
#include "layers/layerops.h"
#include "layers/redraw.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "tests/display/display_vm.h"
#include "tests/layers/layers_vm.h"

namespace {

constexpr int kW = 64, kH = 48;
constexpr uint32_t kBackground = 0x102030;
constexpr double kMaskType = 28;

using layertest::Blend;
using layertest::Channel;
using layertest::Near;

struct Rect {
  int x, y, w, h;
  bool Has(int px, int py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

struct BorderVm : DisplayVm {
  qmDisplay *d = nullptr;
  int brushes = 0;
  int width, height;

  explicit BorderVm(int w = kW, int h = kH) : width(w), height(h) {
    d = layertest::OpenLayersDisplay(this, w, h, kBackground);
  }
  // A brush of w x h from 0xAARRGGBB words (the top byte the mask bit when masked); its id.
  int AddBrush(int w, int h, const std::function<uint32_t(int, int)> &pixel, bool masked = false) {
    const int id = ++brushes;
    const CommandCall r = CallWith("rgbarraytobrush", [&] {
      vm_pushnumber(L, id);
      vm_newtable(L);
      for (int i = 0; i < w * h; i++) {
        vm_pushnumber(L, pixel(i % w, i / w));
        vm_rawseti(L, -2, i);
      }
      for (double v : {double(w), double(h), masked ? kMaskType : -1.0, 0.0}) vm_pushnumber(L, v);
      return 6;
    });
    EXPECT_EQ(r.code, 0u);
    return id;
  }
  int AddSolid(int w, int h, uint32_t rgb) {
    return AddBrush(w, h, [rgb](int, int) { return 0xFF000000u | rgb; });
  }
  uint32_t Show(int brush, int x, int y) { return Call("DisplayBrush", {brush, x, y}).code; }
  qmBGPic *Pic() { return d->bgpic; }
  qmLayer *Layer(int pos) { return GetNthLayer(Pic(), pos); }
  // Every window pixel against the rule; reports the first difference.
  void ExpectScreen(const std::function<uint32_t(int, int)> &want, const std::string &what, int tolerance = 1) {
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) {
        const uint32_t got = WindowPixel(d, x, y);
        if (!Near(got, want(x, y), tolerance)) {
          ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << std::hex << got << ", expected "
                        << want(x, y);
          return;
        }
      }
  }
  // The whole picture composed afresh into a bitmap of its own, to compare with what the window
  // shows after refreshes of parts.
  void ExpectFullRecomposition(const std::string &what) {
    qmBitmap *full = AllocBitmap(width, height);
    ASSERT_NE(full, nullptr);
    Redraw(GetScene(L), d, Pic(), full, 0, 0, width, height, 0);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++)
        if (WindowPixel(d, x, y) != BitmapPixel(full, x, y)) {
          ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << std::hex << WindowPixel(d, x, y)
                        << ", a full composition gives " << BitmapPixel(full, x, y);
          FreeBitmap(full);
          return;
        }
    FreeBitmap(full);
  }
};

// The displacement of a shadow of that direction, from the direction table: 0 up, 1 up-right,
// 2 right, 3 down-right, 4 down, 5 down-left, 6 left, 7 up-left, 8 and above none.
void ShadowStep(int direction, int *sx, int *sy) {
  static const int kX[8] = {0, 1, 1, 1, 0, -1, -1, -1}, kY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  *sx = direction < 8 ? kX[direction] : 0;
  *sy = direction < 8 ? kY[direction] : 0;
}

// An opaque shadow with a blur too narrow to spread (sigma 0.1) lies where the layer lies, moved
// by the size in its direction, under the layer. The narrow blur still takes a few steps off the
// corners, hence the tolerance; a misplaced shadow is off by the whole colour.
TEST(LayerShadow, FallsInItsDirectionUnderTheLayer) {
  constexpr uint32_t kLayerColor = 0xC0C0C0, kShadowColor = 0x2050F0;
  constexpr int kSize = 6;
  const Rect layer{26, 20, 8, 6};
  for (int direction = 0; direction <= 8; direction++) {
    BorderVm vm;
    const int b = vm.AddSolid(layer.w, layer.h, kLayerColor);
    ASSERT_EQ(vm.Show(b, layer.x, layer.y), 0u);
    ASSERT_EQ(vm.Call("SetLayerShadow", {1, 1, double(kShadowColor), 1, kSize, double(direction), 0.1}).code, 0u);
    int sx, sy;
    ShadowStep(direction, &sx, &sy);
    const Rect shadow{layer.x + sx * kSize, layer.y + sy * kSize, layer.w, layer.h};
    vm.ExpectScreen(
        [&](int x, int y) {
          if (layer.Has(x, y)) return kLayerColor;
          return shadow.Has(x, y) ? kShadowColor : kBackground;
        },
        "direction " + std::to_string(direction), 5);
    // The bounds reach over the shadow plane: the moved rectangle grown by the radius (1).
    int bx, by, bw, bh;
    GetLayerBounds(vm.d, vm.Layer(1), vm.Layer(1)->current, &bx, &by, &bw, &bh);
    const int x0 = std::min(layer.x, shadow.x - 1), y0 = std::min(layer.y, shadow.y - 1);
    EXPECT_EQ(bx, x0) << direction;
    EXPECT_EQ(by, y0) << direction;
    EXPECT_EQ(bw, std::max(layer.x + layer.w, shadow.x + shadow.w + 1) - x0) << direction;
    EXPECT_EQ(bh, std::max(layer.y + layer.h, shadow.y + shadow.h + 1) - y0) << direction;
  }
}

// The top byte of the shadow colour is its transparency: 128 mixes the colour in at 127.
TEST(LayerShadow, ColourTransparencyAndSwitchingOff) {
  BorderVm vm;
  const int b = vm.AddSolid(6, 6, 0xFFFFFF);
  ASSERT_EQ(vm.Show(b, 20, 20), 0u);
  ASSERT_EQ(vm.Call("SetLayerShadow", {1, 1, double(0x80FF0000u), 1, 8, 2, 0.1}).code, 0u);
  EXPECT_TRUE(Near(DisplayVm::WindowPixel(vm.d, 30, 22), Blend(kBackground, 0xFF0000, 127), 2));
  // Off again: the area it covered shows the background.
  ASSERT_EQ(vm.Call("SetLayerShadow", {1, 0}).code, 0u);
  EXPECT_EQ(vm.Layer(1)->shadow.on, 0);
  vm.ExpectScreen([](int x, int y) { return Rect{20, 20, 6, 6}.Has(x, y) ? 0xFFFFFFu : kBackground; }, "off");
}

// Defaults, and an off switch on a layer without shadow changes nothing at all.
TEST(LayerShadow, DefaultsAndNoOpSwitchOff) {
  BorderVm vm;
  const int b = vm.AddSolid(6, 6, 0xFFFFFF);
  ASSERT_EQ(vm.Show(b, 20, 20), 0u);
  qmLayer *l = vm.Layer(1);
  vm.Pic()->layersChanged = 0;
  ASSERT_EQ(vm.Call("SetLayerShadow", {1, 0}).code, 0u);
  EXPECT_EQ(vm.Pic()->layersChanged, 0);
  EXPECT_EQ(l->shadow.on, 0);

  ASSERT_EQ(vm.Call("SetLayerShadow", {1, 1}).code, 0u);
  EXPECT_EQ(l->shadow.color, 0x80000000u);
  EXPECT_EQ(l->shadow.radius, 5.0);
  EXPECT_EQ(l->shadow.size, 4);
  EXPECT_EQ(l->shadow.direction, 3);
  EXPECT_DOUBLE_EQ(l->shadow.sigma, 5.0 / 3);
  // The sigma follows a given radius; sizes and directions are truncated.
  ASSERT_EQ(vm.Call("SetLayerShadow", {1, 1, 0, 9, 2.9, 5.7}).code, 0u);
  EXPECT_DOUBLE_EQ(l->shadow.sigma, 3.0);
  EXPECT_EQ(l->shadow.size, 2);
  EXPECT_EQ(l->shadow.direction, 5);
  EXPECT_EQ(vm.Pic()->layersChanged, 1);
}

TEST(LayerShadow, ArgumentErrorsComeBeforeTheLayerChecks) {
  BorderVm vm;
  const int b = vm.AddSolid(6, 6, 0xFFFFFF);
  ASSERT_EQ(vm.Show(b, 20, 20), 0u);
  struct Case {
    const char *name;
    std::vector<CmdArg> args;
    bool layersOn;
    uint32_t code;
  } cases[] = {
      {"border size 0, layers off", {1, 1, 0xFF0000, 0}, false, ERR_WRONGUSAGE},
      {"border size 0.9 truncates to 0", {1, 1, 0xFF0000, 0.9}, true, ERR_WRONGUSAGE},
      {"border with layers off", {1, 1, 0xFF0000, 2}, false, ERR_NOLAYERS},
      {"border past the last layer", {2, 1, 0xFF0000, 2}, true, ERR_LAYERRANGE},
      {"border at position 0", {0, 1}, true, ERR_LAYERRANGE},
      {"shadow size -1, layers off", {1, 1, 0, 5, -1}, false, ERR_WRONGUSAGE},
      {"shadow radius 0.5", {1, 1, 0, 0.5}, true, ERR_WRONGUSAGE},
      {"shadow sigma 0", {1, 1, 0, 5, 4, 3, 0}, true, ERR_WRONGUSAGE},
      {"shadow with layers off", {1, 1}, false, ERR_NOLAYERS},
      {"shadow past the last layer", {3, 1}, true, ERR_LAYERRANGE},
  };
  for (const Case &c : cases) {
    vm.d->layersOn = c.layersOn ? 1 : 0;
    const bool border = std::string(c.name).rfind("border", 0) == 0;
    EXPECT_EQ(vm.Call(border ? "SetLayerBorder" : "SetLayerShadow", c.args).code, c.code) << c.name;
  }
  vm.d->layersOn = 1;
  EXPECT_EQ(vm.Layer(1)->border.on, 0);
  EXPECT_EQ(vm.Layer(1)->shadow.on, 0);
}

// Sizes and radii far beyond any picture draw what can be drawn and overflow nothing.
TEST(LayerShadow, HugeSizesAreHarmless) {
  BorderVm vm;
  const int b = vm.AddSolid(6, 6, 0xFFFFFF);
  ASSERT_EQ(vm.Show(b, 20, 20), 0u);
  EXPECT_EQ(vm.Call("SetLayerShadow", {1, 1, 0, 1e9, 2e9, 3, 1e9}).code, 0u);
  EXPECT_EQ(vm.Call("SetLayerBorder", {1, 1, 0xFF0000, 2e9}).code, 0u);
  EXPECT_EQ(vm.Call("TranslateLayer", {1, 5, 5}).code, 0u);
  EXPECT_EQ(vm.Call("SetLayerShadow", {1, 1, 0, 2, 2e9, 5}).code, 0u);
  EXPECT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
  vm.ExpectScreen([](int, int) { return kBackground; }, "removed");
}

// A plain picture's border is a frame of its size around it, mixed in at 255 - TT; TT 255 leaves
// nothing visible.
TEST(LayerBorder, FrameOfTheColourAtItsTransparency) {
  const Rect layer{20, 15, 10, 8};
  struct Case {
    uint32_t color;
    uint32_t frame;
  } cases[] = {
      {0x00FF0000, 0xFF0000},
      {0x80FF0000, Blend(kBackground, 0xFF0000, 127)},
      {0xFFFF0000, kBackground},
  };
  for (const Case &c : cases) {
    BorderVm vm;
    const int b = vm.AddSolid(layer.w, layer.h, 0x00FF00);
    ASSERT_EQ(vm.Show(b, layer.x, layer.y), 0u);
    ASSERT_EQ(vm.Call("SetLayerBorder", {1, 1, double(c.color), 3}).code, 0u);
    const Rect frame{layer.x - 3, layer.y - 3, layer.w + 6, layer.h + 6};
    vm.ExpectScreen(
        [&](int x, int y) {
          if (layer.Has(x, y)) return 0x00FF00u;
          return frame.Has(x, y) ? c.frame : kBackground;
        },
        "border colour " + std::to_string(c.color));
  }
}

// A border changed through a style shows with its new colour and size at once, as GetLayerStyle
// reports them.
TEST(LayerBorder, StyleChangesShowTheNewBorder) {
  const Rect layer{20, 15, 10, 8};
  struct Case {
    const char *name;
    double color, size;       // the style's bordercolor and bordersize (0: not given)
    int reach;                // how far the border reaches out afterwards
    uint32_t frame;
  } cases[] = {
      {"another colour", 0x0000FF, 0, 2, 0x0000FF},
      {"grown", 0, 4, 4, 0xFF0000},
      {"shrunk", 0, 1, 1, 0xFF0000},
      {"colour and size", 0xFFFF00, 3, 3, 0xFFFF00},
  };
  for (const Case &c : cases) {
    BorderVm vm;
    const int b = vm.AddSolid(layer.w, layer.h, 0x00FF00);
    ASSERT_EQ(vm.Show(b, layer.x, layer.y), 0u);
    ASSERT_EQ(vm.Call("SetLayerBorder", {1, 1, 0xFF0000, 2}).code, 0u);
    ASSERT_EQ(DisplayVm::WindowPixel(vm.d, layer.x - 1, layer.y), 0xFF0000u) << c.name;
    ASSERT_EQ(vm.CallWith("setlayerstyle",
                          [&] {
                            vm_pushnumber(vm.L, 1);
                            vm_newtable(vm.L);
                            if (c.color) vm.Set("bordercolor", c.color);
                            if (c.size) vm.Set("bordersize", c.size);
                            return 2;
                          })
                  .code,
              0u)
        << c.name;
    const Rect frame{layer.x - c.reach, layer.y - c.reach, layer.w + 2 * c.reach, layer.h + 2 * c.reach};
    vm.ExpectScreen(
        [&](int x, int y) {
          if (layer.Has(x, y)) return 0x00FF00u;
          return frame.Has(x, y) ? c.frame : kBackground;
        },
        c.name);
  }
}

TEST(LayerBorder, FullyTransparentColourGivesAZeroAlphaPlane) {
  BorderVm vm;
  // A masked ring: the border follows its shape through a widened alpha plane.
  const int b = vm.AddBrush(
      12, 10, [](int x, int y) { return (x == 0 || y == 0 || x == 11 || y == 9 ? 0xFF000000u : 0u) | 0x00FF00; },
      true);
  ASSERT_EQ(vm.Show(b, 20, 20), 0u);
  qmLayer *l = vm.Layer(1);
  for (uint32_t color : {0x00FF0000u, 0xFFFF0000u}) {
    qmPlaneSet img{};
    int32_t ox, oy, w, h;
    ASSERT_EQ(BuildBorderImage(vm.d, l, l->current, color, 2, &ox, &oy, &w, &h, &img), 0u);
    EXPECT_EQ(ox, 2);
    EXPECT_EQ(w, 12 + 4);
    EXPECT_EQ(h, 10 + 4);
    ASSERT_NE(img.alpha, nullptr);
    int nonZero = 0;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) nonZero += img.alpha->memory[y * img.alpha->bytesPerRow + x] != 0;
    if (color >> 24 == 0xFF) EXPECT_EQ(nonZero, 0);
    else {
      EXPECT_GT(nonZero, 0);
      // Outline mode: the ring's outside edge is fully covered, the middle of the ring stays clear.
      EXPECT_EQ(img.alpha->memory[2 * img.alpha->bytesPerRow + 2], 255);
      EXPECT_EQ(img.alpha->memory[(h / 2) * img.alpha->bytesPerRow + w / 2], 0);
    }
    FreeBitmap(img.bitmap), FreeMask(img.mask), FreeAlphaChannel(img.alpha);
  }
}

// An unfilled outline shape drawn in its border's colour is represented by its border alone.
TEST(LayerBorder, UnfilledOutlineInTheBorderColourShowsOnlyTheBorder) {
  for (const bool sameColour : {true, false}) {
    BorderVm vm;
    const int b = vm.AddBrush(
        12, 10, [](int x, int y) { return (x == 0 || y == 0 || x == 11 || y == 9 ? 0xFF000000u : 0u) | 0x0000FF; },
        true);
    ASSERT_EQ(vm.Show(b, 20, 20), 0u);
    qmLayer *l = vm.Layer(1);
    l->type = QMTYPE_BOX;
    l->base->shapeData = 1, l->base->fillStyle = 0;
    l->base->shapeColor = sameColour ? 0xFF0000 : 0x0000FF;
    ASSERT_EQ(vm.Call("SetLayerBorder", {1, 1, 0xFF0000, 2}).code, 0u);
    // The outline's own pixel: the border's colour when it is skipped, the outline's when drawn.
    EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 20, 25), sameColour ? 0xFF0000u : 0x0000FFu) << sameColour;
    EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 26, 25), kBackground) << sameColour;
    l->type = QMTYPE_BRUSH;
  }
}

// A clip region cuts the layer, its shadow and its border; outside the redraw rectangle nothing
// of the layer is drawn. A plain picture's border is a filled rectangle under it, which shows
// through a transparent layer. A region with a mask lets through only its set bits, also for a layer
// mixed in at a transparency.
TEST(LayerClip, RegionCutsPictureShadowAndBorder) {
  struct Case {
    const char *name;
    Rect region;
    bool checker;  // mask bit set where (x + y) is even
    int transparency;
  } cases[] = {
      {"outside", {50, 2, 10, 8}, false, 0},
      {"left half", {0, 0, 25, kH}, false, 0},
      {"checker", {10, 10, 30, 24}, true, 0},
      {"checker, transparency 100", {10, 10, 30, 24}, true, 100},
  };
  const Rect layer{20, 16, 10, 8};
  constexpr uint32_t kLayerColor = 0xE0E0E0, kShadow = 0x3060A0, kBorder = 0xFF0000;
  for (const Case &c : cases) {
    BorderVm vm;
    const int b = vm.AddSolid(layer.w, layer.h, kLayerColor);
    ASSERT_EQ(vm.Show(b, layer.x, layer.y), 0u);
    qmMask *mask = nullptr;
    if (c.checker) {
      mask = AllocMask(c.region.w, c.region.h, 1);
      ASSERT_NE(mask, nullptr);
      for (int y = 0; y < c.region.h; y++)
        for (int x = 0; x < c.region.w; x++)
          if ((x + y) % 2 == 0) SetBitmapPixel(mask, x, y, MASKVISIBLE, 1);
    }
    qmClipRegion *region = nullptr;
    ASSERT_EQ(NewClipRegion(c.region.x, c.region.y, c.region.w, c.region.h, mask, &region), 0u);
    FreeMask(mask);
    region->transformedCopy = 1;  // a private copy: freed with the layer's state
    qmLayer *l = vm.Layer(1);
    l->current->clip = region;
    l->transparency = c.transparency;
    l->border = {1, kBorder, 2};
    l->shadow = {1, kShadow, 5, 3, 1.0, 0.1};
    RefreshRect(GetPlayerContext(vm.L)->scene, 0, 0, kW, kH);
    const Rect frame{layer.x - 2, layer.y - 2, layer.w + 4, layer.h + 4};
    const Rect shadow{frame.x + 5, frame.y + 5, frame.w, frame.h};
    const uint32_t level = uint32_t(255 - c.transparency);
    vm.ExpectScreen(
        [&](int x, int y) {
          if (!c.region.Has(x, y)) return kBackground;
          if (c.checker && (x - c.region.x + y - c.region.y) % 2) return kBackground;
          // Bottom to top: the shadow (its own opacity), the border's filled frame and the
          // picture, both at the layer's transparency.
          uint32_t p = shadow.Has(x, y) ? kShadow : kBackground;
          if (frame.Has(x, y)) p = Blend(p, kBorder, level);
          if (layer.Has(x, y)) p = Blend(p, kLayerColor, level);
          return p;
        },
        c.name, 2);
  }
}

// Composing a rectangle that starts at or past the picture's edge draws nothing and reads and
// writes nothing outside the records.
TEST(LayerRedraw, RectanglePastTheEdgeDrawsNothing) {
  BorderVm vm;
  const int b = vm.AddSolid(8, 8, 0xFFFFFF);
  ASSERT_EQ(vm.Show(b, 56, 40), 0u);
  qmBitmap *dst = AllocBitmap(kW, kH);
  ASSERT_NE(dst, nullptr);
  FillBitmapRect(dst, 0, 0, kW, kH, 0x123456);
  Redraw(GetPlayerContext(vm.L)->scene, vm.d, vm.Pic(), dst, kW, 0, 10, 10, 0);
  Redraw(GetPlayerContext(vm.L)->scene, vm.d, vm.Pic(), dst, 0, kH + 3, 10, 10, 0);
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) ASSERT_EQ(DisplayVm::BitmapPixel(dst, x, y), 0x123456u) << x << "," << y;
  FreeBitmap(dst);
}

TEST(PlaceLayer, KeepingBothCoordinatesRefreshesTheDrawnRectangle) {
  BorderVm vm;
  const int b = vm.AddSolid(9, 7, 0xFFFFFF);
  ASSERT_EQ(vm.Show(b, 11, 13), 0u);
  qmLayer *l = vm.Layer(1);
  qmDirtyRectList batch{};
  PlaceLayer(GetPlayerContext(vm.L)->scene, l, nullptr, kKeepPosition, kKeepPosition, 0, 0, &batch);
  ASSERT_EQ(batch.count, 1);
  EXPECT_EQ(batch.entries[0].x1, 11);
  EXPECT_EQ(batch.entries[0].y1, 13);
  EXPECT_EQ(batch.entries[0].x2, 11 + 9 - 1);
  EXPECT_EQ(batch.entries[0].y2, 13 + 7 - 1);
  EXPECT_EQ(l->current->x, 11);
  EXPECT_EQ(l->current->requestedY, 13);
  // A former size widens it; return-only collects nothing.
  const int32_t former[2] = {20, 3};
  PlaceLayer(GetPlayerContext(vm.L)->scene, l, former, kKeepPosition, kKeepPosition, 0, 0, &batch);
  ASSERT_EQ(batch.count, 2);
  EXPECT_EQ(batch.entries[1].x2, 11 + 20 - 1);
  EXPECT_EQ(batch.entries[1].y2, 13 + 7 - 1);
  PlaceLayer(GetPlayerContext(vm.L)->scene, l, nullptr, 30, 30, 1, 0, &batch);
  EXPECT_EQ(batch.count, 2);
  EXPECT_EQ(l->current->x, 30);
  // A move: the union of the old and the new place.
  PlaceLayer(GetPlayerContext(vm.L)->scene, l, nullptr, -4, 2, 0, PLACE_RELATIVEX, &batch);
  ASSERT_EQ(batch.count, 3);
  EXPECT_EQ(l->current->x, 26);
  EXPECT_EQ(l->current->y, 2);
  EXPECT_EQ(batch.entries[2].x1, 26);
  EXPECT_EQ(batch.entries[2].y1, 2);
  EXPECT_EQ(batch.entries[2].x2, 30 + 9 - 1);
  EXPECT_EQ(batch.entries[2].y2, 30 + 7 - 1);
  FreeRectList(&batch);
}

TEST(PlaceLayer, LineEndsMoveWithTheLayer) {
  BorderVm vm;
  const int b = vm.AddSolid(9, 7, 0xFFFFFF);
  ASSERT_EQ(vm.Show(b, 11, 13), 0u);
  qmLayer *l = vm.Layer(1);
  l->type = QMTYPE_LINE;
  qmLayerState *s = l->base;
  s->lineX1 = 11, s->lineY1 = 19, s->lineX2 = 19, s->lineY2 = 13;
  PlaceLayer(GetPlayerContext(vm.L)->scene, l, nullptr, 5, -3, 1, PLACE_RELATIVEX | PLACE_RELATIVEY, nullptr);
  EXPECT_EQ(s->lineX1, 16);
  EXPECT_EQ(s->lineY1, 16);
  EXPECT_EQ(s->lineX2, 24);
  EXPECT_EQ(s->lineY2, 10);
  EXPECT_EQ(s->x, 16);
  EXPECT_EQ(s->y, 10);
  l->type = QMTYPE_BRUSH;
}

// With a separate current state on a display scaled by 2, the current state lies at twice the
// unscaled position; the anchor moves the anchored position by its share of the object size.
TEST(PlaceLayer, ScaledCurrentStateAndAnchor) {
  BorderVm vm;
  const int b = vm.AddSolid(10, 6, 0xFFFFFF);
  ASSERT_EQ(vm.Show(b, 4, 4), 0u);
  qmLayer *l = vm.Layer(1);
  auto *current = static_cast<qmLayerState *>(MemAlloc(sizeof(qmLayerState), 1));
  ASSERT_NE(current, nullptr);
  current->width = 20, current->height = 12;
  l->current = current;
  const double sx = vm.d->scaleX, sy = vm.d->scaleY;
  vm.d->scaleX = vm.d->scaleY = 2.0;
  PlaceLayer(GetPlayerContext(vm.L)->scene, l, nullptr, 10, kKeepPosition, 1, 0, nullptr);
  EXPECT_EQ(l->base->x, 10);
  EXPECT_EQ(current->x, 20);
  EXPECT_EQ(current->y, 8);
  vm.d->scaleX = sx, vm.d->scaleY = sy;
  l->current = l->base;
  MemFree(current);

  l->anchorX = 0.5, l->anchorY = 1.0;
  PlaceLayer(GetPlayerContext(vm.L)->scene, l, nullptr, 30, 20, 1, 0, nullptr);
  EXPECT_EQ(l->base->requestedX, 30);
  EXPECT_EQ(l->base->anchoredX, 30 - 5);
  EXPECT_EQ(l->base->anchoredY, 20 - 6);
  EXPECT_EQ(l->base->x, 25);
  EXPECT_EQ(l->base->y, 14);
}

// Moving decorated layers about must leave the window as a full composition of the picture: the
// refresh of each move has to cover the shadow and the border at both places.
TEST(PlaceLayer, MovingShadowedBorderedLayersMatchesAFullRecomposition) {
  for (unsigned seed : {3u, 11u}) {
    BorderVm vm;
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    for (int i = 0; i < 4; i++) {
      const int b = vm.AddBrush(6 + 2 * i, 5 + i, [i](int x, int y) {
        return (i % 2 && (x + y) % 3 == 0 ? 0u : 0xFF000000u) | uint32_t(0x404040 * (i + 1) + x * 5 + y * 9);
      }, i % 2 == 1);
      ASSERT_EQ(vm.Show(b, pick(kW), pick(kH)), 0u);
      ASSERT_EQ(vm.Call("SetLayerShadow", {double(i + 1), 1, double(0x40000000u | (0x1F3F5Fu * i)), double(1 + i),
                                           double(2 + i), double(pick(9))}).code, 0u);
      ASSERT_EQ(vm.Call("SetLayerBorder", {double(i + 1), 1, double(0xFF7F00 + i * 0x20), double(1 + i % 3)}).code, 0u);
    }
    vm.ExpectFullRecomposition("decorated");
    for (int step = 0; step < 30; step++) {
      const int p = 1 + pick(4);
      ASSERT_EQ(vm.Call("TranslateLayer", {p, pick(31) - 15, pick(31) - 15}).code, 0u);
      vm.ExpectFullRecomposition("seed " + std::to_string(seed) + " step " + std::to_string(step));
    }
    // Hiding, showing at another place and removing take the shadow and the border along.
    ASSERT_EQ(vm.Call("HideLayer", {2}).code, 0u);
    vm.ExpectFullRecomposition("hidden");
    ASSERT_EQ(vm.Call("ShowLayer", {2, 7, 9}).code, 0u);
    vm.ExpectFullRecomposition("shown elsewhere");
    ASSERT_EQ(vm.Call("RemoveLayer", {3}).code, 0u);
    vm.ExpectFullRecomposition("removed");
  }
}

// A new image: the old transformed image is freed (the leak checker sees it otherwise) and its
// replacement is cleared; the filtered, border and shadow caches of the old image go.
TEST(ReplaceLayerImage, RenewsTheTransformedImageAndRefreshesBothPlaces) {
  BorderVm vm;
  const int b = vm.AddSolid(8, 8, 0xFFFFFF);
  ASSERT_EQ(vm.Show(b, 10, 10), 0u);
  qmLayer *l = vm.Layer(1);
  qmLayerState *s = l->current;
  s->transformed.bitmap = AllocBitmap(8, 8);
  s->transformed.alpha = AllocAlphaChannel(8, 8, 0);
  ASSERT_NE(s->transformed.alpha, nullptr);
  std::fill(s->transformed.alpha->memory, s->transformed.alpha->memory + 8 * s->transformed.alpha->bytesPerRow, 0x77);
  FillBitmapRect(s->transformed.bitmap, 0, 0, 8, 8, 0xABCDEF);
  s->filtered.bitmap = AllocBitmap(8, 8);
  l->shadow = {1, 0, 4, 3, 2.0, 1.0};
  int32_t bx, by, bw, bh;
  GetLayerBounds(vm.d, l, s, &bx, &by, &bw, &bh);
  ASSERT_EQ(vm.Call("SetLayerBorder", {1, 1, 0xFF0000, 2}).code, 0u);
  ASSERT_NE(s->border.bitmap, nullptr);
  ASSERT_NE(s->shadowAlpha, nullptr);

  qmBitmap *next = AllocBitmap(12, 6);
  FillBitmapRect(next, 0, 0, 12, 6, 0x00FF00);
  qmFormerRect former{-1, 0, -1, 0, 1};
  ReplaceLayerImage(GetPlayerContext(vm.L)->scene, l, &former, 30, 20, 12, 6, next, nullptr, nullptr, 0);
  EXPECT_EQ(s->own.bitmap, next);
  EXPECT_EQ(former.x, 30);  // width -1 stood for the new rectangle
  EXPECT_EQ(former.width, 12);
  EXPECT_EQ(s->x, 30);
  EXPECT_EQ(s->width, 12);
  ASSERT_NE(s->transformed.bitmap, nullptr);
  ASSERT_NE(s->transformed.alpha, nullptr);
  EXPECT_EQ(s->transformed.mask, nullptr);
  EXPECT_EQ(s->transformed.bitmap->width, 12);
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 12; x++) {
      EXPECT_EQ(DisplayVm::BitmapPixel(s->transformed.bitmap, x, y), 0u);
      EXPECT_EQ(s->transformed.alpha->memory[y * s->transformed.alpha->bytesPerRow + x], 0);
    }
  EXPECT_EQ(s->filtered.bitmap, nullptr);
  EXPECT_EQ(s->border.bitmap, nullptr);
  EXPECT_EQ(s->shadowAlpha, nullptr);
  // The transformed image is drawn now; take it out so the layer shows its own new picture.
  FreeBitmap(s->transformed.bitmap), FreeAlphaChannel(s->transformed.alpha);
  s->transformed = {};
  l->shadow.on = l->border.on = 0;

  // Refreshed: the old place (10, 10, 8 x 8) and the new one together.
  qmFormerRect old{30, 20, 12, 6, 0};
  qmBitmap *third = AllocBitmap(5, 5);
  FillBitmapRect(third, 0, 0, 5, 5, 0x0000FF);
  ReplaceLayerImage(GetPlayerContext(vm.L)->scene, l, &old, 2, 3, 5, 5, third, nullptr, nullptr, 0);
  vm.ExpectScreen([](int x, int y) { return Rect{2, 3, 5, 5}.Has(x, y) ? 0x0000FFu : kBackground; }, "replaced");
}

}  // namespace

namespace {

// A turned plain picture gets its border from an anti-aliased frame of its box turned the same
// way: it lies around the turned picture, covered just outside each edge, clear in the middle.
TEST(LayerBorder, TurnedPlainPictureGetsAFrame) {
  BorderVm vm;
  const int b = vm.AddSolid(20, 10, 0x00FF00);
  ASSERT_EQ(vm.Show(b, 20, 20), 0u);
  qmLayer *l = vm.Layer(1);
  const double turn[4] = {0, -1, 1, 0};  // a quarter turn
  std::copy(turn, turn + 4, l->transform.matrix);
  l->anchorX = l->anchorY = 0.5;
  // The rendering of the turned layer: 10 x 20, in a state of its own.
  auto *s = static_cast<qmLayerState *>(MemAlloc(sizeof(qmLayerState), 1));
  ASSERT_NE(s, nullptr);
  s->width = 10, s->height = 20;
  l->current = l->unscaled = s;
  qmPlaneSet img{};
  int32_t ox, oy, w, h;
  ASSERT_EQ(BuildBorderImage(vm.d, l, s, 0xFF0000, 3, &ox, &oy, &w, &h, &img), 0u);
  ASSERT_TRUE(img.mask || img.alpha);
  auto covered = [&](int x, int y) {
    if (img.alpha) return img.alpha->memory[(oy + y) * img.alpha->bytesPerRow + ox + x] > 128;
    return GetBitmapPixel(img.mask, ox + x, oy + y, 1) != 0;
  };
  EXPECT_GE(ox, 3);
  EXPECT_GE(oy, 3);
  EXPECT_GE(w, 10 + 6);
  EXPECT_GE(h, 20 + 6);
  // In the picture's coordinates: outside the left, right, top and bottom edge, and the middle.
  EXPECT_TRUE(covered(-1, 10));
  EXPECT_TRUE(covered(10, 10));
  EXPECT_TRUE(covered(5, -1));
  EXPECT_TRUE(covered(5, 20));
  EXPECT_FALSE(covered(5, 10));
  FreeBitmap(img.bitmap), FreeMask(img.mask), FreeAlphaChannel(img.alpha);
}

}  // namespace

namespace {

// A layer drawn while a clip region is active keeps it; freeing the region leaves the layer's
// copy alive until the layer goes, and the end of the program frees both in either order.
TEST(LayerClip, ActiveRegionIsKeptByTheLayer) {
  for (const bool listedPicture : {false, true}) {
    BorderVm vm;
    if (listedPicture) {
      ASSERT_EQ(vm.Call("CreateBGPic", {5, kW, kH, double(kBackground)}).code, 0u);
      ASSERT_EQ(vm.Call("DisableLayers", {}).code, 0u);
      ASSERT_EQ(vm.Call("DisplayBGPic", {5}).code, 0u);
      ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
    }
    const int b = vm.AddSolid(20, 20, 0xFFFFFF);
    ASSERT_EQ(vm.Call("CreateClipRegion", {1, double(QMTYPE_BOX), 0, 0, 30, 30}).code, 0u);
    ASSERT_EQ(vm.Call("SetClipRegion", {1}).code, 0u);
    ASSERT_EQ(vm.Show(b, 20, 20), 0u);
    ASSERT_EQ(vm.Show(b, 25, 5), 0u);
    ASSERT_NE(vm.Layer(1)->current->clip, nullptr);
    EXPECT_EQ(vm.Layer(1)->current->clip->layerUses, 2);
    // Freed by the script while two layers clip with it: the picture keeps its shape.
    ASSERT_EQ(vm.Call("FreeClipRegion", {1}).code, 0u);
    RefreshRect(GetPlayerContext(vm.L)->scene, 0, 0, kW, kH);
    const Rect clip{0, 0, 30, 30}, first{20, 20, 20, 20}, second{25, 5, 20, 20};
    vm.ExpectScreen(
        [&](int x, int y) {
          return clip.Has(x, y) && (first.Has(x, y) || second.Has(x, y)) ? 0xFFFFFFu : kBackground;
        },
        listedPicture ? "listed picture" : "own picture");
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
    EXPECT_EQ(vm.Layer(1)->current->clip->layerUses, 1);
  }
}

// A picture of several grid cells each way (the last ones partial) with layers of every kind
// of decoration scattered over it, some reaching over cell edges and off the picture: shadows
// thrown far, borders, clip regions elsewhere than their layer, hidden layers, transparency.
struct GridScene {
  static constexpr int kGridW = 300, kGridH = 200;
  BorderVm vm{kGridW, kGridH};
  explicit GridScene(unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return lo + int(rng() % unsigned(hi - lo + 1)); };
    for (int i = 0; i < 40; i++) {
      const int w = pick(4, 70), h = pick(4, 50);
      const int b = vm.AddBrush(w, h, [i](int x, int y) {
        return (i % 3 == 1 && (x + 2 * y) % 5 == 0 ? 0u : 0xFF000000u) | uint32_t(0x0F1F2F * (i + 1) + x * 3 + y * 7);
      }, i % 3 == 1);
      EXPECT_EQ(vm.Show(b, pick(-30, kGridW), pick(-30, kGridH)), 0u);
      const double layer = i + 1;
      if (i % 4 == 0) {
        EXPECT_EQ(vm.Call("SetLayerShadow", {layer, 1, double(0x30000000u | (0x2F4F6Fu * i)), double(pick(1, 4)),
                                             double(pick(1, 90)), double(pick(0, 8))}).code, 0u);
      }
      if (i % 5 == 0) {
        EXPECT_EQ(vm.Call("SetLayerBorder", {layer, 1, double(0xFF7F00 + i), double(pick(1, 6))}).code, 0u);
      }
      qmLayer *l = vm.Layer(i + 1);
      if (!l) return;
      if (i % 7 == 3) {
        qmClipRegion *region = nullptr;
        EXPECT_EQ(NewClipRegion(pick(0, kGridW - 40), pick(0, kGridH - 40), pick(10, 120), pick(10, 90), nullptr,
                                &region), 0u);
        region->transformedCopy = 1;  // freed with the layer's state
        l->current->clip = region;
      }
      if (i % 6 == 5) l->transparency = pick(1, 254);
      if (i % 9 == 8) l->hidden = 1;
    }
  }
};

// Composing through the grid gives the very pixels of the walk over every layer, for
// rectangles inside one cell, across cell edges, over many cells and at the picture's edges.
TEST(LayerGrid, ComposesLikeTheWalkOverEveryLayer) {
  constexpr int W = GridScene::kGridW, H = GridScene::kGridH;
  for (unsigned seed : {1u, 7u, 23u}) {
    GridScene scene(seed);
    BorderVm &vm = scene.vm;
    qmLayerGrid grid;
    BuildLayerGrid(vm.d, vm.Pic(), 0, &grid);
    qmBitmap *walked = AllocBitmap(W, H), *gridded = AllocBitmap(W, H);
    ASSERT_TRUE(walked && gridded);
    struct Case {
      const char *name;
      int x, y, w, h;
    } cases[] = {
        {"inside one cell", 5, 70, 30, 40},   {"one pixel", 64, 64, 1, 1},
        {"across a column edge", 50, 10, 30, 20}, {"across four cells", 60, 120, 10, 10},
        {"a band of cells", 0, 100, W, 9},    {"the whole picture", 0, 0, W, H},
        {"last partial cell", 256, 192, 44, 8}, {"past the right and bottom", 280, 180, 90, 90},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    std::mt19937 rng(seed + 100);
    for (int k = 0; k < 60; k++)
      all.push_back({"random", int(rng() % W), int(rng() % H), 1 + int(rng() % 140), 1 + int(rng() % 100)});
    for (const Case &c : all) {
      FillBitmapRect(walked, 0, 0, W, H, 0x5A5A5A);
      FillBitmapRect(gridded, 0, 0, W, H, 0x5A5A5A);
      Redraw(GetPlayerContext(vm.L)->scene, vm.d, vm.Pic(), walked, c.x, c.y, c.w, c.h, 0);
      RedrawFromGrid(GetPlayerContext(vm.L)->scene, vm.d, &grid, gridded, c.x, c.y, c.w, c.h);
      bool same = true;
      for (int y = 0; y < H && same; y++)
        for (int x = 0; x < W && same; x++)
          if (DisplayVm::BitmapPixel(walked, x, y) != DisplayVm::BitmapPixel(gridded, x, y)) {
            ADD_FAILURE() << "seed " << seed << ", " << c.name << " " << c.x << "," << c.y << " " << c.w << "x" << c.h
                          << ": pixel (" << x << ", " << y << ") is " << std::hex
                          << DisplayVm::BitmapPixel(gridded, x, y) << ", the walk gives "
                          << DisplayVm::BitmapPixel(walked, x, y);
            same = false;
          }
    }
    FreeBitmap(walked);
    FreeBitmap(gridded);
  }
}

// A plan of many pieces over most of the picture is composed as its box once, a plan of two
// small pieces through the grid; either way every planned pixel is the walk's.
TEST(LayerGrid, PlansOfManyPiecesComposeTheirBox) {
  constexpr int W = GridScene::kGridW, H = GridScene::kGridH;
  GridScene scene(11);
  BorderVm &vm = scene.vm;
  qmScene *sc = GetPlayerContext(vm.L)->scene;
  std::vector<qmDirtyRect> pieces;
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 3; x++) pieces.push_back({x * 100 + 10, y * 50, x * 100 + 79, y * 50 + 44});
  const struct {
    const char *name;
    std::vector<qmDirtyRect> plan;
    bool box;
  } cases[] = {
      {"twelve pieces over most of the picture", pieces, true},
      {"two small pieces in opposite corners", {{2, 3, 11, 12}, {285, 185, 294, 194}}, false},
  };
  qmBitmap *walked = AllocBitmap(W, H), *planned = AllocBitmap(W, H);
  ASSERT_TRUE(walked && planned);
  Redraw(sc, vm.d, vm.Pic(), walked, 0, 0, W, H, 0);
  for (const auto &c : cases) {
    qmLayerGrid grid;
    BuildLayerGrid(vm.d, vm.Pic(), 0, &grid);
    EXPECT_EQ(PlanCostsMoreThanBox(&grid, c.plan), c.box) << c.name;
    FillBitmapRect(planned, 0, 0, W, H, 0x5A5A5A);
    RedrawPlan(sc, vm.d, vm.Pic(), planned, c.plan, 0);
    int wrong = 0;
    for (const qmDirtyRect &r : c.plan)
      for (int y = r.y1; y <= r.y2; y++)
        for (int x = r.x1; x <= r.x2; x++)
          wrong += DisplayVm::BitmapPixel(walked, x, y) != DisplayVm::BitmapPixel(planned, x, y);
    EXPECT_EQ(wrong, 0) << c.name;
  }
  FreeBitmap(walked);
  FreeBitmap(planned);
}

// A move list that takes every layer somewhere else over a picture of many cells: the window,
// refreshed as one batch through the grid, matches a full composition.
TEST(LayerGrid, MoveListOverManyCellsMatchesAFullRecomposition) {
  GridScene scene(5);
  BorderVm &vm = scene.vm;
  std::mt19937 rng(6);
  for (int step = 0; step < 4; step++) {
    // Shown (0), hidden (1) or left as it is (2) at the new place.
    for (int i = 0; i < 40; i++)
      ASSERT_EQ(vm.Call("AddMove", {1, double(QMTYPE_LAYER), double(i + 1), double(int(rng() % 340) - 30),
                                    double(int(rng() % 240) - 30), double(i % 9 == 8 ? 0 : i % 10 == 0 ? 1 : 2)})
                    .code,
                0u);
    ASSERT_EQ(vm.Call("DoMove", {1}).code, 0u);
    vm.ExpectFullRecomposition("step " + std::to_string(step));
    ASSERT_EQ(vm.Call("ClearMove", {1}).code, 0u);
  }
}

}  // namespace
