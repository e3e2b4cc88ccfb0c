#include "runtime/library.h"

#include <climits>

#include "runtime/vm/vm_api.h"

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

void FreeLibraries(VmState *L, const qmLibrary *const *table) {
  // Rank by rank, without allocating: shut-down also runs when memory ran out.
  for (int64_t done = INT64_MIN;;) {
    int64_t rank = INT64_MAX;
    for (const qmLibrary *const *row = table; *row; row++)
      if ((*row)->freeRank > done && (*row)->freeRank < rank) rank = (*row)->freeRank;
    if (rank == INT64_MAX) return;
    for (const qmLibrary *const *row = table; *row; row++)
      if ((*row)->freeRank == rank && (*row)->free) (*row)->free(L);
    done = rank;
  }
}
