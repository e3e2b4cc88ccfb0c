// Distortions: the point-sampled mapping of every method against the Python reference of the
// formulas (effects_ref.py), the identities, parameter and size refusals, and smooth sampling
// of a uniform picture.
#include "graphics/distort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <vector>

#include "effects_ref.h"
#include "graphics/alpha_kernels.h"
#include "graphics/bitmap.h"
#include "runtime/errcodes.h"

namespace {

// A source whose pixels name themselves, and a result picture with the planes the engine wants.
struct DistortRun {
  std::vector<uint32_t> src, dst;
  std::vector<uint8_t> srcAlpha, dstMask, dstAlpha;
  qmDistortRequest req{};
  int32_t Prepare(int32_t method, const std::vector<double> &params, int32_t w, int32_t h, int32_t smooth, bool withAlpha = false) {
    src.resize(size_t(w) * h);
    for (size_t i = 0; i < src.size(); i++) src[i] = uint32_t(i + 1);
    req = {};
    req.method = method;
    req.paramCount = int32_t(params.size());
    for (size_t k = 0; k < params.size() && k < 16; k++) req.params[k] = params[k];
    req.src = {src.data(), w, h, w, nullptr, 0, nullptr, 0};
    if (withAlpha) {
      srcAlpha.assign(size_t(w) * h, 255);
      req.src.alpha = srcAlpha.data(), req.src.alphaBytesPerRow = w;
    }
    req.smooth = smooth;
    return PrepareDistortion(&req);
  }
  void Render() {
    const int32_t w = req.resultWidth, h = req.resultHeight;
    dst.assign(size_t(w) * h, 0xDEADBEEF);
    req.dst = {dst.data(), w, h, w, nullptr, 0, nullptr, 0};
    if (DistortResultHasMask(req.src, req.smooth)) {
      dstMask.assign(size_t(MaskBytesPerRow(w)) * h, 0xAA);
      req.dst.mask = dstMask.data(), req.dst.maskBytesPerRow = MaskBytesPerRow(w);
    }
    if (DistortResultHasAlpha(req.src, req.smooth)) {
      dstAlpha.assign(size_t(w) * h, 0xAA);
      req.dst.alpha = dstAlpha.data(), req.dst.alphaBytesPerRow = w;
    }
    ASSERT_EQ(RenderDistortion(&req), 0);
  }
  bool MaskAt(int32_t x, int32_t y) const { return GetMaskBit(&dstMask[size_t(y) * req.dst.maskBytesPerRow], x); }
};

bool NearInteger(double v) { return std::fabs(v - std::round(v)) < 1e-9; }

TEST(Distort, PointSamplingMatchesReference) {
  struct Case {
    const char *name;
    int32_t method;
    std::vector<double> params;
    int32_t w, h;
  } cases[] = {
      {"barrel identity", DISTORT_BARREL, {0, 0, 0, 1}, 16, 12},
      {"barrel", DISTORT_BARREL, {0.2, -0.1, 0.05, 0.9}, 16, 12},
      {"barrel centre", DISTORT_BARREL, {0.1, 0, 0, 1, 3.5, 2}, 16, 12},
      {"barrel x and y", DISTORT_BARREL, {0.1, 0, 0, 1, -0.2, 0.1, 0, 1.1}, 16, 12},
      {"perspective", DISTORT_PERSPECTIVE, {0, 0, 2.3, 1.1, 16, 0, 14.2, 3.7, 16, 12, 17.9, 10.4, 0, 12, 0.6, 13.3}, 16, 12},
      {"polar default", DISTORT_POLAR, {}, 16, 12},
      {"polar ring", DISTORT_POLAR, {9, 3}, 16, 12},
      {"polar full", DISTORT_POLAR, {10, 2, 7, 5, -90, 90}, 16, 12},
      {"polar farthest", DISTORT_POLAR, {-1}, 16, 12},
      {"arc", DISTORT_ARC, {60}, 16, 12},
      {"arc ring", DISTORT_ARC, {360}, 16, 12},
      {"arc radii", DISTORT_ARC, {120, 30, 20, 5}, 16, 12},
      {"arc top", DISTORT_ARC, {200, -15, 14}, 16, 12},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const auto ref = fxtest::RunDistortReference(c.method, c.params, c.w, c.h);
    ASSERT_GE(ref.size(), 5u);
    DistortRun run;
    ASSERT_EQ(run.Prepare(c.method, c.params, c.w, c.h, 0), int32_t(ref[0]));
    ASSERT_EQ(run.req.resultWidth, int32_t(ref[1]));
    ASSERT_EQ(run.req.resultHeight, int32_t(ref[2]));
    ASSERT_EQ(run.req.originX, int32_t(ref[3]));
    ASSERT_EQ(run.req.originY, int32_t(ref[4]));
    run.Render();
    ASSERT_TRUE(run.dstAlpha.empty());
    const int32_t rw = run.req.resultWidth;
    int32_t shown = 0;
    for (int32_t j = 0; j < run.req.resultHeight; j++)
      for (int32_t i = 0; i < rw; i++) {
        const size_t k = 5 + 3 * (size_t(j) * rw + i);
        const double u = ref[k], v = ref[k + 1], valid = ref[k + 2];
        // The perspective reference solves in rationals: positions on a pixel edge may round apart.
        if (c.method == DISTORT_PERSPECTIVE && (NearInteger(u) || NearInteger(v))) continue;
        const bool inside = valid > 0 && u > -1 && u < c.w && v > -1 && v < c.h;
        const uint32_t want = inside ? uint32_t(int32_t(v) * c.w + int32_t(u) + 1) : 0;
        ASSERT_EQ(run.dst[size_t(j) * rw + i], want) << i << "," << j << " u " << u << " v " << v;
        ASSERT_EQ(run.MaskAt(i, j), inside) << i << "," << j;
        shown += inside;
      }
    EXPECT_GT(shown, c.w * c.h / 4);
  }
}

TEST(Distort, IdentitiesKeepThePicture) {
  DistortRun barrel;
  ASSERT_EQ(barrel.Prepare(DISTORT_BARREL, {0, 0, 0, 1}, 7, 5, 0), 0);
  barrel.Render();
  EXPECT_EQ(barrel.dst, barrel.src);
  // The unchanged corners give a picture two pixels wider and higher, the old one at (1, 1).
  DistortRun persp;
  ASSERT_EQ(persp.Prepare(DISTORT_PERSPECTIVE, {0, 0, 0, 0, 7, 0, 7, 0, 7, 5, 7, 5, 0, 5, 0, 5}, 7, 5, 0), 0);
  ASSERT_EQ(persp.req.resultWidth, 9);
  ASSERT_EQ(persp.req.resultHeight, 7);
  persp.Render();
  for (int32_t j = 0; j < 7; j++)
    for (int32_t i = 0; i < 9; i++) {
      const bool inside = i >= 1 && i <= 7 && j >= 1 && j <= 5;
      EXPECT_EQ(persp.dst[size_t(j) * 9 + i], inside ? uint32_t((j - 1) * 7 + (i - 1) + 1) : 0u) << i << "," << j;
      EXPECT_EQ(persp.MaskAt(i, j), inside);
    }
  // Polar without parameters: a disc of radius min(w, h) / 2 in the middle of its own picture.
  DistortRun polar;
  ASSERT_EQ(polar.Prepare(DISTORT_POLAR, {}, 20, 10, 0), 0);
  EXPECT_EQ(polar.req.resultWidth, 12);
  EXPECT_EQ(polar.req.resultHeight, 12);
  EXPECT_EQ(polar.req.originX, -6);
}

TEST(Distort, BadParametersAndSizesAreRefusedBeforeAnything) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char *name;
    int32_t method;
    std::vector<double> params;
    int32_t err;
  } cases[] = {
      {"barrel with 5", DISTORT_BARREL, {0, 0, 0, 1, 2}, ERR_WRONGUSAGE},
      {"polar with 3", DISTORT_POLAR, {5, 1, 3}, ERR_WRONGUSAGE},
      {"polar inner above outer", DISTORT_POLAR, {5, 6}, ERR_WRONGUSAGE},
      {"polar negative inner", DISTORT_POLAR, {5, -1}, ERR_WRONGUSAGE},
      {"arc of 0", DISTORT_ARC, {0}, ERR_WRONGUSAGE},
      {"arc without top radius", DISTORT_ARC, {90, 0, 0}, ERR_WRONGUSAGE},
      {"arc with 5", DISTORT_ARC, {90, 0, 5, 1, 1}, ERR_WRONGUSAGE},
      {"perspective collapsed", DISTORT_PERSPECTIVE, {0, 0, 3, 3, 8, 0, 3, 3, 8, 6, 3, 3, 0, 6, 3, 3}, ERR_WRONGUSAGE},
      {"perspective short", DISTORT_PERSPECTIVE, {0, 0, 3, 3, 8, 0, 3, 3}, ERR_WRONGUSAGE},
      {"not a number", DISTORT_BARREL, {nan, 0, 0, 1}, ERR_WRONGUSAGE},
      {"unknown method", 5, {0, 0, 0, 1}, ERR_WRONGUSAGE},
      {"perspective huge", DISTORT_PERSPECTIVE, {0, 0, 0, 0, 8, 0, 1e6, 0, 8, 6, 1e6, 1e6, 0, 6, 0, 1e6}, ERR_MEM},
      {"polar huge", DISTORT_POLAR, {1e7, 0}, ERR_MEM},
      {"arc huge", DISTORT_ARC, {180, 0, 1e7}, ERR_MEM},
  };
  for (const Case &c : cases) {
    DistortRun run;
    EXPECT_EQ(run.Prepare(c.method, c.params, 8, 6, 0), c.err) << c.name;
    EXPECT_EQ(run.req.error, c.err) << c.name;
  }
}

// Arcs of very many turns once stepped through every quarter turn of their angle (or for ever,
// once a quarter turn no longer moved the angle). Such an arc passes all four directions, so its
// result is the square around the circle of the top radius (h - 1) / 2 + w / angle.
TEST(Distort, ArcsOfManyTurnsArePreparedAtOnce) {
  const int32_t w = 8, h = 6;
  for (double degrees : {1e12, 1e300}) {
    DistortRun run;
    ASSERT_EQ(run.Prepare(DISTORT_ARC, {degrees}, w, h, 0), 0) << degrees;
    const double radius = (h - 1) / 2.0 + w / (degrees * M_PI / 180);
    const double origin = std::floor(-radius - 0.5), side = std::ceil(radius - origin + 0.5);
    if (degrees < 1e100) { // far out the angles of the steps are arbitrary directions
      EXPECT_EQ(run.req.originX, origin) << degrees;
      EXPECT_EQ(run.req.resultWidth, side) << degrees;
      EXPECT_EQ(run.req.resultHeight, side) << degrees;
    }
    EXPECT_LE(run.req.resultWidth, side) << degrees;
    EXPECT_LE(run.req.resultHeight, side) << degrees;
    run.Render();
  }
}

TEST(Distort, SmoothSamplingKeepsAUniformPicture) {
  struct Case {
    int32_t method;
    std::vector<double> params;
  } cases[] = {{DISTORT_BARREL, {0.3, 0, 0, 0.8}},
               {DISTORT_PERSPECTIVE, {0, 0, 0, 0, 40, 0, 10, 2, 40, 30, 10, 8, 0, 30, 0, 10}},
               {DISTORT_PERSPECTIVE, {0, 0, 0, 0, 40, 0, 60, 0, 40, 30, 70, 50, 0, 30, 0, 45}},
               {DISTORT_POLAR, {}},
               {DISTORT_ARC, {90}}};
  for (const Case &c : cases) {
    DistortRun run;
    ASSERT_EQ(run.Prepare(c.method, c.params, 40, 30, 1), 0);
    for (auto &p : run.src) p = 0x00C08040;
    run.Render();
    ASSERT_TRUE(run.dstMask.empty()); // smooth without planes: an alpha channel
    ASSERT_FALSE(run.dstAlpha.empty());
    int32_t opaque = 0;
    for (size_t k = 0; k < run.dst.size(); k++) {
      if (run.dstAlpha[k] == 0) continue;
      ASSERT_EQ(run.dst[k], 0x00C08040u) << "method " << c.method << " at " << k;
      opaque += run.dstAlpha[k] == 255;
    }
    EXPECT_GT(opaque, 40) << "method " << c.method;
  }
}

// A lens of magnification 2 (k4 = 0.5) keeps every ellipse below the size that is averaged, so
// each pixel is the bilinear mix of its four neighbours: u = x / 2 + cx / 2 - 1/4 with quarter
// fractions, so all sums are exact. The expected words are that mix written out: weights from
// the fractions, each neighbour times its opacity, outside ones left out, channels divided by
// the opacity sum and rounded. Pixels in the middle, on the edges (neighbours outside) and all
// three kinds of source plane.
TEST(Distort, SmoothMagnificationIsTheBilinearMix) {
  const int32_t w = 9, h = 7;
  for (int planes = 0; planes < 3; planes++) {
    SCOPED_TRACE(planes == 0 ? "no planes" : planes == 1 ? "alpha" : "mask");
    DistortRun run;
    ASSERT_EQ(run.Prepare(DISTORT_BARREL, {0, 0, 0, 0.5}, w, h, 1, planes == 1), 0);
    run.src = fxtest::Fixture(w, h, 11);
    for (size_t k = 0; k < run.src.size(); k++) run.src[k] |= uint32_t(k * 37 % 256) << 24;
    run.req.src.pixels = run.src.data();
    std::vector<uint8_t> mask(size_t(MaskBytesPerRow(w)) * h);
    if (planes == 1)
      for (size_t k = 0; k < run.srcAlpha.size(); k++) run.srcAlpha[k] = uint8_t(k * 53 % 256);
    if (planes == 2) {
      for (size_t k = 0; k < mask.size(); k++) mask[k] = uint8_t(k * 0x9D + 0x35);
      run.req.src.mask = mask.data(), run.req.src.maskBytesPerRow = MaskBytesPerRow(w);
    }
    auto opacity = [&](int32_t x, int32_t y) -> double {
      if (planes == 1) return run.srcAlpha[size_t(y) * w + x];
      if (planes == 2) return GetMaskBit(&mask[size_t(y) * MaskBytesPerRow(w)], x) ? 255 : 0;
      return 255;
    };
    run.Render();
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
    for (int32_t j = 0; j < h; j++)
      for (int32_t i = 0; i < w; i++) {
        const double u = (i + 0.5 - cx) * 0.5 + cx - 0.5, v = (j + 0.5 - cy) * 0.5 + cy - 0.5;
        const int32_t x0 = int32_t(std::floor(u)), y0 = int32_t(std::floor(v));
        const double tx = u - x0, ty = v - y0;
        double sums[4] = {0, 0, 0, 0}, opacitySum = 0;
        for (int n = 0; n < 4; n++) {
          const int32_t x = x0 + n % 2, y = y0 + n / 2;
          if (x < 0 || y < 0 || x >= w || y >= h) continue;
          const double weight = (n % 2 ? tx : 1 - tx) * (n / 2 ? ty : 1 - ty), a = opacity(x, y) * weight;
          for (int b = 0; b < 4; b++) sums[b] += a * double((run.src[size_t(y) * w + x] >> (8 * b)) & 0xFF);
          opacitySum += a;
        }
        uint32_t want = 0;
        for (int b = 0; b < 4 && opacitySum > 0; b++) want |= uint32_t(std::min(255.0, sums[b] / opacitySum + 0.5)) << (8 * b);
        const int32_t wantOpacity = int32_t(std::min(255.0, opacitySum + 0.5));
        ASSERT_EQ(run.dst[size_t(j) * w + i], want) << i << "," << j;
        if (planes == 2) ASSERT_EQ(run.MaskAt(i, j), wantOpacity >= 128) << i << "," << j;
        else ASSERT_EQ(run.dstAlpha[size_t(j) * w + i], wantOpacity) << i << "," << j;
      }
  }
}

// Shrinking by 3 (k4 = 3) gives every pixel the same ellipse, a circle: derivatives 3 and 0,
// alpha = gamma = 10, beta = 0, F = 100, so rows and columns reach sqrt(10) + 1 either side and
// Q = 10.24 (du^2 + dv^2). The expected pixel is that average written out with Q evaluated
// directly; the engine steps Q along each row by differences, which may put a position whose Q
// lies within a rounding of a whole number on the other table entry, so bytes may differ by 1.
// (The centre is off the pixel grid: with whole offsets Q would be 102.4 times a whole number and
// land on such boundaries, 1024 among them, all the time.) Pixels whose circle lies partly or
// wholly outside the source show the transparent black there.
TEST(Distort, SmoothReductionIsTheEllipticalAverage) {
  const int32_t w = 24, h = 18;
  DistortRun run;
  const double cx = 11.3, cy = 8.2;
  ASSERT_EQ(run.Prepare(DISTORT_BARREL, {0, 0, 0, 3, cx, cy}, w, h, 1, true), 0);
  run.src = fxtest::Fixture(w, h, 5);
  run.req.src.pixels = run.src.data();
  for (size_t k = 0; k < run.srcAlpha.size(); k++) run.srcAlpha[k] = uint8_t(255 - k * 29 % 200);
  run.Render();
  const double reach = std::sqrt(10.0) + 1, scale = 1024.0 / 100;
  int32_t averaged = 0;
  for (int32_t j = 0; j < h; j++)
    for (int32_t i = 0; i < w; i++) {
      const double u0 = 3 * (i + 0.5 - cx) + cx - 0.5, v0 = 3 * (j + 0.5 - cy) + cy - 0.5;
      double sums[4] = {0, 0, 0, 0}, opacitySum = 0, total = 0;
      for (int32_t v = int32_t(std::ceil(v0 - reach)); v <= int32_t(std::floor(v0 + reach)); v++)
        for (int32_t u = int32_t(std::ceil(u0 - reach)); u <= int32_t(std::floor(u0 + reach)); u++) {
          const double Q = 10 * scale * ((u - u0) * (u - u0) + (v - v0) * (v - v0));
          if (Q >= 1024) continue;
          const double weight = std::exp(-std::floor(Q) * 0.0027076061740622863);
          total += weight;
          if (u < 0 || v < 0 || u >= w || v >= h) continue;
          const double a = weight * run.srcAlpha[size_t(v) * w + u];
          for (int b = 0; b < 4; b++) sums[b] += a * double((run.src[size_t(v) * w + u] >> (8 * b)) & 0xFF);
          opacitySum += a;
        }
      const uint32_t got = run.dst[size_t(j) * w + i];
      for (int b = 0; b < 4; b++) {
        const int32_t want = opacitySum > 0 ? int32_t(std::min(255.0, sums[b] / opacitySum + 0.5)) : 0;
        ASSERT_NEAR(int32_t((got >> (8 * b)) & 0xFF), want, 1) << i << "," << j << " byte " << b;
      }
      ASSERT_NEAR(run.dstAlpha[size_t(j) * w + i], int32_t(std::min(255.0, opacitySum / total + 0.5)), 1) << i << "," << j;
      averaged += opacitySum > 0;
    }
  EXPECT_GT(averaged, w * h / 8); // the middle third each way, and its rim
}

} // namespace
