// The math commands against python3's math module and integer arithmetic: math_golden.py
// writes math_golden.txt (one command call and its results per row).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/player/math/math_test_vm.h"

namespace {

std::vector<double> ParseNumbers(const std::string &text) {
  std::vector<double> v;
  std::istringstream in(text);
  std::string t;
  while (in >> t) v.push_back(std::strtod(t.c_str(), nullptr));
  return v;
}

int64_t OrderedBits(double d) {
  int64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b < 0 ? INT64_MIN - b : b;
}

// Equal within ulps units in the last place; any NaN equals any NaN; zeros keep their sign.
bool Close(double got, double want, int ulps) {
  if (std::isnan(want)) return std::isnan(got);
  if (std::isnan(got)) return false;
  if (ulps == 0) return std::memcmp(&got, &want, sizeof got) == 0;
  int64_t d = OrderedBits(got) - OrderedBits(want);
  return d >= -ulps && d <= ulps;
}

TEST(MathGolden, EveryRowMatchesPython) {
  std::ifstream in(std::string(QM_SOURCE_DIR) + "/tests/player/math/math_golden.txt");
  ASSERT_TRUE(in) << "math_golden.txt missing";
  MathVm vm;
  std::string line;
  int rows = 0, failures = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, ulps, args, results;
    std::getline(fields, name, '|');
    std::getline(fields, ulps, '|');
    std::getline(fields, args, '|');
    std::getline(fields, results, '|');
    std::vector<CmdArg> argv;
    for (double a : ParseNumbers(args)) argv.emplace_back(a);
    CommandCall c = vm.Call(name, argv);
    rows++;
    bool ok;
    if (!results.empty() && results[0] == '!') {
      ok = c.code == std::strtoul(results.c_str() + 1, nullptr, 10);
    } else {
      std::vector<double> want = ParseNumbers(results);
      ok = c.code == 0 && c.results.size() == want.size();
      for (size_t i = 0; ok && i < want.size(); i++) ok = Close(c.results[i], want[i], std::atoi(ulps.c_str()));
    }
    if (!ok && ++failures <= 20) {
      std::ostringstream got;
      got << "code " << c.code << ":";
      for (double r : c.results) got << ' ' << std::hexfloat << r;
      ADD_FAILURE() << line << "  got " << got.str();
    }
  }
  EXPECT_GT(rows, 5000);
  EXPECT_EQ(failures, 0);
}

}  // namespace
