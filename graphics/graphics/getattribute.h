// GetAttribute: one table of object types, each row with the attributes it answers.
#pragma once
#include <cstdint>

struct VmState;

// The command: (type, id, attribute [, param]).
uint32_t GfxGetAttribute(VmState *L);
