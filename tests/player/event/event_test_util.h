// A VM with the runtime support and the event library, a controllable clock and natives that
// record what the dispatcher hands to them.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "display/display.h"
#include "platform/desktop.h"
#include "platform/timers.h"
#include "tests/player/player_vm.h"
#include "runtime/context.h"
#include "runtime/eventqueue.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"

inline uint64_t &FakeMicros() {
  static uint64_t us = 1000000;
  return us;
}
inline void FakeNow(qmTimeval *out) {
  out->seconds = static_cast<uint32_t>(FakeMicros() / 1000000);
  out->microseconds = static_cast<uint32_t>(FakeMicros() % 1000000);
}
inline void FakeSleep(uint32_t us) { FakeMicros() += us; }

// The desktop clock is faked before the libraries open.
struct FakeClockFirst {
  FakeClockFirst() { SetDesktopClock(FakeNow, FakeSleep); }
};

struct EventVm : FakeClockFirst, PlayerVm {
  static std::vector<std::string> &Log() {
    static std::vector<std::string> log;
    return log;
  }

  EventVm() {
    Log().clear();
  }
  // The run's scene: a display a test makes current is freed with the run's displays.
  qmScene *Scene() { return GetScene(L); }
  ~EventVm() {
    Close();
    FreeAllPlatformTimers();
    FreeEventQueue();
    SetDesktopClock(nullptr, nullptr);
  }

  // A handler that logs "name:action[:key]" and returns its name and 2 more values.
  static uint32_t Handler(VmState *L) {
    std::string name = vm_tostring(L, vm_upvalueindex(1));
    std::string line = name + ":";
    vm_pushstring(L, "action");
    vm_gettable(L, 1);
    line += vm_tostring(L, -1) ? vm_tostring(L, -1) : "?";
    vm_pop(L, 1);
    vm_pushstring(L, "key");
    vm_gettable(L, 1);
    if (vm_type(L, -1) == VM_TSTRING) line += std::string(":") + vm_tostring(L, -1);
    vm_pop(L, 1);
    Log().push_back(line);
    vm_pushstring(L, name.c_str());
    vm_pushnumber(L, 2);
    vm_pushnumber(L, 3);
    return 3;
  }
  void PushHandler(const char *name) {
    vm_pushstring(L, name);
    vm_pushcclosure(L, Handler, 1);
  }

  // Calls a global command with the values pushed after it; returns its status.
  uint32_t Call(const char *command, int nargs) {
    vm_pushstring(L, command);
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_insert(L, -(nargs + 1));
    return vm_pcall(L, nargs, VM_MULTRET, 0);
  }

  // CheckEvent's table fields as "action id nresults triggered".
  std::string Check() {
    vm_settop(L, 0);
    uint32_t r = Call("checkevent", 0);
    if (r) return "error " + std::to_string(r);
    std::string s;
    for (const char *k : {"action", "id", "nresults", "triggered"}) {
      vm_pushstring(L, k);
      vm_gettable(L, 1);
      if (vm_type(L, -1) == VM_TSTRING) s += std::string(vm_tostring(L, -1)) + " ";
      else if (vm_type(L, -1) == VM_TNUMBER) {
        char b[32];
        std::snprintf(b, sizeof b, "%.14g ", vm_tonumber(L, -1));
        s += b;
      } else {
        s += "? ";
      }
      vm_pop(L, 1);
    }
    return s;
  }

  void Advance(uint32_t ms) {
    FakeMicros() += uint64_t{ms} * 1000;
    ServicePlatformTimers();
  }
};
