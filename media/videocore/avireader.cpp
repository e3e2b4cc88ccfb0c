#include "media/videocore/avireader.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "media/videocore/mjpegtables.h"
#include "platform/file.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"

namespace {

uint32_t Le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint32_t Le16(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
bool Is(const uint8_t *id, const char *text) { return !std::memcmp(id, text, 4); }
uint64_t Padded(uint32_t size) { return uint64_t(size) + (size & 1); }

bool ReadExact(qmFileHandle *f, void *buffer, uint64_t n) { return FileRead(f, buffer, n) == n; }

// A chunk header: four-character id and size.
bool ReadChunk(qmFileHandle *f, uint8_t id[4], uint32_t *size) {
  uint8_t b[8];
  if (!ReadExact(f, b, 8)) return false;
  std::memcpy(id, b, 4);
  *size = Le32(b + 4);
  return true;
}

// Moves past a chunk's data, which must lie inside the file.
bool SkipData(qmAviReader *r, uint64_t bytes) {
  const uint64_t at = r->file->position;
  if (bytes > r->fileSize - at) return false;
  FileSeek(r->file, int64_t(at + bytes), FILE_SEEK_START);
  return true;
}

bool SameNoCase(const char *a, const char *b) {
  for (int i = 0; i < 4; i++)
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
  return true;
}

// "db", "dc" or "wb" after the stream number.
bool IsDataKind(const uint8_t *id) {
  return (id[2] == 'd' && (id[3] == 'b' || id[3] == 'c')) || (id[2] == 'w' && id[3] == 'b');
}

bool ReadStreamFormat(qmAviReader *r, int32_t stream, uint32_t size) {
  uint8_t b[40];
  if (!std::memcmp(r->streamType[stream], "auds", 4)) {
    if (size < 16 || !ReadExact(r->file, b, 16) || Le16(b) != 1) return false;
    r->audioChannels = int32_t(Le16(b + 2));
    r->sampleRate = int32_t(Le32(b + 4));
    r->blockAlign = int32_t(Le16(b + 12));
    r->bitsPerSample = int32_t(Le16(b + 14));
    return SkipData(r, Padded(size) - 16);
  }
  if (!std::memcmp(r->streamType[stream], "vids", 4)) {
    if (size < 40 || !ReadExact(r->file, b, 40)) return false;
    const int32_t height = int32_t(Le32(b + 8));
    r->topDown = height < 0 && height == -r->height;
    if (int32_t(Le32(b + 4)) != r->width || (height != r->height && !r->topDown)) return false;
    r->planes = int32_t(Le16(b + 12));
    r->bitCount = int32_t(Le16(b + 14));
    std::memcpy(r->compression, b + 16, 4);
    r->videoStream = stream;
    return SkipData(r, Padded(size) - 40);
  }
  return SkipData(r, Padded(size));
}

// The header lists up to the movi list; the reader is left just after its type.
bool ReadHeaders(qmAviReader *r, uint32_t *moviSize) {
  uint8_t head[12];
  if (!ReadExact(r->file, head, 12) || !Is(head, "RIFF") || !Is(head + 8, "AVI ")) return false;
  int32_t streams = 0;  // strh chunks seen
  for (;;) {
    uint8_t id[4];
    uint32_t size = 0;
    if (!ReadChunk(r->file, id, &size)) return false;
    uint8_t b[56];
    if (Is(id, "LIST")) {
      if (size < 4 || !ReadExact(r->file, b, 4)) return false;
      if (Is(b, "movi")) {
        r->moviStart = r->file->position;
        *moviSize = size;
        return true;
      }
    } else if (Is(id, "avih")) {
      if (size != 56 || !ReadExact(r->file, b, 56)) return false;
      r->flags = Le32(b + 12);
      r->totalFrames = int32_t(Le32(b + 16));
      r->streamCount = int32_t(Le32(b + 24));
      r->width = int32_t(Le32(b + 32));
      r->height = int32_t(Le32(b + 36));
      if (r->totalFrames <= 0 || r->streamCount > kAviMaxStreams || r->streamCount < 0) return false;
    } else if (Is(id, "strh")) {
      // The per-stream tables hold 16 streams; a file that lists more is refused.
      if (size != 56 || streams >= kAviMaxStreams || !ReadExact(r->file, b, 56)) return false;
      std::memcpy(r->streamType[streams], b, 4);
      std::memcpy(r->streamHandler[streams], b + 4, 4);
      streams++;
    } else if (Is(id, "strf")) {
      if (!streams || !ReadStreamFormat(r, streams - 1, size)) return false;
    } else if (!SkipData(r, Padded(size))) {
      return false;
    }
  }
}

void FreeIndex(qmAviReader *r) {
  for (int32_t s = 0; s < kAviMaxStreams; s++) {
    MemFree(r->index[s]);
    r->index[s] = nullptr;
    r->indexCount[s] = 0;
  }
}

// The idx1 after the movi list, when there is one. Entries beyond the total frame count of a
// stream are not kept; an entry of an unknown stream drops the whole index.
void ReadLegacyIndex(qmAviReader *r, uint32_t moviSize) {
  if (!SkipData(r, Padded(moviSize) - 4)) return;
  uint8_t id[4];
  uint32_t size = 0;
  if (!ReadChunk(r->file, id, &size) || !Is(id, "idx1")) return;
  const uint64_t entries = size / 16;
  if (entries * 16 > r->fileSize - r->file->position) return;
  const uint64_t capacity = entries < uint64_t(r->totalFrames) ? entries : uint64_t(r->totalFrames);
  if (!capacity || capacity * sizeof(qmAviIndexEntry) > UINT32_MAX) return;
  for (int32_t s = 0; s < r->streamCount; s++) {
    r->index[s] = static_cast<qmAviIndexEntry *>(MemAlloc(uint32_t(capacity * sizeof(qmAviIndexEntry)), 0));
    if (!r->index[s]) return FreeIndex(r);
  }
  for (uint64_t i = 0; i < entries; i++) {
    uint8_t e[16];
    if (!ReadExact(r->file, e, 16)) return FreeIndex(r);
    if (Is(e, "rec ")) continue;
    int32_t stream = 0, digits = 0;
    while (digits < 4 && std::isdigit(e[digits])) stream = stream * 10 + (e[digits++] - '0');
    if (!digits || stream >= r->streamCount || !IsDataKind(e)) return FreeIndex(r);
    if (uint64_t(r->indexCount[stream]) < capacity) r->index[stream][r->indexCount[stream]++] = {Le32(e + 8), Le32(e + 12)};
  }
}

bool PickCodec(qmAviReader *r) {
  const char *handler = r->streamHandler[r->videoStream];
  if (SameNoCase(handler, "dib ") || SameNoCase(handler, "raw ") || !std::memcmp(handler, "\0\0\0\0", 4)) {
    r->codec = AVICODEC_RAW;
    return r->bitCount == 24;
  }
  r->codec = AVICODEC_MJPEG;
  return SameNoCase(handler, "mjpg");
}

bool GrowBuffer(qmAviReader *r, uint64_t bytes) {
  if (bytes <= r->frameBufferSize) return true;
  if (bytes > UINT32_MAX) return false;
  auto *b = static_cast<uint8_t *>(MemAlloc(uint32_t(bytes), 0));
  if (!b) return false;
  MemFree(r->frameBuffer);
  r->frameBuffer = b;
  r->frameBufferSize = uint32_t(bytes);
  return true;
}

void Rewind(qmAviReader *r) {
  FileSeek(r->file, int64_t(r->moviStart), FILE_SEEK_START);
  r->currentFrame = 0;
}

// Positions the file at frame n's chunk header, or where a scan for it begins; false when the
// index sends frame n past the end of the file, which then has no such frame (a scan from the
// start would find some other chunk's data in its place).
bool SeekFrame(qmAviReader *r, int32_t n) {
  const int32_t v = r->videoStream;
  if (!r->index[v] || n >= r->indexCount[v]) {
    Rewind(r);
    return true;
  }
  const uint64_t offset = r->index[v][n].offset;
  uint8_t id[4] = {};
  r->currentFrame = n;
  if (offset + 8 <= r->fileSize) {
    FileSeek(r->file, int64_t(offset), FILE_SEEK_START);
    if (ReadExact(r->file, id, 4) && std::isdigit(id[0]) && std::isdigit(id[1]) && IsDataKind(id)) {
      FileSeek(r->file, int64_t(offset), FILE_SEEK_START);
      return true;
    }
  }
  const uint64_t at = r->moviStart + offset - 4;
  if (offset < 4 || at + 8 > r->fileSize) return false;
  FileSeek(r->file, int64_t(at), FILE_SEEK_START);
  return true;
}

// Scans to frame n's data chunk; its size in *size, the file at its data.
bool FindFrameChunk(qmAviReader *r, int32_t n, uint32_t *size) {
  char wanted[2][5];
  std::snprintf(wanted[0], sizeof wanted[0], "%.2ddb", r->videoStream);
  std::snprintf(wanted[1], sizeof wanted[1], "%.2ddc", r->videoStream);
  for (;;) {
    uint8_t id[4], type[4];
    if (!ReadChunk(r->file, id, size)) return false;
    // OpenDML files go on in further "AVIX" RIFFs, whose movi lists hold frames too.
    if (Is(id, "LIST") || Is(id, "RIFF")) {
      if (!ReadExact(r->file, type, 4)) return false;
      continue;
    }
    const bool frame = Is(id, wanted[0]) || Is(id, wanted[1]);
    if (frame && r->currentFrame == n) return *size <= r->fileSize - r->file->position;
    if (frame) r->currentFrame++;
    if (!SkipData(r, Padded(*size))) return false;
  }
}

// B, G, R rows, bottom-up unless the format says otherwise; rows padded to 4 bytes are taken
// as well.
uint32_t *DecodeRaw(qmAviReader *r, uint32_t size) {
  const uint64_t w = uint64_t(r->width), h = uint64_t(r->height);
  uint64_t stride = w * 3;
  if (size != stride * h) stride = (stride + 3) & ~uint64_t(3);
  if (size != stride * h || !GrowBuffer(r, size) || !ReadExact(r->file, r->frameBuffer, size)) return nullptr;
  auto *out = static_cast<uint32_t *>(MemAlloc(uint32_t(w * h * 4), 0));
  if (!out) return nullptr;
  for (uint64_t y = 0; y < h; y++) {
    const uint8_t *row = r->frameBuffer + (r->topDown ? y : h - 1 - y) * stride;
    for (uint64_t x = 0; x < w; x++, row += 3) out[y * w + x] = uint32_t(row[2]) << 16 | uint32_t(row[1]) << 8 | row[0];
  }
  return out;
}

// The chunk rebuilt as a decodable JPEG in place: the marker segments up to the scan, the
// standard Huffman tables before the scan when the frame brings none, then the rest.
uint32_t *DecodeMjpeg(qmAviReader *r, uint32_t size) {
  const uint32_t room = kStandardDhtSize;
  if (!GrowBuffer(r, uint64_t(size) + room) || !ReadExact(r->file, r->frameBuffer + room, size)) return nullptr;
  uint8_t *d = r->frameBuffer;
  const uint8_t *s = d + room;
  if (size < 4 || s[0] != 0xFF || s[1] != 0xD8) return nullptr;
  uint32_t i = 2;
  bool tables = false;
  for (;;) {
    if (i + 4 > size || s[i] != 0xFF) return nullptr;
    const uint8_t marker = s[i + 1];
    if (marker == 0xDA) break;
    if (marker == 0xC4) tables = true;
    const uint32_t length = uint32_t(s[i + 2]) << 8 | s[i + 3];  // big-endian, counts itself
    if (length < 2 || length > size - i - 2) return nullptr;
    i += 2 + length;
  }
  // The segments before the scan move down by the room; the tables fill the gap they leave.
  std::memmove(d, s, i);
  uint32_t o = i;
  if (!tables) {
    std::memcpy(d + o, kStandardDht, room);
    o += room;
  }
  std::memmove(d + o, s + i, size - i);
  o += size - i;
  if (o >= 10 && !std::memcmp(d + 6, "AVI1", 4)) std::memcpy(d + 6, "JFIF", 4);
  int32_t w = 0, h = 0, alpha = 0;
  uint32_t *pixels = nullptr;
  if (DecodeImageMemory(d, o, &w, &h, &pixels, &alpha, nullptr)) return nullptr;
  if (w != r->width || h != r->height) {
    MemFree(pixels);
    return nullptr;
  }
  return pixels;
}

}  // namespace

qmAviReader *AviReaderOpen(const char *path, int32_t *width, int32_t *height, int32_t *frameCount) {
  qmFileHandle *f = nullptr;
  if (FileOpenRegular(path, &f)) return nullptr;
  auto *r = static_cast<qmAviReader *>(MemAlloc(sizeof(qmAviReader), 1));
  if (!r) {
    FileClose(f);
    return nullptr;
  }
  r->file = f;
  r->fileSize = f->size;
  r->videoStream = -1;
  uint32_t moviSize = 0;
  if (!ReadHeaders(r, &moviSize) || r->videoStream < 0 || r->streamCount < 1 || r->width < 1 || r->height < 1 ||
      CheckImageSize(r->width, r->height, r->fileSize) || !PickCodec(r) || moviSize < 4) {
    AviReaderClose(r);
    return nullptr;
  }
  ReadLegacyIndex(r, moviSize);
  Rewind(r);
  if (width) *width = r->width;
  if (height) *height = r->height;
  if (frameCount) *frameCount = r->totalFrames;
  return r;
}

uint32_t *AviReaderLoadFrame(qmAviReader *r, int32_t n) {
  if (!r || n < 0 || n >= r->totalFrames) return nullptr;
  bool found = n == r->currentFrame || SeekFrame(r, n);
  uint32_t size = 0;
  uint32_t *pixels = nullptr;
  if (found && FindFrameChunk(r, n, &size))
    pixels = r->codec == AVICODEC_RAW ? DecodeRaw(r, size) : DecodeMjpeg(r, size);
  if (!pixels) {
    // The position is unknown after a failure: the next frame starts from the movi data.
    Rewind(r);
    return nullptr;
  }
  if (size & 1) FileSeek(r->file, 1, FILE_SEEK_CURRENT);
  if (++r->currentFrame >= r->totalFrames) Rewind(r);
  return pixels;
}

uint32_t AviReaderGetFrameDelay(qmAviReader *) { return 0; }

void AviReaderClose(qmAviReader *r) {
  if (!r) return;
  FreeIndex(r);
  MemFree(r->frameBuffer);
  if (r->file) FileClose(r->file);
  MemFree(r);
}
