// Picture records: 32-bit bitmaps, 1-bit masks and 8-bit alpha planes.
#pragma once
#include <cstdint>

// Pixel format of every bitmap made here: bytes alpha, red, green, blue in memory.
constexpr int32_t QM_BITMAP_FORMAT = 11;
// Largest side of a picture that a command computes (a scaled, turned or drawn one); larger
// requests give no picture (ERR_MEM at the caller).
constexpr int32_t QM_MAX_PICTURE_SIDE = 32767;
// What a plane may hold: a picture read from a file or allocated is limited by its bytes, and
// its side only as far as a row's bytes and sums of a few sides and positions stay inside 32
// bits. Larger requests give no plane.
constexpr int32_t QM_MAX_PLANE_SIDE = int32_t(1) << 28;
constexpr uint64_t QM_MAX_PLANE_BYTES = UINT32_MAX;

struct qmBitmap {
  int32_t width;
  int32_t height;
  uint32_t *pixels;      // row 0 first, rows top-down
  int32_t bytesPerRow;   // pitch in pixels x 4; always more than width x 4
  int32_t bytesPerPixel; // always 4
  int32_t pixelFormat;   // 11 for bitmaps made here
  void *platform;        // platform drawing world over the pixels; unused here, always null
};

// Masks and alpha planes share one layout.
struct qmMask {
  uint8_t *memory;
  int32_t width;  // 0 in a record made by WrapMask
  int32_t height; // 0 in a record made by WrapMask
  int32_t bytesPerRow;
  int32_t borrowed; // 1: memory belongs to someone else
};
using qmAlphaChannel = qmMask;

struct qmBitmapView {
  uint32_t *base;
  int32_t valid;
  int32_t pixelFormat;
  int32_t bytesPerPixel;
  int32_t pitch; // in pixels
  int32_t width;
  int32_t height;
};

// Row sizes: a bitmap row always has 1..4 spare pixels, a mask row at least one spare byte.
inline int32_t BitmapPitchPixels(int32_t width) { return (width & ~3) + 4; }
inline int32_t MaskBytesPerRow(int32_t width) { return width / 8 + 1; }
inline int32_t AlphaBytesPerRow(int32_t width) { return (width + 3) & ~3; }

qmBitmap *AllocBitmap(int32_t width, int32_t height);
// A bitmap whose pixels, spare ones included, are all 0 (black).
qmBitmap *AllocClearedBitmap(int32_t width, int32_t height);
qmBitmap *AllocHardwareBitmap(int32_t width, int32_t height);
void FreeBitmap(qmBitmap *bitmap);
int32_t LockBitmap(const qmBitmap *bitmap, qmBitmapView *view);
void UnlockBitmap();

qmMask *AllocMask(int32_t width, int32_t height, int32_t clear);
void FreeMask(qmMask *mask);
qmMask *WrapMask(uint8_t *bits, int32_t bytesPerRow);
void SetMaskMemory(qmMask *mask, uint8_t *bits, int32_t bytesPerRow);

qmAlphaChannel *AllocAlphaChannel(int32_t width, int32_t height, int32_t clear);
void FreeAlphaChannel(qmAlphaChannel *alpha);
void SetAlphaChannelMemory(qmAlphaChannel *alpha, uint8_t *memory, int32_t bytesPerRow);

// Attribute of a bitmap, mask or alpha record by selector; 0 for unknown selectors.
uintptr_t GetBitmapAttr(const void *record, int32_t selector);

// Frees a pixel buffer that an image loader or a plug-in handed over.
void FreeImagePixels(void *pixels);
