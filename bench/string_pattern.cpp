// PatternReplaceStr over a 1 MB text, next to lua5.1's string.gsub doing the same replacement
// on the same text. Both are timed by their process's CPU clock around the replacements alone
// (lua5.1 by os.clock), and the peer's result and count must equal ours.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "player/string/lib_string.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"

namespace {

constexpr const char *kWords = "the quick brown fox jumps over 13 lazy dogs; ";

std::string MakeText() {
  std::string s;
  while (s.size() < (1u << 20)) s += kWords;
  s.resize(1u << 20);
  return s;
}

struct StringVm {
  VmState *L = vm_open();
  StringVm() {
    InitRuntimeSupport(L);
    OpenLibrary(L, &kStringLibrary);
  }
  ~StringVm() {
    FreeRuntimeSupport();
    vm_close(L);
  }
};

struct Case {
  const char *pattern;
  const char *repl;
};
const Case kCases[] = {{"(%a+)", "<%1>"}, {"%d+", "#"}, {"%f[%a]%a%a%a%a%f[%A]", "4"}, {"x", "y"}};

// What lua5.1 measures: seconds per gsub by its own process clock (os.clock), and the text
// and count of the last replacement, written to outPath. -1 when lua5.1 did not run.
double LuaSeconds(const Case &c, int rounds, const std::string &outPath, long *count) {
  char script[768];
  std::snprintf(script, sizeof script,
                "lua5.1 -e 'local w=\"%s\" local t={} local n=0 while n < 1048576 do t[#t+1]=w n=n+#w end "
                "local s=table.concat(t):sub(1,1048576) local r,k local c=os.clock() for i=1,%d do "
                "r,k=string.gsub(s,\"%s\",\"%s\") end local e=os.clock()-c "
                "local f=io.open(\"%s\",\"wb\") f:write(r) f:close() print(e/%d, k)' 2>/dev/null",
                kWords, rounds, c.pattern, c.repl, outPath.c_str(), rounds);
  FILE *p = popen(script, "r");
  if (!p) return -1;
  double seconds = -1;
  if (std::fscanf(p, "%lf %ld", &seconds, count) != 2) seconds = -1;
  pclose(p);
  return seconds;
}

std::string ReadFile(const std::string &path) {
  std::string text;
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

// The process's CPU seconds: the clock lua5.1's os.clock reads, so both sides use the same one.
double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

void BM_PatternReplace1MB(benchmark::State &state) {
  const Case &c = kCases[state.range(0)];
  state.SetLabel(std::string(c.pattern) + " -> " + c.repl);
  StringVm vm;
  std::string text = MakeText();
  vm_pushstring(vm.L, "patternreplacestr");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  int fn = vm_gettop(vm.L);
  vm_pushlstring(vm.L, text.data(), text.size());  // made once, as the peer's subject string is
  int subject = vm_gettop(vm.L);
  std::string result;
  long count = -1;
  double cpu0 = CpuSeconds();
  for (auto _ : state) {
    vm_pushvalue(vm.L, fn);
    vm_pushvalue(vm.L, subject);
    vm_pushstring(vm.L, c.pattern);
    vm_pushstring(vm.L, c.repl);
    if (vm_pcall(vm.L, 3, 2, 0) != 0) {
      state.SkipWithError("PatternReplaceStr failed");
      return;
    }
    benchmark::DoNotOptimize(vm_strlen(vm.L, -2));
    state.PauseTiming();
    double paused = CpuSeconds();
    if (result.empty()) {  // the first result is kept for the check against the peer
      result.assign(vm_tostring(vm.L, -2), vm_strlen(vm.L, -2));
      count = long(vm_tonumber(vm.L, -1));
    }
    vm_settop(vm.L, subject);
    cpu0 += CpuSeconds() - paused;
    state.ResumeTiming();
  }
  double ours = (CpuSeconds() - cpu0) / double(state.iterations());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  char outPath[] = "/tmp/qm_bench_gsub_XXXXXX";
  int fd = mkstemp(outPath);
  if (fd < 0) {
    state.SkipWithError("no temporary file");
    return;
  }
  close(fd);
  long luaCount = -1;
  double lua = LuaSeconds(c, 5, outPath, &luaCount);
  std::string luaResult = ReadFile(outPath);
  std::remove(outPath);
  state.counters["ours_cpu_ms"] = ours * 1e3;
  if (lua > 0) {
    if (luaResult != result || luaCount != count) {
      state.SkipWithError("PatternReplaceStr and gsub disagree");
      return;
    }
    state.counters["lua5.1_cpu_ms"] = lua * 1e3;
    state.counters["ours_over_lua"] = ours / lua;  // below 1: faster than lua5.1
  }
}
BENCHMARK(BM_PatternReplace1MB)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
