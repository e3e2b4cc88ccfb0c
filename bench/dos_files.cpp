// The dos library's whole-file commands, each timed next to its peer in the same run, in
// alternating order, wall and CPU time, medians of every round; each pair's outputs are
// compared once before timing: MD5 (md5sum), CRC32 (zlib's crc32 over the same 64 KB reads),
// CopyFile with and without a callback (cp), FileToString (one read into an uninitialised
// buffer of the file's size), FileLines and ReadLine (lua5.1's io.lines and f:read("*l"),
// which also make a string of every line) and ApplyPatch (a plain XOR loop). Files live in
// /tmp and stay in the page cache. QM_BENCH_MB sets the size of the large file (1024 by
// default; FileToString uses a quarter of it); QM_BENCH_ROUNDS the rounds (7 by default).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/side_by_side.h"

#include "player/libtable.h"
#include "player/startup.h"
#include "runtime/rtsupport.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

namespace {

int Rounds() {
  const char *r = std::getenv("QM_BENCH_ROUNDS");
  return r && std::atoi(r) > 0 ? std::atoi(r) : 7;
}

// A command's standard output, trailing white space removed.
std::string CommandOutput(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  char buf[4096];
  for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (p) pclose(p);
  while (!out.empty() && std::isspace(uint8_t(out.back()))) out.pop_back();
  return out;
}

std::string FileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
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

// Skips the benchmark when a pair's outputs differ: a faster wrong answer is no figure.
bool SameOutputs(benchmark::State &state, const std::string &ours, const std::string &peer) {
  if (ours == peer) return true;
  state.SkipWithError(("outputs differ: ours " + ours.substr(0, 60) + ", peer " + peer.substr(0, 60)).c_str());
  return false;
}

void BM_MD5VersusMd5sum(benchmark::State &state) {
  uint64_t bytes = LargeBytes();
  std::string path = MakeFile("md5", bytes);
  BenchVm vm;
  std::string peerCommand = "md5sum " + path + " | cut -d' ' -f1";
  vm.Call("MD5", {path});
  if (!SameOutputs(state, vm_tostring(vm.L, -1), CommandOutput(peerCommand))) return;
  qmSideBySide s;
  for (auto _ : state)
    s.Round(state, [&] { vm.Call("MD5", {path}); },
            [&] { std::system(("md5sum " + path + " >/dev/null").c_str()); });
  s.Report(state, "md5sum");
}
BENCHMARK(BM_MD5VersusMd5sum)->UseManualTime()->Iterations(Rounds())->Unit(benchmark::kMillisecond);

uint32_t ZlibCrc(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "rb");
  static unsigned char buf[65536];
  uLong c = crc32(0, nullptr, 0);
  for (size_t n; f && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) c = crc32(c, buf, uInt(n));
  if (f) std::fclose(f);
  return uint32_t(c);
}

void BM_CRC32VersusZlib(benchmark::State &state) {
  uint64_t bytes = LargeBytes();
  std::string path = MakeFile("crc", bytes);
  BenchVm vm;
  vm.Call("CRC32", {path});
  if (!SameOutputs(state, std::to_string(uint32_t(vm_tonumber(vm.L, -1))), std::to_string(ZlibCrc(path)))) return;
  qmSideBySide s;
  for (auto _ : state) s.Round(state, [&] { vm.Call("CRC32", {path}); }, [&] { benchmark::DoNotOptimize(ZlibCrc(path)); });
  s.Report(state, "zlib");
}
BENCHMARK(BM_CRC32VersusZlib)->UseManualTime()->Iterations(Rounds())->Unit(benchmark::kMillisecond);

uint32_t KeepCopying(VmState *L) {
  vm_pushnumber(L, 0);
  return 1;
}

void CopyBench(benchmark::State &state, bool callback) {
  uint64_t bytes = LargeBytes();
  std::string path = MakeFile(callback ? "copycb" : "copy", bytes);
  std::string name = path.substr(path.rfind('/') + 1);
  std::string ourDir = "/tmp/qm_bench_dos_copy_ours_" + std::to_string(getpid());
  std::string cpDir = "/tmp/qm_bench_dos_copy_cp_" + std::to_string(getpid());
  std::system(("mkdir -p " + ourDir + " " + cpDir).c_str());
  BenchVm vm;
  auto ours = [&] {
    if (callback) vm.Call("CopyFile", {path, ourDir, ""}, KeepCopying, 4);
    else vm.Call("CopyFile", {path, ourDir});
  };
  auto peer = [&] { std::system(("cp " + path + " " + cpDir + "/").c_str()); };
  ours();
  peer();
  std::string same = std::system(("cmp -s " + ourDir + "/" + name + " " + cpDir + "/" + name).c_str()) == 0 ? "equal" : "differ";
  if (!SameOutputs(state, same, "equal")) return;
  qmSideBySide s;
  for (auto _ : state) {
    // Both sides copy onto a fresh target; removing the old copies is no part of either.
    std::system(("rm -f " + ourDir + "/* " + cpDir + "/*").c_str());
    s.Round(state, ours, peer);
  }
  s.Report(state, "cp");
  state.counters["MiB"] = double(bytes >> 20);
}
void BM_CopyFileVersusCp(benchmark::State &state) { CopyBench(state, false); }
void BM_CopyFileWithCallbackVersusCp(benchmark::State &state) { CopyBench(state, true); }
BENCHMARK(BM_CopyFileVersusCp)->UseManualTime()->Iterations(Rounds())->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyFileWithCallbackVersusCp)->UseManualTime()->Iterations(Rounds())->Unit(benchmark::kMillisecond);

// The peer reads the file into a buffer of its size left uninitialised, as a string sized
// for a read should be: no zero-filling that ours does not do.
std::unique_ptr<char[]> ReadWhole(const std::string &path, uint64_t *size) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  fseeko(f, 0, SEEK_END);
  *size = uint64_t(ftello(f));
  fseeko(f, 0, SEEK_SET);
  std::unique_ptr<char[]> buf(new char[*size]);
  *size = std::fread(buf.get(), 1, *size, f);
  std::fclose(f);
  return buf;
}

void BM_FileToStringVersusRead(benchmark::State &state) {
  uint64_t bytes = LargeBytes() / 4;
  std::string path = MakeFile("string", bytes);
  BenchVm vm;
  {
    vm.Call("FileToString", {path});
    size_t n = vm_strlen(vm.L, -1);
    const char *s = vm_tostring(vm.L, -1);
    uint64_t size = 0;
    std::unique_ptr<char[]> peer = ReadWhole(path, &size);
    vm_settop(vm.L, 0);
    if (!SameOutputs(state, std::string(s, n) == std::string(peer.get(), size) ? "equal" : "differ", "equal")) return;
  }
  qmSideBySide s;
  for (auto _ : state) {
    s.Round(state, [&] { vm.Call("FileToString", {path}); },
            [&] {
              uint64_t size = 0;
              benchmark::DoNotOptimize(ReadWhole(path, &size).get());
            });
    vm_settop(vm.L, 0);
  }
  s.Report(state, "read");
  state.counters["MiB"] = double(bytes >> 20);
}
BENCHMARK(BM_FileToStringVersusRead)->UseManualTime()->Iterations(Rounds())->Unit(benchmark::kMillisecond);

constexpr uint64_t kLines = 4000000;

std::string LinesFile() {
  static std::string path = MakeFile("lines", kLines * 40, true);
  return path;
}

// Lines and their bytes, line feeds not counted: what both sides report.
std::string LineTotals(uint64_t lines, uint64_t bytes) { return std::to_string(lines) + " " + std::to_string(bytes); }

// A FileLines loop as a script's for-loop runs it: the iterator called until it returns nothing.
std::string OurFileLines(BenchVm &vm, const std::string &path) {
  vm.Call("FileLines", {path});
  int it = vm_gettop(vm.L);
  uint64_t lines = 0, bytes = 0;
  for (;;) {
    vm_pushvalue(vm.L, it);
    vm_pcall(vm.L, 0, 1, 0);
    bool end = vm_type(vm.L, -1) == VM_TNIL;
    if (!end) lines++, bytes += vm_strlen(vm.L, -1);
    vm_pop(vm.L, 1);
    if (end) break;
  }
  vm_settop(vm.L, 0);
  return LineTotals(lines, bytes);
}

std::string LuaLines(const std::string &loop) {
  return CommandOutput("lua5.1 -e 'local n, b = 0, 0 " + loop + " print(n .. \" \" .. b)'");
}

void BM_FileLinesVersusLuaIoLines(benchmark::State &state) {
  std::string path = LinesFile();
  std::string loop = "for l in io.lines(\"" + path + "\") do n = n + 1 b = b + #l end";
  BenchVm vm;
  if (!SameOutputs(state, OurFileLines(vm, path), LuaLines(loop))) return;
  qmSideBySide s;
  for (auto _ : state) s.Round(state, [&] { OurFileLines(vm, path); }, [&] { LuaLines(loop); });
  s.Report(state, "lua5.1");
  state.counters["lines"] = double(kLines);
}
BENCHMARK(BM_FileLinesVersusLuaIoLines)->UseManualTime()->Iterations(Rounds())->Unit(benchmark::kMillisecond);

// ReadLine on an open file until its end, the command looked up once as a script's local would be.
std::string OurReadLines(BenchVm &vm, const std::string &path) {
  vm.Call("OpenFile", {"1", path});
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "readline");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  uint64_t lines = 0, bytes = 0;
  for (;;) {
    vm_pushvalue(vm.L, 1);
    vm_pushnumber(vm.L, 1);
    if (vm_pcall(vm.L, 1, 1, 0) != 0) break;  // past the end: ERR_READRANGE
    lines++, bytes += vm_strlen(vm.L, -1);
    vm_pop(vm.L, 1);
  }
  vm.Call("CloseFile", {"1"});
  vm_settop(vm.L, 0);
  return LineTotals(lines, bytes);
}

void BM_ReadLineVersusLuaRead(benchmark::State &state) {
  std::string path = LinesFile();
  std::string loop = "local f = io.open(\"" + path + "\") for l in function() return f:read(\"*l\") end do n = n + 1 b = b + #l end f:close()";
  BenchVm vm;
  if (!SameOutputs(state, OurReadLines(vm, path), LuaLines(loop))) return;
  qmSideBySide s;
  for (auto _ : state) s.Round(state, [&] { OurReadLines(vm, path); }, [&] { LuaLines(loop); });
  s.Report(state, "lua5.1");
  state.counters["lines"] = double(kLines);
}
BENCHMARK(BM_ReadLineVersusLuaRead)->UseManualTime()->Iterations(Rounds())->Unit(benchmark::kMillisecond);

void BM_ApplyPatchVersusXor(benchmark::State &state) {
  constexpr uint64_t kBytes = 10 << 20;
  std::string a = MakeFile("patch_a", kBytes), b = MakeFile("patch_b", kBytes);
  std::string out = a + ".out", peerOut = a + ".peer";
  BenchVm vm;
  auto ours = [&] {
    vm.Call("OpenFile", {"1", a});
    vm.Call("OpenFile", {"2", b});
    vm.Call("OpenFile", {"3", out, "1006"});
    vm.Call("ApplyPatch", {"1", "2", "3"});
    for (const char *id : {"1", "2", "3"}) vm.Call("CloseFile", {id});
  };
  auto peer = [&] {
    FILE *fa = std::fopen(a.c_str(), "rb"), *fb = std::fopen(b.c_str(), "rb"), *fo = std::fopen(peerOut.c_str(), "wb");
    static unsigned char x[65536], y[65536];
    for (size_t n; (n = std::fread(x, 1, sizeof x, fa)) > 0;) {
      n = std::min(n, std::fread(y, 1, n, fb));
      for (size_t i = 0; i < n; i++) x[i] ^= y[i];
      std::fwrite(x, 1, n, fo);
    }
    std::fclose(fa);
    std::fclose(fb);
    std::fclose(fo);
  };
  ours();
  peer();
  if (SameOutputs(state, FileBytes(out) == FileBytes(peerOut) ? "equal" : "differ", "equal")) {
    qmSideBySide s;
    for (auto _ : state) s.Round(state, ours, peer);
    s.Report(state, "xor");
  }
  std::remove(out.c_str());
  std::remove(peerOut.c_str());
}
BENCHMARK(BM_ApplyPatchVersusXor)->UseManualTime()->Iterations(Rounds())->Unit(benchmark::kMillisecond);

}  // namespace
