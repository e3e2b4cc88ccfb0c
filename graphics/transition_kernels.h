// Per-frame pixel work of the transition effects: a threshold plane that turns a map of reveal
// times into the frame's mask or alpha plane, and a wave that shifts rows or columns by a sine
// offset. The swirl and ripple tables are built by PrepareSwirl and PrepareRipple
// (graphics/warp_kernels.h), which the picture effects share.
#pragma once
#include <cstdint>

#include "graphics/warp_kernels.h"

struct qmThresholdRequest {
  const uint8_t *src;  // alpha plane or mask; may be null for mask output
  uint8_t *dst;
  int32_t width, height;
  int32_t srcBytesPerRow, dstBytesPerRow;
  const uint8_t *map;  // reveal time of every pixel, width bytes per row
  int32_t alphaOutput;  // 1: 8-bit alpha planes, 0: 1-bit masks (most significant bit first)
  int32_t reverse;      // 1: pixels whose map value is at or above the level are shown
};

// Shows a pixel when (map value < level) differs from reverse; level 0..255. Shown pixels take
// the source byte or bit (set when a mask has no source); hidden ones are cleared.
void ThresholdPlane(const qmThresholdRequest *req, int32_t level);
// The same a pixel at a time, kept to check the vector path.
void ThresholdPlaneScalar(const qmThresholdRequest *req, int32_t level);

struct qmRevealRequest {
  const uint8_t *map;       // reveal time of every pixel
  const uint8_t *mask;      // or null: the shown picture's own mask, most significant bit first
  const uint32_t *shown;    // the picture coming in
  const uint32_t *hidden;   // the picture it replaces
  uint32_t *out;
  int32_t width, height;
  int32_t mapBytesPerRow, maskBytesPerRow;
  int32_t maskX;            // bit of each mask row that belongs to the first pixel
  int32_t shownPitch, hiddenPitch, outPitch;  // in pixels
  uint32_t colorBits;       // what a shown pixel keeps of its word (its unused byte goes)
};

// Every pixel of out: the shown pixel, and-ed with colorBits, where its map value lies below the
// level and the mask (when given) has its bit set; the hidden pixel elsewhere. The mask plane
// that ThresholdPlane makes and the selection through it, in one pass.
void RevealPixels(const qmRevealRequest *req, int32_t level);
// The same a pixel at a time, kept to check the vector path.
void RevealPixelsScalar(const qmRevealRequest *req, int32_t level);

struct qmAlphaOverRequest {
  const uint32_t *over, *under;
  const uint8_t *overAlpha, *underAlpha;
  uint32_t *out;
  uint8_t *outAlpha;
  int32_t width, height;
  int32_t overPitch, underPitch, outPitch;  // in pixels
  int32_t overAlphaBytesPerRow, underAlphaBytesPerRow, outAlphaBytesPerRow;
};

// A picture with an alpha plane laid over another with its own, as one picture and plane: shown
// over any background they give what the under picture and then the over one give. Alpha
// ao + au (255 - ao) / 255, each byte of the word (ao o 255 + au u (255 - ao)) / (255 ao + au (255
// - ao)), both rounded to nearest; the under word where both alphas are 0.
void LayAlphaPixelsOver(const qmAlphaOverRequest *req);

// No line copied yet.
inline constexpr int32_t kNoWaveLine = -100000;

struct qmWaveRequest {
  const uint32_t *src;
  uint32_t *dst;
  const uint8_t *srcMask;  // or null
  uint8_t *dstMask;
  const uint8_t *srcAlpha;  // or null
  uint8_t *dstAlpha;
  const double *offsets;  // strips entries, radians
  int32_t srcPitch, dstPitch;  // in pixels
  int32_t width, height;
  int32_t srcMaskBytesPerRow, dstMaskBytesPerRow;
  int32_t srcAlphaBytesPerRow, dstAlphaBytesPerRow;
  int32_t vertical;  // 1: columns move, 0: rows
  int32_t strips;    // n
  int32_t position;
  int32_t bytesPerPixel;  // only 4 is drawn
  // Written by WavePixels.
  int32_t linesCopied;
  int32_t firstLine;  // kNoWaveLine when none
  int32_t positionReached;
};

// Lines position - n + 1 .. position take the lines shifted by truncate(offset[i] / (2 pi / n));
// pairs with either line outside the picture are skipped.
void WavePixels(qmWaveRequest *req);
// The same without vector code, kept to check the vector path.
void WavePixelsScalar(qmWaveRequest *req);
// Copies a rectangle with its planes: through the source mask (bits set or cleared) when there
// is one, else through the source alpha (pixel and byte where it is not 0, byte 0 elsewhere),
// else the pixels alone. No clipping: the caller keeps both rectangles inside.
void CopyStripPixels(const qmWaveRequest *req, int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t dx,
                     int32_t dy);
