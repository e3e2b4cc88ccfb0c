// libFuzzer target: any bytes as a Protracker module, rendered for a few seconds with a jump
// requested half way.
#include <cstdint>
#include <vector>

#include "media/sound/module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  qmModule m;
  if (InitModule(&m, data, size, 48000) != 0) return 0;
  std::vector<int16_t> buf(4800 * 2);
  for (int i = 0; i < 40; i++) {
    if (i == 20) RequestModulePosition(&m, int32_t(size % 128));
    RenderModuleAudio(&m, buf.data(), 4800);
  }
  RestartModule(&m);
  RenderModuleAudio(&m, buf.data(), 4800);
  return 0;
}
