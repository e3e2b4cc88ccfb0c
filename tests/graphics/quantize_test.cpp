// The palette quantizer: its limits and special entries, the nearest-colour remap checked
// against a plain search, error diffusion, and the source pixel layouts.
#include "graphics/quantize.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

struct Result {
  std::vector<uint8_t> indices;
  std::vector<uint32_t> palette;
  int32_t ok = 0;
};

Result Quantize(const std::vector<uint32_t> &pixels, int32_t width, int32_t colors, uint32_t key = 0xFFFFFFFF,
                int32_t reserve = 0, int32_t dither = 0) {
  const int32_t height = int32_t(pixels.size()) / width;
  Result r;
  r.indices.assign(pixels.size(), 0xEE);
  r.palette.assign(256, 0xDEADBEEF);
  int32_t count = 0;
  r.ok = QuantizeImage(pixels.data(), width, height, width, colors, key, reserve, dither, r.indices.data(),
                       r.palette.data(), &count);
  r.palette.resize(size_t(count));
  return r;
}

// The centre of a pixel's histogram cell, where the remap measures distances from.
void CellCentre(uint32_t p, int *c) {
  c[0] = int((p >> 16 & 255) >> 3) * 8 + 4;
  c[1] = int((p >> 8 & 255) >> 2) * 4 + 2;
  c[2] = int((p & 255) >> 3) * 8 + 4;
}

int WeightedDistance(const int *c, uint32_t q) {
  const int dr = 2 * (c[0] - int(q >> 16 & 255)), dg = 3 * (c[1] - int(q >> 8 & 255)), db = c[2] - int(q & 255);
  return dr * dr + dg * dg + db * db;
}

std::vector<uint32_t> Photo(int32_t w, int32_t h) {
  std::vector<uint32_t> p(size_t(w) * h);
  uint32_t seed = 12345;
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      seed = seed * 1103515245 + 12345;
      const uint32_t n = seed >> 27;
      p[size_t(y) * w + x] = uint32_t(std::min(255, x * 255 / w + int(n))) << 16 |
                             uint32_t((y * 255 / h) ^ (x & 0x30)) << 8 | uint32_t(((x + y) * 3) & 255);
    }
  return p;
}

TEST(Quantize, EveryPixelTakesTheNearestPaletteColour) {
  const int32_t w = 97, h = 61;
  const std::vector<uint32_t> pixels = Photo(w, h);
  for (int32_t colors : {2, 16, 100, 256}) {
    SCOPED_TRACE(colors);
    Result r = Quantize(pixels, w, colors);
    ASSERT_EQ(r.ok, 1);
    ASSERT_LE(int32_t(r.palette.size()), colors);
    for (size_t i = 0; i < pixels.size(); i++) {
      int c[3];
      CellCentre(pixels[i], c);
      int best = 0;
      for (size_t k = 1; k < r.palette.size(); k++)
        if (WeightedDistance(c, r.palette[k]) < WeightedDistance(c, r.palette[best])) best = int(k);
      ASSERT_LT(r.indices[i], r.palette.size());
      // The first of equally near colours wins.
      ASSERT_EQ(r.indices[i], best) << "pixel " << i;
    }
  }
}

TEST(Quantize, FewColoursGiveOneEntryEach) {
  const std::vector<uint32_t> colors = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  std::vector<uint32_t> pixels;
  for (int i = 0; i < 50; i++) pixels.push_back(colors[size_t(i) % colors.size()]);
  Result r = Quantize(pixels, 10, 256);
  ASSERT_EQ(r.ok, 1);
  ASSERT_EQ(r.palette.size(), colors.size());
  for (size_t i = 0; i < pixels.size(); i++) {
    int c[3];
    CellCentre(pixels[i], c);
    EXPECT_EQ(r.palette[r.indices[i]], uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | uint32_t(c[2]));
  }
}

TEST(Quantize, SpecialEntries) {
  // Everything transparent: one empty (white) box, then the transparent colour.
  Result all = Quantize(std::vector<uint32_t>(12, 0x00FF00), 4, 256, 0x00FF00);
  ASSERT_EQ(all.ok, 1);
  EXPECT_EQ(all.palette, (std::vector<uint32_t>{0xFFFFFF, 0x00FF00}));
  EXPECT_EQ(all.indices, std::vector<uint8_t>(12, 1));
  // 256 wanted with a transparent colour: at most 255 boxes and the key last.
  std::vector<uint32_t> photo = Photo(64, 64);
  photo[5] = 0x123456;
  Result keyed = Quantize(photo, 64, 256, 0x123456);
  ASSERT_LE(keyed.palette.size(), 256u);
  EXPECT_EQ(keyed.palette.back(), 0x123456u);
  EXPECT_EQ(keyed.indices[5], keyed.palette.size() - 1);
  // The reserve flag: a black entry after the boxes that no pixel uses.
  Result reserved = Quantize(photo, 64, 256, 0xFFFFFFFF, 1);
  ASSERT_LE(reserved.palette.size(), 256u);
  EXPECT_EQ(reserved.palette.back(), 0u);
  for (uint8_t i : reserved.indices) ASSERT_LT(i, reserved.palette.size() - 1);
  // 65536 equal pixels keep their cell counted: the palette is their colour, not an empty box.
  Result many = Quantize(std::vector<uint32_t>(65536, 0x806040), 256, 1);
  EXPECT_EQ(many.palette, (std::vector<uint32_t>{0x846244}));
  // Wanted counts outside 1..256 are brought inside.
  EXPECT_EQ(Quantize(photo, 64, 0).palette.size(), 1u);
  EXPECT_EQ(Quantize(photo, 64, 1000).palette.size(), 256u);
}

TEST(Quantize, DitheringKeepsTheAverageColour) {
  // A grey ramp with four colours (32, 96, 160 and 224): diffusion brings each column's mean
  // nearer its grey than the nearest colour does. The error limit (32) and the one direction
  // keep it from being exact.
  const int32_t w = 128, h = 64;
  std::vector<uint32_t> ramp(size_t(w) * h);
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) ramp[size_t(y) * w + x] = uint32_t(x * 2) * 0x010101u;
  auto columnError = [&](const Result &r) {
    double sum = 0;
    for (int32_t x = 16; x <= 112; x++) {
      double mean = 0;
      for (int32_t y = 0; y < h; y++) mean += r.palette[r.indices[size_t(y) * w + x]] >> 8 & 255;
      sum += std::abs(mean / h - x * 2);
    }
    return sum / 97;
  };
  Result plain = Quantize(ramp, w, 4, 0xFFFFFFFF, 0, 0);
  Result dithered = Quantize(ramp, w, 4, 0xFFFFFFFF, 0, 1);
  ASSERT_EQ(dithered.ok, 1);
  EXPECT_EQ(plain.palette, (std::vector<uint32_t>{0x202020, 0xA0A0A0, 0x606060, 0xE0E0E0}));
  EXPECT_LT(columnError(dithered), 0.6 * columnError(plain));
}

TEST(Quantize, SourceLayouts) {
  // Red 0xC8, green 0x64, blue 0x30 in each layout; the palette holds its cell's centre.
  struct Case {
    int32_t format, bytes;
    std::vector<uint8_t> pixel;
    uint32_t expect;
  } cases[] = {
      {PIXFMT_RGB15LE, 2, {0x86, 0x65}, 0xCC6234},  // 0x6586: 11001 01100 00110
      {PIXFMT_BGR15LE, 2, {0x99, 0x19}, 0xCC6234},  // blue in bits 10-14
      {PIXFMT_RGB15BE, 2, {0x65, 0x86}, 0xCC6234},
      {PIXFMT_BGR15BE, 2, {0x19, 0x99}, 0xCC6234},
      {PIXFMT_RGB16LE, 2, {0x26, 0xCB}, 0xCC6634},  // 0xCB26: 11001 011001 00110
      {PIXFMT_BGR16LE, 2, {0x39, 0x33}, 0xCC6634},
      {PIXFMT_RGB16BE, 2, {0xCB, 0x26}, 0xCC6634},
      {PIXFMT_BGR16BE, 2, {0x33, 0x39}, 0xCC6634},
      {PIXFMT_RGB24, 3, {0xC8, 0x64, 0x30}, 0xCC6634},
      {PIXFMT_BGR24, 3, {0x30, 0x64, 0xC8}, 0xCC6634},
      {PIXFMT_XRGB, 4, {0x30, 0x64, 0xC8, 0x99}, 0xCC6634},
      {PIXFMT_BGRX, 4, {0x99, 0xC8, 0x64, 0x30}, 0xCC6634},
      {PIXFMT_RGBX, 4, {0x99, 0x30, 0x64, 0xC8}, 0xCC6634},
      {PIXFMT_XBGR, 4, {0xC8, 0x64, 0x30, 0x99}, 0xCC6634},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.format);
    uint8_t index = 0xEE;
    uint32_t palette[256];
    int32_t count = 1;
    qmQuantizeRequest q = {c.pixel.data(), c.format, c.bytes, 1, 1, 1, &index, palette, &count, 0xFFFFFFFF, 0, 0, 0};
    QuantizePalette(&q);
    ASSERT_EQ(q.result, 1);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(palette[0], c.expect);
    EXPECT_EQ(index, 0);
  }
}

}  // namespace
