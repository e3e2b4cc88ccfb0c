// Kernels that move rectangles of 32-bit pixels: copy (with optional channel
// reorder), masked copy, template paint, fill and copy through an alpha plane.
// Callers clip; rectangles must lie inside every buffer passed.
#pragma once
#include <cstdint>

struct qmBlitRequest {
  const uint32_t *srcBase;
  uint32_t *dstBase;
  int32_t srcX, srcY;
  int32_t dstX, dstY;
  int32_t width, height;
  int32_t srcPitch, dstPitch; // in pixels
  int32_t convert;            // 0: copy words; else reorder channels, keep the fourth byte
  int32_t srcFormat, dstFormat;
};

// Conversions of the masked copy.
enum : int32_t { QM_CONVERT_NONE = 0, QM_CONVERT_XRGB_TO_BGRX = 1, QM_CONVERT_SHIFT8 = 2 };

struct qmMaskedBlitRequest {
  const uint32_t *srcBase;
  uint32_t *dstBase;
  const uint8_t *mask; // aligned with the source
  int32_t srcX, srcY;
  int32_t dstX, dstY;
  int32_t width, height;
  int32_t srcPitch;
  int32_t maskBytesPerRow;
  int32_t dstPitch;
  int32_t convert;
};

struct qmTemplateRequest {
  const uint8_t *mask;
  uint32_t *dstBase;
  int32_t maskX, maskY;
  int32_t dstX, dstY;
  int32_t width, height;
  int32_t maskBytesPerRow;
  int32_t dstPitch;
  uint32_t color; // already in the destination's format
};

struct qmAlphaCopyRequest {
  const uint32_t *srcBase;
  int32_t srcX, srcY;
  int32_t alphaX, alphaY;
  int32_t srcPitch;
  uint32_t *dstBase;
  int32_t dstX, dstY;
  int32_t dstPitch;
  int32_t width, height;
  const uint8_t *alpha;
  int32_t alphaBytesPerRow;
};

void CopyPixels(const qmBlitRequest *req);
void MaskedCopyPixels(const qmMaskedBlitRequest *req);
void MaskedCopyPixelsScalar(const qmMaskedBlitRequest *req);
void TemplatePixels(const qmTemplateRequest *req);
void FillPixelsRect(uint32_t *pixels, int32_t pitch, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t word);
// Copies source pixels whose alpha byte is not 0.
void CopyPixelsThroughAlpha(const qmAlphaCopyRequest *req);

// The one-pixel reorder of a converting copy (exposed for tests).
uint32_t ReorderPixel(uint32_t src, uint32_t dst, int32_t srcFormat, int32_t dstFormat);
