// The CDXL reader, the video engine's own source: fixed-size frames, each a 32-byte big-endian
// header, a palette of 12-bit colours, bitplanes (or HAM) and 8-bit signed mono sound.
#pragma once
#include <cstdint>

#include "media/videocore/videosource.h"

struct qmFileHandle;

inline constexpr uint32_t kCdxlHeaderSize = 32;
inline constexpr uint32_t kCdxlPacketHead = 1080;  // the decoded header, palette and time stamp

struct qmCdxlReader {
  qmFileHandle *file;
  int32_t width, height;
  int32_t rowBytes;  // of one plane row, even
  int32_t planes;
  int32_t frameCount, currentFrame;
  uint32_t frameSize;
  uint32_t videoSize, soundSize, paletteSize;
  uint32_t padding;  // after the sound, up to the frame size
  int32_t ham;
  double fps;
  int32_t soundPending;
};

// The front of every packet buffer; the video data (bitplanes, then a width x height index
// buffer) or the sound samples follow at kCdxlPacketHead.
struct qmCdxlPacketHead {
  uint8_t type, info;
  uint32_t frameSize, previousSize, frameNumber;
  uint16_t width, height;
  uint8_t planes;
  uint16_t paletteSize, soundSize;
  uint32_t palette[256];  // 0x00RRGGBB
  double timeStamp;       // s
};
static_assert(sizeof(qmCdxlPacketHead) <= kCdxlPacketHead, "the packet head fits its room");

// The reader and the file's description, or null when the file is no CDXL of equal frames.
qmCdxlReader *CdxlOpen(const char *path, qmVideoInfo *info);
// 0 and the next packet (a frame's video, then its sound when it has any); -1 at the end of
// the file; -2 when out of memory.
int32_t CdxlNextPacket(qmCdxlReader *reader, qmVideoPacket *packet);
// The picture as A, R, G, B bytes per pixel into frame->pixels (width x height x 4 bytes).
int32_t CdxlDecodeVideoFrame(qmCdxlReader *reader, const qmVideoPacket *packet, qmVideoFrame *frame);
// 16-bit mono samples (the 8-bit ones times 256), as many as fit the caller's buffer.
int32_t CdxlDecodeAudioFrame(qmCdxlReader *reader, const qmVideoPacket *packet, qmVideoSamples *samples);
// Positions at the frame of that time, the last frame at most. 0.
int32_t CdxlSeek(qmCdxlReader *reader, int64_t milliseconds);
void CdxlFreePacket(qmVideoPacket *packet);
void CdxlClose(qmCdxlReader *reader);
