#include "runtime/vm/vm_object.h"

const VmValue vm_nilobject = {VM_TNIL, {nullptr}};

const char *const vm_typenames[9] = {"nil",    "boolean",  "userdata", "number", "string",
                                     "table",  "function", "userdata", "thread"};

const char *vm_typename(int32_t tt) {
  if (tt < 0 || tt > VM_TTHREAD) return "no value";
  return vm_typenames[tt];
}

int vm_rawequalobj(const VmValue *a, const VmValue *b) {
  if (a->tt != b->tt) return 0;
  switch (a->tt) {
    case VM_TNIL: return 1;
    case VM_TNUMBER: return a->v.n == b->v.n;
    case VM_TBOOLEAN: return a->v.b == b->v.b;
    default: return a->v.p == b->v.p;
  }
}
