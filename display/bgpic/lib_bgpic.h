// The "bgpic" library of script commands.
#pragma once

#include "runtime/library.h"

struct VmState;
struct qmOutputPicture;

extern const qmLibrary kBGPicLibrary;

// The player-context service: the picture that drawing goes to (player/wiring.cpp).
int32_t BGPicCurrentPicture(VmState *L, qmOutputPicture *out);
