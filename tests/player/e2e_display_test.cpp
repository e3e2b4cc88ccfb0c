// The display library through the real player: the answers and refusals a script sees when it
// makes, opens, hides, sizes and frees displays on the headless desktop.
#include <string>
#include <vector>

#include "tests/player/e2e_util.h"

namespace {

constexpr double kAttrHeight = 1;
constexpr double kDisplayType = 21;
constexpr double kKeepAspect = 100000;

PlayerResult RunLines(const PlayerDir &d, const std::vector<ScriptLine> &lines) {
  qmtools::WriteBytes(d / "a.qma", AppletOf(ScriptOf(lines)));
  return d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
}

}  // namespace

// A display made with nil is a handle and stays closed; sizes follow ChangeDisplaySize (a
// percentage of the picture, the other side kept in proportion) and SetDisplayAttributes.
TEST(E2eDisplay, MadeSizedAndFreed) {
  PlayerDir d;
  PlayerResult r = RunLines(d, {
      {true, "CreateDisplay", {ScriptArg::Nil()}},
      {false, "ChangeDisplaySize", {320, 200}},
      {true, "GetAttribute", {kDisplayType, 1, kAttrHeight}},
      {false, "ChangeDisplaySize", {"50%", kKeepAspect}},
      {true, "GetAttribute", {kDisplayType, 1, 0.0}},
      {true, "GetAttribute", {kDisplayType, 1, kAttrHeight}},
      {false, "SetDisplayAttributes", {ScriptArg::Table({{"width", 100}, {"height", 50}, {"title", "T"}})}},
      {true, "GetAttribute", {kDisplayType, 1, kAttrHeight}},
      {false, "CreateDisplay", {2, ScriptArg::Table({{"width", 64}, {"height", 48}})}},
      {false, "OpenDisplay", {2}},
      {false, "SelectDisplay", {1}},
      {false, "CloseDisplay", {2}},
      {false, "FreeDisplay", {2}},
      {true, "GetDisplayModes", {}},
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("UserData: ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\n200\n160\n100\n50\nTable: "), std::string::npos) << r.out;
}

// Every refusal ends the script with its message and line.
TEST(E2eDisplay, RefusalsNameTheirCause) {
  PlayerDir d;
  const std::string wrong = "Wrong usage/parameters for this command!\nRead the documentation!\n";
  struct Case {
    const char *name;
    std::vector<ScriptLine> lines;
    std::string expected;
  } cases[] = {
      {"no display 5", {{false, "SelectDisplay", {5}}}, "f.qms:1: Could not find display 5!\n"},
      {"title of 256", {{false, "SetTitle", {std::string(256, 'x')}}}, "f.qms:1: " + wrong},
      {"show an open display", {{false, "ShowDisplay", {}}}, "f.qms:1: " + wrong},
      {"hide a hidden display", {{false, "HideDisplay", {}}, {false, "HideDisplay", {}}}, "f.qms:2: " + wrong},
      {"full screen without a size", {{false, "ChangeDisplayMode", {2}}}, "f.qms:1: " + wrong},
      {"mode 7", {{false, "ChangeDisplayMode", {7, 640, 480}}}, "f.qms:1: " + wrong},
      {"open an open display", {{false, "OpenDisplay", {1}}}, "f.qms:1: " + wrong},
      {"close a closed display",
       {{false, "CreateDisplay", {2}}, {false, "CloseDisplay", {2}}}, "f.qms:2: " + wrong},
      {"activate a closed display",
       {{false, "CreateDisplay", {2}}, {false, "ActivateDisplay", {2}}}, "f.qms:2: " + wrong},
      {"scale mode 3", {{false, "CreateDisplay", {2, ScriptArg::Table({{"scalemode", 3}})}}}, "f.qms:1: " + wrong},
      {"fill style 4", {{false, "CreateDisplay", {2, ScriptArg::Table({{"fillstyle", 4}})}}}, "f.qms:1: " + wrong},
      {"free the current display", {{false, "FreeDisplay", {1}}}, "f.qms:1: Cannot free the active display!\n"},
      {"one picture for two displays",
       {{false, "CreateBGPic", {9, 32, 32}},
        {false, "CreateDisplay", {2, ScriptArg::Table({{"bgpic", 9}})}},
        {false, "CreateDisplay", {3, ScriptArg::Table({{"bgpic", 9}})}}},
       "f.qms:3: Cannot use the a single BGPic for multiple displays!\n"},
      {"width not a number",
       {{false, "CreateDisplay", {2, ScriptArg::Table({{"width", "wide"}})}}},
       "f.qms:1: Number expected in table argument \"width\"!\n"},
  };
  for (const Case &c : cases) {
    PlayerResult r = RunLines(d, c.lines);
    EXPECT_EQ(r.status, 1) << c.name << r.err;
    EXPECT_EQ(r.out, c.expected) << c.name;
  }
}
