#include "runtime/vm/vm_zio.h"

#include <cstring>

#include "runtime/vm/vm_mem.h"

void vm_zinit(VmReader *z, VmChunkReader reader, void *data, const char *name) {
  z->reader = reader;
  z->data = data;
  z->name = name;
  z->n = 0;
  z->p = nullptr;
}

int vm_zfill(VmReader *z) {
  size_t size = 0;
  const char *buff = z->reader(nullptr, z->data, &size);
  if (buff == nullptr || size == 0) return -1;
  z->n = size - 1;
  z->p = buff;
  return static_cast<unsigned char>(*(z->p++));
}

int vm_zlookahead(VmReader *z) {
  if (z->n == 0) {
    int c = vm_zfill(z);
    if (c == -1) return -1;
    z->n++;  // put the byte back
    z->p--;
  }
  return static_cast<unsigned char>(*z->p);
}

size_t vm_zread(VmReader *z, void *b, size_t n) {
  auto *dst = static_cast<char *>(b);
  while (n) {
    if (vm_zlookahead(z) == -1) return n;
    size_t m = n <= z->n ? n : z->n;
    std::memcpy(dst, z->p, m);
    z->n -= m;
    z->p += m;
    dst += m;
    n -= m;
  }
  return 0;
}

char *vm_zopenspace(VmState *L, VmBuffer *buff, size_t n) {
  if (n > buff->size) {
    if (n < 32) n = 32;
    buff->buffer = vm_reallocvector<char>(L, buff->buffer, buff->size, n);
    buff->size = n;
  }
  return buff->buffer;
}

void vm_zfreebuffer(VmState *L, VmBuffer *buff) {
  vm_freearray(L, buff->buffer, buff->size);
  buff->buffer = nullptr;
  buff->size = 0;
}
