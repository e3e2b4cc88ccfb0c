// Anims through the real player: a GIF animation that Pillow made is loaded, read back frame by
// frame, played, given a delay and saved; Pillow decodes the saved file, and every pixel and
// delay must be what the animation holds.
#include <cstdio>
#include <sstream>

#include "tests/player/e2e_util.h"

namespace {

const std::string kGifs = "/usr/bin/python3 " QM_SOURCE_DIR "/tests/media/animcore/anim_gifs.py";

// The colours the fixture's frames show left and right of column 4 (anim_gifs.py).
constexpr uint32_t kLeft[] = {0xF80000, 0x00FC00, 0x0000F8};
constexpr uint32_t kRight[] = {0xF8F800, 0x808080, 0xF800F8};

std::string RunCommand(const std::string &command) {
  std::string out;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// A colour as the saved GIF holds it: the quantizer's palette entries are the centres of its
// 5-6-5 cells.
uint32_t CellCentre(uint32_t c) {
  const uint32_t r = (c >> 16 & 0xF8) + 4, g = (c >> 8 & 0xFC) + 2, b = (c & 0xF8) + 4;
  return r << 16 | g << 8 | b;
}

// The lines Pillow's dump of a saved strip.gif must print with these delays.
std::string ExpectedDump(const std::vector<int> &delays) {
  std::string out;
  for (size_t i = 0; i < delays.size(); i++) {
    out += std::to_string(delays[i]);
    for (int y = 0; y < 6; y++)
      for (int x = 0; x < 8; x++) {
        char px[8];
        std::snprintf(px, sizeof px, "%06X", CellCentre(x < 4 ? kLeft[i] : kRight[i]));
        out += std::string(" ") + px;
      }
    out += "\n";
  }
  return out;
}

}  // namespace

TEST(E2eAnim, LoadPlayAndSaveAGif) {
  PlayerDir d;
  if (RunCommand(kGifs + " make " + d / "" + " && echo ok") != "ok\n") GTEST_SKIP() << "python3-pil is missing";
  const std::string in = d / "strip.gif", out = d / "out.gif";
  const std::string script = ScriptOf({
      {false, "LoadAnim", {1, in}},
      {false, "GetAnimFrame", {2, 2, 1}},
      {true, "ReadBrushPixel", {2, 5, 1}},
      {true, "IsAnim", {in}},
      {false, "PlayAnim", {1, 0.0, 0.0}},
      {false, "PlayAnim", {1, -4, 3, 0.0, 2}},
      {false, "SetAnimFrameDelay", {1, 2, 250}},
      {false, "SaveAnim", {1, out}},
      {false, "FreeAnim", {1}},
  });
  qmtools::WriteBytes(d / "a.qma", AppletOf(script));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // ReadBrushPixel gives the colour and -1 for a brush without mask or alpha channel.
  EXPECT_EQ(r.out, std::to_string(kRight[1]) + " -1\n1\n");
  EXPECT_EQ(RunCommand(kGifs + " dump " + out), ExpectedDump({100, 250, 300}));
}

// Errors a script sees, each stopping the program with its message and line.
TEST(E2eAnim, ErrorsNameTheirArguments) {
  PlayerDir d;
  struct Case {
    const char *name;
    std::vector<ScriptLine> lines;
    std::string expected;
  } cases[] = {
      {"missing anim", {{false, "FreeAnim", {7}}}, "f.qms:1: Could not find anim 7!\n"},
      {"negative delay first", {{false, "SetAnimFrameDelay", {7, 1, -1}}}, "f.qms:1: Wrong usage/parameters for this command!\nRead the documentation!\n"},
      {"unknown format", {{false, "IsAnim", {"nothing.gif"}}, {false, "LoadAnimFrame", {1, 1, d / "a.qma"}}},
       "f.qms:2: Animation file \"a.qma\" is in an unknown/unsupported format!\n"},
  };
  for (const Case &c : cases) {
    qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(c.lines)));
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
    EXPECT_EQ(r.status, 1) << c.name << r.err;
    EXPECT_EQ(r.out, c.expected) << c.name;
  }
}
