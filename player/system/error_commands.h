// Handlers of the system library's error control and debug output (error_commands.cpp).
// SysGetLastError is also the VM's reader of the last error, which the library's start installs.
#pragma once
#include <cstdint>

struct VmState;

uint32_t SysEnd(VmState *L);
uint32_t SysGetErrorName(VmState *L);
uint32_t SysExitOnError(VmState *L);
uint32_t SysGetLastError(VmState *L);
uint32_t SysError(VmState *L);
uint32_t SysAssert(VmState *L);
uint32_t SysRaiseOnError(VmState *L);
uint32_t SysDebugPrint(VmState *L);
uint32_t SysDebugOutput(VmState *L);
uint32_t SysDebugPrompt(VmState *L);
