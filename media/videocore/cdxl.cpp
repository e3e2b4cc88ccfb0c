#include "media/videocore/cdxl.h"

#include <cstring>

#include "media/image/ilbm.h"
#include "platform/file.h"
#include "platform/memory.h"

namespace {

uint32_t Be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t Be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }

bool ReadExact(qmFileHandle *f, void *buffer, uint64_t n) { return FileRead(f, buffer, n) == n; }

void ParseHeader(const uint8_t *b, qmCdxlPacketHead *h) {
  h->type = b[0], h->info = b[1];
  h->frameSize = Be32(b + 2), h->previousSize = Be32(b + 6), h->frameNumber = Be32(b + 10);
  h->width = Be16(b + 14), h->height = Be16(b + 16);
  h->planes = b[19];
  h->paletteSize = Be16(b + 20), h->soundSize = Be16(b + 22);
}

// The rate a CD drive delivers frames of this size at.
double FramesPerSecond(uint32_t frameSize) {
  if (frameSize >= 40001) return 614400.0 / frameSize;
  if (frameSize <= 13000) return 153600.0 / frameSize;
  return 307200.0 / frameSize;
}

// The sizes of the first frame, which every frame shares. The frame must hold the header and
// its own parts; palettes beyond 256 colours and depths beyond 8 planes are refused.
bool FillReader(qmCdxlReader *r, const qmCdxlPacketHead *h, uint64_t fileSize) {
  if (h->type != 1 || !h->width || !h->height || h->planes < 1 || h->planes > 8 || h->paletteSize > 1024 / 2 ||
      (h->paletteSize & 1))
    return false;
  r->width = h->width, r->height = h->height, r->planes = h->planes;
  r->rowBytes = ((r->width + 15) / 8) & ~1;
  r->paletteSize = h->paletteSize;
  const uint64_t video = uint64_t(r->rowBytes) * uint64_t(r->height) * uint64_t(r->planes);
  r->soundSize = h->soundSize;
  r->frameSize = h->frameSize;
  const uint64_t parts = uint64_t(kCdxlHeaderSize) + r->paletteSize + video + r->soundSize;
  if (r->frameSize < parts || fileSize <= r->frameSize) return false;
  // The video packet holds the bitplanes and an index byte per pixel.
  if (kCdxlPacketHead + video + uint64_t(r->width) * uint64_t(r->height) > UINT32_MAX) return false;
  r->videoSize = uint32_t(video);
  r->padding = uint32_t(r->frameSize - parts);
  r->frameCount = int32_t(fileSize / r->frameSize > INT32_MAX ? INT32_MAX : fileSize / r->frameSize);
  r->ham = (h->info & 15) == 1;
  r->fps = FramesPerSecond(r->frameSize);
  return true;
}

}  // namespace

qmCdxlReader *CdxlOpen(const char *path, qmVideoInfo *info) {
  qmFileHandle *f = nullptr;
  if (FileOpenRegular(path, &f)) return nullptr;
  auto *r = static_cast<qmCdxlReader *>(MemAlloc(sizeof(qmCdxlReader), 1));
  uint8_t b[kCdxlHeaderSize], next[4];
  qmCdxlPacketHead h{};
  bool ok = r && ReadExact(f, b, sizeof b);
  if (ok) {
    ParseHeader(b, &h);
    ok = FillReader(r, &h, f->size);
  }
  // Every frame has the first one's size: the second frame's previous size says so.
  if (ok) {
    FileSeek(f, int64_t(r->frameSize) + 2, FILE_SEEK_START);
    ok = ReadExact(f, next, 4) && Be32(next) == r->frameSize;
  }
  if (!ok) {
    FileClose(f);
    MemFree(r);
    return nullptr;
  }
  r->file = f;
  FileSeek(f, 0, FILE_SEEK_START);
  if (info) {
    *info = {};
    info->width = r->width, info->height = r->height;
    info->duration = uint32_t(r->frameCount / r->fps * 1000);
    info->sampleRate = uint32_t(r->soundSize * r->fps);
    info->channels = r->soundSize ? 1 : 0;
    info->pixelFrames = 1;
    info->flags = VIDEOINFO_SEEKABLE;
  }
  return r;
}

int32_t CdxlNextPacket(qmCdxlReader *r, qmVideoPacket *packet) {
  const double stamp = r->currentFrame / r->fps;
  uint8_t *buffer = nullptr;
  uint32_t size = 0;
  if (r->soundPending) {
    size = kCdxlPacketHead + r->soundSize;
    if (!(buffer = static_cast<uint8_t *>(MemAlloc(size, 1)))) return -2;
    r->soundPending = 0;
    // A frame cut short ends the file.
    if (!ReadExact(r->file, buffer + kCdxlPacketHead, r->soundSize)) {
      MemFree(buffer);
      r->currentFrame = r->frameCount;
      return -1;
    }
    *packet = {buffer, 1, size, stamp};
  } else {
    if (r->currentFrame >= r->frameCount) return -1;
    size = kCdxlPacketHead + r->videoSize + uint32_t(r->width) * uint32_t(r->height);
    if (!(buffer = static_cast<uint8_t *>(MemAlloc(size, 1)))) return -2;
    auto *h = reinterpret_cast<qmCdxlPacketHead *>(buffer);
    uint8_t b[kCdxlHeaderSize], palette[512];
    // The layout of the first frame holds for every frame, whatever a later header claims.
    if (!ReadExact(r->file, b, sizeof b) || !ReadExact(r->file, palette, r->paletteSize) ||
        !ReadExact(r->file, buffer + kCdxlPacketHead, r->videoSize)) {
      MemFree(buffer);
      r->currentFrame = r->frameCount;
      return -1;
    }
    ParseHeader(b, h);
    for (uint32_t i = 0; i < r->paletteSize / 2; i++) {
      const uint16_t c = Be16(palette + 2 * i);
      h->palette[i] = uint32_t((c >> 8) & 15) * 17 << 16 | uint32_t((c >> 4) & 15) * 17 << 8 | uint32_t(c & 15) * 17;
    }
    h->timeStamp = stamp;
    r->soundPending = r->soundSize != 0;
    *packet = {buffer, 0, size, stamp};
  }
  if (!r->soundPending) {
    FileSeek(r->file, int64_t(r->padding), FILE_SEEK_CURRENT);
    r->currentFrame++;
  }
  return 0;
}

int32_t CdxlDecodeVideoFrame(qmCdxlReader *r, const qmVideoPacket *packet, qmVideoFrame *frame) {
  const auto *h = static_cast<const qmCdxlPacketHead *>(packet->data);
  const auto *planes = static_cast<const uint8_t *>(packet->data) + kCdxlPacketHead;
  auto *indices = static_cast<uint8_t *>(packet->data) + kCdxlPacketHead + r->videoSize;
  const int32_t w = r->width, hgt = r->height;
  std::memset(indices, 0, size_t(w) * hgt);
  PlanarToChunky(planes, w, hgt, r->planes, r->rowBytes, indices, w);
  auto *words = reinterpret_cast<uint32_t *>(frame->pixels);
  if (!r->ham) ChunkyToArgb(indices, words, h->palette, w, hgt);
  else DecodeHam(indices, words, h->palette, w, hgt, r->planes > 6 ? 8 : 6);
  // Each word's bytes as A, R, G, B in memory.
  for (int64_t i = 0; i < int64_t(w) * hgt; i++) {
    const uint32_t c = words[i];
    uint8_t *p = frame->pixels + i * 4;
    p[0] = uint8_t(c >> 24), p[1] = uint8_t(c >> 16), p[2] = uint8_t(c >> 8), p[3] = uint8_t(c);
  }
  frame->bytesPerRow = w * 4;
  frame->decodeTime = packet->timeStamp;
  frame->presentTime = -1.0;
  frame->repeat = 0;
  frame->position = 0;
  return 0;
}

int32_t CdxlDecodeAudioFrame(qmCdxlReader *, const qmVideoPacket *packet, qmVideoSamples *samples) {
  const auto *in = reinterpret_cast<const int8_t *>(packet->data) + kCdxlPacketHead;
  uint32_t count = packet->size > kCdxlPacketHead ? packet->size - kCdxlPacketHead : 0;
  if (count > samples->capacity / 2) count = samples->capacity / 2;
  for (uint32_t i = 0; i < count; i++) samples->data[i] = int16_t(in[i] * 256);
  samples->size = count * 2;
  samples->channels = 1;
  return 0;
}

int32_t CdxlSeek(qmCdxlReader *r, int64_t milliseconds) {
  double at = milliseconds / 1000.0 * r->fps;
  if (at < 0) at = 0;
  int32_t frame = at >= r->frameCount ? r->frameCount - 1 : int32_t(at);
  r->currentFrame = frame;
  FileSeek(r->file, int64_t(frame) * r->frameSize, FILE_SEEK_START);
  r->soundPending = 0;
  return 0;
}

void CdxlFreePacket(qmVideoPacket *packet) {
  MemFree(packet->data);
  packet->data = nullptr;
}

void CdxlClose(qmCdxlReader *r) {
  if (!r) return;
  FileClose(r->file);
  MemFree(r);
}
