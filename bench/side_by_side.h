// Ours and a peer timed round by round in alternating order (so neither always meets the
// warmer caches), wall and CPU seconds both kept for every round, medians reported. CPU time
// counts this process and the children it has waited for, so a peer run as a command is
// measured like one run in process. Header only: each benchmark program includes it.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct qmBenchTimes {
  double wall = 0, cpu = 0;  // seconds
};

inline double BenchCpuSeconds() {
  rusage self{}, children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) + seconds(children.ru_stime);
}

inline qmBenchTimes BenchMeasure(const std::function<void()> &f) {
  double cpu0 = BenchCpuSeconds();
  auto t0 = std::chrono::steady_clock::now();
  f();
  qmBenchTimes t;
  t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  t.cpu = BenchCpuSeconds() - cpu0;
  return t;
}

inline double BenchMedian(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One benchmark's rounds: call Round once per iteration of the state loop, Report after it.
struct qmSideBySide {
  std::vector<double> oursWall, oursCpu, peerWall, peerCpu;

  // Even rounds run ours first, odd rounds the peer first. Ours' wall time becomes the
  // iteration's manual time.
  void Round(benchmark::State &state, const std::function<void()> &ours, const std::function<void()> &peer) {
    RoundTimedBy(state, ours, [&] { return BenchMeasure(peer); });
  }

  // As Round, for a peer that times its own work (a program reporting the time of its loop
  // alone, without its start-up): peer runs it and answers those times.
  void RoundTimedBy(benchmark::State &state, const std::function<void()> &ours,
                    const std::function<qmBenchTimes()> &peer) {
    qmBenchTimes o, p;
    if (oursWall.size() % 2 == 0) {
      o = BenchMeasure(ours);
      p = peer();
    } else {
      p = peer();
      o = BenchMeasure(ours);
    }
    oursWall.push_back(o.wall);
    oursCpu.push_back(o.cpu);
    peerWall.push_back(p.wall);
    peerCpu.push_back(p.cpu);
    state.SetIterationTime(o.wall);
  }

  // Medians of every round in milliseconds, and ours over the peer for CPU and for wall time.
  void Report(benchmark::State &state, const std::string &peerName) const {
    double ow = BenchMedian(oursWall), oc = BenchMedian(oursCpu);
    double pw = BenchMedian(peerWall), pc = BenchMedian(peerCpu);
    state.counters["ours_cpu_ms"] = oc * 1e3;
    state.counters["ours_wall_ms"] = ow * 1e3;
    state.counters[peerName + "_cpu_ms"] = pc * 1e3;
    state.counters[peerName + "_wall_ms"] = pw * 1e3;
    state.counters["cpu_ratio"] = pc > 0 ? oc / pc : 0;
    state.counters["wall_ratio"] = pw > 0 ? ow / pw : 0;
  }
};

// The whole of most benchmarks: rounds of ours and the peer, each side doing its work batch
// times a round so that a round lasts milliseconds, well above the clocks' grain; then Report.
inline void BenchBatchedRounds(benchmark::State &state, const char *peerName, int batch,
                               const std::function<void()> &ours, const std::function<void()> &peer) {
  qmSideBySide s;
  for (auto _ : state)
    s.Round(
        state,
        [&] {
          for (int i = 0; i < batch; i++) ours();
        },
        [&] {
          for (int i = 0; i < batch; i++) peer();
        });
  s.Report(state, peerName);
}
