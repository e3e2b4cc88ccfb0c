// Presenting a full 1920x1080 back buffer into a window surface, next to a plain memcpy of the
// same bytes. Runs on SDL's dummy video driver, so the figures are those of our conversion.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/display.h"
#include "display/displaywindow.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "platform/desktop.h"
#include "platform/present.h"
#include "platform/window.h"

namespace {
constexpr int kW = 1920, kH = 1080;

struct Setup {
  qmScene *scene = nullptr;
  qmDisplay *display = nullptr;
  qmBitmap *bitmap = nullptr;
  Setup() {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    if (InitDesktop() != 0 || NewScene(nullptr, &scene) != 0) return;
    display = NewDisplayRecord(1);
    display->width = kW;
    display->height = kH;
    LinkDisplay(scene, display);
    if (CreatePlatformWindowRecord(display) || OpenPlatformWindow(display, 0, nullptr, nullptr, 0)) {
      display = nullptr;
      return;
    }
    display->state = DISPSTATE_OPEN;
    bitmap = AllocBitmap(kW, kH);
    for (int i = 0; i < kH * bitmap->bytesPerRow / 4; i++) bitmap->pixels[i] = uint32_t(i) * 2654435761u;
  }
};

Setup &S() {
  static Setup s;
  return s;
}

void BM_PresentFullFrame(benchmark::State &state) {
  Setup &s = S();
  if (!s.display) {
    state.SkipWithError("no window");
    return;
  }
  for (auto _ : state) {
    PresentBackBuffer(s.bitmap, 0, 0, s.display, 0, 0, kW, kH, 0, 0, 0);
    PushPendingWindowUpdates();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_PresentFullFrame)->Unit(benchmark::kMillisecond);

void BM_PresentScaledFromHalf(benchmark::State &state) {
  Setup &s = S();
  if (!s.display) {
    state.SkipWithError("no window");
    return;
  }
  for (auto _ : state) {
    PresentBackBuffer(s.bitmap, 0, 0, s.display, 0, 0, kW / 2, kH / 2, kW, kH, 0);
    PushPendingWindowUpdates();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_PresentScaledFromHalf)->Unit(benchmark::kMillisecond);

void BM_MemcpyFullFrame(benchmark::State &state) {
  std::vector<uint32_t> src(size_t(kW) * kH, 0x12345678u), dst(size_t(kW) * kH);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size() * 4);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_MemcpyFullFrame)->Unit(benchmark::kMillisecond);

}  // namespace
