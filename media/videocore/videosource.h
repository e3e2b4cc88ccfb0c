// The records a video source fills for the video engine: what a file holds, one packet of it,
// and one decoded picture or block of sound; and a source's operations, by which the engine
// reads it (the FFmpeg back end is one; the own readers plug in through the same record).
#pragma once
#include <cstdint>

struct qmVideoInfo {
  int32_t width, height;
  uint32_t duration;        // ms
  uint32_t sampleRate;      // Hz
  uint32_t channels;        // 0 = no sound
  uint32_t seekStream;      // handed back to the source's seek; 0 = the source seeks in ms
  uint32_t seekUnits;       // per second, for a source whose seek stream word is not 0
  uint32_t pixelFrames;     // 1 = decoded frames are 32-bit pixels, 0 = planar YUV 4:2:0
  uint32_t flags;           // VIDEOINFO_*
  uint32_t reserved;
  double frameDuration;     // s; 0 = take the frames' time stamps
};
enum : uint32_t { VIDEOINFO_SEEKABLE = 1 };

struct qmVideoPacket {
  void *data;         // the source's buffer; freed by the source's free-packet operation
  int32_t stream;     // 0 video, any other value sound
  uint32_t size;      // bytes
  double timeStamp;   // s; -1.0 = none
};

struct qmVideoFrame {
  uint8_t *pixels;      // the engine's buffer: height rows of bytesPerRow
  int32_t bytesPerRow;  // out
  uint32_t repeat;      // extra frame durations, each counted as half a frame
  uint32_t position;
  double decodeTime, presentTime;  // s; -1.0 = none
};

// 16-bit signed samples into the caller's buffer of capacity bytes.
struct qmVideoSamples {
  int16_t *data;
  uint32_t capacity;  // bytes at data
  uint32_t size;      // out: bytes written
  uint32_t channels;  // out
  int32_t usedUp;     // out: 1 once the packet gives nothing more
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
// The program's own CDXL reader (media/videocore/cdxl.h) in the same record.
extern const qmVideoSourceOps kCdxlVideoSource;
