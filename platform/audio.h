// The audio output: our own mixer of eight stereo inputs, each with its converter (sample
// format and rate to the device's float stereo) and its gain and pan, pulled by a sink. The
// system device is one sink (platform/sdl); the null sink opens without a device, and tests
// pull frames themselves with RenderAudioOutput.
//
// Everything the render path reads is changed under the audio mutex, which the render path
// only try-locks: while another thread holds it, the output is silence for that block.
#pragma once
#include <atomic>
#include <cstdint>

struct qmMutex;

inline constexpr int kMixerInputs = 8;
inline constexpr uint32_t kOutputRate = 48000;  // what the device is asked for

// A linear PCM layout. flags: 1 = 16-bit values big-endian, 2 = signed values.
enum : uint32_t { AUDIOFMT_BIGENDIAN = 1, AUDIOFMT_SIGNED = 2 };
struct qmAudioFormat {
  uint32_t rate;
  uint32_t bits;  // 8 or 16
  uint32_t channels;  // 1 or 2
  uint32_t bytesPerFrame;
  uint32_t flags;
};

// Fills an LPCM description: bytes per frame = channels x bits / 8.
void FillStreamDescription(qmAudioFormat *out, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t flags);

// A converter's input procedure, on the audio thread: copies at most maxFrames frames into
// buffer and returns how many; 0 ends the input. It must not block, allocate or call the system.
using qmAudioInputProc = uint32_t (*)(void *arg, void *buffer, uint32_t maxFrames);

// Format conversion and linear resampling of one input to the output rate. Made on the main
// thread; rendered on the audio thread without allocating.
struct qmAudioConverter {
  qmAudioFormat in;
  uint32_t outRate;
  uint64_t step;   // input frames per output frame, 32.32 fixed point
  uint64_t phase;  // fraction between cur and next, 32.32
  float cur[2], next[2];
  uint32_t primed;  // cur and next hold frames
  uint32_t inputEnded;  // the procedure returned 0: next is silence past the end
  uint32_t ended;       // cur passed the last frame: nothing more comes out
  qmAudioInputProc proc;
  void *arg;
  uint8_t *buffer;  // input frames fetched but not yet used
  float *decoded;   // the fetched frames as float left/right pairs (ConvertAudio fills it per fetch)
  uint32_t bufferFrames, have, used;
};

// 0, ERR_MEM or ERR_AUDIOCONVERTER (a format other than 8/16-bit mono/stereo, a rate below 1).
uint32_t NewAudioConverter(const qmAudioFormat *in, uint32_t outRate, qmAudioInputProc proc, void *arg,
                           qmAudioConverter **out);
void FreeAudioConverter(qmAudioConverter *c);
// Renders frames of stereo float into out (added, times the gains): the frames made; fewer
// than asked only once the input ended.
uint32_t ConvertAudio(qmAudioConverter *c, float *out, uint32_t frames, float gainLeft, float gainRight);
// The same output frame by frame, decoding each input frame as it is reached: the plain form
// ConvertAudio must equal bit for bit; and ConvertAudio's scalar path, which it takes on
// processors without AVX2. A converter is rendered by one of the three only.
uint32_t ConvertAudioBatched(qmAudioConverter *c, float *out, uint32_t frames, float gainLeft, float gainRight);
uint32_t ConvertAudioStepwise(qmAudioConverter *c, float *out, uint32_t frames, float gainLeft, float gainRight);

// A sink pulls RenderAudioOutput at its own pace. open gives the output rate.
struct qmAudioSink {
  const char *name;
  uint32_t (*open)(uint32_t *rate);  // 0 or ERR_OPENAUDIO
  void (*close)();
};
extern const qmAudioSink kNullAudioSink;
// The system's audio device (platform/sdl); the player's start-up makes it the sink.
extern const qmAudioSink kSystemAudioSink;
// The sink the next OpenAudioOutput uses; null (the start): no device can be opened.
void SetAudioSink(const qmAudioSink *sink);

// Pre- and post-render steps of the sound subsystem, on the audio thread with the audio mutex
// held: they see and change the inputs' sources between two renders.
struct qmAudioRenderHooks {
  void (*preRender)(void *arg, uint32_t frames);
  void (*postRender)(void *arg, uint32_t frames);
};
// arg is handed to both steps: the record of the run whose channels they serve.
void SetAudioRenderHooks(const qmAudioRenderHooks *hooks, void *arg);

// Creates the audio mutex and clears the inputs: 0 or ERR_SEMAPHORE.
uint32_t InitAudio();
// 0 when open or already open, ERR_OPENAUDIO.
uint32_t OpenAudioOutput();
bool AudioOutputOpen();
uint32_t AudioOutputRate();
// Stops pulling (the sink closes); the inputs stay as they are.
void StopAudioOutput();
// Detaches every input (their converters stay their owners'), stops the output, frees the mutex.
void CloseAudioOutput();
qmMutex *AudioMutex();

// Under the audio mutex (the caller takes it): attaches a converter to input index, or
// detaches it with null; the owner frees a detached converter.
void AttachMixerInput(int index, qmAudioConverter *converter);
qmAudioConverter *MixerInputConverter(int index);
// The gain law: cube root of volume / 64; pan 0 left, 128 centre (both sides full), 255 right.
void SetChannelVolumePan(int index, int32_t volume, int32_t pan);
void SetChannelVolume(int index, int32_t volume);
float VolumeGain(int32_t volume);
// The left and right factors of a pan position (balance law: the centre passes unchanged).
void PanFactors(int32_t pan, float *left, float *right);

// The render: frames of interleaved stereo float at the output rate. The sink's callback calls
// it; tests pull through it directly. Never blocks, allocates or calls the system.
void RenderAudioOutput(float *out, uint32_t frames);
