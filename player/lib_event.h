// The "event" library of script commands: the event loop, handler installation, intervals and
// timeouts, label events.
#pragma once
#include <cstdint>

struct VmState;

uint32_t InitEventLibrary(VmState *L);
void FreeEventLibrary(VmState *L);
