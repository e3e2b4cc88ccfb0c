// Debug information: call levels, function descriptions, names of values and type errors.
#include "runtime/vm/vm_debug.h"

#include <cstdio>
#include <cstring>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_func.h"
#include "runtime/vm/vm_opcodes.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"

namespace {

inline bool isscript(const VmCallInfo *ci) { return !(ci->state & VM_CI_C); }
inline VmClosure *ci_func(const VmCallInfo *ci) { return vm_clvalue(ci->base - 1); }

void funcinfo(VmDebug *ar, const VmValue *func) {
  VmClosure *cl = vm_clvalue(func);
  if (cl->isC) {
    ar->source = "=[C]";
    ar->linedefined = -1;
    ar->what = "C";
  } else {
    ar->source = cl->p->source ? cl->p->source->data() : "=?";
    ar->linedefined = cl->p->lineDefined;
    ar->what = ar->linedefined == 0 ? "main" : "Quenmoor";
  }
  vm_chunkid(ar->short_src, ar->source, VM_IDSIZE);
}

void tailinfo(VmDebug *ar) {
  ar->name = nullptr;
  ar->namewhat = "";
  ar->what = "tail";
  ar->linedefined = ar->currentline = -1;
  ar->source = "=(tail call)";
  vm_chunkid(ar->short_src, ar->source, VM_IDSIZE);
  ar->nups = 0;
}

const char *kname(const VmProto *p, unsigned c) {
  if (vm_isK(c) && static_cast<int>(c - VM_MAXSTACK) < p->sizek && vm_isstring(&p->k[c - VM_MAXSTACK]))
    return vm_svalue(&p->k[c - VM_MAXSTACK])->data();
  return "?";
}

// The name under which the caller of ci called it: the register of its CALL instruction.
const char *getfuncname(VmState *L, VmCallInfo *ci, const char **name) {
  if ((isscript(ci) && ci->tailcalls > 0) || ci == L->base_ci || !isscript(ci - 1)) return nullptr;
  ci--;
  int pc = vm_currentpc(L, ci);
  if (pc < 0) return nullptr;
  VmInstruction i = ci_func(ci)->p->code[pc];
  if (vm_getop(i) == OP_CALL || vm_getop(i) == OP_TAILCALL) return vm_getobjname(L, ci, static_cast<int>(vm_getA(i)), name);
  return nullptr;
}

// A global holding the function, searched from the last node to the first.
const char *globalname(VmState *L, const VmValue *f) {
  if (!vm_istable(&L->globals)) return nullptr;
  VmTable *h = vm_hvalue(&L->globals);
  for (int i = vm_sizenode(h) - 1; i >= 0; i--) {
    VmNode *n = &h->node[i];
    if (vm_isstring(&n->key) && vm_rawequalobj(&n->val, f)) return vm_svalue(&n->key)->data();
  }
  return nullptr;
}

const char *findlocal(VmState *L, VmCallInfo *ci, int n) {
  if (!isscript(ci)) return nullptr;
  int pc = vm_currentpc(L, ci);
  if (pc < 0) return nullptr;
  return vm_getlocalname(ci_func(ci)->p, n, pc);
}

}  // namespace

int vm_currentpc(VmState *, VmCallInfo *ci) {
  if (!isscript(ci) || ci->savedpc == nullptr) return -1;
  return static_cast<int>(ci->savedpc - ci_func(ci)->p->ops) - 1;
}

int vm_currentline(VmState *L, VmCallInfo *ci) {
  int pc = vm_currentpc(L, ci);
  if (pc < 0) return -1;
  const VmProto *p = ci_func(ci)->p;
  if (p->sizelineinfo == 0) return 0;
  return pc < p->sizelineinfo ? p->lineinfo[pc] : 0;
}

int vm_getstack(VmState *L, int level, VmDebug *ar) {
  VmCallInfo *ci;
  for (ci = L->ci; level > 0 && ci > L->base_ci; ci--) {
    level--;
    if (isscript(ci)) level -= ci->tailcalls;  // lost tail calls count as levels
  }
  if (level > 0 || ci == L->base_ci) return 0;
  ar->i_ci = level < 0 ? 0 : static_cast<int32_t>(ci - L->base_ci);
  return 1;
}

int vm_getinfo(VmState *L, const char *what, VmDebug *ar) {
  VmValue func;
  VmCallInfo *ci = nullptr;
  bool havefunc = true;
  if (*what == '>') {
    if (L->top <= L->base || !vm_isfunction(L->top - 1)) {
      G(L)->err.argnum = 1;
      vm_raise(L, ERR_FUNCEXPECTED);
    }
    func = L->top[-1];
    L->top--;
    what++;
  } else if (ar->i_ci != 0) {
    ci = L->base_ci + ar->i_ci;
    func = *(ci->base - 1);
  } else {
    havefunc = false;
    vm_setnil(&func);
  }
  int status = 1;
  if (!havefunc) tailinfo(ar);
  for (; *what; what++) {
    switch (*what) {
      case 'S':
        if (havefunc) funcinfo(ar, &func);
        break;
      case 'l': ar->currentline = ci ? vm_currentline(L, ci) : -1; break;
      case 'u': ar->nups = havefunc ? vm_clvalue(&func)->nupvalues : 0; break;
      case 'n': {
        ar->name = nullptr;
        ar->namewhat = ci ? getfuncname(L, ci, &ar->name) : nullptr;
        if (ar->namewhat == nullptr) {
          ar->name = havefunc ? globalname(L, &func) : nullptr;
          ar->namewhat = ar->name ? "global" : "";
        }
        break;
      }
      case 'f':
        vm_ensurestack(L, 1);
        *L->top++ = func;
        break;
      default: status = 0;
    }
  }
  return status;
}

int vm_symbexec(const VmProto *pt, int lastpc, int reg) {
  int last = -1;
  for (int pc = 0; pc < lastpc && pc < pt->sizecode; pc++) {
    VmInstruction i = pt->code[pc];
    unsigned op = vm_getop(i);
    if (op >= VM_NUM_OPCODES) continue;
    int a = static_cast<int>(vm_getA(i));
    if (op != OP_JMP && (vm_opmodes[op].flags & VM_OPF_SETA) && a == reg) last = pc;
    switch (op) {
      case OP_LOADNIL:
        if (a <= reg && reg <= static_cast<int>(vm_getB(i))) last = pc;
        break;
      case OP_CALL:
      case OP_TAILCALL:
        if (reg >= a) last = pc;
        break;
      case OP_SELF:
        if (reg == a + 1) last = pc;
        break;
      case OP_JMP: {
        int dest = pc + 1 + vm_getjump(i);
        if (pc < dest && dest <= lastpc) pc += vm_getjump(i);  // follow forward jumps only
        break;
      }
      case OP_CLOSURE: {
        unsigned bx = vm_getBx(i);
        if (static_cast<int>(bx) < pt->sizep) pc += pt->p[bx]->nups;  // its capture lines set nothing
        break;
      }
      default: break;
    }
  }
  return last;
}

const char *vm_getobjname(VmState *L, VmCallInfo *ci, int reg, const char **name) {
  for (int guard = 0; guard < VM_MAXSTACK && isscript(ci); guard++) {
    const VmProto *p = ci_func(ci)->p;
    int pc = vm_currentpc(L, ci);
    if (pc < 0) return nullptr;
    *name = vm_getlocalname(p, reg + 1, pc);
    if (*name) return "local";
    int at = vm_symbexec(p, pc, reg);
    if (at < 0) return nullptr;
    VmInstruction i = p->code[at];
    switch (vm_getop(i)) {
      case OP_GETGLOBAL: {
        unsigned g = vm_getBx(i);
        if (static_cast<int>(g) < p->sizek && vm_isstring(&p->k[g])) {
          *name = vm_svalue(&p->k[g])->data();
          return "global";
        }
        return nullptr;
      }
      case OP_MOVE: {
        int b = static_cast<int>(vm_getB(i));
        if (b < static_cast<int>(vm_getA(i))) {
          reg = b;  // the value came from a lower register: name that one
          continue;
        }
        return nullptr;
      }
      case OP_GETTABLE:
        *name = kname(p, vm_getC(i));
        return "field";
      case OP_SELF:
        *name = kname(p, vm_getC(i));
        return "method";
      default: return nullptr;
    }
  }
  return nullptr;
}

void vm_typeerror(VmState *L, const VmValue *o, uint32_t code, const char *suffix) {
  const char *name = nullptr;
  const char *kind = nullptr;
  VmCallInfo *ci = L->ci;
  if (isscript(ci) && o >= ci->base && o < ci->top) kind = vm_getobjname(L, ci, static_cast<int>(o - ci->base), &name);
  std::snprintf(G(L)->err.argtext, sizeof G(L)->err.argtext, "%s%s", kind && name ? name : "??", suffix);
  vm_raise(L, code);
}

const char *vm_getlocal(VmState *L, const VmDebug *ar, int n) {
  VmCallInfo *ci = L->base_ci + ar->i_ci;
  const char *name = findlocal(L, ci, n);
  if (name) {
    vm_ensurestack(L, 1);
    *L->top++ = ci->base[n - 1];
  }
  return name;
}

const char *vm_setlocal(VmState *L, const VmDebug *ar, int n) {
  VmCallInfo *ci = L->base_ci + ar->i_ci;
  const char *name = findlocal(L, ci, n);
  L->top--;
  if (name) {
    if (name[0] == '(') return nullptr;  // an internal slot: left alone
    ci->base[n - 1] = *L->top;
  }
  return name;
}

int vm_sethook(VmState *L, VmHook func, int mask, int count) {
  if (func == nullptr || mask == 0) {
    mask = 0;
    func = nullptr;
  }
  L->hook = func;
  L->basehookcount = count;
  L->hookcount = count;
  L->hookmask = static_cast<uint8_t>(mask);
  L->hookinit = 0;
  // The frames running now return past the hook; the ones begun later are marked as they start.
  if (mask & VM_MASKRET)
    for (VmCallInfo *ci = L->base_ci; ci <= L->ci; ci++) ci->state |= VM_CI_RETHOOK;
  vm_updatetrap(L);
  return 1;
}

void vm_inithooks(VmState *L) {
  for (VmCallInfo *ci = L->ci; ci != L->base_ci; ci--) ci->oldpc = nullptr;
  L->hookinit = 1;
}
