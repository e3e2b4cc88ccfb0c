// Areas filled from something other than one colour: gradients and tiled textures.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "graphics/gradient_kernels.h"

// Paints the gradient over the rectangle; the parts outside the bitmap are cut off without
// moving the gradient. 0, ERR_LOCKBMAP or ERR_MEM.
uint32_t DrawGradient(qmBitmap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                      const qmGradientFill *gradient);

// Covers the rectangle with tiles of the texture's top-left tileWidth x tileHeight pixels; the
// first row and column start inside the tile at the offsets (taken modulo the tile size).
void TileBitmap(qmBitmap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height, const qmBitmap *texture,
                int32_t offsetX, int32_t offsetY, int32_t tileWidth, int32_t tileHeight);
