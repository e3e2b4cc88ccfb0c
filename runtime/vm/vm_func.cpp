#include "runtime/vm/vm_func.h"

#include "runtime/vm/vm_decode.h"
#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_state.h"

namespace {
void link(VmState *L, VmGCObject *o, uint8_t tt) {
  o->tt = tt;
  o->marked = 0;
  o->next = G(L)->rootgc;
  G(L)->rootgc = o;
}
}  // namespace

VmProto *vm_newproto(VmState *L) {
  auto *f = static_cast<VmProto *>(vm_realloc(L, nullptr, 0, sizeof(VmProto)));
  link(L, f, VM_TPROTO);
  f->k = nullptr;
  f->sizek = 0;
  f->p = nullptr;
  f->sizep = 0;
  f->code = nullptr;
  f->ops = nullptr;
  f->sizecode = 0;
  f->sizelineinfo = 0;
  f->sizeupvalues = 0;
  f->nups = 0;
  f->upvalues = nullptr;
  f->numparams = 0;
  f->is_vararg = 0;
  f->maxstacksize = 0;
  f->lineinfo = nullptr;
  f->sizelocvars = 0;
  f->locvars = nullptr;
  f->lineDefined = 0;
  f->source = nullptr;
  f->gclist = nullptr;
  return f;
}

void vm_freeproto(VmState *L, VmProto *f) {
  vm_freearray(L, f->code, static_cast<size_t>(f->sizecode));
  if (f->ops) vm_freearray(L, f->ops, static_cast<size_t>(f->sizecode));  // none if the code failed its check
  vm_freearray(L, f->p, static_cast<size_t>(f->sizep));
  vm_freearray(L, f->k, static_cast<size_t>(f->sizek));
  vm_freearray(L, f->lineinfo, static_cast<size_t>(f->sizelineinfo));
  vm_freearray(L, f->locvars, static_cast<size_t>(f->sizelocvars));
  vm_freearray(L, f->upvalues, static_cast<size_t>(f->sizeupvalues));
  vm_realloc(L, f, sizeof(VmProto), 0);
}

VmClosure *vm_newCclosure(VmState *L, int nelems) {
  auto *c = static_cast<VmClosure *>(vm_realloc(L, nullptr, 0, vm_sizeCclosure(nelems)));
  link(L, c, VM_TFUNCTION);
  c->isC = 1;
  c->nupvalues = static_cast<uint8_t>(nelems);
  c->framebytes = 0;
  c->gclist = nullptr;
  vm_setnil(&c->g);
  c->f = nullptr;
  c->p = nullptr;
  c->ops = nullptr;
  c->k = nullptr;
  for (int i = 0; i < nelems; i++) vm_setnil(&c->cupvalues()[i]);
  return c;
}

VmClosure *vm_newLclosure(VmState *L, VmProto *p, const VmValue *globals) {
  int nelems = p->nups;
  auto *c = static_cast<VmClosure *>(vm_realloc(L, nullptr, 0, vm_sizeLclosure(nelems)));
  link(L, c, VM_TFUNCTION);
  c->isC = 0;
  c->nupvalues = static_cast<uint8_t>(nelems);
  c->framebytes = static_cast<uint16_t>(p->is_vararg || p->maxstacksize == 0 ? 0 : (1 + p->maxstacksize) * sizeof(VmValue));
  c->gclist = nullptr;
  c->g = *globals;
  c->f = nullptr;
  c->p = p;
  c->ops = p->ops;
  c->k = p->k;
  for (int i = 0; i < nelems; i++) c->upvals()[i] = nullptr;
  return c;
}

void vm_freeclosure(VmState *L, VmClosure *c) {
  size_t size = c->isC ? vm_sizeCclosure(c->nupvalues) : vm_sizeLclosure(c->nupvalues);
  vm_realloc(L, c, size, 0);
}

VmUpvalue *vm_findupval(VmState *L, VmValue *level) {
  VmGCObject **pp = &L->openupval;
  VmUpvalue *p;
  while ((p = static_cast<VmUpvalue *>(*pp)) != nullptr && p->v >= level) {
    if (p->v == level) return p;
    pp = &p->next;
  }
  auto *v = static_cast<VmUpvalue *>(vm_realloc(L, nullptr, 0, sizeof(VmUpvalue)));
  v->tt = VM_TUPVAL;
  v->marked = VM_MARKED;  // open upvalues stay reached; their values live on the stack
  v->v = level;
  vm_setnil(&v->value);
  v->next = *pp;
  *pp = v;
  return v;
}

void vm_closeupvals(VmState *L, VmValue *level) {
  VmUpvalue *p;
  while ((p = static_cast<VmUpvalue *>(L->openupval)) != nullptr && p->v >= level) {
    p->value = *p->v;
    p->v = &p->value;
    L->openupval = p->next;
    link(L, p, VM_TUPVAL);
  }
}

const char *vm_getlocalname(const VmProto *f, int n, int pc) {
  for (int i = 0; i < f->sizelocvars && f->locvars[i].startpc <= pc; i++) {
    if (pc < f->locvars[i].endpc) {
      n--;
      if (n == 0) return f->locvars[i].varname->data();
    }
  }
  return nullptr;
}
