// What the system library's handler files share (lib_system.cpp): this run's services and state
// on the player context, which the library's start made. A command called after the library was
// freed (a finaliser at shut-down) is refused with ERR_WRONGUSAGE.
#pragma once
#include <cstdint>

struct VmState;
struct qmSystemServices;
struct qmSystemState;

uint32_t SystemServicesOf(VmState *L, qmSystemServices **out);
uint32_t SystemStateOf(VmState *L, qmSystemState **out);
