// The interpreter on four small programs (recursive calls, numeric loops over a table,
// string building, method calls), each next to the same algorithm under Debian's lua5.1
// timed by its own clock. Prints the ratio ours / lua5.1 per program at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

namespace {

struct Program {
  const char *name;
  const char *qasm;
  const char *lua;  // the workload; the harness times it with os.clock
};

const Program kPrograms[] = {
    {"fib", R"(
.func maxstack=4
  .k "fib" 27
      CLOSURE   0 p0
      SETGLOBAL 0 k0
      GETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 2
      RETURN    0 2
  .func params=1 maxstack=4
    .k 2 "fib" 1
      LT        0 0 k0
      JMP       rec
      RETURN    0 2
rec:  GETGLOBAL 1 k1
      SUB       2 0 k2
      CALL      1 2 2
      GETGLOBAL 2 k1
      SUB       3 0 k0
      CALL      2 2 2
      ADD       1 1 2
      RETURN    1 2
      RETURN    0 1
  .end
.end
)",
     "function fib(n) if n < 2 then return n end return fib(n-1) + fib(n-2) end local r = fib(27)"},
    {"table_loop", R"(
.func maxstack=8
  .k 1 1000000 0 2
      NEWTABLE 0 0 0
      LOADK    1 k0
      LOADK    2 k1
      LOADK    3 k0
      SUB      1 1 3
      JMP      t1
b1:   MUL      4 1 k3
      SETTABLE 0 1 4
t1:   FORLOOP  1 b1
      LOADK    5 k2
      LOADK    1 k0
      LOADK    2 k1
      LOADK    3 k0
      SUB      1 1 3
      JMP      t2
b2:   GETTABLE 4 0 1
      ADD      5 5 4
t2:   FORLOOP  1 b2
      RETURN   5 2
.end
)",
     "local t = {} for i = 1, 1000000 do t[i] = i * 2 end local s = 0 for i = 1, 1000000 do s = s + t[i] end"},
    {"concat", R"(
.func maxstack=8
  .k 1 200000 "a" "b"
      LOADK    1 k0
      LOADK    2 k1
      LOADK    3 k0
      SUB      1 1 3
      JMP      t
b:    LOADK    4 k2
      MOVE     5 1
      LOADK    6 k3
      CONCAT   0 4 6
t:    FORLOOP  1 b
      RETURN   0 2
.end
)",
     "local x for i = 1, 200000 do x = \"a\" .. i .. \"b\" end"},
    {"method_calls", R"(
.func maxstack=8
  .k "v" 0 "inc" 1 1000000
      NEWTABLE 0 0 2
      SETTABLE 0 k0 k1
      CLOSURE  1 p0
      SETTABLE 0 k2 1
      LOADK    1 k3
      LOADK    2 k4
      LOADK    3 k3
      SUB      1 1 3
      JMP      t
b:    SELF     4 0 k2
      CALL     4 2 1
t:    FORLOOP  1 b
      GETTABLE 4 0 k0
      RETURN   4 2
  .func params=1 maxstack=3
    .k "v" 1
      GETTABLE 1 0 k0
      ADD      1 1 k1
      SETTABLE 0 k0 1
      RETURN   0 1
  .end
.end
)",
     "local obj = {v = 0} function obj.inc(self) self.v = self.v + 1 end for i = 1, 1000000 do obj:inc() end"},
};

void BM_Ours(benchmark::State &state, const Program *p) {
  VmState *L = vm_open();
  qmtools::AsmResult r = qmtools::AssembleText(p->qasm);
  if (!r.proto) {
    state.SkipWithError(r.error.c_str());
    vm_close(L);
    return;
  }
  std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
  if (vm_loadbuffer(L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), "=bench") != 0) {
    state.SkipWithError("load failed");
    vm_close(L);
    return;
  }
  for (auto _ : state) {
    vm_pushvalue(L, 1);
    if (vm_pcall(L, 0, 0, 0) != 0) state.SkipWithError("run failed");
  }
  vm_close(L);
}

void BM_Lua51(benchmark::State &state, const Program *p) {
  std::string path = "/tmp/qm_bench_" + std::string(p->name) + ".lua";
  if (FILE *f = std::fopen(path.c_str(), "w")) {
    std::fprintf(f, "local t0 = os.clock()\n%s\nio.write(string.format('%%.9f', os.clock() - t0))\n", p->lua);
    std::fclose(f);
  }
  std::string cmd = "lua5.1 " + path;
  for (auto _ : state) {
    FILE *pipe = popen(cmd.c_str(), "r");
    double secs = -1;
    if (!pipe || std::fscanf(pipe, "%lf", &secs) != 1) {
      if (pipe) pclose(pipe);
      state.SkipWithError("lua5.1 did not run (is it installed?)");
      break;
    }
    pclose(pipe);
    state.SetIterationTime(secs);
  }
}

// Remembers each run's mean time per iteration so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs)
      if (r.iterations > 0 && !r.error_occurred) seconds[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char **argv) {
  for (const Program &p : kPrograms) {
    benchmark::RegisterBenchmark((std::string("ours/") + p.name).c_str(), BM_Ours, &p)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("lua5.1/") + p.name).c_str(), BM_Lua51, &p)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-14s %12s %12s %8s\n", "program", "ours ms", "lua5.1 ms", "ratio");
  for (const Program &p : kPrograms) {
    auto o = reporter.seconds.find(std::string("ours/") + p.name);
    auto l = reporter.seconds.find(std::string("lua5.1/") + p.name + "/manual_time");
    if (o == reporter.seconds.end() || l == reporter.seconds.end()) continue;
    std::printf("%-14s %12.2f %12.2f %8.2f\n", p.name, o->second, l->second, o->second / l->second);
  }
  return 0;
}
