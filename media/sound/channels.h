// The eight mixer channels through which samples, modules and music streams reach the audio
// output, the double buffer and refill thread of the one playing stream, and the queue of
// sound events that carries loops and ends to the script's handlers.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/audio.h"
#include "runtime/registry.h"

struct qmSampleData;
struct qmSound;
struct qmModule;
struct qmStreamPlayer;
struct qmSoundChannels;

enum : int32_t { CHAN_FREE, CHAN_CLAIMED, CHAN_SAMPLE, CHAN_MODULE, CHAN_STREAM, CHAN_VIDEO };
enum : int32_t { SNDEVT_SAMPLEEND = 5, SNDEVT_SAMPLELOOP = 6, SNDEVT_MUSICEND = 7, SNDEVT_VIDEOEND = 8 };

struct qmMixerChannel {
  qmSampleData *sample;
  qmSound *stream;
  qmModule *module;
  std::atomic<int32_t> state;
  qmObjectId id;
  uint32_t times;              // passes to play; 0 without end
  std::atomic<uint32_t> pass;  // the pass playing, from 1
  uint64_t lastPassFrames;     // frames of the last pass
  uint64_t lastPassMs;         // milliseconds of a cut last pass, 0 for a whole one
  uint64_t passMs;             // milliseconds of one pass (at least 1)
  std::atomic<uint64_t> frame;  // frames handed over within the pass
  int32_t volume, pan, pitch;
  qmAudioConverter *converter;
  std::atomic<uint32_t> released;   // the converter ran dry and was detached: retire on the main thread
  std::atomic<uint32_t> loopsSeen;  // passes begun after the first, counted by the audio thread
  uint32_t loopsPosted;
  qmStreamPlayer *player;
  // Main thread: the stream ended by itself (called with endedArg); or null.
  void (*streamEnded)(void *endedArg, qmMixerChannel *ch);
  void *endedArg;
  qmSoundChannels *owner;  // the set the channel is one of
};

// Which script handlers are installed: events are noted only for those.
struct qmSoundHandlers {
  std::atomic<uint32_t> sampleLoop, sampleEnd, musicEnd, videoEnd;
};

struct qmSoundEvent {
  int32_t kind;
  qmObjectId id;
  uint64_t position;
  uint32_t count;
};

// The run's channels, the handler flags that decide which events are noted, and the events
// waiting for the dispatcher (posted from any thread, under eventMutex).
struct qmSoundChannels {
  qmMixerChannel channels[kMixerInputs];
  qmSoundHandlers handlers;
  std::mutex eventMutex;
  std::deque<qmSoundEvent> events;
};

// Clears the channels and installs the render hooks for them: 0 or ERR_SEMAPHORE.
uint32_t InitSoundChannels(qmSoundChannels *set);
// Stops every channel and drops the events; the render hooks stay until the output closes.
void FreeSoundChannels(qmSoundChannels *set);
qmMixerChannel *GetMixerChannel(qmSoundChannels *set, int index);
void ResetMixerChannel(qmMixerChannel *ch);

// Claims the first free channel (state CHAN_CLAIMED) with its converter built: 0,
// ERR_NOCHANNEL, ERR_AUDIOCONVERTER or ERR_MEM; *index is the channel's. time -1 plays times
// passes (0: without end); else time milliseconds.
uint32_t ClaimSampleChannel(qmSoundChannels *set, qmSampleData *d, const qmObjectId &id, int32_t pitch,
                            int32_t volume, int32_t pan, int64_t time, uint32_t times, int *index);
// The claimed channels start together (one step under the audio mutex).
void StartClaimedChannels(qmSoundChannels *set);
// Frees the claimed channels that did not start (a failed PlaySample).
void ReleaseClaimedChannels(qmSoundChannels *set);
// Stops every channel that plays the data: the number stopped.
int StopSampleChannels(qmSoundChannels *set, const qmSampleData *d);
bool SampleIsPlaying(qmSoundChannels *set, const qmSampleData *d);
// The playing channel of the data, or null.
qmMixerChannel *FindSampleChannel(qmSoundChannels *set, const qmSampleData *d);
void SetSampleChannelParams(qmSoundChannels *set, const qmSampleData *d, int32_t volume, int32_t pan);

// A module on a free channel: 0, ERR_NOCHANNEL, ERR_AUDIOCONVERTER or ERR_MEM.
uint32_t StartModuleChannel(qmSoundChannels *set, qmModule *m, const qmObjectId &id, int32_t volume, int *index);
// A stream on a free channel from its current position, with pass counting from startPass;
// ended (or null) is called with endedArg on the main thread when it ends by itself, before the
// channel is freed. 0, ERR_NOCHANNEL, ERR_AUDIOCONVERTER, ERR_THREAD or ERR_MEM.
uint32_t StartStreamChannel(qmSoundChannels *set, qmSound *s, const qmObjectId &id, uint32_t times,
                            uint32_t startPass, int32_t volume, void (*ended)(void *endedArg, qmMixerChannel *ch),
                            void *endedArg, int *index);
// A video's sound on a free channel: signed 16-bit frames pulled from input, which must hand
// silence rather than 0 while it has nothing yet (0 ends the channel's input). 0, ERR_NOCHANNEL,
// ERR_AUDIOCONVERTER or ERR_MEM. set is the run's qmSoundChannels (untyped for the video engine).
uint32_t StartVideoChannel(void *set, uint32_t rate, uint32_t channels, qmAudioInputProc input, void *arg,
                           int32_t volume, int *index);
// Volume 0..64 of a video's channel.
void SetVideoChannelVolume(void *set, int index, int32_t volume);
// Detaches the video's channel and frees it.
void StopVideoChannel(void *set, int index);
// The video's end event, when the script handles it (any thread).
void PostVideoEndEvent(void *set, const qmObjectId *id);
// Stops the channel's music; with keep, the stream's position is where playing stopped and
// *pass the pass it was in. The channel is free afterwards.
void FinishMusicChannel(qmMixerChannel *ch, bool keep, uint32_t *pass);
// Whether the stream's refill runs without a thread (all it has left fits in one half).
bool StreamIsSingleBuffer(const qmMixerChannel *ch);
// Whether the refill thread has filled the half that plays next (or nothing is left to fill).
bool StreamRefillCaughtUp(const qmMixerChannel *ch);
// Milliseconds into the stream while it plays.
uint64_t StreamPositionMs(const qmMixerChannel *ch);

// Main thread: notes the pending events, retires ended channels. Called by the pump and by
// every channel query.
void UpdateAudioChannels(qmSoundChannels *set);
void ServiceAudioEvents(qmSoundChannels *set);

// Events, oldest first.
void PostSoundEvent(qmSoundChannels *set, int32_t kind, const qmObjectId &id, uint64_t passMs, uint32_t count,
                    uint64_t extraMs);
int TakeSoundEvent(qmSoundChannels *set, int32_t *kind, qmObjectId *id, uint64_t *position, uint32_t *count);
void ClearSoundEvents(qmSoundChannels *set);
// Whether a channel plays something that will end by itself (the library keeps the dispatcher
// polling meanwhile).
bool AnyChannelPlaying(qmSoundChannels *set);
