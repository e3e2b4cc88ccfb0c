#include "graphics/transform.h"

#include <algorithm>
#include <cmath>

#include "graphics/alpha_kernels.h"
#include "graphics/blend_kernels.h"
#include "graphics/cpu.h"
#include "graphics/pixelformat.h"
#include "runtime/errcodes.h"

#ifdef QM_HAVE_AVX2
int32_t TransformRowAvx2(const qmTransformRequest *req, double ia, double ib, double ic, double id, int32_t y, int32_t x0,
                         int32_t x1, const qmTransformRowOut *out);
#endif

namespace {

constexpr double kEps = 1e-10;
// Columns of a tile of a band drawn as whole source rows and columns (quarter turns).
constexpr int32_t kTransformTileColumns = 64;

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

// Where the centre of pixel (x, y) maps in the source. Sampling at the centre (not the corner)
// keeps quarter turns and mirrors exact permutations of the source pixels.
inline void MapCentre(const qmTransformRequest *req, const Inverse &inv, int32_t x, int32_t y, double *cx, double *cy) {
  *cx = inv.ia * (x + 0.5 - req->e) + inv.ic * (y + 0.5 - req->f);
  *cy = inv.ib * (x + 0.5 - req->e) + inv.id * (y + 0.5 - req->f);
}

// Where pixel (x, y) itself maps in the source: smooth sampling weighs the four pixels around
// that point, so a scaled picture keeps its first row and column exactly and steps evenly from
// there.
inline void MapCorner(const qmTransformRequest *req, const Inverse &inv, int32_t x, int32_t y, double *sx, double *sy) {
  *sx = inv.ia * (x - req->e) + inv.ic * (y - req->f);
  *sy = inv.ib * (x - req->e) + inv.id * (y - req->f);
}

// The source pixel under a mapped centre; clamped, since spans are found with a small tolerance.
inline void NearestSource(const qmTransformRequest *req, double cx, double cy, int32_t *tx, int32_t *ty) {
  *tx = ClampToInt(std::floor(cx), 0, req->srcWidth - 1);
  *ty = ClampToInt(std::floor(cy), 0, req->srcHeight - 1);
}

// One destination pixel, computed alone into the row `out`. `pixels` is false when the pixels
// are not 32-bit.
void TransformOne(const qmTransformRequest *req, const Inverse &inv, int32_t x, int32_t y, bool pixels,
                  bool doPlanesOnly, const qmTransformRowOut &out) {
  const int32_t w = req->srcWidth, h = req->srcHeight;
  uint8_t *dmask = out.mask;
  if (!req->smooth) {
    double cx, cy;
    MapCentre(req, inv, x, y, &cx, &cy);
    int32_t tx, ty;
    NearestSource(req, cx, cy, &tx, &ty);
    if (pixels && !doPlanesOnly) out.pixels[x] = req->srcPixels[int64_t(ty) * req->srcPitch + tx];
    if (req->srcAlpha && out.alpha) out.alpha[x] = req->srcAlpha[int64_t(ty) * req->srcAlphaBytesPerRow + tx];
    if (dmask) SetMaskBit(dmask, x, req->srcMask ? GetMaskBit(req->srcMask + int64_t(ty) * req->srcMaskBytesPerRow, tx) : true);
    return;
  }
  // Bilinear between the four pixels around the mapped point; a neighbour past the edge (or a
  // point mapped a rounding step outside) repeats the border pixel, nothing outside is read.
  double sx, sy;
  MapCorner(req, inv, x, y, &sx, &sy);
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
    uint32_t mixed = 0;
    for (int shift = 0; shift < 32; shift += 8) mixed |= ChannelMix(p[0], p[1], p[2], p[3], fx, fy, shift) << shift;
    out.pixels[x] = mixed & ~FourthByteMask(req->format);
  }
  if (req->srcAlpha && out.alpha) {
    double a[4];
    for (int k = 0; k < 4; k++) a[k] = req->srcAlpha[int64_t(ys[k >> 1]) * req->srcAlphaBytesPerRow + xs[k & 1]];
    out.alpha[x] = uint8_t(uint32_t(Mix(a[0], a[1], a[2], a[3], fx, fy)));
  }
  if (dmask) SetMaskBit(dmask, x, true);
}

// The nearest samples of rows [y0, y0 + rows) and columns [c0, c1) when each row of the tile
// takes one source column and each column one source row, as in a quarter turn: the tile is
// then a block of the source turned, copied without a sum per pixel. Checked at the tile's
// edges: with the other coordinate fixed, a mapped centre moves monotonically (each rounded
// step is), so equal samples at both ends of a row or column hold between them. False, with
// nothing drawn, for a tile that is not so or whose rows are not all drawn over the same columns.
bool CopyTurnedTile(const qmTransformRequest *req, const Inverse &inv, int32_t y0, int32_t rows, const int32_t *x0s,
                    const int32_t *x1s, int32_t c0, int32_t c1, const qmTransformRowOut *outs) {
  const int32_t a = std::max(x0s[0], c0), b = std::min(x1s[0], c1);
  for (int32_t i = 1; i < rows; i++)
    if (std::max(x0s[i], c0) != a || std::min(x1s[i], c1) != b) return false;
  if (a >= b) return true;
  int32_t column[kTransformBandRows];
  int64_t pixelRow[kTransformTileColumns], alphaRow[kTransformTileColumns];
  double cx, cy;
  int32_t first, last, unused;
  for (int32_t i = 0; i < rows; i++) {
    MapCentre(req, inv, a, y0 + i, &cx, &cy);
    NearestSource(req, cx, cy, &first, &unused);
    MapCentre(req, inv, b - 1, y0 + i, &cx, &cy);
    NearestSource(req, cx, cy, &last, &unused);
    if (first != last) return false;
    column[i] = first;
  }
  for (int32_t x = a; x < b; x++) {
    MapCentre(req, inv, x, y0, &cx, &cy);
    NearestSource(req, cx, cy, &unused, &first);
    if (rows > 1) {
      MapCentre(req, inv, x, y0 + rows - 1, &cx, &cy);
      NearestSource(req, cx, cy, &unused, &last);
      if (first != last) return false;
    }
    pixelRow[x - a] = int64_t(first) * req->srcPitch;
    alphaRow[x - a] = int64_t(first) * req->srcAlphaBytesPerRow;
  }
  const int32_t n = b - a;
  for (int32_t i = 0; i < rows; i++) {
    const uint32_t *src = req->srcPixels + column[i];
    uint32_t *dst = outs[i].pixels + a;
    for (int32_t k = 0; k < n; k++) dst[k] = src[pixelRow[k]];
    if (!req->srcAlpha || !outs[i].alpha) continue;
    const uint8_t *srcAlpha = req->srcAlpha + column[i];
    uint8_t *dstAlpha = outs[i].alpha + a;
    for (int32_t k = 0; k < n; k++) dstAlpha[k] = srcAlpha[alphaRow[k]];
  }
  return true;
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
  // The vector row does the pixels of unmasked sources, and without smoothing the planes too;
  // smoothed planes go one by one.
  const bool vectorPixels = vector && pixels && !(req->smooth && req->srcMask && !req->srcAlpha);
  const bool planes = req->smooth && (req->dstMask || (req->srcAlpha && req->dstAlpha));
  // Columns [x0, x1) of row y whose centres map inside the source; x0 >= x1 when none do.
  auto span = [&](int32_t y, int32_t *x0, int32_t *x1) {
    // Centre of pixel (x, y) is (x + 0.5, y + 0.5); r is the mapped value at x = 0.
    const double rx = inv.ia * (0 - req->e) + inv.ic * (y + 0.5 - req->f);
    const double ry = inv.ib * (0 - req->e) + inv.id * (y + 0.5 - req->f);
    int32_t ax0, ax1, bx0, bx1;
    AxisSpan(inv.ia, rx, req->srcWidth, box.x0, box.x1, &ax0, &ax1);
    AxisSpan(inv.ib, ry, req->srcHeight, box.x0, box.x1, &bx0, &bx1);
    *x0 = std::max(ax0, bx0), *x1 = std::min(ax1, bx1);
  };
  auto draw = [&](int32_t y, int32_t x0, int32_t x1, const qmTransformRowOut &out) {
    const int32_t done = x0 + QM_AVX2_HEAD(vectorPixels, TransformRowAvx2(req, inv.ia, inv.ib, inv.ic, inv.id, y, x0, x1, &out));
    if (planes)
      for (int32_t x = x0; x < done; x++) TransformOne(req, inv, x, y, pixels, true, out);
    for (int32_t x = done; x < x1; x++) TransformOne(req, inv, x, y, pixels, false, out);
  };
  // A row of a quarter turn reads a source column: pixel by pixel every read is a new source
  // row and the next row reads the same lines again, so such turns go in tiles of whole source
  // rows and columns, each a band of rows high.
  const bool turnedTiles = vector && pixels && !req->smooth && !req->dstMask && std::fabs(inv.ia) < 1e-6 &&
                           std::fabs(inv.id) < 1e-6;
  // Other rows go one at a time, blended while their scratch row is in the nearest cache.
  const int32_t bandRows = turnedTiles ? kTransformBandRows : 1;
  for (int32_t band = box.y0; band < box.y1; band += bandRows) {
    const int32_t rows = std::min(bandRows, box.y1 - band);
    int32_t x0s[kTransformBandRows], x1s[kTransformBandRows];
    qmTransformRowOut outs[kTransformBandRows];
    int32_t lo = box.x1, hi = box.x0;
    for (int32_t i = 0; i < rows; i++) {
      const int32_t y = band + i;
      span(y, &x0s[i], &x1s[i]);
      if (onto) {
        // The band's scratch rows.
        outs[i] = {req->dstPixels + int64_t(i) * req->dstWidth, req->dstAlpha + int64_t(i) * req->dstWidth, nullptr};
      } else {
        outs[i] = {req->dstPixels ? req->dstPixels + int64_t(y) * req->dstPitch : nullptr,
                   req->dstAlpha ? req->dstAlpha + int64_t(y) * req->dstAlphaBytesPerRow : nullptr,
                   req->dstMask ? req->dstMask + int64_t(y) * req->dstMaskBytesPerRow : nullptr};
      }
      if (x0s[i] >= x1s[i]) continue;
      lo = std::min(lo, x0s[i]), hi = std::max(hi, x1s[i]);
      // An opaque source covers its span whole.
      if (onto && !req->srcAlpha) std::fill(outs[i].alpha + x0s[i], outs[i].alpha + x1s[i], uint8_t(255));
    }
    const int32_t tile = turnedTiles ? kTransformTileColumns : std::max(hi - lo, 1);
    for (int32_t cx = lo; cx < hi; cx += tile) {
      const int32_t cEnd = std::min(cx + tile, hi);
      if (turnedTiles && CopyTurnedTile(req, inv, band, rows, x0s, x1s, cx, cEnd, outs)) continue;
      for (int32_t i = 0; i < rows; i++) {
        const int32_t x0 = std::max(x0s[i], cx), x1 = std::min(x1s[i], cEnd);
        if (x0 < x1) draw(band + i, x0, x1, outs[i]);
      }
    }
    if (!onto) continue;
    for (int32_t i = 0; i < rows; i++) {
      if (x0s[i] >= x1s[i]) continue;
      const qmBlendRequest blend{outs[i].pixels, x0s[i], 0, onto->pixels, x0s[i] + onto->dx, band + i + onto->dy,
                                 x1s[i] - x0s[i], 1, 0, onto->pitch, outs[i].alpha, x0s[i], 0, 0, onto->format};
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
