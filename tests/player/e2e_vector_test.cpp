// Vector paths through the real player: the vector plug-in loaded from the player's folder
// measures a path; without it the same applet stops with the missing plug-in's error.
#include <filesystem>

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
