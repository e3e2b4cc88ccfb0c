// Background pictures made from files and brushes, brushes made from them, their parts drawn
// on the display, and displays filled with a brush texture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/attributes.h"
#include "runtime/errcodes.h"
#include "tests/display/display_vm.h"
#include "tests/platform/tempdir.h"

namespace {

struct BGPicBrushVm : DisplayVm {
  qmDisplay *d = nullptr;
  BGPicBrushVm() {
    EXPECT_EQ(Create(1, [&] { Set("width", 32), Set("height", 24), Set("color", 0x102030); }).code, 0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    d = Display(1);
    // Brush 1: 2 x 2 with a mask hiding the top-left pixel.
    EXPECT_EQ(CallWith("rgbarraytobrush", [&] {
      vm_pushnumber(L, 1);
      vm_newtable(L);
      const double px[] = {0x00111111, 0xFF222222, 0xFF333333, 0xFF444444};
      for (int i = 0; i < 4; i++) vm_pushnumber(L, px[i]), vm_rawseti(L, -2, i);
      for (double v : {2.0, 2.0, 28.0}) vm_pushnumber(L, v);
      return 5;
    }).code, 0u);
  }
  double Pixel(double brush, double x, double y) { return Call("ReadBrushPixel", {brush, x, y}).results.at(0); }
  double Plane(double brush, double x, double y) { return Call("ReadBrushPixel", {brush, x, y}).results.at(1); }
  CommandCall LoadWith(double id, const std::string &file, const std::function<void()> &fill) {
    return CallWith("loadbgpic", [&] {
      vm_pushnumber(L, id);
      vm_pushstring(L, file.c_str());
      vm_newtable(L);
      fill();
      return 3;
    });
  }
};

TEST(BGPicBrush, ConversionsKeepEveryPlane) {
  BGPicBrushVm vm;
  ASSERT_EQ(vm.Call("BrushToBGPic", {1, 5}).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {1, 5, ATTRHASMASK}).results.at(0), 1);
  EXPECT_EQ(vm.Call("GetAttribute", {1, 5, ATTRTRANSPARENTCOLOR}).results.at(0), 0x9DC0DE);
  ASSERT_EQ(vm.Call("BGPicToBrush", {5, 2}).code, 0u);
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(vm.Pixel(2, i % 2, i / 2), vm.Pixel(1, i % 2, i / 2)) << i;
    EXPECT_EQ(vm.Plane(2, i % 2, i / 2), i ? 1 : 0) << i;
  }
  EXPECT_EQ(vm.Call("BrushToBGPic", {9, 6}).code, ERR_FINDBRUSH);
  EXPECT_EQ(vm.Call("BGPicToBrush", {9, 6}).code, ERR_FINDBGPIC);

  // A textured picture tiles the brush's colours (its mask takes no part).
  ASSERT_EQ(vm.Call("CreateTexturedBGPic", {6, 1, 5, 3}).code, 0u);
  ASSERT_EQ(vm.Call("BGPicToBrush", {6, 3}).code, 0u);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 5; x++) EXPECT_EQ(vm.Pixel(3, x, y), 0x111111 * (1 + x % 2 + 2 * (y % 2))) << x << "," << y;
  EXPECT_EQ(vm.Call("CreateTexturedBGPic", {7, 9, 5, 3}).code, ERR_FINDBRUSH);
  EXPECT_EQ(vm.Call("CreateTexturedBGPic", {7, 1, 0, 3}).code, ERR_BADDIMENSIONS);

  // Parts of a picture on the display; -1 places the part where it lies in the picture.
  ASSERT_EQ(vm.Call("DisplayBGPicPart", {6, 1, 1, 2, 2, 10, 10}).code, 0u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 10, 10), 0x444444u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 11, 11), 0x111111u);
  ASSERT_EQ(vm.Call("DisplayBGPicPart", {6, 2, 1, 1, 1}).code, 0u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 2, 1), 0x333333u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 3, 1), 0x102030u);
  EXPECT_EQ(vm.Call("DisplayBGPicPart", {6, 5, 0, 1, 1}).code, ERR_COORDSRANGE);
  EXPECT_EQ(vm.Call("DisplayBGPicPart", {6, -1, 0, 1, 1}).code, ERR_NEGCOORDS);
  EXPECT_EQ(vm.Call("DisplayBGPicPart", {9, 0, 0, 1, 1}).code, ERR_FINDBGPIC);
}

TEST(BGPicBrush, DisplayFilledWithABrushTexture) {
  BGPicBrushVm vm;
  ASSERT_EQ(vm.Create(2, [&] { vm.Set("width", 8), vm.Set("height", 8), vm.Set("fillstyle", 3),
                                 vm.Set("texturebrush", 1); }).code, 0u);
  ASSERT_EQ(vm.Call("GetAttribute", {21, 2, ATTRBGPIC}).code, 0u);
  EXPECT_EQ(vm.Create(3, [&] { vm.Set("width", 8), vm.Set("height", 8), vm.Set("fillstyle", 3),
                                 vm.Set("texturebrush", 9); }).code, ERR_FINDBRUSH);
  qmDisplay *d2 = DisplayVm::Display(2);
  ASSERT_NE(d2, nullptr);
  qmBGPic *pic = d2->bgpic;
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(DisplayVm::BitmapPixel(pic->master.bitmap, 3, 2), 0x222222u);
  EXPECT_EQ(DisplayVm::BitmapPixel(pic->master.bitmap, 7, 7), 0x444444u);
}

TEST(BGPicBrush, PicturesFromFiles) {
  BGPicBrushVm vm;
  TempDir dir;
  ASSERT_EQ(std::system(("/usr/bin/python3 " QM_SOURCE_DIR "/tests/display/brush/brush_pictures.py make " + dir.path())
                            .c_str()),
            0);
  // Loaded with its alpha: the same picture as the brush loader makes.
  ASSERT_EQ(vm.LoadWith(7, dir / "rgba.png", [&] { vm.Set("loadalpha", 1); }).code, 0u);
  ASSERT_EQ(vm.Call("BGPicToBrush", {7, 4}).code, 0u);
  ASSERT_EQ(vm.CallWith("loadbrush", [&] {
    vm_pushnumber(vm.L, 5);
    vm_pushstring(vm.L, (dir / "rgba.png").c_str());
    vm_newtable(vm.L);
    vm.Set("loadalpha", 1);
    return 3;
  }).code, 0u);
  for (int i = 0; i < 100 * 50; i += 37) {
    const auto a = vm.Call("ReadBrushPixel", {4, i % 100, i / 100}).results;
    const auto b = vm.Call("ReadBrushPixel", {5, i % 100, i / 100}).results;
    EXPECT_EQ(a, b) << i;
  }
  // Keyed green over a red fill: the picture keeps no mask, green became red.
  ASSERT_EQ(vm.LoadWith(8, dir / "rgb.bmp", [&] {
    vm.Set("transparency", 0x00FF00), vm.Set("fillstyle", 1), vm.Set("fillcolor", 0xFF0000);
  }).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {1, 8, ATTRHASMASK}).results.at(0), 0);
  ASSERT_EQ(vm.Call("BGPicToBrush", {8, 6}).code, 0u);
  EXPECT_EQ(vm.Pixel(6, 0, 0), 0xFF0000) << "(0, 0) of rgb.bmp is pure green";
  EXPECT_EQ(vm.Pixel(6, 4, 0), double((4 * 6) << 16 | 77)) << "(4, 0) is its own colour";

  EXPECT_EQ(vm.LoadWith(9, dir / "rgb.bmp", [&] { vm.Set("fillstyle", 7); }).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.LoadWith(9, dir / "rgb.bmp", [&] { vm.Set("loadalpha", 1), vm.Set("transparency", 5); }).code,
            ERR_MASKNALPHA);
  EXPECT_EQ(vm.LoadWith(9, dir / "rgb.bmp", [&] { vm.Set("loadalpha", 1); }).code, ERR_NOALPHA);
  EXPECT_EQ(vm.Call("LoadBGPic", {9, CmdArg::Str((dir / "rgb.bmp").c_str()), 0, 5}).code, ERR_TABEXPECTED);
  EXPECT_EQ(vm.Call("LoadBGPic", {9, CmdArg::Str((dir / "none.png").c_str())}).code, ERR_READFILE);
}

}  // namespace
