// The "memblock" library: raw memory blocks, their values, and their way to and from files.
#pragma once
#include <cstdint>

#include "runtime/library.h"

extern const qmLibrary kMemblockLibrary;

struct VmState;

// GetAttribute of a memory block (the object type, the attribute; the id is argument 2): the
// results pushed or an error. player/wiring.cpp puts it on the player context.
uint32_t MemblockReadAttribute(VmState *L, uint32_t type, int32_t attribute);
