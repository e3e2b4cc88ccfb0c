#include "graphics/warp_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/bitmap.h"
#include "graphics/color_kernels.h"
#include "graphics/cpu.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

#ifdef QM_HAVE_AVX2
void SwirlFloatRowAvx2(const qmSwirlGeometry *g, int32_t y, int32_t *sx, int32_t *sy);
void SwirlSourceRowAvx2(const qmSwirlGeometry *g, int32_t y, int32_t *sx, int32_t *sy);
void WarpMixRowAvx2(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width, const uint32_t *pixels,
                    int32_t pitch, const uint32_t *second, int32_t secondPitch, int32_t m);
void RippleSourceRowAvx2(const qmRippleRequest *req, int32_t level, const double *factor, int32_t count, int32_t y,
                         int32_t *sx, int32_t *sy);
void RippleRingRowAvx2(const qmRippleRequest *req, const qmRippleFixed *f, int32_t y, int32_t *sx, int32_t *sy);
int32_t WarpLastRowAvx2(const int32_t *sy, int64_t n);
void WarpStreamRowAvx2(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width, const uint32_t *pixels,
                       int32_t pitch, int32_t rowMask);
void WarpStreamDoneAvx2();
#endif

namespace {

struct MemFreeDeleter {
  void operator()(void *p) const { MemFree(p); }
};
using OwnedBlock = std::unique_ptr<uint8_t, MemFreeDeleter>;

// A copy of rows x rowBytes bytes taken when the caller gave none; false when it cannot be had.
bool CopyPlane(const void *plane, int64_t rows, int64_t rowBytes, OwnedBlock *owned) {
  const int64_t size = rows * rowBytes;
  if (size <= 0 || size > 0xFFFFFFFFll) return false;
  owned->reset(static_cast<uint8_t *>(MemAlloc(uint32_t(size), 0)));
  if (!*owned) return false;
  std::memcpy(owned->get(), plane, size_t(size));
  return true;
}

// The source planes of one call: the caller's copies, or copies of the destination made here.
struct SourceCopies {
  OwnedBlock pixelsOwned, maskOwned, alphaOwned;
  const uint32_t *pixels = nullptr;
  const uint8_t *mask = nullptr, *alpha = nullptr;
  int32_t pitch = 0;

  bool Take(const uint32_t *srcCopy, int32_t srcPitch, const uint32_t *dst, int32_t dstPitch, const uint8_t *maskCopy,
            const uint8_t *maskPlane, int32_t maskBytesPerRow, const uint8_t *alphaCopy, const uint8_t *alphaPlane,
            int32_t alphaBytesPerRow, int32_t height) {
    if (srcCopy) {
      pixels = srcCopy, pitch = srcPitch;
    } else {
      if (!CopyPlane(dst, height, int64_t(dstPitch) * 4, &pixelsOwned)) return false;
      pixels = reinterpret_cast<const uint32_t *>(pixelsOwned.get()), pitch = dstPitch;
    }
    mask = maskCopy;
    if (!mask && maskPlane) {
      if (!CopyPlane(maskPlane, height, maskBytesPerRow, &maskOwned)) return false;
      mask = maskOwned.get();
    }
    alpha = alphaCopy;
    if (!alpha && alphaPlane) {
      if (!CopyPlane(alphaPlane, height, alphaBytesPerRow, &alphaOwned)) return false;
      alpha = alphaOwned.get();
    }
    return true;
  }
};

// Byte-wise second + (((source - second) * m) >> 8) over all four bytes of the words, m 0..255:
// the same as (second * (256 - m) + source * m) >> 8, which two bytes at a time never overflow.
inline uint32_t MixWords(uint32_t second, uint32_t source, int32_t m) {
  const uint32_t k = uint32_t(m), rest = 256 - k;
  const uint32_t rb = (((second & 0x00FF00FFu) * rest + (source & 0x00FF00FFu) * k) >> 8) & 0x00FF00FFu;
  const uint32_t ag = (((second >> 8) & 0x00FF00FFu) * rest + ((source >> 8) & 0x00FF00FFu) * k) & 0xFF00FF00u;
  return rb | ag;
}

// What a warp of pixels alone reads: one picture, or two mixed by m (second toward pixels) row by
// row into the request's scratch just ahead of the rows the move reads, while they are still in
// the cache.
struct WarpSource {
  const uint32_t *pixels;
  int32_t pitch;
  const uint32_t *second;  // or null: pixels moved as they are
  int32_t secondPitch, m;
  uint32_t *scratch;       // width words a row
  int32_t mixedRows;       // rows of scratch mixed so far
  // Or 0: a power of two of scratch rows used in turn, row y at y & (ring - 1), when no band reads
  // rows further apart than that; the mixed rows then stay in the cache and die there.
  int32_t ring;
};

// The source rows up to `rows` (exclusive) ready to be read; the picture, pitch and row mask to
// read them by.
const uint32_t *WarpSourceRows(WarpSource *s, int32_t width, int32_t rows, int32_t *pitch, int32_t *rowMask) {
  *rowMask = -1;
  if (!s->second) {
    *pitch = s->pitch;
    return s->pixels;
  }
  const int32_t wrap = s->ring ? s->ring : INT32_MAX;
  while (rows > s->mixedRows) {
    const int64_t y = s->mixedRows, slot = y % wrap;
    const int32_t count = int32_t(std::min<int64_t>(rows - y, wrap - slot));
    qmMixRequest mix{s->second + y * s->secondPitch, const_cast<uint32_t *>(s->pixels + y * s->pitch), nullptr, 0, width,
                     count, 255 - s->m, QM_BITMAP_FORMAT, s->secondPitch, s->pitch, 0,
                     s->scratch + slot * width, width};
    MixPixels(&mix);
    s->mixedRows += count;
  }
  if (s->ring) *rowMask = s->ring - 1;
  *pitch = width;
  return s->scratch;
}

// A warp of pixels alone moved band by band: the source places of a band of rows first, so that
// the rows it reads are known before they are mixed. sourceRow(y, sx, sy) gives row y's places.
// reach >= 0: no place lies further than reach rows from its pixel, so the rows a band reads are
// known beforehand, and each row is moved as soon as its places are made, while they are in the
// nearest cache.
template <typename SourceRow>
void WarpCopyBands(uint32_t *dst, int32_t dstPitch, int32_t width, int32_t height, WarpSource source,
                   SourceRow sourceRow, int32_t reach = -1) {
  constexpr int32_t kBand = 16;
  // A frame of more than a core's share of the last-level cache is gone from it before it is
  // shown: it is written past the cache, without fetching its lines first.
  const bool stream = int64_t(width) * height * 4 >= kWarpStreamBytes;
  const int32_t bufferRows = reach >= 0 ? 1 : kBand;
  std::vector<int32_t> sxs(size_t(width) * bufferRows), sys(size_t(width) * bufferRows);
  auto move = [&](int32_t y, const int32_t *sx, const int32_t *sy, const uint32_t *pixels, int32_t pitch, int32_t rowMask) {
    uint32_t *row = dst + int64_t(y) * dstPitch;
    if (stream) WarpStreamRow(row, sx, sy, width, pixels, pitch, rowMask);
    else WarpCopyRow(row, sx, sy, width, pixels, pitch, rowMask);
  };
  for (int32_t y0 = 0; y0 < height; y0 += kBand) {
    const int32_t rows = std::min(kBand, height - y0);
    int32_t pitch, rowMask;
    if (reach >= 0) {
      const int32_t lastRow = int32_t(std::min<int64_t>(height - 1, int64_t(y0) + rows - 1 + reach));
      const uint32_t *pixels = WarpSourceRows(&source, width, lastRow + 1, &pitch, &rowMask);
      for (int32_t y = y0; y < y0 + rows; y++) {
        sourceRow(y, sxs.data(), sys.data());
        move(y, sxs.data(), sys.data(), pixels, pitch, rowMask);
      }
      continue;
    }
    for (int32_t r = 0; r < rows; r++) sourceRow(y0 + r, sxs.data() + int64_t(r) * width, sys.data() + int64_t(r) * width);
    const int32_t lastRow = source.second ? WarpLastRow(sys.data(), int64_t(rows) * width) : 0;
    const uint32_t *pixels = WarpSourceRows(&source, width, lastRow + 1, &pitch, &rowMask);
    for (int32_t r = 0; r < rows; r++)
      move(y0 + r, sxs.data() + int64_t(r) * width, sys.data() + int64_t(r) * width, pixels, pitch, rowMask);
  }
  if (stream) WarpStreamDone();
}

inline int32_t LimitCoordinate(double v, int32_t size) {
  if (!(v >= 0)) return 0;
  if (v >= size - 1) return size - 1;
  return int32_t(v);
}

void FillTable(double *sine, double *cosine) {
  double x = 0;
  for (int32_t k = 0; k < QM_WARP_TABLE_SIZE; k++, x += 0.001) {
    sine[k] = std::sin(x);
    if (cosine) cosine[k] = std::cos(x);
  }
}

} // namespace

void WarpMixRowScalar(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width, const uint32_t *pixels,
                      int32_t pitch, const uint32_t *second, int32_t secondPitch, int32_t m, int32_t from) {
  for (int32_t x = from; x < width; x++)
    dst[x] = MixWords(second[int64_t(sy[x]) * secondPitch + sx[x]], pixels[int64_t(sy[x]) * pitch + sx[x]], m);
}

void WarpMixRow(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width, const uint32_t *pixels,
                int32_t pitch, const uint32_t *second, int32_t secondPitch, int32_t m) {
  QM_AVX2_RETURN(WarpMixRowAvx2(dst, sx, sy, width, pixels, pitch, second, secondPitch, m));
  WarpMixRowScalar(dst, sx, sy, width, pixels, pitch, second, secondPitch, m);
}

void WarpStreamRow(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width, const uint32_t *pixels,
                   int32_t pitch, int32_t rowMask) {
  QM_AVX2_RETURN(WarpStreamRowAvx2(dst, sx, sy, width, pixels, pitch, rowMask));
  WarpCopyRow(dst, sx, sy, width, pixels, pitch, rowMask);
}

void WarpStreamDone() {
  QM_AVX2_RETURN(WarpStreamDoneAvx2());
}

int32_t WarpLastRowScalar(const int32_t *sy, int64_t n) {
  int32_t last = 0;
  for (int64_t i = 0; i < n; i++) last = std::max(last, sy[i]);
  return last;
}

int32_t WarpLastRow(const int32_t *sy, int64_t n) {
  QM_AVX2_RETURN(WarpLastRowAvx2(sy, n));
  return WarpLastRowScalar(sy, n);
}

void WarpCopyRow(uint32_t *dst, const int32_t *sx, const int32_t *sy, int32_t width, const uint32_t *pixels,
                 int32_t pitch, int32_t rowMask) {
  for (int32_t x = 0; x < width; x++) dst[x] = pixels[int64_t(sy[x] & rowMask) * pitch + sx[x]];
}

int32_t IntegerSqrt(int64_t n) {
  if (n < 0) return -1;
  int64_t r = int64_t(std::sqrt(double(n)));
  while (r * r > n) r--;
  while ((r + 1) * (r + 1) <= n) r++;
  return int32_t(r);
}


int32_t RippleRingRows(const qmRippleRequest *req) {
  const int64_t fx = std::max(req->centerX, req->width - 1 - req->centerX);
  const int64_t fy = std::max(req->centerY, req->height - 1 - req->centerY);
  if (req->width < 1 || req->height < 1 || fx < 0 || fy < 0 || fx * fx + fy * fy >= 65536ll * 65536ll) return 0;
  return int32_t(fy) + 1;
}

void PrepareRipple(qmRippleRequest *req) {
  FillTable(req->sine, nullptr);
  if (int32_t *d = req->distance)
    for (int32_t y = 0; y < req->height; y++)
      for (int32_t x = 0; x < req->width; x++) {
        const int64_t dx = x - req->centerX, dy = y - req->centerY;
        *d++ = IntegerSqrt(dx * dx + dy * dy);
      }
  if (uint16_t *ring = req->rings)
    for (int32_t dy = 0, rows = RippleRingRows(req); dy < rows; dy++)
      for (int32_t x = 0; x < req->width; x++) {
        const int64_t dx = x - req->centerX;
        *ring++ = uint16_t(IntegerSqrt(dx * dx + int64_t(dy) * dy));
      }
}

namespace {

// The turn of a point whose squared distance has the whole root `root`, in radians.
inline double SwirlAngle(const qmSwirlGeometry *g, int32_t root) {
  const double f = 1.0 - root / g->r;
  return g->angle * f * f;
}

inline int32_t SwirlTableEntry(double a) {
  const double t = a / 0.001;
  return t < 0 ? 0 : t >= QM_WARP_TABLE_SIZE ? QM_WARP_TABLE_SIZE - 1 : int32_t(t);
}

} // namespace

void PrepareSwirl(qmSwirlRequest *req) {
  FillTable(req->sine, req->cosine);
  if (!req->roots || req->width > kSwirlRootSide || req->height > kSwirlRootSide) return;
  // The same place and test as the row functions, which the roots stand in for.
  const qmSwirlGeometry g = SwirlGeometryOf(req, 0);
  int16_t *root = req->roots;
  for (int32_t y = 0; y < g.height; y++) {
    const double dy = g.ys * (y - g.h2);
    for (int32_t x = 0; x < g.width; x++) {
      const double dx = g.xs * (x - g.w2);
      *root++ = int16_t(dx * dx + dy * dy < g.r * g.r ? IntegerSqrt(int64_t(dx * dx + dy * dy)) : -1);
    }
  }
}

int32_t SwirlRootCount(const qmSwirlGeometry *g) { return int32_t(std::ceil(g->r)) + 1; }

void SwirlRootIndex(const qmSwirlGeometry *g, int32_t *index) {
  for (int32_t root = 0, n = SwirlRootCount(g); root < n; root++) index[root] = SwirlTableEntry(SwirlAngle(g, root));
}

void SwirlSourceRowScalar(const qmSwirlGeometry *g, int32_t y, int32_t *sxOut, int32_t *syOut, int32_t from, int32_t to) {
  const double dy = g->ys * (y - g->h2);
  const int16_t *roots = g->roots ? g->roots + int64_t(y) * g->width : nullptr;
  for (int32_t x = from, end = to < 0 ? g->width : to; x < end; x++) {
    const double dx = g->xs * (x - g->w2);
    int32_t sx = x, sy = y;
    if (roots ? roots[x] >= 0 : dx * dx + dy * dy < g->r * g->r) {
      double sn, cs;
      if (roots) {
        sn = g->rootSine[roots[x]], cs = g->rootCosine[roots[x]];
      } else {
        const double a = SwirlAngle(g, IntegerSqrt(int64_t(dx * dx + dy * dy)));
        if (g->useTables) {
          const int32_t i = SwirlTableEntry(a);
          sn = g->sine[i], cs = g->cosine[i];
        } else {
          sn = std::sin(a), cs = std::cos(a);
        }
      }
      // One of the scales is 1, and a division by 1 is exact: it is left out.
      const double ru = dx * cs - dy * sn, rv = dx * sn + dy * cs;
      sx = LimitCoordinate((g->xs == 1.0 ? ru : ru / g->xs) + g->w2, g->width);
      sy = LimitCoordinate((g->ys == 1.0 ? rv : rv / g->ys) + g->h2, g->height);
    }
    sxOut[x] = sx, syOut[x] = sy;
  }
}

bool SwirlFloatOf(const qmSwirlGeometry *g, float *table, qmSwirlFloat *f) {
  if (!g->roots || !g->rootSine || !g->rootCosine) return false;
  // Inside the radius the offsets, products and turned offsets stay below e, a power of two, and
  // the places below 2e: a factor's own rounding moves its product by at most e * 2^-24, the three
  // roundings below e by at most e * 2^-25 each and the place's by e * 2^-24. That is 4.5 units of
  // e * 2^-24 at most, the doubles' own rounding far below one more; the band keeps six.
  double e = 1;
  while (e < g->r + 2) e *= 2;
  if (e > 8192) return false;
  const int32_t count = SwirlRootCount(g), stride = count + 2 * QM_SWIRL_FLOAT_PAD;
  std::fill_n(table, 3 * stride, 0.0f);
  float *cosine = table + QM_SWIRL_FLOAT_PAD, *across = cosine + stride, *down = across + stride;
  for (int32_t root = 0; root < count; root++) {
    cosine[root] = float(g->rootCosine[root]);
    // One of the scales is 1 and the other a quotient of the sides: one rounding in doubles each.
    across[root] = float(g->xs == 1.0 ? g->rootSine[root] * g->ys : g->rootSine[root] / g->xs);
    down[root] = float(g->xs == 1.0 ? g->rootSine[root] / g->ys : g->rootSine[root] * g->xs);
  }
  int32_t still = count;
  while (g->xs == 1.0 && still > 0 && g->rootSine[still - 1] == 0.0 && g->rootCosine[still - 1] == 1.0) still--;
  *f = {cosine, across, down, count, float(std::ldexp(6 * e, -24)), still};
  return true;
}

void SwirlSourceRow(const qmSwirlGeometry *g, int32_t y, int32_t *sx, int32_t *sy) {
  QM_AVX2_RETURN_IF(g->turn && g->roots, SwirlFloatRowAvx2(g, y, sx, sy));
  QM_AVX2_RETURN_IF(g->useTables && g->rootIndex, SwirlSourceRowAvx2(g, y, sx, sy));
  SwirlSourceRowScalar(g, y, sx, sy);
}

qmSwirlGeometry SwirlGeometryOf(const qmSwirlRequest *req, int32_t degrees) {
  qmSwirlGeometry g;
  g.width = req->width, g.height = req->height;
  g.angle = (degrees > 359 ? 720 - degrees : degrees) * 0.017453292519943295;
  g.w2 = g.width / 2.0, g.h2 = g.height / 2.0;
  g.r = std::max(g.w2, g.h2);
  g.xs = g.width <= g.height ? double(g.height) / double(g.width) : 1.0;
  g.ys = g.width <= g.height ? 1.0 : double(g.width) / double(g.height);
  g.sine = req->sine, g.cosine = req->cosine;
  g.useTables = degrees >= 0;
  g.rootIndex = nullptr;
  g.roots = nullptr;
  g.rootSine = g.rootCosine = nullptr;
  g.turn = nullptr;
  return g;
}

int32_t SwirlPixels(const qmSwirlRequest *req, int32_t degrees) {
  const int32_t width = req->width, height = req->height;
  if (width < 1 || height < 1) return 0;
  const int32_t m = std::clamp(int32_t(int64_t(degrees) * 255 / 720), 0, 255);
  qmSwirlGeometry g = SwirlGeometryOf(req, degrees);
  const bool fade = req->alphaFade && req->alpha;
  std::vector<int32_t> rootIndex;
  std::vector<double> rootSine, rootCosine;
  if (g.useTables) {
    rootIndex.resize(size_t(SwirlRootCount(&g)));
    SwirlRootIndex(&g, rootIndex.data());
    g.rootIndex = rootIndex.data();
    rootSine.resize(rootIndex.size());
    rootCosine.resize(rootIndex.size());
    for (size_t i = 0; i < rootIndex.size(); i++)
      rootSine[i] = req->sine[rootIndex[i]], rootCosine[i] = req->cosine[rootIndex[i]];
    g.rootSine = rootSine.data(), g.rootCosine = rootCosine.data();
    if (req->roots && width <= kSwirlRootSide && height <= kSwirlRootSide) g.roots = req->roots;
  }
  // Through the roots the turn is applied in floats.
  std::vector<float> turnTable;
  qmSwirlFloat turn;
  if (g.roots) {
    turnTable.resize(3 * (size_t(SwirlRootCount(&g)) + 2 * QM_SWIRL_FLOAT_PAD));
    if (SwirlFloatOf(&g, turnTable.data(), &turn)) g.turn = &turn;
  }

  SourceCopies src;
  if (!src.Take(req->srcCopy, req->srcPitch, req->dst, req->dstPitch, req->maskCopy, req->mask, req->maskBytesPerRow,
                req->alphaCopy, req->alpha, req->alphaBytesPerRow, height))
    return ERR_MEM;

  // Two pictures mixed and no planes: the common case, on locals the pixel stores cannot alias.
  const uint32_t *pixels = src.pixels, *second = req->second;
  const int32_t pitch = src.pitch, secondPitch = req->secondPitch;
  const bool mixOnly = second && !fade && !src.mask && !src.alpha;
  if ((!second || req->mixScratch) && !fade && !src.mask && !src.alpha) {
    WarpCopyBands(req->dst, req->dstPitch, width, height, {pixels, pitch, second, secondPitch, m, req->mixScratch, 0, 0},
                  [&g](int32_t y, int32_t *sx, int32_t *sy) { SwirlSourceRow(&g, y, sx, sy); });
    return 0;
  }
  std::vector<int32_t> sxs(width), sys(width);
  for (int32_t y = 0; y < height; y++) {
    uint32_t *drow = req->dst + int64_t(y) * req->dstPitch;
    SwirlSourceRow(&g, y, sxs.data(), sys.data());
    if (mixOnly) {
      WarpMixRow(drow, sxs.data(), sys.data(), width, pixels, pitch, second, secondPitch, m);
      continue;
    }
    for (int32_t x = 0; x < width; x++) {
      const int32_t sx = sxs[x], sy = sys[x];
      const uint32_t source = src.pixels[int64_t(sy) * src.pitch + sx];
      if (fade) {
        const uint8_t a = src.alpha[int64_t(sy) * req->alphaBytesPerRow + sx];
        uint8_t *out = req->alpha + int64_t(y) * req->alphaBytesPerRow + x;
        if (a == 0) {
          *out = 0;
        } else {
          drow[x] = source;
          *out = uint8_t(a * (req->reverse ? 255 - m : m) / 255);
        }
        continue;
      }
      drow[x] = req->second ? MixWords(req->second[int64_t(sy) * req->secondPitch + sx], source, m) : source;
      if (src.mask)
        SetMaskBit(req->mask + int64_t(y) * req->maskBytesPerRow, x, GetMaskBit(src.mask + int64_t(sy) * req->maskBytesPerRow, sx));
      if (src.alpha) req->alpha[int64_t(y) * req->alphaBytesPerRow + x] = src.alpha[int64_t(sy) * req->alphaBytesPerRow + sx];
    }
  }
  return 0;
}

void PixelatePixels(const qmPixelateRequest *req) {
  const int32_t n = req->blockSize;
  if (n < 1) return;
  if (!req->srcMask && !req->srcAlpha && !req->dstMask && !req->dstAlpha) {
    // Every block shows: each band's first row is made once and copied to the band's other rows.
    for (int32_t by = 0; by < req->height; by += n) {
      const uint32_t *srow = req->src + int64_t(by) * req->srcPitch;
      uint32_t *first = req->dst + int64_t(by) * req->dstPitch;
      for (int32_t bx = 0; bx < req->width; bx += n) std::fill_n(first + bx, std::min(n, req->width - bx), srow[bx]);
      for (int32_t y = by + 1; y < std::min(req->height, by + n); y++)
        std::memcpy(req->dst + int64_t(y) * req->dstPitch, first, size_t(req->width) * 4);
    }
    return;
  }
  for (int32_t by = 0; by < req->height; by += n) {
    const int32_t bh = std::min(n, req->height - by);
    for (int32_t bx = 0; bx < req->width; bx += n) {
      const int32_t bw = std::min(n, req->width - bx);
      const uint32_t colour = req->src[int64_t(by) * req->srcPitch + bx];
      const uint8_t alpha = req->srcAlpha ? req->srcAlpha[int64_t(by) * req->srcAlphaBytesPerRow + bx] : 255;
      const bool visible = req->srcMask ? GetMaskBit(req->srcMask + int64_t(by) * req->srcMaskBytesPerRow, bx)
                           : req->srcAlpha ? alpha != 0
                                           : true;
      for (int32_t y = by; y < by + bh; y++) {
        if (visible) std::fill_n(req->dst + int64_t(y) * req->dstPitch + bx, bw, colour);
        if (req->dstMask) {
          uint8_t *mrow = req->dstMask + int64_t(y) * req->dstMaskBytesPerRow;
          for (int32_t x = bx; x < bx + bw; x++) SetMaskBit(mrow, x, visible);
        } else if (req->dstAlpha) {
          std::memset(req->dstAlpha + int64_t(y) * req->dstAlphaBytesPerRow + bx, visible ? alpha : 0, size_t(bw));
        }
      }
    }
  }
}

namespace {

// How far a pixel at distance d from the centre moves, as a share of its offset from the centre.
double RippleFactor(int32_t level, int32_t d, const qmRippleRequest *req) {
  const double twoPi = 6.28318530717959;
  double phase = d / req->wavelength * twoPi - level;
  if (!std::isfinite(phase)) phase = 0;
  if (std::fabs(phase) > 1024 * twoPi) phase = std::fmod(phase, twoPi);
  while (phase < 0) phase += twoPi;
  while (phase > twoPi) phase -= twoPi;
  const double t = phase / 0.001;
  const double s = req->sine[t >= QM_WARP_TABLE_SIZE ? QM_WARP_TABLE_SIZE - 1 : int32_t(t)];
  double k = req->maxDistance > 0 ? req->amplitude * s * (req->maxDistance - d) / req->maxDistance : 0.0;
  if (d != 0) k *= req->wavelength / d;
  return k;
}

} // namespace

namespace {

// The source place of (x, y) at distance d.
inline void RipplePlace(const qmRippleRequest *req, int32_t level, const double *factor, int32_t count, int32_t x,
                        int32_t y, int32_t d, int32_t *sx, int32_t *sy) {
  const double k = d >= 0 && d < count ? factor[d] : RippleFactor(level, d, req);
  *sx = LimitCoordinate(x + (x - req->centerX) * k, req->width);
  *sy = LimitCoordinate(y + (y - req->centerY) * k, req->height);
}

} // namespace

void RippleSourceRowScalar(const qmRippleRequest *req, int32_t level, const double *factor, int32_t count, int32_t y,
                           int32_t *sx, int32_t *sy, int32_t from, int32_t to) {
  const int32_t *dist = req->distance + int64_t(y) * req->width;
  for (int32_t x = from; x < to; x++) RipplePlace(req, level, factor, count, x, y, dist[x], sx + x, sy + x);
}

void RippleFixedOf(const double *factor, int32_t count, int32_t level, int32_t *table, qmRippleFixed *f) {
  int32_t *scaled = table + QM_RIPPLE_SCALED_PAD;
  std::fill_n(table, count + 2 * QM_RIPPLE_SCALED_PAD, 0);
  *f = {factor, count, level, scaled, -1, 0, -1};
  // |x - centerX| and |y - centerY| are at most the distance d, so the products stay below the
  // largest |factor[d]| * d.
  double largest = 0;
  for (int32_t d = 0; d < count; d++) {
    if (!std::isfinite(factor[d])) return;
    largest = std::max(largest, std::fabs(factor[d]) * d);
  }
  if (!(largest < 1048576.0) || count > 65536) return;
  int32_t shift = 30;
  while (shift > 0 && (largest + 1) * std::ldexp(1.0, shift) > 1073741824.0) shift--;
  // Rounding each factor moves a product by at most half a unit per step from the centre; past
  // that, 2^-20 keeps the doubles' own rounding (below 2^-31 for these sizes) off every boundary.
  const int32_t band = (count + 1) / 2 + 1 + (shift >= 20 ? 1 << (shift - 20) : 1);
  if (shift < 3 || band >= 1 << (shift - 2)) return;
  scaled[0] = 0; // only the centre itself, whose offsets are 0
  for (int32_t d = 1; d < count; d++) scaled[d] = int32_t(std::nearbyint(std::ldexp(factor[d], shift)));
  f->shift = shift, f->band = band;
  f->reach = int32_t(std::ceil(largest)) + 1;
}

void RippleRingRowScalar(const qmRippleRequest *req, const qmRippleFixed *f, int32_t y, int32_t *sx, int32_t *sy,
                         int32_t from, int32_t to) {
  const uint16_t *ring = req->rings + int64_t(std::abs(y - req->centerY)) * req->width;
  for (int32_t x = from; x < to; x++) RipplePlace(req, f->level, f->factor, f->count, x, y, ring[x], sx + x, sy + x);
}

void RippleRingRow(const qmRippleRequest *req, const qmRippleFixed *f, int32_t y, int32_t *sx, int32_t *sy) {
  QM_AVX2_RETURN_IF(f->shift > 0, RippleRingRowAvx2(req, f, y, sx, sy));
  RippleRingRowScalar(req, f, y, sx, sy, 0, req->width);
}

void RippleSourceRow(const qmRippleRequest *req, int32_t level, const double *factor, int32_t count, int32_t y,
                     int32_t *sx, int32_t *sy) {
  QM_AVX2_RETURN(RippleSourceRowAvx2(req, level, factor, count, y, sx, sy));
  RippleSourceRowScalar(req, level, factor, count, y, sx, sy, 0, req->width);
}

void RippleDisplace(int32_t level, int32_t x, int32_t y, qmRippleRequest *req) {
  const int32_t d = req->distance[int64_t(y) * req->width + x];
  const int32_t dx = x - req->centerX, dy = y - req->centerY;
  const double k = RippleFactor(level, d, req);
  req->outX = LimitCoordinate(x + dx * k, req->width);
  req->outY = LimitCoordinate(y + dy * k, req->height);
}

int32_t RipplePixels(qmRippleRequest *req, int32_t level) {
  const int32_t width = req->width, height = req->height;
  if (width < 1 || height < 1) return 0;
  const int32_t n = std::max(req->waves, 1);
  if (level == -1) {
    level = req->storedLevel;
  } else {
    req->amplitude = (level < n ? level : 2 * n - level) * req->amplitudeStep;
    req->storedLevel = level;
  }
  const int32_t m = std::clamp(int32_t(int64_t(level) * 255 / (2 * int64_t(n))), 0, 255);

  SourceCopies src;
  const bool fade = req->fadeAlpha != nullptr;
  uint8_t *alphaPlane = fade ? req->fadeAlpha : req->alpha;
  const int32_t alphaRow = fade ? req->fadeAlphaBytesPerRow : req->alphaBytesPerRow;
  if (!src.Take(req->srcCopy, req->srcPitch, req->dst, req->dstPitch, req->maskCopy, fade ? nullptr : req->mask,
                req->maskBytesPerRow, fade ? nullptr : req->alphaCopy, alphaPlane, alphaRow, height))
    return ERR_MEM;

  // The factor depends on the distance alone: worked out once per distance the picture has (the
  // farthest corner's), not once per pixel.
  const int64_t fx = std::max(req->centerX, width - 1 - req->centerX), fy = std::max(req->centerY, height - 1 - req->centerY);
  std::vector<double> factor(size_t(std::max(IntegerSqrt(fx * fx + fy * fy), 0)) + 1);
  for (size_t d = 0; d < factor.size(); d++) factor[d] = RippleFactor(level, int32_t(d), req);
  // Locals, not the request's fields: the pixel stores could alias them and force reloads.
  const double *kOf = factor.data();
  const int32_t kCount = int32_t(factor.size());
  const uint32_t *pixels = src.pixels, *second = req->second;
  const int32_t pitch = src.pitch, secondPitch = req->secondPitch;
  // With the ring table the places come from fixed-point products, row by row into the move.
  std::vector<int32_t> scaled;
  qmRippleFixed fixed{};
  const bool rings = req->rings && RippleRingRows(req) > 0;
  if (rings) {
    scaled.resize(factor.size() + 2 * QM_RIPPLE_SCALED_PAD);
    RippleFixedOf(kOf, kCount, level, scaled.data(), &fixed);
  }
  auto placesOf = [&](int32_t y, int32_t *sx, int32_t *sy) {
    if (rings) RippleRingRow(req, &fixed, y, sx, sy);
    else RippleSourceRow(req, level, kOf, kCount, y, sx, sy);
  };
  if ((!second || req->mixScratch) && !fade && !src.mask && !src.alpha) {
    // A band of 16 rows reads rows at most fixed.reach above and below it.
    int32_t ring = 0;
    if (rings && fixed.reach >= 0 && fixed.reach < height) {
      ring = 64;
      while (ring < 2 * fixed.reach + 24) ring *= 2;
      if (ring >= height) ring = 0;
    }
    WarpCopyBands(req->dst, req->dstPitch, width, height, {pixels, pitch, second, secondPitch, m, req->mixScratch, 0, ring},
                  placesOf, rings ? fixed.reach : -1);
    return 0;
  }
  std::vector<int32_t> sxs(width), sys(width);
  for (int32_t y = 0; y < height; y++) {
    uint32_t *drow = req->dst + int64_t(y) * req->dstPitch;
    placesOf(y, sxs.data(), sys.data());
    if (second && !fade) {
      WarpMixRow(drow, sxs.data(), sys.data(), width, pixels, pitch, second, secondPitch, m);
      continue;
    }
    for (int32_t x = 0; x < width; x++) {
      const int32_t sx = sxs[x], sy = sys[x];
      const uint32_t source = pixels[int64_t(sy) * pitch + sx];
      if (fade) {
        const uint8_t a = src.alpha[int64_t(sy) * alphaRow + sx];
        uint8_t *out = req->fadeAlpha + int64_t(y) * alphaRow + x;
        if (a == 0) {
          *out = 0;
        } else {
          drow[x] = source;
          *out = uint8_t((req->reverse ? 255 - m : m) * a / 255);
        }
        continue;
      }
      drow[x] = source;
      if (src.mask)
        SetMaskBit(req->mask + int64_t(y) * req->maskBytesPerRow, x, GetMaskBit(src.mask + int64_t(sy) * req->maskBytesPerRow, sx));
      if (src.alpha) req->alpha[int64_t(y) * alphaRow + x] = src.alpha[int64_t(sy) * alphaRow + sx];
    }
  }
  return 0;
}
