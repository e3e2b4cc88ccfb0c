// Anims through the real player: a GIF animation that Pillow made is loaded, read back frame by
// frame, played, given a delay and saved; Pillow decodes the saved file, and every pixel and
// delay must be what the animation holds.
#include <cmath>
#include <cstdio>
#include <vector>

#include "tests/media/animcore/anim_test_util.h"
#include "tests/player/e2e_util.h"

namespace {

// The colours of the peer's strip.gif (anim_peer.py strip): frame i shows kLeft[i] in columns
// 0..3 and kRight[i] in columns 4..7.
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

}  // namespace

TEST(E2eAnim, LoadPlayAndSaveAGif) {
  PlayerDir d;
  if (RunAnimPeer("strip " + d / "")) GTEST_SKIP() << "python3-pil is missing";
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
  // Pillow reads the saved file back: every pixel and every delay.
  EXPECT_EQ(RunCommand(std::string(kPeerPython) + " " QM_SOURCE_DIR "/tests/media/animcore/anim_peer.py gif-delays " + out),
            "100\n250\n300\n");
  ASSERT_EQ(RunAnimPeer("gif-frames " + d / "back" + " " + out), 0);
  PeerFrames back;
  ASSERT_TRUE(ReadFrames(d / "back/out.frames", &back));
  ASSERT_EQ(back.rgba.size(), 3u);
  ASSERT_EQ(back.width, 8);
  ASSERT_EQ(back.height, 6);
  for (size_t f = 0; f < 3; f++) {
    std::vector<uint32_t> expect;
    for (int y = 0; y < 6; y++)
      for (int x = 0; x < 8; x++) expect.push_back(CellCentre(x < 4 ? kLeft[f] : kRight[f]));
    EXPECT_TRUE(SameOpaquePixels(expect.data(), back, f));
    for (int i = 0; i < 48; i++) EXPECT_EQ(uint8_t(back.rgba[f][4 * i + 3]), 255) << "frame " << f << " pixel " << i;
  }
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
      // Numbers no frame or size is: refused with the argument, or the frame's own error.
      {"NaN frame",
       {{false, "CreateBrush", {1, 24, 8}}, {false, "CreateAnim", {1, 1, 8, 8, 3, 3}},
        {false, "DisplayAnimFrame", {1, 0.0, 0.0, std::nan("")}}},
       "f.qms:3: Number expected in argument 4!\n"},
      {"frame 2^31 - 1",
       {{false, "CreateBrush", {1, 24, 8}}, {false, "CreateAnim", {1, 1, 8, 8, 3, 3}},
        {false, "DisplayAnimFrame", {1, 0.0, 0.0, 2147483647.0}}},
       "f.qms:3: Specified animation frame is out of range!\n"},
      {"infinite width",
       {{false, "CreateBrush", {1, 24, 8}}, {false, "CreateAnim", {1, 1, 8, 8, 3, 3}},
        {false, "ScaleAnim", {1, HUGE_VAL, 8}}},
       "f.qms:3: Number expected in argument 2!\n"},
  };
  for (const Case &c : cases) {
    qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(c.lines)));
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
    EXPECT_EQ(r.status, 1) << c.name << r.err;
    EXPECT_EQ(r.out, c.expected) << c.name;
  }
}

// Declared anims are loaded before the script runs, in memory (their frames kept as decoded
// pixels until the first display opens) or from disk.
TEST(E2eAnim, DeclaredAnims) {
  PlayerDir d;
  if (RunAnimPeer("strip " + d / "")) GTEST_SKIP() << "python3-pil is missing";
  auto decl = [&](uint32_t id, uint8_t fromDisk) {
    qmtools::AppletDecl a;
    a.type = 2;  // an anim
    a.id = id;
    a.name = d / "strip.gif";
    a.line = 1;
    a.param1 = 0xFFFFFFFFu;  // no transparent colour
    a.typeData.push_back(fromDisk);
    for (int i = 0; i < 6; i++) a.typeData.insert(a.typeData.end(), {0, 0});  // size, frames, per row, x, y
    return a;
  };
  const std::string script = ScriptOf({
      {true, "GetAttribute", {4, 1, 11}},
      {true, "GetAttribute", {4, 2, 37, 3}},
      {false, "GetAnimFrame", {3, 2, 1}},
      {true, "ReadBrushPixel", {3, 5, 1}},
      {false, "GetAnimFrame", {4, 3, 2}},
      {true, "ReadBrushPixel", {4, 0.0, 0.0}},
  });
  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "f.qms"}}).Declarations({decl(1, 0), decl(2, 1)}).Bytecode(ChunkOf(script));
  qmtools::WriteBytes(d / "a.qma", b.Bytes());
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "3\n300\n" + std::to_string(kRight[1]) + " -1\n" + std::to_string(kLeft[2]) + " -1\n");
}

// IFF ANIM files written beside the test (anim_peer.py iff) through the player: every frame's
// pixels at a few places and every frame's delay, in memory and from disk, for a file without
// DPAN and for one whose first FORM's size is too small; a delta of another operation fails
// its frame.
TEST(E2eAnim, IffAnimFramesAndDelays) {
  PlayerDir d;
  if (RunAnimPeer("iff " + d / "iff")) GTEST_SKIP() << "python3-pil is missing";
  PeerFrames ten;
  ASSERT_TRUE(ReadFrames(d / "iff/ten.frames", &ten));
  ASSERT_EQ(ten.rgba.size(), 10u);
  const int places[][2] = {{0, 0}, {5, 3}, {36, 11}, {20, 7}};
  std::vector<ScriptLine> lines = {{false, "LoadAnim", {1, d / "iff/ten.anim"}},
                                   {false, "LoadAnim", {2, d / "iff/first_small.anim", ScriptArg::Table({{"fromdisk", 1}})}},
                                   {true, "GetAttribute", {4, 1, 11}},
                                   {true, "GetAttribute", {4, 2, 11}},
                                   // Not decoded yet: a disk anim's later frame has no delay.
                                   {true, "GetAttribute", {4, 2, 37, 5}}};
  std::string expected = "10\n10\n0\n";
  for (double id : {1, 2})
    for (int f = 1; f <= 10; f++) {
      lines.push_back({false, "GetAnimFrame", {3, double(f), id}});
      for (const auto &p : places) lines.push_back({true, "ReadBrushPixel", {3, double(p[0]), double(p[1])}});
      lines.push_back({true, "GetAttribute", {4, id, 37, double(f)}});
      for (const auto &p : places) {
        const auto *q = reinterpret_cast<const uint8_t *>(ten.rgba[size_t(f - 1)].data()) + (p[1] * ten.width + p[0]) * 4;
        expected += std::to_string(uint32_t(q[0]) << 16 | uint32_t(q[1]) << 8 | q[2]) + " -1\n";
      }
      // The file's delays are 2f - 1 jiffies of 1/60 s.
      expected += std::to_string((2 * f - 1) * 1000 / 60) + "\n";
    }
  qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(lines)));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, expected);

  const struct {
    const char *name;
    std::vector<ScriptLine> lines;
    std::string expected;
  } refusals[] = {
      {"operation 7 in memory", {{false, "LoadAnim", {1, d / "iff/op7.anim"}}}, "f.qms:1: Error loading animation frame!\n"},
      {"operation 7 from disk",
       {{false, "LoadAnim", {1, d / "iff/op7.anim", ScriptArg::Table({{"fromdisk", 1}})}},
        {false, "GetAnimFrame", {3, 3, 1}},
        {false, "GetAnimFrame", {3, 4, 1}}},
       "f.qms:3: Error loading animation frame!\n"},
  };
  for (const auto &c : refusals) {
    qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(c.lines)));
    PlayerResult e = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
    EXPECT_EQ(e.status, 1) << c.name << e.err;
    EXPECT_EQ(e.out, c.expected) << c.name;
  }
}

// A playback partly left of or beyond the display shows the columns that fall inside, taken
// from the right place of the frame; one wholly outside, or into a target it cannot draw to,
// is refused.
TEST(E2eAnim, PlaybackClipsToTheDisplayAndRefusesOtherTargets) {
  PlayerDir d;
  // A 50 x 4 strip whose column x has its own colour.
  auto colour = [](int x) { return double(uint32_t(x * 5) << 16 | 0x8000u | uint32_t(x)); };
  std::vector<ScriptLine> lines = {{false, "CreateBrush", {1, 50, 4}}, {false, "SelectBrush", {1}}};
  for (int x = 0; x < 50; x++) lines.push_back({false, "Line", {double(x), 0.0, double(x), 3, colour(x)}});
  lines.push_back({false, "EndSelect", {}});
  lines.push_back({false, "CreateAnim", {1, 1, 50, 4, 1, 1}});
  lines.push_back({false, "PlayAnim", {1, -10, 0.0}});
  for (double x : {0, 39, 40}) lines.push_back({true, "ReadPixel", {x, 3}});
  lines.push_back({false, "PlayAnim", {1, 600, 10}});
  for (double x : {600, 639}) lines.push_back({true, "ReadPixel", {x, 10}});
  qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(lines)));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  auto text = [](double c) { return std::to_string(uint32_t(c)) + "\n"; };
  EXPECT_EQ(r.out, text(colour(10)) + text(colour(49)) + "0\n" + text(colour(0)) + text(colour(39)));

  const std::string wrong = "Wrong usage/parameters for this command!\nRead the documentation!\n";
  const std::vector<ScriptLine> made = {{false, "CreateBrush", {1, 8, 4}}, {false, "CreateAnim", {1, 1, 4, 4, 2, 2}},
                                        {false, "CreateAnim", {2, 1, 4, 4, 2, 2}}};
  const struct {
    const char *name;
    std::vector<ScriptLine> lines;
    std::string expected;
  } cases[] = {
      {"left of the display", {{false, "PlayAnim", {1, -4, 0.0}}}, wrong},
      {"right of the display", {{false, "PlayAnim", {1, 640, 0.0}}}, wrong},
      {"into a brush", {{false, "SelectBrush", {1}}, {false, "PlayAnim", {1, 0.0, 0.0}}},
       "This command cannot be used when SelectBrush() is active!\n"},
      {"into a mask", {{false, "SelectMask", {1}}, {false, "PlayAnim", {1, 0.0, 0.0}}},
       "This command cannot be used when SelectMask() is active!\n"},
      {"into another anim", {{false, "SelectAnim", {1, 1}}, {false, "PlayAnim", {2, 0.0, 0.0}}},
       "This command cannot be used when SelectAnim() is active!\n"},
      {"while double buffering", {{false, "BeginDoubleBuffer", {}}, {false, "PlayAnim", {1, 0.0, 0.0}}},
       "Please end double buffering first!\n"},
  };
  for (const auto &c : cases) {
    std::vector<ScriptLine> all = made;
    all.insert(all.end(), c.lines.begin(), c.lines.end());
    qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(all)));
    PlayerResult e = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
    EXPECT_EQ(e.status, 1) << c.name << e.err;
    EXPECT_EQ(e.out, "f.qms:" + std::to_string(all.size()) + ": " + c.expected) << c.name;
  }
}
