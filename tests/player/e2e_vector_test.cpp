// Vector paths through the real player: the vector plug-in loaded from the player's folder
// measures a path; without it the same applet stops with the missing plug-in's error.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "runtime/errcodes.h"

#include "tests/player/e2e_util.h"

namespace {

// StartPath(1); AddCircleToPath(1, 10, 10, 8); DebugPrint(GetPathExtents(1)) on lines 1 to 3.
const char kMeasuresACircle[] =
    ".func source=\"v.qms\" maxstack=8\n"
    "  .k \"startpath\" 1 \"addcircletopath\" 10 8 \"debugprint\" \"getpathextents\"\n"
    "      GETGLOBAL 0 k0 @1\n"
    "      LOADK 1 k1\n"
    "      CALL 0 2 1\n"
    "      GETGLOBAL 0 k2 @2\n"
    "      LOADK 1 k1\n"
    "      LOADK 2 k3\n"
    "      LOADK 3 k3\n"
    "      LOADK 4 k4\n"
    "      CALL 0 5 1\n"
    "      GETGLOBAL 0 k5 @3\n"
    "      GETGLOBAL 1 k6\n"
    "      LOADK 2 k1\n"
    "      CALL 1 2 0\n"
    "      CALL 0 0 1\n"
    "      RETURN 0 1 @4\n"
    ".end\n";

}  // namespace

TEST(E2eVector, PluginBesideThePlayerMeasuresPaths) {
  struct Case {
    const char *name;
    bool plugin;
    int status;
    const char *out;
  } cases[] = {
      // Stroked one pixel wide (the default style): the radius and half the line either way.
      {"with the plug-in", true, 0, "1.5 1.5 18.5 18.5\n"},
      {"without", false, 1, "v.qms:3: This functionality requires a vectorgraphics plugin to be installed!\n"},
  };
  for (const Case &c : cases) {
    PlayerDir d;
    if (c.plugin) std::filesystem::copy_file(QM_VECTOR_PLUGIN, d / "vectorcairo.qmp");
    qmtools::WriteBytes(d / "v.qma", AppletOf(kMeasuresACircle));
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "v.qma"});
    EXPECT_EQ(r.status, c.status) << c.name << r.err;
    EXPECT_EQ(r.out, c.out) << c.name;
  }
}

namespace {

// How a command treats a numeric argument: a path's id (a number that names no path is not
// found), a coordinate, angle or size (NaN and the infinities are refused), a dash length after
// the first (refused below 0 as well), a whole-number setting or new id (kept, truncated), or a
// colour (an unsigned word, as ids are).
enum class ArgKind { Id, NewId, Number, Length, Word, Colour };

// A whole-number argument (an id, a new id, a setting) that is no number in the 32-bit range is
// refused by the argument reader, which ends the script: those calls are tried one per applet.
// Ids read as unsigned words: a number above the range names the last id, one below it is refused.
bool ReaderRefuses(ArgKind kind, double v) {
  if (kind == ArgKind::Id || kind == ArgKind::NewId || kind == ArgKind::Colour) return std::isnan(v) || v < -2147483648.0;
  return kind == ArgKind::Word && !std::isfinite(v);
}

struct HostileCommand {
  const char *name;
  std::vector<ScriptArg> args;  // sane values, path 1 where a path is named
  std::vector<ArgKind> kinds;   // one per argument
  uint32_t idCode = ERR_FINDPATH;  // the code of an id that names no path
};

}  // namespace

// Every numeric argument of every vectorgraphics command, given NaN, an infinity or a number at
// the edge of the 32-bit range, ends in a clear error or a bounded result: the command's code is
// printed, then the path it leaves is measured and drawn, each printing its code too. The codes
// after a refused argument show the path unchanged (a move alone: nothing to draw).
TEST(E2eVector, HostileNumbersEndInAnErrorOrABoundedResult) {
  using K = ArgKind;
  // The commands that make paths under new ids come last: no id looked up before them names a
  // path then.
  const HostileCommand commands[] = {
      {"FreePath", {1}, {K::Id}},
      {"ClearPath", {1}, {K::Id}},
      {"IsPathEmpty", {1}, {K::Id}},
      {"MoveTo", {1, 5, 6}, {K::Id, K::Number, K::Number}},
      {"LineTo", {1, 5, 6}, {K::Id, K::Number, K::Number}},
      {"RelMoveTo", {1, 5, 6}, {K::Id, K::Number, K::Number}},
      {"RelLineTo", {1, 5, 6}, {K::Id, K::Number, K::Number}},
      {"CurveTo", {1, 1, 2, 3, 4, 5, 6}, {K::Id, K::Number, K::Number, K::Number, K::Number, K::Number, K::Number}},
      {"RelCurveTo", {1, 1, 2, 3, 4, 5, 6}, {K::Id, K::Number, K::Number, K::Number, K::Number, K::Number, K::Number}},
      {"StartSubPath", {1}, {K::Id}},
      {"ClosePath", {1}, {K::Id}},
      {"AddArcToPath", {1, 10, 10, 5, 5, 0.0, 90, 1},
       {K::Id, K::Number, K::Number, K::Number, K::Number, K::Number, K::Number, K::Word}},
      {"AddCircleToPath", {1, 10, 10, 5}, {K::Id, K::Number, K::Number, K::Number}},
      {"AddEllipseToPath", {1, 10, 10, 5, 3}, {K::Id, K::Number, K::Number, K::Number, K::Number}},
      {"AddBoxToPath", {1, 1, 2, 8, 6}, {K::Id, K::Number, K::Number, K::Number, K::Number}},
      {"SetLineJoin", {1}, {K::Word}},
      {"SetLineCap", {1}, {K::Word}},
      {"SetFillRule", {1}, {K::Word}},
      {"ForcePathUse", {0.0}, {K::Word}},
      {"SetDash", {0.0, 4, 2}, {K::Number, K::Number, K::Length}},
      {"GetCurrentPoint", {1}, {K::Id}},
      {"GetPathExtents", {1}, {K::Id}},
      {"AppendPath", {1, 2}, {K::Id, K::Id}},
      // The font is looked at before the path: the player's own font makes no vector text.
      {"AddTextToPath", {1, "a"}, {K::Id}, ERR_VFONTTYPE},
      {"TranslatePath", {1, 3, 4}, {K::Id, K::Number, K::Number}},
      {"NormalizePath", {1}, {K::Id}},
      {"DrawPath", {1, 0.0, 0.0, 0xFF0000}, {K::Id, K::Word, K::Word, K::Colour}},
      {"CopyPath", {1, 2}, {K::Id, K::NewId}},
      {"StartPath", {1}, {K::NewId}},
  };
  const double nan = std::nan(""), inf = HUGE_VAL;
  const double hostile[] = {nan, inf, -inf, 2147483647.0, -2147483648.0};
  for (double v : hostile) {
    // One applet per value: with ExitOnError off each command's code is read back at once.
    std::vector<ScriptLine> lines{{false, "ExitOnError", {0.0}}};
    std::vector<std::string> names;
    auto code = [&] { lines.push_back({true, "GetLastError", {}}); };
    for (const HostileCommand &c : commands) {
      for (size_t i = 0; i < c.args.size() && i < c.kinds.size(); i++) {
        if (ReaderRefuses(c.kinds[i], v)) continue;
        // Path 1 holds a move and a line, path 2 a circle, so that measuring has work to do.
        lines.push_back({false, "StartPath", {1}});
        lines.push_back({false, "MoveTo", {1, 2, 3}});
        lines.push_back({false, "StartPath", {2}});
        lines.push_back({false, "AddCircleToPath", {2, 4, 4, 3}});
        std::vector<ScriptArg> args = c.args;
        args[i] = ScriptArg(v);
        lines.push_back({false, c.name, args});
        code();
        lines.push_back({false, "GetPathExtents", {1}});
        code();
        lines.push_back({false, "DrawPath", {1, 0.0, 0.0}});
        code();
        names.push_back(std::string(c.name) + " argument " + std::to_string(i + 1));
      }
    }
    lines.push_back({true, "GetLastError", {}});  // the end was reached
    PlayerDir d;
    std::filesystem::copy_file(QM_VECTOR_PLUGIN, d / "vectorcairo.qmp");
    qmtools::WriteBytes(d / "v.qma", AppletOf(ScriptOf(lines)));
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "v.qma"});
    ASSERT_EQ(r.status, 0) << v << r.out << r.err;
    std::istringstream out(r.out);
    size_t n = 0;
    for (const HostileCommand &c : commands) {
      for (size_t i = 0; i < c.args.size() && i < c.kinds.size(); i++) {
        if (ReaderRefuses(c.kinds[i], v)) continue;
        const std::string &name = names[n++];
        long own = -1, measured = -1, drawn = -1;
        ASSERT_TRUE(out >> own >> measured >> drawn) << name << " " << v;
        const bool finite = std::isfinite(v);
        switch (c.kinds[i]) {
        case K::Id: EXPECT_EQ(own, long(c.idCode)) << name << " " << v; break;
        case K::Number: EXPECT_EQ(own, finite ? 0 : long(ERR_WRONGUSAGE)) << name << " " << v; break;
        case K::Length: EXPECT_EQ(own, finite && v >= 0 ? 0 : long(ERR_WRONGUSAGE)) << name << " " << v; break;
        case K::NewId:
        case K::Word:
        case K::Colour:
          // A refused draw of path 1 (a move alone) is the one error a kept number may bring.
          EXPECT_TRUE(own == 0 || (c.name == std::string("DrawPath") && own == ERR_EMPTYPATH)) << name << " " << v << ": " << own;
          break;
        }
        // Path 1 measured and drawn after the command: a result, or a clear refusal.
        EXPECT_TRUE(measured == 0 || measured == ERR_DRAWPATH || measured == ERR_FINDPATH) << name << " " << v << ": " << measured;
        const long drawCodes[] = {0, ERR_EMPTYPATH, ERR_DRAWPATH, ERR_MEM, ERR_FINDPATH};
        EXPECT_NE(std::find(std::begin(drawCodes), std::end(drawCodes), drawn), std::end(drawCodes))
            << name << " " << v << ": " << drawn;
      }
    }
    long last = -1;
    EXPECT_TRUE(out >> last) << v;
    EXPECT_EQ(last, 0) << v;
    // The calls the reader refuses: each ends its script naming the argument.
    for (const HostileCommand &c : commands) {
      for (size_t i = 0; i < c.args.size() && i < c.kinds.size(); i++) {
        if (!ReaderRefuses(c.kinds[i], v)) continue;
        std::vector<ScriptArg> args = c.args;
        args[i] = ScriptArg(v);
        qmtools::WriteBytes(d / "r.qma", AppletOf(ScriptOf({{false, "StartPath", {1}}, {false, c.name, args}})));
        PlayerResult refused = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "r.qma"});
        EXPECT_EQ(refused.status, 1) << c.name << " " << i + 1 << " " << v;
        // A command that looks at something else first may end the script on that instead.
        if (c.idCode == ERR_FINDPATH) {
          EXPECT_NE(refused.out.find("Number expected in argument " + std::to_string(i + 1) + "!"), std::string::npos)
              << c.name << " " << i + 1 << " " << v << ": " << refused.out;
        }
      }
    }
  }
}
