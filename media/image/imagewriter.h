// The one writer of still pictures: 0xAARRGGBB pixels and a format number in, a file out.
// BMP is written here, PNG and JPEG through the platform's encoders, GIF through the palette
// quantizer and the GIF encoder, ILBM through the ILBM writer; other numbers belong to
// image-saver plug-ins.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

struct qmFormatPlugins;

enum : int32_t {
  IMGFMT_BMP = 0,
  IMGFMT_PNG = 1,
  IMGFMT_JPEG = 2,
  IMGFMT_GIF = 3,
  IMGFMT_ILBM = 4,
};

// Defaults of the save options.
inline constexpr int32_t kDefaultSaveQuality = 90;
inline constexpr int32_t kDefaultSaveColors = 256;
inline constexpr int32_t kDefaultSaveDither = 0;

// Writes width x height words (rows without gaps; the caller keeps them). The mask is the
// picture's mask, if any (already folded into the pixels by BitmapToArgbMasked); the
// transparent colour (0xFFFFFFFF for none) stays out of a GIF's reduction and becomes its
// transparent entry; alpha keeps the alpha bytes (PNG). Quality is clamped to 1..100 and colors
// to 1..256. Other format numbers go to the image saver a plug-in registered for them (plugins
// may be null: none); ERR_UNKNOWNIMGOUT when there is none. 0, ERR_WRITEFILE (the name is the
// error argument), ERR_MEM, ERR_SAVEPNG, ERR_WRITEJPEG, ERR_UNKNOWNIMGOUT, ERR_SAVEIMAGE.
uint32_t SaveImageFile(int32_t format, const uint32_t *pixels, int32_t width, int32_t height, const char *name,
                       const qmMask *mask, uint32_t transparentColor, int32_t alpha, int32_t quality, int32_t colors,
                       int32_t dither, const qmFormatPlugins *plugins = nullptr);
// The same for a bitmap with its mask and alpha plane (either may be null): converted with
// BitmapToArgbMasked (mask-to-alpha off); ERR_MEM when that fails.
uint32_t SaveBitmapFile(int32_t format, const qmBitmap *bitmap, int32_t width, int32_t height, const char *name,
                        const qmMask *mask, uint32_t transparentColor, const qmAlphaChannel *alpha, int32_t quality,
                        int32_t colors, int32_t dither, const qmFormatPlugins *plugins = nullptr);

// A new array of width x height 0xAARRGGBB words (free with MemFree), or null. With a mask:
// maskToAlpha set gives alpha 0xFF where a bit is set and 0 where it is clear; otherwise a
// clear bit replaces the pixel by color. With an alpha plane the alpha bytes come from it,
// and a pixel of alpha 0 takes color's RGB. With neither, every alpha byte is 0xFF.
uint32_t *BitmapToArgbMasked(const qmBitmap *bitmap, int32_t width, int32_t height, const qmMask *mask,
                             const qmAlphaChannel *alpha, uint32_t color, int32_t maskToAlpha);
