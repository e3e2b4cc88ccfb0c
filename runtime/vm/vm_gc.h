// The collector: stop-the-world mark and sweep with weak tables and finalisers.
#pragma once
#include <cstddef>

#include "runtime/vm/vm_object.h"
#include "runtime/vm/vm_state.h"

void vm_collectgarbage(VmState *L);
// The check made at allocation points: collects when the bytes in use reached the threshold.
// Inline, since the interpreter makes it after every string or table it builds.
inline void vm_checkgc(VmState *L) {
  VmGlobalState *g = G(L);
  if (g->nblocks >= g->GCthreshold || g->gcstress) vm_collectgarbage(L);
}
// Moves unreached user data with a "__gc" method to the finalisation list; returns their size.
size_t vm_separateudata(VmState *L);
void vm_callgctm(VmState *L);
// Frees unreached objects, or every object when all is set.
void vm_sweep(VmState *L, int all);
void vm_freeobj(VmState *L, VmGCObject *o);
void vm_freethread(VmState *L, VmState *L1);
