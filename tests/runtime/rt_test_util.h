// A VM with the runtime support started, and a way to call one native with given arguments.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "tests/runtime/vm/vm_test_util.h"

struct RtVm : VmFixture {
  RtVm() { InitRuntimeSupport(L); }
  ~RtVm() { FreeRuntimeSupport(); }

  // Calls fn with the values that push leaves on the stack; returns the status (0 or the
  // raised code).
  uint32_t Call(VmCFunction fn, const std::function<void(VmState *)> &push) {
    vm_settop(L, 0);
    vm_pushcfunction(L, fn);
    push(L);
    return vm_pcall(L, vm_gettop(L) - 1, VM_MULTRET, 0);
  }

  uint32_t Run(const std::string &text) { return VmFixture::Run(text, "@main.qms"); }
};
