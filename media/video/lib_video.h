#pragma once
#include <cstdint>

#include "runtime/library.h"

extern const qmLibrary kVideoLibrary;

struct VmState;
struct qmDisplay;

// The videos shown on a display whose window closes, opens again or that goes, that changes its
// size or scale or is drawn again (DISPVIDEO_*).
// player/wiring.cpp puts it on the player context.
void VideosOfDisplay(VmState *L, qmDisplay *display, int32_t op);
// GetAttribute of a video (argument 2 names it): the results pushed or an error.
uint32_t VideoReadAttribute(VmState *L, int32_t attribute);
