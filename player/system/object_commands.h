// Handlers of the system library's object commands (object_commands.cpp).
#pragma once
#include <cstdint>

struct VmState;

uint32_t SysGetObjectType(VmState *L);
uint32_t SysGetObjectData(VmState *L);
uint32_t SysSetObjectData(VmState *L);
uint32_t SysClearObjectData(VmState *L);
uint32_t SysCopyObjectData(VmState *L);
uint32_t SysGetObjects(VmState *L);
uint32_t SysHaveObject(VmState *L);
