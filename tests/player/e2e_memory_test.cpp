// A long run that drops big tables and builds new ones keeps to the memory of its first rounds:
// what the collector frees is used again, not added to.
#include <cstdlib>

#include "tests/player/e2e_util.h"

namespace {

// for r = 1, rounds do local t = {} for i = 1, 200000 do t[i] = i t[-i] = i end end
// DebugPrint("done"): an array part and a hash part of 200,000 entries each, every round.
std::string Rounds(int rounds) {
  return ".func source=\"m.qms\" maxstack=12\n"
         "  .k 1 " + std::to_string(rounds) + " 200000 \"debugprint\" \"done\"\n"
         "      LOADK     0 k0\n"
         "      LOADK     1 k1\n"
         "      LOADK     2 k0\n"
         "      SUB       0 0 2\n"
         "      JMP       tr\n"
         "br:   NEWTABLE  4 0 0\n"
         "      LOADK     5 k0\n"
         "      LOADK     6 k2\n"
         "      LOADK     7 k0\n"
         "      SUB       5 5 7\n"
         "      JMP       tf\n"
         "bf:   SETTABLE  4 5 5\n"
         "      UNM       8 5\n"
         "      SETTABLE  4 8 5\n"
         "tf:   FORLOOP   5 bf\n"
         "tr:   FORLOOP   0 br\n"
         "      GETGLOBAL 1 k3\n"
         "      LOADK     2 k4\n"
         "      CALL      1 2 1\n"
         "      RETURN    0 1\n"
         ".end\n";
}

// The player's peak resident set in KiB, as GNU time reports it.
long PeakKiB(const PlayerDir &d, int rounds) {
  qmtools::WriteBytes(d / "m.qma", AppletOf(Rounds(rounds)));
  const std::string report = d / "peak.txt";
  // A sanitized player keeps freed blocks back on purpose, to catch late uses: not here.
  PlayerResult r = d.Run({"-f", "%M", "-o", report, d.player(), "-QUIET", d / "m.qma"},
                         {"ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=0"}, "/usr/bin/time");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done\n");
  return std::atol(ReadWholeFile(report).c_str());
}

}  // namespace

TEST(E2eMemory, RefilledTablesKeepThePeakOfTheFirstRounds) {
  PlayerDir d;
  const long few = PeakKiB(d, 3);
  const long many = PeakKiB(d, 24);
  ASSERT_GT(few, 0);
  // The first rounds hold a table and the garbage of the one before; later rounds hold no more.
  EXPECT_LT(many, few + few / 4) << few << " KiB after 3 rounds, " << many << " KiB after 24";
}
