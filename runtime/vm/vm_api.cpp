// The native-function interface over the value stack.
#include "runtime/vm/vm_api.h"

#include <cstring>
#include <string>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_debug.h"
#include "runtime/vm/vm_exec.h"
#include "runtime/vm/vm_func.h"
#include "runtime/vm/vm_gc.h"
#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_number.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"
#include "runtime/vm/vm_undump.h"

namespace {

// The running native closure, or nullptr at the base level.
VmClosure *curr_cfunc(VmState *L) {
  VmValue *f = L->base - 1;
  if (L->ci == L->base_ci || !vm_isfunction(f) || !vm_clvalue(f)->isC) return nullptr;
  return vm_clvalue(f);
}

// The slot an index names, or nullptr when it names no value.
VmValue *index2adr(VmState *L, int idx) {
  if (idx > 0) {
    VmValue *o = L->base + (idx - 1);
    return o < L->top ? o : nullptr;
  }
  if (idx > VM_REGISTRYINDEX) {
    if (idx == 0 || -idx > L->top - L->base) return nullptr;
    return L->top + idx;
  }
  if (idx == VM_REGISTRYINDEX) return &G(L)->registry;
  if (idx == VM_GLOBALSINDEX) return &L->globals;
  VmClosure *func = curr_cfunc(L);
  int n = VM_GLOBALSINDEX - idx;
  if (!func || n > func->nupvalues) return nullptr;
  return &func->cupvalues()[n - 1];
}

// For operations that expect a valid index: a missing value reads as nil.
const VmValue *valueat(VmState *L, int idx) {
  const VmValue *o = index2adr(L, idx);
  return o ? o : &vm_nilobject;
}

inline void api_incr_top(VmState *L) {
  vm_incr_top(L);
  if (L->top > L->ci->top) L->ci->top = L->top;
}

inline void push(VmState *L, const VmValue &v) {
  *L->top = v;
  api_incr_top(L);
}

VmTable *tableat(VmState *L, int idx) {
  const VmValue *t = valueat(L, idx);
  return vm_istable(t) ? vm_hvalue(t) : nullptr;
}

struct CallS {
  ptrdiff_t func;
  int nresults;
  uint32_t code;
};

void f_call(VmState *L, void *ud) {
  auto *c = static_cast<CallS *>(ud);
  c->code = vm_docall(L, vm_restorestack(L, c->func), c->nresults);
}

struct BufferReader {
  const char *buf;
  size_t size;
};

const char *read_buffer(VmState *, void *ud, size_t *size) {
  auto *r = static_cast<BufferReader *>(ud);
  if (r->size == 0) return nullptr;
  *size = r->size;
  r->size = 0;
  return r->buf;
}

const char *aux_upvalue(VmState *L, int funcindex, int n, VmValue **val) {
  const VmValue *fi = index2adr(L, funcindex);
  if (!fi || !vm_isfunction(fi) || n < 1) return nullptr;
  VmClosure *f = vm_clvalue(fi);
  if (n > f->nupvalues) return nullptr;
  if (f->isC) {
    *val = &f->cupvalues()[n - 1];
    return "";
  }
  *val = f->upvals()[n - 1]->v;
  const VmProto *p = f->p;
  return n <= p->sizeupvalues && p->upvalues[n - 1] ? p->upvalues[n - 1]->data() : "";
}

// The header of bytes from vm_openstring.
VmString *OpenStringOf(char *data) { return reinterpret_cast<VmString *>(data) - 1; }

}  // namespace

// ---- state ----

VmState *vm_newthread(VmState *L) {
  vm_checkgc(L);
  auto *L1 = static_cast<VmState *>(vm_realloc(L, nullptr, 0, sizeof(VmState)));
  *L1 = VmState{};
  L1->tt = VM_TTHREAD;
  L1->marked = 0;
  L1->l_G = G(L);
  L1->allowhook = 1;
  L1->globals = L->globals;
  L1->hookmask = L->hookmask;
  L1->basehookcount = L->basehookcount;
  L1->hook = L->hook;
  L1->hookcount = L1->basehookcount;
  // Linked before its arrays exist, so a failed allocation leaves a record the collector can free.
  L1->next = G(L)->rootgc;
  G(L)->rootgc = L1;
  L1->stack = vm_newvector<VmValue>(L, VM_BASIC_STACK_SIZE);
  L1->stacksize = VM_BASIC_STACK_SIZE;
  for (int i = 0; i < VM_BASIC_STACK_SIZE; i++) vm_setnil(&L1->stack[i]);
  L1->stack_last = L1->stack + VM_BASIC_STACK_SIZE - VM_EXTRA_STACK - 1;
  L1->base_ci = vm_newvector<VmCallInfo>(L, VM_BASIC_CI_SIZE);
  L1->size_ci = VM_BASIC_CI_SIZE;
  L1->end_ci = L1->base_ci + VM_BASIC_CI_SIZE - 1;
  L1->ci = L1->base_ci;
  L1->ci->state = VM_CI_C;
  L1->top = L1->stack + 1;
  L1->base = L1->ci->base = L1->top;
  L1->ci->top = L1->top + VM_MINSTACK;
  L1->ci->savedpc = nullptr;
  L1->ci->oldpc = nullptr;
  L1->ci->tailcalls = 0;
  vm_setgc(L->top, VM_TTHREAD, L1);
  api_incr_top(L);
  return L1;
}

// ---- stack ----

int vm_checkstack(VmState *L, int n) {
  if (n < 0 || (L->top - L->base) + n > VM_MAXCSTACK) return 0;
  vm_ensurestack(L, n);
  if (L->ci->top < L->top + n) L->ci->top = L->top + n;
  return 1;
}

int vm_gettop(VmState *L) { return static_cast<int>(L->top - L->base); }

void vm_settop(VmState *L, int idx) {
  if (idx >= 0) {
    vm_ensurestack(L, idx - static_cast<int>(L->top - L->base));
    while (L->top < L->base + idx) vm_setnil(L->top++);
    L->top = L->base + idx;
  } else {
    L->top += idx + 1;
    if (L->top < L->base) L->top = L->base;
  }
}

void vm_remove(VmState *L, int idx) {
  VmValue *p = index2adr(L, idx);
  if (!p || p < L->base || p >= L->top) return;
  while (++p < L->top) p[-1] = *p;
  L->top--;
}

void vm_insert(VmState *L, int idx) {
  VmValue *p = index2adr(L, idx);
  if (!p || p < L->base || p >= L->top) return;
  VmValue v = L->top[-1];
  for (VmValue *q = L->top - 1; q > p; q--) *q = q[-1];
  *p = v;
}

void vm_replace(VmState *L, int idx) {
  if (L->top <= L->base) return;
  VmValue *o = index2adr(L, idx);
  if (o) {
    if (idx == VM_GLOBALSINDEX && !vm_istable(L->top - 1)) {
      // the globals stay a table
    } else {
      *o = L->top[-1];
    }
  }
  L->top--;
}

void vm_pushvalue(VmState *L, int idx) { push(L, *valueat(L, idx)); }

void vm_xmove(VmState *from, VmState *to, int n) {
  if (from == to || n <= 0) return;
  vm_ensurestack(to, n);
  from->top -= n;
  for (int i = 0; i < n; i++) push(to, from->top[i]);
}

// ---- queries ----

int vm_type(VmState *L, int idx) {
  const VmValue *o = index2adr(L, idx);
  return o ? o->tt : VM_TNONE;
}

int vm_isnumber(VmState *L, int idx) {
  VmValue n;
  const VmValue *o = index2adr(L, idx);
  return o && vm_tonumber_value(o, &n) != nullptr;
}

int vm_isstring(VmState *L, int idx) {
  int t = vm_type(L, idx);
  return t == VM_TSTRING || t == VM_TNUMBER;
}

int vm_iscfunction(VmState *L, int idx) {
  const VmValue *o = index2adr(L, idx);
  return o && vm_isfunction(o) && vm_clvalue(o)->isC;
}

int vm_isuserdata(VmState *L, int idx) {
  int t = vm_type(L, idx);
  return t == VM_TUSERDATA || t == VM_TLIGHTUSERDATA;
}

int vm_rawequal(VmState *L, int idx1, int idx2) {
  const VmValue *a = index2adr(L, idx1), *b = index2adr(L, idx2);
  return a && b && vm_rawequalobj(a, b);
}

int vm_equal(VmState *L, int idx1, int idx2) {
  const VmValue *a = index2adr(L, idx1), *b = index2adr(L, idx2);
  if (!a || !b || a->tt != b->tt) return 0;
  VmValue x = *a, y = *b;  // a method call may move the stack
  return vm_equal_value(L, &x, &y);
}

int vm_lessthan(VmState *L, int idx1, int idx2, int casesensitive) {
  const VmValue *a = index2adr(L, idx1), *b = index2adr(L, idx2);
  if (!a || !b) return 0;
  VmValue x = *a, y = *b;
  return vm_lessthan_value(L, &x, &y, casesensitive);
}

double vm_tonumber(VmState *L, int idx) {
  VmValue n;
  const VmValue *o = index2adr(L, idx);
  if (o && (o = vm_tonumber_value(o, &n)) != nullptr) return o->v.n;
  return 0;
}

int vm_toboolean(VmState *L, int idx) {
  const VmValue *o = index2adr(L, idx);
  if (!o) return 0;
  return !(vm_isnil(o) || (o->tt == VM_TBOOLEAN && o->v.b == 0));
}

const char *vm_tostring(VmState *L, int idx) {
  VmValue *o = index2adr(L, idx);
  if (!o) return nullptr;
  if (vm_isstring(o)) return vm_svalue(o)->data();
  if (o->tt != VM_TNUMBER && o->tt != VM_TNIL) return nullptr;
  vm_checkgc(L);
  o = index2adr(L, idx);  // the collection may have moved the stack
  vm_tostring_value(L, o);
  return vm_svalue(o)->data();
}

size_t vm_strlen(VmState *L, int idx) {
  const VmValue *o = index2adr(L, idx);
  if (!o) return 0;
  if (vm_isstring(o)) return vm_svalue(o)->len;
  if (!vm_tostring(L, idx)) return 0;
  return vm_svalue(index2adr(L, idx))->len;
}

VmCFunction vm_tocfunction(VmState *L, int idx) {
  const VmValue *o = index2adr(L, idx);
  return o && vm_isfunction(o) && vm_clvalue(o)->isC ? vm_clvalue(o)->f : nullptr;
}

void *vm_touserdata(VmState *L, int idx) {
  const VmValue *o = index2adr(L, idx);
  if (!o) return nullptr;
  if (o->tt == VM_TUSERDATA) return vm_uvalue(o)->block();
  if (o->tt == VM_TLIGHTUSERDATA) return o->v.p;
  return nullptr;
}

const void *vm_topointer(VmState *L, int idx) {
  const VmValue *o = index2adr(L, idx);
  if (!o) return nullptr;
  switch (o->tt) {
    case VM_TTABLE:
    case VM_TFUNCTION:
    case VM_TTHREAD: return o->v.p;
    case VM_TUSERDATA:
    case VM_TLIGHTUSERDATA: return vm_touserdata(L, idx);
    default: return nullptr;
  }
}

// ---- pushing ----

void vm_pushnil(VmState *L) {
  vm_setnil(L->top);
  api_incr_top(L);
}

void vm_pushnumber(VmState *L, double n) {
  vm_setnumber(L->top, n);
  api_incr_top(L);
}

void vm_pushlstring(VmState *L, const char *s, size_t len) {
  vm_checkgc(L);
  vm_setstring(L->top, vm_newlstr(L, s, len));
  api_incr_top(L);
}

char *vm_openstring(VmState *L, size_t len) {
  VmString *ts = vm_newopenstr(L, len);
  return ts ? ts->data() : nullptr;
}

char *vm_resizeopenstring(VmState *L, char *data, size_t len) {
  VmString *ts = vm_resizeopenstr(L, OpenStringOf(data), len);
  return ts ? ts->data() : nullptr;
}

void vm_pushopenstring(VmState *L, char *data, size_t len) {
  // The open string is outside the collector's lists, so a collection here cannot touch it.
  vm_checkgc(L);
  vm_setstring(L->top, vm_internopenstr(L, OpenStringOf(data), len));
  api_incr_top(L);
}

void vm_freeopenstring(VmState *L, char *data) { vm_freeopenstr(L, OpenStringOf(data)); }

void vm_pushstring(VmState *L, const char *s) {
  if (s == nullptr) vm_pushnil(L);
  else vm_pushlstring(L, s, std::strlen(s));
}

const char *vm_pushvfstring(VmState *L, const char *fmt, va_list argp) {
  std::string out;
  char num[VM_MAXNUMBER2STR];
  for (const char *p = fmt; *p; p++) {
    if (*p != '%' || p[1] == '\0') {
      out += *p;
      continue;
    }
    switch (*++p) {
      case 'd': vm_number2str(static_cast<double>(va_arg(argp, int)), num, sizeof num); out += num; break;
      case 'f': vm_number2str(va_arg(argp, double), num, sizeof num); out += num; break;
      case 's': {
        const char *s = va_arg(argp, const char *);
        out += s ? s : "(null)";
        break;
      }
      case 'c': out += static_cast<char>(va_arg(argp, int)); break;
      case '%': out += '%'; break;
      default: out += '%'; out += *p; break;
    }
  }
  vm_pushlstring(L, out.data(), out.size());
  return vm_svalue(L->top - 1)->data();
}

const char *vm_pushfstring(VmState *L, const char *fmt, ...) {
  va_list argp;
  va_start(argp, fmt);
  const char *r = vm_pushvfstring(L, fmt, argp);
  va_end(argp);
  return r;
}

void vm_pushcclosure(VmState *L, VmCFunction fn, int n) {
  vm_checkgc(L);
  VmClosure *cl = vm_newCclosure(L, n);
  cl->f = fn;
  cl->g = L->globals;
  L->top -= n;
  for (int i = 0; i < n; i++) cl->cupvalues()[i] = L->top[i];
  vm_setclosure(L->top, cl);
  api_incr_top(L);
}

void vm_pushboolean(VmState *L, int b) {
  vm_setboolean(L->top, b);
  api_incr_top(L);
}

void vm_pushlightuserdata(VmState *L, void *p) {
  vm_setlightud(L->top, p);
  api_incr_top(L);
}

void vm_newtable(VmState *L) {
  vm_checkgc(L);
  vm_newtable_nogc(L);
}

void vm_newtable_nogc(VmState *L) {
  vm_setgc(L->top, VM_TTABLE, vm_newtable_sized(L, 0, 0));
  api_incr_top(L);
}

void *vm_newuserdata(VmState *L, size_t size) {
  vm_checkgc(L);
  VmUserdata *u = vm_newudata(L, size);
  vm_setuserdata(L->top, u);
  api_incr_top(L);
  return u->block();
}

int vm_pushupvalues(VmState *L) {
  VmClosure *func = curr_cfunc(L);
  if (!func) return 0;
  int n = func->nupvalues;
  vm_ensurestack(L, n);
  for (int i = 0; i < n; i++) push(L, func->cupvalues()[i]);
  return n;
}

// ---- tables ----

void vm_gettable(VmState *L, int idx) {
  VmValue t = *valueat(L, idx);
  ptrdiff_t key = vm_savestack(L, L->top - 1);
  vm_gettable_value(L, t, L->top[-1], key, VM_GET_NILONMISS, nullptr);
}

void vm_rawget(VmState *L, int idx) {
  VmTable *h = tableat(L, idx);
  L->top[-1] = h ? *vm_gettable_raw(h, L->top - 1) : vm_nilobject;
}

void vm_rawgeti(VmState *L, int idx, int n) {
  VmTable *h = tableat(L, idx);
  push(L, h ? *vm_getnum(h, n) : vm_nilobject);
}

void vm_settable(VmState *L, int idx) {
  VmValue t = *valueat(L, idx);
  vm_settable_value(L, t, L->top[-2], L->top[-1], nullptr);
  L->top -= 2;
}

void vm_rawset(VmState *L, int idx) {
  VmTable *h = tableat(L, idx);
  if (h) *vm_settable_raw(L, h, L->top - 2) = L->top[-1];
  L->top -= 2;
}

void vm_rawseti(VmState *L, int idx, int n) {
  VmTable *h = tableat(L, idx);
  if (h) *vm_setnum(L, h, n) = L->top[-1];
  L->top--;
}

int vm_getmetatable(VmState *L, int objindex) {
  const VmValue *obj = valueat(L, objindex);
  VmTable *mt = nullptr;
  if (obj->tt == VM_TTABLE) mt = vm_hvalue(obj)->metatable;
  else if (obj->tt == VM_TUSERDATA) mt = vm_uvalue(obj)->metatable;
  if (mt == nullptr || mt == vm_hvalue(&G(L)->defaultmeta)) return 0;
  VmValue v;
  vm_setgc(&v, VM_TTABLE, mt);
  push(L, v);
  return 1;
}

int vm_setmetatable(VmState *L, int objindex) {
  VmValue *obj = index2adr(L, objindex);
  const VmValue *mtv = L->top - 1;
  VmTable *mt = vm_isnil(mtv) ? vm_hvalue(&G(L)->defaultmeta) : (vm_istable(mtv) ? vm_hvalue(mtv) : nullptr);
  int res = 0;
  if (obj && mt) {
    if (obj->tt == VM_TTABLE) {
      vm_hvalue(obj)->metatable = mt;
      res = 1;
    } else if (obj->tt == VM_TUSERDATA) {
      vm_uvalue(obj)->metatable = mt;
      res = 1;
    }
  }
  L->top--;
  return res;
}

void vm_getfenv(VmState *L, int idx) {
  const VmValue *o = valueat(L, idx);
  if (vm_isfunction(o) && !vm_clvalue(o)->isC) push(L, vm_clvalue(o)->g);
  else push(L, L->globals);
}

int vm_setfenv(VmState *L, int idx) {
  VmValue *o = index2adr(L, idx);
  int res = 0;
  if (o && vm_isfunction(o) && !vm_clvalue(o)->isC && vm_istable(L->top - 1)) {
    vm_clvalue(o)->g = L->top[-1];
    res = 1;
  }
  L->top--;
  return res;
}

int vm_next(VmState *L, int idx) {
  VmTable *h = tableat(L, idx);
  if (!h) {
    L->top--;
    return 0;
  }
  vm_ensurestack(L, 1);
  int more = vm_tablenext(L, h, L->top - 1);
  if (more) api_incr_top(L);
  else L->top--;
  return more;
}

uint32_t vm_nextitem(VmState *L) {
  vm_settop(L, 2);
  if (vm_next(L, 1)) return 2;
  vm_pushnil(L);
  return 1;
}

void vm_concat(VmState *L, int n) {
  if (n >= 2) {
    vm_checkgc(L);
    vm_concat_values(L, n, static_cast<int>(L->top - L->base) - 1);
    L->top -= n - 1;
  } else if (n == 0) {
    vm_pushlstring(L, "", 0);
  }
}

// ---- calls and chunks ----

uint32_t vm_call(VmState *L, int nargs, int nresults) {
  VmValue *func = L->top - (nargs + 1);
  return vm_docall(L, func, nresults);
}

uint32_t vm_pcall(VmState *L, int nargs, int nresults, int errfunc) {
  CallS c{vm_savestack(L, L->top - (nargs + 1)), nresults, 0};
  uint32_t status = vm_pcall_internal(L, f_call, &c, c.func, errfunc);
  return status ? status : c.code;
}

uint32_t vm_load(VmState *L, VmChunkReader reader, void *ud, const char *chunkname) {
  VmReader z;
  vm_zinit(&z, reader, ud, chunkname ? chunkname : "?");
  return vm_protectedparser(L, &z, 1);
}

uint32_t vm_loadbuffer(VmState *L, const char *buf, size_t size, const char *chunkname) {
  BufferReader r{buf, size};
  return vm_load(L, read_buffer, &r, chunkname);
}

VmProto *vm_toproto(VmState *L, int idx) {
  const VmValue *o = index2adr(L, idx);
  if (!o || !vm_isfunction(o) || vm_clvalue(o)->isC) return nullptr;
  return vm_clvalue(o)->p;
}

uint32_t vm_dump(VmState *L, int idx, VmChunkWriter writer, void *ud) {
  VmProto *f = vm_toproto(L, idx);
  if (!f) return ERR_NOQMFUNC;
  return vm_dumpproto(L, f, writer, ud);
}

// ---- collector ----

int vm_getgcthreshold(VmState *L) { return static_cast<int>(G(L)->GCthreshold >> 10); }
int vm_getgccount(VmState *L) { return static_cast<int>(G(L)->nblocks >> 10); }

void vm_setgcthreshold(VmState *L, int newthreshold) {
  if (newthreshold >= 0 && newthreshold < 4194304) G(L)->GCthreshold = static_cast<size_t>(newthreshold) << 10;
  else G(L)->GCthreshold = 4294967295u;
  vm_checkgc(L);
}

// ---- debug: upvalues ----

const char *vm_getupvalue(VmState *L, int funcindex, int n) {
  VmValue *val = nullptr;
  const char *name = aux_upvalue(L, funcindex, n, &val);
  if (name) push(L, *val);
  return name;
}

const char *vm_setupvalue(VmState *L, int funcindex, int n) {
  VmValue *val = nullptr;
  const char *name = aux_upvalue(L, funcindex, n, &val);
  if (name) {
    L->top--;
    *val = *L->top;
  }
  return name;
}

// ---- failing, ending, calling back ----

uint32_t vm_getlasterror(VmState *L) { return G(L)->err.lastcode; }
int vm_getexitonerror(VmState *L) { return G(L)->err.exitonerror; }
void vm_setexitonerror(VmState *L, int on) { G(L)->err.exitonerror = on ? 1 : 0; }
int32_t vm_geterrorline(VmState *L) { return G(L)->err.line; }

void vm_seterrorplace(VmState *L, int32_t line, const char *funcname, const char *sourcename) {
  VmErrorState &err = G(L)->err;
  err.line = line;
  if (funcname) {
    std::strncpy(err.funcname, funcname, sizeof err.funcname - 1);
    err.funcname[sizeof err.funcname - 1] = 0;
  }
  if (sourcename) {
    std::strncpy(err.sourcename, sourcename, sizeof err.sourcename - 1);
    err.sourcename[sizeof err.sourcename - 1] = 0;
  }
}

void vm_clearerrorplace(VmState *L) { vm_seterrorplace(L, -1, "----", nullptr); }

void vm_keeperrorstate(VmState *L, void (*work)(void *ud), void *ud) {
  VmErrorState kept = G(L)->err;
  work(ud);
  G(L)->err = kept;
}

int vm_endrequested(VmState *L) { return G(L)->endrequested; }

void vm_runperiodiccheck(VmState *L) {
  if (G(L)->periodic) G(L)->periodic(L);
}

void vm_setdebugprint(VmState *L, void (*print)(VmState *L, const char *text)) { G(L)->rt.debugprint = print; }
void vm_setlasterrorreader(VmState *L, VmCFunction f) { G(L)->rt.getlasterror = f; }
VmCFunction vm_getlasterrorreader(VmState *L) { return G(L)->rt.getlasterror; }
void (*vm_getdebugprint(VmState *L))(VmState *L, const char *text) { return G(L)->rt.debugprint; }

uint32_t vm_callback(VmState *L, int nargs, int nresults) {
  VmErrorState &err = G(L)->err;
  err.callbackdepth++;
  uint32_t code = vm_call(L, nargs, nresults);
  if (err.callbackdepth > 0) err.callbackdepth--;
  return code;
}

uint32_t vm_pcallback(VmState *L, int nargs, int nresults) {
  VmErrorState &err = G(L)->err;
  err.callbackdepth++;
  uint32_t code = vm_pcall(L, nargs, nresults, 0);
  if (err.callbackdepth) err.callbackdepth--;
  return code;
}

uint32_t vm_callbackdepth(VmState *L) { return G(L)->err.callbackdepth; }

void vm_setgosubtarget(VmState *L, int32_t index) {
  G(L)->pendinggosuboffset = index - G(L)->callsiteindex;
}

uint32_t vm_runprotected(VmState *L, void (*f)(VmState *L, void *ud), void *ud) {
  return vm_pcall_internal(L, f, ud, vm_savestack(L, L->top), L->errfunc);
}

namespace {
void callallfinalisers(VmState *, void *ud) { vm_callgctm(static_cast<VmState *>(ud)); }
}  // namespace

void vm_runfinalisers(VmState *L) {
  L = G(L)->mainthread;
  vm_closeupvals(L, L->stack);
  vm_separateudata(L);
  L->errfunc = 0;
  // A finaliser that fails leaves the rest of the list to the next round.
  do {
    L->ci = L->base_ci;
    L->base = L->top = L->ci->base;
    L->nCcalls = 0;
  } while (vm_rawrunprotected(L, callallfinalisers, L) != 0);
}

const char *vm_protosource(const VmProto *p) { return p && p->source ? p->source->data() : nullptr; }
