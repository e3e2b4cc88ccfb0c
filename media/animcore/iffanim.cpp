// IFF ANIM reader. The first frame is an ILBM body; every further frame is a DLTA chunk of
// operation 5 applied to one of two plane buffers. Nothing in a delta is trusted: its plane
// offsets must lie in the chunk, and its column ops must stay inside the chunk and the plane.
#include "media/animcore/iffanim.h"

#include <algorithm>
#include <cstring>

#include "media/image/ilbm.h"
#include "platform/file.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"

namespace {

constexpr int32_t kDelaySlots = 4096;

uint32_t Be(const uint8_t *p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; i++) v = v << 8 | p[i];
  return v;
}

uint64_t Even(uint64_t n) { return n + (n & 1); }

uint64_t Tell(qmFileHandle *f) { return FileSeek(f, 0, FILE_SEEK_CURRENT); }

uint64_t PlanesBytes(const qmIffAnim *a) { return uint64_t(IlbmRowBytes(a->width)) * a->height * a->depth; }

// Reads a CMAP of size bytes into the palette in use (at most 256 colours; the rest of the
// chunk is passed over); extra half-brite fills entries 32 to 63 with the first 32 halved.
bool ReadColourMap(qmIffAnim *a, uint32_t size) {
  const uint32_t colours = std::min<uint32_t>(size / 3, 256);
  uint8_t rgb[768];
  if (FileRead(a->file, rgb, uint64_t(colours) * 3) != uint64_t(colours) * 3) return false;
  for (uint32_t i = 0; i < colours; i++)
    a->palette[i] = uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
  return true;
}

void HalveBrite(qmIffAnim *a) {
  if (!a->ehb) return;
  for (int i = 0; i < 32; i++) a->palette[32 + i] = (a->palette[i] >> 1) & 0x7F7F7Fu;
}

// Back to the state before the first delta: both buffers hold the first frame, the file stands
// at the second frame and the first palette is in use.
void Rewind(qmIffAnim *a) {
  const uint64_t bytes = PlanesBytes(a);
  std::memcpy(a->deltaPlanes[0], a->firstPlanes, bytes);
  std::memcpy(a->deltaPlanes[1], a->firstPlanes, bytes);
  std::memcpy(a->palette, a->firstPalette, sizeof a->palette);
  FileSeek(a->file, int64_t(a->secondFrame), FILE_SEEK_START);
  a->framesLoaded = 0;
  a->nextBuffer = 0;
}

// One plane's column ops of a DLTA (data from offset to the chunk's end) onto plane.
bool ApplyPlaneDelta(const uint8_t *data, uint64_t size, uint64_t offset, uint8_t *plane, int32_t rowBytes,
                     int32_t height, bool xorBytes) {
  uint64_t pos = offset;
  for (int32_t column = 0; column < rowBytes; column++) {
    if (pos >= size) return false;
    int32_t ops = data[pos++];
    int32_t row = 0;
    while (ops-- > 0) {
      if (pos >= size) return false;
      const uint8_t op = data[pos++];
      if (op & 0x80) {
        const int32_t count = op & 0x7F;
        if (pos + uint64_t(count) > size || row + count > height) return false;
        for (int32_t i = 0; i < count; i++, row++) {
          uint8_t &dst = plane[int64_t(row) * rowBytes + column];
          dst = xorBytes ? uint8_t(dst ^ data[pos++]) : data[pos++];
        }
      } else if (op == 0) {
        if (pos + 2 > size) return false;
        const int32_t count = data[pos];
        const uint8_t value = data[pos + 1];
        pos += 2;
        if (row + count > height) return false;
        for (int32_t i = 0; i < count; i++, row++) {
          uint8_t &dst = plane[int64_t(row) * rowBytes + column];
          dst = xorBytes ? uint8_t(dst ^ value) : value;
        }
      } else {
        row += op;  // a skip may end below the last row; only writes must stay inside
      }
    }
  }
  return true;
}

// Applies the delta FORM at the file position as frame number frame; the buffer it wrote in
// *planesOut. False when the FORM is no operation-5 delta or does not fit the planes.
bool DecodeDelta(qmIffAnim *a, int32_t frame, uint8_t **planesOut) {
  const uint64_t start = Tell(a->file);
  uint8_t head[12];
  if (FileRead(a->file, head, 12) != 12 || std::memcmp(head, "FORM", 4)) return false;
  const uint64_t formEnd = start + 8 + Even(Be(head + 4, 4));
  bool haveHeader = false;
  int32_t interleave = 0;
  uint8_t *data = nullptr;
  uint64_t dataSize = 0;
  for (;;) {
    uint8_t chunk[8];
    if (FileRead(a->file, chunk, 8) != 8) return false;
    const uint32_t size = Be(chunk + 4, 4);
    const uint64_t next = Tell(a->file) + Even(size);
    if (!std::memcmp(chunk, "ANHD", 4)) {
      uint8_t h[40] = {};
      const uint64_t want = std::min<uint64_t>(size, sizeof h);
      if (want < 20 || FileRead(a->file, h, want) != want) return false;
      if (h[0] != 5) return false;
      a->delays[frame] = Be(h + 14, 4);
      interleave = h[18];
      haveHeader = true;
    } else if (!std::memcmp(chunk, "CMAP", 4)) {
      if (!ReadColourMap(a, size)) return false;
      HalveBrite(a);
    } else if (!std::memcmp(chunk, "DLTA", 4)) {
      if (!haveHeader || size < 64 || size > a->file->size) return false;
      data = static_cast<uint8_t *>(MemAlloc(size, 0));
      if (!data) return false;
      dataSize = FileRead(a->file, data, size);
      if (dataSize != size) {
        MemFree(data);
        return false;
      }
      // The next frame follows this FORM, or this chunk when the FORM's size falls short.
      FileSeek(a->file, int64_t(std::max(next, formEnd)), FILE_SEEK_START);
      break;
    }
    if (next > a->file->size) return false;  // no DLTA before the end of the file
    FileSeek(a->file, int64_t(next), FILE_SEEK_START);
  }
  uint8_t *target = a->deltaPlanes[a->nextBuffer];
  if (interleave == 0) a->nextBuffer ^= 1;  // each delta is made against the frame two back
  const int32_t rowBytes = IlbmRowBytes(a->width);
  const uint64_t planeBytes = uint64_t(rowBytes) * a->height;
  bool ok = true;
  for (int32_t p = 0; ok && p < a->depth; p++) {
    const uint32_t offset = Be(data + 4 * p, 4);
    if (offset == 0) continue;
    ok = offset >= 64 && offset < dataSize &&
         ApplyPlaneDelta(data, dataSize, offset, target + planeBytes * p, rowBytes, a->height, interleave == 1);
  }
  MemFree(data);
  *planesOut = target;
  return ok;
}

// The walk of the first FORM ILBM up to its BODY: 0 with the BODY's data start and size.
bool ReadFirstForm(qmIffAnim *a, uint64_t *bodyStart, uint32_t *bodySize, int32_t *dpanFrames) {
  bool haveBmhd = false, haveCmap = false, ham = false;
  FileSeek(a->file, 24, FILE_SEEK_START);
  for (;;) {
    uint8_t chunk[8];
    if (FileRead(a->file, chunk, 8) != 8) return false;
    const uint32_t size = Be(chunk + 4, 4);
    const uint64_t at = Tell(a->file);
    if (!std::memcmp(chunk, "BODY", 4)) {
      *bodyStart = at;
      *bodySize = size;
      break;
    }
    if (!std::memcmp(chunk, "BMHD", 4)) {
      uint8_t b[20];
      if (size < 11 || FileRead(a->file, b, std::min<uint64_t>(size, 20)) < 11) return false;
      a->width = int32_t(Be(b, 2));
      a->height = int32_t(Be(b + 2, 2));
      a->depth = b[8];
      a->masking = b[9];
      a->compression = b[10];
      haveBmhd = true;
    } else if (!std::memcmp(chunk, "CMAP", 4)) {
      if (!ReadColourMap(a, size)) return false;
      haveCmap = true;
    } else if (!std::memcmp(chunk, "CAMG", 4)) {
      uint8_t m[4];
      if (size < 4 || FileRead(a->file, m, 4) != 4) return false;
      const uint32_t modes = Be(m, 4);
      a->ehb = (modes & 0x80) != 0;
      ham = (modes & 0x800) != 0;
    } else if (!std::memcmp(chunk, "DPAN", 4)) {
      uint8_t d[4];
      if (size < 4 || FileRead(a->file, d, 4) != 4) return false;
      *dpanFrames = int32_t(Be(d + 2, 2));
    } else if (!std::memcmp(chunk, "ANHD", 4)) {
      uint8_t h[18];
      if (size < 18 || FileRead(a->file, h, 18) != 18) return false;
      a->delays[0] = Be(h + 14, 4);
    }
    if (at + Even(size) > a->file->size) return false;
    FileSeek(a->file, int64_t(at + Even(size)), FILE_SEEK_START);
  }
  if (!haveBmhd || a->depth < 1 || a->depth > 8) return false;
  // CAMG may follow CMAP: the halves are made once both are known.
  if (haveCmap) HalveBrite(a);
  a->ham8 = ham && a->depth > 6;
  a->ham6 = ham && a->depth <= 6;
  a->outputDepth = ham ? 24 : a->depth;
  return true;
}

bool IsFormAt(qmFileHandle *f, uint64_t pos) {
  uint8_t id[4];
  FileSeek(f, int64_t(pos), FILE_SEEK_START);
  return FileRead(f, id, 4) == 4 && !std::memcmp(id, "FORM", 4);
}

}  // namespace

qmIffAnim *IffAnimOpen(const char *fileName, int32_t *width, int32_t *height, int32_t *frames) {
  auto *a = static_cast<qmIffAnim *>(MemAlloc(sizeof(qmIffAnim), 1));
  if (!a) return nullptr;
  a->delayCapacity = kDelaySlots;
  a->delays = static_cast<uint32_t *>(MemAlloc(kDelaySlots * 4, 1));
  FileOpenRegular(fileName, &a->file);  // never a FIFO that would wait for a writer
  uint8_t head[24];
  uint64_t bodyStart = 0;
  uint32_t bodySize = 0;
  int32_t dpanFrames = -1;
  bool ok = a->delays && a->file && FileRead(a->file, head, 24) == 24 && !std::memcmp(head, "FORM", 4) &&
            !std::memcmp(head + 8, "ANIM", 4) && !std::memcmp(head + 12, "FORM", 4) &&
            !std::memcmp(head + 20, "ILBM", 4) && ReadFirstForm(a, &bodyStart, &bodySize, &dpanFrames) &&
            CheckImageSize(a->width, a->height, a->file->size) == 0 && PlanesBytes(a) <= UINT32_MAX;
  if (ok) {
    std::memcpy(a->firstPalette, a->palette, sizeof a->palette);
    const uint32_t bytes = uint32_t(PlanesBytes(a));
    a->firstPlanes = static_cast<uint8_t *>(MemAlloc(bytes, 1));
    a->deltaPlanes[0] = static_cast<uint8_t *>(MemAlloc(bytes, 0));
    a->deltaPlanes[1] = static_cast<uint8_t *>(MemAlloc(bytes, 0));
    a->indices = static_cast<uint8_t *>(MemAlloc(uint32_t(int64_t(a->width) * a->height), 0));
    ok = a->firstPlanes && a->deltaPlanes[0] && a->deltaPlanes[1] && a->indices;
  }
  if (ok) {
    FileSeek(a->file, int64_t(bodyStart), FILE_SEEK_START);
    ok = (a->compression == 1
              ? UnpackByteRun1(a->file, a->firstPlanes, bodySize, a->width, a->height, a->depth, a->masking)
              : ReadPlanarRows(a->file, a->firstPlanes, bodySize, a->width, a->height, a->depth, a->masking)) != 0;
  }
  if (ok) {
    // The second frame follows the first FORM; a FORM whose size is wrong is passed over by
    // taking the FORM that follows its BODY instead.
    a->secondFrame = 20 + Even(Be(head + 16, 4));
    if (a->secondFrame == a->file->size || !IsFormAt(a->file, a->secondFrame)) {
      a->secondFrame = bodyStart + Even(bodySize);
      ok = IsFormAt(a->file, a->secondFrame);
    }
  }
  if (ok) {
    // The delta FORMs present; a DPAN count may name fewer, never more.
    int32_t count = 1;
    uint64_t pos = a->secondFrame;
    while (ok && pos + 8 <= a->file->size) {
      uint8_t chunk[8];
      FileSeek(a->file, int64_t(pos), FILE_SEEK_START);
      if (FileRead(a->file, chunk, 8) != 8 || std::memcmp(chunk, "FORM", 4)) {
        ok = dpanFrames >= 0;  // without DPAN every chunk there must be a frame
        break;
      }
      count++;
      pos += 8 + Even(Be(chunk + 4, 4));
    }
    a->frameCount = dpanFrames >= 0 ? std::clamp(dpanFrames, 1, count) : count;
  }
  if (ok && a->frameCount > a->delayCapacity) {
    auto *delays = static_cast<uint32_t *>(MemAlloc(uint32_t(a->frameCount) * 4, 1));
    ok = delays != nullptr;
    if (ok) {
      delays[0] = a->delays[0];
      MemFree(a->delays);
      a->delays = delays;
      a->delayCapacity = a->frameCount;
    }
  }
  if (!ok) {
    IffAnimClose(a);
    return nullptr;
  }
  Rewind(a);
  *width = a->width;
  *height = a->height;
  *frames = a->frameCount;
  return a;
}

uint32_t *IffAnimLoadFrame(qmIffAnim *a, int32_t index) {
  if (!a || index < 0 || index >= a->frameCount) return nullptr;
  if (index < a->framesLoaded) Rewind(a);
  const uint8_t *planes = a->firstPlanes;
  if (index == 0) {
    std::memcpy(a->palette, a->firstPalette, sizeof a->palette);
  } else {
    // Deltas up to frame framesLoaded - 1 are applied already (none when nothing was loaded).
    for (int32_t frame = std::max(a->framesLoaded, 1); frame <= index; frame++) {
      uint8_t *target = nullptr;
      if (!DecodeDelta(a, frame, &target)) {
        Rewind(a);
        return nullptr;
      }
      planes = target;
    }
  }
  auto *pixels = static_cast<uint32_t *>(MemAlloc(uint32_t(int64_t(a->width) * a->height * 4), 0));
  if (pixels) {
    std::memset(a->indices, 0, size_t(int64_t(a->width) * a->height));
    PlanarToChunky(planes, a->width, a->height, a->depth, IlbmRowBytes(a->width), a->indices, a->width);
    if (a->ham6) DecodeHam(a->indices, pixels, a->palette, a->width, a->height, 6);
    else if (a->ham8) DecodeHam(a->indices, pixels, a->palette, a->width, a->height, 8);
    else ChunkyToArgb(a->indices, pixels, a->palette, a->width, a->height);
  }
  a->framesLoaded = index + 1;
  if (index == a->frameCount - 1) Rewind(a);  // ready to loop
  return pixels;
}

uint32_t IffAnimGetFrameDelay(const qmIffAnim *a, int32_t index) {
  if (!a || index < 0 || index >= a->frameCount) return 0;
  // A reltime is any 32-bit count of jiffies; beyond the longest delay a GIF can hold a
  // damaged header is the likelier story, and the anim is held up no longer than that.
  const double ms = double(a->delays[index]) * 1000.0 / 60.0;
  return ms < double(kIffAnimMaxDelayMs) ? uint32_t(ms) : kIffAnimMaxDelayMs;
}

void IffAnimClose(qmIffAnim *a) {
  if (!a) return;
  MemFree(a->delays);
  MemFree(a->indices);
  MemFree(a->firstPlanes);
  MemFree(a->deltaPlanes[0]);
  MemFree(a->deltaPlanes[1]);
  if (a->file) FileClose(a->file);
  MemFree(a);
}
