#include "runtime/vm/vm_opcodes.h"

namespace {
constexpr uint8_t BREG = VM_OPF_BREG, BRK = VM_OPF_BRK, CRK = VM_OPF_CRK, SETA = VM_OPF_SETA,
                  K = VM_OPF_K, TEST = VM_OPF_TEST;
constexpr VmOpFormat ABC = VM_FMT_ABC, ABX = VM_FMT_ABX, ASBX = VM_FMT_ASBX, JMP24 = VM_FMT_JMP24;
}  // namespace

const VmOpMode vm_opmodes[VM_NUM_OPCODES] = {
#define VM_OP(name, fmt, flags) {#name, fmt, static_cast<uint8_t>(flags)},
#include "runtime/vm/vm_opcodes.def"
#undef VM_OP
};
