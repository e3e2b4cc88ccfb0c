// Recolouring without moving pixels: gray and two-colour conversion, tint, mix, RGB to HSL,
// planar YUV 4:2:0 video frames to any display format (plain and scaled), and palette rows
// (including the hold-and-modify modes) to 32-bit colours.
#pragma once
#include <cstdint>

void GrayPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t format, int32_t pitch, int32_t threshold);

// One index byte per pixel, rows of exactly width bytes: non-zero gives white.
void IndexToMonochromePixels(uint32_t *pixels, int32_t width, int32_t height, int32_t format, int32_t pitch,
                             const uint8_t *indexBytes);

struct qmTintRequest {
  uint32_t *pixels;
  int32_t x, y, width, height;
  uint32_t tint; // 0xRRGGBB
  int32_t level; // 0..255
  int32_t pitch; // in pixels
  int32_t format;
};
void TintPixels(const qmTintRequest *req);

struct qmMixRequest {
  const uint32_t *src;
  uint32_t *dst;
  const uint8_t *mask; // or null: every pixel
  int32_t maskX;       // bit of each mask row that belongs to the first pixel
  int32_t width, height;
  int32_t level; // 0..255: 255 gives the source; beyond, the nearest end
  int32_t format;
  int32_t srcPitch, dstPitch; // in pixels; a pitch of 0 repeats one row (a row of one colour tints)
  int32_t maskBytesPerRow;
  // Or null: the blend goes back into dst. Given, dst is only read and every pixel of out is
  // written (the dst pixel where the mask leaves it).
  uint32_t *out;
  int32_t outPitch;  // in pixels
};
// Each channel s + (((d - s) * (255 - level)) >> 8), the shift arithmetic: the one blend of
// pictures and colours (crossfades, tints, masked composition), eight pixels a step where the
// processor can.
void MixPixels(const qmMixRequest *req);
// The same one pixel at a time, kept to check the vector path.
void MixPixelsScalar(const qmMixRequest *req);

// All three results in 0..1.
void RgbToHsl(int32_t red, int32_t green, int32_t blue, double *hue, double *saturation, double *lightness);

// The 8-bit channel of BT.601 video-range YUV, integer arithmetic truncating toward zero.
inline int32_t YuvRed(int32_t y, int32_t, int32_t v) {
  int32_t n = 1904000 * y + 2609823 * v - 363703744;
  return n <= 0 ? 0 : n >= 256 * 1635200 ? 255 : n / 1635200;
}
inline int32_t YuvGreen(int32_t y, int32_t u, int32_t v) {
  int32_t n = 3827562 * y - 1287801 * u - 2672387 * v + 447306710;
  return n <= 0 ? 0 : n >= 256 * 3287200 ? 255 : n / 3287200;
}
inline int32_t YuvBlue(int32_t y, int32_t u, int32_t) {
  int32_t n = 952000 * y + 1649289 * u - 225932192;
  return n <= 0 ? 0 : n >= 256 * 817600 ? 255 : n / 817600;
}
// The colour 0xRRGGBB of one (Y, U, V) triple.
inline uint32_t YuvToRgb(int32_t y, int32_t u, int32_t v) {
  return (uint32_t(YuvRed(y, u, v)) << 16) | (uint32_t(YuvGreen(y, u, v)) << 8) | uint32_t(YuvBlue(y, u, v));
}

struct qmYuvFrameRequest {
  const uint8_t *planeY, *planeU, *planeV;
  int32_t bytesPerRowY, bytesPerRowU, bytesPerRowV;
  void *dst;
  int32_t width, height;
  int32_t dstPitch; // in pixels
  int32_t format;   // pixel format code 0..13
  int32_t bytesPerPixel;
};
void ConvertYuvFrame(const qmYuvFrameRequest *req);
// The same with every pixel converted one at a time, kept to check the vector path.
void ConvertYuvFrameScalar(const qmYuvFrameRequest *req);

struct qmYuvScaleRequest {
  const uint8_t *planeY, *planeU, *planeV;
  int32_t bytesPerRowY, bytesPerRowU, bytesPerRowV;
  void *dst;
  int32_t srcWidth, srcHeight;
  int32_t dstWidth, dstHeight;
  int32_t dstPitch; // in pixels
  int32_t format;
  int32_t bytesPerPixel;
};
void ScaleYuvFrame(const qmYuvScaleRequest *req);
// The same with every pixel converted one at a time, kept to check the vector path.
void ScaleYuvFrameScalar(const qmYuvScaleRequest *req);

// planes 6 and 8 are the hold-and-modify modes; palette: 256 colours 0xRRGGBB, whatever the
// picture's own palette length (the index bytes may hold any value).
void ExpandPaletteRow(const uint8_t *indexBytes, uint32_t *dst, const uint32_t *palette, int32_t width, int32_t height,
                      int32_t srcBytesPerRow, int32_t planes);
