// The player program end to end: output, exit status and the final report.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "player/programfile.h"
#include "tests/platform/xvfb_server.h"
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

// StringToFile("", ready) tells the test the script runs; then it loops for ever.
std::string LoopScript(const std::string &ready) {
  return ".func source=\"loop.qms\" maxstack=3\n"
         "  .k \"stringtofile\" \"\" \"" + ready + "\"\n"
         "      GETGLOBAL 0 k0 @1\n"
         "      LOADK 1 k1\n"
         "      LOADK 2 k2\n"
         "      CALL 0 3 1\n"
         "  top: JMP top @2\n"
         "      RETURN 0 1\n"
         ".end\n";
}

// Runs the player under coreutils' timeout: a run that blocks is killed (status 137) and fails
// its test instead of hanging it. The limit is far beyond what any run takes, also on a machine
// busy with other work.
constexpr const char *kRunLimitSeconds = "300";
PlayerResult GuardedRun(const PlayerDir &d, std::vector<std::string> args) {
  args.insert(args.begin(), {"-s", "KILL", kRunLimitSeconds, d.player()});
  return d.Run(args, {}, "/usr/bin/timeout");
}

// StringToFile("", ready), then PatternReplaceStr on a match that backtracks for minutes.
std::string RunawayMatchScript(const std::string &ready) {
  return ".func source=\"match.qms\" maxstack=4\n"
         "  .k \"patternreplacestr\" \"aaaaaaaaaaaaaaaaaaaaaaaaaaaa\" \"a*a*a*a*a*a*a*a*a*a*a*b\" \"x\" "
         "\"stringtofile\" \"\" \"" + ready + "\"\n"
         "      GETGLOBAL 0 k4 @1\n"
         "      LOADK 1 k5\n"
         "      LOADK 2 k6\n"
         "      CALL 0 3 1\n"
         "      GETGLOBAL 0 k0 @2\n"
         "      LOADK 1 k1\n"
         "      LOADK 2 k2\n"
         "      LOADK 3 k3\n"
         "      CALL 0 4 1\n"
         "      RETURN 0 1 @3\n"
         ".end\n";
}

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
    std::string expected;  // the end of standard output, or of standard error for the requester
    bool requester = false;
  } cases[] = {
      {"script error with line", {"-QUIET", "-DEBUGDEVICE", "x", d / "bad.qma"},
       "hello 42\nt.qms:2: Function nosuch() not found!\n"},
      // No desktop to show the requester on: its text goes to standard error.
      {"script error in the requester", {"-QUIET", d / "bad.qma"},
       "Function nosuch() not found!\nFile: t.qms (current line: 2)\n", true},
      {"missing program", {"-QUIET", "-DEBUGDEVICE", "x", d / "none.qma"},
       "Error: File " + (d / "none.qma") + " does not exist!\n"},
      {"no applet", {"-QUIET", "-DEBUGDEVICE", "x", d / "junk.qma"}, "Error: junk.qma is no Quenmoor applet!\n"},
      {"compiling", {"-QUIET", "-DEBUGDEVICE", "x", "-COMPILE", "out", d / "bad.qma"},
       "Error: Compilation is not possible with QuenmoorPlayer!\n"},
      {"no screen mode of the asked size",
       {"-QUIET", "-DEBUGDEVICE", "x", "-OWNSCREEN", "-SCRWIDTH", "100000", "-SCRHEIGHT", "100000", d / "bad.qma"},
       "Error: Unable to open screen!\n"},
      // Refused before DEBUGDEVICE takes effect: the requester's plain message.
      {"option conflict", {"-FULLSCREEN", "-OWNSCREEN", "-DEBUGDEVICE", "x", d / "bad.qma"},
       "Wrong arguments specified!\n", true},
  };
  for (const Case &c : cases) {
    PlayerResult r = d.Run(c.args);
    EXPECT_EQ(r.status, 1) << c.name << r.err;
    const std::string &text = c.requester ? r.err : r.out;
    ASSERT_GE(text.size(), c.expected.size()) << c.name << ": " << text;
    EXPECT_EQ(text.substr(text.size() - c.expected.size()), c.expected) << c.name;
    if (c.requester) {
      EXPECT_EQ(r.out.find(c.expected), std::string::npos) << c.name;
    }
  }
}

TEST(E2eRun, SilentEnds) {
  PlayerDir d;
  // No program at all: nothing printed, success.
  PlayerResult r = d.Run({});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  // A script that never waits still ends on a quit request, with nothing reported.
  qmtools::WriteBytes(d / "loop.qma", AppletOf(LoopScript(d / "loop.ready")));
  r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "loop.qma"}, {}, "", d.WhenFileExists(d / "loop.ready"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  // So does one inside a single long command.
  qmtools::WriteBytes(d / "match.qma", AppletOf(RunawayMatchScript(d / "match.ready")));
  r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "match.qma"}, {}, "", d.WhenFileExists(d / "match.ready"));
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

TEST(E2eRun, StartFilesThatCannotBeReadAreRefusedAtOnce) {
  PlayerDir d;
  ASSERT_EQ(mkfifo((d / "fifo.qma").c_str(), 0644), 0);
  std::filesystem::create_directory(d / "folder.qma");
  qmtools::WriteBytes(d / "denied.qma", AppletOf(PrintScript(false)));
  ASSERT_EQ(chmod((d / "denied.qma").c_str(), 0), 0);
  bool denies = access((d / "denied.qma").c_str(), R_OK) != 0;  // not for root
  qmtools::WriteBytes(d / "t.qma", AppletOf(PrintScript(false)));
  ASSERT_EQ(mkfifo((d / "t.ini").c_str(), 0644), 0);
  qmtools::WriteBytes(d / "c.qma", AppletOf(PrintScript(false)));
  struct Case {
    const char *name;
    std::vector<std::string> args;
    std::string expected;  // the end of standard output, or of standard error for the requester
    bool needsDenial;
    bool requester = false;
  } cases[] = {
      {"FIFO without a writer", {"-QUIET", "-DEBUGDEVICE", "x", d / "fifo.qma"},
       "Error: Cannot read file fifo.qma !\n", false},
      {"folder", {"-QUIET", "-DEBUGDEVICE", "x", d / "folder.qma"},
       "Error: Cannot read file folder.qma !\n", false},
      {"read permission denied", {"-QUIET", "-DEBUGDEVICE", "x", d / "denied.qma"},
       "Error: Cannot read file denied.qma !\n", true},
      // The .ini file is read before DEBUGDEVICE takes effect: the requester's plain message.
      {".ini file a FIFO without a writer", {"-QUIET", "-DEBUGDEVICE", "x", d / "t.qma"},
       "Cannot read file t.ini !\n", false, true},
      // A device is no regular file: refused at once while the options are applied.
      {"compiling with an endless link database",
       {"-QUIET", "-DEBUGDEVICE", "x", "-COMPILE", "out", "-LINKFILES", "/dev/zero", d / "c.qma"},
       "Cannot read file zero !\n", false, true},
  };
  // Root reads everything: the denial is then shown by running the player as nobody.
  bool asNobody = !denies && geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0 &&
                  chmod(std::filesystem::path(d / "t.qma").parent_path().c_str(), 0755) == 0;
  for (const Case &c : cases) {
    if (c.needsDenial && !denies && !asNobody) continue;
    PlayerResult r;
    if (c.needsDenial && asNobody) {
      std::vector<std::string> args = {"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                       "/usr/bin/timeout", "-s", "KILL", kRunLimitSeconds, d.player()};
      args.insert(args.end(), c.args.begin(), c.args.end());
      r = d.Run(args, {}, "/usr/bin/setpriv");
    } else {
      r = GuardedRun(d, c.args);
    }
    EXPECT_EQ(r.status, 1) << c.name << r.err;
    const std::string &text = c.requester ? r.err : r.out;
    ASSERT_GE(text.size(), c.expected.size()) << c.name << ": " << text;
    EXPECT_EQ(text.substr(text.size() - c.expected.size()), c.expected) << c.name;
  }
}

// COMPILE: the link databases are read with the options, the plug-ins and the program file
// are loaded, and only then is compiling refused; so each of these reports its own error.
TEST(E2eRun, CompileReadsTheDatabasesAndTheProgramBeforeItIsRefused) {
  PlayerDir d({"tp.qmp"});
  qmtools::WriteBytes(d / "t.qma", AppletOf(PrintScript(false)));
  qmtools::WriteBytes(d / "junk.qma", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'p', 'p', 'l', 'e', 't'});
  qmtools::AppletBuilder newer;
  newer.Version(5, 3).Bytecode(ChunkOf(PrintScript(false)));
  qmtools::WriteBytes(d / "new.qma", newer.Bytes());
  WriteFile(d / "files.txt", "a.png\n  \"with blank.png\"\t\r\n\nA.PNG\n");
  WriteFile(d / "fonts.txt", "topaz.font\nvera.ttf\n");
  WriteFile(d / "open.txt", "a.png\n\"b.png\n");
  WriteFile(d / "trailing.txt", "\"a.png\" b.png\n");
  ASSERT_EQ(mkfifo((d / "fifo.txt").c_str(), 0644), 0);
  const std::string refused = "Error: Compilation is not possible with QuenmoorPlayer!\n";
  struct Case {
    const char *name;
    std::vector<std::string> args;
    std::string expected;  // the end of standard output, or of standard error for the requester
    bool requester = false;
    int status = 1;
  } cases[] = {
      {"an applet", {"-QUIET", "-DEBUGDEVICE", "x", "-COMPILE", "out", d / "t.qma"}, refused},
      {"good databases", {"-QUIET", "-DEBUGDEVICE", "x", "-COMPILE", "out", "-LINKFILES", d / "files.txt",
                          "-LINKFONTS", d / "fonts.txt", d / "t.qma"}, refused},
      {"no applet", {"-QUIET", "-DEBUGDEVICE", "x", "-COMPILE", "out", d / "junk.qma"},
       "Error: junk.qma is no Quenmoor applet!\n"},
      {"a newer applet", {"-QUIET", "-DEBUGDEVICE", "x", "-COMPILE", "out", d / "new.qma"},
       "Error: This applet requires at least Quenmoor 5.3!\n"},
      {"a missing program", {"-QUIET", "-DEBUGDEVICE", "x", "-COMPILE", "out", d / "none.qma"},
       "Error: File " + (d / "none.qma") + " does not exist!\n"},
      // A database is read with the options, before DEBUGDEVICE takes effect: the requester.
      {"unclosed quote", {"-QUIET", "-DEBUGDEVICE", "x", "-COMPILE", "out", "-LINKFILES", d / "open.txt",
                          d / "t.qma"}, "Syntax error in link file database!\n", true},
      {"text after a name", {"-QUIET", "-COMPILE", "out", "-LINKFONTS", d / "trailing.txt", d / "t.qma"},
       "Syntax error in link file database!\n", true},
      {"missing database", {"-QUIET", "-COMPILE", "out", "-LINKFILES", d / "none.txt", d / "t.qma"},
       "Cannot read file none.txt !\n", true},
      {"FIFO as database", {"-QUIET", "-COMPILE", "out", "-LINKFONTS", d / "fifo.txt", d / "t.qma"},
       "Cannot read file fifo.txt !\n", true},
      {"database before the program", {"-QUIET", "-COMPILE", "out", "-LINKFILES", d / "open.txt", d / "none.qma"},
       "Syntax error in link file database!\n", true},
      // Without COMPILE nobody reads a database.
      {"database without COMPILE", {"-QUIET", "-LINKFILES", d / "open.txt", "-LINKFONTS", d / "fifo.txt",
                                    d / "t.qma"}, "hello 42\n", false, 0},
  };
  for (const Case &c : cases) {
    PlayerResult r = GuardedRun(d, c.args);
    EXPECT_EQ(r.status, c.status) << c.name << r.err;
    const std::string &text = c.requester ? r.err : r.out;
    ASSERT_GE(text.size(), c.expected.size()) << c.name << ": " << text;
    EXPECT_EQ(text.substr(text.size() - c.expected.size()), c.expected) << c.name;
  }
  // What a user sees without QUIET: the plug-in and the program are loaded before the refusal.
  PlayerResult r = d.Run({"-DEBUGDEVICE", "x", "-COMPILE", "out", d / "t.qma"});
  EXPECT_EQ(r.status, 1);
  const size_t plugin = r.out.find("Loading plugin tp.qmp...done\n");
  const size_t opened = r.out.find("Opening script t.qma...done\n");
  EXPECT_NE(plugin, std::string::npos) << r.out;
  EXPECT_NE(opened, std::string::npos) << r.out;
  EXPECT_LT(plugin, opened) << r.out;
  ASSERT_GE(r.out.size(), refused.size()) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - refused.size()), refused);
}

TEST(E2eRun, PackedProgramErrorsNameThePackedFile) {
  PlayerDir d;
  // Four times the unpacked ceiling in zeros. A full flush empties python3's deflate history,
  // so the bytes of one flushed 16 MiB stand for every further 16 MiB.
  static_assert(kMaxPackedProgram * 4 == uint64_t(64) << 24);
  std::string cmd =
      "python3 -c \"import sys,zlib\n"
      "seg=bytes(1<<24); c=zlib.compressobj(9)\n"
      "first=c.compress(seg)+c.flush(zlib.Z_FULL_FLUSH); again=c.compress(seg)+c.flush(zlib.Z_FULL_FLUSH)\n"
      "assert first[2:]==again\n"
      "a=1\n"
      "for _ in range(64): a=zlib.adler32(seg,a)\n"
      "open(sys.argv[1],'wb').write(b'QMZ'+bytes(5)+first+again*63+c.flush()[:-4]+a.to_bytes(4,'big'))\" " +
      (d / "bomb.qmz");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::string text = "plain text, no applet";
  qmtools::WriteBytes(d / "junk.qmz", qmtools::PackProgram(std::vector<uint8_t>(text.begin(), text.end())));
  for (const char *name : {"bomb.qmz", "junk.qmz"}) {
    PlayerResult r = GuardedRun(d, {"-QUIET", "-DEBUGDEVICE", "x", d / name});
    EXPECT_EQ(r.status, 1) << name << r.err;
    EXPECT_EQ(r.out, std::string("Error: ") + name + " is no Quenmoor applet!\n");
    EXPECT_EQ(d.TempEntries(), 0u) << name;
  }
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

// The exported command list names the libraries in the order start-up opens them, each with
// the count of the commands listed under it.
TEST(E2eRun, ExportedCommandListFollowsTheLibraryOrder) {
  PlayerDir d;
  PlayerResult r = d.Run({"-QUIET", "-EXPORTCOMMANDS", d / "cmds.txt"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> lines;
  std::string text = ReadWholeFile(d / "cmds.txt"), line;
  for (char ch : text) {
    if (ch != '\n') line += ch;
    else lines.push_back(line), line.clear();
  }
  std::vector<std::string> libraries;
  for (size_t i = 0; i < lines.size();) {
    ASSERT_EQ(lines[i].rfind("::", 0), 0u) << "line " << i << ": " << lines[i];
    if (lines[i] == "::end") {
      EXPECT_EQ(i + 1, lines.size());
      break;
    }
    libraries.push_back(lines[i].substr(2));
    ASSERT_LT(i + 1, lines.size());
    size_t count = std::stoul(lines[i + 1]);
    EXPECT_GT(count, 0u) << libraries.back();
    for (size_t k = 0; k < count; k++) {
      ASSERT_LT(i + 2 + k, lines.size()) << libraries.back();
      EXPECT_NE(lines[i + 2 + k].rfind("::", 0), 0u) << libraries.back() << " lists fewer commands than it counts";
    }
    i += 2 + count;
  }
  const std::vector<std::string> expected = {"string", "math",     "graphics",     "draw",   "moveobject",
                                             "dos",    "event",    "system",       "layers", "text",
                                             "anim",   "display",  "sound",        "brush",  "bgpic",
                                             "transitionfx", "sprite", "memblock", "vectorgraphics", "network",
                                             "video"};
  EXPECT_EQ(libraries, expected);
}

// Names arrive from the shell as the system's bytes: each program runs, and the script sees
// its name read in as Latin-1 (unrepresentable bytes behind the SUB marker).
TEST(E2eRun, ProgramNamesInAnyBytesRunAndReadAsLatin1) {
  const char printOwnName[] = R"(
.func source="name.qms" maxstack=4
  .k "debugprint" "getprograminfo"
      GETGLOBAL 0 k0 @1
      GETGLOBAL 1 k1
      CALL      1 1 3
      MOVE      1 2
      CALL      0 2 1
      RETURN    0 1 @2
.end
)";
  PlayerDir d;
  std::filesystem::create_directory(d / "dir\xFE");
  struct Case {
    const char *name;
    std::string file, seen;  // as on disk; the end of what the script prints
  } cases[] = {
      {"e acute", "caf\xC3\xA9.qma", "/caf\xE9.qma\n"},
      {"beyond Latin-1", "\xE6\x97\xA5\xE6\x9C\xAC.qma", "/\xE6\x97\xA5\xE6\x9C\xAC.qma\n"},
      {"byte 0xFF", "x\xFF.qma", "/x\x1A\xFF.qma\n"},
      {"folder that is no UTF-8", "dir\xFE/t.qma", "/dir\x1A\xFE/t.qma\n"},
  };
  for (const Case &c : cases) {
    qmtools::WriteBytes(d / c.file, AppletOf(printOwnName));
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / c.file});
    EXPECT_EQ(r.status, 0) << c.name << ": " << r.out << r.err;
    ASSERT_GE(r.out.size(), c.seen.size()) << c.name << ": " << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - c.seen.size()), c.seen) << c.name;
  }

  // A file the player writes gets the name it was given.
  PlayerResult r = d.Run({"-QUIET", "-EXPORTCOMMANDS", d / "befehle-\xC3\xA9.txt", d / "missing.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(std::filesystem::exists(d / "befehle-\xC3\xA9.txt"));
}

namespace {

// AddressSanitizer reserves far more address space than any useful limit leaves.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

// prlimit from util-linux on the search path, or "".
std::string FindPrlimit() {
  const char *path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t from = 0; from <= dirs.size();) {
    size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    std::string candidate = dirs.substr(from, to - from) + "/prlimit";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    from = to + 1;
  }
  return "";
}

// ReplaceStr(RepeatStr("a", 1e8), "a", RepeatStr("b", 100)): a result of 10^10 bytes.
const char kHugeReplacement[] = R"(
.func source="replace.qms" maxstack=8
  .k "replacestr" "repeatstr" "a" 100000000 "b" 100
      GETGLOBAL 0 k0 @1
      GETGLOBAL 1 k1
      LOADK     2 k2
      LOADK     3 k3
      CALL      1 3 2
      LOADK     2 k2
      GETGLOBAL 3 k1
      LOADK     4 k4
      LOADK     5 k5
      CALL      3 3 2
      CALL      0 4 1
      RETURN    0 1 @2
.end
)";

// t = {}; for i = 1, 1e6 do t[i] = RepeatStr(i, 1048576) end: distinct strings of 1 MB and more
// until the address space is full.
const char kTableOfStrings[] = R"(
.func source="table.qms" maxstack=8
  .k "repeatstr" 1 1000000 1048576
      NEWTABLE  0 0 0 @1
      LOADK     1 k1
      LOADK     2 k2
      LOADK     3 k1
      SUB       1 1 3
      JMP       test
body: GETGLOBAL 4 k0 @2
      MOVE      5 1
      LOADK     6 k3
      CALL      4 3 2
      SETTABLE  0 1 4
test: FORLOOP   1 body
      RETURN    0 1 @3
.end
)";

}  // namespace

// Under a limit on the address space, memory runs out inside commands (their own buffers) and
// in the VM; either way the player reports it and ends with status 1 instead of aborting.
TEST(E2eRun, OutOfMemoryIsReported) {
  if (kAddressSanitizer) GTEST_SKIP() << "no address-space limit under AddressSanitizer";
  std::string prlimit = FindPrlimit();
  if (prlimit.empty()) GTEST_SKIP() << "no prlimit";
  PlayerDir d;
  if (d.Run({"--as=1000000000", "--", "/bin/true"}, {}, prlimit).status != 0)
    GTEST_SKIP() << "the address-space limit cannot be set here";
  struct Case {
    const char *name;
    const char *text;
    const char *limit;  // bytes of address space; the table fills it, so it stays small
    std::string report;
  } cases[] = {
      {"replace", kHugeReplacement, "--as=4000000000", "replace.qms:1: Out of memory!\n"},
      {"table", kTableOfStrings, "--as=1000000000", "table.qms:2: Out of memory!\n"},
  };
  for (const Case &c : cases) {
    std::string applet = d / (std::string(c.name) + ".qma");
    qmtools::WriteBytes(applet, AppletOf(c.text));
    PlayerResult r = d.Run({c.limit, "--", d.player(), "-QUIET", "-DEBUGDEVICE", "x", applet}, {}, prlimit);
    EXPECT_EQ(r.status, 1) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, c.report) << c.name;
  }
}

// The program information names the kind of the program file, which is read after start-up.
TEST(E2eRun, ProgramInfoOfAnApplet) {
  PlayerDir d;
  qmtools::WriteBytes(d / "info.qma", AppletOf(".func source=\"info.qms\" maxstack=6\n"
                                               "  .k \"debugprint\" \"getprograminfo\"\n"
                                               "      GETGLOBAL 0 k0 @1\n"
                                               "      GETGLOBAL 1 k1\n"
                                               "      CALL 1 1 0\n"
                                               "      CALL 0 0 1\n"
                                               "      RETURN 0 1 @2\n"
                                               ".end\n"));
  PlayerResult r = GuardedRun(d, {"-QUIET", d / "info.qma"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("1 " + (d / "info.qma") + " ", 0), 0u) << r.out;  // PRGTYPE_APPLET
}

// With nothing to ask the user with (no desktop, no terminal), requesters are cancelled: the
// message box gives its last button, the string requester an empty text and 0.
TEST(E2eRun, RequestersWithoutAnyoneToAsk) {
  PlayerDir d;
  qmtools::WriteBytes(d / "ask.qma", AppletOf(".func source=\"ask.qms\" maxstack=8\n"
                                              "  .k \"debugprint\" \"systemrequest\" \"t\" \"b\" \"Yes|No\" \"stringrequest\"\n"
                                              "      GETGLOBAL 0 k0 @1\n"
                                              "      GETGLOBAL 1 k1\n"
                                              "      LOADK 2 k2\n"
                                              "      LOADK 3 k3\n"
                                              "      LOADK 4 k4\n"
                                              "      CALL 1 4 0\n"
                                              "      CALL 0 0 1\n"
                                              "      GETGLOBAL 0 k0 @2\n"
                                              "      GETGLOBAL 1 k5\n"
                                              "      LOADK 2 k2\n"
                                              "      LOADK 3 k3\n"
                                              "      CALL 1 3 0\n"
                                              "      CALL 0 0 1\n"
                                              "      RETURN 0 1 @3\n"
                                              ".end\n"));
  PlayerResult r = GuardedRun(d, {"-QUIET", d / "ask.qma"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0\n 0\n");
}

// On a desktop the final report is the error requester: a message box titled after the
// player, closed here with Return; nothing goes to standard output or standard error.
TEST(E2eRun, FinalReportInTheErrorRequesterOnADesktop) {
  int number = 0;
  pid_t xvfb = StartXvfb(&number);
  if (xvfb < 0) GTEST_SKIP() << "Xvfb cannot start here";
  if (access("/usr/bin/xdotool", X_OK) != 0 || access("/usr/bin/xwininfo", X_OK) != 0) {
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    GTEST_SKIP() << "no xdotool or xwininfo";
  }
  std::string display = ":" + std::to_string(number);
  PlayerDir d;
  qmtools::WriteBytes(d / "bad.qma", AppletOf(PrintScript(true)));
  // Presses Return in every window named after the player, and notes the boxes it saw.
  std::string seen = d / "seen.txt";
  pid_t presser = fork();
  if (presser == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    std::string loop = "exec 2>/dev/null; while true; do for id in $(xwininfo -root -tree | grep '\"QuenmoorPlayer\"' | "
                       "tee -a " + seen + " | awk '{print $1}'); do xdotool windowfocus --sync $id key Return; done; "
                       "sleep 0.3; done";
    execl("/bin/sh", "sh", "-c", loop.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  // The X libraries keep allocations to the end of the process: their leaks are not ours to
  // report here (the headless runs check the player's own).
  PlayerResult r = d.Run({"-s", "KILL", kRunLimitSeconds, d.player(), "-QUIET", d / "bad.qma"},
                         {"SDL_VIDEODRIVER=x11", "DISPLAY=" + display, "ASAN_OPTIONS=detect_leaks=0"},
                         "/usr/bin/timeout");
  kill(presser, SIGKILL);
  waitpid(presser, nullptr, 0);
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "hello 42\n");
  EXPECT_EQ(r.err.find("not found"), std::string::npos) << r.err;
  // The box is not the 640 x 480 display.
  std::string boxes = ReadWholeFile(seen);
  bool sawBox = false;
  size_t start = 0;
  while (start < boxes.size()) {
    size_t end = boxes.find('\n', start);
    if (end == std::string::npos) end = boxes.size();
    std::string line = boxes.substr(start, end - start);
    sawBox = sawBox || line.find(" 640x480+") == std::string::npos;
    start = end + 1;
  }
  EXPECT_TRUE(sawBox) << boxes;
}
