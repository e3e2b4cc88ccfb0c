// Debug information: call levels, function descriptions, names of values, type errors.
#pragma once
#include <cstdint>

#include "runtime/vm/vm_object.h"

constexpr int VM_IDSIZE = 60;  // size of a short source

struct VmDebug {
  int32_t event;           // 0 call, 1 return, 2 line, 3 count, 4 tail return
  const char *name;
  const char *namewhat;    // "global", "local", "field", "method" or ""
  const char *what;        // "C", "main", "Quenmoor" or "tail"
  const char *source;
  int32_t currentline;
  int32_t nups;
  int32_t linedefined;
  char short_src[VM_IDSIZE];
  int32_t i_ci;            // index of the call record; 0 for a lost tail call
};
typedef VmDebug VmDebugInfo;

typedef void (*VmHook)(VmState *L, VmDebug *ar, uint32_t *error);

int vm_getstack(VmState *L, int level, VmDebug *ar);
int vm_getinfo(VmState *L, const char *what, VmDebug *ar);
const char *vm_getlocal(VmState *L, const VmDebug *ar, int n);
const char *vm_setlocal(VmState *L, const VmDebug *ar, int n);
const char *vm_getupvalue(VmState *L, int funcindex, int n);
const char *vm_setupvalue(VmState *L, int funcindex, int n);
int vm_sethook(VmState *L, VmHook func, int mask, int count);

struct VmCallInfo;
int vm_currentline(VmState *L, VmCallInfo *ci);
int vm_currentpc(VmState *L, VmCallInfo *ci);
// The name kind ("global", "local", "field", "method") of register reg at the current
// instruction of ci, with the name in *name; nullptr when nothing names it.
const char *vm_getobjname(VmState *L, VmCallInfo *ci, int reg, const char **name);
// Sets the error argument to the value's name (or "??") followed by suffix, and raises code.
[[noreturn]] void vm_typeerror(VmState *L, const VmValue *o, uint32_t code, const char *suffix);
void vm_inithooks(VmState *L);
// The instruction index that last set reg before lastpc (-1 for none), by the code walk.
int vm_symbexec(const VmProto *pt, int lastpc, int reg);
