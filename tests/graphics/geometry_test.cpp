// Flips, scaling and affine transforms.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/flip.h"
#include "graphics/pixelformat.h"
#include "graphics/scale.h"
#include "graphics/transform.h"
#include "runtime/errcodes.h"

namespace {

// A scale request over dense buffers with tables sized for the destination.
struct ScaleFixture {
  std::vector<uint32_t> src, dst;
  std::vector<uint8_t> srcAlpha, dstAlpha, srcMask, dstMask;
  qmScaleBuffers buffers{};
  qmScaleRequest req{};

  ScaleFixture(int sw, int sh, int dw, int dh, int smooth) {
    src.resize(size_t(sw) * sh);
    dst.assign(size_t(dw) * dh, 0xDEADBEEF);
    srcAlpha.resize(size_t(sw) * sh);
    dstAlpha.assign(size_t(dw) * dh, 0);
    srcMask.assign(size_t(sw / 8 + 1) * sh, 0);
    dstMask.assign(size_t(dw / 8 + 1) * dh, 0);
    EXPECT_EQ(EnsureScaleBuffers(&buffers, dw, dh), 0);
    req = qmScaleRequest{src.data(), dst.data(), srcMask.data(), dstMask.data(), srcAlpha.data(), dstAlpha.data(),
                         0, sw, sh, dw, dh, sw, dw, sw / 8 + 1, dw / 8 + 1, sw, dw, smooth, 11, 4, &buffers};
  }
  ~ScaleFixture() { FreeScaleBuffers(&buffers); }
};

} // namespace

TEST(Flip, VerticalOddHeightKeepsMiddleRow) {
  uint32_t px[3 * 4] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
  uint8_t mask[3 * 2] = {0x80, 0, 0x40, 0, 0x20, 0};
  uint8_t alpha[3 * 4] = {1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0};
  qmFlipRequest req{px, 3, 3, 4, mask, 2, alpha, 4, 0, 4, nullptr};
  FlipPixels(&req);
  const uint32_t want[12] = {7, 8, 9, 0, 4, 5, 6, 0, 1, 2, 3, 0};
  for (int i = 0; i < 12; i++) EXPECT_EQ(px[i], want[i]) << i;
  EXPECT_EQ(mask[0], 0x20);
  EXPECT_EQ(mask[2], 0x40);
  EXPECT_EQ(mask[4], 0x80);
  EXPECT_EQ(alpha[0], 3);
  EXPECT_EQ(alpha[8], 1);
}

TEST(Flip, HorizontalOddWidthAndMaskPadding) {
  // Width 10, mask rows of 2 bytes: pixel 9's bit moves to pixel 0, padding bits stay put.
  uint32_t px[2 * 12];
  for (int i = 0; i < 24; i++) px[i] = uint32_t(i);
  uint8_t mask[2 * 2] = {0x00, 0x40 | 0x01, 0x80, 0x00}; // row 0: pixel 9 + a padding bit
  uint8_t alpha[2 * 12];
  for (int i = 0; i < 24; i++) alpha[i] = uint8_t(i);
  uint8_t scratch[2];
  qmFlipRequest req{px, 10, 2, 12, mask, 2, alpha, 12, 1, 4, scratch};
  FlipPixels(&req);
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 10; x++) {
      EXPECT_EQ(px[y * 12 + x], uint32_t(y * 12 + 9 - x));
      EXPECT_EQ(alpha[y * 12 + x], uint8_t(y * 12 + 9 - x));
    }
  EXPECT_EQ(px[10], 10u); // beyond the width: untouched
  EXPECT_EQ(mask[0], 0x80);
  EXPECT_EQ(mask[1], 0x01);
  EXPECT_EQ(mask[2], 0x00);
  EXPECT_EQ(mask[3], 0x40);

  // Pixels of another depth stay; planes still flip.
  req.bytesPerPixel = 2;
  FlipPixels(&req);
  EXPECT_EQ(px[0], 9u);
  EXPECT_EQ(mask[0], 0x00);
}

TEST(Scale, NearestColumnsAndRows) {
  ScaleFixture f(3, 2, 6, 5, 0);
  for (int i = 0; i < 6; i++) f.src[i] = uint32_t(i), f.srcAlpha[i] = uint8_t(10 + i);
  f.srcMask[0] = 0xA0; // row 0: pixels 0 and 2
  f.srcMask[1] = 0x40; // row 1: pixel 1
  ScalePixels(&f.req);
  // Columns 0,0,1,1,2,2 (step 32768); rows by the float accumulator 0, 0.4, 0.8, 1.2, 1.6.
  const int rows[5] = {0, 0, 0, 1, 1};
  for (int j = 0; j < 5; j++)
    for (int i = 0; i < 6; i++) {
      int s = rows[j] * 3 + i / 2;
      EXPECT_EQ(f.dst[j * 6 + i], uint32_t(s)) << i << "," << j;
      EXPECT_EQ(f.dstAlpha[j * 6 + i], 10 + s);
      EXPECT_EQ(GetMaskBit(&f.dstMask[j * 1], i), GetMaskBit(&f.srcMask[rows[j]], i / 2));
    }
}

TEST(Scale, SmoothGoldenRow) {
  ScaleFixture f(2, 1, 4, 1, 1);
  f.src[0] = 0x00000000;
  f.src[1] = 0xFFFFFFFF;
  f.srcAlpha[0] = 0;
  f.srcAlpha[1] = 255;
  ScalePixels(&f.req);
  const uint32_t want[4] = {0, 63, 127, 191};
  for (int i = 0; i < 4; i++) {
    uint32_t c = want[i];
    EXPECT_EQ(f.dst[i], (c << 24) | (c << 16) | (c << 8)) << i; // the fourth byte is 0
    EXPECT_EQ(f.dstAlpha[i], c);
  }
}

TEST(Scale, OnePixelSourcesStayInside) {
  // A 1 x 1 source to many sizes: every destination pixel is the one source pixel (ASan
  // guards the x + 1 and y + 1 reads).
  for (int smooth = 0; smooth < 2; smooth++)
    for (int d : {1, 2, 7, 33}) {
      SCOPED_TRACE(testing::Message() << "smooth " << smooth << " size " << d);
      ScaleFixture f(1, 1, d, d + 1, smooth);
      f.src[0] = 0x11223300;
      f.srcAlpha[0] = 77;
      f.srcMask[0] = 0x80;
      ScalePixels(&f.req);
      for (int i = 0; i < d * (d + 1); i++) {
        ASSERT_EQ(f.dst[i], 0x11223300u);
        ASSERT_EQ(f.dstAlpha[i], 77);
      }
      for (int j = 0; j < d + 1; j++)
        for (int i = 0; i < d; i++) ASSERT_TRUE(GetMaskBit(&f.dstMask[j * (d / 8 + 1)], i));
    }
}

TEST(Scale, MaskOnlyWhenNoPixels) {
  ScaleFixture f(4, 1, 8, 1, 1);
  f.req.srcPixels = nullptr;
  f.srcMask[0] = 0x50; // pixels 1 and 3
  ScalePixels(&f.req);
  EXPECT_EQ(f.dstMask[0], 0x33);
  EXPECT_EQ(f.dst[0], 0xDEADBEEFu); // pixels untouched
}

namespace {

struct TransformFixture {
  std::vector<uint32_t> src, dst;
  std::vector<uint8_t> srcMask, dstMask, srcAlpha, dstAlpha;
  qmTransformRequest req{};
  int dw = 0, dh = 0;

  // Builds the bounding box of the matrix and the offsets that put it at (0, 0).
  TransformFixture(int sw, int sh, double a, double b, double c, double d, int smooth) {
    double xs[4] = {0, double(sw), 0, double(sw)}, ys[4] = {0, 0, double(sh), double(sh)};
    double minX = 1e30, maxX = -1e30, minY = 1e30, maxY = -1e30;
    for (int i = 0; i < 4; i++) {
      minX = std::min(minX, a * xs[i] + c * ys[i]);
      maxX = std::max(maxX, a * xs[i] + c * ys[i]);
      minY = std::min(minY, b * xs[i] + d * ys[i]);
      maxY = std::max(maxY, b * xs[i] + d * ys[i]);
    }
    dw = std::max(1, int(std::ceil(maxX - minX - 1e-9)));
    dh = std::max(1, int(std::ceil(maxY - minY - 1e-9)));
    src.resize(size_t(sw) * sh);
    for (size_t i = 0; i < src.size(); i++) src[i] = uint32_t(i + 1) << 8;
    dst.assign(size_t(dw) * dh, 0);
    srcMask.assign(size_t(sw / 8 + 1) * sh, 0xFF);
    dstMask.assign(size_t(dw / 8 + 1) * dh, 0);
    srcAlpha.assign(size_t(sw) * sh, 200);
    dstAlpha.assign(size_t(dw) * dh, 0);
    req = qmTransformRequest{src.data(), nullptr,  nullptr, dst.data(), dstMask.data(), nullptr, sw, sh, dw, dh,
                             sw,         sw / 8 + 1, sw,     dw,         dw / 8 + 1,     dw,      a,  b,  c,  d,
                             -minX,      -minY,    smooth, 11,         4};
  }
};

} // namespace

TEST(Transform, QuarterTurnFillsEveryPixel) {
  for (int smooth = 0; smooth < 2; smooth++) {
    SCOPED_TRACE(smooth);
    TransformFixture f(7, 4, 0, 1, -1, 0, smooth); // 90 degrees
    ASSERT_EQ(f.dw, 4);
    ASSERT_EQ(f.dh, 7);
    ASSERT_EQ(TransformPixels(&f.req), 0);
    for (int y = 0; y < f.dh; y++)
      for (int x = 0; x < f.dw; x++) {
        EXPECT_NE(f.dst[y * f.dw + x], 0u) << x << "," << y;
        EXPECT_TRUE(GetMaskBit(&f.dstMask[y * (f.dw / 8 + 1)], x)) << x << "," << y;
      }
    if (!smooth) {
      // Destination (x, y) shows source (y, 3 - x).
      for (int y = 0; y < f.dh; y++)
        for (int x = 0; x < f.dw; x++) EXPECT_EQ(f.dst[y * f.dw + x], f.src[(3 - x) * 7 + y]) << x << "," << y;
    }
  }
}

TEST(Transform, IdentityAndHalfScale) {
  TransformFixture id(5, 3, 1, 0, 0, 1, 1);
  ASSERT_EQ(TransformPixels(&id.req), 0);
  for (int i = 0; i < 15; i++) EXPECT_EQ(id.dst[i], id.src[i]) << i;

  // Scaling down: each destination pixel shows the source pixel under its centre.
  for (int smooth = 0; smooth < 2; smooth++) {
    TransformFixture quarter(40, 40, 0.25, 0, 0, 0.25, smooth);
    ASSERT_EQ(quarter.dw, 10);
    ASSERT_EQ(TransformPixels(&quarter.req), 0);
    if (!smooth) {
      EXPECT_EQ(quarter.dst[0], quarter.src[2 * 40 + 2]);
      EXPECT_EQ(quarter.dst[99], quarter.src[38 * 40 + 38]);
    }
    for (uint32_t p : quarter.dst) EXPECT_NE(p, 0u);
  }
}

TEST(Transform, SingularMatrixDrawsNothing) {
  struct Case {
    double a, b, c, d;
  } cases[] = {{1, 1, 1, 1}, {0, 0, 0, 0}, {2, 4, 1, 2}, {NAN, 0, 0, 1}, {INFINITY, 0, 0, 1}};
  for (const Case &c : cases) {
    TransformFixture f(4, 4, 1, 0, 0, 1, 0);
    f.req.a = c.a, f.req.b = c.b, f.req.c = c.c, f.req.d = c.d;
    EXPECT_EQ(TransformPixels(&f.req), ERR_BADDIMENSIONS);
    EXPECT_EQ(TransformPixelsScalar(&f.req), ERR_BADDIMENSIONS);
    for (uint32_t p : f.dst) EXPECT_EQ(p, 0u);
  }
}

TEST(Transform, MaskedNeighboursAndAlpha) {
  // Smooth with a source mask: invisible neighbours borrow the first visible colour,
  // so a visible pixel next to an invisible one keeps its own colour.
  TransformFixture f(2, 1, 1, 0, 0, 1, 1);
  f.src[0] = 0x10203000;
  f.src[1] = 0xF0F0F000;
  f.srcMask[0] = 0x80; // only pixel 0 visible
  f.req.srcMask = f.srcMask.data();
  f.req.e = -0.5; // destination pixel 0 maps to 0.5: halfway between the two source pixels
  f.req.dstWidth = 1;
  ASSERT_EQ(TransformPixels(&f.req), 0);
  EXPECT_EQ(f.dst[0], 0x10203000u);
  EXPECT_TRUE(GetMaskBit(f.dstMask.data(), 0));

  // All four neighbours invisible: pixel and bit stay clear.
  TransformFixture g(2, 2, 1, 0, 0, 1, 1);
  g.srcMask.assign(g.srcMask.size(), 0);
  g.req.srcMask = g.srcMask.data();
  ASSERT_EQ(TransformPixels(&g.req), 0);
  for (uint32_t p : g.dst) EXPECT_EQ(p, 0u);
  EXPECT_EQ(g.dstMask[0], 0);

  TransformFixture h(3, 3, 0, 1, -1, 0, 1);
  h.req.srcAlpha = h.srcAlpha.data();
  h.req.dstAlpha = h.dstAlpha.data();
  ASSERT_EQ(TransformPixels(&h.req), 0);
  for (uint8_t a : h.dstAlpha) EXPECT_EQ(a, 200);
}

// Smooth transforms weigh the four source pixels around the point each destination pixel itself
// (not its centre) maps to, every neighbour clamped into the source; nearest ones take the pixel
// under the centre. The expected pictures follow that rule written out here, per channel and
// for the alpha plane, over every pixel the transform writes.
TEST(Transform, SmoothSamplesWhereEachPixelMaps) {
  struct Case {
    const char *name;
    int sw, sh;
    double a, b, c, d;
  } cases[] = {
      {"double size", 5, 4, 2, 0, 0, 2},
      {"quarter turn", 7, 4, 0, 1, -1, 0},
      {"half turn", 3, 5, -1, 0, 0, -1},
      {"wider and sheared", 4, 3, 3, 0, 0.5, 1},
      {"turned by 30 degrees", 6, 5, 0.8660254037844387, 0.5, -0.5, 0.8660254037844387},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TransformFixture f(c.sw, c.sh, c.a, c.b, c.c, c.d, 1);
    for (size_t i = 0; i < f.src.size(); i++) {
      f.src[i] = uint32_t(i * 37 % 251) << 16 | uint32_t(i * 91 % 256) << 8 | uint32_t(255 - i * 13 % 256);
      f.srcAlpha[i] = uint8_t(i * 53 % 256);
    }
    f.req.srcAlpha = f.srcAlpha.data();
    f.req.dstAlpha = f.dstAlpha.data();
    f.req.format = PIXFMT_XRGB;
    std::vector<uint32_t> scalar(f.dst.size(), 0);
    ASSERT_EQ(TransformPixels(&f.req), 0);
    const std::vector<uint32_t> vec = f.dst;
    f.req.dstPixels = scalar.data();
    ASSERT_EQ(TransformPixelsScalar(&f.req), 0);
    EXPECT_EQ(vec, scalar) << "the vector path and the one-pixel path agree";
    const double det = c.a * c.d - c.c * c.b;
    const double ia = c.d / det, ic = -c.c / det, ib = -c.b / det, id = c.a / det;
    auto clampTo = [](double v, int hi) { return int(std::min(std::max(v, 0.0), double(hi))); };
    auto mix = [](double c00, double c10, double c01, double c11, double fx, double fy) {
      return uint32_t((c00 * (1 - fx) + c10 * fx) * (1 - fy) + (c01 * (1 - fx) + c11 * fx) * fy + 0.5);
    };
    int written = 0;
    for (int y = 0; y < f.dh; y++)
      for (int x = 0; x < f.dw; x++) {
        if (!GetMaskBit(&f.dstMask[y * (f.dw / 8 + 1)], x)) continue;
        written++;
        const double sx = ia * (x - f.req.e) + ic * (y - f.req.f), sy = ib * (x - f.req.e) + id * (y - f.req.f);
        const double fx = sx - std::floor(sx), fy = sy - std::floor(sy);
        const int x0 = clampTo(std::floor(sx), c.sw - 1), x1 = clampTo(std::floor(sx) + 1, c.sw - 1);
        const int y0 = clampTo(std::floor(sy), c.sh - 1), y1 = clampTo(std::floor(sy) + 1, c.sh - 1);
        const int k00 = y0 * c.sw + x0, k10 = y0 * c.sw + x1, k01 = y1 * c.sw + x0, k11 = y1 * c.sw + x1;
        uint32_t want = 0;
        for (int shift : {0, 8, 16})
          want |= mix(f.src[k00] >> shift & 0xFF, f.src[k10] >> shift & 0xFF, f.src[k01] >> shift & 0xFF,
                      f.src[k11] >> shift & 0xFF, fx, fy)
                  << shift;
        ASSERT_EQ(vec[y * f.dw + x] & 0xFFFFFF, want) << x << "," << y;
        ASSERT_EQ(f.dstAlpha[y * f.dw + x],
                  mix(f.srcAlpha[k00], f.srcAlpha[k10], f.srcAlpha[k01], f.srcAlpha[k11], fx, fy))
            << x << "," << y;
      }
    EXPECT_GT(written, c.sw * c.sh / 2);
  }

  // A row black then white at twice its size: the first pixel of each pair is a source pixel,
  // the second lies halfway, and past the last pixel the edge repeats.
  TransformFixture row(2, 1, 2, 0, 0, 2, 1);
  row.src = {0x000000, 0xFFFFFF};
  row.req.format = PIXFMT_XRGB;
  ASSERT_EQ(TransformPixels(&row.req), 0);
  for (int y = 0; y < 2; y++)
    EXPECT_EQ(std::vector<uint32_t>(row.dst.begin() + y * 4, row.dst.begin() + y * 4 + 4),
              (std::vector<uint32_t>{0x000000, 0x808080, 0xFFFFFF, 0xFFFFFF}))
        << "row " << y;
}
