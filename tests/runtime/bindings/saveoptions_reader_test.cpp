// The save options argument: absent, a number, a table with some of its fields.
#include "runtime/bindings/saveoptions_reader.h"

#include <gtest/gtest.h>

#include "media/image/imagewriter.h"
#include "runtime/errcodes.h"
#include "tests/runtime/rt_test_util.h"

namespace {

int32_t gQuality, gColors, gDither;

uint32_t ReadOptions(VmState *L) {
  gQuality = kDefaultSaveQuality;
  gColors = kDefaultSaveColors;
  gDither = kDefaultSaveDither;
  ParseSaveOptions(L, 1, &gQuality, &gColors, &gDither);
  return 0;
}

void SetField(VmState *L, const char *key, double v) {
  vm_pushstring(L, key);
  vm_pushnumber(L, v);
  vm_settable(L, -3);
}

TEST(SaveOptions, ReadsWhatIsGivenAndKeepsTheRest) {
  RtVm vm;
  struct Case {
    const char *name;
    std::function<void(VmState *)> push;
    int32_t quality, colors, dither;
  } cases[] = {
      {"absent", [](VmState *) {}, 90, 256, 0},
      {"nil", [](VmState *L) { vm_pushnil(L); }, 90, 256, 0},
      {"a number is the quality", [](VmState *L) { vm_pushnumber(L, 75); }, 75, 256, 0},
      {"a table with colours", [](VmState *L) { vm_newtable(L); SetField(L, "colors", 16); }, 90, 16, 0},
      {"a table with everything",
       [](VmState *L) {
         vm_newtable(L);
         SetField(L, "quality", 40);
         SetField(L, "colors", 2);
         SetField(L, "dither", 1);
       },
       40, 2, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(vm.Call(ReadOptions, c.push), 0u);
    EXPECT_EQ(gQuality, c.quality);
    EXPECT_EQ(gColors, c.colors);
    EXPECT_EQ(gDither, c.dither);
  }
  EXPECT_NE(vm.Call(ReadOptions, [](VmState *L) { vm_pushstring(L, "best"); }), 0u);
}

}  // namespace
