#include "tools/listing.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_object.h"
#include "runtime/vm/vm_opcodes.h"

namespace qmtools {
namespace {

std::string Printf(const char *fmt, auto... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

std::string Quote(const char *data, size_t len) {
  std::string out = "\"";
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else if (c == 0) out += "\\0";
    else if (c < 0x20 || c >= 0x7F) out += Printf("\\x%02X", c);
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

std::string StringText(const VmString *s) { return s ? Quote(s->data(), s->len) : "none"; }

std::string NumberText(double n) {
  if (std::isnan(n)) return "nan";
  if (std::isinf(n)) return n < 0 ? "-inf" : "inf";
  if (n == 0 && std::signbit(n)) return "-0";
  return Printf("%.17g", n);
}

std::string ConstantText(const VmValue &k) {
  switch (k.tt) {
    case VM_TNIL: return "nil";
    case VM_TNUMBER: return NumberText(k.v.n);
    case VM_TSTRING: return StringText(vm_svalue(&k));
    default: return Printf("<tag %d>", static_cast<int>(k.tt));
  }
}

std::string RKText(unsigned v, bool rk) { return rk && vm_isK(v) ? Printf("k%u", v - VM_MAXSTACK) : Printf("%u", v); }

std::string InstructionText(const VmProto *p, int pc) {
  uint32_t i = p->code[pc];
  unsigned op = vm_getop(i);
  if (op >= VM_NUM_OPCODES) return Printf("%-9s 0x%08X", ".word", i);
  const VmOpMode &m = vm_opmodes[op];
  std::string s = Printf("%-9s ", m.name);
  switch (m.format) {
    case VM_FMT_ABC:
      s += Printf("%u ", vm_getA(i)) + RKText(vm_getB(i), m.flags & VM_OPF_BRK) + " " +
           RKText(vm_getC(i), m.flags & VM_OPF_CRK);
      break;
    case VM_FMT_ABX:
      if (m.flags & VM_OPF_K) s += Printf("%u k%u", vm_getA(i), vm_getBx(i));
      else if (op == OP_CLOSURE) s += Printf("%u p%u", vm_getA(i), vm_getBx(i));
      else s += Printf("%u %u", vm_getA(i), vm_getBx(i));
      break;
    case VM_FMT_ASBX:
      s += Printf("%u %d", vm_getA(i), vm_getsBx(i)) + Printf("  ; to %d", pc + 1 + vm_getsBx(i));
      break;
    case VM_FMT_JMP24:
      s += Printf("%d", vm_getjump(i));
      if (vm_getjumpflag(i) == VM_JMP_GOSUB) s += " gosub";
      else if (vm_getjumpflag(i) != 0) s += Printf(" flag %u", vm_getjumpflag(i));
      s += Printf("  ; to %d", pc + 1 + vm_getjump(i));
      break;
  }
  if ((m.flags & VM_OPF_K) && vm_getBx(i) < static_cast<unsigned>(p->sizek))
    s += "  ; " + ConstantText(p->k[vm_getBx(i)]);
  return s;
}

}  // namespace

std::string ListProto(const VmProto *p, int indent) {
  const std::string pad(static_cast<size_t>(indent), ' ');
  std::string out = pad + "function " + StringText(p->source) +
                    Printf(" line %d: upvalues %u, params %u, vararg %u, maxstack %u\n", p->lineDefined,
                           p->nups, p->numparams, p->is_vararg, p->maxstacksize);
  out += pad + Printf("  constants %d\n", p->sizek);
  for (int i = 0; i < p->sizek; ++i) out += pad + Printf("    k%d = ", i) + ConstantText(p->k[i]) + "\n";
  out += pad + Printf("  locals %d\n", p->sizelocvars);
  for (int i = 0; i < p->sizelocvars; ++i)
    out += pad + "    " + StringText(p->locvars[i].varname) +
           Printf(" %d %d\n", p->locvars[i].startpc, p->locvars[i].endpc);
  out += pad + Printf("  upvalue names %d\n", p->sizeupvalues);
  for (int i = 0; i < p->sizeupvalues; ++i) out += pad + Printf("    u%d ", i) + StringText(p->upvalues[i]) + "\n";
  out += pad + Printf("  code %d, line info %d\n", p->sizecode, p->sizelineinfo);
  for (int pc = 0; pc < p->sizecode; ++pc) {
    std::string line = pc < p->sizelineinfo ? Printf("@%-5d", p->lineinfo[pc]) : std::string(6, ' ');
    out += pad + Printf("    [%3d] ", pc) + line + " " + InstructionText(p, pc) + "\n";
  }
  out += pad + Printf("  functions %d\n", p->sizep);
  for (int i = 0; i < p->sizep; ++i) {
    out += pad + Printf("  p%d:\n", i);
    out += ListProto(p->p[i], indent + 4);
  }
  return out;
}

std::string LoadErrorText(uint32_t code) {
  const char *name = qm_error_name(code);
  return Printf("error %u %s", code, name ? name : "?");
}

ChunkListing ListChunk(const void *data, size_t size, const char *chunkname) {
  ChunkListing result;
  VmState *L = vm_open();
  if (!L) {
    result.error = ERR_MEM;
    result.text = LoadErrorText(ERR_MEM);
    return result;
  }
  result.error = vm_loadbuffer(L, static_cast<const char *>(data), size, chunkname);
  if (result.error != 0) {
    result.text = LoadErrorText(result.error);
  } else {
    const uint8_t *h = static_cast<const uint8_t *>(data);
    double test;
    std::memcpy(&test, h + 13, sizeof test);
    if (h[4] != 1) {  // byte-reversed: show the test number as the loader read it
      uint8_t r[8];
      for (int i = 0; i < 8; ++i) r[i] = h[20 - i];
      std::memcpy(&test, r, sizeof test);
    }
    result.text = Printf("chunk %s: %zu bytes, byte order %u%s, sizes %u %u %u %u %u %u %u %u, test number %.17g\n",
                         chunkname, size, h[4], h[4] == 1 ? "" : " (reversed)", h[5], h[6], h[7], h[8], h[9],
                         h[10], h[11], h[12], test);
    result.text += ListProto(vm_toproto(L, -1));
  }
  vm_close(L);
  return result;
}

}  // namespace qmtools
