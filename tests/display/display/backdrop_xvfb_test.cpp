// What a full screen shows around a smaller display (the applet's backfill), a display that
// takes the desktop as its picture, and a window shaped by its picture's mask: each read back
// from an X server of the test's own with xwd.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "display/display/displaylib.h"
#include "display/displayops.h"
#include "display/displaywindow.h"
#include "display/scene.h"
#include "player/event/event_pump.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/rttags.h"
#include "tests/display/display/window_dump.h"
#include "tests/display/display_vm.h"
#include "tests/platform/tempdir.h"
#include "tests/platform/xvfb_server.h"

namespace {

constexpr int kScreenW = 800, kScreenH = 600;  // the size StartXvfb gives its screen

// An X server of the test's own as the display; skip() when there is none or no xwd.
struct XServer {
  int number = 0;
  ServerGuard guard{StartXvfb(&number)};
  std::string name;
  bool usable() {
    if (guard.pid < 0 || access("/usr/bin/xwd", X_OK) != 0) return false;
    name = ":" + std::to_string(number);
    setenv("DISPLAY", name.c_str(), 1);
    return true;
  }
};

// A window manager on the server, for windows that cover the screen (the server alone does not
// honour a full-screen request); ended with the test. Ready once it has run its start-up
// command: it names itself on the root window earlier, while still starting, and a window
// mapped in that gap may never be mapped at all (the window system's wait for it then never
// ends). False when there is none to start.
struct WindowManager {
  pid_t pid = -1;
  TempDir signDir;
  bool Start() {
    if (access("/usr/bin/openbox", X_OK) != 0 || signDir.path().empty()) return false;
    const std::string sign = signDir / "started";
    const std::string startup = "touch " + sign;
    pid = fork();
    if (pid == 0) {
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      dup2(devnull, 2);
      execl("/usr/bin/openbox", "openbox", "--sm-disable", "--startup", startup.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    if (pid < 0) return false;
    for (int i = 0; i < 2400; i++) {
      if (access(sign.c_str(), F_OK) == 0) return true;
      if (waitpid(pid, nullptr, WNOHANG) == pid) {
        pid = -1;
        return false;
      }
      usleep(25000);  // polled for the sign, up to a minute on a busy machine
    }
    return false;
  }
  ~WindowManager() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
};

// Lets the window system map and draw what the player put in its windows.
void Settle(DisplayVm &vm) {
  for (int i = 0; i < 10; i++) WaitEvents(vm.L, 20);
  for (qmDisplay *d = vm.Scene()->displays; d; d = d->next)
    if (d->state == DISPSTATE_OPEN) {
      RefreshDisplay(vm.Scene(), d, 0);
      FlushDisplayWindow(d);
    }
  for (int i = 0; i < 5; i++) WaitEvents(vm.L, 20);
}

// A 24-bit BMP of w x h 0xRRGGBB pixels (rows top to bottom), written byte by byte.
void WriteBmp(const std::string &path, int w, int h, const std::vector<uint32_t> &px) {
  const int rowBytes = (w * 3 + 3) & ~3;
  const uint32_t size = uint32_t(54 + rowBytes * h);
  std::vector<uint8_t> b(size, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put32(2, size), put32(10, 54), put32(14, 40), put32(18, uint32_t(w)), put32(22, uint32_t(h));
  b[26] = 1, b[28] = 24;
  put32(34, uint32_t(rowBytes * h));
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint32_t p = px[size_t(y * w + x)];
      uint8_t *at = &b[54 + size_t((h - 1 - y) * rowBytes + x * 3)];
      at[0] = uint8_t(p), at[1] = uint8_t(p >> 8), at[2] = uint8_t(p >> 16);
    }
  FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

// Brush 5: the 3 x 2 opaque 0xRRGGBB pixels, rows top to bottom. The command's error code.
uint32_t MakeTextureBrush(DisplayVm &vm, const std::vector<uint32_t> &px) {
  return vm.CallWith("rgbarraytobrush", [&] {
    vm_pushnumber(vm.L, 5);
    vm_newtable(vm.L);
    for (size_t i = 0; i < px.size(); i++) {
      vm_pushnumber(vm.L, 0xFF000000u | px[i]);
      vm_rawseti(vm.L, -2, int(i));
    }
    vm_pushnumber(vm.L, 3);
    vm_pushnumber(vm.L, 2);
    return 4;
  }).code;
}

TEST(XvfbBackdrop, FullScreenBarsShowTheBackfill) {
  XServer x;
  if (!x.usable()) GTEST_SKIP() << "no Xvfb or xwd here";
  WindowManager wm;
  if (!wm.Start()) GTEST_SKIP() << "no window manager to make a window cover the screen";
  TempDir dir;
  // A 3x2 texture and a 4x4 picture whose top-left pixel is keyed out.
  const std::vector<uint32_t> texture = {0x112233, 0x445566, 0x778899, 0xAABBCC, 0xDDEEFF, 0x013579};
  std::vector<uint32_t> picture(16);
  for (int i = 0; i < 16; i++) picture[size_t(i)] = 0x200000u * uint32_t(i % 4 + 1) + 0x2000u * uint32_t(i / 4 + 1) + 0x40;
  picture[0] = 0xFF00FF;
  const std::string file = dir.path() + "/picture.bmp";
  WriteBmp(file, 4, 4, picture);
  constexpr uint32_t kGround = 0x102030, kDisplayColor = 0xC0FFEE;
  // The display is 400 x 200: on the 800 x 600 screen it is shown at 800 x 400 between bars of
  // 100 rows above and below.
  struct Probe {
    int x, y;
    uint32_t want;
  };
  struct Row {
    const char *name;
    std::function<void(qmBackfillSettings &)> set;
    bool forced;
    std::vector<Probe> probes;
  } rows[] = {
      {"colour", [](qmBackfillSettings &b) { b.type = BACKFILL_COLOR, b.startColor = 0x33AA55; }, false,
       {{400, 50, 0x33AA55}, {10, 590, 0x33AA55}, {400, 300, kDisplayColor}}},
      {"texture of a brush", [](qmBackfillSettings &b) { b.type = BACKFILL_TEXTURE, b.brush = {5, 0}; }, false,
       {{0, 0, texture[0]}, {4, 1, texture[4]}, {302, 99, texture[5]}, {7, 500, texture[1]}, {400, 300, kDisplayColor}}},
      {"picture from a file on a colour",
       [&](qmBackfillSettings &b) {
         b.type = BACKFILL_PICTURE, b.startColor = kGround, b.pictureX = 0, b.pictureY = 0;
         b.transparentColor = 0xFF00FF;
         std::snprintf(b.brushFile, sizeof b.brushFile, "%s", file.c_str());
       },
       false, {{0, 0, kGround}, {1, 0, picture[1]}, {3, 3, picture[15]}, {4, 0, kGround}, {400, 580, kGround}}},
      {"start mode chose black bars", [](qmBackfillSettings &b) { b.type = BACKFILL_COLOR, b.startColor = 0x33AA55; },
       true, {{400, 50, 0}, {400, 300, kDisplayColor}}},
  };
  [[maybe_unused]] LeakCheckPause pause;
  // One player for every row: a window system that manages windows may take a new client's
  // window for one of a client gone just before it, whose ids the server hands out again.
  DisplayVm vm("x11");
  ASSERT_EQ(MakeTextureBrush(vm, texture), 0u);
  ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 400), vm.Set("height", 200), vm.Set("color", kDisplayColor); }).code,
            0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  for (const Row &r : rows) {
    qmBackfillSettings &b = vm.Scene()->backfill;
    b = {};
    b.startColor = b.endColor = b.transparentColor = kNoBackfillColor;
    r.set(b);
    vm.Scene()->backfillForced = r.forced ? 1 : 0;
    ASSERT_EQ(vm.Call("ChangeDisplayMode", {2, 400, 200}).code, 0u) << r.name;
    Settle(vm);
    WindowDump dump;
    ASSERT_TRUE(DumpScreen(x.name, dir.path() + "/screen.xwd", &dump)) << r.name;
    ASSERT_EQ(dump.width * 1000 + dump.height, uint32_t(kScreenW * 1000 + kScreenH));
    for (const Probe &p : r.probes)
      EXPECT_EQ(dump.At(uint32_t(p.x), uint32_t(p.y)), p.want) << r.name << " at " << p.x << "," << p.y;
    // Windowed again, the picture made for the full screen goes.
    ASSERT_EQ(vm.Call("ChangeDisplayMode", {1}).code, 0u) << r.name;
    EXPECT_EQ(vm.Scene()->backfillPicture, nullptr) << r.name;
  }
}

TEST(XvfbBackdrop, MissingBackfillPictureFailsTheSwitch) {
  XServer x;
  if (!x.usable()) GTEST_SKIP() << "no Xvfb or xwd here";
  [[maybe_unused]] LeakCheckPause pause;
  DisplayVm vm("x11");
  ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 400), vm.Set("height", 200); }).code, 0u);
  qmBackfillSettings &b = vm.Scene()->backfill;
  b.type = BACKFILL_TEXTURE;
  b.brush = {9, 0};
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  EXPECT_EQ(vm.Call("ChangeDisplayMode", {2, 400, 200}).code, uint32_t(ERR_FINDBRUSH));
  EXPECT_EQ(DisplayVm::Display(1)->state, uint32_t(DISPSTATE_OPEN)) << "the display stays open";
}

TEST(XvfbBackdrop, DesktopModeShowsTheDesktopAsItWas) {
  XServer x;
  if (!x.usable()) GTEST_SKIP() << "no Xvfb or xwd here";
  TempDir dir;
  [[maybe_unused]] LeakCheckPause pause;
  DisplayVm vm("x11");
  // The desktop: the server's black root with a gradient window of another display on it.
  ASSERT_EQ(vm.Create(2, [&] {
    vm.Set("width", 200), vm.Set("height", 150), vm.Set("borderless", 1), vm.Set("x", 30), vm.Set("y", 40),
        vm.Set("fillstyle", 2), vm.Set("gradientstartcolor", 0xFF2000), vm.Set("gradientendcolor", 0x0030FF);
  }).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {2}).code, 0u);
  Settle(vm);
  WindowDump before;
  ASSERT_TRUE(DumpScreen(x.name, dir.path() + "/before.xwd", &before));
  int ox = 0, oy = 0;
  SDL_GetWindowPosition(DisplayVm::Display(2)->platform->window, &ox, &oy);
  ASSERT_TRUE(ox >= 0 && oy >= 0 && ox + 200 <= kScreenW && oy + 150 <= kScreenH) << ox << "," << oy;
  ASSERT_NE(before.At(uint32_t(ox + 100), uint32_t(oy + 75)), 0u) << "the other window is on the desktop";
  ASSERT_EQ(vm.Create(1, [&] {
    vm.Set("width", kScreenW), vm.Set("height", kScreenH), vm.Set("private2", 1), vm.Set("sizeable", 1);
  }).code, 0u);
  ASSERT_EQ(OpenFirstDisplay(vm.L, 2, 0, 0), 0u);
  qmDisplay *d = DisplayVm::Display(1);
  EXPECT_EQ(d->flags, uint32_t(DISPF_ACTIVE | DISPF_NOHIDE | DISPF_NOMODESWITCH | DISPF_FIXED | DISPF_BORDERLESS));
  EXPECT_EQ(vm.Scene()->fullScreen, 0u) << "desktop mode opens a window over the desktop";
  int differing = 0;
  for (int y = 0; y < kScreenH; y += 3)
    for (int x2 = 0; x2 < kScreenW; x2 += 3)
      differing += DisplayVm::BitmapPixel(d->bgpic->master.bitmap, x2, y) != before.At(uint32_t(x2), uint32_t(y));
  EXPECT_EQ(differing, 0) << "the picture is the desktop";
  Settle(vm);
  WindowDump after;
  ASSERT_TRUE(DumpScreen(x.name, dir.path() + "/after.xwd", &after));
  differing = 0;
  for (int y = 0; y < kScreenH; y += 3)
    for (int x2 = 0; x2 < kScreenW; x2 += 3) differing += after.At(uint32_t(x2), uint32_t(y)) != before.At(uint32_t(x2), uint32_t(y));
  EXPECT_EQ(differing, 0) << "the window over the desktop shows it unchanged";
}

TEST(XvfbBackdrop, AMaskShapesTheWindow) {
  XServer x;
  if (!x.usable()) GTEST_SKIP() << "no Xvfb or xwd here";
  TempDir dir;
  [[maybe_unused]] LeakCheckPause pause;
  WindowDump root;
  ASSERT_TRUE(DumpScreen(x.name, dir.path() + "/root.xwd", &root));
  DisplayVm vm("x11");
  // A 64 x 48 picture whose mask shows its left half and a 10-row band at the bottom.
  constexpr int W = 64, H = 48;
  auto shown = [](int px, int py) { return px < W / 2 || py >= H - 10; };
  ASSERT_EQ(vm.CallWith("rgbarraytobrush",
                        [&] {
                          vm_pushnumber(vm.L, 1);
                          vm_newtable(vm.L);
                          for (int i = 0; i < W * H; i++) {
                            const int px = i % W, py = i / W;
                            vm_pushnumber(vm.L, (shown(px, py) ? 0xFF000000u : 0u) | 0x00C8A0u | uint32_t(px * 3) << 16);
                            vm_rawseti(vm.L, -2, i);
                          }
                          vm_pushnumber(vm.L, W);
                          vm_pushnumber(vm.L, H);
                          vm_pushnumber(vm.L, 28);  // a mask
                          return 5;
                        })
                .code,
            0u);
  ASSERT_EQ(vm.Call("BrushToBGPic", {1, 2}).code, 0u);
  ASSERT_EQ(vm.Create(1, [&] { vm.Set("bgpic", 2), vm.Set("borderless", 1), vm.Set("x", 100), vm.Set("y", 80); }).code,
            0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  Settle(vm);
  qmDisplay *d = DisplayVm::Display(1);
  int wx = 0, wy = 0;
  SDL_GetWindowPosition(d->platform->window, &wx, &wy);
  ASSERT_TRUE(wx >= 0 && wy >= 0 && wx + W <= kScreenW && wy + H <= kScreenH) << wx << "," << wy;
  WindowDump dump;
  ASSERT_TRUE(DumpScreen(x.name, dir.path() + "/screen.xwd", &dump));
  int wrong = 0;
  for (int py = 0; py < H; py++)
    for (int px = 0; px < W; px++) {
      const uint32_t want = shown(px, py) ? (0x00C8A0u | uint32_t(px * 3) << 16) : root.At(uint32_t(wx + px), uint32_t(wy + py));
      wrong += dump.At(uint32_t(wx + px), uint32_t(wy + py)) != want;
    }
  EXPECT_EQ(wrong, 0) << "of " << W * H << " pixels at " << wx << "," << wy;
}

// A windowed applet's backfill fills the screen behind its window: a display of its own,
// opened first, so that the applet's window stays on top of it.
TEST(XvfbBackdrop, WindowedBackfillFillsTheScreenBehindTheWindow) {
  const std::vector<uint32_t> texture = {0x112233, 0x445566, 0x778899, 0xAABBCC, 0xDDEEFF, 0x013579};
  constexpr uint32_t kDisplayColor = 0xC0FFEE;
  const struct {
    const char *name;
    uint32_t type, color;
    // The backfill at a point of the backdrop, from the settings alone.
    std::function<uint32_t(int, int)> want;
  } rows[] = {
      {"colour", BACKFILL_COLOR, 0x33AA55, [](int, int) { return 0x33AA55u; }},
      // The 3 x 2 brush tiled from the backdrop's top-left corner.
      {"texture of a brush", BACKFILL_TEXTURE, kNoBackfillColor,
       [&](int bx, int by) { return texture[size_t(bx % 3 + by % 2 * 3)]; }},
  };
  for (const auto &r : rows) {
    XServer x;
    if (!x.usable()) GTEST_SKIP() << "no Xvfb or xwd here";
    TempDir dir;
    [[maybe_unused]] LeakCheckPause pause;
    DisplayVm vm("x11");
    ASSERT_EQ(MakeTextureBrush(vm, texture), 0u);
    ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 400), vm.Set("height", 200), vm.Set("color", kDisplayColor); }).code,
              0u);
    qmBackfillSettings &b = vm.Scene()->backfill;
    b.type = r.type;
    b.startColor = r.color;
    b.brush = {5, 0};
    ASSERT_EQ(OpenFirstDisplay(vm.L, 1, -1, -1), 0u) << r.name;
    Settle(vm);
    qmDisplay *backdrop = vm.Scene()->displays;
    ASSERT_TRUE(backdrop->private1) << r.name;
    const int top = backdrop->y;
    int wx = 0, wy = 0;
    SDL_GetWindowPosition(DisplayVm::Display(1)->platform->window, &wx, &wy);
    ASSERT_TRUE(wx > 10 && wy > top + 10 && wx + 410 < kScreenW && wy + 210 < kScreenH) << wx << "," << wy;
    WindowDump dump;
    ASSERT_TRUE(DumpScreen(x.name, dir.path() + "/screen.xwd", &dump)) << r.name;
    ASSERT_EQ(dump.width * 1000 + dump.height, uint32_t(kScreenW * 1000 + kScreenH));
    int wrong = 0, probed = 0;
    for (int sy = top; sy < kScreenH; sy += 7)
      for (int sx = 0; sx < kScreenW; sx += 5) {
        const bool inWindow = sx >= wx && sx < wx + 400 && sy >= wy && sy < wy + 200;
        const uint32_t want = inWindow ? kDisplayColor : r.want(sx, sy - top);
        wrong += dump.At(uint32_t(sx), uint32_t(sy)) != want;
        probed++;
      }
    EXPECT_EQ(wrong, 0) << r.name << ": of " << probed << " probes";
  }
}

}  // namespace
