// Image effects on a 1920x1080 picture next to OpenCV (single-threaded, as our kernels are):
// blur at radius 2 and 10 against GaussianBlur with the same width and sigma, sharpen against
// filter2D with the same 7x7 kernel, modulate against the HLS round trip of cvtColor, YUV 4:2:0
// to 32-bit pixels against cvtColor's I420 conversion and libswscale's unscaled YUV420P to BGRA
// conversion, the same scaled to 1280x720 and 2560x1440 against libswscale's nearest-sample
// scaling, the flood fill of a whole picture against
// floodFill, swirl against remap over precomputed maps (the peer skips the geometry), and
// 512x512 barrel distortions against remap over the same map (the peer skips the geometry too):
// smooth sampling against bilinear remap, once where ours mostly averages an ellipse and once
// where it is bilinear throughout, and point sampling against nearest-neighbour remap.
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
#include <map>
#include <string>
#include <vector>

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

void OurBlur(benchmark::State &state) {
  auto px = Picture();
  const double radius = double(state.range(0));
  for (auto _ : state) {
    qmConvolveRequest req{px.data(), kW, kH, kW, PIXFMT_BGRX, 4, nullptr, 0, radius, radius / 3, CONVOLVE_BLUR};
    ConvolvePixels(&req);
    benchmark::DoNotOptimize(px.data());
  }
}
BENCHMARK(OurBlur)->Arg(2)->Arg(10)->Unit(benchmark::kMillisecond);

void OpenCvGaussianBlur(benchmark::State &state) {
  auto px = Picture();
  cv::Mat img(kH, kW, CV_8UC4, px.data());
  const int radius = int(state.range(0));
  for (auto _ : state) {
    cv::GaussianBlur(img, img, cv::Size(2 * radius + 1, 2 * radius + 1), radius / 3.0, radius / 3.0, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(px.data());
  }
}
BENCHMARK(OpenCvGaussianBlur)->Arg(2)->Arg(10)->Unit(benchmark::kMillisecond);

// Blur of fresh copies of four kinds of picture, each side copying the picture before every blur
// (the copy is the same 8 MB on both sides): a photograph-like picture (soft shapes with fine
// grain), noise, a flat picture and gradients of one level per pixel (whose sums fall on whole
// numbers). Args: kind, radius. OurBlurDoubles is the blur by double sums alone, the path all
// processors took before the float path.
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

template <int32_t (*Blur)(const qmConvolveRequest *)> void BlurFresh(benchmark::State &state) {
  const auto picture = BlurPicture(int(state.range(0)));
  std::vector<uint32_t> px(picture.size());
  const double radius = double(state.range(1));
  for (auto _ : state) {
    px = picture;
    qmConvolveRequest req{px.data(), kW, kH, kW, PIXFMT_BGRX, 4, nullptr, 0, radius, radius / 3, CONVOLVE_BLUR};
    Blur(&req);
    benchmark::DoNotOptimize(px.data());
  }
}
void OurBlurOn(benchmark::State &state) { BlurFresh<ConvolvePixels>(state); }
void OurBlurDoubles(benchmark::State &state) { BlurFresh<BlurPixelsScalar>(state); }

void OpenCvGaussianBlurOn(benchmark::State &state) {
  const auto picture = BlurPicture(int(state.range(0)));
  std::vector<uint32_t> px(picture.size());
  const int radius = int(state.range(1));
  for (auto _ : state) {
    px = picture;
    cv::Mat img(kH, kW, CV_8UC4, px.data());
    cv::GaussianBlur(img, img, cv::Size(2 * radius + 1, 2 * radius + 1), radius / 3.0, radius / 3.0, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(px.data());
  }
}
#define QM_BLUR_CASES ->ArgsProduct({{kPhoto, kNoise, kFlat, kGradient}, {2, 10}})->Unit(benchmark::kMillisecond)
BENCHMARK(OurBlurOn) QM_BLUR_CASES;
BENCHMARK(OurBlurDoubles) QM_BLUR_CASES;
BENCHMARK(OpenCvGaussianBlurOn) QM_BLUR_CASES;
#undef QM_BLUR_CASES

void OurSharpen(benchmark::State &state) {
  auto px = Picture();
  for (auto _ : state) {
    qmConvolveRequest req{px.data(), kW, kH, kW, PIXFMT_BGRX, 4, nullptr, 0, 0, 1.0, CONVOLVE_SHARPEN};
    ConvolvePixels(&req);
    benchmark::DoNotOptimize(px.data());
  }
}
BENCHMARK(OurSharpen)->Unit(benchmark::kMillisecond);

void OpenCvFilter2D(benchmark::State &state) {
  auto px = Picture();
  cv::Mat img(kH, kW, CV_8UC4, px.data()), out(kH, kW, CV_8UC4);
  cv::Mat kernel(7, 7, CV_64F, cv::Scalar(-1.0 / 48));
  kernel.at<double>(3, 3) = 2.0;
  for (auto _ : state) {
    cv::filter2D(img, out, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(out.data);
  }
}
BENCHMARK(OpenCvFilter2D)->Unit(benchmark::kMillisecond);

// Every run modulates the same picture: modulated again and again in place, it fades to a few
// colours in long runs within some thirty runs, which would time another picture.
void ModulateFresh(benchmark::State &state, const std::vector<uint32_t> &picture) {
  std::vector<uint32_t> px(picture.size());
  for (auto _ : state) {
    state.PauseTiming();
    px = picture;
    state.ResumeTiming();
    qmModulateRequest req{px.data(), kW, kH, kW, PIXFMT_BGRX, 110, 90, 105};
    ModulatePixels(&req);
    benchmark::DoNotOptimize(px.data());
  }
}

void OurModulate(benchmark::State &state) { ModulateFresh(state, Picture()); }
BENCHMARK(OurModulate)->Unit(benchmark::kMillisecond);

// The picture held in runs of equal pixels, as in flat areas of drawn pictures.
void OurModulateRuns(benchmark::State &state) {
  auto px = Picture();
  const size_t run = size_t(state.range(0));
  for (size_t i = 0; i < px.size(); i++) px[i] = px[i - i % run];
  ModulateFresh(state, px);
}
BENCHMARK(OurModulateRuns)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

void OpenCvHlsRoundTrip(benchmark::State &state) {
  auto px = Picture();
  cv::Mat img(kH, kW, CV_8UC4, px.data()), bgr, hls;
  for (auto _ : state) {
    cv::cvtColor(img, bgr, cv::COLOR_BGRA2BGR);
    cv::cvtColor(bgr, hls, cv::COLOR_BGR2HLS);
    cv::cvtColor(hls, bgr, cv::COLOR_HLS2BGR);
    cv::cvtColor(bgr, img, cv::COLOR_BGR2BGRA);
    benchmark::DoNotOptimize(px.data());
  }
}
BENCHMARK(OpenCvHlsRoundTrip)->Unit(benchmark::kMillisecond);

std::vector<uint8_t> I420() {
  std::vector<uint8_t> f(size_t(kW) * kH * 3 / 2);
  uint32_t s = 7;
  for (auto &b : f) b = uint8_t((s = s * 1103515245u + 12345u) >> 16);
  return f;
}

void OurYuvToArgb(benchmark::State &state) {
  const auto f = I420();
  std::vector<uint32_t> out(size_t(kW) * kH);
  const uint8_t *y = f.data(), *u = y + kW * kH, *v = u + kW * kH / 4;
  for (auto _ : state) {
    qmYuvFrameRequest req{y, u, v, kW, kW / 2, kW / 2, out.data(), kW, kH, kW, PIXFMT_BGRX, 4};
    ConvertYuvFrame(&req);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(OurYuvToArgb)->Unit(benchmark::kMillisecond);

void OpenCvYuvI420ToBgra(benchmark::State &state) {
  auto f = I420();
  cv::Mat yuv(kH * 3 / 2, kW, CV_8UC1, f.data()), out;
  for (auto _ : state) {
    cv::cvtColor(yuv, out, cv::COLOR_YUV2BGRA_I420);
    benchmark::DoNotOptimize(out.data);
  }
}
BENCHMARK(OpenCvYuvI420ToBgra)->Unit(benchmark::kMillisecond);

// The frame converted by the peer to BGRA at dw x dh with nearest samples.
void SwscalePointTo(benchmark::State &state, int dw, int dh) {
  const auto f = I420();
  std::vector<uint32_t> out(size_t(dw) * dh);
  SwsContext *ctx = sws_getContext(kW, kH, AV_PIX_FMT_YUV420P, dw, dh, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
  if (!ctx) return state.SkipWithError("sws_getContext");
  const uint8_t *planes[3] = {f.data(), f.data() + kW * kH, f.data() + kW * kH + kW * kH / 4};
  const int strides[3] = {kW, kW / 2, kW / 2};
  uint8_t *dst[1] = {reinterpret_cast<uint8_t *>(out.data())};
  const int dstStride[1] = {dw * 4};
  for (auto _ : state) {
    sws_scale(ctx, planes, strides, 0, kH, dst, dstStride);
    benchmark::DoNotOptimize(out.data());
  }
  sws_freeContext(ctx);
}

void SwscaleYuv420pToBgra(benchmark::State &state) { SwscalePointTo(state, kW, kH); }
BENCHMARK(SwscaleYuv420pToBgra)->Unit(benchmark::kMillisecond);

// The frame scaled to 1280x720 and 2560x1440 with nearest samples.
constexpr int kScaledSizes[][2] = {{1280, 720}, {2560, 1440}};

void OurYuvScaled(benchmark::State &state) {
  const auto f = I420();
  const int dw = kScaledSizes[state.range(0)][0], dh = kScaledSizes[state.range(0)][1];
  std::vector<uint32_t> out(size_t(dw) * dh);
  const uint8_t *y = f.data(), *u = y + kW * kH, *v = u + kW * kH / 4;
  for (auto _ : state) {
    qmYuvScaleRequest req{y, u, v, kW, kW / 2, kW / 2, out.data(), kW, kH, dw, dh, dw, PIXFMT_BGRX, 4};
    ScaleYuvFrame(&req);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(OurYuvScaled)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void SwscalePointScaled(benchmark::State &state) {
  SwscalePointTo(state, kScaledSizes[state.range(0)][0], kScaledSizes[state.range(0)][1]);
}
BENCHMARK(SwscalePointScaled)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A picture with a border frame and scattered walls, refilled from its copy each round.
std::vector<uint32_t> FillPicture() {
  std::vector<uint32_t> px(size_t(kW) * kH, 0x00808080);
  for (int y = 100; y < kH; y += 97)
    for (int x = 0; x < kW - 200; x++) px[size_t(y) * kW + x] = 0x00FFFFFF;
  return px;
}

void OurFloodFill(benchmark::State &state) {
  const auto orig = FillPicture();
  auto px = orig;
  for (auto _ : state) {
    state.PauseTiming();
    px = orig;
    state.ResumeTiming();
    qmFillRequest req{px.data(), kW, kH, kW, 0x00FFFFFF, 0x00123456, 0, 0};
    FloodFillPixels(&req, 5, 5, 0x00FFFFFF);
    benchmark::DoNotOptimize(px.data());
  }
}
BENCHMARK(OurFloodFill)->Unit(benchmark::kMillisecond);

void OpenCvFloodFill(benchmark::State &state) {
  // floodFill replaces one connected colour; on this picture the same pixels as the boundary fill.
  const auto orig = FillPicture();
  std::vector<uint8_t> bgr(size_t(kW) * kH * 3);
  for (size_t i = 0; i < orig.size(); i++) bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = uint8_t(orig[i]);
  cv::Mat src(kH, kW, CV_8UC3, bgr.data()), img;
  for (auto _ : state) {
    state.PauseTiming();
    src.copyTo(img);
    state.ResumeTiming();
    cv::floodFill(img, cv::Point(5, 5), cv::Scalar(0x56, 0x34, 0x12));
    benchmark::DoNotOptimize(img.data);
  }
}
BENCHMARK(OpenCvFloodFill)->Unit(benchmark::kMillisecond);

void OurSwirl(benchmark::State &state) {
  auto px = Picture();
  std::vector<uint32_t> copy = px;
  std::vector<double> sine(QM_WARP_TABLE_SIZE), cosine(QM_WARP_TABLE_SIZE);
  qmSwirlRequest req{};
  req.srcCopy = copy.data(), req.srcPitch = kW, req.dst = px.data(), req.dstPitch = kW;
  req.sine = sine.data(), req.cosine = cosine.data(), req.width = kW, req.height = kH;
  PrepareSwirl(&req);
  for (auto _ : state) {
    SwirlPixels(&req, 180);
    benchmark::DoNotOptimize(px.data());
  }
}
BENCHMARK(OurSwirl)->Unit(benchmark::kMillisecond);

void OpenCvRemap(benchmark::State &state) {
  auto px = Picture();
  cv::Mat img(kH, kW, CV_8UC4, px.data()), out;
  cv::Mat mapx(kH, kW, CV_32FC1), mapy(kH, kW, CV_32FC1);
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) mapx.at<float>(y, x) = float(kW - 1 - x), mapy.at<float>(y, x) = float(y);
  for (auto _ : state) {
    cv::remap(img, out, mapx, mapy, cv::INTER_NEAREST, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(out.data);
  }
}
BENCHMARK(OpenCvRemap)->Unit(benchmark::kMillisecond);

constexpr int kD = 512;

// The 512x512 barrel cases share one source picture; ours and the peer's map are the same
// mapping: source = (k1 r^3 + k4) (point - centre) + centre, r in units of half the side.
std::vector<uint32_t> BarrelSource() {
  std::vector<uint32_t> src(size_t(kD) * kD);
  uint32_t s = 3;
  for (auto &p : src) p = (s = s * 1664525u + 1013904223u) >> 8;
  return src;
}

void OurBarrel(benchmark::State &state, double k1, double k4, int32_t smooth) {
  std::vector<uint32_t> src = BarrelSource(), dst(size_t(kD) * kD);
  std::vector<uint8_t> plane(size_t(kD) * kD);
  qmDistortRequest req{};
  req.method = DISTORT_BARREL;
  req.paramCount = 4;
  req.params[0] = k1, req.params[1] = 0, req.params[2] = 0, req.params[3] = k4;
  req.src = {src.data(), kD, kD, kD, nullptr, 0, nullptr, 0};
  req.smooth = smooth;
  if (PrepareDistortion(&req)) return state.SkipWithError("prepare");
  // Without source planes: smooth gives an alpha channel, point sampling a mask.
  if (smooth) req.dst = {dst.data(), kD, kD, kD, nullptr, 0, plane.data(), kD};
  else req.dst = {dst.data(), kD, kD, kD, plane.data(), MaskBytesPerRow(kD), nullptr, 0};
  for (auto _ : state) {
    RenderDistortion(&req);
    benchmark::DoNotOptimize(dst.data());
  }
}

void OpenCvBarrelRemap(benchmark::State &state, double k1, double k4, int interpolation) {
  std::vector<uint32_t> src = BarrelSource();
  cv::Mat img(kD, kD, CV_8UC4, src.data()), out;
  cv::Mat mapx(kD, kD, CV_32FC1), mapy(kD, kD, CV_32FC1);
  const double sc = 2.0 / kD, c0 = k1 * sc * sc * sc, c = (kD - 1) / 2.0;
  for (int y = 0; y < kD; y++)
    for (int x = 0; x < kD; x++) {
      const double dx = x + 0.5 - c, dy = y + 0.5 - c, r = std::sqrt(dx * dx + dy * dy), f = c0 * r * r * r + k4;
      mapx.at<float>(y, x) = float(f * dx + c - 0.5), mapy.at<float>(y, x) = float(f * dy + c - 0.5);
    }
  for (auto _ : state) {
    cv::remap(img, out, mapx, mapy, interpolation, cv::BORDER_CONSTANT);
    benchmark::DoNotOptimize(out.data);
  }
}

// The whole distortion done by the peer: the map made in every run by its vector operations
// in floats (from the coordinates relative to the centre, made once), then the remap.
void OpenCvBarrelMapAndRemap(benchmark::State &state, double k1, double k4, int interpolation) {
  std::vector<uint32_t> src = BarrelSource();
  cv::Mat img(kD, kD, CV_8UC4, src.data()), out;
  const double sc = 2.0 / kD, c0 = k1 * sc * sc * sc, c = (kD - 1) / 2.0;
  cv::Mat dx(kD, kD, CV_32FC1), dy(kD, kD, CV_32FC1), r, f, mapx, mapy;
  for (int y = 0; y < kD; y++)
    for (int x = 0; x < kD; x++) dx.at<float>(y, x) = float(x + 0.5 - c), dy.at<float>(y, x) = float(y + 0.5 - c);
  for (auto _ : state) {
    cv::magnitude(dx, dy, r);
    f = r.mul(r).mul(r) * c0 + k4;
    mapx = f.mul(dx) + (c - 0.5);
    mapy = f.mul(dy) + (c - 0.5);
    cv::remap(img, out, mapx, mapy, interpolation, cv::BORDER_CONSTANT);
    benchmark::DoNotOptimize(out.data);
  }
}

// A barrel that shrinks toward the corners: there our smooth sampling is the elliptical average
// (about half of the pixels), elsewhere bilinear.
void OurSmoothBarrel(benchmark::State &state) { OurBarrel(state, 0.2, 0.8, 1); }
BENCHMARK(OurSmoothBarrel)->Unit(benchmark::kMillisecond);
void OpenCvRemapBilinear(benchmark::State &state) { OpenCvBarrelRemap(state, 0.2, 0.8, cv::INTER_LINEAR); }
BENCHMARK(OpenCvRemapBilinear)->Unit(benchmark::kMillisecond);

// A lens that magnifies everywhere: every pixel of our smooth sampling takes the bilinear path,
// the same work as the peer's.
void OurSmoothLens(benchmark::State &state) { OurBarrel(state, 0.05, 0.5, 1); }
BENCHMARK(OurSmoothLens)->Unit(benchmark::kMillisecond);
void OpenCvRemapBilinearLens(benchmark::State &state) { OpenCvBarrelRemap(state, 0.05, 0.5, cv::INTER_LINEAR); }
BENCHMARK(OpenCvRemapBilinearLens)->Unit(benchmark::kMillisecond);
void OpenCvMapAndRemapBilinear(benchmark::State &state) { OpenCvBarrelMapAndRemap(state, 0.2, 0.8, cv::INTER_LINEAR); }
BENCHMARK(OpenCvMapAndRemapBilinear)->Unit(benchmark::kMillisecond);
void OpenCvMapAndRemapBilinearLens(benchmark::State &state) { OpenCvBarrelMapAndRemap(state, 0.05, 0.5, cv::INTER_LINEAR); }
BENCHMARK(OpenCvMapAndRemapBilinearLens)->Unit(benchmark::kMillisecond);

// Point sampling of the first barrel against nearest-neighbour remap.
void OurPointBarrel(benchmark::State &state) { OurBarrel(state, 0.2, 0.8, 0); }
BENCHMARK(OurPointBarrel)->Unit(benchmark::kMillisecond);
void OpenCvRemapNearest(benchmark::State &state) { OpenCvBarrelRemap(state, 0.2, 0.8, cv::INTER_NEAREST); }
BENCHMARK(OpenCvRemapNearest)->Unit(benchmark::kMillisecond);
void OpenCvMapAndRemapNearest(benchmark::State &state) { OpenCvBarrelMapAndRemap(state, 0.2, 0.8, cv::INTER_NEAREST); }
BENCHMARK(OpenCvMapAndRemapNearest)->Unit(benchmark::kMillisecond);

} // namespace

namespace {

// Keeps each case's time per run, so that ours, the peer and the ratio are printed together.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run> &runs) override {
    // Repeated runs report their median; single runs themselves. CPU time: other work on the
    // machine does not count against either side.
    for (const Run &r : runs) {
      if (r.error_occurred) continue;
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") seconds[r.run_name.str()] = r.GetAdjustedCPUTime();
      if (r.run_type == Run::RT_Iteration && r.repetitions <= 1) seconds[r.benchmark_name()] = r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const struct {
    const char *ours, *peer, *what;
  } pairs[] = {{"OurBlur/2", "OpenCvGaussianBlur/2", "Gaussian blur, 5 taps"},
               {"OurBlur/10", "OpenCvGaussianBlur/10", "Gaussian blur, 21 taps"},
               {"OurBlurOn/0/2", "OpenCvGaussianBlurOn/0/2", "blur of a fresh photograph-like picture, 5 taps"},
               {"OurBlurOn/0/10", "OpenCvGaussianBlurOn/0/10", "as above, 21 taps"},
               {"OurBlurOn/1/2", "OpenCvGaussianBlurOn/1/2", "blur of fresh noise, 5 taps"},
               {"OurBlurOn/1/10", "OpenCvGaussianBlurOn/1/10", "as above, 21 taps"},
               {"OurBlurOn/2/2", "OpenCvGaussianBlurOn/2/2", "blur of a fresh flat picture, 5 taps"},
               {"OurBlurOn/2/10", "OpenCvGaussianBlurOn/2/10", "as above, 21 taps"},
               {"OurBlurOn/3/2", "OpenCvGaussianBlurOn/3/2", "blur of fresh one-level-per-pixel gradients, 5 taps"},
               {"OurBlurOn/3/10", "OpenCvGaussianBlurOn/3/10", "as above, 21 taps"},
               {"OurBlurOn/0/2", "OurBlurDoubles/0/2", "float path / double sums alone: photograph, 5 taps"},
               {"OurBlurOn/0/10", "OurBlurDoubles/0/10", "as above, 21 taps"},
               {"OurBlurOn/1/2", "OurBlurDoubles/1/2", "as above: noise, 5 taps"},
               {"OurBlurOn/1/10", "OurBlurDoubles/1/10", "as above, 21 taps"},
               {"OurBlurOn/2/2", "OurBlurDoubles/2/2", "as above: flat, 5 taps"},
               {"OurBlurOn/2/10", "OurBlurDoubles/2/10", "as above, 21 taps"},
               {"OurBlurOn/3/2", "OurBlurDoubles/3/2", "as above: gradients, 5 taps"},
               {"OurBlurOn/3/10", "OurBlurDoubles/3/10", "as above, 21 taps"},
               {"OurSharpen", "OpenCvFilter2D", "7x7 sharpen"},
               {"OurModulate", "OpenCvHlsRoundTrip", "ours HSL in doubles; peer HLS round trip"},
               {"OurModulateRuns/16", "OpenCvHlsRoundTrip", "as above, ours on runs of 16 equal pixels"},
               {"OurModulateRuns/64", "OpenCvHlsRoundTrip", "as above, ours on runs of 64 equal pixels"},
               {"OurYuvToArgb", "OpenCvYuvI420ToBgra", "I420 to 32-bit pixels"},
               {"OurYuvToArgb", "SwscaleYuv420pToBgra", "I420 to 32-bit pixels"},
               {"OurYuvScaled/0", "SwscalePointScaled/0", "I420 to 32-bit pixels, nearest, 1280x720"},
               {"OurYuvScaled/1", "SwscalePointScaled/1", "I420 to 32-bit pixels, nearest, 2560x1440"},
               {"OurFloodFill", "OpenCvFloodFill", "fill of a walled picture"},
               {"OurSwirl", "OpenCvRemap", "ours maps and samples; peer samples a ready map"},
               {"OurSmoothBarrel", "OpenCvRemapBilinear", "ours elliptical average (half) + bilinear; peer bilinear"},
               {"OurSmoothBarrel", "OpenCvMapAndRemapBilinear", "as above, the peer also makes its map"},
               {"OurSmoothLens", "OpenCvRemapBilinearLens", "both bilinear; ours also maps"},
               {"OurSmoothLens", "OpenCvMapAndRemapBilinearLens", "both map and sample bilinear"},
               {"OurPointBarrel", "OpenCvRemapNearest", "both nearest pixel; ours also maps"},
               {"OurPointBarrel", "OpenCvMapAndRemapNearest", "both map and take the nearest pixel"}};
  std::printf("\n%-18s %-30s %10s %10s %7s  %s\n", "ours", "peer", "ours ms", "peer ms", "ratio", "what each side does");
  for (const auto &p : pairs) {
    const auto o = reporter.seconds.find(p.ours), q = reporter.seconds.find(p.peer);
    if (o == reporter.seconds.end() || q == reporter.seconds.end()) continue;
    std::printf("%-18s %-30s %10.3f %10.3f %7.2f  %s\n", p.ours, p.peer, o->second, q->second, o->second / q->second, p.what);
  }
  std::printf("ratio: ours / peer CPU time per run (below 1: ours faster)\n");
  benchmark::Shutdown();
  return 0;
}
