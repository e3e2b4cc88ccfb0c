// The chunk loader. Every count and size comes from the file, so arrays grow only as
// their items actually arrive: a lying count ends in ERR_UNEXPECTEDEOF, never in a huge
// allocation, and every array is initialised before anything can look at it.
#include "runtime/vm/vm_undump.h"

#include <cstring>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_decode.h"
#include "runtime/vm/vm_func.h"
#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_opcodes.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"

namespace {

struct LoadState {
  VmState *L;
  VmReader *z;
  VmBuffer *b;
  bool bigendian;  // the order byte was not 1
};

const uint8_t kHeaderSizes[8] = {4, 4, 4, 6, 8, 9, 9, 8};

void loadblock(LoadState *S, void *b, size_t n) {
  if (vm_zread(S->z, b, n) != 0) vm_raise(S->L, ERR_UNEXPECTEDEOF);
}

int loadbyte(LoadState *S) {
  int c = vm_zgetc(S->z);
  if (c == -1) vm_raise(S->L, ERR_UNEXPECTEDEOF);
  return c;
}

uint32_t loadword(LoadState *S) {
  uint8_t x[4];
  loadblock(S, x, 4);
  if (S->bigendian) return (uint32_t{x[0]} << 24) | (uint32_t{x[1]} << 16) | (uint32_t{x[2]} << 8) | x[3];
  return (uint32_t{x[3]} << 24) | (uint32_t{x[2]} << 16) | (uint32_t{x[1]} << 8) | x[0];
}

int32_t loadint(LoadState *S) {
  auto x = static_cast<int32_t>(loadword(S));
  if (x < 0) vm_raise(S->L, ERR_BADINTEGER);
  return x;
}

double loadnumber(LoadState *S) {
  uint8_t x[8];
  loadblock(S, x, 8);
  uint64_t u = 0;
  for (int i = 0; i < 8; i++) u |= uint64_t{x[S->bigendian ? 7 - i : i]} << (8 * i);
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

// A string item; nullptr for size 0. The body's last byte is the terminator.
VmString *loadstring(LoadState *S) {
  size_t size = loadword(S);
  if (size == 0) return nullptr;
  size_t got = 0;
  char *buf = nullptr;
  while (got < size) {
    size_t step = size - got;
    size_t cap = got < 65536 ? 65536 : got;
    if (step > cap) step = cap;
    buf = vm_zopenspace(S->L, S->b, got + step);
    loadblock(S, buf + got, step);
    got += step;
  }
  return vm_newlstr(S->L, buf, size - 1);
}

// A debug name: a missing one becomes the empty string rather than a null pointer.
VmString *loadname(LoadState *S) {
  VmString *s = loadstring(S);
  return s ? s : vm_newlstr(S->L, "", 0);
}

// Grows arr (of `size` initialised items) so that it can take item `count`, never past n.
template <typename T, typename Init>
void reserve_item(LoadState *S, T *&arr, int32_t &size, int32_t count, int32_t n, Init init) {
  if (count < size) return;
  int32_t ncap = size < 4 ? 4 : (size > n / 2 ? n : size * 2);
  if (ncap > n) ncap = n;
  arr = vm_reallocvector<T>(S->L, arr, static_cast<size_t>(size), static_cast<size_t>(ncap));
  for (int32_t i = size; i < ncap; i++) init(arr[i]);
  size = ncap;
}

void loadlines(LoadState *S, VmProto *f) {
  int32_t n = loadint(S);
  for (int32_t i = 0; i < n; i++) {
    reserve_item(S, f->lineinfo, f->sizelineinfo, i, n, [](int32_t &x) { x = 0; });
    f->lineinfo[i] = loadint(S);
  }
}

void loadlocals(LoadState *S, VmProto *f) {
  int32_t n = loadint(S);
  for (int32_t i = 0; i < n; i++) {
    reserve_item(S, f->locvars, f->sizelocvars, i, n, [](VmLocVar &v) { v = VmLocVar{nullptr, 0, 0}; });
    f->locvars[i].varname = loadname(S);
    f->locvars[i].startpc = loadint(S);
    f->locvars[i].endpc = loadint(S);
  }
}

void loadupvalues(LoadState *S, VmProto *f) {
  int32_t n = loadint(S);
  if (n != 0 && n != f->nups) vm_raise(S->L, ERR_BADUPVALUES);
  for (int32_t i = 0; i < n; i++) {
    reserve_item(S, f->upvalues, f->sizeupvalues, i, n, [](VmString *&s) { s = nullptr; });
    f->upvalues[i] = loadname(S);
  }
}

void loadconstants(LoadState *S, VmProto *f) {
  int32_t n = loadint(S);
  for (int32_t i = 0; i < n; i++) {
    reserve_item(S, f->k, f->sizek, i, n, [](VmValue &v) { vm_setnil(&v); });
    VmValue *o = &f->k[i];
    int t = loadbyte(S);
    switch (t) {
      case VM_TNUMBER: vm_setnumber(o, loadnumber(S)); break;
      case VM_TSTRING: {
        VmString *s = loadstring(S);
        if (!s) vm_raise(S->L, ERR_BADCONSTANT);
        vm_setstring(o, s);
        break;
      }
      case VM_TNIL: vm_setnil(o); break;
      default: vm_raise(S->L, ERR_BADCONSTANT);
    }
  }
}

VmProto *loadfunction(LoadState *S, VmString *parentsource, int depth);

void loadnested(LoadState *S, VmProto *f, int depth) {
  int32_t n = loadint(S);
  for (int32_t i = 0; i < n; i++) {
    reserve_item(S, f->p, f->sizep, i, n, [](VmProto *&p) { p = nullptr; });
    f->p[i] = loadfunction(S, f->source, depth + 1);
  }
}

void loadcode(LoadState *S, VmProto *f) {
  int32_t n = loadint(S);
  for (int32_t i = 0; i < n; i++) {
    reserve_item(S, f->code, f->sizecode, i, n, [](uint32_t &x) { x = vm_mkABC(OP_RETURN, 0, 1, 0); });
    f->code[i] = loadword(S);
  }
}

VmProto *loadfunction(LoadState *S, VmString *parentsource, int depth) {
  if (depth > VM_MAX_PROTO_DEPTH) vm_raise(S->L, ERR_BADBYTECODE);
  VmProto *f = vm_newproto(S->L);
  f->source = loadstring(S);
  if (f->source == nullptr) f->source = parentsource;
  f->lineDefined = loadint(S);
  f->nups = static_cast<uint8_t>(loadbyte(S));
  f->numparams = static_cast<uint8_t>(loadbyte(S));
  f->is_vararg = static_cast<uint8_t>(loadbyte(S));
  f->maxstacksize = static_cast<uint8_t>(loadbyte(S));
  loadlines(S, f);
  loadlocals(S, f);
  loadupvalues(S, f);
  loadconstants(S, f);
  loadnested(S, f, depth);
  loadcode(S, f);
  if (!vm_checkcode(f)) vm_raise(S->L, ERR_BADBYTECODE);
  vm_decodeproto(S->L, f);
  return f;
}

void loadheader(LoadState *S) {
  static const char signature[4] = {'\x1b', 'Q', 'M', 'B'};
  for (char c : signature)
    if (loadbyte(S) != static_cast<unsigned char>(c)) vm_raise(S->L, ERR_BADSIGNATURE);
  S->bigendian = loadbyte(S) != 1;
  for (uint8_t size : kHeaderSizes)
    if (loadbyte(S) != size) vm_raise(S->L, ERR_VMMISMATCH);
  double x = loadnumber(S);
  // Truncated to a 32-bit integer; anything out of range cannot be the test number.
  if (!(x > -2147483649.0 && x < 2147483648.0) || static_cast<int32_t>(x) != static_cast<int32_t>(VM_TESTNUMBER))
    vm_raise(S->L, ERR_UNKNUMFMT);
}

bool checkRK(const VmProto *pt, unsigned r) {
  return r < pt->maxstacksize || (vm_isK(r) && static_cast<int32_t>(r - VM_MAXSTACK) < pt->sizek);
}

bool jumptarget_ok(int pc, int offset, int n) {
  long dest = static_cast<long>(pc) + 1 + offset;
  return dest >= 0 && dest < n;
}

}  // namespace

VmProto *vm_undump(VmState *L, VmReader *z, VmBuffer *buff) {
  LoadState S{L, z, buff, false};
  loadheader(&S);
  const char *name = z->name ? z->name : "?";
  return loadfunction(&S, vm_newstr(L, name), 0);
}

int vm_checkcode(const VmProto *pt) {
  const int maxstack = pt->maxstacksize;
  const int n = pt->sizecode;
  if (maxstack > VM_MAXSTACK) return 0;
  if (pt->numparams + (pt->is_vararg ? 1 : 0) > maxstack) return 0;
  if (pt->sizelineinfo != n && pt->sizelineinfo != 0) return 0;
  if (n == 0 || vm_getop(pt->code[n - 1]) != OP_RETURN) return 0;
  for (int pc = 0; pc < n; pc++) {
    const VmInstruction i = pt->code[pc];
    const unsigned op = vm_getop(i);
    const unsigned a = vm_getA(i);
    // An opcode beyond the table does nothing when run; only its A field is held to the frame.
    if (op >= VM_NUM_OPCODES) {
      if (static_cast<int>(a) >= maxstack) return 0;
      continue;
    }
    const VmOpMode &mode = vm_opmodes[op];
    unsigned b = 0, c = 0;
    if (op != OP_JMP && static_cast<int>(a) >= maxstack) return 0;
    switch (mode.format) {
      case VM_FMT_ABC:
        b = vm_getB(i);
        c = vm_getC(i);
        if ((mode.flags & VM_OPF_BREG) && static_cast<int>(b) >= maxstack) return 0;
        if ((mode.flags & VM_OPF_BRK) && !checkRK(pt, b)) return 0;
        if ((mode.flags & VM_OPF_CRK) && !checkRK(pt, c)) return 0;
        break;
      case VM_FMT_ABX:
        b = vm_getBx(i);
        if ((mode.flags & VM_OPF_K) && static_cast<int32_t>(b) >= pt->sizek) return 0;
        break;
      case VM_FMT_ASBX:
      case VM_FMT_JMP24:
        break;
    }
    if (mode.flags & VM_OPF_TEST) {
      if (pc + 2 >= n) return 0;
      if (vm_getop(pt->code[pc + 1]) != OP_JMP) return 0;
    }
    switch (op) {
      case OP_LOADBOOL:
        if (c != 0 && pc + 2 >= n) return 0;
        break;
      case OP_GETUPVAL:
      case OP_SETUPVAL:
        if (b >= pt->nups) return 0;
        break;
      case OP_GETGLOBAL:
      case OP_SETGLOBAL:
        if (!vm_isstring(&pt->k[b])) return 0;
        break;
      case OP_CONCAT:
        if (!(c < VM_MAXSTACK && b < c)) return 0;
        break;
      case OP_JMP:
        if (!jumptarget_ok(pc, vm_getjump(i), n)) return 0;
        break;
      case OP_CALL:
      case OP_TAILCALL: {
        if (b != 0 && static_cast<int>(a + b - 1) >= maxstack) return 0;
        if (c == 0) {
          if (pc + 1 >= n) return 0;
          VmInstruction next = pt->code[pc + 1];
          unsigned nop = vm_getop(next);
          bool open = ((nop == OP_CALL || nop == OP_TAILCALL || nop == OP_RETURN) && vm_getB(next) == 0) ||
                      nop == OP_SETLISTO;
          if (!open) return 0;
        } else if (c >= 2 && static_cast<int>(a + c - 2) >= maxstack) {
          return 0;
        }
        break;
      }
      case OP_RETURN:
        // C = 1 returns from a Gosub and reads no register; every other RETURN hands back B - 1
        // values from A on, which must lie in the frame.
        if (c != 1 && b >= 2 && static_cast<int>(a + b - 2) >= maxstack) return 0;
        break;
      case OP_FORLOOP:
        if (!jumptarget_ok(pc, vm_getsBx(i), n) || static_cast<int>(a + 2) >= maxstack) return 0;
        break;
      case OP_TFORPREP:
        if (!jumptarget_ok(pc, vm_getsBx(i), n) || static_cast<int>(a + 1) >= maxstack) return 0;
        break;
      case OP_TFORLOOP:
        if (static_cast<int>(a + c + 5) >= maxstack) return 0;
        break;
      case OP_SETLIST:
        if (static_cast<int>(a + (b & (VM_FIELDS_PER_FLUSH - 1)) + 1) >= maxstack) return 0;
        break;
      case OP_CLOSURE: {
        if (static_cast<int32_t>(b) >= pt->sizep) return 0;
        int nup = pt->p[b]->nups;
        if (pc + nup >= n) return 0;
        for (int j = 1; j <= nup; j++) {
          unsigned cop = vm_getop(pt->code[pc + j]);
          if (cop != OP_MOVE && cop != OP_GETUPVAL) return 0;
        }
        break;
      }
      case OP_SELF:
        if (static_cast<int>(a + 1) >= maxstack) return 0;
        break;
      default:
        break;
    }
  }
  return 1;
}
