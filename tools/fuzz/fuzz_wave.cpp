// libFuzzer target: any bytes as a RIFF WAVE file for our own decoder.
#include "tools/fuzz/fuzz_sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ReadFuzzSound(data, size, OpenWaveSound);
  return 0;
}
