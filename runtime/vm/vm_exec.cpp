// The interpreter loop: one computed-goto dispatch per decoded instruction, number fast paths,
// and the shared operations (conversions, arithmetic, comparisons, table access).
#include "runtime/vm/vm_exec.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_debug.h"
#include "runtime/vm/vm_decode.h"
#include "runtime/vm/vm_func.h"
#include "runtime/vm/vm_gc.h"
#include "runtime/vm/vm_number.h"
#include "runtime/vm/vm_opcodes.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"
#include "runtime/vm/vm_table.h"

namespace {

constexpr int MAXTAGLOOP = 100;

void seterrorarg(VmState *L, const char *text) {
  std::snprintf(G(L)->err.argtext, sizeof G(L)->err.argtext, "%s", text);
}

// Calls f(p1, p2) with one result, stored into the stack slot at offset res.
void callTMres(VmState *L, ptrdiff_t res, const VmValue *f, const VmValue *p1, const VmValue *p2) {
  L->top[0] = *f;
  L->top[1] = *p1;
  L->top[2] = *p2;
  vm_ensurestack(L, 3);  // only now: growing could move p1 and p2
  L->top += 3;
  uint32_t code = vm_docall(L, L->top - 3, 1);
  if (code) vm_handlecommanderror(L, code);
  L->top--;
  *vm_restorestack(L, res) = *L->top;
}

// As callTMres, but into a value outside the stack.
VmValue callTMvalue(VmState *L, const VmValue *f, const VmValue *p1, const VmValue *p2) {
  ptrdiff_t slot = vm_savestack(L, L->top);
  vm_ensurestack(L, 4);
  vm_setnil(L->top++);  // a slot for the result
  callTMres(L, slot, f, p1, p2);
  VmValue v = *vm_restorestack(L, slot);
  L->top--;
  return v;
}

void callTM(VmState *L, const VmValue *f, const VmValue *p1, const VmValue *p2, const VmValue *p3) {
  L->top[0] = *f;
  L->top[1] = *p1;
  L->top[2] = *p2;
  L->top[3] = *p3;
  vm_ensurestack(L, 4);
  L->top += 4;
  uint32_t code = vm_docall(L, L->top - 4, 0);
  if (code) vm_handlecommanderror(L, code);
}

// A tag method's result: only nil and 0 are false.
bool tmtrue(const VmValue *o) { return !(vm_isnil(o) || (vm_isnumber(o) && o->v.n == 0)); }

const VmValue *gettmbyobj2(VmState *L, const VmValue *p1, const VmValue *p2, VmTMS event) {
  const VmValue *tm = vm_gettmbyobj(L, p1, event);
  if (vm_isnil(tm)) tm = vm_gettmbyobj(L, p2, event);
  return tm;
}

// An order method that both operands share: -1 when there is none, else its verdict.
int call_orderTM(VmState *L, const VmValue *p1, const VmValue *p2, VmTMS event) {
  const VmValue *tm1 = vm_gettmbyobj(L, p1, event);
  if (vm_isnil(tm1)) return -1;
  const VmValue *tm2 = vm_gettmbyobj(L, p2, event);
  if (!vm_rawequalobj(tm1, tm2)) return -1;
  VmValue f = *tm1;
  VmValue r = callTMvalue(L, &f, p1, p2);
  return tmtrue(&r) ? 1 : 0;
}

[[noreturn]] void ordererror(VmState *L, const VmValue *a, const VmValue *b) {
  bool numstr = (a->tt == VM_TNUMBER && b->tt == VM_TSTRING) || (a->tt == VM_TSTRING && b->tt == VM_TNUMBER);
  vm_raise(L, numstr ? ERR_NUMSTRCMP : ERR_WRONGOP);
}

int asciiicmp(const char *a, const char *b) {
  for (;; a++, b++) {
    int ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
    if (ca >= 'a' && ca <= 'z') ca -= 32;
    if (cb >= 'a' && cb <= 'z') cb -= 32;
    if (ca != cb || ca == 0) return ca - cb;
  }
}

// Compares segment by segment: an embedded zero byte ends a segment.
int l_strcmp(VmState *L, const VmString *ls, const VmString *rs, int casesensitive) {
  const char *l = ls->data();
  size_t ll = ls->len;
  const char *r = rs->data();
  size_t lr = rs->len;
  for (;;) {
    int temp;
    if (casesensitive) temp = std::strcmp(l, r);
    else temp = G(L)->rt.stricmp ? G(L)->rt.stricmp(l, r) : asciiicmp(l, r);
    if (temp != 0) return temp;
    size_t len = std::strlen(l);
    if (len == lr) return len == ll ? 0 : 1;
    if (len == ll) return -1;
    len++;
    l += len;
    ll -= len;
    r += len;
    lr -= len;
  }
}

int lessequal(VmState *L, const VmValue *l, const VmValue *r) {
  if (vm_isnil(l)) {
    if (vm_isnumber(r)) return 0 <= r->v.n;
    if (vm_isstring(r)) return 0;
    if (vm_isnil(r)) return 1;
    vm_raise(L, ERR_WRONGOP);
  }
  if (vm_isnil(r)) {
    if (vm_isnumber(l)) return l->v.n <= 0;
    if (vm_isstring(l)) return 0;
    vm_raise(L, ERR_WRONGOP);
  }
  if (l->tt != r->tt) ordererror(L, l, r);
  if (vm_isnumber(l)) return l->v.n <= r->v.n;
  if (vm_isstring(l)) return l_strcmp(L, vm_svalue(l), vm_svalue(r), 1) <= 0;
  int res = call_orderTM(L, l, r, VM_TM_LE);
  if (res != -1) return res;
  res = call_orderTM(L, r, l, VM_TM_LT);
  if (res != -1) return !res;
  vm_raise(L, ERR_WRONGOP);
}

double arithop(VmState *L, VmTMS op, double b, double c) {
  switch (op) {
    case VM_TM_ADD: return b + c;
    case VM_TM_SUB: return b - c;
    case VM_TM_MUL: return b * c;
    case VM_TM_DIV:
      if (c == 0) vm_raise(L, ERR_ZERODIVISION);
      return b / c;
    case VM_TM_DIVINT: {
      int32_t x = vm_toint32(b), y = vm_toint32(c);
      if (y == 0) vm_raise(L, ERR_ZERODIVISION);
      if (x == INT32_MIN && y == -1) return 2147483648.0;  // the true quotient; no trap
      return static_cast<double>(x / y);
    }
    case VM_TM_MOD: {
      int32_t x = vm_toint32(b), y = vm_toint32(c);
      if (y == 0) vm_raise(L, ERR_ZERODIVISION);
      if (y == -1) return 0;
      return static_cast<double>(x % y);
    }
    case VM_TM_LSH: return static_cast<double>(vm_touint32(b) << (vm_toint32(c) & 31));
    case VM_TM_RSH: return static_cast<double>(vm_touint32(b) >> (vm_toint32(c) & 31));
    case VM_TM_OR: return static_cast<double>(vm_touint32(b) | vm_touint32(c));
    case VM_TM_AND: return static_cast<double>(vm_touint32(b) & vm_touint32(c));
    case VM_TM_XOR: return static_cast<double>(vm_touint32(b) ^ vm_touint32(c));
    case VM_TM_POW: return std::pow(b, c);
    case VM_TM_UNM: return -b;
    case VM_TM_NOT: return static_cast<double>(~vm_touint32(b));
    default: return 0;
  }
}

void fieldiniterror(VmState *L, const VmValue *key) {
  char buf[1024];
  if (vm_isstring(key)) std::snprintf(buf, sizeof buf, "\"%s\"", vm_svalue(key)->data());
  else if (vm_isnumber(key)) std::snprintf(buf, sizeof buf, "%g", key->v.n);
  else std::snprintf(buf, sizeof buf, "(%s)", vm_typename(key->tt));
  seterrorarg(L, buf);
  vm_raise(L, ERR_FIELDINIT);
}

}  // namespace

const VmValue *vm_tonumber_value(const VmValue *obj, VmValue *scratch) {
  switch (obj->tt) {
    case VM_TNUMBER: return obj;
    case VM_TNIL: vm_setnumber(scratch, 0); return scratch;
    case VM_TSTRING: {
      double num;
      if (vm_str2number(vm_svalue(obj)->data(), &num)) {
        vm_setnumber(scratch, num);
        return scratch;
      }
      return nullptr;
    }
    default: return nullptr;
  }
}

int vm_tostring_value(VmState *L, VmValue *obj) {
  switch (obj->tt) {
    case VM_TSTRING: return 1;
    case VM_TNUMBER: {
      char s[VM_MAXNUMBER2STR];
      int n = vm_number2str(obj->v.n, s, sizeof s);
      vm_setstring(obj, vm_newlstr(L, s, static_cast<size_t>(n)));
      return 1;
    }
    case VM_TNIL: vm_setstring(obj, vm_newlstr(L, "", 0)); return 1;
    default: return 0;
  }
}

void vm_gettable_value(VmState *L, VmValue t, VmValue key, ptrdiff_t res, VmGetMode mode, const VmValue *named) {
  VmGlobalState *g = G(L);
  for (int loop = 0; loop < MAXTAGLOOP; loop++) {
    const VmValue *tm;
    if (vm_istable(&t)) {
      VmTable *h = vm_hvalue(&t);
      const VmValue *v = vm_gettable_raw(h, &key);
      if (!vm_isnil(v)) {
        *vm_restorestack(L, res) = *v;
        return;
      }
      tm = vm_fasttm(h->metatable, VM_TM_INDEX, g->tmname[VM_TM_INDEX]);
      if (tm == nullptr) {
        if (mode == VM_GET_FIELDINIT) fieldiniterror(L, &key);
        vm_setnil(vm_restorestack(L, res));
        return;
      }
    } else {
      tm = vm_gettmbyobj(L, &t, VM_TM_INDEX);
      if (vm_isnil(tm)) vm_typeerror(L, loop == 0 && named ? named : &t, ERR_TABLEDECLA, "{}");
    }
    if (vm_isfunction(tm)) {
      VmValue f = *tm;
      callTMres(L, res, &f, &t, &key);
      return;
    }
    t = *tm;
  }
  seterrorarg(L, "#1");
  vm_raise(L, ERR_INTERNAL1);
}

void vm_settable_value(VmState *L, VmValue t, VmValue key, VmValue val, const VmValue *named) {
  VmGlobalState *g = G(L);
  for (int loop = 0; loop < MAXTAGLOOP; loop++) {
    const VmValue *tm;
    if (vm_istable(&t)) {
      VmTable *h = vm_hvalue(&t);
      VmValue *oldval = vm_settable_raw(L, h, &key);
      if (!vm_isnil(oldval) || (tm = vm_fasttm(h->metatable, VM_TM_NEWINDEX, g->tmname[VM_TM_NEWINDEX])) == nullptr) {
        *oldval = val;
        return;
      }
    } else {
      tm = vm_gettmbyobj(L, &t, VM_TM_NEWINDEX);
      if (vm_isnil(tm)) vm_typeerror(L, loop == 0 && named ? named : &t, ERR_TABLEDECLA, "{}");
    }
    if (vm_isfunction(tm)) {
      VmValue f = *tm;
      callTM(L, &f, &t, &key, &val);
      return;
    }
    t = *tm;
  }
  seterrorarg(L, "#2");
  vm_raise(L, ERR_INTERNAL1);
}

int vm_lessthan_value(VmState *L, const VmValue *l, const VmValue *r, int casesensitive) {
  if (vm_isnil(l)) {
    if (vm_isnumber(r)) return 0 < r->v.n;
    if (vm_isnil(r) || vm_isstring(r)) return 0;
    vm_raise(L, ERR_WRONGOP);
  }
  if (vm_isnil(r)) {
    if (vm_isnumber(l)) return l->v.n < 0;
    if (vm_isstring(l)) return 0;
    vm_raise(L, ERR_WRONGOP);
  }
  if (l->tt != r->tt) ordererror(L, l, r);
  if (vm_isnumber(l)) return l->v.n < r->v.n;
  if (vm_isstring(l)) return l_strcmp(L, vm_svalue(l), vm_svalue(r), casesensitive) < 0;
  int res = call_orderTM(L, l, r, VM_TM_LT);
  if (res != -1) return res;
  vm_raise(L, ERR_WRONGOP);
}

int vm_equal_value(VmState *L, const VmValue *a, const VmValue *b) {
  if (vm_isnil(a) || vm_isnil(b)) {
    if (vm_isnil(a) && vm_isnil(b)) return 1;
    const VmValue *o = vm_isnil(a) ? b : a;
    if (vm_isnumber(o)) return o->v.n == 0;
    if (vm_isstring(o)) return vm_svalue(o)->len == 0;
    return 0;
  }
  if (a->tt != b->tt) ordererror(L, a, b);
  switch (a->tt) {
    case VM_TNUMBER: return a->v.n == b->v.n;
    case VM_TBOOLEAN: return a->v.b == b->v.b;
    case VM_TTABLE:
    case VM_TUSERDATA: {
      if (a->v.p == b->v.p) return 1;
      VmGlobalState *g = G(L);
      VmTable *mt1 = a->tt == VM_TTABLE ? vm_hvalue(a)->metatable : vm_uvalue(a)->metatable;
      VmTable *mt2 = b->tt == VM_TTABLE ? vm_hvalue(b)->metatable : vm_uvalue(b)->metatable;
      const VmValue *tm1 = vm_fasttm(mt1, VM_TM_EQ, g->tmname[VM_TM_EQ]);
      if (tm1 == nullptr) return 0;
      if (mt1 != mt2) {
        const VmValue *tm2 = vm_fasttm(mt2, VM_TM_EQ, g->tmname[VM_TM_EQ]);
        if (tm2 == nullptr || !vm_rawequalobj(tm1, tm2)) return 0;
      }
      VmValue f = *tm1;
      VmValue r = callTMvalue(L, &f, a, b);
      return tmtrue(&r);
    }
    default: return a->v.p == b->v.p;
  }
}

void vm_arith(VmState *L, ptrdiff_t ra, const VmValue *rb, const VmValue *rc, VmTMS op) {
  VmValue tempb, tempc;
  const VmValue *b, *c;
  if ((b = vm_tonumber_value(rb, &tempb)) != nullptr && (c = vm_tonumber_value(rc, &tempc)) != nullptr) {
    double r = arithop(L, op, b->v.n, c->v.n);
    vm_setnumber(vm_restorestack(L, ra), r);
    return;
  }
  const VmValue *tm = gettmbyobj2(L, rb, rc, op);
  if (!vm_isfunction(tm)) vm_raise(L, ERR_WRONGOP);
  VmValue f = *tm, x = *rb, y = *rc;
  callTMres(L, ra, &f, &x, &y);
}

namespace {

// A string, a number or nil: what concatenation turns into text.
bool istextual(const VmValue *o) { return o->tt == VM_TSTRING || o->tt == VM_TNUMBER || o->tt == VM_TNIL; }

// The texts of the operands of one concatenation pass, without making strings of numbers.
// The numbers nearest the top (the usual case: all of them) are written once and kept.
class ConcatTexts {
 public:
  explicit ConcatTexts(const VmValue *top) : top_(top) {}
  // The text of the operand i places below the top (1 is the last operand).
  const char *text(int i, size_t *len) {
    const VmValue *o = top_ - i;
    if (o->tt == VM_TSTRING) {
      *len = vm_svalue(o)->len;
      return vm_svalue(o)->data();
    }
    if (o->tt == VM_TNUMBER) {
      if (i > kKept) {
        *len = static_cast<size_t>(vm_number2str(o->v.n, scratch_, sizeof scratch_));
        return scratch_;
      }
      if (len_[i - 1] < 0) len_[i - 1] = vm_number2str(o->v.n, kept_[i - 1], sizeof kept_[i - 1]);
      *len = static_cast<size_t>(len_[i - 1]);
      return kept_[i - 1];
    }
    *len = 0;
    return "";
  }

 private:
  static constexpr int kKept = 8;
  const VmValue *top_;
  char kept_[kKept][VM_MAXNUMBER2STR];
  int len_[kKept] = {-1, -1, -1, -1, -1, -1, -1, -1};
  char scratch_[VM_MAXNUMBER2STR];
};

}  // namespace

void vm_concat_values(VmState *L, int total, int last) {
  do {
    VmValue *top = L->base + last + 1;
    int n = 2;  // values handled in this pass
    ConcatTexts texts(top);
    size_t l;
    if (!istextual(top - 2) || !istextual(top - 1)) {
      if (!vm_tostring_value(L, top - 2) || !vm_tostring_value(L, top - 1)) {
        const VmValue *tm = gettmbyobj2(L, top - 2, top - 1, VM_TM_CONCAT);
        if (!vm_isfunction(tm)) vm_raise(L, ERR_CONCAT);
        VmValue f = *tm, x = top[-2], y = top[-1];
        callTMres(L, vm_savestack(L, top - 2), &f, &x, &y);
      }
    } else if (texts.text(1, &l), l == 0) {
      vm_tostring_value(L, top - 2);  // the result is the left operand's text
    } else {
      // Numbers are written straight into the buffer: no string is made for them.
      uint64_t tl = l;
      texts.text(2, &l);
      tl += l;
      while (n < total && istextual(top - n - 1)) {
        texts.text(n + 1, &l);
        tl += l;
        n++;
      }
      if (tl > VM_MAXSTRLEN) vm_raise(L, ERR_MEM);  // before the buffer is asked for
      VmBuffer *buff = &G(L)->buff;  // mostly large enough already
      char *buffer = tl <= buff->size ? buff->buffer : vm_zopenspace(L, buff, static_cast<size_t>(tl));
      size_t pos = 0;
      for (int i = n; i > 0; i--) {
        const char *text = texts.text(i, &l);
        vm_copytext(buffer + pos, text, l);
        pos += l;
      }
      vm_setstring(top - n, vm_newlstr(L, buffer, pos));
    }
    total -= n - 1;
    last -= n - 1;
  } while (total > 1);
}

namespace {

int getline(const VmProto *p, int pc) { return p->sizelineinfo ? p->lineinfo[pc] : 0; }

// The count and line hooks; npc points past the instruction about to run.
void traceexec(VmState *L, const VmOp *npc) {
  uint8_t mask = L->hookmask;
  if (mask & VM_MASKCOUNT) {
    if (--L->hookcount == 0) {
      L->hookcount = L->basehookcount;
      vm_callhook(L, VM_HOOKCOUNT, -1);
      return;
    }
  }
  if (mask & VM_MASKLINE) {
    VmCallInfo *ci = L->ci;
    const VmProto *p = vm_clvalue(ci->base - 1)->p;
    int pcrel = static_cast<int>(npc - p->ops) - 1;
    int newline = getline(p, pcrel);
    // A new line, or a jump back onto the same one.
    if (ci->oldpc == nullptr || npc <= ci->oldpc || newline != getline(p, static_cast<int>(ci->oldpc - p->ops) - 1)) {
      vm_callhook(L, VM_HOOKLINE, newline);
      ci = L->ci;
    }
    ci->oldpc = npc;
  }
}

// pc is at the JMP that follows a test.
inline void dojump(const VmOp *&pc) { pc = pc + 1 + pc->x; }  // pointer steps: no 32-bit sum to widen

void gosubpush(VmState *L, const VmOp *pc, const VmProto *p) {
  VmGlobalState *g = G(L);
  if (g->gosubdepth > VM_MAX_GOSUB - 1) vm_raise(L, ERR_INTERNAL);
  g->gosub[g->gosubdepth++] = VmGosubEntry{pc, static_cast<int32_t>(L->ci - L->base_ci), p};
  L->ci->state |= VM_CI_GOSUB;  // its return drops what is left of them
}

// Drops the Gosub positions of the frame at ci and every deeper one.
inline void gosubdrop(VmState *L) {
  VmGlobalState *g = G(L);
  int32_t ci = static_cast<int32_t>(L->ci - L->base_ci);
  while (g->gosubdepth > 0 && g->gosub[g->gosubdepth - 1].ci >= ci) g->gosubdepth--;
}

// After a native call returned to the frame: an error code or a Gosub request.
// Returns the new pc (unchanged unless a Gosub request moved it).
const VmOp *nativeresult(VmState *L, uint32_t code, const VmOp *pc, int nresults) {
  if (code < VM_GOSUB_REQUEST2) {
    vm_handlecommanderror(L, code);  // raises, or the script goes on without results
    vm_poscall(L, nresults, L->top);
    return pc;
  }
  vm_poscall(L, nresults, L->top);
  VmGlobalState *g = G(L);
  const VmProto *p = vm_clvalue(L->base - 1)->p;
  const VmOp *resume = code == VM_GOSUB_REQUEST ? pc : pc - 2;
  long target = static_cast<long>(pc - p->ops) + g->pendinggosuboffset;
  if (target < 0 || target >= p->sizecode || resume < p->ops) vm_raise(L, ERR_WRONGUSAGE);
  gosubpush(L, resume, p);
  return p->ops + target;
}

}  // namespace

VmValue *vm_execute(VmState *L) {
  static const void *const disptab[64] = {
#define VM_OP(name, fmt, flags) &&L_##name,
#include "runtime/vm/vm_opcodes.def"
#undef VM_OP
#define VM_FORM_LABEL(name) &&L_##name,
      VM_FIXED_FORMS(VM_FORM_LABEL)
#undef VM_FORM_LABEL
      &&L_NOOP, &&L_NOOP, &&L_NOOP, &&L_NOOP,
  };
  static_assert(VM_FORM_END + 4 == 64, "one entry per opcode and fixed form, the rest do nothing");
  // While the trap word is set (end requested, line or count hook), every opcode goes here first.
  static const void *const traptab[64] = {
#define TRAP8 &&trap, &&trap, &&trap, &&trap, &&trap, &&trap, &&trap, &&trap,
      TRAP8 TRAP8 TRAP8 TRAP8 TRAP8 TRAP8 TRAP8 TRAP8
#undef TRAP8
  };
  VmGlobalState *const g = G(L);
  const VmValue *k;
  VmValue *base;
  const VmOp *pc;  // the next instruction
  VmValue *ra;
  // The dispatch table in use, kept at hand. Only a hook being set or an end being requested
  // changes it, and both happen only while the loop calls out: it is taken up again after every
  // call that can run a script, a hook or the periodic check (REFRESH, also part of RELOAD).
  const void *const *disp;

#define VM_LIKELY(x) __builtin_expect(!!(x), 1)
#define INS (pc[-1])  // the instruction being run
// The running function, beneath its registers: read where needed rather than held in a register.
#define CL() vm_clvalue(base - 1)
#define REG(off) reinterpret_cast<VmValue *>(reinterpret_cast<char *>(base) + (off))
#define KST(off) reinterpret_cast<const VmValue *>(reinterpret_cast<const char *>(k) + (off))
#define RB() REG(INS.r.b)
// B is a register far more often than a constant; C is either (g++ makes that one a select).
#define RKB() (__builtin_expect(INS.kbits & VM_OPK_B, 0) ? KST(INS.r.b) : REG(INS.r.b))
#define RKC() ((INS.kbits & VM_OPK_C) ? KST(INS.r.c) : REG(INS.r.c))
#define SAVEPC() (L->ci->savedpc = pc)
#define REFRESH() (disp = g->dispatch)
#define RELOAD() (base = L->base, ra = REG(INS.a), REFRESH())
// A loop edge or a call: once in a while the periodic check runs (the event pump).
#define EDGE()                                                   \
  do {                                                           \
    if (__builtin_expect(--g->checkcount < 0, 0)) {              \
      SAVEPC();                                                  \
      g->checkcount = g->checkevery - 1;                         \
      if (g->periodic) g->periodic(L);                           \
      base = L->base;                                            \
      REFRESH();                                                 \
    }                                                            \
  } while (0)
#define DISPATCH() goto *disp[(pc++)->op]

  g->looptables[0] = disptab;
  g->looptables[1] = traptab;
  if (g->looptables[2] == nullptr) {
    for (int i = 0; i < 64; i++) g->checkedcalls[i] = disptab[i];
    g->checkedcalls[OP_CALL] = &&L_CALL_GENERAL;
    g->looptables[2] = g->checkedcalls;
  }
  vm_updatetrap(L);  // this thread's hooks may not be the ones the words were last made for
callentry:
  if (L->hookmask & VM_MASKCALL) vm_callhook(L, VM_HOOKCALL, -1);
  if (__builtin_expect(--g->checkcount < 0, 0)) {
    g->checkcount = g->checkevery - 1;
    if (g->periodic) g->periodic(L);
  }
  L->ci->state = VM_CI_HASFRAME | VM_CI_SAVEDPC | (L->ci->state & VM_CI_CALLED) |
                 ((L->hookmask & VM_MASKRET) ? VM_CI_RETHOOK : 0);
  pc = L->ci->savedpc;
  base = L->base;
  k = CL()->k;
  REFRESH();
  DISPATCH();

trap:
  pc--;  // the instruction is fetched again below, after the checks
  if (g->endrequested) {
    SAVEPC();
    return nullptr;
  }
  if (L->hookmask & (VM_MASKLINE | VM_MASKCOUNT)) {
    L->ci->savedpc = pc + 1;
    traceexec(L, pc + 1);
    base = L->base;
    REFRESH();  // the hook may have removed itself
    if (g->endrequested) {
      SAVEPC();
      return nullptr;
    }
  }
  goto *g->looptables[g->callcheck ? 2 : 0][(pc++)->op];

L_NOOP:
  DISPATCH();

L_MOVE:
  ra = REG(INS.a);
  *ra = *RB();
  DISPATCH();

L_LOADK:
  ra = REG(INS.a);
  *ra = *KST(INS.x);
  DISPATCH();

L_LOADBOOL:
  ra = REG(INS.a);
  vm_setnumber(ra, INS.r.b);
  if (INS.r.c) pc++;
  DISPATCH();

L_LOADNIL:
  ra = REG(INS.a);
  for (VmValue *rb = RB(); rb >= ra; rb--) vm_setnil(rb);
  DISPATCH();

L_GETUPVAL:
  ra = REG(INS.a);
  *ra = *CL()->upvals()[INS.r.b]->v;
  DISPATCH();

L_GETGLOBAL: {
  ra = REG(INS.a);
  const VmValue *key = KST(INS.x);
  VmTable *h = vm_hvalue(&CL()->g);
  const VmValue *v = vm_getstr(h, vm_svalue(key));
  if (!vm_isnil(v)) {
    *ra = *v;
    DISPATCH();
  }
  SAVEPC();
  const VmValue *tm = vm_fasttm(h->metatable, VM_TM_INDEX, g->tmname[VM_TM_INDEX]);
  if (tm == nullptr) {
    vm_setnil(ra);
  } else if (vm_isfunction(tm)) {
    VmValue f = *tm;
    callTMres(L, vm_savestack(L, ra), &f, &CL()->g, key);
  } else {
    vm_gettable_value(L, *tm, *key, vm_savestack(L, ra), VM_GET_NILONMISS, nullptr);
  }
  RELOAD();
  DISPATCH();
}

// The fixed forms read their key (C) without asking its kind; a key in a register is mostly a
// number, a constant key mostly a string, and the likely case is laid out first.
#define GETTABLE_FORM(LABEL, READC, NUMBERKEY)                                                                  \
  LABEL: {                                                                                                      \
    ra = REG(INS.a);                                                                                            \
    VmValue *rb = RB();                                                                                         \
    const VmValue *rc = READC;                                                                                  \
    if (VM_LIKELY(vm_istable(rb))) {                                                                            \
      VmTable *h = vm_hvalue(rb);                                                                               \
      const VmValue *v;                                                                                         \
      int n;                                                                                                    \
      /* An integer key inside the array part first: the indexed loop over a table. */                          \
      if (NUMBERKEY(vm_isnumber(rc)) && vm_num2intexact(rc->v.n, &n)) {                                         \
        /* The slot from the unsigned index the bound was checked with, widened for free. */                  \
        unsigned i = static_cast<unsigned>(n) - 1u;                                                             \
        v = i < static_cast<unsigned>(h->sizearray) ? h->array + i : vm_getnum_hash(h, n);                      \
      }                                                                                                         \
      else if (vm_isstring(rc)) v = vm_getstr(h, vm_svalue(rc));                                                \
      else v = vm_gettable_raw(h, rc);                                                                          \
      if (!vm_isnil(v)) {                                                                                       \
        *ra = *v;                                                                                               \
        DISPATCH();                                                                                             \
      }                                                                                                         \
    }                                                                                                           \
    SAVEPC();                                                                                                   \
    vm_gettable_value(L, *rb, *rc, vm_savestack(L, ra), VM_GET_FIELDINIT, rb);                                  \
    RELOAD();                                                                                                   \
    DISPATCH();                                                                                                 \
  }

  GETTABLE_FORM(L_GETTABLE, RKC(), )
  GETTABLE_FORM(L_GETTABLE_RR, REG(INS.r.c), VM_LIKELY)
  GETTABLE_FORM(L_GETTABLE_RK, KST(INS.r.c), )
#undef GETTABLE_FORM

L_SETGLOBAL:
  ra = REG(INS.a);
  SAVEPC();
  vm_settable_value(L, CL()->g, *KST(INS.x), *ra, nullptr);
  RELOAD();
  DISPATCH();

L_SETUPVAL:
  ra = REG(INS.a);
  *CL()->upvals()[INS.r.b]->v = *ra;
  DISPATCH();

// An integer key inside the array part: a store, unless an empty slot has a __newindex to
// ask. The cached absence of __newindex is tested first, so that a store into a large table
// does not wait for the old slot to be read. A number key never names a tag method, so the
// table's tag-method cache stays valid.
// The fixed forms read their key (B) and value (C) without asking their kinds.
#define SETTABLE_FORM(LABEL, READB, READC)                                                                      \
  LABEL: {                                                                                                      \
    ra = REG(INS.a);                                                                                            \
    const VmValue *rb = READB;                                                                                  \
    const VmValue *rc = READC;                                                                                  \
    if (VM_LIKELY(vm_istable(ra) && vm_isnumber(rb))) {                                                         \
      VmTable *h = vm_hvalue(ra);                                                                               \
      int n;                                                                                                    \
      unsigned i;                                                                                               \
      if (vm_num2intexact(rb->v.n, &n) && (i = static_cast<unsigned>(n) - 1u) < static_cast<unsigned>(h->sizearray)) { \
        VmValue *slot = h->array + i;                                                                           \
        if (VM_LIKELY((h->metatable->flags & (1u << VM_TM_NEWINDEX)) || !vm_isnil(slot) ||                      \
                      vm_fasttm(h->metatable, VM_TM_NEWINDEX, g->tmname[VM_TM_NEWINDEX]) == nullptr)) {         \
          *slot = *rc;                                                                                          \
          DISPATCH();                                                                                           \
        }                                                                                                       \
      }                                                                                                         \
    }                                                                                                           \
    SAVEPC();                                                                                                   \
    vm_settable_value(L, *ra, *rb, *rc, ra);                                                                    \
    RELOAD();                                                                                                   \
    DISPATCH();                                                                                                 \
  }

  SETTABLE_FORM(L_SETTABLE, RKB(), RKC())
  SETTABLE_FORM(L_SETTABLE_RR, REG(INS.r.b), REG(INS.r.c))
  SETTABLE_FORM(L_SETTABLE_RK, REG(INS.r.b), KST(INS.r.c))
#undef SETTABLE_FORM

L_NEWTABLE: {
  ra = REG(INS.a);
  unsigned b = INS.r.b;
  unsigned shift = b >> 3;
  uint64_t asize = shift >= 40 ? UINT64_MAX : (uint64_t{b & 7} << shift);
  SAVEPC();
  if (asize > (uint64_t{1} << 26)) vm_raise(L, ERR_TABLEOVERFLOW);
  vm_setgc(ra, VM_TTABLE, vm_newtable_sized(L, static_cast<int>(asize), static_cast<int>(INS.r.c)));
  vm_checkgc(L);
  RELOAD();
  DISPATCH();
}

// One arithmetic handler; the fixed forms read their operands without asking their kind.
// NUMBERC tells whether C is a number; the constant forms know it is.
#define ARITH_FORM(LABEL, EVENT, FAST, READB, READC, NUMBERC)        \
  LABEL: {                                                           \
    ra = REG(INS.a);                                                 \
    const VmValue *rb = READB;                                       \
    const VmValue *rc = READC;                                       \
    if (VM_LIKELY(vm_isnumber(rb) && (NUMBERC))) {                   \
      double nb = rb->v.n, nc = rc->v.n;                             \
      (void)nb;                                                      \
      (void)nc;                                                      \
      FAST                                                           \
    }                                                                \
    SAVEPC();                                                        \
    vm_arith(L, vm_savestack(L, ra), rb, rc, EVENT);                 \
    RELOAD();                                                        \
    DISPATCH();                                                      \
  }
#define ARITH(NAME, EVENT, FAST) ARITH_FORM(L_##NAME, EVENT, FAST, RKB(), RKC(), vm_isnumber(rc))
#define ARITH_FIXED(NAME, EVENT, FAST)                                          \
  ARITH(NAME, EVENT, FAST)                                                      \
  ARITH_FORM(L_##NAME##_RR, EVENT, FAST, REG(INS.r.b), REG(INS.r.c), vm_isnumber(rc)) \
  ARITH_FORM(L_##NAME##_RK, EVENT, FAST, REG(INS.r.b), KST(INS.r.c), true)

  ARITH_FIXED(ADD, VM_TM_ADD, vm_setnumber(ra, nb + nc); DISPATCH();)
  ARITH_FIXED(SUB, VM_TM_SUB, vm_setnumber(ra, nb - nc); DISPATCH();)
  ARITH_FIXED(MUL, VM_TM_MUL, vm_setnumber(ra, nb * nc); DISPATCH();)
  ARITH(DIV, VM_TM_DIV, if (nc != 0) { vm_setnumber(ra, nb / nc); DISPATCH(); })
  ARITH(DIVINT, VM_TM_DIVINT, )
  ARITH(MOD, VM_TM_MOD, )
  ARITH(LSH, VM_TM_LSH, vm_setnumber(ra, static_cast<double>(vm_touint32(nb) << (vm_toint32(nc) & 31))); DISPATCH();)
  ARITH(RSH, VM_TM_RSH, vm_setnumber(ra, static_cast<double>(vm_touint32(nb) >> (vm_toint32(nc) & 31))); DISPATCH();)
  ARITH(OR, VM_TM_OR, vm_setnumber(ra, static_cast<double>(vm_touint32(nb) | vm_touint32(nc))); DISPATCH();)
  ARITH(AND, VM_TM_AND, vm_setnumber(ra, static_cast<double>(vm_touint32(nb) & vm_touint32(nc))); DISPATCH();)
  ARITH(XOR, VM_TM_XOR, vm_setnumber(ra, static_cast<double>(vm_touint32(nb) ^ vm_touint32(nc))); DISPATCH();)
  ARITH(POW, VM_TM_POW, vm_setnumber(ra, std::pow(nb, nc)); DISPATCH();)
#undef ARITH_FIXED
#undef ARITH
#undef ARITH_FORM

L_UNM: {
  ra = REG(INS.a);
  const VmValue *rb = RB();
  if (vm_isnumber(rb)) {
    vm_setnumber(ra, -rb->v.n);
    DISPATCH();
  }
  SAVEPC();
  VmValue nil;
  vm_setnil(&nil);
  vm_arith(L, vm_savestack(L, ra), rb, &nil, VM_TM_UNM);
  RELOAD();
  DISPATCH();
}

L_NOT:
  ra = REG(INS.a);
  vm_setnumber(ra, vm_isfalse(RB()) ? 1 : 0);
  DISPATCH();

L_BNOT: {
  ra = REG(INS.a);
  const VmValue *rb = RB();
  if (vm_isnumber(rb)) {
    vm_setnumber(ra, static_cast<double>(~vm_touint32(rb->v.n)));
    DISPATCH();
  }
  SAVEPC();
  VmValue nil;
  vm_setnil(&nil);
  vm_arith(L, vm_savestack(L, ra), rb, &nil, VM_TM_NOT);
  RELOAD();
  DISPATCH();
}

L_CONCAT: {
  ra = REG(INS.a);
  int b = static_cast<int>(INS.r.b / sizeof(VmValue));
  int c = static_cast<int>(INS.r.c / sizeof(VmValue));
  SAVEPC();
  vm_concat_values(L, c - b + 1, c);
  base = L->base;
  *REG(INS.a) = base[b];
  vm_checkgc(L);
  RELOAD();
  DISPATCH();
}

L_JMP: {
  ra = REG(INS.a);
  int offset = INS.x;
  if (INS.kbits == VM_JMP_GOSUB) {
    SAVEPC();
    gosubpush(L, pc, CL()->p);
  }
  pc += offset;
  if (offset < 0) EDGE();
  DISPATCH();
}

// One comparison handler: A is the wanted result; the JMP after it is taken when it comes out.
#define COMPARE_FORM(LABEL, FAST, SLOW, READB, READC, NUMBERC) \
  LABEL: {                                            \
    ra = REG(INS.a);                                  \
    const VmValue *rb = READB;                        \
    const VmValue *rc = READC;                        \
    int res;                                          \
    if (VM_LIKELY(vm_isnumber(rb) && (NUMBERC))) {    \
      res = FAST;                                     \
    } else {                                          \
      SAVEPC();                                       \
      res = SLOW;                                     \
      base = L->base;                                 \
      REFRESH();                                      \
    }                                                 \
    if (res != INS.a) pc++;                           \
    else dojump(pc);                                  \
    DISPATCH();                                       \
  }
#define COMPARE(NAME, FAST, SLOW)                                     \
  COMPARE_FORM(L_##NAME, FAST, SLOW, RKB(), RKC(), vm_isnumber(rc))                    \
  COMPARE_FORM(L_##NAME##_RR, FAST, SLOW, REG(INS.r.b), REG(INS.r.c), vm_isnumber(rc)) \
  COMPARE_FORM(L_##NAME##_RK, FAST, SLOW, REG(INS.r.b), KST(INS.r.c), true)

  COMPARE(EQ, rb->v.n == rc->v.n, vm_equal_value(L, rb, rc))
  COMPARE(LT, rb->v.n < rc->v.n, vm_lessthan_value(L, rb, rc, 1))
  COMPARE(LE, rb->v.n <= rc->v.n, lessequal(L, rb, rc))
#undef COMPARE
#undef COMPARE_FORM

L_TEST: {
  ra = REG(INS.a);
  VmValue *rb = RB();
  if (vm_isfalse(rb) == (INS.r.c != 0)) {
    pc++;
  } else {
    *ra = *rb;
    dojump(pc);
  }
  DISPATCH();
}

L_CALL: {
  ra = REG(INS.a);
  VmValue *top = INS.r.b != 0 ? REG(INS.r.b) : L->top;  // above the last argument
  SAVEPC();
  if (vm_isfunction(ra)) {
    // The common script-to-script call, set up here without the general precall.
    // The frame is entered right here, its registers set from what is at hand. A native or a
    // function with varargs (framebytes 0) takes the general way. Under a call or return hook,
    // or the call trace, the dispatch table sends CALL to the general way (L_CALL_GENERAL),
    // past the hook at callentry, and so it does under a line hook, the only reader of oldpc
    // (setting a hook clears that of every frame).
    VmClosure *ncl = vm_clvalue(ra);
    VmCallInfo *ci = L->ci;
    VmValue *ntop = reinterpret_cast<VmValue *>(reinterpret_cast<char *>(ra) + ncl->framebytes);
    if (VM_LIKELY(ncl->framebytes != 0 && ci != L->end_ci && ntop < L->stack_last)) {
      const VmOp *entry = ncl->ops;  // read before the stores, which the compiler cannot tell from it
      const VmValue *nk = ncl->k;
      VmCallInfo *nci = L->ci = ci + 1;
      nci->base = ra + 1;
      nci->top = ntop;
      nci->savedpc = entry;
      nci->state = VM_CI_HASFRAME | VM_CI_SAVEDPC | VM_CI_CALLED;
      nci->nresults = static_cast<int16_t>(INS.r.c - 1);
      nci->tailcalls = 0;
      // The registers above the arguments start as nil, and nothing above the frame is touched:
      // the caller's registers may lie there. Two to four of them, the usual count, are cleared
      // by two stores at each end, which overlap when there are fewer than four.
      size_t clearbytes = static_cast<size_t>(reinterpret_cast<char *>(ntop) - reinterpret_cast<char *>(top));
      if (VM_LIKELY(clearbytes - 2 * sizeof(VmValue) <= 2 * sizeof(VmValue))) {
        vm_setnil(top);
        vm_setnil(top + 1);
        vm_setnil(ntop - 2);
        vm_setnil(ntop - 1);
      } else {
        for (VmValue *s = top; s < ntop; s++) vm_setnil(s);
      }
      base = L->base = ra + 1;
      L->top = ntop;
      pc = entry;
      k = nk;
      EDGE();  // a call counts for the periodic check as a loop edge does
      DISPATCH();
    }
  }
  L->top = top;
  goto callgeneral;
}

L_CALL_GENERAL:
  ra = REG(INS.a);
  if (INS.r.b != 0) L->top = REG(INS.r.b);
  SAVEPC();
callgeneral: {
  int nresults = INS.r.c - 1;
  // Only a native reads the call site (for its Gosub request), so only a call that may reach
  // one stores it.
  g->callsiteindex = static_cast<int32_t>(pc - CL()->p->ops);
  uint32_t code = 0;
  VmValue *firstResult = vm_precall(L, ra, &code);
  if (firstResult) {
    if (code) pc = nativeresult(L, code, pc, nresults);
    else vm_poscall(L, nresults, firstResult);
    if (nresults >= 0) L->top = L->ci->top;
    base = L->base;  // pc may be at a Gosub target: no RELOAD, which reads the instruction before it
    REFRESH();
    DISPATCH();
  }
  L->ci->state |= VM_CI_CALLED;
  L->ci->nresults = static_cast<int16_t>(nresults);
  goto callentry;
}

L_TAILCALL: {
  ra = REG(INS.a);
  if (INS.r.b != 0) L->top = REG(INS.r.b);
  g->callsiteindex = static_cast<int32_t>(pc - CL()->p->ops);
  SAVEPC();
  uint32_t code = 0;
  VmValue *firstResult = vm_precall(L, ra, &code);
  if (firstResult) {
    if (code) pc = nativeresult(L, code, pc, -1);
    else vm_poscall(L, -1, firstResult);
    base = L->base;
    REFRESH();
    DISPATCH();
  }
  // A script function: it takes over this frame.
  VmCallInfo *ci = L->ci - 1;
  VmValue *func = ci->base - 1;
  VmValue *src = L->ci->base - 1;
  if (L->openupval) vm_closeupvals(L, ci->base);
  int n = static_cast<int>(L->top - src);
  for (int aux = 0; aux < n; aux++) func[aux] = src[aux];
  ci->top = L->top = func + n;
  ci->savedpc = L->ci->savedpc;
  ci->oldpc = nullptr;
  ci->tailcalls++;
  ci->state = VM_CI_SAVEDPC | (ci->state & VM_CI_CALLED);  // returns where the replaced function would have
  L->ci--;
  L->base = ci->base;
  gosubdrop(L);  // this frame's positions belong to the function that is gone
  goto callentry;
}

// The return of one value into a script frame that wants one: the usual end of a function used
// in an expression. Any other return of one value takes the general way below, and so does the
// return of a frame that may have open upvalues, since only a closure made in the frame can
// open one on its registers.
L_RETURN_1: {
  ra = REG(INS.a);
  VmCallInfo *ci = L->ci;
  // See the general return for what the state word tells.
  if (VM_LIKELY((ci->state & (VM_CI_CALLED | VM_CI_GOSUB | VM_CI_RETHOOK | VM_CI_UPVALS)) == VM_CI_CALLED &&
                ci->nresults == 1)) {
    base[-1] = *ra;
    L->ci = --ci;
    L->base = base = ci->base;
    L->top = ci->top;
    pc = ci->savedpc;
    k = CL()->k;
    DISPATCH();
  }
  goto returnvalues;
}

L_RETURN:
  ra = REG(INS.a);
  if (INS.r.c == 1) {
    // Return from Gosub: only to a position pushed by this very frame.
    int32_t depth = g->gosubdepth;
    if (depth == 0 || g->gosub[depth - 1].ci != static_cast<int32_t>(L->ci - L->base_ci) ||
        g->gosub[depth - 1].p != CL()->p) {
      SAVEPC();
      vm_raise(L, ERR_RETWOGOSUB);
    }
    pc = g->gosub[--g->gosubdepth].pc;
    DISPATCH();
  }
returnvalues:
  // The open upvalues are listed highest first: the first one tells whether this frame has any.
  if (L->openupval && static_cast<VmUpvalue *>(L->openupval)->v >= base) vm_closeupvals(L, base);
  {
    int b = INS.r.b;  // results plus one, or 0 for all up to the top
    VmCallInfo *ci = L->ci;
    int nresults;
    // Only a return hook or the caller outside reads the record of the frame that ends. A frame
    // called by a script holds Gosub positions only if it pushed some itself: the frames above it
    // dropped theirs when they returned, or an error unwound them, and a fresh frame has none.
    // A frame that began under a return hook, or saw one set, is marked as well.
    if (__builtin_expect((ci->state & (VM_CI_CALLED | VM_CI_GOSUB | VM_CI_RETHOOK)) != VM_CI_CALLED, 0)) {
      if (g->gosubdepth > 0) gosubdrop(L);
      if (b != 0) L->top = ra + b - 1;
      ci->state = static_cast<uint8_t>(ci->state & ~VM_CI_HASFRAME);
      ci->savedpc = pc;
      if (!(ci->state & VM_CI_CALLED)) return ra;  // entered from outside
      nresults = ci->nresults;
      vm_poscall(L, nresults, ra);
      ci = L->ci;  // the hook may have moved the call records
      REFRESH();
    } else {
      // The return into a script frame without a return hook: the results move down to the
      // function's slot, padded with nils to the number wanted.
      nresults = ci->nresults;
      ci--;
      VmValue *res = base - 1;
      L->ci = ci;
      L->base = ci->base;
      if (nresults == 1 && b >= 2) {
        *res = *ra;  // one result wanted and given: the usual expression call
      } else {
        VmValue *end = b != 0 ? ra + b - 1 : L->top;  // above the last result
        int wanted = nresults;
        for (; wanted != 0 && ra < end; wanted--) *res++ = *ra++;
        for (; wanted > 0; wanted--) vm_setnil(res++);
        L->top = res;
      }
    }
    if (nresults >= 0) L->top = ci->top;
    // Back in the caller's frame, taken up from the record at hand; its state did not change
    // while it was calling.
    pc = ci->savedpc;
    base = ci->base;
    k = CL()->k;
    DISPATCH();
  }

L_FORLOOP: {
  {
    // A pointer of this block's own, ra being set only on the way out: the fast path then
    // keeps no copy of ra aside for the slow one.
    VmValue *r = REG(INS.a);
    if (VM_LIKELY(vm_isnumber(r) && vm_isnumber(r + 1) && vm_isnumber(r + 2))) {
      double step = r[2].v.n, idx = r[0].v.n + step, limit = r[1].v.n;
      if (VM_LIKELY(step > 0)) {
        if (!(idx <= limit)) DISPATCH();
      } else if (!(limit <= idx)) {
        DISPATCH();
      }
      r[0].v.n = idx;
      pc += INS.x;
      EDGE();
      DISPATCH();
    }
  }
  __asm__ volatile("" ::: "memory");  // ra is read again here, not kept from the fast path
  ra = REG(INS.a);
  SAVEPC();
  if (!vm_isnumber(ra)) vm_raise(L, ERR_VALUEEXPECTED);
  VmValue tmp;
  const VmValue *lim = vm_tonumber_value(ra + 1, &tmp);
  if (!lim) vm_raise(L, ERR_VALUEEXPECTED);
  ra[1] = *lim;
  const VmValue *st = vm_tonumber_value(ra + 2, &tmp);
  if (!st) vm_raise(L, ERR_VALUEEXPECTED);
  ra[2] = *st;
  double step = ra[2].v.n, idx = ra[0].v.n + step, limit = ra[1].v.n;
  if (step > 0 ? idx <= limit : limit <= idx) {
    pc += INS.x;
    ra[0].v.n = idx;
  }
  DISPATCH();
}

L_TFORLOOP: {
  ra = REG(INS.a);
  int nvar = INS.r.c + 1;
  VmValue *cb = ra + nvar + 2;
  cb[0] = ra[0];
  cb[1] = ra[1];
  cb[2] = ra[2];
  L->top = cb + 3;
  SAVEPC();
  uint32_t code = vm_docall(L, cb, nvar);
  if (code) vm_handlecommanderror(L, code);
  L->top = L->ci->top;
  RELOAD();
  VmValue *first = ra + 2;
  cb = first + nvar;
  do {
    nvar--;
    first[nvar] = cb[nvar];
  } while (nvar > 0);
  if (vm_isnil(first)) {
    pc++;
  } else {
    dojump(pc);
    EDGE();
  }
  DISPATCH();
}

L_TFORPREP:
  ra = REG(INS.a);
  if (vm_istable(ra)) {
    ra[1] = ra[0];
    SAVEPC();
    const VmValue *next = vm_getstr(vm_hvalue(&CL()->g), vm_newstr(L, "next"));
    *ra = vm_isnil(next) ? G(L)->nextitem : *next;
  }
  pc += INS.x;
  DISPATCH();

L_SETLIST:
L_SETLISTO: {
  ra = REG(INS.a);
  unsigned bc = static_cast<unsigned>(INS.x);
  int n;
  if (INS.op == OP_SETLISTO) {
    n = static_cast<int>(L->top - ra) - 1;
    L->top = L->ci->top;
  } else {
    n = static_cast<int>(bc & (VM_FIELDS_PER_FLUSH - 1)) + 1;
  }
  SAVEPC();
  if (!vm_istable(ra)) vm_raise(L, ERR_BADBYTECODE);
  VmTable *h = vm_hvalue(ra);
  int start = static_cast<int>(bc & ~static_cast<unsigned>(VM_FIELDS_PER_FLUSH - 1));
  for (; n > 0; n--) *vm_setnum(L, h, start + n) = ra[n];
  DISPATCH();
}

L_CLOSE:
  ra = REG(INS.a);
  vm_closeupvals(L, ra);
  DISPATCH();

L_CLOSURE: {
  ra = REG(INS.a);
  VmProto *p = CL()->p->p[INS.x];
  int nup = p->nups;
  SAVEPC();
  VmClosure *ncl = vm_newLclosure(L, p, &CL()->g);
  // The pseudo-instructions that follow name the upvalues; read as loaded.
  const VmInstruction *word = CL()->p->code + (pc - CL()->p->ops);
  for (int j = 0; j < nup; j++, pc++, word++) {
    if (vm_getop(*word) == OP_GETUPVAL) ncl->upvals()[j] = CL()->upvals()[vm_getB(*word)];
    else {
      ncl->upvals()[j] = vm_findupval(L, base + vm_getB(*word));
      L->ci->state |= VM_CI_UPVALS;  // its return closes them
    }
  }
  vm_setclosure(ra, ncl);
  SAVEPC();
  vm_checkgc(L);
  RELOAD();
  DISPATCH();
}

L_SELF: {
  ra = REG(INS.a);
  VmValue rb = *RB();
  const VmValue *rc = RKC();
  SAVEPC();
  if (!vm_isstring(rc)) vm_raise(L, ERR_BADBYTECODE);
  ra[1] = rb;
  if (vm_istable(&rb)) {
    const VmValue *v = vm_getstr(vm_hvalue(&rb), vm_svalue(rc));
    if (!vm_isnil(v)) {
      *ra = *v;
      DISPATCH();
    }
  }
  vm_gettable_value(L, rb, *rc, vm_savestack(L, ra), VM_GET_NILONMISS, RB());
  RELOAD();
  DISPATCH();
}

#undef VM_LIKELY
#undef INS
#undef REG
#undef CL
#undef KST
#undef RB
#undef RKB
#undef RKC
#undef SAVEPC
#undef RELOAD
#undef REFRESH
#undef DISPATCH
#undef EDGE
}
