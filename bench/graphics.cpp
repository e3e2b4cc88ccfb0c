// Pixel kernels against pixman and SDL2 doing the same job on the same sizes, each peer
// alternating with ours round by round. Peers round and align samples differently: each pair's
// pictures are compared once, exactly for copies and loosely for the rest.
// Each case runs at 640x480 and 1920x1080 (the source size for scaling and rotation).
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
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
// A smooth picture: gradients in each channel.
void FillSmoothPicture(uint32_t *px, int w, int h, int pitch) {
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      px[y * pitch + x] = 0xFF000000u | uint32_t(x * 255 / w) << 16 | uint32_t(y * 255 / h) << 8 | uint32_t((x + y) * 255 / (w + h));
}

// The sources of a resampling pair refilled: smooth for the check, noise for the timing.
void Refill(bool smooth, uint32_t *px, int w, int h, int pitch) {
  if (smooth) FillSmoothPicture(px, w, h, pitch);
  else FillPicture(px, w, h, pitch);
}

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

// ================= side by side =================

// A round of each side draws batch times: milliseconds at either size.
int Batch(Size s) { return int64_t(s.w) * s.h < 1000000 ? 20 : 5; }

// The share (per cent) of the w x h pixels whose colours lie more than a quarter of the range
// apart in a channel: peers round and place samples their own way, so only a picture mostly
// apart means the peer did another job. The same words go to both sides, whose pixels put their
// channels in different bytes (ours A, R, G, B in memory with a low byte the smooth kernels
// leave 0; the peers' x, R, G, B words): the two middle bytes are channels to both.
double PercentApart(const uint32_t *a, int aPitch, const uint32_t *b, int bPitch, int w, int h) {
  int64_t apart = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint32_t p = a[int64_t(y) * aPitch + x], q = b[int64_t(y) * bPitch + x];
      for (int shift = 8; shift < 24; shift += 8)
        if (std::abs(int((p >> shift) & 255) - int((q >> shift) & 255)) > 64) {
          apart++;
          break;
        }
    }
  return 100.0 * double(apart) / (double(w) * h);
}
constexpr double kMostApart = 50;

// One pass of each side checked once (the share apart as a counter; exact when exact says so),
// then the two in alternating rounds (bench/side_by_side.h).
// Sampling between pixels of noise gives uncorrelated values for any difference of phase, so
// resampling sides are compared on smooth pictures (smooth: fills the sources with one before
// the check and with noise again after it).
void Pair(benchmark::State &state, const char *peerName, const std::function<void()> &ours,
          const std::function<void()> &peer, const std::function<double()> &apart, bool exact,
          const std::function<void(bool)> &smooth = nullptr) {
  if (smooth) smooth(true);
  ours();
  peer();
  const double pct = apart();
  if (smooth) smooth(false);
  state.counters["pixels_apart_pct"] = pct;
  if ((exact && pct != 0) || pct > kMostApart) return state.SkipWithError("the peer's picture is not ours");
  BenchBatchedRounds(state, peerName, Batch(SizeOf(state)), ours, peer);
}

enum PeerKind { kPixman, kSdl };

double ApartFromPixman(const OurPicture &o, const PixmanPicture &p, int w, int h) {
  return PercentApart(o.bitmap->pixels, o.bitmap->bytesPerRow / 4, p.px.data(), w, w, h);
}
double ApartFromSdl(const OurPicture &o, const SdlPicture &p, int w, int h) {
  return PercentApart(o.bitmap->pixels, o.bitmap->bytesPerRow / 4, static_cast<const uint32_t *>(p.surface->pixels),
                      p.surface->pitch / 4, w, h);
}

// ================= copy =================

void Copy(benchmark::State &state, PeerKind kind) {
  Size s = SizeOf(state);
  OurPicture src(s.w, s.h), dst(s.w, s.h);
  auto ours = [&] { BltBitmap(src.bitmap, 0, 0, dst.bitmap, 0, 0, s.w, s.h); };
  if (kind == kPixman) {
    PixmanPicture psrc(s.w, s.h), pdst(s.w, s.h);
    Pair(
        state, "pixman", ours,
        [&] { pixman_image_composite32(PIXMAN_OP_SRC, psrc.image, nullptr, pdst.image, 0, 0, 0, 0, 0, 0, s.w, s.h); },
        [&] { return ApartFromPixman(dst, pdst, s.w, s.h); }, true);
  } else {
    SdlPicture ssrc(s.w, s.h), sdst(s.w, s.h);
    SDL_SetSurfaceBlendMode(ssrc.surface, SDL_BLENDMODE_NONE);
    Pair(
        state, "sdl2", ours, [&] { SDL_BlitSurface(ssrc.surface, nullptr, sdst.surface, nullptr); },
        [&] { return ApartFromSdl(dst, sdst, s.w, s.h); }, true);
  }
}

// ================= masked copy (1-bit mask) =================

void MaskedCopy(benchmark::State &state, PeerKind kind) {
  Size s = SizeOf(state);
  OurPicture src(s.w, s.h), dst(s.w, s.h);
  qmMask *mask = AllocMask(s.w, s.h, 1);
  for (int y = 0; y < s.h; y++)
    for (int x = 0; x < s.w; x++)
      if (Coverage(x, y, s.w, s.h) >= 128) mask->memory[y * mask->bytesPerRow + (x >> 3)] |= uint8_t(0x80 >> (x & 7));
  auto ours = [&] { BltMask(src.bitmap, 0, 0, dst.bitmap, 0, 0, s.w, s.h, mask); };
  if (kind == kPixman) {
    // OVER of an opaque source through an a1 mask: source where the bit is set, else the destination.
    PixmanPicture psrc(s.w, s.h), pdst(s.w, s.h);
    int stride = ((s.w + 31) / 32) * 4;
    std::vector<uint32_t> bits(size_t(stride / 4) * s.h, 0);
    for (int y = 0; y < s.h; y++)
      for (int x = 0; x < s.w; x++)
        if (Coverage(x, y, s.w, s.h) >= 128) {
          // a1 bits are addressed within 32-bit words, lowest bit first on little-endian machines
          bits[size_t(y) * (stride / 4) + (x >> 5)] |= 1u << (x & 31);
        }
    pixman_image_t *pmask = pixman_image_create_bits(PIXMAN_a1, s.w, s.h, bits.data(), stride);
    Pair(
        state, "pixman", ours,
        [&] { pixman_image_composite32(PIXMAN_OP_OVER, psrc.image, pmask, pdst.image, 0, 0, 0, 0, 0, 0, s.w, s.h); },
        [&] { return ApartFromPixman(dst, pdst, s.w, s.h); }, true);
    pixman_image_unref(pmask);
  } else {
    // A colour-keyed blit: the key colour marks the pixels left out.
    SdlPicture ssrc(s.w, s.h), sdst(s.w, s.h);
    auto *px = static_cast<uint32_t *>(ssrc.surface->pixels);
    for (int y = 0; y < s.h; y++)
      for (int x = 0; x < s.w; x++)
        if (Coverage(x, y, s.w, s.h) < 128) px[y * (ssrc.surface->pitch / 4) + x] = 0xFFFF00FF;
    SDL_SetColorKey(ssrc.surface, SDL_TRUE, 0xFFFF00FF);
    Pair(
        state, "sdl2", ours, [&] { SDL_BlitSurface(ssrc.surface, nullptr, sdst.surface, nullptr); },
        [&] { return ApartFromSdl(dst, sdst, s.w, s.h); }, true);
  }
  FreeMask(mask);
}

// ================= alpha blend through an 8-bit plane =================

void AlphaBlend(benchmark::State &state, PeerKind kind) {
  Size s = SizeOf(state);
  OurPicture src(s.w, s.h), dst(s.w, s.h);
  qmAlphaChannel *alpha = AllocAlphaChannel(s.w, s.h, 0);
  for (int y = 0; y < s.h; y++)
    for (int x = 0; x < s.w; x++) alpha->memory[y * alpha->bytesPerRow + x] = Coverage(x, y, s.w, s.h);
  qmBlendRequest req{src.bitmap->pixels, 0, 0, dst.bitmap->pixels, 0, 0, s.w, s.h,
                     src.bitmap->bytesPerRow / 4, dst.bitmap->bytesPerRow / 4, alpha->memory, 0, 0, alpha->bytesPerRow,
                     11};
  // Blending again onto its own result moves the destination on: each side's picture is
  // compared after one pass from the same start.
  auto ours = [&] { BlendAlphaPixels(&req); };
  if (kind == kPixman) {
    PixmanPicture psrc(s.w, s.h), pdst(s.w, s.h);
    int stride = (s.w + 3) & ~3;
    std::vector<uint8_t> a(size_t(stride) * s.h);
    for (int y = 0; y < s.h; y++)
      for (int x = 0; x < s.w; x++) a[size_t(y) * stride + x] = Coverage(x, y, s.w, s.h);
    pixman_image_t *mask = pixman_image_create_bits(PIXMAN_a8, s.w, s.h, reinterpret_cast<uint32_t *>(a.data()), stride);
    Pair(
        state, "pixman", ours,
        [&] { pixman_image_composite32(PIXMAN_OP_OVER, psrc.image, mask, pdst.image, 0, 0, 0, 0, 0, 0, s.w, s.h); },
        [&] { return ApartFromPixman(dst, pdst, s.w, s.h); }, false);
    pixman_image_unref(mask);
  } else {
    // SDL keeps the alpha inside the source pixels.
    SdlPicture ssrc(s.w, s.h, SDL_PIXELFORMAT_ARGB8888), sdst(s.w, s.h);
    auto *px = static_cast<uint32_t *>(ssrc.surface->pixels);
    for (int y = 0; y < s.h; y++)
      for (int x = 0; x < s.w; x++) {
        uint32_t &p = px[y * (ssrc.surface->pitch / 4) + x];
        p = (p & 0xFFFFFF) | uint32_t(Coverage(x, y, s.w, s.h)) << 24;
      }
    SDL_SetSurfaceBlendMode(ssrc.surface, SDL_BLENDMODE_BLEND);
    Pair(
        state, "sdl2", ours, [&] { SDL_BlitSurface(ssrc.surface, nullptr, sdst.surface, nullptr); },
        [&] { return ApartFromSdl(dst, sdst, s.w, s.h); }, false);
  }
  FreeAlphaChannel(alpha);
}

// ================= scaling =================

template <int Percent, int Smooth>
void Scale(benchmark::State &state, PeerKind kind) {
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
  auto ours = [&] { ScalePixels(&req); };
  if (kind == kPixman) {
    PixmanPicture psrc(s.w, s.h), pdst(dw, dh);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(s.w) / dw), pixman_double_to_fixed(double(s.h) / dh));
    pixman_image_set_transform(psrc.image, &t);
    pixman_image_set_filter(psrc.image, Smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
    pixman_image_set_repeat(psrc.image, PIXMAN_REPEAT_PAD);
    Pair(
        state, "pixman", ours,
        [&] { pixman_image_composite32(PIXMAN_OP_SRC, psrc.image, nullptr, pdst.image, 0, 0, 0, 0, 0, 0, dw, dh); },
        [&] { return ApartFromPixman(dst, pdst, dw, dh); }, false,
        [&](bool smooth) {
          Refill(smooth, src.bitmap->pixels, s.w, s.h, src.bitmap->bytesPerRow / 4);
          Refill(smooth, psrc.px.data(), s.w, s.h, s.w);
        });
  } else {
    SdlPicture ssrc(s.w, s.h), sdst(dw, dh);
    SDL_SetSurfaceBlendMode(ssrc.surface, SDL_BLENDMODE_NONE);
    SDL_Rect to{0, 0, dw, dh};
    Pair(
        state, "sdl2", ours,
        [&] {
          if (Smooth) SDL_SoftStretchLinear(ssrc.surface, nullptr, sdst.surface, &to);
          else SDL_BlitScaled(ssrc.surface, nullptr, sdst.surface, &to);
        },
        [&] { return ApartFromSdl(dst, sdst, dw, dh); }, false,
        [&](bool smooth) {
          Refill(smooth, src.bitmap->pixels, s.w, s.h, src.bitmap->bytesPerRow / 4);
          Refill(smooth, static_cast<uint32_t *>(ssrc.surface->pixels), s.w, s.h, ssrc.surface->pitch / 4);
        });
  }
  FreeScaleBuffers(&buffers);
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
// half the bounding box at 30 degrees); pixman writes the whole box, transparent black outside.
// Both pictures start cleared, so they agree outside too.
template <int Smooth>
void Rotate(benchmark::State &state, PeerKind) {
  Size s = SizeOf(state);
  Rotation t = Rotate30(s.w, s.h);
  OurPicture src(s.w, s.h), dst(t.dw, t.dh);
  int pitch = dst.bitmap->bytesPerRow / 4;
  for (int y = 0; y < t.dh; y++) std::memset(dst.bitmap->pixels + size_t(y) * pitch, 0, size_t(t.dw) * 4);
  qmTransformRequest req{src.bitmap->pixels, nullptr, nullptr, dst.bitmap->pixels, nullptr, nullptr,
                         s.w, s.h, t.dw, t.dh, src.bitmap->bytesPerRow / 4, 0, 0, dst.bitmap->bytesPerRow / 4, 0, 0,
                         t.a, t.b, t.c, t.d, t.e, t.f, Smooth, 11, 4};
  PixmanPicture psrc(s.w, s.h), pdst(t.dw, t.dh);
  // pixman maps destination to source: the inverse of the forward matrix.
  pixman_f_transform_t fwd, inv;
  pixman_f_transform_init_identity(&fwd);
  fwd.m[0][0] = t.a, fwd.m[0][1] = t.c, fwd.m[0][2] = t.e;
  fwd.m[1][0] = t.b, fwd.m[1][1] = t.d, fwd.m[1][2] = t.f;
  pixman_f_transform_invert(&inv, &fwd);
  pixman_transform_t fixed;
  pixman_transform_from_pixman_f_transform(&fixed, &inv);
  pixman_image_set_transform(psrc.image, &fixed);
  pixman_image_set_filter(psrc.image, Smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
  Pair(
      state, "pixman", [&] { TransformPixels(&req); },
      [&] { pixman_image_composite32(PIXMAN_OP_SRC, psrc.image, nullptr, pdst.image, 0, 0, 0, 0, 0, 0, t.dw, t.dh); },
      [&] { return ApartFromPixman(dst, pdst, t.dw, t.dh); }, false,
      [&](bool smooth) {
        Refill(smooth, src.bitmap->pixels, s.w, s.h, src.bitmap->bytesPerRow / 4);
        Refill(smooth, psrc.px.data(), s.w, s.h, s.w);
      });
}

#define QM_GRAPHICS_PAIRS(name, fn)                                                                        \
  BENCHMARK_CAPTURE(fn, name##_pixman, kPixman)->Apply(Sizes)->UseManualTime()->Iterations(11);            \
  BENCHMARK_CAPTURE(fn, name##_sdl2, kSdl)->Apply(Sizes)->UseManualTime()->Iterations(11)
QM_GRAPHICS_PAIRS(Copy, Copy);
QM_GRAPHICS_PAIRS(MaskedCopy, MaskedCopy);
QM_GRAPHICS_PAIRS(AlphaBlend, AlphaBlend);
void ScaleNearestHalf(benchmark::State &state, PeerKind kind) { Scale<50, 0>(state, kind); }
void ScaleNearestDouble(benchmark::State &state, PeerKind kind) { Scale<200, 0>(state, kind); }
void ScaleSmoothHalf(benchmark::State &state, PeerKind kind) { Scale<50, 1>(state, kind); }
void ScaleSmoothDouble(benchmark::State &state, PeerKind kind) { Scale<200, 1>(state, kind); }
void Rotate30Nearest(benchmark::State &state, PeerKind kind) { Rotate<0>(state, kind); }
void Rotate30Smooth(benchmark::State &state, PeerKind kind) { Rotate<1>(state, kind); }
QM_GRAPHICS_PAIRS(ScaleNearestHalf, ScaleNearestHalf);
QM_GRAPHICS_PAIRS(ScaleNearestDouble, ScaleNearestDouble);
QM_GRAPHICS_PAIRS(ScaleSmoothHalf, ScaleSmoothHalf);
QM_GRAPHICS_PAIRS(ScaleSmoothDouble, ScaleSmoothDouble);
BENCHMARK_CAPTURE(Rotate30Nearest, pixman, kPixman)->Apply(Sizes)->UseManualTime()->Iterations(11);
BENCHMARK_CAPTURE(Rotate30Smooth, pixman, kPixman)->Apply(Sizes)->UseManualTime()->Iterations(11);

} // namespace
