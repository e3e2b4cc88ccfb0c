// PatternReplaceStr over a 1 MB text, next to lua5.1's string.gsub doing the same replacement
// on the same text, in alternating rounds (bench/side_by_side.h). Ours is timed around the
// call, lua5.1 by its own os.clock around the replacement alone; the peer's result and count
// are checked once against ours.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench/side_by_side.h"
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
  bool failed = false;
  auto ours = [&] {
    vm_settop(vm.L, subject);
    vm_pushvalue(vm.L, fn);
    vm_pushvalue(vm.L, subject);
    vm_pushstring(vm.L, c.pattern);
    vm_pushstring(vm.L, c.repl);
    if (vm_pcall(vm.L, 3, 2, 0) != 0) failed = true;
    else benchmark::DoNotOptimize(vm_strlen(vm.L, -2));
  };
  char outPath[] = "/tmp/qm_bench_gsub_XXXXXX";
  int fd = mkstemp(outPath);
  if (fd < 0) {
    state.SkipWithError("no temporary file");
    return;
  }
  close(fd);
  // Both results once: ours and lua5.1's text and count must be equal.
  ours();
  long luaCount = -1;
  bool luaRan = LuaSeconds(c, 1, outPath, &luaCount) > 0;
  std::string luaResult = ReadFile(outPath);
  bool same = !failed && luaRan && luaCount == long(vm_tonumber(vm.L, -1)) &&
              luaResult == std::string(vm_tostring(vm.L, -2), vm_strlen(vm.L, -2));
  if (!same) {
    std::remove(outPath);
    state.SkipWithError(failed ? "PatternReplaceStr failed" : !luaRan ? "lua5.1 did not run" : "PatternReplaceStr and gsub disagree");
    return;
  }
  // lua5.1 reports the CPU time of its replacements alone (os.clock), without its start-up or
  // the building of its text; ours is timed around the call.
  qmSideBySide s;
  for (auto _ : state)
    s.RoundTimedBy(state, ours, [&] {
      long count;
      double seconds = LuaSeconds(c, 1, outPath, &count);
      return qmBenchTimes{seconds, seconds};
    });
  std::remove(outPath);
  s.Report(state, "lua5.1");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_PatternReplace1MB)->DenseRange(0, 3)->UseManualTime()->Iterations(9)->Unit(benchmark::kMillisecond);

}  // namespace
