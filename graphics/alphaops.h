// Rectangles of alpha channels and masks combined with each other and with pictures. Every
// operation cuts its rectangle to the planes and bitmaps it touches, whatever the caller
// passes, so none writes outside a record.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

// Combines alpha bytes by mode (0 plain copy; the modes of CombineAlphaPixels) with value.
void CombineAlphaRect(const qmAlphaChannel *src, int32_t srcX, int32_t srcY, qmAlphaChannel *dst, int32_t dstX,
                      int32_t dstY, int32_t width, int32_t height, int32_t mode, int32_t value);
void FillAlphaRect(qmAlphaChannel *alpha, int32_t x, int32_t y, int32_t width, int32_t height, uint8_t value);
// value into the alpha bytes whose mask bit is set; the others stay.
void FillAlphaThroughMask(const qmMask *mask, int32_t maskX, int32_t maskY, qmAlphaChannel *alpha, int32_t x, int32_t y,
                          int32_t width, int32_t height, uint8_t value);
// value where the mask bit is set and 0 where it is clear.
void MaskToAlphaRect(const qmMask *mask, int32_t maskX, int32_t maskY, qmAlphaChannel *alpha, int32_t x, int32_t y,
                     int32_t width, int32_t height, uint8_t value);
// Every byte of the first rows times intensity / 255, from src into dst (the same size).
void ScaleAlphaChannel(const qmAlphaChannel *src, qmAlphaChannel *dst, int32_t rows, int32_t intensity);
// Blends the source into the destination by the alpha channel, which lies over the source.
void BltAlphaBitmap(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
                    int32_t width, int32_t height, const qmAlphaChannel *alpha);
// Copies the source pixels whose alpha byte (lying over the source) is not 0.
void CopyBitmapThroughAlpha(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX,
                            int32_t dstY, int32_t width, int32_t height, const qmAlphaChannel *alpha);
// Sets mask bits by maskMode where the alpha byte is 255.
void MaskFromAlphaRect(const qmAlphaChannel *alpha, int32_t srcX, int32_t srcY, qmMask *mask, int32_t dstX,
                       int32_t dstY, int32_t width, int32_t height, int32_t maskMode);

// The usable size of a plane: wrapped planes know only their row length.
int32_t MaskPlaneWidth(const qmMask *m);
int32_t AlphaPlaneWidth(const qmAlphaChannel *a);
int32_t PlaneHeight(const qmMask *m);
