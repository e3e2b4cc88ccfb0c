// The pixel mixing step of the blending and mask-composing effects: two pictures of the area (or
// a picture and a colour) mixed by a level, optionally through a mask, straight into the screen's
// picture where it takes them.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

struct qmFxRequest;

// Rows of pixels in the pictures' word order; a pitch of 0 repeats one row (a colour row).
struct qmFxPixels {
  const uint32_t *base;
  int32_t pitch;  // in pixels
};
inline qmFxPixels FxPixelsOf(const qmBitmap *b) { return {b->pixels, b->bytesPerRow / 4}; }

// The area's rectangle (srcX, srcY, width x height): a mixed toward b by 255 - level (level 255
// gives a alone) and, where the mask's bit is clear, b; to the screen at (dstX, dstY). work, a
// picture of the area's size, takes the pixels when the screen's picture cannot.
void MixFxToScreen(qmFxRequest *fx, qmFxPixels a, qmFxPixels b, const qmMask *mask, int32_t level, int32_t srcX,
                   int32_t srcY, int32_t dstX, int32_t dstY, int32_t width, int32_t height, qmBitmap *work);
// The same mix into a picture of the area's size at the same place.
void MixFxPixels(qmFxPixels a, qmFxPixels b, const qmMask *mask, int32_t level, int32_t srcX, int32_t srcY,
                 int32_t width, int32_t height, uint32_t *out, int32_t outPitch);
