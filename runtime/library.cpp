#include "runtime/library.h"

#include <climits>

#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"

namespace {

void CallFree(VmState *L, void *ud) { static_cast<const qmLibrary *>(ud)->free(L); }
void CallEarlyFree(VmState *L, void *ud) { static_cast<const qmLibrary *>(ud)->earlyFree(L); }

}  // namespace

uint32_t OpenLibrary(VmState *L, const qmLibrary *library) {
  int top = vm_gettop(L);
  vm_pushvalue(L, VM_GLOBALSINDEX);
  vm_openlib(L, nullptr, library->commands, 0);
  vm_settop(L, top);
  if (uint32_t code = RegisterCommandTable(library->commands, library->name)) return code;
  if (library->constants) vm_registerconstants(L, library->constants, 0);
  uint32_t code = library->init ? library->init(L) : 0;
  vm_settop(L, top);
  return code;
}

uint32_t OpenLibraries(VmState *L, const qmLibrary *const *table) {
  for (const qmLibrary *const *row = table; *row; row++)
    if (uint32_t code = OpenLibrary(L, *row)) return code;
  return 0;
}

uint32_t FreeLibraries(VmState *L, const qmLibrary *const *table) {
  // Rank by rank, without allocating: shut-down also runs when memory ran out. A free that
  // still meets an error there (its registry references, say) must not stop the others.
  uint32_t first = 0;
  for (int64_t done = INT64_MIN;;) {
    int64_t rank = INT64_MAX;
    for (const qmLibrary *const *row = table; *row; row++) {
      if ((*row)->freeRank > done && (*row)->freeRank < rank) rank = (*row)->freeRank;
      if ((*row)->earlyFree && (*row)->earlyFreeRank > done && (*row)->earlyFreeRank < rank)
        rank = (*row)->earlyFreeRank;
    }
    if (rank == INT64_MAX) return first;
    for (const qmLibrary *const *row = table; *row; row++) {
      VmPFunc step = nullptr;
      if ((*row)->earlyFree && (*row)->earlyFreeRank == rank) step = CallEarlyFree;
      else if ((*row)->freeRank == rank && (*row)->free) step = CallFree;
      if (!step) continue;
      // Straight into the protected call: pushing a native to call would allocate.
      uint32_t code = vm_pcall_internal(L, step, const_cast<qmLibrary *>(*row), vm_savestack(L, L->top), 0);
      if (first == 0) first = code;
    }
    done = rank;
  }
}
