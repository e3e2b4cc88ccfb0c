// Operations on whole pictures that the brush, layer, anim and display libraries call: each
// locks the bitmap, runs its pixel kernel only on 32-bit pixels (any other depth is left as
// it is and still succeeds) and unlocks. Also copies, scaled and turned copies of a picture
// with its mask and alpha channel.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "graphics/geometry.h"

// With paddingOnly 0 every pixel word is zeroed; otherwise only the words between the width and
// the pitch of each row. 0 or ERR_LOCKBMAP.
uint32_t ClearBitmapPadding(qmBitmap *bitmap, int32_t paddingOnly);
// Mirrors the picture with its planes: direction 0 swaps rows top to bottom, any other swaps
// columns. 0, ERR_LOCKBMAP or ERR_MEM.
uint32_t FlipBitmap(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width, int32_t height,
                    int32_t direction);
// Inverts every pixel word of the top-left width x height; a view that the caller locked is
// used as it is. 0 or ERR_LOCKBMAP.
uint32_t InvertBitmap(qmBitmap *bitmap, int32_t width, int32_t height, const qmBitmapView *view);
// A new mask with the bit set wherever the pixel differs from the colour 0xRRGGBB (the
// fourth byte takes no part). 0, ERR_LOCKBMAP or ERR_MEM.
uint32_t CreateColorKeyMask(const qmBitmap *bitmap, int32_t width, int32_t height, uint32_t rgb, qmMask **out);

// A new picture of the rectangle with new copies of the planes that are given; any output
// pointer may be null (then that copy is not kept). 0 or ERR_MEM (nothing is kept).
uint32_t CopyBitmap(const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t x, int32_t y,
                    int32_t width, int32_t height, int32_t hardware, qmBitmap **bitmapOut, qmMask **maskOut,
                    qmAlphaChannel **alphaOut);

// The size of a width x height picture turned by the matrix {m0, m1, m2, m3}
// (x' = m0 x + m2 y, y' = m1 x + m3 y) and where its top-left corner lands.
void GetTransformedSize(const double m[4], int32_t width, int32_t height, int32_t *widthOut, int32_t *heightOut,
                        double *offsetX, double *offsetY);

struct qmTransformOutputs {
  qmBitmap *bitmap;
  qmMask *mask;
  qmAlphaChannel *alpha;
  double offsetX, offsetY;  // where the new picture's top-left corner lies in turned coordinates
};

// A turned copy of the rectangle. Pixels come with a new alpha channel when the source has
// one, else always with a new mask, so that the corners outside the turned picture are
// transparent. A bitmap may be null (only the mask or alpha turns). 0, ERR_WRONGUSAGE for a
// matrix without an inverse, ERR_MEM for a picture too large or no memory, ERR_LOCKBMAP.
uint32_t TransformBitmap(const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t x, int32_t y,
                         int32_t width, int32_t height, const double m[4], int32_t smooth, qmTransformOutputs *out);

// TransformBitmap's turned picture of the top-left width x height blended over the target
// without being made: result pixel (x, y) of r's source rectangle lands on (x, y) + r's offset.
// The source has an alpha channel or is opaque (no mask); the pixels equal those of the turned
// copy blended with BltAlphaBitmap, or copied through its mask. 0, ERR_WRONGUSAGE, ERR_MEM or
// ERR_LOCKBMAP.
uint32_t TransformBitmapOnto(const qmBitmap *bitmap, const qmAlphaChannel *alpha, int32_t width, int32_t height,
                             const double m[4], int32_t smooth, qmBitmap *target, const qmBlitRect *r);

struct qmScaleOutputs {
  qmBitmap *bitmap;
  qmMask *mask;
  qmAlphaChannel *alpha;
};

// Scales the source rectangle to the target size: into the target bitmap when one is given
// (then no planes are made and out is not written), else into a new bitmap with new copies of
// the planes that are given. A target size below 1 does nothing. 0, ERR_MEM (also for a
// target above the picture limit) or ERR_LOCKBMAP.
uint32_t ScaleBitmap(const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t srcX,
                     int32_t srcY, qmBitmap *target, int32_t srcWidth, int32_t srcHeight, int32_t targetWidth,
                     int32_t targetHeight, int32_t smooth, qmScaleOutputs *out);
// ScaleBitmap's result of the top-left width x height at targetWidth x targetHeight drawn over
// the target without being made, placed as TransformBitmapOnto's: blended as the source's alpha
// channel says, or copied from an opaque source (no mask). 0, ERR_WRONGUSAGE, ERR_MEM or
// ERR_LOCKBMAP.
uint32_t ScaleBitmapOnto(const qmBitmap *bitmap, const qmAlphaChannel *alpha, int32_t width, int32_t height,
                         int32_t targetWidth, int32_t targetHeight, int32_t smooth, qmBitmap *target, const qmBlitRect *r);
// The scaler's tables are kept between calls on the main thread; freed at exit.
void FreeScaleTables();
