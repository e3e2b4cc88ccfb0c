// libFuzzer target: any bytes as an IFF 8SVX or 16SV file (the first byte picks which).
#include "tools/fuzz/fuzz_sound.h"

namespace {
int Open8Svx(const char *name, qmSound *s) { return OpenIffSound(name, s, 0); }
int Open16Sv(const char *name, qmSound *s) { return OpenIffSound(name, s, 1); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  ReadFuzzSound(data + 1, size - 1, data[0] & 1 ? Open16Sv : Open8Svx);
  return 0;
}
