// The interpreter loop and the operations it shares with the native interface.
#pragma once
#include <cstddef>

#include "runtime/vm/vm_object.h"
#include "runtime/vm/vm_tm.h"

// Runs script frames from the current call record until the function entered from outside
// returns (its first result), or returns nullptr when EndRequested stopped it.
VmValue *vm_execute(VmState *L);

// A number from a number, nil (0) or a numeric string; nullptr otherwise.
const VmValue *vm_tonumber_value(const VmValue *obj, VmValue *scratch);
// Makes the slot a string in place (numbers "%.14g", nil ""); 0 when it cannot be one.
int vm_tostring_value(VmState *L, VmValue *obj);

// The interpreter's truth rule: nil, false, 0 and "" are false.
inline bool vm_isfalse(const VmValue *o) {
  switch (o->tt) {
    case VM_TNIL: return true;
    case VM_TBOOLEAN: return o->v.b == 0;
    case VM_TNUMBER: return o->v.n == 0;
    case VM_TSTRING: return static_cast<const VmString *>(o->v.gc)->len == 0;
    default: return false;
  }
}

enum VmGetMode { VM_GET_NILONMISS, VM_GET_FIELDINIT };
// Reads t[key] through the "__index" chain into the stack slot at offset res.
// `named` is t's own slot (for the error's variable name) or nullptr.
void vm_gettable_value(VmState *L, VmValue t, VmValue key, ptrdiff_t res, VmGetMode mode, const VmValue *named);
// Writes t[key] = val through the "__newindex" chain.
void vm_settable_value(VmState *L, VmValue t, VmValue key, VmValue val, const VmValue *named);

int vm_lessthan_value(VmState *L, const VmValue *l, const VmValue *r, int casesensitive);
int vm_equal_value(VmState *L, const VmValue *a, const VmValue *b);
// Arithmetic with conversions and tag methods; the result goes to the slot at offset ra.
void vm_arith(VmState *L, ptrdiff_t ra, const VmValue *rb, const VmValue *rc, VmTMS op);
// Concatenates registers last-total+1 .. last of the running frame into register last-total+1.
void vm_concat_values(VmState *L, int total, int last);
