// The VM's only allocator: the system's realloc with byte accounting.
#pragma once
#include <cstddef>
#include <cstdint>

struct VmState;

// Frees for nsize 0; ERR_MEM above 0xFFFFFFFC, beyond G(L)->memlimit or when realloc fails
// (raised at the current call, or nullptr when L is null, i.e. for the state's own records).
void *vm_realloc(VmState *L, void *block, size_t osize, size_t nsize);
// Resizes a block that its owner fills as it grows (a string read in place), with the same
// accounting as vm_realloc: the allocator resizes it, so large blocks move by remapping, not by
// copying. No 2 MB pages are asked for: the block is written once, front to back, and zeroing
// whole 2 MB pages on first touch costs more than it saves. nullptr, nothing raised and the old
// block unchanged, when memory is short or the memory limit would be passed.
void *vm_regrow(VmState *L, void *block, size_t osize, size_t nsize);

// Resizes the array part of a table, with the same accounting and errors as vm_realloc.
// Parts of a megabyte and more live in mappings of their own: growing one moves its pages
// instead of copying them, and the pages added come from the kernel cleared. *cleared (when
// given) tells whether the bytes from osize to nsize are zero already (zero bytes are nil values).
void *vm_arrayrealloc(VmState *L, void *block, size_t osize, size_t nsize, bool *cleared);

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

// Short strings come and go by the thousand: their blocks are kept on free lists by size
// class (16, 32, 48 or 64 bytes, up to a limit for each) and handed out again, with the same
// accounting and ceiling as vm_realloc. Under AddressSanitizer every block goes to the system
// allocator, so that its checks still see each one.
constexpr int VM_SMALLCLASSES = 4;
struct VmSmallPool {
  void *free[VM_SMALLCLASSES];
  uint32_t count[VM_SMALLCLASSES];
};
void *vm_allocsmall(VmState *L, size_t size);
void vm_freesmall(VmState *L, void *block, size_t size);
// Returns the kept blocks to the system (at state close).
void vm_drainsmall(VmSmallPool *pool);

// Grows an array to twice its size (at least 4), up to limit; raises errcode beyond.
void *vm_growaux(VmState *L, void *block, int *size, size_t size_elem, int limit, unsigned errcode);
template <typename T>
void vm_growvector(VmState *L, T *&v, int nelems, int &size, int limit, unsigned errcode) {
  if (nelems + 1 > size) v = static_cast<T *>(vm_growaux(L, v, &size, sizeof(T), limit, errcode));
}
