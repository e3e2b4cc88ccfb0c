// SafeBlt's full path (position resolution, clipping, kernel) next to the bare copy kernel on
// the same pictures, for a small sprite-sized picture and a full-HD one.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "graphics/bitmap.h"
#include "graphics/blit_kernels.h"
#include "display/position.h"
#include "display/safeblt.h"

namespace {

struct Pictures {
  qmBitmap *src, *dst;
  explicit Pictures(int width, int height) : src(AllocBitmap(width, height)), dst(AllocBitmap(width + 64, height + 64)) {
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) src->pixels[y * src->bytesPerRow / 4 + x] = uint32_t(x * 2654435761u ^ y);
  }
  ~Pictures() {
    FreeBitmap(src);
    FreeBitmap(dst);
  }
};

void Bare(benchmark::State &state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  Pictures p(w, h);
  for (auto _ : state) {
    qmBlitRequest req{p.src->pixels, p.dst->pixels, 0, 0, 32, 32, w, h, p.src->bytesPerRow / 4, p.dst->bytesPerRow / 4,
                      0, 0, 0};
    CopyPixels(&req);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}

void Full(benchmark::State &state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  Pictures p(w, h);
  for (auto _ : state) {
    const int32_t x = ResolvePositionX(nullptr, POS_CENTER, w, p.dst->width, 0);
    const int32_t y = ResolvePositionY(nullptr, POS_CENTER, h, p.dst->height, 0);
    qmSafeBlt b{p.src, 0, 0, p.dst, x, y, w, h, w, h, p.dst->width, p.dst->height,
                SAFEBLT_PIXELSONLY | SAFEBLT_NOSPRITES, nullptr, nullptr, nullptr};
    SafeBlt(nullptr, &b);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}

} // namespace

BENCHMARK(Bare)->Name("CopyKernel")->Args({64, 64})->Args({1920, 1080});
BENCHMARK(Full)->Name("SafeBlt")->Args({64, 64})->Args({1920, 1080});
