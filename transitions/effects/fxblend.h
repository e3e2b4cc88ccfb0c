// The pixel mixing step of the blending and mask-composing effects: two pictures of the area (or
// a picture and a colour) mixed by a level, optionally through a mask, straight into the screen's
// picture where it takes them.
#pragma once
#include <cstdint>
#include <functional>

#include "graphics/bitmap.h"

struct qmFxRequest;

// Rows of pixels in the pictures' word order; a pitch of 0 repeats one row (a colour row).
struct qmFxPixels {
  const uint32_t *base;
  int32_t pitch;  // in pixels
};
inline qmFxPixels FxPixelsOf(const qmBitmap *b) { return {b->pixels, b->bytesPerRow / 4}; }

// Writes the pixels of the area's rectangle (x, y, width x height) to out, outPitch pixels a row.
using qmFxPixelWriter = std::function<void(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t *out,
                                           int32_t outPitch)>;
// The area's rectangle (srcX, srcY, width x height), written by write, to the screen at (dstX,
// dstY): straight into the screen's picture where it takes the pixels and holds neither readA
// nor readB (the pictures write reads), else into work, a picture of the area's size, and blitted.
void WriteFxToScreen(qmFxRequest *fx, const uint32_t *readA, const uint32_t *readB, int32_t srcX, int32_t srcY,
                     int32_t dstX, int32_t dstY, int32_t width, int32_t height, qmBitmap *work,
                     const qmFxPixelWriter &write);
// The area's rectangle (srcX, srcY, width x height): a mixed toward b by 255 - level (level 255
// gives a alone) and, where the mask's bit is clear, b; to the screen at (dstX, dstY). work, a
// picture of the area's size, takes the pixels when the screen's picture cannot.
void MixFxToScreen(qmFxRequest *fx, qmFxPixels a, qmFxPixels b, const qmMask *mask, int32_t level, int32_t srcX,
                   int32_t srcY, int32_t dstX, int32_t dstY, int32_t width, int32_t height, qmBitmap *work);
// The same mix into a picture of the area's size at the same place.
void MixFxPixels(qmFxPixels a, qmFxPixels b, const qmMask *mask, int32_t level, int32_t srcX, int32_t srcY,
                 int32_t width, int32_t height, uint32_t *out, int32_t outPitch);
// The whole area to the screen: shown where the map value (width bytes a row) lies below level and
// the mask, when given, has its bit set, hidden elsewhere; the shown pixels lose their unused byte
// as in a mix at level 255.
void RevealFxToScreen(qmFxRequest *fx, const qmBitmap *shown, const qmBitmap *hidden, const uint8_t *map,
                      const qmMask *mask, int32_t level, qmBitmap *work);
