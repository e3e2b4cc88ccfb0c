#include "display/brush/brushedit.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "display/displaytags.h"
#include "display/scene.h"
#include "graphics/alphaops.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/bitmap_effects.h"
#include "graphics/bitmapops.h"
#include "graphics/colors.h"
#include "graphics/floodfill.h"
#include "graphics/pixelformat.h"
#include "media/image/pluginimage.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"

namespace {

bool MaskBit(const qmMask *m, int32_t x, int32_t y) {
  return m->memory[size_t(y) * m->bytesPerRow + (x >> 3)] & (0x80 >> (x & 7));
}

void SetMaskBit(qmMask *m, int32_t x, int32_t y, bool on) {
  uint8_t &byte = m->memory[size_t(y) * m->bytesPerRow + (x >> 3)];
  const uint8_t bit = uint8_t(0x80 >> (x & 7));
  byte = on ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
}

bool Inside(const qmBrush *b, int32_t x, int32_t y) { return x >= 0 && y >= 0 && x < b->width && y < b->height; }

}  // namespace

uint32_t FindBrushToEdit(VmState *L, const qmObjectId *id, qmBrush **out, int32_t flags) {
  if (uint32_t code = CheckNotSelectedBrush(GetScene(L), id)) return code;
  const int32_t kinds = (flags & FINDBRUSH_HARDWARE) ? FINDBRUSH_HARDWARE : FINDBRUSH_NOVECTOR;
  return FindBrush(ObjectRegistryOf(L), id, out, FINDBRUSH_MODIFY | kinds);
}

uint32_t FreeOldBrushOfId(VmState *L, const qmObjectId &id) { return id.handle ? 0 : FreeBrushNode(GetScene(L), &id, 0); }

// A vector brush drawn anew by its plug-in onto planes of width x height, which replace its own.
uint32_t RenderVectorBrush(qmBrush *b, const double values[6], int32_t width, int32_t height, bool turned) {
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  int32_t ownMask = 0;
  if (uint32_t code = RenderVectorBrushPlanes(b, values, width, height, turned, &bitmap, &mask, &alpha, &ownMask))
    return code;
  if (ownMask) b->transparentColor = kOwnMaskColor;
  ReplaceBrushPlanes(b, bitmap, mask, alpha, width, height);
  return 0;
}

uint32_t ScaleBrushCore(qmBrush *b, double w, double h, int32_t smooth) {
  if (!(w >= 1 && h >= 1)) return ERR_BADDIMENSIONS;
  if ((w > QM_MAX_PICTURE_SIDE && w != kKeepAspect) || (h > QM_MAX_PICTURE_SIDE && h != kKeepAspect)) return ERR_MEM;
  int32_t width = int32_t(w), height = int32_t(h);
  if (uint32_t code = ApplyKeepAspect(b->width, b->height, &width, &height)) return code;
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  if (width > QM_MAX_PICTURE_SIDE || height > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  if (width == b->width && height == b->height) return 0;
  if (b->kind == BRUSHKIND_VECTOR) {
    const auto *source = static_cast<const qmPluginImage *>(b->sourceImage);
    const double values[6] = {double(width) / source->width, 0, 0, double(height) / source->height, 0, 0};
    return RenderVectorBrush(b, values, width, height, false);
  }
  qmScaleOutputs o{};
  if (uint32_t code = ScaleBitmap(b->bitmap, b->mask, b->alpha, 0, 0, nullptr, b->width, b->height, width, height,
                                  smooth, &o))
    return code;
  if (!o.bitmap) return ERR_MEM;
  ReplaceBrushPlanes(b, o.bitmap, o.mask, o.alpha, width, height);
  return 0;
}

uint32_t TransformBrushCore(const qmDisplay *display, qmBrush *b, const double m[4], int32_t smooth) {
  int64_t w = 0, h = 0;
  PredictTransformedSize(display, m, b->width, b->height, &w, &h);
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  if (b->kind == BRUSHKIND_VECTOR) {
    // The plug-in draws the picture as loaded through its present scale, then the matrix, moved
    // so that the turned box starts at (0, 0).
    const auto *source = static_cast<const qmPluginImage *>(b->sourceImage);
    const double sx = double(b->width) / source->width, sy = double(b->height) / source->height;
    double x0 = 0, y0 = 0;
    const double W = b->width, H = b->height;
    const double corners[3][2] = {{W, 0}, {0, H}, {W, H}};
    for (const auto &c : corners) {
      x0 = std::min(x0, m[0] * c[0] + m[2] * c[1]);
      y0 = std::min(y0, m[1] * c[0] + m[3] * c[1]);
    }
    const double values[6] = {m[0] * sx, m[1] * sx, m[2] * sy, m[3] * sy, -x0, -y0};
    if (uint32_t code = RenderVectorBrush(b, values, int32_t(std::max<int64_t>(w, 1)), int32_t(std::max<int64_t>(h, 1)),
                                          !(m[1] == 0 && m[2] == 0)))
      return code;
    b->transformed = 1;
    return 0;
  }
  qmTransformOutputs o{};
  if (uint32_t code = TransformBitmap(b->bitmap, b->mask, b->alpha, 0, 0, b->width, b->height, m, smooth, &o))
    return code;
  if (!o.bitmap) return ERR_MEM;
  // A turned brush without alpha comes back with a mask that hides the corners: its own.
  if (o.mask && !b->mask) b->transparentColor = kOwnMaskColor;
  ReplaceBrushPlanes(b, o.bitmap, o.mask, o.alpha, o.bitmap->width, o.bitmap->height);
  return 0;
}

uint32_t ReplaceBrushColors(qmBrush *b, const uint32_t *pairs, int32_t count) {
  qmBitmapView v;
  if (!LockBitmap(b->bitmap, &v)) return ERR_LOCKBMAP;
  if (v.bytesPerPixel == 4) {
    std::vector<uint32_t> words;
    words.reserve(size_t(count) * 2 + 1);
    for (int32_t i = 0; i < count; i++) {
      words.push_back(ColorToPixel(pairs[2 * i], v.pixelFormat));
      words.push_back(ColorToPixel(pairs[2 * i + 1], v.pixelFormat));
    }
    words.push_back(0xFFFFFFFFu);
    ReplaceColorsPixels(b->width, b->height, words.data(), v.base, v.pitch, CompareMaskForFormat(v.pixelFormat));
  }
  UnlockBitmap();
  return 0;
}

uint32_t SetBrushTransparencyCore(qmBrush *b, uint32_t color) {
  qmMask *mask = nullptr;
  if (color != kNoTransparentColor)
    if (uint32_t code = CreateColorKeyMask(b->bitmap, b->width, b->height, color & 0xFFFFFF, &mask)) return code;
  FreeMask(b->mask);
  FreeAlphaChannel(b->alpha);
  b->mask = mask;
  b->alpha = nullptr;
  b->transparentColor = color == kNoTransparentColor ? color : (color & 0xFFFFFF);
  return 0;
}

uint32_t CropBrushCore(qmBrush *b, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (x < 0 || y < 0) return ERR_NEGCOORDS;
  if (x >= b->width || y >= b->height) return ERR_COORDSRANGE;
  if (int64_t(x) + width > b->width) width = b->width - x;
  if (int64_t(y) + height > b->height) height = b->height - y;
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  if (uint32_t code = CopyBitmap(b->bitmap, b->mask, b->alpha, x, y, width, height, 0, &bitmap, &mask, &alpha))
    return code;
  ReplaceBrushPlanes(b, bitmap, mask, alpha, width, height);
  return 0;
}

uint32_t InvertPlane(qmMask *plane, int32_t rows) {
  if (!plane) return ERR_WRONGUSAGE;
  InvertBytes(plane->memory, rows, plane->bytesPerRow);
  return 0;
}

uint32_t FloodFillBrush(qmBrush *b, int32_t x, int32_t y, uint32_t border, uint32_t fill) {
  if (x < 0 || y < 0) return ERR_NEGCOORDS;
  if (x >= b->width || y >= b->height) return ERR_COORDSRANGE;
  qmBitmapView v;
  if (!LockBitmap(b->bitmap, &v)) return ERR_LOCKBMAP;
  uint32_t code = 0;
  if (v.bytesPerPixel == 4)
  {
    const qmFillRequest req{v.base, b->width, b->height, v.pitch, ColorToPixel(border & 0xFFFFFF, v.pixelFormat),
                            ColorToPixel(fill & 0xFFFFFF, v.pixelFormat), 0, 0};
    code = uint32_t(FloodFillPixels(&req, x, y, CompareMaskForFormat(v.pixelFormat)));
  }
  UnlockBitmap();
  return code;
}

uint32_t TrimBrushCore(qmBrush *b, int32_t *left, int32_t *top) {
  *left = 0, *top = 0;
  if (!b->mask && !b->alpha) return 0;
  int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = -1, maxY = -1;
  for (int32_t y = 0; y < b->height; y++)
    for (int32_t x = 0; x < b->width; x++) {
      const bool seen = b->mask ? MaskBit(b->mask, x, y) : b->alpha->memory[size_t(y) * b->alpha->bytesPerRow + x] != 0;
      if (!seen) continue;
      minX = std::min(minX, x), maxX = std::max(maxX, x);
      minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
  if (maxX < 0) return ERR_TRANSBRUSH;
  const int32_t w = maxX - minX + 1, h = maxY - minY + 1;
  if (w != b->width || h != b->height)
    if (uint32_t code = CropBrushCore(b, minX, minY, w, h)) return code;
  *left = minX, *top = minY;
  return 0;
}

uint32_t ChangeBrushTransparencyCore(qmBrush *b, int32_t type) {
  const int32_t w = b->width, h = b->height;
  if (type == int32_t(QMTYPE_MASK)) {
    if (b->mask) return 0;
    qmMask *m = AllocMask(w, h, 1);
    if (!m) return ERR_MEM;
    for (int32_t y = 0; y < h; y++)
      for (int32_t x = 0; x < w; x++)
        SetMaskBit(m, x, y, !b->alpha || b->alpha->memory[size_t(y) * b->alpha->bytesPerRow + x] != 0);
    FreeAlphaChannel(b->alpha);
    b->alpha = nullptr, b->mask = m;
    b->transparentColor = kOwnMaskColor;
    return 0;
  }
  if (type == int32_t(QMTYPE_ALPHACHANNEL)) {
    if (b->alpha) return 0;
    qmAlphaChannel *a = AllocAlphaChannel(w, h, 1);
    if (!a) return ERR_MEM;
    if (b->mask) MaskToAlphaRect(b->mask, 0, 0, a, 0, 0, w, h, 255);
    else FillAlphaRect(a, 0, 0, w, h, 255);
    FreeMask(b->mask);
    b->mask = nullptr, b->alpha = a;
    b->transparentColor = kNoTransparentColor;
    return 0;
  }
  if (type != -1) return ERR_WRONGUSAGE;
  FreeMask(b->mask);
  FreeAlphaChannel(b->alpha);
  b->mask = nullptr, b->alpha = nullptr;
  b->transparentColor = kNoTransparentColor;
  return 0;
}

uint32_t DistortBrushCore(qmBrush *b, int32_t method, int32_t paramCount, const double *params, int32_t smooth) {
  qmDistortOutputs o{};
  if (uint32_t code =
          DistortBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, method, paramCount, params, smooth, &o))
    return code;
  // Without planes of its own the brush comes back with a mask that hides what fell outside.
  if (o.mask && !b->mask) b->transparentColor = kOwnMaskColor;
  ReplaceBrushPlanes(b, o.bitmap, o.mask, o.alpha, o.width, o.height);
  return 0;
}

void ReadBrushPixelAt(const qmBrush *b, int32_t x, int32_t y, uint32_t *rgb, int32_t *plane) {
  if (!Inside(b, x, y)) {
    *rgb = 0xFFFFFFFFu;
    *plane = -1;
    return;
  }
  *rgb = GetBitmapPixel(b->bitmap, x, y, 0) & 0xFFFFFF;
  if (b->mask) *plane = MaskBit(b->mask, x, y) ? 1 : 0;
  else if (b->alpha) *plane = b->alpha->memory[size_t(y) * b->alpha->bytesPerRow + x];
  else *plane = -1;
}

void WriteBrushPixelAt(qmBrush *b, int32_t x, int32_t y, uint32_t color, int32_t transparency) {
  if (!Inside(b, x, y)) return;
  SetBitmapPixel(b->bitmap, x, y, color & 0xFFFFFF, 0);
  if (transparency == -1) return;
  if (b->mask) SetMaskBit(b->mask, x, y, transparency == 0);
  else if (b->alpha) b->alpha->memory[size_t(y) * b->alpha->bytesPerRow + x] = uint8_t(transparency);
}

uint32_t BrushPixelArgb(const qmBrush *b, const qmBitmapView &v, int32_t x, int32_t y, bool inverted) {
  const uint32_t rgb = PixelToCanonical(v.pixelFormat, v.base[size_t(y) * v.pitch + x]) & 0xFFFFFF;
  uint32_t a = 255;
  if (b->alpha) a = b->alpha->memory[size_t(y) * b->alpha->bytesPerRow + x];
  else if (b->mask) a = MaskBit(b->mask, x, y) ? 255 : 0;
  if (inverted) a = 255 - a;
  return a << 24 | rgb;
}

void SetBrushPixelArgb(qmBrush *b, const qmBitmapView &v, int32_t x, int32_t y, uint32_t argb, bool inverted) {
  uint32_t &word = v.base[size_t(y) * v.pitch + x];
  word = CanonicalToPixel(v.pixelFormat, argb & 0xFFFFFF) | (word & FourthByteMask(v.pixelFormat));
  uint32_t a = argb >> 24;
  if (inverted) a = 255 - a;
  if (b->mask) SetMaskBit(b->mask, x, y, a != 0);
  else if (b->alpha) b->alpha->memory[size_t(y) * b->alpha->bytesPerRow + x] = uint8_t(a);
}
