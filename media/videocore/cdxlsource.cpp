// The CDXL reader as a source of the video engine: its packets as they are, its pictures decoded
// at the file's size and scaled to the size the engine asks for, its sound as 16-bit mono.
#include <cmath>

#include "media/videocore/cdxl.h"
#include "media/videocore/sourcepicture.h"
#include "media/videocore/videosource.h"
#include "platform/memory.h"

namespace {

struct CdxlSource {
  qmCdxlReader *reader;
  uint8_t *picture;  // width x height pixels of A, R, G, B bytes at the file's size
  qmScaleBuffers scale;
};

void *OpenCdxl(const char *path, qmVideoInfo *info) {
  qmCdxlReader *r = CdxlOpen(path, info);
  if (!r) return nullptr;
  auto *s = static_cast<CdxlSource *>(MemAlloc(sizeof(CdxlSource), 1));
  uint64_t bytes = uint64_t(r->width) * uint64_t(r->height) * 4;
  if (s && bytes <= UINT32_MAX) s->picture = static_cast<uint8_t *>(MemAlloc(uint32_t(bytes), 1));
  if (!s || !s->picture) {
    MemFree(s);
    CdxlClose(r);
    return nullptr;
  }
  s->reader = r;
  return s;
}

void CloseCdxl(void *h) {
  auto *s = static_cast<CdxlSource *>(h);
  CdxlClose(s->reader);
  FreeScaleBuffers(&s->scale);
  MemFree(s->picture);
  MemFree(s);
}

int NextCdxlPacket(void *h, qmVideoPacket *p) { return CdxlNextPacket(static_cast<CdxlSource *>(h)->reader, p); }

void FreeCdxlPacket(void *, qmVideoPacket *p) { CdxlFreePacket(p); }

int DecodeCdxlVideo(void *h, const qmVideoPacket *p, qmDecodedFrame *f) {
  auto *s = static_cast<CdxlSource *>(h);
  const qmCdxlReader *r = s->reader;
  qmVideoFrame frame{s->picture, 0, 0, 0, -1.0, -1.0};
  CdxlDecodeVideoFrame(s->reader, p, &frame);
  if (PutSourcePicture(s->picture, r->width, r->height, frame.bytesPerRow, f, &s->scale)) return -1;
  f->repeat = 0;
  f->dts = frame.decodeTime;
  f->pts = frame.presentTime;
  f->position = int32_t(std::lround(frame.decodeTime * r->fps));
  return 0;
}

int32_t DecodeCdxlAudio(void *h, const qmVideoPacket *p, uint8_t *out, uint32_t capacity, int32_t *usedUp) {
  qmVideoSamples samples{reinterpret_cast<int16_t *>(out), capacity, 0, 0, 0};
  CdxlDecodeAudioFrame(static_cast<CdxlSource *>(h)->reader, p, &samples);
  *usedUp = 1;
  return int32_t(samples.size);
}

int SeekCdxl(void *h, int64_t ms, uint32_t) { return CdxlSeek(static_cast<CdxlSource *>(h)->reader, ms); }

void FlushNothing(void *) {}  // packets carry whole frames: nothing is held between them

int32_t CdxlFrames(void *h) { return static_cast<CdxlSource *>(h)->reader->frameCount; }

const char *CdxlName(void *) { return "CDXL"; }

}  // namespace

const qmVideoSourceOps kCdxlVideoSource = {"CDXL",         OpenCdxl,        CloseCdxl, NextCdxlPacket,
                                           FreeCdxlPacket, DecodeCdxlVideo, DecodeCdxlAudio, SeekCdxl,
                                           FlushNothing,   FlushNothing,    CdxlFrames, CdxlName};
