// The smallest drawing operations on bitmaps, masks and alpha planes. Callers pass
// rectangles inside every record; as a safety net each operation still clamps to
// the records' sizes, so nothing is ever written outside a picture.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"

// Mask rectangles: `mode` is one of MASKVISIBLE..MASKOR; other values change nothing.
void CopyMaskRect(const qmMask *src, int32_t srcX, int32_t srcY, qmMask *dst, int32_t dstX, int32_t dstY, int32_t width,
                  int32_t height, int32_t mode);
void FillMaskRect(qmMask *mask, int32_t x, int32_t y, int32_t width, int32_t height, int32_t mode);

// Single pixels: a bitmap pixel as 0x00RRGGBB (its alpha byte is neither read nor written),
// a mask bit as 0/1 (writing applies `value` as a mask mode). Outside the record: 0 / nothing.
uint32_t GetBitmapPixel(const void *record, int32_t x, int32_t y, int32_t isMask);
void SetBitmapPixel(void *record, int32_t x, int32_t y, uint32_t value, int32_t isMask);
// A one-pixel line including both end points; pixels outside the bitmap are skipped.
void DrawBitmapLine(qmBitmap *bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t rgb);

void BltBitmap(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
               int32_t width, int32_t height);
// The mask lies over the source: the bit of source pixel (x, y) decides.
void BltMask(const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
             int32_t width, int32_t height, const qmMask *mask);
void BltTemplate(const qmMask *templ, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX, int32_t dstY,
                 int32_t width, int32_t height, uint32_t rgb);
void FillBitmapRect(qmBitmap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rgb);

// Whole-bitmap conversion to a new dense array of 0xAARRGGBB words (free with MemFree), or null.
uint32_t *BitmapToArgb(const qmBitmap *bitmap, int32_t width, int32_t height);
// New bitmap from 0xAARRGGBB words, with a colour-key mask unless key is 0xFFFFFFFF: 0 or ERR_MEM.
int32_t BitmapFromArgb(const uint32_t *pixels, uint32_t key, int32_t width, int32_t height, int32_t srcPitch,
                       int32_t hardware, qmBitmap **bitmapOut, qmMask **maskOut);

// One stored pixel to 0xAARRGGBB and back, for the formats 4, 10, 11, 12 and 13.
uint32_t StoredToArgb(int32_t format, uint32_t p);
uint32_t ArgbToStored(int32_t format, uint32_t v);
