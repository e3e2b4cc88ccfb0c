// libFuzzer target: any bytes as an applet file. The reader gives an error code or a filled
// applet record, and never reads, skips or allocates beyond the bytes it was given.
#include "tools/fuzz/fuzz_applet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInputFile input(data, size, "fuzz.qma");
  if (input.name[0]) ReadFuzzApplet(input.name);
  return 0;
}
