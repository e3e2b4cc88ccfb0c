// The motion-JPEG AVI writer: a RIFF "AVI " with OpenDML indexes (a super index per stream,
// "ix00"/"ix01" standard indexes of 16 KB each, "AVIX" RIFFs past the first RIFF's limit), a
// classic idx1 after the first movi list, and a silent 16-bit stereo PCM track beside the
// video. Sizes and positions are those a reader of either index kind expects.
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "platform/imagecodec.h"

struct qmFileHandle;

inline constexpr int32_t kAviSuperEntries = 1022;
inline constexpr int32_t kAviStandardEntries = 2044;
inline constexpr uint32_t kAviIndexChunkSize = 16384;
inline constexpr uint64_t kAviFirstRiffLimit = 1000000000;
inline constexpr uint64_t kAviRiffLimit = 2000000000;

enum : int32_t { AVIFLAG_WRITEINFO = 4 };

struct qmAviSuperEntry {
  uint64_t offset;    // of a standard index chunk
  uint32_t size;      // 16384
  uint32_t duration;  // the start frame while its pair is open; then frames (video) or sample frames
};

struct qmAviStdEntry {
  uint32_t offset;  // data position - base offset
  uint32_t size;
};

struct qmAviWriter {
  qmFileHandle *file;
  qmFileHandle *indexFile;  // the idx1 being gathered while the first RIFF is open
  char indexFileName[1025];
  int32_t totalFrames, moviFrames;
  int32_t width, height, fps, quality, scaleQuality, flags;
  uint64_t totalVideoBytes;
  uint32_t moviVideoBytes, largestVideoChunk;
  uint32_t microsPerFrame;
  qmImageData lastFrame;  // the last JPEG written, "AVI1" marked
  uint32_t sampleRate, samplesPerFrame, moviSamples;
  uint64_t totalSamples;
  uint8_t *audioBlock;  // samplesPerFrame x 4 bytes of silence
  char title[1024];
  char fileName[1025];
  uint64_t clockMicros, frameTime;  // recording clock and what a frame adds to it
  int32_t superCount;
  qmAviSuperEntry super[2][kAviSuperEntries];  // 0 audio "00wb", 1 video "01dc"
  qmAviStdEntry standard[2][kAviStandardEntries];
  int32_t standardCount;  // entries of the open pair (one per frame, both streams)
  int32_t moviPairs;      // pairs reserved in the current movi list
  uint64_t pairBase;      // the RIFF start that the open pair's offsets count from
  uint64_t riffLimit;           // of the current RIFF: first, then extension
  uint64_t extensionRiffLimit;  // of the AVIX RIFFs
  uint64_t riffStart, moviList;  // positions of "RIFF" and of the movi "LIST"
  int32_t legacyIndexPending;    // 1 until the first RIFF is closed
  int32_t made;                  // the file was created by this writer
  int32_t failed;                // a write fell short: the file goes when the writer does
  uint8_t copyBuffer[kAviIndexChunkSize];
};

// A writer of width x height frames at fps frames per second (1 or more) with the JPEG quality
// (0..100); the title goes into the INFO list. 0, ERR_WRONGUSAGE, ERR_MEM or ERR_WRITEFILE
// (the name is the error argument). Flags: AVIFLAG_*; the pointer overlay is not offered.
uint32_t AviCreate(const char *fileName, int32_t fps, int32_t flags, int32_t width, int32_t height, int32_t quality,
                   int32_t scaleQuality, int32_t pointerOverlay, const char *title, const char *infoFileName,
                   qmAviWriter **out);
// One silent audio block and one video frame: the bitmap (width x height, scaled to the
// writer's size when it differs), or without a bitmap the last frame again. 0, ERR_WRONGUSAGE
// (no frame yet, or the index is full), ERR_MEM, ERR_LOCKBMAP, ERR_WRITEJPEG or ERR_WRITEFILE;
// after an error the file holds the frames before it.
uint32_t AviWriteFrame(qmAviWriter *writer, const qmBitmap *bitmap, int32_t width, int32_t height, int32_t unused1,
                       int32_t unused2);
// Finishes the file and frees the writer: 0 or ERR_WRITEFILE.
uint32_t AviClose(qmAviWriter *writer);
