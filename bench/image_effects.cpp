// Image effects on a 1920x1080 picture, each in rounds alternating with a peer (OpenCV single-
// threaded, as our kernels are, or libswscale) and checked once against the peer's picture where
// both do the same job: blur at radius 2 and 10 against sepFilter2D with our taps (also on fresh
// copies of four kinds of picture, and our float path against our double sums), sharpen against
// filter2D with our 7x7 kernel, YUV 4:2:0 to 32-bit pixels against
// cvtColor's I420 conversion and libswscale's unscaled YUV420P to BGRA conversion, the same scaled
// to 1280x720 and 2560x1440 against libswscale's nearest-sample scaling, the flood fill of a
// whole picture against floodFill, and 512x512 barrel distortions against remap over the same
// map (with and without making the map): smooth sampling against bilinear remap, once where ours
// mostly averages an ellipse and once where it is bilinear throughout, and point sampling
// against nearest-neighbour remap. Yardsticks, whose pictures differ from ours: modulate against
// the HLS round trip of cvtColor, swirl against remap over a ready map.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
#include "graphics/bitmap.h"
#include "graphics/color_kernels.h"
#include "graphics/distort.h"
#include "graphics/effect_kernels.h"
#include "graphics/floodfill.h"
#include "graphics/pixelformat.h"
#include "graphics/warp_kernels.h"

namespace {

constexpr int kW = 1920, kH = 1080;

std::vector<uint32_t> Picture() {
  std::vector<uint32_t> px(size_t(kW) * kH);
  uint32_t s = 1;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      s = s * 1664525u + 1013904223u;
      px[size_t(y) * kW + x] = (uint32_t((x * 255) / kW) << 24) | (uint32_t((y * 255) / kH) << 16) | ((s >> 16) & 0xFF00);
    }
  return px;
}

struct Once {
  Once() { cv::setNumThreads(1); }
};
const Once once;

// Where red, green and blue lie in a pixel's four bytes.
struct Layout {
  int r, g, b;
};
constexpr Layout kOurs{1, 2, 3};  // our pictures: bytes unused, R, G, B
constexpr Layout kBgra{2, 1, 0};  // the peers' BGRA
constexpr Layout kSame{0, 1, 2};  // channel by channel, where both sides keep one layout

// The share of pixels whose colour channels all lie within `near` of the peer's.
double ShareWithin(const void *ours, Layout lo, const void *theirs, Layout lt, size_t pixels, int near,
                   int bytesPerPixel = 4) {
  const auto *a = static_cast<const uint8_t *>(ours), *b = static_cast<const uint8_t *>(theirs);
  size_t within = 0;
  for (size_t i = 0; i < pixels; i++) {
    const uint8_t *p = a + 4 * i, *q = b + size_t(bytesPerPixel) * i;
    within += std::abs(p[lo.r] - q[lt.r]) <= near && std::abs(p[lo.g] - q[lt.g]) <= near && std::abs(p[lo.b] - q[lt.b]) <= near;
  }
  return double(within) / double(pixels);
}

// One run of each side, then the check (the share of pixels within a few levels of the peer's,
// as a counter; below `least` the peer did another job and nothing is timed), then alternating
// rounds of `batch` runs a side. Without a check the peer is a yardstick: its picture is not
// ours. Nearest samples of noise taken a pixel apart are unrelated colours, so sides that
// resample are checked on a smooth source: `smooth` puts one in place (true) and the timed
// source back (false).
void Pair(benchmark::State &state, const char *peer, int batch, const std::function<void()> &ours,
          const std::function<void()> &theirs, const std::function<double()> &share = nullptr, double least = 0,
          const std::function<void(bool)> &smooth = nullptr) {
  if (share) {
    if (smooth) smooth(true);
    ours();
    theirs();
    const double within = share();
    if (smooth) smooth(false);
    state.counters["share_within"] = within;
    if (within < least) {
      std::fprintf(stderr, "%.4f of the pixels within reach of the peer's\n", within);
      return state.SkipWithError("the peer's picture is not ours");
    }
  }
  BenchBatchedRounds(state, peer, batch, ours, theirs);
}

// The blur's kernel as ours makes it for a radius above 0: 2 ceil(radius) + 1 taps, each the sum of
// three samples of the Gaussian a third of a pixel apart, the whole divided by its sum. The peer
// convolves with the same taps, so both do the same job; ours truncates each pass to 8 bits where
// the peer rounds once.
cv::Mat BlurTaps(double radius) {
  const double sigma = radius / 3;
  const int w = 2 * int(std::ceil(radius)) + 1, bias = 3 * w / 2;
  cv::Mat k(w, 1, CV_64F, cv::Scalar(0));
  for (int i = -bias; i <= bias; i++)
    k.at<double>((i + bias) / 3) += std::exp(-double(i) * i / (18 * sigma * sigma)) / (2.5066282746310002 * sigma);
  return k / cv::sum(k)[0];
}

// Blur in place, again and again, at the radius of the argument.
void Blur(benchmark::State &state) {
  auto px = Picture(), theirs = px;
  const auto first = px;
  const double radius = double(state.range(0));
  cv::Mat img(kH, kW, CV_8UC4, theirs.data());
  const cv::Mat taps = BlurTaps(radius);
  Pair(
      state, "opencv", 1,
      [&] {
        qmConvolveRequest req{px.data(), kW, kH, kW, PIXFMT_BGRX, 4, nullptr, 0, radius, radius / 3, CONVOLVE_BLUR};
        ConvolvePixels(&req);
        benchmark::DoNotOptimize(px.data());
      },
      [&] {
        cv::sepFilter2D(img, img, -1, taps, taps, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(theirs.data());
      },
      [&] { return ShareWithin(px.data(), kSame, theirs.data(), kSame, px.size(), 2); }, 0.99);
}
BENCHMARK(Blur)->Arg(2)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);

// Blur of fresh copies of four kinds of picture, each side copying the picture before every blur
// (the copy is the same 8 MB on both sides): a photograph-like picture (soft shapes with fine
// grain), noise, a flat picture and gradients of one level per pixel (whose sums fall on whole
// numbers). Args: kind, radius. BlurFloatOverDoubles is our float path against the blur by
// double sums alone, the path all processors took before the float path.
enum BlurPictureKind { kPhoto, kNoise, kFlat, kGradient };

std::vector<uint32_t> BlurPicture(int kind) {
  std::vector<uint32_t> px(size_t(kW) * kH);
  uint32_t s = 7;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      s = s * 1664525u + 1013904223u;
      uint32_t v = 0;
      if (kind == kPhoto) {
        for (int c = 0; c < 3; c++) {
          const double shade = 128 + 80 * std::sin(x * 0.013 * (c + 1) + y * 0.021) + 30 * std::cos((x - y) * 0.004 * (c + 2));
          v |= uint32_t(std::clamp(shade + double((s >> (8 + 4 * c)) & 7) - 3.5, 0.0, 255.0)) << (8 + 8 * c);
        }
      } else if (kind == kNoise) {
        v = s & 0xFFFFFF00u;
      } else if (kind == kFlat) {
        v = 0x6699CC00u;
      } else {
        v = (uint32_t(x & 255) << 24) | (uint32_t(y & 255) << 16) | (uint32_t((x + y) & 255) << 8);
      }
      px[size_t(y) * kW + x] = v;
    }
  return px;
}

template <int32_t (*BlurWith)(const qmConvolveRequest *)>
std::function<void()> OurFreshBlur(const std::vector<uint32_t> &picture, std::vector<uint32_t> &px, double radius) {
  return [&picture, &px, radius] {
    px = picture;
    qmConvolveRequest req{px.data(), kW, kH, kW, PIXFMT_BGRX, 4, nullptr, 0, radius, radius / 3, CONVOLVE_BLUR};
    BlurWith(&req);
    benchmark::DoNotOptimize(px.data());
  };
}

void BlurFresh(benchmark::State &state) {
  const auto picture = BlurPicture(int(state.range(0)));
  std::vector<uint32_t> px(picture.size()), theirs(picture.size());
  const double radius = double(state.range(1));
  const cv::Mat taps = BlurTaps(radius);
  Pair(state, "opencv", 1, OurFreshBlur<ConvolvePixels>(picture, px, radius),
       [&] {
         theirs = picture;
         cv::Mat img(kH, kW, CV_8UC4, theirs.data());
         cv::sepFilter2D(img, img, -1, taps, taps, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
         benchmark::DoNotOptimize(theirs.data());
       },
       [&] { return ShareWithin(px.data(), kSame, theirs.data(), kSame, px.size(), 2); }, 0.99);
}

void BlurFloatOverDoubles(benchmark::State &state) {
  const auto picture = BlurPicture(int(state.range(0)));
  std::vector<uint32_t> px(picture.size()), doubles(picture.size());
  const double radius = double(state.range(1));
  Pair(state, "doubles", 1, OurFreshBlur<ConvolvePixels>(picture, px, radius),
       OurFreshBlur<BlurPixelsScalar>(picture, doubles, radius),
       [&] { return ShareWithin(px.data(), kSame, doubles.data(), kSame, px.size(), 1); }, 0.99);
}
#define QM_BLUR_CASES \
  ->ArgsProduct({{kPhoto, kNoise, kFlat, kGradient}, {2, 10}})->UseManualTime()->Unit(benchmark::kMillisecond)
BENCHMARK(BlurFresh) QM_BLUR_CASES;
BENCHMARK(BlurFloatOverDoubles) QM_BLUR_CASES;
#undef QM_BLUR_CASES

void Sharpen(benchmark::State &state) {
  const auto picture = Picture();
  auto px = picture, source = picture;
  cv::Mat img(kH, kW, CV_8UC4, source.data()), out(kH, kW, CV_8UC4);
  // Ours at sigma 1: 7 x 7 taps, each minus the 2-D Gaussian, the centre minus twice their sum,
  // the whole divided by its sum; the peer convolves with the same.
  cv::Mat kernel(7, 7, CV_64F);
  for (int v = -3; v <= 3; v++)
    for (int u = -3; u <= 3; u++) kernel.at<double>(v + 3, u + 3) = -std::exp(-(u * u + v * v) / 2.0) / (2 * M_PI);
  kernel.at<double>(3, 3) = -2 * cv::sum(kernel)[0];
  kernel /= cv::sum(kernel)[0];
  Pair(
      state, "opencv", 1,
      [&] {
        qmConvolveRequest req{px.data(), kW, kH, kW, PIXFMT_BGRX, 4, nullptr, 0, 0, 1.0, CONVOLVE_SHARPEN};
        ConvolvePixels(&req);
        benchmark::DoNotOptimize(px.data());
      },
      [&] {
        cv::filter2D(img, out, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(out.data);
      },
      [&] { return ShareWithin(px.data(), kSame, out.data, kSame, px.size(), 2); }, 0.99);
}
BENCHMARK(Sharpen)->UseManualTime()->Unit(benchmark::kMillisecond);

// Every run modulates the same picture, copied first on both sides: modulated again and again
// in place, it fades to a few colours in long runs within some thirty runs, which would time
// another picture. The argument: 1, or runs of that many equal pixels, as in flat areas of
// drawn pictures. The peer converts to HLS and back without changing a colour: a yardstick.
void Modulate(benchmark::State &state) {
  auto picture = Picture();
  const size_t run = size_t(state.range(0));
  for (size_t i = 0; i < picture.size(); i++) picture[i] = picture[i - i % run];
  std::vector<uint32_t> px(picture.size()), theirs(picture.size());
  cv::Mat bgr, hls;
  Pair(
      state, "opencv_hls", 1,
      [&] {
        px = picture;
        qmModulateRequest req{px.data(), kW, kH, kW, PIXFMT_BGRX, 110, 90, 105};
        ModulatePixels(&req);
        benchmark::DoNotOptimize(px.data());
      },
      [&] {
        theirs = picture;
        cv::Mat img(kH, kW, CV_8UC4, theirs.data());
        cv::cvtColor(img, bgr, cv::COLOR_BGRA2BGR);
        cv::cvtColor(bgr, hls, cv::COLOR_BGR2HLS);
        cv::cvtColor(hls, bgr, cv::COLOR_HLS2BGR);
        cv::cvtColor(bgr, img, cv::COLOR_BGR2BGRA);
        benchmark::DoNotOptimize(theirs.data());
      });
}
BENCHMARK(Modulate)->Arg(1)->Arg(16)->Arg(64)->UseManualTime()->Unit(benchmark::kMillisecond);

std::vector<uint8_t> I420() {
  std::vector<uint8_t> f(size_t(kW) * kH * 3 / 2);
  uint32_t s = 7;
  for (auto &b : f) b = uint8_t((s = s * 1103515245u + 12345u) >> 16);
  return f;
}

// libswscale's conversion of the frame to BGRA at dw x dh with nearest samples.
struct Swscale {
  SwsContext *ctx;
  std::vector<uint32_t> out;
  int dw;
  Swscale(int dw_, int dh) : out(size_t(dw_) * dh), dw(dw_) {
    ctx = sws_getContext(kW, kH, AV_PIX_FMT_YUV420P, dw, dh, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
  }
  ~Swscale() { sws_freeContext(ctx); }
  void Convert(const std::vector<uint8_t> &f) {
    const uint8_t *planes[3] = {f.data(), f.data() + kW * kH, f.data() + kW * kH + kW * kH / 4};
    const int strides[3] = {kW, kW / 2, kW / 2};
    uint8_t *dst[1] = {reinterpret_cast<uint8_t *>(out.data())};
    const int dstStride[1] = {dw * 4};
    sws_scale(ctx, planes, strides, 0, kH, dst, dstStride);
    benchmark::DoNotOptimize(out.data());
  }
};

// The frame to 32-bit pixels at its own size; arg 0: the peer is cvtColor, 1: libswscale.
// The two sides' coefficients round apart by a level or two.
void YuvToPixels(benchmark::State &state) {
  const auto f = I420();
  std::vector<uint32_t> px(size_t(kW) * kH);
  const uint8_t *y = f.data(), *u = y + kW * kH, *v = u + kW * kH / 4;
  auto ours = [&] {
    qmYuvFrameRequest req{y, u, v, kW, kW / 2, kW / 2, px.data(), kW, kH, kW, PIXFMT_BGRX, 4};
    ConvertYuvFrame(&req);
    benchmark::DoNotOptimize(px.data());
  };
  if (state.range(0) == 0) {
    cv::Mat yuv(kH * 3 / 2, kW, CV_8UC1, const_cast<uint8_t *>(f.data())), out;
    Pair(
        state, "opencv", 1, ours,
        [&] {
          cv::cvtColor(yuv, out, cv::COLOR_YUV2BGRA_I420);
          benchmark::DoNotOptimize(out.data);
        },
        [&] { return ShareWithin(px.data(), kOurs, out.data, kBgra, px.size(), 3); }, 0.9);
  } else {
    Swscale peer(kW, kH);
    if (!peer.ctx) return state.SkipWithError("sws_getContext");
    Pair(
        state, "swscale", 1, ours, [&] { peer.Convert(f); },
        [&] { return ShareWithin(px.data(), kOurs, peer.out.data(), kBgra, px.size(), 3); }, 0.9);
  }
}
BENCHMARK(YuvToPixels)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The frame scaled to 1280x720 and 2560x1440 with nearest samples.
constexpr int kScaledSizes[][2] = {{1280, 720}, {2560, 1440}};

// A frame of soft gradients in all three planes.
std::vector<uint8_t> SmoothI420() {
  std::vector<uint8_t> f(size_t(kW) * kH * 3 / 2);
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) f[size_t(y) * kW + x] = uint8_t(16 + (x + y) * 219 / (kW + kH));
  uint8_t *u = f.data() + kW * kH, *v = u + kW * kH / 4;
  for (int y = 0; y < kH / 2; y++)
    for (int x = 0; x < kW / 2; x++) {
      u[size_t(y) * (kW / 2) + x] = uint8_t(16 + x * 224 / (kW / 2));
      v[size_t(y) * (kW / 2) + x] = uint8_t(16 + y * 224 / (kH / 2));
    }
  return f;
}

void YuvScaled(benchmark::State &state) {
  auto f = I420();
  const auto noise = f;
  const int dw = kScaledSizes[state.range(0)][0], dh = kScaledSizes[state.range(0)][1];
  std::vector<uint32_t> px(size_t(dw) * dh);
  const uint8_t *y = f.data(), *u = y + kW * kH, *v = u + kW * kH / 4;
  Swscale peer(dw, dh);
  if (!peer.ctx) return state.SkipWithError("sws_getContext");
  Pair(
      state, "swscale", 1,
      [&] {
        qmYuvScaleRequest req{y, u, v, kW, kW / 2, kW / 2, px.data(), kW, kH, dw, dh, dw, PIXFMT_BGRX, 4};
        ScaleYuvFrame(&req);
        benchmark::DoNotOptimize(px.data());
      },
      [&] { peer.Convert(f); },
      [&] { return ShareWithin(px.data(), kOurs, peer.out.data(), kBgra, px.size(), 3); }, 0.9,
      [&](bool on) { f = on ? SmoothI420() : noise; });
}
BENCHMARK(YuvScaled)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A picture with a border frame and scattered walls, refilled from its copy before each fill on
// both sides. floodFill replaces one connected colour; on this picture the same pixels as our
// boundary fill: the check asks for the same filled pixels.
std::vector<uint32_t> FillPicture() {
  std::vector<uint32_t> px(size_t(kW) * kH, 0x00808080);
  for (int y = 100; y < kH; y += 97)
    for (int x = 0; x < kW - 200; x++) px[size_t(y) * kW + x] = 0x00FFFFFF;
  return px;
}

void FloodFill(benchmark::State &state) {
  const auto orig = FillPicture();
  auto px = orig;
  std::vector<uint8_t> bgr(size_t(kW) * kH * 3);
  for (size_t i = 0; i < orig.size(); i++) bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = uint8_t(orig[i]);
  cv::Mat src(kH, kW, CV_8UC3, bgr.data()), img;
  Pair(
      state, "opencv", 1,
      [&] {
        px = orig;
        qmFillRequest req{px.data(), kW, kH, kW, 0x00FFFFFF, 0x00123456, 0, 0};
        FloodFillPixels(&req, 5, 5, 0x00FFFFFF);
        benchmark::DoNotOptimize(px.data());
      },
      [&] {
        src.copyTo(img);
        cv::floodFill(img, cv::Point(5, 5), cv::Scalar(0x56, 0x34, 0x12));
        benchmark::DoNotOptimize(img.data);
      },
      [&] {
        size_t same = 0;
        for (size_t i = 0; i < px.size(); i++) same += (px[i] == 0x00123456) == (img.data[3 * i] == 0x56);
        return double(same) / double(px.size());
      },
      1.0);
}
BENCHMARK(FloodFill)->UseManualTime()->Unit(benchmark::kMillisecond);

// Ours works out its map and samples; the peer only samples a ready map (a mirror): a yardstick.
void Swirl(benchmark::State &state) {
  auto px = Picture();
  std::vector<uint32_t> copy = px, theirs = px;
  std::vector<double> sine(QM_WARP_TABLE_SIZE), cosine(QM_WARP_TABLE_SIZE);
  qmSwirlRequest req{};
  req.srcCopy = copy.data(), req.srcPitch = kW, req.dst = px.data(), req.dstPitch = kW;
  req.sine = sine.data(), req.cosine = cosine.data(), req.width = kW, req.height = kH;
  PrepareSwirl(&req);
  cv::Mat img(kH, kW, CV_8UC4, theirs.data()), out;
  cv::Mat mapx(kH, kW, CV_32FC1), mapy(kH, kW, CV_32FC1);
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) mapx.at<float>(y, x) = float(kW - 1 - x), mapy.at<float>(y, x) = float(y);
  Pair(
      state, "opencv_remap", 1,
      [&] {
        SwirlPixels(&req, 180);
        benchmark::DoNotOptimize(px.data());
      },
      [&] {
        cv::remap(img, out, mapx, mapy, cv::INTER_NEAREST, cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(out.data);
      });
}
BENCHMARK(Swirl)->UseManualTime()->Unit(benchmark::kMillisecond);

constexpr int kD = 512;

// The 512x512 barrel cases share one source picture; ours and the peer's map are the same
// mapping: source = (k1 r^3 + k4) (point - centre) + centre, r in units of half the side.
std::vector<uint32_t> BarrelSource() {
  std::vector<uint32_t> src(size_t(kD) * kD);
  uint32_t s = 3;
  for (auto &p : src) p = (s = s * 1664525u + 1013904223u) >> 8;
  return src;
}

// Args: the case (below), and 1 where the peer makes its map in every run too (by its vector
// operations in floats, from the coordinates relative to the centre, made once), 0 where it
// samples a ready one.
struct BarrelCase {
  double k1, k4;
  int32_t smooth;
  int interpolation;
  double least;  // share of pixels within 2 levels of the peer's
};
constexpr BarrelCase kBarrels[] = {
    // A barrel that shrinks toward the corners: there our smooth sampling is the elliptical
    // average (about half of the pixels), elsewhere bilinear.
    {0.2, 0.8, 1, cv::INTER_LINEAR, 0.9},
    // A lens that magnifies everywhere: every pixel of our smooth sampling takes the bilinear
    // path, the same work as the peer's.
    {0.05, 0.5, 1, cv::INTER_LINEAR, 0.9},
    // Point sampling of the first barrel against nearest-neighbour remap.
    {0.2, 0.8, 0, cv::INTER_NEAREST, 0.9},
};

void Barrel(benchmark::State &state) {
  const BarrelCase &c = kBarrels[state.range(0)];
  const bool makeMap = state.range(1) != 0;
  std::vector<uint32_t> src = BarrelSource(), dst(size_t(kD) * kD);
  const auto noise = src;
  std::vector<uint8_t> plane(size_t(kD) * kD);
  qmDistortRequest req{};
  req.method = DISTORT_BARREL;
  req.paramCount = 4;
  req.params[0] = c.k1, req.params[1] = 0, req.params[2] = 0, req.params[3] = c.k4;
  req.src = {src.data(), kD, kD, kD, nullptr, 0, nullptr, 0};
  req.smooth = c.smooth;
  if (PrepareDistortion(&req)) return state.SkipWithError("prepare");
  // Without source planes: smooth gives an alpha channel, point sampling a mask.
  if (c.smooth) req.dst = {dst.data(), kD, kD, kD, nullptr, 0, plane.data(), kD};
  else req.dst = {dst.data(), kD, kD, kD, plane.data(), MaskBytesPerRow(kD), nullptr, 0};

  cv::Mat img(kD, kD, CV_8UC4, src.data()), out;
  const double sc = 2.0 / kD, c0 = c.k1 * sc * sc * sc, centre = (kD - 1) / 2.0;
  cv::Mat mapx(kD, kD, CV_32FC1), mapy(kD, kD, CV_32FC1), dx(kD, kD, CV_32FC1), dy(kD, kD, CV_32FC1), r, f;
  for (int y = 0; y < kD; y++)
    for (int x = 0; x < kD; x++) {
      const double ox = x + 0.5 - centre, oy = y + 0.5 - centre, d = std::sqrt(ox * ox + oy * oy), k = c0 * d * d * d + c.k4;
      mapx.at<float>(y, x) = float(k * ox + centre - 0.5), mapy.at<float>(y, x) = float(k * oy + centre - 0.5);
      dx.at<float>(y, x) = float(ox), dy.at<float>(y, x) = float(oy);
    }
  Pair(
      state, "opencv", 4,
      [&] {
        RenderDistortion(&req);
        benchmark::DoNotOptimize(dst.data());
      },
      [&] {
        if (makeMap) {
          cv::magnitude(dx, dy, r);
          f = r.mul(r).mul(r) * c0 + c.k4;
          mapx = f.mul(dx) + (centre - 0.5);
          mapy = f.mul(dy) + (centre - 0.5);
        }
        cv::remap(img, out, mapx, mapy, c.interpolation, cv::BORDER_CONSTANT);
        benchmark::DoNotOptimize(out.data);
      },
      [&] { return ShareWithin(dst.data(), kSame, out.data, kSame, dst.size(), 2); }, c.least,
      [&](bool on) {
        if (!on) return (void)(src = noise);
        for (int y = 0; y < kD; y++)
          for (int x = 0; x < kD; x++) src[size_t(y) * kD + x] = uint32_t(x / 2) << 16 | uint32_t(y / 2) << 8 | uint32_t((x + y) / 4);
      });
}
BENCHMARK(Barrel)
    ->ArgNames({"case", "peer_maps"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
