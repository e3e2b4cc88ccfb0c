// The player program running transitions: a background picture cross-faded in, then the screen
// cleared through a wipe; the script reads the display's pixel after each.
#include "tests/player/e2e_util.h"

namespace {

// CreateBGPic(2, 640, 480, $FF0000); DisplayTransitionFX(2, #CROSSFADE, 60);
// DebugPrint(ReadPixel(10, 10)); ClearScreen(#VSTRIPES, $00FF00, 100); DebugPrint(ReadPixel(10, 10))
const char kTransitionScript[] =
    ".func source=\"t.qms\" maxstack=8\n"
    "  .k \"createbgpic\" 2 640 480 16711680 \"displaytransitionfx\" 115 60 \"debugprint\" \"readpixel\" 10"
    " \"clearscreen\" 7 65280 100\n"
    "      GETGLOBAL 0 k0 @1\n"
    "      LOADK 1 k1\n"
    "      LOADK 2 k2\n"
    "      LOADK 3 k3\n"
    "      LOADK 4 k4\n"
    "      CALL 0 5 1\n"
    "      GETGLOBAL 0 k5 @2\n"
    "      LOADK 1 k1\n"
    "      LOADK 2 k6\n"
    "      LOADK 3 k7\n"
    "      CALL 0 4 1\n"
    "      GETGLOBAL 0 k8 @3\n"
    "      GETGLOBAL 1 k9\n"
    "      LOADK 2 k10\n"
    "      LOADK 3 k10\n"
    "      CALL 1 3 2\n"
    "      CALL 0 2 1\n"
    "      GETGLOBAL 0 k11 @4\n"
    "      LOADK 1 k12\n"
    "      LOADK 2 k13\n"
    "      LOADK 3 k14\n"
    "      CALL 0 4 1\n"
    "      GETGLOBAL 0 k8 @5\n"
    "      GETGLOBAL 1 k9\n"
    "      LOADK 2 k10\n"
    "      LOADK 3 k10\n"
    "      CALL 1 3 2\n"
    "      CALL 0 2 1\n"
    "      RETURN 0 1 @6\n"
    ".end\n";

}  // namespace

TEST(E2eTransitions, CrossfadeThenClearScreen) {
  PlayerDir d;
  qmtools::WriteBytes(d / "t.qma", AppletOf(kTransitionScript));
  PlayerResult r = d.Run({"-QUIET", d / "t.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, std::to_string(0xFF0000) + "\n" + std::to_string(0x00FF00) + "\n") << r.err;
}
