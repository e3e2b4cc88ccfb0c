// The "dos" library: files, directories, virtual and packed files, checksums, serialised
// tables and functions, copying and deleting.
#pragma once
#include <cstdint>

#include "runtime/library.h"

extern const qmLibrary kDosLibrary;

struct VmState;

// GetAttribute of a file object (the object type, the attribute; the id is argument 2): the
// results pushed or an error. player/wiring.cpp puts it on the player context.
uint32_t DosReadAttribute(VmState *L, uint32_t type, int32_t attribute);
