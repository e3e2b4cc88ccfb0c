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
