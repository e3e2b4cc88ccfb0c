// The one allocator pair of the player (the script VM alone uses its own counting allocator).
#pragma once
#include <cstdint>

// Size 0 yields nullptr and allocates nothing; clear != 0 yields zeroed memory.
// Every caller reports a null result as ERR_MEM.
void *MemAlloc(uint32_t size, int32_t clear);
void MemFree(void *block);
// Asks the system to back a block of `size` bytes with large pages where it can, before its
// pages are first touched: a pass over a picture of megabytes then misses fewer address
// translations. Nothing changes for the block's owner; the advice may be ignored.
void MemAdviseLargePages(void *block, uint64_t size);

// Sets the C allocator up for a long run, once at start-up: memory the script frees is kept for
// its next allocations instead of going back to the kernel and being faulted in again.
void MemSetUpForLongRun();

// For tests of the out-of-memory paths: the n-th allocation from now (1 = the next one) fails,
// and so does none after it; 0 switches the failure off. Answers whether the failure was used.
void SetMemAllocFailure(uint64_t n);
bool MemAllocFailureUsed();

// The machine's physical memory in bytes; 0xFFFFFFFF for 4 GiB and more, which the 32-bit
// result cannot hold.
uint32_t GetPhysicalMemory();
// The same from a page count and page size.
uint32_t PhysicalMemoryFromPages(uint64_t pages, uint64_t pageSize);
// The most memory the process can hope to hold, in bytes: the physical memory, or less where a
// limit on the address space or the data segment is set. A request beyond it is refused before
// anything is allocated.
uint64_t GetMemoryLimit();
