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

// ReadPixel on the display reads the display's background copy: with layers on a brush, a part
// of a picture or a box drawn there becomes a layer, which leaves that copy alone, so the grey
// picture under the red layer is read (ConvertToBrush of the display shows the layers). Without
// layers the red goes into the copy. A picture selected to take layers is read from its own
// image, without its layers (it has no output bitmap: reading gave 0 there), and a brush selected
// while layers are on is drawn into and read. Double buffering, which layers refuse, reads its
// draw buffer, black where nothing was drawn yet.
TEST(E2eGraphics, ReadPixelReadsTheDisplayUnderItsLayers) {
  const std::string grey = std::to_string(0x404040), red = std::to_string(0xFF0000), blue = std::to_string(0x0000FF);
  const std::vector<ScriptLine> setup = {
      {false, "CreateBGPic", {2, 64, 48, 0x404040}},
      {false, "DisplayBGPic", {2}},
      {false, "CreateBrush", {3, 20, 20, 0xFF0000}},
      {false, "CreateBGPic", {4, 48, 48, 0xFF0000}},
      {false, "SetFillStyle", {1}},
  };
  struct Case {
    const char *name;
    std::vector<ScriptLine> draw;  // draws red over (10, 10)-(29, 29) of the display
    std::string out;               // ReadPixel(15, 15), then ReadPixel(40, 40)
    const char *error = "";        // the report that ends the script, if any
  } cases[] = {
      {"brush layer", {{false, "EnableLayers", {}}, {false, "DisplayBrush", {3, 10, 10}}}, grey + "\n" + grey + "\n"},
      {"picture part layer",
       {{false, "EnableLayers", {}}, {false, "DisplayBGPicPart", {4, 0.0, 0.0, 20, 20, 10, 10}}},
       grey + "\n" + grey + "\n"},
      {"box layer", {{false, "EnableLayers", {}}, {false, "Box", {10, 10, 20, 20, 0xFF0000}}}, grey + "\n" + grey + "\n"},
      {"layers off", {{false, "DisplayBrush", {3, 10, 10}}, {false, "Box", {35, 35, 10, 10, 0x0000FF}}},
       red + "\n" + blue + "\n"},
      {"double buffer, layers on",
       {{false, "EnableLayers", {}}, {false, "BeginDoubleBuffer", {}}, {false, "DisplayBrush", {3, 10, 10}},
        {false, "Flip", {}}},
       "",
       "Layers must be turned off when using this function!"},
      {"double buffer, layers off",
       {{false, "BeginDoubleBuffer", {}}, {false, "DisplayBrush", {3, 10, 10}}, {false, "Flip", {}}},
       red + "\n0\n"},
      {"selected picture, layers on",
       {{false, "EnableLayers", {}}, {false, "DisplayBrush", {3, 10, 10}}, {false, "SelectBGPic", {2}}},
       grey + "\n" + grey + "\n"},
      {"other picture selected, layers on",
       {{false, "EnableLayers", {}}, {false, "SelectBGPic", {4}}, {false, "DisplayBrush", {3, 10, 10}}},
       red + "\n" + red + "\n"},
      {"selected brush, layers on",
       {{false, "EnableLayers", {}}, {false, "DisplayBrush", {3, 10, 10}}, {false, "CreateBrush", {5, 48, 48, 0x0000FF}},
        {false, "SelectBrush", {5}}, {false, "Box", {10, 10, 20, 20, 0xFF0000}}},
       red + "\n" + blue + "\n"},
  };
  for (const Case &c : cases) {
    std::vector<ScriptLine> lines = setup;
    lines.insert(lines.end(), c.draw.begin(), c.draw.end());
    lines.push_back({true, "ReadPixel", {15, 15}});
    lines.push_back({true, "ReadPixel", {40, 40}});
    PlayerDir d;
    PlayerResult r = RunLines(d, lines);
    EXPECT_EQ(r.status == 0, !*c.error) << c.name << "\n" << r.err;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << c.name << "\n" << r.err;
    EXPECT_EQ(r.out, c.out) << c.name << "\n" << r.err;
  }
}
