// RIFF WAVE: plain 8-bit unsigned and 16-bit signed PCM with a 16-byte "fmt " chunk, mono or
// stereo; everything else goes to the system reader. The writer makes the same layout.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "media/sound/sound_stream.h"
#include "platform/file.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"

namespace {

bool ReadLe(qmFileHandle *f, uint32_t *v, int n) {
  uint8_t b[4] = {};
  if (FileRead(f, b, uint64_t(n)) != uint64_t(n)) return false;
  *v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  return true;
}

void PutLe(uint8_t *p, uint32_t v, int n) {
  for (int i = 0; i < n; i++) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

int OpenWaveSound(const char *name, qmSound *s) {
  qmFileHandle *f = FileOpen(name, FILE_MODE_READ);
  if (!f) return 0;
  FileSeek(f, 12, FILE_SEEK_START);
  uint32_t id = 0, size = 0, rate = 0, bits = 0, channels = 0;
  for (;;) {
    if (id == 0x20746D66u) {  // "fmt "
      uint32_t tag, skip;
      if (size != 16 || !ReadLe(f, &tag, 2) || tag != 1 || !ReadLe(f, &channels, 2) || !ReadLe(f, &rate, 4) ||
          !ReadLe(f, &skip, 4) || !ReadLe(f, &skip, 2) || !ReadLe(f, &bits, 2) || (bits != 8 && bits != 16))
        break;
      // Only one and two channels are read here; other layouts go to the system reader.
      if (channels != 1 && channels != 2) break;
    } else {
      FileSeek(f, int64_t(size) + (size & 1), FILE_SEEK_CURRENT);
    }
    if (!ReadLe(f, &id, 4) || !ReadLe(f, &size, 4)) break;
    if (id == 0x61746164u) {  // "data"
      if (rate == 0) break;
      s->file = f;
      s->channels = channels;
      s->bits = bits;
      s->flags = bits == 16 ? uint32_t(AUDIOFMT_SIGNED) : 0u;
      s->rate = rate;
      s->bytesPerFrame = channels * bits / 8;
      s->dataOffset = FileSeek(f, 0, FILE_SEEK_CURRENT);
      uint64_t present = f->size > s->dataOffset ? f->size - s->dataOffset : 0;
      uint64_t data = size < present ? size : present;
      s->frames = s->packets = data / s->bytesPerFrame;
      s->framesPerPacket = 1;
      s->bytesPerPacket = s->bytesPerFrame;
      s->totalBytes = s->frames * s->bytesPerFrame;
      s->kind = SNDKIND_WAVE;
      return 1;
    }
  }
  FileClose(f);
  return 0;
}

uint64_t ReadWaveSound(qmSound *s, void *buffer, uint64_t frames, int *end) {
  uint64_t left = s->frames > s->position ? s->frames - s->position : 0;
  uint64_t k = frames < left ? frames : left;
  if (end) *end = k < frames;
  FileSeek(s->file, int64_t(s->dataOffset + s->position * s->bytesPerFrame), FILE_SEEK_START);
  k = FileRead(s->file, buffer, k * s->bytesPerFrame) / s->bytesPerFrame;
  s->position += k;
  s->lastFrames = uint32_t(k);
  s->lastBytes = uint32_t(k * s->bytesPerFrame);
  return k;
}

uint32_t WriteWaveFile(const char *name, const qmSampleData *d) {
  int32_t fmt = d->format;
  uint32_t channels = (fmt == SMPFMT_STEREO8U || fmt == SMPFMT_STEREO8 || fmt == SMPFMT_STEREO16) ? 2 : 1;
  uint32_t bits = (fmt == SMPFMT_MONO16 || fmt == SMPFMT_STEREO16) ? 16 : 8;
  uint32_t align = channels * bits / 8;
  uint32_t length = d->frames * d->bytesPerFrame;
  uint32_t padded = (length + 3) & ~3u;
  qmFileHandle *f = FileOpen(name, FILE_MODE_WRITE);
  if (!f) {
    SetErrorArgument(name);
    return ERR_WRITEFILE;
  }
  uint8_t h[44];
  std::memcpy(h, "RIFF", 4);
  PutLe(h + 4, padded + 36, 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLe(h + 16, 16, 4);
  PutLe(h + 20, 1, 2);
  PutLe(h + 22, channels, 2);
  PutLe(h + 24, d->rate, 4);
  PutLe(h + 28, align * d->rate, 4);
  PutLe(h + 32, align, 2);
  PutLe(h + 34, bits, 2);
  std::memcpy(h + 36, "data", 4);
  PutLe(h + 40, length, 4);
  auto *pcm = static_cast<uint8_t *>(std::malloc(length ? length : 1));
  if (!pcm) {
    FileClose(f);
    std::remove(name);
    return ERR_MEM;
  }
  std::memcpy(pcm, d->data, length);
  if (bits == 8 && (d->flags & AUDIOFMT_SIGNED))
    for (uint32_t i = 0; i < length; i++) pcm[i] = uint8_t(pcm[i] + 128);
  if (bits == 16 && (d->flags & AUDIOFMT_BIGENDIAN))
    for (uint32_t i = 0; i + 1 < length; i += 2) std::swap(pcm[i], pcm[i + 1]);
  static const uint8_t kPad[4] = {};
  bool ok = FileWrite(f, h, 44) == 44 && FileWrite(f, pcm, length) == length &&
            FileWrite(f, kPad, padded - length) == padded - length;
  std::free(pcm);
  if (!FileClose(f) || !ok) {
    SetErrorArgument(name);
    return ERR_WRITEFILE;
  }
  return 0;
}
