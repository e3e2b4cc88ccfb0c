// libFuzzer target: any bytes as a PNG for our libpng reader.
#include "media/image/imageload.h"
#include "tools/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInputFile input(data, size, "fuzz.png");
  if (!input.name[0]) return 0;
  uint32_t *pixels = nullptr, err = 0;
  int32_t w = 0, h = 0, alpha = 0;
  LoadPNG(input.name, &w, &h, nullptr, &alpha, &err);
  LoadPNG(input.name, &w, &h, &pixels, &alpha, &err);
  if (!err) TouchPixels(pixels, w, h);
  MemFree(pixels);
  return 0;
}
