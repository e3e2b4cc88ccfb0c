// Blit clipping, clip-region records, arc polygons, polygon masks, gradients and tiling,
// each against a model that works pixel by pixel or a value worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/clipregion.h"
#include "graphics/fillarea.h"
#include "graphics/geometry.h"
#include "graphics/pixelformat.h"
#include "runtime/errcodes.h"

namespace {

struct ClipCase {
  const char *name;
  qmBlitRect in;
  int32_t srcW, srcH, dstW, dstH;
  bool drawn;
  qmBlitRect out;
};

TEST(ClipBlitRect, CutsToSourceAndDestination) {
  const ClipCase cases[] = {
      {"negative x moves the source", {0, 0, -5, 0, 20, 10}, 100, 100, 100, 100, true, {5, 0, 0, 0, 15, 10}},
      {"negative y moves the source", {0, 0, 0, -3, 10, 10}, 100, 100, 100, 100, true, {0, 3, 0, 0, 10, 7}},
      {"source edge cuts the width", {90, 0, 0, 0, 20, 10}, 100, 100, 200, 200, true, {90, 0, 0, 0, 10, 10}},
      {"destination edge cuts", {0, 0, 95, 98, 20, 20}, 100, 100, 100, 100, true, {0, 0, 95, 98, 5, 2}},
      {"negative source moves the destination", {-4, 0, 10, 0, 10, 5}, 100, 100, 100, 100, true, {0, 0, 14, 0, 6, 5}},
      {"wholly outside", {0, 0, 100, 0, 10, 10}, 100, 100, 100, 100, false, {}},
      {"empty", {0, 0, 0, 0, 0, 10}, 100, 100, 100, 100, false, {}},
      {"far negative does not wrap", {0, 0, INT32_MIN + 1, 0, INT32_MAX, 10}, 100, 100, 100, 100, false, {}},
      {"far positive does not wrap", {0, 0, INT32_MAX - 2, 0, 100, 10}, 100, 100, 100, 100, false, {}},
  };
  for (const ClipCase &c : cases) {
    qmBlitRect r = c.in;
    EXPECT_EQ(ClipBlitRect(nullptr, &r, c.srcW, c.srcH, c.dstW, c.dstH, 0), c.drawn) << c.name;
    if (c.drawn) {
      EXPECT_EQ(r.srcX, c.out.srcX) << c.name;
      EXPECT_EQ(r.srcY, c.out.srcY) << c.name;
      EXPECT_EQ(r.dstX, c.out.dstX) << c.name;
      EXPECT_EQ(r.dstY, c.out.dstY) << c.name;
      EXPECT_EQ(r.width, c.out.width) << c.name;
      EXPECT_EQ(r.height, c.out.height) << c.name;
    }
  }
}

// Which destination pixels a blit reaches, and from where, against a per-pixel model: a pixel
// is written when it lies in the destination, in the region (when used) and in the request,
// and its source pixel lies in the source.
TEST(ClipBlitRect, MatchesPixelModelWithRegions) {
  std::mt19937 rng(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int iter = 0; iter < 400; iter++) {
    const int32_t srcW = pick(1, 24), srcH = pick(1, 24), dstW = pick(1, 24), dstH = pick(1, 24);
    qmClipRegion region{};
    region.x = pick(-6, 20), region.y = pick(-6, 20), region.width = pick(1, 30), region.height = pick(1, 30);
    const int useClip = pick(0, 1);
    qmBlitRect req{pick(-8, 20), pick(-8, 20), pick(-20, 20), pick(-20, 20), pick(0, 30), pick(0, 30)};
    if (req.srcX < 0 || req.srcY < 0) req.srcX = std::abs(req.srcX), req.srcY = std::abs(req.srcY);
    std::vector<int> model(size_t(dstW) * dstH, -1), got(size_t(dstW) * dstH, -1);
    for (int j = 0; j < req.height; j++)
      for (int i = 0; i < req.width; i++) {
        int dx = req.dstX + i, dy = req.dstY + j, sx = req.srcX + i, sy = req.srcY + j;
        if (dx < 0 || dy < 0 || dx >= dstW || dy >= dstH || sx >= srcW || sy >= srcH) continue;
        if (useClip && (dx < region.x || dy < region.y || dx >= region.x + region.width ||
                        dy >= region.y + region.height))
          continue;
        model[size_t(dy) * dstW + dx] = sy * 100 + sx;
      }
    qmBlitRect r = req;
    if (ClipBlitRect(&region, &r, srcW, srcH, dstW, dstH, useClip)) {
      ASSERT_GE(r.srcX, 0);
      ASSERT_GE(r.srcY, 0);
      ASSERT_LE(r.srcX + r.width, srcW);
      ASSERT_LE(r.srcY + r.height, srcH);
      for (int j = 0; j < r.height; j++)
        for (int i = 0; i < r.width; i++) got[size_t(r.dstY + j) * dstW + r.dstX + i] = (r.srcY + j) * 100 + r.srcX + i;
    }
    ASSERT_EQ(got, model) << "iteration " << iter;
  }
}

TEST(ClipRegion, NewRegionCutsAndRefuses) {
  struct Case {
    const char *name;
    int32_t x, y, w, h;
    uint32_t code;
    int32_t ox, oy, ow, oh;
  } cases[] = {
      {"left part cut off", -10, 0, 50, 50, 0, 0, 0, 40, 50},
      {"top part cut off", 3, -20, 10, 30, 0, 3, 0, 10, 10},
      {"wholly left", -60, 0, 50, 50, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"touching from the left", -50, 0, 50, 50, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"wholly above", 0, -5, 5, 5, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"zero width", 0, 0, 0, 5, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"negative height", 0, 0, 5, -5, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"wider than any picture", 0, 0, 40000, 5, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"far left does not wrap", INT32_MIN, 0, INT32_MAX, 5, ERR_WRONGUSAGE, 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    qmClipRegion *r = nullptr;
    ASSERT_EQ(NewClipRegion(c.x, c.y, c.w, c.h, nullptr, &r), c.code) << c.name;
    if (c.code) {
      EXPECT_EQ(r, nullptr) << c.name;
      continue;
    }
    EXPECT_EQ(r->x, c.ox) << c.name;
    EXPECT_EQ(r->y, c.oy) << c.name;
    EXPECT_EQ(r->width, c.ow) << c.name;
    EXPECT_EQ(r->height, c.oh) << c.name;
    EXPECT_EQ(r->mask, nullptr);
    FreeClipRegionData(nullptr, r);
    free(r);  // NOLINT: MemAlloc is malloc
  }
}

TEST(ClipRegion, MaskCopyDropsTheCutOffPart) {
  qmMask *brush = AllocMask(20, 6, 1);
  // A diagonal: bit (x, y) set when x == y + 4.
  for (int y = 0; y < 6; y++) SetMaskBit(brush->memory + y * brush->bytesPerRow, y + 4, true);
  qmClipRegion *r = nullptr;
  ASSERT_EQ(NewClipRegion(-3, -1, 20, 6, brush, &r), 0u);
  EXPECT_EQ(r->width, 17);
  EXPECT_EQ(r->height, 5);
  ASSERT_NE(r->mask, brush);
  for (int y = 0; y < 5; y++)
    for (int x = 0; x < 17; x++)
      EXPECT_EQ(GetMaskBit(r->mask->memory + y * r->mask->bytesPerRow, x), x + 3 == (y + 1) + 4) << x << "," << y;
  FreeMask(brush);
  FreeClipRegionData(nullptr, r);
  free(r);  // NOLINT
}

TEST(PolygonClip, FourEdgesGiveTheIntersectionRectangle) {
  // A rectangle clipped by the four edges of another is their intersection.
  struct Case {
    int32_t ax0, ay0, ax1, ay1, bx0, by0, bx1, by1;
  } cases[] = {{0, 0, 10, 10, 5, 3, 20, 8}, {-5, -5, 4, 30, 0, 0, 10, 10}, {2, 2, 6, 6, 0, 0, 10, 10}};
  for (const Case &c : cases) {
    std::vector<int32_t> poly = {c.ax0, c.ay0, c.ax1, c.ay0, c.ax1, c.ay1, c.ax0, c.ay1}, out(64);
    int32_t n = 4;
    const int32_t limits[4] = {c.bx0, c.by0, c.bx1, c.by1};
    for (int edge = 0; edge < 4; edge++) {
      n = ClipPolygonEdge(n, poly.data(), out.data(), limits[edge], edge);
      poly.assign(out.begin(), out.begin() + 2 * n);
      poly.resize(64);
    }
    int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
    for (int i = 0; i < n; i++) {
      minX = std::min(minX, poly[2 * i]), maxX = std::max(maxX, poly[2 * i]);
      minY = std::min(minY, poly[2 * i + 1]), maxY = std::max(maxY, poly[2 * i + 1]);
    }
    EXPECT_EQ(minX, std::max(c.ax0, c.bx0));
    EXPECT_EQ(minY, std::max(c.ay0, c.by0));
    EXPECT_EQ(maxX, std::min(c.ax1, c.bx1));
    EXPECT_EQ(maxY, std::min(c.ay1, c.by1));
  }
}

TEST(PolygonClip, SlantedEdgeCrossingTruncates) {
  // (0,0)-(10,5): at x = 3 the crossing is y = trunc(0.5 * 3) = 1.
  const int32_t tri[] = {0, 0, 10, 5, 0, 5};
  int32_t out[12];
  int32_t n = ClipPolygonEdge(3, tri, out, 3, CLIPEDGE_RIGHT);
  ASSERT_EQ(n, 4);
  const int32_t want[] = {0, 0, 3, 1, 3, 5, 0, 5};
  for (int i = 0; i < 8; i++) EXPECT_EQ(out[i], want[i]) << i;
}

TEST(ArcPolygon, TablesAndPoints) {
  // 1024 x cos and sin of whole degrees, truncated from the exact values.
  const struct {
    int32_t d, cos, sin;
  } table[] = {{0, 1024, 0},     {30, 886, 512},   {45, 724, 724},    {60, 512, 886},  {90, 0, 1024},
               {120, -512, 886}, {135, -724, 724}, {180, -1024, 0},   {270, 0, -1024}, {300, 512, -886},
               {-90, 0, -1024},  {720, 1024, 0}};
  for (const auto &t : table) {
    EXPECT_EQ(ArcCos1024(t.d), t.cos) << t.d;
    EXPECT_EQ(ArcSin1024(t.d), t.sin) << t.d;
  }
  int32_t pts[2 * kArcPolygonMax];
  // The full circle: 361 points, first and last the same, no centre.
  ASSERT_EQ(GetArcPolygon(pts, 10, 5, 0, 360), 361);
  EXPECT_EQ(pts[0], 20);  // 10 + (21 * 1024) / 2048 = 10 + 10
  EXPECT_EQ(pts[1], 5);
  EXPECT_EQ(pts[2 * 120], 5);  // 10 + (21 * -512) / 2048 = 10 - 5 (truncated toward zero)
  EXPECT_EQ(pts[2 * 90 + 1], 10);  // 5 + (11 * 1024) / 2048 = 5 + 5
  EXPECT_EQ(pts[2 * 360], pts[0]);
  EXPECT_EQ(pts[2 * 360 + 1], pts[1]);
  // A quarter pie: start, 90 more degrees, then the centre and the start again.
  ASSERT_EQ(GetArcPolygon(pts, 10, 10, 0, 90), 93);
  EXPECT_EQ(pts[2 * 91], 10);
  EXPECT_EQ(pts[2 * 91 + 1], 10);
  EXPECT_EQ(pts[2 * 92], pts[0]);
  // Never more than one turn, whatever the end.
  EXPECT_EQ(GetArcPolygon(pts, 3, 3, 10, 100000), 363);
}

TEST(PolygonMask, SquareAndTriangleAgainstModel) {
  qmMask *m = AllocMask(12, 12, 1);
  const int32_t square[] = {0, 0, 4, 0, 4, 4, 0, 4};
  ASSERT_EQ(FillMaskPolygon(m, square, 4), 0u);
  for (int y = 0; y < 12; y++)
    for (int x = 0; x < 12; x++)
      EXPECT_EQ(GetMaskBit(m->memory + y * m->bytesPerRow, x), x <= 4 && y <= 4) << x << "," << y;
  // A polygon reaching outside the mask sets only bits inside it.
  FillMaskRect(m, 0, 0, 12, 12, MASKINVISIBLE);
  const int32_t big[] = {-50, -50, 50, -50, 50, 50, -50, 50};
  ASSERT_EQ(FillMaskPolygon(m, big, 4), 0u);
  for (int y = 0; y < 12; y++)
    for (int x = 0; x < 12; x++) EXPECT_TRUE(GetMaskBit(m->memory + y * m->bytesPerRow, x));
  FreeMask(m);
}

TEST(TransformedRect, QuarterTurnAboutTheCentre) {
  const double turn[4] = {0, 1, -1, 0};  // x' = -y, y' = x
  int32_t x, y, w, h;
  GetTransformedRect(100, 50, 10, 4, 0.5, 0.5, turn, &x, &y, &w, &h);
  // Corners less the anchor (5, 2) are x in {-5, 4}, y in {-2, 1}; turned and moved back:
  // x' = 5 - y in [4, 7], y' = 2 + x in [-3, 6].
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 10);
  EXPECT_EQ(x, 104);
  EXPECT_EQ(y, 47);
  const double identity[4] = {1, 0, 0, 1};
  GetTransformedRect(7, 8, 10, 4, 0.0, 0.0, identity, &x, &y, &w, &h);
  EXPECT_EQ(x, 7);
  EXPECT_EQ(y, 8);
  EXPECT_EQ(w, 10);
  EXPECT_EQ(h, 4);
}

TEST(TransformClipRegion, PlainAndTurnedRectangles) {
  qmClipRegion r{};
  r.x = 10, r.y = 20, r.width = 8, r.height = 6;
  const double scale[4] = {2, 0, 0, 0.5};
  qmClipRegion *t = TransformClipRegion(&r, 0, 0, scale);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->transformedCopy, 1);
  EXPECT_EQ(t->x, 20);
  EXPECT_EQ(t->y, 10);
  EXPECT_EQ(t->width, 16);
  EXPECT_EQ(t->height, 3);
  EXPECT_EQ(t->mask, nullptr);
  free(t);  // NOLINT
  const double turn[4] = {0, 1, -1, 0};
  t = TransformClipRegion(&r, 0.5, 0.5, turn);
  ASSERT_NE(t, nullptr);
  ASSERT_NE(t->mask, nullptr);
  EXPECT_EQ(t->width, 6);
  EXPECT_EQ(t->height, 8);
  // A quarter turn of a rectangle fills its whole new bounding box.
  for (int y = 0; y < t->height; y++)
    for (int x = 0; x < t->width; x++) EXPECT_TRUE(GetMaskBit(t->mask->memory + y * t->maskBytesPerRow, x));
  FreeClipRegionData(nullptr, t);
  free(t);  // NOLINT
}

uint32_t Pixel(const qmBitmap *b, int x, int y) { return PixelToCanonical(b->pixelFormat, b->pixels[y * b->bytesPerRow / 4 + x]); }

TEST(Gradient, PlainLinearRowsAndColumns) {
  qmBitmap *b = AllocBitmap(16, 10);
  qmGradientFill g{};
  g.type = GRADIENT_LINEAR;
  g.startColor = 0x102030;
  g.endColor = 0xF0A010;
  auto expect = [&](int t, int span, uint32_t got, const char *what) {
    uint32_t want = 0;
    for (int shift = 16; shift >= 0; shift -= 8) {
      int s = (g.startColor >> shift) & 0xFF, e = (g.endColor >> shift) & 0xFF;
      want |= uint32_t(s + (e - s) * t / span) << shift;
    }
    EXPECT_EQ(got, want) << what << " " << t;
  };
  ASSERT_EQ(DrawGradient(b, 0, 0, 16, 10, &g), 0u);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 16; x++) expect(y, 10, Pixel(b, x, y), "angle 0 row");
  g.angle = 90;
  ASSERT_EQ(DrawGradient(b, 0, 0, 16, 10, &g), 0u);
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 16; x++) expect(x * 10 / 16, 10, Pixel(b, x, y), "angle 90 column");
  // Angle 180 runs the other way: the top row has the end colour.
  g.angle = 180;
  ASSERT_EQ(DrawGradient(b, 0, 0, 16, 10, &g), 0u);
  for (int y = 0; y < 10; y++) expect(10 - y, 10, Pixel(b, 3, y), "angle 180 row");
  FreeBitmap(b);
}

TEST(Gradient, EndPointsOfGeneralGradients) {
  qmBitmap *b = AllocBitmap(40, 30);
  const qmGradientStop stops[] = {{0xFF0000, 0.0}, {0x00FF00, 0.5}, {0x0000FF, 1.0}};
  qmGradientFill g{};
  g.type = GRADIENT_LINEAR;
  g.stopCount = 3;
  g.stops = stops;
  ASSERT_EQ(DrawGradient(b, 0, 0, 40, 30, &g), 0u);
  // Angle 0 runs top to bottom: the first row is near the first stop, the last near the last.
  EXPECT_GE((Pixel(b, 20, 0) >> 16) & 0xFF, 240u);
  EXPECT_GE(Pixel(b, 20, 29) & 0xFF, 240u);
  EXPECT_GE((Pixel(b, 20, 15) >> 8) & 0xFF, 230u);
  // Radial: the centre has the start colour; with f = 1 the radius shrinks to 1 %, so the
  // rest is padded with the end colour.
  g = qmGradientFill{};
  g.type = GRADIENT_RADIAL;
  g.startColor = 0x000000;
  g.endColor = 0xFFFFFF;
  g.centerX = g.centerY = 0.5;
  g.radialShrink = 1.0;
  ASSERT_EQ(DrawGradient(b, 0, 0, 40, 30, &g), 0u);
  EXPECT_EQ(Pixel(b, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(Pixel(b, 39, 29), 0xFFFFFFu);
  // Padding before the first stop and after the last.
  const int32_t pos[] = {16384, 49152};
  const uint32_t col[] = {0x112233, 0x445566};
  EXPECT_EQ(GradientColorAt(pos, col, 2, SPREAD_PAD, -100000), 0x112233u);
  EXPECT_EQ(GradientColorAt(pos, col, 2, SPREAD_PAD, 1000000), 0x445566u);
  EXPECT_EQ(GradientColorAt(pos, col, 2, SPREAD_NONE, 0), 0u);
  FreeBitmap(b);
}

TEST(Gradient, RectangleReachingOutsideKeepsItsPlace) {
  qmBitmap *whole = AllocBitmap(20, 20), *cut = AllocBitmap(12, 12);
  FillBitmapRect(cut, 0, 0, 12, 12, 0x123456);
  qmGradientFill g{};
  g.type = GRADIENT_LINEAR;
  g.startColor = 0x000000;
  g.endColor = 0xFFFFFF;
  g.angle = 45;
  ASSERT_EQ(DrawGradient(whole, 0, 0, 20, 20, &g), 0u);
  ASSERT_EQ(DrawGradient(cut, -8, -8, 20, 20, &g), 0u);
  for (int y = 0; y < 12; y++)
    for (int x = 0; x < 12; x++) EXPECT_EQ(Pixel(cut, x, y), Pixel(whole, x + 8, y + 8));
  FreeBitmap(whole);
  FreeBitmap(cut);
}

TEST(TileBitmap, OffsetsWrapLikeTheModel) {
  qmBitmap *tex = AllocBitmap(7, 5), *dst = AllocBitmap(30, 20);
  for (int y = 0; y < 5; y++)
    for (int x = 0; x < 7; x++) tex->pixels[y * tex->bytesPerRow / 4 + x] = CanonicalToPixel(11, uint32_t(y * 16 + x));
  const struct {
    int32_t ox, oy, tw, th;
  } cases[] = {{0, 0, 7, 5}, {3, 2, 7, 5}, {-1, -7, 7, 5}, {-15, 12, 4, 3}, {2, 1, 99, 99}};
  for (const auto &c : cases) {
    FillBitmapRect(dst, 0, 0, 30, 20, 0xABCDEF);
    TileBitmap(dst, 2, 3, 25, 15, tex, c.ox, c.oy, c.tw, c.th);
    const int tw = std::min(c.tw, 7), th = std::min(c.th, 5);
    for (int y = 0; y < 20; y++)
      for (int x = 0; x < 30; x++) {
        uint32_t want = 0xABCDEF;
        if (x >= 2 && x < 27 && y >= 3 && y < 18) {
          int sx = (((x - 2 + c.ox) % tw) + tw) % tw, sy = (((y - 3 + c.oy) % th) + th) % th;
          want = uint32_t(sy * 16 + sx);
        }
        ASSERT_EQ(Pixel(dst, x, y), want) << c.ox << "," << c.oy << " at " << x << "," << y;
      }
  }
  FreeBitmap(tex);
  FreeBitmap(dst);
}

}  // namespace
