// The event library's own event sources: timers, mouse moves, the event queue (with its label
// jumps and user events) and hover.
#pragma once
#include <cstdint>

struct VmState;

// Registers them with the dispatcher: 0 or the first error.
uint32_t RegisterEventLibrarySources(VmState *L);
