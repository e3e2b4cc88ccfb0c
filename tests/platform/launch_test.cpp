#include "platform/launch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/time.h"
#include "runtime/errcodes.h"
#include "tempdir.h"

namespace {

TEST(Launch, ArgumentTextSplitsLikeACommandLine) {
  struct Case {
    const char *name;
    const char *text;
    uint32_t rc;
    std::vector<std::string> args;
    std::string output;
  };
  const Case cases[] = {
      {"plain", "a b  c", 0, {"a", "b", "c"}, ""},
      {"quoted", "\"two words\" x", 0, {"two words", "x"}, ""},
      {"empty quotes", "\"\" x", 0, {"", "x"}, ""},
      {"attached output", "a >out.txt b", 0, {"a", "b"}, "out.txt"},
      {"separate output", "a > out.txt", 0, {"a"}, "out.txt"},
      {"quoted output", "> \"my out.txt\"", 0, {}, "my out.txt"},
      {"unbalanced quote", "a \"b c", ERR_WRONGUSAGE, {}, ""},
      {"output without a name", "a >", ERR_WRONGUSAGE, {}, ""},
      {"nothing", "", 0, {}, ""},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args;
    std::string output;
    ASSERT_EQ(SplitLaunchArguments(c.text, &args, &output), c.rc) << c.name;
    if (c.rc) continue;
    EXPECT_EQ(args, c.args) << c.name;
    EXPECT_EQ(output, c.output) << c.name;
  }
  // 126 arguments fit beside the program itself; 127 do not.
  std::string many;
  for (int i = 0; i < 126; i++) many += "x ";
  std::vector<std::string> args{"program"};
  std::string output;
  EXPECT_EQ(SplitLaunchArguments(many.c_str(), &args, &output), 0u);
  args.assign(1, "program");
  many += "y";
  EXPECT_EQ(SplitLaunchArguments(many.c_str(), &args, &output),
            static_cast<uint32_t>(ERR_WRONGUSAGE));
}

void WriteScript(const std::string &path, const std::string &body) {
  WriteFile(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), 0755);
}

// Waits up to five seconds for a file that a started process writes to hold the expected text.
std::string WaitFor(const std::string &path, const std::string &expected) {
  for (int i = 0; i < 500; i++) {
    std::string text = ReadWholeFile(path);
    if (text == expected) return text;
    SleepMilliseconds(10);
  }
  return ReadWholeFile(path);
}

TEST(Launch, StartsProgramsWithAndWithoutWaiting) {
  TempDir dir;
  std::string echo = dir / "my echo.sh";  // the space must survive both ways of starting
  WriteScript(echo, "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\necho end\n");

  std::string out = dir / "async.txt";
  std::string args = "one \"two words\" caf\xE9 >" + out;
  EXPECT_EQ(LaunchProgram(echo.c_str(), args.c_str(), 1), 0u);
  const std::string expected = "[one]\n[two words]\n[caf\xC3\xA9]\nend\n";
  EXPECT_EQ(WaitFor(out, expected), expected);

  std::string syncOut = dir / "sync.txt";
  std::string shellArgs = "alpha beta > '" + syncOut + "'";
  EXPECT_EQ(LaunchProgram(echo.c_str(), shellArgs.c_str(), 0), 0u);
  EXPECT_EQ(ReadWholeFile(syncOut), "[alpha]\n[beta]\nend\n");  // finished when it returned

  EXPECT_EQ(LaunchProgram((dir / "missing-program").c_str(), "", 1),
            static_cast<uint32_t>(ERR_READFILE));
  EXPECT_EQ(LaunchProgram(echo.c_str(), "\"open", 1), static_cast<uint32_t>(ERR_WRONGUSAGE));
}

// A program that is not there, or cannot run, is an error whether the call waits or not; a bare
// name is looked up on PATH.
TEST(Launch, AMissingProgramIsAnErrorBothWays) {
  TempDir dir;
  std::string notRunnable = dir / "plain";
  WriteFile(notRunnable, "echo never\n");
  const struct {
    std::string program;
    uint32_t code;
  } rows[] = {
      {dir / "missing-program", ERR_READFILE},
      {"quenmoor-no-such-program", ERR_READFILE},
      {notRunnable, ERR_READFILE},
      {"true", 0},
  };
  for (const auto &r : rows)
    for (int async : {0, 1}) EXPECT_EQ(LaunchProgram(r.program.c_str(), nullptr, async), r.code) << r.program << " " << async;
}

TEST(Launch, DocumentsGoToTheDesktopHandler) {
  TempDir dir;
  std::string log = dir / "opened.txt";
  WriteScript(dir / "xdg-open", "printf '%s\\n' \"$1\" >> '" + log + "'\necho end >> '" + log + "'\n");
  const char *path = std::getenv("PATH");
  std::string savedPath = path ? path : "";
  setenv("PATH", (dir.path() + ":" + savedPath).c_str(), 1);

  std::string document = dir / "readme.txt";
  WriteFile(document, "text");
  EXPECT_EQ(LaunchProgram(document.c_str(), nullptr, 0), 0u);
  std::string opened = document + "\nend\n";
  EXPECT_EQ(WaitFor(log, opened), opened);

  // An executable file is a program even with a dot in its name.
  std::string tool = dir / "tool.sh";
  std::string toolOut = dir / "tool.txt";
  WriteScript(tool, "echo end > '" + toolOut + "'\n");
  EXPECT_EQ(LaunchProgram(tool.c_str(), nullptr, 0), 0u);
  EXPECT_EQ(ReadWholeFile(toolOut), "end\n");

  EXPECT_EQ(OpenURLInBrowser("https://example.invalid/"), 0u);
  opened += "https://example.invalid/\nend\n";
  EXPECT_EQ(WaitFor(log, opened), opened);
  EXPECT_EQ(OpenURLInBrowser("https://example.invalid/caf\xE9"), 0u);  // Latin-1 goes out as UTF-8
  opened += "https://example.invalid/caf\xC3\xA9\nend\n";
  EXPECT_EQ(WaitFor(log, opened), opened);
  setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
