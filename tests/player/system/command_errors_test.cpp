// A failing command of every library takes the one path of command errors: with ExitOnError
// off the code is left for GetLastError, the command delivers no results and the script goes
// on; with it on the script stops and the report names the command; a RaiseOnError handler
// sees the failure first and, when it succeeds, lets the script go on.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/errcodes.h"
#include "tests/player/system/recording_handler.h"
#include "tests/player/system/system_test_util.h"

namespace {

// One command call: its registered name and its arguments, each a number ("77"), a string
// ("s:text"), the readable file of the fixture ("$READ") or a table with one string field
// ("t:key=value").
struct CommandCall {
  const char *name;
  std::vector<std::string> args;
};

struct FailingCommand {
  const char *library;
  std::vector<CommandCall> setup;  // calls that succeed before the failing one
  CommandCall failing;
  uint32_t code;
};

enum class Mode { ExitOff, ExitOn, Handler };

std::string Lower(const char *s) {
  std::string out(s);
  for (char &c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The assembled program: the mode's switch, the set-up calls, then
//   x, y = failing(...); record(x, y, GetLastError()); record("after")
class ProgramWriter {
 public:
  ProgramWriter(const std::string &readable) : readable_(readable) {}

  std::string Write(const FailingCommand &c, Mode mode) {
    std::string body;
    if (mode == Mode::ExitOff) body += Call({"ExitOnError", {"0"}}, 1);
    if (mode == Mode::Handler) {
      body += "      GETGLOBAL 0 " + K("raiseonerror") + "\n      CLOSURE   1 p0\n      CALL      0 2 1\n";
    }
    for (const CommandCall &s : c.setup) body += Call(s, 1);
    body += Call(c.failing, 3);
    body += "      GETGLOBAL 2 " + K("record") + "\n      MOVE      3 0\n      MOVE      4 1\n";
    body += "      GETGLOBAL 5 " + K("getlasterror") + "\n      CALL      5 1 2\n      CALL      2 4 1\n";
    body += "      GETGLOBAL 0 " + K("record") + "\n      LOADK     1 " + K("s:after") + "\n      CALL      0 2 1\n";
    body += "      RETURN    0 1\n";
    std::string program = ".func maxstack=12\n  .k";
    for (const std::string &k : constants_) program += " " + k;
    program += "\n" + body;
    program += std::string(kRecordingHandler) + ".end\n";
    return program;
  }

 private:
  // The constant's index; a name without a prefix is a global's name, "s:" a string.
  std::string K(const std::string &value) {
    std::string text;
    if (value.rfind("s:", 0) == 0) text = "\"" + value.substr(2) + "\"";
    else if (value == "$READ") text = "\"" + readable_ + "\"";
    else if (value.find_first_not_of("-0123456789.") == std::string::npos) text = value;
    else text = "\"" + value + "\"";
    for (size_t i = 0; i < constants_.size(); i++)
      if (constants_[i] == text) return "k" + std::to_string(i);
    constants_.push_back(text);
    return "k" + std::to_string(constants_.size() - 1);
  }

  // Calls into registers 0.. with `results` - 1 results kept.
  std::string Call(const CommandCall &call, int results) {
    std::string s = "      GETGLOBAL 0 " + K(Lower(call.name)) + "\n";
    int reg = 1;
    for (const std::string &a : call.args) {
      std::string r = std::to_string(reg++);
      if (a.rfind("t:", 0) == 0) {
        size_t eq = a.find('=');
        s += "      NEWTABLE  " + r + " 0 1\n";
        s += "      SETTABLE  " + r + " " + K("s:" + a.substr(2, eq - 2)) + " " + K("s:" + a.substr(eq + 1)) + "\n";
      } else {
        s += "      LOADK     " + r + " " + K(a) + "\n";
      }
    }
    s += "      CALL      0 " + std::to_string(call.args.size() + 1) + " " + std::to_string(results) + "\n";
    return s;
  }

  std::string readable_;
  std::vector<std::string> constants_;
};

const std::vector<FailingCommand> kFailingCommands = {
    {"string", {}, {"Chr", {"300"}}, ERR_WRONGUSAGE},
    {"math", {}, {"Div", {"1", "0"}}, ERR_ZERODIVISION},
    {"graphics", {}, {"FreeClipRegion", {"77"}}, ERR_FINDCLIPREGION},
    {"draw", {}, {"Box", {"0", "0", "0", "0"}}, ERR_WRONGUSAGE},
    {"dos: missing file", {}, {"CloseFile", {"77"}}, ERR_FINDFILE},
    {"dos: write to a file opened for reading", {{"OpenFile", {"1", "$READ", "1005"}}},
     {"WriteLine", {"1", "s:x"}}, ERR_READONLY},
    {"event", {}, {"ClearInterval", {"77"}}, ERR_FINDINTERVAL},
    {"system", {}, {"StopTimer", {"77"}}, ERR_FINDTIMER},
    {"text", {}, {"CloseFont", {"77"}}, ERR_FINDFONT2},
    {"display", {}, {"FreeDisplay", {"77"}}, ERR_FINDDISPLAY},
    {"sound", {}, {"FreeSample", {"77"}}, ERR_FINDSAMPLE},
    {"brush", {}, {"FreeBrush", {"77"}}, ERR_FINDBRUSH},
    {"bgpic", {}, {"FreeBGPic", {"77"}}, ERR_FINDBGPIC},
    {"memblock: missing block", {}, {"FreeMem", {"77"}}, ERR_FINDMEMBLK},
    {"memblock: read from a freed block", {{"AllocMem", {"1", "8"}}, {"FreeMem", {"1"}}},
     {"Peek", {"1", "0"}}, ERR_FINDMEMBLK},
    {"network: missing connection", {}, {"CloseConnection", {"77"}}, ERR_FINDCLIENT},
    {"network: empty post", {}, {"DownloadFile", {"s:http://127.0.0.1:1/", "t:post="}}, ERR_WRONGUSAGE},
};

class CommandErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    // One file per test: the tests of the table run side by side.
    readable_ = std::string(QM_BINARY_DIR) + "/command_errors_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    FILE *f = std::fopen(readable_.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("line\n", f);
    std::fclose(f);
  }
  void TearDown() override { std::remove(readable_.c_str()); }
  std::string readable_;
};

TEST_F(CommandErrors, ExitOnErrorOffLeavesTheCodeAndGoesOn) {
  for (const FailingCommand &c : kFailingCommands) {
    SysVm vm;
    ProgramWriter w(readable_);
    EXPECT_EQ(vm.Run(w.Write(c, Mode::ExitOff)), 0u) << c.library;
    ASSERT_EQ(vm.rec.size(), 2u) << c.library;
    EXPECT_EQ(vm.rec[0], "nil nil " + std::to_string(c.code)) << c.library;
    EXPECT_EQ(vm.rec[1], "'after'") << c.library;
  }
}

TEST_F(CommandErrors, ExitOnErrorOnStopsWithTheCommandNamed) {
  for (const FailingCommand &c : kFailingCommands) {
    SysVm vm;
    ProgramWriter w(readable_);
    EXPECT_EQ(vm.Run(w.Write(c, Mode::ExitOn)), c.code) << c.library;
    EXPECT_TRUE(vm.rec.empty()) << c.library;
    EXPECT_STREQ(G(vm.L)->err.funcname, c.failing.name) << c.library;
    EXPECT_EQ(G(vm.L)->err.lastcode, c.code) << c.library;
  }
}

TEST_F(CommandErrors, RaiseOnErrorHandlerSeesTheFailureFirst) {
  for (const FailingCommand &c : kFailingCommands) {
    SysVm vm;
    ProgramWriter w(readable_);
    EXPECT_EQ(vm.Run(w.Write(c, Mode::Handler)), 0u) << c.library;
    ASSERT_EQ(vm.rec.size(), 3u) << c.library;
    std::string seen = vm.rec[0];
    EXPECT_EQ(seen.substr(0, seen.find(' ')), std::to_string(c.code)) << c.library;
    EXPECT_NE(seen.find("'" + std::string(c.failing.name) + "'"), std::string::npos) << seen;
    EXPECT_EQ(vm.rec[1], "nil nil 0") << c.library;  // the handler's success clears the failure
    EXPECT_EQ(vm.rec[2], "'after'") << c.library;
  }
}

}  // namespace
