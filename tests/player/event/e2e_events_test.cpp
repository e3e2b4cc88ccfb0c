// The event loop of the player program end to end: intervals and timeouts drive WaitEvent.
#include "tests/player/e2e_util.h"

namespace {

// n = 0; SetInterval(1, tick, 20); SetTimeout(2, late, 1000000)
// tick(msg): n = n + 1; DebugPrint(msg.action, msg.id, n); if n == 3 then End() end
// repeat WaitEvent() forever
const char kTicks[] = R"(
.func source="ticks.qms" maxstack=6
  .k "n" 0 "setinterval" 1 20 "settimeout" 2 1000000 "waitevent"
      LOADK     0 k1        @1
      SETGLOBAL 0 k0
      GETGLOBAL 0 k2        @2
      LOADK     1 k3
      CLOSURE   2 p0
      LOADK     3 k4
      CALL      0 4 1
      GETGLOBAL 0 k5        @3
      LOADK     1 k6
      CLOSURE   2 p0
      LOADK     3 k7
      CALL      0 4 1
loop: GETGLOBAL 0 k8        @4
      CALL      0 1 1
      JMP       loop
      RETURN    0 1
  .func params=1 maxstack=6 line=5
    .k "n" 1 "debugprint" "action" "id" 3 "end"
      GETGLOBAL 1 k0        @6
      ADD       1 1 k1
      SETGLOBAL 1 k0
      GETGLOBAL 2 k2        @7
      GETTABLE  3 0 k3
      GETTABLE  4 0 k4
      MOVE      5 1
      CALL      2 4 1
      EQ        0 1 k5      @8
      JMP       done
      GETGLOBAL 2 k6
      CALL      2 1 1
done: RETURN    0 1         @9
  .end
.end
)";

}  // namespace

TEST(E2eEvents, IntervalDrivesWaitEventUntilEnd) {
  PlayerDir d;
  qmtools::WriteBytes(d / "ticks.qma", AppletOf(kTicks));
  PlayerResult r = d.Run({"-QUIET", d / "ticks.qma"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Interval 1 1\nInterval 1 2\nInterval 1 3\n");
}

namespace {

// DebugPrint("waiting"); <wait>(); DebugPrint("after")
std::string WaitApplet(const std::string &wait) {
  return R"(
.func source="wait.qms" maxstack=4
  .k "debugprint" "waiting" ")" + wait + R"(" "after"
      GETGLOBAL 0 k0        @1
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k2        @2
      CALL      0 1 1
      GETGLOBAL 0 k0        @3
      LOADK     1 k3
      CALL      0 2 1
      RETURN    0 1
.end
)";
}

}  // namespace

TEST(E2eEvents, AQuitSignalEndsEveryWaitWithoutInput) {
  PlayerDir d;
  for (const char *wait : {"waitleftmouse", "waitevent", "waitmidmouse"}) {
    qmtools::WriteBytes(d / "wait.qma", AppletOf(WaitApplet(wait)));
    PlayerResult r = d.Run({"-QUIET", d / "wait.qma"}, {}, "", d.WhenPrinted("waiting\n"));
    EXPECT_EQ(r.status, 0) << wait << r.err;
    EXPECT_EQ(r.out, "waiting\n") << wait << ": the script ends in the wait";
  }
}
