// PatternReplaceStr over a 1 MB text, next to lua5.1's string.gsub doing the same replacement
// on the same text (run in the same process run, timed by lua5.1 itself).
#include <benchmark/benchmark.h>

#include <chrono>
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

// Seconds per gsub as lua5.1 measures it, or -1 when lua5.1 is not installed.
double LuaSeconds(const Case &c, int rounds) {
  char script[512];
  std::snprintf(script, sizeof script,
                "lua5.1 -e 'local w=\"%s\" local t={} local n=0 while n < 1048576 do t[#t+1]=w n=n+#w end "
                "local s=table.concat(t):sub(1,1048576) local c=os.clock() for i=1,%d do string.gsub(s,\"%s\",\"%s\") "
                "end print((os.clock()-c)/%d)' 2>/dev/null",
                kWords, rounds, c.pattern, c.repl, rounds);
  FILE *p = popen(script, "r");
  if (!p) return -1;
  double seconds = -1;
  if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
  pclose(p);
  return seconds;
}

void BM_PatternReplace1MB(benchmark::State &state) {
  const Case &c = kCases[state.range(0)];
  state.SetLabel(std::string(c.pattern) + " -> " + c.repl);
  StringVm vm;
  std::string text = MakeText();
  vm_pushstring(vm.L, "patternreplacestr");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  int fn = vm_gettop(vm.L);
  auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    vm_pushvalue(vm.L, fn);
    vm_pushlstring(vm.L, text.data(), text.size());
    vm_pushstring(vm.L, c.pattern);
    vm_pushstring(vm.L, c.repl);
    if (vm_pcall(vm.L, 3, 2, 0) != 0) state.SkipWithError("PatternReplaceStr failed");
    benchmark::DoNotOptimize(vm_strlen(vm.L, -2));
    vm_settop(vm.L, fn);
  }
  double ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() /
                double(state.iterations());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  double lua = LuaSeconds(c, 5);
  state.counters["ms"] = ours * 1e3;
  if (lua > 0) {
    state.counters["lua5.1_ms"] = lua * 1e3;
    state.counters["lua_over_ours"] = lua / ours;  // above 1: faster than lua5.1
  }
}
BENCHMARK(BM_PatternReplace1MB)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
