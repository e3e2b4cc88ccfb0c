// The pointer commands on a display of the headless desktop: standard pointers, pictures,
// freeing a pointer that a display still shows.
#include <gtest/gtest.h>

#include <cstdint>

#include "graphics/graphics/pointerimage.h"
#include "display/displaywindow.h"
#include "platform/pointer.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "tests/display/display_vm.h"

namespace {

enum : int32_t { kPointer = 36, kBrush = 3, kSprite = 32, kDisplay = 21 };
enum : int32_t { kWidth = 0, kHeight = 1, kType = 9, kPointerAttr = 38, kCount = 60 };

TEST(PointerCommands, CreateAndAsk) {
  DisplayVm vm;
  struct Case {
    const char *name;
    std::vector<CmdArg> args;
    uint32_t code;
  } cases[] = {
      {"busy", {1, kPointer, 1}, 0},
      {"system", {2, kPointer, 0}, 0},
      {"custom kind as a standard", {3, kPointer, 2}, ERR_WRONGUSAGE},
      {"unknown type", {3, 99, 0}, ERR_WRONGUSAGE},
      {"brush not there", {3, kBrush, 7}, ERR_FINDBRUSH},
      {"sprite not there", {3, kSprite, 7}, ERR_FINDSPRITE},
  };
  for (const Case &c : cases) EXPECT_EQ(vm.Call("CreatePointer", c.args).code, c.code) << c.name;
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 1, kWidth}).results.at(0), kPlatformPointerSize);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 1, kType}).results.at(0), 1);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 2, kType}).results.at(0), 0);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 0, kCount}).results.at(0), 2);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 3, kWidth}).code, ERR_FINDPOINTER);

  // A picture of the brush side: the hotspot defaults to the middle; a picture that makes no
  // pointer lists nothing.
  const uint32_t pixels[6 * 4] = {0xff000000u};
  qmObjectId id{4, 0};
  EXPECT_EQ(CreatePointerFromArgb(vm.L, &id, pixels, 6, 4, -1, -1), 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 4, kHeight}).results.at(0), 4);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 4, kType}).results.at(0), 2);
  id.id = 5;
  EXPECT_EQ(CreatePointerFromArgb(vm.L, &id, pixels, 0, 4, -1, -1), static_cast<uint32_t>(ERR_POINTERIMG));
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 0, kCount}).results.at(0), 3);
  int32_t x = -1, y = 9;
  PointerHotspot(6, 4, &x, &y);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 3);
}

// A brush's picture, its mask turned into alpha, becomes a pointer of its size; hotspots beyond
// the picture are cut to it.
TEST(PointerCommands, PointersOfBrushes) {
  DisplayVm vm;
  ASSERT_EQ(vm.CallWith("createbrush", [&] {
    vm_pushnumber(vm.L, 1), vm_pushnumber(vm.L, 12), vm_pushnumber(vm.L, 9), vm_pushnumber(vm.L, 0xFF0000);
    vm_newtable(vm.L);
    vm.Set("mask", 1);
    return 5;
  }).code, 0u);
  ASSERT_EQ(vm.Call("CreateBrush", {2, 1100, 20, 0}).code, 0u);
  struct Case {
    const char *name;
    std::vector<CmdArg> args;
    uint32_t code;
    int width, height;
  } cases[] = {
      {"middle hotspot", {5, kBrush, 1}, 0, 12, 9},
      {"own hotspot", {6, kBrush, 1, 0, 8}, 0, 12, 9},
      {"hotspot cut to the picture", {7, kBrush, 1, 40, 40}, 0, 12, 9},
      {"same number again", {5, kBrush, 1, 1, 1}, 0, 12, 9},
      {"too wide for a pointer", {8, kBrush, 2}, ERR_POINTERIMG, 0, 0},
      {"brush not there", {8, kBrush, 3}, ERR_FINDBRUSH, 0, 0},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(vm.Call("CreatePointer", c.args).code, c.code) << c.name;
    if (c.code) continue;
    const double id = c.args[0].num;
    EXPECT_EQ(vm.Call("GetAttribute", {kPointer, id, kWidth}).results.at(0), c.width) << c.name;
    EXPECT_EQ(vm.Call("GetAttribute", {kPointer, id, kHeight}).results.at(0), c.height) << c.name;
    EXPECT_EQ(vm.Call("GetAttribute", {kPointer, id, kType}).results.at(0), 2) << c.name;
  }
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 0, kCount}).results.at(0), 3);
  // The pointer keeps its own picture: the brush may go.
  ASSERT_EQ(vm.Call("FreeBrush", {1}).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 6, kWidth}).results.at(0), 12);
}

TEST(PointerCommands, AShownPointerOutlivesFreePointer) {
  DisplayVm vm;
  ASSERT_EQ(vm.Create(1, [] {}).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  qmDisplay *d = DisplayVm::Display(1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(vm.Call("GetAttribute", {kDisplay, 1, kPointerAttr}).results.at(0), 0);

  ASSERT_EQ(vm.Call("CreatePointer", {7, kPointer, 1}).code, 0u);
  ASSERT_EQ(vm.Call("SetPointer", {7}).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {kDisplay, 1, kPointerAttr}).results.at(0), 7);
  EXPECT_EQ(vm.Call("SetPointer", {8}).code, ERR_FINDPOINTER);

  EXPECT_EQ(vm.Call("HidePointer", {}).code, 0u);
  EXPECT_EQ(PlatformPointerHidden(d), 1);
  EXPECT_EQ(vm.Call("ShowPointer", {}).code, 0u);
  EXPECT_EQ(PlatformPointerHidden(d), 0);
  EXPECT_EQ(vm.Call("HidePointer", {}).code, 0u);
  // Setting a pointer shows it again.
  ASSERT_EQ(vm.Call("SetPointer", {7}).code, 0u);
  EXPECT_EQ(PlatformPointerHidden(d), 0);

  // Freed while shown: its number is free at once, the display keeps showing it.
  ASSERT_EQ(vm.Call("FreePointer", {7}).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 7, kWidth}).code, ERR_FINDPOINTER);
  EXPECT_EQ(vm.Call("FreePointer", {7}).code, ERR_FINDPOINTER);
  ASSERT_EQ(vm.Call("CreatePointer", {7, kPointer, 0}).code, 0u);
  EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_POINTER), 2u);
  EXPECT_NE(PlatformPointerOwner(d), nullptr);
  // Another SetPointer lets the old one go.
  ASSERT_EQ(vm.Call("SetPointer", {7}).code, 0u);
  EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_POINTER), 1u);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 7, kType}).results.at(0), 0);

  // Positions resolve against the display; a headless window takes no warp, and no harm.
  EXPECT_EQ(vm.Call("MovePointer", {10, 20}).code, 0u);
}

}  // namespace

TEST(PointerCommands, PointerOfABrush) {
  DisplayVm vm;
  ASSERT_EQ(vm.Call("CreateBrush", {4, 12, 10, 0xFF0000}).code, 0u);
  ASSERT_EQ(vm.Call("CreatePointer", {5, kBrush, 4, 3, 2}).code, 0u);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 5, kWidth}).results.at(0), 12);
  EXPECT_EQ(vm.Call("GetAttribute", {kPointer, 5, kType}).results.at(0), 2);
  EXPECT_EQ(vm.Call("SetPointer", {5}).code, 0u);
  // Made again under the same number; hot spots beyond the picture are cut to it.
  EXPECT_EQ(vm.Call("CreatePointer", {5, kBrush, 4, 500, -7}).code, 0u);
  EXPECT_EQ(vm.Call("FreePointer", {5}).code, 0u);
}
