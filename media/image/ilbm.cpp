// IFF ILBM reader and 24-plane writer. The reader trusts no size in the file: chunk search is by
// name, bodies are unpacked against the bytes present, and a body too short for the picture it
// announces is refused before anything large is allocated.
#include "media/image/ilbm.h"

#include <algorithm>
#include <cstring>

#include "media/image/imageload.h"
#include "platform/errorarg.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

uint32_t Be(const uint8_t *p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; i++) v = v << 8 | p[i];
  return v;
}

void PutBe(uint8_t *p, uint32_t v, int n) {
  for (int i = n - 1; i >= 0; i--, v >>= 8) p[i] = uint8_t(v);
}

// Where plane p of row y starts in a plane buffer (plane-major up to 8 planes, row-major for 24).
inline uint8_t *PlaneRow(uint8_t *planes, int32_t height, int32_t depth, int32_t rowBytes, int32_t y, int32_t p) {
  const int64_t index = depth == 24 ? int64_t(y) * 24 + p : int64_t(p) * height + y;
  return planes + index * rowBytes;
}

// A ByteRun1 reader over bytes in memory.
struct RunSource {
  const uint8_t *data;
  uint64_t size;
  uint64_t pos;
};

// Fills one packed row of n bytes (out may be null to skip it). False when the data ends first.
// A literal run that passes the row's end is cut there; its other bytes are passed over.
bool UnpackRow(RunSource *s, uint8_t *out, int32_t n) {
  int32_t filled = 0;
  while (filled < n) {
    if (s->pos >= s->size) return false;
    const int8_t header = int8_t(s->data[s->pos++]);
    if (header >= 0) {
      const int32_t count = header + 1;
      if (s->pos + uint64_t(count) > s->size) return false;
      const int32_t take = std::min(count, n - filled);
      if (out) std::memcpy(out + filled, s->data + s->pos, size_t(take));
      s->pos += uint64_t(count);
      filled += take;
    } else if (header != -128) {
      if (s->pos >= s->size) return false;
      const uint8_t value = s->data[s->pos++];
      const int32_t take = std::min(1 - header, n - filled);
      if (out) std::memset(out + filled, value, size_t(take));
      filled += take;
    }
  }
  return true;
}

// The rest of the file from the current position, read at once (bounded by the file's size).
uint8_t *ReadRest(qmFileHandle *f, uint64_t *size) {
  const uint64_t pos = FileSeek(f, 0, FILE_SEEK_CURRENT);
  const uint64_t rest = f->size > pos ? f->size - pos : 0;
  *size = 0;
  if (rest == 0 || rest > UINT32_MAX) return nullptr;
  auto *data = static_cast<uint8_t *>(MemAlloc(uint32_t(rest), 0));
  if (data) *size = FileRead(f, data, rest);
  return data;
}

bool ValidDepth(int32_t depth) { return (depth >= 1 && depth <= 8) || depth == 24; }

}  // namespace

int FindIFFChunk(qmFileHandle *file, const char *name) {
  uint8_t block[4096];
  for (int pass = 0; pass < 2; pass++) {
    if (FileEof(file)) FileSeek(file, 12, FILE_SEEK_START);
    uint8_t window[4];
    if (FileRead(file, window, 4) != 4) continue;
    uint64_t after = FileSeek(file, 0, FILE_SEEK_CURRENT);  // file position just after the window
    for (;;) {
      if (!std::memcmp(window, name, 4)) {
        FileSeek(file, int64_t(after), FILE_SEEK_START);
        return 1;
      }
      if (!std::memcmp(window, "BODY", 4)) {
        FileSeek(file, int64_t(after), FILE_SEEK_START);
        break;
      }
      // The window slides a byte at a time; the bytes come in blocks.
      const uint64_t got = FileRead(file, block, sizeof block);
      uint64_t i = 0;
      for (; i < got; i++) {
        std::memmove(window, window + 1, 3);
        window[3] = block[i];
        after++;
        if (!std::memcmp(window, name, 4) || !std::memcmp(window, "BODY", 4)) break;
      }
      if (i == got) {
        if (got < sizeof block) break;  // the end of the file ends the pass
        continue;
      }
      // Matched inside the block: the file stands just after the window.
    }
  }
  return 0;
}

int ReadPlanarRows(qmFileHandle *file, uint8_t *planes, uint32_t, int32_t width, int32_t height, int32_t depth,
                   int32_t masking) {
  if (!ValidDepth(depth)) return 0;
  const int32_t rowBytes = IlbmRowBytes(width);
  const int32_t stored = depth + (masking == 1 ? 1 : 0);
  for (int32_t y = 0; y < height; y++)
    for (int32_t p = 0; p < stored; p++) {
      if (p < depth) {
        if (FileRead(file, PlaneRow(planes, height, depth, rowBytes, y, p), uint64_t(rowBytes)) != uint64_t(rowBytes))
          return 0;
      } else {
        FileSeek(file, rowBytes, FILE_SEEK_CURRENT);
      }
    }
  return 1;
}

int UnpackByteRun1(qmFileHandle *file, uint8_t *planes, uint32_t, int32_t width, int32_t height, int32_t depth,
                   int32_t masking) {
  if (!ValidDepth(depth)) return 0;
  uint64_t size = 0;
  uint8_t *data = ReadRest(file, &size);
  if (!data) return 0;
  RunSource s = {data, size, 0};
  const int32_t rowBytes = IlbmRowBytes(width);
  int ok = 1;
  for (int32_t y = 0; ok && y < height; y++) {
    for (int32_t p = 0; ok && p < depth; p++)
      ok = UnpackRow(&s, PlaneRow(planes, height, depth, rowBytes, y, p), rowBytes);
    if (ok && masking == 1) ok = UnpackRow(&s, nullptr, rowBytes);
  }
  MemFree(data);
  return ok;
}

void PlanarToChunky(const uint8_t *planes, int32_t width, int32_t height, int32_t depth, int32_t rowBytes, void *out,
                    int32_t outBytesPerRow) {
  auto *o = static_cast<uint8_t *>(out);
  if (depth >= 1 && depth <= 8) {
    for (int32_t p = depth - 1; p >= 0; p--)
      for (int32_t y = 0; y < height; y++) {
        const uint8_t *row = planes + (int64_t(p) * height + y) * rowBytes;
        uint8_t *line = o + int64_t(y) * outBytesPerRow;
        for (int32_t x = 0; x < width; x++) line[x] |= uint8_t(((row[x >> 3] >> (7 - (x & 7))) & 1) << p);
      }
  } else if (depth == 24) {
    for (int32_t y = 0; y < height; y++) {
      const uint8_t *rows = planes + int64_t(y) * 24 * rowBytes;
      auto *line = reinterpret_cast<uint32_t *>(o + int64_t(y) * outBytesPerRow);
      for (int32_t x = 0; x < width; x++) {
        uint32_t v = 0;
        for (int32_t k = 0; k < 24; k++) v |= uint32_t((rows[k * rowBytes + (x >> 3)] >> (7 - (x & 7))) & 1) << k;
        // Planes 0-7 are red, 8-15 green, 16-23 blue.
        line[x] = (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF);
      }
    }
  }
}

// The top two of the `planes` bits say whether the rest pick a palette colour or replace the
// blue, red or green level of the pixel before (six planes: 4 bits, eight: 6 bits).
void DecodeHam(const uint8_t *indices, uint32_t *out, const uint32_t *palette, int32_t width, int32_t height,
               int32_t planes) {
  const int32_t valueBits = planes - 2;
  for (int32_t y = 0; y < height; y++) {
    uint32_t r = 0, g = 0, b = 0;  // every row starts from black
    for (int32_t x = 0; x < width; x++) {
      const uint32_t c = indices[int64_t(y) * width + x];
      const uint32_t level = (c << (8 - valueBits)) & 255;
      switch (c >> valueBits) {
        case 0:
          r = palette[c] >> 16 & 255;
          g = palette[c] >> 8 & 255;
          b = palette[c] & 255;
          break;
        case 1: b = level; break;
        case 2: r = level; break;
        default: g = level; break;
      }
      out[int64_t(y) * width + x] = r << 16 | g << 8 | b;
    }
  }
}

void ChunkyToArgb(const uint8_t *indices, uint32_t *out, const uint32_t *palette, int32_t width, int32_t height) {
  const int64_t n = int64_t(width) * height;
  for (int64_t i = 0; i < n; i++) out[i] = palette[indices[i]];
}

namespace {

struct IlbmHeader {
  int32_t width, height, depth, masking, compression, transparentIndex;
  bool ehb, ham;
};

// Everything after the header: 0 with the pixels, the settled palette and the transparent colour.
uint32_t ReadIlbmPicture(qmFileHandle *f, const IlbmHeader &h, uint32_t *paletteIn, int32_t pen,
                         int32_t uniqueTransparency, uint32_t *pixels, uint32_t *palette, uint32_t *transparent) {
  if (!FindIFFChunk(f, "BODY")) return ERR_LOADPICTURE2;
  uint8_t sizeBytes[4];
  if (FileRead(f, sizeBytes, 4) != 4) return ERR_LOADPICTURE2;
  const int32_t rowBytes = IlbmRowBytes(h.width);
  const uint64_t rowsStored = uint64_t(h.height) * uint64_t(h.depth + (h.masking == 1 ? 1 : 0));
  // The least a body can hold: every plane row whole, or packed in runs of 128 bytes at most.
  const uint64_t least = h.compression == 0 ? rowsStored * rowBytes : rowsStored * ((rowBytes + 127) / 128) * 2;
  const uint64_t pos = FileSeek(f, 0, FILE_SEEK_CURRENT);
  if (least > (f->size > pos ? f->size - pos : 0)) return ERR_LOADPICTURE2;

  const uint64_t planeBytes = uint64_t(h.height) * rowBytes * h.depth;
  const uint64_t indexBytes = uint64_t(h.width) * h.height;
  if (planeBytes > UINT32_MAX) return ERR_MEM;
  auto *planes = static_cast<uint8_t *>(MemAlloc(uint32_t(planeBytes), 1));
  auto *indices = h.depth <= 8 ? static_cast<uint8_t *>(MemAlloc(uint32_t(indexBytes), 1)) : nullptr;
  if (!planes || (h.depth <= 8 && !indices)) {
    MemFree(planes);
    MemFree(indices);
    return ERR_MEM;
  }
  uint32_t err = 0;
  const int ok = h.compression == 0 ? ReadPlanarRows(f, planes, 0, h.width, h.height, h.depth, h.masking)
                                    : UnpackByteRun1(f, planes, Be(sizeBytes, 4), h.width, h.height, h.depth, h.masking);
  if (!ok) err = ERR_LOADPICTURE2;
  *transparent = 0xFFFFFFFFu;
  if (!err && h.depth == 24) {
    PlanarToChunky(planes, h.width, h.height, 24, rowBytes, pixels, h.width * 4);
  } else if (!err) {
    PlanarToChunky(planes, h.width, h.height, h.depth, rowBytes, indices, h.width);
    uint8_t sizeField[4], rgb[768];
    if (!FindIFFChunk(f, "CMAP") || FileRead(f, sizeField, 4) != 4) {
      err = ERR_LOADPICTURE2;
    } else {
      // Colours beyond the map's (or past 256) stay black.
      const uint32_t colors = std::min<uint32_t>(Be(sizeField, 4) / 3, 256);
      const uint64_t got = FileRead(f, rgb, uint64_t(colors) * 3) / 3;
      std::fill(palette, palette + 256, 0u);
      for (uint64_t i = 0; i < got; i++) palette[i] = uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
      if (h.ehb)
        for (int i = 0; i < 32; i++) palette[32 + i] = (palette[i] >> 1) & 0x7F7F7Fu;
      if (h.ham) {
        DecodeHam(indices, pixels, palette, h.width, h.height, h.depth > 6 ? 8 : 6);
      } else {
        if (!paletteIn && pen == -1 && !uniqueTransparency) {
          // the file's palette as it is
        } else if (paletteIn) {
          // The caller's colours come first; the file fills the rest of the caller's array.
          int n = 0;
          while (n < 256 && paletteIn[n] != 0xFFFFFFFFu) n++;
          for (int i = n; i < 256; i++) paletteIn[i] = palette[i];
          for (int i = 0; i < 256; i++) palette[i] = paletteIn[i] & 0xFFFFFFu;
        } else if (h.depth == 1) {
          *transparent = palette[0];
          if (pen != -1) palette[1] = uint32_t(pen) & 0xFFFFFFu;
        } else if (h.masking == 2 && uniqueTransparency && h.transparentIndex < 256) {
          // A colour no other entry has, so that the transparent pixels alone carry it.
          uint32_t unique = 0xA8A8A8u;
          while (std::find(palette, palette + 256, unique) != palette + 256) unique = (unique + 15) & 0xFFFFFFu;
          palette[h.transparentIndex] = unique;
          *transparent = unique;
        }
        ChunkyToArgb(indices, pixels, palette, h.width, h.height);
      }
    }
  }
  MemFree(planes);
  MemFree(indices);
  return err;
}

}  // namespace

uint32_t LoadILBM(const char *name, uint32_t *paletteIn, int32_t pen, int32_t uniqueTransparency,
                  uint32_t *transparentOut, int32_t *widthOut, int32_t *heightOut, uint32_t **pixelsOut,
                  uint32_t **paletteOut) {
  qmFileHandle *f = FileOpen(name, FILE_MODE_READ);
  if (!f) return ERR_READFILE;
  uint8_t b[24];
  if (!FindIFFChunk(f, "BMHD") || FileRead(f, b, sizeof b) != sizeof b) {
    FileClose(f);
    return ERR_LOADPICTURE2;
  }
  // Width and height are read as signed 16-bit values; 0 or less is no picture.
  IlbmHeader h = {};
  h.width = int16_t(Be(b + 4, 2));
  h.height = int16_t(Be(b + 6, 2));
  h.depth = b[12];
  h.masking = b[13];
  h.compression = b[14];
  h.transparentIndex = int32_t(Be(b + 16, 2));
  uint32_t err = CheckImageSize(h.width, h.height, f->size);
  if (!err && !ValidDepth(h.depth)) err = ERR_LOADPICTURE2;
  if (err || !pixelsOut) {
    FileClose(f);
    if (err) return err;
    *widthOut = h.width;
    *heightOut = h.height;
    return 0;
  }
  uint8_t camg[8];
  if (h.depth < 24 && FindIFFChunk(f, "CAMG") && FileRead(f, camg, 8) == 8) {
    const uint32_t mode = Be(camg + 4, 4);
    h.ehb = (mode & 0x80) != 0;
    h.ham = (mode & 0x800) != 0;
  }
  auto *pixels = static_cast<uint32_t *>(MemAlloc(uint32_t(uint64_t(h.width) * h.height * 4), 0));
  if (!pixels) {
    FileClose(f);
    return ERR_MEM;
  }
  uint32_t palette[256] = {}, transparent = 0xFFFFFFFFu;
  err = ReadIlbmPicture(f, h, paletteIn, pen, uniqueTransparency, pixels, palette, &transparent);
  FileClose(f);
  if (err) {
    MemFree(pixels);
    return err;
  }
  *pixelsOut = pixels;
  *widthOut = h.width;
  *heightOut = h.height;
  *transparentOut = transparent;
  if (paletteOut) {
    *paletteOut = nullptr;
    if (h.depth <= 8 && !h.ham) {
      auto *copy = static_cast<uint32_t *>(MemAlloc(256 * 4, 0));
      if (copy) std::memcpy(copy, palette, 256 * 4);
      *paletteOut = copy;
    }
  }
  return 0;
}

namespace {

// ByteRun1 packing of one row: literal runs of up to 128 bytes, replicate runs of 3 to 128.
// Returns the packed length; out has room for n + n / 128 + 2 bytes.
int32_t PackRow(const uint8_t *in, int32_t n, uint8_t *out) {
  int32_t o = 0;
  auto dump = [&](const uint8_t *from, int32_t count) {
    out[o++] = uint8_t(count - 1);
    std::memcpy(out + o, from, size_t(count));
    o += count;
  };
  auto run = [&](int32_t count, uint8_t value) {
    out[o++] = uint8_t(int8_t(1 - count));
    out[o++] = value;
  };
  if (n <= 0) return 0;
  int32_t start = 0;      // first byte of the pending buffer
  int32_t runStart = 0;   // where a possible run begins, counted from start
  bool replicate = false;
  uint8_t last = in[0];
  for (int32_t i = 1; i < n; i++) {
    const uint8_t c = in[i];
    const int32_t pending = i - start + 1;  // with c
    if (!replicate) {
      if (pending > 128) {
        dump(in + start, pending - 1);
        start = i;
        runStart = 0;
      } else if (c == last) {
        if (pending - runStart >= 3) {
          if (runStart > 0) dump(in + start, runStart);
          start += runStart;
          runStart = 0;
          replicate = true;
        } else if (runStart == 0) {
          replicate = true;
        }
      } else {
        runStart = pending - 1;
      }
    } else if (c != last || pending - runStart > 128) {
      run(pending - 1 - runStart, last);
      start = i;
      runStart = 0;
      replicate = false;
    }
    last = c;
  }
  const int32_t pending = n - start;
  if (replicate) run(pending - runStart, last);
  else dump(in + start, pending);
  return o;
}

}  // namespace

uint32_t SaveILBM(const char *name, const uint32_t *pixels, int32_t width, int32_t height) {
  qmFileHandle *f = FileOpen(name, FILE_MODE_WRITE);
  if (!f) {
    SetPlatformErrorArgument(name);
    return ERR_WRITEFILE;
  }
  uint8_t head[48] = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D'};
  PutBe(head + 16, 20, 4);
  PutBe(head + 20, uint32_t(width), 2);
  PutBe(head + 22, uint32_t(height), 2);
  head[28] = 24;  // planes; masking 0, x and y 0, transparent colour 0
  head[30] = 1;   // ByteRun1
  head[34] = 1;   // aspect 1:1
  head[35] = 1;
  PutBe(head + 36, uint32_t(width), 2);
  PutBe(head + 38, uint32_t(height), 2);
  std::memcpy(head + 40, "BODY", 4);
  bool ok = FileWrite(f, head, sizeof head) == sizeof head;
  const int32_t rowBytes = IlbmRowBytes(std::max(width, 0));
  auto *planeRow = static_cast<uint8_t *>(MemAlloc(uint32_t(rowBytes) + 2, 1));
  auto *packed = static_cast<uint8_t *>(MemAlloc(uint32_t(rowBytes + rowBytes / 128 + 2) * 24, 0));
  if (!planeRow || !packed) {
    MemFree(planeRow);
    MemFree(packed);
    FileClose(f);
    RemoveFailedOutput(name);
    return ERR_MEM;
  }
  uint64_t total = 0;
  for (int32_t y = 0; ok && y < height; y++) {
    const uint32_t *row = pixels + int64_t(y) * width;
    int32_t length = 0;
    for (int32_t k = 0; k < 24; k++) {
      // Plane k holds bit k % 8 of red (planes 0-7), green (8-15) or blue (16-23).
      const int shift = (k < 8 ? 16 : k < 16 ? 8 : 0) + (k & 7);
      std::memset(planeRow, 0, size_t(rowBytes));
      for (int32_t x = 0; x < width; x++)
        if ((row[x] >> shift) & 1) planeRow[x >> 3] |= uint8_t(0x80 >> (x & 7));
      length += PackRow(planeRow, rowBytes, packed + length);
    }
    ok = FileWrite(f, packed, uint64_t(length)) == uint64_t(length);
    total += uint64_t(length);
  }
  if (ok && (total & 1)) ok = FilePutc(f, 0) == 1;
  uint8_t size[4];
  PutBe(size, uint32_t(total), 4);
  FileSeek(f, 44, FILE_SEEK_START);
  ok = ok && FileWrite(f, size, 4) == 4;
  PutBe(size, uint32_t(((total + 1) & ~uint64_t(1)) + 40), 4);
  FileSeek(f, 4, FILE_SEEK_START);
  ok = ok && FileWrite(f, size, 4) == 4;
  MemFree(planeRow);
  MemFree(packed);
  if (!FileClose(f) || !ok) {
    RemoveFailedOutput(name);  // no half-written picture stays behind
    SetPlatformErrorArgument(name);
    return ERR_WRITEFILE;
  }
  return 0;
}
