// Whole-picture operations: copies, turned and scaled copies with their planes, flips,
// colour-key masks, against per-pixel models.
#include <gtest/gtest.h>

#include <vector>

#include <cmath>
#include <cstdint>

#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "graphics/bitmapops.h"
#include "graphics/pixelformat.h"
#include "runtime/errcodes.h"

namespace {

uint32_t Get(const qmBitmap *b, int x, int y) { return PixelToCanonical(b->pixelFormat, b->pixels[y * b->bytesPerRow / 4 + x]); }
void Put(qmBitmap *b, int x, int y, uint32_t rgb) { b->pixels[y * b->bytesPerRow / 4 + x] = CanonicalToPixel(b->pixelFormat, rgb); }
bool Bit(const qmMask *m, int x, int y) { return GetMaskBit(m->memory + y * m->bytesPerRow, x); }

// A picture whose every pixel names its position.
qmBitmap *Numbered(int w, int h) {
  qmBitmap *b = AllocBitmap(w, h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) Put(b, x, y, uint32_t(y << 8 | x));
  return b;
}

TEST(BitmapOps, CopyTakesTheRectangleWithItsPlanes) {
  qmBitmap *b = Numbered(20, 10);
  qmMask *m = AllocMask(20, 10, 1);
  qmAlphaChannel *a = AllocAlphaChannel(20, 10, 1);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 20; x++) {
      SetMaskBit(m->memory + y * m->bytesPerRow, x, (x + y) % 3 == 0);
      a->memory[y * a->bytesPerRow + x] = uint8_t(x * 10 + y);
    }
  qmBitmap *cb = nullptr;
  qmMask *cm = nullptr;
  qmAlphaChannel *ca = nullptr;
  ASSERT_EQ(CopyBitmap(b, m, a, 5, 2, 9, 6, 0, &cb, &cm, &ca), 0u);
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 9; x++) {
      EXPECT_EQ(Get(cb, x, y), uint32_t((y + 2) << 8 | (x + 5)));
      EXPECT_EQ(Bit(cm, x, y), (x + 5 + y + 2) % 3 == 0);
      EXPECT_EQ(ca->memory[y * ca->bytesPerRow + x], uint8_t((x + 5) * 10 + y + 2));
    }
  FreeBitmap(cb), FreeMask(cm), FreeAlphaChannel(ca);
  // A size beyond the picture limit makes nothing.
  EXPECT_EQ(CopyBitmap(b, m, nullptr, 0, 0, 40000, 2, 0, &cb, &cm, nullptr), static_cast<uint32_t>(ERR_MEM));
  FreeBitmap(b), FreeMask(m), FreeAlphaChannel(a);
}

// A picture with a side past what commands make (one read from a file) is copied whole.
TEST(BitmapOps, CopyOfALongPictureKeepsItsSize) {
  qmBitmap *b = AllocBitmap(40000, 1);
  qmAlphaChannel *a = AllocAlphaChannel(40000, 1, 1);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(a, nullptr);
  for (int x = 0; x < 40000; x++) b->pixels[x] = uint32_t(x), a->memory[x] = uint8_t(x);
  qmBitmap *cb = nullptr;
  qmAlphaChannel *ca = nullptr;
  ASSERT_EQ(CopyBitmap(b, nullptr, a, 0, 0, 40000, 1, 0, &cb, nullptr, &ca), 0u);
  ASSERT_NE(cb, nullptr);
  EXPECT_EQ(cb->width, 40000);
  EXPECT_EQ(cb->pixels[39999], 39999u);
  EXPECT_EQ(ca->memory[39999], uint8_t(39999));
  // Larger than its source and than any made picture: nothing.
  EXPECT_EQ(CopyBitmap(b, nullptr, nullptr, 0, 0, 40001, 1, 0, &cb, nullptr, nullptr), static_cast<uint32_t>(ERR_MEM));
  FreeBitmap(cb), FreeAlphaChannel(ca);
  FreeBitmap(b), FreeAlphaChannel(a);
}

TEST(BitmapOps, QuarterTurnSwapsTheSidesAndKeepsEveryPixel) {
  qmBitmap *b = Numbered(6, 4);
  const double turn[4] = {0, 1, -1, 0};  // x' = -y, y' = x
  qmTransformOutputs out{};
  ASSERT_EQ(TransformBitmap(b, nullptr, nullptr, 0, 0, 6, 4, turn, 0, &out), 0u);
  ASSERT_NE(out.bitmap, nullptr);
  ASSERT_NE(out.mask, nullptr);  // always made, so the outside stays transparent
  EXPECT_EQ(out.alpha, nullptr);
  ASSERT_EQ(out.bitmap->width, 4);
  ASSERT_EQ(out.bitmap->height, 6);
  EXPECT_DOUBLE_EQ(out.offsetX, -4);
  EXPECT_DOUBLE_EQ(out.offsetY, 0);
  // The centre (x + .5, y + .5) turns to (-y - .5, x + .5), which is (3.5 - y, x + .5) past the offset.
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 6; x++) {
      EXPECT_EQ(Get(out.bitmap, 3 - y, x), uint32_t(y << 8 | x)) << x << "," << y;
      EXPECT_TRUE(Bit(out.mask, 3 - y, x));
    }
  FreeBitmap(out.bitmap), FreeMask(out.mask);
  // 45 degrees: the corners of the larger box are outside the picture and stay transparent.
  const double c = 0.7071067811865476;
  const double eighth[4] = {c, c, -c, c};
  ASSERT_EQ(TransformBitmap(b, nullptr, nullptr, 0, 0, 6, 4, eighth, 1, &out), 0u);
  EXPECT_FALSE(Bit(out.mask, 0, 0));
  EXPECT_FALSE(Bit(out.mask, out.mask->width - 1, out.mask->height - 1));
  EXPECT_TRUE(Bit(out.mask, out.mask->width / 2, out.mask->height / 2));
  FreeBitmap(out.bitmap), FreeMask(out.mask);
  FreeBitmap(b);
}

TEST(BitmapOps, TransformRefusals) {
  qmBitmap *b = Numbered(4, 4);
  qmTransformOutputs out{};
  const struct {
    const char *name;
    double m[4];
    uint32_t code;
  } cases[] = {
      {"singular", {1, 2, 2, 4}, ERR_WRONGUSAGE},
      {"zero", {0, 0, 0, 0}, ERR_WRONGUSAGE},
      {"not a number", {NAN, 0, 0, 1}, ERR_WRONGUSAGE},
      {"larger than any picture", {1e7, 0, 0, 1}, ERR_MEM},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(TransformBitmap(b, nullptr, nullptr, 0, 0, 4, 4, c.m, 0, &out), c.code) << c.name;
    EXPECT_EQ(out.bitmap, nullptr) << c.name;
  }
  FreeBitmap(b);
}

// Turning straight onto a target gives the pixels of the turned copy then blended (alpha) or
// copied through its mask (opaque), inside any rectangle of the result, wherever it lands.
TEST(BitmapOps, TurnOntoATargetEqualsTheTurnedCopyBlended) {
  const int w = 37, h = 23, tw = 64, th = 48;
  qmBitmap *src = AllocBitmap(w, h);
  qmAlphaChannel *alpha = AllocAlphaChannel(w, h, 1);
  uint32_t seed = 7;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      seed = seed * 1664525u + 1013904223u;
      Put(src, x, y, seed >> 8);
      // Every kind of alpha: none, full, partial.
      alpha->memory[y * alpha->bytesPerRow + x] = uint8_t((x * 7 + y * 13) % 5 == 0 ? 0 : (x + y) % 4 == 0 ? 255 : seed >> 24);
    }
  const double c30 = std::cos(M_PI / 6), s30 = std::sin(M_PI / 6), c = 0.7071067811865476;
  // A quarter turn as degrees give it: cos 270 degrees is about -1.8e-16, not 0.
  const double c270 = std::cos(1.5 * M_PI), s270 = std::sin(1.5 * M_PI);
  const struct {
    const char *name;
    double m[4];
  } turns[] = {{"30 degrees", {c30, s30, -s30, c30}},
               {"quarter", {0, 1, -1, 0}},
               {"quarter from degrees", {c270, s270, -s270, c270}},
               {"quarter from degrees, doubled", {2 * c270, 2 * s270, -2 * s270, 2 * c270}},
               {"45 degrees, larger", {1.3 * c, 1.3 * c, -1.3 * c, 1.3 * c}},
               {"mirrored", {-1, 0, 0, 1}},
               {"sheared, smaller", {0.6, 0.2, 0.5, 0.7}}};
  // Rectangles of the result: whole at an offset, cut on every side, partly off the target.
  const qmBlitRect rects[] = {{0, 0, 3, 2, 1000, 1000}, {5, 4, 9, 11, 17, 9}, {0, 0, -6, -3, 1000, 1000}, {2, 1, 40, 30, 1000, 1000}};
  for (const auto &t : turns)
    for (int smooth = 0; smooth < 2; smooth++)
      for (int withAlpha = 0; withAlpha < 2; withAlpha++)
        for (const qmBlitRect &rect : rects) {
          const qmAlphaChannel *a = withAlpha ? alpha : nullptr;
          qmTransformOutputs copy{};
          ASSERT_EQ(TransformBitmap(src, nullptr, a, 0, 0, w, h, t.m, smooth, &copy), 0u) << t.name;
          // The rectangle cut to the result and the target, as a blit does.
          qmBlitRect r = rect;
          ASSERT_TRUE(ClipBlitRect(nullptr, &r, copy.bitmap->width, copy.bitmap->height, tw, th, 0)) << t.name;
          qmBitmap *expected = AllocBitmap(tw, th), *got = AllocBitmap(tw, th);
          for (int y = 0; y < th; y++)
            for (int x = 0; x < tw; x++) Put(expected, x, y, uint32_t(x * 3 + y * 5) * 0x010101u), Put(got, x, y, uint32_t(x * 3 + y * 5) * 0x010101u);
          if (a) BltAlphaBitmap(copy.bitmap, r.srcX, r.srcY, expected, r.dstX, r.dstY, r.width, r.height, copy.alpha);
          else BltMask(copy.bitmap, r.srcX, r.srcY, expected, r.dstX, r.dstY, r.width, r.height, copy.mask);
          ASSERT_EQ(TransformBitmapOnto(src, a, w, h, t.m, smooth, got, &r), 0u) << t.name;
          int differ = 0;
          for (int y = 0; y < th; y++)
            for (int x = 0; x < tw; x++) differ += Get(got, x, y) != Get(expected, x, y);
          EXPECT_EQ(differ, 0) << t.name << " smooth " << smooth << " alpha " << withAlpha << " rect " << rect.srcX << "," << rect.srcY;
          FreeBitmap(expected), FreeBitmap(got);
          FreeBitmap(copy.bitmap), FreeMask(copy.mask), FreeAlphaChannel(copy.alpha);
        }
  // A matrix without an inverse draws nothing.
  qmBitmap *target = AllocBitmap(tw, th);
  const double singular[4] = {1, 2, 2, 4};
  const qmBlitRect whole{0, 0, 0, 0, tw, th};
  EXPECT_EQ(TransformBitmapOnto(src, alpha, w, h, singular, 0, target, &whole), static_cast<uint32_t>(ERR_WRONGUSAGE));
  FreeBitmap(target), FreeBitmap(src), FreeAlphaChannel(alpha);
}

// Scaling straight onto a target gives the pixels of the scaled copy then blended (alpha) or
// copied (opaque), inside any rectangle of the result, wherever it lands.
TEST(BitmapOps, ScaleOntoATargetEqualsTheScaledCopyBlended) {
  const int w = 29, h = 17, tw = 80, th = 60;
  qmBitmap *src = AllocBitmap(w, h);
  qmAlphaChannel *alpha = AllocAlphaChannel(w, h, 1);
  uint32_t seed = 11;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      seed = seed * 1664525u + 1013904223u;
      Put(src, x, y, seed >> 8);
      alpha->memory[y * alpha->bytesPerRow + x] = uint8_t((x * 5 + y * 3) % 7 == 0 ? 0 : (x + 2 * y) % 5 == 0 ? 255 : seed >> 24);
    }
  const struct {
    const char *name;
    int outW, outH;
  } sizes[] = {{"doubled", 58, 34}, {"halved", 14, 8}, {"wider, shorter", 101, 9}, {"one column", 1, 40}, {"as it is", 29, 17}};
  // Rectangles of the result: whole at an offset, cut on every side, partly off the target.
  const qmBlitRect rects[] = {{0, 0, 3, 2, 1000, 1000}, {5, 4, 9, 11, 17, 9}, {0, 0, -6, -3, 1000, 1000}, {2, 1, 70, 50, 1000, 1000}};
  for (const auto &size : sizes)
    for (int smooth = 0; smooth < 2; smooth++)
      for (int withAlpha = 0; withAlpha < 2; withAlpha++)
        for (const qmBlitRect &rect : rects) {
          const qmAlphaChannel *a = withAlpha ? alpha : nullptr;
          // The rectangle cut to the result and the target, as a blit does; some miss a narrow result.
          qmBlitRect r = rect;
          if (!ClipBlitRect(nullptr, &r, size.outW, size.outH, tw, th, 0)) continue;
          qmScaleOutputs copy{};
          ASSERT_EQ(ScaleBitmap(src, nullptr, a, 0, 0, nullptr, w, h, size.outW, size.outH, smooth, &copy), 0u) << size.name;
          qmBitmap *expected = AllocBitmap(tw, th), *got = AllocBitmap(tw, th);
          for (int y = 0; y < th; y++)
            for (int x = 0; x < tw; x++) Put(expected, x, y, uint32_t(x * 3 + y * 5) * 0x010101u), Put(got, x, y, uint32_t(x * 3 + y * 5) * 0x010101u);
          if (a) BltAlphaBitmap(copy.bitmap, r.srcX, r.srcY, expected, r.dstX, r.dstY, r.width, r.height, copy.alpha);
          else BltBitmap(copy.bitmap, r.srcX, r.srcY, expected, r.dstX, r.dstY, r.width, r.height);
          ASSERT_EQ(ScaleBitmapOnto(src, a, w, h, size.outW, size.outH, smooth, got, &r), 0u) << size.name;
          int differ = 0;
          for (int y = 0; y < th; y++)
            for (int x = 0; x < tw; x++) differ += Get(got, x, y) != Get(expected, x, y);
          EXPECT_EQ(differ, 0) << size.name << " smooth " << smooth << " alpha " << withAlpha << " rect " << rect.srcX << "," << rect.srcY;
          FreeBitmap(expected), FreeBitmap(got);
          FreeBitmap(copy.bitmap), FreeAlphaChannel(copy.alpha);
        }
  qmBitmap *target = AllocBitmap(tw, th);
  const qmBlitRect whole{0, 0, 0, 0, tw, th};
  EXPECT_EQ(ScaleBitmapOnto(src, alpha, w, h, 40000, 4, 0, target, &whole), static_cast<uint32_t>(ERR_MEM))
      << "larger than any picture";
  EXPECT_EQ(ScaleBitmapOnto(nullptr, alpha, w, h, 4, 4, 0, target, &whole), static_cast<uint32_t>(ERR_WRONGUSAGE));
  FreeBitmap(target), FreeBitmap(src), FreeAlphaChannel(alpha);
  FreeScaleTables();
}

// Nearest scaling takes the alpha plane's samples where it takes the pixels': with every alpha
// byte equal to its pixel's low byte, the two planes agree after enlarging and shrinking a part
// of the picture (rows repeated, columns repeated or skipped, the part's offset kept).
TEST(BitmapOps, NearestScaleSamplesAlphaLikePixels) {
  const int w = 70, h = 23;
  qmBitmap *b = AllocBitmap(w, h);
  qmAlphaChannel *a = AllocAlphaChannel(w, h, 1);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint8_t v = uint8_t(x * 7 + y * 31);
      Put(b, x, y, v);
      a->memory[y * a->bytesPerRow + x] = v;
    }
  struct Case {
    int srcX, srcY, srcW, srcH, outW, outH;
  } cases[] = {{3, 2, 40, 11, 160, 35}, {0, 0, 70, 23, 13, 9}, {5, 1, 64, 20, 64, 41}, {60, 20, 10, 3, 33, 7}};
  for (const Case &c : cases) {
    qmScaleOutputs out{};
    ASSERT_EQ(ScaleBitmap(b, nullptr, a, c.srcX, c.srcY, nullptr, c.srcW, c.srcH, c.outW, c.outH, 0, &out), 0u);
    ASSERT_NE(out.alpha, nullptr);
    for (int y = 0; y < c.outH; y++)
      for (int x = 0; x < c.outW; x++)
        ASSERT_EQ(out.alpha->memory[y * out.alpha->bytesPerRow + x], Get(out.bitmap, x, y) & 0xFF)
            << c.outW << "x" << c.outH << " at " << x << "," << y;
    FreeBitmap(out.bitmap), FreeAlphaChannel(out.alpha);
  }
  FreeBitmap(b), FreeAlphaChannel(a);
  FreeScaleTables();
}

TEST(BitmapOps, ScaleMakesPlanesOrFillsTheTarget) {
  qmBitmap *b = Numbered(8, 8);
  qmMask *m = AllocMask(8, 8, 1);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) SetMaskBit(m->memory + y * m->bytesPerRow, x, x >= 4);
  qmScaleOutputs out{};
  // The right half doubled: column 2i and 2i+1 come from source column 4+i.
  ASSERT_EQ(ScaleBitmap(b, m, nullptr, 4, 0, nullptr, 4, 8, 8, 16, 0, &out), 0u);
  ASSERT_NE(out.mask, nullptr);
  EXPECT_EQ(out.alpha, nullptr);
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 8; x++) {
      EXPECT_EQ(Get(out.bitmap, x, y), uint32_t((y / 2) << 8 | (4 + x / 2))) << x << "," << y;
      EXPECT_TRUE(Bit(out.mask, x, y));
    }
  FreeBitmap(out.bitmap), FreeMask(out.mask);
  qmBitmap *target = AllocBitmap(4, 4);
  ASSERT_EQ(ScaleBitmap(b, nullptr, nullptr, 0, 0, target, 8, 8, 4, 4, 0, nullptr), 0u);
  EXPECT_EQ(Get(target, 1, 1), uint32_t(2 << 8 | 2));
  EXPECT_EQ(ScaleBitmap(b, nullptr, nullptr, 0, 0, target, 8, 8, 5, 4, 0, nullptr), static_cast<uint32_t>(ERR_WRONGUSAGE));
  EXPECT_EQ(ScaleBitmap(b, nullptr, nullptr, 0, 0, nullptr, 8, 8, 40000, 4, 0, &out), static_cast<uint32_t>(ERR_MEM));
  EXPECT_EQ(ScaleBitmap(b, nullptr, nullptr, 0, 0, nullptr, 8, 8, 0, 4, 0, &out), 0u);
  FreeBitmap(target), FreeBitmap(b), FreeMask(m);
  FreeScaleTables();
}

// Shrinking a row of 100000 pixels to a few columns: the step per column no longer fits 16.16
// bits in 32; each column still comes from where the factor puts it.
TEST(BitmapOps, ScaleOfALongRowDownToAFewColumns) {
  constexpr int32_t kWidth = 100000;
  qmBitmap *b = AllocBitmap(kWidth, 1);
  ASSERT_NE(b, nullptr);
  for (int x = 0; x < kWidth; x++) b->pixels[x] = uint32_t(x) << 8;  // the lowest byte is no colour
  struct Row {
    const char *name;
    int32_t width, smooth;
    std::vector<uint32_t> columns;
  } rows[] = {
      {"nearest to 1", 1, 0, {0}},
      {"nearest to 2", 2, 0, {0, 50000}},
      {"nearest to 4", 4, 0, {0, 25000, 50000, 75000}},
      {"smooth to 2", 2, 1, {0, 49999}},  // halfway between 49999 and 50000, rounded down
  };
  for (const Row &r : rows) {
    qmScaleOutputs out{};
    ASSERT_EQ(ScaleBitmap(b, nullptr, nullptr, 0, 0, nullptr, kWidth, 1, r.width, 1, r.smooth, &out), 0u) << r.name;
    for (int32_t x = 0; x < r.width; x++) EXPECT_EQ(out.bitmap->pixels[x] >> 8, r.columns[size_t(x)]) << r.name << " " << x;
    FreeBitmap(out.bitmap);
  }
  FreeBitmap(b);
  FreeScaleTables();
}

TEST(BitmapOps, FlipMirrorsPixelsAndPlanes) {
  for (int direction : {0, 1}) {
    qmBitmap *b = Numbered(11, 5);
    qmMask *m = AllocMask(11, 5, 1);
    qmAlphaChannel *a = AllocAlphaChannel(11, 5, 1);
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 11; x++) {
        SetMaskBit(m->memory + y * m->bytesPerRow, x, x * y % 4 == 1);
        a->memory[y * a->bytesPerRow + x] = uint8_t(y * 11 + x);
      }
    ASSERT_EQ(FlipBitmap(b, m, a, 11, 5, direction), 0u);
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 11; x++) {
        int sx = direction ? 10 - x : x, sy = direction ? y : 4 - y;
        EXPECT_EQ(Get(b, x, y), uint32_t(sy << 8 | sx));
        EXPECT_EQ(Bit(m, x, y), sx * sy % 4 == 1);
        EXPECT_EQ(a->memory[y * a->bytesPerRow + x], uint8_t(sy * 11 + sx));
      }
    FreeBitmap(b), FreeMask(m), FreeAlphaChannel(a);
  }
}

TEST(BitmapOps, ColorKeyMaskInvertAndPadding) {
  qmBitmap *b = Numbered(9, 3);
  Put(b, 4, 1, 0x00FF00);
  // The fourth byte takes no part in the key.
  b->pixels[2 * b->bytesPerRow / 4 + 7] = CanonicalToPixel(b->pixelFormat, 0x00FF00) | FourthByteMask(b->pixelFormat);
  qmMask *m = nullptr;
  ASSERT_EQ(CreateColorKeyMask(b, 9, 3, 0x00FF00, &m), 0u);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 9; x++) EXPECT_EQ(Bit(m, x, y), !((x == 4 && y == 1) || (x == 7 && y == 2))) << x << "," << y;
  FreeMask(m);
  ASSERT_EQ(InvertBitmap(b, 9, 3, nullptr), 0u);
  EXPECT_EQ(Get(b, 2, 1), ~uint32_t(1 << 8 | 2) & 0xFFFFFF);
  const int pitch = b->bytesPerRow / 4;
  for (int y = 0; y < 3; y++)
    for (int x = 9; x < pitch; x++) b->pixels[y * pitch + x] = 0xFFFFFFFF;
  ASSERT_EQ(ClearBitmapPadding(b, 1), 0u);
  for (int y = 0; y < 3; y++) {
    for (int x = 9; x < pitch; x++) EXPECT_EQ(b->pixels[y * pitch + x], 0u);
    EXPECT_NE(b->pixels[y * pitch + 2], 0u);
  }
  ASSERT_EQ(ClearBitmapPadding(b, 0), 0u);
  EXPECT_EQ(b->pixels[pitch + 2], 0u);
  FreeBitmap(b);
}

TEST(AlphaOps, RectanglesStayInsideThePlanes) {
  qmAlphaChannel *a = AllocAlphaChannel(10, 10, 1);
  FillAlphaRect(a, -5, 8, 100, 100, 200);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 10; x++) EXPECT_EQ(a->memory[y * a->bytesPerRow + x], y >= 8 ? 200 : 0);
  qmMask *m = AllocMask(10, 10, 1);
  FillMaskRect(m, 2, 0, 3, 10, MASKVISIBLE);
  MaskToAlphaRect(m, 0, 0, a, 0, 0, 10, 10, 77);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 10; x++) EXPECT_EQ(a->memory[y * a->bytesPerRow + x], x >= 2 && x < 5 ? 77 : 0);
  FillAlphaThroughMask(m, 0, 0, a, 3, 3, 50, 50, 9);
  EXPECT_EQ(a->memory[5 * a->bytesPerRow + 6], 9);  // mask (3, 2) is set
  EXPECT_EQ(a->memory[5 * a->bytesPerRow + 9], 0);  // mask (6, 2) is clear
  FreeMask(m), FreeAlphaChannel(a);
}

}  // namespace
