// DisplayBrush of a 1920x1080 brush with an alpha channel and with a mask onto a 1920x1080
// display (position, tags, the blit into the background and the present into the window
// surface, on SDL's dummy driver), next to pixman compositing the same pixels through an a8
// and an a1 mask, and our bare blend and mask kernels.
// And the whole job at 960x540: DisplayBrush of a brush with an alpha channel onto a display of
// its size (blend into the display's picture and present), next to pixman doing the same: OVER
// of its own premultiplied a8r8g8b8 copy of the brush onto an x8r8g8b8 picture, then a copy of
// the result's bytes as a present makes. That peer first checks once that both pictures agree
// within 2 per channel (ours divides by 256, pixman by 255).
// The same at 960x540 with the brush scaled or turned (nearest neighbour) on its way: pixman
// composites its copy through the inverse of our matrix, placed where we place the result. Its
// sampling points are 16.16 fixed point, so a few pixels on sampling borders pick a neighbour:
// the check asks that 95% of the pixels agree within 2 per channel.
#include <benchmark/benchmark.h>

#include "bench/player_setup.h"
#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/brush.h"
#include "display/displaytags.h"
#include "display/display/displaylib.h"
#include "display/imagecore.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "display/displaywindow.h"
#include "platform/present.h"
#include "player/libtable.h"
#include "player/startup.h"
#include "player/wiring.h"
#include "runtime/context.h"
#include "runtime/objtypes.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"

namespace {
constexpr int kW = 1920, kH = 1080;

uint32_t PixelAt(int x, int y) { return uint32_t(x * 2654435761u ^ y * 40503u) & 0xFFFFFF; }
uint8_t AlphaAt(int x, int y) { return uint8_t((x + y) % 256); }
bool MaskAt(int x, int y) { return ((x >> 3) + (y >> 3)) & 1; }

// A display of w x h and brushes of its size: 1 with an alpha channel, 2 with a mask.
struct Setup {
  VmState *L = nullptr;
  qmDisplay *display = nullptr;
  qmBrush *alpha = nullptr, *mask = nullptr;
  int w, h;
  Setup(int w_, int h_) : w(w_), h(h_) {
    if (OpenBenchPlayer(&L)) return;
    static qmDisplay parsed;
    SetDisplayDefaults(&parsed);
    parsed.width = w;
    parsed.height = h;
    qmDisplay *d = nullptr;
    if (CreateDisplayCore(L, &parsed, {1, 0}, &d)) return;
    MakeDisplayCurrent(L, d);
    if (OpenDisplayWindow(L, d, 0)) return;
    qmObjectId a{1, 0}, m{2, 0};
    if (CreateBrushNode(ObjectRegistryOf(L), &a, w, h, 0, 0, 1, 0, 0, &alpha) ||
        CreateBrushNode(ObjectRegistryOf(L), &m, w, h, 0, 1, 0, 1, 0, &mask))
      return;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) {
        SetBitmapPixel(alpha->bitmap, x, y, PixelAt(x, y), 0);
        SetBitmapPixel(mask->bitmap, x, y, PixelAt(x, y), 0);
        alpha->alpha->memory[size_t(y) * alpha->alpha->bytesPerRow + x] = AlphaAt(x, y);
        if (MaskAt(x, y)) SetBitmapPixel(mask->mask, x, y, 0, 1);
      }
    display = d;
  }
  // The display's picture back to one colour.
  void Clear() { FillBitmapRect(display->backgroundCopy, 0, 0, w, h, 0x102030); }
};

Setup &S() {
  static Setup s(kW, kH);
  return s;
}

void DisplayBrush(benchmark::State &state, uint32_t id) {
  Setup &s = S();
  if (!s.display) {
    state.SkipWithError("no display");
    return;
  }
  qmImageRequest r{};
  r.kind = QMTYPE_BRUSH;
  r.id = {id, 0};
  for (auto _ : state) {
    if (DisplayImageCore(GetPlayerContext(s.L)->scene, &r)) state.SkipWithError("DisplayBrush failed");
    PushPendingWindowUpdates();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}

void BareKernel(benchmark::State &state, bool withAlpha) {
  Setup &s = S();
  if (!s.display) {
    state.SkipWithError("no display");
    return;
  }
  qmBitmap *dst = AllocBitmap(kW, kH);
  for (auto _ : state) {
    if (withAlpha) BltAlphaBitmap(s.alpha->bitmap, 0, 0, dst, 0, 0, kW, kH, s.alpha->alpha);
    else BltMask(s.mask->bitmap, 0, 0, dst, 0, 0, kW, kH, s.mask->mask);
    benchmark::ClobberMemory();
  }
  FreeBitmap(dst);
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}

void Pixman(benchmark::State &state, bool withAlpha) {
  std::vector<uint32_t> src(size_t(kW) * kH), dst(size_t(kW) * kH, 0x102030);
  const int a8Stride = (kW + 3) & ~3, a1Stride = ((kW + 31) / 32) * 4;
  std::vector<uint8_t> a8(size_t(a8Stride) * kH), a1(size_t(a1Stride) * kH);
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      src[size_t(y) * kW + x] = PixelAt(x, y);
      a8[size_t(y) * a8Stride + x] = AlphaAt(x, y);
      // pixman's a1 bit order is the machine's: least significant bit first here.
      if (MaskAt(x, y)) a1[size_t(y) * a1Stride + x / 8] |= uint8_t(1 << (x & 7));
    }
  pixman_image_t *s = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, src.data(), kW * 4);
  pixman_image_t *d = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, dst.data(), kW * 4);
  pixman_image_t *m = withAlpha
                          ? pixman_image_create_bits(PIXMAN_a8, kW, kH, reinterpret_cast<uint32_t *>(a8.data()), a8Stride)
                          : pixman_image_create_bits(PIXMAN_a1, kW, kH, reinterpret_cast<uint32_t *>(a1.data()), a1Stride);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, m, d, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(m);
  pixman_image_unref(d);
  pixman_image_unref(s);
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}

constexpr int kSmallW = 960, kSmallH = 540;

Setup &Small() {
  static Setup s(kSmallW, kSmallH);
  return s;
}

void DisplayBrushSmall(benchmark::State &state) {
  Setup &s = Small();
  if (!s.display) {
    state.SkipWithError("no display");
    return;
  }
  qmImageRequest r{};
  r.kind = QMTYPE_BRUSH;
  r.id = {1, 0};
  for (auto _ : state) {
    if (DisplayImageCore(GetPlayerContext(s.L)->scene, &r)) state.SkipWithError("DisplayBrush failed");
    PushPendingWindowUpdates();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kSmallW * kSmallH * 4);
}

// The alpha brush of Small() as pixman's premultiplied a8r8g8b8 pixels.
std::vector<uint32_t> PremultipliedBrush() {
  std::vector<uint32_t> src(size_t(kSmallW) * kSmallH);
  for (int y = 0; y < kSmallH; y++)
    for (int x = 0; x < kSmallW; x++) {
      const uint32_t c = PixelAt(x, y), a = AlphaAt(x, y);
      auto pre = [&](int shift) { return ((c >> shift & 255) * a + 127) / 255 << shift; };
      src[size_t(y) * kSmallW + x] = a << 24 | pre(16) | pre(8) | pre(0);
    }
  return src;
}

// The timed loop of the pixman rows: the composite, then the copy a present makes.
void CompositeAndShow(benchmark::State &state, pixman_image_t *ps, pixman_image_t *pd, const std::vector<uint32_t> &dst,
                      std::vector<uint32_t> &shown) {
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, ps, nullptr, pd, 0, 0, 0, 0, 0, 0, kSmallW, kSmallH);
    std::memcpy(shown.data(), dst.data(), dst.size() * 4);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kSmallW * kSmallH * 4);
}

void PixmanPresentSmall(benchmark::State &state) {
  Setup &s = Small();
  if (!s.display) {
    state.SkipWithError("no display");
    return;
  }
  std::vector<uint32_t> src = PremultipliedBrush(), dst(src.size(), 0x102030), shown(src.size());
  pixman_image_t *ps = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSmallW, kSmallH, src.data(), kSmallW * 4);
  pixman_image_t *pd = pixman_image_create_bits(PIXMAN_x8r8g8b8, kSmallW, kSmallH, dst.data(), kSmallW * 4);
  // Once: one DisplayBrush onto a cleared picture against one composite onto the same colour.
  s.Clear();
  qmImageRequest r{};
  r.kind = QMTYPE_BRUSH;
  r.id = {1, 0};
  DisplayImageCore(GetPlayerContext(s.L)->scene, &r);
  pixman_image_composite32(PIXMAN_OP_OVER, ps, nullptr, pd, 0, 0, 0, 0, 0, 0, kSmallW, kSmallH);
  int worst = 0;
  for (int y = 0; y < kSmallH; y++)
    for (int x = 0; x < kSmallW; x++) {
      const uint32_t ours = GetBitmapPixel(s.display->backgroundCopy, x, y, 0), theirs = dst[size_t(y) * kSmallW + x];
      for (int shift = 0; shift < 24; shift += 8)
        worst = std::max(worst, std::abs(int(ours >> shift & 255) - int(theirs >> shift & 255)));
    }
  state.counters["max_channel_diff"] = worst;
  if (worst > 2) {
    state.SkipWithError("pixman's picture is not ours");
  } else {
    CompositeAndShow(state, ps, pd, dst, shown);
  }
  pixman_image_unref(ps);
  pixman_image_unref(pd);
}

// The brush 1 of Small() drawn at (0, 0), scaled by `scale` and turned by `degrees`.
qmTransform SmallTransform(Setup &s, double scale, double degrees) {
  qmTransform t;
  InitDefaultDrawTags(GetPlayerContext(s.L)->scene, &t, nullptr, 0, 0, 0, 0);
  BuildTransformMatrix(t.matrix, 0, 0, kSmallW, kSmallH, scale, scale, degrees);
  t.smooth = 0;
  t.geometryPending = 0;
  return t;
}

// At (x, y): a quarter turn about the corner leaves all but one row off the display, so that case
// is also drawn across the middle: turned about its top-left corner the brush's rows run from
// y - 959 up to y, so at (210, 749) its 540 x 960 box covers columns 210..749, rows -210..749.
void DisplayBrushTransformed(benchmark::State &state, double scale, double degrees, int32_t x = 0, int32_t y = 0) {
  Setup &s = Small();
  if (!s.display) {
    state.SkipWithError("no display");
    return;
  }
  const qmTransform t = SmallTransform(s, scale, degrees);
  qmImageRequest r{};
  r.kind = QMTYPE_BRUSH;
  r.id = {1, 0};
  r.x = x, r.y = y;
  r.transform = &t;
  for (auto _ : state) {
    if (DisplayImageCore(GetPlayerContext(s.L)->scene, &r)) state.SkipWithError("DisplayBrush failed");
    PushPendingWindowUpdates();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kSmallW * kSmallH * 4);
}

void PixmanTransformedPresent(benchmark::State &state, double scale, double degrees, int32_t x = 0, int32_t y = 0) {
  Setup &s = Small();
  if (!s.display) {
    state.SkipWithError("no display");
    return;
  }
  std::vector<uint32_t> src = PremultipliedBrush(), dst(src.size(), 0x102030), shown(src.size());
  const qmTransform t = SmallTransform(s, scale, degrees);
  const double *m = t.matrix;
  // Where our result lands (its box's corner) and where the box lies around the turned brush.
  qmTransformedImage placed{};
  TransformImageBitmaps(s.display, TFKIND_GEOMETRY, nullptr, nullptr, nullptr, 0, 0, x, y, kSmallW, kSmallH,
                        t.anchorX, t.anchorY, m, 0, &placed);
  double ox = 0, oy = 0;
  for (const double cx : {0.0, double(kSmallW)})
    for (const double cy : {0.0, double(kSmallH)}) {
      ox = std::min(ox, m[0] * cx + m[2] * cy);
      oy = std::min(oy, m[1] * cx + m[3] * cy);
    }
  // Display pixel centre (X, Y) -> the brush: the inverse matrix of (X - placed.x + ox, ...).
  const double det = m[0] * m[3] - m[2] * m[1];
  const double ia = m[3] / det, ic = -m[2] / det, ib = -m[1] / det, id = m[0] / det;
  const double tx = ox - placed.x, ty = oy - placed.y;
  pixman_f_transform f;
  pixman_f_transform_init_identity(&f);
  f.m[0][0] = ia, f.m[0][1] = ic, f.m[0][2] = ia * tx + ic * ty;
  f.m[1][0] = ib, f.m[1][1] = id, f.m[1][2] = ib * tx + id * ty;
  pixman_transform fixed;
  pixman_transform_from_pixman_f_transform(&fixed, &f);
  pixman_image_t *ps = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSmallW, kSmallH, src.data(), kSmallW * 4);
  pixman_image_t *pd = pixman_image_create_bits(PIXMAN_x8r8g8b8, kSmallW, kSmallH, dst.data(), kSmallW * 4);
  pixman_image_set_transform(ps, &fixed);
  pixman_image_set_filter(ps, PIXMAN_FILTER_NEAREST, nullptr, 0);
  // Once: one DisplayBrush onto a cleared picture against one composite onto the same colour.
  s.Clear();
  qmImageRequest r{};
  r.kind = QMTYPE_BRUSH;
  r.id = {1, 0};
  r.x = x, r.y = y;
  r.transform = &t;
  DisplayImageCore(GetPlayerContext(s.L)->scene, &r);
  pixman_image_composite32(PIXMAN_OP_OVER, ps, nullptr, pd, 0, 0, 0, 0, 0, 0, kSmallW, kSmallH);
  int64_t agree = 0, drawn = 0;
  for (int y = 0; y < kSmallH; y++)
    for (int x = 0; x < kSmallW; x++) {
      const uint32_t ours = GetBitmapPixel(s.display->backgroundCopy, x, y, 0), theirs = dst[size_t(y) * kSmallW + x];
      drawn += (theirs & 0xFFFFFF) != 0x102030;
      int worst = 0;
      for (int shift = 0; shift < 24; shift += 8)
        worst = std::max(worst, std::abs(int(ours >> shift & 255) - int(theirs >> shift & 255)));
      agree += worst <= 2;
    }
  const double share = double(agree) / (double(kSmallW) * kSmallH);
  state.counters["agreeing_share"] = share;
  // The share of the display that the brush changed: a case drawn wholly off the display agrees
  // trivially and times nothing worth timing.
  state.counters["drawn_share"] = double(drawn) / (double(kSmallW) * kSmallH);
  if (share < 0.95) {
    state.SkipWithError("pixman's picture is not ours");
  } else {
    CompositeAndShow(state, ps, pd, dst, shown);
  }
  pixman_image_unref(ps);
  pixman_image_unref(pd);
}

}  // namespace

BENCHMARK_CAPTURE(DisplayBrushTransformed, scaled_half_960x540, 0.5, 0.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PixmanTransformedPresent, scaled_half_960x540, 0.5, 0.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayBrushTransformed, scaled_double_960x540, 2.0, 0.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PixmanTransformedPresent, scaled_double_960x540, 2.0, 0.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayBrushTransformed, rotated_30_960x540, 1.0, 30.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PixmanTransformedPresent, rotated_30_960x540, 1.0, 30.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayBrushTransformed, rotated_90_960x540, 1.0, 90.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PixmanTransformedPresent, rotated_90_960x540, 1.0, 90.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayBrushTransformed, rotated_90_centred_960x540, 1.0, 90.0, 210, 749)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PixmanTransformedPresent, rotated_90_centred_960x540, 1.0, 90.0, 210, 749)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(DisplayBrushSmall)->Name("DisplayBrush/alpha_960x540")->Unit(benchmark::kMicrosecond);
BENCHMARK(PixmanPresentSmall)->Name("PixmanOverPresent/premultiplied_960x540")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayBrush, alpha_1080p, 1u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BareKernel, alpha_1080p, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Pixman, a8_over_1080p, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DisplayBrush, mask_1080p, 2u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BareKernel, mask_1080p, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Pixman, a1_over_1080p, false)->Unit(benchmark::kMillisecond);
