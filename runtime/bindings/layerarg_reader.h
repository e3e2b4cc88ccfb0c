// A layer named by a command's argument: its position in the picture drawing goes to, or its name.
#pragma once
#include <cstdint>

struct VmState;

// A layer argument: a position (truncated, not range-checked) or a layer name. 0, or
// ERR_FINDLAYER for a name no layer has, ERR_STRORNUM for another type.
uint32_t GetLayerArg(VmState *L, int i, int32_t *position);
