#include "runtime/vm/vm_state.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_func.h"
#include "runtime/vm/vm_gc.h"
#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_string.h"
#include "runtime/vm/vm_undump.h"

void vm_throw(VmState *L, uint32_t code) {
  if (L->errorJmp) throw VmError{code};
  std::exit(1);
}

namespace {

// Records ErrorLine and the failing function for an error at the current call.
void recordposition(VmState *L) {
  VmCallInfo *ci = L->ci;
  G(L)->err.line = (ci->state & VM_CI_C) ? -1 : vm_currentline(L, ci);
  vm_fillerrorfunction(L);
}

}  // namespace

void vm_raise(VmState *L, uint32_t code) {
  recordposition(L);
  vm_throw(L, code);
}

void vm_memerror(VmState *L) {
  // Only while the state is built has it no call record to name.
  if (L->ci) recordposition(L);
  vm_throw(L, ERR_MEM);
}

void vm_fillerrorfunction(VmState *L) {
  VmGlobalState *g = G(L);
  if (g->rt.fillfuncname) {
    g->rt.fillfuncname(L);
    return;
  }
  // Without the runtime: the line of the calling script level when the error came from a native.
  if (g->err.line == -1) {
    VmDebug ar;
    if (vm_getstack(L, 1, &ar) && ar.i_ci > 0) g->err.line = vm_currentline(L, L->base_ci + ar.i_ci);
  }
}

uint32_t vm_rawrunprotected(VmState *L, VmPFunc f, void *ud) {
  VmErrorJump lj{L->errorJmp, 0};
  L->errorJmp = &lj;
  bool nativefailed = false;
  try {
    f(L, ud);
  } catch (const VmError &e) {
    lj.status = e.code;
  } catch (const std::bad_alloc &) {
    nativefailed = true;  // native code that allocates with new or the standard containers
  } catch (const std::length_error &) {
    nativefailed = true;  // a size computation beyond what a container can hold
  }
  L->errorJmp = lj.previous;
  if (nativefailed) {
    // The call records still describe the failing call until the caller restores them.
    lj.status = ERR_MEM;
    if (L->ci) recordposition(L);
  }
  return lj.status;
}

void vm_reallocstack(VmState *L, int newsize) {
  int realsize = newsize + 1 + VM_EXTRA_STACK;
  auto oldaddr = reinterpret_cast<uintptr_t>(L->stack);
  VmValue *ns = vm_reallocvector<VmValue>(L, L->stack, static_cast<size_t>(L->stacksize), static_cast<size_t>(realsize));
  for (int i = L->stacksize; i < realsize; i++) vm_setnil(&ns[i]);
  auto fix = [&](VmValue *&p) { p = ns + (reinterpret_cast<uintptr_t>(p) - oldaddr) / sizeof(VmValue); };
  fix(L->top);
  fix(L->base);
  for (VmCallInfo *ci = L->base_ci; ci <= L->ci; ci++) {
    fix(ci->top);
    fix(ci->base);
  }
  for (VmGCObject *up = L->openupval; up; up = up->next) fix(static_cast<VmUpvalue *>(up)->v);
  L->stack = ns;
  L->stacksize = realsize;
  L->stack_last = ns + newsize;
}

void vm_growstack(VmState *L, int n) {
  if (n <= L->stacksize) vm_reallocstack(L, 2 * L->stacksize);
  else vm_reallocstack(L, L->stacksize + n + VM_EXTRA_STACK);
}

void vm_ensurestack(VmState *L, int n) {
  if (L->stack_last - L->top <= n) vm_growstack(L, n);
}

void vm_reallocci(VmState *L, int newsize) {
  ptrdiff_t cur = L->ci - L->base_ci;
  L->base_ci = vm_reallocvector<VmCallInfo>(L, L->base_ci, L->size_ci, static_cast<size_t>(newsize));
  L->size_ci = static_cast<uint16_t>(newsize);
  L->ci = L->base_ci + cur;
  L->end_ci = L->base_ci + newsize - 1;
}

namespace {

void stack_init(VmState *L) {
  L->stack = vm_newvector<VmValue>(L, VM_BASIC_STACK_SIZE);
  L->stacksize = VM_BASIC_STACK_SIZE;
  for (int i = 0; i < VM_BASIC_STACK_SIZE; i++) vm_setnil(&L->stack[i]);
  L->stack_last = L->stack + (VM_BASIC_STACK_SIZE - VM_EXTRA_STACK) - 1;
  L->base_ci = vm_newvector<VmCallInfo>(L, VM_BASIC_CI_SIZE);
  L->size_ci = VM_BASIC_CI_SIZE;
  L->end_ci = L->base_ci + VM_BASIC_CI_SIZE - 1;
  L->ci = L->base_ci;
  L->ci->state = VM_CI_C;
  L->top = L->stack + 1;  // slot 0 holds nil
  L->base = L->top;
  L->ci->base = L->top;
  L->ci->top = L->top + VM_MINSTACK;
  L->ci->savedpc = nullptr;
  L->ci->oldpc = nullptr;
  L->ci->tailcalls = 0;
}

void f_openstate(VmState *L, void *) {
  VmGlobalState *g = G(L);
  stack_init(L);
  VmTable *meta = vm_newtable_sized(L, 0, 0);
  meta->metatable = meta;
  g->defaultmeta.tt = VM_TTABLE;
  g->defaultmeta.v.gc = meta;
  vm_setgc(&L->globals, VM_TTABLE, vm_newtable_sized(L, 0, 4));
  vm_setgc(&g->registry, VM_TTABLE, vm_newtable_sized(L, 4, 4));
  VmClosure *next = vm_newCclosure(L, 0);
  next->f = vm_nextitem;
  next->g = L->globals;
  vm_setclosure(&g->nextitem, next);
  vm_resizestrtab(L, 32);
  vm_tminit(L);
  vm_newstr(L, "not enough memory")->marked |= VM_FIXED;
  g->gosub = vm_newvector<VmGosubEntry>(L, VM_MAX_GOSUB);
  g->GCthreshold = 4 * g->nblocks;
}

void freestate(VmState *L) {
  VmGlobalState *g = G(L);
  if (g) {
    vm_sweep(L, 1);
    vm_freearray(L, g->strt.hash, static_cast<size_t>(g->strt.size));
    vm_freearray(L, g->gosub, g->gosub ? VM_MAX_GOSUB : 0);
    vm_zfreebuffer(L, &g->buff);
    vm_drainsmall(&g->smallpool);
    vm_freearray(L, L->base_ci, L->size_ci);
    vm_freearray(L, L->stack, static_cast<size_t>(L->stacksize));
    vm_realloc(nullptr, g, sizeof(VmGlobalState), 0);
  }
  vm_realloc(nullptr, L, sizeof(VmState), 0);
}

}  // namespace

VmState *vm_open() {
  auto *L = static_cast<VmState *>(vm_realloc(nullptr, nullptr, 0, sizeof(VmState)));
  if (!L) return nullptr;
  *L = VmState{};
  L->tt = VM_TTHREAD;
  L->allowhook = 1;
  vm_setnil(&L->globals);
  auto *g = static_cast<VmGlobalState *>(vm_realloc(nullptr, nullptr, 0, sizeof(VmGlobalState)));
  if (!g) {
    freestate(L);
    return nullptr;
  }
  *g = VmGlobalState{};
  L->l_G = g;
  g->mainthread = L;
  vm_setnil(&g->registry);
  vm_setnil(&g->defaultmeta);
  vm_setnil(&g->nextitem);
  vm_setnil(&g->dummynode.key);
  vm_setnil(&g->dummynode.val);
  g->nblocks = sizeof(VmState) + sizeof(VmGlobalState);
  g->err.line = -1;
  std::strcpy(g->err.funcname, "----");
  std::strcpy(g->err.sourcename, "?");
  g->err.exitonerror = 1;
  g->err.handlerref = -1;
  g->checkevery = INT32_MAX;
  g->checkcount = INT32_MAX - 1;
  const char *stress = std::getenv("QM_VM_GCSTRESS");
  g->gcstress = stress && *stress && *stress != '0';
  if (vm_rawrunprotected(L, f_openstate, nullptr) != 0) {
    freestate(L);
    return nullptr;
  }
  return L;
}

void vm_close(VmState *L) {
  L = G(L)->mainthread;
  vm_runfinalisers(L);  // outside a collection nothing is marked: every pending finaliser runs
  freestate(L);
}

namespace {

struct ParserArgs {
  VmReader *z;
  int bin;
};

void f_parser(VmState *L, void *ud) {
  auto *p = static_cast<ParserArgs *>(ud);
  vm_checkgc(L);
  VmProto *f = vm_undump(L, p->z, &G(L)->buff);
  // A main function that declares upvalues gets closed nil ones, never dangling slots.
  VmClosure *cl = vm_newLclosure(L, f, &L->globals);
  for (int i = 0; i < f->nups; i++) {
    auto *uv = static_cast<VmUpvalue *>(vm_realloc(L, nullptr, 0, sizeof(VmUpvalue)));
    uv->tt = VM_TUPVAL;
    uv->marked = 0;
    uv->next = G(L)->rootgc;
    G(L)->rootgc = uv;
    vm_setnil(&uv->value);
    uv->v = &uv->value;
    cl->upvals()[i] = uv;
  }
  vm_ensurestack(L, 1);
  vm_setclosure(L->top, cl);
  L->top++;
}

}  // namespace

uint32_t vm_protectedparser(VmState *L, VmReader *z, int bin) {
  ParserArgs p{z, bin};
  ptrdiff_t oldtop = L->top - L->stack;  // the stack may move while loading
  uint32_t status = vm_rawrunprotected(L, f_parser, &p);
  vm_zfreebuffer(L, &G(L)->buff);
  if (status != 0) L->top = L->stack + oldtop;
  return status;
}
