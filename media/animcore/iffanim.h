// IFF ANIM reader: a FORM ANIM of a first FORM ILBM and one FORM per further frame whose DLTA
// chunk is a byte-vertical delta (ANHD operation 5). Frames are decoded in sequence into two
// plane buffers (each delta applies to the frame two steps back unless interleave is set).
// IFF integers are big-endian.
#pragma once
#include <cstdint>

struct qmFileHandle;

struct qmIffAnim {
  qmFileHandle *file;
  int32_t width, height;
  int32_t depth;               // planes, 1..8
  int32_t outputDepth;         // 24 for HAM, else depth
  int32_t compression, masking;  // of BMHD
  int32_t ehb, ham6, ham8;
  uint32_t palette[256];       // in use, 0x00RRGGBB
  uint32_t firstPalette[256];
  int32_t frameCount;
  uint64_t secondFrame;        // position of the second frame's FORM
  int32_t framesLoaded;        // index of the last frame loaded + 1; 0 = nothing loaded
  int32_t nextBuffer;          // which delta buffer the next delta writes (0 or 1)
  uint8_t *firstPlanes;        // depth planes of rowBytes x height bytes, one after another
  uint8_t *deltaPlanes[2];
  uint8_t *indices;            // width x height bytes
  uint32_t *delays;            // jiffies (1/60 s) per frame, 0 until that frame is decoded
  int32_t delayCapacity;
};

// Opens the file: the reader with *width, *height and *frames, or null.
qmIffAnim *IffAnimOpen(const char *fileName, int32_t *width, int32_t *height, int32_t *frames);
// Frame index (0-based): a new width x height buffer of 0x00RRGGBB words (MemAlloc; the caller
// frees it), or null.
uint32_t *IffAnimLoadFrame(qmIffAnim *anim, int32_t index);
// The longest frame delay the reader gives, in milliseconds (65535 hundredths of a second).
inline constexpr uint32_t kIffAnimMaxDelayMs = 655350;
// Milliseconds, truncated, at most kIffAnimMaxDelayMs (0 for a frame not decoded yet or
// outside the file).
uint32_t IffAnimGetFrameDelay(const qmIffAnim *anim, int32_t index);
void IffAnimClose(qmIffAnim *anim);
