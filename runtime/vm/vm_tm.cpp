#include "runtime/vm/vm_tm.h"

#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"
#include "runtime/vm/vm_table.h"

const char *const vm_tmnames[VM_TM_N] = {
    "__index", "__newindex", "__gc",  "__mode", "__eq",  "__add", "__sub", "__mul",
    "__div",   "__divint",   "__mod", "__lsh",  "__rsh", "__or",  "__and", "__xor",
    "__pow",   "__unm",      "__not", "__lt",   "__le",  "__concat", "__call"};

void vm_tminit(VmState *L) {
  for (int i = 0; i < VM_TM_N; i++) {
    VmString *s = vm_newstr(L, vm_tmnames[i]);
    s->marked |= VM_FIXED;
    G(L)->tmname[i] = s;
  }
}

const VmValue *vm_fasttm(VmTable *mt, VmTMS event, VmString *ename) {
  if (mt->flags & (1u << event)) return nullptr;
  const VmValue *tm = vm_getstr(mt, ename);
  if (vm_isnil(tm)) {
    mt->flags |= static_cast<uint8_t>(1u << event);
    return nullptr;
  }
  return tm;
}

const VmValue *vm_gettmbyobj(VmState *L, const VmValue *o, VmTMS event) {
  VmTable *mt;
  switch (o->tt) {
    case VM_TTABLE: mt = vm_hvalue(o)->metatable; break;
    case VM_TUSERDATA: mt = vm_uvalue(o)->metatable; break;
    default: return &vm_nilobject;
  }
  return vm_getstr(mt, G(L)->tmname[event]);
}
