// Test plug-in of an anim format of its own, "TANM": an anim loader and an anim saver. Built
// twice: "tanm" saves ARGB frames (keeping alpha) as format 50, "tanm8" (TANM_INDEXED) takes
// palette indices as format 51.
//
// A TANM file: "TANM", width and height (16 bits each, little-endian), a flags byte (the flags
// its stream was begun with; bit 2: the frames carry alpha), then frames of a 16-bit
// little-endian delay in milliseconds followed by width x height 32-bit little-endian
// 0xAARRGGBB words, rows top to bottom.
//
// TANM_BEGIN_FAILS makes BeginAnimStream refuse, TANM_WRITE_FAILS makes WriteAnimFrame refuse;
// FinishAnimStream and CloseAnim calls are appended to the file named by TANM_LOG.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "player/plugin_api.h"

#ifdef TANM_INDEXED
#define TANM_NAME "tanm8"
#define TANM_FORMAT 51
#define TANM_SAVER_FLAGS 0
#else
#define TANM_NAME "tanm"
#define TANM_FORMAT 50
#define TANM_SAVER_FLAGS (SAVERFLAG_ARGB | SAVERFLAG_ALPHA)
#endif

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Anim {
  int width = 0, height = 0, flags = 0, frames = 0;
  std::vector<int> delays;
  std::vector<uint32_t> words;  // every frame, rows without gaps
};

struct Stream {
  FILE *file = nullptr;
  int width = 0, height = 0;
};

void Log(const char *what) {
  if (const char *path = std::getenv("TANM_LOG"))
    if (FILE *f = std::fopen(path, "a")) {
      std::fprintf(f, "%s\n", what);
      std::fclose(f);
    }
}

uint32_t Le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The whole file, or null for anything that is no complete TANM file.
Anim *ReadAnim(const char *file) {
  FILE *f = std::fopen(file, "rb");
  if (!f) return nullptr;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  if (bytes.size() < 9 || std::memcmp(bytes.data(), "TANM", 4) != 0) return nullptr;
  auto *a = new Anim;
  a->width = bytes[4] | bytes[5] << 8;
  a->height = bytes[6] | bytes[7] << 8;
  a->flags = bytes[8];
  const size_t frameBytes = 2 + size_t(a->width) * a->height * 4;
  if (a->width == 0 || a->height == 0 || bytes.size() == 9 || (bytes.size() - 9) % frameBytes != 0) {
    delete a;
    return nullptr;
  }
  a->frames = int((bytes.size() - 9) / frameBytes);
  for (const uint8_t *in = bytes.data() + 9; in < bytes.data() + bytes.size();) {
    a->delays.push_back(in[0] | in[1] << 8);
    in += 2;
    for (int i = 0; i < a->width * a->height; i++, in += 4) a->words.push_back(Le32(in));
  }
  return a;
}

void Put(FILE *f, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) std::fputc(int(v >> (8 * i) & 0xFF), f);
}

}  // namespace

EXPORT int InitPlugin(qmPluginInfo *info, const qmHostTable *, const char *) {
  info->features = PLUGINFEAT_ANIM | PLUGINFEAT_ANMSAVER;
  info->version = 1;
  info->revision = 0;
  info->name = TANM_NAME;
  info->info1 = "Test author";
  info->info2to8[0] = "An anim format for the tests";
  return 1;
}

EXPORT void ClosePlugin(void) {}

EXPORT void *OpenAnim(const char *file, uint32_t *info) {
  Anim *a = ReadAnim(file);
  if (!a) return nullptr;
  info[ANIMINFO_WIDTH] = uint32_t(a->width);
  info[ANIMINFO_HEIGHT] = uint32_t(a->height);
  info[ANIMINFO_FRAMES] = uint32_t(a->frames);
  info[ANIMINFO_ALPHA] = (a->flags & ANIMSAVE_ALPHA) ? 1 : 0;
  return a;
}

EXPORT const uint32_t *LoadFrame(void *handle, int32_t index, void *) {
  auto *a = static_cast<Anim *>(handle);
  if (index < 0 || index >= a->frames) return nullptr;
  const size_t n = size_t(a->width) * a->height;
  auto *frame = new uint32_t[n];
  std::memcpy(frame, &a->words[size_t(index) * n], n * 4);
  return frame;
}

EXPORT void FreeFrame(void *, const uint32_t *pixels) { delete[] pixels; }

EXPORT int32_t GetFrameDelay(void *handle, int32_t index) {
  auto *a = static_cast<Anim *>(handle);
  return index >= 0 && index < a->frames ? a->delays[size_t(index)] : 0;
}

EXPORT void CloseAnim(void *handle) {
  Log("closeanim");
  delete static_cast<Anim *>(handle);
}

EXPORT void RegisterAnimSaver(qmSaverRecord *record) {
  record->flags = TANM_SAVER_FLAGS;
  record->formatId = TANM_FORMAT;
  record->formatName = TANM_NAME;
}

EXPORT void *BeginAnimStream(const char *file, int32_t width, int32_t height, uint32_t flags, int32_t, int32_t) {
  if (std::getenv("TANM_BEGIN_FAILS") || width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return nullptr;
  FILE *f = std::fopen(file, "wb");
  if (!f) return nullptr;
  std::fwrite("TANM", 1, 4, f);
  Put(f, uint32_t(width), 2);
  Put(f, uint32_t(height), 2);
  Put(f, flags, 1);
  return new Stream{f, width, height};
}

// Writes what it was handed: ARGB words (opaque unless the frame says it carries alpha), or
// palette indices through the palette (the transparent entry with alpha 0, the others opaque;
// an index beyond the palette as 0x12345678).
EXPORT int WriteAnimFrame(void *handle, const qmAnimSaveFrame *frame) {
  if (std::getenv("TANM_WRITE_FAILS")) return 0;
  auto *s = static_cast<Stream *>(handle);
  Put(s->file, uint32_t(frame->delay), 2);
  for (int y = 0; y < s->height; y++) {
    const uint8_t *row = static_cast<const uint8_t *>(frame->pixels) + size_t(y) * frame->bytesPerRow;
    for (int x = 0; x < s->width; x++) {
      uint32_t w;
      if (frame->palette) {
        const int index = row[x];
        const bool clear = (frame->flags & ANIMSAVEFRAME_TRANSPARENT) && index == frame->transparentIndex;
        w = index < frame->colors ? (frame->palette[index] & 0xFFFFFF) | (clear ? 0 : 0xFF000000u) : 0x12345678;
      } else {
        w = Le32(row + size_t(x) * 4);
        if (!(frame->flags & ANIMSAVEFRAME_ALPHA)) w |= 0xFF000000u;
      }
      Put(s->file, w, 4);
    }
  }
  return 1;
}

EXPORT void FinishAnimStream(void *handle) {
  Log("finish");
  auto *s = static_cast<Stream *>(handle);
  std::fclose(s->file);
  delete s;
}
