// Test plug-in of a sound format of its own, "TSND": a sound decoder and a sample saver
// (format 60).
//
// A TSND file: "TSND", the rate (32 bits), channels (8 bits), bits per sample (8 bits), flags
// (8 bits: bit 0 big-endian, bit 1 signed), the frame count (32 bits), all little-endian, then
// the frames as they are.
//
// TSND_SAVE_FAILS makes SaveSample refuse; CloseStream calls are appended to the file named by
// TSND_LOG.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "player/plugin_api.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr long kHeadSize = 15;

struct Stream {
  FILE *file;
  uint32_t frameBytes, frames, position;
};

uint32_t Le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

void PutLe32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

EXPORT int InitPlugin(qmPluginInfo *info, const qmHostTable *, const char *) {
  info->features = PLUGINFEAT_SOUND | PLUGINFEAT_SMPSAVER;
  info->version = 1;
  info->revision = 0;
  info->name = "tsnd";
  info->info1 = "Test author";
  info->info2to8[0] = "A sound format for the tests";
  return 1;
}

EXPORT void ClosePlugin(void) {}

EXPORT void *OpenStream(const char *file, qmPluginSoundInfo *info) {
  FILE *f = std::fopen(file, "rb");
  if (!f) return nullptr;
  uint8_t head[kHeadSize];
  if (std::fread(head, 1, sizeof head, f) != sizeof head || std::memcmp(head, "TSND", 4) != 0) {
    std::fclose(f);
    return nullptr;
  }
  *info = {Le32(head + 11), head[8], head[9], Le32(head + 4), uint32_t(head[10] & 3) | PLUGINSOUND_SEEKABLE};
  return new Stream{f, uint32_t(head[8]) * head[9] / 8, info->frames, 0};
}

EXPORT void CloseStream(void *handle) {
  auto *s = static_cast<Stream *>(handle);
  if (const char *path = std::getenv("TSND_LOG"))
    if (FILE *f = std::fopen(path, "a")) {
      std::fputs("closestream\n", f);
      std::fclose(f);
    }
  std::fclose(s->file);
  delete s;
}

EXPORT void SeekStream(void *handle, uint64_t frame) {
  auto *s = static_cast<Stream *>(handle);
  s->position = frame < s->frames ? uint32_t(frame) : s->frames;
  std::fseek(s->file, kHeadSize + long(s->position) * long(s->frameBytes), SEEK_SET);
}

EXPORT uint32_t StreamSamples(void *handle, qmPluginSoundRead *read) {
  auto *s = static_cast<Stream *>(handle);
  uint32_t want = read->frames < s->frames - s->position ? read->frames : s->frames - s->position;
  uint32_t got = s->frameBytes ? uint32_t(std::fread(read->buffer, s->frameBytes, want, s->file)) : 0;
  s->position += got;
  read->end = s->position >= s->frames || got < want;
  return got;
}

EXPORT const char *GetFormatName(void *) { return "Test sound"; }

EXPORT void RegisterSampleSaver(qmSaverRecord *record) {
  record->formatId = 60;
  record->formatName = "TSND";
}

EXPORT int SaveSample(const char *file, const qmSampleSaveRequest *r) {
  if (std::getenv("TSND_SAVE_FAILS")) return 0;
  FILE *f = std::fopen(file, "wb");
  if (!f) return 0;
  uint8_t head[kHeadSize] = {'T', 'S', 'N', 'D'};
  PutLe32(head + 4, r->rate);
  head[8] = uint8_t(r->channels);
  head[9] = uint8_t(r->bits);
  head[10] = uint8_t(r->flags & 3);
  PutLe32(head + 11, r->frames);
  std::fwrite(head, 1, sizeof head, f);
  std::fwrite(r->data, 1, r->bytes, f);
  return std::fclose(f) == 0;
}
