// Loading a brush from a picture file: the options of LoadBrush, the decoding through the
// image loader, the crop rectangle, the global alpha and the colour-key mask.
#include "display/brush/brushload.h"

#include "display/brush.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "graphics/alphaops.h"
#include "graphics/imagecache.h"
#include "media/image/imageload.h"
#include "media/image/pluginimage.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/rttags.h"

uint32_t LoadBrushCore(qmObjectRegistry *objects, qmObjectId *id, const char *file, const qmBrushLoadOptions *o,
                       qmBrush **out) {
  if ((o->loadAlpha || o->globalAlpha != -1) && o->transparentColor != kNoTransparentColor) return ERR_MASKNALPHA;
  uint32_t *pixels = nullptr;
  uint32_t loaderKey = kNoTransparentColor;
  int32_t w = 0, h = 0, hasAlpha = 0, forcedAlpha = 0;
  qmPluginImage *vector = nullptr;
  // While the applet's declarations run, a file declared again is taken from the graphics
  // cache instead of being decoded again.
  const bool declaring = DeclarationsRunning();
  if (declaring && o->cachedLoad && *o->cachedLoad) {
    uint32_t alphaWord = 0;
    if (uint32_t code = FindCachedImage(o->images, o->cachedLoad, &w, &h, &loaderKey, &alphaWord, &pixels)) return code;
    hasAlpha = int32_t(alphaWord);
  } else {
    if (uint32_t code = LoadImageWithPlugins(o->plugins, file, nullptr, o->pen, o->loaderFlag, &pixels, nullptr,
                                             &loaderKey, &w, &h, &hasAlpha, {&forcedAlpha, &vector}))
      return code;
    // A vector picture stays one while the brush is the whole picture as loaded.
    const bool whole = o->x == 0 && o->y == 0 && (o->width == 0 || o->width == w) && (o->height == 0 || o->height == h);
    if (vector && (!whole || o->globalAlpha != -1 || (declaring && o->cache && *o->cache))) {
      ReleasePluginImage(vector);
      vector = nullptr;
    }
    if (declaring && o->cache && *o->cache)
      if (uint32_t code = AddCachedImage(o->images, o->cache, w, h, loaderKey, uint32_t(hasAlpha), pixels)) {
        FreeImagePixels(pixels);
        return code;
      }
  }
  // A plug-in may ask for its picture's alpha channel to be loaded always.
  const int32_t loadAlpha = o->loadAlpha || (forcedAlpha && o->transparentColor == kNoTransparentColor);
  if (loadAlpha && !hasAlpha) {
    ReleasePluginImage(vector);
    FreeImagePixels(pixels);
    return ERR_NOALPHA;  // the loader left the file name as the error argument
  }
  qmAlphaChannel *alpha = nullptr;
  const uint32_t *cropped = nullptr;
  const qmAlphaChannel *croppedAlpha = nullptr;
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  uint32_t key = o->transparentColor;
  uint32_t code = 0;
  // The crop rectangle: 0 means the picture's own size; it is cut to the picture.
  int32_t cw = o->width ? o->width : w, ch = o->height ? o->height : h;
  if (o->x < 0 || o->y < 0) code = ERR_NEGCOORDS;
  else if (o->x >= w || o->y >= h) code = ERR_COORDSRANGE;
  if (!code) {
    if (int64_t(o->x) + cw > w) cw = w - o->x;
    if (int64_t(o->y) + ch > h) ch = h - o->y;
    if (cw < 1 || ch < 1) code = ERR_BADDIMENSIONS;
  }
  if (!code && loadAlpha) {
    alpha = AllocAlphaChannel(w, h, 0);
    if (alpha) ArgbToAlphaChannel(pixels, w, h, w, alpha->memory, alpha->bytesPerRow);
    else code = ERR_MEM;
  }
  if (!code && o->globalAlpha != -1) {
    const int32_t g = o->globalAlpha < 0 ? 0 : o->globalAlpha > 255 ? 255 : o->globalAlpha;
    if (alpha) {
      ScaleAlphaChannel(alpha, alpha, h, g);
    } else if ((alpha = AllocAlphaChannel(w, h, 0)) != nullptr) {
      FillAlphaRect(alpha, 0, 0, w, h, uint8_t(g));
    }  // without memory the brush simply has no alpha
  }
  if (!code) code = CropArgbPixels(pixels, alpha, o->x, o->y, cw, ch, w, h, &cropped, &croppedAlpha);
  // A colour the picture carries itself wins over the one asked for.
  if (loaderKey != kNoTransparentColor) key = loaderKey & 0xFFFFFF;
  // While the declarations run the brush keeps the decoded pixels; its bitmap is made when the
  // first display opens.
  const bool preload = declaring && !o->hardware;
  if (!code && !preload) code = uint32_t(BitmapFromArgb(cropped, key, cw, ch, cw, 0, &bitmap, &mask));
  qmAlphaChannel *brushAlpha = const_cast<qmAlphaChannel *>(croppedAlpha);
  qmBrush *made = nullptr;
  if (!code)
    code = NewBrushRecord(objects, id, vector ? BRUSHKIND_VECTOR : BRUSHKIND_PIXEL, cw, ch, cw, 0, vector, bitmap,
                          key == kNoTransparentColor ? key : key & 0xFFFFFF,
                          mask, brushAlpha, &made);
  if (!code && preload) {
    made->preloadPixels = const_cast<uint32_t *>(cropped);
    if (cropped == pixels) pixels = nullptr;
    cropped = nullptr;
  }
  if (!code && out) *out = made;
  if (cropped != pixels) MemFree(const_cast<uint32_t *>(cropped));
  FreeImagePixels(pixels);
  if (croppedAlpha != alpha) FreeAlphaChannel(alpha);
  if (code) {
    ReleasePluginImage(vector);
    FreeBitmap(bitmap);
    FreeMask(mask);
    FreeAlphaChannel(brushAlpha);
  }
  return code;
}
