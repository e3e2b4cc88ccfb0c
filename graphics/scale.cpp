#include "graphics/scale.h"

#include <algorithm>
#include <cstring>

#include "graphics/alpha_kernels.h"
#include "graphics/blend_kernels.h"
#include "graphics/cpu.h"
#include "graphics/pixelformat.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

#ifdef QM_HAVE_AVX2
void NearestRowAvx2(uint32_t *dst, const uint32_t *srcRow, const int32_t *xIndex, int32_t width, int32_t srcWidth);
void HorizontalRowAvx2(uint32_t *dst, const uint32_t *srcRow, const int32_t *xIndex, const int32_t *xFrac,
                       int32_t srcWidth, int32_t width);
// Large destinations: rows written with streaming stores, each distinct source row sampled once.
void ScaleNearestStreamingAvx2(const qmScaleRequest *req);
void NearestAlphaRowAvx2(uint8_t *dst, const uint8_t *srcRow, const int32_t *xIndex, int32_t width, int32_t srcWidth);
void VerticalBlendAvx2(uint32_t *dst, const uint32_t *top, const uint32_t *bottom, int32_t fy, uint32_t colourMask,
                       int32_t width);
#endif

namespace {

// One channel step of the bilinear rule: a + (((b - a) * f) >> 16), arithmetic shift.
inline int32_t Lerp16(int32_t a, int32_t b, int32_t f) { return a + (((b - a) * f) >> 16); }

inline uint32_t LerpWord(uint32_t a, uint32_t b, int32_t f) {
  uint32_t r = 0;
  for (int shift = 0; shift < 32; shift += 8)
    r |= uint32_t(Lerp16((a >> shift) & 0xFF, (b >> shift) & 0xFF, f) & 0xFF) << shift;
  return r;
}

// Steps are 16.16 source columns per target column; a picture wider than 32767 pixels shrunk
// to a few columns takes more than 31 bits.
int64_t NearestStep(int32_t src, int32_t dst) {
  float factor = float(src) / float(dst);
  return int64_t(factor * 65536.0f);
}

int64_t SmoothStep(int32_t src, int32_t dst) { return int64_t(double(int64_t(src - 1) << 16) / dst); }

void FillNearestTables(const qmScaleRequest *req) {
  qmScaleBuffers *b = req->buffers;
  int64_t step = NearestStep(req->srcWidth, req->dstWidth);
  for (int32_t i = 0; i < req->dstWidth; i++) b->xIndex[i] = int32_t(std::min<int64_t>((i * step) >> 16, req->srcWidth - 1));
  const float yFactor = float(req->srcHeight) / float(req->dstHeight);
  float acc = 0.0f;
  for (int32_t j = 0; j < req->dstHeight; j++, acc += yFactor) b->yIndex[j] = std::min(int32_t(acc), req->srcHeight - 1);
}

void FillSmoothTables(const qmScaleRequest *req) {
  qmScaleBuffers *b = req->buffers;
  int64_t xs = SmoothStep(req->srcWidth, req->dstWidth), ys = SmoothStep(req->srcHeight, req->dstHeight);
  for (int32_t i = 0; i < req->dstWidth; i++) {
    b->xIndex[i] = int32_t((i * xs) >> 16);
    b->xFrac[i] = int32_t((i * xs) & 0xFFFF);
  }
  for (int32_t j = 0; j < req->dstHeight; j++) {
    b->yIndex[j] = int32_t((j * ys) >> 16);
    b->yFrac[j] = int32_t((j * ys) & 0xFFFF);
  }
}

bool BuffersFit(const qmScaleRequest *req) {
  const qmScaleBuffers *b = req->buffers;
  return b && b->width >= req->dstWidth && b->height >= req->dstHeight;
}

void HorizontalRow(uint32_t *dst, const uint32_t *srcRow, const int32_t *xIndex, const int32_t *xFrac, int32_t srcWidth,
                   int32_t width) {
  QM_AVX2_RETURN(HorizontalRowAvx2(dst, srcRow, xIndex, xFrac, srcWidth, width));
  for (int32_t i = 0; i < width; i++) {
    int32_t x = xIndex[i];
    dst[i] = LerpWord(srcRow[x], srcRow[std::min(x + 1, srcWidth - 1)], xFrac[i]);
  }
}

void VerticalBlend(uint32_t *dst, const uint32_t *top, const uint32_t *bottom, int32_t fy, uint32_t colourMask,
                   int32_t width) {
  QM_AVX2_RETURN(VerticalBlendAvx2(dst, top, bottom, fy, colourMask, width));
  for (int32_t i = 0; i < width; i++) dst[i] = LerpWord(top[i], bottom[i], fy) & colourMask;
}

// Destinations larger than this bypass the cache on the way out (nearest scaling only).
constexpr int64_t kStreamBytes = int64_t(8) << 20;

// dst[i] = srcRow[xIndex[i]] for `width` columns, the indices ascending and below srcWidth.
void NearestPixelRow(uint32_t *dst, const uint32_t *srcRow, const int32_t *xIndex, int32_t width, int32_t srcWidth) {
  QM_AVX2_RETURN(NearestRowAvx2(dst, srcRow, xIndex, width, srcWidth));
  (void)srcWidth;
  for (int32_t i = 0; i < width; i++) dst[i] = srcRow[xIndex[i]];
}

void ScaleNearestFast(const qmScaleRequest *req) {
  const qmScaleBuffers *b = req->buffers;
  QM_AVX2_RETURN_IF(int64_t(req->dstPitch) * req->dstHeight * 4 > kStreamBytes, ScaleNearestStreamingAvx2(req));
  uint32_t *dst = req->dstPixels;
  for (int32_t j = 0; j < req->dstHeight; j++, dst += req->dstPitch) {
    // Rows that read the same source row are equal: copy the one above.
    if (j > 0 && b->yIndex[j] == b->yIndex[j - 1]) {
      std::copy(dst - req->dstPitch, dst - req->dstPitch + req->dstWidth, dst);
      continue;
    }
    NearestPixelRow(dst, req->srcPixels + int64_t(b->yIndex[j]) * req->srcPitch, b->xIndex, req->dstWidth,
                    req->srcWidth);
  }
}

// The two horizontally interpolated source rows that a smoothed result row mixes, kept in the
// buffers' row cache for the next result row, over the columns whose tables start at xIndex.
struct SmoothRowPair {
  const qmScaleRequest *req;
  const int32_t *xIndex, *xFrac;
  int32_t width;
  uint32_t *slot[2];
  int32_t tag[2];

  SmoothRowPair(const qmScaleRequest *r, int32_t firstColumn, int32_t columns)
      : req(r), xIndex(r->buffers->xIndex + firstColumn), xFrac(r->buffers->xFrac + firstColumn), width(columns),
        slot{r->buffers->rowCache, r->buffers->rowCache + r->buffers->width + 1}, tag{-1, -1} {}

  // The slot holding source row r, computed into a slot other than `keep` when neither holds it.
  int32_t Row(int32_t r, int32_t keep) {
    for (int32_t s = 0; s < 2; s++)
      if (tag[s] == r) return s;
    const int32_t s = keep == 0 ? 1 : 0;
    HorizontalRow(slot[s], req->srcPixels + int64_t(r) * req->srcPitch, xIndex, xFrac, req->srcWidth, width);
    tag[s] = r;
    return s;
  }

  // Result row j of the columns into dst.
  void Mix(uint32_t *dst, int32_t j) {
    const qmScaleBuffers *b = req->buffers;
    const int32_t r0 = b->yIndex[j], r1 = std::min(r0 + 1, req->srcHeight - 1);
    const int32_t s0 = Row(r0, -1);
    const int32_t s1 = Row(r1, s0);
    VerticalBlend(dst, slot[s0], slot[s1], b->yFrac[j], ~FourthByteMask(req->format), width);
  }
};

void ScaleSmoothFast(const qmScaleRequest *req) {
  SmoothRowPair rows(req, 0, req->dstWidth);
  uint32_t *dst = req->dstPixels;
  for (int32_t j = 0; j < req->dstHeight; j++, dst += req->dstPitch) rows.Mix(dst, j);
}

void ScaleAlphaNearest(const qmScaleRequest *req) {
  const qmScaleBuffers *b = req->buffers;
  for (int32_t j = 0; j < req->dstHeight; j++) {
    uint8_t *d = req->dstAlpha + int64_t(j) * req->dstAlphaBytesPerRow;
    // Rows that read the same source row are equal: copy the one above.
    if (j > 0 && b->yIndex[j] == b->yIndex[j - 1]) {
      std::memcpy(d, d - req->dstAlphaBytesPerRow, size_t(req->dstWidth));
      continue;
    }
    const uint8_t *s = req->srcAlpha + int64_t(b->yIndex[j]) * req->srcAlphaBytesPerRow;
    NearestAlphaRow(d, s, b->xIndex, req->dstWidth, req->srcWidth);
  }
}

// Result row j of the alpha plane, over `width` columns from firstColumn, into d.
void SmoothAlphaRow(const qmScaleRequest *req, uint8_t *d, int32_t j, int32_t firstColumn, int32_t width) {
  const qmScaleBuffers *b = req->buffers;
  const int32_t y = b->yIndex[j], fy = b->yFrac[j];
  const uint8_t *s0 = req->srcAlpha + int64_t(y) * req->srcAlphaBytesPerRow;
  const uint8_t *s1 = req->srcAlpha + int64_t(std::min(y + 1, req->srcHeight - 1)) * req->srcAlphaBytesPerRow;
  const int32_t *xIndex = b->xIndex + firstColumn, *xFrac = b->xFrac + firstColumn;
  for (int32_t i = 0; i < width; i++) {
    int32_t x = xIndex[i], x1 = std::min(x + 1, req->srcWidth - 1), fx = xFrac[i];
    int32_t top = Lerp16(s0[x], s0[x1], fx), bottom = Lerp16(s1[x], s1[x1], fx);
    d[i] = uint8_t(Lerp16(top, bottom, fy));
  }
}

void ScaleAlphaSmooth(const qmScaleRequest *req) {
  for (int32_t j = 0; j < req->dstHeight; j++)
    SmoothAlphaRow(req, req->dstAlpha + int64_t(j) * req->dstAlphaBytesPerRow, j, 0, req->dstWidth);
}

// The smooth path keeps the mask hard: each bit is the source bit at the sample's whole position.
void ScaleMaskAtSamples(const qmScaleRequest *req) {
  const qmScaleBuffers *b = req->buffers;
  for (int32_t j = 0; j < req->dstHeight; j++) {
    const uint8_t *s = req->srcMask + int64_t(b->yIndex[j]) * req->srcMaskBytesPerRow;
    uint8_t *d = req->dstMask + int64_t(j) * req->dstMaskBytesPerRow;
    for (int32_t i = 0; i < req->dstWidth; i++) SetMaskBit(d, i, GetMaskBit(s, req->srcMaskBit + b->xIndex[i]));
  }
}

bool SizesValid(const qmScaleRequest *req) {
  return req->srcWidth >= 1 && req->srcHeight >= 1 && req->dstWidth >= 1 && req->dstHeight >= 1;
}

} // namespace

int32_t EnsureScaleBuffers(qmScaleBuffers *b, int32_t width, int32_t height) {
  if (width < 1 || height < 1) return ERR_MEM;
  if (b->width >= width && b->height >= height) return 0;
  qmScaleBuffers grown{};
  grown.width = std::max(width, b->width);
  grown.height = std::max(height, b->height);
  uint32_t cols = uint32_t(grown.width) + 1, rows = uint32_t(grown.height) + 1;
  grown.xIndex = static_cast<int32_t *>(MemAlloc(cols * 4, 0));
  grown.xFrac = static_cast<int32_t *>(MemAlloc(cols * 4, 0));
  grown.yIndex = static_cast<int32_t *>(MemAlloc(rows * 4, 0));
  grown.yFrac = static_cast<int32_t *>(MemAlloc(rows * 4, 0));
  grown.rowCache = static_cast<uint32_t *>(MemAlloc(cols * 8, 0));
  if (!grown.xIndex || !grown.xFrac || !grown.yIndex || !grown.yFrac || !grown.rowCache) {
    FreeScaleBuffers(&grown);
    return ERR_MEM;
  }
  FreeScaleBuffers(b);
  *b = grown;
  return 0;
}

void FreeScaleBuffers(qmScaleBuffers *b) {
  MemFree(b->xIndex);
  MemFree(b->xFrac);
  MemFree(b->yIndex);
  MemFree(b->yFrac);
  MemFree(b->rowCache);
  *b = qmScaleBuffers{};
}

void ScaleMaskPixels(const qmScaleRequest *req, float xFactor, float yFactor) {
  if (!SizesValid(req) || !req->srcMask || !req->dstMask) return;
  const int64_t step = int64_t(xFactor * 65536.0f);
  float acc = 0.0f;
  for (int32_t j = 0; j < req->dstHeight; j++, acc += yFactor) {
    int32_t y = std::min(int32_t(acc), req->srcHeight - 1);
    const uint8_t *s = req->srcMask + int64_t(y) * req->srcMaskBytesPerRow;
    uint8_t *d = req->dstMask + int64_t(j) * req->dstMaskBytesPerRow;
    for (int32_t i = 0; i < req->dstWidth; i++) {
      int32_t x = int32_t(std::min<int64_t>((i * step) >> 16, req->srcWidth - 1));
      SetMaskBit(d, i, GetMaskBit(s, req->srcMaskBit + x));
    }
  }
}

void NearestAlphaRowScalar(uint8_t *dst, const uint8_t *srcRow, const int32_t *xIndex, int32_t width, int32_t) {
  for (int32_t i = 0; i < width; i++) dst[i] = srcRow[xIndex[i]];
}

void NearestAlphaRow(uint8_t *dst, const uint8_t *srcRow, const int32_t *xIndex, int32_t width, int32_t srcWidth) {
  QM_AVX2_RETURN(NearestAlphaRowAvx2(dst, srcRow, xIndex, width, srcWidth));
  NearestAlphaRowScalar(dst, srcRow, xIndex, width, srcWidth);
}

void ScalePixels(const qmScaleRequest *req) {
  if (!SizesValid(req)) return;
  const float xFactor = float(req->srcWidth) / float(req->dstWidth);
  const float yFactor = float(req->srcHeight) / float(req->dstHeight);
  if (!req->srcPixels) {
    ScaleMaskPixels(req, xFactor, yFactor);
    return;
  }
  if (!BuffersFit(req)) return;
  const bool pixels = req->bytesPerPixel == 4 && req->dstPixels;
  if (!req->smooth) {
    FillNearestTables(req);
    if (pixels) ScaleNearestFast(req);
    if (req->srcAlpha && req->dstAlpha) ScaleAlphaNearest(req);
    ScaleMaskPixels(req, xFactor, yFactor);
    return;
  }
  FillSmoothTables(req);
  if (pixels) ScaleSmoothFast(req);
  if (req->srcAlpha && req->dstAlpha) ScaleAlphaSmooth(req);
  if (req->srcMask && req->dstMask) ScaleMaskAtSamples(req);
}

int32_t ScaleBlendPixels(const qmScaleRequest *req, const qmTransformTarget *onto) {
  if (req->srcMask || req->dstMask || !req->srcPixels || !req->dstPixels || req->bytesPerPixel != 4 ||
      (req->srcAlpha && !req->dstAlpha))
    return ERR_WRONGUSAGE;
  if (!SizesValid(req)) return 0;
  if (!BuffersFit(req)) return ERR_WRONGUSAGE;
  const int32_t x0 = std::max(onto->x0, 0), x1 = std::min(onto->x1, req->dstWidth);
  const int32_t y0 = std::max(onto->y0, 0), y1 = std::min(onto->y1, req->dstHeight);
  if (x0 >= x1 || y0 >= y1) return 0;
  const int32_t width = x1 - x0;
  const qmScaleBuffers *b = req->buffers;
  // With an alpha plane each row is made in the scratch row and blended; an opaque source's rows
  // are the target's pixels themselves.
  const bool blend = req->srcAlpha != nullptr;
  if (req->smooth) FillSmoothTables(req);
  else FillNearestTables(req);
  SmoothRowPair smoothRows(req, x0, width);
  const uint32_t *previous = nullptr;  // the last row written, for rows that read the same source row
  for (int32_t y = y0; y < y1; y++) {
    uint32_t *out = onto->pixels + int64_t(y + onto->dy) * onto->pitch + x0 + onto->dx;
    uint32_t *row = blend ? req->dstPixels : out;
    if (req->smooth) {
      smoothRows.Mix(row, y);
      if (blend) SmoothAlphaRow(req, req->dstAlpha, y, x0, width);
    } else if (y > y0 && b->yIndex[y] == b->yIndex[y - 1]) {
      if (!blend) std::copy(previous, previous + width, out);
    } else {
      const int64_t sy = b->yIndex[y];
      NearestPixelRow(row, req->srcPixels + sy * req->srcPitch, b->xIndex + x0, width, req->srcWidth);
      if (blend) NearestAlphaRow(req->dstAlpha, req->srcAlpha + sy * req->srcAlphaBytesPerRow, b->xIndex + x0, width,
                                 req->srcWidth);
    }
    previous = out;
    if (blend) {
      const qmBlendRequest r{row, 0, 0, onto->pixels, x0 + onto->dx, y + onto->dy, width, 1, 0, onto->pitch,
                             req->dstAlpha, 0, 0, 0, onto->format};
      BlendAlphaPixels(&r);
    }
  }
  return 0;
}

void ScalePixelsNearestScalar(const qmScaleRequest *req) {
  if (!SizesValid(req)) return;
  const int64_t step = NearestStep(req->srcWidth, req->dstWidth);
  const float yFactor = float(req->srcHeight) / float(req->dstHeight);
  float acc = 0.0f;
  for (int32_t j = 0; j < req->dstHeight; j++, acc += yFactor) {
    int32_t y = std::min(int32_t(acc), req->srcHeight - 1);
    const uint32_t *s = req->srcPixels + int64_t(y) * req->srcPitch;
    uint32_t *d = req->dstPixels + int64_t(j) * req->dstPitch;
    int64_t pos = 0;
    for (int32_t i = 0; i < req->dstWidth; i++, pos += step) d[i] = s[std::min<int64_t>(pos >> 16, req->srcWidth - 1)];
  }
}

void ScalePixelsSmoothScalar(const qmScaleRequest *req) {
  if (!SizesValid(req)) return;
  const int64_t xs = SmoothStep(req->srcWidth, req->dstWidth), ys = SmoothStep(req->srcHeight, req->dstHeight);
  const uint32_t colourMask = ~FourthByteMask(req->format);
  for (int32_t j = 0; j < req->dstHeight; j++) {
    int32_t y = int32_t((j * ys) >> 16), fy = int32_t((j * ys) & 0xFFFF);
    int32_t y1 = std::min(y + 1, req->srcHeight - 1);
    const uint32_t *r0 = req->srcPixels + int64_t(y) * req->srcPitch;
    const uint32_t *r1 = req->srcPixels + int64_t(y1) * req->srcPitch;
    uint32_t *d = req->dstPixels + int64_t(j) * req->dstPitch;
    for (int32_t i = 0; i < req->dstWidth; i++) {
      int32_t x = int32_t((i * xs) >> 16), fx = int32_t((i * xs) & 0xFFFF);
      int32_t x1 = std::min(x + 1, req->srcWidth - 1);
      uint32_t out = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        int32_t c00 = (r0[x] >> shift) & 0xFF, c10 = (r0[x1] >> shift) & 0xFF;
        int32_t c01 = (r1[x] >> shift) & 0xFF, c11 = (r1[x1] >> shift) & 0xFF;
        int32_t top = c00 + (((c10 - c00) * fx) >> 16);
        int32_t bottom = c01 + (((c11 - c01) * fx) >> 16);
        out |= uint32_t((top + (((bottom - top) * fy) >> 16)) & 0xFF) << shift;
      }
      d[i] = out & colourMask;
    }
  }
}
