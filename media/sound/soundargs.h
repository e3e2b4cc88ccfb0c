// What the sound library's handler files share: the run's channels, the result helpers, the
// volume argument and the poll interval the sound events keep running (lib_sound.cpp).
#pragma once
#include <cstdint>

#include "runtime/objectid.h"

struct VmState;
struct qmSoundChannels;

inline constexpr int32_t kMessageLoadingSample = 146;
inline constexpr int32_t kMessageLoadingMusic = 147;
inline constexpr uint32_t kModuleRate = 48000;

// The run's mixer channels.
qmSoundChannels *ChannelsOf(VmState *L);
uint32_t PushNumber(VmState *L, double v);
// An automatic id is returned as the only result (the record's address); a numbered one
// returns nothing.
uint32_t PushNewId(VmState *L, const qmObjectId &id, void *record);
// A volume argument 0..64 (a percentage of 64 allowed).
int32_t VolumeArg(VmState *L, int i);
// Keeps the dispatcher polling while channels play that will raise events, and lets it go.
void HoldPollTimer(VmState *L);
void ReleaseSoundPoll(VmState *L);
// 10 ms of a wait for the sound, with the event pump running where the player wired it: 0, or
// ERR_USERABORT on a quit.
uint32_t PauseForSound(VmState *L);
