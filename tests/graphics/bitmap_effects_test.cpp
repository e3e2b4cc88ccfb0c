// Effect wrappers on bitmaps: the chains of kernels against the Python reference, the
// parameter rules of each wrapper, and distortions refused before anything is allocated.
#include "graphics/bitmap_effects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "effects_ref.h"
#include "graphics/alpha_kernels.h"
#include "graphics/distort.h"
#include "graphics/effect_kernels.h"
#include "graphics/pixelformat.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

using fxtest::Fixture;
using fxtest::RunReference;

namespace {

struct Pic {
  qmBitmap *b;
  Pic(const std::vector<uint32_t> &canonical, int32_t w, int32_t h) : b(AllocBitmap(w, h)) {
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++) Row(y)[x] = CanonicalToPixel(b->pixelFormat, canonical[size_t(y) * w + x]);
  }
  ~Pic() { FreeBitmap(b); }
  uint32_t *Row(int32_t y) const { return b->pixels + int64_t(y) * (b->bytesPerRow / 4); }
  std::vector<int64_t> Canonical() const {
    std::vector<int64_t> out;
    for (int32_t y = 0; y < b->height; y++)
      for (int32_t x = 0; x < b->width; x++) out.push_back(PixelToCanonical(b->pixelFormat, Row(y)[x]));
    return out;
  }
};

TEST(BitmapEffects, ChainsMatchReference) {
  const int32_t w = 14, h = 10;
  const auto src = Fixture(w, h, 31);
  for (int32_t t : {0, 204}) {
    Pic p(src, w, h);
    ASSERT_EQ(SepiaToneBitmap(p.b, w, h, t), 0u);
    EXPECT_EQ(p.Canonical(), RunReference("sepiatone " + std::to_string(t), w, h, src)) << t;
  }
  for (auto [radius, sigma] : {std::pair{0.0, 1.0}, std::pair{1.0, 1.0}, std::pair{-2.0, 0.5}}) {
    Pic p(src, w, h);
    ASSERT_EQ(CharcoalBitmap(p.b, nullptr, w, h, radius, sigma), 0u);
    char op[64];
    std::snprintf(op, sizeof op, "charcoal %.17g %.17g", radius, sigma);
    EXPECT_EQ(p.Canonical(), RunReference(op, w, h, src)) << radius;
  }
}

TEST(BitmapEffects, ParameterRules) {
  const int32_t w = 6, h = 4;
  // Modulate with all factors 1.0 leaves even a grey of 33 alone (the round trip would give 32).
  Pic grey(std::vector<uint32_t>(w * h, 0x212121), w, h);
  ASSERT_EQ(ModulateBitmap(grey.b, w, h, 1.0, 1.0, 1.0), 0u);
  EXPECT_EQ(grey.Canonical(), std::vector<int64_t>(w * h, 0x212121));
  ASSERT_EQ(ModulateBitmap(grey.b, w, h, 1.0, 1.0, 100.0), 0u);
  EXPECT_EQ(grey.Canonical(), std::vector<int64_t>(w * h, 0x202020));

  // Gamma: 1.0 keeps a channel, 0 clears it, 2 takes 255 sqrt(i / 255) rounded (64 -> 128).
  Pic g(std::vector<uint32_t>(w * h, 0x404040), w, h);
  ASSERT_EQ(GammaBitmap(g.b, w, h, 1.0, 0.0, 2.0), 0u);
  EXPECT_EQ(g.Canonical()[0], 0x400080);

  // Solarize clamps its threshold: -5 counts as 0, so every non-zero channel turns.
  Pic s(std::vector<uint32_t>(w * h, 0x00FF01), w, h);
  ASSERT_EQ(SolarizeBitmap(s.b, w, h, -5), 0u);
  EXPECT_EQ(s.Canonical()[0], 0x0000FE);

  // Pixelate with blocks of 1 changes nothing; contrast with no repeats neither.
  const auto src = Fixture(w, h, 2);
  Pic px(src, w, h);
  ASSERT_EQ(PixelateBitmap(px.b, nullptr, nullptr, w, h, 1), 0u);
  ASSERT_EQ(ContrastBitmap(px.b, w, h, 1, 0, nullptr), 0u);
  EXPECT_EQ(px.Canonical(), std::vector<int64_t>(src.begin(), src.end()));

  // Tint keeps its rectangle inside the picture.
  Pic t(std::vector<uint32_t>(w * h, 0), w, h);
  ASSERT_EQ(TintBitmap(t.b, 4, -2, 100, 4, 0xFFFFFF, 255), 0u);
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) EXPECT_EQ(t.Canonical()[y * w + x], (x >= 4 && y < 2) ? 0xFEFEFE : 0) << x << "," << y;
}

// Contrast repeated n times equals n single passes; a count far beyond the pass where every
// colour settled gives that settled picture (and ends, whatever the count).
TEST(BitmapEffects, ContrastRepeatsAsPassAfterPass) {
  const int32_t w = 16, h = 9;
  const auto src = Fixture(w, h, 3);
  for (int32_t sharpen : {0, 1}) {
    Pic onePass(src, w, h);
    int32_t passes = 0;
    for (int32_t repeat : {1, 2, 7, 40, 300}) {
      for (; passes < repeat; passes++) ASSERT_EQ(ContrastBitmap(onePass.b, w, h, sharpen, 1, nullptr), 0u);
      Pic repeated(src, w, h);
      ASSERT_EQ(ContrastBitmap(repeated.b, w, h, sharpen, repeat, nullptr), 0u);
      EXPECT_EQ(repeated.Canonical(), onePass.Canonical()) << sharpen << " x" << repeat;
    }
    const auto settled = onePass.Canonical();
    ASSERT_EQ(ContrastBitmap(onePass.b, w, h, sharpen, 1, nullptr), 0u);
    ASSERT_EQ(onePass.Canonical(), settled) << "the fixture settles within 300 passes";
    Pic many(src, w, h);
    ASSERT_EQ(ContrastBitmap(many.b, w, h, sharpen, 2000000000, nullptr), 0u);
    EXPECT_EQ(many.Canonical(), settled) << sharpen;
  }
}

TEST(BitmapEffects, BlurOfAnAlphaChannelAlone) {
  qmAlphaChannel *a = AllocAlphaChannel(9, 5, 1);
  for (int32_t y = 0; y < 5; y++)
    for (int32_t x = 5; x < 9; x++) a->memory[y * a->bytesPerRow + x] = 255;
  // A negative radius counts as 0, which takes sigma 1.0 whatever is given.
  ASSERT_EQ(ConvolveBitmap(CONVOLVE_BLUR, nullptr, a, 9, 5, -3, 0, nullptr), 0u);
  EXPECT_EQ(a->memory[0], 0);
  EXPECT_GT(a->memory[4], 0);
  EXPECT_LT(a->memory[5], 255);
  EXPECT_EQ(a->memory[a->bytesPerRow + 1], a->memory[1]); // rows stay alike
  FreeAlphaChannel(a);
}

TEST(BitmapEffects, DistortionPlanesAndRefusals) {
  const int32_t w = 8, h = 6;
  const auto src = Fixture(w, h, 9);
  Pic p(src, w, h);
  const double identity[4] = {0, 0, 0, 1};
  qmDistortOutputs out;
  ASSERT_EQ(DistortBitmap(p.b, nullptr, nullptr, w, h, DISTORT_BARREL, 4, identity, 0, &out), 0u);
  ASSERT_NE(out.mask, nullptr); // point sampling of a picture without planes: a mask
  EXPECT_EQ(out.alpha, nullptr);
  EXPECT_EQ(out.width, w);
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      EXPECT_EQ(out.bitmap->pixels[y * (out.bitmap->bytesPerRow / 4) + x], p.Row(y)[x]);
      EXPECT_TRUE(GetMaskBit(out.mask->memory + y * out.mask->bytesPerRow, x));
    }
  FreeBitmap(out.bitmap);
  FreeMask(out.mask);
  ASSERT_EQ(DistortBitmap(p.b, nullptr, nullptr, w, h, DISTORT_BARREL, 4, identity, 1, &out), 0u);
  EXPECT_EQ(out.mask, nullptr); // smooth: an alpha channel
  ASSERT_NE(out.alpha, nullptr);
  FreeBitmap(out.bitmap);
  FreeAlphaChannel(out.alpha);

  // Refused sizes and parameters allocate nothing at all.
  const double huge[16] = {0, 0, 0, 0, 8, 0, 1e6, 0, 8, 6, 1e6, 1e6, 0, 6, 0, 1e6};
  const double five[5] = {0, 0, 0, 1, 0};
  struct Case {
    int32_t method, count;
    const double *params;
    uint32_t err;
  } cases[] = {{DISTORT_PERSPECTIVE, 16, huge, ERR_MEM}, {DISTORT_BARREL, 5, five, ERR_WRONGUSAGE}, {DISTORT_ARC, 1, five, ERR_WRONGUSAGE}};
  for (const Case &c : cases) {
    SetMemAllocFailure(1);
    EXPECT_EQ(DistortBitmap(p.b, nullptr, nullptr, w, h, c.method, c.count, c.params, 0, &out), c.err);
    EXPECT_FALSE(MemAllocFailureUsed());
    SetMemAllocFailure(0);
    EXPECT_EQ(out.bitmap, nullptr);
  }
  // Without memory for the result: ERR_MEM and nothing kept.
  SetMemAllocFailure(2);
  EXPECT_EQ(DistortBitmap(p.b, nullptr, nullptr, w, h, DISTORT_BARREL, 4, identity, 0, &out), uint32_t(ERR_MEM));
  SetMemAllocFailure(0);
  EXPECT_EQ(out.bitmap, nullptr);
}

} // namespace
