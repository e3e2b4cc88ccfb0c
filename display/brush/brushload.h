// Loading a brush from a picture file through the image loader.
#pragma once
#include <cstdint>

#include "display/brush.h"

struct qmFormatPlugins;
struct qmImageCache;

struct qmBrushLoadOptions {
  uint32_t transparentColor;  // 0xRRGGBB keyed into a mask, or kNoTransparentColor
  int32_t pen;                // palette index made transparent by palette readers; -1 none
  int32_t loaderFlag;         // handed to the picture readers as it is
  int32_t loadAlpha;
  int32_t globalAlpha;        // -1 none; else 0..255 for the whole picture
  int32_t x, y, width, height;  // the part that becomes the brush; 0 sizes: the rest of the picture
  int32_t hardware;
  const char *cache;        // while declarations run: keep the decoded picture under this name
  const char *cachedLoad;   // while declarations run: take the picture kept under this name
  const qmFormatPlugins *plugins;  // image-loader plug-ins asked first; null: none
  qmImageCache *images;            // the run's cache the two names refer to; null: none
};

inline constexpr qmBrushLoadOptions kDefaultBrushLoad{kNoTransparentColor, -1, 0, 0, -1, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr};

// Decodes the file (a plain path or a ":::chunk" name) and appends the brush. 0 or
// ERR_MASKNALPHA (checked before the file is read), the loader's error, ERR_NOALPHA (alpha
// asked of a picture without it), ERR_NEGCOORDS,
// ERR_COORDSRANGE or ERR_MEM; nothing is left behind on failure.
uint32_t LoadBrushCore(qmObjectRegistry *objects, qmObjectId *id, const char *file, const qmBrushLoadOptions *options,
                       qmBrush **out);
