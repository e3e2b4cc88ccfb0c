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
// 1 when a video is shown on the display. player/wiring.cpp puts it on the player context.
int IsVideoOnDisplay(VmState *L, const qmDisplay *display);
// 1 when a video shown on the display covers the window's pixel (its on-screen rectangle, left
// and top inclusive). player/wiring.cpp puts it on the player context.
int IsVideoAtPoint(VmState *L, const qmDisplay *display, int32_t x, int32_t y);
// GetAttribute of a video (argument 2 names it): the results pushed or an error.
uint32_t VideoReadAttribute(VmState *L, int32_t attribute);
