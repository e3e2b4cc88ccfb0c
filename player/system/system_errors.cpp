#include "player/system/system_errors.h"

#include <cstring>

#include "runtime/auxlib.h"
#include "runtime/errmessages.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"

uint32_t CallErrorHandler(VmState *L, uint32_t code) {
  VmErrorState &err = G(L)->err;
  if (err.handlerref == -1) return code;
  // The command that failed is still the innermost record: name it and its calling line.
  std::strcpy(err.funcname, "----");
  err.line = -1;
  vm_fillerrorfunction(L);
  char message[kErrorMessageSize];
  FormatErrorMessage(code, message, sizeof message);
  if (!vm_checkstack(L, 5)) return code;
  vm_getref(L, err.handlerref);
  vm_pushnumber(L, code);
  vm_pushstring(L, message);
  vm_pushstring(L, err.funcname);
  vm_pushnumber(L, err.line);
  std::strcpy(err.funcname, "----");
  err.line = -1;
  err.callbackdepth++;
  uint32_t result = vm_call(L, 4, 0);
  if (err.callbackdepth > 0) err.callbackdepth--;
  return result;
}

void SetErrorHandler(VmState *L, int i) {
  ReleaseErrorHandler(L);
  if (vm_type(L, i) != VM_TFUNCTION) return;
  vm_pushvalue(L, i);
  G(L)->err.handlerref = vm_ref(L, VM_REGISTRYINDEX);
}

void ReleaseErrorHandler(VmState *L) {
  VmErrorState &err = G(L)->err;
  if (err.handlerref != -1) vm_unref(L, VM_REGISTRYINDEX, err.handlerref);
  err.handlerref = -1;
}
