// Background pictures made from picture files and from brushes, and brushes made from
// background pictures.
#pragma once
#include <cstdint>

#include "display/bgpic.h"

struct qmBrush;
struct qmObjectRegistry;
struct qmFormatPlugins;
struct qmImageCache;

// A fill of style FILLTEXTURE gets a private copy of its texture brush's bitmap (an older copy
// is freed); other styles are left alone. 0, ERR_MEM or the missing-brush error.
uint32_t AttachFillTexture(const qmObjectRegistry *objects, qmFillStyle *fill);

// Decodes the file into a new background picture: a mask from the transparent colour (or the
// picture's own), an alpha channel when asked; with a fill (style 1 to 3) a picture with a
// mask or alpha is laid over the fill and keeps neither. paletteIn (256 entries ended by
// 0xFFFFFFFF) or null. 0, ERR_MASKNALPHA, ERR_NOALPHA, the loader's error or ERR_MEM; nothing
// is left behind on failure. Image-loader plug-ins (may be null) are asked first.
// While the applet's declarations run, a picture file declared more than once is decoded once:
// the first declaration names it to cache (the decoded picture is kept under that name), the
// later ones name it to cachedLoad (taken from there; decoded when it is not there), both in
// the run's cache images. Null names, or names given outside the declarations, change nothing.
uint32_t LoadBGPicCore(qmObjectRegistry *objects, qmObjectId *id, const char *file, uint32_t *paletteIn,
                       uint32_t transparentColor, int32_t loadAlpha, const qmFillStyle *fill, const char *cache,
                       const char *cachedLoad, qmBGPic **out, const qmFormatPlugins *plugins = nullptr,
                       qmImageCache *images = nullptr);

// A picture loaded while the declarations ran keeps its decoded pixels: its planes are made
// (RealizeBGPic: 0 or ERR_MEM, nothing changed on failure) when the first display opens
// (RealizePreloadedBGPics, every such picture) or when it is looked up before.
uint32_t RealizeBGPic(qmBGPic *pic);
uint32_t RealizePreloadedBGPics(const qmObjectRegistry *objects, int32_t *failedLine = nullptr);
// The one picture of that id, when it is such a picture (nothing to do otherwise: 0); on failure
// *failedLine is its declaration's line.
uint32_t RealizePreloadedBGPic(const qmObjectRegistry *objects, const qmObjectId *id, int32_t *failedLine);

// A new background picture of copies of the brush's planes: 0, ERR_TFVBRUSHBGPIC or ERR_MEM.
uint32_t BrushToBGPicCore(qmObjectRegistry *objects, const qmBrush *brush, qmObjectId *id, qmBGPic **out);
// A new brush of copies of the picture's unscaled planes: 0, ERR_TFVBGPICBRUSH or ERR_MEM.
uint32_t BGPicToBrushCore(qmObjectRegistry *objects, const qmBGPic *pic, qmObjectId *id, qmBrush **out);
