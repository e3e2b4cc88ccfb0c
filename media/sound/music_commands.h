// Handlers of the sound library's music commands (music_commands.cpp), and what the library's
// start, end, events and attributes use of them.
#pragma once
#include <cstdint>

#include "runtime/eventdispatch.h"

struct VmState;
struct qmMixerChannel;
struct qmMusic;
struct qmSoundState;

// The channel of the playing music, or null.
qmMixerChannel *PlayingChannel(qmSoundState *st);
// Stops the back end of the playing music; with keep the place is kept for a resume.
void StopMusicBackend(qmSoundState *st, bool keep);
// Stops it when it plays, takes it out of the list and frees it.
void FreeMusicRecord(VmState *L, qmMusic *m);
// The source of the "FillMusicBuffer" calls of streams the script feeds.
extern const qmEventSource kMusicBufferSource;

uint32_t SndOpenMusic(VmState *L);
uint32_t SndCloseMusic(VmState *L);
uint32_t SndPlayMusic(VmState *L);
uint32_t SndStopMusic(VmState *L);
uint32_t SndPauseMusic(VmState *L);
uint32_t SndResumeMusic(VmState *L);
uint32_t SndSeekMusic(VmState *L);
uint32_t SndSetMusicVolume(VmState *L);
uint32_t SndIsMusic(VmState *L);
uint32_t SndIsMusicPlaying(VmState *L);
uint32_t SndGetPatternPosition(VmState *L);
uint32_t SndGetSongPosition(VmState *L);
uint32_t SndPlaySubsong(VmState *L);
uint32_t SndWaitPatternPosition(VmState *L);
uint32_t SndWaitSongPosition(VmState *L);
uint32_t SndCreateMusic(VmState *L);
uint32_t SndFillMusicBuffer(VmState *L);
