#include "display/bgpicload.h"

#include <string>

#include "display/brush.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "graphics/bitmapops.h"
#include "graphics/imagecache.h"
#include "media/image/imageload.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/rttags.h"

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

namespace {
// Background pictures keep their cache entries apart from the brushes', which may decode an
// ILBM file with another pen.
std::string CacheKey(const char *name) { return std::string("bgpic:") + name; }
}  // namespace

namespace {
// The planes of decoded pixels: a mask from the colour key (kNoTransparency: none), an alpha
// channel when asked; over a fill (style 1 to 3) a picture with a mask or alpha is laid on the
// fill and keeps neither, and *key becomes kNoTransparency. 0 or ERR_MEM (nothing made).
uint32_t MakeLoadedPlanes(const uint32_t *pixels, int32_t w, int32_t h, uint32_t *key, int32_t loadAlpha,
                          const qmFillStyle &fill, qmPlaneSet *out) {
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  uint32_t code = uint32_t(BitmapFromArgb(pixels, *key, w, h, w, 0, &bitmap, &mask));
  if (!code && loadAlpha) {
    alpha = AllocAlphaChannel(w, h, 0);
    if (alpha) ArgbToAlphaChannel(pixels, w, h, w, alpha->memory, alpha->bytesPerRow);
    else code = ERR_MEM;
  }
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
      *key = kNoTransparency;
    } else {
      FreeBitmap(under);
    }
  }
  if (code) {
    FreeBitmap(bitmap);
    FreeMask(mask);
    FreeAlphaChannel(alpha);
    return code;
  }
  *out = {bitmap, mask, alpha};
  return 0;
}
}  // namespace

uint32_t LoadBGPicCore(qmObjectRegistry *objects, qmObjectId *id, const char *file, uint32_t *paletteIn,
                       uint32_t transparentColor, int32_t loadAlpha, const qmFillStyle *fillIn, const char *cache,
                       const char *cachedLoad, qmBGPic **out, const qmFormatPlugins *plugins,
                       qmImageCache *images) {
  if (loadAlpha && transparentColor != kNoTransparency) return ERR_MASKNALPHA;
  qmFillStyle fill{};
  if (fillIn) fill = *fillIn;
  fill.textureBitmap = nullptr;
  if (uint32_t code = AttachFillTexture(objects, &fill)) return code;
  uint32_t *pixels = nullptr, *palette = nullptr, loaderKey = kNoTransparency;
  int32_t w = 0, h = 0, hasAlpha = 0, forcedAlpha = 0;
  const bool declaring = DeclarationsRunning();
  uint32_t alphaWord = 0, code = 0;
  if (declaring && !paletteIn && cachedLoad && *cachedLoad &&
      FindCachedImage(images, CacheKey(cachedLoad).c_str(), &w, &h, &loaderKey, &alphaWord, &pixels) == 0) {
    hasAlpha = int32_t(alphaWord);
  } else {
    code = LoadImageWithPlugins(plugins, file, paletteIn, -1, 0, &pixels, &palette, &loaderKey, &w, &h, &hasAlpha,
                                {&forcedAlpha, nullptr});
    // A picture with a palette of its own (ILBM), or one a plug-in wants loaded with its alpha
    // channel, is decoded for each declaration.
    if (!code && declaring && !paletteIn && cache && *cache && !palette && !forcedAlpha)
      code = AddCachedImage(images, CacheKey(cache).c_str(), w, h, loaderKey, uint32_t(hasAlpha), pixels);
  }
  // A plug-in may ask for its picture's alpha channel to be loaded always.
  if (forcedAlpha && transparentColor == kNoTransparency) loadAlpha = 1;
  if (!code && loadAlpha && !hasAlpha) code = ERR_NOALPHA;  // the loader left the file name as argument
  // The picture's own transparent colour wins over the one asked for.
  uint32_t key = loaderKey != kNoTransparency ? loaderKey & 0xFFFFFF : transparentColor;
  // While the declarations run the picture keeps its decoded pixels; its planes are made when
  // the first display opens.
  qmPlaneSet planes{};
  if (!code && !declaring) code = MakeLoadedPlanes(pixels, w, h, &key, loadAlpha, fill, &planes);
  qmBGPic *pic = nullptr;
  if (!code) code = NewBGPicRecord(objects, id, 0, w, h, planes, key, &fill, &pic);
  if (code) {
    FreePlaneSet(&planes);
    FreeImagePixels(pixels);
    FreeImagePixels(palette);
    FreeBitmap(fill.textureBitmap);
    return code;
  }
  if (declaring) {
    pic->preloadPixels = pixels;
    pic->preloadAlpha = loadAlpha ? 1 : 0;
  } else {
    FreeImagePixels(pixels);
  }
  pic->palette = palette;
  if (out) *out = pic;
  return 0;
}

uint32_t RealizeBGPic(qmBGPic *pic) {
  if (!pic->preloadPixels) return 0;
  uint32_t key = pic->transparentColor;
  qmPlaneSet planes{};
  if (uint32_t code = MakeLoadedPlanes(pic->preloadPixels, pic->masterWidth, pic->masterHeight, &key,
                                       int32_t(pic->preloadAlpha), pic->fill, &planes))
    return code;
  FreeImagePixels(pic->preloadPixels);
  pic->preloadPixels = nullptr;
  pic->shown = pic->unscaled = pic->master = planes;
  pic->transparentColor = key;
  return 0;
}

uint32_t RealizePreloadedBGPic(const qmObjectRegistry *objects, const qmObjectId *id, int32_t *failedLine) {
  auto *pic = reinterpret_cast<qmBGPic *>(FindObject(objects, QMTYPE_BGPIC, id));
  if (!pic || pic->deleted) return 0;
  uint32_t code = RealizeBGPic(pic);
  if (code && failedLine) *failedLine = pic->declLine;
  return code;
}

uint32_t RealizePreloadedBGPics(const qmObjectRegistry *objects, int32_t *failedLine) {
  for (qmObjectHeader *h = FirstObject(objects, QMTYPE_BGPIC); h; h = h->next)
    if (uint32_t code = RealizeBGPic(reinterpret_cast<qmBGPic *>(h))) {
      if (failedLine) *failedLine = reinterpret_cast<qmBGPic *>(h)->declLine;
      return code;
    }
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
