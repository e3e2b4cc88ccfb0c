// Handlers of the sound library's sample commands (sample_commands.cpp), and what the music
// commands use of them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/objectid.h"

struct VmState;
struct qmSample;
struct qmConvertOptions;

qmSample *FindSample(VmState *L, const qmObjectId *id);
// Stops its channels, takes it out of the list and frees it.
void FreeSampleRecord(VmState *L, qmSample *s);
// The bytes of frames frames, worked out before anything is allocated: ERR_MEM past a sample's
// signed 32-bit length, else 0 with *bytes set.
uint32_t SampleBytesOf(int64_t frames, uint32_t bytesPerFrame, size_t *bytes);
// The conversion options of an option table at index t (absent fields keep their defaults).
void ReadConvertOptions(VmState *L, int t, qmConvertOptions *o);

uint32_t SndLoadSample(VmState *L);
uint32_t SndFreeSample(VmState *L);
uint32_t SndIsSound(VmState *L);
uint32_t SndIsSample(VmState *L);
uint32_t SndPlaySample(VmState *L);
uint32_t SndStopSample(VmState *L);
uint32_t SndWaitSampleEnd(VmState *L);
uint32_t SndIsSamplePlaying(VmState *L);
uint32_t SndSetVolume(VmState *L);
uint32_t SndSetPanning(VmState *L);
uint32_t SndSetPitch(VmState *L);
// Does nothing: the volumes are the samples' and the music's own.
uint32_t SndSetMasterVolume(VmState *L);
uint32_t SndCreateSample(VmState *L);
uint32_t SndGetSampleData(VmState *L);
uint32_t SndMixSample(VmState *L);
uint32_t SndCopySample(VmState *L);
uint32_t SndInsertSample(VmState *L);
uint32_t SndSaveSample(VmState *L);
