// A command that meets a wrong value after it has started its work ends the script with the
// argument error and leaves nothing behind: the sanitized player's leak check at exit is the
// judge, so a block held across the raise fails the run.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/player/e2e_util.h"

namespace {

// Layers on and a brush shown as layer 1 (lines 1 to 3); then, on line 4, the command with
// its leading numbers and an option table of the fields (values written as constants).
std::string WithOptionTable(const std::string &command, const std::vector<int> &numbers,
                            const std::vector<std::pair<std::string, std::string>> &fields) {
  std::vector<std::string> k = {"\"enablelayers\"", "\"createbrush\"", "1", "16", "\"displaybrush\"", "0",
                                "\"" + command + "\""};
  auto constant = [&](const std::string &text) {
    for (size_t i = 0; i < k.size(); i++)
      if (k[i] == text) return "k" + std::to_string(i);
    k.push_back(text);
    return "k" + std::to_string(k.size() - 1);
  };
  std::string code =
      "      GETGLOBAL 0 k0 @1\n      CALL      0 1 1\n"
      "      GETGLOBAL 0 k1 @2\n      LOADK     1 k2\n      LOADK     2 k3\n      LOADK     3 k3\n      CALL      0 4 1\n"
      "      GETGLOBAL 0 k4 @3\n      LOADK     1 k2\n      LOADK     2 k5\n      LOADK     3 k5\n      CALL      0 4 1\n"
      "      GETGLOBAL 0 k6 @4\n";
  int reg = 1;
  for (int n : numbers) code += "      LOADK     " + std::to_string(reg++) + " " + constant(std::to_string(n)) + "\n";
  code += "      NEWTABLE  " + std::to_string(reg) + " 0 " + std::to_string(fields.size()) + "\n";
  for (const auto &[key, value] : fields)
    code += "      SETTABLE  " + std::to_string(reg) + " " + constant("\"" + key + "\"") + " " + constant(value) + "\n";
  code += "      CALL      0 " + std::to_string(reg + 1) + " 1\n      RETURN    0 1\n.end\n";
  std::string head = ".func maxstack=12\n  .k";
  for (const std::string &c : k) head += " " + c;
  return head + "\n" + code;
}

}  // namespace

// The command has made something before the wrong field is read: a style change being read.
TEST(E2eLeaks, AWrongOptionAfterTheCommandStartedEndsWithTheArgumentErrorAndFreesWhatItMade) {
  struct Case {
    const char *command;
    std::vector<int> numbers;
    std::vector<std::pair<std::string, std::string>> fields;
    const char *error;
  };
  const Case cases[] = {
      {"setlayerstyle", {1}, {{"x", "\"not a number\""}}, "Number expected in table argument \"x\"!"},
  };
  PlayerDir d;
  for (const Case &c : cases) {
    qmtools::WriteBytes(d / "s.qma", AppletOf(WithOptionTable(c.command, c.numbers, c.fields)));
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "s.qma"},
                           {"ASAN_OPTIONS=detect_leaks=1", "SDL_AUDIODRIVER=dummy"});
    EXPECT_EQ(r.status, 1) << c.command << r.out << r.err;
    EXPECT_NE(r.out.find(std::string(":4: ") + c.error), std::string::npos) << c.command << r.out;
    EXPECT_EQ(r.err.find("LeakSanitizer"), std::string::npos) << c.command << r.err;
  }
}
