// Handlers of the system library's requester, clipboard and browser commands (desktop_commands.cpp).
#pragma once
#include <cstdint>

struct VmState;

uint32_t SysSystemRequest(VmState *L);
uint32_t SysFileRequest(VmState *L);
uint32_t SysPathRequest(VmState *L);
uint32_t SysStringRequest(VmState *L);
uint32_t SysListRequest(VmState *L);
uint32_t SysColorRequest(VmState *L);
uint32_t SysFontRequest(VmState *L);
uint32_t SysSetClipboard(VmState *L);
uint32_t SysGetClipboard(VmState *L);
uint32_t SysPeekClipboard(VmState *L);
uint32_t SysClearClipboard(VmState *L);
uint32_t SysOpenURL(VmState *L);
