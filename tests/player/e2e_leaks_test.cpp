// A command that meets a wrong value after it has started its work ends the script with the
// argument error and leaves nothing behind: the sanitized player's leak check at exit is the
// judge, so a block held across the raise fails the run.
#include <gtest/gtest.h>

#include <string>

#include "tests/player/e2e_util.h"

namespace {

// Layers on, a brush shown as layer 1, then its style with a text where a number belongs.
const char *kStyleWithText =
    ".func maxstack=6\n"
    "  .k \"enablelayers\" \"createbrush\" 1 16 \"displaybrush\" 0 \"setlayerstyle\" \"x\" \"not a number\"\n"
    "      GETGLOBAL 0 k0 @1\n"
    "      CALL      0 1 1\n"
    "      GETGLOBAL 0 k1 @2\n"
    "      LOADK     1 k2\n"
    "      LOADK     2 k3\n"
    "      LOADK     3 k3\n"
    "      CALL      0 4 1\n"
    "      GETGLOBAL 0 k4 @3\n"
    "      LOADK     1 k2\n"
    "      LOADK     2 k5\n"
    "      LOADK     3 k5\n"
    "      CALL      0 4 1\n"
    "      GETGLOBAL 0 k6 @4\n"
    "      LOADK     1 k2\n"
    "      NEWTABLE  2 0 1\n"
    "      SETTABLE  2 k7 k8\n"
    "      CALL      0 3 1\n"
    "      RETURN    0 1\n"
    ".end\n";

}  // namespace

TEST(E2eLeaks, LayerStyleWithAWrongValueEndsWithTheArgumentErrorAndFreesItsChange) {
  PlayerDir d;
  qmtools::WriteBytes(d / "s.qma", AppletOf(kStyleWithText));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "s.qma"},
                         {"ASAN_OPTIONS=detect_leaks=1", "SDL_AUDIODRIVER=dummy"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find(":4: Number expected in table argument \"x\"!"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("LeakSanitizer"), std::string::npos) << r.err;
}
