// The per-frame work of each built effect (its pixels into the display's buffer) next to a
// memcpy of the effect area's bytes, at 640x480 and 1920x1080. No window: what is measured is
// the effect's drawing, not the presenting.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "platform/memory.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxrequest.h"
#include "transitions/fxtable.h"

namespace {

void Fill(qmBitmap *b, uint32_t seed) {
  for (int y = 0; y < b->height; y++)
    for (int x = 0; x < b->width; x++)
      b->pixels[y * (b->bytesPerRow / 4) + x] = uint32_t(x * 2654435761u ^ (y + seed) * 40503u);
}

// A display without a window showing a picture of the area's size, and a request on it.
struct Stage {
  qmScene *scene = nullptr;
  qmDisplay *display = nullptr;
  qmBGPic pic{};
  qmFxRequest fx{};
  qmBitmap *newPicture, *oldPicture;

  Stage(int w, int h, int32_t effect, int32_t speed) {
    NewScene(nullptr, &scene);
    display = NewDisplayRecord(1);
    display->outputType = DISPOUT_DISPLAY;
    display->width = w;
    display->height = h;
    display->backgroundCopy = AllocBitmap(w, h);
    display->layerBuffer = AllocBitmap(w, h);
    pic.shownWidth = pic.unscaledWidth = w;
    pic.shownHeight = pic.unscaledHeight = h;
    display->bgpic = &pic;
    scene->current = display;
    scene->picture = &pic;
    newPicture = AllocBitmap(w, h);
    oldPicture = AllocBitmap(w, h);
    Fill(newPicture, 1);
    Fill(oldPicture, 2);
    fx.scene = scene;
    fx.effect = effect;
    fx.step = speed;
    fx.parameter = 8;
    fx.width = fx.screenWidth = w;
    fx.height = fx.screenHeight = h;
    fx.srcImage = newPicture;
    fx.oldImage = oldPicture;
    fx.bltFlags = SAFEBLT_BACKGROUND;
    const qmFxRoutines *r = FindFxRoutines(effect);
    fx.frameFn = r->frame;
    fx.freeFn = r->free;
    fx.phase = FXPHASE_INIT;
    fx.frameFn(&fx, nullptr);
  }
  ~Stage() {
    if (fx.freeFn) fx.freeFn(&fx, 0);
    MemFree(fx.fxState);
    FreeBitmap(newPicture);
    FreeBitmap(oldPicture);
    FreeBitmap(display->backgroundCopy);
    FreeBitmap(display->layerBuffer);
    display->backgroundCopy = display->layerBuffer = nullptr;
    display->bgpic = nullptr;
    scene->current = nullptr;
    scene->picture = nullptr;
    FreeDisplayRecord(display);
    FreeScene(scene);
  }
  // One frame in the middle of the effect; the wipe starts over once it is through.
  void Frame() {
    int32_t done = 0;
    if (IsSelfDrawingFx(fx.effect)) {
      fx.phase = FXPHASE_DRAW;
      fx.frameNo = 1 + fx.frameNo % (fx.stepCount > 1 ? fx.stepCount - 1 : 1);
    } else {
      fx.phase = FXPHASE_FRAME;
    }
    fx.frameFn(&fx, &done);
    if (fx.phase == FXPHASE_DRAW) fx.frameNo++;
    if (done) fx.frameNo = 0;
  }
};

void Effect(benchmark::State &state, int32_t effect, int32_t speed) {
  Stage s(int(state.range(0)), int(state.range(1)), effect, speed);
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
