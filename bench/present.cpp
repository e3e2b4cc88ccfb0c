// Presenting a full 1920x1080 back buffer into a window surface (and a half-size one scaled up
// on its way), in rounds alternating with a plain memcpy of the same bytes, the least any present
// must do. Runs on SDL's dummy video driver, so the figures are those of our conversion. The full
// present is checked once: the window shows the back buffer's pixels.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/display.h"
#include "display/displaywindow.h"
#include "display/scene.h"
#include "bench/side_by_side.h"
#include "graphics/bitmap.h"
#include "platform/desktop.h"
#include "platform/present.h"
#include "platform/sdl/sdl_internal.h"
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

// Pixels of the window that differ from the back buffer's after one full present.
int64_t PixelsApart(const Setup &s) {
  SDL_Surface *surface = SDL_GetWindowSurface(s.display->platform->window);
  if (!surface || surface->w < kW || surface->h < kH) return -1;
  int64_t apart = 0;
  for (int y = 0; y < kH; y++) {
    const auto *row = reinterpret_cast<const uint32_t *>(static_cast<const uint8_t *>(surface->pixels) + y * surface->pitch);
    for (int x = 0; x < kW; x++) {
      const uint32_t want = __builtin_bswap32(s.bitmap->pixels[size_t(y) * (s.bitmap->bytesPerRow / 4) + x]) & 0xFFFFFF;
      apart += (row[x] & 0xFFFFFF) != want;
    }
  }
  return apart;
}

// `half`: the back buffer's top-left quarter scaled up to the whole window.
void Present(benchmark::State &state, bool half) {
  Setup &s = S();
  if (!s.display) return state.SkipWithError("no window");
  PresentBackBuffer(s.bitmap, 0, 0, s.display, 0, 0, kW, kH, 0, 0, 0);
  PushPendingWindowUpdates();
  const int64_t apart = PixelsApart(s);
  state.counters["pixels_apart"] = double(apart);
  if (apart != 0) return state.SkipWithError("the window does not show the back buffer");
  std::vector<uint32_t> src(size_t(kW) * kH, 0x12345678u), dst(size_t(kW) * kH);
  auto ours = [&] {
    if (half) PresentBackBuffer(s.bitmap, 0, 0, s.display, 0, 0, kW / 2, kH / 2, kW, kH, 0);
    else PresentBackBuffer(s.bitmap, 0, 0, s.display, 0, 0, kW, kH, 0, 0, 0);
    PushPendingWindowUpdates();
  };
  auto peer = [&] {
    std::memcpy(dst.data(), src.data(), src.size() * 4);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  };
  BenchBatchedRounds(state, "memcpy", 4, ours, peer);
  state.SetBytesProcessed(int64_t(state.iterations()) * 4 * kW * kH * 4);
}
BENCHMARK_CAPTURE(Present, full_frame, false)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Present, scaled_from_half, true)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
