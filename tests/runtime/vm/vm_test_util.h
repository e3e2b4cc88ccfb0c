// Shared helpers of the VM tests.
#pragma once
#include <functional>

#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"

// Runs f under a protected call and returns the error code it raised (0 for none).
inline uint32_t Protected(VmState *L, const std::function<void()> &f) {
  auto tramp = [](VmState *, void *ud) { (*static_cast<const std::function<void()> *>(ud))(); };
  return vm_rawrunprotected(L, tramp, const_cast<std::function<void()> *>(&f));
}

struct VmFixture {
  VmState *L = vm_open();
  ~VmFixture() { vm_close(L); }
};
