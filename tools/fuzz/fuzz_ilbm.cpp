// libFuzzer target: any bytes as an IFF ILBM for our reader; the first byte chooses the
// caller's palette, pen and unique-transparency flag.
#include "media/image/imageload.h"
#include "tools/fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t options = data[0];
  FuzzInputFile input(data + 1, size - 1, "fuzz.ilbm");
  if (!input.name[0]) return 0;
  uint32_t palette[256];
  for (int i = 0; i < 256; i++) palette[i] = i < (options >> 3) ? uint32_t(i) * 0x010203u : 0xFFFFFFFFu;
  uint32_t *pixels = nullptr, *paletteOut = nullptr, transparent = 0;
  int32_t w = 0, h = 0;
  LoadILBM(input.name, nullptr, -1, 0, &transparent, &w, &h, nullptr, nullptr);
  if (LoadILBM(input.name, (options & 1) ? palette : nullptr, (options & 2) ? 0xFF8800 : -1, (options >> 2) & 1,
               &transparent, &w, &h, &pixels, &paletteOut) == 0)
    TouchPixels(pixels, w, h);
  MemFree(pixels);
  MemFree(paletteOut);
  return 0;
}
