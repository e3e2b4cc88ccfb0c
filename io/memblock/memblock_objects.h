// The memblock library's blocks as objects of the run: made, freed and found for a command.
#pragma once
#include <cstdint>

#include "io/memblock.h"

struct VmState;

// A new block for the id (an explicit id in use loses its old block first), cleared to zero:
// 0, ERR_MEM.
uint32_t AllocMemBlock(VmState *L, const qmObjectId *id, int32_t size, qmMemBlock **out);
void FreeMemBlock(VmState *L, qmMemBlock *block);
void FreeAllMemBlocks(VmState *L);
// 0 and *out, or ERR_FINDARRAY / ERR_FINDMEMBLK (the number as error argument).
uint32_t FindMemBlock(VmState *L, const qmObjectId *id, qmMemBlock **out);
