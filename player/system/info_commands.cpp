// The system library's catalogs, dates, and program and system information.
#include "player/system/info_commands.h"

#include <cstring>
#include <new>

#include "platform/catalog.h"
#include "platform/date.h"
#include "platform/locale.h"
#include "platform/memory.h"
#include "player/system/system_dates.h"
#include "player/system/system_platform.h"
#include "player/system/system_program.h"
#include "player/system/system_state.h"
#include "player/system/systemargs.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"

namespace {

enum : uint32_t { MEMORY_CHIP = 0, MEMORY_FAST = 1 };

}  // namespace

uint32_t SysOpenCatalog(VmState *L) {
  CheckArgCount(L, 1, 2);
  qmSystemState *state;
  if (uint32_t code = SystemStateOf(L, &state)) return code;
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
  if (uint32_t code = SystemStateOf(L, &state)) return code;
  qmSystemState *s = state;
  if (s->catalog) CatalogClose(s->catalog);
  s->catalog = nullptr;
  return 0;
}

uint32_t SysGetCatalogString(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmSystemState *state;
  if (uint32_t code = SystemStateOf(L, &state)) return code;
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
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
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
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
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
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
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
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
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
