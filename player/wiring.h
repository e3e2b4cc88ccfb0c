// The services one layer answers for another, put on the player context in one place.
#pragma once
#include <cstdint>

struct VmState;
struct qmPlayerRun;

// The run's scene on the context, before the libraries open: 0 or ERR_MEM.
uint32_t OpenScene(VmState *L);
// Fills the context's service entries of every library that opened; start-up calls it once
// the libraries are open.
void WirePlayerContext(VmState *L, qmPlayerRun *run);
// The display and background-picture libraries' services alone (tests without a run).
void WireDisplayServices(VmState *L);
// The text and sound libraries' services (part of WirePlayerContext; tests without a run), and
// their removal (part of UnwirePlayerContext).
void WireLibraryServices(VmState *L);
void UnwireLibraryServices(VmState *L);
// The reverse, at shut-down before the libraries are freed: entries that lead into a library
// are cleared, so that nothing freed later calls into one that is already gone. The error
// requester stays: the final report comes after the libraries.
void UnwirePlayerContext(VmState *L);
