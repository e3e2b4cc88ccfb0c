#include <gtest/gtest.h>

#include "player/system/system_platform.h"
#include "player/system/system_timer.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "tests/player/system/system_test_util.h"

namespace {

// A clock that moves only when the test or a wait moves it.
uint64_t gNowMs = 0;
uint64_t gWaitedMs = 0;
uint32_t gWaitResult = 0;

void FakeNow(qmTimeval *out) {
  out->seconds = static_cast<uint32_t>(gNowMs / 1000);
  out->microseconds = static_cast<uint32_t>(gNowMs % 1000) * 1000;
}
uint32_t FakeWait(VmState *, uint32_t ms) {
  gNowMs += ms;
  gWaitedMs += ms;
  return gWaitResult;
}

// Puts the fake clock and wait into the VM's run.
struct FakeClock {
  explicit FakeClock(SysVm &vm) {
    gNowMs = 5000000;
    gWaitedMs = 0;
    gWaitResult = 0;
    qmSystemServices *sys = GetPlayerContext(vm.L)->system;
    sys->clock = FakeNow;
    sys->timedWait = FakeWait;
  }
};

double ReadTimer(SysVm &vm, int id) {
  EXPECT_EQ(vm.Call("gettimer", [&] { vm_pushnumber(vm.L, id); }), 0u);
  return vm_tonumber(vm.L, 1);
}

uint32_t TimerCall(SysVm &vm, const char *name, int id, std::initializer_list<double> more = {}) {
  return vm.Call(name, [&] {
    vm_pushnumber(vm.L, id);
    for (double d : more) vm_pushnumber(vm.L, d);
  });
}

}  // namespace

TEST(SystemTimers, RunPauseResumeReset) {
  SysVm vm;
  FakeClock clock(vm);
  ASSERT_EQ(TimerCall(vm, "starttimer", 1), 0u);
  EXPECT_EQ(vm.Results(), "");  // a number id gets no result
  gNowMs += 1500;
  EXPECT_EQ(ReadTimer(vm, 1), 1500);
  ASSERT_EQ(TimerCall(vm, "pausetimer", 1), 0u);
  gNowMs += 700;
  EXPECT_EQ(ReadTimer(vm, 1), 1500);  // paused: does not grow
  ASSERT_EQ(TimerCall(vm, "pausetimer", 1), 0u);
  ASSERT_EQ(TimerCall(vm, "resumetimer", 1), 0u);
  gNowMs += 250;
  EXPECT_EQ(ReadTimer(vm, 1), 1750);  // continues from the paused value
  ASSERT_EQ(TimerCall(vm, "resumetimer", 1), 0u);
  EXPECT_EQ(ReadTimer(vm, 1), 1750);
  ASSERT_EQ(TimerCall(vm, "resettimer", 1, {300}), 0u);
  gNowMs += 2;
  EXPECT_EQ(ReadTimer(vm, 1), 302);
  ASSERT_EQ(TimerCall(vm, "pausetimer", 1), 0u);
  ASSERT_EQ(TimerCall(vm, "resettimer", 1), 0u);  // a reset also runs a paused timer
  gNowMs += 9;
  EXPECT_EQ(ReadTimer(vm, 1), 9);
  // Starting a number id again restarts that timer in its place.
  ASSERT_EQ(TimerCall(vm, "starttimer", 2), 0u);
  ASSERT_EQ(TimerCall(vm, "starttimer", 1), 0u);
  EXPECT_EQ(ReadTimer(vm, 1), 0);
  ASSERT_EQ(vm.Call("getobjects", [&] { vm_pushnumber(vm.L, QMTYPE_TIMER); }), 0u);
  EXPECT_EQ(vm.ListText(1), "1 2");
  EXPECT_EQ(vm_tonumber(vm.L, 2), 2);
}

TEST(SystemTimers, AutomaticIdsAndMissingTimers) {
  SysVm vm;
  FakeClock clock(vm);
  ASSERT_EQ(vm.Call("starttimer", [&] { vm_pushnil(vm.L); }), 0u);
  ASSERT_EQ(vm_type(vm.L, 1), VM_TLIGHTUSERDATA);
  void *handle = vm_touserdata(vm.L, 1);
  gNowMs += 40;
  ASSERT_EQ(vm.Call("gettimer", [&] { vm_pushlightuserdata(vm.L, handle); }), 0u);
  EXPECT_EQ(vm.Results(), "40");
  ASSERT_EQ(vm.Call("getobjecttype", [&] { vm_pushlightuserdata(vm.L, handle); }), 0u);
  EXPECT_EQ(vm.Results(), "53");
  ASSERT_EQ(vm.Call("stoptimer", [&] { vm_pushlightuserdata(vm.L, handle); }), 0u);
  EXPECT_EQ(vm.Call("gettimer", [&] { vm_pushlightuserdata(vm.L, handle); }), ERR_FINDARRAY);
  EXPECT_EQ(TimerCall(vm, "gettimer", 7), ERR_FINDTIMER);
  ASSERT_EQ(vm.Call("geterrorname", [&] { vm_pushnumber(vm.L, ERR_FINDTIMER); }), 0u);
  EXPECT_EQ(vm.Results(), "'Could not find timer 7!'");
  for (const char *name : {"pausetimer", "resumetimer", "stoptimer", "resettimer"})
    EXPECT_EQ(TimerCall(vm, name, 7), ERR_FINDTIMER) << name;
  EXPECT_EQ(TimerCall(vm, "waittimer", 7, {10}), ERR_FINDTIMER);
}

TEST(SystemTimers, WaitTimerPacesLoops) {
  SysVm vm;
  FakeClock clock(vm);
  ASSERT_EQ(TimerCall(vm, "starttimer", 1), 0u);
  gNowMs += 30;
  ASSERT_EQ(TimerCall(vm, "waittimer", 1, {100}), 0u);
  EXPECT_EQ(gWaitedMs, 70u);  // the rest of the period
  EXPECT_EQ(ReadTimer(vm, 1), 0);  // and the timer starts over
  gNowMs += 150;
  ASSERT_EQ(TimerCall(vm, "waittimer", 1, {100, 0}), 0u);
  EXPECT_EQ(gWaitedMs, 70u);  // already late: no wait
  EXPECT_EQ(ReadTimer(vm, 1), 150);  // reset 0 keeps counting
  ASSERT_EQ(TimerCall(vm, "pausetimer", 1), 0u);
  EXPECT_EQ(TimerCall(vm, "waittimer", 1, {500}), ERR_WRONGUSAGE);
  ASSERT_EQ(TimerCall(vm, "resumetimer", 1), 0u);
  gWaitResult = ERR_USERABORT;  // a quit during the wait
  EXPECT_EQ(TimerCall(vm, "waittimer", 1, {500}), ERR_USERABORT);
}

TEST(SystemTimers, WaitUnits) {
  SysVm vm;
  FakeClock clock(vm);
  struct Case {
    std::initializer_list<double> args;
    uint32_t code;
    uint64_t waited;
  };
  const Case cases[] = {
      {{0}, 0, 0},         {{-5, 0}, 0, 0},  {{1, 0}, 0, 1000}, {{250, 1}, 0, 250},
      {{5}, 0, 100},       {{5, 2}, 0, 100}, {{3, 9}, ERR_WRONGUSAGE, 0},
      {{1e300, 1}, 0, 4294967295u},
  };
  for (const Case &c : cases) {
    gWaitedMs = 0;
    EXPECT_EQ(vm.Call("wait", [&] {
      for (double d : c.args) vm_pushnumber(vm.L, d);
    }), c.code);
    EXPECT_EQ(gWaitedMs, c.waited) << *c.args.begin();
  }
}
