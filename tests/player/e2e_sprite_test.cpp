// Sprites declared in an applet through the real player: loaded from a GIF animation that Pillow
// made before the script runs, and read back frame by frame.
#include "tests/media/animcore/anim_test_util.h"
#include "tests/player/e2e_util.h"

TEST(E2eSprite, DeclaredSprites) {
  PlayerDir d;
  if (RunAnimPeer("strip " + d / "")) GTEST_SKIP() << "python3-pil is missing";
  // The colours of the peer's strip.gif: frame i shows left[i] in columns 0..3, right[i] in 4..7.
  constexpr uint32_t kLeft[] = {0xF80000, 0x00FC00, 0x0000F8}, kRight[] = {0xF8F800, 0x808080, 0xF800F8};
  qmtools::AppletDecl s;
  s.type = 7;  // a sprite
  s.id = 1;
  s.name = d / "strip.gif";
  s.line = 1;
  s.param1 = 0xFFFFFFFFu;  // no transparent colour
  for (int i = 0; i < 6; i++) s.typeData.insert(s.typeData.end(), {0, 0});  // size, frames, per row, x, y
  const std::string script = ScriptOf({
      {true, "GetAttribute", {32, 1, 11}},
      {true, "GetAttribute", {32, 1, 0.0}},
      {false, "ConvertToBrush", {32, 1, 2, 2}},
      {true, "ReadBrushPixel", {2, 5, 1}},
      {false, "ConvertToBrush", {32, 1, 3, 3}},
      {true, "ReadBrushPixel", {3, 0.0, 0.0}},
  });
  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "f.qms"}}).Declarations({s}).Bytecode(ChunkOf(script));
  qmtools::WriteBytes(d / "a.qma", b.Bytes());
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "3\n8\n" + std::to_string(kRight[1]) + " -1\n" + std::to_string(kLeft[2]) + " -1\n");
}

// CreateSprite through the real player: a brush cut as a strip, a sprite linked from sources
// named as arguments, read back frame by frame, and the strip's refusals.
TEST(E2eSprite, StripsAndLinkedSprites) {
  PlayerDir d;
  const std::string script = ScriptOf({
      {false, "ExitOnError", {0.0}},
      {false, "CreateBrush", {1, 8, 4, 0xFF0000}},  // red, its right half green below
      {false, "SelectBrush", {1}},
      {false, "SetFillStyle", {1}},
      {false, "Box", {4, 0.0, 4, 4, 0x00FF00}},
      {false, "EndSelect", {}},
      {false, "CreateSprite", {2, 3, 1, 4, 4, 2, 2}},
      {false, "CreateSprite", {3, 32, 2, 2}},
      {true, "GetAttribute", {32, 3, 11}},
      {false, "ConvertToBrush", {32, 3, 4, 3}},
      {true, "ReadBrushPixel", {4, 1, 1}},
      {false, "ConvertToBrush", {32, 3, 4, 4}},
      {true, "ReadBrushPixel", {4, 1, 1}},
      {false, "CreateSprite", {5, 3, 1, 4, 4}},
      {true, "GetLastError", {}},
      {false, "CreateSprite", {5, 3, 1, 4, 4, 3, 3}},
      {true, "GetLastError", {}},
      {false, "CreateSprite", {5, 3, 1, 4, 4, 1, 1, -1}},
      {true, "GetLastError", {}},
      {false, "CreateSprite", {5, 3, 1, 0.0, 4, 1, 1}},
      {true, "GetLastError", {}},
  });
  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "f.qms"}}).Bytecode(ChunkOf(script));
  qmtools::WriteBytes(d / "a.qma", b.Bytes());
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "4\n16711680 -1\n65280 -1\n1055\n1156\n1154\n1055\n");
}
