// The expression evaluator: the engine over a table of texts, and the Eval command with its
// variable table.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "player/string/eval.h"
#include "player/string/eval_command.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "tests/runtime/vm/vm_test_util.h"

namespace {

struct EvalRow {
  const char *text;
  double value;   // when code is 0
  uint32_t code;
};

// Nothing but the text: operators, precedence, numbers, errors.
const EvalRow kPlain[] = {
    {"2+3*4", 14, 0},
    {"(2+3)*4", 20, 0},
    {"2^3^2", 512, 0},  // right-associative
    {"-2^2", -4, 0},    // only ^ binds tighter than unary minus
    {"2 ^ -1", 0.5, 0},
    {"2 * (3 + 4) ^ 2", 98, 0},
    {"1 - - 1", 2, 0},
    {"10 - 4 - 3", 3, 0},
    {"7\\2", 3, 0},
    {"-7 \\ 2", -3, 0},
    {"-7 % 2", -1, 0},
    {"7.9 \\ 2.9", 3, 0},  // both truncated first
    {"-2147483648 \\ -1", 2147483648.0, 0},
    {"-2147483648 % -1", 0, 0},
    {"1/0", 0, ERR_ZERODIVISION},
    {"5 \\ 0", 0, ERR_ZERODIVISION},
    {"5 % 0.5", 0, ERR_ZERODIVISION},  // the truncated right value is 0
    {"5 and 3", 3, 0},
    {"0 and 3", 0, 0},
    {"5 AND 0", 0, 0},
    {"0 or 4", 4, 0},
    {"2 Or 4", 2, 0},
    {"not 0", 1, 0},
    {"NOT 7", 0, 0},
    {"1 + 1 = 2", 1, 0},
    {"1 < 2 < 3", 1, 0},
    {"3 <> 3", 0, 0},
    {"2 <= 2", 1, 0},
    {"2 >= 3", 0, 0},
    {"3 > 2 and 2 > 1", 1, 0},
    {"1 << 4", 16, 0},
    {"1<<4", 0, ERR_VALUEEXPECTED},  // "<<" needs a non-alphanumeric character after it
    {"1 <= 2", 1, 0},
    {"1<=2", 0, ERR_VALUEEXPECTED},
    {"1 << 33", 2, 0},  // counts masked to 0..31
    {"-1 >> 28", 15, 0},
    {"~0", 4294967295.0, 0},
    {"~5 & 255", 250, 0},
    {"$FF & 15", 15, 0},
    {"0x1F + $10", 47, 0},
    {"6 ~ 3", 5, 0},
    {"4 | 1", 5, 0},
    {"-5 | 0", 4294967291.0, 0},
    {"3e9 | 0", 3000000000.0, 0},
    {"5e9 | 0", 4294967295.0, 0},  // clamped
    {"1 | 2 ~ 3 & 1", 3, 0},      // & before ~ before |
    {"1\t+\t2", 3, 0},
    {"  42  ", 42, 0},
    {"1.5e2", 150, 0},
    {"2 3", 0, ERR_SYNTAXERROR},
    {"(1", 0, ERR_UNMPARENTHESES},
    {"1)", 0, ERR_SYNTAXERROR},
    {"1 .. 2", 0, ERR_WRONGOPCST},
    {".5", 0, ERR_VALUEEXPECTED},
    {"", 0, ERR_VALUEEXPECTED},
    {"1 +", 0, ERR_VALUEEXPECTED},
    {"x", 0, ERR_VALUEEXPECTED},
    {"1\n+2", 0, ERR_SYNTAXERROR},  // only spaces and tabs are white space
    {"$", 0, ERR_SYNTAXERROR},
    {"1 + 0x", 0, ERR_SYNTAXERROR},
};

TEST(Eval, PlainExpressions) {
  for (const EvalRow &r : kPlain) {
    double v = -12345;
    uint32_t code = EvalExpression(r.text, nullptr, &v);
    EXPECT_EQ(code, r.code) << r.text;
    if (r.code == 0) {
      EXPECT_EQ(v, r.value) << r.text;
    }
  }
}

TEST(Eval, NestingIsBoundedInsteadOfExhaustingTheStack) {
  struct Case {
    std::string text;
    uint32_t code;
  };
  std::vector<Case> cases = {
      {std::string(150, '(') + "1" + std::string(150, ')'), 0},
      {std::string(250, '(') + "1" + std::string(250, ')'), ERR_STACK},
      {std::string(100000, '('), ERR_STACK},
      {std::string(150, '-') + "1", 0},
      {std::string(100000, '-') + "1", ERR_STACK},
      {std::string(100000, '~') + "1", ERR_STACK},
  };
  std::string power = "1";
  for (int i = 0; i < 5000; i++) power += "^1";
  cases.push_back({power, ERR_STACK});  // right operands nest too
  for (const Case &c : cases) {
    double v = 0;
    EXPECT_EQ(EvalExpression(c.text.c_str(), nullptr, &v), c.code) << c.text.substr(0, 20);
  }
}

TEST(Eval, VariableNames) {
  struct Case {
    std::string name;
    uint32_t code;
  } cases[] = {
      {"x", 0},           {"_", 0},         {"a$!_9", 0},  {"Z9", 0},          {std::string(64, 'a'), 0},
      {"9a", ERR_WRONGUSAGE}, {"", ERR_WRONGUSAGE}, {"$a", ERR_WRONGUSAGE}, {"a-b", ERR_WRONGUSAGE},
      {"a b", ERR_WRONGUSAGE}, {"\xe4", ERR_WRONGUSAGE}, {std::string(65, 'a'), ERR_WRONGUSAGE},
  };
  for (const Case &c : cases) EXPECT_EQ(CheckEvalVariableName(c.name.data(), c.name.size()), c.code) << c.name;
}

// Eval called as a command; variables given as {name, value} rows.
struct EvalVm : VmFixture {
  EvalVm() {
    vm_pushstring(L, "eval");
    vm_pushcfunction(L, StrEval);
    vm_settable(L, VM_GLOBALSINDEX);
  }

  struct Var {
    const char *name;  // null: the entry is the number 5 instead of a table
    double value;
    bool hasValue = true;
  };

  // Eval(text, {variables = {...}}) with the table left out when vars is null.
  uint32_t Call(const char *text, const std::vector<Var> *vars, double *out) {
    vm_settop(L, 0);
    vm_pushstring(L, "eval");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushstring(L, text);
    int n = 1;
    if (vars) {
      vm_newtable(L);
      vm_pushstring(L, "variables");
      vm_newtable(L);
      for (size_t i = 0; i < vars->size(); i++) {
        const Var &v = (*vars)[i];
        vm_pushnumber(L, static_cast<double>(i + 1));
        if (!v.name) {
          vm_pushnumber(L, 5);
        } else {
          vm_newtable(L);
          vm_pushstring(L, "name");
          vm_pushstring(L, v.name);
          vm_settable(L, -3);
          if (v.hasValue) {
            vm_pushstring(L, "value");
            vm_pushnumber(L, v.value);
            vm_settable(L, -3);
          }
        }
        vm_settable(L, -3);
      }
      vm_settable(L, -3);
      n = 2;
    }
    return Finish(n, out);
  }

  uint32_t Finish(int nargs, double *out) {
    uint32_t code = vm_pcall(L, nargs, 1, 0);
    if (code) vm_setendrequested(L, 0);
    else *out = vm_tonumber(L, -1);
    vm_settop(L, 0);
    return code;
  }
};

TEST(EvalCommand, Variables) {
  using V = EvalVm::Var;
  struct Case {
    const char *text;
    std::vector<V> vars;
    double value;
    uint32_t code;
  };
  const Case cases[] = {
      {"x*2", {{"X", 21}}, 42, 0},  // names match without regard to case
      {"xy + x", {{"x", 1}, {"xy", 2}}, 3, 0},  // "x" does not match the start of "xy"
      {"x2", {{"x", 1}}, 0, ERR_VALUEEXPECTED},
      {"a+b", {{"a", 1}, {"b", 0.5}}, 1.5, 0},
      {"Sum$ * rate!", {{"sum$", 10}, {"RATE!", 3}}, 30, 0},
      {"and", {{"and", 5}}, 0, ERR_VALUEEXPECTED},  // the keyword wins
      {"x", {{"x", 1}, {"x", 2}}, 1, 0},           // the first of equal names
      {"n + 1", {{"n", 0, false}}, 1, 0},           // a missing value reads as 0
      {"1", {{"9a", 1}}, 0, ERR_WRONGUSAGE},
      {"1", {{"", 1}}, 0, ERR_WRONGUSAGE},
      {"1", {{"ok", 1}, {nullptr, 0}}, 0, ERR_WRONGUSAGE},  // an entry that is no table
      {"1", {}, 1, 0},
  };
  EvalVm vm;
  for (const Case &c : cases) {
    double v = -1;
    EXPECT_EQ(vm.Call(c.text, &c.vars, &v), c.code) << c.text;
    if (c.code == 0) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(EvalCommand, Arguments) {
  EvalVm vm;
  VmState *L = vm.L;
  double v = 0;
  auto start = [&](const char *text) {
    vm_settop(L, 0);
    vm_pushstring(L, "eval");
    vm_gettable(L, VM_GLOBALSINDEX);
    if (text) vm_pushstring(L, text);
  };
  EXPECT_EQ(vm.Call("2+2", nullptr, &v), 0u);
  EXPECT_EQ(v, 4);
  start(nullptr);
  EXPECT_EQ(vm.Finish(0, &v), ERR_MISSINGPARAMTR);
  start("1");
  vm_newtable(L);
  vm_pushnumber(L, 3);
  EXPECT_EQ(vm.Finish(3, &v), ERR_TOOMANYARGS);
  start("1");
  vm_pushnumber(L, 5);
  EXPECT_EQ(vm.Finish(2, &v), ERR_TABEXPECTED);
  start("1");
  vm_pushnil(L);
  EXPECT_EQ(vm.Finish(2, &v), 0u);
  start("1");
  vm_newtable(L);
  vm_pushstring(L, "variables");
  vm_pushnumber(L, 3);
  vm_settable(L, -3);
  EXPECT_EQ(vm.Finish(2, &v), ERR_WRONGUSAGE);
  // A value that is no number.
  start("a");
  vm_newtable(L);
  vm_pushstring(L, "variables");
  vm_newtable(L);
  vm_newtable(L);
  vm_pushstring(L, "name");
  vm_pushstring(L, "a");
  vm_settable(L, -3);
  vm_pushstring(L, "value");
  vm_pushstring(L, "many");
  vm_settable(L, -3);
  vm_rawseti(L, -2, 1);
  vm_settable(L, -3);
  EXPECT_EQ(vm.Finish(2, &v), ERR_NUMTABLEARG);
}

}  // namespace
