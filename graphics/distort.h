// Geometric distortions of a picture: perspective (four corners), arc, polar (rectangle to ring)
// and barrel (lens). A preparation turns the parameters into coefficients and the result's size;
// the rendering maps every result pixel back into the source and samples it there, by point or
// by an elliptical weighted average (with bilinear interpolation where the ellipse is too small
// or too large).
#pragma once
#include <cstdint>

enum : int32_t { DISTORT_PERSPECTIVE = 4, DISTORT_ARC = 9, DISTORT_POLAR = 10, DISTORT_BARREL = 12 };

// A picture of 32-bit words with its optional planes.
struct qmDistortPicture {
  uint32_t *pixels;
  int32_t width, height;
  int32_t pitch; // in pixels
  uint8_t *mask; // or null
  int32_t maskBytesPerRow;
  uint8_t *alpha; // or null
  int32_t alphaBytesPerRow;
};

struct qmDistortRequest {
  int32_t method; // DISTORT_*
  int32_t paramCount;
  double params[16];
  qmDistortPicture src;
  qmDistortPicture dst; // filled by the caller after the preparation, at the result's size
  double coeffs[10];
  int32_t resultWidth, resultHeight;
  int32_t originX, originY; // of the result in the mapping's coordinates
  int32_t smooth;
  int32_t error;
};

// Coefficients and result size from the parameters: 0; ERR_WRONGUSAGE for bad parameters or a
// result of no pixels; ERR_MEM for a result beyond the picture limits. Nothing is allocated.
int32_t PrepareDistortion(qmDistortRequest *req);
// Fills req->dst (resultWidth x resultHeight; its mask and alpha planes where given). 0.
int32_t RenderDistortion(qmDistortRequest *req);
// The same by the portable path alone, the twin of the vector one.
int32_t RenderDistortionScalar(qmDistortRequest *req);

// Which planes a result carries: a mask where the source has one, or has neither plane and
// the sampling is by point; an alpha plane where the source has one, or has neither and smooth.
inline bool DistortResultHasMask(const qmDistortPicture &src, int32_t smooth) {
  return src.mask || (!src.alpha && !smooth);
}
inline bool DistortResultHasAlpha(const qmDistortPicture &src, int32_t smooth) {
  return src.alpha || (!src.mask && smooth);
}

// Forward coefficients of an inverse perspective mapping (and the other way round).
void InvertPerspective(const double *c, double *f);
