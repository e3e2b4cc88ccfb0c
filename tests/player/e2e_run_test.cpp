// The player program end to end: output, exit status and the final report.
#include <fcntl.h>

#include "tests/player/e2e_util.h"

namespace {

// DebugPrint("hello", 42) on line 1, then a call of nosuch() on line 2 when failing is set.
std::string PrintScript(bool failing) {
  std::string s =
      ".func source=\"t.qms\" maxstack=4\n"
      "  .k \"debugprint\" \"hello\" 42 \"nosuch\"\n"
      "      GETGLOBAL 0 k0 @1\n"
      "      LOADK 1 k1\n"
      "      LOADK 2 k2\n"
      "      CALL 0 3 1\n";
  if (failing) s += "      GETGLOBAL 0 k3 @2\n      CALL 0 1 1\n";
  return s + "      RETURN 0 1 @3\n.end\n";
}

const char kLoop[] =
    ".func source=\"loop.qms\" maxstack=2\n"
    "  top: JMP top @1\n"
    "      RETURN 0 1\n"
    ".end\n";

// PatternReplaceStr on a match that backtracks for minutes.
const char kRunawayMatch[] =
    ".func source=\"match.qms\" maxstack=4\n"
    "  .k \"patternreplacestr\" \"aaaaaaaaaaaaaaaaaaaaaaaaaaaa\" \"a*a*a*a*a*a*a*a*a*a*a*b\" \"x\"\n"
    "      GETGLOBAL 0 k0 @1\n"
    "      LOADK 1 k1\n"
    "      LOADK 2 k2\n"
    "      LOADK 3 k3\n"
    "      CALL 0 4 1\n"
    "      RETURN 0 1 @2\n"
    ".end\n";

}  // namespace

TEST(E2eRun, PrintsAndSucceeds) {
  PlayerDir d;
  qmtools::WriteBytes(d / "t.qma", AppletOf(PrintScript(false)));
  PlayerResult r = d.Run({d / "t.qma"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("QuenmoorPlayer 5.2 [Linux]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Opening script t.qma...done\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("hello 42\n"), std::string::npos) << r.out;

  r = d.Run({"-QUIET", d / "t.qma"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "hello 42\n");
}

TEST(E2eRun, FinalReports) {
  PlayerDir d;
  qmtools::WriteBytes(d / "bad.qma", AppletOf(PrintScript(true)));
  qmtools::WriteBytes(d / "junk.qma", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'p', 'p', 'l', 'e', 't'});
  struct Case {
    const char *name;
    std::vector<std::string> args;
    std::string expected;  // the end of standard output
  } cases[] = {
      {"script error with line", {"-QUIET", "-DEBUGDEVICE", "x", d / "bad.qma"},
       "hello 42\nt.qms:2: Function nosuch() not found!\n"},
      {"script error in the requester", {"-QUIET", d / "bad.qma"},
       "hello 42\nFunction nosuch() not found!\nFile: t.qms (current line: 2)\n"},
      {"missing program", {"-QUIET", "-DEBUGDEVICE", "x", d / "none.qma"},
       "Error: File " + (d / "none.qma") + " does not exist!\n"},
      {"no applet", {"-QUIET", "-DEBUGDEVICE", "x", d / "junk.qma"}, "Error: junk.qma is no Quenmoor applet!\n"},
      {"compiling", {"-QUIET", "-DEBUGDEVICE", "x", "-COMPILE", "out", d / "bad.qma"},
       "Error: Compilation is not possible with QuenmoorPlayer!\n"},
      // Refused before DEBUGDEVICE takes effect: the requester's plain message.
      {"option conflict", {"-FULLSCREEN", "-OWNSCREEN", "-DEBUGDEVICE", "x", d / "bad.qma"},
       "Wrong arguments specified!\n"},
  };
  for (const Case &c : cases) {
    PlayerResult r = d.Run(c.args);
    EXPECT_EQ(r.status, 1) << c.name << r.err;
    ASSERT_GE(r.out.size(), c.expected.size()) << c.name << ": " << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - c.expected.size()), c.expected) << c.name;
  }
}

TEST(E2eRun, SilentEnds) {
  PlayerDir d;
  // No program at all: nothing printed, success.
  PlayerResult r = d.Run({});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  // A script that never waits still ends on a quit request, with nothing reported.
  qmtools::WriteBytes(d / "loop.qma", AppletOf(kLoop));
  r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "loop.qma"}, {}, "", 300);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  // So does one inside a single long command.
  qmtools::WriteBytes(d / "match.qma", AppletOf(kRunawayMatch));
  r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "match.qma"}, {}, "", 300);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(E2eRun, PackedProgramLeavesNoTemporaryFile) {
  PlayerDir d;
  qmtools::WriteBytes(d / "t.qma", AppletOf(PrintScript(false)));
  qmtools::WriteBytes(d / "bad.qma", AppletOf(PrintScript(true)));
  // Packed by python3's zlib, an encoder that is not ours.
  for (const char *name : {"t", "bad"}) {
    std::string cmd = "python3 -c \"import sys,zlib; d=open(sys.argv[1],'rb').read(); "
                      "open(sys.argv[2],'wb').write(b'QMZ\\0\\0\\0\\0\\0'+zlib.compress(d))\" " +
                      (d / (std::string(name) + ".qma")) + " " + (d / (std::string(name) + ".qmz"));
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  PlayerResult r = d.Run({"-QUIET", d / "t.qmz"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "hello 42\n");
  EXPECT_EQ(d.TempEntries(), 0u);

  r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "bad.qmz"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("t.qms:2: Function nosuch() not found!"), std::string::npos) << r.out;
  EXPECT_EQ(d.TempEntries(), 0u);

  // A container cut inside its stream.
  std::string whole = ReadWholeFile(d / "t.qmz");
  WriteFile(d / "cut.qmz", whole.substr(0, whole.size() - 6));
  r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "cut.qmz"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error: Invalid or incomplete deflate data (zlib)!\n");
  EXPECT_EQ(d.TempEntries(), 0u);
}

// The player registers no global next: a generic for over a table walks it all the same.
TEST(E2eRun, GenericForWalksATable) {
  PlayerDir d;
  qmtools::WriteBytes(d / "for.qma", AppletOf(R"(
.func source="for.qms" maxstack=12
  .k "debugprint" "a" "b" "x" 9
      NEWTABLE  1 2 1 @1
      LOADK     2 k1
      LOADK     3 k2
      SETLIST   1 1
      SETTABLE  1 k3 k4
      MOVE      2 1 @2
      LOADNIL   3 4
      TFORPREP  2 test
body: GETGLOBAL 7 k0 @3
      MOVE      8 4
      MOVE      9 5
      CALL      7 3 1
test: TFORLOOP  2 0 1 @2
      JMP       body
      RETURN    0 1 @4
.end
)"));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "for.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "1 a\n2 b\nx 9\n");
}

TEST(E2eRun, LinkedProgramRunsItsAppendedApplet) {
  PlayerDir d;
  std::string error;
  ASSERT_TRUE(qmtools::LinkProgram(d.player(), AppletOf(PrintScript(false)), d / "linked", &error)) << error;
  PlayerResult r = d.Run({}, {}, d / "linked");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "hello 42\n");  // a linked program is always quiet

  ASSERT_TRUE(qmtools::LinkProgram(d.player(), qmtools::PackProgram(AppletOf(PrintScript(true))), d / "linkedz",
                                   &error))
      << error;
  r = d.Run({"-DEBUGDEVICE", "x"}, {}, d / "linkedz");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "hello 42\nt.qms:2: Function nosuch() not found!\n");
  EXPECT_EQ(d.TempEntries(), 0u);

  // The plain player has nothing appended and needs a program.
  r = d.Run({});
  EXPECT_EQ(r.out, "");
}

TEST(E2eRun, Exports) {
  PlayerDir d;
  PlayerResult r = d.Run({"-QUIET", "-EXPORTCOMMANDS", d / "cmds.txt", "-EXPORTCONSTANTS", d / "consts.txt",
                          d / "missing.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::string cmds = ReadWholeFile(d / "cmds.txt");
  EXPECT_NE(cmds.find("DebugPrint\n"), std::string::npos);
  EXPECT_EQ(cmds.substr(cmds.size() - 6), "::end\n");
  EXPECT_TRUE(std::filesystem::exists(d / "consts.txt"));

  r = d.Run({"-QUIET", "-EXPORTPLUGINS", d / "plugins.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadWholeFile(d / "plugins.txt"), "::end\n");

  for (const char *option : {"-EXPORTCOMMANDS", "-EXPORTCONSTANTS", "-EXPORTPLUGINS"}) {
    r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", option, d / "nodir/out.txt"});
    EXPECT_EQ(r.status, 1) << option;
    EXPECT_EQ(r.out, "Error: Cannot write to file " + (d / "nodir/out.txt") + " !\n") << option;
  }
}
