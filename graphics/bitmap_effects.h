// Image effects on whole pictures for the brush, layer and anim libraries: each locks the
// bitmap, runs its kernel only on 32-bit pixels (any other depth is left as it is and still
// succeeds) and unlocks. 0, ERR_LOCKBMAP or ERR_MEM (a work buffer), unless said otherwise.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "runtime/cancel.h"

// Blur (98), emboss (101), edge (103) or sharpen (115) of the top-left width x height. A
// negative radius counts as 0, and a radius of 0 takes the sigma 1.0. A blur also blurs the
// alpha channel when one is given; with no bitmap it blurs the alpha channel alone. A view that
// the caller locked is used as it is. The convolutions, the charcoal and the oil paint poll the
// cancel once per row and stop with its code.
uint32_t ConvolveBitmap(int32_t operation, qmBitmap *bitmap, qmAlphaChannel *alpha, int32_t width, int32_t height,
                        double radius, double sigma, const qmBitmapView *view, const qmCancel &cancel = {});
uint32_t SolarizeBitmap(qmBitmap *bitmap, int32_t width, int32_t height, int32_t threshold);
// Raises the contrast with the flag set, lowers it without, repeat times (below 1: nothing).
uint32_t ContrastBitmap(qmBitmap *bitmap, int32_t width, int32_t height, int32_t sharpen, int32_t repeat,
                        const qmBitmapView *view);
// Brightness and saturation as factors (1.0 keeps), the hue as the kernel's percent.
uint32_t ModulateBitmap(qmBitmap *bitmap, int32_t width, int32_t height, double brightness, double saturation,
                        double hue);
uint32_t SepiaToneBitmap(qmBitmap *bitmap, int32_t width, int32_t height, int32_t threshold);
// Per channel: 1.0 keeps it, 0 (or below) makes it 0, otherwise 255 (i / 255) ^ (1 / gamma).
uint32_t GammaBitmap(qmBitmap *bitmap, int32_t width, int32_t height, double red, double green, double blue);
// Grey, edges, blur, level stretch, invert and grey again.
uint32_t CharcoalBitmap(qmBitmap *bitmap, qmAlphaChannel *alpha, int32_t width, int32_t height, double radius,
                        double sigma, const qmCancel &cancel = {});
uint32_t OilPaintBitmap(qmBitmap *bitmap, int32_t width, int32_t height, double radius, const qmCancel &cancel = {});
// degrees are clamped to -359..359; mask and alpha turn with the pixels.
uint32_t SwirlBitmap(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width, int32_t height, int32_t degrees);
// Only block sizes above 1 change anything.
uint32_t PixelateBitmap(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width, int32_t height,
                        int32_t blockSize);
// Concentric waves around the centre (fractions of the size, clamped to 0..1): waves (at least
// 1) is the wavelength in pixels, amplitude the strength and level the phase in radians; the
// waves fade out toward the larger of the centre's two coordinates. Mask and alpha move with
// the pixels.
uint32_t WaterRippleBitmap(qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, int32_t width, int32_t height,
                           int32_t waves, int32_t amplitude, int32_t level, double centerX, double centerY);
// Black and white: with dithering the two colours the quantizer picks, the brighter one white;
// without, grey above 128 becomes white.
uint32_t MonochromeBitmap(qmBitmap *bitmap, int32_t width, int32_t height, int32_t dither);
uint32_t BitmapToGray(qmBitmap *bitmap, int32_t width, int32_t height, int32_t threshold, const qmBitmapView *view);
// The source rectangle mixed into the destination: through the alpha plane (lying over the
// source) scaled by level / 255 when one is given, else by level / 255 per channel where the
// optional mask is set. 0, ERR_LOCKBMAP or ERR_MEM.
uint32_t MixBitmap(qmBitmap *dst, const qmBitmap *src, const qmMask *mask, int32_t srcX, int32_t srcY, int32_t dstX,
                   int32_t dstY, int32_t width, int32_t height, int32_t level, const qmAlphaChannel *alpha);
uint32_t TintBitmap(qmBitmap *bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rgb, int32_t level);

// A new alpha plane larger than the rectangle by the truncated radius on every side: the shape
// of the alpha channel (where it is not 0), else of the mask, else the whole rectangle, drawn
// with the value and blurred. hard turns every non-zero byte to 255; secondBlur blurs a shape
// taken from an alpha channel once more at half the radius. Null without memory or beyond the
// picture limits.
qmAlphaChannel *CreateShadowAlpha(const qmAlphaChannel *alpha, const qmMask *mask, int32_t x, int32_t y, int32_t width,
                                  int32_t height, double radius, double sigma, int32_t value, int32_t hard,
                                  int32_t secondBlur);

struct qmDistortOutputs {
  qmBitmap *bitmap;
  qmMask *mask;           // when the source has one, or neither plane and no smoothing
  qmAlphaChannel *alpha;  // when the source has one, or neither plane and smoothing
  int32_t width, height;
};
// A distorted copy (method 4 perspective, 9 arc, 10 polar, 12 barrel). 0; ERR_WRONGUSAGE for bad
// parameters or an empty result; ERR_MEM for a result beyond the picture limits or no memory
// (both before anything is kept); ERR_LOCKBMAP.
uint32_t DistortBitmap(const qmBitmap *bitmap, const qmMask *mask, const qmAlphaChannel *alpha, int32_t width,
                       int32_t height, int32_t method, int32_t paramCount, const double *params, int32_t smooth,
                       qmDistortOutputs *out);
