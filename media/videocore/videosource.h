// A decoder source of the video engine: what a reader of video files answers. The FFmpeg back
// end is one; the program's own readers plug in through the same record of operations.
#pragma once
#include <cstdint>

// What a source's open fills in; the engine zeroes it first.
struct qmVideoInfo {
  int32_t width, height;
  uint32_t duration;       // milliseconds
  uint32_t audioRate;      // sample frames per second
  uint32_t audioChannels;  // 0: no sound
  uint32_t seekStream;     // handed back to seek; 0: the source seeks in milliseconds
  uint32_t seekUnits;      // seek units per second when seekStream is not 0
  uint32_t pixelFrames;    // 1: frames come as 32-bit pixels
  uint32_t flags;          // VIDINFO_*
  uint32_t reserved;
  double frameDuration;  // seconds; 0: the frames' own time stamps time them
};
enum : uint32_t { VIDINFO_SEEKABLE = 1 };

// One packet read from the file.
struct qmVideoPacket {
  void *handle;  // the source's own; null marks a flush in the engine's queues
  int32_t stream;  // 0 video, any other sound
  uint32_t size;   // bytes
  double timeStamp;  // seconds; -1.0 none
};

// Where a decoded picture goes: the engine gives the buffer and its size; the source scales.
struct qmDecodedFrame {
  uint8_t *pixels;     // width x height 32-bit pixels, bytes A, R, G, B
  int32_t width, height;
  int32_t bytesPerRow;
  uint32_t smooth;     // interpolated scaling
  uint32_t repeat;     // extra frame durations, each counted as half a frame
  int32_t position;    // the frame's number from 0 in the file, -1 unknown
  double dts, pts;     // seconds; -1.0 none
};

struct qmVideoSourceOps {
  const char *name;
  // A handle, or null when this source does not read the file.
  void *(*open)(const char *path, qmVideoInfo *info);
  void (*close)(void *source);
  // 0 with a packet, -1 at the end of the file, other negative values for a packet skipped.
  int (*nextPacket)(void *source, qmVideoPacket *packet);
  void (*freePacket)(void *source, qmVideoPacket *packet);
  // 0 when a picture is complete and converted into frame->pixels; else a negative value.
  int (*decodeVideo)(void *source, const qmVideoPacket *packet, qmDecodedFrame *frame);
  // Bytes of signed 16-bit interleaved sound written to out (at most capacity); *usedUp = 1
  // once the packet gives nothing more.
  int32_t (*decodeAudio)(void *source, const qmVideoPacket *packet, uint8_t *out, uint32_t capacity,
                         int32_t *usedUp);
  // To the position in the source's seek units: 0 or a negative value.
  int (*seek)(void *source, int64_t position, uint32_t seekStream);
  void (*flushAudio)(void *source);
  void (*flushVideo)(void *source);
  int32_t (*frameCount)(void *source);
  const char *(*formatName)(void *source);
};

// The back end over libavformat and libavcodec: any file FFmpeg reads with a picture stream.
extern const qmVideoSourceOps kFFmpegVideoSource;
