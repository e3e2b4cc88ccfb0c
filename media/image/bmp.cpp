// Windows BMP: bottom-up rows of 1, 4, 8 and 24 bits, and 8-bit RLE. Sizes, offsets and runs
// are checked against the bytes the file holds.
#include <algorithm>
#include <cstring>

#include "graphics/cpu.h"
#include "media/image/bmp_rows.h"
#include "media/image/imageload.h"
#include "platform/file.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

uint32_t Le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint32_t Le16(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

struct BmpHeader {
  int32_t width;
  int32_t height;
  uint32_t depth;
  uint32_t compression;
  uint32_t colorsUsed;
  uint32_t headerSize;
  uint32_t dataOffset;
};

// 8-bit RLE into the index rows (top row first; the file's first row is the bottom one).
// Runs stop at the end of a line, moves that leave the picture end it.
void DecodeRle8(const uint8_t *data, uint64_t size, uint8_t *indices, int32_t width, int32_t height) {
  uint64_t pos = 0;
  int64_t x = 0, row = 0;
  while (row < height && pos + 2 <= size) {
    const uint8_t count = data[pos], value = data[pos + 1];
    pos += 2;
    uint8_t *line = indices + (height - 1 - row) * int64_t(width);
    if (count) {
      for (int64_t end = std::min<int64_t>(x + count, width); x < end; x++) line[x] = value;
      continue;
    }
    if (value == 0) {
      x = 0;
      row++;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      if (pos + 2 > size) break;
      x += data[pos];
      row += data[pos + 1];
      pos += 2;
      if (x > width) x = width;
    } else {
      const uint64_t n = value;
      if (pos + n > size) break;
      for (uint64_t i = 0; i < n && x < width; i++, x++) line[x] = data[pos + i];
      pos += n + (n & 1);
    }
  }
}

// One stored row of 1, 4 or 8 bits to index bytes.
void UnpackIndexRow(const uint8_t *in, uint8_t *out, int32_t width, uint32_t depth) {
  if (depth == 8) {
    std::memcpy(out, in, size_t(width));
  } else if (depth == 4) {
    for (int32_t x = 0; x < width; x++) out[x] = (x & 1) ? in[x >> 1] & 15 : in[x >> 1] >> 4;
  } else {
    for (int32_t x = 0; x < width; x++) out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
  }
}

uint32_t ReadBmp(qmFileHandle *f, const BmpHeader &h, uint32_t **pixelsOut) {
  const uint64_t fileSize = f->size;
  const int32_t width = h.width, height = h.height;
  if (h.dataOffset > fileSize) return ERR_LOADPICTURE2;
  const uint64_t dataBytes = fileSize - h.dataOffset;
  const uint64_t rowBytes = ((uint64_t(width) * h.depth + 31) / 32) * 4;
  if (h.compression == 0) {
    // The last row's padding may be missing; its pixels may not.
    const uint64_t need = (uint64_t(height) - 1) * rowBytes + (uint64_t(width) * h.depth + 7) / 8;
    if (need > dataBytes) return ERR_LOADPICTURE2;
  }

  uint32_t palette[256] = {};
  if (h.depth <= 8) {
    uint32_t colors = h.colorsUsed ? h.colorsUsed : 1u << h.depth;
    colors = std::min(colors, 256u);
    uint8_t table[1024];
    FileSeek(f, 14 + int64_t(h.headerSize), FILE_SEEK_START);
    const uint64_t got = FileRead(f, table, uint64_t(colors) * 4) / 4;
    for (uint64_t i = 0; i < got; i++)
      palette[i] = uint32_t(table[4 * i + 2]) << 16 | uint32_t(table[4 * i + 1]) << 8 | table[4 * i];
  }

  auto *pixels = static_cast<uint32_t *>(MemAlloc(uint32_t(uint64_t(width) * height * 4), 0));
  if (!pixels) return ERR_MEM;
  FileSeek(f, h.dataOffset, FILE_SEEK_START);

  if (h.compression == 1) {
    auto *indices = static_cast<uint8_t *>(MemAlloc(uint32_t(uint64_t(width) * height), 1));
    auto *data = static_cast<uint8_t *>(MemAlloc(uint32_t(std::min<uint64_t>(dataBytes, UINT32_MAX)), 0));
    if (!indices || (dataBytes && !data)) {
      MemFree(indices);
      MemFree(data);
      MemFree(pixels);
      return ERR_MEM;
    }
    const uint64_t got = data ? FileRead(f, data, dataBytes) : 0;
    DecodeRle8(data, got, indices, width, height);
    const uint64_t n = uint64_t(width) * height;
    for (uint64_t i = 0; i < n; i++) pixels[i] = palette[indices[i]];
    MemFree(data);
    MemFree(indices);
    *pixelsOut = pixels;
    return 0;
  }

  // Uncompressed rows are read in blocks that stay in the cache while they are converted.
  const uint64_t blockRows = std::max<uint64_t>(1, (256 * 1024) / rowBytes);
  auto *block = static_cast<uint8_t *>(MemAlloc(uint32_t(blockRows * rowBytes), 0));
  auto *line = static_cast<uint8_t *>(MemAlloc(uint32_t(width), 0));
  if (!block || !line) {
    MemFree(block);
    MemFree(line);
    MemFree(pixels);
    return ERR_MEM;
  }
  for (int64_t first = 0; first < height; first += int64_t(blockRows)) {
    const int64_t rows = std::min<int64_t>(int64_t(blockRows), height - first);
    const uint64_t want = uint64_t(rows) * rowBytes;
    const uint64_t got = FileRead(f, block, want);
    if (got < want) std::memset(block + got, 0, want - got);  // only the last row's padding
    for (int64_t i = 0; i < rows; i++) {
      const uint8_t *in = block + uint64_t(i) * rowBytes;
      uint32_t *out = pixels + (height - 1 - (first + i)) * int64_t(width);
      if (h.depth == 24) {
        Bgr24ToArgbRow(in, out, width);
      } else {
        UnpackIndexRow(in, line, width, h.depth);
        for (int32_t x = 0; x < width; x++) out[x] = palette[line[x]];
      }
    }
  }
  MemFree(block);
  MemFree(line);
  *pixelsOut = pixels;
  return 0;
}

}  // namespace

void Bgr24ToArgbRowScalar(const uint8_t *in, uint32_t *out, int32_t n) {
  for (int32_t x = 0; x < n; x++, in += 3) out[x] = uint32_t(in[2]) << 16 | uint32_t(in[1]) << 8 | in[0];
}

void Bgr24ToArgbRow(const uint8_t *in, uint32_t *out, int32_t n) {
  QM_AVX2_RETURN(Bgr24ToArgbRowAvx2(in, out, n));
  Bgr24ToArgbRowScalar(in, out, n);
}

uint32_t LoadBMP(const char *name, int32_t *widthOut, int32_t *heightOut, uint32_t **pixelsOut) {
  qmFileHandle *f = FileOpen(name, FILE_MODE_READ);
  if (!f) return ERR_READFILE;
  uint8_t b[54] = {};
  if (FileRead(f, b, sizeof b) != sizeof b || b[0] != 'B' || b[1] != 'M') {
    FileClose(f);
    return ERR_LOADPICTURE2;
  }
  BmpHeader h;
  h.dataOffset = Le32(b + 10);
  h.headerSize = Le32(b + 14);
  h.width = int32_t(Le32(b + 18));
  h.height = int32_t(Le32(b + 22));
  h.depth = Le16(b + 28);
  h.compression = Le32(b + 30);
  h.colorsUsed = Le32(b + 46);
  // Top-down pictures (negative height) and the short OS/2 header are not read; RLE belongs
  // to 8 bits only.
  uint32_t err = 0;
  if (h.headerSize < 40 || h.width <= 0 || h.height <= 0) err = ERR_LOADPICTURE2;
  else if (h.depth != 1 && h.depth != 4 && h.depth != 8 && h.depth != 24) err = ERR_LOADPICTURE2;
  else if (h.compression != 0 && !(h.compression == 1 && h.depth == 8)) err = ERR_LOADPICTURE2;
  else err = CheckImageSize(h.width, h.height, f->size);
  if (!err && pixelsOut) {
    uint32_t *pixels = nullptr;
    err = ReadBmp(f, h, &pixels);
    if (!err) *pixelsOut = pixels;
  }
  FileClose(f);
  if (err) return err;
  *widthOut = h.width;
  *heightOut = h.height;
  return 0;
}
