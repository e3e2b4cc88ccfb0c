// The records a video source fills for the video engine: what a file holds, one packet of it,
// and one decoded picture or block of sound.
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
};
