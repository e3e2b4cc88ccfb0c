#include "runtime/bindings/filters_reader.h"

#include <cmath>
#include <string>

#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/auxlib.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

namespace {

// The filter's parameters from the "args" list on the stack top; unlisted ones keep the defaults.
uint32_t ReadFilterArgs(VmState *L, int32_t index, qmFilterSlot *slot) {
  const qmFilterInfo &info = kFilterInfo[index];
  int32_t ni = 0, nf = 0;
  for (int32_t k = 0; k < info.paramCount; k++) {
    vm_rawgeti(L, -1, k);
    const int type = vm_type(L, -1);
    if (type == VM_TNIL) {
      vm_pop(L, 1);
      break;
    }
    double v = 0;
    int isPercent = 0;
    if (type == VM_TNUMBER) {
      v = vm_tonumber(L, -1);
    } else if (type == VM_TSTRING && info.kinds[k] == FPARAM_LEVEL &&
               ParsePercentText(vm_tostring(L, -1), &v, &isPercent) && isPercent) {
      v = 255 * v / 100;
    } else {
      vm_pop(L, 1);
      SetErrorArgument("args");
      return ERR_NUMTABLEARG;
    }
    vm_pop(L, 1);
    if (info.kinds[k] == FPARAM_FLOAT) {
      slot->floatParams[nf++] = float(v);
    } else if (info.kinds[k] == FPARAM_LEVEL) {
      if (std::isnan(v)) {
        SetErrorArgument("args");
        return ERR_NUMTABLEARG;
      }
      slot->params[ni++] = v < 0 ? 0 : v > 255 ? 255 : int32_t(v);
    } else if (!NumberToInt32(v, &slot->params[ni++])) {
      SetErrorArgument("args");
      return ERR_NUMTABLEARG;
    }
  }
  return 0;
}

// One entry {name, disable, priority, args}, on the stack top, at list index i.
uint32_t ReadFilterEntry(VmState *L, int32_t i, qmFilterSlot *filters) {
  const int entry = vm_gettop(L);
  if (vm_type(L, entry) != VM_TTABLE) {
    SetErrorArgument("filters");
    return ERR_TABEXPECTED2;
  }
  vm_pushstring(L, "name");
  vm_gettable(L, entry);
  const int nameType = vm_type(L, -1);
  if (nameType == VM_TNIL) {
    vm_pop(L, 1);
    SetErrorArgument(std::to_string(i).c_str());
    return ERR_NOFILTERNAME;
  }
  if (nameType != VM_TSTRING) {
    vm_pop(L, 1);
    SetErrorArgument("name");
    return ERR_STRTABLEARG;
  }
  int32_t index = -1;
  const char *name = vm_tostring(L, -1);
  for (int32_t k = 0; k < kFilterSlotCount; k++)
    if (Stricmp(name, kFilterInfo[k].name) == 0) index = k;
  if (index < 0) {
    SetErrorArgument(name);
    vm_pop(L, 1);
    return ERR_UNKNOWNFILTER;
  }
  vm_pop(L, 1);
  qmFilterSlot &slot = filters[index];
  double disable = 0;
  if (GetFieldNumber(L, entry, "disable", &disable, nullptr) && disable != 0) {
    slot.enabled = 0;  // priority and parameters stay for a later enable
    return 0;
  }
  slot.enabled = 1;
  double priority = 0;
  GetFieldNumber(L, entry, "priority", &priority, nullptr);
  slot.priority = uint8_t(FieldToClampedInt32(L, "priority", priority, 0, 255));
  SetFilterDefaults(&slot, index);
  vm_pushstring(L, "args");
  vm_gettable(L, entry);
  uint32_t code = 0;
  if (vm_type(L, -1) == VM_TTABLE) code = ReadFilterArgs(L, index, &slot);
  else if (vm_type(L, -1) != VM_TNIL && kFilterInfo[index].paramCount) code = ERR_TABEXPECTED;
  vm_pop(L, 1);
  return code;
}

}  // namespace

uint32_t ReadFilterTable(VmState *L, int32_t table, qmFilterSlot *filters, int32_t *given) {
  table = vm_absindex(L, table);
  vm_pushstring(L, "filters");
  vm_gettable(L, table);
  const int list = vm_gettop(L);
  if (vm_type(L, list) == VM_TNIL) {
    vm_pop(L, 1);
    return 0;
  }
  if (vm_type(L, list) != VM_TTABLE) {
    vm_pop(L, 1);
    SetErrorArgument("filters");
    return ERR_TABEXPECTED2;
  }
  uint32_t code = 0;
  for (int32_t i = 0; !code; i++) {
    vm_rawgeti(L, list, i);
    if (vm_type(L, -1) == VM_TNIL) {
      vm_pop(L, 1);
      break;
    }
    code = ReadFilterEntry(L, i, filters);
    vm_settop(L, list);
  }
  vm_settop(L, list - 1);
  if (!code && given) *given = 1;
  return code;
}

void ReadTintOptions(VmState *L, int32_t table, qmFilterSlot *filters) {
  qmFilterSlot &tint = filters[kTintFilterSlot];
  double level = 0;
  if (GetFieldNumberOrPercent(L, table, "tint", 255, 0, &level, nullptr, nullptr)) {
    tint.params[1] = FieldToClampedInt32(L, "tint", level, 0, 255);
    tint.enabled = tint.params[1] != 0;
  }
  uint32_t color = 0;
  if (GetFieldUInt(L, table, "tintcolor", &color, nullptr)) tint.params[0] = int32_t(color);
}
