#include "platform/memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {
// Allocations left before the one that fails; 0: none fails.
std::atomic<uint64_t> gFailCountdown{0};
std::atomic<bool> gFailUsed{false};
}  // namespace

void SetMemAllocFailure(uint64_t n) {
  gFailCountdown.store(n, std::memory_order_relaxed);
  gFailUsed.store(false, std::memory_order_relaxed);
}

bool MemAllocFailureUsed() { return gFailUsed.load(std::memory_order_relaxed); }

void *MemAlloc(uint32_t size, int32_t clear) {
  if (size == 0) return nullptr;
  uint64_t left = gFailCountdown.load(std::memory_order_relaxed);
  while (left != 0 && !gFailCountdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
  }
  if (left == 1) {
    gFailUsed.store(true, std::memory_order_relaxed);
    return nullptr;
  }
  return clear ? std::calloc(1, size) : std::malloc(size);
}

void MemFree(void *block) { std::free(block); }

void MemSetUpForLongRun() {
  // A script that drops a big table and builds the next one would otherwise hand the pages back
  // at every free and fault them in again at every fill. Blocks of up to 32 MiB (a 4K picture
  // and less) come from the heap, and up to 256 MiB freed at its top stay with the process.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

void MemAdviseLargePages(void *block, uint64_t size) {
  const long page = sysconf(_SC_PAGESIZE);
  if (!block || size == 0 || page <= 0) return;
  // The advice goes by whole pages: from the page holding the block's first byte.
  const uintptr_t start = reinterpret_cast<uintptr_t>(block) & ~uintptr_t(page - 1);
  madvise(reinterpret_cast<void *>(start), size_t(size + (reinterpret_cast<uintptr_t>(block) - start)), MADV_HUGEPAGE);
}

uint32_t PhysicalMemoryFromPages(uint64_t pages, uint64_t pageSize) {
  if (pageSize != 0 && pages > UINT32_MAX / pageSize) return UINT32_MAX;
  uint64_t bytes = pages * pageSize;
  return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

uint64_t GetMemoryLimit() {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  uint64_t limit = pages > 0 && pageSize > 0 && uint64_t(pages) <= UINT64_MAX / uint64_t(pageSize)
                       ? uint64_t(pages) * uint64_t(pageSize)
                       : UINT64_MAX;
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit r{};
    if (getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY && uint64_t(r.rlim_cur) < limit)
      limit = uint64_t(r.rlim_cur);
  }
  return limit;
}

uint32_t GetPhysicalMemory() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return PhysicalMemoryFromPages(static_cast<uint64_t>(pages), static_cast<uint64_t>(pageSize));
}
