// The services one layer answers for another, put on the player context in one place.
#pragma once

struct VmState;
struct qmPlayerRun;

// Fills the context's service entries of every library that opened; start-up calls it once
// the libraries are open.
void WirePlayerContext(VmState *L, qmPlayerRun *run);
