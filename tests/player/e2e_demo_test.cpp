// The demo applet that ./run plays, run by the real player: in a window on an X server of its
// own, ended with Escape, and where no display can show a window, telling so on standard
// output. Its heart is a vector path, so the vector plug-in goes beside the player as ./run has
// it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/platform/xvfb_server.h"
#include "tests/player/e2e_util.h"

namespace {

const std::string kDemo = std::string(QM_BINARY_DIR) + "/demo/demo.qma";
const std::string kTitle = "QuenmoorPlayer demo: a transition, layers, a vector path and an anim\n";

// A player folder as the build leaves it: the player with the vector plug-in beside it.
void AddVectorPlugin(const PlayerDir &d) { std::filesystem::copy_file(QM_VECTOR_PLUGIN, d / "vectorcairo.qmp"); }

// Headless: the dummy driver, or no X or Wayland display at all (the desktop layer then falls
// back to drawing off screen). The scene is drawn all the same and counted: the six shapes,
// text and brushes, the heart and the anim's layer.
TEST(E2eDemo, WithoutADisplayItReportsOnStandardOutput) {
  struct Case {
    const char *name;
    std::vector<std::string> env;
  };
  const Case cases[] = {
      {"dummy driver", {}},
      // The libraries the desktop layer probes on its way to drawing off screen keep some
      // blocks to the end; the dummy run checks the player's own leaks.
      {"no display", {"SDL_VIDEODRIVER=", "DISPLAY=", "WAYLAND_DISPLAY=", "ASAN_OPTIONS=detect_leaks=0"}},
  };
  for (const Case &c : cases) {
    PlayerDir d;
    AddVectorPlugin(d);
    std::vector<std::string> env = c.env;
    PlayerResult r = d.Run({"-s", "KILL", "300", d.player(), "-QUIET", kDemo}, env, "/usr/bin/timeout");
    EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, kTitle + "No display to show the window on: drawn off screen, 8 layers.\n") << c.name;
  }
  // Not quiet, the start-up's status lines end with the first display; the script's own
  // commands (SetFont's font) then print none.
  PlayerDir d;
  AddVectorPlugin(d);
  PlayerResult r = d.Run({"-s", "KILL", "300", d.player(), kDemo}, {}, "/usr/bin/timeout");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string end = "Preparing display...done\nAnd Action!\n" + kTitle + "No display";
  EXPECT_NE(r.out.find(end), std::string::npos) << r.out;
}

// Without the vector plug-in the demo stops at its heart with the plug-in's error, after the
// title and before claiming a scene.
TEST(E2eDemo, WithoutTheVectorPluginItStopsAtThePath) {
  PlayerDir d;
  PlayerResult r = d.Run({"-s", "KILL", "300", d.player(), "-QUIET", kDemo}, {}, "/usr/bin/timeout");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kTitle);
  EXPECT_EQ(r.err,
            "This functionality requires a vectorgraphics plugin to be installed!\n"
            "File: demo.qms (current line: 31 - In function: DrawPath)\n");
}

// A console start says nothing on standard error: no desktop library complains while the
// player looks for a display.
TEST(E2eDemo, AHeadlessStartIsSilentOnStandardError) {
  PlayerDir d;
  AddVectorPlugin(d);
  PlayerResult r = d.Run({"-s", "KILL", "300", d.player(), "-QUIET", kDemo},
                         {"SDL_VIDEODRIVER=", "DISPLAY=", "WAYLAND_DISPLAY=", "XDG_RUNTIME_DIR=",
                          "ASAN_OPTIONS=detect_leaks=0"},
                         "/usr/bin/timeout");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// A screenshot in X's window dump format: the header's words are big-endian.
struct WindowDump {
  std::vector<unsigned char> bytes;
  uint32_t Word(int i) const {
    const unsigned char *p = bytes.data() + 4 * i;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  }
  bool Valid() const { return bytes.size() >= 100 && bytes.size() >= Offset(0, 0) + Word(12) * Word(5); }
  int Width() const { return int(Word(4)); }
  int Height() const { return int(Word(5)); }
  size_t Offset(int x, int y) const {
    return Word(0) + Word(19) * 12 + size_t(y) * Word(12) + size_t(x) * (Word(11) / 8);
  }
  // 0xRRGGBB of a 24- or 32-bit dump in the server's least-significant-first byte order.
  uint32_t Pixel(int x, int y) const {
    const unsigned char *p = bytes.data() + Offset(x, y);
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
};

// In a real window: after the picture's transition the layers are on the screen where the
// script put them, in its colours, the anim playing, and Escape ends the player normally.
TEST(E2eDemo, InAWindowItShowsItsLayersAndEndsOnEscape) {
  int number = 0;
  pid_t xvfb = StartXvfb(&number);
  if (xvfb < 0) GTEST_SKIP() << "Xvfb cannot start here";
  ServerGuard server{xvfb};
  if (access("/usr/bin/xdotool", X_OK) != 0 || access("/usr/bin/xwd", X_OK) != 0)
    GTEST_SKIP() << "no xdotool or xwd";
  const std::string display = ":" + std::to_string(number);
  PlayerDir d;
  AddVectorPlugin(d);
  const std::string shot = d / "shot.xwd";
  // The sign that the scene is on the screen: a dump of 640 x 480 in which the round box shows
  // its colour and the top layer's inner square is whole.
  const std::string drawn = d / "drawn.py";
  std::ofstream(drawn) << "import struct, sys\n"
                          "b = open(sys.argv[1], 'rb').read()\n"
                          "if len(b) < 100: sys.exit(1)\n"
                          "w = struct.unpack('>25I', b[:100])\n"
                          "def px(x, y):\n"
                          "    o = w[0] + w[19] * 12 + y * w[12] + x * (w[11] // 8)\n"
                          "    p = b[o:o + 3]\n"
                          "    return p[2] << 16 | p[1] << 8 | p[0] if len(p) == 3 else -1\n"
                          "ok = w[4] == 640 and w[5] == 480 and w[11] >= 24 and px(310, 145) == 0xC03040 and \\\n"
                          "    sum(px(x, y) == 0x2050FF for y in range(368, 416) for x in range(640)) == 48 * 48\n"
                          "sys.exit(0 if ok else 1)\n";
  // Waits for the window, then until it is drawn, dumps it and presses Escape in it.
  pid_t presser = fork();
  if (presser == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    // The scene is complete once the demo says how it ends and the window shows it: dumps are
    // taken until one does (the last one stays for the checks). The player's window is found
    // anew each time: a first window may come and go at start-up.
    const std::string script =
        "exec 2>/dev/null; find() { xdotool search --onlyvisible --name '^Quenmoor' | tail -1; }; "
        "for i in $(seq 1200); do grep -q 'close box' " + (d / "stdout.txt") +
        " && [ -n \"$(find)\" ] && break; sleep 0.1; done; "
        "for i in $(seq 600); do xwd -silent -id $(find) > " + shot + " && python3 " + drawn + " " + shot +
        " && break; sleep 0.2; done; "
        "while true; do xdotool windowfocus --sync $(find) key Escape; sleep 0.5; done";
    execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  // The X libraries keep allocations to the end of the process; the headless runs above check
  // the player's own.
  PlayerResult r = d.Run({"-s", "KILL", "300", d.player(), "-QUIET", kDemo},
                         {"SDL_VIDEODRIVER=x11", "DISPLAY=" + display, "ASAN_OPTIONS=detect_leaks=0"},
                         "/usr/bin/timeout");
  kill(presser, SIGKILL);
  waitpid(presser, nullptr, 0);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kTitle + "Escape or the close box ends the demo.\n");

  std::ifstream in(shot, std::ios::binary);
  WindowDump dump{std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {})};
  ASSERT_TRUE(dump.Valid()) << "no window dump";
  ASSERT_EQ(dump.Width(), 640);
  ASSERT_EQ(dump.Height(), 480);
  ASSERT_GE(dump.Word(11), 24u);
  // Opaque layers show their own colours: the round box, the ellipse and the brush's opaque
  // middle (its pixel alpha 255).
  EXPECT_EQ(dump.Pixel(310, 145), 0xC03040u);
  EXPECT_EQ(dump.Pixel(510, 170), 0x30C070u);
  EXPECT_EQ(dump.Pixel(99, 139), 0xFFB020u);
  // The heart filled by the vector plug-in, and the anim's disc: its middle is covered in
  // every frame, whichever one is showing.
  EXPECT_EQ(dump.Pixel(310, 280), 0xFF70B0u);
  EXPECT_EQ(dump.Pixel(510, 286), 0xFFF060u);
  // The brush's outer ring is half transparent: neither its colour nor the background.
  const uint32_t ring = dump.Pixel(45, 139);
  EXPECT_NE(ring, 0xFFB020u);
  EXPECT_GT((ring >> 16) & 0xFF, 0x60u);
  // The text is white ink in its band, the moving brush somewhere on its track.
  int white = 0, blue = 0;
  for (int y = 24; y < 64; y++)
    for (int x = 100; x < 540; x++) white += dump.Pixel(x, y) == 0xFFFFFFu;
  for (int y = 368; y < 416; y++)
    for (int x = 0; x < 640; x++) blue += dump.Pixel(x, y) == 0x2050FFu;
  EXPECT_GT(white, 100);
  EXPECT_EQ(blue, 48 * 48);  // the top layer: nothing covers its inner square
}

}  // namespace
