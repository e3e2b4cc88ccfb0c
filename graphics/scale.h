// Scaling a bitmap with its mask and alpha plane: nearest neighbour or bilinear in 16.16.
#pragma once
#include <cstdint>

#include "graphics/transform.h"

// Tables and row caches owned by the caller and kept between calls.
struct qmScaleBuffers {
  int32_t *xIndex; // source column per destination column
  int32_t *xFrac;  // 16-bit fraction per destination column (smooth)
  int32_t *yIndex; // source row per destination row
  int32_t *yFrac;
  uint32_t *rowCache; // two rows of horizontally interpolated pixels (smooth)
  int32_t width, height; // capacity in destination columns and rows
};

// Grows the buffers to hold at least width + 1 and height + 1 entries: 0 or ERR_MEM.
int32_t EnsureScaleBuffers(qmScaleBuffers *buffers, int32_t width, int32_t height);
void FreeScaleBuffers(qmScaleBuffers *buffers);

struct qmScaleRequest {
  const uint32_t *srcPixels; // null: only the mask is scaled
  uint32_t *dstPixels;
  const uint8_t *srcMask;
  uint8_t *dstMask;
  const uint8_t *srcAlpha;
  uint8_t *dstAlpha;
  int32_t srcMaskBit; // index of the first pixel's bit within source mask rows
  int32_t srcWidth, srcHeight;
  int32_t dstWidth, dstHeight;
  int32_t srcPitch, dstPitch; // in pixels
  int32_t srcMaskBytesPerRow, dstMaskBytesPerRow;
  int32_t srcAlphaBytesPerRow, dstAlphaBytesPerRow;
  int32_t smooth;
  int32_t format;
  int32_t bytesPerPixel;
  qmScaleBuffers *buffers; // must hold the destination size
};

void ScalePixels(const qmScaleRequest *req);
void ScaleMaskPixels(const qmScaleRequest *req, float xFactor, float yFactor);
// ScalePixels' result drawn into a target a row at a time instead of being kept: the pixels of a
// source with an alpha plane blended as it says (dstPixels and dstAlpha are then scratch of one
// row, the target rectangle's width), those of an opaque one written as they are. The same
// pixels as the whole result then blended or copied. A mask takes the whole result:
// ERR_WRONGUSAGE, as for buffers that do not hold the result's size; otherwise 0.
int32_t ScaleBlendPixels(const qmScaleRequest *req, const qmTransformTarget *onto);

// Straightforward per-pixel versions of the pixel scaling, kept to check the fast ones.
void ScalePixelsNearestScalar(const qmScaleRequest *req);
void ScalePixelsSmoothScalar(const qmScaleRequest *req);
// One row of a byte plane by nearest samples: dst[i] = srcRow[xIndex[i]], the indices ascending
// and below srcWidth; with its scalar twin.
void NearestAlphaRow(uint8_t *dst, const uint8_t *srcRow, const int32_t *xIndex, int32_t width, int32_t srcWidth);
void NearestAlphaRowScalar(uint8_t *dst, const uint8_t *srcRow, const int32_t *xIndex, int32_t width, int32_t srcWidth);
