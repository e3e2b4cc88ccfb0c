// The "system" library: its command handlers (the script's view: checks, lookups, results),
// its command table, its constants (with one constant per error code) and its start and end.
// The records and algorithms the handlers call live in the system_*.cpp files beside it.
#include "player/system/lib_system.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/catalog.h"
#include "platform/date.h"
#include "platform/locale.h"
#include "platform/memory.h"
#include "player/system/system_dates.h"
#include "player/system/system_debug.h"
#include "player/system/system_platform.h"
#include "player/system/system_program.h"
#include "player/system/system_state.h"
#include "player/system/system_tables.h"
#include "player/system/system_timer.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/registry.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_number.h"

namespace {

// This run's services and state on the player context; the library's init made both. A
// command called after the library was freed (a finaliser at shut-down) is refused.
uint32_t Services(VmState *L, qmSystemServices **out) {
  *out = GetPlayerContext(L)->system;
  return *out ? 0 : uint32_t(ERR_WRONGUSAGE);
}
uint32_t State(VmState *L, qmSystemState **out) {
  *out = GetPlayerContext(L)->systemState;
  return *out ? 0 : uint32_t(ERR_WRONGUSAGE);
}

// Stopwatch timers and waiting.

enum : uint32_t { UNIT_SECONDS = 0, UNIT_MILLISECONDS = 1, UNIT_TICKS = 2 };


uint32_t SysWait(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
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
  if (uint32_t code = Services(L, &services)) return code;
  qmObjectId id = GetNewObjectIdArg(L, 1);
  qmTimeval now;
  services->clock(&now);
  qmTimer *timer;
  if (uint32_t code = StartTimer(L, &id, &now, &timer)) return code;
  if (!id.handle) return 0;
  vm_pushlightuserdata(L, timer);
  return 1;
}

uint32_t SysGetTimer(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  qmTimer *timer;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_TIMER, ERR_FINDTIMER, &timer)) return code;
  qmTimeval now;
  services->clock(&now);
  vm_pushnumber(L, TimerMilliseconds(timer, &now));
  return 1;
}

uint32_t SysPauseTimer(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  qmTimer *timer;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_TIMER, ERR_FINDTIMER, &timer)) return code;
  qmTimeval now;
  services->clock(&now);
  PauseTimer(timer, &now);
  return 0;
}

uint32_t SysResumeTimer(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  qmTimer *timer;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_TIMER, ERR_FINDTIMER, &timer)) return code;
  qmTimeval now;
  services->clock(&now);
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
  if (uint32_t code = Services(L, &services)) return code;
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
  if (uint32_t code = Services(L, &services)) return code;
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

// Error control (End, Error, Assert, ExitOnError, RaiseOnError, GetLastError) and debug output.

constexpr size_t kPromptLineSize = 16385;  // 16384 bytes and the terminator

uint32_t SysEnd(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_setendrequested(L, 1);
  return 0;
}

uint32_t SysGetErrorName(VmState *L) {
  CheckArgCount(L, 1, 1);
  uint32_t code = vm_checkinteger(L, 1);
  char message[kErrorMessageSize];
  vm_pushstring(L, FormatErrorMessage(code, message, sizeof message));
  return 1;
}

uint32_t SysExitOnError(VmState *L) {
  CheckArgCount(L, 1, 1);
  bool on = vm_checknumber(L, 1) != 0;
  if (!on && HasErrorHandler(L)) return ERR_WRONGUSAGE;
  vm_setexitonerror(L, on);
  return 0;
}

uint32_t SysGetLastError(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_pushnumber(L, vm_getlasterror(L));
  return 1;
}

uint32_t SysError(VmState *L) {
  CheckArgCount(L, 1, 1);
  SetErrorArgument(vm_checkstring(L, 1, nullptr));
  return ERR_ERRORCALLED;
}

uint32_t SysAssert(VmState *L) {
  CheckArgCount(L, 1, 1);
  int type = vm_type(L, 1);
  if (type == VM_TNIL || (type == VM_TNUMBER && vm_tonumber(L, 1) == 0)) return ERR_ASSERTFAILED;
  vm_settop(L, 1);
  return 1;
}

uint32_t SysRaiseOnError(VmState *L) {
  CheckArgCount(L, 1, 1);
  if (!vm_getexitonerror(L)) return ERR_WRONGUSAGE;
  SetErrorHandler(L, 1);
  return 0;
}

// DebugStr, DebugVal and DebugPrint: every argument as the global "tostring" gives it, one
// blank apart, and a line feed.
uint32_t SysDebugPrint(VmState *L) {
  CheckArgCount(L, 1, VM_ANYARGS);
  int n = vm_gettop(L);
  std::string line;
  for (int i = 1; i <= n; i++) {
    vm_pushstring(L, "tostring");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushvalue(L, i);
    if (uint32_t code = vm_call(L, 1, 1)) return code;
    const char *text = vm_tostring(L, -1);
    if (i > 1) line += ' ';
    if (text) line += text;
    vm_pop(L, 1);
  }
  line += '\n';
  DebugWrite(line.c_str());
  return 0;
}

uint32_t SysDebugOutput(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmSystemState *state;
  if (uint32_t code = State(L, &state)) return code;
  int on = vm_checknumber(L, 1) != 0;
  state->debugOutput = on;
  vm_setcalltrace(L, on);
  return 0;
}

uint32_t SysDebugPrompt(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *prompt = vm_checkstring(L, 1, nullptr);
  if (prompt[0]) DebugWrite(prompt);
  std::string line(kPromptLineSize, '\0');
  ReadDebugLine(line.data(), line.size());
  vm_pushstring(L, line.c_str());
  return 1;
}

// Table utilities, raw access, metatables, iteration and value tests.

// Runs f(key, value) with one result while native code holds the loop; 0 or the error.
uint32_t CallWithPair(VmState *L, int f, int key, int value) {
  vm_pushvalue(L, f);
  vm_pushvalue(L, key);
  vm_pushvalue(L, value);
  return vm_callback(L, 2, 1);
}

uint32_t SysSort(VmState *L) {
  CheckArgCount(L, 1, 2);
  vm_checktable(L, 1);
  int comparator = 0;
  if (!vm_isnoneornil(L, 2)) {
    vm_checkfunction(L, 2);
    comparator = 2;
  }
  int32_t n = CountTableItems(L, 1, comparator == 0);
  return SortTableRange(L, 1, comparator, 0, n - 1);
}

uint32_t SysGetType(VmState *L) {
  CheckArgCount(L, 1, 1);
  int kind;
  switch (vm_type(L, 1)) {
    case VM_TLIGHTUSERDATA: kind = 9; break;
    case VM_TNUMBER: kind = 2; break;
    case VM_TSTRING: kind = 3; break;
    case VM_TTABLE: kind = 4; break;
    case VM_TFUNCTION: kind = 5; break;
    case VM_TUSERDATA: kind = 8; break;
    case VM_TTHREAD: kind = 10; break;
    case VM_TBOOLEAN: kind = -1; break;
    default: kind = 0; break;
  }
  vm_pushnumber(L, kind);
  return 1;
}

uint32_t SysIIf(VmState *L) {
  CheckArgCount(L, 3, 3);
  bool first;
  switch (vm_type(L, 1)) {
    case VM_TNUMBER: first = vm_tonumber(L, 1) != 0; break;
    case VM_TSTRING: first = vm_strlen(L, 1) != 0; break;
    case VM_TNIL: first = false; break;
    default: return ERR_WRONGDTYPE;
  }
  vm_pushvalue(L, first ? 2 : 3);
  return 1;
}

uint32_t SysInsertItem(VmState *L) {
  CheckArgCount(L, 2, 3);
  vm_checktable(L, 1);
  int64_t position = vm_optint32(L, 3, -1);
  InsertTableItem(L, 1, 2, position);
  return 0;
}

uint32_t SysRemoveItem(VmState *L) {
  CheckArgCount(L, 1, 2);
  vm_checktable(L, 1);
  int64_t position = vm_optint32(L, 2, -1);
  return static_cast<uint32_t>(RemoveTableItem(L, 1, position));
}

uint32_t SysListItems(VmState *L) {
  CheckArgCount(L, 1, 1);
  vm_checktable(L, 1);
  vm_pushnumber(L, CountTableItems(L, 1, 0));
  return 1;
}

uint32_t SysUnpack(VmState *L) {
  CheckArgCount(L, 1, 1);
  vm_checktable(L, 1);
  int32_t n = CountTableItems(L, 1, 0);
  if (n >= 1000 || !vm_checkstack(L, n)) return ERR_STACK;  // results are 0..999
  for (int32_t i = 0; i < n; i++) vm_rawgeti(L, 1, i);
  return static_cast<uint32_t>(n);
}

uint32_t SysSetMetaTable(VmState *L) {
  CheckArgCount(L, 2, 2);
  vm_checktable(L, 1);
  int type = vm_type(L, 2);
  if (type != VM_TNIL && type != VM_TTABLE) {
    SetErrorNumber(2);
    return ERR_TABLEORNIL;
  }
  // A metatable with a "__metatable" field is protected against replacement.
  if (vm_getmetafield(L, 1, "__metatable")) return ERR_PROTMETATABLE;
  vm_settop(L, 2);
  vm_setmetatable(L, 1);
  return 1;
}

uint32_t SysGetMetaTable(VmState *L) {
  CheckArgCount(L, 1, 1);
  if (!vm_getmetatable(L, 1)) {
    vm_pushnil(L);
    return 1;
  }
  vm_pushstring(L, "__metatable");
  vm_rawget(L, -2);
  if (vm_type(L, -1) == VM_TNIL) vm_pop(L, 1);
  return 1;
}

uint32_t SysRawEqual(VmState *L) {
  CheckArgCount(L, 2, 2);
  vm_pushnumber(L, vm_rawequal(L, 1, 2));
  return 1;
}

uint32_t SysRawGet(VmState *L) {
  CheckArgCount(L, 2, 2);
  vm_checktable(L, 1);
  vm_settop(L, 2);
  vm_rawget(L, 1);
  return 1;
}

uint32_t SysRawSet(VmState *L) {
  CheckArgCount(L, 3, 3);
  vm_checktable(L, 1);
  vm_settop(L, 3);
  vm_rawset(L, 1);
  return 1;
}

uint32_t SysGCInfo(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_pushnumber(L, vm_getgccount(L));
  vm_pushnumber(L, vm_getgcthreshold(L));
  return 2;
}

uint32_t SysCollectGarbage(VmState *L) {
  CheckArgCount(L, 0, 1);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  vm_setgcthreshold(L, vm_optint32(L, 1, 0));
  if (services->layers.freeUnusedCache) services->layers.freeUnusedCache(L);
  return 0;
}

uint32_t SysIPairs(VmState *L) {
  CheckArgCount(L, 1, 2);
  vm_checktable(L, 1);
  if (vm_gettop(L) < 2) {
    vm_pushstring(L, "ipairs");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushvalue(L, 1);
    vm_pushnumber(L, -1);
    return 3;
  }
  double next = vm_checknumber(L, 2) + 1;
  vm_pushnumber(L, next);
  vm_pushnumber(L, next);
  vm_rawget(L, 1);
  return vm_type(L, -1) == VM_TNIL ? 0 : 2;
}

uint32_t SysPairs(VmState *L) {
  CheckArgCount(L, 1, 1);
  vm_checktable(L, 1);
  vm_pushstring(L, "nextitem");
  vm_gettable(L, VM_GLOBALSINDEX);
  vm_pushvalue(L, 1);
  vm_pushnil(L);
  return 3;
}

uint32_t SysNextItem(VmState *L) {
  CheckArgCount(L, 1, 2);
  vm_checktable(L, 1);
  return vm_nextitem(L);
}

uint32_t SysCopyTable(VmState *L) {
  CheckArgCount(L, 1, 1);
  vm_checktable(L, 1);
  if (uint32_t code = CopyTableDeep(L, 1)) return code;
  return 1;
}

uint32_t SysForEachI(VmState *L) {
  CheckArgCount(L, 2, 2);
  vm_checktable(L, 1);
  vm_checkfunction(L, 2);
  vm_settop(L, 2);
  for (int32_t i = 0; i < INT32_MAX; i++) {
    vm_rawgeti(L, 1, i);
    if (vm_type(L, -1) == VM_TNIL) return 0;
    vm_pushnumber(L, i);
    if (uint32_t code = CallWithPair(L, 2, 4, 3)) return code;
    if (vm_type(L, -1) != VM_TNIL) return 1;
    vm_settop(L, 2);
  }
  return 0;
}

uint32_t SysForEach(VmState *L) {
  CheckArgCount(L, 2, 2);
  vm_checktable(L, 1);
  vm_checkfunction(L, 2);
  vm_settop(L, 2);
  vm_pushnil(L);
  while (vm_next(L, 1)) {
    if (uint32_t code = CallWithPair(L, 2, 3, 4)) return code;
    if (vm_type(L, -1) != VM_TNIL) return 1;
    vm_settop(L, 3);  // the key stays for the next step
  }
  return 0;
}

uint32_t SysConcat(VmState *L) {
  CheckArgCount(L, 1, 4);
  vm_checktable(L, 1);
  size_t sepLength;
  const char *sep = vm_optlstring(L, 2, "", &sepLength);
  int64_t first = vm_optint32(L, 3, 0);
  int64_t last = vm_optint32(L, 4, 0);
  if (last == 0) last = CountTableItems(L, 1, 0) - 1;
  VmStrBuffer b;
  vm_buffinit(L, &b);
  for (int64_t i = first; i <= last; i++) {
    vm_rawgeti(L, 1, static_cast<int>(i));
    int type = vm_type(L, -1);
    if (type != VM_TSTRING && type != VM_TNUMBER) return ERR_STRINGEXPECTED;
    vm_addvalue(&b);
    if (i != last) vm_addlstring(&b, sep, sepLength);
  }
  vm_pushresult(&b);
  return 1;
}

// Catalogs, dates, program and system information.

enum : uint32_t { MEMORY_CHIP = 0, MEMORY_FAST = 1 };

uint32_t SysOpenCatalog(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmSystemState *state;
  if (uint32_t code = State(L, &state)) return code;
  const char *name = vm_checkstring(L, 1, nullptr);
  vm_optnumber(L, 2, 0);  // the version is accepted; the catalog format has no version check
  qmSystemState *s = state;
  if (s->catalog) CatalogClose(s->catalog);
  s->catalog = CatalogOpen(name);
  return 0;
}

uint32_t SysCloseCatalog(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmSystemState *state;
  if (uint32_t code = State(L, &state)) return code;
  qmSystemState *s = state;
  if (s->catalog) CatalogClose(s->catalog);
  s->catalog = nullptr;
  return 0;
}

uint32_t SysGetCatalogString(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmSystemState *state;
  if (uint32_t code = State(L, &state)) return code;
  int32_t index = vm_checkint32(L, 1);
  const char *fallback = vm_checkstring(L, 2, nullptr);
  vm_pushstring(L, CatalogGetString(state->catalog, index, fallback));
  return 1;
}

uint32_t SysGetDate(VmState *L) {
  CheckArgCount(L, 0, 1);
  char date[kDateTextSize], time[kDateTextSize];
  if (vm_optnumber(L, 1, 0) != 0) {
    GetDateTimeString(DATE_TEXT_NUMERIC, date, time);
    char text[64];
    FormatLongDate(date, time, text, sizeof text);
    vm_pushstring(L, text);
  } else {
    GetDateTimeString(DATE_TEXT_LOCALE, date, time);
    vm_pushstring(L, date);
  }
  return 1;
}

uint32_t SysGetTime(VmState *L) {
  CheckArgCount(L, 0, 1);
  char time[kDateTextSize], unused[kDateTextSize];
  GetDateTimeString(DATE_TEXT_TIME, time, unused);
  size_t n = std::strlen(time);
  if (vm_optnumber(L, 1, 0) == 0) n = n >= 3 ? n - 3 : 0;
  vm_pushlstring(L, time, n);
  return 1;
}

uint32_t SysGetWeekday(VmState *L) {
  CheckArgCount(L, 0, 0);
  char day[kDateTextSize], unused[kDateTextSize];
  GetDateTimeString(DATE_TEXT_WEEKDAY, day, unused);
  vm_pushstring(L, day);
  return 1;
}

uint32_t SysGetDateNum(VmState *L) {
  CheckArgCount(L, 1, 1);
  int32_t kind = vm_checkint32(L, 1);
  char date[kDateTextSize], time[kDateTextSize];
  GetDateTimeString(DATE_TEXT_NUMERIC, date, time);
  vm_pushnumber(L, DateNumber(kind, date, time));
  return 1;
}

uint32_t SysCompareDates(VmState *L) {
  CheckArgCount(L, 2, 3);
  const char *a = vm_checkstring(L, 1, nullptr);
  const char *b = vm_checkstring(L, 2, nullptr);
  int dateOnly = vm_optnumber(L, 3, 0) != 0;
  int32_t result;
  if (uint32_t code = CompareDateTexts(a, b, dateOnly, &result)) return code;
  vm_pushnumber(L, result);
  return 1;
}

uint32_t SysGetMemoryInfo(VmState *L) {
  CheckArgCount(L, 1, 1);
  uint32_t kind = vm_checkinteger(L, 1);
  if (kind != MEMORY_CHIP && kind != MEMORY_FAST) return ERR_WRONGUSAGE;
  vm_pushnumber(L, GetPhysicalMemory());
  return 1;
}

uint32_t SysGetVersion(VmState *L) {
  CheckArgCount(L, 0, 1);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  vm_newtable(L);
  SetFieldString(L, "application", "QuenmoorPlayer");
  SetFieldString(L, "version", "5.2");
  SetFieldString(L, "version_date", "12.11.12");
  SetFieldString(L, "kernel", "5.2");
  SetFieldString(L, "kernel_date", "12.11.12");
  SetFieldNumber(L, "beta", 0);
  // This build's platform and processor, as the banner's "[Linux]" tag says.
  SetFieldString(L, "platform", "Linux");
#if defined(__x86_64__)
  SetFieldString(L, "cpu", "x86_64");
#elif defined(__aarch64__)
  SetFieldString(L, "cpu", "arm64");
#else
  SetFieldString(L, "cpu", "i386");
#endif
  vm_pushstring(L, "plugins");
  vm_newtable(L);
  if (services->listPlugins) services->listPlugins(L);
  vm_settable(L, -3);
  return 1;
}

uint32_t SysGetCommandLine(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const qmProgramInfo *info = &services->program;
  vm_newtable(L);
  int32_t n = 0;
  for (const qmUserArg *a = info->userArguments; a; a = a->next, n++) {
    vm_newtable(L);
    SetFieldString(L, "arg", a->name ? a->name : "");
    SetFieldString(L, "param", a->value ? a->value : "");
    vm_rawseti(L, -2, n);
  }
  vm_pushnumber(L, n);
  vm_pushnumber(L, info->startedFromShell ? 1 : 0);
  return 3;
}

uint32_t SysGetProgramInfo(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const qmProgramInfo *info = &services->program;
  if (info->linked) {
    vm_pushnumber(L, PRGTYPE_PROGRAM);
    vm_pushstring(L, info->executablePath ? info->executablePath : "");
    return 2;
  }
  vm_pushnumber(L, info->applet && *info->applet ? PRGTYPE_APPLET : PRGTYPE_SCRIPT);
  vm_pushstring(L, info->programPath ? info->programPath : "");
  vm_pushstring(L, info->executablePath ? info->executablePath : "");
  return 3;
}

uint32_t SysGetFileArgument(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const char *file = services->program.fileArgument;
  vm_pushstring(L, file ? file : "");
  return 1;
}

uint32_t SysGetConstant(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = vm_checkstring(L, 1, nullptr);
  const char *text = nullptr;
  double number = 0;
  if (uint32_t code = ParseConstantRef(L, name, nullptr, &text, &number)) return code;
  if (text) vm_pushstring(L, text);
  else vm_pushnumber(L, number);
  return 1;
}

uint32_t SysGetSystemLanguage(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_pushnumber(L, GetLanguageId());
  return 1;
}

uint32_t SysGetSystemCountry(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_pushnumber(L, GetCountryId());
  return 1;
}

// Object references and the data items scripts attach to objects.

// Where an object keeps its data list: a layer's own list, or the object header's field.
struct DataSlot {
  qmObjectData **layerList;
  qmObjectHeader *header;

  qmObjectData *Get() const {
    return layerList ? *layerList : static_cast<qmObjectData *>(header->userData);
  }
  void Set(qmObjectData *list) const {
    if (layerList) *layerList = list;
    else header->userData = list;
  }
};

// The object named by the type at typeArg and the id after it.
uint32_t FindDataSlot(VmState *L, int typeArg, DataSlot *slot) {
  uint32_t type = vm_checkinteger(L, typeArg);
  *slot = {nullptr, nullptr};
  if (type == QMTYPE_LAYER) {
    qmSystemServices *services;
    if (uint32_t code = Services(L, &services)) return code;
    if (!services->layers.layerDataList) return ERR_NOLAYERS;
    return services->layers.layerDataList(L, typeArg + 1, &slot->layerList);
  }
  return GetObjectArg(L, typeArg + 1, type, ERR_FINDARRAY, &slot->header);
}

uint32_t KeyArg(VmState *L, int i, const char **key) {
  *key = vm_checkstring(L, i, nullptr);
  if ((*key)[0] == 0) return ERR_WRONGUSAGE;
  return 0;
}

uint32_t MissingData(const char *key) {
  SetErrorArgument(key);
  return ERR_FINDOBJECTDATA;
}

uint32_t SysGetObjectType(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  vm_pushnumber(L, GetObjectTypeByHandle(L, id.handle));
  return 1;
}

uint32_t SysGetObjectData(VmState *L) {
  CheckArgCount(L, 3, 3);
  DataSlot slot;
  if (uint32_t code = FindDataSlot(L, 1, &slot)) return code;
  const char *key = vm_checkstring(L, 3, nullptr);
  qmObjectData *item = FindObjectDataItem(slot.Get(), key);
  if (!item) return MissingData(key);
  vm_getref(L, item->ref);
  return 1;
}

uint32_t SysSetObjectData(VmState *L) {
  CheckArgCount(L, 4, 4);
  DataSlot slot;
  if (uint32_t code = FindDataSlot(L, 1, &slot)) return code;
  const char *key;
  if (uint32_t code = KeyArg(L, 3, &key)) return code;
  qmObjectData *list = slot.Get();
  uint32_t code = SetObjectDataItem(L, key, 4, &list);
  slot.Set(list);
  return code;
}

uint32_t SysClearObjectData(VmState *L) {
  CheckArgCount(L, 2, 3);
  DataSlot slot;
  if (uint32_t code = FindDataSlot(L, 1, &slot)) return code;
  qmObjectData *list = slot.Get();
  if (vm_isnoneornil(L, 3)) {
    FreeObjectDataList(L, list);
    slot.Set(nullptr);
    return 0;
  }
  const char *key;
  if (uint32_t code = KeyArg(L, 3, &key)) return code;
  int removed = RemoveObjectDataItem(L, &list, key);
  slot.Set(list);
  return removed ? 0 : MissingData(key);
}

uint32_t SysCopyObjectData(VmState *L) {
  CheckArgCount(L, 4, 5);
  DataSlot src, dst;
  if (uint32_t code = FindDataSlot(L, 1, &src)) return code;
  if (uint32_t code = FindDataSlot(L, 3, &dst)) return code;
  int overwrite = vm_optnumber(L, 5, 1) != 0;
  qmObjectData *target = dst.Get();
  uint32_t code = 0;
  for (qmObjectData *item = src.Get(); item && !code; item = item->next) {
    if (!overwrite && FindObjectDataItem(target, item->key)) continue;
    vm_getref(L, item->ref);
    code = SetObjectDataItem(L, item->key, vm_gettop(L), &target);
    vm_pop(L, 1);
  }
  dst.Set(target);
  return code;
}

uint32_t SysGetObjects(VmState *L) {
  CheckArgCount(L, 1, 1);
  uint32_t type = vm_checkinteger(L, 1);
  vm_newtable(L);
  vm_pushnumber(L, ListObjectsOfType(L, type));
  return 2;
}

uint32_t SysHaveObject(VmState *L) {
  CheckArgCount(L, 2, 2);
  uint32_t type = vm_checkinteger(L, 1);
  qmObjectId id = GetObjectIdArg(L, 2);
  vm_pushnumber(L, FindObject(L, type, &id) ? 1 : 0);
  return 1;
}

// Requesters, the clipboard and the browser: argument checks here, the dialogs in the desktop
// layer behind system_platform.h. A dialog that is not there fails as a dialog that could not
// be made does (ERR_MEM); a missing clipboard as one that cannot be opened or written.

enum : uint32_t { REQ_NORMAL = 0, REQ_MULTISELECT = 1, REQ_SAVEMODE = 2 };
enum : uint32_t { STRREQ_TEXT = 0, STRREQ_NUMBER = 3 };
constexpr uint32_t kMaxRequestText = kStringRequestSize - 1;

// Flags the display as showing a requester for as long as the dialog runs.
struct DialogScope {
  VmState *L;
  const qmSystemRequesters &requesters;
  DialogScope(VmState *vm, const qmSystemRequesters &r) : L(vm), requesters(r) {
    if (requesters.begin) requesters.begin(L);
  }
  ~DialogScope() {
    if (requesters.end) requesters.end(L);
  }
};

std::string JoinPath(const char *folder, const char *name) {
  std::string path = folder ? folder : "";
  if (!path.empty() && path.back() != '/' && path.back() != ':') path += '/';
  path += name;
  return path;
}

// What the text entry accepts with its number flag: an optional minus sign, digits and at
// most one decimal point.
bool IsNumberText(const char *text) {
  if (*text == '-') text++;
  int points = 0;
  for (; *text; text++) {
    if (*text == '.' && ++points == 1) continue;
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// The first name of the font-style words for a weight (kind 0) or slant (kind 1).
const char *FontStyleName(int kind, int32_t value) {
  struct Row {
    const char *name;
    int kind;
    int32_t value;
  };
  static const Row kRows[] = {
      {"Thin", 0, 0},       {"Extralight", 0, 40}, {"Light", 0, 50},      {"Book", 0, 75},
      {"Normal", 0, 80},    {"Medium", 0, 100},    {"Semibold", 0, 180},  {"Bold", 0, 200},
      {"Extrabold", 0, 205}, {"Heavy", 0, 210},    {"Extrablack", 0, 215}, {"Roman", 1, 0},
      {"Italic", 1, 100},   {"Oblique", 1, 110},
  };
  for (const Row &r : kRows)
    if (r.kind == kind && r.value == value) return r.name;
  return nullptr;
}

uint32_t SysSystemRequest(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  const char *body = vm_checkstring(L, 2, nullptr);
  const char *buttons = vm_checkstring(L, 3, nullptr);
  int32_t icon = vm_optint32(L, 4, 0);
  const qmSystemRequesters &req = services->requesters;
  if (!req.message) return ERR_MEM;
  int32_t button = 0;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.message(title, body, buttons, icon, &button);
  }
  if (code) return code;
  vm_pushnumber(L, button);
  return 1;
}

uint32_t SysFileRequest(VmState *L) {
  CheckArgCount(L, 2, 5);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  qmSystemState *state;
  if (uint32_t code = State(L, &state)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  const char *pattern = vm_checkstring(L, 2, nullptr);
  uint32_t mode = vm_optinteger(L, 3, REQ_NORMAL);
  const char *folder = vm_optlstring(L, 4, "", nullptr);
  const char *file = vm_optlstring(L, 5, "", nullptr);
  if (mode > REQ_SAVEMODE) return ERR_WRONGUSAGE;
  qmSystemState *s = state;
  if (!folder[0] && !file[0] && s->haveLastFile) {
    folder = s->lastFileFolder;
    file = s->lastFileName;
  }
  const qmSystemRequesters &req = services->requesters;
  if (!req.file) return ERR_MEM;
  qmFileRequestResult result{nullptr, nullptr, 0};
  int32_t confirmed = 0;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.file(title, pattern, static_cast<int32_t>(mode), folder[0] ? folder : nullptr,
                    file[0] ? file : nullptr, &confirmed, &result);
  }
  if (code) return code;
  if (!confirmed || !result.names) result.count = 0;
  if (result.count > 0) {
    CopyString(s->lastFileFolder, result.folder ? result.folder : "", sizeof s->lastFileFolder);
    CopyString(s->lastFileName, result.names, sizeof s->lastFileName);
    s->haveLastFile = 1;
  }
  if (mode == REQ_MULTISELECT) {
    vm_newtable(L);
    const char *name = result.names;
    int32_t i = 0;
    for (; i < static_cast<int32_t>(result.count); i++, name += std::char_traits<char>::length(name) + 1) {
      std::string path = JoinPath(result.folder, name);
      vm_pushstring(L, path.c_str());
      vm_rawseti(L, -2, i);
    }
    vm_pushstring(L, "");
    vm_rawseti(L, -2, i);
  } else {
    vm_pushstring(L, result.count > 0 ? JoinPath(result.folder, result.names).c_str() : "");
  }
  MemFree(result.folder);
  MemFree(result.names);
  return 1;
}

uint32_t SysPathRequest(VmState *L) {
  CheckArgCount(L, 1, 3);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  qmSystemState *state;
  if (uint32_t code = State(L, &state)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  uint32_t mode = vm_optinteger(L, 2, 0);
  const char *folder = vm_optlstring(L, 3, "", nullptr);
  if (mode != 0 && mode != 2) return ERR_WRONGUSAGE;
  qmSystemState *s = state;
  if (!folder[0]) folder = s->lastPathFolder;
  const qmSystemRequesters &req = services->requesters;
  if (!req.path) return ERR_MEM;
  char *path = nullptr;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.path(title, folder[0] ? folder : nullptr, &path);
  }
  if (code) return code;
  if (path) CopyString(s->lastPathFolder, path, sizeof s->lastPathFolder);
  vm_pushstring(L, path ? path : "");
  MemFree(path);
  return 1;
}

uint32_t SysStringRequest(VmState *L) {
  CheckArgCount(L, 2, 6);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  const char *body = vm_checkstring(L, 2, nullptr);
  const char *defaultText = vm_optlstring(L, 3, "", nullptr);
  uint32_t type = vm_optinteger(L, 4, STRREQ_TEXT);
  uint32_t maxLength = vm_optinteger(L, 5, 0);
  int32_t password = vm_optnumber(L, 6, 0) != 0;
  if (type != STRREQ_TEXT && type != STRREQ_NUMBER) return ERR_WRONGUSAGE;
  if (maxLength > kMaxRequestText) return ERR_WRONGUSAGE;
  if (maxLength == 0) maxLength = kMaxRequestText;
  std::string start(defaultText);
  if (start.size() > maxLength) start.resize(maxLength);
  if (type == STRREQ_NUMBER && !IsNumberText(start.c_str())) return ERR_WRONGUSAGE;
  const qmSystemRequesters &req = services->requesters;
  if (!req.text) return ERR_MEM;
  char out[kStringRequestSize] = {0};
  int32_t confirmed = 0;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.text(title, body, start.c_str(), type == STRREQ_NUMBER, static_cast<int32_t>(maxLength), password,
                    out, &confirmed);
  }
  if (code) return code;
  out[kMaxRequestText] = 0;
  vm_pushstring(L, confirmed ? out : "");
  vm_pushnumber(L, confirmed ? 1 : 0);
  return 2;
}

uint32_t SysListRequest(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  const char *body = vm_checkstring(L, 2, nullptr);
  vm_checktable(L, 3);
  int32_t active = vm_optint32(L, 4, -1);
  std::string entries;
  uint32_t count = 0;
  for (;; count++) {
    vm_rawgeti(L, 3, static_cast<int>(count));
    int type = vm_type(L, -1);
    if (type == VM_TNIL) {
      vm_pop(L, 1);
      break;
    }
    if (type != VM_TSTRING && type != VM_TNUMBER) return ERR_STRINGEXPECTED;
    const char *text = vm_tostring(L, -1);
    entries += text[0] ? text : " ";  // the chooser shows an empty entry as a blank
    entries += '\0';
    vm_pop(L, 1);
  }
  if (count == 0) return ERR_WRONGUSAGE;
  if (active < -1 || active >= static_cast<int64_t>(count)) return ERR_WRONGUSAGE;
  const qmSystemRequesters &req = services->requesters;
  if (!req.list) return ERR_MEM;
  int32_t index = -1;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.list(title, body, entries.data(), count, active, &index);
  }
  if (code) return code;
  vm_pushnumber(L, index);
  return 1;
}

uint32_t SysColorRequest(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  int32_t colour = vm_optint32(L, 2, -1);
  const qmSystemRequesters &req = services->requesters;
  if (!req.color) return ERR_MEM;
  int32_t chosen = -1;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.color(title, colour, &chosen);
  }
  if (code) return code;
  vm_pushnumber(L, chosen);
  return 1;
}

uint32_t SysFontRequest(VmState *L) {
  CheckArgCount(L, 1, 3);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const char *title = vm_checkstring(L, 1, nullptr);
  const char *font = vm_optlstring(L, 2, "", nullptr);
  int32_t size = vm_optint32(L, 3, 0);
  const qmSystemRequesters &req = services->requesters;
  if (!req.font) return ERR_MEM;
  qmFontRequestResult r{};
  int32_t confirmed = 0;
  uint32_t code;
  {
    DialogScope scope(L, req);
    code = req.font(title, font, size, &confirmed, &r);
  }
  if (code) return code;
  r.family[sizeof r.family - 1] = 0;
  std::string name = r.family;
  const char *weight = r.weight != 80 ? FontStyleName(0, r.weight) : nullptr;
  const char *slant = r.slant != 0 ? FontStyleName(1, r.slant) : nullptr;
  if (weight) name = name + " " + weight;
  if (slant) name = name + " " + slant;
  vm_newtable(L);
  SetFieldString(L, "name", name.c_str());
  SetFieldString(L, "family", r.family);
  SetFieldInt(L, "size", r.size);
  SetFieldInt(L, "weight", r.weight);
  SetFieldInt(L, "slant", r.slant);
  SetFieldInt(L, "underline", r.underline);
  SetFieldInt(L, "strikeout", r.strikeout);
  SetFieldInt(L, "bold", r.bold);
  SetFieldInt(L, "italic", r.slant != 0 ? 1 : 0);
  SetFieldNumber(L, "color", r.color);
  return 1;
}

uint32_t SysSetClipboard(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  uint32_t kind = vm_checkinteger(L, 1);
  const qmSystemClipboard *clip = &services->clipboard;
  if (kind == CLIPKIND_TEXT) {
    const char *text = vm_checkstring(L, 2, nullptr);
    return clip->writeText ? clip->writeText(L, text) : ERR_CLIPWRITE;
  }
  if (kind == CLIPKIND_IMAGE) {
    qmObjectId brush = GetObjectIdArg(L, 2);
    return clip->writeBrush ? clip->writeBrush(L, &brush) : ERR_CLIPWRITE;
  }
  return ERR_WRONGUSAGE;
}

uint32_t SysGetClipboard(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const qmSystemClipboard *clip = &services->clipboard;
  if (!clip->read) return ERR_CLIPOPEN;
  int32_t kind = CLIPKIND_EMPTY;
  char *text = nullptr;
  void *image = nullptr;
  if (uint32_t code = clip->read(&kind, &text, &image)) return code;
  vm_pushnumber(L, kind);
  if (kind == CLIPKIND_TEXT) {
    vm_pushstring(L, text ? text : "");
    MemFree(text);
    return 2;
  }
  MemFree(text);
  if (kind != CLIPKIND_IMAGE || !image) return 1;
  if (!clip->pushImageAsBrush) {
    if (clip->freeImage) clip->freeImage(image);
    return ERR_UNIMPLCMD;
  }
  if (uint32_t code = clip->pushImageAsBrush(L, image)) return code;
  return 2;
}

uint32_t SysPeekClipboard(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const qmSystemClipboard *clip = &services->clipboard;
  if (!clip->peek) return ERR_CLIPOPEN;
  int32_t kind = CLIPKIND_EMPTY;
  if (uint32_t code = clip->peek(&kind)) return code;
  vm_pushnumber(L, kind);
  return 1;
}

uint32_t SysClearClipboard(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  const qmSystemClipboard *clip = &services->clipboard;
  return clip->clear ? clip->clear(L) : ERR_CLIPWRITE;
}

uint32_t SysOpenURL(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmSystemServices *services;
  if (uint32_t code = Services(L, &services)) return code;
  return services->openURL(vm_checkstring(L, 1, nullptr));
}

const qmCommandEntry kSystemCommands[] = {
    {"Wait", SysWait},
    {"OpenCatalog", SysOpenCatalog},
    {"CloseCatalog", SysCloseCatalog},
    {"GetCatalogString", SysGetCatalogString},
    {"GetDate", SysGetDate},
    {"GetTime", SysGetTime},
    {"GetWeekday", SysGetWeekday},
    {"GetDateNum", SysGetDateNum},
    {"GetTimer", SysGetTimer},
    {"PauseTimer", SysPauseTimer},
    {"ResumeTimer", SysResumeTimer},
    {"StartTimer", SysStartTimer},
    {"StopTimer", SysStopTimer},
    {"SystemRequest", SysSystemRequest},
    {"GetMemoryInfo", SysGetMemoryInfo},
    {"End", SysEnd},
    {"GetErrorName", SysGetErrorName},
    {"Sort", SysSort},
    {"DebugStr", SysDebugPrint},
    {"DebugVal", SysDebugPrint},
    {"DebugPrint", SysDebugPrint},
    {"ExitOnError", SysExitOnError},
    {"GetLastError", SysGetLastError},
    {"DebugOutput", SysDebugOutput},
    {"GetType", SysGetType},
    {"IIf", SysIIf},
    {"InsertItem", SysInsertItem},
    {"RemoveItem", SysRemoveItem},
    {"ListItems", SysListItems},
    {"StringRequest", SysStringRequest},
    {"Unpack", SysUnpack},
    {"SetMetaTable", SysSetMetaTable},
    {"GetMetaTable", SysGetMetaTable},
    {"RawEqual", SysRawEqual},
    {"RawGet", SysRawGet},
    {"RawSet", SysRawSet},
    {"GCInfo", SysGCInfo},
    {"CollectGarbage", SysCollectGarbage},
    {"Error", SysError},
    {"WaitTimer", SysWaitTimer},
    {"FileRequest", SysFileRequest},
    {"PathRequest", SysPathRequest},
    {"IPairs", SysIPairs},
    {"Pairs", SysPairs},
    {"NextItem", SysNextItem},
    {"GetVersion", SysGetVersion},
    {"GetCommandLine", SysGetCommandLine},
    {"GetProgramInfo", SysGetProgramInfo},
    {"ResetTimer", SysResetTimer},
    {"GetConstant", SysGetConstant},
    {"SetClipboard", SysSetClipboard},
    {"GetClipboard", SysGetClipboard},
    {"PeekClipboard", SysPeekClipboard},
    {"ClearClipboard", SysClearClipboard},
    {"CompareDates", SysCompareDates},
    {"OpenURL", SysOpenURL},
    {"CopyTable", SysCopyTable},
    {"FontRequest", SysFontRequest},
    {"ListRequest", SysListRequest},
    {"ColorRequest", SysColorRequest},
    {"GetSystemLanguage", SysGetSystemLanguage},
    {"GetSystemCountry", SysGetSystemCountry},
    {"DebugPrompt", SysDebugPrompt},
    {"GetFileArgument", SysGetFileArgument},
    {"Assert", SysAssert},
    {"ForEach", SysForEach},
    {"ForEachI", SysForEachI},
    {"Concat", SysConcat},
    {"GetObjectType", SysGetObjectType},
    {"GetObjectData", SysGetObjectData},
    {"SetObjectData", SysSetObjectData},
    {"ClearObjectData", SysClearObjectData},
    {"CopyObjectData", SysCopyObjectData},
    {"GetObjects", SysGetObjects},
    {"RaiseOnError", SysRaiseOnError},
    {"HaveObject", SysHaveObject},
    {nullptr, nullptr},
};

const qmConstantEntry kSystemConstants[] = {
    {"SECONDS", nullptr, 0}, {"MILLISECONDS", nullptr, 1}, {"TICKS", nullptr, 2},
    {"DATEYEAR", nullptr, 0}, {"DATEMONTH", nullptr, 1}, {"DATEDAY", nullptr, 2}, {"DATETIME", nullptr, 3},
    {"CHIPMEMORY", nullptr, 0}, {"FASTMEMORY", nullptr, 1},
    {"NIL", nullptr, 0}, {"NUMBER", nullptr, 2}, {"STRING", nullptr, 3}, {"TABLE", nullptr, 4},
    {"FUNCTION", nullptr, 5}, {"USERDATA", nullptr, 8}, {"LIGHTUSERDATA", nullptr, 9}, {"THREAD", nullptr, 10},
    {"LONG", nullptr, 1}, {"FLOAT", nullptr, 1}, {"INTEGER", nullptr, 1}, {"SHORT", nullptr, 6},
    {"WORD", nullptr, 6}, {"BYTE", nullptr, 7},
    {"REQ_NORMAL", nullptr, 0}, {"REQ_MULTISELECT", nullptr, 1}, {"REQ_SAVEMODE", nullptr, 2},
    {"PRGTYPE_SCRIPT", nullptr, 0}, {"PRGTYPE_APPLET", nullptr, 1}, {"PRGTYPE_PROGRAM", nullptr, 2},
    {"REQICON_NONE", nullptr, 0}, {"REQICON_INFORMATION", nullptr, 1}, {"REQICON_ERROR", nullptr, 2},
    {"REQICON_WARNING", nullptr, 3}, {"REQICON_QUESTION", nullptr, 4},
    {"CLIPBOARD_EMPTY", nullptr, 0}, {"CLIPBOARD_TEXT", nullptr, 1}, {"CLIPBOARD_IMAGE", nullptr, 2},
    {"CLIPBOARD_SOUND", nullptr, 3}, {"CLIPBOARD_UNKNOWN", nullptr, 4},
    {"HKEY_CLASSES_ROOT", nullptr, 0}, {"HKEY_CURRENT_CONFIG", nullptr, 1}, {"HKEY_LOCAL_MACHINE", nullptr, 2},
    {"HKEY_USERS", nullptr, 3}, {"HKEY_CURRENT_USER", nullptr, 4},
    {"LANGUAGE_ENGLISH", nullptr, 0}, {"LANGUAGE_GERMAN", nullptr, 1}, {"LANGUAGE_DUTCH", nullptr, 2},
    {"LANGUAGE_ITALIAN", nullptr, 3}, {"LANGUAGE_FRENCH", nullptr, 4}, {"LANGUAGE_SPANISH", nullptr, 5},
    {"LANGUAGE_PORTUGUESE", nullptr, 6}, {"LANGUAGE_SWEDISH", nullptr, 7}, {"LANGUAGE_DANISH", nullptr, 8},
    {"LANGUAGE_FINNISH", nullptr, 9}, {"LANGUAGE_NORWEGIAN", nullptr, 10}, {"LANGUAGE_POLISH", nullptr, 11},
    {"LANGUAGE_HUNGARIAN", nullptr, 12}, {"LANGUAGE_GREEK", nullptr, 13}, {"LANGUAGE_CZECH", nullptr, 14},
    {"LANGUAGE_TURKISH", nullptr, 15}, {"LANGUAGE_CROATIAN", nullptr, 16}, {"LANGUAGE_RUSSIAN", nullptr, 17},
    {"LANGUAGE_UNKNOWN", nullptr, 18},
    {"COUNTRY_UK", nullptr, 0}, {"COUNTRY_USA", nullptr, 1}, {"COUNTRY_AUSTRALIA", nullptr, 2},
    {"COUNTRY_BELGIUM", nullptr, 3}, {"COUNTRY_BULGARIA", nullptr, 4}, {"COUNTRY_BRAZIL", nullptr, 5},
    {"COUNTRY_CANADA", nullptr, 6}, {"COUNTRY_CZECHREPUBLIC", nullptr, 7}, {"COUNTRY_DENMARK", nullptr, 8},
    {"COUNTRY_GERMANY", nullptr, 9}, {"COUNTRY_SPAIN", nullptr, 10}, {"COUNTRY_FRANCE", nullptr, 11},
    {"COUNTRY_GREECE", nullptr, 12}, {"COUNTRY_ITALY", nullptr, 13}, {"COUNTRY_LIECHTENSTEIN", nullptr, 14},
    {"COUNTRY_LITHUANIA", nullptr, 15}, {"COUNTRY_LUXEMBOURG", nullptr, 16}, {"COUNTRY_HUNGARY", nullptr, 17},
    {"COUNTRY_MALTA", nullptr, 18}, {"COUNTRY_MONACO", nullptr, 19}, {"COUNTRY_NETHERLANDS", nullptr, 20},
    {"COUNTRY_NORWAY", nullptr, 21}, {"COUNTRY_POLAND", nullptr, 22}, {"COUNTRY_PORTUGAL", nullptr, 23},
    {"COUNTRY_ROMANIA", nullptr, 24}, {"COUNTRY_RUSSIA", nullptr, 25}, {"COUNTRY_SANMARINO", nullptr, 26},
    {"COUNTRY_SLOVAKIA", nullptr, 27}, {"COUNTRY_SLOVENIA", nullptr, 28}, {"COUNTRY_SWITZERLAND", nullptr, 29},
    {"COUNTRY_FINLAND", nullptr, 30}, {"COUNTRY_SWEDEN", nullptr, 31}, {"COUNTRY_TURKEY", nullptr, 32},
    {"COUNTRY_IRELAND", nullptr, 33}, {"COUNTRY_AUSTRIA", nullptr, 34}, {"COUNTRY_ICELAND", nullptr, 35},
    {"COUNTRY_ANDORRA", nullptr, 36}, {"COUNTRY_UKRAINE", nullptr, 37}, {"COUNTRY_UNKNOWN", nullptr, 38},
    // Every error code is a constant of its own name; the rows come from the one list of codes.
    {"ERR_NONE", nullptr, 0},
#define QM_ERROR(code, name, index, text) {#name, nullptr, code},
#include "runtime/errcodes.def"
#undef QM_ERROR
    {nullptr, nullptr, 0},
};

uint32_t InitSystemLibrary(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return ERR_MEM;  // the context comes with the runtime support, which could not start
  // On a failure half-way the free releases whichever of the two was made.
  ctx->system = new (std::nothrow) qmSystemServices;
  ctx->systemState = new (std::nothrow) qmSystemState{};
  if (!ctx->system || !ctx->systemState) return ERR_MEM;
  SetDefaultSystemServices(ctx->system);
  vm_setlasterrorreader(L, SysGetLastError);
  vm_setdebugprint(L, DebugWrite);
  return 0;
}

void FreeSystemLibrary(VmState *L) {
  if (L)
    for (qmObjectHeader *t = FirstObject(L, QMTYPE_TIMER); t; t = t->next) {
      FreeObjectDataList(L, static_cast<qmObjectData *>(t->userData));
      t->userData = nullptr;
    }
  FreeAllTimers(L);
  if (qmPlayerContext *ctx = L ? GetPlayerContext(L) : nullptr) {
    if (ctx->systemState && ctx->systemState->catalog) CatalogClose(ctx->systemState->catalog);
    delete ctx->systemState;
    delete ctx->system;
    ctx->systemState = nullptr;
    ctx->system = nullptr;
  }
  if (L) {
    ReleaseErrorHandler(L);
    if (vm_getlasterrorreader(L) == SysGetLastError) vm_setlasterrorreader(L, nullptr);
    if (vm_getdebugprint(L) == DebugWrite) vm_setdebugprint(L, nullptr);
  }
}

}  // namespace

const qmLibrary kSystemLibrary = {"system",          kSystemCommands, kSystemConstants, InitSystemLibrary,
                                  FreeSystemLibrary, FREERANK_SYSTEM};
