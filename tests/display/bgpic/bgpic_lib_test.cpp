// Background pictures, output selection and double buffering as a script uses them.
#include <gtest/gtest.h>

#include <algorithm>

#include "display/dirtyrects.h"
#include "display/doublebuffer.h"
#include "display/displaywindow.h"
#include "graphics/blit.h"
#include "display/outputselect.h"
#include "runtime/attributes.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "tests/display/display_vm.h"

namespace {

struct PictureVm : DisplayVm {
  qmDisplay *d = nullptr;
  PictureVm() {
    EXPECT_EQ(Create(1, [&] { Set("width", 64), Set("height", 48), Set("color", 0x102030); }).code, 0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    d = Display(1);
    EXPECT_EQ(Call("CreateBGPic", {5, 16, 8, 0xFF0000}).code, 0u);
    EXPECT_EQ(Call("CreateBGPic", {6, 10, 10, 0x00FF00}).code, 0u);
  }
  qmBGPic *Picture(uint32_t id) {
    qmObjectId oid{id, 0};
    qmBGPic *p = nullptr;
    return FindBGPic(ObjectRegistryOf(L), &oid, &p, 0) == 0 ? p : nullptr;
  }
  // CreateGradientBGPic(id, RADIAL, start, end, w, h, 0, {colors = pairs...}).
  CommandCall Gradient(double id, int pairs) {
    return CallWith("creategradientbgpic", [&] {
      for (double v : {id, 3.0, 0.0, 255.0, 32.0, 16.0, 0.0}) vm_pushnumber(L, v);
      vm_newtable(L);
      vm_pushstring(L, "colors");
      vm_newtable(L);
      for (int i = 0; i < pairs; i++) {
        vm_pushnumber(L, i * 0x010101);
        vm_rawseti(L, -2, 2 * i);
        vm_pushnumber(L, i / 100.0);
        vm_rawseti(L, -2, 2 * i + 1);
      }
      vm_settable(L, -3);
      return 8;
    });
  }
};

TEST(BGPicLibrary, CreationErrorsAndStops) {
  PictureVm vm;
  const struct {
    const char *name;
    std::function<CommandCall()> call;
    uint32_t code;
  } rows[] = {
      {"CreateBGPic width 0", [&] { return vm.Call("CreateBGPic", {7, 0, 5}); }, ERR_WRONGUSAGE},
      {"gradient width 0", [&] { return vm.Call("CreateGradientBGPic", {7, 2, 0, 255, 0, 5}); }, ERR_BADDIMENSIONS},
      {"gradient of one pair", [&] { return vm.Gradient(7, 1); }, ERR_WRONGUSAGE},
      {"gradient of 64 pairs", [&] { return vm.Gradient(7, 64); }, 0},
      {"gradient of 65 pairs", [&] { return vm.Gradient(8, 65); }, ERR_INTERNAL},
      {"copy onto itself", [&] { return vm.Call("CopyBGPic", {5, 5}); }, ERR_WRONGUSAGE},
      {"copy of nothing", [&] { return vm.Call("CopyBGPic", {99, 9}); }, ERR_FINDBGPIC},
      {"show 6", [&] { return vm.Call("DisplayBGPic", {6}); }, 0},
      {"scale of the shown one", [&] { return vm.Call("ScaleBGPic", {6, 10, 10}); }, ERR_SCALEBGPIC},
      {"free of nothing", [&] { return vm.Call("FreeBGPic", {99}); }, ERR_FINDBGPIC},
  };
  for (const auto &r : rows) EXPECT_EQ(r.call().code, r.code) << r.name;
  EXPECT_EQ(vm.Picture(8), nullptr);
  EXPECT_EQ(vm.Picture(7)->fill.gradient.colorCount, 64u);
  EXPECT_EQ(vm.Call("GetAttribute", {1, 7, ATTRTYPE}).results.at(0), 1) << "a gradient renders at any size";
  EXPECT_EQ(vm.Call("GetAttribute", {1, 5, ATTRWIDTH}).results.at(0), 16);
  EXPECT_EQ(vm.Call("GetAttribute", {1, 0, ATTRCOUNT}).results.at(0), 4) << "display 1's own, 5, 6 and 7";
}

TEST(BGPicLibrary, ScalingKeepsTheMaster) {
  PictureVm vm;
  ASSERT_EQ(vm.Call("CopyBGPic", {5, 9}).code, 0u);
  ASSERT_EQ(vm.Call("ScaleBGPic", {9, CmdArg::Str("50%"), CmdArg::Str("50%")}).code, 0u);
  qmBGPic *p = vm.Picture(9);
  EXPECT_EQ(p->unscaledWidth, 8);
  EXPECT_EQ(p->unscaledHeight, 4);
  EXPECT_EQ(p->masterWidth, 16);
  ASSERT_EQ(vm.Call("ScaleBGPic", {9, 16, 8}).code, 0u);
  EXPECT_EQ(p->unscaled.bitmap, p->master.bitmap) << "back at the master's size: the master itself";
  EXPECT_EQ(DisplayVm::BitmapPixel(p->unscaled.bitmap, 15, 7), 0xFF0000u);
}

TEST(BGPicLibrary, FreeingTheShownPictureFlagsIt) {
  PictureVm vm;
  ASSERT_EQ(vm.Call("DisplayBGPic", {6}).code, 0u);
  EXPECT_EQ(vm.d->bgpic, vm.Picture(6));
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 3, 3), 0x00FF00u);
  qmBGPic *six = vm.d->bgpic;
  ASSERT_EQ(vm.Call("FreeBGPic", {6}).code, 0u);
  EXPECT_EQ(vm.Picture(6), nullptr) << "no longer found by its number";
  EXPECT_EQ(vm.Call("FreeBGPic", {6}).code, ERR_FINDBGPIC);
  EXPECT_EQ(vm.d->bgpic, six);
  EXPECT_EQ(six->deleted, 1u);
  EXPECT_EQ(vm.Call("CreateBGPic", {6, 4, 4}).code, 0u) << "the number is free again";
  ASSERT_EQ(vm.Call("DisplayBGPic", {5}).code, 0u);
  EXPECT_EQ(vm.d->width, 16);
  EXPECT_EQ(DisplayVm::WindowPixel(vm.d, 15, 7), 0xFF0000u);
}

TEST(OutputSelection, StateTable) {
  PictureVm vm;
  qmDisplay *d = vm.d;
  d->cursorX = 7;
  d->textMarginRight = 63;
  // Select, prepare, EndSelect: the mask is made fully visible and the state comes back.
  ASSERT_EQ(vm.Call("SelectMask", {5, 1}).code, 0u);
  EXPECT_EQ(d->outputType, DISPOUT_MASK);
  EXPECT_EQ(GetPlayerContext(vm.L)->scene->picture, d->selectBGPic);
  EXPECT_EQ(d->cursorX, 0);
  EXPECT_EQ(d->textMarginRight, 15) << "the target's right edge";
  EXPECT_EQ(vm.Call("SelectMask", {5, 1}).code, 0u) << "the same selection again changes nothing";
  ASSERT_EQ(PrepareMaskOrAlphaOutput(GetPlayerContext(vm.L)->scene), 0u);
  qmBGPic *five = vm.Picture(5);
  ASSERT_NE(five->master.mask, nullptr);
  EXPECT_EQ(d->outputMask, five->master.mask);
  EXPECT_EQ(five->unscaled.mask, five->master.mask);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  EXPECT_EQ(d->outputType, DISPOUT_DISPLAY);
  EXPECT_EQ(d->cursorX, 7);
  EXPECT_EQ(d->textMarginRight, 63);
  EXPECT_EQ(GetPlayerContext(vm.L)->scene->picture, d->bgpic);

  // A second Select ends the first; the alpha channel replaces the mask.
  ASSERT_EQ(vm.Call("SelectBGPic", {6, 0}).code, 0u);
  EXPECT_EQ(d->outputType, DISPOUT_BRUSH);
  EXPECT_EQ(d->outputBitmap, vm.Picture(6)->master.bitmap);
  ASSERT_EQ(vm.Call("SelectAlphaChannel", {5, 1}).code, 0u);
  EXPECT_EQ(d->outputType, DISPOUT_ALPHA);
  EXPECT_EQ(d->selectBGPic->selectedId.id, 5u);
  ASSERT_EQ(PrepareMaskOrAlphaOutput(GetPlayerContext(vm.L)->scene), 0u);
  EXPECT_EQ(five->master.mask, nullptr);
  EXPECT_EQ(five->unscaled.mask, nullptr) << "no set keeps the freed mask";
  ASSERT_NE(five->master.alpha, nullptr);
  EXPECT_EQ(five->master.alpha->memory[0], 255);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);

  // Select while double buffering suspends it; EndSelect resumes it.
  ASSERT_EQ(vm.Call("BeginDoubleBuffer", {}).code, 0u);
  qmBitmap *draw = d->outputBitmap;
  ASSERT_EQ(vm.Call("SelectBGPic", {6, 0}).code, 0u);
  EXPECT_EQ(d->doubleBuffer, 0u);
  EXPECT_EQ(d->doubleBufferPaused, 1u);
  EXPECT_EQ(vm.Call("GetAttribute", {21, 0, ATTRDOUBLEBUFFER}).results.at(0), 1);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  EXPECT_EQ(d->doubleBuffer, 1u);
  EXPECT_EQ(d->outputType, DISPOUT_BRUSH);
  EXPECT_EQ(d->outputBitmap, draw);
  EXPECT_EQ(GetPlayerContext(vm.L)->scene->picture, d->doubleBufferBGPic);
  EXPECT_EQ(vm.Call("EndSelect", {}).code, ERR_WRONGUSAGE) << "plain double buffering";
  EXPECT_EQ(vm.Call("GetAttribute", {21, 0, ATTROUTPUTDEVICE}).results, (std::vector<double>{38, 0, 0}));
  ASSERT_EQ(vm.Call("EndDoubleBuffer", {}).code, 0u);

  ASSERT_EQ(vm.Call("CreateBGPic", {4, 8, 8}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBGPic", {4}).code, 0u);
  const struct {
    const char *name;
    std::vector<CmdArg> args;
    const char *cmd;
    uint32_t code;
  } errors[] = {
      {"the shown picture", {4, 0}, "SelectBGPic", ERR_SELECTBGPIC2},
      {"an anim without its frame", {1, 4}, "SelectMask", ERR_MISSINGPARAMTR},
      {"no such brush", {1}, "SelectBrush", ERR_FINDBRUSH},
      {"layers off", {CmdArg::Nil()}, "SelectBGPic", ERR_NOLAYERS},
      {"alpha -1", {-1}, "SetAlphaIntensity", 0},
      {"alpha 256", {256}, "SetAlphaIntensity", ERR_WRONGUSAGE},
  };
  for (const auto &e : errors) EXPECT_EQ(vm.Call(e.cmd, e.args).code, e.code) << e.name;
  EXPECT_EQ(d->outputType, DISPOUT_DISPLAY) << "a refused Select leaves the output";
}

TEST(DoubleBuffer, FlipPresentsTheDirtyRectanglesOnly) {
  PictureVm vm;
  qmDisplay *d = vm.d;
  EXPECT_EQ(vm.Call("Flip", {}).code, ERR_NODOUBLEBUFFER);
  ASSERT_EQ(vm.Call("BeginDoubleBuffer", {}).code, 0u);
  EXPECT_EQ(vm.Call("BeginDoubleBuffer", {}).code, ERR_ENDDOUBLEBUFFER);
  for (qmBitmap *b : {d->backBuffer1, d->backBuffer2})
    for (int y = 0; y < 48; y++)
      for (int x = 0; x < 64; x++) ASSERT_EQ(DisplayVm::BitmapPixel(b, x, y), 0u) << "black after Begin";
  EXPECT_EQ(DisplayVm::WindowPixel(d, 0, 0), 0x102030u) << "the window keeps its picture until a Flip";

  // Everything drawn, two small rectangles dirty: only they reach the window.
  FillBitmapRect(d->backBuffer2, 0, 0, 64, 48, 0xFFFFFF);
  AddDirtyRect(d, 10, 10, 5, 5, 64, 48);
  AddDirtyRect(d, 40, 30, 3, 2, 64, 48);
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  EXPECT_EQ(d->dirtyCount, 0);
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) {
      const bool inside = (x >= 10 && x < 15 && y >= 10 && y < 15) || (x >= 40 && x < 43 && y >= 30 && y < 32);
      ASSERT_EQ(DisplayVm::WindowPixel(d, x, y), inside ? 0xFFFFFFu : 0x102030u) << x << "," << y;
    }
  // The whole picture dirty: all of it.
  AddDirtyRect(d, 0, 0, 64, 48, 64, 48);
  EXPECT_TRUE(AllDirty(d));
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  EXPECT_EQ(DisplayVm::WindowPixel(d, 63, 47), 0xFFFFFFu);
  // A whole Flip of a picture whose every pixel differs: the window and the present buffer both
  // get each pixel (the present buffer once the window gives back what it holds for it).
  auto colour = [](int x, int y) { return uint32_t(x * 4) << 16 | uint32_t(y * 5) << 8 | uint32_t((x ^ y) * 3); };
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) SetBitmapPixel(d->backBuffer2, x, y, colour(x, y), 0);
  AddDirtyRect(d, 0, 0, 64, 48, 64, 48);
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  RestoreHeldBackBuffer(d);
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) {
      ASSERT_EQ(DisplayVm::WindowPixel(d, x, y), colour(x, y)) << x << "," << y;
      ASSERT_EQ(DisplayVm::BitmapPixel(d->backBuffer1, x, y), colour(x, y)) << x << "," << y;
    }
  // EndDoubleBuffer keeps the last picture as the display's.
  ASSERT_EQ(vm.Call("EndDoubleBuffer", {}).code, 0u);
  EXPECT_EQ(vm.Call("EndDoubleBuffer", {}).code, ERR_NODOUBLEBUFFER);
  EXPECT_EQ(DisplayVm::BitmapPixel(d->backgroundCopy, 5, 7), colour(5, 7));
}

// What each buffer holds across Flips of some rectangles: the draw buffer keeps all that was
// drawn (a Flip copies, it never exchanges the buffers), the present buffer and the window hold
// what the Flips took, and a refresh between Flips shows that, not what was drawn since. Colours
// come from formulas of the position.
TEST(DoubleBuffer, EachBufferKeepsItsPictureAcrossFlips) {
  PictureVm vm;
  qmDisplay *d = vm.d;
  ASSERT_EQ(vm.Call("BeginDoubleBuffer", {}).code, 0u);
  auto first = [](int x, int y) { return uint32_t(x * 3 + 1) << 16 | uint32_t(y * 5 + 2) << 8 | uint32_t(x ^ y); };
  auto second = [](int x, int y) { return 0x800000u | uint32_t(y * 4) << 8 | uint32_t(x * 2 + 1); };
  auto third = [](int x, int y) { return uint32_t(y * 5) << 16 | 0x4000u | uint32_t(x * 3); };
  struct Area {
    int x, y, w, h;
    bool Has(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
  };
  auto paint = [&](const Area &a, auto colour) {
    for (int y = std::max(a.y, 0); y < std::min(a.y + a.h, 48); y++)
      for (int x = std::max(a.x, 0); x < std::min(a.x + a.w, 64); x++) SetBitmapPixel(d->backBuffer2, x, y, colour(x, y), 0);
  };
  // Every pixel drawn; dirty: one rectangle inside, one across the right and bottom edges, one
  // wholly off the picture.
  paint({0, 0, 64, 48}, first);
  const Area inside{3, 4, 20, 9}, across{50, 40, 30, 30}, later{10, 20, 30, 11}, hidden{30, 2, 12, 6};
  AddDirtyRect(d, inside.x, inside.y, inside.w, inside.h, 64, 48);
  AddDirtyRect(d, across.x, across.y, across.w, across.h, 64, 48);
  AddDirtyRect(d, 70, 2, 5, 5, 64, 48);
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  auto flipped = [&](int x, int y) { return inside.Has(x, y) || across.Has(x, y) ? first(x, y) : 0u; };
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) {
      ASSERT_EQ(DisplayVm::BitmapPixel(d->backBuffer2, x, y), first(x, y)) << "draw buffer " << x << "," << y;
      ASSERT_EQ(DisplayVm::BitmapPixel(d->backBuffer1, x, y), flipped(x, y)) << "present buffer " << x << "," << y;
      const bool taken = inside.Has(x, y) || across.Has(x, y);
      ASSERT_EQ(DisplayVm::WindowPixel(d, x, y), taken ? first(x, y) : 0x102030u) << "window " << x << "," << y;
    }

  // Drawn since but not flipped: a whole refresh shows the present buffer as the Flip left it.
  paint(later, second);
  AddDirtyRect(d, later.x, later.y, later.w, later.h, 64, 48);
  PresentDoubleBuffer(d, 1, 0);
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) ASSERT_EQ(DisplayVm::WindowPixel(d, x, y), flipped(x, y)) << "refresh " << x << "," << y;
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  auto shown = [&](int x, int y) { return later.Has(x, y) ? second(x, y) : flipped(x, y); };
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) {
      ASSERT_EQ(DisplayVm::BitmapPixel(d->backBuffer2, x, y), later.Has(x, y) ? second(x, y) : first(x, y)) << x << "," << y;
      ASSERT_EQ(DisplayVm::BitmapPixel(d->backBuffer1, x, y), shown(x, y)) << "present buffer " << x << "," << y;
      ASSERT_EQ(DisplayVm::WindowPixel(d, x, y), shown(x, y)) << "window " << x << "," << y;
    }

  // A Flip while the display is hidden still fills the present buffer, which the window gets
  // when it is shown again.
  ASSERT_EQ(vm.Call("HideDisplay", {}).code, 0u);
  paint(hidden, third);
  AddDirtyRect(d, hidden.x, hidden.y, hidden.w, hidden.h, 64, 48);
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  auto last = [&](int x, int y) { return hidden.Has(x, y) ? third(x, y) : shown(x, y); };
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) {
      ASSERT_EQ(DisplayVm::BitmapPixel(d->backBuffer1, x, y), last(x, y)) << "hidden, present buffer " << x << "," << y;
      ASSERT_EQ(DisplayVm::WindowPixel(d, x, y), shown(x, y)) << "hidden, window " << x << "," << y;
    }
  ASSERT_EQ(vm.Call("ShowDisplay", {}).code, 0u);
  PresentDoubleBuffer(d, 1, 0);
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) ASSERT_EQ(DisplayVm::WindowPixel(d, x, y), last(x, y)) << "shown " << x << "," << y;
}

TEST(DoubleBuffer, RefusedOnLayeredDisplays) {
  PictureVm vm;
  ASSERT_EQ(vm.Create(2, [&] { vm.Set("layers", 1); }).code, 0u);
  ASSERT_EQ(vm.Call("SelectDisplay", {2}).code, 0u);
  EXPECT_EQ(vm.Call("BeginDoubleBuffer", {}).code, ERR_LAYERSOFF);
  ASSERT_EQ(vm.Call("SelectBGPic", {CmdArg::Nil()}).code, 0u) << "layers on: drawing adds layers";
  EXPECT_EQ(vm.Call("BeginDoubleBuffer", {}).code, ERR_SELECTBG);
  EXPECT_EQ(vm.Call("EndSelect", {}).code, 0u);
}

TEST(DisplayFreeing, TheCurrentDisplayCannotGo) {
  PictureVm vm;
  EXPECT_EQ(vm.Call("FreeDisplay", {1}).code, ERR_FREEADISPLAY);
  ASSERT_EQ(vm.Create(2, [] {}).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {2}).code, 0u);
  EXPECT_EQ(vm.Call("FreeDisplay", {2}).code, ERR_FREEADISPLAY) << "opening made it current";
  ASSERT_EQ(vm.Call("SelectDisplay", {1}).code, 0u);
  EXPECT_EQ(vm.Call("FreeDisplay", {2}).code, 0u) << "an open one closes as it goes";
}

}  // namespace
