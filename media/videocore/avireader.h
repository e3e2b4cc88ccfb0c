// The AVI reader: random access to the frames of the video stream of a RIFF "AVI " file,
// uncompressed 24-bit or motion-JPEG, through idx1 (offsets from the movi list or absolute)
// or by scanning the movi data, which also walks the "AVIX" RIFFs of OpenDML files.
#pragma once
#include <cstdint>

struct qmFileHandle;

inline constexpr int32_t kAviMaxStreams = 16;

enum : int32_t { AVICODEC_RAW = 0, AVICODEC_MJPEG = 1 };

struct qmAviIndexEntry {
  uint64_t offset;  // as the idx1 holds it: from the movi list type or absolute
  uint32_t size;
};

struct qmAviReader {
  qmFileHandle *file;
  uint64_t fileSize;
  int32_t codec;  // AVICODEC_*
  int32_t width, height;
  int32_t streamCount;
  int32_t audioChannels, sampleRate, blockAlign, bitsPerSample;
  int32_t planes, bitCount;
  int32_t topDown;  // uncompressed rows stored top first (a negative "strf" height)
  uint64_t moviStart;  // just after the movi list type
  int32_t currentFrame, totalFrames;
  uint32_t flags;  // avih
  char streamType[kAviMaxStreams][4], streamHandler[kAviMaxStreams][4];
  char compression[4];
  int32_t videoStream;  // -1 until a "vids" stream is seen
  uint8_t *frameBuffer;  // a chunk as read (and rebuilt), grown to the largest one
  uint32_t frameBufferSize;
  qmAviIndexEntry *index[kAviMaxStreams];
  int32_t indexCount[kAviMaxStreams];
};

// The reader, or null for anything that is no readable AVI.
qmAviReader *AviReaderOpen(const char *path, int32_t *width, int32_t *height, int32_t *frameCount);
// Frame n from 0: new width x height 0x00RRGGBB words (MemFree them), or null.
uint32_t *AviReaderLoadFrame(qmAviReader *reader, int32_t n);
// ms; AVI frames carry no delay of their own.
uint32_t AviReaderGetFrameDelay(qmAviReader *reader);
void AviReaderClose(qmAviReader *reader);
