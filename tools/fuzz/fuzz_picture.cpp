// libFuzzer target: any bytes through the image loader, whose head test hands JPEG, TIFF and
// GIF to the platform's decoder (and the rest to our own readers).
#include "media/image/imageload.h"
#include "platform/imagecodec.h"
#include "tools/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInputFile input(data, size, "fuzz.pic");
  if (!input.name[0]) return 0;
  uint32_t *pixels = nullptr;
  uint8_t *plane = nullptr;
  int32_t w = 0, h = 0, alpha = 0;
  LoadImageFile(input.name, nullptr, -1, 0, nullptr, nullptr, nullptr, &w, &h, &alpha);
  if (LoadImageFile(input.name, nullptr, -1, 0, &pixels, nullptr, nullptr, &w, &h, &alpha) == 0)
    TouchPixels(pixels, w, h);
  MemFree(pixels);
  pixels = nullptr;
  if (DecodeImageMemory(data, size, &w, &h, &pixels, &alpha, &plane) == 0) {
    TouchPixels(pixels, w, h);
    if (plane) TouchPixels(reinterpret_cast<const uint32_t *>(plane), w / 4, h);
  }
  MemFree(pixels);
  MemFree(plane);
  return 0;
}
