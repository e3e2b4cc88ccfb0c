// Operations that recolour the pixels of a whole picture in place without moving them: tint,
// mix, grey, colour replacement and flood fill. Each locks the bitmap and works only on
// 32-bit pixels; rectangles are cut to the bitmap.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "graphics/graphics/bitmap_effects.h"  // TintBitmap

// The source rectangle mixed into the destination: through the alpha plane (lying over the
// source) scaled by level / 255 when one is given, else by level / 256 per channel where the
// optional mask is set. 0, ERR_LOCKBMAP or ERR_MEM.
uint32_t MixBitmap(qmBitmap *dst, const qmBitmap *src, const qmMask *mask, int32_t srcX, int32_t srcY, int32_t dstX,
                   int32_t dstY, int32_t width, int32_t height, int32_t level, const qmAlphaChannel *alpha);
// grey = 0.299 R + 0.587 G + 0.114 B (truncated) into all three channels. 0 or ERR_LOCKBMAP.
uint32_t BitmapToGray(qmBitmap *bitmap, int32_t width, int32_t height);
// Fills from (x, y) the area bounded by pixels of the border colour (and pixels that already
// have the fill colour) with the fill colour; colours are pixel words. 0 or ERR_MEM.
uint32_t FloodFillPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, uint32_t border,
                         uint32_t fill, int32_t x, int32_t y, uint32_t compareMask);
