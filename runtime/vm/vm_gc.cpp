#include "runtime/vm/vm_gc.h"

#include <cstring>

#include "runtime/vm/vm_func.h"
#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"

namespace {

struct GCState {
  VmGCObject *tmark;  // objects reached but not yet traversed, linked through gclist
  VmTable *wk;        // tables with weak keys
  VmTable *wv;        // tables with weak values
  VmTable *wkv;       // tables with both
  VmGlobalState *g;
};

inline bool ismarked(const VmGCObject *o) { return o->marked & VM_MARKED; }

VmGCObject **gclistof(VmGCObject *o) {
  switch (o->tt) {
    case VM_TTABLE: return &static_cast<VmTable *>(o)->gclist;
    case VM_TFUNCTION: return &static_cast<VmClosure *>(o)->gclist;
    case VM_TPROTO: return &static_cast<VmProto *>(o)->gclist;
    case VM_TTHREAD: return &static_cast<VmState *>(o)->gclist;
    default: return nullptr;
  }
}

void reallymarkobject(GCState *st, VmGCObject *o);

inline void markobject(GCState *st, VmGCObject *o) {
  if (o && !ismarked(o)) reallymarkobject(st, o);
}

inline void markvalue(GCState *st, const VmValue *v) {
  if (vm_iscollectable(v) && !ismarked(v->v.gc)) reallymarkobject(st, v->v.gc);
}

void reallymarkobject(GCState *st, VmGCObject *o) {
  o->marked |= VM_MARKED;
  switch (o->tt) {
    case VM_TSTRING: return;
    case VM_TUSERDATA: markobject(st, static_cast<VmUserdata *>(o)->metatable); return;
    case VM_TUPVAL: {
      auto *uv = static_cast<VmUpvalue *>(o);
      markvalue(st, uv->v);
      return;
    }
    default: {
      VmGCObject **link = gclistof(o);
      if (link) {
        *link = st->tmark;
        st->tmark = o;
      }
    }
  }
}

void traversetable(GCState *st, VmTable *h) {
  markobject(st, h->metatable);
  bool weakkey = false, weakvalue = false;
  const VmValue *mode = vm_fasttm(h->metatable, VM_TM_MODE, st->g->tmname[VM_TM_MODE]);
  h->marked &= static_cast<uint8_t>(~(VM_WEAKKEY | VM_WEAKVALUE));
  if (mode && vm_isstring(mode)) {
    const char *m = vm_svalue(mode)->data();
    weakkey = std::strchr(m, 'k') != nullptr;
    weakvalue = std::strchr(m, 'v') != nullptr;
    if (weakkey || weakvalue) {
      h->marked |= static_cast<uint8_t>((weakkey ? VM_WEAKKEY : 0) | (weakvalue ? VM_WEAKVALUE : 0));
      VmTable **list = weakkey && weakvalue ? &st->wkv : (weakkey ? &st->wk : &st->wv);
      h->gclist = *list;
      *list = h;
    }
  }
  if (!weakvalue)
    for (int i = 0; i < h->sizearray; i++) markvalue(st, &h->array[i]);
  for (int i = vm_sizenode(h) - 1; i >= 0; i--) {
    VmNode *n = &h->node[i];
    if (vm_isnil(&n->val)) continue;
    if (!weakkey) markvalue(st, &n->key);
    if (!weakvalue) markvalue(st, &n->val);
  }
}

void traverseproto(GCState *st, VmProto *f) {
  markobject(st, f->source);
  for (int i = 0; i < f->sizek; i++) markvalue(st, &f->k[i]);
  for (int i = 0; i < f->sizeupvalues; i++) markobject(st, f->upvalues[i]);
  for (int i = 0; i < f->sizep; i++) markobject(st, f->p[i]);
  for (int i = 0; i < f->sizelocvars; i++) markobject(st, f->locvars[i].varname);
}

void traverseclosure(GCState *st, VmClosure *cl) {
  if (cl->isC) {
    for (int i = 0; i < cl->nupvalues; i++) markvalue(st, &cl->cupvalues()[i]);
    return;
  }
  markobject(st, cl->p);
  markvalue(st, &cl->g);
  for (int i = 0; i < cl->nupvalues; i++) {
    VmUpvalue *u = cl->upvals()[i];
    if (u && !ismarked(u)) {
      u->marked |= VM_MARKED;
      markvalue(st, u->v);
    }
  }
}

// Halves the call records and the stack when most of them lie unused.
void checkstacksizes(VmState *L, VmValue *max) {
  int ci_used = static_cast<int>(L->ci - L->base_ci);
  int s_used = static_cast<int>(max - L->stack);
  if (L->size_ci > VM_MAX_CALLS) return;  // an overflow is being handled: leave them
  if (4 * ci_used < L->size_ci && 2 * VM_BASIC_CI_SIZE < L->size_ci) vm_reallocci(L, L->size_ci / 2);
  if (4 * s_used < L->stacksize && 2 * VM_BASIC_STACK_SIZE < L->stacksize) vm_reallocstack(L, L->stacksize / 2);
}

void traversestack(GCState *st, VmState *L1) {
  markvalue(st, &L1->globals);
  VmValue *lim = L1->top;
  for (VmCallInfo *ci = L1->base_ci; ci <= L1->ci; ci++)
    if (lim < ci->top) lim = ci->top;
  VmValue *end = L1->stack + L1->stacksize;
  if (lim >= end) lim = end - 1;
  VmValue *o;
  for (o = L1->stack; o < L1->top; o++) markvalue(st, o);
  for (; o <= lim; o++) vm_setnil(o);
  checkstacksizes(L1, lim);
}

void propagatemarks(GCState *st) {
  while (st->tmark) {
    VmGCObject *o = st->tmark;
    st->tmark = *gclistof(o);
    switch (o->tt) {
      case VM_TTABLE: traversetable(st, static_cast<VmTable *>(o)); break;
      case VM_TFUNCTION: traverseclosure(st, static_cast<VmClosure *>(o)); break;
      case VM_TPROTO: traverseproto(st, static_cast<VmProto *>(o)); break;
      case VM_TTHREAD: traversestack(st, static_cast<VmState *>(o)); break;
      default: break;
    }
  }
}

// Strings are values, never weak: meeting one marks it.
bool valismarked(const VmValue *o) {
  if (vm_isstring(o)) o->v.gc->marked |= VM_MARKED;
  return !vm_iscollectable(o) || ismarked(o->v.gc);
}

void removekey(VmNode *n) {
  vm_setnil(&n->val);
  if (vm_iscollectable(&n->key)) n->key.tt = VM_TNONE;  // dead: no lookup matches it
}

void cleartablekeys(VmTable *h) {
  for (; h; h = static_cast<VmTable *>(h->gclist)) {
    for (int i = vm_sizenode(h) - 1; i >= 0; i--) {
      VmNode *n = &h->node[i];
      if (!vm_isnil(&n->val) && !valismarked(&n->key)) removekey(n);
    }
  }
}

void cleartablevalues(VmTable *h) {
  for (; h; h = static_cast<VmTable *>(h->gclist)) {
    for (int i = 0; i < h->sizearray; i++)
      if (!valismarked(&h->array[i])) vm_setnil(&h->array[i]);
    for (int i = vm_sizenode(h) - 1; i >= 0; i--) {
      VmNode *n = &h->node[i];
      if (!vm_isnil(&n->val) && !valismarked(&n->val)) removekey(n);
    }
  }
}

size_t mark(VmState *L) {
  GCState st{nullptr, nullptr, nullptr, nullptr, G(L)};
  VmGlobalState *g = G(L);
  markvalue(&st, &g->defaultmeta);
  markvalue(&st, &g->registry);
  markvalue(&st, &g->nextitem);
  traversestack(&st, g->mainthread);
  if (L != g->mainthread) markobject(&st, L);
  propagatemarks(&st);
  cleartablevalues(st.wkv);
  cleartablevalues(st.wv);
  VmTable *wkv = st.wkv;  // keys are cleared only after the finalised user data are kept
  st.wkv = nullptr;
  st.wv = nullptr;
  size_t deadmem = vm_separateudata(L);
  for (VmGCObject *u = g->tmudata; u; u = u->next) reallymarkobject(&st, u);
  propagatemarks(&st);
  cleartablekeys(wkv);
  cleartablekeys(st.wk);
  cleartablevalues(st.wv);
  cleartablekeys(st.wkv);
  cleartablevalues(st.wkv);
  return deadmem;
}

void sweeplist(VmState *L, VmGCObject **p, int all) {
  VmGCObject *curr;
  while ((curr = *p) != nullptr) {
    if (!all && (curr->marked & (VM_MARKED | VM_FIXED))) {
      curr->marked &= static_cast<uint8_t>(~VM_MARKED);
      p = &curr->next;
    } else {
      *p = curr->next;
      vm_freeobj(L, curr);
    }
  }
}

void sweepstrings(VmState *L, int all) {
  VmStringTable &tb = G(L)->strt;
  for (int i = 0; i < tb.size; i++) {
    VmGCObject **p = &tb.hash[i];
    VmGCObject *curr;
    while ((curr = *p) != nullptr) {
      if (!all && (curr->marked & (VM_MARKED | VM_FIXED))) {
        curr->marked &= static_cast<uint8_t>(~VM_MARKED);
        p = &curr->next;
      } else {
        *p = curr->next;
        tb.nuse--;
        // The table holds strings alone: freed as vm_freeobj would, without asking the kind.
        vm_freesmall(L, curr, vm_sizestring(static_cast<VmString *>(curr)->len));
      }
    }
  }
}

// peakstrings: the strings in use before the sweep, the most the table held in this cycle. A
// table that was well used then would only grow back in the next cycle.
void checksizes(VmState *L, uint32_t peakstrings) {
  VmGlobalState *g = G(L);
  if (peakstrings < static_cast<uint32_t>(g->strt.size / 4) && g->strt.size > 64)
    vm_resizestrtab(L, g->strt.size / 2);
  if (g->buff.size > 64) {
    size_t newsize = g->buff.size / 2;
    g->buff.buffer = vm_reallocvector<char>(L, g->buff.buffer, g->buff.size, newsize);
    g->buff.size = newsize;
  }
}

}  // namespace

size_t vm_separateudata(VmState *L) {
  VmGlobalState *g = G(L);
  size_t deadmem = 0;
  VmGCObject **p = &g->rootudata;
  VmGCObject *curr;
  VmGCObject *collected = nullptr;
  VmGCObject **lastcollected = &collected;
  while ((curr = *p) != nullptr) {
    auto *u = static_cast<VmUserdata *>(curr);
    if ((curr->marked & VM_MARKED) || !(curr->marked & VM_FINALIZE)) {
      p = &curr->next;  // reached, or already finalised
    } else if (vm_fasttm(u->metatable, VM_TM_GC, g->tmname[VM_TM_GC]) == nullptr) {
      curr->marked &= static_cast<uint8_t>(~VM_FINALIZE);  // nothing to call: free it
      p = &curr->next;
    } else {
      deadmem += vm_sizeudata(u->len);
      *p = curr->next;
      curr->next = nullptr;
      *lastcollected = curr;
      lastcollected = &curr->next;
    }
  }
  *lastcollected = g->tmudata;
  g->tmudata = collected;
  return deadmem;
}

void vm_callgctm(VmState *L) {
  VmGlobalState *g = G(L);
  uint8_t oldah = L->allowhook;
  L->allowhook = 0;
  while (g->tmudata) {
    VmGCObject *o = g->tmudata;
    auto *u = static_cast<VmUserdata *>(o);
    g->tmudata = o->next;
    o->next = g->rootudata;
    g->rootudata = o;
    o->marked &= static_cast<uint8_t>(~(VM_MARKED | VM_FINALIZE));
    const VmValue *tm = vm_fasttm(u->metatable, VM_TM_GC, g->tmname[VM_TM_GC]);
    if (tm && vm_isfunction(tm)) {
      vm_ensurestack(L, 2);
      *L->top = *tm;
      vm_setuserdata(L->top + 1, u);
      L->top += 2;
      vm_docall(L, L->top - 2, 0);
    }
  }
  L->allowhook = oldah;
}

void vm_sweep(VmState *L, int all) {
  if (all) all = 1;
  sweeplist(L, &G(L)->rootudata, all);
  sweepstrings(L, all);
  sweeplist(L, &G(L)->rootgc, all);
}

void vm_collectgarbage(VmState *L) {
  size_t deadmem = mark(L);
  uint32_t peakstrings = G(L)->strt.nuse;
  vm_sweep(L, 0);
  checksizes(L, peakstrings);
  VmGlobalState *g = G(L);
  size_t twice = 2 * g->nblocks;
  g->GCthreshold = twice > deadmem ? twice - deadmem : 0;
  vm_callgctm(L);
}

void vm_freethread(VmState *L, VmState *L1) {
  vm_closeupvals(L1, L1->stack);
  vm_freearray(L, L1->base_ci, L1->size_ci);
  vm_freearray(L, L1->stack, static_cast<size_t>(L1->stacksize));
  vm_realloc(L, L1, sizeof(VmState), 0);
}

void vm_freeobj(VmState *L, VmGCObject *o) {
  switch (o->tt) {
    case VM_TPROTO: vm_freeproto(L, static_cast<VmProto *>(o)); break;
    case VM_TFUNCTION: vm_freeclosure(L, static_cast<VmClosure *>(o)); break;
    case VM_TUPVAL: vm_realloc(L, o, sizeof(VmUpvalue), 0); break;
    case VM_TTABLE: vm_freetable(L, static_cast<VmTable *>(o)); break;
    case VM_TTHREAD: vm_freethread(L, static_cast<VmState *>(o)); break;
    case VM_TSTRING: vm_freesmall(L, o, vm_sizestring(static_cast<VmString *>(o)->len)); break;
    case VM_TUSERDATA: vm_realloc(L, o, vm_sizeudata(static_cast<VmUserdata *>(o)->len), 0); break;
    default: break;
  }
}
