// Kernels for colour keys, colour replacement and the two transparency planes
// (1-bit masks, 8-bit alpha). Callers clip; bit order is most significant first.
#pragma once
#include <cstdint>

// Mask drawing modes.
enum : int32_t {
  MASKVISIBLE = 0,
  MASKINVISIBLE = 1,
  MASKVANILLACOPY = 2,
  MASKXOR = 3,
  MASKAND = 4,
  MASKOR = 5,
};

// Sets the bit where (pixel AND compareMask) differs from key, clears it where equal.
void ColorKeyMaskPixels(const uint32_t *pixels, uint8_t *mask, int32_t width, int32_t height,
                        int32_t maskBytesPerRow, uint32_t key, int32_t pixelPitch, uint32_t compareMask);
// Pairs {from, to}, ended by from = 0xFFFFFFFF; later pairs see earlier replacements.
void ReplaceColorsPixels(int32_t width, int32_t height, const uint32_t *pairs, uint32_t *pixels, int32_t pixelPitch,
                         uint32_t compareMask);
void InvertPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pixelPitch);
// Whole rows, padding included.
void InvertBytes(uint8_t *bytes, int32_t rows, int32_t bytesPerRow);
void ArgbToAlphaChannel(const uint32_t *pixels, int32_t width, int32_t height, int32_t pixelPitch, uint8_t *alpha,
                        int32_t alphaBytesPerRow);
void FillBytesRect(uint8_t *plane, int32_t x, int32_t y, int32_t width, int32_t height, int32_t bytesPerRow,
                   uint8_t value);

struct qmAlphaThroughMaskRequest {
  const uint8_t *mask;
  int32_t maskX, maskY;
  int32_t maskBytesPerRow;
  int32_t alphaX;
  uint8_t *alpha;
  int32_t alphaY;
  int32_t alphaBytesPerRow;
  int32_t width, height;
  uint8_t value;
};
void FillAlphaThroughMaskPixels(const qmAlphaThroughMaskRequest *req);

// Whole rows, padding included.
void ScaleAlphaBytes(const uint8_t *src, uint8_t *dst, int32_t intensity, int32_t bytesPerRow, int32_t rows);

struct qmCombineAlphaRequest {
  const uint8_t *src;
  int32_t srcX, srcY;
  uint8_t *dst;
  int32_t dstX, dstY;
  int32_t width, height;
  int32_t srcBytesPerRow, dstBytesPerRow;
  int32_t mode; // 0..8; others as 0
  int32_t value;
};
void CombineAlphaPixels(const qmCombineAlphaRequest *req);
void CombineAlphaPixelsScalar(const qmCombineAlphaRequest *req);
// The byte value of modes 4 and 6 is a byte: larger or negative values are clamped.
inline int32_t ClampAlphaValue(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
// The one-byte rule of CombineAlphaPixels.
uint8_t CombineAlphaByte(int32_t mode, uint8_t s, uint8_t d, int32_t value);

struct qmMaskFromAlphaRequest {
  int32_t srcX;
  int32_t srcBytesPerRow;
  int32_t dstX;
  int32_t dstBytesPerRow;
  int32_t width, height;
};
// Only the alpha byte 255 counts as visible.
void MaskFromAlphaPixels(const uint8_t *src, uint8_t *dstMask, int32_t srcRow, int32_t dstRow, int32_t maskMode,
                         const qmMaskFromAlphaRequest *req);

struct qmMaskThroughMaskRequest {
  const uint8_t *clip;
  int32_t clipX, clipY;
  int32_t clipBytesPerRow;
  uint8_t *dst; // a mask, or an alpha plane when srcAlpha is given
  int32_t x, y;
  int32_t dstBytesPerRow;
  int32_t width, height;
  const uint8_t *srcMask;  // optional; read at the destination's position
  const uint8_t *srcAlpha; // optional; selects the alpha form
  int32_t srcBytesPerRow;
};
void CopyMaskThroughMask(const qmMaskThroughMaskRequest *req);

// Mask bit helpers shared by the mask kernels.
inline bool GetMaskBit(const uint8_t *row, int32_t x) { return row[x >> 3] & (0x80 >> (x & 7)); }
inline void SetMaskBit(uint8_t *row, int32_t x, bool on) {
  uint8_t bit = uint8_t(0x80 >> (x & 7));
  if (on)
    row[x >> 3] |= bit;
  else
    row[x >> 3] &= uint8_t(~bit);
}
// A mask mode applied to one bit d with source bit s; unknown modes keep d.
inline bool ApplyMaskMode(int32_t mode, bool s, bool d) {
  switch (mode) {
  case MASKVISIBLE: return s ? true : d;
  case MASKINVISIBLE: return s ? false : d;
  case MASKVANILLACOPY: return s;
  case MASKXOR: return s != d;
  case MASKAND: return s && d;
  case MASKOR: return s || d;
  default: return d;
  }
}
