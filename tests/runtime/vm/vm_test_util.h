// Shared helpers of the VM tests.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

// Runs f under a protected call and returns the error code it raised (0 for none).
inline uint32_t Protected(VmState *L, const std::function<void()> &f) {
  auto tramp = [](VmState *, void *ud) { (*static_cast<const std::function<void()> *>(ud))(); };
  return vm_rawrunprotected(L, tramp, const_cast<std::function<void()> *>(&f));
}

// A fresh VM. The fixtures above it add the runtime support (RtVm) and the player's libraries
// (PlayerVm), so that every test VM is made one way.
struct VmFixture {
  VmState *L = vm_open();
  VmFixture() = default;
  ~VmFixture() {
    if (L) vm_close(L);
  }
  VmFixture(const VmFixture &) = delete;
  VmFixture &operator=(const VmFixture &) = delete;

  // Pops the stack top into the global of that name.
  void SetGlobal(const char *name) {
    vm_pushstring(L, name);
    vm_insert(L, -2);
    vm_settable(L, VM_GLOBALSINDEX);
  }

  // Assembles the program text, loads it under the chunk name and runs it protected: 0 or the
  // raised code.
  uint32_t Run(const std::string &text, const char *chunkName = "=test") {
    qmtools::AsmResult r = qmtools::AssembleText(text);
    EXPECT_TRUE(r.proto) << r.error;
    if (!r.proto) return 0xFFFFFFFF;
    std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
    uint32_t code = vm_loadbuffer(L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), chunkName);
    if (code) return code;
    return vm_pcall(L, 0, VM_MULTRET, 0);
  }
};
