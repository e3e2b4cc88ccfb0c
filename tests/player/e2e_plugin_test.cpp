// Plug-ins through the real player: loading from the executable's folder, each load failure
// with its reason, commands and constants of a library plug-in, requirements, the information
// file and the order of the plug-ins' calls at shut-down.
#include <regex>

#include "tests/player/e2e_util.h"

namespace {

// DebugPrint(TpAdd(2, 3)) on line 1.
const char kUsesPlugin[] =
    ".func source=\"p.qms\" maxstack=6\n"
    "  .k \"debugprint\" \"tpadd\" 2 3\n"
    "      GETGLOBAL 0 k0 @1\n"
    "      GETGLOBAL 1 k1\n"
    "      LOADK 2 k2\n"
    "      LOADK 3 k3\n"
    "      CALL 1 3 2\n"
    "      CALL 0 2 1\n"
    "      RETURN 0 1 @2\n"
    ".end\n";

// An applet whose declarations require a plug-in and then open a file.
std::vector<uint8_t> RequiringApplet(const std::string &plugin, uint32_t version, uint32_t revision) {
  qmtools::AppletBuilder b;
  qmtools::AppletDecl req;
  req.type = 12;
  req.name = plugin;
  req.param1 = version;
  req.param2 = revision;
  qmtools::AppletDecl file;
  file.type = 8;
  file.id = 1;
  file.name = "data.txt";
  file.line = 7;
  b.Version(5, 2).Includes({{1, 100, 0, "p.qms"}}).Declarations({req, file}).Bytecode(ChunkOf(kUsesPlugin));
  return b.Bytes();
}

}  // namespace

TEST(E2ePlugin, LoadsAndReportsFailures) {
  PlayerDir d({"tp.qmp", "tp_noclose.qmp", "tp_new.qmp", "tp_unknown.qmp", "tp_misnamed.qmp", "tp_saver.qmp"});
  qmtools::WriteBytes(d / "p.qma", AppletOf(kUsesPlugin));
  PlayerResult r = d.Run({d / "p.qma"});
  EXPECT_EQ(r.status, 0) << r.err;
  const char *expected[] = {
      "Loading plugin tp.qmp...done\n",
      "Loading plugin tp_saver.qmp...done\n",
      "Loading plugin tp_noclose.qmp...failed\n(Reason: Error loading plugin \"tp_noclose.qmp\"!)\n",
      "Loading plugin tp_misnamed.qmp...failed\n(Reason: Error loading plugin \"tp_misnamed.qmp\"!)\n",
      "Loading plugin tp_new.qmp...failed\n(Reason: This plugin requires at least Quenmoor 5.3!)\n",
      "Loading plugin tp_unknown.qmp...failed\n(Reason: Plugin type not recognized! (1000))\n",
      "5\n",
  };
  for (const char *line : expected) EXPECT_NE(r.out.find(line), std::string::npos) << line << "\nin:\n" << r.out;

  // InitPlugin refusing: every plug-in fails, the script then misses its command.
  r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "p.qma"}, {"TP_INIT_FAILS=1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "p.qms:1: Function tpadd() not found!\n");
}

TEST(E2ePlugin, InformationFile) {
  PlayerDir d({"tp.qmp", "tp_saver.qmp"});
  PlayerResult r = d.Run({"-QUIET", "-EXPORTPLUGINS", d / "info.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string info = ReadWholeFile(d / "info.txt");
  std::string tp =
      "::plugin\n1.7\n0x00000002\nTest author\nA plug-in for the tests\n\n\n\n\n\n\n"
      "::commands\nTpAdd\nTpFail\nTpDate\nTpEvent\n::constants\nTP_ANSWER\nTP_TEXT\n";
  std::string saver = "::plugin\n1.7\n0x00000200\nTest author\nA plug-in for the tests\n\n\n\n\n\n\n";
  // Directory order decides which comes first.
  EXPECT_TRUE(info == tp + saver + "::end\n" || info == saver + tp + "::end\n") << info;
}

TEST(E2ePlugin, RequirementsAndShutDownOrder) {
  PlayerDir d({"tp.qmp"});
  struct Case {
    const char *name;
    uint32_t version, revision;
    std::vector<std::string> extra;
    std::string expectedEnd;
  } cases[] = {
      // Met: the declarations run; the declared file does not exist.
      {"met", 1, 7, {}, "p.qms:7: Cannot read file data.txt !\n"},
      {"any version", 0, 0, {}, "p.qms:7: Cannot read file data.txt !\n"},
      {"too old", 1, 8, {}, "Error: This program requires tp.qmp 1.8!\n"},
      {"missing", 0, 0, {}, ""},
      // Skipped at start-up, loaded when the applet requires it.
      {"on demand", 1, 0, {"-SKIPPLUGINS", "*"}, "p.qms:7: Cannot read file data.txt !\n"},
  };
  for (const Case &c : cases) {
    std::string plugin = std::string(c.name) == "missing" ? "other.qmp" : "tp";
    qmtools::WriteBytes(d / "r.qma", RequiringApplet(plugin, c.version, c.revision));
    std::vector<std::string> args = {"-QUIET", "-DEBUGDEVICE", "x"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.push_back(d / "r.qma");
    std::remove((d / "log.txt").c_str());
    PlayerResult r = d.Run(args, {"TP_LOG=" + (d / "log.txt")});
    EXPECT_EQ(r.status, 1) << c.name << r.err;
    std::string expected = c.expectedEnd.empty() ? "Error: This program requires other.qmp!\n" : c.expectedEnd;
    EXPECT_EQ(r.out, expected) << c.name;
    // The library is freed while the VM exists, then the plug-in is closed.
    EXPECT_EQ(ReadWholeFile(d / "log.txt"), "init tp\nfree tp\nclose tp\n") << c.name;
  }
}

TEST(E2ePlugin, InitLibraryErrorEndsTheRun) {
  PlayerDir d({"tp.qmp"});
  qmtools::WriteBytes(d / "p.qma", AppletOf(kUsesPlugin));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "p.qma"}, {"TP_INITLIB_FAILS=1000"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error: Out of memory!\n");
}

// A host call that fails inside a command (here the number check of TpAdd's first argument)
// reaches the script as the command's error once the plug-in's frame has returned.
TEST(E2ePlugin, FailingHostCallBecomesTheCommandsError) {
  PlayerDir d({"tp.qmp"});
  qmtools::WriteBytes(d / "bad.qma", AppletOf(
      ".func source=\"p.qms\" maxstack=6\n"
      "  .k \"debugprint\" \"tpadd\" \"x\" 3\n"
      "      GETGLOBAL 0 k0 @1\n"
      "      GETGLOBAL 1 k1\n"
      "      LOADK 2 k2\n"
      "      LOADK 3 k3\n"
      "      CALL 1 3 2\n"
      "      CALL 0 2 1\n"
      "      RETURN 0 1 @2\n"
      ".end\n"));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "bad.qma"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "p.qms:1: Number expected in argument 1!\n") << r.err;
}

// The host table's run slots through the real wiring: the date text of GetDate(1), and user
// events registered and posted (a name taken already is refused).
TEST(E2ePlugin, HostSlotsReachTheRun) {
  PlayerDir d({"tp.qmp"});
  qmtools::WriteBytes(d / "h.qma", AppletOf(ScriptOf({{true, "TpDate", {}},
                                                      {true, "TpEvent", {"onplugin"}},
                                                      {true, "TpEvent", {"onkeydown"}}})));
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "h.qma"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string months = "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)";
  EXPECT_TRUE(std::regex_match(r.out, std::regex("[0-3][0-9]-" + months + "-20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\n"
                                                 "22 1\n0 0\n")))
      << r.out;
}
