// The sound library's records and its state for the run.
#pragma once
#include <cstdint>

#include "media/sound/channels.h"
#include "media/videocore/engine.h"
#include "runtime/registry.h"

struct VmState;
struct qmSampleData;
struct qmSound;
struct qmModule;

struct qmSample {
  qmObjectHeader header;  // QMTYPE_SAMPLE
  qmSampleData *data;
  int32_t volume;  // 0..64
  int32_t pitch;   // Hz, at least 256
  int32_t format;
  int32_t length;  // bytes
  int32_t panning;  // 0..255
};

enum : int32_t { MUSKIND_STREAM = 1, MUSKIND_MODULE = 2 };

struct qmMusic {
  qmObjectHeader header;  // QMTYPE_MUSIC
  qmSound *stream;        // kind 1
  qmModule *module;       // kind 2
  int32_t kind;
  int32_t volume;
  int32_t paused;
  uint32_t times;  // 0 without end
  uint32_t savedPass;
  int32_t custom;
  int32_t seekable;
  uint64_t framesDelivered;  // custom streams: what the script handed over
};

// What the dispatcher hands the script with a "FillMusicBuffer" call.
struct qmMusicBufferRequest {
  qmObjectId id;
  uint64_t wanted;
  uint64_t delivered;
};

// The sound event being delivered, for the message the handler gets.
struct qmSoundMessage {
  int32_t kind;
  qmObjectId id;
  uint64_t position;
  uint32_t count;
};

struct qmSoundState {
  bool deviceOpen = false;
  bool noSound = false;
  qmMusic *playing = nullptr;
  int playingChannel = -1;
  qmMusic *paused = nullptr;
  bool inFillCallback = false;
  bool pollHeld = false;  // the shared poll interval is held for the sound events
  uintptr_t soundSetting = 30;  // kept for the video engine
  qmSoundChannels channels;
  qmMusicBufferRequest bufferRequest = {};
  qmSoundMessage message = {};
  qmVideoAudioOps videoOps = {};  // the channels' answers for videos, filled by the wiring
};

qmSoundState *GetSoundState(VmState *L);
// The device rule of the commands: 1 when the device is (now) open; 0 when sound is off, or the
// device could not be opened (sound is off from then on).
int SoundDeviceReady(VmState *L);
