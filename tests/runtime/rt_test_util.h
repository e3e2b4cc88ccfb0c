// A VM with the runtime support started, and a way to call one native with given arguments.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

struct RtVm {
  VmState *L = vm_open();
  RtVm() { InitRuntimeSupport(L); }
  ~RtVm() {
    FreeRuntimeSupport();
    vm_close(L);
  }

  // Calls fn with the values that push leaves on the stack; returns the status (0 or the
  // raised code).
  uint32_t Call(VmCFunction fn, const std::function<void(VmState *)> &push) {
    vm_settop(L, 0);
    vm_pushcfunction(L, fn);
    push(L);
    return vm_pcall(L, vm_gettop(L) - 1, VM_MULTRET, 0);
  }

  uint32_t Run(const std::string &text) {
    qmtools::AsmResult r = qmtools::AssembleText(text);
    EXPECT_TRUE(r.proto) << r.error;
    if (!r.proto) return 0xFFFFFFFF;
    std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
    uint32_t code = vm_loadbuffer(L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), "@main.qms");
    if (code) return code;
    return vm_pcall(L, 0, VM_MULTRET, 0);
  }
};
