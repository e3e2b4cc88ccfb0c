// DisplayBrush of a 1920x1080 brush with an alpha channel and with a mask onto a 1920x1080
// display (position, tags, the blit into the background and the present into the window
// surface, on SDL's dummy driver), and our bare blend and mask kernels alone, each in rounds
// alternating with pixman compositing the same pixels through an a8 or an a1 mask.
// And the whole job at 960x540: DisplayBrush of a brush with an alpha channel onto a display of
// its size (blend into the display's picture and present), alternating with pixman doing the
// same: OVER of its own premultiplied a8r8g8b8 copy of the brush onto an x8r8g8b8 picture, then
// a copy of the result's bytes as a present makes; also with the brush scaled or turned
// (nearest neighbour) on its way. Every pair is checked once: both pictures agree.
#include <benchmark/benchmark.h>

#include "bench/player_setup.h"
#include "bench/side_by_side.h"
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

// Worst difference of one channel between the display's picture and a peer's 0x00RRGGBB rows of
// the same size, and the share of pixels within `near` of each other.
struct Agreement {
  int worst = 0;
  double share = 0;
};
Agreement Compare(const Setup &s, const uint32_t *theirs, int near) {
  Agreement a;
  int64_t within = 0;
  for (int y = 0; y < s.h; y++)
    for (int x = 0; x < s.w; x++) {
      const uint32_t ours = GetBitmapPixel(s.display->backgroundCopy, x, y, 0), peer = theirs[size_t(y) * s.w + x];
      int worst = 0;
      for (int shift = 0; shift < 24; shift += 8)
        worst = std::max(worst, std::abs(int(ours >> shift & 255) - int(peer >> shift & 255)));
      a.worst = std::max(a.worst, worst);
      within += worst <= near;
    }
  a.share = double(within) / (double(s.w) * s.h);
  return a;
}

// DisplayBrush of the request onto the display: the blit into its picture and the present.
bool ShowBrush(Setup &s, const qmImageRequest &r) {
  const bool ok = DisplayImageCore(GetPlayerContext(s.L)->scene, &r) == 0;
  PushPendingWindowUpdates();
  return ok;
}

// pixman's side of the 1080p pairs: the brush's pixels composited through an a8 (alpha) or a1
// (mask) plane onto a picture of the display's colour.
struct PixmanOver {
  std::vector<uint32_t> src, dst;
  std::vector<uint8_t> a8, a1;
  pixman_image_t *s = nullptr, *d = nullptr, *m = nullptr;
  explicit PixmanOver(bool withAlpha) : src(size_t(kW) * kH), dst(size_t(kW) * kH, 0x102030) {
    const int a8Stride = (kW + 3) & ~3, a1Stride = ((kW + 31) / 32) * 4;
    a8.resize(size_t(a8Stride) * kH);
    a1.resize(size_t(a1Stride) * kH);
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) {
        src[size_t(y) * kW + x] = PixelAt(x, y);
        a8[size_t(y) * a8Stride + x] = AlphaAt(x, y);
        // pixman's a1 bit order is the machine's: least significant bit first here.
        if (MaskAt(x, y)) a1[size_t(y) * a1Stride + x / 8] |= uint8_t(1 << (x & 7));
      }
    s = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, src.data(), kW * 4);
    d = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, dst.data(), kW * 4);
    m = withAlpha ? pixman_image_create_bits(PIXMAN_a8, kW, kH, reinterpret_cast<uint32_t *>(a8.data()), a8Stride)
                  : pixman_image_create_bits(PIXMAN_a1, kW, kH, reinterpret_cast<uint32_t *>(a1.data()), a1Stride);
  }
  ~PixmanOver() {
    pixman_image_unref(m);
    pixman_image_unref(d);
    pixman_image_unref(s);
  }
  void Composite() { pixman_image_composite32(PIXMAN_OP_OVER, s, m, d, 0, 0, 0, 0, 0, 0, kW, kH); }
};

// Checked once against pixman, then alternating rounds; `bare`: our blend or mask kernel alone
// into a picture of its own, else the whole DisplayBrush with its present.
void BrushOverPixman(benchmark::State &state, uint32_t id, bool bare) {
  Setup &s = S();
  if (!s.display) return state.SkipWithError("no display");
  const bool withAlpha = id == 1;
  PixmanOver peer(withAlpha);
  qmImageRequest r{};
  r.kind = QMTYPE_BRUSH;
  r.id = {id, 0};
  s.Clear();
  if (!ShowBrush(s, r)) return state.SkipWithError("DisplayBrush failed");
  peer.Composite();
  // Ours divides by 256, pixman by 255.
  const Agreement a = Compare(s, peer.dst.data(), 2);
  state.counters["max_channel_diff"] = a.worst;
  if (a.worst > 2) return state.SkipWithError("pixman's picture is not ours");
  qmBitmap *dst = AllocBitmap(kW, kH);
  auto ours = [&] {
    if (!bare) ShowBrush(s, r);
    else if (withAlpha) BltAlphaBitmap(s.alpha->bitmap, 0, 0, dst, 0, 0, kW, kH, s.alpha->alpha);
    else BltMask(s.mask->bitmap, 0, 0, dst, 0, 0, kW, kH, s.mask->mask);
    benchmark::ClobberMemory();
  };
  BenchBatchedRounds(state, "pixman", 1, ours, [&] {
    peer.Composite();
    benchmark::ClobberMemory();
  });
  FreeBitmap(dst);
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}

constexpr int kSmallW = 960, kSmallH = 540;

Setup &Small() {
  static Setup s(kSmallW, kSmallH);
  return s;
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

// The brush 1 of Small() drawn at (0, 0), scaled by `scale` and turned by `degrees`.
qmTransform SmallTransform(Setup &s, double scale, double degrees) {
  qmTransform t;
  InitDefaultDrawTags(GetPlayerContext(s.L)->scene, &t, nullptr, 0, 0, 0, 0);
  BuildTransformMatrix(t.matrix, 0, 0, kSmallW, kSmallH, scale, scale, degrees);
  t.smooth = 0;
  t.geometryPending = 0;
  return t;
}

// The whole job at 960x540, the brush with its alpha channel, maybe scaled or turned on its way:
// DisplayBrush (blend into the display's picture and present) against pixman's OVER of its
// premultiplied copy (through the inverse of our matrix, placed where we place the result) and
// the copy of the result's bytes a present makes. Checked once: plain, every pixel within 2 per
// channel (ours divides by 256, pixman by 255); transformed, 95% of them (pixman's sampling points
// are 16.16 fixed point, so a few pixels on sampling borders pick a neighbour).
// At (x, y): a quarter turn about the corner leaves all but one row off the display, so that case
// is also drawn across the middle: turned about its top-left corner the brush's rows run from
// y - 959 up to y, so at (210, 749) its 540 x 960 box covers columns 210..749, rows -210..749.
void BrushOverPixmanSmall(benchmark::State &state, bool transformed, double scale, double degrees, int32_t x = 0,
                          int32_t y = 0) {
  Setup &s = Small();
  if (!s.display) return state.SkipWithError("no display");
  std::vector<uint32_t> src = PremultipliedBrush(), dst(src.size(), 0x102030), shown(src.size());
  const qmTransform t = SmallTransform(s, scale, degrees);
  pixman_image_t *ps = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSmallW, kSmallH, src.data(), kSmallW * 4);
  pixman_image_t *pd = pixman_image_create_bits(PIXMAN_x8r8g8b8, kSmallW, kSmallH, dst.data(), kSmallW * 4);
  qmImageRequest r{};
  r.kind = QMTYPE_BRUSH;
  r.id = {1, 0};
  if (transformed) {
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
    pixman_image_set_transform(ps, &fixed);
    pixman_image_set_filter(ps, PIXMAN_FILTER_NEAREST, nullptr, 0);
    r.x = x, r.y = y;
    r.transform = &t;
  }
  auto peer = [&] {
    pixman_image_composite32(PIXMAN_OP_OVER, ps, nullptr, pd, 0, 0, 0, 0, 0, 0, kSmallW, kSmallH);
    std::memcpy(shown.data(), dst.data(), dst.size() * 4);
    benchmark::ClobberMemory();
  };
  s.Clear();
  const bool shownOnce = ShowBrush(s, r);
  peer();
  const Agreement a = Compare(s, dst.data(), 2);
  int64_t drawn = 0;
  for (const uint32_t p : dst) drawn += (p & 0xFFFFFF) != 0x102030;
  state.counters["max_channel_diff"] = a.worst;
  state.counters["agreeing_share"] = a.share;
  // The share of the display that the brush changed: a case drawn wholly off the display agrees
  // trivially and times nothing worth timing.
  state.counters["drawn_share"] = double(drawn) / (double(kSmallW) * kSmallH);
  if (!shownOnce) state.SkipWithError("DisplayBrush failed");
  else if (transformed ? a.share < 0.95 : a.worst > 2) state.SkipWithError("pixman's picture is not ours");
  else BenchBatchedRounds(state, "pixman", 8, [&] { ShowBrush(s, r); }, peer);
  pixman_image_unref(ps);
  pixman_image_unref(pd);
  state.SetBytesProcessed(int64_t(state.iterations()) * 8 * kSmallW * kSmallH * 4);
}

}  // namespace

BENCHMARK_CAPTURE(BrushOverPixmanSmall, alpha_960x540, false, 1.0, 0.0)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BrushOverPixmanSmall, scaled_half_960x540, true, 0.5, 0.0)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BrushOverPixmanSmall, scaled_double_960x540, true, 2.0, 0.0)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BrushOverPixmanSmall, rotated_30_960x540, true, 1.0, 30.0)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BrushOverPixmanSmall, rotated_90_960x540, true, 1.0, 90.0)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BrushOverPixmanSmall, rotated_90_centred_960x540, true, 1.0, 90.0, 210, 749)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BrushOverPixman, display_alpha_1080p, 1u, false)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BrushOverPixman, kernel_alpha_1080p, 1u, true)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BrushOverPixman, display_mask_1080p, 2u, false)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BrushOverPixman, kernel_mask_1080p, 2u, true)->UseManualTime()->Unit(benchmark::kMillisecond);
