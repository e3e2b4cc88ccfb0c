// Layers on a display that scales them (scale mode LAYER): every layer is rendered again at the
// display's scale. The expected windows are built here from the brush pixels: each pixel of a
// brush drawn at scale k on a display of whole factor s covers a block of k * s window pixels,
// which is what nearest-neighbour scaling by a whole factor gives whatever its sampling rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "graphics/clipregion.h"
#include "layers/layer.h"
#include "layers/layerimage.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "tests/display/display_vm.h"

namespace {

constexpr int kW = 32, kH = 24;
constexpr uint32_t kBackground = 0x203040;
constexpr double kMaskType = 28;

// A brush: 0xMMRRGGBB, M 0 where the mask is clear.
struct Brush {
  int w, h;
  bool masked;
  std::vector<uint32_t> px;
};

Brush MakeBrush(int seed, int w, int h, bool masked) {
  Brush b{w, h, masked, {}};
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint32_t m = masked && (x + 2 * y + seed) % 4 == 0 ? 0 : 0xFF;
      const uint32_t r = (seed * 71 + x * 23) & 0xFF, g = (seed * 13 + y * 41) & 0xFF, bl = (x * y * 7 + seed) & 0xFF;
      b.px.push_back(m << 24 | r << 16 | g << 8 | bl);
    }
  return b;
}

struct Placed {
  int brush;
  int x, y;   // unscaled corner
  int scale;  // the layer's own whole scale (1: untransformed)
};

// The window of a picture of pw x ph at display factor s: the background, then each layer's
// pixels as blocks of scale * s, opaque where their mask is set.
std::vector<uint32_t> Compose(const std::vector<Brush> &brushes, const std::vector<Placed> &layers, int s, int pw,
                              int ph) {
  const int W = pw * s, H = ph * s;
  std::vector<uint32_t> out(size_t(W * H), kBackground);
  for (const Placed &l : layers) {
    const Brush &b = brushes[size_t(l.brush)];
    const int k = l.scale * s;
    for (int y = 0; y < b.h * k; y++)
      for (int x = 0; x < b.w * k; x++) {
        const int X = l.x * s + x, Y = l.y * s + y;
        if (X < 0 || Y < 0 || X >= W || Y >= H) continue;
        const uint32_t p = b.px[size_t((y / k) * b.w + x / k)];
        if (p >> 24) out[size_t(Y * W + X)] = p & 0xFFFFFF;
      }
  }
  return out;
}

struct ScaledVm : DisplayVm {
  qmDisplay *d = nullptr;
  std::vector<Brush> brushes;

  // A display of kW x kH shown at factor s.
  explicit ScaledVm(int s, bool smooth = false) {
    EXPECT_EQ(Create(1, [&] {
                Set("width", kW), Set("height", kH), Set("color", kBackground), Set("scalemode", 2);
                Set("scalewidth", kW * s), Set("scaleheight", kH * s);
                if (smooth) Set("smoothscale", 1);
              }).code,
              0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    d = Display(1);
  }
  void AddBrush(const Brush &b) {
    brushes.push_back(b);
    const CommandCall r = CallWith("rgbarraytobrush", [&] {
      vm_pushnumber(L, double(brushes.size()));
      vm_newtable(L);
      for (size_t i = 0; i < b.px.size(); i++) {
        vm_pushnumber(L, b.masked ? b.px[i] : b.px[i] & 0xFFFFFF);
        vm_rawseti(L, -2, int(i));
      }
      for (double v : {double(b.w), double(b.h), b.masked ? kMaskType : -1.0, 0.0}) vm_pushnumber(L, v);
      return 6;
    });
    ASSERT_EQ(r.code, 0u);
  }
  // DisplayBrush(id, x, y[, {scalex, scaley}]).
  uint32_t Show(const Placed &p) {
    return CallWith("displaybrush", [&] {
      vm_pushnumber(L, p.brush + 1);
      vm_pushnumber(L, p.x);
      vm_pushnumber(L, p.y);
      if (p.scale == 1) return 3;
      vm_newtable(L);
      Set("scalex", p.scale), Set("scaley", p.scale);
      return 4;
    }).code;
  }
  // Every window pixel of the picture against the model at factor s.
  void ExpectWindow(const std::vector<Placed> &model, int s, const std::string &what, int pw = kW, int ph = kH) {
    const std::vector<uint32_t> want = Compose(brushes, model, s, pw, ph);
    for (int y = 0; y < ph * s; y++)
      for (int x = 0; x < pw * s; x++) {
        const uint32_t got = WindowPixel(d, x, y);
        if (got != want[size_t(y * pw * s + x)]) {
          ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << std::hex << got << ", expected "
                        << want[size_t(y * pw * s + x)];
          return;
        }
      }
  }
  // A window change, as when the user sizes the window: the window first, then the display.
  uint32_t ResizeWindow(int w, int h) {
    SDL_SetWindowSize(d->platform->window, w, h);
    return ResizeDisplay(GetScene(L), d, kKeepPosition, kKeepPosition, w, h, 0, 2);
  }
};

TEST(LayerScaling, LayersAreRenderedAtTheDisplayScale) {
  ScaledVm vm(2);
  ASSERT_EQ(vm.d->scaleX, 2.0);
  ASSERT_EQ(vm.d->scaleY, 2.0);
  vm.AddBrush(MakeBrush(1, 7, 5, false));
  vm.AddBrush(MakeBrush(2, 6, 6, true));
  std::vector<Placed> model = {{0, 3, 2, 1}, {1, 12, 9, 1}, {1, 20, 4, 2}, {0, 28, 20, 1}};
  for (const Placed &p : model) ASSERT_EQ(vm.Show(p), 0u);
  vm.ExpectWindow(model, 2, "four layers at 2x");

  // Each layer keeps its unscaled state beside the one the display shows.
  qmLayer *first = FirstLayer(vm.d->bgpic);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first->current, first->unscaled);
  EXPECT_EQ(first->unscaled->x, 3);
  EXPECT_EQ(first->current->x, 6);
  EXPECT_EQ(first->current->width, 14);
  EXPECT_EQ(first->current->height, 10);
  qmLayer *turned = GetNthLayer(vm.d->bgpic, 3);
  EXPECT_EQ(turned->unscaled->width, 12) << "the layer's own scale in its unscaled state";
  EXPECT_EQ(turned->current->width, 24);

  // Moved to x = 10, the layer shows at 20.
  ASSERT_EQ(vm.Call("TranslateLayer", {1, 7, 0}).code, 0u);
  model[0].x = 10;
  EXPECT_EQ(first->current->x, 20);
  vm.ExpectWindow(model, 2, "first layer moved");
  // The transformed one moves the same way.
  ASSERT_EQ(vm.Call("TranslateLayer", {3, -5, 3}).code, 0u);
  model[2].x -= 5, model[2].y += 3;
  vm.ExpectWindow(model, 2, "transformed layer moved");
}

TEST(LayerScaling, WindowChangesRenderEveryLayerAgain) {
  ScaledVm vm(2);
  vm.AddBrush(MakeBrush(3, 5, 4, true));
  vm.AddBrush(MakeBrush(4, 9, 3, false));
  std::vector<Placed> model = {{0, 1, 1, 1}, {1, 6, 10, 2}, {0, 25, 18, 1}};
  for (const Placed &p : model) ASSERT_EQ(vm.Show(p), 0u);
  // Four, not three: the scaler steps in 16.16 fixed point, exact only for powers of two.
  ASSERT_EQ(vm.ResizeWindow(kW * 4, kH * 4), 0u);
  EXPECT_EQ(vm.d->scaleX, 4.0);
  vm.ExpectWindow(model, 4, "window at 4x");
  for (qmLayer *l = FirstLayer(vm.d->bgpic); l; l = LayerAbove(l)) {
    EXPECT_EQ(l->current->x, l->unscaled->x * 4);
    EXPECT_EQ(l->current->width, l->unscaled->width * 4);
  }
  // A layer added now comes at the new scale straight away.
  vm.AddBrush(MakeBrush(5, 4, 4, false));
  model.push_back({2, 14, 3, 1});
  ASSERT_EQ(vm.Show(model.back()), 0u);
  vm.ExpectWindow(model, 4, "layer added at 4x");
}

// With smooth scaling the display's setting reaches the layer rendering: the 2x picture is no
// longer made of 2 x 2 blocks, and every channel of it lies between the values of the source
// pixels next to the place it stands for (within one source pixel either way, whichever way a
// scaler lines up the two grids).
TEST(LayerScaling, SmoothDisplaysScaleLayersSmoothly) {
  ScaledVm vm(2, true);
  const Brush b = MakeBrush(10, 8, 6, false);
  vm.AddBrush(b);
  ASSERT_EQ(vm.Show({0, 4, 4, 1}), 0u);
  const qmLayerState *st = FirstLayer(vm.d->bgpic)->current;
  ASSERT_NE(st->transformed.bitmap, nullptr);
  ASSERT_EQ(st->width, 16);
  int notBlock = 0;
  for (int y = 0; y < 12; y++)
    for (int x = 0; x < 16; x++) {
      const uint32_t got = DisplayVm::BitmapPixel(st->transformed.bitmap, x, y);
      if (got != (b.px[size_t((y / 2) * b.w + x / 2)] & 0xFFFFFF)) notBlock++;
      for (int shift : {16, 8, 0}) {
        uint32_t lo = 255, hi = 0;
        for (int v = std::max(y / 2 - 1, 0); v <= std::min(y / 2 + 1, b.h - 1); v++)
          for (int u = std::max(x / 2 - 1, 0); u <= std::min(x / 2 + 1, b.w - 1); u++) {
            const uint32_t c = (b.px[size_t(v * b.w + u)] >> shift) & 0xFF;
            lo = std::min(lo, c), hi = std::max(hi, c);
          }
        const uint32_t c = (got >> shift) & 0xFF;
        EXPECT_TRUE(c >= lo && c <= hi) << x << "," << y << " channel " << shift;
      }
    }
  EXPECT_GT(notBlock, 0) << "the picture was scaled without smoothing";
}

// The script shrinks the picture while the window keeps its size: the factor grows and the
// layers follow; grown back to the window's size, they show unscaled.
TEST(LayerScaling, ScriptSizeChangesRescaleTheLayers) {
  ScaledVm vm(2);
  vm.AddBrush(MakeBrush(8, 3, 2, true));
  const std::vector<Placed> model = {{0, 1, 1, 1}, {0, 9, 6, 2}};
  for (const Placed &p : model) ASSERT_EQ(vm.Show(p), 0u);
  ASSERT_EQ(vm.Call("ChangeDisplaySize", {kW / 2, kH / 2}).code, 0u);
  EXPECT_EQ(vm.d->scaleX, 4.0);
  EXPECT_EQ(vm.d->width, kW * 2) << "the window keeps its size";
  vm.ExpectWindow(model, 4, "half the picture at 4x", kW / 2, kH / 2);
  ASSERT_EQ(vm.Call("ChangeDisplaySize", {kW * 2, kH * 2}).code, 0u);
  EXPECT_EQ(vm.d->scaleX, 1.0);
  for (qmLayer *l = FirstLayer(vm.d->bgpic); l; l = LayerAbove(l)) EXPECT_EQ(l->current, l->unscaled);
  vm.ExpectWindow(model, 1, "twice the picture at 1x", kW * 2, kH * 2);
}

// Back at the picture's own size the layers show their unscaled states again, the transformed
// one with its own rendering intact.
TEST(LayerScaling, ResetReturnsEveryLayerToItsUnscaledState) {
  ScaledVm vm(2);
  vm.AddBrush(MakeBrush(6, 6, 5, true));
  std::vector<Placed> model = {{0, 2, 3, 1}, {0, 15, 6, 2}};
  for (const Placed &p : model) ASSERT_EQ(vm.Show(p), 0u);
  ASSERT_EQ(vm.ResizeWindow(kW, kH), 0u);
  EXPECT_EQ(vm.d->scaleX, 1.0);
  for (qmLayer *l = FirstLayer(vm.d->bgpic); l; l = LayerAbove(l)) EXPECT_EQ(l->current, l->unscaled);
  vm.ExpectWindow(model, 1, "back at 1x");
  // And scaled once more from there.
  ASSERT_EQ(vm.ResizeWindow(kW * 2, kH * 2), 0u);
  vm.ExpectWindow(model, 2, "2x again");
  // Scaling switched off by the script.
  const CommandCall off = vm.CallWith("setdisplayattributes", [&] {
    vm_newtable(vm.L);
    vm.Set("scalemode", 0);
    return 1;
  });
  ASSERT_EQ(off.code, 0u);
  EXPECT_EQ(vm.d->scaleX, 1.0);
  for (qmLayer *l = FirstLayer(vm.d->bgpic); l; l = LayerAbove(l)) EXPECT_EQ(l->current, l->unscaled);
  vm.ExpectWindow(model, 1, "scaling off");
}

// A transformed layer whose unscaled state holds no rendering when the scale is reset is
// rendered again; when even that fails it shows nothing rather than memory never written.
TEST(LayerScaling, ResetLeavesNoPlaneUnwritten) {
  ScaledVm vm(2);
  vm.AddBrush(MakeBrush(7, 5, 5, true));
  const Placed p{0, 4, 4, 2};
  ASSERT_EQ(vm.Show(p), 0u);
  qmLayer *l = FirstLayer(vm.d->bgpic);
  ASSERT_NE(l->unscaled, l->base);
  FreeLayerStateImages(l->unscaled);
  ASSERT_EQ(vm.ResizeWindow(kW, kH), 0u);
  ASSERT_NE(l->current->transformed.bitmap, nullptr) << "rendered again";
  vm.ExpectWindow({p}, 1, "rendered again at 1x");

  // A layer whose object cannot be drawn (an anim, which this player cannot find).
  ASSERT_EQ(vm.ResizeWindow(kW * 2, kH * 2), 0u);
  FreeLayerStateImages(l->unscaled);
  const int32_t type = l->type;
  l->type = QMTYPE_ANIM;
  ResetBGPicScale(GetPlayerContext(vm.L)->scene, vm.d, vm.d->bgpic);
  l->type = type;
  const qmPlaneSet &t = l->current->transformed;
  ASSERT_NE(t.bitmap, nullptr);
  ASSERT_NE(t.mask, nullptr);
  for (int y = 0; y < l->current->height; y++) {
    for (int x = 0; x < l->current->width; x++) EXPECT_EQ(DisplayVm::BitmapPixel(t.bitmap, x, y), 0u);
    for (int i = 0; i < t.mask->bytesPerRow; i++) EXPECT_EQ(t.mask->memory[y * t.mask->bytesPerRow + i], 0);
  }
}

// Rendered states cut by a clip region keep copies of their own: the region counts the layer
// once, so when the script frees it and the layers go, it goes with the last of them.
TEST(LayerScaling, RenderedStatesHoldTheirOwnClipRegions) {
  for (int s : {1, 2}) {
    ScaledVm vm(s);
    vm.AddBrush(MakeBrush(9, 6, 4, false));
    ASSERT_EQ(vm.Call("CreateClipRegion", {1, double(QMTYPE_BOX), 0, 0, 14, 12}).code, 0u);
    ASSERT_EQ(vm.Call("SetClipRegion", {1}).code, 0u);
    ASSERT_EQ(vm.Show({0, 2, 2, 2}), 0u);  // a transformed layer: an unscaled state of its own
    ASSERT_EQ(vm.Show({0, 8, 6, 1}), 0u);
    qmLayer *l = FirstLayer(vm.d->bgpic);
    ASSERT_NE(l->unscaled, l->base);
    const qmClipRegion *region = l->base->clip;
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(region->layerUses, 2);
    for (const qmLayerState *st : {l->unscaled, l->current}) {
      ASSERT_NE(st->clip, nullptr);
      EXPECT_EQ(st->clip->transformedCopy, 1);
    }
    // The region goes with the layer's own scale of 2, then with the display's.
    EXPECT_EQ(l->current->clip->x, 0);
    EXPECT_EQ(l->current->clip->width, 28 * s);
    EXPECT_EQ(l->current->clip->height, 24 * s);
    ASSERT_EQ(vm.Call("SetClipRegion", {0}).code, 0u);
    ASSERT_EQ(vm.Call("FreeClipRegion", {1}).code, 0u);
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
    EXPECT_EQ(FirstLayer(vm.d->bgpic)->base->clip->layerUses, 1) << "s " << s;
    ASSERT_EQ(vm.Call("RemoveLayer", {1}).code, 0u);
  }
}

TEST(LayerScaling, LayersCannotBeDisabledWhileTheDisplayScalesThem) {
  ScaledVm vm(2);
  EXPECT_EQ(vm.Call("DisableLayers", {}).code, ERR_NODISLAYERS);
  EXPECT_EQ(vm.d->layersOn, 1u);
  // Without layer scaling they can.
  ASSERT_EQ(vm.CallWith("setdisplayattributes", [&] {
    vm_newtable(vm.L);
    vm.Set("scalemode", 0);
    return 1;
  }).code, 0u);
  EXPECT_EQ(vm.Call("DisableLayers", {}).code, 0u);
  EXPECT_EQ(vm.d->layersOn, 0u);
}

// Text in a scalable font on a display that scales layers: the display's state is the text set
// again at twice the size, not the unscaled picture enlarged into 2 x 2 blocks.
TEST(LayerScaling, TextLayersAreSetAgainAtTheDisplayScale) {
  ScaledVm vm(2);
  ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), 12}).code, 0u);
  ASSERT_EQ(vm.Call("SetFontStyle", {16}).code, 0u);
  ASSERT_EQ(vm.Call("TextOut", {2, 2, CmdArg::Str("Ag")}).code, 0u);
  const qmLayer *layer = FirstLayer(vm.d->bgpic);
  ASSERT_NE(layer, nullptr);
  const qmLayerState *u = layer->unscaled, *c = layer->current;
  ASSERT_NE(c, u);
  const qmAlphaChannel *a = c->transformed.alpha;
  ASSERT_NE(a, nullptr);
  EXPECT_NEAR(c->width, 2 * u->width, 2);
  EXPECT_NEAR(c->height, 2 * u->height, 2);
  int fewest = 1 << 30;
  for (int py = 0; py < 2; py++)
    for (int px = 0; px < 2; px++) {
      int mixed = 0;
      for (int y = py; y + 1 < c->height; y += 2)
        for (int x = px; x + 1 < c->width; x += 2) {
          auto at = [&](int i, int j) { return a->memory[size_t(j * a->bytesPerRow + i)]; };
          const uint8_t v = at(x, y);
          mixed += at(x + 1, y) != v || at(x, y + 1) != v || at(x + 1, y + 1) != v;
        }
      fewest = std::min(fewest, mixed);
    }
  EXPECT_GT(fewest, 10);
}

}  // namespace

// A shape layer is drawn again at the display's scale: a filled box of w x h at (x, y) covers
// the window's rectangle of 2w x 2h at (2x, 2y) exactly, with sharp edges.
TEST(LayerScaling, ShapeLayersAreDrawnAgainAtTheDisplayScale) {
  ScaledVm vm(2);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {4, 3, 6, 5, 0xFF8000}).code, 0u);
  qmLayer *box = FirstLayer(vm.d->bgpic);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->type, QMTYPE_BOX);
  for (int y = 0; y < kH * 2; y++)
    for (int x = 0; x < kW * 2; x++) {
      const bool inside = x >= 8 && x < 20 && y >= 6 && y < 16;
      ASSERT_EQ(vm.WindowPixel(vm.d, x, y), inside ? 0xFF8000u : kBackground) << "pixel (" << x << ", " << y << ")";
    }
}
