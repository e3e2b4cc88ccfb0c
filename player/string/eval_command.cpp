#include "player/string/eval_command.h"

#include <cstring>

#include "platform/memory.h"
#include "player/string/eval.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"

namespace {

// Pushes t[key] without tag methods.
void RawField(VmState *L, int t, const char *key) {
  vm_pushstring(L, key);
  vm_rawget(L, t < 0 ? t - 1 : t);
}

// Checks every entry of the "variables" list at index list before anything is allocated, so
// that a reader raising leaves nothing behind; sums the space the names take.
uint32_t CheckVariables(VmState *L, int list, uint32_t *count, size_t *nameBytes) {
  *count = 0;
  *nameBytes = 0;
  for (int i = 1;; i++) {
    vm_rawgeti(L, list, i);
    int entry = vm_gettop(L);
    if (vm_type(L, entry) == VM_TNIL) {
      vm_pop(L, 1);
      return 0;
    }
    if (vm_type(L, entry) != VM_TTABLE) return ERR_WRONGUSAGE;
    RawField(L, entry, "name");
    if (vm_type(L, -1) != VM_TSTRING) return ERR_WRONGUSAGE;
    size_t len = vm_strlen(L, -1);
    const char *name = vm_tostring(L, -1);
    if (std::strlen(name) != len) return ERR_WRONGUSAGE;  // no zero bytes inside
    uint32_t code = CheckEvalVariableName(name, len);
    if (code) return code;
    RawField(L, entry, "value");
    vm_checknumber_field(L, -1, "value");
    vm_settop(L, entry - 1);
    *nameBytes += len + 1;
    (*count)++;
    if (*count > 0x1000000u) return ERR_MEM;  // keeps both buffer sizes inside 32 bits
  }
}

// Copies the checked list; nothing here raises.
void CopyVariables(VmState *L, int list, uint32_t count, char *names, double *values) {
  for (uint32_t i = 0; i < count; i++) {
    vm_rawgeti(L, list, static_cast<int>(i + 1));
    int entry = vm_gettop(L);
    RawField(L, entry, "name");
    size_t len = vm_strlen(L, -1);
    std::memcpy(names, vm_tostring(L, -1), len + 1);
    names += len + 1;
    RawField(L, entry, "value");
    values[i] = vm_tonumber(L, -1);
    vm_settop(L, entry - 1);
  }
}

}  // namespace

uint32_t StrEval(VmState *L) {
  CheckArgCount(L, 1, 2);
  const char *text = vm_checkstring(L, 1, nullptr);
  uint32_t count = 0;
  size_t nameBytes = 0;
  int list = 0;
  if (!vm_isnoneornil(L, 2)) {
    vm_checktable(L, 2);
    RawField(L, 2, "variables");
    if (vm_type(L, -1) != VM_TNIL) {
      if (vm_type(L, -1) != VM_TTABLE) return ERR_WRONGUSAGE;
      list = vm_gettop(L);
      uint32_t code = CheckVariables(L, list, &count, &nameBytes);
      if (code) return code;
    }
  }
  char *names = nullptr;
  double *values = nullptr;
  if (count) {
    names = static_cast<char *>(MemAlloc(static_cast<uint32_t>(nameBytes), 0));
    values = static_cast<double *>(MemAlloc(count * static_cast<uint32_t>(sizeof(double)), 0));
    if (!names || !values) {
      MemFree(names);
      MemFree(values);
      return ERR_MEM;
    }
    CopyVariables(L, list, count, names, values);
  }
  qmEvalVariables vars{names, values, count};
  double result = 0;
  uint32_t code = EvalExpression(text, &vars, &result);
  MemFree(names);
  MemFree(values);
  if (code) return code;
  vm_pushnumber(L, result);
  return 1;
}
