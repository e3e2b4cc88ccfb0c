#include "runtime/vm/vm_mem.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "runtime/errcodes.h"
#include "runtime/vm/vm_state.h"

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// A block of megabytes (a big table's array or hash part) is often walked with long strides: backed
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

namespace {

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
constexpr size_t kMappedArray = size_t{1} << 20;
#else
// Under AddressSanitizer every array part stays with the system allocator, whose blocks the
// checks see.
constexpr size_t kMappedArray = SIZE_MAX;
#endif

size_t pagesof(size_t bytes) {
  static const size_t page = size_t(sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) & ~(page - 1);
}

// A mapping of at least two 2 MB pages starts on a 2 MB boundary, so that the kernel can back
// all of it with large pages and keeps them when the mapping moves (see askhugepages).
size_t alignof_(size_t bytes) { return bytes >= 2 * kHugePage ? kHugePage : 0; }

// Reserves pagesof(size) bytes of address space aligned as alignof_(size); nullptr on failure.
void *reserve(size_t size, int prot) {
#if defined(__linux__)
  const size_t len = pagesof(size), extra = alignof_(size);
  char *p = static_cast<char *>(mmap(nullptr, len + extra, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (p == MAP_FAILED) return nullptr;
  if (!extra) return p;
  char *start = reinterpret_cast<char *>((reinterpret_cast<uintptr_t>(p) + extra - 1) & ~(extra - 1));
  if (start > p) munmap(p, size_t(start - p));
  if (start + len < p + len + extra) munmap(start + len, size_t(p + len + extra - (start + len)));
  return start;
#else
  (void)size, (void)prot;
  return nullptr;
#endif
}

void *maparray(size_t nsize) {
  void *nb = reserve(nsize, PROT_READ | PROT_WRITE);
  if (nb && nsize >= 2 * kHugePage) askhugepages(nb, nsize);
  return nb;
}

// The bytes past a mapped part's end up to its last page's end are kept zero, so that growing
// it again (which adds cleared pages only) leaves every byte past the old end zero. A part
// that grows onto two 2 MB pages or more is moved to an aligned place, where its pages keep
// their size.
void *remaparray(void *block, size_t osize, size_t nsize) {
#if defined(__linux__)
  const size_t extra = alignof_(nsize);
  const bool aligned = !extra || (reinterpret_cast<uintptr_t>(block) & (extra - 1)) == 0;
  void *nb = aligned ? mremap(block, pagesof(osize), pagesof(nsize), 0) : MAP_FAILED;
  if (nb != MAP_FAILED) {
    // resized where it is
  } else if (extra) {
    void *target = reserve(nsize, PROT_NONE);
    if (!target) return nullptr;
    nb = mremap(block, pagesof(osize), pagesof(nsize), MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (nb == MAP_FAILED) {
      munmap(target, pagesof(nsize));
      return nullptr;
    }
  } else {
    nb = mremap(block, pagesof(osize), pagesof(nsize), MREMAP_MAYMOVE);
    if (nb == MAP_FAILED) return nullptr;
  }
  if (nsize < osize) std::memset(static_cast<char *>(nb) + nsize, 0, pagesof(nsize) - nsize);
  if (nsize >= 2 * kHugePage) askhugepages(nb, nsize);
  return nb;
#else
  (void)block, (void)osize, (void)nsize;
  return nullptr;
#endif
}

void unmaparray(void *block, size_t size) {
#if defined(__linux__)
  munmap(block, pagesof(size));
#else
  (void)block, (void)size;
#endif
}

}  // namespace

void *vm_arrayrealloc(VmState *L, void *block, size_t osize, size_t nsize, bool *cleared) {
  if (cleared) *cleared = false;
  if (osize < kMappedArray && nsize < kMappedArray) return vm_realloc(L, block, osize, nsize);
  VmGlobalState *g = G(L);
  if (nsize > 0xFFFFFFFCu) vm_raise(L, ERR_MEM);
  if (g->memlimit && nsize > osize && g->nblocks - osize + nsize > g->memlimit) vm_memerror(L);
  void *nb = nullptr;
  if (nsize == 0) {
    unmaparray(block, osize);
  } else if (osize >= kMappedArray && nsize >= kMappedArray) {
    nb = remaparray(block, osize, nsize);
    if (!nb) vm_memerror(L);
    if (cleared) *cleared = true;
  } else if (nsize >= kMappedArray) {
    nb = maparray(nsize);
    if (!nb) vm_memerror(L);
    if (block) std::memcpy(nb, block, osize);
    std::free(block);
    if (cleared) *cleared = true;
  } else {
    nb = std::malloc(nsize);
    if (!nb) vm_memerror(L);
    std::memcpy(nb, block, nsize);
    unmaparray(block, osize);
  }
  g->nblocks = g->nblocks - osize + nsize;
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
