// The player's whole run on the main thread: start-up, exports, plug-ins, the program file,
// the bytecode, the declarations and the main chunk in a protected call, then shut-down.
#pragma once
#include <cstdint>

struct VmState;

// The process's exit status (see Shutdown); 1 when not even the VM could be made.
int PlayerMain(int argc, char **argv);
// Runs the function on the stack top with no arguments and no results under protection.
uint32_t CallScriptMain(VmState *L);
