// The graphics commands as a script calls them: colour arithmetic, constants, clip regions.
#include <gtest/gtest.h>

#include <cstdint>

#include "display/bgpic.h"
#include "display/scene.h"
#include "graphics/clipregion.h"
#include "graphics/colors.h"
#include "display/output.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "tests/player/math/math_test_vm.h"

namespace {

// Every command of the player's table, with a current picture of 640 x 480 the test owns.
struct GraphicsVm : MathVm {
  static inline qmBGPic picture{};
  static inline qmClipRegion *&active = picture.activeClip;
  static inline uint32_t pens[256];
  qmScene *scene;
  GraphicsVm() {
    picture = qmBGPic{};
    picture.unscaledWidth = 640;
    picture.unscaledHeight = 480;
    for (int i = 0; i < 256; i++) pens[i] = uint32_t(i * 0x010101);
    picture.palette = pens;
    scene = GetScene(L);
    scene->picture = &picture;
  }
  ~GraphicsVm() { scene->picture = nullptr; }
  double Constant(const char *name) {
    const char *text;
    double n = -1;
    EXPECT_TRUE(vm_getconstant(L, name, &text, &n)) << name;
    return n;
  }
};

TEST(GraphicsCommands, ColourArithmetic) {
  GraphicsVm vm;
  struct Case {
    const char *cmd;
    std::vector<CmdArg> args;
    uint32_t code;
    double want;
  } cases[] = {
      {"RGB", {0, 256, 0}, 0, 0x010000},
      {"RGB", {0x12, 0x34, 0x56}, 0, 0x123456},
      {"ARGB", {255, 0xFF0000}, 0, 4294901760.0},
      {"Red", {0x123456}, 0, 0x12},
      {"Green", {0x123456}, 0, 0x34},
      {"Blue", {0x123456}, 0, 0x56},
      {"MixRGB", {0x000000, 0xFFFFFF, 255}, 0, 0xFEFEFE},
      {"MixRGB", {0x000000, 0xFFFFFF, CmdArg::Str("100%")}, 0, 0xFEFEFE},
      {"MixRGB", {0xFFFFFF, 0x000000, 128}, 0, 0x7F7F7F},
      {"MixRGB", {0x102030, 0x102030, 77}, 0, 0x102030},
      {"MixRGB", {0, 0xFFFFFF, 256}, ERR_WRONGUSAGE, 0},
      {"MixRGB", {0, 0xFFFFFF, -1}, ERR_WRONGUSAGE, 0},
      {"GetPen", {300}, 0, 255 * 0x010101},
      {"GetPen", {-1}, 0, 0},
      {"GetPen", {7, 0}, 0, 7 * 0x010101},
      {"GetRealColor", {0x123456}, 0, 0x123456},
  };
  for (const Case &c : cases) {
    CommandCall r = vm.Call(c.cmd, c.args);
    EXPECT_EQ(r.code, c.code) << c.cmd;
    if (c.code == 0) {
      ASSERT_EQ(r.results.size(), 1u) << c.cmd;
      EXPECT_EQ(r.results[0], c.want) << c.cmd;
    }
  }
  vm.scene->picture = nullptr;
  EXPECT_EQ(vm.Call("GetPen", {1}).results.at(0), 4294967295.0);
}

TEST(GraphicsCommands, RandomColoursComeFromTheTable) {
  GraphicsVm vm;
  EXPECT_EQ(RandomColorAt(0), 0xCCCCCCu);
  EXPECT_EQ(RandomColorAt(4), 0xAA2200u);
  EXPECT_EQ(RandomColorAt(245), 0xCC00FFu);  // C0F; the F0F after it is never drawn
  for (int i = 0; i < 200; i++) {
    double c = vm.Call("GetRandomColor", {}).results.at(0);
    bool found = false;
    for (int k = 0; k < kRandomColorCount && !found; k++) found = RandomColorAt(k) == uint32_t(c);
    ASSERT_TRUE(found) << c;
  }
}

TEST(GraphicsCommands, ConstantsKeepTheirNumbers) {
  GraphicsVm vm;
  const struct {
    const char *name;
    double value;
  } rows[] = {{"CENTER", -100000}, {"BOTTOMOUT", -20000}, {"KEEPASPRAT", 100000}, {"BGPIC", 1},
              {"MASK", 28},        {"SHAPE", 28},         {"UDPOBJECT", 56},      {"ATTRWIDTH", 0},
              {"ATTRPUBSCREEN", 76}, {"NOCOLOR", 4294967295.0}, {"DEFAULTSPEED", -4}, {"CONICAL", 4},
              {"IMGFMT_ILBM", 4},  {"STDPTR_CUSTOM", 2},  {"VIDDRV_QUENMOOR", 1}};
  for (const auto &r : rows) EXPECT_EQ(vm.Constant(r.name), r.value) << r.name;
}

TEST(GraphicsCommands, ApplyKeepAspect) {
  const struct {
    int32_t sw, sh, w, h;
    uint32_t code;
    int32_t ow, oh;
  } cases[] = {{200, 100, kKeepAspect, 50, 0, 100, 50}, {3, 2, 5, kKeepAspect, 0, 5, 3},  // 5 x 2 / 3 = 3.33
               {2, 3, kKeepAspect, 3, 0, 2, 3},         {200, 100, 1, kKeepAspect, 0, 1, 1},  // 0.5 goes up,
               {10, 10, kKeepAspect, kKeepAspect, ERR_WRONGUSAGE, 0, 0}, {10, 10, 0, 5, ERR_BADDIMENSIONS, 0, 0}};
  for (const auto &c : cases) {
    int32_t w = c.w, h = c.h;
    EXPECT_EQ(ApplyKeepAspect(c.sw, c.sh, &w, &h), c.code);
    if (!c.code) {
      EXPECT_EQ(w, c.ow);
      EXPECT_EQ(h, c.oh);
    }
  }
}

qmClipRegion *Region(GraphicsVm &vm, uint32_t id) {
  qmObjectId oid{id, 0};
  return reinterpret_cast<qmClipRegion *>(FindObject(vm.L, QMTYPE_CLIPREGION, &oid));
}

TEST(GraphicsCommands, ClipRegionsCreateSetFree) {
  GraphicsVm vm;
  const double BOX = QMTYPE_BOX, CENTER = vm.Constant("CENTER");
  struct Case {
    const char *name;
    std::vector<CmdArg> args;
    uint32_t code;
    int32_t x, y, w, h;
  } cases[] = {
      {"left part cut off", {1, BOX, -10, 0, 50, 50}, 0, 0, 0, 40, 50},
      {"wholly left", {1, BOX, -60, 0, 50, 50}, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"centred on the picture", {1, BOX, CENTER, CENTER, 100, 100}, 0, 270, 190, 100, 100},
      {"no size", {1, BOX, 0, 0, 0, 10}, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"unknown type", {1, 99, 0, 0, 10, 10}, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"missing size", {1, BOX, 0, 0, 10}, ERR_MISSINGPARAMTR, 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(vm.Call("CreateClipRegion", c.args).code, c.code) << c.name;
    if (c.code) continue;
    qmClipRegion *r = Region(vm, 1);
    ASSERT_NE(r, nullptr) << c.name;
    EXPECT_EQ(r->x, c.x) << c.name;
    EXPECT_EQ(r->y, c.y) << c.name;
    EXPECT_EQ(r->width, c.w) << c.name;
    EXPECT_EQ(r->height, c.h) << c.name;
  }
  // The same number again replaced the older region; refused requests left it in place.
  EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_CLIPREGION), 1u);
  EXPECT_EQ(Region(vm, 1)->x, 270);

  EXPECT_EQ(vm.Call("SetClipRegion", {1}).code, 0u);
  EXPECT_EQ(GraphicsVm::active, Region(vm, 1));
  EXPECT_EQ(vm.Call("SetClipRegion", {2}).code, static_cast<uint32_t>(ERR_FINDCLIPREGION));
  EXPECT_EQ(vm.Call("CreateClipRegion", {2, BOX, 600, 0, 100, 10}).code, 0u);
  EXPECT_EQ(vm.Call("SetClipRegion", {2}).code, static_cast<uint32_t>(ERR_WRONGCLIPREG));
  EXPECT_EQ(GraphicsVm::active, Region(vm, 1));
  EXPECT_EQ(vm.Call("SetClipRegion", {0}).code, 0u);
  EXPECT_EQ(GraphicsVm::active, nullptr);
  EXPECT_EQ(vm.Call("SetClipRegion", {1}).code, 0u);
  EXPECT_EQ(vm.Call("SetClipRegion", {-1}).code, 0u);
  EXPECT_EQ(GraphicsVm::active, nullptr);

  // Freeing the active region leaves no region active.
  EXPECT_EQ(vm.Call("SetClipRegion", {1}).code, 0u);
  EXPECT_EQ(vm.Call("FreeClipRegion", {1}).code, 0u);
  EXPECT_EQ(GraphicsVm::active, nullptr);
  EXPECT_EQ(vm.Call("FreeClipRegion", {1}).code, static_cast<uint32_t>(ERR_FINDCLIPREGION));
  // A region a layer still uses outlives FreeClipRegion, out of reach of the script.
  Region(vm, 2)->layerUses = 1;
  EXPECT_EQ(vm.Call("FreeClipRegion", {2}).code, 0u);
  EXPECT_EQ(Region(vm, 2), nullptr);
  qmClipRegion *kept = reinterpret_cast<qmClipRegion *>(FirstObject(vm.L, QMTYPE_CLIPREGION));
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->deleted, 1);
  EXPECT_EQ(kept->width, 100);
  // Its number is free for a new region at once.
  EXPECT_EQ(vm.Call("CreateClipRegion", {2, BOX, 1, 1, 5, 5}).code, 0u);
  EXPECT_EQ(Region(vm, 2)->width, 5);
  EXPECT_EQ(vm.Call("FreeClipRegion", {2}).code, 0u);
  PurgeClipRegions(ObjectRegistryOf(vm.L));
  EXPECT_NE(FirstObject(vm.L, QMTYPE_CLIPREGION), nullptr);
  kept->layerUses = 0;
  PurgeClipRegions(ObjectRegistryOf(vm.L));
  EXPECT_EQ(FirstObject(vm.L, QMTYPE_CLIPREGION), nullptr);
}

TEST(GraphicsCommands, AutomaticClipRegionIdAndMissingBrush) {
  GraphicsVm vm;
  const double BOX = QMTYPE_BOX, MASK = vm.Constant("MASK");
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "createclipregion");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnil(vm.L);
  vm_pushnumber(vm.L, BOX);
  for (double v : {5.0, 5.0, 10.0, 10.0}) vm_pushnumber(vm.L, v);
  ASSERT_EQ(vm_pcall(vm.L, 6, 1, 0), 0u);
  ASSERT_EQ(vm_type(vm.L, -1), VM_TLIGHTUSERDATA);
  EXPECT_EQ(vm_touserdata(vm.L, -1), FirstObject(vm.L, QMTYPE_CLIPREGION));
  vm_settop(vm.L, 0);
  EXPECT_EQ(vm.Call("CreateClipRegion", {3, MASK, 7, 0, 0}).code, static_cast<uint32_t>(ERR_FINDBRUSH));
}

TEST(GraphicsCommands, OutputSettingsAreRuntimeTags) {
  GraphicsVm vm;
  uintptr_t mode = 0, alpha = 0;
  qmTagItem get[] = {{5, reinterpret_cast<uintptr_t>(&mode)}, {7, reinterpret_cast<uintptr_t>(&alpha)}, {0, 0}};
  EXPECT_EQ(GetRuntimeTags(vm.L, get), 2u);
  EXPECT_EQ(mode, 2u);
  EXPECT_EQ(alpha, 0xFFFFFFFFu);
  qmTagItem set[] = {{5, 3}, {7, 128}, {0, 0}};
  EXPECT_EQ(SetRuntimeTags(vm.L, set), 2u);
  EXPECT_EQ(GetOutputMaskMode(GetScene(vm.L)), 3u);
  EXPECT_EQ(GetOutputAlphaValue(GetScene(vm.L)), 128u);
}

}  // namespace
