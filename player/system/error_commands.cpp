// The system library's error control (End, Error, Assert, ExitOnError, RaiseOnError,
// GetLastError) and debug output.
#include "player/system/error_commands.h"

#include <cstring>
#include <new>
#include <string>

#include "player/system/system_debug.h"
#include "player/system/system_state.h"
#include "player/system/systemargs.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/vm/vm_api.h"

namespace {

constexpr size_t kPromptLineSize = 16385;  // 16384 bytes and the terminator

}  // namespace

uint32_t SysEnd(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_setendrequested(L, 1);
  return 0;
}

uint32_t SysGetErrorName(VmState *L) {
  CheckArgCount(L, 1, 1);
  uint32_t code = vm_checkinteger(L, 1);
  char message[kErrorMessageSize];
  vm_pushstring(L, FormatErrorMessage(code, message, sizeof message));
  return 1;
}

uint32_t SysExitOnError(VmState *L) {
  CheckArgCount(L, 1, 1);
  bool on = vm_checknumber(L, 1) != 0;
  if (!on && HasErrorHandler(L)) return ERR_WRONGUSAGE;
  vm_setexitonerror(L, on);
  return 0;
}

uint32_t SysGetLastError(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_pushnumber(L, vm_getlasterror(L));
  return 1;
}

uint32_t SysError(VmState *L) {
  CheckArgCount(L, 1, 1);
  SetErrorArgument(vm_checkstring(L, 1, nullptr));
  return ERR_ERRORCALLED;
}

uint32_t SysAssert(VmState *L) {
  CheckArgCount(L, 1, 1);
  int type = vm_type(L, 1);
  if (type == VM_TNIL || (type == VM_TNUMBER && vm_tonumber(L, 1) == 0)) return ERR_ASSERTFAILED;
  vm_settop(L, 1);
  return 1;
}

uint32_t SysRaiseOnError(VmState *L) {
  CheckArgCount(L, 1, 1);
  if (!vm_getexitonerror(L)) return ERR_WRONGUSAGE;
  SetErrorHandler(L, 1);
  return 0;
}

// DebugStr, DebugVal and DebugPrint: every argument as the global "tostring" gives it, one
// blank apart, and a line feed.
uint32_t SysDebugPrint(VmState *L) {
  CheckArgCount(L, 1, VM_ANYARGS);
  int n = vm_gettop(L);
  std::string line;
  for (int i = 1; i <= n; i++) {
    vm_pushstring(L, "tostring");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushvalue(L, i);
    if (uint32_t code = vm_call(L, 1, 1)) return code;
    const char *text = vm_tostring(L, -1);
    if (i > 1) line += ' ';
    if (text) line += text;
    vm_pop(L, 1);
  }
  line += '\n';
  DebugWrite(L, line.c_str());
  return 0;
}

uint32_t SysDebugOutput(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmSystemState *state;
  if (uint32_t code = SystemStateOf(L, &state)) return code;
  int on = vm_checknumber(L, 1) != 0;
  state->debugOutput = on;
  vm_setcalltrace(L, on);
  return 0;
}

uint32_t SysDebugPrompt(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *prompt = vm_checkstring(L, 1, nullptr);
  if (prompt[0]) DebugWrite(L, prompt);
  std::string line(kPromptLineSize, '\0');
  ReadDebugLine(L, line.data(), line.size());
  vm_pushstring(L, line.c_str());
  return 1;
}
