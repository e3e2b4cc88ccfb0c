// The collector's freeing side.
#pragma once
#include "runtime/vm/vm_object.h"

void vm_freeobj(VmState *L, VmGCObject *o);
// Frees every collectable object (state destruction).
void vm_freeall(VmState *L);
