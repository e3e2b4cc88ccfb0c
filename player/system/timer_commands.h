// Handlers of the system library's stopwatch timers and Wait (timer_commands.cpp).
#pragma once
#include <cstdint>

struct VmState;

uint32_t SysWait(VmState *L);
uint32_t SysStartTimer(VmState *L);
uint32_t SysGetTimer(VmState *L);
uint32_t SysPauseTimer(VmState *L);
uint32_t SysResumeTimer(VmState *L);
uint32_t SysStopTimer(VmState *L);
uint32_t SysResetTimer(VmState *L);
uint32_t SysWaitTimer(VmState *L);
