// Decoding a checked function's instruction words into the interpreter's records.
#include "runtime/vm/vm_decode.h"

#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_object.h"
#include "runtime/vm/vm_opcodes.h"

namespace {

constexpr unsigned kSlot = sizeof(VmValue);

uint16_t reg(unsigned r) { return static_cast<uint16_t>(r * kSlot); }

// An RK operand: a constant's byte offset with its bit in kbits, or a register's.
uint16_t rk(unsigned r, uint8_t kbit, uint8_t *kbits) {
  if (!vm_isK(r)) return reg(r);
  *kbits |= kbit;
  return static_cast<uint16_t>((r - VM_MAXSTACK) * kSlot);
}

VmOp decode(VmInstruction i) {
  VmOp d{};
  unsigned op = vm_getop(i);
  d.op = static_cast<uint8_t>(op);
  if (op >= VM_NUM_OPCODES) {
    d.op = VM_FORM_END;  // past the interpreter's own forms: an instruction that does nothing
    return d;
  }
  if (op == OP_JMP) {
    d.kbits = static_cast<uint8_t>(vm_getjumpflag(i));
    d.x = vm_getjump(i);
    return d;
  }
  unsigned a = vm_getA(i), b = vm_getB(i), c = vm_getC(i);
  d.a = reg(a);
  switch (op) {
    case OP_EQ:
    case OP_LT:
    case OP_LE:
      d.a = static_cast<uint16_t>(a);
      d.r.b = rk(b, VM_OPK_B, &d.kbits);
      d.r.c = rk(c, VM_OPK_C, &d.kbits);
      break;
    case OP_LOADK:
    case OP_GETGLOBAL:
    case OP_SETGLOBAL: d.x = static_cast<int32_t>(vm_getBx(i) * kSlot); break;
    case OP_CLOSURE:
    case OP_SETLIST:
    case OP_SETLISTO: d.x = static_cast<int32_t>(vm_getBx(i)); break;
    case OP_FORLOOP:
    case OP_TFORPREP: d.x = vm_getsBx(i); break;
    case OP_MOVE:
    case OP_LOADNIL:
    case OP_UNM:
    case OP_NOT:
    case OP_BNOT:
      d.r.b = reg(b);
      break;
    case OP_TEST:
      d.r.b = reg(b);
      d.r.c = static_cast<uint16_t>(c);
      break;
    case OP_GETTABLE:
    case OP_SELF:
      d.r.b = reg(b);
      d.r.c = rk(c, VM_OPK_C, &d.kbits);
      break;
    case OP_CONCAT:
      d.r.b = reg(b);
      d.r.c = reg(c);
      break;
    case OP_CALL:
    case OP_TAILCALL:  // B: the byte offset of the slot above the last argument, 0 for all up to the top
      d.r.b = b != 0 ? reg(a + b) : 0;
      d.r.c = static_cast<uint16_t>(c);
      break;
    default:
      if (vm_opmodes[op].flags & VM_OPF_BRK) {  // SETTABLE and the arithmetic
        d.r.b = rk(b, VM_OPK_B, &d.kbits);
        d.r.c = rk(c, VM_OPK_C, &d.kbits);
      } else {  // B and C as they are: counts, flags, upvalue indices
        d.r.b = static_cast<uint16_t>(b);
        d.r.c = static_cast<uint16_t>(c);
      }
      break;
  }
  return d;
}

// The fixed form of an instruction whose operand kinds have one, else the instruction itself.
// The arithmetic and comparison forms with a constant C take only a number constant, so that
// they need not ask its kind; any other constant keeps the general instruction.
VmOp fixform(VmOp d, const VmValue *k) {
  int rr, rk;
  bool numberk = true;  // the constant form needs a number constant
  switch (d.op) {
    case OP_ADD: rr = VM_FORM_ADD_RR, rk = VM_FORM_ADD_RK; break;
    case OP_SUB: rr = VM_FORM_SUB_RR, rk = VM_FORM_SUB_RK; break;
    case OP_MUL: rr = VM_FORM_MUL_RR, rk = VM_FORM_MUL_RK; break;
    case OP_EQ: rr = VM_FORM_EQ_RR, rk = VM_FORM_EQ_RK; break;
    case OP_LT: rr = VM_FORM_LT_RR, rk = VM_FORM_LT_RK; break;
    case OP_LE: rr = VM_FORM_LE_RR, rk = VM_FORM_LE_RK; break;
    case OP_GETTABLE: numberk = false, rr = VM_FORM_GETTABLE_RR, rk = VM_FORM_GETTABLE_RK; break;  // B is always a register
    case OP_SETTABLE: numberk = false, rr = VM_FORM_SETTABLE_RR, rk = VM_FORM_SETTABLE_RK; break;
    case OP_RETURN:
      if (d.r.b == 2 && d.r.c != 1) d.op = VM_FORM_RETURN_1;
      return d;
    default: return d;
  }
  if (d.kbits == 0) d.op = static_cast<uint8_t>(rr);
  else if (d.kbits == VM_OPK_C && (!numberk || vm_isnumber(&k[d.r.c / kSlot]))) d.op = static_cast<uint8_t>(rk);
  return d;
}

}  // namespace

void vm_decodeproto(VmState *L, VmProto *p) {
  p->ops = vm_newvector<VmOp>(L, static_cast<size_t>(p->sizecode));
  for (int32_t n = 0; n < p->sizecode; n++) p->ops[n] = fixform(decode(p->code[n]), p->k);
}
