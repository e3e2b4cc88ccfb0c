#include "display/bgpicload.h"

#include "display/brush.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "graphics/bitmapops.h"
#include "media/image/imageload.h"
#include "runtime/errcodes.h"

uint32_t AttachFillTexture(const qmObjectRegistry *objects, qmFillStyle *fill) {
  if (fill->fillStyle != FILLTEXTURE) return 0;
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(objects, &fill->textureBrush, &b, 0)) return code;
  qmBitmap *copy = nullptr;
  if (uint32_t code = CopyBitmap(b->bitmap, nullptr, nullptr, 0, 0, b->width, b->height, 0, &copy, nullptr, nullptr))
    return code;
  FreeBitmap(fill->textureBitmap);
  fill->textureBitmap = copy;
  fill->textureWidth = b->width;
  fill->textureHeight = b->height;
  return 0;
}

uint32_t LoadBGPicCore(qmObjectRegistry *objects, qmObjectId *id, const char *file, uint32_t *paletteIn,
                       uint32_t transparentColor, int32_t loadAlpha, const qmFillStyle *fillIn, qmBGPic **out,
                       const qmFormatPlugins *plugins) {
  if (loadAlpha && transparentColor != kNoTransparency) return ERR_MASKNALPHA;
  qmFillStyle fill{};
  if (fillIn) fill = *fillIn;
  fill.textureBitmap = nullptr;
  if (uint32_t code = AttachFillTexture(objects, &fill)) return code;
  uint32_t *pixels = nullptr, *palette = nullptr, loaderKey = kNoTransparency;
  int32_t w = 0, h = 0, hasAlpha = 0, forcedAlpha = 0;
  uint32_t code = LoadImageWithPlugins(plugins, file, paletteIn, -1, 0, &pixels, &palette, &loaderKey, &w, &h,
                                       &hasAlpha, {&forcedAlpha, nullptr});
  // A plug-in may ask for its picture's alpha channel to be loaded always.
  if (forcedAlpha && transparentColor == kNoTransparency) loadAlpha = 1;
  if (!code && loadAlpha && !hasAlpha) code = ERR_NOALPHA;  // the loader left the file name as argument
  // The picture's own transparent colour wins over the one asked for.
  uint32_t key = loaderKey != kNoTransparency ? loaderKey & 0xFFFFFF : transparentColor;
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  if (!code) code = uint32_t(BitmapFromArgb(pixels, key, w, h, w, 0, &bitmap, &mask));
  if (!code && loadAlpha) {
    alpha = AllocAlphaChannel(w, h, 0);
    if (alpha) ArgbToAlphaChannel(pixels, w, h, w, alpha->memory, alpha->bytesPerRow);
    else code = ERR_MEM;
  }
  FreeImagePixels(pixels);
  // Over a fill the picture is composed once and keeps no planes.
  if (!code && fill.fillStyle != FILLNONE && (mask || alpha)) {
    qmBitmap *under = AllocBitmap(w, h);
    if (!under) code = ERR_MEM;
    if (!code) code = FillPictureFromStyle(under, w, h, &fill);
    if (!code) {
      if (alpha) BltAlphaBitmap(bitmap, 0, 0, under, 0, 0, w, h, alpha);
      else BltMask(bitmap, 0, 0, under, 0, 0, w, h, mask);
      FreeBitmap(bitmap);
      FreeMask(mask);
      FreeAlphaChannel(alpha);
      bitmap = under, mask = nullptr, alpha = nullptr;
      key = kNoTransparency;
    } else {
      FreeBitmap(under);
    }
  }
  qmBGPic *pic = nullptr;
  if (!code) code = NewBGPicRecord(objects, id, 0, w, h, {bitmap, mask, alpha}, key, &fill, &pic);
  if (code) {
    FreeBitmap(bitmap);
    FreeMask(mask);
    FreeAlphaChannel(alpha);
    FreeImagePixels(palette);
    FreeBitmap(fill.textureBitmap);
    return code;
  }
  pic->palette = palette;
  if (out) *out = pic;
  return 0;
}

uint32_t BrushToBGPicCore(qmObjectRegistry *objects, const qmBrush *b, qmObjectId *id, qmBGPic **out) {
  if (b->kind == BRUSHKIND_VECTOR && b->transformed) return ERR_TFVBRUSHBGPIC;
  qmPlaneSet set{};
  if (uint32_t code = CopyBitmap(b->bitmap, b->mask, b->alpha, 0, 0, b->width, b->height, 0, &set.bitmap, &set.mask,
                                 &set.alpha))
    return code;
  const uint32_t key = b->transparentColor == kNoTransparentColor ? kNoTransparency : b->transparentColor;
  if (uint32_t code = NewBGPicRecord(objects, id, b->kind, b->width, b->height, set, key, nullptr, out)) {
    FreeBitmap(set.bitmap);
    FreeMask(set.mask);
    FreeAlphaChannel(set.alpha);
    return code;
  }
  return 0;
}

uint32_t BGPicToBrushCore(qmObjectRegistry *objects, const qmBGPic *pic, qmObjectId *id, qmBrush **out) {
  if (pic->kind == 1 && pic->pluginImage &&
      (pic->unscaledWidth != pic->masterWidth || pic->unscaledHeight != pic->masterHeight))
    return ERR_TFVBGPICBRUSH;
  const qmPlaneSet &s = pic->unscaled;
  const int32_t w = pic->unscaledWidth, h = pic->unscaledHeight;
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  if (uint32_t code = CopyBitmap(s.bitmap, s.mask, s.alpha, 0, 0, w, h, 0, &bitmap, &mask, &alpha)) return code;
  const uint32_t kind = BRUSHKIND_PIXEL;  // no picture here re-renders from a source
  if (uint32_t code = NewBrushRecord(objects, id, kind, w, h, w, 0, nullptr, bitmap, pic->transparentColor, mask, alpha,
                                     out)) {
    FreeBitmap(bitmap);
    FreeMask(mask);
    FreeAlphaChannel(alpha);
    return code;
  }
  return 0;
}
