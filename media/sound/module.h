// The Protracker module player: four-channel "M.K." modules rendered tick by tick into 16-bit
// stereo. Voices 0 and 3 sound left, 1 and 2 right; the mixer runs at twice the output rate
// and averages pairs, with the optional 2 kHz two-stage low-pass of effect E0x.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

struct qmModSample {
  char name[23];
  const int8_t *data;  // into the module's image
  uint32_t length, repeatStart, repeatLength, loopEnd;  // 18.14 fixed point
  int32_t finetune;  // 0..15
  int32_t volume;
};

struct qmModCell {
  uint32_t period, sample;
  uint8_t effect, high, low, param;
};

struct qmModVoice {
  int32_t sample;     // 1..31, 0 none
  int64_t position;   // 18.14; -1 silent
  uint32_t step;
  int32_t period, basePeriod, targetPeriod, note;
  int32_t volume, baseVolume;
  int32_t pan;
  int32_t portaSpeed;
  int32_t vibSpeed, vibDepth, vibPos, vibWave;
  int32_t tremSpeed, tremDepth, tremPos, tremWave;
  int32_t glissando;
  int32_t retrig, cutTick, delayTick;
  int32_t loopRow, loopCount;
  int32_t funkSpeed, funkCounter, funkOffset;
  int32_t pendingSample;
  int32_t lastOffset;
  qmModCell cell;  // the cell of the current row
};

// Internal samples mixed per step of the render.
inline constexpr uint32_t kModuleSpan = 1024;

enum : uint32_t { MODFLAG_STOPATEND = 1, MODFLAG_FILTERALLOWED = 4, MODFLAG_SONGEND = 8 };

struct qmModule {
  char title[21];
  uint32_t patterns, songLength;
  qmModSample samples[31];
  uint8_t order[128];
  std::vector<qmModCell> cells;  // patterns x 64 rows x 4
  qmModVoice voices[4];
  uint32_t flags;
  uint32_t internalRate;
  int32_t masterVolume;
  int32_t songPos, row;
  int32_t speed, tempo;
  uint32_t samplesPerTick, tickSamplesLeft;
  int32_t tick;
  int32_t patternDelay, patternDelayRows;
  int32_t breakRow, breakPending, jumpPending;
  int32_t filterOn;
  uint32_t endCount;
  double filterA, filterK, filterG;
  double history[2][4];  // per side: stage 1 x, y; stage 2 x, y
  std::atomic<int32_t> requestedPos{-1};
  std::atomic<int32_t> reportedRow{0}, reportedPos{0};
  int32_t mixLeft[kModuleSpan], mixRight[kModuleSpan];  // the render's sums
  std::vector<uint8_t> image;  // the whole file, kept to restart the module
  uint32_t outputRate;
};

// Whether the image is a module ("M.K." at 1080).
bool IsModuleImage(const uint8_t *image, size_t size);
// Builds the player from a copy of the file: 0, or ERR_UNKNOWNMUSFMT for a file too short for
// its patterns or with a song length outside 1..128.
uint32_t InitModule(qmModule *m, const uint8_t *image, size_t size, uint32_t outputRate);
// Back to the start (the stopped state), from the kept image.
void RestartModule(qmModule *m);
// Frames of 16-bit interleaved stereo; takes a pending song-position request first.
void RenderModuleAudio(qmModule *m, int16_t *out, uint32_t frames);
// Output frames until the next tick is processed (for tests that follow the song tick by tick).
uint32_t ModuleFramesToNextTick(const qmModule *m);
// Asks for a jump to song position pos, row 0, at the next render: ERR_WRONGUSAGE when pos is
// beyond the song.
uint32_t RequestModulePosition(qmModule *m, int32_t pos);
