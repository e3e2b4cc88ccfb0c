// Sound streams: a sound file opened through one of the decoder kinds and read as PCM frames,
// and the sample data that a sound read whole becomes.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/audio.h"
#include "runtime/formatplugins.h"

struct qmFileHandle;
struct qmSoundFile;
struct qmCustomStream;

// Format codes (interleaved frames, left first).
enum : int32_t {
  SMPFMT_MONO8U = 0,
  SMPFMT_STEREO8U = 1,
  SMPFMT_MONO8 = 2,
  SMPFMT_STEREO8 = 3,
  SMPFMT_MONO16 = 4,
  SMPFMT_STEREO16 = 5,
};
// The script's constants for the layouts (MONO8 ...), as they are given and reported.
enum : int32_t { SNDTYPE_MONO8 = 0, SNDTYPE_MONO16 = 1, SNDTYPE_STEREO8 = 2, SNDTYPE_STEREO16 = 3 };

enum : int32_t {
  SNDKIND_8SVX = 1,
  SNDKIND_16SV = 2,
  SNDKIND_WAVE = 3,
  SNDKIND_SYSTEM = 4,
  SNDKIND_PLUGIN = 5,
  SNDKIND_CUSTOM = 6,
};

// Sound flags: as the audio format's (AUDIOFMT_BIGENDIAN, AUDIOFMT_SIGNED).

struct qmSampleData {
  uint8_t *data;  // owned
  uint32_t bits;
  uint32_t bytesPerFrame;
  uint32_t channels;
  uint32_t flags;
  uint32_t frames;
  uint32_t reserved;
  int32_t format;
  uint32_t rate;
};

struct qmSound {
  qmFileHandle *file;   // kinds 1 to 3
  qmSoundFile *system;  // kind 4
  uint32_t bits, bytesPerFrame, channels, flags, rate;
  uint64_t totalBytes, frames, packets;
  uint64_t position;  // the next frame read
  uint64_t dataOffset;
  uint32_t bytesPerPacket, framesPerPacket;
  uint32_t lastBytes, lastFrames;
  int32_t kind;
  int32_t format;  // -1 when the bit depth is neither 8 nor 16
  uint32_t bitRate;
  uint8_t *scratch;
  uint32_t scratchSize;
  int64_t positionUs;  // the time of the position while not playing
  int64_t startUs;     // when the current play began; 0 when not playing
  int64_t playedMs;
  int32_t mode;  // 1 music, 0 read whole
  int32_t seekable;
  qmCustomStream *custom;  // kind 6
  const qmFormatPlugins *plugins;  // kind 5: the plug-in's decoder
  qmPluginDecoder decoder;
};

// Bytes per frame of a format code; 0 for an unknown one.
uint32_t FormatBytesPerFrame(int32_t format);
// The format code of a layout: -1 for bit depths other than 8 and 16.
int32_t FormatCodeOf(uint32_t channels, uint32_t bits, uint32_t flags);
// The script's type constant of a format code, and the code of a script type (-1 none).
int32_t FormatToScriptType(int32_t format);
int32_t ScriptTypeToFormat(int32_t type);

// Frames per second above every rate in use; a file that claims more is refused.
inline constexpr uint32_t kMaxSoundRate = 1000000;
// Bytes of one frame above every layout in use (eight channels of 32 bits).
inline constexpr uint64_t kMaxFrameBytes = 32;
// 0, ERR_READFILE (name stored), ERR_MEM, ERR_OPENSOUND2 (name stored) for a rate beyond
// kMaxSoundRate or a frame beyond kMaxFrameBytes, or the system reader's error. The sound
// decoders of plugins (may be null) are asked before the program's own.
uint32_t OpenSoundStream(const char *name, int32_t mode, qmSound **out, const qmFormatPlugins *plugins = nullptr);
void CloseSoundStream(qmSound *s);
uint64_t ReadSoundFrames(qmSound *s, void *buffer, uint64_t frames, int *end);
void SeekSoundStream(qmSound *s, uint64_t frame);
void SeekSoundStreamMs(qmSound *s, int64_t ms);
const char *SoundStreamName(const qmSound *s);
uint64_t SoundDurationMs(const qmSound *s);

// Reads a sound file whole: 0, ERR_STREAMASSAMPLE, ERR_8OR16BITONLY, ERR_MEM, or the
// stream's error. *out is a new record owned by the caller.
uint32_t LoadSoundWhole(const char *name, qmSampleData **out, const qmFormatPlugins *plugins = nullptr);
int ProbeSampleFile(const char *name, const qmFormatPlugins *plugins = nullptr);
// Wraps PCM (taken over) as sample data of a signed format code: 0 or ERR_MEM.
uint32_t CreateMemorySound(uint8_t *data, uint32_t frames, uint32_t rate, int32_t format, qmSampleData **out);
void ReplaceSoundData(qmSampleData *d, int32_t format, uint8_t *data, uint32_t frames, uint32_t rate);
void FreeSampleData(qmSampleData *d);

// The decoders of kinds 1 to 3: 1 accepted, 0 refused (the file is closed then).
int OpenIffSound(const char *name, qmSound *s, int sixteen);
uint64_t ReadIffSound(qmSound *s, void *buffer, uint64_t frames, int *end);
int OpenWaveSound(const char *name, qmSound *s);
uint64_t ReadWaveSound(qmSound *s, void *buffer, uint64_t frames, int *end);

// A RIFF WAVE file of PCM: 0, ERR_WRITEFILE (name stored) or ERR_MEM.
uint32_t WriteWaveFile(const char *name, const qmSampleData *d);
