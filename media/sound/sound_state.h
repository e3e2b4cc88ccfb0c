// The sound library's records and its state for the run.
#pragma once
#include <cstdint>

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

struct qmSoundState {
  bool deviceOpen;
  bool noSound;
  qmMusic *playing;
  int playingChannel;
  qmMusic *paused;
  bool inFillCallback;
  bool pollHeld;  // the shared poll interval is held for the sound events
  uintptr_t soundSetting;  // kept for the video engine
};

qmSoundState *GetSoundState(VmState *L);
// The device rule of the commands: 1 when the device is (now) open; 0 when sound is off, or the
// device could not be opened (sound is off from then on).
int SoundDeviceReady(VmState *L);
