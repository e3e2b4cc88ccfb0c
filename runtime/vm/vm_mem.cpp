#include "runtime/vm/vm_mem.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "runtime/errcodes.h"
#include "runtime/vm/vm_state.h"

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// A block of megabytes (a big table's array part) is often walked with long strides: backed
// by 2 MB pages where the kernel has them, such a walk misses the address-translation cache
// far less often. Only the whole 2 MB pages inside the block are asked for; a refusal
// changes nothing.
void askhugepages(void *block, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kHugePage - 1);
  if (end > start) madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

}  // namespace

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
  void *nb;
  if (nsize >= 2 * kHugePage && nsize > osize) {
    // A fresh block, hinted before anything touches it; the old contents (osize bytes, which
    // every caller tracks exactly) are copied in. On failure the old block stays as it was.
    nb = std::malloc(nsize);
    if (nb) {
      askhugepages(nb, nsize);
      if (block) {
        std::memcpy(nb, block, osize);
        std::free(block);
      }
    }
  } else {
    nb = std::realloc(block, nsize);
  }
  if (!nb) {
    if (L) vm_memerror(L);
    return nullptr;
  }
  if (L) G(L)->nblocks = G(L)->nblocks - osize + nsize;
  return nb;
}

void *vm_regrow(VmState *L, void *block, size_t osize, size_t nsize) {
  VmGlobalState *g = G(L);
  if (nsize == 0 || nsize > 0xFFFFFFFCu) return nullptr;
  if (g->memlimit && nsize > osize && g->nblocks - osize + nsize > g->memlimit) return nullptr;
  void *nb = std::realloc(block, nsize);
  if (!nb) return nullptr;
  g->nblocks = g->nblocks - osize + nsize;
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

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif

// Blocks kept per class. One collection cycle of a string-building loop frees some tens of
// thousands of short strings; kept, they serve the next cycle without the system allocator.
constexpr uint32_t kSmallKeep = 32768;

// The class of a block of size bytes (1 and up); VM_SMALLCLASSES and above are not pooled.
inline size_t smallclass(size_t size) { return (size - 1) >> 4; }

}  // namespace

void *vm_allocsmall(VmState *L, size_t size) {
  size_t c = smallclass(size);
  if (!kPooled || c >= VM_SMALLCLASSES) return vm_realloc(L, nullptr, 0, size);
  VmGlobalState *g = G(L);
  if (g->memlimit && g->nblocks + size > g->memlimit) vm_memerror(L);
  VmSmallPool &pool = g->smallpool;
  void *b = pool.free[c];
  if (b) {
    pool.free[c] = *static_cast<void **>(b);
    pool.count[c]--;
  } else {
    b = std::malloc((c + 1) << 4);  // the class's full size: the block may serve any size of it later
    if (!b) vm_memerror(L);
  }
  g->nblocks += size;
  return b;
}

void vm_freesmall(VmState *L, void *block, size_t size) {
  size_t c = smallclass(size);
  if (!kPooled || c >= VM_SMALLCLASSES) {
    vm_realloc(L, block, size, 0);
    return;
  }
  VmGlobalState *g = G(L);
  g->nblocks -= size;
  VmSmallPool &pool = g->smallpool;
  if (pool.count[c] >= kSmallKeep) {
    std::free(block);
    return;
  }
  *static_cast<void **>(block) = pool.free[c];
  pool.free[c] = block;
  pool.count[c]++;
}

void vm_drainsmall(VmSmallPool *pool) {
  for (int c = 0; c < VM_SMALLCLASSES; c++) {
    while (void *b = pool->free[c]) {
      pool->free[c] = *static_cast<void **>(b);
      std::free(b);
    }
    pool->count[c] = 0;
  }
}
