// The transitions' per-frame kernels: the threshold plane over a map of reveal times, the wave
// of shifted rows and columns, the strip copy through each kind of plane, and the swirl and
// ripple tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "graphics/transition_kernels.h"

namespace {

// One row of reveal times, the second row the same reversed (so a wrong row stride shows).
constexpr int kMapWidth = 6;
const uint8_t kMap[2][kMapWidth] = {{0, 1, 127, 128, 254, 255}, {255, 254, 128, 127, 1, 0}};

TEST(ThresholdPlane, AlphaOutputByLevelAndReverse) {
  // Source bytes 10..60 and 110..160; a pitch of 8 with a guard byte past the row.
  constexpr int kPitch = 8;
  uint8_t src[2 * kPitch];
  for (int i = 0; i < kMapWidth; i++) src[i] = uint8_t(10 * (i + 1)), src[kPitch + i] = uint8_t(110 + 10 * i);
  struct Case {
    const char *name;
    int32_t level, reverse;
    // Which pixels of the first row show; the second row shows the mirror image.
    bool shown[kMapWidth];
  } cases[] = {
      {"level 0 hides all", 0, 0, {0, 0, 0, 0, 0, 0}},
      {"level 0 reversed shows all", 0, 1, {1, 1, 1, 1, 1, 1}},
      {"level 1 shows the 0", 1, 0, {1, 0, 0, 0, 0, 0}},
      {"level 128 shows below 128", 128, 0, {1, 1, 1, 0, 0, 0}},
      {"level 128 reversed shows 128 and up", 128, 1, {0, 0, 0, 1, 1, 1}},
      {"level 255 never shows 255", 255, 0, {1, 1, 1, 1, 1, 0}},
      {"level 255 reversed shows only 255", 255, 1, {0, 0, 0, 0, 0, 1}},
  };
  for (const Case &c : cases) {
    uint8_t dst[2 * kPitch];
    for (uint8_t &b : dst) b = 0xEE;
    qmThresholdRequest req{src, dst, kMapWidth, 2, kPitch, kPitch, &kMap[0][0], 1, c.reverse};
    ThresholdPlane(&req, c.level);
    for (int x = 0; x < kMapWidth; x++) {
      EXPECT_EQ(dst[x], c.shown[x] ? src[x] : 0) << c.name << " row 0 x " << x;
      const int mirror = kMapWidth - 1 - x;
      EXPECT_EQ(dst[kPitch + x], c.shown[mirror] ? src[kPitch + x] : 0) << c.name << " row 1 x " << x;
    }
    for (int x = kMapWidth; x < kPitch; x++) EXPECT_EQ(dst[x], 0xEE) << c.name << ": wrote past the row";
  }
}

TEST(ThresholdPlane, MaskOutputWithAndWithoutSourceMask) {
  // Ten pixels, so the row spans two mask bytes; a third byte per row is padding to keep.
  constexpr int kWidth = 10, kBpr = 3;
  const uint8_t map[kWidth] = {0, 50, 100, 150, 200, 250, 0, 50, 100, 150};
  const uint8_t srcMask[kBpr] = {0xAA, 0xC0, 0x00};  // 1010 1010 11: pixels 0, 2, 4, 6, 8, 9
  struct Case {
    const char *name;
    const uint8_t *src;
    int32_t level, reverse;
    uint8_t want0, want1;  // the two mask bytes
  } cases[] = {
      // Level 120 shows pixels 0, 1, 2, 6, 7, 8.
      {"no source: shown bits set", nullptr, 120, 0, 0xE3, 0x80},
      {"source bits kept where shown", srcMask, 120, 0, 0xA2, 0x80},
      {"reversed: 3, 4, 5, 9", nullptr, 120, 1, 0x1C, 0x40},
      {"reversed through the source", srcMask, 120, 1, 0x08, 0x40},
      {"level 0 clears", nullptr, 0, 0, 0x00, 0x00},
      {"level 255 sets all", nullptr, 255, 0, 0xFF, 0xC0},
  };
  for (const Case &c : cases) {
    uint8_t dst[kBpr] = {0x55, 0x3F, 0x77};  // low bits of byte 1 and byte 2 lie past the width
    qmThresholdRequest req{c.src, dst, kWidth, 1, kBpr, kBpr, map, 0, c.reverse};
    ThresholdPlane(&req, c.level);
    EXPECT_EQ(dst[0], c.want0) << c.name;
    EXPECT_EQ(dst[1] & 0xC0, c.want1) << c.name;
    EXPECT_EQ(dst[1] & 0x3F, 0x3F) << c.name << ": bits past the width changed";
    EXPECT_EQ(dst[2], 0x77) << c.name << ": padding changed";
  }
}

TEST(RevealPixels, ShownWhereTheTimeIsBelowTheLevelAndTheMaskShows) {
  // The two map rows over ten pixels; shown words 0xAABBCC00 + x (unused byte x), hidden
  // 0x11223300 + x; the mask at bit offset 3 of each row.
  constexpr int kWidth = 10, kMaskBpr = 3, kOutPitch = 12;
  const uint8_t map[2][kWidth] = {{0, 1, 127, 128, 254, 255, 0, 50, 100, 200}, {255, 254, 128, 127, 1, 0, 9, 9, 9, 9}};
  // Bits 3.. of 0001 1111 0101 1000: pixels 0, 1, 2, 3, 4, 6, 8 and 9 shown by the mask.
  const uint8_t mask[2][kMaskBpr] = {{0x1F, 0x58, 0x00}, {0x1F, 0x58, 0x00}};
  uint32_t shown[2][kWidth], hidden[2][kWidth];
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < kWidth; x++) shown[y][x] = 0xAABBCC00u + uint32_t(x), hidden[y][x] = 0x11223300u + uint32_t(x);
  struct Case {
    const char *name;
    int32_t level;
    bool masked;
    const char *row0, *row1;  // s: shown, h: hidden
  } cases[] = {
      {"level 0 shows nothing", 0, false, "hhhhhhhhhh", "hhhhhhhhhh"},
      {"level 1 shows the zeros", 1, false, "shhhhhshhh", "hhhhhshhhh"},
      {"level 128 shows below 128", 128, false, "ssshhhsssh", "hhhsssssss"},
      {"level 255 never shows 255", 255, false, "ssssshssss", "hsssssssss"},
      {"level 256 shows all", 256, false, "ssssssssss", "ssssssssss"},
      {"through the mask", 128, true, "ssshhhshsh", "hhhsshshss"},
  };
  for (const Case &c : cases) {
    uint32_t out[2][kOutPitch];
    for (auto &row : out)
      for (uint32_t &v : row) v = 0xDEADBEEF;
    const qmRevealRequest req{&map[0][0], c.masked ? &mask[0][0] : nullptr, &shown[0][0], &hidden[0][0], &out[0][0],
                              kWidth, 2, kWidth, kMaskBpr, 3, kWidth, kWidth, kOutPitch, 0xFFFFFF00u};
    for (bool vector : {false, true}) {
      if (vector) RevealPixels(&req, c.level);
      else RevealPixelsScalar(&req, c.level);
      for (int y = 0; y < 2; y++) {
        const char *want = y ? c.row1 : c.row0;
        for (int x = 0; x < kWidth; x++)
          EXPECT_EQ(out[y][x], want[x] == 's' ? 0xAABBCC00u : hidden[y][x]) << c.name << " row " << y << " x " << x;
        EXPECT_EQ(out[y][kWidth], 0xDEADBEEFu) << c.name << ": wrote past the row";
      }
    }
  }
}

TEST(LayAlphaPixelsOver, ShowsWhatTheTwoPicturesShowOneOverTheOther) {
  // Over a background g, the joined pixel c at alpha a gives c a + g (1 - a); the two pictures
  // give (o ao + (u au + g (1 - au)) (1 - ao)). Both agree for every g exactly when a = ao + au
  // (1 - ao) and c a = o ao + u au (1 - ao). Bytes here are 0..255, alphas in 255ths.
  struct Case {
    const char *name;
    uint32_t over, under;
    uint8_t ao, au;
    uint32_t want;
    uint8_t wantAlpha;
  } cases[] = {
      {"opaque over: the over word", 0x10203040, 0x90A0B0C0, 255, 77, 0x10203040, 255},
      {"clear over: the under word", 0x10203040, 0x90A0B0C0, 0, 77, 0x90A0B0C0, 77},
      {"over a clear picture: the over word", 0x10203040, 0x90A0B0C0, 90, 0, 0x10203040, 90},
      {"both clear: the under word", 0x10203040, 0x90A0B0C0, 0, 0, 0x90A0B0C0, 0},
      // a = 128 + 128 x 127 / 255 = 191.75 -> 192; each byte (o 128 255 + u 128 127) / (128 255 +
      // 128 127) = (255 o + 127 u) / 382: 0 and 255 give 84.8 -> 85; 255 and 0 give 170.2 -> 170.
      {"halves", 0x00FF0000, 0xFF00FF00, 128, 128, 0x55AA5500, 192},
      // a = 200 + 255 x 55 / 255 = 255; bytes (200 o + 55 u) / 255: 100, 200 -> 121.6 -> 122.
      {"over an opaque picture", 0x64646464, 0xC8C8C8C8, 200, 255, 0x7A7A7A7A, 255},
      // a = 1 + 1 x 254 / 255 = 1.996 -> 2; bytes (255 o + 254 u) / 509: 0, 255 -> 127.26 -> 127.
      {"faint over faint", 0x00000000, 0xFFFFFFFF, 1, 1, 0x7F7F7F7F, 2},
  };
  for (const Case &c : cases) {
    uint32_t out = 0xDEADBEEF;
    uint8_t alpha = 0xEE;
    const qmAlphaOverRequest req{&c.over, &c.under, &c.ao, &c.au, &out, &alpha, 1, 1, 1, 1, 1, 1, 1, 1};
    LayAlphaPixelsOver(&req);
    EXPECT_EQ(out, c.want) << c.name;
    EXPECT_EQ(alpha, c.wantAlpha) << c.name;
  }
}

// A picture of w x h with its planes; pixel values name their position.
struct Picture {
  int32_t w, h, pitch, maskBpr, alphaBpr;
  std::vector<uint32_t> px;
  std::vector<uint8_t> mask, alpha;
  Picture(int32_t width, int32_t height, uint32_t base)
      : w(width), h(height), pitch(width + 2), maskBpr(width / 8 + 1), alphaBpr((width + 3) & ~3),
        px(size_t(pitch) * height), mask(size_t(maskBpr) * height), alpha(size_t(alphaBpr) * height) {
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < pitch; x++) px[size_t(y) * pitch + x] = base + uint32_t(y) * 100 + uint32_t(x);
  }
  uint32_t At(int32_t x, int32_t y) const { return px[size_t(y) * pitch + x]; }
  bool Bit(int32_t x, int32_t y) const { return mask[size_t(y) * maskBpr + (x >> 3)] & (0x80 >> (x & 7)); }
  void SetBit(int32_t x, int32_t y) { mask[size_t(y) * maskBpr + (x >> 3)] |= uint8_t(0x80 >> (x & 7)); }
  uint8_t &Alpha(int32_t x, int32_t y) { return alpha[size_t(y) * alphaBpr + x]; }
};

qmWaveRequest WaveOf(Picture &src, Picture &dst, const double *offsets, int32_t n, int32_t position,
                     int32_t vertical) {
  qmWaveRequest r{};
  r.src = src.px.data();
  r.dst = dst.px.data();
  r.offsets = offsets;
  r.srcPitch = src.pitch;
  r.dstPitch = dst.pitch;
  r.width = src.w;
  r.height = src.h;
  r.vertical = vertical;
  r.strips = n;
  r.position = position;
  r.bytesPerPixel = 4;
  return r;
}

TEST(WavePixels, LinesTakeTheirShiftedSources) {
  constexpr double kStep = 6.283185307179586 / 4;
  const double zero[4] = {0, 0, 0, 0};
  // Truncation toward zero: 0.9 and -0.9 steps move nothing, 1.1 moves one, -1.1 one back.
  const double shifted[4] = {0.9 * kStep, -0.9 * kStep, 1.1 * kStep, -1.1 * kStep};
  struct Case {
    const char *name;
    const double *offsets;
    int32_t n, position, vertical, bytesPerPixel;
    std::vector<std::pair<int32_t, int32_t>> copies;  // destination line <- source line
    int32_t first;
  } cases[] = {
      {"zero offsets: all take the position's line", zero, 4, 5, 0, 4, {{2, 5}, {3, 5}, {4, 5}, {5, 5}}, 2},
      {"shifts truncate toward zero", shifted, 4, 5, 0, 4, {{2, 5}, {3, 5}, {4, 6}, {5, 4}}, 2},
      {"columns with the vertical flag", shifted, 4, 3, 1, 4, {{0, 3}, {1, 3}, {2, 4}, {3, 2}}, 0},
      {"lines above the picture are skipped", zero, 4, 1, 0, 4, {{0, 1}, {1, 1}}, 0},
      {"a source below the picture is skipped", shifted, 4, 7, 0, 4, {{4, 7}, {5, 7}, {7, 6}}, 4},
      {"nothing inside", zero, 4, -10, 0, 4, {}, kNoWaveLine},
      {"only 4 bytes per pixel are drawn", zero, 4, 5, 0, 2, {}, kNoWaveLine},
      {"no strips", zero, 0, 5, 0, 4, {}, kNoWaveLine},
  };
  for (const Case &c : cases) {
    Picture src(6, 8, 0), dst(6, 8, 100000);
    const Picture before = dst;
    qmWaveRequest r = WaveOf(src, dst, c.offsets, c.n, c.position, c.vertical);
    r.bytesPerPixel = c.bytesPerPixel;
    WavePixels(&r);
    EXPECT_EQ(r.linesCopied, int32_t(c.copies.size())) << c.name;
    EXPECT_EQ(r.firstLine, c.first) << c.name;
    EXPECT_EQ(r.positionReached, c.position) << c.name;
    for (int32_t y = 0; y < src.h; y++)
      for (int32_t x = 0; x < src.pitch; x++) {
        const int32_t line = c.vertical ? x : y;
        uint32_t want = before.At(x, y);
        for (auto [to, from] : c.copies)
          if (to == line && x < src.w) want = c.vertical ? src.At(from, y) : src.At(x, from);
        ASSERT_EQ(dst.At(x, y), want) << c.name << " at " << x << "," << y;
      }
  }
}

TEST(WavePixels, HugeOffsetsAreSkippedNotWrapped) {
  Picture src(4, 4, 0), dst(4, 4, 9000);
  const Picture before = dst;
  const double wild[2] = {1e300, -1e300};
  qmWaveRequest r = WaveOf(src, dst, wild, 2, 2, 0);
  WavePixels(&r);
  EXPECT_EQ(r.linesCopied, 0);
  EXPECT_EQ(dst.px, before.px);
}

TEST(CopyStripPixels, ThroughMaskAlphaOrNeither) {
  enum Planes { NONE, MASK, ALPHA };
  for (Planes planes : {NONE, MASK, ALPHA}) {
    Picture src(8, 2, 0), dst(8, 2, 5000);
    // Source pixels 1, 3 and 6 of row 0 are visible; the destination's planes start full.
    for (int32_t x : {1, 3, 6}) src.SetBit(x, 0), src.Alpha(x, 0) = uint8_t(40 + x);
    for (int32_t x = 0; x < 8; x++) dst.SetBit(x, 1), dst.Alpha(x, 1) = 0xFF;
    const Picture before = dst;
    qmWaveRequest r = WaveOf(src, dst, nullptr, 1, 0, 0);
    if (planes == MASK) r.srcMask = src.mask.data(), r.dstMask = dst.mask.data();
    if (planes == ALPHA) r.srcAlpha = src.alpha.data(), r.dstAlpha = dst.alpha.data();
    r.srcMaskBytesPerRow = r.dstMaskBytesPerRow = src.maskBpr;
    r.srcAlphaBytesPerRow = r.dstAlphaBytesPerRow = src.alphaBpr;
    CopyStripPixels(&r, 0, 0, 8, 1, 0, 1);  // source row 0 onto destination row 1
    for (int32_t x = 0; x < 8; x++) {
      const bool visible = x == 1 || x == 3 || x == 6;
      const bool copied = planes == NONE || visible;
      EXPECT_EQ(dst.At(x, 1), copied ? src.At(x, 0) : before.At(x, 1)) << planes << " x " << x;
      EXPECT_EQ(dst.Bit(x, 1), planes == MASK ? visible : true) << planes << " mask x " << x;
      EXPECT_EQ(dst.Alpha(x, 1), planes == ALPHA ? (visible ? 40 + x : 0) : 0xFF) << planes << " alpha x " << x;
      EXPECT_EQ(dst.At(x, 0), before.At(x, 0)) << planes << ": another row changed";
    }
  }
}

TEST(TransitionTables, SineCosineAndDistances) {
  std::vector<double> sine(QM_WARP_TABLE_SIZE), cosine(QM_WARP_TABLE_SIZE);
  qmSwirlRequest swirl{};
  swirl.sine = sine.data();
  swirl.cosine = cosine.data();
  PrepareSwirl(&swirl);
  EXPECT_EQ(sine[0], 0.0);
  EXPECT_EQ(cosine[0], 1.0);
  EXPECT_NEAR(sine[1571], 1.0, 1e-6);  // 1.571 is just past pi / 2
  EXPECT_NEAR(cosine[1571], 0.0, 1e-3);
  for (int k : {1, 1000, 3142, QM_WARP_TABLE_SIZE - 1}) {
    EXPECT_NEAR(sine[k], std::sin(k * 0.001), 1e-9) << k;
    EXPECT_NEAR(cosine[k], std::cos(k * 0.001), 1e-9) << k;
  }

  // Ripple: the same sine table, and floor(sqrt(dx^2 + dy^2)) from the centre (3, 1).
  constexpr int32_t kW = 7, kH = 4;
  std::vector<double> rippleSine(QM_WARP_TABLE_SIZE);
  std::vector<int32_t> distance(kW * kH, -7);
  qmRippleRequest ripple{};
  ripple.sine = rippleSine.data();
  ripple.distance = distance.data();
  ripple.width = kW;
  ripple.height = kH;
  ripple.centerX = 3;
  ripple.centerY = 1;
  PrepareRipple(&ripple);
  EXPECT_EQ(rippleSine, sine);
  const int32_t want[kH][kW] = {{3, 2, 1, 1, 1, 2, 3}, {3, 2, 1, 0, 1, 2, 3}, {3, 2, 1, 1, 1, 2, 3},
                                {3, 2, 2, 2, 2, 2, 3}};
  for (int32_t y = 0; y < kH; y++)
    for (int32_t x = 0; x < kW; x++) EXPECT_EQ(distance[y * kW + x], want[y][x]) << x << "," << y;
}

// The ring table holds one row per distance from the centre's row, the same as the whole table's
// rows below (or above) the centre: here the centre (3, 1) of 7 x 4 has rows 0, 1 and 2 away.
TEST(TransitionTables, RippleRings) {
  constexpr int32_t kW = 7;
  std::vector<double> sine(QM_WARP_TABLE_SIZE);
  qmRippleRequest ripple{};
  ripple.sine = sine.data();
  ripple.width = kW;
  ripple.height = 4;
  ripple.centerX = 3;
  ripple.centerY = 1;
  ASSERT_EQ(RippleRingRows(&ripple), 3);
  std::vector<uint16_t> rings(3 * kW, 999);
  ripple.rings = rings.data();
  PrepareRipple(&ripple);
  const uint16_t want[3][kW] = {{3, 2, 1, 0, 1, 2, 3}, {3, 2, 1, 1, 1, 2, 3}, {3, 2, 2, 2, 2, 2, 3}};
  for (int32_t row = 0; row < 3; row++)
    for (int32_t x = 0; x < kW; x++) EXPECT_EQ(rings[size_t(row) * kW + x], want[row][x]) << x << "," << row;

  // A picture whose far corner is 65536 or more away has no ring table.
  ripple.width = 65537;
  ripple.height = 2;
  ripple.centerX = 0;
  EXPECT_EQ(RippleRingRows(&ripple), 0);
}

}  // namespace
