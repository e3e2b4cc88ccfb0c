// Swirl, pixelate and ripple: where each pixel comes from, against the Python reference of the
// formulas, with masks and alpha planes following their pixels.
#include "graphics/warp_kernels.h"

#include <gtest/gtest.h>

#include <vector>

#include "effects_ref.h"
#include "graphics/alpha_kernels.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

using fxtest::RunReference;

namespace {

// A picture whose every pixel names itself (its raster index), with a mask and an alpha plane
// made from the index too.
struct Indexed {
  int32_t w, h, pitch, maskRow, alphaRow;
  std::vector<uint32_t> px;
  std::vector<uint8_t> mask, alpha;
  Indexed(int32_t width, int32_t height)
      : w(width), h(height), pitch((width & ~3) + 4), maskRow(width / 8 + 1), alphaRow((width + 3) & ~3), px(size_t(pitch) * height),
        mask(size_t(maskRow) * height), alpha(size_t(alphaRow) * height) {
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++) {
        const int32_t i = y * w + x;
        px[size_t(y) * pitch + x] = uint32_t(i);
        SetMaskBit(&mask[size_t(y) * maskRow], x, (i * 7) % 3 != 0);
        alpha[size_t(y) * alphaRow + x] = uint8_t(i * 13 + 1);
      }
  }
  // Every pixel, its mask bit and its alpha byte came from the source index in the map.
  void ExpectMoved(const Indexed &orig, const std::vector<int64_t> &map) const {
    ASSERT_EQ(map.size(), size_t(w * h));
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++) {
        const int64_t s = map[y * w + x];
        const int32_t sx = int32_t(s % w), sy = int32_t(s / w);
        ASSERT_EQ(px[size_t(y) * pitch + x], uint32_t(s)) << x << "," << y;
        ASSERT_EQ(GetMaskBit(&mask[size_t(y) * maskRow], x), GetMaskBit(&orig.mask[size_t(sy) * maskRow], sx)) << x << "," << y;
        ASSERT_EQ(alpha[size_t(y) * alphaRow + x], orig.alpha[size_t(sy) * alphaRow + sx]) << x << "," << y;
      }
  }
};

struct Tables {
  std::vector<double> sine = std::vector<double>(QM_WARP_TABLE_SIZE), cosine = std::vector<double>(QM_WARP_TABLE_SIZE);
};

qmSwirlRequest SwirlOf(Indexed &p, Tables &t) {
  qmSwirlRequest req{};
  req.dst = p.px.data();
  req.dstPitch = p.pitch;
  req.sine = t.sine.data(), req.cosine = t.cosine.data();
  req.width = p.w, req.height = p.h;
  req.alpha = p.alpha.data(), req.alphaBytesPerRow = p.alphaRow;
  req.mask = p.mask.data(), req.maskBytesPerRow = p.maskRow;
  PrepareSwirl(&req);
  return req;
}

TEST(WarpKernels, IntegerSqrtTable) {
  const std::pair<int64_t, int32_t> rows[] = {{0, 0}, {1, 1}, {15, 3}, {16, 4}, {17, 4}, {2147483647, 46340}, {-1, -1}, {99999999, 9999}};
  for (auto [n, root] : rows) EXPECT_EQ(IntegerSqrt(n), root) << n;
}

TEST(WarpKernels, SwirlMovesPixelsMaskAndAlphaLikeReference) {
  struct Case {
    int32_t w, h, degrees;
  } cases[] = {{17, 11, 90}, {11, 17, 300}, {16, 16, -45}, {17, 11, 500}, {100, 50, 200}};
  for (const Case &c : cases) {
    const Indexed orig(c.w, c.h);
    Indexed p = orig;
    Tables t;
    qmSwirlRequest req = SwirlOf(p, t);
    ASSERT_EQ(SwirlPixels(&req, c.degrees), 0);
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + std::to_string(c.degrees));
    p.ExpectMoved(orig, RunReference("swirl " + std::to_string(c.degrees), c.w, c.h, {}));
  }
}

TEST(WarpKernels, PixelsAloneMoveLikeReference) {
  // No planes and no second picture: the pixels are moved band by band (16 rows), here across
  // several bands; the swirl with and without its root table.
  struct Case {
    const char *name;
    int32_t w, h;
    bool swirl, roots;
    int32_t level;
  } cases[] = {{"swirl", 150, 40, true, false, 200},     {"swirl from roots", 150, 40, true, true, 200},
               {"swirl from roots, tall", 23, 70, true, true, 500}, {"ripple", 150, 40, false, false, 6},
               {"ripple, odd", 67, 33, false, false, 3}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Indexed p(c.w, c.h);
    std::vector<uint32_t> src = p.px;
    std::string op;
    if (c.swirl) {
      Tables t;
      std::vector<int16_t> roots(size_t(c.w) * c.h);
      qmSwirlRequest req{};
      req.dst = p.px.data(), req.dstPitch = p.pitch;
      req.srcCopy = src.data(), req.srcPitch = p.pitch;
      req.sine = t.sine.data(), req.cosine = t.cosine.data();
      req.width = c.w, req.height = c.h;
      req.roots = c.roots ? roots.data() : nullptr;
      PrepareSwirl(&req);
      ASSERT_EQ(SwirlPixels(&req, c.level), 0);
      op = "swirl " + std::to_string(c.level);
    } else {
      std::vector<double> sine(QM_WARP_TABLE_SIZE);
      std::vector<int32_t> dist(size_t(c.w) * c.h);
      qmRippleRequest req{};
      req.dst = p.px.data(), req.dstPitch = p.pitch;
      req.srcCopy = src.data(), req.srcPitch = p.pitch;
      req.waves = 8, req.amplitudeStep = 0.4, req.wavelength = 3.5;
      req.sine = sine.data(), req.distance = dist.data();
      req.centerX = c.w / 2, req.centerY = c.h / 2, req.maxDistance = c.w / 2;
      req.width = c.w, req.height = c.h;
      PrepareRipple(&req);
      ASSERT_EQ(RipplePixels(&req, c.level), 0);
      char text[160];
      std::snprintf(text, sizeof text, "ripple 8 %.17g %.17g %d %d %d %d", 0.4, 3.5, c.w / 2, c.h / 2, c.w / 2, c.level);
      op = text;
    }
    const std::vector<int64_t> map = RunReference(op, c.w, c.h, {});
    ASSERT_EQ(map.size(), size_t(c.w) * c.h);
    int32_t moved = 0;
    for (int32_t y = 0; y < c.h; y++)
      for (int32_t x = 0; x < c.w; x++) {
        ASSERT_EQ(p.px[size_t(y) * p.pitch + x], uint32_t(map[size_t(y) * c.w + x])) << x << "," << y;
        moved += map[size_t(y) * c.w + x] != y * c.w + x;
      }
    EXPECT_GT(moved, c.w * c.h / 4);
  }
}

TEST(WarpKernels, SwirlIdentitiesAndTheEllipse) {
  for (int32_t degrees : {0, 720}) {
    const Indexed orig(16, 16);
    Indexed p = orig;
    Tables t;
    qmSwirlRequest req = SwirlOf(p, t);
    ASSERT_EQ(SwirlPixels(&req, degrees), 0);
    EXPECT_EQ(p.px, orig.px) << degrees;
    EXPECT_EQ(p.mask, orig.mask);
    EXPECT_EQ(p.alpha, orig.alpha);
  }
  // 100 x 50: radius 50 and y scale 2, so only the ellipse filling the picture moves.
  const Indexed orig(100, 50);
  Indexed p = orig;
  Tables t;
  qmSwirlRequest req = SwirlOf(p, t);
  ASSERT_EQ(SwirlPixels(&req, 180), 0);
  int32_t moved = 0;
  for (int32_t y = 0; y < 50; y++)
    for (int32_t x = 0; x < 100; x++) {
      const double dx = x - 50.0, dy = 2 * (y - 25.0);
      const bool inside = dx * dx + dy * dy < 2500;
      if (!inside) {
        EXPECT_EQ(p.px[size_t(y) * p.pitch + x], uint32_t(y * 100 + x)) << x << "," << y;
      }
      moved += p.px[size_t(y) * p.pitch + x] != uint32_t(y * 100 + x);
    }
  EXPECT_GT(moved, 1000);
}

TEST(WarpKernels, SwirlMixesAndFadesByLevel) {
  Tables t;
  // With a second picture, 720 degrees mixes by weight 255 at the same geometry as 0.
  Indexed p(8, 8);
  for (auto &v : p.px) v = 0x00FF00FF;
  std::vector<uint32_t> second(p.px.size(), 0x00000000);
  qmSwirlRequest req = SwirlOf(p, t);
  req.second = second.data(), req.secondPitch = p.pitch;
  ASSERT_EQ(SwirlPixels(&req, 720), 0);
  EXPECT_EQ(p.px[0], 0x00FE00FEu);
  // Alpha fade: alpha * m / 255 where the source alpha is not 0, and 0 where it is.
  Indexed f(8, 8);
  f.alpha[0] = 0;
  f.alpha[1] = 200;
  qmSwirlRequest fade = SwirlOf(f, t);
  fade.alphaFade = 1;
  ASSERT_EQ(SwirlPixels(&fade, 0), 0);
  EXPECT_EQ(f.alpha[0], 0);
  EXPECT_EQ(f.alpha[1], 0); // m = 0 at 0 degrees
  f.alpha[1] = 200;
  fade.reverse = 1;
  ASSERT_EQ(SwirlPixels(&fade, 0), 0);
  EXPECT_EQ(f.alpha[1], 200);
  f.alpha[1] = 200;
  fade.reverse = 0;
  ASSERT_EQ(SwirlPixels(&fade, 360), 0); // m = 127
  EXPECT_EQ(f.alpha[1], 200 * 127 / 255);
}

TEST(WarpKernels, SwirlWithoutMemoryChangesNothing) {
  const Indexed orig(9, 9);
  Indexed p = orig;
  Tables t;
  qmSwirlRequest req = SwirlOf(p, t);
  for (uint64_t n : {1, 2, 3}) {
    SetMemAllocFailure(n);
    EXPECT_EQ(SwirlPixels(&req, 90), int32_t(ERR_MEM)) << n;
    SetMemAllocFailure(0);
    EXPECT_EQ(p.px, orig.px);
    EXPECT_EQ(p.mask, orig.mask);
    EXPECT_EQ(p.alpha, orig.alpha);
  }
}

TEST(WarpKernels, PixelateBlocksFromTopLeft) {
  // 10 x 10 with blocks of 4: 4, 4 and 2 pixels per row and column.
  Indexed p(10, 10);
  const Indexed orig = p;
  qmPixelateRequest req{p.px.data(), p.px.data(), nullptr, nullptr, nullptr, nullptr, p.pitch, p.pitch, 0, 0, 0, 0, 10, 10, 4};
  PixelatePixels(&req);
  for (int32_t y = 0; y < 10; y++)
    for (int32_t x = 0; x < 10; x++) EXPECT_EQ(p.px[size_t(y) * p.pitch + x], uint32_t((y / 4) * 4 * 10 + (x / 4) * 4)) << x << "," << y;
  // Visibility from the source mask's top-left bit; a destination alpha takes the top-left byte.
  Indexed q = orig;
  std::vector<uint8_t> dstAlpha(q.alpha.size(), 77);
  qmPixelateRequest masked{orig.px.data(), q.px.data(), orig.mask.data(), nullptr, orig.alpha.data(), dstAlpha.data(), q.pitch, q.pitch,
                           q.maskRow, 0, q.alphaRow, q.alphaRow, 10, 10, 4};
  PixelatePixels(&masked);
  for (int32_t y = 0; y < 10; y++)
    for (int32_t x = 0; x < 10; x++) {
      const int32_t tl = (y / 4) * 4 * 10 + (x / 4) * 4;
      const bool visible = GetMaskBit(&orig.mask[size_t((y / 4) * 4) * q.maskRow], (x / 4) * 4);
      EXPECT_EQ(q.px[size_t(y) * q.pitch + x], visible ? uint32_t(tl) : uint32_t(y * 10 + x));
      EXPECT_EQ(dstAlpha[size_t(y) * q.alphaRow + x], visible ? orig.alpha[size_t((y / 4) * 4) * q.alphaRow + (x / 4) * 4] : 0);
    }
  // Block sizes below 1 do nothing.
  Indexed r = orig;
  qmPixelateRequest none{r.px.data(), r.px.data(), nullptr, nullptr, nullptr, nullptr, r.pitch, r.pitch, 0, 0, 0, 0, 10, 10, 0};
  PixelatePixels(&none);
  EXPECT_EQ(r.px, orig.px);
}

qmRippleRequest RippleOf(Indexed &p, std::vector<double> &sine, std::vector<int32_t> &dist, int32_t waves, double step, double wavelength,
                         int32_t cx, int32_t cy, int32_t maxd) {
  qmRippleRequest req{};
  req.dst = p.px.data(), req.dstPitch = p.pitch;
  req.waves = waves, req.amplitudeStep = step, req.wavelength = wavelength;
  req.sine = sine.data(), req.distance = dist.data();
  req.centerX = cx, req.centerY = cy, req.maxDistance = maxd;
  req.width = p.w, req.height = p.h;
  req.mask = p.mask.data(), req.maskBytesPerRow = p.maskRow;
  req.alpha = p.alpha.data(), req.alphaBytesPerRow = p.alphaRow;
  PrepareRipple(&req);
  return req;
}

TEST(WarpKernels, RippleDisplacesLikeReference) {
  struct Case {
    int32_t w, h, waves;
    double step, wavelength;
    int32_t cx, cy, maxd, level;
  } cases[] = {{21, 15, 8, 0.4, 3.5, 10, 7, 13, 5}, {21, 15, 8, 0.4, 3.5, 10, 7, 13, 12}, {16, 16, 3, 1.5, 2.0, 3, 12, 18, 3},
               {16, 16, 32, 0.2, 6.0, 8, 8, 12, 0}};
  for (const Case &c : cases) {
    const Indexed orig(c.w, c.h);
    Indexed p = orig;
    std::vector<double> sine(QM_WARP_TABLE_SIZE);
    std::vector<int32_t> dist(size_t(c.w) * c.h);
    qmRippleRequest req = RippleOf(p, sine, dist, c.waves, c.step, c.wavelength, c.cx, c.cy, c.maxd);
    ASSERT_EQ(RipplePixels(&req, c.level), 0);
    char op[160];
    std::snprintf(op, sizeof op, "ripple %d %.17g %.17g %d %d %d %d", c.waves, c.step, c.wavelength, c.cx, c.cy, c.maxd, c.level);
    SCOPED_TRACE(op);
    p.ExpectMoved(orig, RunReference(op, c.w, c.h, {}));
    if (c.level == 0) {
      EXPECT_EQ(p.px, orig.px); // amplitude 0
    }
    // Level -1 repeats the stored level with the same amplitude.
    Indexed again = orig;
    req.dst = again.px.data(), req.mask = again.mask.data(), req.alpha = again.alpha.data();
    ASSERT_EQ(RipplePixels(&req, -1), 0);
    EXPECT_EQ(again.px, p.px);
  }
}

} // namespace
