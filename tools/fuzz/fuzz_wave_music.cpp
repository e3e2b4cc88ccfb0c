// libFuzzer target: any bytes as a sound file opened as music, the way OpenMusic and PlayMusic
// take it: the stream plays on a mixer channel of the null sink for a few renders, then stops.
#include <vector>

#include "media/sound/channels.h"
#include "media/sound/sound_stream.h"
#include "platform/audio.h"
#include "tools/fuzz/fuzz_applet.h"

namespace {
// The channels of the one run a fuzzing process makes, kept for its whole life.
qmSoundChannels *AudioReady() {
  static qmSoundChannels *const set = [] {
    SetAudioSink(&kNullAudioSink);
    auto *channels = new qmSoundChannels{};
    return InitAudio() == 0 && InitSoundChannels(channels) == 0 && OpenAudioOutput() == 0 ? channels : nullptr;
  }();
  return set;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  qmSoundChannels *set = AudioReady();
  if (!set) return 0;
  FuzzInputFile input(data, size, "fuzz.wav");
  if (!input.name[0]) return 0;
  qmSound *s;
  if (OpenSoundStream(input.name, 0, &s) != 0) return 0;
  int index;
  if (StartStreamChannel(set, s, qmObjectId{1, 0}, 2, 1, 64, nullptr, nullptr, &index) == 0) {
    std::vector<float> out(2 * 2048);
    for (int i = 0; i < 6; i++) RenderAudioOutput(out.data(), 2048);
    FinishMusicChannel(GetMixerChannel(set, index), false, nullptr);
  }
  UpdateAudioChannels(set);
  CloseSoundStream(s);
  return 0;
}
