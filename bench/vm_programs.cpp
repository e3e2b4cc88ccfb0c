// The interpreter on four small programs (recursive calls, a sieve, numeric loops over a
// table, string building) and an empty one (start-up alone), each run as a whole process: the player on an applet, and the
// same algorithm under the peer interpreters lua5.1 and luajit -joff (Debian's packages).
// Every round starts each command once, in a rotating order, and times it from spawn to
// exit with the same clock; a program's ratio is the median of its per-round ratios ours /
// peer. Every run's last output line must be the expected result, or the run counts as failed.
// After the table, each program's medians net of the empty program's, ours over each peer's.
//
//   bench_vm_programs [rounds] [program ...]     (default 7 rounds, all programs)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/appletwriter.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

extern char **environ;

namespace {

struct Program {
  const char *name;
  const char *expected;  // the last line each interpreter prints
  const char *qasm;
  const char *script;  // the same algorithm for the peers
};

// "empty" comes first: its medians, start-up and one print alone, are what the net rows
// after the table subtract from every other program's.
const Program kPrograms[] = {
    {"empty", "ready", R"(
; DebugPrint("ready")
.func source="empty" maxstack=2
  .k "debugprint" "ready"
      GETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 1
      RETURN    0 1
.end
)",
     "print(\"ready\")\n"},
    {"fib", "2178309", R"(
; local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
; DebugPrint(fib(32))
.func source="fib" maxstack=4
  .k 32 "debugprint"
      CLOSURE   0 p0
      MOVE      0 0
      MOVE      1 0
      LOADK     2 k0
      CALL      1 2 2
      GETGLOBAL 2 k1
      MOVE      3 1
      CALL      2 2 1
      RETURN    0 1
  .func params=1 maxstack=4 upvals=1
    .k 2 1
      LT        0 0 k0
      JMP       rec
      RETURN    0 2
rec:  GETUPVAL  1 0
      SUB       2 0 k1
      CALL      1 2 2
      GETUPVAL  2 0
      SUB       3 0 k0
      CALL      2 2 2
      ADD       1 1 2
      RETURN    1 2
      RETURN    0 1
  .end
.end
)",
     "local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end\n"
     "print(fib(32))\n"},
    {"sieve", "148933", R"(
; local count
; for r = 1, 3 do
;   local f = {}
;   for i = 1, 2000000 do f[i] = 1 end
;   count = 0
;   for i = 2, 2000000 do
;     if f[i] == 1 then
;       count = count + 1
;       for j = i + i, 2000000, i do f[j] = 0 end
;     end
;   end
; end
; DebugPrint(count)
.func source="sieve" maxstack=14
  .k 1 3 2000000 0 2 "debugprint"
      LOADK     0 k3
      LOADK     1 k0
      LOADK     2 k1
      LOADK     3 k0
      SUB       1 1 3
      JMP       tr
br:   NEWTABLE  4 0 0
      LOADK     5 k0
      LOADK     6 k2
      LOADK     7 k0
      SUB       5 5 7
      JMP       tf
bf:   SETTABLE  4 5 k0
tf:   FORLOOP   5 bf
      LOADK     0 k3
      LOADK     5 k4
      LOADK     6 k2
      LOADK     7 k0
      SUB       5 5 7
      JMP       ti
bi:   GETTABLE  8 4 5
      EQ        0 8 k0
      JMP       ti
      ADD       0 0 k0
      ADD       9 5 5
      LOADK     10 k2
      MOVE      11 5
      SUB       9 9 11
      JMP       tj
bj:   SETTABLE  4 9 k3
tj:   FORLOOP   9 bj
ti:   FORLOOP   5 bi
tr:   FORLOOP   1 br
      GETGLOBAL 1 k5
      MOVE      2 0
      CALL      1 2 1
      RETURN    0 1
.end
)",
     "local count\n"
     "for r = 1, 3 do\n"
     "  local f = {}\n"
     "  for i = 1, 2000000 do f[i] = 1 end\n"
     "  count = 0\n"
     "  for i = 2, 2000000 do\n"
     "    if f[i] == 1 then\n"
     "      count = count + 1\n"
     "      for j = i + i, 2000000, i do f[j] = 0 end\n"
     "    end\n"
     "  end\n"
     "end\n"
     "print(count)\n"},
    {"table_loop", "15000015000000", R"(
; 30 passes over a table of a million numbers, writing and reading in turn:
; local t = {}
; local s = 0
; for r = 1, 15 do
;   for i = 1, 1000000 do t[i] = i * 2 end
;   for i = 1, 1000000 do s = s + t[i] end
; end
; DebugPrint(s)
.func source="table_loop" maxstack=10
  .k 1 15 1000000 2 0 "debugprint"
      NEWTABLE  0 0 0
      LOADK     1 k4
      LOADK     2 k0
      LOADK     3 k1
      LOADK     4 k0
      SUB       2 2 4
      JMP       tr
br:   LOADK     5 k0
      LOADK     6 k2
      LOADK     7 k0
      SUB       5 5 7
      JMP       t1
b1:   MUL       8 5 k3
      SETTABLE  0 5 8
t1:   FORLOOP   5 b1
      LOADK     5 k0
      LOADK     6 k2
      LOADK     7 k0
      SUB       5 5 7
      JMP       t2
b2:   GETTABLE  8 0 5
      ADD       1 1 8
t2:   FORLOOP   5 b2
tr:   FORLOOP   2 br
      GETGLOBAL 2 k5
      MOVE      3 1
      CALL      2 2 1
      RETURN    0 1
.end
)",
     "local t = {}\n"
     "local s = 0\n"
     "for r = 1, 15 do\n"
     "  for i = 1, 1000000 do t[i] = i * 2 end\n"
     "  for i = 1, 1000000 do s = s + t[i] end\n"
     "end\n"
     "print(s)\n"},
    {"concat", "a200000b", R"(
; local x
; for i = 1, 200000 do x = "a" .. i .. "b" end
; DebugPrint(x)
.func source="concat" maxstack=8
  .k 1 200000 "a" "b" "debugprint"
      LOADK     1 k0
      LOADK     2 k1
      LOADK     3 k0
      SUB       1 1 3
      JMP       t
b:    LOADK     4 k2
      MOVE      5 1
      LOADK     6 k3
      CONCAT    0 4 6
t:    FORLOOP   1 b
      GETGLOBAL 1 k4
      MOVE      2 0
      CALL      1 2 1
      RETURN    0 1
.end
)",
     "local x\n"
     "for i = 1, 200000 do x = \"a\" .. i .. \"b\" end\n"
     "print(x)\n"},
};

struct Command {
  std::string label;
  std::vector<std::string> prefix;  // the program file is appended
  bool ours;
};

// A folder for the applets, scripts and outputs, removed with everything in it at the end.
struct WorkFolder {
  std::string path;
  WorkFolder() {
    char name[] = "/tmp/qm_bench_vm_XXXXXX";
    if (mkdtemp(name)) path = name;
  }
  ~WorkFolder() {
    if (path.empty()) return;
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path.c_str());
  }
};

struct Timing {
  double wall = -1;  // seconds from spawn to exit; -1 when the run failed
  double cpu = -1;   // user + system seconds of the child
  std::string failure;
};

std::string LastLine(const std::string &path) {
  std::ifstream in(path);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  return last;
}

Timing RunOnce(const Command &c, const std::string &file, const std::string &outPath, const char *expected) {
  std::vector<std::string> args = c.prefix;
  args.push_back(file);
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Timing t;
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    t.failure = std::string("cannot start ") + argv[0];
    return t;
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    t.failure = c.label + " exited with status " + std::to_string(status);
    return t;
  }
  std::string last = LastLine(outPath);
  if (last != expected) {
    t.failure = c.label + " printed '" + last + "', expected '" + expected + "'";
    return t;
  }
  t.wall = wall;
  t.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  return t;
}

double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool WriteText(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return bool(out);
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = 7;
  std::vector<std::string> only;
  for (int i = 1; i < argc; i++) {
    char *end;
    long n = std::strtol(argv[i], &end, 10);
    if (*end == 0 && n > 0) rounds = int(n);
    else only.push_back(argv[i]);
  }
  // The player opens its default display at start-up; the peers open no window. The desktop
  // layer's dummy driver makes that window cost nothing, so the rows compare the scripts.
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  WorkFolder work;
  if (work.path.empty()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  const std::vector<Command> commands = {
      {"ours", {QM_PLAYER_PATH}, true},
      {"lua5.1", {"lua5.1"}, false},
      {"luajit -joff", {"luajit", "-joff"}, false},
  };
  const size_t npeers = commands.size() - 1;
  std::vector<std::vector<double>> ratioColumns(npeers);
  std::vector<std::vector<double>> cpuRatioColumns(npeers);
  bool anyFailure = false;
  struct Medians {
    std::string name;
    std::vector<double> wall, cpu;  // per command, ms
  };
  std::vector<Medians> medians;

  std::printf("whole processes, %d rounds; wall ms and cpu ms are medians, ratio is the median of ours/peer per round\n",
              rounds);
  std::printf("the player's default window goes to the desktop layer's dummy driver (SDL_VIDEODRIVER=dummy)\n");
  std::printf("%-11s %9s %9s", "program", "ours wall", "cpu");
  for (size_t p = 1; p < commands.size(); p++)
    std::printf(" | %12s wall %9s %7s %9s", commands[p].label.c_str(), "cpu", "ratio", "cpu ratio");
  std::printf("\n");

  for (const Program &prog : kPrograms) {
    if (!only.empty() && std::find(only.begin(), only.end(), prog.name) == only.end()) continue;
    std::string applet = work.path + "/" + prog.name + ".qma";
    std::string script = work.path + "/" + prog.name + ".lua";
    qmtools::AsmResult r = qmtools::AssembleText(prog.qasm);
    if (!r.proto) {
      std::fprintf(stderr, "%s: %s\n", prog.name, r.error.c_str());
      return 1;
    }
    std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
    if (!qmtools::WriteBytes(applet, qmtools::MakeSimpleApplet(chunk, prog.name, 1)) || !WriteText(script, prog.script)) {
      std::fprintf(stderr, "cannot write into %s\n", work.path.c_str());
      return 1;
    }
    // times[c][round]
    std::vector<std::vector<Timing>> times(commands.size(), std::vector<Timing>(size_t(rounds)));
    std::string out = work.path + "/out.txt";
    for (int round = 0; round < rounds; round++) {
      for (size_t step = 0; step < commands.size(); step++) {
        size_t c = (step + size_t(round)) % commands.size();
        times[c][size_t(round)] = RunOnce(commands[c], commands[c].ours ? applet : script, out, prog.expected);
      }
    }
    auto medianOf = [&](size_t c, bool cpu) {
      std::vector<double> v;
      for (const Timing &t : times[c])
        if (t.wall >= 0) v.push_back(cpu ? t.cpu : t.wall);
      return Median(v) * 1e3;
    };
    Medians m{prog.name, {}, {}};
    for (size_t c = 0; c < commands.size(); c++) {
      m.wall.push_back(medianOf(c, false));
      m.cpu.push_back(medianOf(c, true));
    }
    medians.push_back(m);
    std::printf("%-11s %9.1f %9.1f", prog.name, medianOf(0, false), medianOf(0, true));
    for (size_t p = 1; p < commands.size(); p++) {
      std::vector<double> ratios, cpuRatios;
      for (int round = 0; round < rounds; round++) {
        const Timing &o = times[0][size_t(round)], &q = times[p][size_t(round)];
        if (o.wall < 0 || q.wall < 0) continue;
        ratios.push_back(o.wall / q.wall);
        if (q.cpu > 0) cpuRatios.push_back(o.cpu / q.cpu);
      }
      double ratio = Median(ratios), cpuRatio = Median(cpuRatios);
      // The geometric mean is over the programs proper; the empty row is start-up alone.
      bool proper = std::strcmp(prog.name, "empty") != 0;
      if (proper && !ratios.empty()) ratioColumns[p - 1].push_back(ratio);
      if (proper && !cpuRatios.empty()) cpuRatioColumns[p - 1].push_back(cpuRatio);
      std::printf(" | %17.1f %9.1f %7.2f %9.2f", medianOf(p, false), medianOf(p, true), ratio, cpuRatio);
    }
    std::printf("\n");
    for (size_t c = 0; c < commands.size(); c++) {
      for (const Timing &t : times[c]) {
        if (t.failure.empty()) continue;
        std::printf("  failed: %s (%s)\n", t.failure.c_str(), prog.name);
        anyFailure = true;
        break;
      }
    }
    std::fflush(stdout);
  }
  auto geomean = [](const std::vector<double> &v) {
    double s = 0;
    for (double x : v) s += std::log(x);
    return v.empty() ? NAN : std::exp(s / double(v.size()));
  };
  std::printf("%-31s", "geometric mean");
  for (size_t p = 0; p < npeers; p++)
    std::printf(" | %27s %7.2f %9.2f", "", geomean(ratioColumns[p]), geomean(cpuRatioColumns[p]));
  std::printf("\n");
  // Net of start-up: (ours - ours on empty) / (peer - peer on empty), from the medians.
  if (!medians.empty() && medians[0].name == "empty" && medians.size() > 1) {
    const Medians &e = medians[0];
    std::printf("\nnet of start-up (the empty program's medians subtracted), ours/peer\n%-11s", "program");
    for (size_t p = 1; p < commands.size(); p++) std::printf(" | %12s wall %9s", commands[p].label.c_str(), "cpu");
    std::printf("\n");
    // A program no slower than the empty one on either side is lost in start-up's spread: "-".
    auto net = [](double o, double oe, double q, double qe, int width) {
      if (o - oe > 0 && q - qe > 0) std::printf(" %*.2f", width, (o - oe) / (q - qe));
      else std::printf(" %*s", width, "-");
    };
    for (size_t i = 1; i < medians.size(); i++) {
      const Medians &m = medians[i];
      std::printf("%-11s", m.name.c_str());
      for (size_t p = 1; p < commands.size(); p++) {
        std::printf(" |");
        net(m.wall[0], e.wall[0], m.wall[p], e.wall[p], 17);
        net(m.cpu[0], e.cpu[0], m.cpu[p], e.cpu[p], 9);
      }
      std::printf("\n");
    }
  }
  return anyFailure ? 1 : 0;
}
