// The event check that runs once per executed source line (the VM's line hook), so that a quit
// request ends even a script that never waits for events.
#pragma once
#include <cstdint>

struct VmState;
struct VmDebug;

// Cheap when idle: a monotonic clock read and a flag test. A quit request ends the script with
// ERR_USERABORT.
void ServiceEvents(VmState *L, VmDebug *ar, uint32_t *error);
