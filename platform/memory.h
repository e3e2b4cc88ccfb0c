// The one allocator pair of the player (the script VM alone uses its own counting allocator).
#pragma once
#include <cstdint>

// Size 0 yields nullptr and allocates nothing; clear != 0 yields zeroed memory.
// Every caller reports a null result as ERR_MEM.
void *MemAlloc(uint32_t size, int32_t clear);
void MemFree(void *block);
