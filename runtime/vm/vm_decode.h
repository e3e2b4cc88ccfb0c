// The interpreter's form of a function's instructions, made once when the function is loaded.
//
// One record per instruction word, at the same index as in `code` (which stays as loaded: the
// dumper, debug information and Gosub offsets read it). Register operands are byte offsets
// into the frame and RK operands have the register-or-constant choice made, so a handler
// reads its operands without shifting, masking or comparing.
#pragma once
#include <cstdint>

#include "runtime/vm/vm_opcodes.h"

struct VmProto;
struct VmState;

// Bits of `kbits`.
enum : uint8_t {
  VM_OPK_B = 1 << 0,  // B is a byte offset into the constants, not the frame
  VM_OPK_C = 1 << 1,  // C likewise
};

struct VmOp {
  uint8_t op;
  uint8_t kbits;  // JMP: its flag (2 = Gosub)
  uint16_t a;     // byte offset of register A; EQ, LT and LE: A itself, the wanted result
  union {
    struct {
      uint16_t b, c;  // byte offsets of registers or constants, or the plain field
    } r;
    int32_t x;  // Bx (byte offset for constants), sBx, or the JMP offset
  };
};
static_assert(sizeof(VmOp) == 8);

// The interpreter's own forms of the commonest arithmetic, comparisons and table accesses, with
// the kinds of their operands fixed when the function is loaded: _RR reads registers B and C, _RK
// register B and constant C (a number constant for the arithmetic and the comparisons). RETURN_1 is the return of one value (B 2, not a Gosub return). They
// are numbered after the opcodes and exist only in `ops`.
#define VM_FIXED_FORMS(X)                                                                                      \
  X(ADD_RR) X(ADD_RK) X(SUB_RR) X(SUB_RK) X(MUL_RR) X(MUL_RK) X(EQ_RR) X(EQ_RK) X(LT_RR) X(LT_RK) X(LE_RR) \
  X(LE_RK) X(GETTABLE_RR) X(GETTABLE_RK) X(SETTABLE_RR) X(SETTABLE_RK) X(RETURN_1)

enum : uint8_t {
  VM_FORM_BEFORE = VM_NUM_OPCODES - 1,
#define VM_FORM_ENUM(name) VM_FORM_##name,
  VM_FIXED_FORMS(VM_FORM_ENUM)
#undef VM_FORM_ENUM
  VM_FORM_END
};

// Fills p->ops from p->code; the code must have passed vm_checkcode.
void vm_decodeproto(VmState *L, VmProto *p);
