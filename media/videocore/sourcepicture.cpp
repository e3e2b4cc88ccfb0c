#include "media/videocore/sourcepicture.h"

#include <cstring>

#include "graphics/pixelformat.h"

int PutSourcePicture(const uint8_t *pixels, int32_t width, int32_t height, int32_t bytesPerRow, qmDecodedFrame *f,
                     qmScaleBuffers *scale) {
  if (f->width == width && f->height == height) {
    for (int32_t y = 0; y < height; y++)
      std::memcpy(f->pixels + int64_t(y) * f->bytesPerRow, pixels + int64_t(y) * bytesPerRow, size_t(width) * 4);
    return 0;
  }
  return ScaleVideoPicture(pixels, width, height, bytesPerRow, f->pixels, f->width, f->height, f->bytesPerRow,
                           int32_t(f->smooth), scale);
}

int ScaleVideoPicture(const uint8_t *pixels, int32_t width, int32_t height, int32_t bytesPerRow, uint8_t *to,
                      int32_t toWidth, int32_t toHeight, int32_t toBytesPerRow, int32_t smooth, qmScaleBuffers *scale) {
  if (EnsureScaleBuffers(scale, toWidth, toHeight)) return -1;
  qmScaleRequest q{};
  q.srcPixels = reinterpret_cast<const uint32_t *>(pixels);
  q.dstPixels = reinterpret_cast<uint32_t *>(to);
  q.srcWidth = width, q.srcHeight = height;
  q.dstWidth = toWidth, q.dstHeight = toHeight;
  q.srcPitch = bytesPerRow / 4, q.dstPitch = toBytesPerRow / 4;
  q.smooth = smooth;
  q.format = PIXFMT_BGRX;  // A, R, G, B bytes: the word's low byte carries no colour
  q.bytesPerPixel = 4;
  q.buffers = scale;
  ScalePixels(&q);
  return 0;
}
