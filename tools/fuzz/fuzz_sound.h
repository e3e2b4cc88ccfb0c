// What the sound decoders' targets share: a stream opened by one of our own decoders from the
// input bytes, read to its end in small and large steps, and closed.
#pragma once
#include <cstdlib>
#include <vector>

#include "media/sound/sound_stream.h"
#include "tools/fuzz/fuzz_applet.h"

inline void ReadFuzzSound(const uint8_t *data, size_t size, int (*open)(const char *, qmSound *)) {
  FuzzInputFile input(data, size, "fuzz.snd");
  if (!input.name[0]) return;
  auto *s = static_cast<qmSound *>(std::calloc(1, sizeof(qmSound)));
  if (!s) return;
  if (open(input.name, s)) {
    std::vector<uint8_t> buf(4096 * 4);
    int end = 0;
    for (uint32_t step = 1; !end; step = step < 4096 ? step * 3 : 4096)
      if (ReadSoundFrames(s, buf.data(), step, &end) == 0) break;
    SeekSoundStream(s, s->frames / 2);
    ReadSoundFrames(s, buf.data(), 4096, &end);
  }
  CloseSoundStream(s);
}
