// The system library's stopwatch timers and Wait.
#include "player/system/timer_commands.h"

#include <new>

#include "player/system/system_platform.h"
#include "player/system/system_timer.h"
#include "player/system/systemargs.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_number.h"

namespace {

enum : uint32_t { UNIT_SECONDS = 0, UNIT_MILLISECONDS = 1, UNIT_TICKS = 2 };

}  // namespace

uint32_t SysWait(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  double n = vm_checknumber(L, 1);
  uint32_t unit = vm_optinteger(L, 2, UNIT_TICKS);
  double factor;
  switch (unit) {
    case UNIT_SECONDS: factor = 1000; break;
    case UNIT_MILLISECONDS: factor = 1; break;
    case UNIT_TICKS: factor = 20; break;
    default: return ERR_WRONGUSAGE;
  }
  if (!(n >= 1)) return 0;
  return services->timedWait(L, vm_touint32(n * factor));
}

uint32_t SysStartTimer(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  qmObjectId id = GetNewObjectIdArg(L, 1);
  qmTimeval now;
  services->clock(&now);
  qmTimer *timer;
  if (uint32_t code = StartTimer(L, &id, &now, &timer)) return code;
  if (!id.handle) return 0;
  vm_pushlightuserdata(L, timer);
  return 1;
}

namespace {

// The timer named by argument 1 and the system clock's time now.
uint32_t TimerArgAndNow(VmState *L, qmTimer **timer, qmTimeval *now) {
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_TIMER, ERR_FINDTIMER, timer)) return code;
  services->clock(now);
  return 0;
}

}  // namespace

uint32_t SysGetTimer(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmTimer *timer;
  qmTimeval now;
  if (uint32_t code = TimerArgAndNow(L, &timer, &now)) return code;
  vm_pushnumber(L, TimerMilliseconds(timer, &now));
  return 1;
}

uint32_t SysPauseTimer(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmTimer *timer;
  qmTimeval now;
  if (uint32_t code = TimerArgAndNow(L, &timer, &now)) return code;
  PauseTimer(timer, &now);
  return 0;
}

uint32_t SysResumeTimer(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmTimer *timer;
  qmTimeval now;
  if (uint32_t code = TimerArgAndNow(L, &timer, &now)) return code;
  ResumeTimer(timer, &now);
  return 0;
}

uint32_t SysStopTimer(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmTimer *timer;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_TIMER, ERR_FINDTIMER, &timer)) return code;
  FreeObjectDataList(L, static_cast<qmObjectData *>(timer->header.userData));
  StopTimer(L, timer);
  return 0;
}

uint32_t SysResetTimer(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  qmTimer *timer;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_TIMER, ERR_FINDTIMER, &timer)) return code;
  uint32_t ms = vm_optinteger(L, 2, 0);
  qmTimeval now;
  services->clock(&now);
  ResetTimer(timer, ms, &now);
  return 0;
}

uint32_t SysWaitTimer(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmSystemServices *services;
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
  qmTimer *timer;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_TIMER, ERR_FINDTIMER, &timer)) return code;
  double ms = vm_checknumber(L, 2);
  double reset = vm_optnumber(L, 3, 1);
  if (timer->paused) return ERR_WRONGUSAGE;
  qmTimeval now;
  services->clock(&now);
  double remaining = ms - TimerMilliseconds(timer, &now);
  if (remaining >= 1) {
    if (uint32_t code = services->timedWait(L, vm_touint32(remaining))) return code;
  }
  // The wait may have freed nothing, but a handler run by the event pump may have stopped it.
  qmObjectId id = GetObjectIdArg(L, 1);
  if (reset != 0 && FindTimer(L, &id) == timer) {
    services->clock(&now);
    ResetTimer(timer, 0, &now);
  }
  return 0;
}
