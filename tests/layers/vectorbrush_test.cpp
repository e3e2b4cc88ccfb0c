// Layers of vector brushes: scaled or turned, the picture is drawn anew by the image plug-in
// through the layer's matrix, not made from the pixels the brush has. The plug-in here draws a
// disc given by a formula, so the expected pixels come from the formula.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "display/brush.h"
#include "display/displaytags.h"
#include "display/imagecore.h"
#include "media/image/pluginimage.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "tests/layers/layers_vm.h"

namespace {

using namespace layertest;

// The picture as loaded: 8 x 8, red inside a disc about (3, 5) of radius 2.7, blue around it.
constexpr int kSide = 8;
constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;
uint32_t DiscAt(double u, double v) {
  const double dx = u - 3, dy = v - 5;
  return dx * dx + dy * dy < 2.7 * 2.7 ? kRed : kBlue;
}

struct DiscPlugin {
  int transforms = 0, frees = 0;
  double last[6] = {};
};
DiscPlugin gDisc;

// Each pixel's centre taken back through {a, b, c, d, tx, ty}; outside the picture nothing.
uint32_t DrawDisc(const qmPluginDecoder *, const double values[6], int32_t width, int32_t height, uint32_t **pixels) {
  gDisc.transforms++;
  std::copy(values, values + 6, gDisc.last);
  auto *out = static_cast<uint32_t *>(MemAlloc(uint32_t(width) * uint32_t(height) * 4, 0));
  if (!out) return ERR_MEM;
  const double a = values[0], b = values[1], c = values[2], d = values[3], det = a * d - b * c;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const double X = x + 0.5 - values[4], Y = y + 0.5 - values[5];
      const double u = (d * X - c * Y) / det, v = (-b * X + a * Y) / det;
      const bool inside = u >= 0 && v >= 0 && u < kSide && v < kSide;
      out[size_t(y) * width + x] = inside ? 0xFF000000u | DiscAt(u, v) : 0;
    }
  *pixels = out;
  return 0;
}
void FreeDisc(const qmPluginDecoder *) { gDisc.frees++; }

// Outlives every VM: the brushes hand their source back to it when the VM closes.
qmFormatPlugins DiscPlugins() {
  qmFormatPlugins p{};
  p.transformImage = DrawDisc;
  p.freeImage = FreeDisc;
  return p;
}
const qmFormatPlugins gPlugins = DiscPlugins();

struct VectorBrushVm : LayersVm {
  VectorBrushVm() {
    gDisc = {};
    // Brush 1: the picture as loaded, made a vector brush of the plug-in's disc.
    Picture p{kSide, kSide, OPAQUE, {}};
    for (int y = 0; y < kSide; y++)
      for (int x = 0; x < kSide; x++) p.px.push_back(0xFF000000u | DiscAt(x + 0.5, y + 0.5));
    AddBrush(p);
    qmBrush *b = nullptr;
    const qmObjectId one{1, 0};
    EXPECT_EQ(FindBrush(ObjectRegistryOf(L), &one, &b, 0), 0u);
    b->kind = BRUSHKIND_VECTOR;
    b->sourceImage = NewPluginImage(&gPlugins, {nullptr, nullptr}, kSide, kSide, 0);
  }
  uint32_t Style(const std::function<void()> &fill) {
    return CallWith("setlayerstyle", [&] {
      vm_pushnumber(L, 1);
      vm_newtable(L);
      fill();
      return 2;
    }).code;
  }
  std::vector<uint32_t> Screen() {
    std::vector<uint32_t> s;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) s.push_back(WindowPixel(d, x, y));
    return s;
  }
};

TEST(VectorBrushLayers, ScaledOrTurnedTheyAreDrawnAnewByThePlugin) {
  VectorBrushVm vm;
  ASSERT_EQ(vm.Show(0, 4, 24), 0u);
  EXPECT_EQ(gDisc.transforms, 0) << "shown as it is, the brush's own pixels";
  ASSERT_EQ(vm.Style([&] { vm.Set("scalex", 3), vm.Set("scaley", 3); }), 0u);
  EXPECT_EQ(gDisc.transforms, 1);
  // Every pixel of the 24 x 24 layer is the disc at its centre taken back to the picture; the
  // 8 x 8 pixels enlarged would put blocks of three where the disc's edge runs.
  const std::vector<uint32_t> scaled = vm.Screen();
  int wrong = 0;
  for (int y = 0; y < 3 * kSide; y++)
    for (int x = 0; x < 3 * kSide; x++)
      wrong += scaled[size_t((24 + y) * kW + 4 + x)] != DiscAt((x + 0.5) / 3, (y + 0.5) / 3);
  EXPECT_EQ(wrong, 0);
  // A quarter turn as well: the scaled disc turned, drawn by the plug-in under a turning matrix.
  ASSERT_EQ(vm.Style([&] { vm.Set("scalex", 3), vm.Set("scaley", 3), vm.Set("rotate", 90); }), 0u);
  EXPECT_EQ(gDisc.transforms, 2);
  EXPECT_NE(gDisc.last[1], 0.0);
  EXPECT_NE(gDisc.last[2], 0.0);
  const std::vector<uint32_t> turned = vm.Screen();
  // The turned square's corner: the first pixel of the plug-in's picture on the screen.
  int tx = kW, ty = kH;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++)
      if (turned[size_t(y * kW + x)] != kBackground) tx = std::min(tx, x), ty = std::min(ty, y);
  ASSERT_LE(tx + 3 * kSide, kW);
  ASSERT_LE(ty + 3 * kSide, kH);
  // Turned counter-clockwise on the screen: (x, y) of the turned shows (n - 1 - y, x) of the scaled.
  const int n = 3 * kSide;
  wrong = 0;
  for (int y = 0; y < n; y++)
    for (int x = 0; x < n; x++)
      wrong += turned[size_t((ty + y) * kW + tx + x)] != scaled[size_t((24 + x) * kW + 4 + n - 1 - y)];
  EXPECT_LE(wrong, 2) << "a pixel centre on the disc's edge may fall either way";
  // Drawn into with SelectLayer the layer keeps its pixels: scaled, they are doubled.
  ASSERT_EQ(vm.Style([&] { vm.Set("scalex", 1), vm.Set("scaley", 1), vm.Set("rotate", 0); }), 0u);
  ASSERT_EQ(vm.Call("SelectLayer", {1}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  const int before = gDisc.transforms;
  ASSERT_EQ(vm.Style([&] { vm.Set("scalex", 2), vm.Set("scaley", 2); }), 0u);
  EXPECT_EQ(gDisc.transforms, before);
  const std::vector<uint32_t> doubled = vm.Screen();
  wrong = 0;
  for (int y = 0; y < 2 * kSide; y++)
    for (int x = 0; x < 2 * kSide; x++)
      wrong += doubled[size_t((24 + y) * kW + 4 + x)] != DiscAt(x / 2 + 0.5, y / 2 + 0.5);
  EXPECT_EQ(wrong, 0);
  // The turning of pictures itself still refuses vector pictures.
  const double quarter[4] = {0, 1, -1, 0};
  qmTransformedImage t{};
  EXPECT_EQ(TransformImageBitmaps(vm.d, TFKIND_VECTOR, nullptr, nullptr, nullptr, 0, 0, 0, 0, 8, 8, 0, 0, quarter, 0,
                                  &t),
            uint32_t(ERR_BRUSHTYPE));
}

}  // namespace
