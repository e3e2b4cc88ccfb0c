// Convolution and recolouring effects against the Python reference of their formulas
// (effects_ref.py), in the two channel orders 10 and 11, bit for bit.
#include "graphics/effect_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "effects_ref.h"
#include "graphics/pixelformat.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

using fxtest::Fixture;
using fxtest::Picture;
using fxtest::RunReference;

namespace {

constexpr int32_t kW = 13, kH = 9;
const int32_t kFormats[] = {PIXFMT_XRGB, PIXFMT_BGRX};

std::string Num(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

TEST(EffectKernels, KernelWidthsMatchTheSearch) {
  struct Row {
    double radius, sigma;
    int32_t w1, w2;
  } rows[] = {{0, 0.5, 3, 3}, {0, 1, 7, 7}, {0, 2, 11, 11}, {0, 3, 15, 15}, {2.5, 1, 7, 7}, {2.5, 0, 7, 7}, {0, 0, 1, 1}};
  for (const Row &r : rows) {
    EXPECT_EQ(GaussWidth1D(r.radius, r.sigma), r.w1) << r.radius << " " << r.sigma;
    EXPECT_EQ(GaussWidth2D(r.radius, r.sigma), r.w2) << r.radius << " " << r.sigma;
  }
  for (double sigma : {0.3, 0.7, 1.33, 4.0, 6.5}) {
    auto ref = RunReference("widths 0 " + Num(sigma), 0, 0, {});
    ASSERT_EQ(ref.size(), 2u);
    EXPECT_EQ(GaussWidth1D(0, sigma), ref[0]) << sigma;
    EXPECT_EQ(GaussWidth2D(0, sigma), ref[1]) << sigma;
  }
  // Widths that no picture could use, and sigmas that would keep the search going, end at once.
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(GaussWidth1D(1e9, 1), 0);
  EXPECT_EQ(GaussWidth2D(inf, 1), 0);
  EXPECT_EQ(GaussWidth1D(0, nan), 0);
  EXPECT_EQ(GaussWidth2D(0, nan), 0);
  EXPECT_EQ(GaussWidth2D(0, 1e-12), 1);
  EXPECT_EQ(GaussWidth2D(0, 1e6), 0);
}

TEST(EffectKernels, PaddingRepeatsTheEdges) {
  const uint32_t px[6] = {1, 2, 3, 4, 5, 6}; // 3 x 2
  int32_t pitch = 0;
  uint32_t *pad = PadPixels(px, 3, 2, 3, 5, nullptr, &pitch);
  ASSERT_NE(pad, nullptr);
  EXPECT_EQ(pitch, 12); // ((3 + 5) & ~3) + 4
  const uint32_t rows[6][7] = {{1, 1, 1, 2, 3, 3, 3}, {1, 1, 1, 2, 3, 3, 3}, {1, 1, 1, 2, 3, 3, 3},
                               {4, 4, 4, 5, 6, 6, 6}, {4, 4, 4, 5, 6, 6, 6}, {4, 4, 4, 5, 6, 6, 6}};
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 7; x++) EXPECT_EQ(pad[y * pitch + x], rows[y][x]) << x << "," << y;
  MemFree(pad);
  const uint8_t bytes[3] = {7, 8, 9};
  int32_t row = 0;
  uint8_t *bpad = PadBytes(bytes, 3, 1, 4, 3, nullptr, &row);
  ASSERT_NE(bpad, nullptr);
  EXPECT_EQ(row, 8); // 6 bytes rounded up to a multiple of 4
  EXPECT_EQ(std::vector<uint8_t>(bpad, bpad + 5), (std::vector<uint8_t>{7, 7, 8, 9, 9}));
  EXPECT_EQ(std::vector<uint8_t>(bpad + 2 * row, bpad + 2 * row + 5), (std::vector<uint8_t>{7, 7, 8, 9, 9}));
  MemFree(bpad);
}

TEST(EffectKernels, BlurMatchesReferenceWithAlpha) {
  const auto src = Fixture(kW, kH, 7);
  std::vector<int64_t> alpha;
  for (int i = 0; i < kW * kH; i++) alpha.push_back((i * 37 + (i / kW) * 90) & 0xFF);
  struct Case {
    double radius, sigma;
  } cases[] = {{0, 1}, {2, 2.0 / 3}, {1.5, 2}, {6, 2}};
  for (const Case &c : cases) {
    const auto ref = RunReference("blur " + Num(c.radius) + " " + Num(c.sigma), kW, kH, src, alpha);
    ASSERT_EQ(ref.size(), size_t(2 * kW * kH));
    for (int32_t fmt : kFormats) {
      Picture p(src, kW, kH, fmt);
      const int32_t arow = 16;
      std::vector<uint8_t> plane(arow * kH, 0x5A);
      for (int y = 0; y < kH; y++)
        for (int x = 0; x < kW; x++) plane[y * arow + x] = uint8_t(alpha[y * kW + x]);
      qmConvolveRequest req{p.words.data(), kW, kH, p.pitch, fmt, 4, plane.data(), arow, c.radius, c.sigma, CONVOLVE_BLUR};
      ASSERT_EQ(ConvolvePixels(&req), 0);
      EXPECT_EQ(p.Canonical(), std::vector<int64_t>(ref.begin(), ref.begin() + kW * kH)) << c.radius << " " << c.sigma;
      EXPECT_TRUE(p.Clean());
      std::vector<int64_t> got;
      for (int y = 0; y < kH; y++)
        for (int x = 0; x < kW; x++) got.push_back(plane[y * arow + x]);
      EXPECT_EQ(got, std::vector<int64_t>(ref.begin() + kW * kH, ref.end()));
      EXPECT_EQ(plane[arow - 1], 0x5A); // the spare bytes of a row stay
    }
  }
}

// Pictures wide enough for every width of vector block and remainder, taller and shorter than
// the kernel, with flat areas whose sums lie next to whole numbers.
TEST(EffectKernels, BlurOfLargerPicturesMatchesReference) {
  struct Case {
    int32_t w, h;
    double radius, sigma;
  } cases[] = {{75, 23, 2, 2.0 / 3}, {75, 23, 10, 10.0 / 3}, {41, 6, 3.5, 1.2}, {37, 30, 0, 1}};
  for (const Case &c : cases) {
    const auto src = Fixture(c.w, c.h, 11);
    const auto ref = RunReference("blur " + Num(c.radius) + " " + Num(c.sigma), c.w, c.h, src);
    ASSERT_EQ(ref.size(), size_t(c.w * c.h));
    Picture p(src, c.w, c.h, PIXFMT_BGRX);
    qmConvolveRequest req{p.words.data(), c.w, c.h, p.pitch, PIXFMT_BGRX, 4, nullptr, 0, c.radius, c.sigma, CONVOLVE_BLUR};
    ASSERT_EQ(ConvolvePixels(&req), 0);
    EXPECT_EQ(p.Canonical(), ref) << c.w << "x" << c.h << " " << c.radius << " " << c.sigma;
    EXPECT_TRUE(p.Clean());
  }
}

TEST(EffectKernels, BlurWithoutSigmaOrWithBadInputChangesNothing) {
  const auto src = Fixture(kW, kH, 3);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double radius, sigma;
  } cases[] = {{0, 0}, {3, 0}, {2, nan}, {1e12, 1}};
  for (const Case &c : cases) {
    Picture p(src, kW, kH, PIXFMT_XRGB);
    const auto before = p.words;
    qmConvolveRequest req{p.words.data(), kW, kH, p.pitch, PIXFMT_XRGB, 4, nullptr, 0, c.radius, c.sigma, CONVOLVE_BLUR};
    EXPECT_EQ(ConvolvePixels(&req), 0);
    EXPECT_EQ(p.words, before) << c.radius << " " << c.sigma;
  }
  // The padded copy of a sharpen cannot be had: nothing changes and the caller hears of it.
  Picture p(src, kW, kH, PIXFMT_XRGB);
  const auto before = p.words;
  qmConvolveRequest req{p.words.data(), kW, kH, p.pitch, PIXFMT_XRGB, 4, nullptr, 0, 1, 1, CONVOLVE_SHARPEN};
  SetMemAllocFailure(1);
  EXPECT_EQ(ConvolvePixels(&req), int32_t(ERR_MEM));
  SetMemAllocFailure(0);
  EXPECT_EQ(p.words, before);
}

TEST(EffectKernels, EmbossSharpenEdgeMatchReference) {
  const auto src = Fixture(kW, kH, 11);
  struct Case {
    const char *name;
    int32_t op;
    double radius, sigma;
  } cases[] = {{"emboss", CONVOLVE_EMBOSS, 0, 1.0}, {"emboss", CONVOLVE_EMBOSS, 2, 1.0}, {"sharpen", CONVOLVE_SHARPEN, 0, 1.0},
               {"sharpen", CONVOLVE_SHARPEN, 1, 0.0}, {"edge", CONVOLVE_EDGE, 0, 0.0},      {"edge", CONVOLVE_EDGE, 1, 0.0}};
  for (const Case &c : cases) {
    const auto ref = RunReference(std::string(c.name) + " " + Num(c.radius) + " " + Num(c.sigma), kW, kH, src);
    ASSERT_EQ(ref.size(), size_t(kW * kH));
    for (int32_t fmt : kFormats) {
      Picture p(src, kW, kH, fmt);
      qmConvolveRequest req{p.words.data(), kW, kH, p.pitch, fmt, 4, nullptr, 0, c.radius, c.sigma, c.op};
      ASSERT_EQ(ConvolvePixels(&req), 0);
      EXPECT_EQ(p.Canonical(), ref) << c.name << " " << c.radius;
      EXPECT_TRUE(p.Clean());
    }
  }
}

TEST(EffectKernels, EdgeOfUniformIsBlackAndWideKernelsDoNothing) {
  Picture flat(std::vector<uint32_t>(kW * kH, 0x808080), kW, kH, PIXFMT_BGRX);
  qmConvolveRequest req{flat.words.data(), kW, kH, flat.pitch, PIXFMT_BGRX, 4, nullptr, 0, 1, 0, CONVOLVE_EDGE};
  ASSERT_EQ(ConvolvePixels(&req), 0);
  EXPECT_EQ(flat.Canonical(), std::vector<int64_t>(kW * kH, 0));
  // A 11 x 11 kernel on a picture 9 rows high, and 3 bytes per pixel, leave it alone.
  const auto src = Fixture(kW, kH, 5);
  for (auto [radius, bpp] : {std::pair{5.0, 4}, std::pair{1.0, 3}}) {
    Picture p(src, kW, kH, PIXFMT_XRGB);
    const auto before = p.words;
    qmConvolveRequest r{p.words.data(), kW, kH, p.pitch, PIXFMT_XRGB, bpp, nullptr, 0, radius, 1.0, CONVOLVE_SHARPEN};
    EXPECT_EQ(ConvolvePixels(&r), 0);
    EXPECT_EQ(p.words, before);
  }
}

// Runs one per-pixel effect on both channel orders and compares with the reference.
template <typename F> void CheckPointEffect(const std::string &op, const std::vector<uint32_t> &src, int32_t w, int32_t h, F run) {
  const auto ref = RunReference(op, w, h, src);
  ASSERT_EQ(ref.size(), size_t(w * h)) << op;
  for (int32_t fmt : kFormats) {
    Picture p(src, w, h, fmt);
    run(p);
    EXPECT_EQ(p.Canonical(), ref) << op << " format " << fmt;
    EXPECT_TRUE(p.Clean()) << op;
  }
}

TEST(EffectKernels, PointEffectsMatchReference) {
  auto src = Fixture(kW, kH, 23);
  // Greys and the pure colours, where the hue formulas change branch.
  for (uint32_t c : {0x000000u, 0xFFFFFFu, 0x212121u, 0x808080u, 0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFF00u, 0x7F8081u})
    src.push_back(c);
  const int32_t w = kW, h = kH + 1; // the extra colours and padding fill one more row
  src.resize(size_t(w) * h, 0x123456);

  for (int32_t t : {0, 127, 200})
    CheckPointEffect("solarize " + std::to_string(t), src, w, h, [t](Picture &p) { SolarizePixels(p.words.data(), p.w, p.h, p.pitch, p.format, t); });
  for (int32_t sign : {1, -1})
    CheckPointEffect("contrast " + std::to_string(sign), src, w, h,
                     [sign](Picture &p) { ContrastPixels(p.words.data(), p.w, p.h, p.pitch, p.format, sign); });
  struct Mod {
    double b, s, hue;
  } mods[] = {{100, 0, 100}, {150, 80, 130}, {50, 200, 0}, {100, 100, 199}, {120, 100, 350}};
  for (const Mod &m : mods)
    CheckPointEffect("modulate " + Num(m.b) + " " + Num(m.s) + " " + Num(m.hue), src, w, h, [m](Picture &p) {
      qmModulateRequest req{p.words.data(), p.w, p.h, p.pitch, p.format, m.b, m.s, m.hue};
      ModulatePixels(&req);
    });
  for (double t : {0.0, 204.0, 255.0 * 0.8})
    CheckPointEffect("sepia " + Num(t), src, w, h, [t](Picture &p) { SepiaPixels(p.words.data(), p.w, p.h, p.pitch, p.format, t); });
  for (auto [black, white] : {std::pair{0.0, 0.0}, std::pair{3.0, 5.0}, std::pair{13.0, 30.5}})
    CheckPointEffect("levels " + Num(black) + " " + Num(white), src, w, h, [black, white](Picture &p) {
      qmLevelStretchRequest req{p.words.data(), p.w, p.h, p.pitch, black, white, p.format, 4};
      LevelStretchPixels(&req);
    });
  for (double radius : {0.0, 1.0, 2.0})
    CheckPointEffect("oilpaint " + Num(radius), src, w, h, [radius](Picture &p) {
      qmOilPaintRequest req{p.words.data(), p.w, p.h, p.pitch, p.format, radius};
      ASSERT_EQ(OilPaintPixels(&req), 0);
    });
}

TEST(EffectKernels, PointEffectEdgeCases) {
  // Solarize 127: 128 becomes 127, 127 stays.
  Picture s({0x80807F}, 1, 1, PIXFMT_XRGB);
  SolarizePixels(s.words.data(), 1, 1, s.pitch, PIXFMT_XRGB, 127);
  EXPECT_EQ(s.words[0], 0x7F7F7Fu);
  // Sepia with threshold 0: red and green 255, blue the truncated intensity.
  Picture sep({0x336699}, 1, 1, PIXFMT_BGRX);
  SepiaPixels(sep.words.data(), 1, 1, sep.pitch, PIXFMT_BGRX, 0);
  const uint32_t i = uint32_t(0.299 * 0x33 + 0.587 * 0x66 + 0.114 * 0x99);
  EXPECT_EQ(sep.Canonical()[0], int64_t(0xFFFF00 | i));
  // Modulate to saturation 0 gives the grey of the lightness, (max + min) / 2 / 255 scaled back.
  Picture mod({0xC83214}, 1, 1, PIXFMT_XRGB);
  qmModulateRequest m{mod.words.data(), 1, 1, mod.pitch, PIXFMT_XRGB, 100, 0, 100};
  ModulatePixels(&m);
  const int64_t grey = int64_t((200.0 / 255 + 20.0 / 255) / 2 * 255);
  EXPECT_EQ(mod.Canonical()[0], grey * 0x010101);
  // Percents that are not numbers leave the picture alone rather than converting NaN.
  m.saturation = std::numeric_limits<double>::quiet_NaN();
  mod.words[0] = 0x123456;
  ModulatePixels(&m);
  EXPECT_EQ(mod.words[0], 0x123456u);
  m.saturation = 100, m.hue = 1e300;
  ModulatePixels(&m); // far out of range: settles at once rather than stepping forever
  // Oil paint on two colours takes the one more frequent in the window, the earlier on a tie.
  std::vector<uint32_t> two = {0xFF0000, 0x0000FF, 0x0000FF, 0xFF0000, 0xFF0000, 0x0000FF};
  Picture oil(two, 3, 2, PIXFMT_XRGB);
  qmOilPaintRequest o{oil.words.data(), 3, 2, oil.pitch, PIXFMT_XRGB, 1};
  ASSERT_EQ(OilPaintPixels(&o), 0);
  EXPECT_EQ(oil.Canonical(), RunReference("oilpaint 1", 3, 2, two));
}

} // namespace
