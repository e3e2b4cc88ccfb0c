// IFF 8SVX and 16SV: uncompressed 8-bit signed and 16-bit signed big-endian sounds, mono or
// stereo; a stereo BODY holds all left samples, then all right samples.
#include <cstdlib>
#include <cstring>

#include "media/sound/sound_stream.h"
#include "platform/file.h"

namespace {

bool ReadBe32(qmFileHandle *f, uint32_t *v) {
  uint8_t b[4];
  if (FileRead(f, b, 4) != 4) return false;
  *v = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  return true;
}

}  // namespace

int OpenIffSound(const char *name, qmSound *s, int sixteen) {
  qmFileHandle *f = FileOpen(name, FILE_MODE_READ);
  if (!f) return 0;
  uint8_t vhdr[20];
  uint32_t size;
  FileSeek(f, 16, FILE_SEEK_START);
  if (!ReadBe32(f, &size) || size != 20 || FileRead(f, vhdr, 20) != 20 || vhdr[15] != 0) {
    FileClose(f);
    return 0;
  }
  uint32_t rate = uint32_t(vhdr[12]) << 8 | vhdr[13];
  bool stereo = false;
  uint32_t id = 0;
  size = 0;
  for (;;) {
    if (id == 0x4348414Eu) {  // "CHAN"
      uint32_t v;
      if (!ReadBe32(f, &v)) break;
      stereo = v == 6;
      if (size > 4) FileSeek(f, int64_t(size + (size & 1)) - 4, FILE_SEEK_CURRENT);
    } else {
      FileSeek(f, int64_t(size) + (size & 1), FILE_SEEK_CURRENT);
    }
    if (!ReadBe32(f, &id) || !ReadBe32(f, &size)) break;
    if (id == 0x424F4459u) {  // "BODY"
      uint32_t w = sixteen ? 2 : 1;
      s->file = f;
      s->bits = 8 * w;
      s->channels = stereo ? 2 : 1;
      s->flags = AUDIOFMT_SIGNED | (sixteen ? uint32_t(AUDIOFMT_BIGENDIAN) : 0u);
      s->rate = rate;
      s->bytesPerFrame = w * s->channels;
      s->dataOffset = FileSeek(f, 0, FILE_SEEK_CURRENT);
      // Only the bytes present count: a BODY that claims more than the file holds is cut.
      uint64_t present = f->size > s->dataOffset ? f->size - s->dataOffset : 0;
      uint64_t body = size < present ? size : present;
      s->frames = body / s->bytesPerFrame;
      s->packets = s->frames;
      s->framesPerPacket = 1;
      s->bytesPerPacket = s->bytesPerFrame;
      s->totalBytes = s->frames * s->bytesPerFrame;
      s->kind = sixteen ? SNDKIND_16SV : SNDKIND_8SVX;
      return 1;
    }
  }
  FileClose(f);
  return 0;
}

uint64_t ReadIffSound(qmSound *s, void *buffer, uint64_t frames, int *end) {
  uint64_t left = s->frames > s->position ? s->frames - s->position : 0;
  uint64_t k = frames < left ? frames : left;
  if (end) *end = k < frames;
  uint32_t w = s->bits / 8;
  auto *out = static_cast<uint8_t *>(buffer);
  if (s->channels == 1) {
    FileSeek(s->file, int64_t(s->dataOffset + s->position * w), FILE_SEEK_START);
    k = FileRead(s->file, out, k * w) / w;
  } else if (k > 0) {
    if (s->scratchSize < k * w) {
      auto *p = static_cast<uint8_t *>(std::realloc(s->scratch, k * w));
      if (!p) return 0;
      s->scratch = p;
      s->scratchSize = uint32_t(k * w);
    }
    for (int side = 0; side < 2; side++) {
      FileSeek(s->file, int64_t(s->dataOffset + s->position * w + side * s->frames * w), FILE_SEEK_START);
      uint64_t got = FileRead(s->file, s->scratch, k * w) / w;
      if (got < k) k = got;
      for (uint64_t i = 0; i < k; i++) std::memcpy(out + i * 2 * w + side * w, s->scratch + i * w, w);
    }
  }
  s->position += k;
  s->lastFrames = uint32_t(k);
  s->lastBytes = uint32_t(k * s->bytesPerFrame);
  return k;
}
