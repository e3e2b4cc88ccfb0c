#include "graphics/bitmapops.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/blit_kernels.h"
#include "graphics/flip.h"
#include "graphics/alphaops.h"
#include "graphics/pixelformat.h"
#include "graphics/scale.h"
#include "graphics/transform.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

// The scaler's column and row tables: scratch that grows only, for the main thread alone; the
// graphics library's shut-down frees them with the run.
qmScaleBuffers gScaleTables;

// A rectangle of the top-left width x height cut to the picture.
void CutToBitmap(const qmBitmap *bitmap, int32_t *width, int32_t *height) {
  *width = std::min(*width, bitmap->width);
  *height = std::min(*height, bitmap->height);
}

// The source side and the matrix of a turn of the top-left width x height of the picture, whose
// locked view is sv; the caller fills in the result side.
qmTransformRequest TransformRequestOf(const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha,
                                      const qmBitmapView &sv, int32_t width, int32_t height, const double m[4],
                                      int32_t smooth, double ox, double oy) {
  const int32_t srcW = bitmap ? std::min(width, bitmap->width) : width;
  const int32_t srcH = bitmap ? std::min(height, bitmap->height) : height;
  qmTransformRequest req{};
  req.srcPixels = bitmap ? sv.base : nullptr;
  req.srcMask = mask ? mask->memory : nullptr;
  req.srcAlpha = alpha ? alpha->memory : nullptr;
  req.srcWidth = mask && mask->width ? std::min(srcW, mask->width) : srcW;
  req.srcHeight = mask && mask->height ? std::min(srcH, mask->height) : srcH;
  req.srcPitch = sv.pitch;
  req.srcMaskBytesPerRow = mask ? mask->bytesPerRow : 0;
  req.srcAlphaBytesPerRow = alpha ? alpha->bytesPerRow : 0;
  req.a = m[0], req.b = m[1], req.c = m[2], req.d = m[3], req.e = -ox, req.f = -oy;
  req.smooth = smooth;
  req.format = bitmap ? sv.pixelFormat : QM_BITMAP_FORMAT;
  req.bytesPerPixel = bitmap ? sv.bytesPerPixel : 4;
  return req;
}

// GetTransformedSize at least 1 x 1; false for a picture beyond the limit.
bool TurnedSize(const double m[4], int32_t width, int32_t height, int32_t *tw, int32_t *th, double *ox, double *oy) {
  GetTransformedSize(m, width, height, tw, th, ox, oy);
  *tw = std::max(*tw, 1), *th = std::max(*th, 1);
  return *tw <= QM_MAX_PICTURE_SIDE && *th <= QM_MAX_PICTURE_SIDE;
}

} // namespace

uint32_t ClearBitmapPadding(qmBitmap *bitmap, int32_t paddingOnly) {
  qmBitmapView v;
  if (!LockBitmap(bitmap, &v)) return ERR_LOCKBMAP;
  if (v.bytesPerPixel == 4) {
    if (!paddingOnly) {
      std::memset(v.base, 0, size_t(v.pitch) * 4 * size_t(v.height));
    } else {
      for (int32_t y = 0; y < v.height; y++)
        std::memset(v.base + int64_t(y) * v.pitch + v.width, 0, size_t(v.pitch - v.width) * 4);
    }
  }
  UnlockBitmap();
  return 0;
}

uint32_t FlipBitmap(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width, int32_t height,
                    int32_t direction) {
  qmBitmapView v;
  if (!LockBitmap(bitmap, &v)) return ERR_LOCKBMAP;
  CutToBitmap(bitmap, &width, &height);
  uint8_t *row = nullptr;
  if (mask && direction != 0) {
    row = static_cast<uint8_t *>(MemAlloc(uint32_t(mask->bytesPerRow), 0));
    if (!row) {
      UnlockBitmap();
      return ERR_MEM;
    }
  }
  qmFlipRequest req{v.bytesPerPixel == 4 ? v.base : nullptr,
                    width,
                    height,
                    v.pitch,
                    mask ? mask->memory : nullptr,
                    mask ? mask->bytesPerRow : 0,
                    alpha ? alpha->memory : nullptr,
                    alpha ? alpha->bytesPerRow : 0,
                    direction,
                    v.bytesPerPixel,
                    row};
  FlipPixels(&req);
  MemFree(row);
  UnlockBitmap();
  return 0;
}

uint32_t InvertBitmap(qmBitmap *bitmap, int32_t width, int32_t height, const qmBitmapView *view) {
  qmBitmapView own;
  if (!view) {
    if (!LockBitmap(bitmap, &own)) return ERR_LOCKBMAP;
  }
  const qmBitmapView &v = view ? *view : own;
  if (v.bytesPerPixel == 4)
    InvertPixels(v.base, std::min(width, v.width), std::min(height, v.height), v.pitch);
  if (!view) UnlockBitmap();
  return 0;
}

uint32_t CreateColorKeyMask(const qmBitmap *bitmap, int32_t width, int32_t height, uint32_t rgb, qmMask **out) {
  *out = nullptr;
  qmBitmapView v;
  if (!LockBitmap(bitmap, &v)) return ERR_LOCKBMAP;
  width = std::min(width, v.width);
  height = std::min(height, v.height);
  qmMask *mask = AllocMask(width, height, 1);
  if (!mask) {
    UnlockBitmap();
    return ERR_MEM;
  }
  if (v.bytesPerPixel == 4) {
    const bool low24 = v.pixelFormat == PIXFMT_XRGB || v.pixelFormat == PIXFMT_XBGR;
    const uint32_t compare = low24 ? 0x00FFFFFFu : 0xFFFFFF00u;
    ColorKeyMaskPixels(v.base, mask->memory, width, height, mask->bytesPerRow,
                       ColorToPixel(rgb & 0xFFFFFF, v.pixelFormat) & compare, v.pitch, compare);
  }
  UnlockBitmap();
  *out = mask;
  return 0;
}

uint32_t CopyBitmap(const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t x, int32_t y,
                    int32_t width, int32_t height, int32_t hardware, qmBitmap **bitmapOut, qmMask **maskOut,
                    qmAlphaChannel **alphaOut) {
  // Past the side a command may make, a copy is no larger than a picture that already exists.
  int32_t sourceWidth = 0, sourceHeight = 0;
  for (const auto &[w, h] : {std::pair{bitmap ? bitmap->width : 0, bitmap ? bitmap->height : 0},
                             std::pair{mask ? mask->width : 0, mask ? mask->height : 0},
                             std::pair{alpha ? alpha->width : 0, alpha ? alpha->height : 0}})
    sourceWidth = std::max(sourceWidth, w), sourceHeight = std::max(sourceHeight, h);
  if ((width > QM_MAX_PICTURE_SIDE && width > sourceWidth) || (height > QM_MAX_PICTURE_SIDE && height > sourceHeight))
    return ERR_MEM;
  qmBitmap *b = nullptr;
  qmMask *m = nullptr;
  qmAlphaChannel *a = nullptr;
  if (bitmap) b = hardware ? AllocHardwareBitmap(width, height) : AllocBitmap(width, height);
  if (mask) m = AllocMask(width, height, 1);
  if (alpha) a = AllocAlphaChannel(width, height, 1);
  if ((bitmap && !b) || (mask && !m) || (alpha && !a)) {
    FreeBitmap(b);
    FreeMask(m);
    FreeAlphaChannel(a);
    return ERR_MEM;
  }
  if (m) CopyMaskRect(mask, x, y, m, 0, 0, width, height, MASKVANILLACOPY);
  if (a) CombineAlphaRect(alpha, x, y, a, 0, 0, width, height, 0, 0);
  if (b) BltBitmap(bitmap, x, y, b, 0, 0, width, height);
  if (bitmapOut) *bitmapOut = b; else FreeBitmap(b);
  if (maskOut) *maskOut = m; else FreeMask(m);
  if (alphaOut) *alphaOut = a; else FreeAlphaChannel(a);
  return 0;
}

void GetTransformedSize(const double m[4], int32_t width, int32_t height, int32_t *widthOut, int32_t *heightOut,
                        double *offsetX, double *offsetY) {
  const double cx[4] = {0, double(width), 0, double(width)};
  const double cy[4] = {0, 0, double(height), double(height)};
  double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
  for (int i = 0; i < 4; i++) {
    const double tx = m[0] * cx[i] + m[2] * cy[i], ty = m[1] * cx[i] + m[3] * cy[i];
    minX = std::min(minX, tx), maxX = std::max(maxX, tx);
    minY = std::min(minY, ty), maxY = std::max(maxY, ty);
  }
  // Computed in doubles and held to the int32 range: the caller checks the picture limit.
  *widthOut = int32_t(std::clamp(std::ceil(maxX - minX - 0.5), 0.0, 2147483647.0));
  *heightOut = int32_t(std::clamp(std::ceil(maxY - minY - 0.5), 0.0, 2147483647.0));
  *offsetX = minX;
  *offsetY = minY;
}

uint32_t TransformBitmap(const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t x, int32_t y,
                         int32_t width, int32_t height, const double m[4], int32_t smooth, qmTransformOutputs *out) {
  *out = qmTransformOutputs{};
  const double det = m[0] * m[3] - m[2] * m[1];
  if (det == 0.0 || !std::isfinite(det)) return ERR_WRONGUSAGE;
  if (width < 1 || height < 1) return ERR_WRONGUSAGE;
  // A source rectangle away from the corner is copied first: the kernel reads from (0, 0).
  if (x != 0 || y != 0) {
    qmBitmap *b = nullptr;
    qmMask *mk = nullptr;
    qmAlphaChannel *a = nullptr;
    uint32_t code = CopyBitmap(bitmap, mask, alpha, x, y, width, height, 0, &b, &mk, &a);
    if (code) return code;
    code = TransformBitmap(b, mk, a, 0, 0, width, height, m, smooth, out);
    FreeBitmap(b);
    FreeMask(mk);
    FreeAlphaChannel(a);
    return code;
  }
  int32_t tw, th;
  double ox, oy;
  if (!TurnedSize(m, width, height, &tw, &th, &ox, &oy)) return ERR_MEM;
  qmBitmap *nb = bitmap ? AllocBitmap(tw, th) : nullptr;
  qmAlphaChannel *na = alpha ? AllocAlphaChannel(tw, th, 1) : nullptr;
  qmMask *nm = alpha ? nullptr : AllocMask(tw, th, 1);
  if ((bitmap && !nb) || (alpha && !na) || (!alpha && !nm)) {
    FreeBitmap(nb);
    FreeAlphaChannel(na);
    FreeMask(nm);
    return ERR_MEM;
  }
  qmBitmapView sv{}, dv{};
  if (bitmap && (!LockBitmap(bitmap, &sv) || !LockBitmap(nb, &dv))) {
    FreeBitmap(nb);
    FreeAlphaChannel(na);
    FreeMask(nm);
    return ERR_LOCKBMAP;
  }
  qmTransformRequest req = TransformRequestOf(bitmap, mask, alpha, sv, width, height, m, smooth, ox, oy);
  req.dstPixels = nb ? dv.base : nullptr;
  req.dstMask = nm ? nm->memory : nullptr;
  req.dstAlpha = na ? na->memory : nullptr;
  req.dstWidth = tw;
  req.dstHeight = th;
  req.dstPitch = dv.pitch;
  req.dstMaskBytesPerRow = nm ? nm->bytesPerRow : 0;
  req.dstAlphaBytesPerRow = na ? na->bytesPerRow : 0;
  if (nb) FillPixelsRect(dv.base, dv.pitch, 0, 0, tw, th, 0);
  uint32_t code = uint32_t(TransformPixels(&req));
  if (bitmap) UnlockBitmap(), UnlockBitmap();
  if (code) {
    FreeBitmap(nb);
    FreeAlphaChannel(na);
    FreeMask(nm);
    return ERR_WRONGUSAGE;
  }
  *out = qmTransformOutputs{nb, nm, na, ox, oy};
  return 0;
}

uint32_t TransformBitmapOnto(const qmBitmap *bitmap, const qmAlphaChannel *alpha, int32_t width, int32_t height,
                             const double m[4], int32_t smooth, qmBitmap *target, const qmBlitRect *r) {
  const double det = m[0] * m[3] - m[2] * m[1];
  if (det == 0.0 || !std::isfinite(det)) return ERR_WRONGUSAGE;
  if (width < 1 || height < 1 || !bitmap || !target || bitmap->bytesPerPixel != 4 || target->bytesPerPixel != 4)
    return ERR_WRONGUSAGE;
  int32_t tw, th;
  double ox, oy;
  if (!TurnedSize(m, width, height, &tw, &th, &ox, &oy)) return ERR_MEM;
  // A band of rows of the result at a time, blended while it is still in the cache.
  // Every scratch entry blended is written first, so none is cleared.
  const auto rowPixels = std::make_unique_for_overwrite<uint32_t[]>(size_t(tw) * kTransformBandRows);
  const auto rowAlpha = std::make_unique_for_overwrite<uint8_t[]>(size_t(tw) * kTransformBandRows);
  qmBitmapView sv{}, tv{};
  if (!LockBitmap(bitmap, &sv)) return ERR_LOCKBMAP;
  if (!LockBitmap(target, &tv)) {
    UnlockBitmap();
    return ERR_LOCKBMAP;
  }
  qmTransformRequest req = TransformRequestOf(bitmap, nullptr, alpha, sv, width, height, m, smooth, ox, oy);
  req.dstPixels = rowPixels.get();
  req.dstAlpha = rowAlpha.get();
  req.dstWidth = tw;
  req.dstHeight = th;
  const qmTransformTarget onto{tv.base, tv.pitch, tv.pixelFormat, r->srcX, r->srcY, r->srcX + r->width,
                               r->srcY + r->height, r->dstX - r->srcX, r->dstY - r->srcY};
  const int32_t code = TransformBlendPixels(&req, &onto);
  UnlockBitmap(), UnlockBitmap();
  return code ? uint32_t(ERR_WRONGUSAGE) : 0u;
}

uint32_t ScaleBitmap(const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t srcX,
                     int32_t srcY, qmBitmap *target, int32_t srcWidth, int32_t srcHeight, int32_t targetWidth,
                     int32_t targetHeight, int32_t smooth, qmScaleOutputs *out) {
  if (targetWidth < 1 || targetHeight < 1 || !bitmap) return 0;
  if (targetWidth > QM_MAX_PICTURE_SIDE || targetHeight > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  if (target && (target->width < targetWidth || target->height < targetHeight)) return ERR_WRONGUSAGE;
  // The source rectangle never reaches outside the picture or its planes.
  if (srcX < 0 || srcY < 0) return ERR_WRONGUSAGE;
  srcWidth = std::min<int64_t>(srcWidth, int64_t(bitmap->width) - srcX);
  srcHeight = std::min<int64_t>(srcHeight, int64_t(bitmap->height) - srcY);
  if (srcWidth < 1 || srcHeight < 1) return 0;
  if (EnsureScaleBuffers(&gScaleTables, targetWidth, targetHeight) != 0) return ERR_MEM;
  qmBitmap *nb = target;
  qmMask *nm = nullptr;
  qmAlphaChannel *na = nullptr;
  if (!target) {
    nb = AllocBitmap(targetWidth, targetHeight);
    if (mask) nm = AllocMask(targetWidth, targetHeight, 1);
    if (alpha) na = AllocAlphaChannel(targetWidth, targetHeight, 1);
    if (!nb || (mask && !nm) || (alpha && !na)) {
      FreeBitmap(nb);
      FreeMask(nm);
      FreeAlphaChannel(na);
      return ERR_MEM;
    }
  }
  qmBitmapView sv, dv;
  if (!LockBitmap(bitmap, &sv) || !LockBitmap(nb, &dv)) {
    if (!target) FreeBitmap(nb), FreeMask(nm), FreeAlphaChannel(na);
    return ERR_LOCKBMAP;
  }
  qmScaleRequest req{};
  req.srcPixels = sv.base + int64_t(srcY) * sv.pitch + srcX;
  req.dstPixels = dv.base;
  if (nm) {
    req.srcMask = mask->memory + int64_t(srcY) * mask->bytesPerRow;
    req.dstMask = nm->memory;
    req.srcMaskBit = srcX;
    req.srcMaskBytesPerRow = mask->bytesPerRow;
    req.dstMaskBytesPerRow = nm->bytesPerRow;
  }
  if (na) {
    req.srcAlpha = alpha->memory + int64_t(srcY) * alpha->bytesPerRow + srcX;
    req.dstAlpha = na->memory;
    req.srcAlphaBytesPerRow = alpha->bytesPerRow;
    req.dstAlphaBytesPerRow = na->bytesPerRow;
  }
  req.srcWidth = srcWidth, req.srcHeight = srcHeight;
  req.dstWidth = targetWidth, req.dstHeight = targetHeight;
  req.srcPitch = sv.pitch, req.dstPitch = dv.pitch;
  req.smooth = smooth;
  req.format = sv.pixelFormat;
  req.bytesPerPixel = sv.bytesPerPixel;
  req.buffers = &gScaleTables;
  ScalePixels(&req);
  UnlockBitmap();
  UnlockBitmap();
  if (!target && out) *out = qmScaleOutputs{nb, nm, na};
  else if (!target) FreeBitmap(nb), FreeMask(nm), FreeAlphaChannel(na);
  return 0;
}

uint32_t ScaleBitmapOnto(const qmBitmap *bitmap, const qmAlphaChannel *alpha, int32_t width, int32_t height,
                         int32_t targetWidth, int32_t targetHeight, int32_t smooth, qmBitmap *target, const qmBlitRect *r) {
  if (!bitmap || !target || bitmap->bytesPerPixel != 4 || target->bytesPerPixel != 4) return ERR_WRONGUSAGE;
  if (targetWidth < 1 || targetHeight < 1) return 0;
  if (targetWidth > QM_MAX_PICTURE_SIDE || targetHeight > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  CutToBitmap(bitmap, &width, &height);
  if (width < 1 || height < 1 || r->width < 1 || r->height < 1) return 0;
  if (EnsureScaleBuffers(&gScaleTables, targetWidth, targetHeight) != 0) return ERR_MEM;
  // One row of the result at a time, blended while it is still in the cache.
  std::vector<uint32_t> rowPixels(alpha ? size_t(r->width) : 1);
  std::vector<uint8_t> rowAlpha(alpha ? size_t(r->width) : 1);
  qmBitmapView sv{}, tv{};
  if (!LockBitmap(bitmap, &sv)) return ERR_LOCKBMAP;
  if (!LockBitmap(target, &tv)) {
    UnlockBitmap();
    return ERR_LOCKBMAP;
  }
  qmScaleRequest req{};
  req.srcPixels = sv.base;
  req.dstPixels = rowPixels.data();
  if (alpha) {
    req.srcAlpha = alpha->memory;
    req.dstAlpha = rowAlpha.data();
    req.srcAlphaBytesPerRow = alpha->bytesPerRow;
  }
  req.srcWidth = width, req.srcHeight = height;
  req.dstWidth = targetWidth, req.dstHeight = targetHeight;
  req.srcPitch = sv.pitch;
  req.smooth = smooth;
  req.format = sv.pixelFormat;
  req.bytesPerPixel = 4;
  req.buffers = &gScaleTables;
  const qmTransformTarget onto{tv.base, tv.pitch, tv.pixelFormat, r->srcX, r->srcY, r->srcX + r->width,
                               r->srcY + r->height, r->dstX - r->srcX, r->dstY - r->srcY};
  const int32_t code = ScaleBlendPixels(&req, &onto);
  UnlockBitmap(), UnlockBitmap();
  return code ? uint32_t(ERR_WRONGUSAGE) : 0u;
}

void FreeScaleTables() { FreeScaleBuffers(&gScaleTables); }
