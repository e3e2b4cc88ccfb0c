// The dos library's whole-file commands, each timed next to its peer in the same run: MD5
// (md5sum), CRC32 (zlib's crc32 over the same 64 KB reads), CopyFile with and without a
// callback (cp), FileToString (one plain read), FileLines (wc -l) and ApplyPatch (a plain
// XOR loop). Files live in /tmp and stay in the page cache. QM_BENCH_MB sets the size of the
// large file (1024 by default; FileToString uses a quarter of it).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "player/libtable.h"
#include "player/startup.h"
#include "runtime/rtsupport.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

namespace {

double Seconds(const std::function<void()> &f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

uint64_t LargeBytes() {
  const char *mb = std::getenv("QM_BENCH_MB");
  return uint64_t(mb ? std::atoi(mb) : 1024) << 20;
}

// A file of pseudo-random bytes made once per size and removed at exit.
std::string MakeFile(const std::string &tag, uint64_t bytes, bool lines = false) {
  std::string path = "/tmp/qm_bench_dos_" + tag + "_" + std::to_string(getpid());
  FILE *f = std::fopen(path.c_str(), "wb");
  std::vector<char> block(1 << 20);
  uint32_t x = 12345;
  for (uint64_t done = 0; f && done < bytes; done += block.size()) {
    for (size_t i = 0; i < block.size(); i++) {
      x = x * 1103515245u + 12345u;
      block[i] = lines ? (i % 40 == 39 ? '\n' : char('a' + (x >> 27))) : char(x >> 24);
    }
    std::fwrite(block.data(), 1, size_t(std::min<uint64_t>(block.size(), bytes - done)), f);
  }
  if (f) std::fclose(f);
  static std::vector<std::string> made;
  made.push_back(path);
  if (made.size() == 1)
    std::atexit([] {
      for (auto &p : made) std::remove(p.c_str());
      std::system("rm -rf /tmp/qm_bench_dos_copy_*");
    });
  return path;
}

// A VM of the player with every library, as start-up makes it.
struct BenchVm {
  VmState *L = vm_open();
  BenchVm() {
    OpenScriptState(L);
    OpenLibraries(L, kPlayerLibraries);
    SetRuntimeQuiet();
  }
  ~BenchVm() {
    FreeLibraries(L, kPlayerLibraries);
    FreeRuntimeSupport();
    vm_close(L);
  }
  static void SetRuntimeQuiet();
  // Calls the command with string and number arguments; the error code.
  uint32_t Call(const char *name, std::initializer_list<std::string> args, VmCFunction callback = nullptr,
                int callbackAt = 0) {
    vm_settop(L, 0);
    std::string lower(name);
    for (char &c : lower) c = char(kLowerCaseTable[uint8_t(c)]);
    vm_pushstring(L, lower.c_str());
    vm_gettable(L, VM_GLOBALSINDEX);
    int n = 0;
    for (const std::string &a : args) {
      if (++n == callbackAt) {
        vm_pushcfunction(L, callback);
        ++n;
      }
      char *end;
      double d = std::strtod(a.c_str(), &end);
      if (!a.empty() && *end == 0) vm_pushnumber(L, d);
      else vm_pushstring(L, a.c_str());
    }
    if (callback && callbackAt > n) vm_pushcfunction(L, callback), n++;
    return vm_pcall(L, n, 1, 0);
  }
};

void BenchVm::SetRuntimeQuiet() {
  // No "Opening file" lines between the benchmark's own.
  qmTagItem quiet[] = {{RTTAG_QUIET, 1}, {0, 0}};
  SetRuntimeTags(nullptr, quiet);
}

void Report(benchmark::State &state, double ours, double peer, const char *peerName, uint64_t bytes) {
  state.SetIterationTime(ours);
  state.counters["ours_ms"] = ours * 1e3;
  state.counters[std::string(peerName) + "_ms"] = peer * 1e3;
  state.counters["ours_over_peer"] = ours / peer;  // the goal: at or below about 1.1
  if (bytes) state.counters["MiB"] = double(bytes >> 20);
}

void BM_MD5VersusMd5sum(benchmark::State &state) {
  uint64_t bytes = LargeBytes();
  std::string path = MakeFile("md5", bytes);
  BenchVm vm;
  for (auto _ : state) {
    double ours = Seconds([&] { vm.Call("MD5", {path}); });
    double peer = Seconds([&] { std::system(("md5sum " + path + " >/dev/null").c_str()); });
    Report(state, ours, peer, "md5sum", bytes);
  }
}
BENCHMARK(BM_MD5VersusMd5sum)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

void BM_CRC32VersusZlib(benchmark::State &state) {
  uint64_t bytes = LargeBytes();
  std::string path = MakeFile("crc", bytes);
  BenchVm vm;
  for (auto _ : state) {
    double ours = Seconds([&] { vm.Call("CRC32", {path}); });
    double peer = Seconds([&] {
      FILE *f = std::fopen(path.c_str(), "rb");
      static unsigned char buf[65536];
      uLong c = crc32(0, nullptr, 0);
      for (size_t n; f && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) c = crc32(c, buf, uInt(n));
      if (f) std::fclose(f);
      benchmark::DoNotOptimize(c);
    });
    Report(state, ours, peer, "zlib", bytes);
  }
}
BENCHMARK(BM_CRC32VersusZlib)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

uint32_t KeepCopying(VmState *L) {
  vm_pushnumber(L, 0);
  return 1;
}

void CopyBench(benchmark::State &state, bool callback) {
  uint64_t bytes = LargeBytes();
  std::string path = MakeFile(callback ? "copycb" : "copy", bytes);
  std::string ourDir = "/tmp/qm_bench_dos_copy_ours_" + std::to_string(getpid());
  std::string cpDir = "/tmp/qm_bench_dos_copy_cp_" + std::to_string(getpid());
  std::system(("mkdir -p " + ourDir + " " + cpDir).c_str());
  BenchVm vm;
  for (auto _ : state) {
    std::system(("rm -f " + ourDir + "/* " + cpDir + "/*").c_str());
    double ours = Seconds([&] {
      if (callback) vm.Call("CopyFile", {path, ourDir, ""}, KeepCopying, 4);
      else vm.Call("CopyFile", {path, ourDir});
    });
    double peer = Seconds([&] { std::system(("cp " + path + " " + cpDir + "/").c_str()); });
    Report(state, ours, peer, "cp", bytes);
  }
}
void BM_CopyFileVersusCp(benchmark::State &state) { CopyBench(state, false); }
void BM_CopyFileWithCallbackVersusCp(benchmark::State &state) { CopyBench(state, true); }
BENCHMARK(BM_CopyFileVersusCp)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyFileWithCallbackVersusCp)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

void BM_FileToStringVersusRead(benchmark::State &state) {
  uint64_t bytes = LargeBytes() / 4;
  std::string path = MakeFile("string", bytes);
  BenchVm vm;
  for (auto _ : state) {
    double ours = Seconds([&] { vm.Call("FileToString", {path}); });
    vm_settop(vm.L, 0);
    double peer = Seconds([&] {
      std::string s(bytes, '\0');
      FILE *f = std::fopen(path.c_str(), "rb");
      if (f) benchmark::DoNotOptimize(std::fread(s.data(), 1, bytes, f));
      if (f) std::fclose(f);
    });
    Report(state, ours, peer, "read", bytes);
  }
}
BENCHMARK(BM_FileToStringVersusRead)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_FileLinesVersusWc(benchmark::State &state) {
  constexpr uint64_t kLines = 1000000;
  std::string path = MakeFile("lines", kLines * 40, true);
  BenchVm vm;
  for (auto _ : state) {
    double ours = Seconds([&] {
      vm.Call("FileLines", {path});
      int it = vm_gettop(vm.L);
      for (;;) {
        vm_pushvalue(vm.L, it);
        vm_pcall(vm.L, 0, 1, 0);
        bool end = vm_type(vm.L, -1) == VM_TNIL;
        vm_pop(vm.L, 1);
        if (end) break;
      }
    });
    double peer = Seconds([&] { std::system(("wc -l " + path + " >/dev/null").c_str()); });
    Report(state, ours, peer, "wc", 0);
    state.counters["lines_per_s"] = double(kLines) / ours;
  }
}
BENCHMARK(BM_FileLinesVersusWc)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ApplyPatchVersusXor(benchmark::State &state) {
  constexpr uint64_t kBytes = 10 << 20;
  std::string a = MakeFile("patch_a", kBytes), b = MakeFile("patch_b", kBytes);
  std::string out = a + ".out";
  BenchVm vm;
  for (auto _ : state) {
    double ours = Seconds([&] {
      vm.Call("OpenFile", {"1", a});
      vm.Call("OpenFile", {"2", b});
      vm.Call("OpenFile", {"3", out, "1006"});
      vm.Call("ApplyPatch", {"1", "2", "3"});
      for (const char *id : {"1", "2", "3"}) vm.Call("CloseFile", {id});
    });
    double peer = Seconds([&] {
      FILE *fa = std::fopen(a.c_str(), "rb"), *fb = std::fopen(b.c_str(), "rb"), *fo = std::fopen(out.c_str(), "wb");
      static unsigned char x[65536], y[65536];
      for (size_t n; (n = std::fread(x, 1, sizeof x, fa)) > 0;) {
        std::fread(y, 1, n, fb);
        for (size_t i = 0; i < n; i++) x[i] ^= y[i];
        std::fwrite(x, 1, n, fo);
      }
      std::fclose(fa);
      std::fclose(fb);
      std::fclose(fo);
    });
    Report(state, ours, peer, "xor", kBytes);
  }
  std::remove(out.c_str());
}
BENCHMARK(BM_ApplyPatchVersusXor)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
