// The "event" library of script commands: the event loop, handler installation, intervals and
// timeouts, label events.
#pragma once
#include <cstdint>

#include "runtime/library.h"

extern const qmLibrary kEventLibrary;

struct VmState;

// GetAttribute of an event handler (argument 2 is its event name), an interval or a timeout
// (argument 2 its id): the results pushed or an error. player/wiring.cpp puts it on the
// player context.
uint32_t EventReadAttribute(VmState *L, uint32_t type, int32_t attribute);
