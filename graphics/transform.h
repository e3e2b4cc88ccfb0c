// Mapping a bitmap with its mask and alpha plane through a 2x2 matrix plus offset.
#pragma once
#include <cmath>
#include <cstdint>

struct qmTransformRequest {
  const uint32_t *srcPixels;
  const uint8_t *srcMask;  // or null
  const uint8_t *srcAlpha; // or null
  uint32_t *dstPixels;
  uint8_t *dstMask;  // or null
  uint8_t *dstAlpha; // or null
  int32_t srcWidth, srcHeight;
  int32_t dstWidth, dstHeight;
  int32_t srcPitch, srcMaskBytesPerRow, srcAlphaBytesPerRow; // pixels; bytes; bytes
  int32_t dstPitch, dstMaskBytesPerRow, dstAlphaBytesPerRow;
  // x' = a x + c y + e, y' = b x + d y + f; e and f put the result's bounding box at (0, 0).
  double a, b, c, d, e, f;
  int32_t smooth;
  int32_t format;
  int32_t bytesPerPixel;
};

// Fills the destination through the inverse matrix. A matrix without an inverse
// draws nothing and gives ERR_BADDIMENSIONS; otherwise 0.
int32_t TransformPixels(const qmTransformRequest *req);
// The same with every pixel computed one at a time, kept to check the vector path.
int32_t TransformPixelsScalar(const qmTransformRequest *req);

// Where one row of the result is written, each indexed by the column (any may be null).
struct qmTransformRowOut {
  uint32_t *pixels;
  uint8_t *alpha;
  uint8_t *mask;
};

// Rows made at a time when the result is blended onto a target.
inline constexpr int32_t kTransformBandRows = 16;

// A target that the result is blended into a band of rows at a time, instead of being kept: the
// request's dstPixels and dstAlpha are then scratch of kTransformBandRows rows of dstWidth
// entries each (pitches unused).
struct qmTransformTarget {
  uint32_t *pixels;
  int32_t pitch, format;  // pitch in pixels
  int32_t x0, y0, x1, y1; // the result's rectangle drawn, [x0, x1) x [y0, y1)
  int32_t dx, dy;         // result pixel (x, y) lands on target pixel (x + dx, y + dy)
};
// The result's pixels over the target as its alpha (or, from a source without mask or alpha,
// opaque) says: the same as the result made whole and then blended, without the whole.
int32_t TransformBlendPixels(const qmTransformRequest *req, const qmTransformTarget *target);

// True for the matrix (1 0 / 0 1), which needs no transform at all.
inline bool IsIdentityMatrix(const double m[4]) { return m[0] == 1.0 && m[1] == 0.0 && m[2] == 0.0 && m[3] == 1.0; }
// The matrix with terms within 1e-12 of a whole number made whole: turns by whole quarters
// carry noise of about 1e-16 (cos 90 is not 0 in doubles), enough to truncate a placed corner
// one pixel off.
inline void SnapMatrixNoise(const double in[4], double out[4]) {
  for (int k = 0; k < 4; k++) {
    const double r = std::round(in[k]);
    out[k] = std::fabs(in[k] - r) < 1e-12 ? r : in[k];
  }
}
