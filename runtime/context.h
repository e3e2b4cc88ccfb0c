// The player context: what one run keeps beside the VM, reached from the VM's global state.
// The runtime support creates it with the run and frees it at the end; each library hangs its
// own state off it in its init and takes it down in its free, and the services one layer
// answers for another are entries here, filled by the player's wiring at start-up.
#pragma once
#include <cstdint>

struct VmState;
struct qmObjectRegistry;
struct qmEventState;
struct qmSystemServices;
struct qmSystemState;

struct qmPlayerContext {
  qmObjectRegistry *objects;  // every library's objects (objlist.h)
  qmEventState *event;        // the event dispatcher and the event library's sources
  // The system library's (player/system): what other layers answer for it, and its own state.
  qmSystemServices *system;
  qmSystemState *systemState;
};

// The context of the state's run, or null for a VM that runs without the runtime support.
qmPlayerContext *GetPlayerContext(VmState *L);
// 0 or ERR_MEM: a new context, bound to L's global state.
uint32_t OpenPlayerContext(VmState *L);
// Frees what the runtime itself keeps in the context and unbinds it.
void ClosePlayerContext(VmState *L);
