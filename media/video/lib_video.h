#pragma once
#include "runtime/library.h"

extern const qmLibrary kVideoLibrary;

struct VmState;
struct qmDisplay;

// The videos shown on a display whose window closes, opens again or that goes (DISPVIDEO_*).
// player/wiring.cpp puts it on the player context.
void VideosOfDisplay(VmState *L, qmDisplay *display, int32_t op);
