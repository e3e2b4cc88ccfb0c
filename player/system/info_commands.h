// Handlers of the system library's catalog, date and program and system information commands (info_commands.cpp).
#pragma once
#include <cstdint>

struct VmState;

uint32_t SysOpenCatalog(VmState *L);
uint32_t SysCloseCatalog(VmState *L);
uint32_t SysGetCatalogString(VmState *L);
uint32_t SysGetDate(VmState *L);
uint32_t SysGetTime(VmState *L);
uint32_t SysGetWeekday(VmState *L);
uint32_t SysGetDateNum(VmState *L);
uint32_t SysCompareDates(VmState *L);
uint32_t SysGetMemoryInfo(VmState *L);
uint32_t SysGetVersion(VmState *L);
uint32_t SysGetCommandLine(VmState *L);
uint32_t SysGetProgramInfo(VmState *L);
uint32_t SysGetFileArgument(VmState *L);
uint32_t SysGetConstant(VmState *L);
uint32_t SysGetSystemLanguage(VmState *L);
uint32_t SysGetSystemCountry(VmState *L);
