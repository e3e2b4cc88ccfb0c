// libFuzzer target: any bytes as a font file for the bitmap engine and the sfnt name reader.
#include "tools/fuzz/fuzz_font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ReadFuzzFont(data, size);
  return 0;
}
