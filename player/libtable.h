// The script libraries of the player, in the order start-up opens them.
#pragma once

#include "runtime/library.h"

// The full opening order is string, math, graphics, draw, moveobject, dos, event, system,
// layers, text, anim, display, sound, brush, bgpic, transitionfx, sprite, memblock,
// vectorgraphics, network, video; a library not built yet has no row, and its commands are
// unknown until then. Null-ended.
extern const qmLibrary *const kPlayerLibraries[];
