// The system library's table and value commands: sorting, types, items, metatables, raw access,
// iteration, the collector and concatenation.
#include "player/system/table_commands.h"

#include <new>

#include "player/system/system_platform.h"
#include "player/system/system_tables.h"
#include "player/system/systemargs.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/vm/vm_api.h"

namespace {

// Runs f(key, value) with one result while native code holds the loop; 0 or the error.
uint32_t CallWithPair(VmState *L, int f, int key, int value) {
  vm_pushvalue(L, f);
  vm_pushvalue(L, key);
  vm_pushvalue(L, value);
  return vm_callback(L, 2, 1);
}

}  // namespace

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
  if (uint32_t code = SystemServicesOf(L, &services)) return code;
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
