// The system library's command handlers (the script's view); lib_system.cpp lists them.
#pragma once
#include <cstdint>

struct VmState;
struct qmCommandEntry;
struct qmConstantEntry;

// The library's tables, ended by a row with a null name.
const qmCommandEntry *SystemCommandTable();
const qmConstantEntry *SystemConstantTable();

// Timers and waiting.
uint32_t SysWait(VmState *L);
uint32_t SysGetTimer(VmState *L);
uint32_t SysPauseTimer(VmState *L);
uint32_t SysResumeTimer(VmState *L);
uint32_t SysStartTimer(VmState *L);
uint32_t SysStopTimer(VmState *L);
uint32_t SysWaitTimer(VmState *L);
uint32_t SysResetTimer(VmState *L);

// Error control and debug output.
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

// Tables, metatables and values.
uint32_t SysSort(VmState *L);
uint32_t SysGetType(VmState *L);
uint32_t SysIIf(VmState *L);
uint32_t SysInsertItem(VmState *L);
uint32_t SysRemoveItem(VmState *L);
uint32_t SysListItems(VmState *L);
uint32_t SysUnpack(VmState *L);
uint32_t SysSetMetaTable(VmState *L);
uint32_t SysGetMetaTable(VmState *L);
uint32_t SysRawEqual(VmState *L);
uint32_t SysRawGet(VmState *L);
uint32_t SysRawSet(VmState *L);
uint32_t SysGCInfo(VmState *L);
uint32_t SysCollectGarbage(VmState *L);
uint32_t SysIPairs(VmState *L);
uint32_t SysPairs(VmState *L);
uint32_t SysNextItem(VmState *L);
uint32_t SysCopyTable(VmState *L);
uint32_t SysForEach(VmState *L);
uint32_t SysForEachI(VmState *L);
uint32_t SysConcat(VmState *L);

// Catalogs, dates, program and system information.
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

// Object references and object data.
uint32_t SysGetObjectType(VmState *L);
uint32_t SysGetObjectData(VmState *L);
uint32_t SysSetObjectData(VmState *L);
uint32_t SysClearObjectData(VmState *L);
uint32_t SysCopyObjectData(VmState *L);
uint32_t SysGetObjects(VmState *L);
uint32_t SysHaveObject(VmState *L);

// Requesters, clipboard and browser.
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
