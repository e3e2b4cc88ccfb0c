// Flip of a 1920x1080 double buffer with 1, 100 and all rectangles dirty, and the refresh of a
// 960x540 display shown at 1920x1080, each next to a plain memcpy of the bytes it moves. Runs
// on SDL's dummy video driver: the figures include our own present into the window surface.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include "bench/player_setup.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/dirtyrects.h"
#include "display/display/displaylib.h"
#include "display/doublebuffer.h"
#include "graphics/bitmap.h"
#include "runtime/context.h"
#include "platform/desktop.h"
#include "display/displaywindow.h"
#include "platform/present.h"
#include "platform/sdl/sdl_internal.h"
#include "player/libtable.h"
#include "player/startup.h"
#include "player/wiring.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "side_by_side.h"

namespace {
constexpr int kW = 1920, kH = 1080, kTile = 64;

struct Setup {
  VmState *L = nullptr;
  qmDisplay *flipped = nullptr, *scaled = nullptr;
  Setup() {
    if (OpenBenchPlayer(&L)) return;
    static qmDisplay parsed;
    SetDisplayDefaults(&parsed);
    parsed.width = kW;
    parsed.height = kH;
    if (CreateDisplayCore(L, &parsed, {1, 0}, &flipped)) return;
    SetDisplayDefaults(&parsed);
    parsed.width = kW / 2;
    parsed.height = kH / 2;
    parsed.flags = DISPF_SCALEAUTO;
    parsed.scaleAuto = 1;
    parsed.scaleMode = 1;
    parsed.scaleWidth = kW;
    parsed.scaleHeight = kH;
    if (CreateDisplayCore(L, &parsed, {2, 0}, &scaled)) return;
    MakeDisplayCurrent(L, flipped);
    if (OpenDisplayWindow(L, flipped, 0) || OpenDisplayWindow(L, scaled, 0) || BeginDoubleBufferCore(GetScene(L), flipped, 0))
      flipped = scaled = nullptr;
  }
};

Setup &S() {
  static Setup s;
  return s;
}

void Flip(benchmark::State &state, int rects) {
  Setup &s = S();
  if (!s.flipped) {
    state.SkipWithError("no display");
    return;
  }
  for (auto _ : state) {
    if (rects == 0) {
      AddDirtyRect(s.flipped, 0, 0, kW, kH, kW, kH);
    } else {
      // Tiles apart from each other, so that no merge joins them.
      for (int i = 0; i < rects; i++)
        AddDirtyRect(s.flipped, (i % 14) * (kTile * 2), (i / 14) * (kTile + 8), kTile, kTile, kW, kH);
    }
    FlipCore(s.flipped);
    PushPendingWindowUpdates();
  }
  const int64_t bytes = rects ? int64_t(rects) * kTile * kTile * 4 : int64_t(kW) * kH * 4;
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

void Copy(benchmark::State &state, int rects) {
  const size_t bytes = rects ? size_t(rects) * kTile * kTile * 4 : size_t(kW) * kH * 4;
  std::vector<uint8_t> a(size_t(kW) * kH * 4, 1), b(size_t(kW) * kH * 4);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_Flip1Rect(benchmark::State &state) { Flip(state, 1); }
void BM_Memcpy1Rect(benchmark::State &state) { Copy(state, 1); }
void BM_Flip100Rects(benchmark::State &state) { Flip(state, 100); }
void BM_Memcpy100Rects(benchmark::State &state) { Copy(state, 100); }
void BM_FlipWholeScreen(benchmark::State &state) { Flip(state, 0); }
void BM_MemcpyWholeScreen(benchmark::State &state) { Copy(state, 0); }
BENCHMARK(BM_Flip1Rect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy1Rect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Flip100Rects)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy100Rects)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FlipWholeScreen)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyWholeScreen)->Unit(benchmark::kMicrosecond);

// A whole Flip of the draw buffer, which holds a pattern of the position; `packed` gets the same
// pixels, rows one after the other.
void FillDrawBuffer(const qmBitmap *draw, std::vector<uint32_t> *packed) {
  packed->assign(size_t(kW) * kH, 0);
  for (int32_t y = 0; y < kH; y++)
    for (int32_t x = 0; x < kW; x++) {
      const uint32_t p = uint32_t(x * 7 + y * 13) * 2654435761u;
      (*packed)[size_t(y) * kW + size_t(x)] = p;
      draw->pixels[size_t(y) * size_t(draw->bytesPerRow / 4) + size_t(x)] = p;
    }
}

void WholeFlip(Setup &s) {
  AddDirtyRect(s.flipped, 0, 0, kW, kH, kW, kH);
  FlipCore(s.flipped);
  PushPendingWindowUpdates();
}

// Whether the present buffer holds `packed`'s rows (R, G and B: the window keeps no unused byte),
// once the window has given back what it holds for it.
bool PresentHolds(qmDisplay *d, const uint32_t *packed) {
  RestoreHeldBackBuffer(d);
  const qmBitmap *present = d->backBuffer1;
  for (int32_t y = 0; y < kH; y++) {
    const uint32_t *row = present->pixels + size_t(y) * size_t(present->bytesPerRow / 4);
    for (int32_t x = 0; x < kW; x++)
      if ((row[x] ^ packed[size_t(y) * kW + size_t(x)]) & 0xFFFFFF00u) return false;
  }
  return true;
}

// A whole Flip beside memcpy of the picture's bytes, round by round in one run: the Flip converts
// the draw buffer into the window, which holds the picture for the present buffer; memcpy copies
// the same bytes once. Checked once: the present buffer, given back, holds what memcpy's copy holds.
void BM_FlipWholeScreenBesideMemcpy(benchmark::State &state) {
  Setup &s = S();
  if (!s.flipped) {
    state.SkipWithError("no display");
    return;
  }
  std::vector<uint32_t> from, to(size_t(kW) * kH);
  FillDrawBuffer(s.flipped->backBuffer2, &from);
  auto copy = [&] {
    std::memcpy(to.data(), from.data(), to.size() * 4);
    benchmark::ClobberMemory();
  };
  WholeFlip(s);
  copy();
  if (!PresentHolds(s.flipped, to.data())) {
    state.SkipWithError("the present buffer does not hold the copied picture");
    return;
  }
  qmSideBySide rounds;
  for (auto _ : state) rounds.Round(state, [&] { WholeFlip(s); }, copy);
  rounds.Report(state, "memcpy");
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_FlipWholeScreenBesideMemcpy)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// The same job done by library calls: memcpy keeps the draw buffer's bytes and SDL converts them
// into a picture of the window's pixel layout, each in a pass of its own, where the Flip only
// converts (the window holds the picture for the present buffer). Checked once: the copy equals the present buffer and the converted picture the
// window's.
void BM_FlipWholeScreenBesideSdl(benchmark::State &state) {
  Setup &s = S();
  if (!s.flipped) {
    state.SkipWithError("no display");
    return;
  }
  const qmBitmap *draw = s.flipped->backBuffer2;
  SDL_Surface *window = SDL_GetWindowSurface(s.flipped->platform->window);
  if (!window || window->w < kW || window->h < kH || window->format->BytesPerPixel != 4) {
    state.SkipWithError("no window surface of 32-bit pixels");
    return;
  }
  std::vector<uint32_t> packed;
  FillDrawBuffer(draw, &packed);
  const size_t drawBytes = size_t(draw->bytesPerRow) * size_t(draw->height);
  std::vector<uint32_t> kept(drawBytes / 4), converted(size_t(kW) * kH);
  const uint32_t windowFormat = window->format->format;
  auto peer = [&] {
    std::memcpy(kept.data(), draw->pixels, drawBytes);
    SDL_ConvertPixels(kW, kH, SDL_PIXELFORMAT_BGRX8888, draw->pixels, draw->bytesPerRow, windowFormat,
                      converted.data(), kW * 4);
    benchmark::ClobberMemory();
  };
  WholeFlip(s);
  peer();
  bool same = PresentHolds(s.flipped, packed.data()) && std::memcmp(kept.data(), draw->pixels, drawBytes) == 0;
  for (int32_t y = 0; same && y < kH; y++)
    same = std::memcmp(static_cast<const uint8_t *>(window->pixels) + size_t(y) * size_t(window->pitch),
                       converted.data() + size_t(y) * kW, size_t(kW) * 4) == 0;
  if (!same) {
    state.SkipWithError("the Flip and the library calls disagree");
    return;
  }
  qmSideBySide rounds;
  for (auto _ : state) rounds.Round(state, [&] { WholeFlip(s); }, peer);
  rounds.Report(state, "memcpy_sdl");
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_FlipWholeScreenBesideSdl)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// A whole refresh after a whole Flip: the window holds the picture, which is pushed again as it
// stands, with no copy.
void BM_PresentWholeScreen(benchmark::State &state) {
  Setup &s = S();
  if (!s.flipped) {
    state.SkipWithError("no display");
    return;
  }
  for (auto _ : state) {
    PresentDoubleBuffer(s.flipped, 1, 0);
    PushPendingWindowUpdates();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_PresentWholeScreen)->Unit(benchmark::kMicrosecond);

// A 960x540 display with automatic scaling to 1920x1080: one refresh per frame.
void BM_ScaledDisplayFrame(benchmark::State &state) {
  Setup &s = S();
  if (!s.scaled) {
    state.SkipWithError("no display");
    return;
  }
  for (auto _ : state) {
    RefreshDisplayCore(s.L, s.scaled, 0);
    PushPendingWindowUpdates();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_ScaledDisplayFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
