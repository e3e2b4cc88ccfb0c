// Error control of the system library: the script's own error handler (RaiseOnError), which
// the VM calls before a failing command's code is raised or recorded.
#pragma once
#include <cstdint>

struct VmState;

// Runs the installed handler with (code, message, command name, line). The failing command's
// name and line are taken first and then reset to "----" and -1; the callback depth is raised
// during the call and the handler's results are dropped. Returns the handler's error code,
// 0 when it succeeded (the command then fails silently), or code when none is installed.
uint32_t CallErrorHandler(VmState *L, uint32_t code);

// Makes the value at stack position i the handler (a function), or removes it (anything
// else); the previous handler is released either way.
void SetErrorHandler(VmState *L, int i);
void ReleaseErrorHandler(VmState *L);
