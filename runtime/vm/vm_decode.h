// The interpreter's form of a function's instructions, made once when the function is loaded.
//
// One record per instruction word, at the same index as in `code` (which stays as loaded: the
// dumper, debug information and Gosub offsets read it). Register operands are byte offsets
// into the frame and RK operands have the register-or-constant choice made, so a handler
// reads its operands without shifting, masking or comparing.
#pragma once
#include <cstdint>

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

// Fills p->ops from p->code; the code must have passed vm_checkcode.
void vm_decodeproto(VmState *L, VmProto *p);
