// The brush library as a script uses it: making, copying and freeing brushes, reading them
// back pixel by pixel, editing them in place and showing them on a display of the dummy
// desktop. Expected pixels come from the blend and grey formulas, never from our output.
#include <gtest/gtest.h>

#include <vector>

#include "display/brush.h"
#include "display/dirtyrects.h"
#include "display/imagecore.h"
#include "display/position.h"
#include "runtime/attributes.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "tests/display/brush/brush_vm.h"

namespace {

constexpr double kMaskType = 28, kAlphaType = 30;

// The 4x4 fixture: distinct colours, the top byte the plane value (0 in the left column).
std::vector<uint32_t> FixturePixels() {
  std::vector<uint32_t> px;
  for (uint32_t y = 0; y < 4; y++)
    for (uint32_t x = 0; x < 4; x++) {
      const uint32_t a = x == 0 ? 0 : 60 * x + 15 * y;
      px.push_back(a << 24 | (0x10 + 0x30 * x) << 16 | (0x20 + 0x30 * y) << 8 | (0x40 + 0x11 * (x + y)));
    }
  return px;
}

uint32_t Blend(uint32_t d, uint32_t s, int a) {
  uint32_t out = 0;
  for (int shift : {16, 8, 0}) {
    const int dc = (d >> shift) & 0xFF, sc = (s >> shift) & 0xFF;
    out |= uint32_t(dc + (((sc - dc) * a) >> 8)) << shift;
  }
  return out;
}

TEST(BrushLibrary, CreationCopyFreeAndTheirErrors) {
  BrushVm vm;
  ASSERT_EQ(vm.Call("CreateBrush", {1, 8, 4, 0xFF8000}).code, 0u);
  const struct {
    const char *name;
    std::function<CommandCall()> call;
    uint32_t code;
  } rows[] = {
      {"width 0", [&] { return vm.Call("CreateBrush", {2, 0, 10}); }, ERR_BADDIMENSIONS},
      {"mask and alpha", [&] { return vm.CallWith("createbrush", [&] {
         for (double v : {2.0, 10.0, 10.0, 0.0}) vm_pushnumber(vm.L, v);
         vm_newtable(vm.L);
         vm.Set("mask", 1), vm.Set("alphachannel", 1);
         return 5;
       }); }, ERR_WRONGUSAGE},
      {"options not a table", [&] { return vm.Call("CreateBrush", {2, 10, 10, 0, 5}); }, ERR_TABEXPECTED},
      {"copy onto itself", [&] { return vm.Call("CopyBrush", {1, 1}); }, ERR_WRONGUSAGE},
      {"copy of nothing", [&] { return vm.Call("CopyBrush", {99, 2}); }, ERR_FINDBRUSH},
      {"free of nothing", [&] { return vm.Call("FreeBrush", {99}); }, ERR_FINDBRUSH},
      {"attribute of nothing", [&] { return vm.Call("GetAttribute", {3, 99, ATTRWIDTH}); }, ERR_FINDBRUSH},
      {"unknown attribute", [&] { return vm.Call("GetAttribute", {3, 1, ATTRCURSORX}); }, ERR_UNKNOWNATTR},
      {"masked", [&] { return vm.CallWith("createbrush", [&] {
         for (double v : {3.0, 5.0, 5.0, double(0x00FF00)}) vm_pushnumber(vm.L, v);
         vm_newtable(vm.L);
         vm.Set("mask", 1);
         return 5;
       }); }, 0},
      {"copy replaces 3", [&] { return vm.Call("CopyBrush", {1, 3}); }, 0},
  };
  for (const auto &r : rows) EXPECT_EQ(r.call().code, r.code) << r.name;

  EXPECT_EQ(vm.Attr(1, ATTRWIDTH), 8u);
  EXPECT_EQ(vm.Attr(1, ATTRHEIGHT), 4u);
  EXPECT_EQ(vm.Attr(1, ATTRTRANSPARENTCOLOR), 0xFFFFFFFFu) << "no mask: no transparent colour";
  EXPECT_EQ(vm.Attr(1, ATTRHASMASK), 0u);
  EXPECT_EQ(vm.Attr(1, ATTRHARDWARE), 0u);
  EXPECT_EQ(vm.Attr(3, ATTRWIDTH), 8u) << "the copy replaced the masked brush 3";
  EXPECT_EQ(vm.Read(3, 7, 3), std::make_pair(double(0xFF8000), -1.0));
  EXPECT_EQ(vm.Attr(99, ATTRCOUNT), 2u) << "the count needs no brush of that id";

  // A mask made with the brush is its own; an automatic id comes back as a handle.
  ASSERT_EQ(vm.CallWith("createbrush", [&] {
    for (double v : {4.0, 5.0, 5.0, 0.0}) vm_pushnumber(vm.L, v);
    vm_newtable(vm.L);
    vm.Set("mask", 1), vm.Set("clear", 1);
    return 5;
  }).code, 0u);
  EXPECT_EQ(vm.Attr(4, ATTRTRANSPARENTCOLOR), kOwnMaskColor);
  EXPECT_EQ(vm.Read(4, 2, 2).second, 0) << "clear leaves the mask invisible";
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "createbrush");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnil(vm.L);
  vm_pushnumber(vm.L, 3);
  vm_pushnumber(vm.L, 3);
  ASSERT_EQ(vm_pcall(vm.L, 3, 1, 0), 0);
  EXPECT_EQ(vm_type(vm.L, 1), VM_TLIGHTUSERDATA);
  vm_settop(vm.L, 0);
  EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), 4u);
  EXPECT_EQ(vm.Call("FreeBrush", {1}).code, 0u);
  EXPECT_EQ(vm.Brush(1), nullptr);
}

TEST(BrushLibrary, PixelTablesRoundTripThroughEachPlane) {
  BrushVm vm;
  const std::vector<uint32_t> px = FixturePixels();
  const struct {
    const char *name;
    double type;
    int inverted;
  } rows[] = {{"alpha", kAlphaType, 0}, {"alpha inverted", kAlphaType, 1}, {"mask", kMaskType, 0},
              {"mask inverted", kMaskType, 1}, {"plain", -1, 0}};
  for (const auto &r : rows) {
    ASSERT_EQ(vm.FromArray(1, px, 4, 4, r.type, r.inverted).code, 0u) << r.name;
    const std::vector<double> back = vm.ToArray(1, r.inverted);
    ASSERT_EQ(back.size(), 16u) << r.name;
    for (size_t i = 0; i < 16; i++) {
      const uint32_t a = px[i] >> 24;
      uint32_t want = a;  // the alpha channel keeps every value
      if (r.type == kMaskType) want = (r.inverted ? 255 - a : a) ? (r.inverted ? 0 : 255) : (r.inverted ? 255 : 0);
      if (r.type == -1) want = 255;
      EXPECT_EQ(uint32_t(back[i]), want << 24 | (px[i] & 0xFFFFFF)) << r.name << " pixel " << i;
      const auto [rgb, plane] = vm.Read(1, double(i % 4), double(i / 4));
      EXPECT_EQ(uint32_t(rgb), px[i] & 0xFFFFFF) << r.name;
      double wantPlane = -1;
      if (r.type == kAlphaType) wantPlane = r.inverted ? 255 - a : a;
      if (r.type == kMaskType) wantPlane = (r.inverted ? 255 - a : a) ? 1 : 0;
      EXPECT_EQ(plane, wantPlane) << r.name << " pixel " << i;
    }
  }
  EXPECT_EQ(vm.Attr(1, ATTRHASMASK), 0u);

  // Outside the brush, and the special positions of a 1 x 1 object inside it.
  EXPECT_EQ(vm.Read(1, 4, 0), std::make_pair(4294967295.0, -1.0));
  EXPECT_EQ(vm.Read(1, 0, -1), std::make_pair(4294967295.0, -1.0));
  EXPECT_EQ(uint32_t(vm.Read(1, POS_RIGHT, POS_BOTTOM).first), px[15] & 0xFFFFFF);

  // A table one entry short leaves no brush behind; the id stays free.
  const size_t before = CountObjectsOfType(vm.L, QMTYPE_BRUSH);
  std::vector<uint32_t> shortTable(px.begin(), px.end() - 1);
  EXPECT_EQ(vm.FromArray(2, shortTable, 4, 4).code, ERR_NOTENOUGHPIXELS);
  EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), before);
  EXPECT_EQ(vm.FromArray(2, px, 0, 4).code, ERR_BADDIMENSIONS);
  EXPECT_EQ(vm.Call("RGBArrayToBrush", {2, 5, 1, 1}).code, ERR_TABEXPECTED);

  // WriteBrushPixel: colour always, the plane only when a transparency is given.
  ASSERT_EQ(vm.FromArray(3, px, 4, 4, kMaskType).code, 0u);
  ASSERT_EQ(vm.FromArray(4, px, 4, 4, kAlphaType).code, 0u);
  EXPECT_EQ(vm.Call("WriteBrushPixel", {3, 1, 1, 0xABCDEF}).code, 0u);
  EXPECT_EQ(vm.Read(3, 1, 1), std::make_pair(double(0xABCDEF), 1.0));
  EXPECT_EQ(vm.Call("WriteBrushPixel", {3, 1, 1, 0xABCDEF, 7}).code, 0u);
  EXPECT_EQ(vm.Read(3, 1, 1).second, 0);
  EXPECT_EQ(vm.Call("WriteBrushPixel", {3, 0, 0, 0x123456, 0}).code, 0u);
  EXPECT_EQ(vm.Read(3, 0, 0), std::make_pair(double(0x123456), 1.0));
  EXPECT_EQ(vm.Call("WriteBrushPixel", {4, 2, 3, 0x654321, 0x1C8}).code, 0u);
  EXPECT_EQ(vm.Read(4, 2, 3), std::make_pair(double(0x654321), double(0xC8)));
  EXPECT_EQ(vm.Call("WriteBrushPixel", {4, 9, 9, 0x654321, 3}).code, 0u) << "outside: ignored";
  EXPECT_EQ(vm.Call("WriteBrushPixel", {9, 0, 0, 0}).code, ERR_FINDBRUSH);
}

TEST(BrushLibrary, EditingCommandsOverTheFixture) {
  BrushVm vm;
  const std::vector<uint32_t> px = FixturePixels();
  auto fresh = [&](double type) { ASSERT_EQ(vm.FromArray(1, px, 4, 4, type).code, 0u); };
  auto rgb = [&](int x, int y) { return uint32_t(vm.Read(1, x, y).first); };
  auto gray = [](uint32_t c) {
    const uint32_t g = uint32_t(0.299 * ((c >> 16) & 0xFF) + 0.587 * ((c >> 8) & 0xFF) + 0.114 * (c & 0xFF));
    return g * 0x010101u;
  };

  fresh(kAlphaType);
  ASSERT_EQ(vm.Call("FlipBrush", {1, 1}).code, 0u);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) {
      const uint32_t src = px[y * 4 + 3 - x];
      EXPECT_EQ(vm.Read(1, x, y), std::make_pair(double(src & 0xFFFFFF), double(src >> 24))) << "columns swapped";
    }
  fresh(kMaskType);
  ASSERT_EQ(vm.Call("FlipBrush", {1, 0}).code, 0u);
  EXPECT_EQ(vm.Read(1, 0, 0), std::make_pair(double(px[12] & 0xFFFFFF), 0.0)) << "rows swapped, mask with them";
  EXPECT_EQ(vm.Read(1, 1, 0).second, 1.0);

  fresh(kAlphaType);
  ASSERT_EQ(vm.Call("InvertBrush", {1}).code, 0u);
  EXPECT_EQ(rgb(2, 1), ~px[6] & 0xFFFFFF);
  EXPECT_EQ(vm.Read(1, 2, 1).second, px[6] >> 24) << "the alpha channel stays";

  fresh(-1);
  ASSERT_EQ(vm.Call("BrushToGray", {1}).code, 0u);
  for (int i = 0; i < 16; i++) EXPECT_EQ(rgb(i % 4, i / 4), gray(px[i] & 0xFFFFFF)) << i;

  const struct {
    double level;
    int effective;
  } tints[] = {{300, 255}, {-1, 0}, {128, 128}};
  for (const auto &t : tints) {
    fresh(-1);
    ASSERT_EQ(vm.Call("TintBrush", {1, 0xFF0000, t.level}).code, 0u);
    EXPECT_EQ(rgb(3, 2), Blend(px[11] & 0xFFFFFF, 0xFF0000, t.effective)) << t.level;
  }
  fresh(-1);
  ASSERT_EQ(vm.Call("TintBrush", {1, 0x0000FF, CmdArg::Str("50%")}).code, 0u);
  EXPECT_EQ(rgb(0, 0), Blend(px[0] & 0xFFFFFF, 0x0000FF, 127));

  // ReplaceColors: later pairs see replaced values, the plane bytes take no part.
  fresh(kAlphaType);
  const uint32_t a = px[5] & 0xFFFFFF, b = px[6] & 0xFFFFFF;
  ASSERT_EQ(vm.CallWith("replacecolors", [&] {
    vm_pushnumber(vm.L, 1);
    vm_newtable(vm.L);
    const double pairs[] = {double(a), double(b), double(b), 0x111111, -1, 5};
    for (int i = 0; i < 6; i++) vm_pushnumber(vm.L, pairs[i]), vm_rawseti(vm.L, -2, i);
    return 2;
  }).code, 0u);
  EXPECT_EQ(rgb(1, 1), 0x111111u);
  EXPECT_EQ(rgb(2, 1), 0x111111u);
  EXPECT_EQ(rgb(3, 1), px[7] & 0xFFFFFF);
  EXPECT_EQ(vm.CallWith("replacecolors", [&] {
    vm_pushnumber(vm.L, 99);
    vm_newtable(vm.L);
    return 2;
  }).code, 0u) << "an empty list does not even look the brush up";
  EXPECT_EQ(vm.CallWith("replacecolors", [&] {
    vm_pushnumber(vm.L, 1);
    vm_newtable(vm.L);
    vm_pushnumber(vm.L, 5), vm_rawseti(vm.L, -2, 0);
    return 2;
  }).code, ERR_WRONGUSAGE) << "an old colour without its new one";

  // FloodFill stops at the border colour: a ring of border around the centre.
  ASSERT_EQ(vm.Call("CreateBrush", {5, 6, 6, 0x000000}).code, 0u);
  for (int i = 1; i < 5; i++)
    for (auto [x, y] : {std::pair{i, 1}, std::pair{i, 4}, std::pair{1, i}, std::pair{4, i}})
      ASSERT_EQ(vm.Call("WriteBrushPixel", {5, x, y, 0xFFFFFF}).code, 0u);
  ASSERT_EQ(vm.Call("FloodFill", {5, 2, 2, 0xFFFFFF, 0x00FF00}).code, 0u);
  EXPECT_EQ(vm.Read(5, 3, 3).first, 0x00FF00);
  EXPECT_EQ(vm.Read(5, 0, 0).first, 0) << "outside the ring";
  EXPECT_EQ(vm.Read(5, 4, 4).first, 0xFFFFFF);
  EXPECT_EQ(vm.Call("FloodFill", {5, 6, 0}).code, ERR_COORDSRANGE);
  EXPECT_EQ(vm.Call("FloodFill", {5, -1, 0}).code, ERR_NEGCOORDS);

  // Planes: set, invert, delete.
  fresh(-1);
  ASSERT_EQ(vm.Call("SetBrushTransparency", {1, double(px[5] & 0xFFFFFF)}).code, 0u);
  EXPECT_EQ(vm.Read(1, 1, 1).second, 0) << "the keyed colour is invisible";
  EXPECT_EQ(vm.Read(1, 2, 1).second, 1);
  EXPECT_EQ(vm.Attr(1, ATTRTRANSPARENTCOLOR), px[5] & 0xFFFFFF);
  ASSERT_EQ(vm.Call("InvertMask", {1}).code, 0u);
  EXPECT_EQ(vm.Read(1, 1, 1).second, 1);
  EXPECT_EQ(vm.Call("InvertAlphaChannel", {1}).code, ERR_WRONGUSAGE);
  ASSERT_EQ(vm.Call("SetBrushTransparency", {1, -1}).code, 0u);
  EXPECT_EQ(vm.Attr(1, ATTRHASMASK) + vm.Attr(1, ATTRHASALPHA), 0u);
  EXPECT_EQ(vm.Call("InvertMask", {1}).code, ERR_WRONGUSAGE);
  fresh(kAlphaType);
  ASSERT_EQ(vm.Call("InvertAlphaChannel", {1}).code, 0u);
  EXPECT_EQ(vm.Read(1, 3, 3).second, 255 - (px[15] >> 24));
  ASSERT_EQ(vm.Call("DeleteAlphaChannel", {1}).code, 0u);
  EXPECT_EQ(vm.Read(1, 3, 3).second, -1);
  fresh(kMaskType);
  ASSERT_EQ(vm.Call("DeleteMask", {1}).code, 0u);
  EXPECT_EQ(vm.Attr(1, ATTRTRANSPARENTCOLOR), 0xFFFFFFFFu);

  // Sizes: crop, scale, turn.
  fresh(kAlphaType);
  EXPECT_EQ(vm.Call("CropBrush", {1, 0, 0, 10, 10}).code, 0u);
  EXPECT_EQ(vm.Attr(1, ATTRWIDTH), 4u) << "cut to the brush";
  EXPECT_EQ(vm.Call("CropBrush", {1, 4, 0, 1, 1}).code, ERR_COORDSRANGE);
  EXPECT_EQ(vm.Call("CropBrush", {1, 0, 0, 0, 1}).code, ERR_BADDIMENSIONS);
  ASSERT_EQ(vm.Call("CropBrush", {1, 1, 2, 2, 2}).code, 0u);
  EXPECT_EQ(vm.Read(1, 0, 0), std::make_pair(double(px[9] & 0xFFFFFF), double(px[9] >> 24)));
  EXPECT_EQ(vm.Attr(1, ATTRWIDTH) * 100 + vm.Attr(1, ATTRHEIGHT), 202u);
  ASSERT_EQ(vm.Call("CreateBrush", {6, 40, 20}).code, 0u);
  ASSERT_EQ(vm.Call("ScaleBrush", {6, CmdArg::Str("50%"), 100000}).code, 0u);
  EXPECT_EQ(vm.Attr(6, ATTRWIDTH) * 100 + vm.Attr(6, ATTRHEIGHT), 2010u) << "half size, aspect kept";
  EXPECT_EQ(vm.Call("ScaleBrush", {6, 100000, 100000}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("ScaleBrush", {6, 0, 10}).code, ERR_BADDIMENSIONS);
  EXPECT_EQ(vm.Call("ScaleBrush", {6, 1e9, 10}).code, ERR_MEM) << "refused before anything is made";
  ASSERT_EQ(vm.Call("CreateBrush", {7, 3, 2}).code, 0u);
  ASSERT_EQ(vm.Call("RotateBrush", {7, 90}).code, 0u);
  EXPECT_EQ(vm.Attr(7, ATTRWIDTH) * 100 + vm.Attr(7, ATTRHEIGHT), 203u);
  EXPECT_EQ(vm.Call("RotateBrush", {7, 45, 0}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("TransformBrush", {7, 0, 1, 1, 0}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("TransformBrush", {7, 1e7, 0, 0, 1}).code, ERR_MEM);

  // MixBrush through the second brush's alpha, scaled by the level.
  ASSERT_EQ(vm.Call("CreateBrush", {8, 2, 2, 0x000000}).code, 0u);
  ASSERT_EQ(vm.FromArray(9, {0x80FFFFFF, 0xFFFFFFFF, 0, 0x40FF0000}, 2, 2, kAlphaType).code, 0u);
  ASSERT_EQ(vm.Call("MixBrush", {8, 9, 255}).code, 0u);
  EXPECT_EQ(vm.Read(8, 0, 0).first, Blend(0, 0xFFFFFF, 0x80));
  EXPECT_EQ(vm.Read(8, 1, 0).first, 0xFFFFFF);
  EXPECT_EQ(vm.Read(8, 0, 1).first, 0);
  EXPECT_EQ(vm.Read(8, 1, 1).first, Blend(0, 0xFF0000, 0x40));
}

TEST(BrushLibrary, TheSelectedBrushIsNeitherChangedNorFreed) {
  BrushVm vm;
  ASSERT_EQ(vm.Call("CreateBrush", {1, 8, 8, 0x0000FF}).code, 0u);
  ASSERT_EQ(vm.Call("CreateBrush", {2, 2, 2, 0xFF0000}).code, 0u);
  ASSERT_EQ(vm.Call("SelectBrush", {1}).code, 0u);
  for (const char *cmd : {"InvertBrush", "BrushToGray", "DeleteMask", "FreeBrush"})
    EXPECT_EQ(vm.Call(cmd, {1}).code, ERR_MODIFYABR) << cmd;
  EXPECT_EQ(vm.Call("WriteBrushPixel", {1, 0, 0, 0}).code, ERR_MODIFYABR);
  // Drawing another brush goes into brush 1.
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 3, 4}).code, 0u);
  EXPECT_EQ(vm.Read(1, 3, 4).first, 0xFF0000);
  EXPECT_EQ(vm.Read(1, 5, 4).first, 0x0000FF);
  // Drawing brush 1 itself ends the selection and draws on the display.
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 0, 0}).code, 0u);
  EXPECT_EQ(vm.d->outputType, uint32_t(DISPOUT_DISPLAY));
  EXPECT_EQ(vm.Background(3, 4), 0xFF0000u);
  EXPECT_EQ(vm.Background(6, 6), 0x0000FFu);
  EXPECT_EQ(vm.Call("FreeBrush", {1}).code, 0u);

  // SelectMask on a brush without one: the first drawing makes a visible mask.
  ASSERT_EQ(vm.Call("CreateBrush", {3, 4, 4}).code, 0u);
  ASSERT_EQ(vm.Call("SelectMask", {3}).code, 0u);
  ASSERT_EQ(vm.Call("SetMaskMode", {1}).code, 0u);  // MASKINVISIBLE
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 1, 1}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  EXPECT_EQ(vm.Read(3, 0, 0).second, 1);
  EXPECT_EQ(vm.Read(3, 1, 1).second, 0);
  EXPECT_EQ(vm.Read(3, 2, 2).second, 0);
  EXPECT_EQ(vm.Read(3, 3, 3).second, 1);
  EXPECT_EQ(vm.Attr(3, ATTRTRANSPARENTCOLOR), kOwnMaskColor);
}

TEST(BrushDisplay, PlanesTransparencyAndPositions) {
  BrushVm vm;
  const uint32_t bg = 0x102030;
  const std::vector<uint32_t> px = FixturePixels();
  ASSERT_EQ(vm.FromArray(1, px, 4, 4, kAlphaType).code, 0u);
  ASSERT_EQ(vm.FromArray(2, px, 4, 4, kMaskType).code, 0u);
  ASSERT_EQ(vm.FromArray(3, px, 4, 4).code, 0u);

  ASSERT_EQ(vm.Call("DisplayBrush", {1, 10, 10}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 20, 10}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {3, POS_CENTER, POS_CENTER}).code, 0u);
  ASSERT_EQ(vm.CallWith("displaybrush", [&] {
    for (double v : {3.0, 40.0, 10.0}) vm_pushnumber(vm.L, v);
    vm_newtable(vm.L);
    vm.Set("transparency", 128);
    return 4;
  }).code, 0u);
  for (int i = 0; i < 16; i++) {
    const int x = i % 4, y = i / 4;
    const uint32_t c = px[i] & 0xFFFFFF, a = px[i] >> 24;
    EXPECT_EQ(vm.Background(10 + x, 10 + y), Blend(bg, c, int(a)) & 0xFFFFFF) << "alpha " << i;
    EXPECT_EQ(vm.Background(20 + x, 10 + y), a ? c : bg) << "mask " << i;
    EXPECT_EQ(vm.Background(30 + x, 22 + y), c) << "centred " << i;
    EXPECT_EQ(vm.Background(40 + x, 10 + y), Blend(bg, c, 127)) << "transparency 128 " << i;
    EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 10 + x, 10 + y), vm.Background(10 + x, 10 + y)) << "presented " << i;
  }
  EXPECT_EQ(vm.ToArray(3).at(5), double(0xFF000000u | (px[5] & 0xFFFFFF))) << "the brush itself is unchanged";

  // A part of a brush, and its errors.
  ASSERT_EQ(vm.Call("DisplayBrushPart", {3, 2, 1, 0, 40, 10, 10}).code, 0u);
  EXPECT_EQ(vm.Background(0, 40), px[6] & 0xFFFFFF);
  EXPECT_EQ(vm.Background(1, 42), px[15] & 0xFFFFFF);
  EXPECT_EQ(vm.Background(2, 40), bg) << "cut to the brush";
  const struct {
    const char *name;
    std::vector<CmdArg> args;
    uint32_t code;
  } parts[] = {
      {"source x = width", {3, 4, 0, 0, 0, 1, 1}, ERR_COORDSRANGE},
      {"source x = -1", {3, -1, 0, 0, 0, 1, 1}, ERR_NEGCOORDS},
      {"no width", {3, 0, 0, 0, 0, 0, 1}, ERR_BADDIMENSIONS},
      {"tags not a table", {3, 0, 0, 0, 0, 1, 1, 7}, ERR_TABEXPECTED},
      {"missing", {9, 0, 0, 0, 0, 1, 1}, ERR_FINDBRUSH},
  };
  for (const auto &p : parts) EXPECT_EQ(vm.Call("DisplayBrushPart", p.args).code, p.code) << p.name;

  // Tag errors stop before anything is drawn.
  auto tagged = [&](const std::function<void()> &fill) {
    return vm.CallWith("displaybrush", [&] {
      for (double v : {3.0, 50.0, 40.0}) vm_pushnumber(vm.L, v);
      vm_newtable(vm.L);
      fill();
      return 4;
    }).code;
  };
  EXPECT_EQ(tagged([&] { vm.Set("scalex", 0); }), ERR_WRONGUSAGE);
  EXPECT_EQ(tagged([&] { vm.Set("scalex", 1e6); }), ERR_MEM) << "refused before anything is allocated";
  EXPECT_EQ(tagged([&] { vm.Set("rotate", 45), vm.Set("scaley", 1e5); }), ERR_MEM);
  EXPECT_EQ(tagged([&] { vm.Set("anchorx", 1.5); }), ERR_WRONGUSAGE);
  EXPECT_EQ(tagged([&] { vm.Set("insertpos", -1); }), ERR_INVINSERT);
  EXPECT_EQ(tagged([&] { vm.Set("shadow", 1), vm.Set("shadowradius", 0.5); }), ERR_WRONGUSAGE);
  EXPECT_EQ(tagged([&] { vm.Set("shadow", 0), vm.Set("shadowradius", 0.5), vm.Set("hidden", 1); }), 0u);
  EXPECT_EQ(tagged([&] { vm.SetText("name", std::string(256, 'n').c_str()); }), ERR_NAMETOOLONG);
  EXPECT_EQ(tagged([&] { vm.SetText("name", std::string(255, 'n').c_str()), vm.Set("hidden", 1); }), 0u);
  EXPECT_EQ(tagged([&] {
              vm_pushstring(vm.L, "hidden");
              vm_pushboolean(vm.L, 1);
              vm_settable(vm.L, -3);
            }),
            0u)
      << "switches take booleans";
  EXPECT_EQ(vm.Background(50, 40), bg) << "hidden and failed drawings leave nothing";

  // Tinted halfway to red; turned by 90 degrees about its top-left corner (anchor 0, 0), which
  // takes the top row to the left column and the picture up to rows 27 to 30.
  ASSERT_EQ(vm.CallWith("displaybrush", [&] {
    for (double v : {3.0, 0.0, 0.0}) vm_pushnumber(vm.L, v);
    vm_newtable(vm.L);
    vm.Set("tint", 128), vm.Set("tintcolor", 0xFF0000);
    return 4;
  }).code, 0u);
  ASSERT_EQ(vm.CallWith("displaybrush", [&] {
    for (double v : {3.0, 0.0, 30.0}) vm_pushnumber(vm.L, v);
    vm_newtable(vm.L);
    vm.Set("rotate", 90);
    return 4;
  }).code, 0u);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) {
      EXPECT_EQ(vm.Background(x, y), Blend(px[y * 4 + x] & 0xFFFFFF, 0xFF0000, 128)) << x << "," << y;
      EXPECT_EQ(vm.Background(x, 27 + y), px[x * 4 + 3 - y] & 0xFFFFFF) << "turned " << x << "," << y;
    }
  EXPECT_EQ(vm.Background(0, 31), bg);
  EXPECT_EQ(vm.ToArray(3).at(0), double(0xFF000000u | (px[0] & 0xFFFFFF))) << "the brush is unchanged";

  // Scaled by 2 and anchored at its centre: the 8x8 picture centred on (50, 40).
  EXPECT_EQ(tagged([&] { vm.Set("scalex", 2), vm.Set("scaley", 2), vm.Set("anchorx", 0.5), vm.Set("anchory", 0.5); }),
            0u);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) EXPECT_EQ(vm.Background(46 + x, 36 + y), px[y / 2 * 4 + x / 2] & 0xFFFFFF);
  EXPECT_EQ(vm.Background(45, 36), bg);
  EXPECT_EQ(vm.Background(54, 43), bg);
}

// A brush with an alpha channel scaled or turned by tags (anchor 0, 0) at the display's edges and
// wholly past them: every display pixel is the background blended with the source pixel that the
// placement puts there, or the background where none does.
TEST(BrushDisplay, ScaledAndTurnedBrushesAtTheEdges) {
  const uint32_t bg = 0x102030;
  const std::vector<uint32_t> px = FixturePixels();
  // Doubled: display (X, Y) shows source ((X - x) / 2, (Y - y) / 2). Turned by 90 degrees about
  // the top-left corner: the picture rises to rows y - 3 to y, (X, Y) showing source column
  // 3 - (Y - y + 3) and row X - x.
  const struct {
    const char *name;
    double scale, rotate;
    int x, y;
  } cases[] = {
      {"doubled, cut at the left and top", 2, 0, -3, -5},
      {"doubled, cut at the right and bottom", 2, 0, 59, 43},
      {"doubled, wholly past the right", 2, 0, 64, 10},
      {"doubled, wholly above", 2, 0, 10, -8},
      {"turned, cut at the left and top", 1, 90, -2, 1},
      {"turned, cut at the bottom", 1, 90, 30, 49},
      {"turned, wholly above", 1, 90, 20, -1},
      {"turned, wholly past the left", 1, 90, -4, 20},
  };
  for (const auto &c : cases) {
    BrushVm vm;
    ASSERT_EQ(vm.FromArray(1, px, 4, 4, kAlphaType).code, 0u);
    ASSERT_EQ(vm.CallWith("displaybrush", [&] {
      for (double v : {1.0, double(c.x), double(c.y)}) vm_pushnumber(vm.L, v);
      vm_newtable(vm.L);
      if (c.scale != 1) vm.Set("scalex", c.scale), vm.Set("scaley", c.scale);
      if (c.rotate != 0) vm.Set("rotate", c.rotate);
      return 4;
    }).code, 0u) << c.name;
    int differ = 0, drawn = 0;
    for (int y = 0; y < 48; y++)
      for (int x = 0; x < 64; x++) {
        int sx = -1, sy = -1;
        if (c.rotate == 0 && x >= c.x && x < c.x + 8 && y >= c.y && y < c.y + 8) sx = (x - c.x) / 2, sy = (y - c.y) / 2;
        if (c.rotate != 0 && x >= c.x && x < c.x + 4 && y > c.y - 4 && y <= c.y) sx = c.y - y, sy = x - c.x;
        uint32_t expected = bg;
        if (sx >= 0) {
          const uint32_t p = px[size_t(sy * 4 + sx)];
          expected = Blend(bg, p & 0xFFFFFF, int(p >> 24));
          drawn++;
        }
        differ += vm.Background(x, y) != expected;
      }
    EXPECT_EQ(differ, 0) << c.name << ", " << drawn << " pixels of the brush on the display";
  }
}

TEST(BrushDisplay, DoubleBufferingRecordsEveryRectangle) {
  BrushVm vm;
  ASSERT_EQ(vm.Call("CreateBrush", {1, 5, 3, 0xFFFFFF}).code, 0u);
  ASSERT_EQ(vm.Call("BeginDoubleBuffer", {}).code, 0u);
  vm.d->dirtyCount = 0;
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 7, 9}).code, 0u);
  ASSERT_EQ(vm.d->dirtyCount, 1);
  const qmDirtyRect r = vm.d->dirtyRects[0];
  EXPECT_EQ(r.x1, 7);
  EXPECT_EQ(r.y1, 9);
  EXPECT_EQ(r.x2, 11);
  EXPECT_EQ(r.y2, 11);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backBuffer2, 11, 11), 0xFFFFFFu);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backBuffer2, 12, 11), 0u);
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 11, 11), 0xFFFFFFu);
  ASSERT_EQ(vm.Call("EndDoubleBuffer", {}).code, 0u);
}

TEST(BrushLibrary, FilledBrushes) {
  BrushVm vm;
  ASSERT_EQ(vm.FromArray(1, {0x111111, 0x222222, 0x333333, 0x444444}, 2, 2).code, 0u);
  ASSERT_EQ(vm.Call("CreateTexturedBrush", {2, 1, 5, 3}).code, 0u);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 5; x++) EXPECT_EQ(vm.Read(2, x, y).first, 0x111111 * (1 + x % 2 + 2 * (y % 2))) << x << "," << y;
  EXPECT_EQ(vm.Call("CreateTexturedBrush", {1, 1, 5, 3}).code, ERR_WRONGUSAGE) << "its own texture";
  EXPECT_EQ(vm.Call("CreateTexturedBrush", {3, 9, 5, 3}).code, ERR_FINDBRUSH);
  EXPECT_EQ(vm.Call("CreateTexturedBrush", {3, 1, 0, 3}).code, ERR_BADDIMENSIONS);
  // A gradient of type 0 (angle 0) runs from the top row's start colour down to the end colour.
  ASSERT_EQ(vm.Call("CreateGradientBrush", {3, 2, 256, 0, 0x000000, 0xFF0000}).code, 0u);
  EXPECT_EQ(vm.Read(3, 1, 0).first, 0);
  EXPECT_GE(vm.Read(3, 0, 255).first, double(0xFE0000));
  EXPECT_EQ(vm.Attr(3, ATTRTRANSPARENTCOLOR), 0xFFFFFFFFu);
  EXPECT_EQ(vm.Call("CreateGradientBrush", {3, 0, 2, 0, 0, 0xFF0000}).code, ERR_BADDIMENSIONS);
}

// A clip region shaped by a brush's mask lets drawing through where the mask is set.
TEST(BrushDisplay, ClipRegionFromABrushMask) {
  BrushVm vm;
  const std::vector<uint32_t> px = FixturePixels();
  ASSERT_EQ(vm.FromArray(1, px, 4, 4, kMaskType).code, 0u);
  ASSERT_EQ(vm.Call("CreateBrush", {2, 4, 4, 0xFFFFFF}).code, 0u);
  EXPECT_EQ(vm.Call("CreateClipRegion", {1, 28, 2, 0, 0}).code, ERR_NOMASKBRUSH);
  EXPECT_EQ(vm.Call("CreateClipRegion", {1, 28, 9, 0, 0}).code, ERR_FINDBRUSH);
  ASSERT_EQ(vm.Call("CreateClipRegion", {1, 28, 1, 5, 6}).code, 0u);
  ASSERT_EQ(vm.Call("SetClipRegion", {1}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 5, 6}).code, 0u);
  for (int i = 0; i < 16; i++)
    EXPECT_EQ(vm.Background(5 + i % 4, 6 + i / 4), (px[i] >> 24) ? 0xFFFFFFu : 0x102030u) << i;
  ASSERT_EQ(vm.Call("FreeBrush", {1}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 5, 6}).code, 0u) << "the region keeps its own copy of the mask";
  EXPECT_EQ(vm.Background(5, 6), 0x102030u);
  // Scaled and turned brushes go through the region's mask too.
  ASSERT_EQ(vm.Call("CreateBrush", {3, 4, 4, 0xFF0000}).code, 0u);
  ASSERT_EQ(vm.Call("CreateBrush", {4, 8, 8, 0x00FF00}).code, 0u);
  const struct {
    const char *name;
    double id, x, y;
    const char *tag;
    double value;
    uint32_t colour;
  } drawings[] = {{"doubled", 3, 3, 4, "scalex", 2, 0xFF0000}, {"turned", 4, 3, 12, "rotate", 90, 0x00FF00}};
  for (const auto &dr : drawings) {
    ASSERT_EQ(vm.CallWith("displaybrush", [&] {
      for (double v : {dr.id, dr.x, dr.y}) vm_pushnumber(vm.L, v);
      vm_newtable(vm.L);
      vm.Set(dr.tag, dr.value);
      if (dr.id == 3) vm.Set("scaley", 2);
      return 4;
    }).code, 0u) << dr.name;
    for (int i = 0; i < 16; i++)
      EXPECT_EQ(vm.Background(5 + i % 4, 6 + i / 4), (px[i] >> 24) ? dr.colour : 0x102030u) << dr.name << " " << i;
    EXPECT_EQ(vm.Background(4, 6), 0x102030u) << dr.name << " outside the region";
  }
}

// The picture handed out instead of drawn stays the caller's: it outlives the call, and only a
// private copy asks to be freed.
TEST(BrushDisplay, PictureOutBelongsToTheCaller) {
  BrushVm vm;
  const std::vector<uint32_t> px = FixturePixels();
  ASSERT_EQ(vm.FromArray(1, px, 4, 4, kMaskType).code, 0u);
  qmBrush *brush = vm.Brush(1);
  qmImageRequest r{};
  r.kind = QMTYPE_BRUSH;
  r.id = {1, 0};
  qmPictureOut out{};
  r.pictureOut = &out;
  ASSERT_EQ(DisplayImageCore(GetPlayerContext(vm.L)->scene, &r), 0u);
  EXPECT_EQ(out.mustFree, 0);
  EXPECT_EQ(out.bitmap, brush->bitmap) << "untouched: the brush's own planes";

  qmTransform t;
  qmDisplayTags tags;
  InitDefaultDrawTags(GetPlayerContext(vm.L)->scene, &t, &tags, 0, 0, 0, 0);
  tags.transparency = 128;
  r.transform = &t;
  r.tags = &tags;
  ASSERT_EQ(DisplayImageCore(GetPlayerContext(vm.L)->scene, &r), 0u);
  ASSERT_EQ(out.mustFree, 1);
  ASSERT_NE(out.alpha, nullptr);
  EXPECT_EQ(out.mask, nullptr);
  // Read after the call: a picture freed behind the caller's back would fail under ASan here.
  EXPECT_EQ(out.alpha->memory[0], 0) << "masked out";
  EXPECT_EQ(out.alpha->memory[1], 127);
  EXPECT_EQ(vm.Background(1, 0), 0x102030u) << "nothing was drawn";
  FreeBitmap(out.bitmap);
  FreeMask(out.mask);
  FreeAlphaChannel(out.alpha);
}

// A picture inserted under existing layers must not be blitted over them.
TEST(BrushDisplay, InsertPositionInsideTheLayerList) {
  BrushVm vm;
  qmBGPic *pic = GetPlayerContext(vm.L)->scene->picture;
  ASSERT_NE(pic, nullptr);
  void *node[2] = {&pic->layers.tail, nullptr};  // one node whose successor is the end word
  void *savedHead = pic->layers.head;
  pic->layers.head = node;
  qmDisplayTags tags{};
  tags.insertPosition = 1;
  EXPECT_TRUE(InsertsBelowLayers(pic, &tags));
  tags.insertPosition = 2;
  EXPECT_FALSE(InsertsBelowLayers(pic, &tags)) << "on top";
  tags.insertPosition = 0;
  EXPECT_FALSE(InsertsBelowLayers(pic, &tags)) << "on top";
  pic->layers.head = savedHead;
}

}  // namespace
