// The asynchronous-draw commands as a program sees them in the player: no objects are counted
// before any is made, and an id that names none stops the program with the command's message
// and the line.
#include "tests/player/e2e_util.h"

namespace {

// DebugPrint(GetAttribute(#ASYNCDRAW, 0, #ATTRCOUNT)), then AsyncDrawFrame(5) on line 2.
const char kScript[] =
    ".func source=\"a.qms\" maxstack=8\n"
    "  .k \"debugprint\" \"getattribute\" 37 0 60 \"asyncdrawframe\" 5\n"
    "      GETGLOBAL 0 k0 @1\n"
    "      GETGLOBAL 1 k1\n"
    "      LOADK 2 k2\n"
    "      LOADK 3 k3\n"
    "      LOADK 4 k4\n"
    "      CALL 1 4 2\n"
    "      CALL 0 2 1\n"
    "      GETGLOBAL 0 k5 @2\n"
    "      LOADK 1 k6\n"
    "      CALL 0 2 1\n"
    "      RETURN 0 1 @3\n"
    ".end\n";

}  // namespace

TEST(E2eAsyncDraw, CountAndAMissingObject) {
  PlayerDir d;
  qmtools::WriteBytes(d / "a.qma", AppletOf(kScript));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"}, {"SDL_VIDEODRIVER=dummy"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "0\na.qms:2: Could not find async draw object 5!\n");
}
