#include "runtime/vm/vm_gc.h"

#include <initializer_list>

#include "runtime/vm/vm_func.h"
#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"

void vm_freeobj(VmState *L, VmGCObject *o) {
  switch (o->tt) {
    case VM_TPROTO: vm_freeproto(L, static_cast<VmProto *>(o)); break;
    case VM_TFUNCTION: vm_freeclosure(L, static_cast<VmClosure *>(o)); break;
    case VM_TUPVAL: vm_realloc(L, o, sizeof(VmUpvalue), 0); break;
    case VM_TTABLE: vm_freetable(L, static_cast<VmTable *>(o)); break;
    case VM_TSTRING: vm_realloc(L, o, vm_sizestring(static_cast<VmString *>(o)->len), 0); break;
    case VM_TUSERDATA: vm_realloc(L, o, vm_sizeudata(static_cast<VmUserdata *>(o)->len), 0); break;
    default: break;  // threads are freed by their owner
  }
}

void vm_freeall(VmState *L) {
  VmGlobalState *g = G(L);
  for (VmGCObject **list : {&g->rootgc, &g->rootudata, &g->tmudata}) {
    VmGCObject *o = *list;
    while (o) {
      VmGCObject *next = o->next;
      vm_freeobj(L, o);
      o = next;
    }
    *list = nullptr;
  }
  vm_freestrtab(L);
}
