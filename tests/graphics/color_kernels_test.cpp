// Colour conversions: YUV frames against the Python reference and every input triple against
// the scalar path, the 14 output formats, scaling steps, gray, tint, mix, HSL and palette rows.
#include "graphics/color_kernels.h"

#include <gtest/gtest.h>

#include <cstring>

#include "effects_ref.h"
#include "graphics/alpha_kernels.h"
#include "graphics/pixelformat.h"

using fxtest::RunReference;

namespace {

struct YuvFrame {
  int32_t w, h, cw, ch;
  std::vector<uint8_t> y, u, v;
  YuvFrame(int32_t width, int32_t height, uint32_t seed) : w(width), h(height), cw((width + 1) / 2), ch((height + 1) / 2) {
    uint32_t s = seed;
    auto next = [&s] { return uint8_t((s = s * 1103515245u + 12345u) >> 16); };
    for (int i = 0; i < w * h; i++) y.push_back(next());
    for (int i = 0; i < cw * ch; i++) u.push_back(next());
    for (int i = 0; i < cw * ch; i++) v.push_back(next());
  }
  qmYuvFrameRequest Request(void *dst, int32_t pitch, int32_t format, int32_t bpp) const {
    return {y.data(), u.data(), v.data(), w, cw, cw, dst, w, h, pitch, format, bpp};
  }
};

TEST(ColorKernels, YuvVideoRangeEnds) {
  struct Row {
    uint8_t y, u, v;
    uint32_t rgb;
  } rows[] = {{16, 128, 128, 0x000000}, {235, 128, 128, 0xFFFFFF}, {0, 0, 0, 0x008800}, {255, 255, 255, 0xFF7DFF}};
  for (const Row &r : rows) {
    const uint32_t got = (uint32_t(YuvRed(r.y, r.u, r.v)) << 16) | (uint32_t(YuvGreen(r.y, r.u, r.v)) << 8) | uint32_t(YuvBlue(r.y, r.u, r.v));
    EXPECT_EQ(got, r.rgb) << int(r.y) << " " << int(r.u) << " " << int(r.v);
  }
}

TEST(ColorKernels, YuvFrameMatchesReferenceInEveryWordOrder) {
  const YuvFrame f(37, 21, 99); // odd sizes: the last chroma column and row serve one pixel
  std::vector<uint32_t> ys(f.y.begin(), f.y.end());
  std::vector<int64_t> chroma(f.u.begin(), f.u.end());
  chroma.insert(chroma.end(), f.v.begin(), f.v.end());
  const auto ref = RunReference("yuv", f.w, f.h, ys, chroma);
  ASSERT_EQ(ref.size(), size_t(f.w * f.h));
  for (int32_t fmt = PIXFMT_XRGB; fmt <= PIXFMT_XBGR; fmt++) {
    std::vector<uint32_t> out(size_t(40) * f.h, 0xDEADBEEF);
    const auto req = f.Request(out.data(), 40, fmt, 4);
    ConvertYuvFrame(&req);
    for (int32_t y = 0; y < f.h; y++)
      for (int32_t x = 0; x < f.w; x++) ASSERT_EQ(out[y * 40 + x], ColorToPixel(uint32_t(ref[y * f.w + x]), fmt)) << x << "," << y;
    EXPECT_EQ(out[39], 0xDEADBEEFu); // past the width nothing is written
  }
}

// Each (Y, U, V) triple once through the vector rows and the scalar twin: a 512 x 512 frame has
// 256 x 256 chroma samples, one per (U, V) pair, and 64 frames give each pair every Y.
TEST(ColorKernels, YuvVectorRowsEqualScalarForEveryTriple) {
  const int32_t n = 512;
  YuvFrame f(8, 8, 1);
  f.w = f.h = n, f.cw = f.ch = n / 2;
  f.u.assign(size_t(f.cw) * f.ch, 0), f.v.assign(size_t(f.cw) * f.ch, 0), f.y.assign(size_t(n) * n, 0);
  for (int32_t cy = 0; cy < f.ch; cy++)
    for (int32_t cx = 0; cx < f.cw; cx++) f.u[cy * f.cw + cx] = uint8_t(cx), f.v[cy * f.cw + cx] = uint8_t(cy);
  std::vector<uint32_t> vec(size_t(n) * n), ref(size_t(n) * n);
  for (int32_t frame = 0; frame < 64; frame++) {
    for (int32_t y = 0; y < n; y++)
      for (int32_t x = 0; x < n; x++) f.y[y * n + x] = uint8_t(frame * 4 + (y & 1) * 2 + (x & 1));
    for (int32_t fmt : {PIXFMT_BGRX, frame % 2 ? PIXFMT_RGBX : PIXFMT_XBGR}) {
      auto req = f.Request(vec.data(), n, fmt, 4);
      ConvertYuvFrame(&req);
      req.dst = ref.data();
      ConvertYuvFrameScalar(&req);
      ASSERT_EQ(vec, ref) << "frame " << frame << " format " << fmt;
    }
  }
}

// The same through the scaled frame, halved across so that neighbouring pixels take different
// chroma samples: output (x, row) picks luma (2x, row) and chroma (x, row / 2). U = x and V = x +
// row / 2 (both change along a row, and each (U, V) pair has one sample), and 128 frames give each
// pair every Y.
TEST(ColorKernels, ScaledYuvEqualsScalarForEveryTriple) {
  const int32_t sw = 512, sh = 512, dw = 256, dh = 512;
  std::vector<uint8_t> y(size_t(sw) * sh), u(size_t(256) * 256), v(u.size());
  for (int32_t cy = 0; cy < 256; cy++)
    for (int32_t cx = 0; cx < 256; cx++) u[size_t(cy) * 256 + cx] = uint8_t(cx), v[size_t(cy) * 256 + cx] = uint8_t(cx + cy);
  std::vector<uint32_t> vec(size_t(dw) * dh), ref(vec.size());
  for (int32_t frame = 0; frame < 128; frame++) {
    for (int32_t row = 0; row < sh; row++) std::fill_n(y.begin() + ptrdiff_t(row) * sw, sw, uint8_t(frame * 2 + (row & 1)));
    for (int32_t fmt : {PIXFMT_BGRX, frame % 2 ? PIXFMT_XRGB : PIXFMT_RGBX}) {
      qmYuvScaleRequest req{y.data(), u.data(), v.data(), sw, 256, 256, vec.data(), sw, sh, dw, dh, dw, fmt, 4};
      ScaleYuvFrame(&req);
      req.dst = ref.data();
      ScaleYuvFrameScalar(&req);
      ASSERT_EQ(vec, ref) << "frame " << frame << " format " << fmt;
    }
  }
}

TEST(ColorKernels, YuvFrameToNarrowFormats) {
  const YuvFrame f(3, 2, 5);
  const uint32_t rgb0 = (uint32_t(YuvRed(f.y[0], f.u[0], f.v[0])) << 16) | (uint32_t(YuvGreen(f.y[0], f.u[0], f.v[0])) << 8) |
                        uint32_t(YuvBlue(f.y[0], f.u[0], f.v[0]));
  for (int32_t fmt = 0; fmt <= 9; fmt++) {
    const int32_t bpp = fmt <= 7 ? 2 : 3;
    std::vector<uint8_t> out(64, 0xEE);
    auto req = f.Request(out.data(), 4, fmt, bpp);
    ConvertYuvFrame(&req);
    uint32_t got = 0;
    std::memcpy(&got, out.data(), size_t(bpp));
    uint32_t want = ColorToPixel(rgb0, fmt);
    if (fmt == 8) want = ((rgb0 >> 16) & 0xFF) | (rgb0 & 0xFF00) | ((rgb0 & 0xFF) << 16); // bytes r, g, b
    if (fmt == 9) want = rgb0 & 0xFFFFFF;                                                    // bytes b, g, r
    EXPECT_EQ(got, want) << "format " << fmt;
    EXPECT_EQ(out[size_t(3 * bpp)], 0xEE) << "format " << fmt; // the pitch's spare pixel
  }
  // A format whose size disagrees with the bytes per pixel writes nothing.
  std::vector<uint8_t> out(64, 0xEE);
  for (auto [fmt, bpp] : {std::pair{10, 2}, std::pair{4, 4}, std::pair{14, 4}, std::pair{8, 4}}) {
    auto req = f.Request(out.data(), 4, fmt, bpp);
    ConvertYuvFrame(&req);
  }
  EXPECT_EQ(out, std::vector<uint8_t>(64, 0xEE));
}

TEST(ColorKernels, ScaledYuvPicksColumnsAndRowsByStep) {
  // Luma only differs: Y = 16 + 20 * column + 2 * row gives a distinct grey per source pixel.
  YuvFrame f(5, 4, 1);
  for (int32_t y = 0; y < 4; y++)
    for (int32_t x = 0; x < 5; x++) f.y[y * 5 + x] = uint8_t(16 + 20 * x + 2 * y);
  std::fill(f.u.begin(), f.u.end(), 128), std::fill(f.v.begin(), f.v.end(), 128);
  struct Case {
    int32_t dw, dh;
    std::vector<int32_t> cols, rows;
  } cases[] = {{10, 8, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4}, {0, 0, 1, 1, 2, 2, 3, 3}}, {2, 3, {0, 2}, {0, 1, 2}}, {3, 1, {0, 1, 3}, {0}}};
  for (const Case &c : cases) {
    std::vector<uint32_t> out(size_t(c.dw) * c.dh);
    qmYuvScaleRequest req{f.y.data(), f.u.data(), f.v.data(), 5, 3, 3, out.data(), 5, 4, c.dw, c.dh, c.dw, PIXFMT_XRGB, 4};
    ScaleYuvFrame(&req);
    for (int32_t y = 0; y < c.dh; y++)
      for (int32_t x = 0; x < c.dw; x++) {
        const int32_t Y = 16 + 20 * c.cols[x] + 2 * c.rows[y];
        const uint32_t want = (uint32_t(YuvRed(Y, 128, 128)) << 16) | (uint32_t(YuvGreen(Y, 128, 128)) << 8) | uint32_t(YuvBlue(Y, 128, 128));
        EXPECT_EQ(out[y * c.dw + x], want) << c.dw << "x" << c.dh << " at " << x << "," << y;
      }
  }
}

TEST(ColorKernels, GrayTintMixAndMonochrome) {
  // Gray: 0.299 r + 0.587 g + 0.114 b truncated; with the threshold 128 is black and 129 white.
  uint32_t px[3] = {CanonicalToPixel(PIXFMT_BGRX, 0x808080), CanonicalToPixel(PIXFMT_BGRX, 0x818181), CanonicalToPixel(PIXFMT_BGRX, 0x336699)};
  GrayPixels(px, 2, 1, PIXFMT_BGRX, 2, 1);
  EXPECT_EQ(PixelToCanonical(PIXFMT_BGRX, px[0]), 0u);
  EXPECT_EQ(PixelToCanonical(PIXFMT_BGRX, px[1]), 0xFFFFFFu);
  GrayPixels(px + 2, 1, 1, PIXFMT_BGRX, 1, 0);
  const uint32_t g = uint32_t(0.299 * 0x33 + 0.587 * 0x66 + 0.114 * 0x99);
  EXPECT_EQ(px[2], CanonicalToPixel(PIXFMT_BGRX, g * 0x010101u));

  // Tint: level 0 keeps, level 255 moves black toward 255 by 254.
  uint32_t t[2] = {0x000000, 0x204060};
  qmTintRequest tint{t, 0, 0, 2, 1, 0xFFFFFF, 0, 2, PIXFMT_XRGB};
  TintPixels(&tint);
  EXPECT_EQ(t[0], 0u);
  EXPECT_EQ(t[1], 0x204060u);
  tint.level = 255;
  TintPixels(&tint);
  EXPECT_EQ(t[0], 0xFEFEFEu);
  EXPECT_EQ(t[1], uint32_t(((0x20 + ((0xDF * 255) >> 8)) << 16) | ((0x40 + ((0xBF * 255) >> 8)) << 8) | (0x60 + ((0x9F * 255) >> 8))));

  // Mix: level 255 copies the source, level 0 leaves s + (((d - s) * 255) >> 8); masked pixels stay.
  const uint32_t src[3] = {0x102030, 0x102030, 0x102030};
  uint32_t dst[3] = {0xF0E0D0, 0xF0E0D0, 0xF0E0D0};
  const uint8_t mask[1] = {0xA0}; // the row's pixels start at bit 1: only pixel 1 (bit 2) is set
  qmMixRequest mix{src, dst, mask, 1, 3, 1, 255, PIXFMT_XRGB, 3, 3, 1, nullptr, 0};
  MixPixels(&mix);
  EXPECT_EQ(dst[0], 0xF0E0D0u); // bit 1 clear
  EXPECT_EQ(dst[1], 0x102030u); // bit 2 set
  EXPECT_EQ(dst[2], 0xF0E0D0u); // bit 3 clear
  mix.mask = nullptr, mix.level = 0;
  dst[0] = 0xF0E0D0;
  MixPixels(&mix);
  auto lerp = [](int s, int d) { return s + (((d - s) * 255) >> 8); };
  EXPECT_EQ(dst[0], uint32_t((lerp(0x10, 0xF0) << 16) | (lerp(0x20, 0xE0) << 8) | lerp(0x30, 0xD0)));

  // Monochrome from index bytes: white in the format for non-zero indexes.
  const uint8_t idx[4] = {0, 1, 7, 0};
  uint32_t mono[4];
  for (auto [fmt, white] : {std::pair{PIXFMT_XRGB, 0x00FFFFFFu}, std::pair{PIXFMT_BGRX, 0xFFFFFF00u}, std::pair{PIXFMT_RGBX, 0xFFFFFF00u},
                            std::pair{PIXFMT_XBGR, 0x00FFFFFFu}, std::pair{PIXFMT_RGB24, 0u}}) {
    IndexToMonochromePixels(mono, 2, 2, fmt, 2, idx);
    EXPECT_EQ(std::vector<uint32_t>(mono, mono + 4), (std::vector<uint32_t>{0, white, white, 0})) << fmt;
  }
}

// Mix of the pictures' own word order (bytes unused, R, G, B) without a mask goes two channels to
// a word and eight pixels at a time: each channel s + (((d - s) * (255 - level)) >> 8), the unused
// byte 0, for every level, rows of any length, in place or into a third row.
TEST(ColorKernels, PackedMixEqualsTheChannelFormula) {
  const int32_t n = 37;  // four vector steps and a tail
  uint32_t src[n], dst[n], out[n], inPlace[n];
  for (int32_t i = 0; i < n; i++) {
    src[i] = uint32_t(i * 2654435761u) | 0xA5;  // unused byte set: it must not matter
    dst[i] = uint32_t((i + 7) * 40503u * 65537u) | 0x5A;
  }
  auto channel = [](uint32_t s, uint32_t d, int shift, int32_t w) {
    const int32_t sc = int32_t(s >> shift & 255), dc = int32_t(d >> shift & 255);
    return uint32_t(sc + (((dc - sc) * w) >> 8)) << shift;
  };
  for (int32_t level = 0; level <= 255; level++) {
    std::memcpy(inPlace, dst, sizeof dst);
    qmMixRequest mix{src, inPlace, nullptr, 0, n, 1, level, PIXFMT_BGRX, n, n, 0, nullptr, 0};
    MixPixels(&mix);
    mix.dst = dst;
    mix.out = out;
    mix.outPitch = n;
    MixPixels(&mix);
    const int32_t w = 255 - level;
    for (int32_t i = 0; i < n; i++) {
      const uint32_t want = channel(src[i], dst[i], 24, w) | channel(src[i], dst[i], 16, w) | channel(src[i], dst[i], 8, w);
      ASSERT_EQ(inPlace[i], want) << "level " << level << " pixel " << i;
      ASSERT_EQ(out[i], want) << "level " << level << " pixel " << i;
    }
  }
}

// A level beyond 0..255 mixes as the nearest end of the range, never wrapping the channels.
TEST(ColorKernels, MixLevelStaysInRange) {
  const uint32_t src[9] = {0x10203000, 0xFFFFFF00, 0, 0x80808000, 0x01020300, 0xFEFDFC00, 0x7F7F7F00, 0x10101000, 0xF0F0F000};
  uint32_t dst[9] = {0xF0E0D000, 0, 0xFFFFFF00, 0x80808000, 0xFEFDFC00, 0x01020300, 0x80808000, 0xF0F0F000, 0x10101000};
  const struct {
    int32_t level, same;
  } rows[] = {{-1, 0}, {-300, 0}, {256, 255}, {1000, 255}, {int32_t(0x80000000u), 0}, {0x7FFFFFFF, 255}};
  for (auto r : rows) {
    uint32_t got[9], want[9];
    qmMixRequest mix{src, dst, nullptr, 0, 9, 1, r.level, PIXFMT_BGRX, 9, 9, 0, got, 9};
    MixPixels(&mix);
    mix.level = r.same;
    mix.out = want;
    MixPixelsScalar(&mix);
    EXPECT_EQ(std::vector<uint32_t>(got, got + 9), std::vector<uint32_t>(want, want + 9)) << "level " << r.level;
  }
}

TEST(ColorKernels, RgbToHslTable) {
  struct Row {
    int32_t r, g, b;
    double h, s, l;
  } rows[] = {{0, 0, 0, 0, 0, 0},           {255, 255, 255, 0, 0, 1},     {255, 0, 0, 0, 1, 0.5},
              {0, 255, 0, 1.0 / 3, 1, 0.5}, {0, 0, 255, 2.0 / 3, 1, 0.5}, {255, 0, 255, 5.0 / 6, 1, 0.5}};
  for (const Row &r : rows) {
    double h, s, l;
    RgbToHsl(r.r, r.g, r.b, &h, &s, &l);
    EXPECT_NEAR(h, r.h, 1e-12) << r.r << " " << r.g << " " << r.b;
    EXPECT_NEAR(s, r.s, 1e-12);
    EXPECT_NEAR(l, r.l, 1e-12);
  }
}

TEST(ColorKernels, PaletteRowsAndHoldAndModify) {
  uint32_t palette[256] = {};
  palette[0] = 0x000000, palette[1] = 0x1234AB, palette[5] = 0xF0E0D0, palette[63] = 0x0A0B0C, palette[200] = 0x777777;
  uint32_t out[8];
  // HAM6: 0x2F sets red to 15 * 17 after a held black; 0x1A blue 170; 0x33 green 51; 0x01 takes
  // entry 1 with each channel's low nibble copied from its high nibble.
  const uint8_t ham6[4] = {0x2F, 0x1A, 0x33, 0x01};
  ExpandPaletteRow(ham6, out, palette, 4, 1, 4, 6);
  EXPECT_EQ(std::vector<uint32_t>(out, out + 4), (std::vector<uint32_t>{0xFF0000, 0xFF00AA, 0xFF33AA, 0x1133AA}));
  // HAM8: 6 data bits into the top of a channel, keeping its low 2 bits.
  const uint8_t ham8[3] = {0x3F, 0x80 | 0x3F, 0x40 | 0x01};
  ExpandPaletteRow(ham8, out, palette, 3, 1, 3, 8);
  EXPECT_EQ(std::vector<uint32_t>(out, out + 3), (std::vector<uint32_t>{0x0A0B0C, 0xFE0B0C, 0xFE0B04}));
  // Plain rows: two rows of width 2 from source rows 3 bytes apart; any byte indexes the 256.
  const uint8_t plain[6] = {5, 200, 99, 1, 0, 99};
  ExpandPaletteRow(plain, out, palette, 2, 2, 3, 4);
  EXPECT_EQ(std::vector<uint32_t>(out, out + 4), (std::vector<uint32_t>{0xF0E0D0, 0x777777, 0x1234AB, 0}));
}

} // namespace
