// The VM's only allocator: the system's realloc with byte accounting.
#pragma once
#include <cstddef>

struct VmState;

// Frees for nsize 0; ERR_MEM above 0xFFFFFFFC, beyond G(L)->memlimit or when realloc fails
// (raised at the current call, or nullptr when L is null, i.e. for the state's own records).
void *vm_realloc(VmState *L, void *block, size_t osize, size_t nsize);

template <typename T>
T *vm_newvector(VmState *L, size_t n) {
  return static_cast<T *>(vm_realloc(L, nullptr, 0, n * sizeof(T)));
}
template <typename T>
T *vm_reallocvector(VmState *L, T *v, size_t oldn, size_t n) {
  return static_cast<T *>(vm_realloc(L, v, oldn * sizeof(T), n * sizeof(T)));
}
template <typename T>
void vm_freearray(VmState *L, T *v, size_t n) {
  vm_realloc(L, v, n * sizeof(T), 0);
}

// Grows an array to twice its size (at least 4), up to limit; raises errcode beyond.
void *vm_growaux(VmState *L, void *block, int *size, size_t size_elem, int limit, unsigned errcode);
template <typename T>
void vm_growvector(VmState *L, T *&v, int nelems, int &size, int limit, unsigned errcode) {
  if (nelems + 1 > size) v = static_cast<T *>(vm_growaux(L, v, &size, sizeof(T), limit, errcode));
}
