// Assembler text (.qasm) to chunk descriptions.
//
//   ; comment                      (to the end of the line, outside strings)
//   .func maxstack=4 params=1 vararg=0 upvals=1 source="@t.qms" line=3
//     .k "text\0\x41" 2.5 nil nan inf -0   constants, in order (k0, k1, ...)
//     .local name 0 5              local variable {name, first active, first dead}
//     .upval name                  upvalue name (upvals= defaults to their number)
//   top: LOADK 0 k0 @12            label, instruction, source line
//     .word 0x00000022             raw instruction word
//     .func ... .end               nested prototype (p0, p1, ... in order)
//   .end
//
// Mnemonics are the opcode names (MOVE .. SELF, any case). Operands by format:
//   ABC   "A B C"   kN = 250 + N; operands left out at the end are 0
//   ABx   "A kN", "A pN" (nested prototype) or "A number"
//   AsBx  "A label|number"
//   JMP   "label|number [gosub]"   (gosub: flag 2 in bits 30-31)
// Integers are decimal or 0x hexadecimal. Label offsets count from the instruction after
// the jump. Once any instruction of a function has "@N", every instruction gets a line
// (the one of the instruction before it when it has none, 0 at the start). CLOSURE takes
// its capture lines as ordinary instructions (MOVE 0 r / GETUPVAL 0 u).
// Nothing is checked beyond the text itself: unknown mnemonics and labels, malformed
// operands and values that do not fit their field are errors; everything else assembles.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "tools/chunkbuilder.h"

namespace qmtools {

struct AsmResult {
  std::optional<ChunkProto> proto;  // the main function, when assembling succeeded
  std::string error;                // "line 12: unknown mnemonic 'FOO'"
  int errorLine = 0;
};

AsmResult AssembleText(std::string_view text);
// Reads and assembles a file; an unreadable file gives "cannot read <path>" and line 0.
AsmResult AssembleFile(const std::string &path);

}  // namespace qmtools
