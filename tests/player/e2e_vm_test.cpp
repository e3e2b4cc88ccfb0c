// The script machine as the player runs it: damaged bytecode refused with its message, errors
// that name the value and the line, calls through metatables, the key nil, extra arguments.
#include <algorithm>

#include "tests/player/e2e_util.h"

namespace {

// Runs an applet made of the chunk; returns the player's result (requester text on stderr).
PlayerResult RunChunk(PlayerDir &d, const std::vector<uint8_t> &chunk) {
  qmtools::WriteBytes(d / "t.qma", qmtools::MakeSimpleApplet(chunk, "t.qms", 20));
  return d.Run({"-QUIET", d / "t.qma"});
}

PlayerResult RunScript(PlayerDir &d, const std::string &text) { return RunChunk(d, ChunkOf(text)); }

}  // namespace

TEST(E2eVm, DamagedBytecodeIsRefusedWithItsMessage) {
  // Byte offsets in this chunk: header 0-20, source size 21-24 and "t.qms" 25-30, line
  // defined 31-34, upvalues 35, parameters 36, vararg 37, stack size 38, line count 39-42,
  // local count 43-46, upvalue-name count 47-50, constant count 51-54, first constant type 55.
  const std::vector<uint8_t> good = ChunkOf(
      ".func source=\"t.qms\" maxstack=2\n  .k 1\n      LOADK 0 k0\n      RETURN 0 1\n.end\n");
  ASSERT_EQ(good.size(), 80u);
  ASSERT_EQ(good[55], 3);
  struct Case {
    const char *name;
    std::function<void(std::vector<uint8_t> &)> damage;
    const char *message;
  } cases[] = {
      {"signature", [](auto &b) { b[0] = 0x1C; }, "Bad bytecode signature!"},
      {"script text", [](auto &b) { b.assign({'x', ' ', '=', ' ', '1', '\n'}); }, "Bad bytecode signature!"},
      {"field B of 8 bits", [](auto &b) { b[10] = 8; }, "Virtual machine data type mismatch!"},
      {"test number negated", [](auto &b) { b[20] ^= 0x80; }, "Unknown number format in bytecode!"},
      {"order byte 0 on a little-endian chunk", [](auto &b) { b[4] = 0; }, "Unknown number format in bytecode!"},
      {"negative line defined", [](auto &b) { b[34] = 0x80; }, "Bad integer in bytecode!"},
      {"upvalue names without upvalues", [](auto &b) { b[47] = 1; }, "Bad upvalues in bytecode!"},
      {"constant of type boolean", [](auto &b) { b[55] = 1; }, "Bad constant type in bytecode!"},
      {"stack size 251", [](auto &b) { b[38] = 251; }, "Bad bytecode!"},
      {"cut inside the constants", [](auto &b) { b.resize(60); }, "Unexpected end of file!"},
      {"cut inside the header", [](auto &b) { b.resize(9); }, "Unexpected end of file!"},
  };
  PlayerDir d;
  for (const Case &c : cases) {
    std::vector<uint8_t> chunk = good;
    c.damage(chunk);
    PlayerResult r = RunChunk(d, chunk);
    EXPECT_EQ(r.status, 1) << c.name;
    // Refused before any instruction ran: there is no line to name.
    EXPECT_EQ(r.err.rfind(std::string(c.message) + "\nFile: ", 0), 0u) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find("(current line: -1)"), std::string::npos) << c.name << ": " << r.err;
  }
  PlayerResult r = RunChunk(d, good);
  EXPECT_EQ(r.status, 0) << r.err;

  // The same chunk with the order byte 0 and every item reversed loads and runs alike; a
  // reversed chunk that still says 1 is refused at its test number.
  std::vector<uint8_t> swapped = good;
  swapped[4] = 0;
  auto reverse = [&](size_t at, size_t n) { std::reverse(swapped.begin() + at, swapped.begin() + at + n); };
  reverse(13, 8);  // test number
  for (size_t at : {21, 31, 39, 43, 47, 51, 64, 68, 72, 76}) reverse(at, 4);
  reverse(56, 8);  // the constant 1
  r = RunChunk(d, swapped);
  EXPECT_EQ(r.status, 0) << r.err;
  swapped[4] = 1;
  r = RunChunk(d, swapped);
  EXPECT_EQ(r.err.rfind("Unknown number format in bytecode!\n", 0), 0u) << r.err;
}

TEST(E2eVm, ErrorsNameTheValueAndTheLine) {
  struct Case {
    const char *name;
    const char *program;
    const char *report;
  } cases[] = {
      {"calling a number in a global", R"(
.func source="t.qms" maxstack=4
  .k "x" 5
      LOADK 0 k1 @3
      SETGLOBAL 0 k0 @4
      GETGLOBAL 1 k0 @7
      CALL 1 1 1 @7
      RETURN 0 1 @8
.end
)",
       "Function x() not found!\nFile: t.qms (current line: 7)\n"},
      {"calling a number in a local, through a copy", R"(
.func source="t.qms" maxstack=4
  .k 5
  .local y 1 4
      LOADK 0 k0 @2
      MOVE 1 0 @3
      CALL 1 1 1 @5
      RETURN 0 1 @8
.end
)",
       "Function y() not found!\nFile: t.qms (current line: 5)\n"},
      {"calling a value without a name", R"(
.func source="t.qms" maxstack=4
  .k 5
      LOADK 1 k0 @2
      CALL 1 1 1 @3
      RETURN 0 1 @8
.end
)",
       "Function ?\?() not found!\nFile: t.qms (current line: 3)\n"},
      {"reading a field of a number", R"(
.func source="t.qms" maxstack=4
  .k "t" 5 "z"
      LOADK 0 k1 @2
      SETGLOBAL 0 k0 @2
      GETGLOBAL 1 k0 @4
      GETTABLE 2 1 k2 @6
      RETURN 0 1 @8
.end
)",
       "Table t{} not found!\nFile: t.qms (current line: 6)\n"},
      {"writing a field of a number", R"(
.func source="t.qms" maxstack=4
  .k "t" 5 "z"
      LOADK 0 k1 @2
      SETGLOBAL 0 k0 @2
      GETGLOBAL 1 k0 @4
      SETTABLE 1 k2 k1 @9
      RETURN 0 1 @10
.end
)",
       "Table t{} not found!\nFile: t.qms (current line: 9)\n"},
      {"endless recursion", R"(
.func source="t.qms" maxstack=4
  .k "f"
      CLOSURE 0 p0 @1
      SETGLOBAL 0 k0 @1
      GETGLOBAL 0 k0 @2
      CALL 0 1 1 @2
      RETURN 0 1 @3
  .func line=5 maxstack=3
    .k "f"
      GETGLOBAL 0 k0 @6
      CALL 0 1 1 @6
      RETURN 0 1 @7
  .end
.end
)",
       "Stack overflow!\nFile: t.qms (current line: 6 - In function: f)\n"},
      {"NaN as a table key", R"(
.func source="t.qms" maxstack=4
  .k nan 5
      NEWTABLE 0 0 0 @1
      SETTABLE 0 k0 k1 @4
      RETURN 0 1 @5
.end
)",
       "Table index is NaN!\nFile: t.qms (current line: 4)\n"},
      {"traversal from a key the table lacks", R"(
.func source="t.qms" maxstack=4
  .k "nextitem" "absent"
      NEWTABLE 0 0 0 @1
      GETGLOBAL 1 k0 @2
      MOVE 2 0
      LOADK 3 k1
      CALL 1 3 1 @2
      RETURN 0 1 @5
.end
)",
       "Invalid key for next table item!\nFile: t.qms (current line: 2 - In function: NextItem)\n"},
  };
  PlayerDir d;
  for (const Case &c : cases) {
    PlayerResult r = RunScript(d, c.program);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.err, c.report) << c.name;
  }
}

TEST(E2eVm, CallMethodsNilKeysAndExtraArguments) {
  PlayerDir d;
  // A table whose metatable has "__call" is called with itself as the first argument.
  PlayerResult r = RunScript(d, R"(
.func source="t.qms" maxstack=8
  .k "__call" "setmetatable" "name" "tee" 7
      NEWTABLE 0 0 0 @1
      SETTABLE 0 k2 k3 @1
      NEWTABLE 1 0 0 @1
      CLOSURE 2 p0 @2
      SETTABLE 1 k0 2 @2
      GETGLOBAL 2 k1 @3
      MOVE 3 0
      MOVE 4 1
      CALL 2 3 1 @3
      MOVE 2 0 @4
      LOADK 3 k4
      CALL 2 2 1 @4
      RETURN 0 1 @9
  .func line=2 maxstack=5 params=2
    .k "debugprint" "name"
      GETGLOBAL 2 k0 @5
      GETTABLE 3 0 k1
      MOVE 4 1
      CALL 2 3 1 @5
      RETURN 0 1 @6
  .end
.end
)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "tee 7\n");

  // The key nil stands for 0: stored under nil, read back under 0 and nil, traversed as 0.
  r = RunScript(d, R"(
.func source="t.qms" maxstack=8
  .k nil 5 0 "debugprint" "nextitem"
      NEWTABLE 0 0 0 @1
      SETTABLE 0 k0 k1 @1
      GETGLOBAL 1 k3 @2
      GETTABLE 2 0 k2
      GETTABLE 3 0 k0
      GETGLOBAL 4 k4
      MOVE 5 0
      CALL 4 2 3
      CALL 1 5 1 @2
      RETURN 0 1 @3
.end
)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "5 5 0 5\n");

  // Arguments beyond the fixed ones arrive as the table "arg" with its count in "n".
  r = RunScript(d, R"(
.func source="t.qms" maxstack=6
  .k 10 20 30
      CLOSURE 0 p0 @1
      LOADK 1 k0 @2
      LOADK 2 k1
      LOADK 3 k2
      CALL 0 4 1 @2
      RETURN 0 1 @3
  .func line=5 maxstack=6 params=1 vararg=1
    .k "debugprint" "n" 1 2
    .local a 0 9
    .local arg 0 9
      GETGLOBAL 2 k0 @6
      MOVE 3 0
      GETTABLE 4 1 k1
      GETTABLE 5 1 k2
      CALL 2 4 1 @6
      GETGLOBAL 2 k0 @7
      GETTABLE 3 1 k3
      CALL 2 2 1 @7
      RETURN 0 1 @8
  .end
.end
)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "10 2 20\n30\n");
}
