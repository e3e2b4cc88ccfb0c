#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_debug.h"
#include "tests/runtime/vm/exec_test_util.h"

namespace {

std::string Join(const std::vector<std::string> &v) {
  std::string s;
  for (size_t i = 0; i < v.size(); i++) s += (i ? "|" : "") + v[i];
  return s;
}

// record(RK(B) op RK(C)) with the two operands as constants.
std::string BinOp(const std::string &op, const std::string &b, const std::string &c) {
  return ".func maxstack=4\n .k \"record\" " + b + " " + c + "\n GETGLOBAL 0 k0\n " + op +
         " 1 k1 k2\n CALL 0 2 1\n RETURN 0 1\n.end\n";
}

// record(op R(2)) with R(2) loaded from a constant.
std::string UnOp(const std::string &op, const std::string &b) {
  return ".func maxstack=4\n .k \"record\" " + b + "\n GETGLOBAL 0 k0\n LOADK 2 k1\n " + op +
         " 1 2\n CALL 0 2 1\n RETURN 0 1\n.end\n";
}

// record(1 or 0) for the comparison op on two constants.
std::string Cmp(const std::string &op, const std::string &b, const std::string &c) {
  return ".func maxstack=4\n .k \"record\" " + b + " " + c +
         "\n GETGLOBAL 0 k0\n LOADBOOL 1 0 0\n " + op +
         " 1 k1 k2\n JMP yes\n JMP done\nyes: LOADBOOL 1 1 0\ndone: CALL 0 2 1\n RETURN 0 1\n.end\n";
}

struct Case {
  const char *name;
  std::string program;
  uint32_t code;     // expected status of the run
  const char *rec;   // expected record lines joined by "|" (checked when code is 0)
  const char *arg;   // expected error argument text, or nullptr
};

void RunCases(const std::vector<Case> &cases) {
  for (const Case &c : cases) {
    ExecVm vm;
    uint32_t code = vm.Run(c.program);
    EXPECT_EQ(code, c.code) << c.name;
    if (c.code == 0) {
      EXPECT_EQ(Join(vm.rec), c.rec) << c.name;
    }
    if (c.arg) {
      EXPECT_STREQ(G(vm.L)->err.argtext, c.arg) << c.name;
    }
  }
}

// for k, v in t do record(k, v) end, with t built by `fill` in R(1) and, when `next` is
// set, a script function (t, k) that records "mine" and ends the loop stored as the global next.
std::string GenericFor(const std::string &consts, const std::string &fill, bool next) {
  std::string prog = ".func maxstack=12\n .k \"record\" \"next\" \"mine\" " + consts + "\n NEWTABLE 1 4 4\n" + fill;
  if (next) prog += " CLOSURE 2 p0\n SETGLOBAL 2 k1\n";
  prog += R"(
      MOVE      2 1
      LOADNIL   3 4
      TFORPREP  2 test
body: GETGLOBAL 7 k0
      MOVE      8 4
      MOVE      9 5
      CALL      7 3 1
test: TFORLOOP  2 0 1
      JMP       body
      RETURN    0 1
)";
  if (next) prog += R"(
  .func params=2 maxstack=4
      .k "record" "mine"
      GETGLOBAL 2 k0
      LOADK     3 k1
      CALL      2 2 1
      RETURN    0 1
  .end
)";
  return prog + ".end\n";
}

}  // namespace

TEST(Exec, Arithmetic) {
  RunCases({
      {"add", BinOp("ADD", "2", "3"), 0, "5", nullptr},
      {"add numeric strings", BinOp("ADD", "\"10\"", "\"$10\""), 0, "26", nullptr},
      {"nil is 0", BinOp("SUB", "nil", "4"), 0, "-4", nullptr},
      {"mul", BinOp("MUL", "1.5", "4"), 0, "6", nullptr},
      {"div", BinOp("DIV", "1", "4"), 0, "0.25", nullptr},
      {"div by zero", BinOp("DIV", "1", "0"), ERR_ZERODIVISION, "", nullptr},
      {"div by nil", BinOp("DIV", "1", "nil"), ERR_ZERODIVISION, "", nullptr},
      {"divint", BinOp("DIVINT", "7", "2"), 0, "3", nullptr},
      {"divint negative", BinOp("DIVINT", "-7", "2"), 0, "-3", nullptr},
      {"divint INT_MIN by -1", BinOp("DIVINT", "-2147483648", "-1"), 0, "2147483648", nullptr},
      {"mod sign of dividend", BinOp("MOD", "-7", "2"), 0, "-1", nullptr},
      {"mod by 0.5 truncates to 0", BinOp("MOD", "7", "0.5"), ERR_ZERODIVISION, "", nullptr},
      {"mod INT_MIN by -1", BinOp("MOD", "-2147483648", "-1"), 0, "0", nullptr},
      {"divint NaN", BinOp("DIVINT", "nan", "1"), 0, "-2147483648", nullptr},
      {"divint out of range", BinOp("DIVINT", "1e20", "1"), 0, "-2147483648", nullptr},
      {"lsh count masked", BinOp("LSH", "1", "32"), 0, "1", nullptr},
      {"lsh keeps 32 bits", BinOp("LSH", "4294967295", "4"), 0, "4294967280", nullptr},
      {"rsh of -1", BinOp("RSH", "-1", "28"), 0, "15", nullptr},
      {"or of -1", BinOp("OR", "-1", "0"), 0, "4294967295", nullptr},
      {"and clamps large values", BinOp("AND", "5e9", "1"), 0, "1", nullptr},
      {"xor", BinOp("XOR", "12", "10"), 0, "6", nullptr},
      {"pow", BinOp("POW", "2", "10"), 0, "1024", nullptr},
      {"table without method", BinOp("ADD", "\"x\"", "1"), ERR_WRONGOP, "", nullptr},
      {"unm", UnOp("UNM", "5"), 0, "-5", nullptr},
      {"unm of nil is -0", UnOp("UNM", "nil"), 0, "-0", nullptr},
      {"unm of a numeric string", UnOp("UNM", "\"3\""), 0, "-3", nullptr},
      {"bnot 0", UnOp("BNOT", "0"), 0, "4294967295", nullptr},
      {"bnot nil", UnOp("BNOT", "nil"), 0, "4294967295", nullptr},
      {"bnot of a string that is no number", UnOp("BNOT", "\"a\""), ERR_WRONGOP, "", nullptr},
      {"not 0", UnOp("NOT", "0"), 0, "1", nullptr},
      {"not empty string", UnOp("NOT", "\"\""), 0, "1", nullptr},
      {"not nil", UnOp("NOT", "nil"), 0, "1", nullptr},
      {"not nan", UnOp("NOT", "nan"), 0, "0", nullptr},
      {"not of the string 0", UnOp("NOT", "\"0\""), 0, "0", nullptr},
      {"not 2", UnOp("NOT", "2"), 0, "0", nullptr},
  });
}

TEST(Exec, Comparisons) {
  RunCases({
      {"number with string", Cmp("EQ", "1", "\"1\""), ERR_NUMSTRCMP, "", nullptr},
      {"nil = 0", Cmp("EQ", "nil", "0"), 0, "1", nullptr},
      {"nil = empty string", Cmp("EQ", "nil", "\"\""), 0, "1", nullptr},
      {"nil = 1", Cmp("EQ", "nil", "1"), 0, "0", nullptr},
      {"nil = nan", Cmp("EQ", "nil", "nan"), 0, "0", nullptr},
      {"nil = nil", Cmp("EQ", "nil", "nil"), 0, "1", nullptr},
      {"strings", Cmp("EQ", "\"ab\"", "\"ab\""), 0, "1", nullptr},
      {"nan = nan", Cmp("EQ", "nan", "nan"), 0, "0", nullptr},
      {"nil < 1", Cmp("LT", "nil", "1"), 0, "1", nullptr},
      {"1 < nil", Cmp("LT", "1", "nil"), 0, "0", nullptr},
      {"-1 < nil", Cmp("LT", "-1", "nil"), 0, "1", nullptr},
      {"nil < string", Cmp("LT", "nil", "\"a\""), 0, "0", nullptr},
      {"string < number", Cmp("LT", "\"a\"", "1"), ERR_NUMSTRCMP, "", nullptr},
      {"a < b", Cmp("LT", "\"a\"", "\"b\""), 0, "1", nullptr},
      {"B < a by byte order", Cmp("LT", "\"B\"", "\"a\""), 0, "1", nullptr},
      {"prefix is smaller", Cmp("LT", "\"ab\"", "\"abc\""), 0, "1", nullptr},
      {"embedded zero segments", Cmp("LT", "\"a\\0b\"", "\"a\\0c\""), 0, "1", nullptr},
      {"shorter at a zero", Cmp("LT", "\"a\"", "\"a\\0\""), 0, "1", nullptr},
      {"nil <= nil", Cmp("LE", "nil", "nil"), 0, "1", nullptr},
      {"empty <= nil", Cmp("LE", "\"\"", "nil"), 0, "0", nullptr},
      {"nil <= 0", Cmp("LE", "nil", "0"), 0, "1", nullptr},
      {"2 <= 2", Cmp("LE", "2", "2"), 0, "1", nullptr},
      {"b <= a", Cmp("LE", "\"b\"", "\"a\""), 0, "0", nullptr},
      {"nil <= string", Cmp("LE", "nil", "\"a\""), 0, "0", nullptr},
  });
}

// The same operation with its operands in every layout: both constants, both registers,
// register and constant, constant and register. The loader gives the commonest layouts
// handlers of their own; each must agree with the general one, fast path and slow.
TEST(Exec, EveryOperandLayoutGivesTheSameResult) {
  struct Row {
    const char *op;
    bool compare;
    const char *b, *c;
    uint32_t code;
    const char *rec;
  };
  const Row rows[] = {
      {"ADD", false, "2", "3", 0, "5"},
      {"ADD", false, "\"10\"", "1", 0, "11"},
      {"ADD", false, "nil", "7", 0, "7"},
      {"ADD", false, "\"x\"", "1", ERR_WRONGOP, ""},
      {"SUB", false, "2", "3.5", 0, "-1.5"},
      {"SUB", false, "4", "\"1\"", 0, "3"},
      {"MUL", false, "1.5", "4", 0, "6"},
      {"MUL", false, "3", "nil", 0, "0"},
      {"EQ", true, "2", "2", 0, "1"},
      {"EQ", true, "nan", "nan", 0, "0"},
      {"EQ", true, "nil", "0", 0, "1"},
      {"EQ", true, "\"ab\"", "\"ab\"", 0, "1"},
      {"EQ", true, "1", "\"1\"", ERR_NUMSTRCMP, ""},
      {"LT", true, "1", "2", 0, "1"},
      {"LT", true, "2", "1", 0, "0"},
      {"LT", true, "nil", "1", 0, "1"},
      {"LT", true, "\"a\"", "\"b\"", 0, "1"},
      {"LT", true, "\"a\"", "1", ERR_NUMSTRCMP, ""},
      {"LE", true, "2", "2", 0, "1"},
      {"LE", true, "3", "2", 0, "0"},
      {"LE", true, "nil", "nil", 0, "1"},
      {"LE", true, "\"b\"", "\"a\"", 0, "0"},
  };
  const char *layouts[][2] = {{"k1", "k2"}, {"2", "3"}, {"2", "k2"}, {"k1", "3"}};
  for (const Row &row : rows) {
    for (const auto &layout : layouts) {
      std::string operands = std::string(layout[0]) + " " + layout[1];
      std::string prog = ".func maxstack=6\n .k \"record\" " + std::string(row.b) + " " + row.c +
                         "\n GETGLOBAL 0 k0\n LOADK 2 k1\n LOADK 3 k2\n";
      if (row.compare) {
        prog += " LOADBOOL 1 0 0\n " + std::string(row.op) + " 1 " + operands +
                "\n JMP yes\n JMP done\nyes: LOADBOOL 1 1 0\ndone: CALL 0 2 1\n RETURN 0 1\n.end\n";
      } else {
        prog += " " + std::string(row.op) + " 1 " + operands + "\n CALL 0 2 1\n RETURN 0 1\n.end\n";
      }
      std::string name = std::string(row.op) + " " + row.b + " " + row.c + " as " + operands;
      ExecVm vm;
      EXPECT_EQ(vm.Run(prog), row.code) << name;
      if (row.code == 0) {
        EXPECT_EQ(Join(vm.rec), row.rec) << name;
      }
    }
  }
}

// A table store and read back with key and value in every layout: the array part, the hash
// part by number and by string.
TEST(Exec, EveryTableAccessLayoutGivesTheSameResult) {
  struct Row {
    const char *key, *value, *rec;
  };
  const Row rows[] = {
      {"1", "7", "7"},
      {"4", "\"v\"", "'v'"},
      {"0", "7", "7"},
      {"3.5", "\"v\"", "'v'"},
      {"\"x\"", "7", "7"},
  };
  // SETTABLE's key and value, GETTABLE's key: constants (k1, k2) or registers (2, 3).
  const char *layouts[][3] = {{"k1", "k2", "k1"}, {"2", "3", "2"}, {"2", "k2", "k1"}, {"k1", "3", "2"}};
  for (const Row &row : rows) {
    for (const auto &layout : layouts) {
      std::string prog = ".func maxstack=8\n .k \"record\" " + std::string(row.key) + " " + row.value +
                         "\n GETGLOBAL 0 k0\n NEWTABLE 5 4 0\n LOADK 2 k1\n LOADK 3 k2\n SETTABLE 5 " + layout[0] +
                         " " + layout[1] + "\n GETTABLE 1 5 " + layout[2] + "\n CALL 0 2 1\n RETURN 0 1\n.end\n";
      std::string name = std::string(row.key) + " = " + row.value + " as " + layout[0] + " " + layout[1] + " " + layout[2];
      ExecVm vm;
      EXPECT_EQ(vm.Run(prog), 0u) << name;
      EXPECT_EQ(Join(vm.rec), row.rec) << name;
    }
  }
}

TEST(Exec, ComparisonsOfTablesAndMethods) {
  // t1 == t2 through a shared __eq; t1 < t2 through __lt; t1 <= t2 falls back to not (t2 < t1);
  // a table against a number raises.
  const char *prog = R"(
.func maxstack=8
  .k "record" "setmeta" "__eq" "__lt" 1
      NEWTABLE  1 0 0          ; the metatable
      CLOSURE   2 p0
      SETTABLE  1 k2 2
      CLOSURE   2 p1
      SETTABLE  1 k3 2
      GETGLOBAL 5 k1
      NEWTABLE  6 0 0
      MOVE      7 1
      CALL      5 3 2          ; t1
      MOVE      3 5
      GETGLOBAL 5 k1
      NEWTABLE  6 0 0
      MOVE      7 1
      CALL      5 3 2          ; t2
      MOVE      4 5
      LOADBOOL  5 0 0
      EQ        1 3 4
      JMP       eq
      JMP       lt
eq:   LOADBOOL  5 1 0
lt:   LOADBOOL  6 0 0
      LT        1 3 4
      JMP       lty
      JMP       le
lty:  LOADBOOL  6 1 0
le:   LOADBOOL  7 0 0
      LE        1 3 4
      JMP       ley
      JMP       out
ley:  LOADBOOL  7 1 0
out:  GETGLOBAL 4 k0
      CALL      4 4 1
      EQ        1 3 k4          ; table = number: an error
      JMP       end
end:  RETURN    0 1
  .func params=2 maxstack=3
      LOADBOOL 2 1 0
      RETURN 2 2
  .end
  .func params=2 maxstack=3
      LOADBOOL 2 0 0            ; "less than" is always false
      RETURN 2 2
  .end
.end
)";
  ExecVm vm;
  EXPECT_EQ(vm.Run(prog), ERR_WRONGOP);
  EXPECT_EQ(Join(vm.rec), "1 0 1");
}

TEST(Exec, Concatenation) {
  auto concat = [](const std::string &a, const std::string &b, const std::string &c) {
    return ".func maxstack=6\n .k \"record\" " + a + " " + b + " " + c +
           "\n GETGLOBAL 0 k0\n LOADK 2 k1\n LOADK 3 k2\n LOADK 4 k3\n CONCAT 1 2 4\n CALL 0 2 1\n RETURN 0 1\n.end\n";
  };
  RunCases({
      {"strings", concat("\"a\"", "\"b\"", "\"c\""), 0, "'abc'", nullptr},
      {"nil is empty", concat("\"a\"", "nil", "\"c\""), 0, "'ac'", nullptr},
      {"numbers", concat("1", "2", "0.5"), 0, "'120.5'", nullptr},
      {"empty tail", concat("\"a\"", "\"b\"", "\"\""), 0, "'ab'", nullptr},
      {"embedded zero", concat("\"a\\0\"", "\"b\"", "\"\""), 0, "'a\\0b'", nullptr},
      {"number between strings", concat("\"a\"", "7", "\"b\""), 0, "'a7b'", nullptr},
      {"number then nil", concat("\"a\"", "3", "nil"), 0, "'a3'", nullptr},
      {"large, negative and fractional", concat("1e20", "\"x\"", "-2.5"), 0, "'1e+20x-2.5'", nullptr},
      {"nil alone with a number", concat("nil", "nil", "12"), 0, "'12'", nullptr},
  });
  ExecVm vm;
  EXPECT_EQ(vm.Run(R"(
.func maxstack=4
  .k "x"
      NEWTABLE 1 0 0
      LOADK    2 k0
      CONCAT   0 1 2
      RETURN   0 1
.end
)"),
            ERR_CONCAT);
  // Eleven operands, ten of them numbers: more numbers than the pass keeps written.
  vm.rec.clear();
  EXPECT_EQ(vm.Run(R"(
.func maxstack=14
  .k "record" 1 2 3 4 5 6 7 8 9 10.5 "-"
      GETGLOBAL 0 k0
      LOADK    2 k1
      LOADK    3 k11
      LOADK    4 k2
      LOADK    5 k3
      LOADK    6 k4
      LOADK    7 k5
      LOADK    8 k6
      LOADK    9 k7
      LOADK    10 k8
      LOADK    11 k9
      LOADK    12 k10
      CONCAT   1 2 12
      CALL     0 2 1
      RETURN   0 1
.end
)"),
            0u);
  EXPECT_EQ(vm.rec, (std::vector<std::string>{"'1-2345678910.5'"}));
}

// Pieces of every length class the copy treats apart (none, one to three bytes, four to seven,
// eight to sixteen, longer), each with its own letters, so that a byte put at the wrong place or
// a piece cut short shows in the joined text.
TEST(Exec, ConcatenationOfPiecesOfEveryLength) {
  const size_t lengths[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 40};
  auto piece = [](size_t n, char first) {
    std::string s;
    for (size_t i = 0; i < n; i++) s += static_cast<char>(first + i % 23);
    return s;
  };
  for (size_t a : lengths) {
    for (size_t b : lengths) {
      std::string pa = piece(a, 'a'), pb = piece(b, 'A');
      std::string prog = ".func maxstack=6\n .k \"record\" \"" + pa + "\" \"" + pb + "\" 12345" +
                         "\n GETGLOBAL 0 k0\n LOADK 2 k1\n LOADK 3 k3\n LOADK 4 k2\n CONCAT 1 2 4\n CALL 0 2 1\n RETURN 0 1\n.end\n";
      ExecVm vm;
      ASSERT_EQ(vm.Run(prog), 0u) << a << " " << b;
      EXPECT_EQ(vm.rec, (std::vector<std::string>{"'" + pa + "12345" + pb + "'"})) << a << " " << b;
    }
  }
}

TEST(Exec, TableReadsAndWrites) {
  RunCases({
      {"absent field", R"(
.func maxstack=4
  .k "x"
      NEWTABLE 1 0 0
      GETTABLE 2 1 k0
      RETURN   0 1
.end
)", ERR_FIELDINIT, "", "\"x\""},
      {"absent index", R"(
.func maxstack=4
  .k 3
      NEWTABLE 1 0 0
      GETTABLE 2 1 k0
      RETURN   0 1
.end
)", ERR_FIELDINIT, "", "3"},
      {"missing global is nil and so is a missing method", R"(
.func maxstack=5
  .k "record" "nothere" "m"
      GETGLOBAL 0 k0
      GETGLOBAL 1 k1
      NEWTABLE  3 0 0
      SELF      2 3 k2
      CALL      0 3 1
      RETURN    0 1
.end
)", 0, "nil nil", nullptr},
      {"indexing a number held in a global", R"(
.func maxstack=4
  .k "t" 1 "z"
      LOADK     0 k1
      SETGLOBAL 0 k0
      GETGLOBAL 1 k0
      GETTABLE  2 1 k2
      RETURN    0 1
.end
)", ERR_TABLEDECLA, "", "t{}"},
      {"writing into a number held in a local", R"(
.func maxstack=4
  .k 1 "z"
  .local q 1 3
      LOADK     0 k0
      SETTABLE  0 k1 k0
      RETURN    0 1
.end
)", ERR_TABLEDECLA, "", "q{}"},
      {"t[nil] is t[0]", R"(
.func maxstack=5
  .k "record" nil 0 7
      GETGLOBAL 0 k0
      NEWTABLE  1 0 0
      SETTABLE  1 k1 k3
      GETTABLE  2 1 k2
      CALL      0 3 1
      RETURN    0 1
.end
)", 0, "table 7", nullptr},
      {"huge NEWTABLE", ".func maxstack=2\n NEWTABLE 0 511 0\n RETURN 0 1\n.end\n", ERR_TABLEOVERFLOW, "", nullptr},
      {"huge NEWTABLE hash", ".func maxstack=2\n NEWTABLE 0 0 30\n RETURN 0 1\n.end\n", ERR_TABLEOVERFLOW, "", nullptr},
  });
}

// A chain of n tables linked by __index (or __newindex) ending in a plain table.
static std::string Chain(int n, bool write) {
  std::string ev = write ? "__newindex" : "__index";
  std::string p = ".func maxstack=8\n .k \"record\" \"setmeta\" \"" + ev + "\" \"x\" 5 " + std::to_string(n) +
                  " 1\n";
  // r1: the current end of the chain; loop n times: r2 = setmeta({}, {ev = r1}); r1 = r2
  p += "      NEWTABLE 1 0 0\n";
  p += "      LOADK 5 k6\n      LOADK 6 k5\n      LOADK 7 k6\n      ADD 5 5 k6\n";  // r5 = 2 so the loop runs n times
  p += "      LOADK 5 k6\n      SUB 5 5 k6\n";  // r5 = 0
  p += "loop: ADD 5 5 k6\n      LT 0 6 5\n      JMP body\n      JMP done\n";
  p += "body: GETGLOBAL 2 k1\n      NEWTABLE 3 0 0\n      NEWTABLE 4 0 0\n      SETTABLE 4 k2 1\n      CALL 2 3 2\n      MOVE 1 2\n      JMP loop\n";
  if (write) p += "done: SETTABLE 1 k3 k4\n      RETURN 0 1\n.end\n";
  else p += "done: GETTABLE 2 1 k3\n      RETURN 0 1\n.end\n";
  return p;
}

TEST(Exec, MethodChains) {
  RunCases({
      {"100 links read to the end", Chain(99, false), ERR_FIELDINIT, "", "\"x\""},
      {"101 links", Chain(100, false), ERR_INTERNAL1, "", "#1"},
      {"100 links written", Chain(99, true), 0, "", nullptr},
      {"101 links written", Chain(100, true), ERR_INTERNAL1, "", "#2"},
  });
}

// Integer keys in registers take the interpreter's array fast paths: a filled slot is read and
// written directly, an empty one still asks __index and __newindex, a key past the array part
// is found in the hash part, and 1.5 is not slot 1.
TEST(Exec, IntegerKeysAroundTheArrayPart) {
  ExecVm vm;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=16
  .k "record" "setmeta" "__index" "__newindex" 1 2 100 1.5 5 7 9 "seen"
      NEWTABLE  4 2 0          ; t, an array part of 2
      LOADK     5 k4
      LOADK     6 k8
      SETTABLE  4 5 6          ; t[1] = 5
      LOADK     5 k6
      LOADK     6 k9
      SETTABLE  4 5 6          ; t[100] = 7, in the hash part
      NEWTABLE  1 0 0          ; the metatable
      CLOSURE   2 p0
      SETTABLE  1 k2 2
      CLOSURE   2 p1
      SETTABLE  1 k3 2
      GETGLOBAL 2 k1
      MOVE      3 4
      MOVE      4 1
      CALL      2 3 2          ; t = setmeta(t, mt), in r2
      GETGLOBAL 3 k0
      LOADK     5 k4
      GETTABLE  4 2 5          ; t[1]
      LOADK     6 k6
      GETTABLE  5 2 6          ; t[100]
      LOADK     7 k5
      GETTABLE  6 2 7          ; t[2]: the empty slot asks __index
      LOADK     8 k7
      GETTABLE  7 2 8          ; t[1.5]
      LOADK     9 k5
      LOADK     10 k10
      SETTABLE  2 9 10         ; t[2] = 9: the empty slot asks __newindex
      GETGLOBAL 8 k11
      LOADK     10 k5
      GETTABLE  9 2 10         ; t[2] is still empty
      LOADK     11 k4
      LOADK     12 k10
      SETTABLE  2 11 12        ; t[1] = 9: a filled slot is written
      GETTABLE  10 2 11
      CALL      3 8 1
      RETURN    0 1
  .func params=2 maxstack=4
      .k "i"
      LOADK    2 k0
      MOVE     3 1
      CONCAT   2 2 3
      RETURN   2 2
  .end
  .func params=3 maxstack=4
      .k "seen"
      SETGLOBAL 2 k0
      RETURN    0 1
  .end
.end
)"),
            0u);
  EXPECT_EQ(Join(vm.rec), "5 7 'i2' 'i1.5' 9 'i2' 9");
}

TEST(Exec, IndexAndNewIndexFunctions) {
  ExecVm vm;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=8
  .k "record" "setmeta" "__index" "__newindex" "k" 9 "seen"
      NEWTABLE  1 0 0
      CLOSURE   2 p0
      SETTABLE  1 k2 2
      CLOSURE   2 p1
      SETTABLE  1 k3 2
      GETGLOBAL 3 k1
      NEWTABLE  4 0 0
      MOVE      5 1
      CALL      3 3 2          ; t = setmeta({}, mt)
      GETTABLE  4 3 k4         ; t.k through __index
      SETTABLE  3 k4 k5        ; t.k = 9 through __newindex
      GETGLOBAL 5 k6
      GETGLOBAL 3 k0
      CALL      3 3 1
      RETURN    0 1
  .func params=2 maxstack=4
      .k "idx:"
      LOADK    2 k0
      MOVE     3 1
      CONCAT   2 2 3
      RETURN   2 2
  .end
  .func params=3 maxstack=4
      .k "seen"
      SETGLOBAL 2 k0
      RETURN    0 1
  .end
.end
)"),
            0u);
  EXPECT_EQ(Join(vm.rec), "'idx:k' 9");
}

TEST(Exec, Loops) {
  RunCases({
      {"for 1..3", R"(
.func maxstack=6
  .k "record" 1 3
      LOADK   1 k1
      LOADK   2 k2
      LOADK   3 k1
      SUB     1 1 3
      JMP     test
body: GETGLOBAL 4 k0
      MOVE    5 1
      CALL    4 2 1
test: FORLOOP 1 body
      RETURN  0 1
.end
)", 0, "1|2|3", nullptr},
      {"nil limit runs as 0, string step converted", R"(
.func maxstack=6
  .k "record" -4 nil "2"
      LOADK   1 k1
      LOADK   2 k2
      LOADK   3 k3
      SUB     1 1 3
      JMP     test
body: GETGLOBAL 4 k0
      MOVE    5 1
      CALL    4 2 1
test: FORLOOP 1 body
      GETGLOBAL 4 k0
      MOVE    5 3
      CALL    4 2 1
      RETURN  0 1
.end
)", 0, "-4|-2|0|2", nullptr},
      {"start that is no number", R"(
.func maxstack=4
  .k "a" 1
      LOADK   0 k0
      LOADK   1 k1
      LOADK   2 k1
      FORLOOP 0 end
end:  RETURN  0 1
.end
)", ERR_VALUEEXPECTED, "", nullptr},
      {"step of 0 repeats while limit <= start", R"(
.func maxstack=6
  .k "record" 5 3 0 1 4
      LOADK   1 k1
      LOADK   2 k2
      LOADK   3 k3
      LOADK   5 k3
body: ADD     5 5 k4
      EQ      1 5 k5
      JMP     out
      FORLOOP 1 body
out:  GETGLOBAL 0 k0
      MOVE    1 5
      CALL    0 2 1
      RETURN  0 1
.end
)", 0, "4", nullptr},
      {"generic for over a table", R"(
.func maxstack=10
  .k "record" 10 20 30
      NEWTABLE  1 3 0
      LOADK     2 k1
      LOADK     3 k2
      LOADK     4 k3
      SETLIST   1 2
      MOVE      2 1
      LOADNIL   3 4
      TFORPREP  2 test
body: GETGLOBAL 7 k0
      MOVE      8 4
      MOVE      9 5
      CALL      7 3 1
test: TFORLOOP  2 0 1
      JMP       body
      RETURN    0 1
.end
)", 0, "1 10|2 20|3 30", nullptr},
  });
}

// The VM walks the table itself unless the script has its own global next; hash order is
// not part of the contract, so the visited pairs are compared sorted.
TEST(Exec, GenericForOverATable) {
  struct {
    const char *name;
    std::string program;
    const char *pairs;
  } cases[] = {
      {"empty table", GenericFor("", "", false), ""},
      {"array part", GenericFor("10 20 30", " LOADK 2 k3\n LOADK 3 k4\n LOADK 4 k5\n SETLIST 1 2\n", false),
       "1 10|2 20|3 30"},
      {"hash part", GenericFor("\"a\" \"b\" \"c\" 7", " SETTABLE 1 k3 k6\n SETTABLE 1 k4 k6\n SETTABLE 1 k5 k6\n", false),
       "'a' 7|'b' 7|'c' 7"},
      {"array and hash parts", GenericFor("5 6 \"x\"", " LOADK 2 k3\n LOADK 3 k4\n SETLIST 1 1\n SETTABLE 1 k5 k3\n", false),
       "'x' 5|1 5|2 6"},
      {"the script's next wins", GenericFor("5 6", " LOADK 2 k3\n LOADK 3 k4\n SETLIST 1 1\n", true), "'mine'"},
  };
  for (const auto &c : cases) {
    ExecVm vm;
    ASSERT_EQ(vm.Run(c.program), 0u) << c.name;
    std::sort(vm.rec.begin(), vm.rec.end());
    EXPECT_EQ(Join(vm.rec), c.pairs) << c.name;
  }
}

TEST(Exec, ListsAndSetlist) {
  RunCases({
      {"setlisto takes what the call returned", R"(
.func maxstack=6
  .k "record" "extra"
      NEWTABLE  1 0 0
      GETGLOBAL 2 k1
      CALL      2 1 0
      SETLISTO  1 0
      GETGLOBAL 0 k0
      GETTABLE  2 1 250
      RETURN    0 1
.end
)", ERR_FIELDINIT, "", nullptr},
      {"setlist on a number", ".func maxstack=4\n .k 1\n LOADK 0 k0\n SETLIST 0 1\n RETURN 0 1\n.end\n",
       ERR_BADBYTECODE, "", nullptr},
      {"self with a number key", R"(
.func maxstack=4
  .k 1
      NEWTABLE 1 0 0
      SELF     2 1 k0
      RETURN   0 1
.end
)", ERR_BADBYTECODE, "", nullptr},
  });
}

TEST(Exec, CallsAndResults) {
  RunCases({
      {"a native returning more results than it pushed gets what it pushed", R"(
.func maxstack=8
  .k "record" "extra"
      GETGLOBAL 0 k0
      GETGLOBAL 1 k1
      CALL      1 1 0
      CALL      0 0 1
      RETURN    0 1
.end
)", 0, "3 4 5", nullptr},
      {"vararg", R"(
.func maxstack=6
  .k "record" "n" 1 2
      CLOSURE 0 p0
      LOADK   1 k2
      LOADK   2 k3
      LOADK   3 k3
      CALL    0 4 1
      RETURN  0 1
  .func params=1 vararg=1 maxstack=6
    .k "record" "n" 1 2
      GETGLOBAL 2 k0
      MOVE      3 0
      GETTABLE  4 1 k1
      GETTABLE  5 1 k3
      CALL      2 4 1
      RETURN    0 1
  .end
.end
)", 0, "1 2 2", nullptr},
      {"calling a number in a global", R"(
.func maxstack=4
  .k "x" 1
      LOADK     0 k1
      SETGLOBAL 0 k0
      GETGLOBAL 0 k0 @7
      CALL      0 1 1 @7
      RETURN    0 1
.end
)", ERR_FUNCDECLA, "", "x()"},
      {"calling a number in a local", R"(
.func maxstack=4
  .k 1
  .local y 1 3
      LOADK  0 k0
      MOVE   1 0
      CALL   1 1 1
      RETURN 0 1
.end
)", ERR_FUNCDECLA, "", "y()"},
      {"calling an expression", R"(
.func maxstack=4
  .k 1 2
      ADD    0 k0 k1
      CALL   0 1 1
      RETURN 0 1
.end
)", ERR_FUNCDECLA, "", "?\?()"},
      {"calling a table through __call", R"(
.func maxstack=8
  .k "record" "setmeta" "__call" 5
      NEWTABLE  1 0 0
      GETGLOBAL 2 k0
      SETTABLE  1 k2 2
      GETGLOBAL 2 k1
      NEWTABLE  3 0 0
      MOVE      4 1
      CALL      2 3 2
      LOADK     3 k3
      CALL      2 2 1
      RETURN    0 1
.end
)", 0, "table 5", nullptr},
      {"a command error stops the script", R"(
.func maxstack=4
  .k "fail" 1055 "record"
      GETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k2
      CALL      0 1 1
      RETURN    0 1
.end
)", ERR_WRONGUSAGE, "", nullptr},
  });
}

namespace {

// g(x) returns h(x) as a tail call; h(x) returns x + 1 and x.
const char *kTailCallProtos = R"(
  .func params=1 maxstack=4
    .k "h"
      GETGLOBAL 1 k0
      MOVE      2 0
      TAILCALL  1 2 0
      RETURN    1 0
  .end
  .func params=1 maxstack=4
    .k 1
      ADD       1 0 k0
      MOVE      2 0
      RETURN    1 3
  .end
.end
)";

int returnEvents = 0;
void CountReturns(VmState *, VmDebug *ar, uint32_t *) {
  if (ar->event == VM_HOOKRET || ar->event == VM_HOOKTAILRET) returnEvents++;
}

}  // namespace

// Results reach the frame that asked for them, in the number it asked for, whether the callee
// was entered by a script call, by a tail call or from native code; with a return hook the
// interpreter takes its general return path, which must agree.
TEST(Exec, ResultsReachTheirCallerThroughTailCallsAndNatives) {
  const std::string head = R"(
.func maxstack=8
  .k "record" "h" 5 "callf"
      CLOSURE   0 p1
      SETGLOBAL 0 k1
)";
  struct {
    const char *name;
    const char *body;
    const char *rec;
  } cases[] = {
      {"three results wanted, two given", R"(
      CLOSURE   0 p0
      LOADK     1 k2
      CALL      0 2 4
      GETGLOBAL 3 k0
      MOVE      4 0
      MOVE      5 1
      MOVE      6 2
      CALL      3 4 1
      RETURN    0 1
)",
       "6 5 nil"},
      {"one result wanted", R"(
      GETGLOBAL 0 k0
      CLOSURE   1 p0
      LOADK     2 k2
      CALL      1 2 2
      CALL      0 2 1
      RETURN    0 1
)",
       "6"},
      {"all results, from a script call and from native code", R"(
      GETGLOBAL 0 k0
      GETGLOBAL 1 k3
      CLOSURE   2 p0
      LOADK     3 k2
      CALL      1 3 0
      CALL      0 0 1
      GETGLOBAL 0 k0
      CLOSURE   1 p0
      LOADK     2 k2
      CALL      1 2 0
      CALL      0 0 1
      RETURN    0 1
)",
       "6 5|6 5"},
  };
  for (bool hooked : {false, true}) {
    for (const auto &c : cases) {
      ExecVm vm;
      returnEvents = 0;
      if (hooked) vm_sethook(vm.L, CountReturns, VM_MASKRET, 0);
      EXPECT_EQ(vm.Run(head + c.body + kTailCallProtos), 0u) << c.name;
      EXPECT_EQ(Join(vm.rec), c.rec) << c.name << (hooked ? ", return hook set" : "");
      if (hooked) {
        EXPECT_GT(returnEvents, 0) << c.name;
      }
    }
  }
}

// A native's results reach a script caller cut or padded with nils to the number it wants, the
// same with a return hook set (the general way) as without.
TEST(Exec, NativeResultsAreCutOrPaddedToTheNumberWanted) {
  struct {
    int given;   // values record() gets and returns
    int wanted;  // -1 for all
    const char *seen;  // what the second record() sees: the results, then a marker
  } cases[] = {
      {0, 1, "nil 9"}, {1, 1, "7 9"}, {3, 1, "7 9"},
      {0, 2, "nil nil 9"}, {1, 2, "7 nil 9"}, {3, 2, "7 8 9"},
      {0, 0, "9"}, {2, 0, "9"},
  };
  for (bool hooked : {false, true}) {
    for (const auto &c : cases) {
      // record(results..., 9) after r = {record(given values)}; the marker shows where they end.
      std::string text = ".func maxstack=12\n  .k \"record\" 7 8 9\n      GETGLOBAL 0 k0\n      GETGLOBAL 1 k0\n";
      for (int i = 0; i < c.given; i++) text += "      LOADK     " + std::to_string(2 + i) + " k" + std::to_string(1 + i % 2) + "\n";
      text += "      CALL      1 " + std::to_string(c.given + 1) + " " + std::to_string(c.wanted + 1) + "\n";
      text += "      LOADK     " + std::to_string(1 + c.wanted) + " k3\n";
      text += "      CALL      0 " + std::to_string(c.wanted + 2) + " 1\n      RETURN    0 1\n.end\n";
      ExecVm vm;
      if (hooked) vm_sethook(vm.L, CountReturns, VM_MASKRET, 0);
      std::string name = std::to_string(c.given) + " given, " + std::to_string(c.wanted) + " wanted" + (hooked ? ", hooked" : "");
      ASSERT_EQ(vm.Run(text), 0u) << name;
      ASSERT_EQ(vm.rec.size(), 2u) << name;
      EXPECT_EQ(vm.rec[1], c.seen) << name;
    }
  }
}

TEST(Exec, CommandErrorWithExitOnErrorOff) {
  ExecVm vm;
  G(vm.L)->err.exitonerror = 0;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=4
  .k "fail" 1055 "record"
      GETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 3
      GETGLOBAL 2 k2
      MOVE      3 0
      CALL      2 2 1
      RETURN    0 1
.end
)"),
            0u);
  EXPECT_EQ(Join(vm.rec), "nil");
  // record() itself reset the last error code, as every native call but GetLastError does.
  EXPECT_EQ(G(vm.L)->err.lastcode, 0u);
  EXPECT_FALSE(G(vm.L)->endrequested);
  ASSERT_EQ(vm.Run(".func maxstack=4\n .k \"fail\" 1055\n GETGLOBAL 0 k0\n LOADK 1 k1\n CALL 0 2 1\n RETURN 0 1\n.end\n"), 0u);
  EXPECT_EQ(G(vm.L)->err.lastcode, ERR_WRONGUSAGE);
}

TEST(Exec, ErrorLineIsTheFailingInstruction) {
  ExecVm vm;
  EXPECT_EQ(vm.Run(R"(
.func maxstack=4
  .k 1 0
      LOADK  0 k0 @3
      DIV    1 0 k1 @4
      RETURN 0 1 @5
.end
)"),
            ERR_ZERODIVISION);
  EXPECT_EQ(G(vm.L)->err.line, 4);
}

TEST(Exec, DeepRecursionOverflowsAndRecovers) {
  const char *prog = R"(
.func maxstack=4
  .k "f" 5000 "record" "pcall"
      CLOSURE   0 p0
      SETGLOBAL 0 k0
      GETGLOBAL 0 k3
      GETGLOBAL 1 k0
      LOADK     2 k1
      CALL      0 3 2
      GETGLOBAL 1 k2
      MOVE      2 0
      CALL      1 2 1
      GETGLOBAL 0 k3
      GETGLOBAL 1 k0
      LOADK     2 k4
      CALL      0 3 3
      GETGLOBAL 2 k2
      MOVE      3 0
      CALL      2 2 1
      RETURN    0 1
  .k 10
  .func params=1 maxstack=4
    .k 0 "f" 1
      EQ        0 0 k0
      JMP       more
      RETURN    0 2
more: GETGLOBAL 1 k1
      SUB       2 0 k2
      CALL      1 2 2
      RETURN    1 2
  .end
.end
)";
  ExecVm vm;
  ASSERT_EQ(vm.Run(prog), 0u);
  EXPECT_EQ(Join(vm.rec), "1135|0");
  EXPECT_LE(vm.L->size_ci, VM_MAX_CALLS);
}

TEST(Exec, NestedNativeCallsStopAt200) {
  ExecVm vm;
  EXPECT_EQ(vm.Run(R"(
.func maxstack=4
  .k "f"
      CLOSURE   0 p0
      SETGLOBAL 0 k0
      CALL      0 1 1
      RETURN    0 1
  .func maxstack=3
    .k "callf" "f"
      GETGLOBAL 0 k0
      GETGLOBAL 1 k1
      CALL      0 2 1
      RETURN    0 1
  .end
.end
)"),
            ERR_STACK);
  EXPECT_EQ(vm.L->nCcalls, 0);
}

TEST(Exec, UpvaluesAreSharedAndSurviveStackGrowth) {
  // Two closures share the main function's local; one of them is called at the bottom of a
  // deep recursion (the stack is reallocated meanwhile) and sets it.
  ExecVm vm;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=6
  .k "record" "deep" "set" 300 1 "get"
      LOADK     0 k4            ; x = 1
      CLOSURE   1 p0            ; set: x = 42
      MOVE      0 0
      SETGLOBAL 1 k2
      CLOSURE   1 p1            ; get: return x
      MOVE      0 0
      SETGLOBAL 1 k5
      CLOSURE   1 p2
      SETGLOBAL 1 k1
      GETGLOBAL 1 k1
      LOADK     2 k3
      CALL      1 2 1
      GETGLOBAL 1 k0
      MOVE      2 0
      GETGLOBAL 3 k5
      CALL      3 1 2
      CALL      1 3 1
      CLOSE     0
      RETURN    0 1
  .func maxstack=2 upvals=1
    .k 42
      LOADK    0 k0
      SETUPVAL 0 0
      RETURN   0 1
  .end
  .func maxstack=2 upvals=1
      GETUPVAL 0 0
      RETURN   0 2
  .end
  .func params=1 maxstack=40
    .k 0 "deep" 1 "set"
      EQ        1 0 k0
      JMP       bottom
      GETGLOBAL 1 k1
      SUB       2 0 k2
      CALL      1 2 1
      RETURN    0 1
bottom: GETGLOBAL 1 k3
      CALL      1 1 1
      RETURN    0 1
  .end
.end
)"),
            0u);
  EXPECT_EQ(Join(vm.rec), "42 42");
}

// A function that returns one value closes the upvalues its closures took from its registers:
// the next call at the same stack level writes over those registers, the closure keeps its value.
TEST(Exec, ReturnOfOneValueClosesTheFramesUpvalues) {
  ExecVm vm;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=6
  .k 7 99 "record" "get"
      CLOSURE   0 p0            ; mk(7): makes get, returns x
      LOADK     1 k0
      CALL      0 2 2
      CLOSURE   0 p1            ; clobber(99), on the same registers
      LOADK     1 k1
      CALL      0 2 2
      GETGLOBAL 1 k2
      GETGLOBAL 2 k3
      CALL      2 1 2
      CALL      1 2 1           ; record(get())
      RETURN    0 1
  .func params=1 maxstack=3
    .k "get"
      CLOSURE   1 p0
      MOVE      0 0
      SETGLOBAL 1 k0
      RETURN    0 2
    .func maxstack=2 upvals=1
        GETUPVAL 0 0
        RETURN   0 2
    .end
  .end
  .func params=1 maxstack=3
      MOVE      1 0
      MOVE      2 0
      RETURN    2 2
  .end
.end
)"),
            0u);
  EXPECT_EQ(Join(vm.rec), "7");
}

// A call clears the callee's registers above its arguments and nothing beyond its frame: the
// caller's register 5 lies just above the frame of a callee with one parameter and two registers.
TEST(Exec, ACallLeavesTheRegistersAboveTheCalleesFrameAlone) {
  ExecVm vm;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=8
  .k 5 1 "record"
      LOADK     4 k0
      LOADK     5 k0
      CLOSURE   0 p0
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k2
      MOVE      1 4
      MOVE      2 5
      CALL      0 3 1           ; record(r4, r5)
      RETURN    0 1
  .func params=1 maxstack=2
      RETURN    0 1
  .end
.end
)"),
            0u);
  EXPECT_EQ(Join(vm.rec), "5 5");
}

// A called frame's registers above its arguments read nil whatever was in those slots before,
// for every count of them, and the slot just above the frame keeps what it held. The callee
// returns all its registers.
TEST(Exec, CalledFrameStartsWithNilsAboveItsArguments) {
  struct {
    int params, maxstack, args;
  } cases[] = {
      {1, 2, 1}, {1, 3, 1}, {1, 4, 1}, {1, 5, 1}, {1, 8, 1},  // one to seven registers to clear
      {2, 2, 2},                                              // the arguments fill the frame
      {1, 2, 3},                                              // more arguments than registers
      {3, 5, 1},                                              // missing parameters read nil too
  };
  for (const auto &c : cases) {
    std::string text = ".func maxstack=16\n  .k 9 1 2 3 \"record\"\n";
    for (int r = 1; r < 16; r++) text += "      LOADK     " + std::to_string(r) + " k0\n";  // old values
    text += "      GETGLOBAL 0 k4\n      CLOSURE   1 p0\n";
    for (int i = 1; i <= c.args; i++) text += "      LOADK     " + std::to_string(1 + i) + " k" + std::to_string(i) + "\n";
    text += "      CALL      1 " + std::to_string(c.args + 1) + " 0\n      CALL      0 0 1\n";
    int above = 2 + c.maxstack;  // the first slot above the callee's frame
    text += "      GETGLOBAL 0 k4\n      MOVE      1 " + std::to_string(above) + "\n      CALL      0 2 1\n";
    text += "      RETURN    0 1\n  .func params=" + std::to_string(c.params) + " maxstack=" + std::to_string(c.maxstack) +
            "\n      RETURN    0 " + std::to_string(c.maxstack + 1) + "\n  .end\n.end\n";
    std::string want;
    for (int r = 0; r < c.maxstack; r++) {
      if (r > 0) want += ' ';
      want += r < c.args ? std::to_string(r + 1) : "nil";
    }
    ExecVm vm;
    std::string name = std::to_string(c.params) + " params, " + std::to_string(c.maxstack) + " registers, " +
                       std::to_string(c.args) + " arguments";
    ASSERT_EQ(vm.Run(text), 0u) << name;
    // An argument beyond the frame stays where it was passed.
    std::string kept = c.maxstack < c.args ? std::to_string(c.maxstack + 1) : "9";
    EXPECT_EQ(Join(vm.rec), want + "|" + kept) << name;
  }
}

TEST(Exec, Gosub) {
  RunCases({
      {"subroutine twice", R"(
.func maxstack=4
  .k 1 "record"
      LOADK     0 k0
      JMP       sub gosub
      JMP       sub gosub
      GETGLOBAL 1 k1
      MOVE      2 0
      CALL      1 2 1
      RETURN    0 1
sub:  ADD       0 0 k0
      RETURN    0 1 1
.end
)", 0, "3", nullptr},
      {"return without gosub", ".func maxstack=2\n RETURN 0 1 1\n RETURN 0 1\n.end\n", ERR_RETWOGOSUB, "", nullptr},
      {"4097th push", R"(
.func maxstack=2
sub:  JMP       sub gosub
      RETURN    0 1
.end
)", ERR_INTERNAL, "", nullptr},
      {"a function cannot return into its caller's gosub", R"(
.func maxstack=4
  .k "g"
      CLOSURE   0 p0
      SETGLOBAL 0 k0
      JMP       sub gosub
      RETURN    0 1
sub:  GETGLOBAL 0 k0
      CALL      0 1 1
      RETURN    0 1 1
  .func maxstack=2
      RETURN 0 1 1
      RETURN 0 1
  .end
.end
)", ERR_RETWOGOSUB, "", nullptr},
      {"a returning function drops its positions", R"(
.func maxstack=4
  .k "g" "record" 1
      CLOSURE   0 p0
      SETGLOBAL 0 k0
      GETGLOBAL 0 k0
      CALL      0 1 1
      RETURN    0 1 1
  .func maxstack=2
      JMP       sub gosub
sub:  RETURN    0 1
  .end
.end
)", ERR_RETWOGOSUB, "", nullptr},
      {"positions dropped on return are not found by the next call of the same function", R"(
.func maxstack=4
  .k "g" 1 0
      CLOSURE   0 p0
      SETGLOBAL 0 k0
      GETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 1          ; pushes a position and returns
      GETGLOBAL 0 k0
      LOADK     1 k2
      CALL      0 2 1          ; returns from a Gosub it never made
      RETURN    0 1
  .func params=1 maxstack=2
    .k 0
      EQ        1 0 k0
      JMP       back
      JMP       sub gosub
sub:  RETURN    0 1
back: RETURN    0 1 1
      RETURN    0 1
  .end
.end
)", ERR_RETWOGOSUB, "", nullptr},
      {"label jump requested by a command", R"(
.func maxstack=4
  .k "gosubreq" 4 "record" "back" "label"
      GETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k2
      LOADK     1 k3
      CALL      0 2 1
      RETURN    0 1
      GETGLOBAL 0 k2
      LOADK     1 k4
      CALL      0 2 1
      RETURN    0 1 1
.end
)", 0, "'label'|'back'", nullptr},
      {"label jump outside the function", R"(
.func maxstack=4
  .k "gosubreq" 50
      GETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 1
      RETURN    0 1
.end
)", ERR_WRONGUSAGE, "", nullptr},
  });
}

TEST(Exec, ProtectedErrorRestoresTheGosubDepth) {
  ExecVm vm;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=4
  .k "pcall" "record"
      GETGLOBAL 0 k0
      CLOSURE   1 p0
      CALL      0 2 2
      GETGLOBAL 1 k1
      MOVE      2 0
      CALL      1 2 1
      RETURN    0 1
  .func maxstack=2
    .k 1 0
      JMP       sub gosub
      RETURN    0 1
sub:  DIV       0 k0 k1
      RETURN    0 1 1
  .end
.end
)"),
            0u);
  EXPECT_EQ(Join(vm.rec), "1089");
  EXPECT_EQ(G(vm.L)->gosubdepth, 0);
}

TEST(Exec, EndRequestedStopsBeforeTheNextInstruction) {
  ExecVm vm;
  EXPECT_EQ(vm.Run(R"(
.func maxstack=4
  .k "stop" "record" 1
      GETGLOBAL 0 k0
      CALL      0 1 1
      GETGLOBAL 0 k1
      LOADK     1 k2
      CALL      0 2 1
      RETURN    0 1
.end
)"),
            ERR_USERABORT);
  EXPECT_TRUE(vm.rec.empty());
  // The same stop inside a function called from native code.
  ExecVm vm2;
  EXPECT_EQ(vm2.Run(R"(
.func maxstack=4
  .k "callf" "record" 1
      GETGLOBAL 0 k0
      CLOSURE   1 p0
      CALL      0 2 1
      GETGLOBAL 0 k1
      LOADK     1 k2
      CALL      0 2 1
      RETURN    0 1
  .func maxstack=2
    .k "stop"
      GETGLOBAL 0 k0
      CALL      0 1 1
      RETURN    0 1
  .end
.end
)"),
            ERR_USERABORT);
  EXPECT_TRUE(vm2.rec.empty());
}

TEST(Exec, OpcodesAboveTheTableDoNothing) {
  // The loader takes them as instructions that do nothing; a raw word patched in after
  // loading does not reach the interpreter either.
  ExecVm vm;
  qmtools::AsmResult r = qmtools::AssembleText(".func maxstack=2\n LOADK 0 k0\n RETURN 0 1\n .k 1\n.end\n");
  ASSERT_TRUE(r.proto);
  std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
  ASSERT_EQ(vm_loadbuffer(vm.L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), "=t"), 0u);
  vm_toproto(vm.L, -1)->code[0] = 50;
  EXPECT_EQ(vm_pcall(vm.L, 0, 0, 0), 0u);
}

// An end requested by a native tag method stops the script before the instruction after the
// one that called it, whichever instruction that was: a table read, a comparison, an
// arithmetic operation, a table write.
TEST(Exec, EndRequestedInsideATagMethodStopsBeforeTheNextInstruction) {
  struct {
    const char *event;
    const char *use;  // the instruction that reaches the tag method; t in r3
  } cases[] = {
      {"__index", "GETTABLE 4 3 k4"},
      {"__lt", "LT 1 3 3\n      JMP next\nnext:"},
      {"__add", "ADD 4 3 k5"},
      {"__newindex", "SETTABLE 3 k4 k5"},
  };
  for (auto &c : cases) {
    std::string prog = std::string(R"(
.func maxstack=8
  .k "record" "setmeta" ")") + c.event + R"(" "stop" "x" 1
      NEWTABLE  1 0 0          ; the metatable
      GETGLOBAL 2 k3           ; stop() as the tag method
      SETTABLE  1 k2 2
      GETGLOBAL 5 k1
      NEWTABLE  6 0 0
      MOVE      7 1
      CALL      5 3 2
      MOVE      3 5            ; t
      )" + c.use + R"(
      GETGLOBAL 5 k0
      LOADK     6 k5
      CALL      5 2 1
      RETURN    0 1
.end
)";
    ExecVm vm;
    EXPECT_EQ(vm.Run(prog.c_str()), ERR_USERABORT) << c.event;
    EXPECT_TRUE(vm.rec.empty()) << c.event;
  }
}
