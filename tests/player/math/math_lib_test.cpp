// The math commands as the script calls them: registration, argument checks, the edge cases
// python3 cannot check (it raises where libm returns NaN or infinities), random numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "runtime/random.h"
#include "runtime/errcodes.h"
#include "runtime/registry.h"
#include "tests/player/math/math_test_vm.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct MathRow {
  const char *name;
  std::vector<CmdArg> args;
  std::vector<double> results;  // when code is 0; NaN matches NaN
  uint32_t code;
};

void RunRows(MathVm &vm, const std::vector<MathRow> &rows) {
  for (const MathRow &r : rows) {
    std::string label = r.name;
    for (const CmdArg &a : r.args) label += " " + (a.kind == CmdArg::NUM ? std::to_string(a.num) : std::string("?"));
    CommandCall c = vm.Call(r.name, r.args);
    EXPECT_EQ(c.code, r.code) << label;
    if (r.code || c.code) continue;
    ASSERT_EQ(c.results.size(), r.results.size()) << label;
    for (size_t i = 0; i < r.results.size(); i++) {
      if (std::isnan(r.results[i])) EXPECT_TRUE(std::isnan(c.results[i])) << label;
      else EXPECT_EQ(c.results[i], r.results[i]) << label;
    }
  }
}

TEST(MathLib, EdgeCases) {
  MathVm vm;
  RunRows(vm, {
      {"Mod", {7, 0}, {}, ERR_ZERODIVISION},
      {"Div", {1, 0}, {}, ERR_ZERODIVISION},
      {"Div", {1, -0.0}, {}, ERR_ZERODIVISION},
      {"Rt", {8, 0}, {}, ERR_ZERODIVISION},
      {"Rt", {8, -3}, {}, ERR_WRONGUSAGE},
      {"Rt", {8, 3}, {2}, 0},
      {"Int", {-2.7}, {-2}, 0},
      {"Int", {3e9}, {-2147483648.0}, 0},  // out of range: the 32-bit conversion's one answer
      {"Int", {kNaN}, {-2147483648.0}, 0},
      {"Round", {2.5}, {2}, 0},
      {"Round", {3.5}, {4}, 0},
      {"Round", {-2.5}, {-2}, 0},
      {"Round", {3e9}, {-2147483648.0}, 0},
      {"Frac", {-2.25}, {-0.25}, 0},
      {"Shr", {-1, 28}, {15}, 0},
      {"Sar", {-16, 2}, {-4}, 0},
      {"Shl", {1, 31}, {2147483648.0}, 0},
      {"Shl", {1, 32}, {1}, 0},  // counts taken modulo 32
      {"BitSet", {0, 32}, {}, ERR_WRONGUSAGE},
      {"BitClear", {0, -1}, {}, ERR_WRONGUSAGE},
      {"BitTest", {5, 2}, {1}, 0},
      {"BitTest", {5, 1}, {0}, 0},
      {"Ror", {1, 1}, {2147483648.0}, 0},
      {"Ror", {1, 1, 7}, {128}, 0},
      {"Rol", {128, 1, 7}, {1}, 0},
      {"Rol", {1, 1, 5}, {}, ERR_WRONGUSAGE},
      {"Ror", {0x1234, 16, 6}, {0x1234}, 0},
      {"Ror", {1, 17, 6}, {0}, 0},  // a count beyond the width follows the shift formula
      {"Rol", {1, -1}, {2147483648.0}, 0},
      {"Rol", {2147483649.0, 2147483647.0}, {3221225472.0}, 0},  // count 31
      {"Ror", {5, 3, CmdArg::Nil()}, {2684354560.0}, 0},  // nil width: 32 bits
      {"Cast", {255, 1, 7}, {-1}, 0},
      {"Cast", {-1, 0, 6}, {65535}, 0},
      {"Cast", {-1, 0, 1}, {4294967295.0}, 0},
      {"Cast", {-129, 1, 7}, {127}, 0},
      {"Cast", {1, 1, 2}, {}, ERR_WRONGUSAGE},
      {"Wrap", {370, 0, 360}, {10}, 0},
      {"Wrap", {-10, 0, 360}, {350}, 0},
      {"Wrap", {730, 0, 360}, {370}, 0},  // one step only
      {"Limit", {5, 10, 20}, {10}, 0},
      {"Max", {1, 5, 3}, {5}, 0},
      {"Min", {kNaN, 1}, {kNaN}, 0},
      {"Max", {1, kNaN}, {1}, 0},
      {"Sgn", {CmdArg::Nil()}, {0}, 0},
      {"Sgn", {kNaN}, {0}, 0},
      {"FrExp", {0}, {0, 0}, 0},
      {"FrExp", {8}, {0.5, 4}, 0},
      {"LdExp", {0.75, 3.9}, {6}, 0},
      {"Log", {8, 1}, {kInf}, 0},
      {"Ld", {8}, {3}, 0},
      {"Sqrt", {-1}, {kNaN}, 0},
      {"Ln", {0}, {-kInf}, 0},
      {"Exp", {1000}, {kInf}, 0},
      {"Ceil", {-kInf}, {-kInf}, 0},
      {"Mod", {kInf, 2}, {kNaN}, 0},
      {"Pow", {0, -1}, {kInf}, 0},
      {"Abs", {CmdArg::Str("-12.5")}, {12.5}, 0},  // number strings convert
  });
}

TEST(MathLib, ArgumentChecks) {
  MathVm vm;
  RunRows(vm, {
      {"Min", {3}, {}, ERR_MISSINGPARAMTR},
      {"Max", {}, {}, ERR_MISSINGPARAMTR},
      {"Max", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {12}, 0},
      {"Abs", {}, {}, ERR_MISSINGPARAMTR},
      {"Abs", {1, 2}, {}, ERR_TOOMANYARGS},
      {"RndF", {1}, {}, ERR_TOOMANYARGS},
      {"Hypot", {3}, {}, ERR_MISSINGPARAMTR},
      {"Cast", {1, 1}, {}, ERR_MISSINGPARAMTR},
      {"Ror", {1, 1, 1, 1}, {}, ERR_TOOMANYARGS},
      {"Wrap", {1, 2, 3, 4}, {}, ERR_TOOMANYARGS},
      {"Abs", {CmdArg::Str("x")}, {}, ERR_NUMEXPECTED},
      {"Add", {1, CmdArg::Table()}, {}, ERR_NUMEXPECTED},
      {"Shl", {CmdArg::Str("one"), 1}, {}, ERR_NUMEXPECTED},
      {"Min", {1, 2, CmdArg::Table()}, {}, ERR_NUMEXPECTED},
  });
}

TEST(MathLib, RegisteredGloballyWithPi) {
  MathVm vm;
  const char *names[] = {"Abs", "Sin", "Cos", "Tan", "ASin", "ACos", "ATan", "ATan2", "Ceil", "Floor",
                         "Mod", "FrExp", "LdExp", "Sqrt", "Min", "Max", "Log", "Ld", "Ln", "Exp",
                         "Pow", "Deg", "Rad", "Rnd", "RndF", "Add", "Sub", "Mul", "Div", "Round",
                         "Int", "Frac", "Shr", "Shl", "Sar", "Rt", "Wrap", "Limit", "BitSet",
                         "BitClear", "BitTest", "BitXor", "BitComplement", "Sgn", "Ror", "Rol",
                         "Cast", "Hypot"};
  const qmCommandEntry *table = nullptr;
  for (const qmCommandTableRef *r = GetCommandRegistry(); r; r = r->next) {
    if (std::string(r->library) == "math") table = r->table;
  }
  ASSERT_NE(table, nullptr);
  size_t rows = 0;
  for (const qmCommandEntry *e = table; e->name; e++) rows++;
  EXPECT_EQ(rows, std::size(names));
  for (const char *name : names) {
    EXPECT_STREQ(FindRegisteredCommandName(name), name);
    std::string lower;
    for (const char *p = name; *p; p++) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    vm_pushstring(vm.L, lower.c_str());
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    EXPECT_EQ(vm_type(vm.L, -1), VM_TFUNCTION) << name;
    vm_pop(vm.L, 1);
  }
  const char *text = "unset";
  double pi = 0;
  ASSERT_EQ(vm_getconstant(vm.L, "PI", &text, &pi), 1);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(pi, 3.141592653589793);
}

TEST(MathLib, RandomNumbers) {
  MathVm vm;
  SeedMathRandom(12345);
  std::set<double> seen;
  for (int i = 0; i < 3000; i++) {
    CommandCall c = vm.Call("Rnd", {6});
    ASSERT_EQ(c.code, 0u);
    double v = c.results[0];
    ASSERT_TRUE(v >= 0 && v <= 5 && v == std::floor(v)) << v;
    seen.insert(v);
    c = vm.Call("RndF", {});
    ASSERT_EQ(c.code, 0u);
    ASSERT_TRUE(c.results[0] >= 0 && c.results[0] < 1) << c.results[0];
  }
  EXPECT_EQ(seen.size(), 6u);
  EXPECT_EQ(vm.Call("Rnd", {0}).results, std::vector<double>{0});
  EXPECT_EQ(vm.Call("Rnd", {1.9}).results, std::vector<double>{0});  // n truncated to 1
  EXPECT_EQ(vm.Call("Rnd", {-1}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("Rnd", {kNaN}).code, ERR_WRONGUSAGE);
  CommandCall big = vm.Call("Rnd", {2147483647.0});
  ASSERT_EQ(big.code, 0u);
  EXPECT_LT(big.results[0], 2147483647.0);
  // The same seed gives the same numbers.
  SeedMathRandom(7);
  double a = vm.Call("RndF", {}).results[0];
  SeedMathRandom(7);
  EXPECT_EQ(vm.Call("RndF", {}).results[0], a);
}

}  // namespace
