// The system audio device: an SDL audio device of float stereo whose callback pulls our mixer.
#include "platform/audio.h"
#include "platform/sdl/sdl_internal.h"
#include "runtime/errcodes.h"

namespace {

SDL_AudioDeviceID gDevice = 0;

void DeviceCallback(void *, Uint8 *stream, int len) {
  RenderAudioOutput(reinterpret_cast<float *>(stream), uint32_t(len) / (2 * sizeof(float)));
}

uint32_t OpenDevice(uint32_t *rate) {
  if (InitSdlSubSystem(SDL_INIT_AUDIO) != 0) return ERR_OPENAUDIO;
  SDL_AudioSpec want{}, have{};
  want.freq = int(kOutputRate);
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = DeviceCallback;
  gDevice = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (gDevice == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return ERR_OPENAUDIO;
  }
  *rate = uint32_t(have.freq);
  SDL_PauseAudioDevice(gDevice, 0);
  return 0;
}

void CloseDevice() {
  if (gDevice) SDL_CloseAudioDevice(gDevice);  // waits for a running callback to return
  gDevice = 0;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace

const qmAudioSink kSystemAudioSink = {"system", OpenDevice, CloseDevice};
