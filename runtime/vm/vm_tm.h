// Tag-method events and their lookup.
#pragma once
#include "runtime/vm/vm_object.h"

// The order is the event number; names are interned and fixed at start-up.
enum VmTMS {
  VM_TM_INDEX, VM_TM_NEWINDEX, VM_TM_GC, VM_TM_MODE, VM_TM_EQ,  // these five use the absence cache
  VM_TM_ADD, VM_TM_SUB, VM_TM_MUL, VM_TM_DIV, VM_TM_DIVINT, VM_TM_MOD,
  VM_TM_LSH, VM_TM_RSH, VM_TM_OR, VM_TM_AND, VM_TM_XOR,
  VM_TM_POW, VM_TM_UNM, VM_TM_NOT, VM_TM_LT, VM_TM_LE, VM_TM_CONCAT, VM_TM_CALL,
  VM_TM_N
};
extern const char *const vm_tmnames[VM_TM_N];

struct VmTable;
void vm_tminit(VmState *L);
// Events below 5 only: nullptr when the metatable has no method (and remembers that).
const VmValue *vm_fasttm(VmTable *mt, VmTMS event, VmString *ename);
// The raw method of a table's or full user data's metatable; nil for other types.
const VmValue *vm_gettmbyobj(VmState *L, const VmValue *o, VmTMS event);
