// GIF reader and writer. The reader trusts nothing in the file: frames are clipped to the
// logical screen, LZW codes are checked against the table, and a walk that fails leaves the
// reader to start over from the beginning at the next load.
#include "media/animcore/gif.h"

#include <algorithm>
#include <cstring>

#include "platform/errorarg.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

constexpr int32_t kFrameTableStep = 4096;
constexpr int32_t kMaxCodes = 4096;  // 12-bit LZW codes

uint32_t Le16(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

void PutLe16(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

uint64_t Tell(qmFileHandle *f) { return FileSeek(f, 0, FILE_SEEK_CURRENT); }

// Reads a colour table of count RGB triplets into palette (0x00RRGGBB); the rest becomes 0.
bool ReadPalette(qmFileHandle *f, uint32_t *palette, int32_t count) {
  uint8_t rgb[768];
  if (FileRead(f, rgb, uint64_t(count) * 3) != uint64_t(count) * 3) return false;
  for (int32_t i = 0; i < 256; i++)
    palette[i] = i < count ? uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2] : 0;
  return true;
}

// Passes over data sub-blocks up to and including the empty one (or the end of the file).
void SkipSubBlocks(qmFileHandle *f) {
  for (;;) {
    const int n = FileGetc(f);
    if (n <= 0) return;
    FileSeek(f, n, FILE_SEEK_CURRENT);
  }
}

// ---- Reader ----

// The sub-block stream of one image's data, read a block at a time.
struct BlockSource {
  qmFileHandle *file;
  uint8_t block[255];
  int32_t length, pos;
  bool ended;  // the empty block (or the end of the file) was met
};

inline int NextDataByte(BlockSource *s) {
  if (s->pos < s->length) return s->block[s->pos++];
  if (s->ended) return -1;
  const int n = FileGetc(s->file);
  if (n <= 0) {
    s->ended = true;
    return -1;
  }
  s->length = int32_t(FileRead(s->file, s->block, uint64_t(n)));
  s->pos = 0;
  if (s->length < n) s->ended = true;  // the file ended inside the block
  if (s->length == 0) return -1;
  return s->block[s->pos++];
}

// Where decoded rows go: the frame's rectangle on the canvas, clipped to it, rows in
// interlaced or plain order. Pixels of the transparent index leave the canvas alone.
struct RowSink {
  uint32_t *canvas;
  int32_t canvasWidth, canvasHeight;
  int32_t left, top, width, height;
  int32_t visible;  // columns of a row that fall on the canvas
  const uint32_t *palette;
  int32_t transparent;
  bool interlaced;
  int32_t pass, row, rowsDone;
  uint8_t *line;  // width index bytes
  int32_t filled;
};

constexpr int32_t kPassStart[4] = {0, 4, 2, 1};
constexpr int32_t kPassStep[4] = {8, 8, 4, 2};

void EmitRow(RowSink *s) {
  const int32_t y = s->top + s->row;
  if (y < s->canvasHeight && s->visible > 0) {
    uint32_t *out = s->canvas + int64_t(y) * s->canvasWidth + s->left;
    for (int32_t x = 0; x < s->visible; x++)
      if (s->line[x] != s->transparent) out[x] = s->palette[s->line[x]];
  }
  s->rowsDone++;
  s->filled = 0;
  if (!s->interlaced) {
    s->row++;
    return;
  }
  s->row += kPassStep[s->pass];
  while (s->row >= s->height && s->pass < 3) {
    s->pass++;
    s->row = kPassStart[s->pass];
  }
}

// The code stream of one image: the bits not yet used, the code width and the table's fill.
struct LzwStream {
  BlockSource src;
  int32_t minSize, clear, end;
  int32_t width, limit, next, previous;  // previous: the last string's code, -1 after a clear
  uint32_t bits;
  int32_t bitCount;
};

constexpr int32_t kLzwEnd = -1, kLzwBroken = -2;

void StartLzw(LzwStream *z, qmFileHandle *f, int32_t minSize) {
  z->src = {f, {}, 0, 0, false};
  z->minSize = minSize;
  z->clear = 1 << minSize, z->end = z->clear + 1;
  z->width = minSize + 1, z->limit = 1 << z->width, z->next = z->clear + 2;
  z->previous = -1;
  z->bits = 0, z->bitCount = 0;
}

// The next code that names a string (clear codes are taken on the way): kLzwEnd at the end code
// or where the data end, kLzwBroken for a code the table cannot know yet.
[[gnu::always_inline]] inline int32_t NextLzwCode(LzwStream *z) {
  for (;;) {
    while (z->bitCount < z->width) {
      const int b = NextDataByte(&z->src);
      if (b < 0) break;
      z->bits |= uint32_t(b) << z->bitCount;
      z->bitCount += 8;
    }
    if (z->bitCount < z->width) return kLzwEnd;
    const int32_t code = int32_t(z->bits & uint32_t(z->limit - 1));
    z->bits >>= z->width;
    z->bitCount -= z->width;
    if (code == z->clear) {
      z->width = z->minSize + 1;
      z->limit = 1 << z->width;
      z->next = z->clear + 2;
      z->previous = -1;
      continue;
    }
    if (code == z->end) return kLzwEnd;
    if (code > z->next || (z->previous < 0 && code >= z->clear)) return kLzwBroken;
    return code;
  }
}

// The slot of the entry the last code makes (the previous string and one byte), or -1 when
// there is no previous string or the table is full; codes widen as the table reaches their limit.
[[gnu::always_inline]] inline int32_t NewLzwEntry(LzwStream *z) {
  if (z->previous < 0 || z->next >= kMaxCodes) return -1;
  const int32_t slot = z->next++;
  if (z->next == z->limit && z->width < 12) {
    z->width++;
    z->limit <<= 1;
  }
  return slot;
}

// Decodes one image's LZW data into the sink. Returns false on a broken code stream or when
// the data ends before every row was filled; the file is left after the data either way.
bool DecodeImageData(qmFileHandle *f, RowSink *sink) {
  const int minSize = FileGetc(f);
  if (minSize < 1 || minSize > 8) return false;
  if (sink->width == 0 || sink->height == 0) {  // no pixel to place: the data is passed over
    SkipSubBlocks(f);
    return true;
  }
  // Per code: its prefix code, its string's length and last byte; and room for one string.
  auto *prefix = static_cast<uint16_t *>(MemAlloc(kMaxCodes * 2 + kMaxCodes * 2 + kMaxCodes + kMaxCodes + 1, 0));
  if (!prefix) return false;
  uint16_t *length = prefix + kMaxCodes;
  uint8_t *suffix = reinterpret_cast<uint8_t *>(length + kMaxCodes);
  uint8_t *stack = suffix + kMaxCodes;
  LzwStream z;
  StartLzw(&z, f, minSize);
  const int32_t clear = z.clear;
  uint8_t firstOfPrevious = 0;
  const int32_t total = sink->height;
  bool broken = false;
  for (int32_t i = 0; i < clear; i++) {
    suffix[i] = uint8_t(i);
    length[i] = 1;
  }

  while (sink->rowsDone < total) {
    const int32_t code = NextLzwCode(&z);
    if (code == kLzwEnd) break;
    if (code == kLzwBroken) {
      broken = true;
      break;
    }
    // Each entry is one longer than an earlier code, so the lengths are exact and the chain
    // ends at a root after length - 1 steps. code == next: previous's string and its first byte.
    const int32_t previous = z.previous;
    const bool repeat = code == z.next;
    const int32_t len = repeat ? length[previous] + 1 : length[code];
    if (len > kMaxCodes) {
      broken = true;
      break;
    }
    // The string is written backwards: straight into the row when it fits there.
    const bool direct = len <= sink->width - sink->filled;
    uint8_t *out = direct ? sink->line + sink->filled : stack;
    int32_t pos = len - 1;
    int32_t c = code;
    if (repeat) {
      out[pos--] = firstOfPrevious;
      c = previous;
    }
    while (c >= clear) {
      out[pos--] = suffix[c];
      c = prefix[c];
    }
    out[pos] = uint8_t(c);
    const uint8_t first = uint8_t(c);
    const int32_t slot = NewLzwEntry(&z);
    if (slot >= 0) {
      prefix[slot] = uint16_t(previous);
      suffix[slot] = first;
      length[slot] = uint16_t(length[previous] + 1);
    }
    z.previous = code;
    firstOfPrevious = first;
    if (direct) {
      sink->filled += len;
      if (sink->filled == sink->width) EmitRow(sink);
      continue;
    }
    for (int32_t k = 0; k < len && sink->rowsDone < total;) {
      const int32_t take = std::min(len - k, sink->width - sink->filled);
      std::memcpy(sink->line + sink->filled, stack + k, size_t(take));
      k += take;
      sink->filled += take;
      if (sink->filled == sink->width) EmitRow(sink);
    }
  }
  MemFree(prefix);
  // Whatever follows the end code up to the empty block belongs to this image.
  if (!z.src.ended) SkipSubBlocks(f);
  return !broken && sink->rowsDone >= total;
}

// Checks one image's LZW data as DecodeImageData would decode it, without building a pixel:
// only each code's string length is kept, which is all the checks and the pixel count need.
// Same verdict as DecodeImageData for a width x height frame; the file is left after the data.
bool CheckImageData(qmFileHandle *f, int32_t frameWidth, int32_t frameHeight) {
  const int minSize = FileGetc(f);
  if (minSize < 1 || minSize > 8) return false;
  if (frameWidth == 0 || frameHeight == 0) {
    SkipSubBlocks(f);
    return true;
  }
  uint16_t length[kMaxCodes];
  LzwStream z;
  StartLzw(&z, f, minSize);
  const int64_t total = int64_t(frameWidth) * frameHeight;
  int64_t pixels = 0;
  bool broken = false;
  for (int32_t i = 0; i < z.clear; i++) length[i] = 1;

  while (pixels < total) {
    const int32_t code = NextLzwCode(&z);
    if (code == kLzwEnd) break;
    if (code == kLzwBroken) {
      broken = true;
      break;
    }
    const int32_t len = code == z.next ? length[z.previous] + 1 : length[code];
    if (len > kMaxCodes) {
      broken = true;
      break;
    }
    const int32_t slot = NewLzwEntry(&z);
    if (slot >= 0) length[slot] = uint16_t(length[z.previous] + 1);
    z.previous = code;
    pixels += len;
  }
  if (!z.src.ended) SkipSubBlocks(f);
  return !broken && pixels >= total;
}

void FillCanvas(qmGifReader *r, uint32_t colour) {
  std::fill(r->canvas, r->canvas + int64_t(r->width) * r->height, colour);
}

// The last frame's rectangle clipped to the screen: false when nothing of it is on the screen.
bool ClippedRect(const qmGifReader *r, int32_t *w, int32_t *h) {
  *w = std::min(r->frameWidth, r->width - r->left);
  *h = std::min(r->frameHeight, r->height - r->top);
  return *w > 0 && *h > 0;
}

// Applies the last frame's disposal to the canvas (2: its rectangle in the transparent or
// background colour; 3: the canvas it covered; others: nothing).
void Dispose(qmGifReader *r) {
  int32_t w, h;
  if (!ClippedRect(r, &w, &h)) return;
  if (r->disposal == 2) {
    const uint32_t colour = r->palette[r->transparent >= 0 ? r->transparent : r->background];
    for (int32_t y = 0; y < h; y++) {
      uint32_t *row = r->canvas + int64_t(r->top + y) * r->width + r->left;
      std::fill(row, row + w, colour);
    }
  } else if (r->disposal == 3) {
    for (int32_t y = 0; y < h; y++) {
      const int64_t at = int64_t(r->top + y) * r->width + r->left;
      std::memcpy(r->canvas + at, r->saved + at, size_t(w) * 4);
    }
  }
}

void SaveArea(qmGifReader *r) {
  int32_t w, h;
  if (!ClippedRect(r, &w, &h)) return;
  for (int32_t y = 0; y < h; y++) {
    const int64_t at = int64_t(r->top + y) * r->width + r->left;
    std::memcpy(r->saved + at, r->canvas + at, size_t(w) * 4);
  }
}

bool GrowFrameTable(qmGifReader *r) {
  const int64_t capacity = int64_t(r->frameCapacity) + kFrameTableStep;
  if (capacity * int64_t(sizeof(qmGifFrameEntry)) > int64_t(UINT32_MAX)) return false;
  auto *table = static_cast<qmGifFrameEntry *>(MemAlloc(uint32_t(capacity * sizeof(qmGifFrameEntry)), 1));
  if (!table) return false;
  if (r->frames) std::memcpy(table, r->frames, size_t(r->frameCount) * sizeof(qmGifFrameEntry));
  MemFree(r->frames);
  r->frames = table;
  r->frameCapacity = int32_t(capacity);
  return true;
}

// Decodes frames from the file position until frame target is on the canvas (its disposal not
// yet applied), or with target -1 to the end, recording the frame table. False on failure.
bool Walk(qmGifReader *r, int32_t target) {
  const bool scanning = target < 0;
  auto resetFrame = [r] {
    r->palette = r->globalPalette;
    r->disposal = 0;
    r->transparent = -1;
  };
  resetFrame();
  uint32_t delay = 0;
  uint64_t frameStart = Tell(r->file);
  for (;;) {
    const int c = FileGetc(r->file);
    if (c < 0 || c == 0x3B) return scanning;  // a load must reach its frame
    if (c == 0x21) {
      const int label = FileGetc(r->file);
      if (label < 0) return scanning;
      if (label != 0xF9) {
        SkipSubBlocks(r->file);
        continue;
      }
      for (;;) {  // the control extension: the last block of four bytes or more counts
        const int n = FileGetc(r->file);
        if (n <= 0) break;
        uint8_t b[255];
        if (FileRead(r->file, b, uint64_t(n)) != uint64_t(n)) break;
        if (n < 4) continue;
        r->disposal = b[0] >> 2 & 7;
        delay = Le16(b + 1);
        r->transparent = (b[0] & 1) ? b[3] : -1;
      }
      continue;
    }
    if (c != 0x2C) continue;  // stray bytes until an image

    uint8_t d[9];
    if (FileRead(r->file, d, 9) != 9) return false;
    r->left = int32_t(Le16(d));
    r->top = int32_t(Le16(d + 2));
    r->frameWidth = int32_t(Le16(d + 4));
    r->frameHeight = int32_t(Le16(d + 6));
    const uint8_t packed = d[8];
    if (scanning) {
      if (r->frameCount == r->frameCapacity && !GrowFrameTable(r)) return false;
      qmGifFrameEntry &e = r->frames[r->frameCount];
      e.delay = delay;
      // Only a frame that paints every screen pixel can start a decode on its own.
      e.keyFrame = r->left == 0 && r->top == 0 && r->frameWidth == r->width && r->frameHeight == r->height &&
                   r->transparent < 0 && r->disposal != 3;
      e.start = frameStart;
    }
    if (packed & 0x80) {
      if (!ReadPalette(r->file, r->localPalette, 2 << (packed & 7))) return false;
      r->palette = r->localPalette;
    }
    if (r->framesDecoded == 0 && r->transparent >= 0 && r->disposal == 2) FillCanvas(r, r->palette[r->transparent]);
    if (r->disposal == 3) SaveArea(r);

    if (scanning) {  // the loads paint the frames; the scan only needs the data to be sound
      if (!CheckImageData(r->file, r->frameWidth, r->frameHeight)) return false;
      r->frameCount++;
      r->framesDecoded++;
      resetFrame();
      delay = 0;
      frameStart = Tell(r->file);
      continue;
    }
    RowSink sink = {};
    sink.canvas = r->canvas;
    sink.canvasWidth = r->width;
    sink.canvasHeight = r->height;
    sink.left = r->left;
    sink.top = r->top;
    sink.width = r->frameWidth;
    sink.height = r->frameHeight;
    sink.visible = std::max(0, std::min(r->frameWidth, r->width - r->left));
    sink.palette = r->palette;
    sink.transparent = r->transparent;
    sink.interlaced = (packed & 0x40) != 0;
    if (r->frameWidth > 0) {
      sink.line = static_cast<uint8_t *>(MemAlloc(uint32_t(r->frameWidth), 0));
      if (!sink.line) return false;
    }
    const bool ok = DecodeImageData(r->file, &sink);
    MemFree(sink.line);
    if (!ok) return false;
    r->framesDecoded++;
    if (r->framesDecoded == target + 1) return true;
    Dispose(r);
    resetFrame();
    delay = 0;
    frameStart = Tell(r->file);
  }
}

}  // namespace

qmGifReader *GifOpen(const char *fileName, int32_t *width, int32_t *height, int32_t *frames, int32_t sizeOnly) {
  *width = *height = 0;
  if (frames) *frames = 0;
  qmFileHandle *f = nullptr;
  if (FileOpenRegular(fileName, &f)) return nullptr;  // never a FIFO that would wait for a writer
  uint8_t head[13];
  if (FileRead(f, head, 13) != 13 || (std::memcmp(head, "GIF87", 5) && std::memcmp(head, "GIF89", 5))) {
    FileClose(f);
    return nullptr;
  }
  const int32_t w = int32_t(Le16(head + 6)), h = int32_t(Le16(head + 8));
  if (sizeOnly) {
    *width = w;
    *height = h;
    FileClose(f);
    return nullptr;
  }
  auto *r = static_cast<qmGifReader *>(MemAlloc(sizeof(qmGifReader), 1));
  if (!r || CheckImageSize(w, h, f->size)) {
    MemFree(r);
    FileClose(f);
    return nullptr;
  }
  r->file = f;
  r->width = w;
  r->height = h;
  r->background = head[11];
  const uint32_t bytes = uint32_t(int64_t(w) * h * 4);
  r->canvas = static_cast<uint32_t *>(MemAlloc(bytes, 0));
  r->saved = static_cast<uint32_t *>(MemAlloc(bytes, 0));
  bool ok = r->canvas && r->saved && GrowFrameTable(r);
  if (ok && (head[10] & 0x80)) ok = ReadPalette(f, r->globalPalette, 2 << (head[10] & 7));
  if (ok) {
    FillCanvas(r, r->globalPalette[r->background]);
    r->dataStart = Tell(f);
    ok = Walk(r, -1) && r->frameCount > 0;
  }
  if (!ok) {
    GifCloseReader(r);
    return nullptr;
  }
  r->framesDecoded = -1;
  *width = w;
  *height = h;
  if (frames) *frames = r->frameCount;
  return r;
}

uint32_t *GifLoadFrame(qmGifReader *r, int32_t index) {
  if (!r || index < 0 || index >= r->frameCount) return nullptr;
  if (index != r->framesDecoded) {
    int32_t k = index;
    while (k >= 0 && !r->frames[k].keyFrame) k--;
    if (k >= 0) {
      FileSeek(r->file, int64_t(r->frames[k].start), FILE_SEEK_START);
      r->framesDecoded = k;
    } else {
      FillCanvas(r, r->globalPalette[r->background]);
      FileSeek(r->file, int64_t(r->dataStart), FILE_SEEK_START);
      r->framesDecoded = 0;
    }
  }
  if (!Walk(r, index)) {
    r->framesDecoded = -1;  // the canvas is undefined: the next load starts over
    return nullptr;
  }
  const uint64_t n = uint64_t(r->width) * uint64_t(r->height);
  auto *out = static_cast<uint32_t *>(MemAlloc(uint32_t(n * 4), 0));
  if (out) std::memcpy(out, r->canvas, n * 4);
  Dispose(r);  // ready for the next frame in sequence, whether the copy was made or not
  return out;
}

uint32_t GifGetFrameDelay(const qmGifReader *r, int32_t index) {
  if (!r || index < 0 || index >= r->frameCount) return 0;
  return r->frames[index].delay * 10;
}

void GifCloseReader(qmGifReader *r) {
  if (!r) return;
  MemFree(r->frames);
  MemFree(r->canvas);
  MemFree(r->saved);
  if (r->file) FileClose(r->file);
  MemFree(r);
}

// ---- Writer ----

namespace {

void Put(qmGifWriter *w, const void *bytes, uint64_t n) {
  if (!w->failed && FileWrite(w->file, bytes, n) != n) w->failed = 1;
}

uint32_t WriteFailed(qmGifWriter *w) {
  SetPlatformErrorArgument(w->fileName);
  return ERR_WRITEFILE;
}

constexpr int32_t kHashSlots = 5003;

// Hashed string table and bit packer of the LZW encoder.
struct Encoder {
  uint16_t code[kHashSlots];  // 0: empty slot
  uint16_t prefix[kHashSlots];
  uint8_t suffix[kHashSlots];
  uint8_t block[255];  // length byte then up to 254 data bytes
  int32_t blockLength;
  uint32_t bits;
  int32_t bitCount;
  int32_t width;
  qmGifWriter *writer;
};

void FlushBlock(Encoder *e) {
  if (e->blockLength == 0) return;
  e->block[0] = uint8_t(e->blockLength);
  Put(e->writer, e->block, uint64_t(e->blockLength) + 1);
  e->blockLength = 0;
}

inline void WriteCode(Encoder *e, int32_t code) {
  e->bits |= uint32_t(code) << e->bitCount;
  e->bitCount += e->width;
  while (e->bitCount >= 8) {
    e->block[1 + e->blockLength++] = uint8_t(e->bits);
    e->bits >>= 8;
    e->bitCount -= 8;
    if (e->blockLength == 254) FlushBlock(e);
  }
}

// LZW-encodes the rows of a rectangle of indices (stride apart) as GIF image data, ending with
// the empty sub-block.
void EncodeRect(Encoder *e, const uint8_t *pixels, int32_t stride, int32_t rectWidth, int32_t rectHeight,
                int32_t minSize) {
  const int32_t clear = 1 << minSize, end = clear + 1;
  int32_t next = clear + 2;
  std::memset(e->code, 0, sizeof e->code);
  e->blockLength = 0;
  e->bits = 0;
  e->bitCount = 0;
  e->width = minSize + 1;
  const uint8_t minByte = uint8_t(minSize);
  Put(e->writer, &minByte, 1);
  WriteCode(e, clear);
  int32_t current = pixels[0];
  for (int32_t y = 0; y < rectHeight; y++) {
    const uint8_t *row = pixels + int64_t(y) * stride;
    for (int32_t x = y == 0 ? 1 : 0; x < rectWidth; x++) {
      const int32_t pixel = row[x];
      int32_t slot = (pixel << 4) + current;
      if (slot >= kHashSlots) slot -= kHashSlots;
      const int32_t step = slot == 0 ? 1 : kHashSlots - slot;
      bool found = false;
      while (e->code[slot]) {
        if (e->prefix[slot] == current && e->suffix[slot] == pixel) {
          found = true;
          break;
        }
        slot -= step;
        if (slot < 0) slot += kHashSlots;
      }
      if (found) {
        current = e->code[slot];
        continue;
      }
      WriteCode(e, current);
      if (next > (1 << e->width) - 1 && e->width < 12) e->width++;
      if (next > kMaxCodes - 1) {
        std::memset(e->code, 0, sizeof e->code);
        WriteCode(e, clear);
        e->width = minSize + 1;
        next = clear + 2;
      } else {
        e->code[slot] = uint16_t(next++);
        e->prefix[slot] = uint16_t(current);
        e->suffix[slot] = uint8_t(pixel);
      }
      current = pixel;
    }
  }
  WriteCode(e, current);
  if (next > (1 << e->width) - 1 && e->width < 12) e->width++;  // as the reader grows after it
  WriteCode(e, end);
  if (e->bitCount > 0) {
    e->block[1 + e->blockLength++] = uint8_t(e->bits);
    e->bitCount = 0;
    if (e->blockLength == 254) FlushBlock(e);
  }
  FlushBlock(e);
  const uint8_t terminator = 0;
  Put(e->writer, &terminator, 1);
}

}  // namespace

uint32_t GifCreate(const char *fileName, int32_t width, int32_t height, qmGifWriter **out) {
  *out = nullptr;
  if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ERR_WRONGUSAGE;
  auto *w = static_cast<qmGifWriter *>(MemAlloc(sizeof(qmGifWriter), 1));
  if (!w) return ERR_MEM;
  const size_t nameLength = std::strlen(fileName) + 1;
  w->fileName = static_cast<char *>(MemAlloc(uint32_t(nameLength), 0));
  w->work = static_cast<uint8_t *>(MemAlloc(uint32_t(width) * uint32_t(height), 0));
  if (!w->fileName || !w->work) {
    MemFree(w->fileName);
    MemFree(w->work);
    MemFree(w);
    return ERR_MEM;
  }
  std::memcpy(w->fileName, fileName, nameLength);
  w->width = width;
  w->height = height;
  w->file = FileOpen(fileName, FILE_MODE_WRITE);
  if (!w->file) {
    const uint32_t err = WriteFailed(w);
    MemFree(w->fileName);
    MemFree(w->work);
    MemFree(w);
    return err;
  }
  uint8_t head[13 + 768] = {'G', 'I', 'F', '8', '9', 'a'};
  PutLe16(head + 6, uint32_t(width));
  PutLe16(head + 8, uint32_t(height));
  head[10] = 0xF7;  // a global table of 256 entries, 8 bits of colour resolution
  // Every frame brings its own table; the global one only carries a greeting.
  std::memcpy(head + 13, "Amiga rules!", 13);
  Put(w, head, sizeof head);
  if (w->failed) {
    FileClose(w->file);
    w->file = nullptr;
    RemoveFailedOutput(w->fileName);
    const uint32_t err = WriteFailed(w);
    MemFree(w->fileName);
    MemFree(w->work);
    MemFree(w);
    return err;
  }
  *out = w;
  return 0;
}

uint32_t GifWriteFrame(qmGifWriter *w, uint8_t *indices, int32_t width, int32_t height, int32_t delayMs,
                       uint32_t *palette, int32_t colours, int32_t transparentIndex, int32_t optimize) {
  if (width != w->width || height != w->height || colours < 1 || colours > 256 || transparentIndex >= colours ||
      transparentIndex < -1)
    return ERR_WRONGUSAGE;
  const int64_t n = int64_t(width) * height;
  for (int32_t i = colours; i < 256; i++) palette[i] = 0xFFFFFFFFu;
  int32_t b = 1;
  while (colours > (1 << b)) b++;
  // An index past the local table would read as a control code.
  if (*std::max_element(indices, indices + n) >= (1 << b)) return ERR_WRONGUSAGE;

  // Without a given index the last entry is flagged transparent; that is only right when no
  // pixel of the frame uses it (callers keep it free). Otherwise the frame goes out whole and
  // opaque.
  const int32_t flagged = transparentIndex >= 0 ? transparentIndex : colours - 1;
  const bool flagFree = transparentIndex >= 0 || std::find(indices, indices + n, uint8_t(flagged)) == indices + n;
  const bool optimised = optimize && w->previous && transparentIndex < 0 && flagFree && !w->previousDisposed;
  // Everything is allocated before the first byte of the frame goes out.
  if (optimize && !w->previous) {
    w->previous = static_cast<uint8_t *>(MemAlloc(uint32_t(n), 0));
    if (!w->previous) return ERR_MEM;
  }
  auto *e = static_cast<Encoder *>(MemAlloc(sizeof(Encoder), 0));
  if (!e) return ERR_MEM;
  e->writer = w;

  uint8_t gce[8] = {0x21, 0xF9, 0x04, 0, 0, 0, 0, 0};
  gce[3] = transparentIndex >= 0 ? 0x09 : flagFree ? 0x05 : 0x04;
  PutLe16(gce + 4, uint32_t(std::clamp(delayMs / 10, 0, 0xFFFF)));
  gce[6] = uint8_t(flagged);
  Put(w, gce, sizeof gce);
  if (w->framesWritten == 0) {
    static const uint8_t loop[19] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
                                     0x03, 0x01, 0x00, 0x00, 0x00};
    Put(w, loop, sizeof loop);
  }

  int32_t left = 0, top = 0, right = width - 1, bottom = height - 1;
  if (optimised) {
    // Each earlier index once into the new palette: -1 when its colour is no longer there.
    int32_t map[256];
    for (int32_t i = 0; i < 256; i++) {
      map[i] = -1;
      for (int32_t j = 0; j < 256; j++)
        if (palette[j] == w->previousPalette[i]) {
          map[i] = j;
          break;
        }
    }
    auto changed = [&](int64_t at) { return map[w->previous[at]] != indices[at]; };
    auto rowChanged = [&](int32_t y) {
      for (int32_t x = 0; x < width; x++)
        if (changed(int64_t(y) * width + x)) return true;
      return false;
    };
    top = 0;
    while (top < height && !rowChanged(top)) top++;
    if (top == height) {
      // Nothing changed: the smallest frame there is, inside the picture.
      left = top = 0;
      right = std::min(2, width) - 1;
      bottom = 0;
    } else {
      bottom = height - 1;
      while (!rowChanged(bottom)) bottom--;
      left = width - 1;
      right = 0;
      for (int32_t y = top; y <= bottom; y++)
        for (int32_t x = 0; x < width; x++)
          if (changed(int64_t(y) * width + x)) {
            left = std::min(left, x);
            right = std::max(right, x);
          }
    }
  }
  const int32_t rectWidth = right - left + 1, rectHeight = bottom - top + 1;
  // The whole frame, not only its rectangle: outside it the old indices belong to the old
  // palette, and the next frame is compared in this frame's palette.
  std::memcpy(w->work, indices, size_t(n));
  if (optimised)
    for (int32_t y = top; y <= bottom; y++)
      for (int32_t x = left; x <= right; x++) {
        const int64_t at = int64_t(y) * width + x;
        if (palette[indices[at]] == w->previousPalette[w->previous[at]]) indices[at] = uint8_t(colours - 1);
      }

  uint8_t desc[10] = {0x2C};
  PutLe16(desc + 1, uint32_t(left));
  PutLe16(desc + 3, uint32_t(top));
  PutLe16(desc + 5, uint32_t(rectWidth));
  PutLe16(desc + 7, uint32_t(rectHeight));
  desc[9] = uint8_t(0x80 | (b - 1));
  Put(w, desc, sizeof desc);
  uint8_t table[768];
  for (int32_t i = 0; i < (1 << b); i++) {
    table[3 * i] = uint8_t(palette[i] >> 16);
    table[3 * i + 1] = uint8_t(palette[i] >> 8);
    table[3 * i + 2] = uint8_t(palette[i]);
  }
  Put(w, table, uint64_t(3) << b);

  EncodeRect(e, indices + int64_t(top) * width + left, width, rectWidth, rectHeight, std::max(b, 2));
  MemFree(e);
  w->framesWritten++;

  // The frame as shown, for the next frame's comparison.
  if (w->previous) {
    std::swap(w->previous, w->work);
    std::memcpy(w->previousPalette, palette, sizeof w->previousPalette);
  }
  // A frame disposed to the background no longer shows under the next one.
  w->previousDisposed = transparentIndex >= 0;
  return w->failed ? WriteFailed(w) : 0;
}

uint32_t GifClose(qmGifWriter *w) {
  if (!w) return 0;
  const uint8_t trailer = 0x3B;
  Put(w, &trailer, 1);
  if (!FileClose(w->file)) w->failed = 1;
  const uint32_t err = w->failed ? WriteFailed(w) : 0;
  if (w->failed) RemoveFailedOutput(w->fileName);  // a file cut short is no GIF: none stays behind
  MemFree(w->previous);
  MemFree(w->work);
  MemFree(w->fileName);
  MemFree(w);
  return err;
}
