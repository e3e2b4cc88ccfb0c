// The "string" library of script commands.
#pragma once
#include <cstdint>

struct VmState;

// Registers the library's commands and constants; 0 or an error code.
uint32_t InitStringLibrary(VmState *L);
// Frees the library's objects at shut-down.
void FreeStringLibrary(VmState *L);
