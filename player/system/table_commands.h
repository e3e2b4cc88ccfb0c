// Handlers of the system library's table and value commands (table_commands.cpp).
#pragma once
#include <cstdint>

struct VmState;

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
uint32_t SysForEachI(VmState *L);
uint32_t SysForEach(VmState *L);
uint32_t SysConcat(VmState *L);
