#include "runtime/cmdargs.h"

#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/memory.h"
#include "runtime/applet.h"
#include "runtime/context.h"
#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objlist.h"
#include "runtime/registry.h"
#include "runtime/strutil.h"
#include "runtime/vnames.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"

namespace {


[[noreturn]] void ArgError(VmState *L, int i, uint32_t code) {
  SetErrorNumber(uint32_t(i));
  vm_raise(L, code);
}

[[noreturn]] void KeyError(VmState *L, const char *key, uint32_t code) {
  SetErrorArgument(key);
  vm_raise(L, code);
}

// Pushes table[key] (with tag methods); 1 when it is not nil, else pops it and returns 0.
int PushField(VmState *L, int t, const char *key) {
  t = vm_absindex(L, t);
  vm_pushstring(L, key);
  vm_gettable(L, t);
  if (vm_type(L, -1) == VM_TNIL) {
    vm_pop(L, 1);
    return 0;
  }
  return 1;
}

int Found(VmState *L, int *found) {
  vm_pop(L, 1);
  if (found) *found = 1;
  return 1;
}

}  // namespace

int ParsePercentText(const char *text, double *n, int *isPercent) {
  char *end;
  *n = std::strtod(text, &end);
  if (end == text || !std::isfinite(*n)) return 0;
  *isPercent = *end == '%';
  return 1;
}

VmState *CheckArgCount(VmState *L, int min, int max) {
  int n = vm_gettop(L);
  if (min == 0 && max == 0) {
    if (n >= 1) vm_raise(L, ERR_TOOMANYARGS);
    return L;
  }
  if (n < min) vm_raise(L, ERR_MISSINGPARAMTR);
  if (max >= 1 && n > max) vm_raise(L, ERR_TOOMANYARGS);
  return L;
}

double vm_checknumber(VmState *L, int i) {
  if (vm_type(L, i) == VM_TNONE || !vm_isnumber(L, i)) ArgError(L, i, ERR_NUMEXPECTED);
  return vm_tonumber(L, i);
}

double vm_optnumber(VmState *L, int i, double def) { return vm_isnoneornil(L, i) ? def : vm_checknumber(L, i); }

int32_t ArgToInt32(VmState *L, int i, double d) {
  int32_t n;
  if (!NumberToInt32(d, &n)) ArgError(L, i, ERR_NUMEXPECTED);
  return n;
}

uint32_t ArgToUInt32(VmState *L, int i, double d) {
  uint32_t n;
  if (!NumberToUInt32(d, &n)) ArgError(L, i, ERR_NUMEXPECTED);
  return n;
}

int32_t FieldToInt32(VmState *L, const char *key, double d) {
  int32_t n;
  if (!NumberToInt32(d, &n)) KeyError(L, key, ERR_NUMTABLEARG);
  return n;
}

uint32_t FieldToUInt32(VmState *L, const char *key, double d) {
  uint32_t n;
  if (!NumberToUInt32(d, &n)) KeyError(L, key, ERR_NUMTABLEARG);
  return n;
}

int32_t ArgToClampedInt32(VmState *L, int i, double d, int32_t lo, int32_t hi) {
  return d < lo ? lo : d > hi ? hi : ArgToInt32(L, i, d);
}

int32_t FieldToClampedInt32(VmState *L, const char *key, double d, int32_t lo, int32_t hi) {
  return d < lo ? lo : d > hi ? hi : FieldToInt32(L, key, d);
}

int64_t ArgToInt64(VmState *L, int i, double d) {
  int64_t n;
  if (!NumberToInt64(d, &n)) ArgError(L, i, ERR_NUMEXPECTED);
  return n;
}

int64_t FieldToInt64(VmState *L, const char *key, double d) {
  int64_t n;
  if (!NumberToInt64(d, &n)) KeyError(L, key, ERR_NUMTABLEARG);
  return n;
}

uint32_t vm_checkinteger(VmState *L, int i) { return ArgToUInt32(L, i, vm_checknumber(L, i)); }

uint32_t vm_optinteger(VmState *L, int i, uint32_t def) {
  return vm_isnoneornil(L, i) ? def : vm_checkinteger(L, i);
}

const char *vm_checkstring(VmState *L, int i, size_t *len) {
  int t = vm_type(L, i);
  if (t != VM_TSTRING && t != VM_TNUMBER && t != VM_TNIL) ArgError(L, i, ERR_STREXPECTED);
  const char *s = vm_tostring(L, i);
  if (len) *len = vm_strlen(L, i);
  return s;
}

const char *vm_optlstring(VmState *L, int i, const char *def, size_t *len) {
  if (vm_isnoneornil(L, i)) {
    if (len) *len = def ? std::strlen(def) : 0;
    return def;
  }
  return vm_checkstring(L, i, len);
}

void vm_checktable(VmState *L, int i) {
  if (vm_type(L, i) != VM_TTABLE) ArgError(L, i, ERR_TABEXPECTED);
}

int vm_checkfunction(VmState *L, int i) {
  if (vm_type(L, i) != VM_TFUNCTION) ArgError(L, i, ERR_FUNCEXPECTED);
  return VM_TFUNCTION;
}

int vm_checktype(VmState *L, int i, int type) {
  if (vm_type(L, i) == type) return type;
  switch (type) {
    case VM_TSTRING: ArgError(L, i, ERR_STREXPECTED);
    case VM_TNUMBER: ArgError(L, i, ERR_NUMEXPECTED);
    case VM_TTABLE: ArgError(L, i, ERR_TABEXPECTED);
    case VM_TFUNCTION: ArgError(L, i, ERR_FUNCEXPECTED);
    default: ArgError(L, i, ERR_UDEXPECTED);
  }
}

void *vm_checkudata_any(VmState *L, int i) {
  int t = vm_type(L, i);
  if (t != VM_TUSERDATA && t != VM_TLIGHTUSERDATA) ArgError(L, i, ERR_UDEXPECTED);
  return vm_touserdata(L, i);
}

void *vm_checkudata(VmState *L, int i, const char *typeName) {
  if (vm_type(L, i) != VM_TUSERDATA || !vm_getmetatable(L, i)) return nullptr;
  vm_pushstring(L, typeName);
  vm_rawget(L, VM_REGISTRYINDEX);
  int same = vm_rawequal(L, -1, -2);
  vm_pop(L, 2);
  return same ? vm_touserdata(L, i) : nullptr;
}

double vm_checknumber_field(VmState *L, int i, const char *key) {
  if (vm_type(L, i) == VM_TNONE || !vm_isnumber(L, i)) KeyError(L, key, ERR_NUMTABLEARG);
  return vm_tonumber(L, i);
}

uint32_t vm_checkinteger_field(VmState *L, int i, const char *key) {
  return FieldToUInt32(L, key, vm_checknumber_field(L, i, key));
}

const char *vm_checkstring_field(VmState *L, int i, size_t *len, const char *key) {
  int t = vm_type(L, i);
  if (t != VM_TSTRING && t != VM_TNUMBER && t != VM_TNIL) KeyError(L, key, ERR_STRTABLEARG);
  const char *s = vm_tostring(L, i);
  if (len) *len = vm_strlen(L, i);
  return s;
}

double vm_checknumber_code(VmState *L, int i, uint32_t *code) {
  if (vm_type(L, i) == VM_TNONE || !vm_isnumber(L, i)) {
    *code = ERR_NUMCALLBACK;
    return 0;
  }
  *code = 0;
  return vm_tonumber(L, i);
}

const char *vm_checkstring_code(VmState *L, int i, size_t *len, uint32_t *code) {
  int t = vm_type(L, i);
  if (t != VM_TSTRING && t != VM_TNUMBER && t != VM_TNIL) {
    *code = ERR_STRCALLBACK;
    if (len) *len = 0;
    return nullptr;
  }
  *code = 0;
  const char *s = vm_tostring(L, i);
  if (len) *len = vm_strlen(L, i);
  return s;
}

uint32_t CheckResultLength(size_t base, size_t count, size_t each) {
  if (base > VM_MAXSTRLEN) return ERR_MEM;
  // Divided rather than multiplied: count * each may not fit in a size_t.
  if (each && count > (VM_MAXSTRLEN - base) / each) return ERR_MEM;
  return 0;
}

qmObjectId GetObjectIdArg(VmState *L, int i) {
  if (vm_type(L, i) == VM_TLIGHTUSERDATA) return {0, reinterpret_cast<uintptr_t>(vm_touserdata(L, i))};
  return {vm_checkinteger(L, i), 0};
}

qmObjectId GetNewObjectIdArg(VmState *L, int i) {
  if (vm_isnoneornil(L, i)) return {0, 1};
  return {vm_checkinteger(L, i), 0};
}

uint32_t PushNewId(VmState *L, const qmObjectId &id) {
  if (!id.handle) return 0;
  vm_pushlightuserdata(L, reinterpret_cast<void *>(id.handle));
  return 1;
}

double GetNumberOrPercentArg(VmState *L, int i, double base, int allowAbove100, int *percent) {
  if (percent) *percent = 0;
  int t = vm_type(L, i);
  if (t == VM_TNUMBER || t == VM_TNIL) return vm_tonumber(L, i);
  if (t != VM_TSTRING) ArgError(L, i, ERR_STRORNUM);
  double n;
  int isPercent;
  if (!ParsePercentText(vm_tostring(L, i), &n, &isPercent)) ArgError(L, i, ERR_PERCENTFORMAT);
  if (!isPercent) return n;
  if (n < 0 || (!allowAbove100 && n > 100)) ArgError(L, i, ERR_PERCENTFORMAT);
  if (base != 0) return base * n / 100;
  if (percent) *percent = 1;
  return n / 100;
}

int GetFieldNumber(VmState *L, int t, const char *key, double *out, int *found) {
  if (!PushField(L, t, key)) return 0;
  *out = vm_checknumber_field(L, -1, key);
  return Found(L, found);
}

int GetFieldInt(VmState *L, int t, const char *key, int32_t *out, int *found) {
  double d;
  if (!GetFieldNumber(L, t, key, &d, found)) return 0;
  *out = FieldToInt32(L, key, d);
  return 1;
}

int GetFieldUInt(VmState *L, int t, const char *key, uint32_t *out, int *found) {
  double d;
  if (!GetFieldNumber(L, t, key, &d, found)) return 0;
  *out = FieldToUInt32(L, key, d);
  return 1;
}

int GetFieldIntOrPercent(VmState *L, int t, const char *key, int allowAbove100, int32_t *out, int *found) {
  if (!PushField(L, t, key)) return 0;
  if (vm_type(L, -1) == VM_TSTRING) {
    double n;
    int isPercent;
    if (!ParsePercentText(vm_tostring(L, -1), &n, &isPercent)) KeyError(L, key, ERR_PERCENTFORMATSTR);
    if (isPercent) {
      if (n < 0 || (!allowAbove100 && n > 100)) KeyError(L, key, ERR_PERCENTFORMATSTR);
      *out = -FieldToInt32(L, key, n);  // a negative value stands for a percentage
    } else {
      *out = FieldToInt32(L, key, n);
    }
  } else {
    *out = FieldToInt32(L, key, vm_checknumber_field(L, -1, key));
  }
  return Found(L, found);
}

int GetFieldNumberOrPercent(VmState *L, int t, const char *key, double base, int allowAbove100, double *out,
                            int *percent, int *found) {
  if (percent) *percent = 0;
  if (!PushField(L, t, key)) return 0;
  int type = vm_type(L, -1);
  if (type == VM_TSTRING) {
    double n;
    int isPercent;
    if (!ParsePercentText(vm_tostring(L, -1), &n, &isPercent)) KeyError(L, key, ERR_PERCENTFORMATSTR);
    if (!isPercent) {
      *out = n;
    } else {
      if (n < 0 || (!allowAbove100 && n > 100)) KeyError(L, key, ERR_PERCENTFORMATSTR);
      if (base != 0) {
        *out = base * n / 100;
      } else {
        *out = n / 100;
        if (percent) *percent = 1;
      }
    }
  } else {
    *out = vm_checknumber_field(L, -1, key);
  }
  return Found(L, found);
}

int GetFieldString(VmState *L, int t, const char *key, char *out, size_t size, int *found) {
  if (!PushField(L, t, key)) return 0;
  CopyString(out, vm_checkstring_field(L, -1, nullptr, key), size);
  return Found(L, found);
}

int GetFieldStringDup(VmState *L, int t, const char *key, int fontFlag, int *font, char **out, size_t *len,
                      int *found) {
  if (font) *font = 0;
  if (!PushField(L, t, key)) return 0;
  const char *text = vm_checkstring_field(L, -1, nullptr, key);
  if (fontFlag) text = ResolveLinkedFile(GetAppletRecord(L), text, fontFlag, font);
  size_t n = std::strlen(text);
  char *copy = n < 0xFFFFFFFFu ? static_cast<char *>(MemAlloc(uint32_t(n + 1), 0)) : nullptr;
  if (copy == nullptr) {
    vm_pop(L, 1);
    return 0;
  }
  std::memcpy(copy, text, n + 1);
  *out = copy;
  if (len) *len = n;
  return Found(L, found);
}

int GetFieldFlag(VmState *L, int t, const char *key, bool *out, int *found) {
  if (!PushField(L, t, key)) return 0;
  *out = vm_type(L, -1) == VM_TBOOLEAN ? vm_toboolean(L, -1) != 0 : vm_checknumber_field(L, -1, key) != 0;
  return Found(L, found);
}

int GetFieldBytes(VmState *L, int t, const char *key, const char **out, size_t *len, int *found) {
  if (!PushField(L, t, key)) return 0;
  *out = vm_checkstring_field(L, -1, len, key);
  return Found(L, found);
}

int GetFieldObjectId(VmState *L, int t, const char *key, qmObjectId *out, int *found) {
  if (!PushField(L, t, key)) return 0;
  if (vm_type(L, -1) == VM_TLIGHTUSERDATA) *out = {0, reinterpret_cast<uintptr_t>(vm_touserdata(L, -1))};
  else *out = {vm_checkinteger_field(L, -1, key), 0};
  return Found(L, found);
}

int GetFieldLayerId(VmState *L, int t, const char *key, int32_t *out, int *found) {
  if (!PushField(L, t, key)) return 0;
  int type = vm_type(L, -1);
  if (type == VM_TNUMBER) {
    *out = FieldToInt32(L, key, vm_tonumber(L, -1));
  } else if (type == VM_TSTRING) {
    const char *name = vm_tostring(L, -1);
    qmPlayerContext *ctx = GetPlayerContext(L);
    int32_t position = ctx && ctx->findLayerByName ? ctx->findLayerByName(ctx->scene, name) : 0;
    if (position <= 0) KeyError(L, name, ERR_FINDLAYER);
    *out = position;
  } else {
    vm_raise(L, ERR_WRONGUSAGE);
  }
  return Found(L, found);
}

int GetFieldObjectIdList(VmState *L, int t, const char *key, qmObjectId **out, uint32_t *count, int *found) {
  if (!PushField(L, t, key)) return 0;
  if (vm_type(L, -1) != VM_TTABLE) KeyError(L, key, ERR_TABEXPECTED2);
  uint32_t n = 0;
  for (;; n++) {
    vm_rawgeti(L, -1, int(n));
    bool end = vm_type(L, -1) == VM_TNIL;
    vm_pop(L, 1);
    if (end || n == INT32_MAX) break;
  }
  *count = n;
  if (out) {
    *out = nullptr;
    qmObjectId *ids = n ? static_cast<qmObjectId *>(MemAlloc(uint32_t(n * sizeof(qmObjectId)), 1)) : nullptr;
    if (n && ids == nullptr) vm_raise(L, ERR_MEM);
    for (uint32_t k = 0; k < n; k++) {
      vm_rawgeti(L, -1, int(k));
      int type = vm_type(L, -1);
      if (type == VM_TLIGHTUSERDATA) {
        ids[k] = {0, reinterpret_cast<uintptr_t>(vm_touserdata(L, -1))};
      } else if (type == VM_TNUMBER && NumberToUInt32(vm_tonumber(L, -1), &ids[k].id)) {
        ids[k].handle = 0;
      } else {
        vm_pop(L, 2);
        MemFree(ids);
        return int(ERR_NUMCALLBACK);
      }
      vm_pop(L, 1);
    }
    *out = ids;
  }
  return Found(L, found);
}

int GetFieldMatrix(VmState *L, int t, const char *key, double out[4], int *found) {
  int table = vm_absindex(L, t);
  if (!PushField(L, t, key)) return 0;
  if (vm_type(L, -1) != VM_TTABLE) ArgError(L, table, ERR_TABEXPECTED);
  for (int k = 0; k < 4; k++) {
    vm_rawgeti(L, -1, k);
    int type = vm_type(L, -1);
    if (type == VM_TNIL) vm_raise(L, ERR_MISSINGPARAMTR);
    if (type != VM_TNUMBER) KeyError(L, key, ERR_NUMTABLEARG);
    out[k] = vm_tonumber(L, -1);
    vm_pop(L, 1);
  }
  return Found(L, found);
}

void SetFieldNumber(VmState *L, const char *key, double value) {
  vm_pushstring(L, key);
  vm_pushnumber(L, value);
  vm_settable(L, -3);
}

void SetFieldInt(VmState *L, const char *key, int32_t value) { SetFieldNumber(L, key, value); }

void SetFieldString(VmState *L, const char *key, const char *value) {
  vm_pushstring(L, key);
  vm_pushstring(L, value);
  vm_settable(L, -3);
}

void SetFieldObjectId(VmState *L, const char *key, const qmObjectId *id) {
  vm_pushstring(L, key);
  if (id->handle) vm_pushlightuserdata(L, reinterpret_cast<void *>(id->handle));
  else vm_pushnumber(L, int32_t(id->id));
  vm_settable(L, -3);
}

uint32_t ParseConstantRef(VmState *L, const char *text, size_t *consumed, const char **string, double *number) {
  if (text[0] != '#') return ERR_WRONGUSAGE;
  auto ascii = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (!ascii(text[1]) && text[1] != '_') return ERR_SYNTAXERROR;
  constexpr size_t kMaxName = 64;
  char name[kMaxName + 1];
  size_t n = 0;
  for (const char *p = text + 1; n < kMaxName; p++, n++) {
    char c = *p;
    if (!(ascii(c) || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '!')) break;
    name[n] = c;
  }
  name[n] = 0;
  const char *s = nullptr;
  double d = 0;
  if (!vm_getconstant(L, name, &s, &d)) return ERR_FINDCST;
  if (consumed) *consumed = n + 1;
  if (string) *string = s;
  if (number) *number = d;
  return 0;
}

uint32_t CallScriptFunction(VmState *L, const char *name, int results, int nargs, ...) {
  if (L == nullptr) return 0;
  char lower[256];
  CopyString(lower, name, sizeof lower);
  StrToLower(lower);
  vm_pushstring(L, lower);
  vm_gettable(L, VM_GLOBALSINDEX);
  va_list ap;
  va_start(ap, nargs);
  int pushed = 0;
  for (int k = 0; k < nargs; k++) {
    switch (va_arg(ap, int32_t)) {
      case CALLARG_INT: vm_pushnumber(L, va_arg(ap, int32_t)); break;
      case CALLARG_UINT: vm_pushnumber(L, va_arg(ap, uint32_t)); break;
      case CALLARG_STRING: vm_pushstring(L, va_arg(ap, const char *)); break;
      case CALLARG_NIL: vm_pushnil(L); break;
      case CALLARG_POINTER: vm_pushlightuserdata(L, va_arg(ap, void *)); break;
      case CALLARG_OBJECTID: {
        const qmObjectId *id = va_arg(ap, const qmObjectId *);
        if (id->handle) vm_pushlightuserdata(L, reinterpret_cast<void *>(id->handle));
        else vm_pushnumber(L, int32_t(id->id));
        break;
      }
      default: vm_pushnil(L); break;
    }
    pushed++;
  }
  va_end(ap);
  return vm_call(L, pushed, results);
}

uint32_t GetObjectArg(VmState *L, int i, uint32_t type, uint32_t notFoundCode, qmObjectHeader **out,
                      qmObjectId *id) {
  qmObjectId read = GetObjectIdArg(L, i);
  if (id) *id = read;
  *out = FindObject(L, type, &read);
  return *out ? 0 : MissingObjectError(&read, notFoundCode);
}

const char *ResolveLinkedFileArg(VmState *L, int idx, int fontFlag, int *font) {
  const char *name = vm_checkstring(L, idx, nullptr);
  return ResolveLinkedFile(GetAppletRecord(L), name, fontFlag, font);
}

int32_t vm_checkint32(VmState *L, int i) { return ArgToInt32(L, i, vm_checknumber(L, i)); }

int32_t vm_optint32(VmState *L, int i, int32_t def) { return vm_isnoneornil(L, i) ? def : vm_checkint32(L, i); }

int32_t vm_checkword32(VmState *L, int i) { return vm_toint32(vm_checknumber(L, i)); }

uint32_t vm_checkuword32(VmState *L, int i) { return vm_touint32(vm_checknumber(L, i)); }

int32_t vm_optword32(VmState *L, int i, int32_t def) { return vm_isnoneornil(L, i) ? def : vm_checkword32(L, i); }

bool vm_optflag(VmState *L, int i, bool def) {
  if (vm_isnoneornil(L, i)) return def;
  if (vm_type(L, i) == VM_TBOOLEAN) return vm_toboolean(L, i) != 0;
  return vm_checknumber(L, i) != 0;
}
