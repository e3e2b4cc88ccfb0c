// The per-frame work of each built effect (its pixels into the display's buffer) in rounds
// alternating with a memcpy of the effect area's bytes (the yardstick: no effect can draw its
// area in less), at 640x480 and 1920x1080, and at 1920x1080 the least a displacing mix (water,
// strudel) must do. No window: what is measured is the effect's drawing, not the presenting.
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "graphics/bitmap.h"
#include "graphics/color_kernels.h"
#include "graphics/cpu.h"
#include "graphics/warp_kernels.h"
#include "tests/transitions/fx_stage.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxtable.h"

namespace {

// One frame of the effect a round, against the area's bytes copied once.
void Effect(benchmark::State &state, int32_t effect, int32_t speed) {
  FxStage s(int(state.range(0)), int(state.range(1)), effect, speed);
  const size_t bytes = size_t(state.range(0)) * size_t(state.range(1)) * 4;
  std::vector<uint8_t> src(bytes, 7), dst(bytes);
  // Rounds of milliseconds, well above the clocks' grain.
  const int batch = bytes < 4000000 ? 16 : 4;
  BenchBatchedRounds(
      state, "memcpy", batch,
      [&] {
        s.Frame();
        benchmark::ClobberMemory();
      },
      [&] {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::ClobberMemory();
      });
  state.counters["frames"] = s.fx.stepCount;
}

// A realistic displacing frame's places: the first water effect's strongest ripple (level 25 of
// 50 at the normal speed, amplitude 1.25, wave 32 pixels), one word sy << 16 | sx per pixel.
std::vector<uint32_t> RipplePlaces(int32_t width, int32_t height) {
  std::vector<double> sine(QM_WARP_TABLE_SIZE);
  const size_t count = size_t(width) * size_t(height);
  std::vector<int32_t> distance(count);
  std::vector<uint32_t> places(count);
  qmRippleRequest req{};
  req.waves = 25, req.amplitudeStep = 0.05, req.amplitude = 25 * 0.05, req.wavelength = 32.0;
  req.width = width, req.height = height, req.centerX = width / 2, req.centerY = height / 2;
  req.maxDistance = std::max(width / 2, height / 2);
  req.sine = sine.data(), req.distance = distance.data();
  PrepareRipple(&req);
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++) {
      RippleDisplace(25, x, y, &req);
      places[size_t(y) * size_t(width) + size_t(x)] = uint32_t(req.outY) << 16 | uint32_t(req.outX);
    }
  return places;
}

// The bound's frame. Mixing goes ahead of the move (a mix of two pixels is the same wherever they
// are shown): rows of both pictures mixed in turn into a ring of rows (mask + 1 of them) that
// stays in the cache, then each pixel one word read from the ring at its ready offset. Reach: rows
// a place lies at most from its pixel.
__attribute__((target("avx2"))) void BoundRowAvx2(uint32_t *dst, const int32_t *at, int32_t width, const uint32_t *ring) {
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const int32_t *p = at + x;
    const __m256i v = _mm256_setr_epi32(int32_t(ring[p[0]]), int32_t(ring[p[1]]), int32_t(ring[p[2]]), int32_t(ring[p[3]]),
                                        int32_t(ring[p[4]]), int32_t(ring[p[5]]), int32_t(ring[p[6]]), int32_t(ring[p[7]]));
    _mm256_stream_si256(reinterpret_cast<__m256i *>(dst + x), v);
  }
  for (; x < width; x++) dst[x] = ring[at[x]];
}

template <bool kVector>
void BoundFrame(uint32_t *dst, const int32_t *at, const uint32_t *first, const uint32_t *second, uint32_t *ring,
                int32_t mask, int32_t width, int32_t height, int32_t reach, int32_t m) {
  constexpr int32_t kBand = 16;
  int32_t mixed = 0;
  for (int32_t y0 = 0; y0 < height; y0 += kBand) {
    const int32_t rows = std::min(kBand, height - y0), need = std::min(height, y0 + rows + reach);
    while (mixed < need) {
      const int32_t slot = mixed & mask, n = std::min(need - mixed, mask + 1 - slot);
      qmMixRequest mix{second + int64_t(mixed) * width, const_cast<uint32_t *>(first + int64_t(mixed) * width), nullptr, 0,
                       width, n, 255 - m, QM_BITMAP_FORMAT, width, width, 0, ring + int64_t(slot) * width, width};
      MixPixels(&mix);
      mixed += n;
    }
    for (int32_t y = y0; y < y0 + rows; y++) {
      const int64_t row = int64_t(y) * width;
      if (kVector) {
        BoundRowAvx2(dst + row, at + row, width, ring);
      } else {
        for (int32_t x = 0; x < width; x++) dst[row + x] = ring[at[row + x]];
      }
    }
  }
  if (kVector) _mm_sfence();
}

// The least a displacing mix must do, the floor under water and strudel: per pixel a ready place
// read from a table made before the timed loop (4 bytes a pixel: its word's offset in the ring of
// mixed rows), both pictures read there, mixed by a weight constant in the frame, the result
// written. Both effects do all of this and must also work out every place each frame, where the
// floor only reads it. Mixing rides ahead of the move in cache-resident rows (MixPixels), and the
// move reads the mixed rows with plain loads and writes past the cache (AVX2 stores): faster than
// reading both pictures at every place, plain or gathered, or writing through the cache. Checked
// once against WarpMixRow over the same places.
void DisplacingMixBound(benchmark::State &state) {
  const int32_t width = int32_t(state.range(0)), height = int32_t(state.range(1)), m = 128;
  const size_t count = size_t(width) * size_t(height), row = size_t(width);
  const std::vector<uint32_t> places = RipplePlaces(width, height);
  int32_t reach = 0;
  for (size_t i = 0; i < count; i++) reach = std::max(reach, std::abs(int32_t(places[i] >> 16) - int32_t(i / row)));
  int32_t ringRows = 32;
  while (ringRows < 2 * reach + 32) ringRows *= 2;
  std::vector<int32_t> at(count);
  for (size_t i = 0; i < count; i++) at[i] = int32_t(((places[i] >> 16) & uint32_t(ringRows - 1)) * row + (places[i] & 0xFFFF));
  std::vector<uint32_t> first(count), second(count), ring(size_t(ringRows) * row);
  // Pictures of this format keep their unused low byte 0, as the mix leaves it.
  for (size_t i = 0; i < count; i++)
    first[i] = uint32_t(i * 2654435761u) & ~0xFFu, second[i] = uint32_t(i * 40503u + 7) & ~0xFFu;
  uint32_t *dst = static_cast<uint32_t *>(std::aligned_alloc(32, count * 4));
  const bool vector = CpuHasAvx2() && width % 8 == 0;
  auto frame = [&] {
    if (vector) BoundFrame<true>(dst, at.data(), first.data(), second.data(), ring.data(), ringRows - 1, width, height, reach, m);
    else BoundFrame<false>(dst, at.data(), first.data(), second.data(), ring.data(), ringRows - 1, width, height, reach, m);
  };
  frame();
  std::vector<int32_t> sx(row), sy(row);
  std::vector<uint32_t> want(row);
  for (int32_t y = 0; y < height; y++) {
    for (size_t x = 0; x < row; x++) sx[x] = int32_t(places[y * row + x] & 0xFFFF), sy[x] = int32_t(places[y * row + x] >> 16);
    WarpMixRow(want.data(), sx.data(), sy.data(), width, first.data(), width, second.data(), width, m);
    if (std::memcmp(want.data(), dst + int64_t(y) * width, row * 4)) {
      state.SkipWithError("the bound's frame differs from WarpMixRow's");
      break;
    }
  }
  for (auto _ : state) {
    frame();
    benchmark::ClobberMemory();
  }
  state.counters["ring_rows"] = ringRows;
  std::free(dst);
}

}  // namespace

BENCHMARK(DisplacingMixBound)->Name("DisplacingMixBound")->Args({1920, 1080});
// The thick roll: its routine is registered by the thin one's id.
BENCHMARK_CAPTURE(Effect, wallpaperleft, FX_WALLPAPERLEFT, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080})->UseManualTime();
// Members of a routine drawn apart from its first id.
BENCHMARK_CAPTURE(Effect, zoomcenter, FX_ZOOMCENTER, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080})->UseManualTime();
BENCHMARK_CAPTURE(Effect, zoomout, FX_ZOOMOUT, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080})->UseManualTime();
BENCHMARK_CAPTURE(Effect, pixelzoom2, FX_PIXELZOOM2, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080})->UseManualTime();

namespace {

// One entry per routine of the routine table (its first id), so every family built joins.
const bool kEffectsRegistered = [] {
  const qmFxRoutines *previous = nullptr;
  for (int32_t id = 0; id < FX_EFFECT_SLOTS; id++) {
    const qmFxRoutines *r = FindFxRoutines(id);
    if (!r || (previous && r->frame == previous->frame)) {
      previous = r;
      continue;
    }
    previous = r;
    benchmark::RegisterBenchmark(("Effect/id" + std::to_string(id)).c_str(),
                                 [id](benchmark::State &state) { Effect(state, id, FX_NORMALSPEED); })
        ->Args({640, 480})
        ->Args({1920, 1080})
        ->UseManualTime();
  }
  return true;
}();

}  // namespace
