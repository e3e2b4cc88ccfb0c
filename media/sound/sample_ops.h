// Sample arithmetic without the VM: reading values, mixing sources into a new sample and
// converting frames between formats.
#pragma once
#include <cstdint>

#include "runtime/cancel.h"

struct qmSampleData;

// Long loops below poll their cancel once per this many frames.
inline constexpr uint64_t kFramesPerPoll = uint64_t(1) << 20;

// The value at index (frames x channels, stereo alternating) as a signed number: 8-bit
// unsigned data centred on 0, 16-bit big-endian data swapped.
int32_t SampleValue(const qmSampleData *d, uint64_t index);
// Stores a signed value at index in the given format (8-bit codes 2/3 and 16-bit codes 4/5,
// native order).
void StoreSampleValue(uint8_t *data, int32_t format, uint64_t index, int32_t value);

struct qmMixSource {
  const qmSampleData *data;
  double pitch;      // source frames per second
  int64_t offset;    // source frames skipped
  int64_t threshold; // output frame it starts at
  int64_t length;    // output frames it contributes, -1 no limit
  bool loop;
  double scale;
};
// Mixes into out (frames x bytes per frame of format, zeroed by the caller). 0, or the code
// of the cancel that stopped it.
uint32_t MixSampleSources(const qmMixSource *sources, int count, uint32_t frames, uint32_t rate, int32_t format,
                          uint8_t *out, const qmCancel &cancel);

struct qmConvertOptions {
  bool loop = true;
  int64_t offset = 0, start = 0, end = 0;
};
// ERR_SMPRANGE for a bad window, the code of the cancel that stopped it, else 0: frames target
// frames from the source's window. bigEndian: a 16-bit target keeps its values big-endian.
uint32_t ConvertSampleFrames(const qmSampleData *src, const qmConvertOptions &o, uint8_t *dst, int32_t dstFormat,
                             bool bigEndian, uint32_t frames, const qmCancel &cancel);
