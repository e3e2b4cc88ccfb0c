// Pixel kernels against pixman and SDL2 doing the same job on the same sizes.
// Peers round and align samples differently: this compares speed, not values.
// Each case runs at 640x480 and 1920x1080 (the source size for scaling and rotation).
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/blend_kernels.h"
#include "graphics/blit.h"
#include "graphics/scale.h"
#include "graphics/transform.h"

namespace {

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352d;
  x ^= x >> 15;
  x *= 0x846ca68b;
  return x ^ (x >> 16);
}

// Test picture: noise, so no peer can take a shortcut on uniform rows.
void FillPicture(uint32_t *px, int w, int h, int pitch) {
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) px[y * pitch + x] = Hash(uint32_t(y * w + x)) | 0xFF000000u;
}

// A sprite-like shape: an ellipse, opaque inside, soft over a 16-pixel rim, clear outside.
uint8_t Coverage(int x, int y, int w, int h) {
  double dx = (x + 0.5 - w / 2.0) / (w / 2.0), dy = (y + 0.5 - h / 2.0) / (h / 2.0);
  double r = std::sqrt(dx * dx + dy * dy), rim = 16.0 / (w / 2.0);
  if (r >= 1) return 0;
  if (r <= 1 - rim) return 255;
  return uint8_t(255 * (1 - r) / rim);
}

struct Size {
  int w, h;
};
Size SizeOf(const benchmark::State &s) { return {int(s.range(0)), int(s.range(1))}; }

void Sizes(benchmark::internal::Benchmark *b) {
  b->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
}

// ---- our side ----

struct OurPicture {
  qmBitmap *bitmap;
  explicit OurPicture(int w, int h) : bitmap(AllocBitmap(w, h)) {
    FillPicture(bitmap->pixels, w, h, bitmap->bytesPerRow / 4);
  }
  ~OurPicture() { FreeBitmap(bitmap); }
};

// ---- pixman side ----

struct PixmanPicture {
  std::vector<uint32_t> px;
  pixman_image_t *image;
  PixmanPicture(int w, int h, pixman_format_code_t format = PIXMAN_x8r8g8b8) : px(size_t(w) * h) {
    FillPicture(px.data(), w, h, w);
    image = pixman_image_create_bits(format, w, h, px.data(), w * 4);
  }
  ~PixmanPicture() { pixman_image_unref(image); }
};

// ---- SDL side ----

struct SdlPicture {
  SDL_Surface *surface;
  SdlPicture(int w, int h, uint32_t format = SDL_PIXELFORMAT_XRGB8888)
      : surface(SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, format)) {
    FillPicture(static_cast<uint32_t *>(surface->pixels), w, h, surface->pitch / 4);
  }
  ~SdlPicture() { SDL_FreeSurface(surface); }
};

// ================= copy =================

void Copy_Ours(benchmark::State &state) {
  Size s = SizeOf(state);
  OurPicture src(s.w, s.h), dst(s.w, s.h);
  for (auto _ : state) BltBitmap(src.bitmap, 0, 0, dst.bitmap, 0, 0, s.w, s.h);
}
void Copy_Pixman(benchmark::State &state) {
  Size s = SizeOf(state);
  PixmanPicture src(s.w, s.h), dst(s.w, s.h);
  for (auto _ : state) pixman_image_composite32(PIXMAN_OP_SRC, src.image, nullptr, dst.image, 0, 0, 0, 0, 0, 0, s.w, s.h);
}
void Copy_SDL2(benchmark::State &state) {
  Size s = SizeOf(state);
  SdlPicture src(s.w, s.h), dst(s.w, s.h);
  SDL_SetSurfaceBlendMode(src.surface, SDL_BLENDMODE_NONE);
  for (auto _ : state) SDL_BlitSurface(src.surface, nullptr, dst.surface, nullptr);
}

// ================= masked copy (1-bit mask) =================

void MaskedCopy_Ours(benchmark::State &state) {
  Size s = SizeOf(state);
  OurPicture src(s.w, s.h), dst(s.w, s.h);
  qmMask *mask = AllocMask(s.w, s.h, 1);
  for (int y = 0; y < s.h; y++)
    for (int x = 0; x < s.w; x++)
      if (Coverage(x, y, s.w, s.h) >= 128) mask->memory[y * mask->bytesPerRow + (x >> 3)] |= uint8_t(0x80 >> (x & 7));
  for (auto _ : state) BltMask(src.bitmap, 0, 0, dst.bitmap, 0, 0, s.w, s.h, mask);
  FreeMask(mask);
}
void MaskedCopy_Pixman(benchmark::State &state) {
  // OVER of an opaque source through an a1 mask: source where the bit is set, else the destination.
  Size s = SizeOf(state);
  PixmanPicture src(s.w, s.h), dst(s.w, s.h);
  int stride = ((s.w + 31) / 32) * 4;
  std::vector<uint32_t> bits(size_t(stride / 4) * s.h, 0);
  for (int y = 0; y < s.h; y++)
    for (int x = 0; x < s.w; x++)
      if (Coverage(x, y, s.w, s.h) >= 128) {
        // a1 bits are addressed within 32-bit words, lowest bit first on little-endian machines
        bits[size_t(y) * (stride / 4) + (x >> 5)] |= 1u << (x & 31);
      }
  pixman_image_t *mask = pixman_image_create_bits(PIXMAN_a1, s.w, s.h, bits.data(), stride);
  for (auto _ : state) pixman_image_composite32(PIXMAN_OP_OVER, src.image, mask, dst.image, 0, 0, 0, 0, 0, 0, s.w, s.h);
  pixman_image_unref(mask);
}
void MaskedCopy_SDL2(benchmark::State &state) {
  // A colour-keyed blit: the key colour marks the pixels left out.
  Size s = SizeOf(state);
  SdlPicture src(s.w, s.h), dst(s.w, s.h);
  auto *px = static_cast<uint32_t *>(src.surface->pixels);
  for (int y = 0; y < s.h; y++)
    for (int x = 0; x < s.w; x++)
      if (Coverage(x, y, s.w, s.h) < 128) px[y * (src.surface->pitch / 4) + x] = 0xFFFF00FF;
  SDL_SetColorKey(src.surface, SDL_TRUE, 0xFFFF00FF);
  for (auto _ : state) SDL_BlitSurface(src.surface, nullptr, dst.surface, nullptr);
}

// ================= alpha blend through an 8-bit plane =================

void AlphaBlend_Ours(benchmark::State &state) {
  Size s = SizeOf(state);
  OurPicture src(s.w, s.h), dst(s.w, s.h);
  qmAlphaChannel *alpha = AllocAlphaChannel(s.w, s.h, 0);
  for (int y = 0; y < s.h; y++)
    for (int x = 0; x < s.w; x++) alpha->memory[y * alpha->bytesPerRow + x] = Coverage(x, y, s.w, s.h);
  qmBlendRequest req{src.bitmap->pixels, 0, 0, dst.bitmap->pixels, 0, 0, s.w, s.h,
                     src.bitmap->bytesPerRow / 4, dst.bitmap->bytesPerRow / 4, alpha->memory, 0, 0, alpha->bytesPerRow,
                     11};
  for (auto _ : state) BlendAlphaPixels(&req);
  FreeAlphaChannel(alpha);
}
void AlphaBlend_Pixman(benchmark::State &state) {
  Size s = SizeOf(state);
  PixmanPicture src(s.w, s.h), dst(s.w, s.h);
  int stride = (s.w + 3) & ~3;
  std::vector<uint8_t> a(size_t(stride) * s.h);
  for (int y = 0; y < s.h; y++)
    for (int x = 0; x < s.w; x++) a[size_t(y) * stride + x] = Coverage(x, y, s.w, s.h);
  pixman_image_t *mask = pixman_image_create_bits(PIXMAN_a8, s.w, s.h, reinterpret_cast<uint32_t *>(a.data()), stride);
  for (auto _ : state) pixman_image_composite32(PIXMAN_OP_OVER, src.image, mask, dst.image, 0, 0, 0, 0, 0, 0, s.w, s.h);
  pixman_image_unref(mask);
}
void AlphaBlend_SDL2(benchmark::State &state) {
  // SDL keeps the alpha inside the source pixels.
  Size s = SizeOf(state);
  SdlPicture src(s.w, s.h, SDL_PIXELFORMAT_ARGB8888), dst(s.w, s.h);
  auto *px = static_cast<uint32_t *>(src.surface->pixels);
  for (int y = 0; y < s.h; y++)
    for (int x = 0; x < s.w; x++) {
      uint32_t &p = px[y * (src.surface->pitch / 4) + x];
      p = (p & 0xFFFFFF) | uint32_t(Coverage(x, y, s.w, s.h)) << 24;
    }
  SDL_SetSurfaceBlendMode(src.surface, SDL_BLENDMODE_BLEND);
  for (auto _ : state) SDL_BlitSurface(src.surface, nullptr, dst.surface, nullptr);
}

// ================= scaling =================

template <int Percent, int Smooth> void Scale_Ours(benchmark::State &state) {
  Size s = SizeOf(state);
  int dw = s.w * Percent / 100, dh = s.h * Percent / 100;
  OurPicture src(s.w, s.h), dst(dw, dh);
  qmScaleBuffers buffers{};
  EnsureScaleBuffers(&buffers, dw, dh);
  qmScaleRequest req{};
  req.srcPixels = src.bitmap->pixels;
  req.dstPixels = dst.bitmap->pixels;
  req.srcWidth = s.w, req.srcHeight = s.h, req.dstWidth = dw, req.dstHeight = dh;
  req.srcPitch = src.bitmap->bytesPerRow / 4, req.dstPitch = dst.bitmap->bytesPerRow / 4;
  req.smooth = Smooth, req.format = 11, req.bytesPerPixel = 4, req.buffers = &buffers;
  for (auto _ : state) ScalePixels(&req);
  FreeScaleBuffers(&buffers);
}
template <int Percent, int Smooth> void Scale_Pixman(benchmark::State &state) {
  Size s = SizeOf(state);
  int dw = s.w * Percent / 100, dh = s.h * Percent / 100;
  PixmanPicture src(s.w, s.h), dst(dw, dh);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(double(s.w) / dw), pixman_double_to_fixed(double(s.h) / dh));
  pixman_image_set_transform(src.image, &t);
  pixman_image_set_filter(src.image, Smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
  pixman_image_set_repeat(src.image, PIXMAN_REPEAT_PAD);
  for (auto _ : state) pixman_image_composite32(PIXMAN_OP_SRC, src.image, nullptr, dst.image, 0, 0, 0, 0, 0, 0, dw, dh);
}
template <int Percent, int Smooth> void Scale_SDL2(benchmark::State &state) {
  Size s = SizeOf(state);
  int dw = s.w * Percent / 100, dh = s.h * Percent / 100;
  SdlPicture src(s.w, s.h), dst(dw, dh);
  SDL_SetSurfaceBlendMode(src.surface, SDL_BLENDMODE_NONE);
  SDL_Rect to{0, 0, dw, dh};
  for (auto _ : state) {
    if (Smooth)
      SDL_SoftStretchLinear(src.surface, nullptr, dst.surface, &to);
    else
      SDL_BlitScaled(src.surface, nullptr, dst.surface, &to);
  }
}

// ================= 30 degree rotation =================

struct Rotation {
  double a, b, c, d, e, f;
  int dw, dh;
};
Rotation Rotate30(int w, int h) {
  const double r = M_PI / 6, cs = std::cos(r), sn = std::sin(r);
  Rotation t{cs, sn, -sn, cs, 0, 0, 0, 0};
  double xs[4] = {0, double(w), 0, double(w)}, ys[4] = {0, 0, double(h), double(h)};
  double minX = 1e30, maxX = -1e30, minY = 1e30, maxY = -1e30;
  for (int i = 0; i < 4; i++) {
    minX = std::min(minX, t.a * xs[i] + t.c * ys[i]), maxX = std::max(maxX, t.a * xs[i] + t.c * ys[i]);
    minY = std::min(minY, t.b * xs[i] + t.d * ys[i]), maxY = std::max(maxY, t.b * xs[i] + t.d * ys[i]);
  }
  t.e = -minX, t.f = -minY;
  t.dw = int(std::ceil(maxX - minX)), t.dh = int(std::ceil(maxY - minY));
  return t;
}

// Our transform writes only the destination pixels that the rotated source covers (about
// half the bounding box at 30 degrees); pixman writes the whole box. Both report the pixels
// they write as items, and the label says how many, so the rates compare like with like.
template <int Smooth> void Rotate_Ours(benchmark::State &state) {
  Size s = SizeOf(state);
  Rotation t = Rotate30(s.w, s.h);
  OurPicture src(s.w, s.h), dst(t.dw, t.dh);
  qmTransformRequest req{src.bitmap->pixels, nullptr, nullptr, dst.bitmap->pixels, nullptr, nullptr,
                         s.w, s.h, t.dw, t.dh, src.bitmap->bytesPerRow / 4, 0, 0, dst.bitmap->bytesPerRow / 4, 0, 0,
                         t.a, t.b, t.c, t.d, t.e, t.f, Smooth, 11, 4};
  // Written pixels: those that no longer hold the clear value after one run.
  int pitch = dst.bitmap->bytesPerRow / 4;
  for (int y = 0; y < t.dh; y++) std::memset(dst.bitmap->pixels + size_t(y) * pitch, 0, size_t(t.dw) * 4);
  TransformPixels(&req);
  int64_t written = 0;
  for (int y = 0; y < t.dh; y++)
    for (int x = 0; x < t.dw; x++) written += dst.bitmap->pixels[size_t(y) * pitch + x] != 0;
  for (auto _ : state) TransformPixels(&req);
  state.SetItemsProcessed(int64_t(state.iterations()) * written);
  state.SetLabel("writes " + std::to_string(written) + " of " + std::to_string(int64_t(t.dw) * t.dh) + " px");
}
template <int Smooth> void Rotate_Pixman(benchmark::State &state) {
  Size s = SizeOf(state);
  Rotation t = Rotate30(s.w, s.h);
  PixmanPicture src(s.w, s.h), dst(t.dw, t.dh);
  // pixman maps destination to source: the inverse of the forward matrix.
  pixman_f_transform_t fwd, inv;
  pixman_f_transform_init_identity(&fwd);
  fwd.m[0][0] = t.a, fwd.m[0][1] = t.c, fwd.m[0][2] = t.e;
  fwd.m[1][0] = t.b, fwd.m[1][1] = t.d, fwd.m[1][2] = t.f;
  pixman_f_transform_invert(&inv, &fwd);
  pixman_transform_t fixed;
  pixman_transform_from_pixman_f_transform(&fixed, &inv);
  pixman_image_set_transform(src.image, &fixed);
  pixman_image_set_filter(src.image, Smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
  for (auto _ : state)
    pixman_image_composite32(PIXMAN_OP_SRC, src.image, nullptr, dst.image, 0, 0, 0, 0, 0, 0, t.dw, t.dh);
  state.SetItemsProcessed(int64_t(state.iterations()) * t.dw * t.dh);
  state.SetLabel("writes " + std::to_string(int64_t(t.dw) * t.dh) + " of " + std::to_string(int64_t(t.dw) * t.dh) + " px");
}

} // namespace

BENCHMARK(Copy_Ours)->Apply(Sizes);
BENCHMARK(Copy_Pixman)->Apply(Sizes);
BENCHMARK(Copy_SDL2)->Apply(Sizes);
BENCHMARK(MaskedCopy_Ours)->Apply(Sizes);
BENCHMARK(MaskedCopy_Pixman)->Apply(Sizes);
BENCHMARK(MaskedCopy_SDL2)->Apply(Sizes);
BENCHMARK(AlphaBlend_Ours)->Apply(Sizes);
BENCHMARK(AlphaBlend_Pixman)->Apply(Sizes);
BENCHMARK(AlphaBlend_SDL2)->Apply(Sizes);
BENCHMARK(Scale_Ours<50, 0>)->Name("ScaleNearestHalf_Ours")->Apply(Sizes);
BENCHMARK(Scale_Pixman<50, 0>)->Name("ScaleNearestHalf_Pixman")->Apply(Sizes);
BENCHMARK(Scale_SDL2<50, 0>)->Name("ScaleNearestHalf_SDL2")->Apply(Sizes);
BENCHMARK(Scale_Ours<200, 0>)->Name("ScaleNearestDouble_Ours")->Apply(Sizes);
BENCHMARK(Scale_Pixman<200, 0>)->Name("ScaleNearestDouble_Pixman")->Apply(Sizes);
BENCHMARK(Scale_SDL2<200, 0>)->Name("ScaleNearestDouble_SDL2")->Apply(Sizes);
BENCHMARK(Scale_Ours<50, 1>)->Name("ScaleSmoothHalf_Ours")->Apply(Sizes);
BENCHMARK(Scale_Pixman<50, 1>)->Name("ScaleSmoothHalf_Pixman")->Apply(Sizes);
BENCHMARK(Scale_SDL2<50, 1>)->Name("ScaleSmoothHalf_SDL2")->Apply(Sizes);
BENCHMARK(Scale_Ours<200, 1>)->Name("ScaleSmoothDouble_Ours")->Apply(Sizes);
BENCHMARK(Scale_Pixman<200, 1>)->Name("ScaleSmoothDouble_Pixman")->Apply(Sizes);
BENCHMARK(Scale_SDL2<200, 1>)->Name("ScaleSmoothDouble_SDL2")->Apply(Sizes);
BENCHMARK(Rotate_Ours<0>)->Name("Rotate30Nearest_Ours")->Apply(Sizes);
BENCHMARK(Rotate_Pixman<0>)->Name("Rotate30Nearest_Pixman")->Apply(Sizes);
BENCHMARK(Rotate_Ours<1>)->Name("Rotate30Smooth_Ours")->Apply(Sizes);
BENCHMARK(Rotate_Pixman<1>)->Name("Rotate30Smooth_Pixman")->Apply(Sizes);

namespace {

// Keeps each case's time per iteration, so that ours, each peer and the ratio are printed together.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs)
      if (r.iterations > 0 && !r.error_occurred) seconds[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-36s %10s %10s %10s %7s %7s\n", "case (us)", "ours", "pixman", "SDL2", "/pixman", "/SDL2");
  for (const auto &[name, ours] : reporter.seconds) {
    size_t at = name.find("_Ours");
    if (at == std::string::npos) continue;
    auto peer = [&](const char *which) {
      auto it = reporter.seconds.find(name.substr(0, at) + which + name.substr(at + 5));
      return it == reporter.seconds.end() ? 0.0 : it->second;
    };
    double px = peer("_Pixman"), sdl = peer("_SDL2");
    std::printf("%-36s %10.1f", (name.substr(0, at) + name.substr(at + 5)).c_str(), ours);
    for (double peerTime : {px, sdl}) {
      if (peerTime > 0) std::printf(" %10.1f", peerTime);
      else std::printf(" %10s", "-");
    }
    for (double peerTime : {px, sdl}) {
      if (peerTime > 0) std::printf(" %7.2f", ours / peerTime);
      else std::printf(" %7s", "-");
    }
    std::printf("\n");
  }
  std::printf("ratio: ours / peer time per run (below 1: ours faster); rotation: see the pixels each writes\n");
  benchmark::Shutdown();
  return 0;
}
