// Layers through the real player: an anim layer drawn into with SelectLayer, read back frame by
// frame with ConvertToBrush and ReadBrushPixel.
#include "tests/player/e2e_util.h"

// Two red 4x4 frames cut from a brush; the layer shows the second when SelectLayer draws a
// green 2x2 brush into it at (1, 1). Stepped on to the first frame and back, the layer shows
// red, then the drawing; the script's anim keeps its red frame (the layer drew into a copy).
TEST(E2eLayers, SelectLayerDrawsIntoTheFrameOfAnAnimLayer) {
  PlayerDir d;
  const std::string script = ScriptOf({
      {false, "EnableLayers", {}},
      {false, "CreateBrush", {1, 8, 4, 0xFF0000}},
      {false, "CreateAnim", {2, 1, 4, 4, 2, 2}},
      {false, "DisplayAnimFrame", {2, 0.0, 0.0, 1}},
      {false, "NextFrame", {1}},
      {false, "SelectLayer", {1, 0.0, 2}},
      {false, "CreateBrush", {3, 2, 2, 0x00FF00}},
      {false, "DisplayBrush", {3, 1, 1}},
      {false, "EndSelect", {}},
      {false, "NextFrame", {1}},
      {false, "ConvertToBrush", {22, 1, 10, 1}},
      {true, "ReadBrushPixel", {10, 1, 1}},
      {false, "NextFrame", {1}},
      {true, "GetAttribute", {22, 1, 12}},
      {false, "ConvertToBrush", {22, 1, 11, 2}},
      {true, "ReadBrushPixel", {11, 1, 1}},
      {true, "ReadBrushPixel", {11, 0.0, 0.0}},
      {false, "GetAnimFrame", {12, 2, 2}},
      {true, "ReadBrushPixel", {12, 1, 1}},
      {false, "SelectLayer", {1}},
  });
  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "f.qms"}}).Bytecode(ChunkOf(script));
  qmtools::WriteBytes(d / "a.qma", b.Bytes());
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
  const std::string red = std::to_string(0xFF0000), green = std::to_string(0x00FF00);
  // SelectLayer without a frame on an anim layer ends the script with "Not enough arguments!".
  EXPECT_EQ(r.out, red + " -1\n2\n" + green + " -1\n" + red + " -1\n" + red + " -1\nf.qms:20: Not enough arguments!\n")
      << r.err;
  EXPECT_NE(r.status, 0);
}
