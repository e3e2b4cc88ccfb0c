// Brushes on the system clipboard of an X server of its own: SetClipboard's picture read by
// xclip and PIL, and a picture that xclip put there made into a brush by GetClipboard.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "platform/helperprogram.h"
#include "player/clargs.h"
#include "player/playerrun.h"
#include "player/wiring.h"
#include "runtime/errcodes.h"
#include "tests/display/display_vm.h"
#include "tests/platform/xvfb_server.h"

namespace {

enum : int32_t { kClipImage = 2 };

const std::string kPeer = std::string(QM_SOURCE_DIR) + "/tests/display/brush/clipboard_peer.py";

// PIL's picture: size, mode and 0xAARRGGBB words.
struct PeerPicture {
  int width = 0, height = 0;
  std::string mode;
  std::vector<uint32_t> pixels;
};

PeerPicture ParsePeer(const std::string &text) {
  PeerPicture p;
  std::istringstream in(text);
  in >> p.width >> p.height >> p.mode;
  for (std::string word; in >> word;) p.pixels.push_back(uint32_t(std::stoul(word, nullptr, 16)));
  return p;
}

class ClipboardBrush : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HelperProgramAvailable("xclip")) GTEST_SKIP() << "no xclip";
    if (std::system("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) GTEST_SKIP() << "no python3-pil";
    int number = 0;
    xvfb.pid = StartXvfb(&number);
    if (xvfb.pid < 0) GTEST_SKIP() << "Xvfb cannot start here";
    setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
    vm = std::make_unique<DisplayVm>("x11");
    run.args = &args;
    WirePlayerContext(vm->L, &run);
  }
  void TearDown() override {
    if (vm) UnwirePlayerContext(vm->L);
    vm.reset();
  }
  static std::string Output(const std::vector<std::string> &argv, const std::string *input = nullptr) {
    qmHelperRun r = RunHelperProgram(argv, input, nullptr);
    EXPECT_TRUE(r.started) << argv[0];
    return r.output;
  }
  ServerGuard xvfb{-1};
  [[maybe_unused]] LeakCheckPause pause;
  qmClArgs args{};
  qmPlayerRun run{};
  std::unique_ptr<DisplayVm> vm;
};

TEST_F(ClipboardBrush, SetClipboardPutsTheBrushThereAsPng) {
  // Alpha values per column; the brush without an alpha channel is written without one.
  const int alphas[4] = {255, 128, 1, 0};
  struct Case {
    const char *name;
    bool alpha;
    const char *mode;
  } cases[] = {{"alpha channel", true, "RGBA"}, {"plain", false, "RGB"}};
  int id = 1;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(vm->CallWith("createbrush", [&] {
      vm_pushnumber(vm->L, id), vm_pushnumber(vm->L, 4), vm_pushnumber(vm->L, 3), vm_pushnumber(vm->L, 0);
      vm_newtable(vm->L);
      vm->Set("alphachannel", c.alpha);
      return 5;
    }).code, 0u);
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < 4; x++) {
        std::vector<CmdArg> a = {id, x, y, double(0x102030 + 0x300000 * x + 0x40 * y)};
        if (c.alpha) a.push_back(alphas[x]);
        ASSERT_EQ(vm->Call("WriteBrushPixel", a).code, 0u);
      }
    ASSERT_EQ(vm->Call("SetClipboard", {kClipImage, id}).code, 0u);
    const std::string png = Output({"xclip", "-selection", "clipboard", "-t", "image/png", "-o"});
    const PeerPicture p = ParsePeer(Output({"/usr/bin/python3", kPeer, "read"}, &png));
    ASSERT_EQ(p.width, 4);
    ASSERT_EQ(p.height, 3);
    EXPECT_EQ(p.mode, c.mode);
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < 4; x++) {
        const uint32_t got = p.pixels.at(size_t(y * 4 + x));
        const uint32_t a = c.alpha ? uint32_t(alphas[x]) : 255;
        EXPECT_EQ(got >> 24, a) << x << "," << y;
        if (a) {
          EXPECT_EQ(got & 0xFFFFFF, uint32_t(0x102030 + 0x300000 * x + 0x40 * y)) << x << "," << y;
        }
      }
    id++;
  }
  EXPECT_EQ(vm->Call("SetClipboard", {kClipImage, 9}).code, ERR_FINDBRUSH);
}

TEST_F(ClipboardBrush, GetClipboardMakesABrushOfThePicture) {
  for (const char *mode : {"RGBA", "RGB"}) {
    SCOPED_TRACE(mode);
    const std::string file = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/qm_clip_" +
                             std::to_string(getpid()) + ".png";
    const PeerPicture p = ParsePeer(Output({"/usr/bin/python3", kPeer, "make", file, mode}));
    ASSERT_EQ(p.width, 5);
    Output({"xclip", "-selection", "clipboard", "-t", "image/png", "-i", file});
    std::remove(file.c_str());
    EXPECT_EQ(vm->Call("PeekClipboard", {}).results.at(0), kClipImage);

    VmState *L = vm->L;
    vm_settop(L, 0);
    vm_pushstring(L, "getclipboard");
    vm_gettable(L, VM_GLOBALSINDEX);
    ASSERT_EQ(vm_pcall(L, 0, VM_MULTRET, 0), 0);
    ASSERT_EQ(vm_gettop(L), 2);
    EXPECT_EQ(vm_tonumber(L, 1), kClipImage);
    void *brush = vm_touserdata(L, 2);
    ASSERT_NE(brush, nullptr);
    vm_settop(L, 0);
    auto read = [&](int x, int y) {
      CommandCall r = vm->CallWith("readbrushpixel", [&] {
        vm_pushlightuserdata(L, brush), vm_pushnumber(L, x), vm_pushnumber(L, y);
        return 3;
      });
      EXPECT_EQ(r.code, 0u);
      return r.results;
    };
    const bool alpha = std::string(mode) == "RGBA";
    for (int y = 0; y < p.height; y++)
      for (int x = 0; x < p.width; x++) {
        const uint32_t want = p.pixels.at(size_t(y * p.width + x));
        const std::vector<double> got = read(x, y);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[1], alpha ? double(want >> 24) : -1.0) << x << "," << y;
        if (want >> 24) {
          EXPECT_EQ(got[0], double(want & 0xFFFFFF)) << x << "," << y;
        }
      }
    EXPECT_EQ(vm->CallWith("freebrush", [&] {
      vm_pushlightuserdata(L, brush);
      return 1;
    }).code, 0u);
  }
}

}  // namespace
