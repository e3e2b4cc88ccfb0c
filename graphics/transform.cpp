#include "graphics/transform.h"

#include <algorithm>
#include <cmath>

#include "graphics/alpha_kernels.h"
#include "graphics/blend_kernels.h"
#include "graphics/cpu.h"
#include "graphics/pixelformat.h"
#include "runtime/errcodes.h"

#ifdef QM_HAVE_AVX2
void TransformRowAvx2(const qmTransformRequest *req, const double *inv, int32_t y, int32_t x0, int32_t x1);
#endif

namespace {

constexpr double kEps = 1e-10;

struct Inverse {
  double ia, ib, ic, id; // sx = ia (x - e) + ic (y - f); sy = ib (x - e) + id (y - f)
};

bool Invert(const qmTransformRequest *req, Inverse *inv) {
  double det = req->a * req->d - req->c * req->b;
  if (det == 0.0 || !std::isfinite(det)) return false;
  inv->ia = req->d / det;
  inv->ic = -req->c / det;
  inv->ib = -req->b / det;
  inv->id = req->a / det;
  return std::isfinite(inv->ia) && std::isfinite(inv->ib) && std::isfinite(inv->ic) && std::isfinite(inv->id) &&
         std::isfinite(req->e) && std::isfinite(req->f);
}

// Clamps a double to [lo, hi] before it becomes an integer.
int32_t ClampToInt(double v, int32_t lo, int32_t hi) {
  if (!(v >= lo)) return lo; // also NaN
  if (v > hi) return hi;
  return int32_t(v);
}

// Columns [first, last) whose centres map inside [0, limit) along one source axis.
void AxisSpan(double k, double r, double limit, int32_t boxFirst, int32_t boxEnd, int32_t *first, int32_t *last) {
  if (k > kEps) {
    *first = ClampToInt(std::ceil(-r / k + kEps - 0.5), boxFirst, boxEnd);
    *last = ClampToInt(std::ceil((limit - r) / k - kEps - 0.5), boxFirst, boxEnd);
  } else if (k < -kEps) {
    *first = ClampToInt(std::ceil((limit - r) / k + kEps - 0.5), boxFirst, boxEnd);
    *last = ClampToInt(std::ceil(-r / k - kEps - 0.5), boxFirst, boxEnd);
  } else if (r >= 0 && r < limit) {
    *first = boxFirst;
    *last = boxEnd;
  } else {
    *first = *last = boxFirst;
  }
}

struct Box {
  int32_t x0, x1; // columns [x0, x1)
  int32_t y0, y1; // rows [y0, y1)
};

Box BoundingBox(const qmTransformRequest *req) {
  const double w = req->srcWidth, h = req->srcHeight;
  const double xs[4] = {0, w, 0, w}, ys[4] = {0, 0, h, h};
  double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
  for (int i = 0; i < 4; i++) {
    double x = req->a * xs[i] + req->c * ys[i] + req->e;
    double y = req->b * xs[i] + req->d * ys[i] + req->f;
    minX = std::min(minX, x), maxX = std::max(maxX, x);
    minY = std::min(minY, y), maxY = std::max(maxY, y);
  }
  Box box;
  box.y0 = minY < 0 ? 0 : ClampToInt(std::ceil(minY - 0.5), 0, req->dstHeight);
  box.y1 = ClampToInt(std::floor(maxY + 0.5) + 1, 0, req->dstHeight);
  box.x0 = minX < 0 ? 0 : ClampToInt(std::ceil(minX - 0.5), 0, req->dstWidth);
  box.x1 = ClampToInt(std::floor(maxX + 0.5) + 1, 0, req->dstWidth);
  return box;
}

inline uint32_t ChannelMix(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, double fx, double fy, int shift) {
  double c00 = (p00 >> shift) & 0xFF, c10 = (p10 >> shift) & 0xFF;
  double c01 = (p01 >> shift) & 0xFF, c11 = (p11 >> shift) & 0xFF;
  double v = (c00 * (1 - fx) + c10 * fx) * (1 - fy) + (c01 * (1 - fx) + c11 * fx) * fy + 0.5;
  return uint32_t(v) & 0xFF;
}

inline double Mix(double c00, double c10, double c01, double c11, double fx, double fy) {
  return (c00 * (1 - fx) + c10 * fx) * (1 - fy) + (c01 * (1 - fx) + c11 * fx) * fy + 0.5;
}

// One destination pixel, computed alone. `pixels` is false when the pixels are not 32-bit.
void TransformOne(const qmTransformRequest *req, const Inverse &inv, int32_t x, int32_t y, bool pixels,
                  bool doPlanesOnly) {
  // The pixel's centre maps to (cx, cy) in the source. Sampling at the centre (not the corner)
  // keeps quarter turns and mirrors exact permutations of the source pixels.
  const double cx = inv.ia * (x + 0.5 - req->e) + inv.ic * (y + 0.5 - req->f);
  const double cy = inv.ib * (x + 0.5 - req->e) + inv.id * (y + 0.5 - req->f);
  const int32_t w = req->srcWidth, h = req->srcHeight;
  uint8_t *dmask = req->dstMask ? req->dstMask + int64_t(y) * req->dstMaskBytesPerRow : nullptr;
  if (!req->smooth) {
    // The source pixel under the centre; clamped, since spans are found with a small tolerance.
    const int32_t tx = ClampToInt(std::floor(cx), 0, w - 1), ty = ClampToInt(std::floor(cy), 0, h - 1);
    if (pixels && !doPlanesOnly)
      req->dstPixels[int64_t(y) * req->dstPitch + x] = req->srcPixels[int64_t(ty) * req->srcPitch + tx];
    if (req->srcAlpha && req->dstAlpha)
      req->dstAlpha[int64_t(y) * req->dstAlphaBytesPerRow + x] = req->srcAlpha[int64_t(ty) * req->srcAlphaBytesPerRow + tx];
    if (dmask) SetMaskBit(dmask, x, req->srcMask ? GetMaskBit(req->srcMask + int64_t(ty) * req->srcMaskBytesPerRow, tx) : true);
    return;
  }
  // Bilinear between the four pixel centres around the mapped point; edges repeat the border pixels.
  const double sx = cx - 0.5, sy = cy - 0.5;
  const double flx = std::floor(sx), fly = std::floor(sy);
  const int32_t xs[2] = {ClampToInt(flx, 0, w - 1), ClampToInt(flx + 1, 0, w - 1)};
  const int32_t ys[2] = {ClampToInt(fly, 0, h - 1), ClampToInt(fly + 1, 0, h - 1)};
  const double fx = sx - flx, fy = sy - fly;
  uint32_t p[4] = {0, 0, 0, 0}; // 00, 10, 01, 11
  if (pixels)
    for (int k = 0; k < 4; k++) p[k] = req->srcPixels[int64_t(ys[k >> 1]) * req->srcPitch + xs[k & 1]];
  if (req->srcMask && !req->srcAlpha) {
    // Invisible neighbours take the colour of the first visible one.
    bool vis[4];
    int first = -1;
    for (int k = 0; k < 4; k++) {
      vis[k] = GetMaskBit(req->srcMask + int64_t(ys[k >> 1]) * req->srcMaskBytesPerRow, xs[k & 1]);
      if (vis[k] && first < 0) first = k;
    }
    if (first < 0) {
      if (dmask) SetMaskBit(dmask, x, false);
      return;
    }
    for (int k = 0; k < 4; k++)
      if (!vis[k]) p[k] = p[first];
  }
  if (pixels && !doPlanesOnly) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) out |= ChannelMix(p[0], p[1], p[2], p[3], fx, fy, shift) << shift;
    req->dstPixels[int64_t(y) * req->dstPitch + x] = out & ~FourthByteMask(req->format);
  }
  if (req->srcAlpha && req->dstAlpha) {
    double a[4];
    for (int k = 0; k < 4; k++) a[k] = req->srcAlpha[int64_t(ys[k >> 1]) * req->srcAlphaBytesPerRow + xs[k & 1]];
    req->dstAlpha[int64_t(y) * req->dstAlphaBytesPerRow + x] = uint8_t(uint32_t(Mix(a[0], a[1], a[2], a[3], fx, fy)));
  }
  if (dmask) SetMaskBit(dmask, x, true);
}

int32_t Transform(const qmTransformRequest *req, bool vector, const qmTransformTarget *onto) {
  if (req->srcWidth < 1 || req->srcHeight < 1 || req->dstWidth < 1 || req->dstHeight < 1) return 0;
  Inverse inv;
  if (!Invert(req, &inv)) return ERR_BADDIMENSIONS;
  Box box = BoundingBox(req);
  if (onto) {
    box.x0 = std::max(box.x0, onto->x0), box.x1 = std::min(box.x1, onto->x1);
    box.y0 = std::max(box.y0, onto->y0), box.y1 = std::min(box.y1, onto->y1);
  }
  const bool pixels = req->bytesPerPixel == 4 && req->srcPixels && req->dstPixels;
#ifdef QM_HAVE_AVX2
  // The vector path does the pixels of unmasked sources, and without smoothing the planes too;
  // smoothed planes go one by one.
  const bool vectorPixels = vector && pixels && CpuHasAvx2() && !(req->smooth && req->srcMask && !req->srcAlpha);
  const bool planes = req->smooth && (req->dstMask || (req->srcAlpha && req->dstAlpha));
  const double invArr[6] = {inv.ia, inv.ib, inv.ic, inv.id, req->e, req->f};
#else
  (void)vector;
#endif
  for (int32_t y = box.y0; y < box.y1; y++) {
    // Centre of pixel (x, y) is (x + 0.5, y + 0.5); r is the mapped value at x = 0.
    const double rx = inv.ia * (0 - req->e) + inv.ic * (y + 0.5 - req->f);
    const double ry = inv.ib * (0 - req->e) + inv.id * (y + 0.5 - req->f);
    int32_t ax0, ax1, bx0, bx1;
    AxisSpan(inv.ia, rx, req->srcWidth, box.x0, box.x1, &ax0, &ax1);
    AxisSpan(inv.ib, ry, req->srcHeight, box.x0, box.x1, &bx0, &bx1);
    const int32_t x0 = std::max(ax0, bx0), x1 = std::min(ax1, bx1);
    if (x0 >= x1) continue;
    // An opaque source covers its span whole.
    if (onto && !req->srcAlpha) std::fill(req->dstAlpha + x0, req->dstAlpha + x1, uint8_t(255));
#ifdef QM_HAVE_AVX2
    if (vectorPixels) {
      TransformRowAvx2(req, invArr, y, x0, x1);
      if (planes)
        for (int32_t x = x0; x < x1; x++) TransformOne(req, inv, x, y, pixels, true);
    } else
#endif
    {
      for (int32_t x = x0; x < x1; x++) TransformOne(req, inv, x, y, pixels, false);
    }
    if (onto) {
      const qmBlendRequest blend{req->dstPixels, x0, 0, onto->pixels, x0 + onto->dx, y + onto->dy, x1 - x0, 1, 0,
                                 onto->pitch, req->dstAlpha, x0, 0, 0, onto->format};
      BlendAlphaPixels(&blend);
    }
  }
  return 0;
}

} // namespace

int32_t TransformPixels(const qmTransformRequest *req) { return Transform(req, true, nullptr); }
int32_t TransformPixelsScalar(const qmTransformRequest *req) { return Transform(req, false, nullptr); }
int32_t TransformBlendPixels(const qmTransformRequest *req, const qmTransformTarget *target) {
  // Planes and pixels of other sizes take the whole result.
  if (req->srcMask || req->dstMask || !req->dstAlpha || req->bytesPerPixel != 4 || !req->srcPixels || !req->dstPixels)
    return ERR_WRONGUSAGE;
  return Transform(req, true, target);
}
