// The interpreter's decoded instructions: one per word, operands pre-scaled, RK choice made.
#include "runtime/vm/vm_decode.h"

#include <gtest/gtest.h>

#include "runtime/vm/vm_object.h"
#include "runtime/vm/vm_opcodes.h"
#include "tests/runtime/vm/vm_test_util.h"

namespace {

constexpr uint16_t S = sizeof(VmValue);

struct Case {
  const char *name;
  const char *line;  // the first instruction of a function with 8 registers, constants 1 2 "s" and an upvalue
  uint8_t op;
  uint8_t kbits;
  uint16_t a;
  uint16_t b, c;  // checked when `x` is not
  bool useX;
  int32_t x;
};

const Case kCases[] = {
    {"move: registers as byte offsets", "MOVE 3 5", OP_MOVE, 0, 3 * S, 5 * S, 0, false, 0},
    {"loadk: constant offset", "LOADK 2 k1", OP_LOADK, 0, 2 * S, 0, 0, true, 1 * S},
    {"loadbool: plain fields", "LOADBOOL 1 1 1", OP_LOADBOOL, 0, 1 * S, 1, 1, false, 0},
    {"getupval: plain index", "GETUPVAL 4 0", OP_GETUPVAL, 0, 4 * S, 0, 0, false, 0},
    {"gettable: register key", "GETTABLE 1 2 3", VM_FORM_GETTABLE_RR, 0, 1 * S, 2 * S, 3 * S, false, 0},
    {"gettable: constant key", "GETTABLE 1 2 k1", VM_FORM_GETTABLE_RK, VM_OPK_C, 1 * S, 2 * S, 1 * S, false, 0},
    {"settable: constant value", "SETTABLE 0 5 k0", VM_FORM_SETTABLE_RK, VM_OPK_C, 0, 5 * S, 0, false, 0},
    {"settable: constant key", "SETTABLE 0 k1 5", OP_SETTABLE, VM_OPK_B, 0, 1 * S, 5 * S, false, 0},
    {"add: constant and register", "ADD 7 k1 6", OP_ADD, VM_OPK_B, 7 * S, 1 * S, 6 * S, false, 0},
    {"add: two registers, fixed form", "ADD 7 5 6", VM_FORM_ADD_RR, 0, 7 * S, 5 * S, 6 * S, false, 0},
    {"mul: register and constant, fixed form", "MUL 7 5 k1", VM_FORM_MUL_RK, VM_OPK_C, 7 * S, 5 * S, 1 * S, false, 0},
    {"add: a string constant keeps the general form", "ADD 7 5 k2", OP_ADD, VM_OPK_C, 7 * S, 5 * S, 2 * S, false, 0},
    {"eq: a string constant keeps the general form", "EQ 0 5 k2", OP_EQ, VM_OPK_C, 0, 5 * S, 2 * S, false, 0},
    {"lt: register and number constant, fixed form", "LT 1 5 k1", VM_FORM_LT_RK, VM_OPK_C, 1, 5 * S, 1 * S, false, 0},
    {"gettable: a string key keeps the fixed form", "GETTABLE 1 2 k2", VM_FORM_GETTABLE_RK, VM_OPK_C, 1 * S, 2 * S, 2 * S, false, 0},
    {"sub: two constants", "SUB 7 k0 k1", OP_SUB, VM_OPK_B | VM_OPK_C, 7 * S, 0, 1 * S, false, 0},
    {"div: no fixed forms", "DIV 7 5 6", OP_DIV, 0, 7 * S, 5 * S, 6 * S, false, 0},
    {"eq: A is the wanted result", "EQ 1 2 k0", VM_FORM_EQ_RK, VM_OPK_C, 1, 2 * S, 0, false, 0},
    {"lt: A zero", "LT 0 k1 3", OP_LT, VM_OPK_B, 0, 1 * S, 3 * S, false, 0},
    {"le: two registers, fixed form", "LE 1 2 3", VM_FORM_LE_RR, 0, 1, 2 * S, 3 * S, false, 0},
    {"test: C plain", "TEST 2 3 1", OP_TEST, 0, 2 * S, 3 * S, 1, false, 0},
    {"concat: registers", "CONCAT 0 2 4", OP_CONCAT, 0, 0, 2 * S, 4 * S, false, 0},
    {"call: the slot above the arguments as a byte offset, results plain", "CALL 2 3 2", OP_CALL, 0, 2 * S, 5 * S, 2, false, 0},
    {"call: arguments up to the top", "CALL 2 0 1", OP_CALL, 0, 2 * S, 0, 1, false, 0},
    {"return: counts plain", "RETURN 1 3", OP_RETURN, 0, 1 * S, 3, 0, false, 0},
    {"return: one value, fixed form", "RETURN 1 2", VM_FORM_RETURN_1, 0, 1 * S, 2, 0, false, 0},
    {"return: from Gosub, never the fixed form", "RETURN 1 2 1", OP_RETURN, 0, 1 * S, 2, 1, false, 0},
};

TEST(Decode, OneInstruction) {
  for (const Case &c : kCases) {
    VmFixture f;
    std::string text = std::string(".func maxstack=8 upvals=1\n .k 1 2 \"s\"\n ") + c.line + "\n JMP 0\n RETURN 0 1\n.end\n";
    qmtools::AsmResult r = qmtools::AssembleText(text);
    ASSERT_TRUE(r.proto) << c.name << ": " << r.error;
    std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
    ASSERT_EQ(vm_loadbuffer(f.L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), "=t"), 0u) << c.name;
    const VmProto *p = vm_clvalue(f.L->top - 1)->p;
    ASSERT_NE(p->ops, nullptr) << c.name;
    const VmOp &d = p->ops[0];
    EXPECT_EQ(d.op, c.op) << c.name;
    EXPECT_EQ(d.kbits, c.kbits) << c.name;
    EXPECT_EQ(d.a, c.a) << c.name;
    if (c.useX) {
      EXPECT_EQ(d.x, c.x) << c.name;
    } else {
      EXPECT_EQ(d.r.b, c.b) << c.name;
      EXPECT_EQ(d.r.c, c.c) << c.name;
    }
    EXPECT_EQ(p->ops[2].op, OP_RETURN) << c.name;
  }
}

// Jumps keep their offset in instructions and the Gosub flag; loops their signed offset.
TEST(Decode, JumpsAndLoops) {
  VmFixture f;
  std::string text =
      ".func maxstack=8\n .k 1\n"
      "top: LOADK 0 k0\n"
      " LOADK 1 k0\n"
      " LOADK 2 k0\n"
      " JMP done\n"
      "body: FORLOOP 0 body\n"
      " JMP top\n"
      " JMP done gosub\n"
      "done: RETURN 0 1\n.end\n";
  qmtools::AsmResult r = qmtools::AssembleText(text);
  ASSERT_TRUE(r.proto) << r.error;
  std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
  ASSERT_EQ(vm_loadbuffer(f.L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), "=t"), 0u);
  const VmProto *p = vm_clvalue(f.L->top - 1)->p;
  ASSERT_EQ(p->sizecode, 8);
  EXPECT_EQ(p->ops[3].op, OP_JMP);
  EXPECT_EQ(p->ops[3].x, 3);
  EXPECT_EQ(p->ops[3].kbits, 0);
  EXPECT_EQ(p->ops[4].op, OP_FORLOOP);
  EXPECT_EQ(p->ops[4].x, -1);
  EXPECT_EQ(p->ops[5].x, -6);
  EXPECT_EQ(p->ops[6].x, 0);
  EXPECT_EQ(p->ops[6].kbits, VM_JMP_GOSUB);
  for (int n = 0; n < p->sizecode; n++) EXPECT_EQ(p->ops[n].op, vm_getop(p->code[n])) << n;
}

}  // namespace
