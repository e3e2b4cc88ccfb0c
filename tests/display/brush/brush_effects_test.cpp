// The brush library's image operations as a script calls them: each effect on a small brush
// against the python reference of its formula (tests/graphics/effects_ref.py), the distortions
// against the reference mapping, the exact quarter turn, trimming, plane changes, conversions
// and the refusals that come before any change.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "graphics/blit.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "tests/display/brush/brush_vm.h"
#include "tests/graphics/effects_ref.h"

namespace {

constexpr double kMaskType = 28, kAlphaType = 30;
constexpr int kW = 9, kH = 7;

std::vector<uint32_t> Opaque(const std::vector<uint32_t> &rgb) {
  std::vector<uint32_t> out;
  for (uint32_t c : rgb) out.push_back(0xFF000000u | c);
  return out;
}

// The brush's pixels as 0xRRGGBB.
std::vector<int64_t> Rgb(BrushVm &vm, double id) {
  std::vector<int64_t> out;
  for (double v : vm.ToArray(id)) out.push_back(int64_t(v) & 0xFFFFFF);
  return out;
}

TEST(BrushEffects, EachEffectMatchesTheReference) {
  BrushVm vm;
  const std::vector<uint32_t> px = fxtest::Fixture(kW, kH, 7);
  const struct {
    const char *command;
    std::vector<CmdArg> args;  // after the brush id
    std::string reference;
  } rows[] = {
      {"BlurBrush", {2}, "blur 2 0.66666666666666663"},
      {"BlurBrush", {3, 1.5}, "blur 3 1.5"},
      {"BlurBrush", {}, "blur 0 1"},
      {"EmbossBrush", {1}, "emboss 1 1"},
      {"EdgeBrush", {1}, "edge 1 0"},
      {"SharpenBrush", {2}, "sharpen 2 1"},
      {"SolarizeBrush", {100}, "solarize 100"},
      {"SolarizeBrush", {CmdArg::Str("50%")}, "solarize 127"},
      {"ContrastBrush", {1}, "contrast 1"},
      {"ContrastBrush", {0}, "contrast -1"},
      {"ModulateBrush", {1.2, 0.5, 30}, "modulate 120 50 30"},
      {"SepiaToneBrush", {200}, "sepiatone 200"},
      {"CharcoalBrush", {1}, "charcoal 1 1"},
      {"OilPaintBrush", {1}, "oilpaint 1"},
  };
  for (const auto &r : rows) {
    ASSERT_EQ(vm.FromArray(1, Opaque(px), kW, kH).code, 0u);
    std::vector<CmdArg> args{1};
    args.insert(args.end(), r.args.begin(), r.args.end());
    ASSERT_EQ(vm.Call(r.command, args).code, 0u) << r.reference;
    const std::vector<int64_t> want = fxtest::RunReference(r.reference, kW, kH, px);
    ASSERT_EQ(want.size(), px.size()) << r.reference;
    EXPECT_EQ(Rgb(vm, 1), want) << r.reference;
  }
}

// A quit request pending while a convolution or an oil paint runs ends it before its first row
// with the user abort.
TEST(BrushEffects, AQuitEndsTheLongEffects) {
  BrushVm vm;
  const std::vector<uint32_t> px = Opaque(fxtest::Fixture(kW, kH, 7));
  for (const char *command : {"BlurBrush", "EmbossBrush", "EdgeBrush", "SharpenBrush", "CharcoalBrush", "OilPaintBrush"}) {
    ASSERT_EQ(vm.FromArray(1, px, kW, kH).code, 0u);
    const std::vector<int64_t> before = Rgb(vm, 1);
    vm_setendrequested(vm.L, 1);
    EXPECT_EQ(vm.Call(command, {1, 2}).code, uint32_t(ERR_USERABORT)) << command;
    vm_setendrequested(vm.L, 0);
    EXPECT_EQ(Rgb(vm, 1), before) << command;
  }
}

TEST(BrushEffects, BlurCarriesTheAlphaChannel) {
  BrushVm vm;
  const std::vector<uint32_t> px = fxtest::Fixture(kW, kH, 3);
  std::vector<uint32_t> argb;
  std::vector<int64_t> alpha;
  for (size_t i = 0; i < px.size(); i++) {
    const uint32_t a = (i * 37) % 256;
    argb.push_back(a << 24 | px[i]);
    alpha.push_back(a);
  }
  ASSERT_EQ(vm.FromArray(1, argb, kW, kH, kAlphaType).code, 0u);
  ASSERT_EQ(vm.Call("BlurBrush", {1, 2, 1}).code, 0u);
  const std::vector<int64_t> want = fxtest::RunReference("blur 2 1", kW, kH, px, alpha);
  ASSERT_EQ(want.size(), 2 * px.size());
  const std::vector<double> got = vm.ToArray(1);
  for (size_t i = 0; i < px.size(); i++) {
    EXPECT_EQ(int64_t(got[i]) & 0xFFFFFF, want[i]) << i;
    EXPECT_EQ(int64_t(got[i]) >> 24, want[px.size() + i]) << i;
  }
}

TEST(BrushEffects, MonochromeGivesOnlyBlackAndWhite) {
  BrushVm vm;
  const std::vector<uint32_t> px = fxtest::Fixture(kW, kH, 5);
  ASSERT_EQ(vm.FromArray(1, Opaque(px), kW, kH).code, 0u);
  ASSERT_EQ(vm.Call("BrushToMonochrome", {1, 0}).code, 0u);
  const std::vector<int64_t> got = Rgb(vm, 1);
  for (size_t i = 0; i < px.size(); i++) {
    const double grey = std::trunc(0.299 * ((px[i] >> 16) & 0xFF) + 0.587 * ((px[i] >> 8) & 0xFF) + 0.114 * (px[i] & 0xFF));
    EXPECT_EQ(got[i], grey > 128 ? 0xFFFFFF : 0) << i;
  }
  // Dithered: a dark and a light half stay dark and light, whatever order the palette takes.
  std::vector<uint32_t> halves;
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 6; x++) halves.push_back(x < 3 ? 0xFF202020u : 0xFFE0E0E0u);
  ASSERT_EQ(vm.FromArray(2, halves, 6, 4).code, 0u);
  ASSERT_EQ(vm.Call("BrushToMonochrome", {2}).code, 0u);
  EXPECT_EQ(vm.Read(2, 0, 0).first, 0);
  EXPECT_EQ(vm.Read(2, 5, 3).first, 0xFFFFFF);
}

TEST(BrushEffects, PixelateAndSwirlMoveTheMaskWithThePixels) {
  BrushVm vm;
  std::vector<uint32_t> px;
  for (int i = 0; i < 16; i++) px.push_back((i % 4 < 2 ? 0xFF000000u : 0) | uint32_t(i * 0x050505));
  ASSERT_EQ(vm.FromArray(1, px, 4, 4, kMaskType).code, 0u);
  ASSERT_EQ(vm.Call("PixelateBrush", {1, 4}).code, 0u);
  const double first = vm.Read(1, 0, 0).first;
  for (int i = 0; i < 16; i++) EXPECT_EQ(vm.Read(1, i % 4, i / 4).first, first) << "one block of one colour";
  ASSERT_EQ(vm.FromArray(1, px, 4, 4, kMaskType).code, 0u);
  ASSERT_EQ(vm.Call("SwirlBrush", {1, 0}).code, 0u);
  EXPECT_EQ(vm.ToArray(1), vm.ToArray(1));
  for (int i = 0; i < 16; i++) EXPECT_EQ(vm.Read(1, i % 4, i / 4).second, i % 4 < 2 ? 1 : 0) << "no turn, no change";
}

// Every pixel names its own place and carries an alpha byte made from it, so the result shows
// where each pixel, with its alpha, was taken from.
TEST(BrushEffects, WaterRippleMovesPixelsAndAlphaLikeTheReference) {
  BrushVm vm;
  constexpr int w = 23, h = 17;
  std::vector<uint32_t> px;
  for (uint32_t i = 0; i < w * h; i++) px.push_back((i * 13 % 255 + 1) << 24 | i);
  const struct {
    std::vector<CmdArg> args; // after the brush id
    std::string reference;    // waves, amplitude, level, centre x and y
  } rows[] = {
      {{}, "waterripple 32 1 0 0.5 0.5"},
      {{6, 2, 1}, "waterripple 6 2 1 0.5 0.5"},
      {{0, 1, 0, 0.25, 0.75}, "waterripple 0 1 0 0.25 0.75"},  // waves below 1 count as 1
      {{5, -3, 40, -2, 7}, "waterripple 5 -3 40 0 1"},        // centre clamped into the picture
      {{4, 9, 2, 0.9, 0.1}, "waterripple 4 9 2 0.9 0.1"},
  };
  for (const auto &r : rows) {
    ASSERT_EQ(vm.FromArray(1, px, w, h, kAlphaType).code, 0u);
    std::vector<CmdArg> args{1};
    args.insert(args.end(), r.args.begin(), r.args.end());
    ASSERT_EQ(vm.Call("WaterRippleBrush", args).code, 0u) << r.reference;
    const std::vector<int64_t> map = fxtest::RunReference(r.reference, w, h, {});
    ASSERT_EQ(map.size(), px.size()) << r.reference;
    const std::vector<double> got = vm.ToArray(1);
    ASSERT_EQ(got.size(), px.size());
    int moved = 0;
    for (size_t i = 0; i < px.size(); i++) {
      EXPECT_EQ(uint32_t(got[i]), px[size_t(map[i])]) << r.reference << " at " << i;
      moved += map[i] != int64_t(i);
    }
    EXPECT_GT(moved, w * h / 4) << r.reference << ": the waves should move much of the picture";
  }
  // With the centre in the top-left corner the waves have no room to die out in: nothing moves.
  ASSERT_EQ(vm.FromArray(1, px, w, h, kAlphaType).code, 0u);
  ASSERT_EQ(vm.Call("WaterRippleBrush", {1, 8, 5, 1, 0, 0}).code, 0u);
  std::vector<double> same;
  for (uint32_t p : px) same.push_back(p);
  EXPECT_EQ(vm.ToArray(1), same);
}

TEST(BrushEffects, WaterRippleMovesTheMask) {
  BrushVm vm;
  constexpr int w = 12, h = 10;
  std::vector<uint32_t> px;
  for (uint32_t i = 0; i < w * h; i++) px.push_back((i % 3 ? 0xFF000000u : 0) | i);
  ASSERT_EQ(vm.FromArray(1, px, w, h, kMaskType).code, 0u);
  ASSERT_EQ(vm.Call("WaterRippleBrush", {1, 4, 3}).code, 0u);
  const std::vector<int64_t> map = fxtest::RunReference("waterripple 4 3 0 0.5 0.5", w, h, {});
  ASSERT_EQ(map.size(), px.size());
  for (int i = 0; i < w * h; i++) {
    const auto [colour, visible] = vm.Read(1, i % w, i / w);
    EXPECT_EQ(colour, map[i]) << i;
    EXPECT_EQ(visible, map[i] % 3 ? 1 : 0) << i;
  }
}

TEST(BrushDistortions, PointSampledResultsFollowTheReferenceMapping) {
  BrushVm vm;
  constexpr int w = 12, h = 10;
  std::vector<uint32_t> px;
  for (int i = 0; i < w * h; i++) px.push_back(0xFF000000u | uint32_t(0x10000 * i + 7 * i));
  const struct {
    const char *command;
    std::vector<CmdArg> args;
    int method;
    std::vector<double> params;
  } rows[] = {
      {"PerspectiveDistortBrush", {2, 1, 13, 0, 11, 9, 0, 12}, 4,
       {0, 0, 2, 1, w, 0, 13, 0, w, h, 11, 9, 0, h, 0, 12}},
      {"ArcDistortBrush", {120, 10}, 9, {120, 10}},
      {"PolarDistortBrush", {6, 2}, 10, {6, 2}},
      {"BarrelDistortBrush", {0.1, 0, 0, 0.9}, 12, {0.1, 0, 0, 0.9}},
  };
  for (const auto &r : rows) {
    ASSERT_EQ(vm.FromArray(1, px, w, h).code, 0u);
    std::vector<CmdArg> args{1};
    args.insert(args.end(), r.args.begin(), r.args.end());
    ASSERT_EQ(vm.Call(r.command, args).code, 0u) << r.command;
    const std::vector<double> ref = fxtest::RunDistortReference(r.method, r.params, w, h);
    ASSERT_GE(ref.size(), 5u) << r.command;
    ASSERT_EQ(ref[0], 0) << r.command;
    const int rw = int(ref[1]), rh = int(ref[2]);
    ASSERT_EQ(vm.Attr(1, ATTRWIDTH), uint32_t(rw)) << r.command;
    ASSERT_EQ(vm.Attr(1, ATTRHEIGHT), uint32_t(rh)) << r.command;
    ASSERT_EQ(ref.size(), 5u + 3u * rw * rh);
    const std::vector<double> got = vm.ToArray(1);
    for (int j = 0; j < rh; j++)
      for (int i = 0; i < rw; i++) {
        const double *m = &ref[5 + 3 * (size_t(j) * rw + i)];
        const int64_t u = int64_t(std::trunc(m[0])), v = int64_t(std::trunc(m[1]));
        const bool inside = m[2] > 0 && u >= 0 && v >= 0 && u < w && v < h;
        const uint32_t want = inside ? px[size_t(v) * w + u] : 0;
        ASSERT_EQ(uint32_t(got[size_t(j) * rw + i]), want) << r.command << " at " << i << "," << j;
      }
  }
}

TEST(BrushDistortions, IdentitiesKeepThePicture) {
  BrushVm vm;
  std::vector<uint32_t> px;
  for (int i = 0; i < 30; i++) px.push_back(0xFF000000u | uint32_t(i * 0x030507));
  ASSERT_EQ(vm.FromArray(1, px, 6, 5, kAlphaType).code, 0u);
  ASSERT_EQ(vm.Call("BarrelDistortBrush", {1, 0, 0, 0, 1}).code, 0u);
  EXPECT_EQ(vm.ToArray(1), std::vector<double>(px.begin(), px.end()));
  // The identity quad: one pixel of border all round, the picture at (1, 1).
  ASSERT_EQ(vm.Call("PerspectiveDistortBrush", {1, 0, 0, 6, 0, 6, 5, 0, 5}).code, 0u);
  ASSERT_EQ(vm.Attr(1, ATTRWIDTH) * 100 + vm.Attr(1, ATTRHEIGHT), 807u);
  for (int i = 0; i < 30; i++) EXPECT_EQ(vm.Read(1, 1 + i % 6, 1 + i / 6).first, px[i] & 0xFFFFFF) << i;
  EXPECT_EQ(vm.Read(1, 0, 0).second, 0) << "the border is transparent";
}

TEST(BrushGeometry, QuarterTurnOfThreeByTwo) {
  BrushVm vm;
  // a b c
  // d e f     RotateBrush 90 turns it counter-clockwise on the screen.
  const uint32_t a = 0xA, b = 0xB, c = 0xC, d = 0xD, e = 0xE, f = 0xF;
  ASSERT_EQ(vm.FromArray(1, Opaque({a, b, c, d, e, f}), 3, 2).code, 0u);
  ASSERT_EQ(vm.Call("RotateBrush", {1, 90}).code, 0u);
  ASSERT_EQ(vm.Attr(1, ATTRWIDTH) * 100 + vm.Attr(1, ATTRHEIGHT), 203u);
  const std::vector<int64_t> want = {c, f, b, e, a, d};
  EXPECT_EQ(Rgb(vm, 1), want);
  ASSERT_EQ(vm.Call("RotateBrush", {1, -90}).code, 0u);
  EXPECT_EQ(Rgb(vm, 1), (std::vector<int64_t>{a, b, c, d, e, f})) << "and back";
}

TEST(BrushGeometry, SmoothTransformsWeighThePixelsWhereEachPixelMaps) {
  BrushVm vm;
  // Black then white, twice as wide and high: each pair starts on a source pixel, its second
  // pixel lies halfway to the next, and past the last one the edge repeats.
  ASSERT_EQ(vm.FromArray(1, Opaque({0x000000, 0xFFFFFF}), 2, 1).code, 0u);
  ASSERT_EQ(vm.Call("TransformBrush", {1, 2, 0, 0, 2, 1}).code, 0u);
  ASSERT_EQ(vm.Attr(1, ATTRWIDTH) * 100 + vm.Attr(1, ATTRHEIGHT), 402u);
  EXPECT_EQ(Rgb(vm, 1), (std::vector<int64_t>{0, 0x808080, 0xFFFFFF, 0xFFFFFF, 0, 0x808080, 0xFFFFFF, 0xFFFFFF}));
  // Without smoothing each pixel shows the source pixel under its centre.
  ASSERT_EQ(vm.FromArray(2, Opaque({0x000000, 0xFFFFFF}), 2, 1).code, 0u);
  ASSERT_EQ(vm.Call("TransformBrush", {2, 2, 0, 0, 2}).code, 0u);
  EXPECT_EQ(Rgb(vm, 2), (std::vector<int64_t>{0, 0, 0xFFFFFF, 0xFFFFFF, 0, 0, 0xFFFFFF, 0xFFFFFF}));
}

TEST(BrushGeometry, TrimAndPlaneChanges) {
  BrushVm vm;
  std::vector<uint32_t> px(5 * 4, 0x00123456);
  px[1 * 5 + 2] = 0x80AA0000, px[2 * 5 + 3] = 0xFF00BB00;
  ASSERT_EQ(vm.FromArray(1, px, 5, 4, kAlphaType).code, 0u);
  CommandCall t = vm.Call("TrimBrush", {1});
  ASSERT_EQ(t.code, 0u);
  EXPECT_EQ(t.results, (std::vector<double>{2, 1}));
  EXPECT_EQ(vm.Attr(1, ATTRWIDTH) * 100 + vm.Attr(1, ATTRHEIGHT), 202u);
  EXPECT_EQ(vm.Read(1, 0, 0), std::make_pair(double(0xAA0000), 128.0));
  EXPECT_EQ(vm.Read(1, 1, 1), std::make_pair(double(0x00BB00), 255.0));

  ASSERT_EQ(vm.Call("CreateBrush", {2, 3, 3, 0x010203}).code, 0u);
  t = vm.Call("TrimBrush", {2});
  EXPECT_EQ(t.results, (std::vector<double>{0, 0})) << "no planes: nothing to trim";
  EXPECT_EQ(vm.Attr(2, ATTRWIDTH), 3u);
  ASSERT_EQ(vm.FromArray(3, std::vector<uint32_t>(4, 0x00FFFFFF), 2, 2, kAlphaType).code, 0u);
  EXPECT_EQ(vm.Call("TrimBrush", {3}).code, ERR_TRANSBRUSH);
  EXPECT_EQ(vm.Attr(3, ATTRWIDTH), 2u);

  // Alpha to mask (anything above 0 shows), mask to alpha (255 or 0), and neither.
  ASSERT_EQ(vm.FromArray(4, {0x00000001, 0x01000002, 0xFF000003, 0x00000004}, 2, 2, kAlphaType).code, 0u);
  ASSERT_EQ(vm.Call("ChangeBrushTransparency", {4, kMaskType}).code, 0u);
  EXPECT_EQ(vm.Attr(4, ATTRHASALPHA), 0u);
  EXPECT_EQ(vm.ToArray(4), (std::vector<double>{0x00000001, 0xFF000002, 0xFF000003, 0x00000004}));
  ASSERT_EQ(vm.Call("ChangeBrushTransparency", {4, kAlphaType}).code, 0u);
  EXPECT_EQ(vm.Attr(4, ATTRHASMASK), 0u);
  EXPECT_EQ(vm.Read(4, 1, 0).second, 255);
  EXPECT_EQ(vm.Read(4, 0, 0).second, 0);
  ASSERT_EQ(vm.Call("ChangeBrushTransparency", {4, -1}).code, 0u);
  EXPECT_EQ(vm.Read(4, 0, 0).second, -1);
  ASSERT_EQ(vm.Call("ChangeBrushTransparency", {4, kMaskType}).code, 0u);
  EXPECT_EQ(vm.Read(4, 0, 0).second, 1) << "a new mask shows everything";
}

TEST(BrushConversions, BrushesAndBackgroundPicturesBecomeBrushes) {
  BrushVm vm;
  const std::vector<uint32_t> px = {0x80102030, 0xFF405060, 0x00708090, 0x10A0B0C0};
  ASSERT_EQ(vm.FromArray(1, px, 2, 2, kAlphaType).code, 0u);
  ASSERT_EQ(vm.Call("ConvertToBrush", {3, 1, 2}).code, 0u);
  EXPECT_EQ(vm.ToArray(2), vm.ToArray(1));
  ASSERT_EQ(vm.Call("GetBrushLink", {5, 3, 2}).code, 0u);
  EXPECT_EQ(vm.ToArray(5), vm.ToArray(1));
  CommandCall automatic = vm.Call("ConvertToBrush", {3, 1, CmdArg::Nil()});
  ASSERT_EQ(automatic.code, 0u);
  EXPECT_EQ(automatic.results.size(), 1u) << "a handle for an automatic id";
  ASSERT_EQ(vm.Call("CreateBGPic", {7, 4, 3, 0x336699}).code, 0u);
  ASSERT_EQ(vm.Call("ConvertToBrush", {1, 7, 8}).code, 0u);
  EXPECT_EQ(vm.Attr(8, ATTRWIDTH) * 100 + vm.Attr(8, ATTRHEIGHT), 403u);
  EXPECT_EQ(vm.Read(8, 3, 2).first, 0x336699);

  // A text object's picture, as the text library holds it.
  ASSERT_EQ(vm.Call("CreateTextObject", {9, CmdArg::Str("Hi")}).code, 0u);
  ASSERT_EQ(vm.Call("ConvertToBrush", {8, 9, 10}).code, 0u);
  qmObjectId text{9, 0};
  const qmBitmap *bitmap = nullptr;
  const qmMask *mask = nullptr, *alpha = nullptr;
  int32_t w = 0, h = 0;
  ASSERT_EQ(GetPlayerContext(vm.L)->textObjectPicture(GetPlayerContext(vm.L)->scene, &text, &bitmap, &mask, &alpha, &w, &h), 0u);
  ASSERT_GT(w * h, 0);
  EXPECT_EQ(vm.Attr(10, ATTRWIDTH) * 1000 + vm.Attr(10, ATTRHEIGHT), uint32_t(w * 1000 + h));
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) ASSERT_EQ(vm.Read(10, x, y).first, GetBitmapPixel(bitmap, x, y, 0) & 0xFFFFFF);
  EXPECT_EQ(vm.Call("ConvertToBrush", {8, 99, 11}).code, ERR_FINDTEXTOBJECT);
  EXPECT_EQ(vm.Call("ConvertToBrush", {32, 1, 11}).code, ERR_FINDSPRITE) << "no such sprite";
}

// A layer showing an anim names one of the anim's frames: a frame outside 1 to the count is
// refused; a good one gives what the layer shows.
TEST(BrushConversions, AnimLayersNameAFrame) {
  BrushVm vm;
  // Two 2x2 frames side by side: the first red, the second blue.
  ASSERT_EQ(vm.FromArray(1, Opaque({0xFF0000, 0xFF0000, 0x0000FF, 0x0000FF, 0xFF0000, 0xFF0000, 0x0000FF, 0x0000FF}),
                         4, 2)
                .code,
            0u);
  ASSERT_EQ(vm.Call("CreateAnim", {2, 1, 2, 2, 2, 2}).code, 0u);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayAnimFrame", {2, 5, 5, 1}).code, 0u);
  ASSERT_EQ(vm.Call("CreateBrush", {3, 2, 2, 0x00FF00}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {3, 20, 20}).code, 0u);
  const double layer = 22;
  struct Case {
    const char *name;
    std::vector<CmdArg> args;
    uint32_t code;
  } cases[] = {
      {"no frame", {layer, 1, 10}, ERR_ANIMFRAME},
      {"frame 0", {layer, 1, 10, 0}, ERR_ANIMFRAME},
      {"one past the count", {layer, 1, 10, 3}, ERR_ANIMFRAME},
      {"a negative frame", {layer, 1, 10, -1}, ERR_ANIMFRAME},
      {"the first frame", {layer, 1, 10, 1}, 0},
      {"the last frame", {layer, 1, 10, 2}, 0},
      {"a brush layer has no frames", {layer, 2, 11}, 0},
      {"no such layer", {layer, 3, 12}, ERR_LAYERRANGE},
  };
  for (const Case &c : cases) EXPECT_EQ(vm.Call("ConvertToBrush", c.args).code, c.code) << c.name;
  EXPECT_EQ(vm.Read(10, 1, 1).first, 0xFF0000) << "what the layer shows";
  EXPECT_EQ(vm.Read(11, 1, 1).first, 0x00FF00);
}

TEST(BrushConversions, ShadowsAndBordersAreTheBlurredShape) {
  BrushVm vm;
  // A 4x3 brush without planes: its shadow is the blurred rectangle at 255 minus the colour's
  // top byte, two pixels larger on every side.
  ASSERT_EQ(vm.Call("CreateBrush", {1, 4, 3, 0x123456}).code, 0u);
  ASSERT_EQ(vm.Call("CreateShadowBrush", {2, 1, double(0x40FF0000u), 2, 1}).code, 0u);
  ASSERT_EQ(vm.Attr(2, ATTRWIDTH) * 100 + vm.Attr(2, ATTRHEIGHT), 807u);
  std::vector<int64_t> plane(8 * 7, 0);
  for (int y = 2; y < 5; y++)
    for (int x = 2; x < 6; x++) plane[size_t(y) * 8 + x] = 255 - 0x40;
  std::vector<int64_t> want = fxtest::RunReference("blur 2 1", 8, 7, std::vector<uint32_t>(56, 0), plane);
  ASSERT_EQ(want.size(), 112u);
  std::vector<double> got = vm.ToArray(2);
  for (size_t i = 0; i < 56; i++) {
    EXPECT_EQ(uint32_t(got[i]) & 0xFFFFFF, 0xFF0000u) << i;
    EXPECT_EQ(int64_t(got[i]) >> 24, want[56 + i]) << i;
  }

  // A border of a masked brush: the shape spread by the blur, every touched byte made solid.
  std::vector<uint32_t> px(9, 0x00000000);
  px[4] = 0xFF000000;
  ASSERT_EQ(vm.FromArray(3, px, 3, 3, kMaskType).code, 0u);
  ASSERT_EQ(vm.Call("CreateBorderBrush", {4, 3, 0x00FF00, 1}).code, 0u);
  ASSERT_EQ(vm.Attr(4, ATTRWIDTH) * 100 + vm.Attr(4, ATTRHEIGHT), 505u);
  plane.assign(25, 0);
  plane[12] = 255;
  want = fxtest::RunReference("blur 1 0.33333333333333331", 5, 5, std::vector<uint32_t>(25, 0), plane);
  ASSERT_EQ(want.size(), 50u);
  got = vm.ToArray(4);
  for (size_t i = 0; i < 25; i++) EXPECT_EQ(int64_t(got[i]) >> 24, want[25 + i] ? 255 : 0) << i;

  ASSERT_EQ(vm.Call("CreateBorderBrush", {5, 1, 0x00FF00}).code, 0u);
  EXPECT_EQ(vm.Attr(5, ATTRHASALPHA), 0u) << "a border of a plain rectangle is a plain rectangle";
  EXPECT_EQ(vm.Attr(5, ATTRWIDTH), 14u);
  EXPECT_EQ(vm.Call("CreateShadowBrush", {6, 1, 0, 0}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("CreateShadowBrush", {1, 1, 0}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("CreateShadowBrush", {6, 1, 0, 20000}).code, ERR_MEM);
  EXPECT_EQ(vm.Call("CreateShadowBrush", {6, 99, 0}).code, ERR_FINDBRUSH);
}

TEST(BrushEffects, RefusalsComeBeforeAnyChange) {
  BrushVm vm;
  ASSERT_EQ(vm.Call("CreateBrush", {1, 6, 4, 0x445566}).code, 0u);
  ASSERT_EQ(vm.Call("CreateBrush", {2, 2, 2}).code, 0u);
  const struct {
    const char *command;
    std::vector<CmdArg> args;
    uint32_t code;
  } rows[] = {
      {"BlurBrush", {1, -1}, ERR_WRONGUSAGE},
      {"GammaBrush", {1, 1, CmdArg::Str("bright"), 1}, ERR_NUMEXPECTED},
      {"BarrelDistortBrush", {1, 0, 0, 0, CmdArg::Str("one")}, ERR_NUMEXPECTED},
      {"SharpenBrush", {99, 1}, ERR_FINDBRUSH},
      {"CharcoalBrush", {1, -0.5}, ERR_WRONGUSAGE},
      {"OilPaintBrush", {1, -2}, ERR_WRONGUSAGE},
      {"ContrastBrush", {1, 1, 0}, ERR_WRONGUSAGE},
      {"ModulateBrush", {1, 1, -1, 1}, ERR_WRONGUSAGE},
      {"PixelateBrush", {1, 0}, ERR_WRONGUSAGE},
      {"PixelateBrush", {1, 5}, ERR_WRONGUSAGE},
      {"PixelateBrush", {99, 0}, ERR_FINDBRUSH},
      {"RasterizeBrush", {1}, ERR_WRONGUSAGE},
      {"ChangeBrushTransparency", {1, 3}, ERR_WRONGUSAGE},
      {"ConvertToBrush", {3, 1, 1}, ERR_WRONGUSAGE},
      {"ConvertToBrush", {4, 1, 5}, ERR_FINDANIM},
      {"ConvertToBrush", {3, 99, 5}, ERR_FINDBRUSH},
      {"BarrelDistortBrush", {1, 1, 0, 0, 1, 2}, ERR_WRONGUSAGE},
      {"PolarDistortBrush", {1, 4, 2, 3}, ERR_WRONGUSAGE},
      {"ArcDistortBrush", {1, 0}, ERR_WRONGUSAGE},
      {"PerspectiveDistortBrush", {1, 0, 0, 0, 0, 0, 0, 0, 0}, ERR_WRONGUSAGE},
      {"ArcDistortBrush", {1, 90, 0, 1e9}, ERR_MEM},
      {"PerspectiveDistortBrush", {1, 0, 0, 1e9, 0, 1e9, 4, 0, 4}, ERR_MEM},
      {"RotateBrush", {1, 30, 1e8}, ERR_MEM},
      {"TransformBrush", {1, 1, 0.5, 2, 0}, ERR_WRONGUSAGE},
      {"WaterRippleBrush", {1, 32, CmdArg::Str("big")}, ERR_NUMEXPECTED},
      {"WaterRippleBrush", {1, 32, 1, 0, 0.5, CmdArg::Str("half")}, ERR_NUMEXPECTED},
      {"WaterRippleBrush", {99}, ERR_FINDBRUSH},
      {"WaterRippleBrush", {1, 32, 1, 0, 0.5, 0.5, 1}, ERR_TOOMANYARGS},
  };
  for (const auto &r : rows) {
    EXPECT_EQ(vm.Call(r.command, r.args).code, r.code) << r.command;
    EXPECT_EQ(vm.Attr(1, ATTRWIDTH) * 100 + vm.Attr(1, ATTRHEIGHT), 604u) << r.command << " changed the brush";
    EXPECT_EQ(vm.Read(1, 5, 3).first, 0x445566) << r.command;
  }
  ASSERT_EQ(vm.Call("SelectBrush", {1}).code, 0u);
  for (const char *cmd : {"EmbossBrush", "TrimBrush", "BrushToMonochrome"})
    EXPECT_EQ(vm.Call(cmd, {1}).code, ERR_MODIFYABR) << cmd;
  EXPECT_EQ(vm.Call("BarrelDistortBrush", {1, 0, 0, 0, 1}).code, ERR_MODIFYABR);
}

}  // namespace
