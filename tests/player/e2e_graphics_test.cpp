// The graphics and draw libraries as a program sees them in the player: clip regions freed while
// another picture is the output, and what a shape drawn as a layer hands to its layer.
#include "tests/player/e2e_util.h"

namespace {

PlayerResult RunLines(const PlayerDir &d, const std::vector<ScriptLine> &lines) {
  qmtools::WriteBytes(d / "g.qma", AppletOf(ScriptOf(lines)));
  return d.Run({"-QUIET", d / "g.qma"});
}

}  // namespace

// A freed region clips no picture any more, whichever picture was the output when it was set
// or freed: drawing and asking afterwards find no region (and touch no freed memory).
TEST(E2eGraphics, FreedClipRegionLeavesEveryPicture) {
  struct Case {
    const char *name;
    std::vector<ScriptLine> lines;
    std::string out;
  } cases[] = {
      {"freed while a brush is the output",
       {
           {false, "CreateClipRegion", {1, 14, 100, 100, 50, 50}},
           {false, "SetClipRegion", {1}},
           {false, "CreateBrush", {5, 20, 20, 0.0}},
           {false, "SelectBrush", {5}},
           {false, "FreeClipRegion", {1}},
           {false, "EndSelect", {}},
           {true, "GetAttribute", {1, 1, 39}},
           {false, "SetFillStyle", {1}},
           {false, "Box", {0.0, 0.0, 20, 20, 0xFF0000}},
           {true, "ReadPixel", {5, 5}},
       },
       "0\n16711680\n"},
      {"set on a picture drawn into, freed from the display",
       {
           {false, "CreateBGPic", {5, 100, 100, 0x404040}},
           {false, "EnableLayers", {}},
           {false, "SelectBGPic", {5}},
           {false, "CreateClipRegion", {1, 14, 10, 10, 20, 20}},
           {false, "SetClipRegion", {1}},
           {false, "EndSelect", {}},
           {false, "FreeClipRegion", {1}},
           {false, "SelectBGPic", {5}},
           {true, "GetAttribute", {1, 5, 39}},
           {false, "EndSelect", {}},
       },
       "0\n"},
      {"a number used again names the new region",
       {
           {false, "CreateClipRegion", {1, 14, 10, 10, 20, 20}},
           {false, "SetClipRegion", {1}},
           {false, "CreateClipRegion", {1, 14, 0.0, 0.0, 5, 5}},
           {true, "GetAttribute", {1, 1, 39}},
           {true, "GetAttribute", {35, 0.0, 60}},
       },
       "0\n1\n"},
  };
  for (const Case &c : cases) {
    PlayerDir d;
    PlayerResult r = RunLines(d, c.lines);
    EXPECT_EQ(r.status, 0) << c.name << "\n" << r.err;
    EXPECT_EQ(r.out, c.out) << c.name;
  }
}

// A one-pixel line into an alpha channel selected alone: at a set alpha intensity it is drawn
// hard-edged in that intensity, anti-aliased or not; without one an anti-aliased line keeps its
// partly covered pixels.
TEST(E2eGraphics, LinesIntoASelectedAlphaChannel) {
  struct Case {
    const char *name;
    double formStyle, intensity;
    bool hard;
  } cases[] = {
      {"anti-aliased at an intensity", 16, 77, true},
      {"plain at an intensity", 1, 77, true},
      {"anti-aliased without an intensity", 16, -1, false},
  };
  for (const Case &c : cases) {
    std::vector<ScriptLine> lines = {
        {false, "CreateBrush", {1, 20, 20, 0.0}},
        {false, "ChangeBrushTransparency", {1, 30}},
        {false, "SelectAlphaChannel", {1}},
        {false, "SetAlphaIntensity", {0.0}},
        {false, "Cls", {}},
        {false, "SetAlphaIntensity", {c.intensity}},
        {false, "SetFormStyle", {c.formStyle}},
        {false, "Line", {0.0, 0.0, 19, 13, 0.0}},
    };
    // Columns 5, 10 and 15 around the line (y = x * 13 / 19).
    for (int x : {5, 10, 15})
      for (int y = x * 13 / 19 - 1; y <= x * 13 / 19 + 2; y++) lines.push_back({true, "ReadPixel", {double(x), double(y)}});
    PlayerDir d;
    PlayerResult r = RunLines(d, lines);
    ASSERT_EQ(r.status, 0) << c.name << "\n" << r.err;
    std::vector<int> values;
    for (size_t at = 0; at < r.out.size();) {
      const size_t end = r.out.find('\n', at);
      values.push_back(std::stoi(r.out.substr(at, end - at)));
      at = end + 1;
    }
    ASSERT_EQ(values.size(), 12u) << c.name << "\n" << r.out;
    if (c.hard) {
      // The walk of the plain line: one pixel per column, in the intensity.
      EXPECT_EQ(values, std::vector<int>({0, 77, 0, 0, 0, 0, 77, 0, 0, 77, 0, 0})) << c.name;
    } else {
      int partial = 0;
      for (int v : values) partial += v > 0 && v < 255;
      EXPECT_GE(partial, 3) << c.name << "\n" << r.out;
    }
  }
}
