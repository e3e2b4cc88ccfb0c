// Start and end of the runtime support: the error state, the event queue and the hooks that
// connect the runtime to the VM.
#pragma once
#include <cstdint>

struct VmState;

// 0, or ERR_MEM. Binds the runtime to the main state: its error state, its function-name
// filler, and the platform's error-argument setter.
uint32_t InitRuntimeSupport(VmState *L);
// Frees the tag-hook lists, the command and object registries, the user errors, the plug-in
// hooks and the queued events' payloads.
void FreeRuntimeSupport();
// The state given to InitRuntimeSupport, or nullptr.
VmState *GetMainState();
