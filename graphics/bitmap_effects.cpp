#include "graphics/bitmap_effects.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/color_kernels.h"
#include "graphics/distort.h"
#include "graphics/effect_kernels.h"
#include "graphics/quantize.h"
#include "graphics/alphaops.h"
#include "graphics/warp_kernels.h"
#include "runtime/errcodes.h"

namespace {

// Locks the bitmap unless the caller gave a locked view, and unlocks on the way out.
class Locked {
public:
  Locked(const qmBitmap *bitmap, const qmBitmapView *given) : given_(given) {
    if (given) view_ = *given, ok_ = true;
    else ok_ = LockBitmap(bitmap, &view_) != 0;
  }
  ~Locked() {
    if (ok_ && !given_) UnlockBitmap();
  }
  bool ok() const { return ok_; }
  // Usable for the kernels: locked and 32-bit.
  bool wide() const { return ok_ && view_.bytesPerPixel == 4; }
  const qmBitmapView &view() const { return view_; }
  int32_t Width(int32_t w) const { return std::min(w, view_.width); }
  int32_t Height(int32_t h) const { return std::min(h, view_.height); }

private:
  const qmBitmapView *given_;
  qmBitmapView view_{};
  bool ok_ = false;
};

void Stretch(const qmBitmapView &v, int32_t w, int32_t h) {
  const double n = double(w) * h;
  qmLevelStretchRequest req{v.base, w, h, v.pitch, 0.02 * n, 0.99 * n, v.pixelFormat, 4};
  LevelStretchPixels(&req);
}

} // namespace

uint32_t ConvolveBitmap(int32_t operation, qmBitmap *bitmap, qmAlphaChannel *alpha, int32_t width, int32_t height,
                        double radius, double sigma, const qmBitmapView *view, const qmCancel &cancel) {
  if (!(radius > 0)) radius = 0;
  if (radius == 0) sigma = 1.0;
  if (!bitmap) {
    if (operation != CONVOLVE_BLUR || !alpha) return 0;
    qmConvolveRequest req{nullptr, width, height, 0, QM_BITMAP_FORMAT, 4, alpha->memory, alpha->bytesPerRow, radius, sigma, operation, cancel};
    return uint32_t(ConvolvePixels(&req));
  }
  Locked l(bitmap, view);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  qmConvolveRequest req{v.base, l.Width(width), l.Height(height), v.pitch, v.pixelFormat, 4,
                        alpha ? alpha->memory : nullptr, alpha ? alpha->bytesPerRow : 0, radius, sigma, operation, cancel};
  return uint32_t(ConvolvePixels(&req));
}

uint32_t SolarizeBitmap(qmBitmap *bitmap, int32_t width, int32_t height, int32_t threshold) {
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (l.wide())
    SolarizePixels(l.view().base, l.Width(width), l.Height(height), l.view().pitch, l.view().pixelFormat, std::clamp(threshold, 0, 255));
  return 0;
}

uint32_t ContrastBitmap(qmBitmap *bitmap, int32_t width, int32_t height, int32_t sharpen, int32_t repeat,
                        const qmBitmapView *view) {
  Locked l(bitmap, view);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  if (repeat > 0)
    ContrastPixelsRepeated(l.view().base, l.Width(width), l.Height(height), l.view().pitch, l.view().pixelFormat,
                           sharpen ? 1 : -1, repeat);
  return 0;
}

uint32_t ModulateBitmap(qmBitmap *bitmap, int32_t width, int32_t height, double brightness, double saturation,
                        double hue) {
  // A round trip through HSL with truncation is not exact, so "no change" must not run it.
  if (brightness == 1.0 && saturation == 1.0 && hue == 1.0) return 0;
  if (!std::isfinite(brightness) || !std::isfinite(saturation) || !std::isfinite(hue)) return ERR_WRONGUSAGE;
  brightness = std::clamp(brightness, 0.0, 1e7), saturation = std::clamp(saturation, 0.0, 1e7);
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  qmModulateRequest req{v.base, l.Width(width), l.Height(height), v.pitch, v.pixelFormat, std::trunc(brightness * 100),
                        std::trunc(saturation * 100), hue};
  ModulatePixels(&req);
  return 0;
}

uint32_t SepiaToneBitmap(qmBitmap *bitmap, int32_t width, int32_t height, int32_t threshold) {
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  const int32_t w = l.Width(width), h = l.Height(height);
  SepiaPixels(v.base, w, h, v.pitch, v.pixelFormat, std::clamp(threshold, 0, 255));
  Stretch(v, w, h);
  ContrastPixels(v.base, w, h, v.pitch, v.pixelFormat, 1);
  return 0;
}

uint32_t GammaBitmap(qmBitmap *bitmap, int32_t width, int32_t height, double red, double green, double blue) {
  const double gammas[3] = {red, green, blue};
  uint8_t tables[3][256];
  int32_t flags = 0;
  for (int c = 0; c < 3; c++) {
    const double g = gammas[c] > 0 ? gammas[c] : 0; // not a number counts as 0 too
    if (g == 1.0) continue;
    flags |= 1 << c;
    for (int i = 0; i < 256; i++) {
      const double v = g == 0 ? 0 : 255 * std::pow(i / 255.0, 1 / g) + 0.5;
      tables[c][i] = uint8_t(v >= 255 ? 255 : v);
    }
  }
  if (!flags) return 0;
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  qmGammaRequest req{v.base, l.Width(width), l.Height(height), v.pitch, v.pixelFormat, tables[0], tables[1], tables[2], flags};
  GammaPixels(&req);
  return 0;
}

uint32_t CharcoalBitmap(qmBitmap *bitmap, qmAlphaChannel *alpha, int32_t width, int32_t height, double radius,
                        double sigma, const qmCancel &cancel) {
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  const int32_t w = l.Width(width), h = l.Height(height);
  if (uint32_t code = PollCancel(cancel)) return code;  // before the grey changes anything
  GrayPixels(v.base, w, h, v.pixelFormat, v.pitch, 0);
  if (uint32_t err = ConvolveBitmap(CONVOLVE_EDGE, bitmap, nullptr, w, h, radius, sigma, &v, cancel)) return err;
  if (uint32_t err = ConvolveBitmap(CONVOLVE_BLUR, bitmap, alpha, w, h, radius, sigma, &v, cancel)) return err;
  Stretch(v, w, h);
  InvertPixels(v.base, w, h, v.pitch);
  GrayPixels(v.base, w, h, v.pixelFormat, v.pitch, 0);
  return 0;
}

uint32_t OilPaintBitmap(qmBitmap *bitmap, int32_t width, int32_t height, double radius, const qmCancel &cancel) {
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  qmOilPaintRequest req{v.base, l.Width(width), l.Height(height), v.pitch, v.pixelFormat, radius, cancel};
  return uint32_t(OilPaintPixels(&req));
}

uint32_t SwirlBitmap(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width, int32_t height, int32_t degrees) {
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  std::vector<double> sine(QM_WARP_TABLE_SIZE), cosine(QM_WARP_TABLE_SIZE);
  qmSwirlRequest req{};
  req.dst = v.base, req.dstPitch = v.pitch;
  req.sine = sine.data(), req.cosine = cosine.data();
  req.width = l.Width(width), req.height = l.Height(height);
  if (alpha) req.alpha = alpha->memory, req.alphaBytesPerRow = alpha->bytesPerRow;
  if (mask) req.mask = mask->memory, req.maskBytesPerRow = mask->bytesPerRow;
  PrepareSwirl(&req);
  return uint32_t(SwirlPixels(&req, std::clamp(degrees, -359, 359)));
}

uint32_t PixelateBitmap(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width, int32_t height,
                        int32_t blockSize) {
  if (blockSize <= 1) return 0;
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  uint8_t *m = mask ? mask->memory : nullptr, *a = alpha ? alpha->memory : nullptr;
  const int32_t mr = mask ? mask->bytesPerRow : 0, ar = alpha ? alpha->bytesPerRow : 0;
  qmPixelateRequest req{v.base, v.base, m, m, a, a, v.pitch, v.pitch, mr, mr, ar, ar, l.Width(width), l.Height(height), blockSize};
  PixelatePixels(&req);
  return 0;
}

// The amplitude goes to the kernel as it stands and the further word as the phase level it
// keeps (a call with level -1), so the waves show at full strength in one pass; the wave count
// is also the wavelength in pixels.
uint32_t WaterRippleBitmap(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width, int32_t height,
                           int32_t waves, int32_t amplitude, int32_t level, double centerX, double centerY) {
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  const int32_t w = l.Width(width), h = l.Height(height);
  if (w < 1 || h < 1) return 0;
  auto fraction = [](double f) { return f >= 0 ? std::min(f, 1.0) : 0.0; }; // not a number: 0
  try {
    std::vector<double> sine(QM_WARP_TABLE_SIZE);
    std::vector<int32_t> distance(size_t(w) * size_t(h));
    qmRippleRequest req{};
    req.dst = v.base, req.dstPitch = v.pitch;
    req.waves = std::max(waves, 1);
    req.wavelength = req.waves;
    req.amplitude = amplitude;
    req.storedLevel = level;
    req.sine = sine.data(), req.distance = distance.data();
    req.centerX = int32_t(fraction(centerX) * w), req.centerY = int32_t(fraction(centerY) * h);
    req.maxDistance = std::max(req.centerX, req.centerY);
    req.width = w, req.height = h;
    if (alpha) req.alpha = alpha->memory, req.alphaBytesPerRow = alpha->bytesPerRow;
    if (mask) req.mask = mask->memory, req.maskBytesPerRow = mask->bytesPerRow;
    PrepareRipple(&req);
    return uint32_t(RipplePixels(&req, -1));
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
}

uint32_t BitmapToGray(qmBitmap *bitmap, int32_t width, int32_t height, int32_t threshold, const qmBitmapView *view) {
  Locked l(bitmap, view);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (l.wide()) GrayPixels(l.view().base, l.Width(width), l.Height(height), l.view().pixelFormat, l.view().pitch, threshold);
  return 0;
}

uint32_t MonochromeBitmap(qmBitmap *bitmap, int32_t width, int32_t height, int32_t dither) {
  if (!dither) return BitmapToGray(bitmap, width, height, 1, nullptr);
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  const int32_t w = l.Width(width), h = l.Height(height);
  if (w < 1 || h < 1) return 0;
  std::vector<uint8_t> indices;
  try {
    indices.resize(size_t(w) * h);
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
  uint32_t palette[256] = {};
  int32_t count = 2;
  qmQuantizeRequest q = {v.base, v.pixelFormat, 4, w, h, v.pitch, indices.data(), palette, &count, 0xFFFFFFFFu, 0, 1, 0};
  QuantizePalette(&q);
  if (!q.result) return ERR_MEM;
  // The palette's order is the quantizer's: the brighter entry is the one that becomes white.
  const bool swap = count == 2 && PixelIntensity(palette[0]) > PixelIntensity(palette[1]);
  const bool single = count < 2 && PixelIntensity(palette[0]) > 128;
  for (uint8_t &i : indices) i = single ? 1 : uint8_t(swap ? i == 0 : i != 0);
  IndexToMonochromePixels(v.base, w, h, v.pixelFormat, v.pitch, indices.data());
  return 0;
}

uint32_t TintBitmap(qmBitmap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rgb, int32_t level) {
  Locked l(bitmap, nullptr);
  if (!l.ok()) return ERR_LOCKBMAP;
  if (!l.wide()) return 0;
  const qmBitmapView &v = l.view();
  // The rectangle is kept inside the picture: the kernel does not clip.
  const int32_t x0 = std::clamp(x, 0, v.width), y0 = std::clamp(y, 0, v.height);
  const int32_t x1 = int32_t(std::clamp<int64_t>(int64_t(x) + width, x0, v.width));
  const int32_t y1 = int32_t(std::clamp<int64_t>(int64_t(y) + height, y0, v.height));
  qmTintRequest req{v.base, x0, y0, x1 - x0, y1 - y0, rgb & 0xFFFFFF, std::clamp(level, 0, 255), v.pitch, v.pixelFormat};
  TintPixels(&req);
  return 0;
}

uint32_t MixBitmap(qmBitmap *dst, const qmBitmap *src, const qmMask *mask, int32_t srcX, int32_t srcY, int32_t dstX,
                   int32_t dstY, int32_t width, int32_t height, int32_t level, const qmAlphaChannel *alpha) {
  level = std::clamp(level, 0, 255);
  if (alpha) {
    qmAlphaChannel *scaled = AllocAlphaChannel(AlphaPlaneWidth(alpha), PlaneHeight(alpha), 0);
    if (!scaled) return ERR_MEM;
    ScaleAlphaChannel(alpha, scaled, PlaneHeight(alpha), level);
    BltAlphaBitmap(src, srcX, srcY, dst, dstX, dstY, width, height, scaled);
    FreeAlphaChannel(scaled);
    return 0;
  }
  qmBitmapView s;
  if (!LockBitmap(src, &s)) return ERR_LOCKBMAP;
  Locked d(dst, nullptr);
  if (d.ok()) {
    const qmBitmapView &v = d.view();
    width = std::min({width, s.width - srcX, v.width - dstX});
    height = std::min({height, s.height - srcY, v.height - dstY});
    // Both sides must share the pixel format: the kernel converts through one.
    if (d.wide() && s.bytesPerPixel == 4 && s.pixelFormat == v.pixelFormat && width > 0 && height > 0 && srcX >= 0 &&
        srcY >= 0 && dstX >= 0 && dstY >= 0) {
      const uint8_t *m = mask ? mask->memory + size_t(srcY) * mask->bytesPerRow : nullptr;
      qmMixRequest req{s.base + size_t(srcY) * s.pitch + srcX, v.base + size_t(dstY) * v.pitch + dstX, m, srcX,
                       width, height, level, v.pixelFormat, s.pitch, v.pitch, mask ? mask->bytesPerRow : 0, nullptr, 0};
      MixPixels(&req);
    }
  }
  UnlockBitmap();
  return d.ok() ? 0u : uint32_t(ERR_LOCKBMAP);
}

qmAlphaChannel *CreateShadowAlpha(const qmAlphaChannel *alpha, const qmMask *mask, int32_t x, int32_t y, int32_t width,
                                  int32_t height, double radius, double sigma, int32_t value, int32_t hard,
                                  int32_t secondBlur) {
  if (!(radius > 0)) radius = 0;
  if (radius > QM_MAX_PICTURE_SIDE) return nullptr;
  const int32_t r = int32_t(radius);
  const int64_t w = int64_t(width) + 2 * r, h = int64_t(height) + 2 * r;
  if (width < 1 || height < 1 || w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return nullptr;
  qmAlphaChannel *a = AllocAlphaChannel(int32_t(w), int32_t(h), 1);
  if (!a) return nullptr;
  const uint8_t v = uint8_t(std::clamp(value, 0, 255));
  if (alpha) CombineAlphaRect(alpha, x, y, a, r, r, width, height, 6, v);
  else if (mask) MaskToAlphaRect(mask, x, y, a, r, r, width, height, v);
  else FillAlphaRect(a, r, r, width, height, v);
  uint32_t code = ConvolveBitmap(CONVOLVE_BLUR, nullptr, a, int32_t(w), int32_t(h), radius, sigma, nullptr);
  if (!code && hard)
    for (int64_t row = 0; row < h; row++) {
      uint8_t *p = a->memory + row * a->bytesPerRow;
      for (int64_t col = 0; col < w; col++) p[col] = p[col] ? 255 : 0;
    }
  if (!code && alpha && secondBlur)
    code = ConvolveBitmap(CONVOLVE_BLUR, nullptr, a, int32_t(w), int32_t(h), radius / 2, radius / 6, nullptr);
  if (code) {
    FreeAlphaChannel(a);
    return nullptr;
  }
  return a;
}

uint32_t DistortBitmap(const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t width,
                       int32_t height, int32_t method, int32_t paramCount, const double *params, int32_t smooth,
                       qmDistortOutputs *out) {
  *out = qmDistortOutputs{};
  qmBitmapView v;
  if (!LockBitmap(bitmap, &v)) return ERR_LOCKBMAP;
  struct Unlock {
    ~Unlock() { UnlockBitmap(); }
  } unlock;
  if (v.bytesPerPixel != 4) return ERR_WRONGUSAGE;
  qmDistortRequest req{};
  req.method = method;
  req.paramCount = std::clamp(paramCount, 0, 17); // more than 16 is refused by the preparation
  for (int32_t k = 0; k < std::min(paramCount, 16); k++) req.params[k] = params[k];
  req.src = {v.base, std::min(width, v.width), std::min(height, v.height), v.pitch, mask ? mask->memory : nullptr,
             mask ? mask->bytesPerRow : 0, alpha ? alpha->memory : nullptr, alpha ? alpha->bytesPerRow : 0};
  req.smooth = smooth;
  if (int32_t err = PrepareDistortion(&req)) return uint32_t(err);
  // Only now, with the size known to be within the limits, is anything allocated.
  const int32_t rw = req.resultWidth, rh = req.resultHeight;
  qmBitmap *b = AllocBitmap(rw, rh);
  qmMask *m = DistortResultHasMask(req.src, smooth) ? AllocMask(rw, rh, 1) : nullptr;
  qmAlphaChannel *a = DistortResultHasAlpha(req.src, smooth) ? AllocAlphaChannel(rw, rh, 1) : nullptr;
  if (!b || (DistortResultHasMask(req.src, smooth) && !m) || (DistortResultHasAlpha(req.src, smooth) && !a)) {
    if (b) FreeBitmap(b);
    if (m) FreeMask(m);
    if (a) FreeAlphaChannel(a);
    return ERR_MEM;
  }
  req.dst = {b->pixels, rw, rh, b->bytesPerRow / 4, m ? m->memory : nullptr, m ? m->bytesPerRow : 0,
             a ? a->memory : nullptr, a ? a->bytesPerRow : 0};
  RenderDistortion(&req);
  *out = {b, m, a, rw, rh};
  return 0;
}
