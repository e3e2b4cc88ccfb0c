// The network library next to its peers in the same run: DownloadFile of a large file from a
// loopback nginx to a file and to memory beside curl (a whole process; wall and CPU time),
// SendData/ReceiveData through a loopback echo beside a plain blocking socket loop, and the
// CPU time of a silent two-second receive (which must sleep, not spin). QM_BENCH_MB sets the
// download size (256 by default).
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
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

double Seconds(const std::function<void()> &f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double CpuSeconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

std::string Dir() {
  static std::string dir = [] {
    std::string d = "/tmp/qm_bench_net_" + std::to_string(getpid());
    std::system(("mkdir -p " + d + "/www " + d + "/logs && chmod 755 " + d + " " + d + "/www").c_str());
    std::atexit([] { std::system(("rm -rf /tmp/qm_bench_net_" + std::to_string(getpid())).c_str()); });
    return d;
  }();
  return dir;
}

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len);
  close(s);
  return ntohs(sa.sin_port);
}

// nginx in the foreground over Dir()/www with the big file; stopped at exit.
int NginxPort() {
  static int port = [] {
    uint64_t mb = std::getenv("QM_BENCH_MB") ? uint64_t(std::atoi(std::getenv("QM_BENCH_MB"))) : 256;
    std::string d = Dir();
    std::system(("head -c " + std::to_string(mb << 20) + " /dev/urandom > " + d + "/www/big.bin").c_str());
    int p = FreePort();
    FILE *f = std::fopen((d + "/nginx.conf").c_str(), "w");
    std::fprintf(f,
                 "worker_processes 1; pid %s/nginx.pid; error_log %s/logs/error.log;\nevents {}\n"
                 "http { access_log off; sendfile on; client_body_temp_path %s/logs;\n"
                 "  server { listen 127.0.0.1:%d; root %s/www; } }\n",
                 d.c_str(), d.c_str(), d.c_str(), p, d.c_str());
    std::fclose(f);
    std::system(("/usr/sbin/nginx -p " + d + " -c " + d + "/nginx.conf -g 'daemon off;' 2>/dev/null &").c_str());
    std::atexit([] { std::system(("kill $(cat " + Dir() + "/nginx.pid) 2>/dev/null").c_str()); });
    for (int i = 0; i < 100; i++, usleep(20000))
      if (std::system(("curl -sf -o /dev/null http://127.0.0.1:" + std::to_string(p) + "/").c_str()) != 7) break;
    return p;
  }();
  return port;
}

// A python echo peer; stopped at exit.
int EchoPort() {
  static int port = [] {
    std::string script = Dir() + "/echo.py";
    FILE *f = std::fopen(script.c_str(), "w");
    std::fputs("import socket,sys,threading\ns=socket.socket();s.setsockopt(socket.SOL_SOCKET,socket.SO_REUSEADDR,1)\n"
               "s.bind(('127.0.0.1',int(sys.argv[1])));s.listen(4)\n"
               "def echo(c):\n while True:\n  d=c.recv(1<<20)\n  if not d: break\n  c.sendall(d)\n c.close()\n"
               "while True:\n c,_=s.accept()\n threading.Thread(target=echo,args=(c,),daemon=True).start()\n",
               f);
    std::fclose(f);
    int p = FreePort();
    // Debian's python, which another python first on the PATH would otherwise stand in for.
    std::system(("/usr/bin/python3 " + script + " " + std::to_string(p) + " & echo $! > " + Dir() + "/echo.pid").c_str());
    std::atexit([] { std::system(("kill $(cat " + Dir() + "/echo.pid) 2>/dev/null").c_str()); });
    usleep(300000);
    return p;
  }();
  return port;
}

struct BenchVm {
  VmState *L = vm_open();
  BenchVm() {
    OpenScriptState(L);
    OpenLibraries(L, kPlayerLibraries);
    qmTagItem quiet[] = {{RTTAG_QUIET, 1}, {0, 0}};
    SetRuntimeTags(nullptr, quiet);
  }
  ~BenchVm() {
    FreeLibraries(L, kPlayerLibraries);
    FreeRuntimeSupport();
    vm_close(L);
  }
  void Push(const std::string &command) {
    vm_settop(L, 0);
    std::string lower(command);
    for (char &c : lower) c = char(kLowerCaseTable[uint8_t(c)]);
    vm_pushstring(L, lower.c_str());
    vm_gettable(L, VM_GLOBALSINDEX);
  }
  uint32_t Call(int args) { return vm_pcall(L, args, VM_MULTRET, 0); }
};

// curl as a whole process, from spawn to exit; false when it failed.
bool RunCurl(const std::string &url, const std::string &output) {
  return std::system(("curl -sf -o " + output + " " + url).c_str()) == 0;
}

std::string FileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// To a file: both write the same file system. To memory: our string keeps every byte, so curl
// keeps them too, in a file on a memory file system (/dev/shm); the row also shows curl
// throwing the bytes away (/dev/null), which no script download can do. Ours runs in this
// process, curl as a whole process, in alternating order; the outputs are compared once
// before timing. Between rounds, and outside the times, the previous round's string is
// collected, as a script that dropped it would have it, and curl's file is removed.
void DownloadBench(benchmark::State &state, bool toFile) {
  std::string url = "http://127.0.0.1:" + std::to_string(NginxPort()) + "/big.bin";
  std::string ourFile = Dir() + "/ours.bin", curlFile = Dir() + "/curl.bin";
  std::string shmFile = "/dev/shm/qm_bench_net_" + std::to_string(getpid()) + ".bin";
  const std::string &peerFile = toFile ? curlFile : shmFile;
  BenchVm vm;
  bool failed = false;
  auto ours = [&] {
    vm.Push("DownloadFile");
    vm_pushstring(vm.L, url.c_str());
    if (toFile) {
      vm_newtable(vm.L);
      vm_pushstring(vm.L, "file");
      vm_pushstring(vm.L, ourFile.c_str());
      vm_settable(vm.L, -3);
    }
    if (vm.Call(toFile ? 2 : 1)) failed = true;
  };
  auto peer = [&] {
    if (!RunCurl(url, peerFile)) failed = true;
  };
  auto collect = [&] {
    vm_settop(vm.L, 0);
    vm_setgcthreshold(vm.L, 0);
    std::remove(shmFile.c_str());
  };

  ours();
  peer();
  std::string peerBytes = FileBytes(peerFile);
  bool same = false;
  if (toFile) {
    same = !failed && FileBytes(ourFile) == peerBytes;
  } else {
    // The string is the first of the results: the bytes, then their count.
    const char *bytes = failed || !vm_isstring(vm.L, 1) ? nullptr : vm_tostring(vm.L, 1);
    same = bytes && std::string(bytes, vm_strlen(vm.L, 1)) == peerBytes;
  }
  peerBytes.clear();
  peerBytes.shrink_to_fit();
  collect();
  if (!same) {
    state.SkipWithError(failed ? "a download failed" : "the downloads differ");
    return;
  }

  qmSideBySide s;
  std::vector<double> discardingWall, discardingCpu;
  for (auto _ : state) {
    collect();
    s.Round(state, ours, peer);
    if (!toFile) {
      qmBenchTimes d = BenchMeasure([&] { RunCurl(url, "/dev/null"); });
      discardingWall.push_back(d.wall);
      discardingCpu.push_back(d.cpu);
    }
  }
  collect();
  if (failed) state.SkipWithError("a download failed");
  s.Report(state, toFile ? "curl" : "curl_kept");
  if (!toFile) {
    state.counters["curl_discarding_wall_ms"] = BenchMedian(discardingWall) * 1e3;
    state.counters["curl_discarding_cpu_ms"] = BenchMedian(discardingCpu) * 1e3;
  }
}
void BM_DownloadToFileVersusCurl(benchmark::State &state) { DownloadBench(state, true); }
void BM_DownloadToMemoryVersusCurl(benchmark::State &state) { DownloadBench(state, false); }
BENCHMARK(BM_DownloadToFileVersusCurl)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadToMemoryVersusCurl)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// 64 MiB through the echo in 64 KiB SendData / ReceiveData pairs (small enough that the echo
// never waits for us to read while we still send), next to the same traffic by a plain
// blocking socket, in alternating order. Both sides' echoes are checked once before timing.
void BM_SendReceiveEchoVersusPlainSocket(benchmark::State &state) {
  int port = EchoPort();
  const size_t piece = 64 << 10, rounds = 1024;
  std::string data(piece, 'e');
  for (size_t i = 0; i < piece; i++) data[i] = char('a' + i * 7 % 26);
  BenchVm vm;
  vm.Push("OpenConnection");
  vm_pushnumber(vm.L, 1);
  vm_pushstring(vm.L, "127.0.0.1");
  vm_pushnumber(vm.L, port);
  if (vm.Call(3) != 0) {
    state.SkipWithError("no echo peer");
    return;
  }
  int peerSocket = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(uint16_t(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(peerSocket, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
    close(peerSocket);
    state.SkipWithError("no echo peer");
    return;
  }
  std::vector<char> in(piece);
  std::string oursLast;
  auto oursRounds = [&](size_t n) {
    for (size_t i = 0; i < n; i++) {
      vm.Push("SendData");
      vm_pushnumber(vm.L, 1);
      vm_pushlstring(vm.L, data.data(), data.size());
      vm.Call(2);
      vm.Push("ReceiveData");
      vm_pushnumber(vm.L, 1);
      vm_pushnumber(vm.L, 1);
      vm_pushnumber(vm.L, double(piece));
      vm.Call(3);
    }
    oursLast = vm_isstring(vm.L, 1) ? std::string(vm_tostring(vm.L, 1), vm_strlen(vm.L, 1)) : std::string();
  };
  auto peerRounds = [&](size_t n) {
    for (size_t i = 0; i < n; i++) {
      for (size_t sent = 0; sent < piece;) {
        ssize_t k = send(peerSocket, data.data() + sent, piece - sent, 0);
        if (k <= 0) return;
        sent += size_t(k);
      }
      for (size_t got = 0; got < piece;) {
        ssize_t k = recv(peerSocket, in.data() + got, piece - got, 0);
        if (k <= 0) return;
        got += size_t(k);
      }
    }
  };
  oursRounds(1);
  peerRounds(1);
  if (oursLast != data || std::string(in.data(), in.size()) != data) {
    close(peerSocket);
    state.SkipWithError("an echo differs from what was sent");
    return;
  }
  qmSideBySide s;
  for (auto _ : state) s.Round(state, [&] { oursRounds(rounds); }, [&] { peerRounds(rounds); });
  close(peerSocket);
  s.Report(state, "plain_socket");
  state.counters["ours_MiB_per_s"] = double(rounds * piece >> 20) / BenchMedian(s.oursWall);
}
BENCHMARK(BM_SendReceiveEchoVersusPlainSocket)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// ReceiveData on a silent connection with a network time-out of two seconds.
void BM_SilentReceiveCpu(benchmark::State &state) {
  int port = EchoPort();
  BenchVm vm;
  vm.Push("OpenConnection");
  vm_pushnumber(vm.L, 1);
  vm_pushstring(vm.L, "127.0.0.1");
  vm_pushnumber(vm.L, port);
  if (vm.Call(3) != 0) {
    state.SkipWithError("no echo peer");
    return;
  }
  vm.Push("SetNetworkTimeout");
  vm_pushnumber(vm.L, 2000);
  vm.Call(1);
  for (auto _ : state) {
    double cpu0 = CpuSeconds();
    double wall = Seconds([&] {
      vm.Push("ReceiveData");
      vm_pushnumber(vm.L, 1);
      vm_pushnumber(vm.L, 0);
      vm.Call(2);
    });
    state.SetIterationTime(wall);
    state.counters["wall_ms"] = wall * 1e3;
    state.counters["cpu_ms"] = (CpuSeconds() - cpu0) * 1e3;
  }
}
BENCHMARK(BM_SilentReceiveCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
