// libFuzzer target: any bytes as a chunk. What loads also runs, under an instruction budget
// and a memory cap; every outcome must be success or an error code.
#include <cstddef>
#include <cstdint>

#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_debug.h"
#include "runtime/vm/vm_state.h"

namespace {
int budget;
void Budget(VmState *, VmDebug *, uint32_t *error) {
  if (--budget <= 0) *error = 1003;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  VmState *L = vm_open();
  if (!L) return 0;
  // Small caps keep each run short: big tables and long loops are legal, only slow.
  G(L)->memlimit = G(L)->nblocks + (4u << 20);
  if (vm_loadbuffer(L, reinterpret_cast<const char *>(data), size, "=fuzz") == 0) {
    budget = 200;
    vm_sethook(L, Budget, VM_MASKCOUNT, 100);
    vm_pcall(L, 0, 0, 0);
  }
  vm_close(L);
  return 0;
}
