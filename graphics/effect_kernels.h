// Image effects on 32-bit pixels: Gaussian blur, sharpen, emboss and edge by convolution, and
// the per-pixel recolourings (solarize, gamma, contrast, modulate, sepia, level stretch, oil
// paint). Channel arithmetic runs in doubles on the canonical red, green and blue; results are
// clamped to 0..255 and truncated, and every written word has its fourth byte 0.
#pragma once
#include <cstdint>

#include "runtime/cancel.h"

// Operation codes: the character code of the operation's initial.
enum : int32_t { CONVOLVE_BLUR = 98, CONVOLVE_EMBOSS = 101, CONVOLVE_EDGE = 103, CONVOLVE_SHARPEN = 115 };

// Widest kernel these kernels build; the width searches stop here (wider requests do nothing).
constexpr int32_t QM_MAX_KERNEL_WIDTH = 1025;

struct qmConvolveRequest {
  uint32_t *pixels; // null: a blur of the alpha plane alone
  int32_t width, height;
  int32_t pitch; // in pixels
  int32_t format;
  int32_t bytesPerPixel; // only 4 is processed
  uint8_t *alpha;        // or null; blurred along with the pixels by the blur alone
  int32_t alphaBytesPerRow;
  double radius, sigma;
  int32_t operation; // CONVOLVE_*
  qmCancel cancel{}; // polled once per row of pixels
};

// Odd kernel widths of a Gaussian of this radius and sigma; 0 when the width would pass
// QM_MAX_KERNEL_WIDTH (or the sigma is not a number).
int32_t GaussWidth1D(double radius, double sigma);
int32_t GaussWidth2D(double radius, double sigma);

// A copy of the picture with a border of kernelWidth / 2 on every side repeating the edge pixels.
// With a null buffer the copy is allocated (MemAlloc; the caller frees it), else the buffer is
// reused; *outPitch gets the row pitch. Null when the copy cannot be had.
uint32_t *PadPixels(const uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t kernelWidth,
                    uint32_t *buffer, int32_t *outPitch);
uint8_t *PadBytes(const uint8_t *plane, int32_t width, int32_t height, int32_t bytesPerRow, int32_t kernelWidth,
                  uint8_t *buffer, int32_t *outBytesPerRow);
// The row pitches PadPixels and PadBytes use, and the size of their copies in bytes (64 bits).
int64_t PaddedPitch(int32_t width, int32_t kernelWidth);
int64_t PaddedBytesPerRow(int32_t width, int32_t kernelWidth);

// out[x] = the sum over k = 0..count-1, in that order from 0, of weights[k] * taps[k][x]: the inner
// loop of every convolution here, with a scalar twin kept to check the vector path. With truncate
// each sum is stored clamped to 0..255 and truncated: the channel a written pixel would hold,
// still as a double.
void ConvolveTaps(const double *const *taps, const double *weights, int32_t count, int32_t n, double *out, int32_t truncate = 0);
void ConvolveTapsScalar(const double *const *taps, const double *weights, int32_t count, int32_t n, double *out,
                        int32_t truncate = 0);
// The channels at the three shifts of each word, as doubles.
void SplitChannels(const uint32_t *src, int64_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB, double *r, double *g, double *b);
void SplitChannelsScalar(const uint32_t *src, int64_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB, double *r, double *g,
                         double *b);
// Three channel sums clamped to 0..255, truncated and shifted into words (the other bits 0).
void PackChannels(const double *r, const double *g, const double *b, int32_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB,
                  uint32_t *out);
void PackChannelsScalar(const double *r, const double *g, const double *b, int32_t n, int32_t shiftR, int32_t shiftG,
                        int32_t shiftB, uint32_t *out);

// 0, or ERR_MEM when a copy or kernel could not be allocated (the picture is then unchanged,
// except that a blur keeps its passes over the pixels when the alpha plane's copy fails).
int32_t ConvolvePixels(const qmConvolveRequest *req);

// The blur of a request's pixels (not its alpha plane) by the double sums alone: the twin of the
// float path that ConvolvePixels takes where the processor has AVX2 and FMA. 0 or ERR_MEM.
int32_t BlurPixelsScalar(const qmConvolveRequest *req);

void SolarizePixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t format, int32_t threshold);

struct qmGammaRequest {
  uint32_t *pixels;
  int32_t width, height, pitch, format;
  const uint8_t *red, *green, *blue; // 256 entries each
  int32_t flags;                     // bit 0 red, bit 1 green, bit 2 blue
};
void GammaPixels(const qmGammaRequest *req);

// sign +1 raises the contrast, -1 lowers it.
void ContrastPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t format, int32_t sign);
// repeat passes of ContrastPixels at the cost of the passes before each colour's values repeat.
void ContrastPixelsRepeated(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t format,
                            int32_t sign, int32_t repeat);

struct qmModulateRequest {
  uint32_t *pixels;
  int32_t width, height, pitch, format;
  double brightness, saturation, hue; // percents; 100 keeps
};
void ModulatePixels(const qmModulateRequest *req);
// The same one pixel at a time, kept to check the vector path.
void ModulatePixelsScalar(const qmModulateRequest *req);

void SepiaPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t format, double threshold);

struct qmLevelStretchRequest {
  uint32_t *pixels;
  int32_t width, height, pitch;
  double blackCount, whiteCount; // pixels allowed below black and above white
  int32_t format;
  int32_t bytesPerPixel; // only 4 is processed
};
void LevelStretchPixels(const qmLevelStretchRequest *req);

struct qmOilPaintRequest {
  uint32_t *pixels;
  int32_t width, height, pitch, format;
  double radius;
  qmCancel cancel{}; // polled once per row
};
// 0, ERR_MEM (unchanged), or the code of the cancel (the rows above it painted).
int32_t OilPaintPixels(const qmOilPaintRequest *req);

// Intensity of a canonical colour, as the effects weigh it.
inline double PixelIntensity(uint32_t rgb) {
  return 0.299 * double((rgb >> 16) & 0xFF) + 0.587 * double((rgb >> 8) & 0xFF) + 0.114 * double(rgb & 0xFF);
}
