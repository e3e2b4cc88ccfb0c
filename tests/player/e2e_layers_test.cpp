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

// A layer of part of a background picture whose size was changed shows the picture at its new
// size, with a mask or alpha channel of that size lying over it: the columns left of the
// picture's middle are red and opaque, those right of it blue and transparent (masked out, or
// at alpha 60), read back from the layer's picture (ConvertToBrush of the layer). Taken from
// the picture as it was made, the part would lie elsewhere or outside it.
TEST(E2eLayers, PicturePartAfterASizeChangeShowsTheResizedPlanes) {
  const std::string red = std::to_string(0xFF0000), blue = std::to_string(0x0000FF);
  struct Case {
    const char *name;
    std::vector<ScriptLine> transparency;  // gives brush 1 (8 x 8, right half blue) its plane
    double width, partX, partWidth;        // new picture width (square), the part's columns
    std::string opaque, clear;             // ReadBrushPixel of a red and of a blue column
  } cases[] = {
      {"mask, enlarged", {{false, "SetBrushTransparency", {1, 0x0000FF}}}, 16, 6, 4, red + " 1", blue + " 0"},
      {"alpha, shrunk",
       {{false, "SelectAlphaChannel", {1}}, {false, "SetAlphaIntensity", {60}}, {false, "Box", {4, 0.0, 4, 8, 0.0}},
        {false, "EndSelect", {}}},
       4, 1, 2, red + " 255", blue + " 60"},
  };
  for (const Case &c : cases) {
    std::vector<ScriptLine> lines = {
        {false, "EnableLayers", {}},
        {false, "CreateBrush", {1, 8, 8, 0xFF0000}},
        {false, "SelectBrush", {1}},
        {false, "Box", {4, 0.0, 4, 8, 0x0000FF}},
        {false, "EndSelect", {}},
    };
    lines.insert(lines.end(), c.transparency.begin(), c.transparency.end());
    const double half = c.partWidth / 2;
    lines.insert(lines.end(), {
                                  {false, "BrushToBGPic", {1, 2}},
                                  {false, "ScaleBGPic", {2, c.width, c.width}},
                                  {false, "DisplayBGPicPart", {2, c.partX, 1, c.partWidth, 2, 0.0, 0.0}},
                                  {false, "ConvertToBrush", {22, 1, 10}},
                              });
    for (double x = 0; x <= c.partWidth; x++) lines.push_back({true, "ReadBrushPixel", {10, x, 1}});
    PlayerDir d;
    qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(lines)));
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
    ASSERT_EQ(r.status, 0) << c.name << "\n" << r.err << r.out;
    std::string brush;
    for (double x = 0; x < c.partWidth; x++) brush += (x < half ? c.opaque : c.clear) + "\n";
    brush += "4294967295 -1\n";  // the layer's picture is as wide as the part
    EXPECT_EQ(r.out, brush) << c.name;
  }
}
