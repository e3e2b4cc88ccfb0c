// Calls, returns, protected execution and the debug hook.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_debug.h"
#include "runtime/vm/vm_exec.h"
#include "runtime/vm/vm_func.h"
#include "runtime/vm/vm_gc.h"
#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"

namespace {

// A new call record; the array doubles when full, up to the limit of call records.
VmCallInfo *nextci(VmState *L) {
  if (L->ci == L->end_ci) {
    if (L->size_ci > VM_MAX_CALLS) vm_throw(L, ERR_STACK);  // already handling an overflow
    vm_reallocci(L, 2 * L->size_ci);
    if (L->size_ci > VM_MAX_CALLS) vm_raise(L, ERR_STACK);
  }
  return ++L->ci;
}

// Moves the arguments beyond the fixed parameters into the table "arg" with its field n.
void adjust_varargs(VmState *L, int nfixargs, VmValue *base) {
  int actual = static_cast<int>(L->top - base);
  if (actual < nfixargs) {
    vm_ensurestack(L, nfixargs - actual);
    for (; actual < nfixargs; ++actual) vm_setnil(L->top++);
  }
  actual -= nfixargs;
  VmTable *htab = vm_newtable_sized(L, actual, 1);
  for (int i = 0; i < actual; i++) *vm_setnum(L, htab, i + 1) = L->top[i - actual];
  VmValue n;
  vm_setstring(&n, vm_newstr(L, "n"));
  vm_setnumber(vm_settable_raw(L, htab, &n), actual);
  L->top -= actual;
  vm_setgc(L->top, VM_TTABLE, htab);
  vm_incr_top(L);
}

// A value that is not a function is called through its "__call" method, itself becoming
// the first argument.
VmValue *tryfunctm(VmState *L, VmValue *func) {
  const VmValue *tm = vm_gettmbyobj(L, func, VM_TM_CALL);
  if (!vm_isfunction(tm)) vm_typeerror(L, func, ERR_FUNCDECLA, "()");
  ptrdiff_t funcr = vm_savestack(L, func);
  vm_ensurestack(L, 1);
  func = vm_restorestack(L, funcr);
  for (VmValue *p = L->top; p > func; p--) *p = p[-1];
  L->top++;
  *func = *tm;
  return func;
}

void debugprint(VmState *L, const std::string &s) {
  if (G(L)->rt.debugprint) G(L)->rt.debugprint(L, s.c_str());
  else std::fputs(s.c_str(), stdout);
}

// "Now calling name() with arguments #1=(NUMBER)1 ..." for the arguments from func + 1 up to argend.
void tracecall(VmState *L, VmValue *func, VmValue *argend) {
  VmDebug ar;
  const char *name = "?";
  std::memset(&ar, 0, sizeof ar);
  ar.i_ci = static_cast<int32_t>(L->ci - L->base_ci);
  if (vm_getinfo(L, "n", &ar) && ar.name) name = ar.name;
  std::string line = "Now calling ";
  line += name;
  line += "()";
  char buf[128];
  int i = 1;
  for (VmValue *a = func + 1; a < argend; a++, i++) {
    if (i == 1) line += " with arguments ";
    switch (a->tt) {
      case VM_TNIL: std::snprintf(buf, sizeof buf, "#%d=(NIL) ", i); break;
      case VM_TNUMBER: std::snprintf(buf, sizeof buf, "#%d=(NUMBER)%g ", i, a->v.n); break;
      case VM_TSTRING:
        line += '#';
        line += std::to_string(i);
        line += "=(STRING)\"";
        line.append(vm_svalue(a)->data(), vm_svalue(a)->len);
        line += "\" ";
        continue;
      case VM_TTABLE: std::snprintf(buf, sizeof buf, "#%d=(TABLE)%p ", i, a->v.p); break;
      case VM_TFUNCTION: std::snprintf(buf, sizeof buf, "#%d=(FUNCPTR)%p ", i, a->v.p); break;
      default: std::snprintf(buf, sizeof buf, "#%d=(INTERNAL)%d ", i, a->tt); break;
    }
    line += buf;
  }
  line += "\n";
  debugprint(L, line);
}

}  // namespace

VmValue *vm_precall(VmState *L, VmValue *func, uint32_t *code) {
  if (!vm_isfunction(func)) func = tryfunctm(L, func);
  VmClosure *cl = vm_clvalue(func);
  ptrdiff_t funcr = vm_savestack(L, func);
  if (!cl->isC) {
    VmProto *p = cl->p;
    if (p->is_vararg) adjust_varargs(L, p->numparams, func + 1);
    vm_ensurestack(L, p->maxstacksize);
    VmCallInfo *ci = nextci(L);
    func = vm_restorestack(L, funcr);
    L->base = ci->base = func + 1;
    ci->top = L->base + p->maxstacksize;
    ci->savedpc = p->ops;
    ci->oldpc = nullptr;
    ci->tailcalls = 0;
    ci->state = VM_CI_SAVEDPC;
    // The trace shows the arguments, not the registers above them that start as nil.
    if (G(L)->calltrace && !G(L)->endrequested) tracecall(L, func, L->top < ci->top ? L->top : ci->top);
    while (L->top < ci->top) vm_setnil(L->top++);
    L->top = ci->top;
    return nullptr;
  }
  vm_ensurestack(L, VM_MINSTACK);
  VmCallInfo *ci = nextci(L);
  func = vm_restorestack(L, funcr);
  L->base = ci->base = func + 1;
  ci->top = L->top + VM_MINSTACK;
  ci->state = VM_CI_C;
  ci->savedpc = nullptr;
  ci->oldpc = nullptr;
  ci->tailcalls = 0;
  if (L->hookmask & VM_MASKCALL) vm_callhook(L, VM_HOOKCALL, -1);
  VmGlobalState *g = G(L);
  if (g->calltrace && !g->endrequested) tracecall(L, func, L->top);
  VmCFunction f = cl->f;
  if (f != g->rt.getlasterror) g->err.lastcode = 0;
  uint32_t n = f(L);
  if (vm_iserrorcode(n) && g->err.handlerref != -1 && g->err.callbackdepth == 0 && !g->err.inhandler &&
      g->rt.errorhandler) {
    // The script's own error handler sees the code first; its answer replaces it.
    g->err.inhandler = 1;
    try {
      n = g->rt.errorhandler(L, n);
    } catch (...) {
      g->err.inhandler = 0;
      throw;
    }
    g->err.inhandler = 0;
  }
  if (n >= 1000) {
    *code = n;  // an error code, or a Gosub request passed on unchanged
    return L->top;
  }
  // A native that claims more results than it pushed gets what it pushed.
  int pushed = static_cast<int>(L->top - L->base);
  int nres = static_cast<int>(n) > pushed ? pushed : static_cast<int>(n);
  return L->top - nres;
}

void vm_poscallgeneral(VmState *L, int wanted, VmValue *firstResult) {
  if (L->hookmask & VM_MASKRET) {
    ptrdiff_t fr = vm_savestack(L, firstResult);
    vm_callhook(L, VM_HOOKRET, -1);
    if (!(L->ci->state & VM_CI_C))
      for (int i = L->ci->tailcalls; i > 0; i--) vm_callhook(L, VM_HOOKTAILRET, -1);
    firstResult = vm_restorestack(L, fr);
  }
  VmValue *res = L->base - 1;  // the function's slot
  L->ci--;
  L->base = L->ci->base;
  while (wanted != 0 && firstResult < L->top) {
    *res++ = *firstResult++;
    wanted--;
  }
  while (wanted-- > 0) vm_setnil(res++);
  L->top = res;
}

uint32_t vm_docall(VmState *L, VmValue *func, int nresults) {
  if (++L->nCcalls >= VM_MAX_CCALLS) {
    if (L->nCcalls == VM_MAX_CCALLS) vm_raise(L, ERR_STACK);
    if (L->nCcalls >= VM_MAX_CCALLS_HARD) vm_throw(L, ERR_STACK);
  }
  uint32_t code = 0;
  VmValue *firstResult = vm_precall(L, func, &code);
  if (firstResult == nullptr) {
    firstResult = vm_execute(L);
    // The interpreter stopped on EndRequested somewhere inside: unwind as a user abort
    // rather than hand a half-finished frame to the caller.
    if (firstResult == nullptr) vm_throw(L, ERR_USERABORT);
  }
  vm_poscall(L, nresults, firstResult);
  L->nCcalls--;
  vm_checkgc(L);
  return code >= VM_GOSUB_REQUEST2 ? 0 : code;
}

uint32_t vm_pcall_internal(VmState *L, VmPFunc func, void *ud, ptrdiff_t oldtop, ptrdiff_t ef) {
  VmGlobalState *g = G(L);
  uint16_t oldnCcalls = L->nCcalls;
  ptrdiff_t old_ci = L->ci - L->base_ci;
  uint8_t old_allowhooks = L->allowhook;
  ptrdiff_t old_errfunc = L->errfunc;
  int32_t old_gosub = g->gosubdepth;
  uint32_t old_callbackdepth = g->err.callbackdepth;
  L->errfunc = ef;
  uint32_t status = vm_rawrunprotected(L, func, ud);
  if (status != 0) {
    VmValue *oldtopp = vm_restorestack(L, oldtop);
    vm_closeupvals(L, oldtopp);
    L->nCcalls = oldnCcalls;
    L->ci = L->base_ci + old_ci;
    L->base = L->ci->base;
    L->allowhook = old_allowhooks;
    L->stack_last = L->stack + L->stacksize - 6;
    if (L->size_ci > VM_MAX_CALLS && old_ci + 1 < VM_MAX_CALLS) vm_reallocci(L, VM_MAX_CALLS);
    // Positions pushed by the frames that the error unwound are gone with them.
    g->gosubdepth = old_gosub;
    g->err.callbackdepth = old_callbackdepth;
    // No error value: the function and its arguments are dropped.
    L->top = oldtopp;
  }
  L->errfunc = old_errfunc;
  return status;
}

void vm_callhook(VmState *L, int event, int line) {
  VmHook hook = L->hook;
  if (!hook || !L->allowhook) return;
  ptrdiff_t top = vm_savestack(L, L->top);
  ptrdiff_t ci_top = vm_savestack(L, L->ci->top);
  VmDebug ar;
  std::memset(&ar, 0, sizeof ar);
  ar.event = event;
  ar.currentline = line;
  ar.i_ci = event == VM_HOOKTAILRET ? 0 : static_cast<int32_t>(L->ci - L->base_ci);
  vm_ensurestack(L, VM_MINSTACK);
  L->ci->top = L->top + VM_MINSTACK;
  L->allowhook = 0;
  uint32_t error = 0;
  hook(L, &ar, &error);
  if (error) vm_throw(L, error);
  L->allowhook = 1;
  L->ci->top = vm_restorestack(L, ci_top);
  L->top = vm_restorestack(L, top);
}

void vm_updatetrap(VmState *L) {
  VmGlobalState *g = G(L);
  uint8_t mask = g->mainthread->hookmask | L->hookmask;
  uint32_t t = g->endrequested ? 1 : 0;
  if (mask & (VM_MASKLINE | VM_MASKCOUNT)) t |= 2;
  g->trap = t;
  g->callcheck = g->calltrace || (mask & (VM_MASKCALL | VM_MASKRET | VM_MASKLINE));
  g->dispatch = g->looptables[t != 0 ? 1 : g->callcheck ? 2 : 0];
}

void vm_setcalltrace(VmState *L, int on) {
  G(L)->calltrace = on ? 1 : 0;
  vm_updatetrap(L);
}

void vm_setperiodiccheck(VmState *L, void (*check)(VmState *L), int32_t every) {
  VmGlobalState *g = G(L);
  g->periodic = check;
  g->checkevery = check && every > 0 ? every : INT32_MAX;
  g->checkcount = g->checkevery - 1;
}

void vm_setendrequested(VmState *L, int on) {
  G(L)->endrequested = on ? 1 : 0;
  vm_updatetrap(L);
}

uint32_t vm_handlecommanderror(VmState *L, uint32_t code) {
  VmErrorState &e = G(L)->err;
  e.lastcode = code;
  if (!e.exitonerror) {
    if (e.callbackdepth == 0) {
      std::strcpy(e.funcname, "----");
      e.line = -1;
    }
    return 0;
  }
  e.line = -1;  // the runtime takes the line of the calling script level
  vm_fillerrorfunction(L);
  if (e.callbackdepth == 0) vm_setendrequested(L, 1);
  vm_throw(L, code);
}
