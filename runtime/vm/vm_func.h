// Prototypes and closures: creation and freeing.
#pragma once
#include "runtime/vm/vm_object.h"

VmProto *vm_newproto(VmState *L);
void vm_freeproto(VmState *L, VmProto *f);
VmClosure *vm_newCclosure(VmState *L, int nelems);
// A script closure of p, with p->nups upvalue slots still empty.
VmClosure *vm_newLclosure(VmState *L, VmProto *p, const VmValue *globals);
void vm_freeclosure(VmState *L, VmClosure *c);
inline size_t vm_sizeCclosure(int n) { return sizeof(VmClosure) + sizeof(VmValue) * static_cast<size_t>(n); }
inline size_t vm_sizeLclosure(int n) { return sizeof(VmClosure) + sizeof(VmUpvalue *) * static_cast<size_t>(n); }

VmUpvalue *vm_findupval(VmState *L, VmValue *level);
void vm_closeupvals(VmState *L, VmValue *level);
// Name of the n-th (from 1) local variable active at instruction pc, or nullptr.
const char *vm_getlocalname(const VmProto *f, int n, int pc);
