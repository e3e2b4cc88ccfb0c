// How a failing command reaches the user through the real player: with ExitOnError on the run
// stops with the report, naming the command as its library spells it although the script calls
// it by its lower-cased global and cutting a file's path to its name; with ExitOnError off the
// code waits for GetLastError, which hands it over once, and the script goes on.
#include "tests/player/e2e_util.h"

TEST(E2eErrors, ACommandsErrorStopsOrWaitsForGetLastError) {
  PlayerDir d;
  const std::string missing = d / "sub/pic.png";
  struct Case {
    const char *name;
    std::vector<ScriptLine> lines;
    int status;
    std::string out;  // standard output of a quiet run with a debug device
    std::string err;  // the requester's text on standard error, for a run without one
  } cases[] = {
      {"exit on error",
       {{false, "LoadBrush", {1, missing}}, {true, "GetLastError", {}}},
       1,
       "f.qms:1: Cannot read file pic.png !\n",
       "Cannot read file pic.png !\nFile: f.qms (current line: 1 - In function: LoadBrush)\n"},
      {"exit on error off",
       {{false, "ExitOnError", {0.0}},
        {false, "LoadBrush", {1, missing}},
        {true, "GetLastError", {}},
        {true, "GetLastError", {}}},
       0,
       "1045\n0\n",
       ""},
  };
  for (const Case &c : cases) {
    qmtools::AppletBuilder b;
    b.Version(5, 2).Includes({{1, 100, 0, "f.qms"}}).Bytecode(ChunkOf(ScriptOf(c.lines)));
    qmtools::WriteBytes(d / "a.qma", b.Bytes());
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "a.qma"});
    EXPECT_EQ(r.status, c.status) << c.name << r.err;
    EXPECT_EQ(r.out, c.out) << c.name;
    r = d.Run({"-QUIET", d / "a.qma"});
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
  }
}
