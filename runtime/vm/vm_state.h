// The VM state (one per thread), the shared global state, call records and the error jump.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_debug.h"
#include "runtime/vm/vm_decode.h"
#include "runtime/vm/vm_mem.h"
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
  VM_CI_CALLED = 4,     // script function called by the CALL of the script frame below it
  VM_CI_SAVEDPC = 8,    // saved instruction pointer valid
  VM_CI_GOSUB = 16,     // the frame has pushed a Gosub position (it may be popped since)
  VM_CI_RETHOOK = 32,   // the frame began under a return hook or saw one set: it returns the general way
  VM_CI_UPVALS = 64,    // a closure made in the frame took one of its registers as an upvalue
};

struct VmCallInfo {
  VmValue *base;
  VmValue *top;  // highest slot the function may use
  const VmOp *savedpc;  // the next instruction; kept current before anything can look
  const VmOp *oldpc;    // the last instruction the line hook saw
  uint8_t state;
  int16_t nresults;  // with VM_CI_CALLED: the results the calling CALL wants, -1 for all
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


// Hook mask bits and events.
enum : uint8_t { VM_MASKCALL = 1, VM_MASKRET = 2, VM_MASKLINE = 4, VM_MASKCOUNT = 8 };
enum { VM_HOOKCALL = 0, VM_HOOKRET = 1, VM_HOOKLINE = 2, VM_HOOKCOUNT = 3, VM_HOOKTAILRET = 4 };

// A saved Gosub position, tagged with the frame and function that pushed it, so that a
// Return can only resume code of its own frame.
struct VmGosubEntry {
  const VmOp *pc;
  int32_t ci;  // index of the call record
  const VmProto *p;
};
constexpr int VM_MAX_GOSUB = 4096;

// What a script error leaves behind for the report: the code of the last command
// error, the line, the failing function and the error argument.
struct VmErrorState {
  uint32_t lastcode;        // LastErrorCode
  int32_t line;             // ErrorLine, -1 when unknown
  char funcname[256];       // ErrorFunctionName, "----" for none yet
  char sourcename[1024];    // ErrorSourceName
  char argtext[1024];       // ErrorArgumentText
  uint32_t argnum;          // ErrorArgumentNumber
  uint8_t exitonerror;      // a command error stops the script (on at start)
  uint32_t callbackdepth;   // > 0 while native code runs script functions on its own account
  int32_t handlerref;       // registry reference of the RaiseOnError handler, -1 for none
  uint8_t inhandler;        // guard while that handler runs
};

// What the runtime above the VM plugs in; every entry may stay null.
struct VmRuntimeHooks {
  void (*fillfuncname)(VmState *L);                     // fills ErrorFunctionName before a throw
  uint32_t (*errorhandler)(VmState *L, uint32_t code);  // runs the RaiseOnError handler
  VmCFunction getlasterror;                             // the one native that keeps LastErrorCode
  void (*debugprint)(VmState *L, const char *text);     // output of the call trace
  int (*stricmp)(const char *a, const char *b);         // comparison without regard to case
};

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
  VmSmallPool smallpool;  // blocks of short strings, kept for reuse
  VmValue registry;
  VmValue defaultmeta;
  VmValue nextitem;       // vm_nextitem as a function value, for a generic for over a table
  VmState *mainthread;
  VmNode dummynode;
  VmString *tmname[VM_TM_N];
  size_t memlimit;        // 0, or a ceiling on nblocks (tests and fuzzing)
  uint8_t gcstress;       // collect at every check (tests)
  uint8_t calltrace;      // print every call (DebugOutput); set with vm_setcalltrace
  // Bit 0 end requested, bit 1 a line or count hook is set. The interpreter does not test it
  // per instruction: while it is non-zero, dispatch goes through a table whose every entry
  // leads to the trap handling.
  uint32_t trap;
  // The interpreter's tables (set when it runs): plain, trapping, and plain but for CALL, which
  // takes the general way.
  const void *const *looptables[3];
  const void *checkedcalls[64];  // the third table, made from the plain one when the interpreter first runs
  const void *const *dispatch;   // the one of them that trap and callcheck select
  // Non-zero while a script call must take the general way: a call, return or line hook is set,
  // or the call trace is on. The dispatch table then sends CALL there; trap handling reads it.
  uint8_t callcheck;
  uint8_t endrequested;
  int32_t callsiteindex;       // instruction after the most recent CALL or TAILCALL
  int32_t pendinggosuboffset;  // jump of a command's Gosub request, relative to the call site
  VmGosubEntry *gosub;
  int32_t gosubdepth;
  // The periodic check (the player's event pump): run at every checkevery-th loop edge or
  // script call, so that a script that never waits still sees its quit requests.
  void (*periodic)(VmState *L);
  int32_t checkcount;  // edges left before the next check, minus one: it runs when this goes below 0
  int32_t checkevery;
  VmErrorState err;
  VmRuntimeHooks rt;
  void *context;  // the player context of the run (runtime/context.h); the VM never reads it
};

struct VmState : VmGCObject {
  // In the order of a call record's own base and top, so that a return copies both at once.
  VmValue *base;
  VmValue *top;
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

// Unwinds to the innermost protected call with the code; without one, exits the process
// with status 1.
[[noreturn]] void vm_throw(VmState *L, uint32_t code);
// As vm_throw, after recording the error position (ErrorLine and the failing function).
[[noreturn]] void vm_raise(VmState *L, uint32_t code);
// The allocator's failure: ERR_MEM at the current call's position (none while the state is
// being built). Protected calls turn std::bad_alloc and std::length_error into the same.
[[noreturn]] void vm_memerror(VmState *L);
// Fills the failing function's name through the runtime, or the line alone without one.
void vm_fillerrorfunction(VmState *L);

typedef void (*VmPFunc)(VmState *L, void *ud);
uint32_t vm_rawrunprotected(VmState *L, VmPFunc f, void *ud);

// Makes room for n more slots above top.
void vm_ensurestack(VmState *L, int n);
void vm_growstack(VmState *L, int n);
void vm_reallocstack(VmState *L, int newsize);
void vm_reallocci(VmState *L, int newsize);

// Loads a chunk under protection and pushes its main function.
uint32_t vm_protectedparser(VmState *L, VmReader *z, int bin);


// Calls: precall returns null for a script function (the interpreter runs it) or the
// first result of a native one; *code receives a native's error code or Gosub request.
VmValue *vm_precall(VmState *L, VmValue *func, uint32_t *code);
// Finishes a call: the return hook (and once more per tail call lost), then the record is
// popped and the results from firstResult up to the top move down to the function's slot, as
// many as wanted (-1 for all), padded with nils. vm_poscall below takes the usual case inline.
void vm_poscallgeneral(VmState *L, int wanted, VmValue *firstResult);
// Calls the function at func with the values above it; returns a native's error code (0 none).
uint32_t vm_docall(VmState *L, VmValue *func, int nresults);
uint32_t vm_pcall_internal(VmState *L, VmPFunc func, void *ud, ptrdiff_t oldtop, ptrdiff_t ef);
void vm_callhook(VmState *L, int event, int line);

// Installs the periodic check (null: none), run once every `every` loop edges and calls.
void vm_setperiodiccheck(VmState *L, void (*check)(VmState *L), int32_t every);

// Sets or clears EndRequested: the interpreter stops before its next instruction.
void vm_setendrequested(VmState *L, int on);
// Switches the call trace (DebugOutput): every call prints its name and arguments.
void vm_setcalltrace(VmState *L, int on);
// Recomputes the words the interpreter tests in place of the flags behind them (trap, dispatch,
// callcheck) after a hook, the end request or the call trace changed.
void vm_updatetrap(VmState *L);

// A command's error code: raise it or record it (exit-on-error off); returns 0 when the
// script goes on.
uint32_t vm_handlecommanderror(VmState *L, uint32_t code);

inline ptrdiff_t vm_savestack(VmState *L, const VmValue *p) { return p - L->stack; }
inline VmValue *vm_restorestack(VmState *L, ptrdiff_t n) { return L->stack + n; }

// Finishes a call as vm_poscallgeneral does. One result wanted without a return hook, the end of
// every command used in an expression, is finished here in place.
[[gnu::always_inline]] inline void vm_poscall(VmState *L, int wanted, VmValue *firstResult) {
  if (wanted != 1 || (L->hookmask & VM_MASKRET)) {
    vm_poscallgeneral(L, wanted, firstResult);
    return;
  }
  VmValue *res = L->base - 1;  // the function's slot
  L->ci--;
  L->base = L->ci->base;
  if (firstResult < L->top) *res = *firstResult;
  else vm_setnil(res);
  L->top = res + 1;
}

inline void vm_incr_top(VmState *L) {
  if (L->top >= L->stack_last) vm_growstack(L, 1);
  L->top++;
}
