// The transitions' per-frame kernels on a 1920x1080 picture: the threshold plane into an alpha
// plane next to OpenCV doing the same (compare the map with the level, copy the source bytes
// through that mask into a cleared plane), and a 16-strip row wave next to memcpy of the same
// rows. Outputs are compared once before timing; each pair runs in alternating rounds.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "bench/side_by_side.h"
#include "graphics/transition_kernels.h"

namespace {

constexpr int kW = 1920, kH = 1080, kLevel = 120;

struct Planes {
  std::vector<uint8_t> map, src, dst;
  Planes() : map(size_t(kW) * kH), src(size_t(kW) * kH), dst(size_t(kW) * kH) {
    uint32_t s = 7;
    for (size_t i = 0; i < map.size(); i++) {
      s = s * 1664525u + 1013904223u;
      map[i] = uint8_t(s >> 24);
      src[i] = uint8_t(s >> 16);
    }
  }
};

void OursAlpha(Planes &p) {
  const qmThresholdRequest req{p.src.data(), p.dst.data(), kW, kH, kW, kW, p.map.data(), 1, 0};
  ThresholdPlane(&req, kLevel);
}

void PeerAlpha(Planes &p, cv::Mat &shown) {
  cv::Mat map(kH, kW, CV_8UC1, p.map.data()), src(kH, kW, CV_8UC1, p.src.data()), dst(kH, kW, CV_8UC1, p.dst.data());
  cv::compare(map, kLevel, shown, cv::CMP_LT);
  dst.setTo(0);
  src.copyTo(dst, shown);
}

struct Check {
  Check() {
    cv::setNumThreads(1);
    Planes a, b;
    cv::Mat shown;
    OursAlpha(a);
    PeerAlpha(b, shown);
    if (a.dst != b.dst) {
      std::fprintf(stderr, "threshold plane differs from OpenCV\n");
      std::abort();
    }
  }
} check;

void BM_ThresholdAlphaVersusOpenCV(benchmark::State &state) {
  Planes ours, peer;
  cv::Mat shown;
  BenchBatchedRounds(
      state, "opencv", 20,
      [&] {
        OursAlpha(ours);
        benchmark::DoNotOptimize(ours.dst.data());
      },
      [&] {
        PeerAlpha(peer, shown);
        benchmark::DoNotOptimize(peer.dst.data());
      });
}
BENCHMARK(BM_ThresholdAlphaVersusOpenCV)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

void BM_ThresholdMask_Ours(benchmark::State &state) {
  Planes p;
  const int32_t bpr = kW / 8 + 1;
  std::vector<uint8_t> mask(size_t(bpr) * kH);
  const qmThresholdRequest req{nullptr, mask.data(), kW, kH, 0, bpr, p.map.data(), 0, 0};
  for (auto _ : state) {
    ThresholdPlane(&req, kLevel);
    benchmark::DoNotOptimize(mask.data());
  }
}
BENCHMARK(BM_ThresholdMask_Ours)->Unit(benchmark::kMicrosecond);

// A 16-strip wave over rows of the whole picture, without planes: the same bytes as memcpy of
// those rows.
constexpr int kStrips = 16, kPosition = 500;

void WaveOurs(const std::vector<uint32_t> &src, std::vector<uint32_t> *dst) {
  std::vector<double> offsets(kStrips, 0.0);
  qmWaveRequest r{};
  r.src = src.data(), r.dst = dst->data(), r.offsets = offsets.data();
  r.srcPitch = r.dstPitch = kW, r.width = kW, r.height = kH;
  r.strips = kStrips, r.position = kPosition, r.bytesPerPixel = 4;
  WavePixels(&r);
}

void WaveMemcpy(const std::vector<uint32_t> &src, std::vector<uint32_t> *dst) {
  for (int i = 0; i < kStrips; i++)
    std::memcpy(&(*dst)[size_t(kPosition - kStrips + 1 + i) * kW], &src[size_t(kPosition) * kW], kW * 4);
}

void BM_WaveRowsVersusMemcpy(benchmark::State &state) {
  std::vector<uint32_t> src(size_t(kW) * kH), ours(size_t(kW) * kH), peer(size_t(kW) * kH);
  for (size_t i = 0; i < src.size(); i++) src[i] = uint32_t(i) * 2654435761u;
  WaveOurs(src, &ours);
  WaveMemcpy(src, &peer);
  if (ours != peer) return state.SkipWithError("the wave's rows are not memcpy's");
  BenchBatchedRounds(
      state, "memcpy", 1000,
      [&] {
        WaveOurs(src, &ours);
        benchmark::DoNotOptimize(ours.data());
      },
      [&] {
        WaveMemcpy(src, &peer);
        benchmark::DoNotOptimize(peer.data());
      });
}
BENCHMARK(BM_WaveRowsVersusMemcpy)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

}  // namespace
