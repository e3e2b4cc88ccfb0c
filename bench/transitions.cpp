// The per-frame work of each built effect (its pixels into the display's buffer) next to a
// memcpy of the effect area's bytes, at 640x480 and 1920x1080. No window: what is measured is
// the effect's drawing, not the presenting.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/transitions/fx_stage.h"
#include "transitions/fxtable.h"

namespace {

void Effect(benchmark::State &state, int32_t effect, int32_t speed) {
  FxStage s(int(state.range(0)), int(state.range(1)), effect, speed);
  for (auto _ : state) {
    s.Frame();
    benchmark::ClobberMemory();
  }
  state.counters["frames"] = s.fx.stepCount;
}

// The yardstick: the area's bytes copied once.
void Memcpy(benchmark::State &state) {
  const size_t bytes = size_t(state.range(0)) * size_t(state.range(1)) * 4;
  std::vector<uint8_t> src(bytes, 7), dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

}  // namespace

BENCHMARK(Memcpy)->Name("MemcpyArea")->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, hstripes8, 3, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, vstripes, 7, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, pushleft, FX_PUSHLEFT, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, crossfade, FX_CROSSFADE, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, revealleft, FX_REVEALLEFT, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, vlines, FX_VLINES, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, hlines2, FX_HLINES2, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, rectcenter, FX_RECTCENTER, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, rectbacknorthwest, FX_RECTBACKNORTHWEST, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, puzzle, FX_PUZZLE, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, diagonal, FX_DIAGONAL, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, spiral, FX_SPIRAL, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, swiss, FX_SWISS, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, quadrect, FX_QUADRECT, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, hsplit, FX_HSPLIT, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
