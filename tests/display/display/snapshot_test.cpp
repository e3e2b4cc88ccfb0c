// Snapshots of a display on the headless desktop, read back by PIL, and the display-tag
// defaults that every later command starts from.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <csignal>
#include <sys/wait.h>

#include "display/displayops.h"
#include "display/scene.h"
#include "platform/eventpump.h"
#include "display/displaywindow.h"
#include "player/event/event_pump.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "tests/display/display_vm.h"
#include "tests/platform/tempdir.h"
#include "tests/platform/xvfb_server.h"

namespace {

enum : int32_t { kSnapWindow = 0, kSnapDisplay = 1, kBMP = 0, kPNG = 1, kJPEG = 2 };

// A picture file as PIL decodes it: 0xAARRGGBB per pixel.
struct Decoded {
  uint32_t width = 0, height = 0;
  std::string rgba;
  uint32_t At(uint32_t x, uint32_t y) const {
    const auto *p = reinterpret_cast<const uint8_t *>(rgba.data()) + 4 * (size_t(y) * width + x);
    return uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
};

bool DecodeWithPeer(const std::string &file, Decoded *out) {
  const std::string ref = file + ".ref";
  if (std::system(("/usr/bin/python3 " QM_SOURCE_DIR "/tests/display/brush/brush_pictures.py decode " + file + " " +
                   ref + " 2>/dev/null")
                      .c_str()) != 0)
    return false;
  std::ifstream f(ref, std::ios::binary);
  std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (b.size() < 8) return false;
  std::memcpy(&out->width, b.data(), 4);
  std::memcpy(&out->height, b.data() + 4, 4);
  out->rgba = b.substr(8);
  return out->rgba.size() == size_t(out->width) * out->height * 4;
}

struct SnapshotVm : DisplayVm {
  TempDir dir;
  qmDisplay *d = nullptr;
  SnapshotVm() {
    EXPECT_EQ(Create(1, [&] { Set("width", 40), Set("height", 30), Set("color", 0x102030); }).code, 0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    d = Display(1);
    // Something besides the plain colour: two brushes, one overlapping the right edge.
    EXPECT_EQ(Call("CreateBrush", {1, 9, 7, 0xC08040}).code, 0u);
    EXPECT_EQ(Call("CreateBrush", {2, 6, 20, 0x30F0A0}).code, 0u);
    EXPECT_EQ(Call("DisplayBrush", {1, 3, 4}).code, 0u);
    EXPECT_EQ(Call("DisplayBrush", {2, 37, 8}).code, 0u);
  }
  std::string File(const char *name) { return dir / name; }
  CommandCall Snap(const std::string &file, double type, double format) {
    return Call("SaveSnapshot", {CmdArg::Str(file.c_str()), type, format});
  }
  // Every pixel of the file against the bitmap, opaque.
  ::testing::AssertionResult SameAs(const std::string &file, const qmBitmap *b, uint32_t w, uint32_t h) {
    Decoded got;
    if (!DecodeWithPeer(file, &got)) return ::testing::AssertionFailure() << "PIL could not read " << file;
    if (got.width != w || got.height != h)
      return ::testing::AssertionFailure() << "size " << got.width << "x" << got.height;
    for (uint32_t y = 0; y < h; y++)
      for (uint32_t x = 0; x < w; x++)
        if (got.At(x, y) != (0xFF000000u | BitmapPixel(b, int(x), int(y))))
          return ::testing::AssertionFailure() << "pixel " << x << "," << y << ": " << std::hex << got.At(x, y);
    return ::testing::AssertionSuccess();
  }
};

TEST(SaveSnapshot, TheDisplayReadBackByAPeer) {
  SnapshotVm vm;
  ASSERT_EQ(vm.Snap(vm.File("d.png"), kSnapDisplay, kPNG).code, 0u);
  EXPECT_TRUE(vm.SameAs(vm.File("d.png"), vm.d->backgroundCopy, 40, 30));
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 39, 10), 0x30F0A0u);
  // BMP is the format when none is given.
  ASSERT_EQ(vm.Call("SaveSnapshot", {CmdArg::Str(vm.File("d.bmp").c_str()), kSnapDisplay}).code, 0u);
  EXPECT_TRUE(vm.SameAs(vm.File("d.bmp"), vm.d->backgroundCopy, 40, 30));
  std::ifstream bmp(vm.File("d.bmp"), std::ios::binary);
  char magic[2] = {};
  bmp.read(magic, 2);
  EXPECT_EQ(std::string(magic, 2), "BM");
  // The options reach the writer: a JPEG of quality 1 is smaller than one of quality 100.
  ASSERT_EQ(vm.Call("SaveSnapshot", {CmdArg::Str(vm.File("lo.jpg").c_str()), kSnapDisplay, kJPEG, 1}).code, 0u);
  ASSERT_EQ(vm.Call("SaveSnapshot", {CmdArg::Str(vm.File("hi.jpg").c_str()), kSnapDisplay, kJPEG, 100}).code, 0u);
  EXPECT_LT(std::filesystem::file_size(vm.File("lo.jpg")), std::filesystem::file_size(vm.File("hi.jpg")));
}

// With layers on, the display's picture is its background with every shown layer over it, as
// the window shows it; a hidden layer leaves it.
TEST(SaveSnapshot, TheDisplayWithItsLayers) {
  SnapshotVm vm;
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 20, 10}).code, 0u);   // 9 x 7 at (20, 10)
  ASSERT_EQ(vm.Call("DisplayBrush", {2, 26, 12}).code, 0u);   // 6 x 20 over its right part
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 35, 25}).code, 0u);   // cut by the right and bottom edges
  const std::string file = vm.File("layers.png");
  struct Spot {
    int x, y;
    uint32_t rgb;
  } spots[] = {
      {20, 10, 0xC08040}, {25, 16, 0xC08040}, {26, 12, 0x30F0A0}, {31, 29, 0x30F0A0},
      {39, 29, 0xC08040}, {34, 25, 0x102030}, {5, 25, 0x102030},
      {3, 4, 0xC08040},  // drawn before layers were on: part of the background
  };
  for (int round = 0; round < 2; round++) {
    ASSERT_EQ(vm.Snap(file, kSnapDisplay, kPNG).code, 0u) << round;
    Decoded got;
    ASSERT_TRUE(DecodeWithPeer(file, &got));
    ASSERT_EQ(got.width, 40u);
    ASSERT_EQ(got.height, 30u);
    int differing = 0;
    for (uint32_t y = 0; y < 30; y++)
      for (uint32_t x = 0; x < 40; x++)
        differing += got.At(x, y) != (0xFF000000u | DisplayVm::WindowPixel(vm.d, int(x), int(y)));
    EXPECT_EQ(differing, 0) << round;
    for (const Spot &p : spots) {
      const bool underHidden = round == 1 && p.x >= 26 && p.x < 32 && p.y >= 12;
      const uint32_t want = underHidden ? (p.x < 29 && p.y < 17 ? 0xC08040u : 0x102030u) : p.rgb;
      EXPECT_EQ(got.At(uint32_t(p.x), uint32_t(p.y)), 0xFF000000u | want) << round << ": " << p.x << "," << p.y;
    }
    if (round == 0) {
      ASSERT_EQ(vm.Call("HideLayer", {2}).code, 0u);
    }
  }
}

TEST(SaveSnapshot, WhileDoubleBufferingTheDrawBuffer) {
  SnapshotVm vm;
  ASSERT_EQ(vm.Call("BeginDoubleBuffer", {}).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 20, 20}).code, 0u);
  ASSERT_EQ(vm.Snap(vm.File("db.png"), kSnapDisplay, kPNG).code, 0u);
  EXPECT_TRUE(vm.SameAs(vm.File("db.png"), vm.d->backBuffer2, 40, 30));
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backBuffer2, 21, 21), 0xC08040u);
  ASSERT_EQ(vm.Call("EndDoubleBuffer", {}).code, 0u);
}

TEST(SaveSnapshot, Refusals) {
  SnapshotVm vm;
  const std::string file = vm.File("x.png");
  EXPECT_EQ(vm.Snap(file, 3, kPNG).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Snap(file, -1, kPNG).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Snap(file, kSnapDisplay, 7).code, ERR_UNKNOWNIMGOUT);
  EXPECT_EQ(vm.Snap(vm.File("no/such/folder/x.png"), kSnapDisplay, kPNG).code, ERR_WRITEFILE);
  ASSERT_EQ(vm.Call("CloseDisplay", {1}).code, 0u);
  EXPECT_EQ(vm.Snap(file, kSnapWindow, kPNG).code, ERR_CLOSEDDISPDRAW);
  EXPECT_FALSE(std::filesystem::exists(file));
  // The closed display still has its picture.
  EXPECT_EQ(vm.Snap(file, kSnapDisplay, kPNG).code, 0u);
}

TEST(SaveSnapshot, TheWindowAndTheDesktopOnAnXServer) {
  int number = 0;
  ServerGuard xvfb{StartXvfb(&number)};
  if (xvfb.pid < 0) GTEST_SKIP() << "Xvfb cannot start here";
  setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
  [[maybe_unused]] LeakCheckPause pause;
  TempDir dir;
  DisplayVm vm("x11");
  ASSERT_EQ(vm.Create(1, [&] {
    vm.Set("width", 48), vm.Set("height", 32), vm.Set("borderless", 1), vm.Set("x", 0), vm.Set("y", 0),
        vm.Set("fillstyle", 2), vm.Set("gradientstyle", 2), vm.Set("gradientangle", 30),
        vm.Set("gradientstartcolor", 0xFF2000), vm.Set("gradientendcolor", 0x0030FF);
  }).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  qmDisplay *d = DisplayVm::Display(1);
  for (int i = 0; i < 20; i++) WaitEvents(vm.L, 20);
  RefreshDisplay(GetPlayerContext(vm.L)->scene, d, 0);
  FlushDisplayWindow(d);
  for (int i = 0; i < 5; i++) WaitEvents(vm.L, 20);
  ASSERT_EQ(d->frameWidth, 0);

  const std::string window = dir / "window.png", desktop = dir / "desktop.png";
  ASSERT_EQ(vm.Call("SaveSnapshot", {CmdArg::Str(window.c_str()), kSnapWindow, kPNG}).code, 0u);
  Decoded got;
  ASSERT_TRUE(DecodeWithPeer(window, &got));
  ASSERT_EQ(got.width, 48u);
  ASSERT_EQ(got.height, 32u);
  int differing = 0;
  for (uint32_t y = 0; y < 32; y++)
    for (uint32_t x = 0; x < 48; x++)
      differing += got.At(x, y) != (0xFF000000u | DisplayVm::BitmapPixel(d->backgroundCopy, int(x), int(y)));
  EXPECT_EQ(differing, 0);

  ASSERT_EQ(vm.Call("SaveSnapshot", {CmdArg::Str(desktop.c_str()), 2, kPNG}).code, 0u);
  Decoded whole;
  ASSERT_TRUE(DecodeWithPeer(desktop, &whole));
  EXPECT_EQ(whole.width, 800u);
  EXPECT_EQ(whole.height, 600u);
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(d->platform->window, &wx, &wy);
  EXPECT_EQ(whole.At(uint32_t(wx) + 5, uint32_t(wy) + 7), got.At(5, 7)) << wx << "," << wy << " " << d->x << "," << d->y;
}

TEST(SetDrawTagsDefault, LaterCommandsStartFromTheNewDefaults) {
  SnapshotVm vm;
  auto tint = [&](double id, double x, double y) {
    return vm.CallWith(id ? "displaybrush" : "setdrawtagsdefault", [&] {
      int n = 0;
      if (id) vm_pushnumber(vm.L, id), vm_pushnumber(vm.L, x), vm_pushnumber(vm.L, y), n = 3;
      vm_newtable(vm.L);
      vm.Set("tint", 128), vm.Set("tintcolor", 0x0000FF), vm.Set("anchorx", 0.5), vm.Set("anchory", 0.5);
      return n + 1;
    });
  };
  ASSERT_EQ(tint(1, 10, 10).code, 0u);  // tinted and anchored in its middle by its own tags
  const uint32_t tinted = DisplayVm::BitmapPixel(vm.d->backgroundCopy, 10, 10);
  EXPECT_NE(tinted, 0xC08040u);
  ASSERT_EQ(tint(0, 0, 0).code, 0u);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 30, 20}).code, 0u);  // the same by default
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 30, 20), tinted);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 26, 17), tinted);   // top-left of the 9 x 7
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 25, 16), 0x102030u);
  // Refused tables leave the defaults as they were.
  EXPECT_EQ(vm.Call("SetDrawTagsDefault", {1}).code, ERR_TABEXPECTED);
  EXPECT_EQ(vm.CallWith("setdrawtagsdefault", [&] {
    vm_newtable(vm.L);
    vm.Set("anchorx", 2);
    return 1;
  }).code, ERR_WRONGUSAGE);
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 10, 25}).code, 0u);
  EXPECT_EQ(DisplayVm::BitmapPixel(vm.d->backgroundCopy, 6, 22), tinted);
}

}  // namespace
