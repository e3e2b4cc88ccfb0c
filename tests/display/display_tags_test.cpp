// Display tags read by the handler before the object is looked up: the object's own checks
// still come first, and sizes and turns are taken against the object found.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "display/displaytags.h"
#include "runtime/errcodes.h"
#include "tests/display/brush/brush_vm.h"

namespace {

constexpr uint32_t kBackground = 0x102030, kRed = 0xFF0000;

// DisplayBrush(id, x, y, tags) or DisplayBrushPart(id, sx, sy, x, y, w, h, tags) with the tags
// table filled by fill.
uint32_t Draw(BrushVm &vm, const char *command, const std::vector<double> &args,
              const std::function<void()> &fill) {
  return vm.CallWith(command, [&] {
    for (double v : args) vm_pushnumber(vm.L, v);
    vm_newtable(vm.L);
    fill();
    return int(args.size()) + 1;
  }).code;
}

TEST(ImageTags, TheObjectIsCheckedBeforeItsTags) {
  BrushVm vm;
  ASSERT_EQ(vm.FromArray(1, std::vector<uint32_t>(16, 0xFF000000u | kRed), 4, 4).code, 0u);
  const struct {
    const char *name;
    const char *command;
    std::vector<double> args;
    uint32_t code;
  } rows[] = {
      {"missing brush", "displaybrush", {9, 0, 0}, ERR_FINDBRUSH},
      {"missing part's brush", "displaybrushpart", {9, 0, 0, 0, 0, 2, 2}, ERR_FINDBRUSH},
      {"part of no width", "displaybrushpart", {1, 0, 0, 0, 0, 0, 2}, ERR_BADDIMENSIONS},
      {"the tags of a good brush", "displaybrush", {1, 0, 0}, ERR_WRONGUSAGE},
  };
  for (const auto &r : rows)
    EXPECT_EQ(Draw(vm, r.command, r.args, [&] { vm.Set("scalex", 0); }), r.code) << r.name;
  EXPECT_EQ(vm.Background(0, 0), kBackground) << "nothing drawn";
}

// A 4 x 4 red brush drawn at (10, 10) with the tags: how far right and down it reaches.
TEST(ImageTags, SizesAreTakenAgainstTheObject) {
  const struct {
    const char *name;
    std::function<void(BrushVm &)> fill;
    int lastX, lastY;  // the last red pixel on the row and column through (10, 10)
  } rows[] = {
      {"untouched", [](BrushVm &) {}, 13, 13},
      {"width and height", [](BrushVm &vm) { vm.Set("width", 8), vm.Set("height", 6); }, 17, 15},
      {"width alone keeps the height", [](BrushVm &vm) { vm.Set("width", 12); }, 21, 13},
      {"scale factors", [](BrushVm &vm) { vm.Set("scalex", 3), vm.Set("scaley", 2); }, 21, 17},
  };
  for (const auto &r : rows) {
    BrushVm vm;
    ASSERT_EQ(vm.FromArray(1, std::vector<uint32_t>(16, 0xFF000000u | kRed), 4, 4).code, 0u);
    ASSERT_EQ(Draw(vm, "displaybrush", {1, 10, 10}, [&] { r.fill(vm); }), 0u) << r.name;
    EXPECT_EQ(vm.Background(r.lastX, 10), kRed) << r.name;
    EXPECT_EQ(vm.Background(r.lastX + 1, 10), kBackground) << r.name;
    EXPECT_EQ(vm.Background(10, r.lastY), kRed) << r.name;
    EXPECT_EQ(vm.Background(10, r.lastY + 1), kBackground) << r.name;
  }
}

TEST(ImageTags, FinishingBuildsTheMatrixOnce) {
  qmTransform t{};
  t.scaleX = t.scaleY = 1;
  t.targetWidth = 20;
  t.geometryPending = 1;
  FinishDisplayTags(nullptr, 10, 5, &t, nullptr);
  EXPECT_EQ(t.matrix[0], 2.0) << "20 of a 10 wide object";
  EXPECT_EQ(t.matrix[3], 1.0) << "the height kept";
  EXPECT_EQ(t.geometryPending, 0);
  FinishDisplayTags(nullptr, 5, 5, &t, nullptr);
  EXPECT_EQ(t.matrix[0], 2.0) << "a finished transform is left alone";
}

}  // namespace
