// The VM state (one per thread), the shared global state, call records and the error jump.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/vm/vm_object.h"
#include "runtime/vm/vm_opcodes.h"
#include "runtime/vm/vm_table.h"
#include "runtime/vm/vm_tm.h"
#include "runtime/vm/vm_zio.h"

constexpr int VM_BASIC_STACK_SIZE = 45;  // 40 usable plus the reserve
constexpr int VM_EXTRA_STACK = 5;        // kept above the limit for a few unchecked pushes
constexpr int VM_MINSTACK = 20;          // guaranteed free slots for a native function
constexpr int VM_BASIC_CI_SIZE = 8;
constexpr int VM_MAX_CALLS = 4096;
constexpr int VM_MAX_CCALLS = 200;
constexpr int VM_MAX_CCALLS_HARD = 225;

// Call-record state flags.
enum : uint8_t {
  VM_CI_C = 1,          // native function
  VM_CI_HASFRAME = 2,   // script function with an active interpreter frame
  VM_CI_CALLING = 4,    // script function calling another script function
  VM_CI_SAVEDPC = 8,    // saved instruction pointer valid
};

struct VmCallInfo {
  VmValue *base;
  VmValue *top;  // highest slot the function may use
  uint8_t state;
  const VmInstruction *savedpc;
  const VmInstruction **pc;  // the interpreter's own instruction pointer
  int tailcalls;
};

// Thrown to unwind to the innermost protected call; only protected calls catch it.
struct VmError {
  uint32_t code;
};

struct VmErrorJump {
  VmErrorJump *previous;
  uint32_t status;
};

struct VmDebug;
typedef void (*VmHook)(VmState *L, VmDebug *ar, uint32_t *error);

struct VmStringTable {
  VmGCObject **hash;
  uint32_t nuse;
  int32_t size;
};

struct VmGlobalState {
  VmStringTable strt;
  VmGCObject *rootgc;     // every collectable object but strings and user data
  VmGCObject *rootudata;  // user data
  VmGCObject *tmudata;    // user data waiting for finalisation
  VmBuffer buff;          // scratch buffer of the loader and the string helpers
  size_t GCthreshold;
  size_t nblocks;         // bytes in use
  VmCFunction panic;
  VmValue registry;
  VmValue defaultmeta;
  VmState *mainthread;
  VmNode dummynode;
  VmString *tmname[VM_TM_N];
  size_t memlimit;        // 0, or a ceiling on nblocks (tests and fuzzing)
  void (*raisehook)(VmState *L);  // records the error position before a raise
};

struct VmState : VmGCObject {
  VmValue *top;
  VmValue *base;
  VmGlobalState *l_G;
  VmCallInfo *ci;
  VmValue *stack_last;  // last usable slot
  VmValue *stack;
  int32_t stacksize;
  VmCallInfo *end_ci;
  VmCallInfo *base_ci;
  uint16_t size_ci;
  uint16_t nCcalls;
  uint8_t hookmask;
  uint8_t allowhook;
  uint8_t hookinit;
  int32_t basehookcount;
  int32_t hookcount;
  VmHook hook;
  VmValue globals;
  VmGCObject *openupval;
  VmGCObject *gclist;
  VmErrorJump *errorJmp;
  ptrdiff_t errfunc;
};

inline VmGlobalState *G(VmState *L) { return L->l_G; }

// Unwinds to the innermost protected call with the code; without one, calls the
// panic function and exits the process with status 1.
[[noreturn]] void vm_throw(VmState *L, uint32_t code);
// As vm_throw, after recording the error position.
[[noreturn]] void vm_raise(VmState *L, uint32_t code);

typedef void (*VmPFunc)(VmState *L, void *ud);
uint32_t vm_rawrunprotected(VmState *L, VmPFunc f, void *ud);

// Makes room for n more slots above top.
void vm_checkstack(VmState *L, int n);
void vm_growstack(VmState *L, int n);
void vm_reallocstack(VmState *L, int newsize);
void vm_reallocci(VmState *L, int newsize);

// Loads a chunk under protection and pushes its main function.
uint32_t vm_protectedparser(VmState *L, VmReader *z, int bin);
