// Every vector path against its scalar reference on random pictures, sizes and offsets:
// the results must be equal bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/bitmap.h"
#include "graphics/blend_kernels.h"
#include "graphics/blit_kernels.h"
#include "graphics/color_kernels.h"
#include "graphics/distort.h"
#include "graphics/shape_render.h"
#include "graphics/effect_kernels.h"
#include "graphics/pixelformat.h"
#include "graphics/scale.h"
#include "graphics/transform.h"
#include "graphics/transition_kernels.h"
#include "graphics/warp_kernels.h"

namespace {

std::mt19937 &Rng() {
  static std::mt19937 rng(20261209);
  return rng;
}
int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(Rng()); }

template <typename T> std::vector<T> RandomVector(size_t n) {
  std::vector<T> v(n);
  for (T &x : v) x = T(Rng()());
  return v;
}

// Alpha bytes biased toward 0 and 255 so that the copy and skip shortcuts are exercised.
std::vector<uint8_t> RandomAlpha(size_t n) {
  std::vector<uint8_t> v(n);
  int run = 0, kind = 0;
  for (uint8_t &a : v) {
    if (run-- <= 0) run = Rand(0, 20), kind = Rand(0, 3);
    a = kind == 0 ? 0 : kind == 1 ? 255 : uint8_t(Rng()());
  }
  return v;
}

} // namespace

TEST(SimdDiff, MaskedCopy) {
  for (int iter = 0; iter < 200; iter++) {
    int w = Rand(1, 70), h = Rand(1, 5), sx = Rand(0, 17), dx = Rand(0, 9);
    int sp = sx + w + Rand(0, 3), dp = dx + w + Rand(0, 3), mbpr = (sx + w) / 8 + 1;
    auto src = RandomVector<uint32_t>(size_t(sp) * h);
    auto mask = RandomAlpha(size_t(mbpr) * h); // runs of 0x00 and 0xFF bytes
    auto dst = RandomVector<uint32_t>(size_t(dp) * h), ref = dst;
    qmMaskedBlitRequest req{src.data(), dst.data(), mask.data(), sx, 0, dx, 0, w, h, sp, mbpr, dp, 0};
    MaskedCopyPixels(&req);
    req.dstBase = ref.data();
    MaskedCopyPixelsScalar(&req);
    ASSERT_EQ(dst, ref) << "iteration " << iter;
  }
}

TEST(SimdDiff, BlendAlpha) {
  for (int iter = 0; iter < 200; iter++) {
    int w = Rand(1, 70), h = Rand(1, 4), format = Rand(9, 14);
    int sp = w + Rand(0, 5), dp = w + Rand(0, 5), ap = w + Rand(0, 7);
    auto src = RandomVector<uint32_t>(size_t(sp) * h);
    auto alpha = RandomAlpha(size_t(ap) * h);
    auto dst = RandomVector<uint32_t>(size_t(dp) * h), ref = dst;
    qmBlendRequest req{src.data(), 0, 0, dst.data(), 0, 0, w, h, sp, dp, alpha.data(), 0, 0, ap, format};
    BlendAlphaPixels(&req);
    req.dstBase = ref.data();
    BlendAlphaPixelsScalar(&req);
    ASSERT_EQ(dst, ref) << "iteration " << iter << " format " << format;
  }
}

TEST(SimdDiff, CombineAlpha) {
  for (int iter = 0; iter < 300; iter++) {
    int w = Rand(1, 100), h = Rand(1, 3), mode = Rand(-1, 9), value = Rand(-10, 300);
    auto src = RandomAlpha(size_t(w) * h);
    auto dst = RandomAlpha(size_t(w) * h), ref = dst;
    qmCombineAlphaRequest req{src.data(), 0, 0, dst.data(), 0, 0, w, h, w, w, mode, value};
    CombineAlphaPixels(&req);
    req.dst = ref.data();
    CombineAlphaPixelsScalar(&req);
    ASSERT_EQ(dst, ref) << "mode " << mode << " value " << value;
  }
}

TEST(SimdDiff, Scale) {
  qmScaleBuffers buffers{};
  for (int iter = 0; iter < 122; iter++) {
    int sw = Rand(1, 90), sh = Rand(1, 40), dw = Rand(1, 130), dh = Rand(1, 50), smooth = iter & 1;
    if (iter >= 120) dw = 1700, dh = 1400; // destinations this large take the streaming path
    int format = Rand(10, 13);
    int sp = sw + Rand(0, 4), dp = dw + Rand(0, 4);
    auto src = RandomVector<uint32_t>(size_t(sp) * sh);
    std::vector<uint32_t> dst(size_t(dp) * dh, 0), ref(size_t(dp) * dh, 0);
    ASSERT_EQ(EnsureScaleBuffers(&buffers, dw, dh), 0);
    qmScaleRequest req{};
    req.srcPixels = src.data();
    req.dstPixels = dst.data();
    req.srcWidth = sw, req.srcHeight = sh, req.dstWidth = dw, req.dstHeight = dh;
    req.srcPitch = sp, req.dstPitch = dp;
    req.smooth = smooth, req.format = format, req.bytesPerPixel = 4;
    req.buffers = &buffers;
    ScalePixels(&req);
    req.dstPixels = ref.data();
    if (smooth)
      ScalePixelsSmoothScalar(&req);
    else
      ScalePixelsNearestScalar(&req);
    ASSERT_EQ(dst, ref) << sw << "x" << sh << " -> " << dw << "x" << dh << " smooth " << smooth;
  }
  FreeScaleBuffers(&buffers);
}

// Byte rows by nearest samples: enlarged (samples repeat), shrunk (steps wider than the vector's
// window) and samples at the row's very end, against the one-by-one loop.
TEST(SimdDiff, NearestAlphaRow) {
  for (int iter = 0; iter < 300; iter++) {
    const int srcWidth = Rand(1, 200), width = Rand(1, 300);
    const int64_t step = int64_t(double(srcWidth) / width * 65536.0);
    std::vector<int32_t> index(static_cast<size_t>(width));
    for (int i = 0; i < width; i++) index[size_t(i)] = int32_t(std::min<int64_t>((i * step) >> 16, srcWidth - 1));
    // The source row exactly as long as srcWidth, so a read past it shows under the sanitizer.
    const auto src = RandomVector<uint8_t>(size_t(srcWidth));
    std::vector<uint8_t> fast(static_cast<size_t>(width)), slow(static_cast<size_t>(width));
    NearestAlphaRow(fast.data(), src.data(), index.data(), width, srcWidth);
    NearestAlphaRowScalar(slow.data(), src.data(), index.data(), width, srcWidth);
    ASSERT_EQ(fast, slow) << srcWidth << " -> " << width;
  }
}

TEST(SimdDiff, Transform) {
  for (int iter = 0; iter < 80; iter++) {
    int sw = Rand(1, 40), sh = Rand(1, 40), smooth = iter & 1;
    double angle = Rand(0, 359) * M_PI / 180 + Rand(0, 99) * 1e-3;
    double sx = Rand(20, 300) / 100.0, sy = Rand(20, 300) / 100.0, shear = Rand(-50, 50) / 100.0;
    double a = std::cos(angle) * sx, b = std::sin(angle) * sx;
    double c = -std::sin(angle) * sy + shear, d = std::cos(angle) * sy;
    double xs[4] = {0, double(sw), 0, double(sw)}, ys[4] = {0, 0, double(sh), double(sh)};
    double minX = 1e30, maxX = -1e30, minY = 1e30, maxY = -1e30;
    for (int i = 0; i < 4; i++) {
      minX = std::min(minX, a * xs[i] + c * ys[i]), maxX = std::max(maxX, a * xs[i] + c * ys[i]);
      minY = std::min(minY, b * xs[i] + d * ys[i]), maxY = std::max(maxY, b * xs[i] + d * ys[i]);
    }
    int dw = int(std::ceil(maxX - minX)) + 1, dh = int(std::ceil(maxY - minY)) + 1;
    auto src = RandomVector<uint32_t>(size_t(sw) * sh);
    std::vector<uint32_t> dst(size_t(dw) * dh, 0), ref = dst;
    qmTransformRequest req{src.data(), nullptr, nullptr, dst.data(), nullptr, nullptr, sw, sh, dw, dh, sw, 0, 0,
                           dw, 0, 0, a, b, c, d, -minX, -minY, smooth, Rand(10, 13), 4};
    ASSERT_EQ(TransformPixels(&req), 0);
    req.dstPixels = ref.data();
    ASSERT_EQ(TransformPixelsScalar(&req), 0);
    ASSERT_EQ(dst, ref) << "iteration " << iter;
  }
}

// The transform's planes beside its pixels: an alpha plane, a mask read from the source, and a
// mask made whole where the source has none, nearest and smoothed, with padded plane rows.
TEST(SimdDiff, TransformPlanes) {
  struct Case {
    const char *name;
    bool srcAlpha, srcMask, dstMask;
  };
  const Case cases[] = {{"alpha", true, false, false}, {"mask", false, true, true}, {"whole mask", false, false, true}};
  for (const Case &c : cases)
    for (int iter = 0; iter < 60; iter++) {
      const int sw = Rand(1, 40), sh = Rand(1, 40), smooth = iter & 1, format = Rand(10, 13);
      const double angle = Rand(0, 359) * M_PI / 180 + Rand(0, 99) * 1e-3, scale = Rand(30, 250) / 100.0;
      const double a = std::cos(angle) * scale, b = std::sin(angle) * scale;
      const double cc = -std::sin(angle) * scale, d = std::cos(angle) * scale;
      double minX = 1e30, minY = 1e30, maxX = -1e30, maxY = -1e30;
      for (const double x : {0.0, double(sw)})
        for (const double y : {0.0, double(sh)}) {
          minX = std::min(minX, a * x + cc * y), maxX = std::max(maxX, a * x + cc * y);
          minY = std::min(minY, b * x + d * y), maxY = std::max(maxY, b * x + d * y);
        }
      const int dw = int(std::ceil(maxX - minX)) + 1, dh = int(std::ceil(maxY - minY)) + 1;
      const int srcMaskRow = (sw + 7) / 8 + 1, dstMaskRow = (dw + 7) / 8 + 1, srcAlphaRow = sw + 3, dstAlphaRow = dw + 5;
      const auto src = RandomVector<uint32_t>(size_t(sw) * sh);
      const auto srcAlpha = RandomAlpha(size_t(srcAlphaRow) * sh);
      const auto srcMask = RandomVector<uint8_t>(size_t(srcMaskRow) * sh);
      struct Out {
        std::vector<uint32_t> pixels;
        std::vector<uint8_t> alpha, mask;
      } vec{std::vector<uint32_t>(size_t(dw) * dh), std::vector<uint8_t>(size_t(dstAlphaRow) * dh),
            std::vector<uint8_t>(size_t(dstMaskRow) * dh)},
          ref = vec;
      auto request = [&](Out &o) {
        return qmTransformRequest{src.data(), c.srcMask ? srcMask.data() : nullptr, c.srcAlpha ? srcAlpha.data() : nullptr,
                                  o.pixels.data(), c.dstMask ? o.mask.data() : nullptr,
                                  c.srcAlpha ? o.alpha.data() : nullptr, sw, sh, dw, dh, sw, srcMaskRow, srcAlphaRow, dw,
                                  dstMaskRow, dstAlphaRow, a, b, cc, d, -minX, -minY, smooth, format, 4};
      };
      const qmTransformRequest vr = request(vec), rr = request(ref);
      ASSERT_EQ(TransformPixels(&vr), 0);
      ASSERT_EQ(TransformPixelsScalar(&rr), 0);
      ASSERT_EQ(vec.pixels, ref.pixels) << c.name << " iteration " << iter;
      ASSERT_EQ(vec.alpha, ref.alpha) << c.name << " iteration " << iter;
      ASSERT_EQ(vec.mask, ref.mask) << c.name << " iteration " << iter;
    }
}

// Quarter turns go in tiles of whole source rows and columns where the samples allow: turns
// with the noise cos and sin leave, exact ones, scaled, mirrored, and nearly quarter turns whose
// samples step to the next source column along a row or the next source row down a column inside
// a tile (offsets put the centres next to whole numbers), so those tiles take the pixel-by-pixel
// path beside the others.
TEST(SimdDiff, QuarterTurnTiles) {
  auto turn = [](double degrees, double sx, double sy) {
    const double theta = (360 - degrees) * M_PI / 180, c = std::cos(theta), s = std::sin(theta);
    return std::vector<double>{sx * c, sx * s, -sy * s, sy * c};
  };
  const struct {
    const char *name;
    std::vector<double> m;
    double shiftX, shiftY;  // added to the offsets that put the box at (0, 0)
  } cases[] = {
      {"quarter", turn(90, 1, 1), 0, 0},
      {"three quarters", turn(270, 1, 1), 0, 0},
      {"quarter, doubled", turn(90, 2, 2), 0, 0},
      {"quarter, halved and stretched", turn(90, 0.5, 1.5), 0.25, 0.75},
      {"exact quarter, moved by a fraction", {0, 1, -1, 0}, 0.5, 0.375},
      {"quarter, mirrored", {0, 1, 1, 0}, 0, 0},
      // Whole-number offsets but for these: a row's samples step to the next source column 40
      // columns from the right, and a column's to the next source row at row 60.
      {"nearly a quarter, stepping along a row", {5e-7, 1, -1, 5e-7}, 0.5, 0.5 - 2e-5},
      {"nearly a quarter, stepping down a column", {5e-7, 1, -1, 5e-7}, 0.5 - 3e-5, 0.5},
  };
  for (const auto &c : cases)
    for (int iter = 0; iter < 12; iter++) {
      // Mostly several tiles wide and several bands high.
      const int sw = Rand(1, 4) == 1 ? Rand(1, 20) : Rand(130, 200), sh = Rand(1, 4) == 1 ? Rand(1, 20) : Rand(130, 200);
      const bool withAlpha = iter & 1;
      const int smooth = iter % 4 == 3, format = Rand(10, 13);
      const double a = c.m[0], b = c.m[1], cc = c.m[2], d = c.m[3];
      double minX = 1e30, minY = 1e30, maxX = -1e30, maxY = -1e30;
      for (const double x : {0.0, double(sw)})
        for (const double y : {0.0, double(sh)}) {
          minX = std::min(minX, a * x + cc * y), maxX = std::max(maxX, a * x + cc * y);
          minY = std::min(minY, b * x + d * y), maxY = std::max(maxY, b * x + d * y);
        }
      const int dw = int(std::ceil(maxX - minX)) + 2, dh = int(std::ceil(maxY - minY)) + 2;
      const int srcAlphaRow = sw + 3, dstAlphaRow = dw + 5;
      const auto src = RandomVector<uint32_t>(size_t(sw) * sh);
      const auto srcAlpha = RandomAlpha(size_t(srcAlphaRow) * sh);
      struct Out {
        std::vector<uint32_t> pixels;
        std::vector<uint8_t> alpha;
      } vec{std::vector<uint32_t>(size_t(dw) * dh), std::vector<uint8_t>(size_t(dstAlphaRow) * dh)}, ref = vec;
      auto request = [&](Out &o) {
        return qmTransformRequest{src.data(), nullptr, withAlpha ? srcAlpha.data() : nullptr, o.pixels.data(), nullptr,
                                  withAlpha ? o.alpha.data() : nullptr, sw, sh, dw, dh, sw, 0, srcAlphaRow, dw, 0,
                                  dstAlphaRow, a, b, cc, d, -minX + c.shiftX, -minY + c.shiftY, smooth, format, 4};
      };
      const qmTransformRequest vr = request(vec), rr = request(ref);
      ASSERT_EQ(TransformPixels(&vr), 0);
      ASSERT_EQ(TransformPixelsScalar(&rr), 0);
      ASSERT_EQ(vec.pixels, ref.pixels) << c.name << " " << sw << "x" << sh << " alpha " << withAlpha << " smooth " << smooth;
      ASSERT_EQ(vec.alpha, ref.alpha) << c.name << " " << sw << "x" << sh << " smooth " << smooth;
    }
}

// Convolution rows: random weights of both signs and sizes, taps at random offsets into one row,
// lengths that leave every kind of remainder.
TEST(SimdDiff, ConvolutionRows) {
  for (int round = 0; round < 200; round++) {
    const int n = Rand(1, 70), count = Rand(1, 30);
    std::vector<double> row(size_t(n) + 40), weights(count);
    for (double &v : row) v = double(Rand(0, 255));
    for (double &w : weights) w = std::uniform_real_distribution<double>(-1.5, 1.5)(Rng());
    std::vector<const double *> taps(count);
    for (auto &t : taps) t = row.data() + Rand(0, 40);
    std::vector<double> vec(n), ref(n);
    ConvolveTaps(taps.data(), weights.data(), count, n, vec.data());
    ConvolveTapsScalar(taps.data(), weights.data(), count, n, ref.data());
    ASSERT_EQ(0, std::memcmp(vec.data(), ref.data(), size_t(n) * sizeof(double))) << "round " << round;
    // Stored truncated: large weights give sums below 0 and above 255, weights of whole tenths
    // sums next to whole numbers.
    for (double &w : weights) w = Rand(0, 1) ? std::round(w * 10) / 10 : w * 200;
    std::vector<double> tv(n), tr(n);
    ConvolveTaps(taps.data(), weights.data(), count, n, tv.data(), 1);
    ConvolveTapsScalar(taps.data(), weights.data(), count, n, tr.data(), 1);
    ASSERT_EQ(0, std::memcmp(tv.data(), tr.data(), size_t(n) * sizeof(double))) << "round " << round;

    // Sums beyond both ends of 0..255 and near whole numbers for the clamping and truncation.
    std::vector<double> r(n), g(n), b(n);
    for (int i = 0; i < n; i++) {
      r[i] = vec[i] * 300;
      g[i] = double(Rand(-3, 258)) + (Rand(0, 1) ? 0.999999999 : 0.0);
      b[i] = std::nextafter(double(Rand(0, 255)), -1.0);
    }
    const int shifts[4][3] = {{16, 8, 0}, {8, 16, 24}, {24, 16, 8}, {0, 8, 16}};
    const int *sh = shifts[round % 4];
    std::vector<uint32_t> pv(n), pr(n);
    PackChannels(r.data(), g.data(), b.data(), n, sh[0], sh[1], sh[2], pv.data());
    PackChannelsScalar(r.data(), g.data(), b.data(), n, sh[0], sh[1], sh[2], pr.data());
    ASSERT_EQ(pv, pr) << "round " << round;

    const auto words = RandomVector<uint32_t>(size_t(n));
    std::vector<double> sv(3 * size_t(n)), sr(3 * size_t(n));
    SplitChannels(words.data(), n, sh[0], sh[1], sh[2], sv.data(), sv.data() + n, sv.data() + 2 * n);
    SplitChannelsScalar(words.data(), n, sh[0], sh[1], sh[2], sr.data(), sr.data() + n, sr.data() + 2 * n);
    ASSERT_EQ(sv, sr) << "round " << round;
  }
}

// YUV rows in every 32-bit word order, at widths and pitches that leave every remainder.
// The blur's float path against the double sums it must reproduce: noise, flat areas and ramps
// of one level per pixel (whose sums sit on whole numbers, where truncation is decided by the
// last bits), steps, black with sparse dim dots (sums just above 0), every channel order,
// widths around the vector blocks, repeated blurs.
TEST(SimdDiff, Blur) {
  enum Kind { kNoise, kFlat, kRampAcross, kRampDown, kSteps, kSmooth, kSparse };
  const struct {
    double radius, sigma;
  } kernels[] = {{0, 1}, {1, 1.0 / 3}, {2, 2.0 / 3}, {3.5, 1.2}, {10, 10.0 / 3}, {4, 0.5}};
  const int32_t formats[] = {PIXFMT_XRGB, PIXFMT_BGRX, PIXFMT_RGBX, PIXFMT_XBGR};
  for (int round = 0; round < 60; round++) {
    const int32_t w = Rand(1, 150), h = Rand(1, 40), pitch = w + Rand(0, 3);
    const Kind kind = Kind(round % 7);
    std::vector<uint32_t> px(size_t(pitch) * h, 0xA5A5A5A5u);
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++) {
        uint32_t &v = px[size_t(y) * pitch + x];
        switch (kind) {
        case kNoise: v = uint32_t(Rng()()); break;
        case kFlat: v = (x < w / 2 ? 0x00FFFFFFu : 0x00808001u) | uint32_t(Rand(0, 1) << 24); break;
        case kRampAcross: v = uint32_t(x & 255) * 0x01010101u; break;
        case kRampDown: v = uint32_t((y * 3) & 255) * 0x00010101u | uint32_t(x & 255) << 24; break;
        case kSteps: v = (uint32_t(x / 7) * 0x203040u + uint32_t(y / 5) * 0x0A0B0Cu) & 0x00FFFFFFu; break;
        case kSmooth: v = uint32_t(128 + 100 * std::sin(x * 0.11 + y * 0.07)) * 0x010101u ^ uint32_t(Rand(0, 3)); break;
        case kSparse: v = Rand(0, 15) ? 0u : uint32_t(Rand(1, 3)) * 0x01010101u; break;
        }
      }
    const auto &k = kernels[Rand(0, 5)];
    const int32_t fmt = formats[Rand(0, 3)];
    std::vector<uint32_t> ref = px;
    for (int pass = 0; pass < 3; pass++) {
      qmConvolveRequest a{px.data(), w, h, pitch, fmt, 4, nullptr, 0, k.radius, k.sigma, CONVOLVE_BLUR};
      qmConvolveRequest b = a;
      b.pixels = ref.data();
      ASSERT_EQ(ConvolvePixels(&a), 0);
      ASSERT_EQ(BlurPixelsScalar(&b), 0);
      ASSERT_EQ(px, ref) << "round " << round << " kind " << kind << " " << w << "x" << h << " radius " << k.radius << " pass " << pass;
    }
  }
}

TEST(SimdDiff, YuvFrame) {
  for (int round = 0; round < 60; round++) {
    const int w = Rand(1, 70), h = Rand(1, 9), cw = (w + 1) / 2, ch = (h + 1) / 2;
    const int pitch = w + Rand(0, 5);
    const auto y = RandomVector<uint8_t>(size_t(w) * h), u = RandomVector<uint8_t>(size_t(cw) * ch), v = RandomVector<uint8_t>(size_t(cw) * ch);
    const int format = 10 + round % 4;
    std::vector<uint32_t> vec(size_t(pitch) * h, 0x5A5A5A5A), ref = vec;
    qmYuvFrameRequest req{y.data(), u.data(), v.data(), w, cw, cw, vec.data(), w, h, pitch, format, 4};
    ConvertYuvFrame(&req);
    req.dst = ref.data();
    ConvertYuvFrameScalar(&req);
    ASSERT_EQ(vec, ref) << "round " << round;
  }
}

// Scaled YUV frames in every 32-bit word order, stretched and shrunk each way, at sizes and
// pitches that leave every remainder; the pitch's spare words stay as they were.
TEST(SimdDiff, YuvScaledFrame) {
  for (int round = 0; round < 80; round++) {
    const int sw = Rand(1, 70), sh = Rand(1, 9), cw = (sw + 1) / 2, ch = (sh + 1) / 2;
    const int dw = Rand(1, 90), dh = Rand(1, 12), pitch = dw + Rand(0, 5);
    const auto y = RandomVector<uint8_t>(size_t(sw) * sh), u = RandomVector<uint8_t>(size_t(cw) * ch), v = RandomVector<uint8_t>(size_t(cw) * ch);
    const int format = 10 + round % 4;
    std::vector<uint32_t> vec(size_t(pitch) * dh, 0x5A5A5A5A), ref = vec;
    qmYuvScaleRequest req{y.data(), u.data(), v.data(), sw, cw, cw, vec.data(), sw, sh, dw, dh, pitch, format, 4};
    ScaleYuvFrame(&req);
    req.dst = ref.data();
    ScaleYuvFrameScalar(&req);
    ASSERT_EQ(vec, ref) << "round " << round << ": " << sw << "x" << sh << " to " << dw << "x" << dh;
  }
}

// Modulation in both word orders, with hue shifts that need zero, one and two turns back into
// range, greys, pure colours and colours with two equal channels (ties for the largest or the
// smallest pick the hue formula) among random pixels, and widths that leave every remainder.
TEST(SimdDiff, Modulate) {
  const double settings[][3] = {{100, 100, 100}, {100, 0, 100}, {150, 80, 130}, {50, 200, 0}, {120, 100, 350}, {100, 100, 499},
                                {30, 300, 60},   {0, 50, 250},  {1000, 1000, 1}};
  for (int round = 0; round < 90; round++) {
    const int w = Rand(1, 40), h = Rand(1, 4), pitch = w + Rand(0, 3);
    auto px = RandomVector<uint32_t>(size_t(pitch) * h);
    for (auto &p : px) {
      if (Rand(0, 4) == 0) p = (Rand(0, 1) ? 0x010101u * uint32_t(Rand(0, 255)) : 0xFF0000u >> (8 * Rand(0, 2)));
      else if (Rand(0, 3) == 0) p = 0x010101u * uint32_t(Rand(0, 255)) ^ (uint32_t(Rand(1, 255)) << (8 * Rand(0, 2)));
    }
    const int32_t format = round % 2 ? 11 : 10;
    auto ref = px;
    const double *set = settings[round % 9];
    qmModulateRequest req{px.data(), w, h, pitch, format, set[0], set[1], set[2]};
    ModulatePixels(&req);
    req.pixels = ref.data();
    ModulatePixelsScalar(&req);
    ASSERT_EQ(px, ref) << "round " << round;
  }
}

// Modulation of pictures in runs: equal groups, runs that end inside a group, patterns that
// repeat with different pixels within, copies of a block that differ in one pixel, and rows that
// begin as the one before ended.
TEST(SimdDiff, ModulateRuns) {
  for (int round = 0; round < 90; round++) {
    const int w = Rand(1, 70), h = Rand(1, 5), pitch = w + Rand(0, 3);
    const uint32_t palette[3] = {uint32_t(Rng()()), uint32_t(Rng()()), 0};
    std::vector<uint32_t> px(size_t(pitch) * h);
    if (round % 3 == 0) {
      for (size_t i = 0; i < px.size(); i++) px[i] = palette[(i % 4) % 3]; // period 4: a b c a, a b c a
    } else if (round % 3 == 1) {
      const size_t block = size_t(4) << Rand(0, 3); // 4 to 32 pixels, copied with one pixel changed now and then
      for (size_t i = 0; i < px.size(); i++) px[i] = palette[(i % block) % 3];
      for (size_t i = 0; i < px.size(); i += block)
        if (Rand(0, 2) == 0) px[std::min(px.size() - 1, i + size_t(Rand(0, int(block) - 1)))] ^= 0x10101;
    } else {
      for (size_t i = 0; i < px.size();) {
        const uint32_t c = palette[Rand(0, 2)];
        for (int n = Rand(1, 12); n > 0 && i < px.size(); n--) px[i++] = c;
      }
    }
    auto ref = px;
    const int32_t format = round % 2 ? 11 : 10;
    qmModulateRequest req{px.data(), w, h, pitch, format, 120, 80, round % 4 ? 130.0 : 60.0};
    ModulatePixels(&req);
    req.pixels = ref.data();
    ModulatePixelsScalar(&req);
    ASSERT_EQ(px, ref) << "round " << round;
  }
}

// Every colour once through the vector modulation and the scalar twin, for hue shifts of each
// sign, under and over one turn, and saturations of zero (greys out) and above 100 percent.
TEST(SimdDiff, ModulateEveryColour) {
  struct Setting {
    double brightness, saturation, hue;
    int32_t format;
  } settings[] = {{110, 90, 105, 10}, {100, 0, 100, 11}, {80, 150, 50, 10}, {120, 100, 350, 11}, {100, 200, -150, 10}};
  std::vector<uint32_t> vec(size_t(1) << 24), ref(vec.size());
  for (const Setting &set : settings) {
    const int32_t shiftR = set.format == 10 ? 8 : 16, shiftG = set.format == 10 ? 16 : 8, shiftB = set.format == 10 ? 24 : 0;
    for (uint32_t c = 0; c < vec.size(); c++)
      vec[c] = (((c >> 16) & 0xFF) << shiftR) | (((c >> 8) & 0xFF) << shiftG) | ((c & 0xFF) << shiftB);
    ref = vec;
    qmModulateRequest req{vec.data(), 4096, 4096, 4096, set.format, set.brightness, set.saturation, set.hue};
    ModulatePixels(&req);
    req.pixels = ref.data();
    ModulatePixelsScalar(&req);
    const size_t c = size_t(std::mismatch(vec.begin(), vec.end(), ref.begin()).first - vec.begin());
    ASSERT_EQ(c, vec.size()) << "colour " << std::hex << c << std::dec << " setting " << set.brightness << " " << set.saturation << " " << set.hue;
  }
}

// Swirl source positions for pictures wide, tall and square, at angles across the tables; the
// vector path looking the turn up by its table entry per root, or (odd rounds) by the sine and
// cosine per root.
TEST(SimdDiff, SwirlRows) {
  std::vector<double> sine(QM_WARP_TABLE_SIZE), cosine(QM_WARP_TABLE_SIZE);
  qmSwirlRequest req{};
  req.sine = sine.data(), req.cosine = cosine.data();
  PrepareSwirl(&req);
  for (int round = 0; round < 120; round++) {
    req.width = Rand(1, 90), req.height = Rand(1, 90);
    const int32_t degrees = Rand(0, 720);
    qmSwirlGeometry g = SwirlGeometryOf(&req, degrees);
    std::vector<int32_t> rootIndex(size_t(SwirlRootCount(&g)));
    SwirlRootIndex(&g, rootIndex.data());
    g.rootIndex = rootIndex.data();
    std::vector<double> rs(rootIndex.size()), rc(rootIndex.size());
    for (size_t i = 0; i < rootIndex.size(); i++) rs[i] = sine[size_t(rootIndex[i])], rc[i] = cosine[size_t(rootIndex[i])];
    if (round % 2) g.rootSine = rs.data(), g.rootCosine = rc.data();
    std::vector<int32_t> vx(req.width), vy(req.width), rx(req.width), ry(req.width);
    for (int32_t y = 0; y < req.height; y++) {
      SwirlSourceRow(&g, y, vx.data(), vy.data());
      SwirlSourceRowScalar(&g, y, rx.data(), ry.data());
      ASSERT_EQ(vx, rx) << "round " << round << " row " << y;
      ASSERT_EQ(vy, ry) << "round " << round << " row " << y;
    }
  }
}

// Swirl source positions read from the root table built at the start stand in exactly for the ones
// worked out from the distance, on the vector path and the scalar one.
TEST(SimdDiff, SwirlRowsFromRoots) {
  std::vector<double> sine(QM_WARP_TABLE_SIZE), cosine(QM_WARP_TABLE_SIZE);
  for (int round = 0; round < 60; round++) {
    qmSwirlRequest req{};
    req.sine = sine.data(), req.cosine = cosine.data();
    req.width = Rand(1, 90), req.height = Rand(1, 90);
    std::vector<int16_t> roots(size_t(req.width) * size_t(req.height));
    req.roots = roots.data();
    PrepareSwirl(&req);
    const int32_t degrees = Rand(0, 720);
    qmSwirlGeometry g = SwirlGeometryOf(&req, degrees);
    std::vector<int32_t> rootIndex(size_t(SwirlRootCount(&g)));
    SwirlRootIndex(&g, rootIndex.data());
    g.rootIndex = rootIndex.data();
    qmSwirlGeometry fromRoots = g;
    std::vector<double> rs(rootIndex.size()), rc(rootIndex.size());
    for (size_t i = 0; i < rootIndex.size(); i++) rs[i] = sine[size_t(rootIndex[i])], rc[i] = cosine[size_t(rootIndex[i])];
    fromRoots.roots = roots.data(), fromRoots.rootSine = rs.data(), fromRoots.rootCosine = rc.data();
    std::vector<int32_t> vx(req.width), vy(req.width), sx(req.width), sy(req.width), rx(req.width), ry(req.width);
    for (int32_t y = 0; y < req.height; y++) {
      SwirlSourceRow(&fromRoots, y, vx.data(), vy.data());
      SwirlSourceRowScalar(&fromRoots, y, sx.data(), sy.data());
      SwirlSourceRowScalar(&g, y, rx.data(), ry.data());
      ASSERT_EQ(vx, rx) << "round " << round << " row " << y;
      ASSERT_EQ(vy, ry) << "round " << round << " row " << y;
      ASSERT_EQ(sx, rx) << "round " << round << " row " << y;
      ASSERT_EQ(sy, ry) << "round " << round << " row " << y;
    }
  }
}

// Swirl places through the roots with the turn in floats against the doubles, pixel for pixel:
// sizes wide, tall and square, odd and even (a half-pixel centre), and turns from none at all
// (every root still) through small ones (a still ring by the radius) to full and winding back.
TEST(SimdDiff, SwirlFloatRows) {
  std::vector<double> sine(QM_WARP_TABLE_SIZE), cosine(QM_WARP_TABLE_SIZE);
  const struct {
    int32_t width, height;
  } sizes[] = {{641, 479}, {480, 640}, {334, 334}, {97, 33}, {33, 97}, {8, 3}, {1, 1}};
  for (const auto &size : sizes) {
    qmSwirlRequest req{};
    req.sine = sine.data(), req.cosine = cosine.data();
    req.width = size.width, req.height = size.height;
    std::vector<int16_t> roots(size_t(req.width) * size_t(req.height));
    req.roots = roots.data();
    PrepareSwirl(&req);
    for (const int32_t degrees : {0, 1, 3, 45, 90, 180, 359, 360, 361, 600, 719, 720, Rand(0, 720)}) {
      qmSwirlGeometry g = SwirlGeometryOf(&req, degrees);
      std::vector<int32_t> rootIndex(size_t(SwirlRootCount(&g)));
      SwirlRootIndex(&g, rootIndex.data());
      std::vector<double> rs(rootIndex.size()), rc(rootIndex.size());
      for (size_t i = 0; i < rootIndex.size(); i++) rs[i] = sine[size_t(rootIndex[i])], rc[i] = cosine[size_t(rootIndex[i])];
      g.rootIndex = rootIndex.data(), g.roots = roots.data(), g.rootSine = rs.data(), g.rootCosine = rc.data();
      std::vector<float> table(3 * (rootIndex.size() + 2 * QM_SWIRL_FLOAT_PAD));
      qmSwirlFloat turn;
      ASSERT_TRUE(SwirlFloatOf(&g, table.data(), &turn));
      qmSwirlGeometry floats = g;
      floats.turn = &turn;
      std::vector<int32_t> vx(req.width), vy(req.width), rx(req.width), ry(req.width);
      for (int32_t y = 0; y < req.height; y++) {
        SwirlSourceRow(&floats, y, vx.data(), vy.data());
        SwirlSourceRowScalar(&g, y, rx.data(), ry.data());
        ASSERT_EQ(vx, rx) << size.width << "x" << size.height << " degrees " << degrees << " row " << y;
        ASSERT_EQ(vy, ry) << size.width << "x" << size.height << " degrees " << degrees << " row " << y;
      }
    }
  }
  // Without roots there is nothing to look the turn up by.
  qmSwirlRequest req{};
  req.sine = sine.data(), req.cosine = cosine.data(), req.width = 20, req.height = 10;
  const qmSwirlGeometry g = SwirlGeometryOf(&req, 90);
  std::vector<float> table(3 * (size_t(SwirlRootCount(&g)) + 2 * QM_SWIRL_FLOAT_PAD));
  qmSwirlFloat turn;
  EXPECT_FALSE(SwirlFloatOf(&g, table.data(), &turn));
}

// Ripple source places: random factors (large, negative, tiny) for a table that covers some of the
// distances, so that both the table and the one-by-one way are taken, on odd and even sizes.
TEST(SimdDiff, RippleRows) {
  std::vector<double> sine(QM_WARP_TABLE_SIZE);
  for (int round = 0; round < 60; round++) {
    qmRippleRequest req{};
    req.width = Rand(1, 60), req.height = Rand(1, 40);
    req.centerX = Rand(0, req.width - 1), req.centerY = Rand(0, req.height - 1);
    req.waves = 10, req.amplitude = Rand(0, 40) / 8.0, req.wavelength = Rand(2, 64);
    req.maxDistance = Rand(1, 40);
    std::vector<int32_t> dist(size_t(req.width) * req.height);
    req.sine = sine.data(), req.distance = dist.data();
    PrepareRipple(&req);
    std::vector<double> factor(size_t(Rand(1, 50)));
    for (double &f : factor) f = (Rand(0, 2000) - 1000) / double(Rand(1, 300));
    const int32_t level = Rand(0, 20);
    std::vector<int32_t> vx(size_t(req.width)), vy(size_t(req.width)), rx(size_t(req.width)), ry(size_t(req.width));
    for (int32_t y = 0; y < req.height; y++) {
      RippleSourceRow(&req, level, factor.data(), int32_t(factor.size()), y, vx.data(), vy.data());
      RippleSourceRowScalar(&req, level, factor.data(), int32_t(factor.size()), y, rx.data(), ry.data(), 0, req.width);
      ASSERT_EQ(vx, rx) << "round " << round << " row " << y;
      ASSERT_EQ(vy, ry) << "round " << round << " row " << y;
    }
  }
}

// Ripple source places through the ring table in fixed point against the doubles over the whole
// distance table: factors of every size and sign, some whose products land exactly on whole
// numbers (halves, quarters, whole factors), and some too large for fixed point; random centres.
TEST(SimdDiff, RippleRingRows) {
  std::vector<double> sine(QM_WARP_TABLE_SIZE);
  for (int round = 0; round < 300; round++) {
    qmRippleRequest req{};
    req.width = Rand(1, 120), req.height = Rand(1, 60);
    req.centerX = Rand(0, req.width - 1), req.centerY = Rand(0, req.height - 1);
    req.waves = 10, req.wavelength = Rand(2, 64), req.maxDistance = Rand(1, 60);
    std::vector<int32_t> dist(size_t(req.width) * req.height);
    std::vector<uint16_t> rings(size_t(req.width) * size_t(RippleRingRows(&req)));
    req.sine = sine.data(), req.distance = dist.data(), req.rings = rings.data();
    PrepareRipple(&req);
    const int64_t fx = std::max(req.centerX, req.width - 1 - req.centerX), fy = std::max(req.centerY, req.height - 1 - req.centerY);
    std::vector<double> factor(size_t(IntegerSqrt(fx * fx + fy * fy)) + 1);
    const int kind = round % 4;
    for (double &f : factor)
      f = kind == 0   ? (Rand(0, 2000) - 1000) / double(Rand(1, 300))
          : kind == 1 ? Rand(-8, 8) / 4.0
          : kind == 2 ? (Rand(0, 2000) - 1000) * 1e-7
                      : (Rand(0, 2) - 1) * 3e6;
    const int32_t count = int32_t(factor.size());
    std::vector<int32_t> table(factor.size() + 2 * QM_RIPPLE_SCALED_PAD);
    qmRippleFixed f;
    RippleFixedOf(factor.data(), count, Rand(0, 20), table.data(), &f);
    if (kind == 3 && count > 1) {
      EXPECT_EQ(f.shift, -1) << "round " << round;
    }
    const size_t n = size_t(req.width);
    std::vector<int32_t> vx(n), vy(n), sx(n), sy(n), rx(n), ry(n);
    for (int32_t y = 0; y < req.height; y++) {
      RippleRingRow(&req, &f, y, vx.data(), vy.data());
      RippleRingRowScalar(&req, &f, y, sx.data(), sy.data(), 0, req.width);
      RippleSourceRowScalar(&req, f.level, factor.data(), count, y, rx.data(), ry.data(), 0, req.width);
      ASSERT_EQ(vx, rx) << "round " << round << " row " << y;
      ASSERT_EQ(vy, ry) << "round " << round << " row " << y;
      ASSERT_EQ(sx, rx) << "round " << round << " row " << y;
      ASSERT_EQ(sy, ry) << "round " << round << " row " << y;
    }
  }
}

// The last row a band of places reads: lengths that leave every remainder, rows anywhere in the
// band, all negative (0 stands).
// Ring rows whose left columns mirror the right ones: centres in the middle of odd and even rows,
// off the middle, and at the edge of where the mirror is taken.
TEST(SimdDiff, RippleRingRowsMirrored) {
  std::vector<double> sine(QM_WARP_TABLE_SIZE);
  const struct {
    int32_t width, centerX;
  } cases[] = {{16, 8}, {17, 8}, {24, 12}, {25, 12}, {31, 15}, {40, 31}, {40, 32}, {100, 20}, {100, 91}, {1920, 960}, {1921, 960}};
  for (const auto &c : cases) {
    qmRippleRequest req{};
    req.width = c.width, req.height = 5, req.centerX = c.centerX, req.centerY = 2;
    req.waves = 10, req.wavelength = 32, req.maxDistance = 60;
    std::vector<uint16_t> rings(size_t(req.width) * size_t(RippleRingRows(&req)));
    req.sine = sine.data(), req.rings = rings.data();
    PrepareRipple(&req);
    std::vector<double> factor(size_t(std::max(c.centerX, c.width - 1 - c.centerX)) + 4);
    // Places up to 40 pixels from their pixel, as a ripple moves them.
    for (size_t d = 0; d < factor.size(); d++) factor[d] = Rand(-1000, 1000) / 25.0 / double(d + 1);
    std::vector<int32_t> table(factor.size() + 2 * QM_RIPPLE_SCALED_PAD);
    qmRippleFixed f;
    RippleFixedOf(factor.data(), int32_t(factor.size()), 3, table.data(), &f);
    ASSERT_GT(f.shift, 0) << c.width << " " << c.centerX;
    std::vector<int32_t> vx(size_t(c.width)), vy(vx.size()), sx(vx.size()), sy(vx.size());
    for (int32_t y = 0; y < req.height; y++) {
      RippleRingRow(&req, &f, y, vx.data(), vy.data());
      RippleRingRowScalar(&req, &f, y, sx.data(), sy.data(), 0, req.width);
      ASSERT_EQ(vx, sx) << c.width << " " << c.centerX << " row " << y;
      ASSERT_EQ(vy, sy) << c.width << " " << c.centerX << " row " << y;
    }
  }
}

TEST(SimdDiff, WarpLastRows) {
  for (int round = 0; round < 200; round++) {
    std::vector<int32_t> rows(size_t(Rand(0, 40)));
    for (int32_t &r : rows) r = round % 4 == 0 ? Rand(-50, -1) : Rand(-5, 3000);
    const int64_t n = int64_t(rows.size());
    const int32_t want = std::max(0, rows.empty() ? 0 : *std::max_element(rows.begin(), rows.end()));
    EXPECT_EQ(WarpLastRow(rows.data(), n), want) << "round " << round;
    EXPECT_EQ(WarpLastRowScalar(rows.data(), n), want) << "round " << round;
  }
}

// A warp's row written past the cache against the plain one: rows starting at every word of a
// 32-byte line, lengths that leave every remainder after whole groups; every third round reads
// rows through a mask of four, as from a scratch whose rows are used in turn.
TEST(SimdDiff, WarpStreamRows) {
  for (int round = 0; round < 200; round++) {
    const int32_t rowMask = round % 3 == 0 ? 3 : -1;
    const int32_t width = Rand(0, 60), height = rowMask < 0 ? Rand(1, 20) : 4, pitch = Rand(1, 70);
    const std::vector<uint32_t> pixels = RandomVector<uint32_t>(size_t(pitch) * height);
    const size_t n = size_t(width);
    std::vector<int32_t> sx(n), sy(n);
    for (int32_t x = 0; x < width; x++) sx[size_t(x)] = Rand(0, pitch - 1), sy[size_t(x)] = Rand(0, rowMask < 0 ? height - 1 : 500);
    const size_t skip = size_t(round % 8);
    std::vector<uint32_t> vec(n + 16, 7), ref(n + 16, 7);
    uint32_t *out = reinterpret_cast<uint32_t *>((reinterpret_cast<uintptr_t>(vec.data()) + 31) & ~uintptr_t(31)) + skip;
    const size_t at = size_t(out - vec.data());
    WarpStreamRow(out, sx.data(), sy.data(), width, pixels.data(), pitch, rowMask);
    WarpStreamDone();
    for (int32_t x = 0; x < width; x++) ref[at + size_t(x)] = pixels[size_t(sy[size_t(x)] & rowMask) * size_t(pitch) + size_t(sx[size_t(x)])];
    ASSERT_EQ(vec, ref) << "round " << round << " width " << width << " skip " << skip;
  }
}

// The warps' mixing row: random source places in two pictures of random pitches, every weight's
// end and the middle, row lengths that leave every remainder after whole groups.
TEST(SimdDiff, WarpMixRows) {
  for (int round = 0; round < 200; round++) {
    const int32_t width = Rand(0, 40), height = Rand(1, 20);
    const int32_t pitch = Rand(1, 50), secondPitch = Rand(1, 50);
    const std::vector<uint32_t> pixels = RandomVector<uint32_t>(size_t(pitch) * height);
    const std::vector<uint32_t> second = RandomVector<uint32_t>(size_t(secondPitch) * height);
    const size_t n = size_t(width);
    std::vector<int32_t> sx(n), sy(n);
    for (int32_t x = 0; x < width; x++) {
      sx[size_t(x)] = Rand(0, std::min(pitch, secondPitch) - 1);
      sy[size_t(x)] = Rand(0, height - 1);
    }
    const int32_t m = round % 3 == 0 ? 0 : round % 3 == 1 ? 255 : Rand(0, 255);
    std::vector<uint32_t> vec(n), ref(n);
    WarpMixRow(vec.data(), sx.data(), sy.data(), width, pixels.data(), pitch, second.data(), secondPitch, m);
    WarpMixRowScalar(ref.data(), sx.data(), sy.data(), width, pixels.data(), pitch, second.data(), secondPitch, m);
    ASSERT_EQ(vec, ref) << "round " << round << " weight " << m;
  }
}

// Line coverage laid on stored pixels: random rows with runs of empty, full and partial
// coverage, lengths that leave every remainder after whole groups.
TEST(SimdDiff, CoverPixels) {
  for (int iter = 0; iter < 300; iter++) {
    const int64_t n = Rand(0, 40);
    const std::vector<uint8_t> cov = RandomAlpha(size_t(n));
    const std::vector<uint32_t> base = RandomVector<uint32_t>(size_t(n));
    const uint32_t pixel = uint32_t(Rng()());
    std::vector<uint32_t> a = base, b = base;
    CoverPixels(a.data(), cov.data(), n, pixel);
    CoverPixelsScalar(b.data(), cov.data(), n, pixel);
    ASSERT_EQ(a, b) << "n " << n;
  }
}

// A prepared distortion rendered by the vector path (pass 0) and the portable one (pass 1),
// each into fresh outputs of the result's size with the planes the result carries.
struct DistortOutputs {
  std::vector<uint32_t> pixels[2];
  std::vector<uint8_t> mask[2], alpha[2];
};
void RenderBothPaths(qmDistortRequest &req, DistortOutputs *out) {
  const int32_t rw = req.resultWidth, rh = req.resultHeight, mbpr = MaskBytesPerRow(rw);
  for (int pass = 0; pass < 2; pass++) {
    out->pixels[pass].assign(size_t(rw) * rh, 0xDEADBEEF);
    out->mask[pass].assign(size_t(mbpr) * rh, 0xAA), out->alpha[pass].assign(size_t(rw) * rh, 0xAA);
    req.dst = {out->pixels[pass].data(), rw, rh, rw, nullptr, mbpr, nullptr, rw};
    if (DistortResultHasMask(req.src, req.smooth)) req.dst.mask = out->mask[pass].data();
    if (DistortResultHasAlpha(req.src, req.smooth)) req.dst.alpha = out->alpha[pass].data();
    ASSERT_EQ(pass ? RenderDistortionScalar(&req) : RenderDistortion(&req), 0);
  }
}

// A smooth barrel of the given parameters over a w x h picture with no plane (planes 0), a mask
// (1) or an alpha plane (2), rendered by both paths, which must agree on every plane.
void ExpectLensPathsAgree(std::vector<uint32_t> &src, std::vector<uint8_t> &mask, std::vector<uint8_t> &alpha, int w, int h, int planes,
                          int32_t paramCount, const double *params, const char *what) {
  qmDistortRequest req{};
  req.src = {src.data(), w, h, w, planes == 1 ? mask.data() : nullptr, MaskBytesPerRow(w), planes == 2 ? alpha.data() : nullptr, w};
  req.method = DISTORT_BARREL, req.smooth = 1, req.paramCount = paramCount;
  std::copy(params, params + paramCount, req.params);
  ASSERT_EQ(PrepareDistortion(&req), 0) << what;
  DistortOutputs outs;
  RenderBothPaths(req, &outs);
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  EXPECT_EQ(outs.pixels[0], outs.pixels[1]) << what << ", planes " << planes;
  EXPECT_EQ(outs.mask[0], outs.mask[1]) << what << ", planes " << planes;
  EXPECT_EQ(outs.alpha[0], outs.alpha[1]) << what << ", planes " << planes;
}

// Distortions of every method, by point and smooth, over random pictures with no plane, a mask
// or an alpha plane: parameters near the usual ones, centres on pixel centres (where the barrel
// takes its fixed values), perspectives whose horizon crosses the result, and rows whose length
// leaves every remainder after groups of four.
TEST(SimdDiff, Distortions) {
  const int32_t methods[4] = {DISTORT_PERSPECTIVE, DISTORT_ARC, DISTORT_POLAR, DISTORT_BARREL};
  auto real = [](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(Rng()); };
  int rendered = 0;
  for (int iter = 0; iter < 600; iter++) {
    const int w = Rand(1, 30), h = Rand(1, 30), planes = Rand(0, 2);
    auto src = RandomVector<uint32_t>(size_t(w) * h);
    auto alpha = RandomAlpha(size_t(w) * h), mask = RandomAlpha(size_t(MaskBytesPerRow(w)) * h);
    qmDistortRequest req{};
    req.src = {src.data(), w, h, w, planes == 1 ? mask.data() : nullptr, MaskBytesPerRow(w), planes == 2 ? alpha.data() : nullptr, w};
    req.method = methods[iter % 4];
    req.smooth = (iter / 4) % 2;
    double *p = req.params;
    if (req.method == DISTORT_BARREL) {
      req.paramCount = Rand(0, 1) ? 4 : 8;
      for (int k = 0; k < req.paramCount; k++) p[k] = real(-0.4, 0.4);
      p[3] = real(0.3, 1.6), p[7] = real(0.3, 1.6);
    } else if (req.method == DISTORT_PERSPECTIVE) {
      req.paramCount = 16;
      const double cx[4] = {0, double(w), 0, double(w)}, cy[4] = {0, 0, double(h), double(h)};
      for (int k = 0; k < 4; k++)
        p[4 * k] = cx[k], p[4 * k + 1] = cy[k], p[4 * k + 2] = cx[k] + real(-w, w), p[4 * k + 3] = cy[k] + real(-h, h);
    } else if (req.method == DISTORT_ARC) {
      req.paramCount = Rand(1, 4);
      p[0] = real(10, 360), p[1] = real(-180, 180), p[2] = real(2, 30), p[3] = real(0, 20);
    } else {
      req.paramCount = Rand(0, 1) ? 2 : 6;
      p[0] = real(2, 30), p[1] = real(0, 1.5), p[2] = real(-2, w + 2), p[3] = real(-2, h + 2), p[4] = real(-180, 0), p[5] = real(0, 180);
    }
    if (PrepareDistortion(&req) || int64_t(req.resultWidth) * req.resultHeight > 20000) continue;
    rendered++;
    DistortOutputs outs;
    RenderBothPaths(req, &outs);
    ASSERT_FALSE(HasFatalFailure());
    const auto &out = outs.pixels;
    const auto &outMask = outs.mask, &outAlpha = outs.alpha;
    ASSERT_EQ(out[0], out[1]) << "method " << req.method << " smooth " << req.smooth << " iteration " << iter;
    ASSERT_EQ(outMask[0], outMask[1]) << "method " << req.method << " smooth " << req.smooth << " iteration " << iter;
    ASSERT_EQ(outAlpha[0], outAlpha[1]) << "method " << req.method << " smooth " << req.smooth << " iteration " << iter;
  }
  EXPECT_GT(rendered, 450);
}

// Smooth lenses whose ellipses straddle the size where the elliptical average takes over (the
// vector path decides groups of four by rough derivatives), weights on quarters of a pixel that
// put byte means on halves, polynomials too large for the rough test, and a centre on a pixel
// centre; every plane variant, each against the portable path.
TEST(SimdDiff, SmoothLenses) {
  struct Lens {
    const char *what;
    int32_t paramCount;
    double params[8];
  };
  const Lens lenses[] = {
      {"halving", 4, {0, 0, 0, 0.5}},
      {"growing to the corners", 4, {0, 0, 0.8, 1.0}},
      {"shrinking past the ellipse size", 8, {0.1, 0, 0.2, 1.2, 0, 0.3, 0, 1.6}},
      {"huge cubic", 4, {1e7, 0, 0, 0.5}},
      {"huge negative cubic", 8, {0, 0, 0, 0.5, -3e6, 0, 0, 0.7}},
      {"centre on a pixel centre", 6, {0.05, 0, 0, 0.5, 20.5, 11.5}},
  };
  const int w = 61, h = 37;
  auto src = RandomVector<uint32_t>(size_t(w) * h);
  auto alpha = RandomAlpha(size_t(w) * h), mask = RandomAlpha(size_t(MaskBytesPerRow(w)) * h);
  for (const Lens &lens : lenses)
    for (int planes = 0; planes < 3; planes++) {
      ExpectLensPathsAgree(src, mask, alpha, w, h, planes, lens.paramCount, lens.params, lens.what);
      ASSERT_FALSE(HasFatalFailure());
    }
}

// Lenses that magnify everywhere, so that every pixel takes the bilinear mix, over pictures of
// random bytes, of a few levels (whose means fall on and near the halves where the rounding
// turns) and of one colour; random strengths and centres, every plane variant, each against
// the portable path.
TEST(SimdDiff, MagnifyingLenses) {
  auto real = [](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(Rng()); };
  const uint32_t levels[] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF};
  for (int round = 0; round < 36; round++) {
    const int w = Rand(40, 130), h = Rand(30, 90), planes = round % 3, kind = round / 3 % 3;
    auto src = RandomVector<uint32_t>(size_t(w) * h);
    if (kind == 1)
      for (uint32_t &p : src) p = levels[Rand(0, 5)] * 0x01010101u ^ (levels[Rand(0, 5)] << 8);
    if (kind == 2) std::fill(src.begin(), src.end(), 0x80FF017Fu);
    auto alpha = RandomAlpha(size_t(w) * h), mask = RandomAlpha(size_t(MaskBytesPerRow(w)) * h);
    qmDistortRequest req{};
    req.src = {src.data(), w, h, w, planes == 1 ? mask.data() : nullptr, MaskBytesPerRow(w), planes == 2 ? alpha.data() : nullptr, w};
    req.method = DISTORT_BARREL, req.smooth = 1, req.paramCount = 6;
    const double scales[] = {0.5, 0.25, 0.75};
    req.params[0] = round % 4 == 0 ? 0 : real(0, 0.1), req.params[3] = round % 2 ? scales[round % 3] : real(0.3, 0.8);
    req.params[4] = round % 5 == 0 ? Rand(0, w) + 0.5 : real(0, w), req.params[5] = real(0, h);
    ASSERT_EQ(PrepareDistortion(&req), 0);
    DistortOutputs outs;
    RenderBothPaths(req, &outs);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(outs.pixels[0], outs.pixels[1]) << "round " << round;
    EXPECT_EQ(outs.mask[0], outs.mask[1]) << "round " << round;
    EXPECT_EQ(outs.alpha[0], outs.alpha[1]) << "round " << round;
  }
}

// Halving lenses a hair off one half, centred on the corner: every other pixel of a row falls
// a hair beside the middle between two source pixels whose bytes differ by an odd step, so its
// byte means lie a hair beside the halves where the rounding turns, by amounts from far below
// to above what arithmetic in floats would resolve.
TEST(SimdDiff, LensMeansBesideTheHalves) {
  const int w = 240, h = 24;
  std::vector<uint32_t> src(size_t(w) * h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) src[size_t(y) * w + x] = x % 2 ? 0x65FF01FFu : 0x64000000u | uint32_t(x % 7) << 8;
  auto alpha = RandomAlpha(size_t(w) * h), mask = RandomAlpha(size_t(MaskBytesPerRow(w)) * h);
  const double hairs[] = {1e-10, -1e-10, 1e-9, -1e-9, 7e-9, -7e-9, 3e-8, -3e-8, 2e-7, -2e-7};
  for (double hair : hairs)
    for (int planes = 0; planes < 3; planes++) {
      qmDistortRequest req{};
      req.src = {src.data(), w, h, w, planes == 1 ? mask.data() : nullptr, MaskBytesPerRow(w), planes == 2 ? alpha.data() : nullptr, w};
      req.method = DISTORT_BARREL, req.smooth = 1, req.paramCount = 6;
      req.params[3] = 0.5 + hair, req.params[4] = 0.5, req.params[5] = 0.5;
      ASSERT_EQ(PrepareDistortion(&req), 0);
      DistortOutputs outs;
      RenderBothPaths(req, &outs);
      ASSERT_FALSE(HasFatalFailure());
      EXPECT_EQ(outs.pixels[0], outs.pixels[1]) << "hair " << hair << ", planes " << planes;
      EXPECT_EQ(outs.mask[0], outs.mask[1]) << "hair " << hair << ", planes " << planes;
      EXPECT_EQ(outs.alpha[0], outs.alpha[1]) << "hair " << hair << ", planes " << planes;
    }
}

// Lenses whose rows and columns pair up about the centre (the default centre of even and odd
// sides, centres on pixel corners and centres, near an edge so that some mirrors fall outside)
// and one whose centre pairs nothing; scales and radial stretches around the size where the
// elliptical average takes over; every plane variant, each against the portable path.
TEST(SimdDiff, MirroredLenses) {
  struct Lens {
    const char *what;
    int w, h;
    int32_t paramCount;
    double params[10];
  };
  const Lens lenses[] = {
      {"default centre, even sides", 64, 48, 4, {0.05, 0, 0, 0.5}},
      {"default centre, odd sides", 61, 37, 4, {0.05, 0, 0.1, 0.6}},
      {"centre on a pixel corner", 50, 40, 6, {0.04, 0, 0, 0.5, 20, 13}},
      {"centre on a pixel centre", 50, 40, 6, {0.04, 0, 0, 0.5, 20.5, 13.5}},
      {"centre near the left and top edges", 50, 40, 6, {0.04, 0.02, 0, 0.5, 3.5, 2}},
      {"centre near the right edge, below the picture", 50, 40, 6, {0.04, 0, 0, 0.5, 46.5, 45}},
      {"centre on quarters", 50, 40, 6, {0.04, 0, 0, 0.5, 20.25, 13.75}},
      {"scale just below the ellipse size", 44, 30, 4, {0, 0, 0, 0.9985}},
      {"scale at the ellipse size", 44, 30, 4, {0, 0, 0, 1.0}},
      {"scale just above the ellipse size", 44, 30, 4, {0, 0, 0, 1.0005}},
      {"radial stretch crossing the ellipse size", 64, 48, 4, {0.3, 0, 0, 0.6}},
      {"shrinking across, growing along", 64, 48, 4, {0.2, 0, 0, 0.3}},
      {"two polynomials about a pixel centre", 50, 40, 10, {0.05, 0, 0, 0.5, 0.02, 0, 0, 0.6, 20.5, 13.5}},
  };
  for (const Lens &lens : lenses) {
    auto src = RandomVector<uint32_t>(size_t(lens.w) * lens.h);
    auto alpha = RandomAlpha(size_t(lens.w) * lens.h), mask = RandomAlpha(size_t(MaskBytesPerRow(lens.w)) * lens.h);
    for (int planes = 0; planes < 3; planes++) {
      ExpectLensPathsAgree(src, mask, alpha, lens.w, lens.h, planes, lens.paramCount, lens.params, lens.what);
      ASSERT_FALSE(HasFatalFailure());
    }
  }
}

// The one blend of pictures: in the pictures' word order and another, with and without a mask
// at any bit offset, a colour row repeated by a pitch of 0, in place and into a third picture,
// at levels over the whole range and beyond it.
TEST(SimdDiff, Mix) {
  const int32_t levels[] = {-7, 0, 1, 127, 128, 254, 255, 256, 400};
  for (int round = 0; round < 240; round++) {
    const int w = Rand(1, 70), h = Rand(1, 5), maskX = Rand(0, 13), mbpr = (maskX + w) / 8 + 1;
    const int sp = round % 5 == 0 ? 0 : w + Rand(0, 3), dp = w + Rand(0, 3), op = w + Rand(0, 3);
    const auto src = RandomVector<uint32_t>(size_t(sp ? sp : w) * h);
    const auto mask = RandomAlpha(size_t(mbpr) * h);
    auto dst = RandomVector<uint32_t>(size_t(dp) * h);
    const bool masked = round % 3 != 0, inPlace = round % 2 == 0;
    const int32_t format = round % 7 == 0 ? PIXFMT_XRGB : PIXFMT_BGRX;
    const int32_t level = levels[round % 9];
    std::vector<uint32_t> vec = inPlace ? dst : RandomVector<uint32_t>(size_t(op) * h), ref = vec;
    qmMixRequest req{src.data(), inPlace ? vec.data() : dst.data(), masked ? mask.data() : nullptr, maskX, w, h, level,
                     format, sp, dp, mbpr, inPlace ? nullptr : vec.data(), op};
    MixPixels(&req);
    if (inPlace) req.dst = ref.data();
    else req.out = ref.data();
    MixPixelsScalar(&req);
    ASSERT_EQ(vec, ref) << "round " << round << ": " << w << "x" << h << " level " << level;
  }
}

// Pixels revealed by their map values straight into a picture, with and without a mask at any bit
// offset, at widths that leave every remainder and levels at and beyond the ends.
TEST(SimdDiff, RevealPixels) {
  const int32_t levels[] = {-3, 0, 1, 2, 100, 128, 129, 254, 255, 256, 300};
  for (int round = 0; round < 300; round++) {
    const int w = Rand(1, 100), h = Rand(1, 4), maskX = Rand(0, 9), mbpr = (maskX + w + 7) / 8 + Rand(0, 2);
    const int mapBpr = w + Rand(0, 3), sp = w + Rand(0, 3), hp = w + Rand(0, 3), op = w + Rand(0, 3);
    const auto map = RandomVector<uint8_t>(size_t(mapBpr) * h), mask = RandomVector<uint8_t>(size_t(mbpr) * h);
    const auto shown = RandomVector<uint32_t>(size_t(sp) * h), hidden = RandomVector<uint32_t>(size_t(hp) * h);
    std::vector<uint32_t> vec = RandomVector<uint32_t>(size_t(op) * h), ref = vec;
    const int32_t level = levels[round % 11];
    qmRevealRequest req{map.data(), round % 2 ? mask.data() : nullptr, shown.data(), hidden.data(), vec.data(), w, h,
                        mapBpr, mbpr, maskX, sp, hp, op, round % 3 ? 0xFFFFFF00u : 0xFFFFFFFFu};
    RevealPixels(&req, level);
    req.out = ref.data();
    RevealPixelsScalar(&req, level);
    ASSERT_EQ(vec, ref) << "round " << round << ": " << w << "x" << h << " level " << level;
  }
}

// Columns of a roll's band gathered from their source columns, on tables that run in order (the
// roll's own) and on shuffled ones whose columns do not lie side by side.
TEST(SimdDiff, WaveColumns) {
  for (int round = 0; round < 200; round++) {
    const int w = Rand(1, 90), h = Rand(1, 5), n = Rand(1, 60), sp = w + Rand(0, 3), dp = w + Rand(0, 3);
    std::vector<double> offsets(static_cast<size_t>(n));
    for (int k = 0; k < n; k++) offsets[size_t(k)] = std::asin(1.0 - 2.0 * k / n) + M_PI / 2;
    if (round % 4 == 3)
      for (double &o : offsets) o = Rand(-200, 200) * 0.05;
    const auto src = RandomVector<uint32_t>(size_t(sp) * h);
    std::vector<uint32_t> vec = RandomVector<uint32_t>(size_t(dp) * h), ref = vec;
    qmWaveRequest req{};
    req.src = src.data();
    req.offsets = offsets.data();
    req.srcPitch = sp;
    req.dstPitch = dp;
    req.width = w;
    req.height = h;
    req.vertical = 1;
    req.strips = n;
    req.position = Rand(-5, w + 5);
    req.bytesPerPixel = 4;
    req.dst = vec.data();
    WavePixels(&req);
    const int32_t copied = req.linesCopied, first = req.firstLine;
    req.dst = ref.data();
    WavePixelsScalar(&req);
    ASSERT_EQ(vec, ref) << "round " << round << ": " << w << "x" << h << " strips " << n;
    EXPECT_EQ(req.linesCopied, copied);
    EXPECT_EQ(req.firstLine, first);
  }
}

// Reveal times against a level into masks, with and without a source mask, either way round, at
// widths that leave every remainder and levels at and beyond the ends.
TEST(SimdDiff, ThresholdMask) {
  const int32_t levels[] = {-3, 0, 1, 2, 100, 128, 129, 254, 255, 256, 300};
  for (int round = 0; round < 200; round++) {
    const int w = Rand(1, 100), h = Rand(1, 4), sbpr = w / 8 + 1 + Rand(0, 2), dbpr = w / 8 + 1 + Rand(0, 2);
    const auto map = RandomVector<uint8_t>(size_t(w) * h), src = RandomVector<uint8_t>(size_t(sbpr) * h);
    std::vector<uint8_t> vec = RandomVector<uint8_t>(size_t(dbpr) * h), ref = vec;
    qmThresholdRequest req{round % 2 ? src.data() : nullptr, vec.data(), w, h, sbpr, dbpr, map.data(), 0, round % 3 == 0};
    const int32_t level = levels[round % 11];
    ThresholdPlane(&req, level);
    req.dst = ref.data();
    ThresholdPlaneScalar(&req, level);
    ASSERT_EQ(vec, ref) << "round " << round << ": width " << w << " level " << level;
  }
}
