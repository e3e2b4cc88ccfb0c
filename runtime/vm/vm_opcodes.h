// Instruction words, opcodes and their modes.
//
// Word layout: OP bits 0-5, C bits 6-14, B bits 15-23, A bits 24-31; Bx is bits 6-23 and
// sBx is Bx - 131071. JMP has no A: its offset is bits 6-29 minus 8388607 and bits 30-31
// carry a flag (2 = Gosub).
#pragma once
#include <cstdint>

typedef uint32_t VmInstruction;

enum VmOpcode : uint8_t {
#define VM_OP(name, fmt, flags) OP_##name,
#include "runtime/vm/vm_opcodes.def"
#undef VM_OP
  VM_NUM_OPCODES
};
static_assert(VM_NUM_OPCODES == 43);

enum VmOpFormat : uint8_t { VM_FMT_ABC, VM_FMT_ABX, VM_FMT_ASBX, VM_FMT_JMP24 };
enum : uint8_t {
  VM_OPF_BREG = 1 << 0,
  VM_OPF_BRK = 1 << 1,
  VM_OPF_CRK = 1 << 2,
  VM_OPF_SETA = 1 << 3,
  VM_OPF_K = 1 << 4,
  VM_OPF_TEST = 1 << 5,
};

struct VmOpMode {
  const char *name;
  VmOpFormat format;
  uint8_t flags;
};
extern const VmOpMode vm_opmodes[VM_NUM_OPCODES];

constexpr int VM_SIZE_OP = 6, VM_SIZE_A = 8, VM_SIZE_B = 9, VM_SIZE_C = 9;
constexpr int VM_POS_C = 6, VM_POS_B = 15, VM_POS_A = 24, VM_POS_BX = 6;
constexpr uint32_t VM_MAXARG_BX = (1u << 18) - 1;
constexpr int32_t VM_MAXARG_SBX = 131071;
constexpr int32_t VM_JMP_BIAS = 8388607;
constexpr uint32_t VM_JMP_GOSUB = 2;
constexpr int VM_MAXSTACK = 250;          // registers per function; RK values from here name constants
constexpr int VM_FIELDS_PER_FLUSH = 32;   // SETLIST block size

inline unsigned vm_getop(VmInstruction i) { return i & 0x3F; }
inline unsigned vm_getA(VmInstruction i) { return i >> VM_POS_A; }
inline unsigned vm_getB(VmInstruction i) { return (i >> VM_POS_B) & 0x1FF; }
inline unsigned vm_getC(VmInstruction i) { return (i >> VM_POS_C) & 0x1FF; }
inline unsigned vm_getBx(VmInstruction i) { return (i >> VM_POS_BX) & VM_MAXARG_BX; }
inline int vm_getsBx(VmInstruction i) { return static_cast<int>(vm_getBx(i)) - VM_MAXARG_SBX; }
inline int vm_getjump(VmInstruction i) { return static_cast<int>((i >> 6) & 0xFFFFFF) - VM_JMP_BIAS; }
inline unsigned vm_getjumpflag(VmInstruction i) { return i >> 30; }

inline VmInstruction vm_mkABC(unsigned op, unsigned a, unsigned b, unsigned c) {
  return op | (c << VM_POS_C) | (b << VM_POS_B) | (a << VM_POS_A);
}
inline VmInstruction vm_mkABx(unsigned op, unsigned a, unsigned bx) {
  return op | (bx << VM_POS_BX) | (a << VM_POS_A);
}
inline VmInstruction vm_mkAsBx(unsigned op, unsigned a, int sbx) {
  return vm_mkABx(op, a, static_cast<unsigned>(sbx + VM_MAXARG_SBX));
}
inline VmInstruction vm_mkJMP(int offset, unsigned flag) {
  return OP_JMP | (static_cast<uint32_t>(offset + VM_JMP_BIAS) << 6) | (flag << 30);
}

inline bool vm_isK(unsigned rk) { return rk >= VM_MAXSTACK; }
