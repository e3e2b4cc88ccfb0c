// The player's whole run on the main thread: start-up, exports, plug-ins, the program file,
// the bytecode, the declarations and the main chunk in a protected call, then shut-down.
#pragma once
#include <cstdint>

struct VmState;
struct qmLibrary;

// The process's exit status (see Shutdown); 1 when not even the VM could be made. The run's
// record lives on this call's stack and is taken down before it returns.
int PlayerMain(int argc, char **argv);
// The same with a library table of the caller's instead of the player's own.
int PlayerMainWith(int argc, char **argv, const qmLibrary *const *libraries);
// Runs the function on the stack top with no arguments and no results under protection.
uint32_t CallScriptMain(VmState *L);
