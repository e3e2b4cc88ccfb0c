// Chunk loader, writer and the load-time code checker.
#pragma once
#include <cstddef>

#include "runtime/vm/vm_object.h"
#include "runtime/vm/vm_zio.h"

constexpr int VM_MAX_PROTO_DEPTH = 200;  // nesting limit of prototypes in a chunk
constexpr double VM_TESTNUMBER = 31415926.535897933;

// Reads the header and the main prototype; raises the loader's error codes.
VmProto *vm_undump(VmState *L, VmReader *z, VmBuffer *buff);

typedef int (*VmChunkWriter)(VmState *L, const void *p, size_t size, void *ud);
// Writes f as a chunk; returns 0, or ERR_WRITE when the writer refused an item.
unsigned vm_dumpproto(VmState *L, const VmProto *f, VmChunkWriter w, void *data);

// Non-zero when the prototype's code is acceptable.
int vm_checkcode(const VmProto *pt);
