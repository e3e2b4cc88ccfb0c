// Test plug-in of a picture format of its own, "TPIC": an image loader, an anim loader (the
// frames stored one after another) and an image saver. Built twice: "tpic" saves ARGB pictures
// as format 40, "tpic8" (TPIC_INDEXED) takes palette indices as format 41.
//
// A TPIC file: "TPIC", width and height (16 bits each, little-endian), a flags byte (bit 0 the
// picture has alpha, bit 1 its alpha is always loaded), then frames of width x height 32-bit
// little-endian 0xAARRGGBB words, rows top to bottom. Flag bit 2 makes it a vector picture:
// TransformImage renders it at any size, each pixel the stored one under its centre.
//
// TPIC_INIT_FAILS makes InitPlugin refuse, TPIC_SAVE_FAILS makes SaveImage refuse; FreeImage,
// FreeFrame and TransformImage calls are appended to the file named by TPIC_LOG.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "player/plugin_api.h"

#ifdef TPIC_INDEXED
#define TPIC_NAME "tpic8"
#define TPIC_FORMAT 41
#define TPIC_SAVER_FLAGS 0
#else
#define TPIC_NAME "tpic"
#define TPIC_FORMAT 40
#define TPIC_SAVER_FLAGS (SAVERFLAG_ARGB | SAVERFLAG_ALPHA)
#endif

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Rows handed to the player are wider than the picture, as a decoder's often are.
constexpr int kRowPadding = 3;

struct Picture {
  int width = 0, height = 0, flags = 0, frames = 0;
  std::vector<uint32_t> words;  // every frame, rows of width + kRowPadding words
  int renderedWidth = 0, renderedHeight = 0;
  std::vector<uint32_t> rendered;  // the last rendering, rows without gaps
};

void Log(const char *what) {
  if (const char *path = std::getenv("TPIC_LOG"))
    if (FILE *f = std::fopen(path, "a")) {
      std::fprintf(f, "%s\n", what);
      std::fclose(f);
    }
}

// The whole file, or false for anything that is no complete TPIC file.
bool ReadPicture(const char *file, Picture *p) {
  FILE *f = std::fopen(file, "rb");
  if (!f) return false;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  if (bytes.size() < 9 || std::memcmp(bytes.data(), "TPIC", 4) != 0) return false;
  p->width = bytes[4] | bytes[5] << 8;
  p->height = bytes[6] | bytes[7] << 8;
  p->flags = bytes[8];
  const size_t frameBytes = size_t(p->width) * p->height * 4;
  if (frameBytes == 0 || (bytes.size() - 9) % frameBytes != 0 || bytes.size() == 9) return false;
  p->frames = int((bytes.size() - 9) / frameBytes);
  const int pitch = p->width + kRowPadding;
  p->words.assign(size_t(pitch) * p->height * p->frames, 0xDEADBEEF);
  const uint8_t *in = bytes.data() + 9;
  for (int row = 0; row < p->height * p->frames; row++)
    for (int x = 0; x < p->width; x++, in += 4)
      p->words[size_t(row) * pitch + x] = uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
  return true;
}

Picture *OpenPicture(const char *file) {
  auto *p = new Picture;
  if (ReadPicture(file, p)) return p;
  delete p;
  return nullptr;
}

void Describe(const Picture &p, qmPluginImageInfo *info) {
  *info = {p.width, p.height, p.width + kRowPadding, p.flags & 1, (p.flags >> 1) & 1, (p.flags >> 2) & 1};
  if (!p.rendered.empty()) info->width = p.renderedWidth, info->height = p.renderedHeight, info->pixelsPerRow = p.renderedWidth;
}

}  // namespace

EXPORT int InitPlugin(qmPluginInfo *info, const qmHostTable *, const char *) {
  if (std::getenv("TPIC_INIT_FAILS")) return 0;
  info->features = PLUGINFEAT_IMAGE | PLUGINFEAT_ANIM | PLUGINFEAT_IMGSAVER;
  info->version = 1;
  info->revision = 0;
  info->name = TPIC_NAME;
  info->info1 = "Test author";
  info->info2to8[0] = "A picture format for the tests";
  return 1;
}

EXPORT void ClosePlugin(void) {}

EXPORT int IsImage(const char *file, qmPluginImageInfo *info) {
  Picture p;
  if (!ReadPicture(file, &p)) return 0;
  Describe(p, info);
  return 1;
}

EXPORT void *LoadImage(const char *file, qmPluginImageInfo *info) {
  Picture *p = OpenPicture(file);
  if (p) Describe(*p, info);
  return p;
}

EXPORT const uint32_t *GetImage(void *handle, qmPluginImageInfo *info) {
  auto *p = static_cast<Picture *>(handle);
  Describe(*p, info);
  return p->rendered.empty() ? p->words.data() : p->rendered.data();
}

EXPORT void FreeImage(void *handle) {
  Log("freeimage");
  delete static_cast<Picture *>(handle);
}

// Output pixel (x, y) shows the stored pixel under the centre mapped back through the matrix.
EXPORT int TransformImage(void *handle, const double *m, int32_t width, int32_t height) {
  auto *p = static_cast<Picture *>(handle);
  const double det = m[0] * m[3] - m[1] * m[2];
  if (!(p->flags & 4) || det == 0 || width < 1 || height < 1) return 0;
  p->rendered.assign(size_t(width) * height, 0);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const double u = x + 0.5 - m[4], v = y + 0.5 - m[5];
      const int sx = int(std::floor((m[3] * u - m[2] * v) / det)), sy = int(std::floor((-m[1] * u + m[0] * v) / det));
      if (sx >= 0 && sx < p->width && sy >= 0 && sy < p->height)
        p->rendered[size_t(y) * width + x] = p->words[size_t(sy) * (p->width + kRowPadding) + sx];
    }
  p->renderedWidth = width;
  p->renderedHeight = height;
  char line[64];
  std::snprintf(line, sizeof line, "transform %dx%d", width, height);
  Log(line);
  return 1;
}

EXPORT void *OpenAnim(const char *file, uint32_t *info) {
  Picture *p = OpenPicture(file);
  if (!p) return nullptr;
  info[ANIMINFO_WIDTH] = uint32_t(p->width);
  info[ANIMINFO_HEIGHT] = uint32_t(p->height);
  info[ANIMINFO_FRAMES] = uint32_t(p->frames);
  info[ANIMINFO_ALPHA] = uint32_t(p->flags & 1);
  return p;
}

// A frame of its own, rows without gaps.
EXPORT const uint32_t *LoadFrame(void *handle, int32_t index, void *) {
  auto *p = static_cast<Picture *>(handle);
  if (index < 0 || index >= p->frames) return nullptr;
  auto *frame = new uint32_t[size_t(p->width) * p->height];
  const int pitch = p->width + kRowPadding;
  for (int y = 0; y < p->height; y++)
    std::memcpy(frame + size_t(y) * p->width, &p->words[(size_t(index) * p->height + y) * pitch], size_t(p->width) * 4);
  return frame;
}

EXPORT void FreeFrame(void *, const uint32_t *pixels) {
  Log("freeframe");
  delete[] pixels;
}

EXPORT int32_t GetFrameDelay(void *, int32_t index) { return 40 * (index + 1); }

EXPORT void CloseAnim(void *handle) { delete static_cast<Picture *>(handle); }

EXPORT void RegisterImageSaver(qmSaverRecord *record) {
  record->flags = TPIC_SAVER_FLAGS;
  record->formatId = TPIC_FORMAT;
  record->formatName = TPIC_NAME;
}

// Writes what it was handed: ARGB words as they are, palette indices through the palette (the
// transparent entry with alpha 0, the others opaque).
EXPORT int SaveImage(const char *file, const qmImageSaveRequest *r) {
  if (std::getenv("TPIC_SAVE_FAILS")) return 0;
  FILE *f = std::fopen(file, "wb");
  if (!f) return 0;
  const uint8_t head[9] = {'T', 'P', 'I', 'C', uint8_t(r->width), uint8_t(r->width >> 8), uint8_t(r->height),
                           uint8_t(r->height >> 8), uint8_t(r->flags & SAVEREQ_ALPHA ? 1 : 0)};
  std::fwrite(head, 1, sizeof head, f);
  for (int y = 0; y < r->height; y++)
    for (int x = 0; x < r->width; x++) {
      const uint8_t *row = static_cast<const uint8_t *>(r->pixels) + size_t(y) * r->bytesPerRow;
      uint32_t w;
      if (r->indexed) {
        const int index = row[x];
        const bool clear = (r->flags & SAVEREQ_TRANSPARENT) && index == r->transparentIndex;
        w = index < r->colors ? (r->palette[index] & 0xFFFFFF) | (clear ? 0 : 0xFF000000u) : 0x12345678;
      } else {
        std::memcpy(&w, row + size_t(x) * 4, 4);
      }
      const uint8_t out[4] = {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
      std::fwrite(out, 1, 4, f);
    }
  return std::fclose(f) == 0;
}
