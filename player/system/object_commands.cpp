// The system library's object commands: types, the data a script hangs on objects, and lookups.
#include "player/system/object_commands.h"

#include <new>

#include "player/system/system_platform.h"
#include "player/system/systemargs.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_api.h"

namespace {

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
    if (uint32_t code = SystemServicesOf(L, &services)) return code;
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

}  // namespace

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
