#include "platform/memory.h"

#include <cstdlib>

void *MemAlloc(uint32_t size, int32_t clear) {
  if (size == 0) return nullptr;
  return clear ? std::calloc(1, size) : std::malloc(size);
}

void MemFree(void *block) { std::free(block); }
