// libFuzzer target: any bytes as a chunk. What loads also runs, under an instruction budget,
// a memory cap and a budget of allocated bytes; every outcome must be success or an error code.
#include <sanitizer/allocator_interface.h>

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

// Bytes a run may allocate in all, freed or not. A loop that makes and drops big tables stays
// under the memory cap, yet clearing a megabyte per instruction takes seconds per input.
constexpr size_t kAllocationBudget = 16u << 20;
VmState *running;  // the VM of the run under way, null between runs
size_t allocated;

// The allocator's hook: once the budget is spent, every further growth of the VM fails as if
// memory had run out.
void CountAllocation(const volatile void *, size_t size) {
  if (!running) return;
  allocated += size;
  if (allocated > kAllocationBudget) G(running)->memlimit = 1;
}
void IgnoreFree(const volatile void *) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  __sanitizer_install_malloc_and_free_hooks(CountAllocation, IgnoreFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  VmState *L = vm_open();
  if (!L) return 0;
  // Small caps keep each run short: big tables and long loops are legal, only slow.
  G(L)->memlimit = G(L)->nblocks + (4u << 20);
  allocated = 0;
  running = L;
  if (vm_loadbuffer(L, reinterpret_cast<const char *>(data), size, "=fuzz") == 0) {
    budget = 200;
    vm_sethook(L, Budget, VM_MASKCOUNT, 100);
    vm_pcall(L, 0, 0, 0);
  }
  running = nullptr;
  vm_close(L);
  return 0;
}
