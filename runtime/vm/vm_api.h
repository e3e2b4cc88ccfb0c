// The native-function interface: what host code uses to drive the VM.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/vm/vm_object.h"

// A chunk reader hands out blocks of bytes; a null block or size 0 ends the chunk.
typedef const char *(*VmChunkReader)(VmState *L, void *ud, size_t *size);
// A chunk writer receives each item of a dumped chunk; a result of 0 stops the dump
// with ERR_WRITE (the bytes could not be stored).
typedef int (*VmChunkWriter)(VmState *L, const void *p, size_t size, void *ud);

VmState *vm_open();
void vm_close(VmState *L);

int vm_gettop(VmState *L);
void vm_settop(VmState *L, int idx);
int vm_type(VmState *L, int idx);

// Reads a chunk under protection and pushes its main function; returns 0 or the
// error code (nothing is pushed then). A null chunk name becomes "?".
uint32_t vm_load(VmState *L, VmChunkReader reader, void *ud, const char *chunkname);
// Loads a chunk held in memory; the same as vm_load with a one-block reader.
uint32_t vm_loadbuffer(VmState *L, const char *buf, size_t size, const char *chunkname);

// Writes the script function at idx as a chunk: 0, ERR_NOQMFUNC for a native
// function (nothing written), ERR_WRITE when the writer refused an item.
uint32_t vm_dump(VmState *L, int idx, VmChunkWriter writer, void *ud);

// The prototype of the script function at idx, or nullptr.
VmProto *vm_toproto(VmState *L, int idx);
