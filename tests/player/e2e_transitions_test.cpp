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

// EnableLayers(); CreateBrush(1, 20, 10, $FF0000);
// h = DisplayBrushFX(1, 0, 0, {type = #HSTRIPES, speed = 5, async = True});
// n = 0; Repeat n = n + 1 Until AsyncDrawFrame(h); DebugPrint(n)
const char kAsyncScript[] = R"(
.func source="a.qms" maxstack=10
  .k "enablelayers" "createbrush" 1 20 10 16711680 "displaybrushfx" 0 "type" "speed" "async" 5 "asyncdrawframe" "debugprint" "readpixel" 15
      GETGLOBAL 0 k0  @1
      CALL      0 1 1
      GETGLOBAL 0 k1  @2
      LOADK     1 k2
      LOADK     2 k3
      LOADK     3 k4
      LOADK     4 k5
      CALL      0 5 1
      GETGLOBAL 0 k6  @3
      LOADK     1 k2
      LOADK     2 k7
      LOADK     3 k7
      NEWTABLE  4 0 3
      SETTABLE  4 k8 k7
      SETTABLE  4 k9 k11
      SETTABLE  4 k10 k2
      CALL      0 5 2
      LOADK     1 k7
loop: ADD       1 1 k2  @4
      GETGLOBAL 2 k12
      MOVE      3 0
      CALL      2 2 2
      TEST      2 2 0
      JMP       loop
      GETGLOBAL 2 k13 @5
      MOVE      3 1
      CALL      2 2 1
      RETURN    0 1   @6
.end
)";

}  // namespace

TEST(E2eTransitions, AsynchronousBrushDrivenToItsEnd) {
  PlayerDir d;
  qmtools::WriteBytes(d / "a.qma", AppletOf(kAsyncScript));
  PlayerResult r = d.Run({"-QUIET", d / "a.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // 20 pixels at 5 a frame: 15 in 3 frames, one more; the call after the last one ends it.
  EXPECT_EQ(r.out, "5\n") << r.err;
}

TEST(E2eTransitions, CrossfadeThenClearScreen) {
  PlayerDir d;
  qmtools::WriteBytes(d / "t.qma", AppletOf(kTransitionScript));
  PlayerResult r = d.Run({"-QUIET", d / "t.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, std::to_string(0xFF0000) + "\n" + std::to_string(0x00FF00) + "\n") << r.err;
}
