#pragma once
#include "runtime/library.h"

extern const qmLibrary kSoundLibrary;

struct VmState;

// GetAttribute of a sample or of music (the object type, the attribute; the id is argument 2):
// the results pushed or an error. player/wiring.cpp puts it on the player context.
uint32_t SoundReadAttribute(VmState *L, uint32_t type, int32_t attribute);
