// Kernels that blend into 32-bit pixels: through an alpha plane, and a colour
// (or texture) through a coverage plane.
#pragma once
#include <cstdint>

struct qmBlendRequest {
  const uint32_t *srcBase;
  int32_t srcX, srcY;
  uint32_t *dstBase;
  int32_t dstX, dstY;
  int32_t width, height;
  int32_t srcPitch, dstPitch; // in pixels
  const uint8_t *alpha;
  int32_t alphaX, alphaY;
  int32_t alphaBytesPerRow;
  int32_t format;
};

// Alpha 0 keeps the destination, 255 copies the source word, anything else blends
// each channel as d + (((s - d) * a) >> 8); blended words have the fourth byte 0.
void BlendAlphaPixels(const qmBlendRequest *req);
void BlendAlphaPixelsScalar(const qmBlendRequest *req);

struct qmCoverageRequest {
  const uint8_t *coverage;
  int32_t coverageX, coverageY;
  int32_t coverageBytesPerRow;
  const uint16_t *coverage16; // mode 3: entries 0..255
  int32_t coverage16X, coverage16Y;
  int32_t coverage16RowLength; // in entries
  uint32_t *dstBase;
  int32_t dstX, dstY;
  int32_t dstPitch;
  uint8_t *dstAlpha; // or null
  int32_t dstAlphaBytesPerRow;
  const uint32_t *texture; // or null: the plain colour is the source
  int32_t textureX, textureY;
  int32_t texturePitch;
  int32_t width, height;
  uint32_t color; // 0xRRGGBB
  int32_t mode;
  int32_t level; // 0..255, scales the alpha written in modes 2 and 3
  int32_t format;
};

// Coverage modes.
enum : int32_t {
  QM_COVER_STENCIL = 0, // any mode not listed: covered pixels become the source
  QM_COVER_BLEND = 1,
  QM_COVER_ALPHA = 2,
  QM_COVER_ALPHA16 = 3,
  QM_COVER_BLEND64 = 4, // coverage in 0..64
};

void AlphaCoveragePixels(const qmCoverageRequest *req);
