// libFuzzer target: any bytes as an AVI for the reader; every frame is loaded in sequence,
// then a few out of order (the first byte picks them), so that idx1 seeks and rescans run too.
#include "media/videocore/avireader.h"
#include "tools/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t order = data[0];
  FuzzInputFile input(data + 1, size - 1, "fuzz.avi");
  if (!input.name[0]) return 0;
  int32_t w = 0, h = 0, n = 0;
  qmAviReader *r = AviReaderOpen(input.name, &w, &h, &n);
  if (!r) return 0;
  auto load = [&](int32_t i) {
    uint32_t *pixels = AviReaderLoadFrame(r, i);
    if (pixels) TouchPixels(pixels, w, h);
    MemFree(pixels);
  };
  for (int32_t i = 0; i < n && i < 64; i++) load(i);
  for (int k = 0; k < 4; k++) load(n ? int32_t((order >> (2 * k)) & 3) % n : 0);
  AviReaderClose(r);
  return 0;
}
