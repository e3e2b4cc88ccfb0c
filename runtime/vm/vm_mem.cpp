#include "runtime/vm/vm_mem.h"

#include <cstdlib>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_state.h"

void *vm_realloc(VmState *L, void *block, size_t osize, size_t nsize) {
  if (nsize == 0) {
    std::free(block);
    if (L && block) G(L)->nblocks -= osize;
    return nullptr;
  }
  if (nsize > 0xFFFFFFFCu) {
    if (L) vm_raise(L, ERR_MEM);
    return nullptr;
  }
  if (L) {
    VmGlobalState *g = G(L);
    if (g->memlimit && nsize > osize && g->nblocks - osize + nsize > g->memlimit) vm_memerror(L);
  }
  void *nb = std::realloc(block, nsize);
  if (!nb) {
    if (L) vm_memerror(L);
    return nullptr;
  }
  if (L) G(L)->nblocks = G(L)->nblocks - osize + nsize;
  return nb;
}

void *vm_growaux(VmState *L, void *block, int *size, size_t size_elem, int limit, unsigned errcode) {
  int newsize;
  if (*size >= limit / 2) {
    if (*size < limit - 4) newsize = limit;
    else vm_raise(L, errcode);
  } else {
    newsize = *size * 2;
    if (newsize < 4) newsize = 4;
  }
  void *nb = vm_realloc(L, block, static_cast<size_t>(*size) * size_elem, static_cast<size_t>(newsize) * size_elem);
  *size = newsize;
  return nb;
}
