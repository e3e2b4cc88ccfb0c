// The assembler text: operand encodings, labels, nesting, line info and error reports.
#include "tools/qmasm_lib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "runtime/vm/vm_opcodes.h"
#include "tools/chunkbuilder.h"

namespace qmtools {
namespace {

ChunkProto Assemble(const std::string &text) {
  AsmResult r = AssembleText(text);
  EXPECT_TRUE(r.proto) << r.error;
  return r.proto ? *r.proto : ChunkProto{};
}

std::vector<uint8_t> ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// golden.qmb is written by tests/runtime/vm/golden/make_golden.py, golden.qasm by hand.
TEST(Qmasm, GoldenChunkIsByteIdentical) {
  const std::string dir = QM_SOURCE_DIR "/tests/runtime/vm/golden/";
  std::vector<uint8_t> text = ReadFile(dir + "golden.qasm");
  ChunkProto p = Assemble(std::string(text.begin(), text.end()));
  EXPECT_EQ(BuildChunk(p), ReadFile(dir + "golden.qmb"));
}

TEST(Qmasm, OperandEncodings) {
  ChunkProto p = Assemble(R"(
.func maxstack=10
  .k "x"
      MOVE 1 010           ; decimal, not octal
      ADD 3 k0 k4          ; RK operands are 250 + N
      SETTABLE 0 k261 0x1FF
      GETGLOBAL 2 k7
      CLOSURE 1 p3
      SETLIST 4 33
      LOADBOOL 1 1 1
      RETURN 0
      CALL 1 0 0 @5
      .word 0xFFFFFFFF
.end
)");
  const std::vector<uint32_t> expected = {
      vm_mkABC(OP_MOVE, 1, 10, 0),      vm_mkABC(OP_ADD, 3, 250, 254),
      vm_mkABC(OP_SETTABLE, 0, 511, 511), vm_mkABx(OP_GETGLOBAL, 2, 7),
      vm_mkABx(OP_CLOSURE, 1, 3),       vm_mkABx(OP_SETLIST, 4, 33),
      vm_mkABC(OP_LOADBOOL, 1, 1, 1),   vm_mkABC(OP_RETURN, 0, 0, 0),
      vm_mkABC(OP_CALL, 1, 0, 0),       0xFFFFFFFF,
  };
  EXPECT_EQ(p.code, expected);
}

// Offsets count from the instruction after the jump; forward and backward labels; the
// Gosub flag sits in bits 30-31 of JMP only.
TEST(Qmasm, LabelsAndGosub) {
  ChunkProto p = Assemble(R"(
.func maxstack=10
top:  JMP end gosub        ; 0
      TFORPREP 2 tail      ; 1
body:                      ; 2 (label on a line of its own)
      FORLOOP 0 body       ; 2
      FORLOOP 0 -5         ; 3
tail: TFORLOOP 2 0 1       ; 4
      JMP top              ; 5
      JMP 7 gosub          ; 6
end:  RETURN 0 1 1         ; 7
.end
)");
  ASSERT_EQ(p.code.size(), 8u);
  EXPECT_EQ(p.code[0], vm_mkJMP(6, VM_JMP_GOSUB));
  EXPECT_EQ(vm_getjump(p.code[0]), 6);
  EXPECT_EQ(vm_getjumpflag(p.code[0]), 2u);
  EXPECT_EQ(p.code[1], vm_mkAsBx(OP_TFORPREP, 2, 2));
  EXPECT_EQ(p.code[2], vm_mkAsBx(OP_FORLOOP, 0, -1));
  EXPECT_EQ(vm_getsBx(p.code[2]), -1);
  EXPECT_EQ(p.code[3], vm_mkAsBx(OP_FORLOOP, 0, -5));
  EXPECT_EQ(p.code[5], vm_mkJMP(-6, 0));
  EXPECT_EQ(vm_getjumpflag(p.code[5]), 0u);
  EXPECT_EQ(p.code[6], vm_mkJMP(7, VM_JMP_GOSUB));
}

TEST(Qmasm, FunctionFieldsAndNesting) {
  ChunkProto p = Assemble(R"(
.func source="@main\x41.qms" line=0 params=2 vararg=1 maxstack=5
  .k nil -0 nan inf -inf 0x10 1e3 "a\0b\"\\\n\t"
  .local "two words" 0 3
      CLOSURE 0 p1
  .func line=4 maxstack=3
    .upval a
    .upval "b"
    .func source="@other" upvals=7 line=6
        RETURN 0 1
    .end
        RETURN 0 1
  .end
  .func
      RETURN 0 1
  .end
      RETURN 0 1
.end
)");
  EXPECT_EQ(p.source, "@mainA.qms");
  EXPECT_EQ(p.numparams, 2);
  EXPECT_EQ(p.isVararg, 1);
  EXPECT_EQ(p.maxStack, 5);
  EXPECT_EQ(p.nups, 0);
  ASSERT_EQ(p.constants.size(), 8u);
  EXPECT_EQ(p.constants[0].type, KTYPE_NIL);
  EXPECT_TRUE(p.constants[1].number == 0 && std::signbit(p.constants[1].number));
  EXPECT_TRUE(std::isnan(p.constants[2].number));
  EXPECT_EQ(p.constants[3].number, INFINITY);
  EXPECT_EQ(p.constants[4].number, -INFINITY);
  EXPECT_EQ(p.constants[5].number, 16);
  EXPECT_EQ(p.constants[6].number, 1000);
  EXPECT_EQ(p.constants[7].type, KTYPE_STRING);
  EXPECT_EQ(p.constants[7].str, std::string("a\0b\"\\\n\t", 7));
  ASSERT_EQ(p.locals.size(), 1u);
  EXPECT_EQ(p.locals[0].name, "two words");
  EXPECT_EQ(p.locals[0].end, 3);
  EXPECT_EQ(p.code.size(), 2u);  // nested bodies do not add to the parent's code

  ASSERT_EQ(p.protos.size(), 2u);
  const ChunkProto &p0 = p.protos[0];
  EXPECT_FALSE(p0.source);
  EXPECT_EQ(p0.lineDefined, 4);
  EXPECT_EQ(p0.nups, 2);  // from the names
  EXPECT_EQ(p0.upvalueNames, (std::vector<ChunkString>{"a", "b"}));
  EXPECT_EQ(p0.code.size(), 1u);
  ASSERT_EQ(p0.protos.size(), 1u);
  EXPECT_EQ(p0.protos[0].source, "@other");
  EXPECT_EQ(p0.protos[0].nups, 7);  // given, names or not
  EXPECT_TRUE(p0.protos[0].upvalueNames.empty());
  EXPECT_EQ(p.protos[1].maxStack, 2);  // the default
  EXPECT_TRUE(p.protos[1].protos.empty());
}

TEST(Qmasm, LineInfoOnlyWhenGivenThenForEveryInstruction) {
  ChunkProto none = Assemble(".func\n MOVE 0 0\n RETURN 0 1\n.end\n");
  EXPECT_TRUE(none.lineInfo.empty());

  ChunkProto some = Assemble(".func\n MOVE 0 0\n MOVE 0 0 @7\n MOVE 0 0\n .word 0 @9\n RETURN 0 1 @2\n.end\n");
  EXPECT_EQ(some.lineInfo, (std::vector<int32_t>{0, 7, 7, 9, 2}));
}

TEST(Qmasm, ErrorsNameTheLine) {
  struct Case {
    const char *text;
    int line;
    const char *message;
  } cases[] = {
      {".func\n  FROB 1 2\n.end", 2, "unknown mnemonic 'FROB'"},
      {".func\n JMP nowhere\n RETURN 0 1\n.end", 2, "unknown label 'nowhere'"},
      {".func\n FORLOOP 0 gone\n.end", 2, "unknown label 'gone'"},
      {".func\nx: MOVE 0 0\nx: MOVE 0 0\n.end", 3, "label 'x' defined twice"},
      {".func\n.func\n.end\n", 1, ".func without .end"},
      {".func\n.end\n.func\n.end", 3, "a second main function"},
      {"MOVE 0 0", 1, "'MOVE' outside .func"},
      {".func\n.end\n.end", 3, "'.end' outside .func"},
      {"; only a comment\n", 2, "no .func in the text"},
      {".func\n MOVE 256 0\n.end", 2, "A 256 out of range 0..255"},
      {".func\n MOVE 0 x\n.end", 2, "bad operand 'x'"},
      {".func\n ADD 0 k262 0\n.end", 2, "constant k262 out of range for an RK operand"},
      {".func\n MOVE 0 1 2 3\n.end", 2, "MOVE takes 1..3 operands"},
      {".func\n LOADK 0\n.end", 2, "LOADK takes 2 operands"},
      {".func\n LOADK 0 k262144\n.end", 2, "Bx k262144 out of range"},
      {".func\n JMP 1 call\n.end", 2, "expected 'gosub', got 'call'"},
      {".func\n .k \"abc\n.end", 2, "unterminated string"},
      {".func\n .k \"\\q\"\n.end", 2, "unknown escape \\q"},
      {".func\n .k \"\\x4\"\n.end", 2, "\\x needs two hexadecimal digits"},
      {".func\n .k 12abc\n.end", 2, "bad constant '12abc'"},
      {".func maxstack=300\n.end", 1, "maxstack 300 out of range 0..255"},
      {".func size=3\n.end", 1, "unknown .func key 'size'"},
      {".func\n .const 1\n.end", 2, "unknown directive '.const'"},
      {".func\n .local x 1\n.end", 2, ".local needs: name start end"},
  };
  for (const Case &c : cases) {
    AsmResult r = AssembleText(c.text);
    EXPECT_FALSE(r.proto) << c.text;
    EXPECT_EQ(r.errorLine, c.line) << c.text;
    EXPECT_EQ(r.error, "line " + std::to_string(c.line) + ": " + c.message) << c.text;
  }
}

// No checking beyond the text: chunks the loader must reject still assemble.
TEST(Qmasm, AssemblesWhatTheLoaderWouldReject) {
  ChunkProto p = Assemble(".func maxstack=251 params=9 upvals=3\n GETUPVAL 200 9\n LOADK 0 k99\n.end\n");
  EXPECT_EQ(p.maxStack, 251);
  EXPECT_EQ(p.nups, 3);
  EXPECT_TRUE(p.upvalueNames.empty());
  EXPECT_EQ(p.code, (std::vector<uint32_t>{vm_mkABC(OP_GETUPVAL, 200, 9, 0), vm_mkABx(OP_LOADK, 0, 99)}));
}

}  // namespace
}  // namespace qmtools
