// The buffered chunk reader and the scratch buffer.
#pragma once
#include <cstddef>

struct VmState;
typedef const char *(*VmChunkReader)(VmState *L, void *ud, size_t *size);

struct VmReader {
  size_t n;           // bytes left in the current block
  const char *p;      // current position
  VmChunkReader reader;
  void *data;
  const char *name;
};

struct VmBuffer {
  char *buffer;
  size_t size;
};

void vm_zinit(VmReader *z, VmChunkReader reader, void *data, const char *name);
// Fetches the next block and returns its first byte, or -1 at the end.
int vm_zfill(VmReader *z);
int vm_zlookahead(VmReader *z);
// Copies n bytes across blocks; returns the number it could not deliver.
size_t vm_zread(VmReader *z, void *b, size_t n);
inline int vm_zgetc(VmReader *z) {
  if (z->n > 0) { z->n--; return static_cast<unsigned char>(*z->p++); }
  return vm_zfill(z);
}
// A scratch buffer of at least n bytes, never smaller than 32.
char *vm_zopenspace(VmState *L, VmBuffer *buff, size_t n);
void vm_zfreebuffer(VmState *L, VmBuffer *buff);
