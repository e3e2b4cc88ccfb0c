// The per-frame work of each built effect (its pixels into the display's buffer) next to a
// memcpy of the effect area's bytes, at 640x480 and 1920x1080. No window: what is measured is
// the effect's drawing, not the presenting.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/transitions/fx_stage.h"
#include "transitions/effects/fxroutines.h"
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
// The thick roll: its routine is registered by the thin one's id.
BENCHMARK_CAPTURE(Effect, wallpaperleft, FX_WALLPAPERLEFT, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
// Members of a routine drawn apart from its first id.
BENCHMARK_CAPTURE(Effect, zoomcenter, FX_ZOOMCENTER, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, zoomout, FX_ZOOMOUT, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_CAPTURE(Effect, pixelzoom2, FX_PIXELZOOM2, FX_NORMALSPEED)->Args({640, 480})->Args({1920, 1080});

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
        ->Args({1920, 1080});
  }
  return true;
}();

}  // namespace
