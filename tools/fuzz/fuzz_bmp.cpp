// libFuzzer target: any bytes as a Windows BMP for our reader.
#include "media/image/imageload.h"
#include "tools/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInputFile input(data, size, "fuzz.bmp");
  if (!input.name[0]) return 0;
  uint32_t *pixels = nullptr;
  int32_t w = 0, h = 0;
  LoadBMP(input.name, &w, &h, nullptr);
  if (LoadBMP(input.name, &w, &h, &pixels) == 0) TouchPixels(pixels, w, h);
  MemFree(pixels);
  return 0;
}
