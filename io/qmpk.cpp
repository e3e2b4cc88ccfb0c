#include "io/qmpk.h"

#include <zlib.h>

#include "platform/file.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"

namespace {

constexpr uint32_t kBlockSize = 16384;

uint32_t MapZlibError(int z) {
  switch (z) {
    case Z_VERSION_ERROR: return ERR_ZLIBVERSION;
    case Z_MEM_ERROR: return ERR_MEM;
    case Z_DATA_ERROR: return ERR_ZLIBDATA;
    case Z_STREAM_ERROR: return ERR_ZLIBSTREAM;
    case Z_ERRNO: return ERR_ZLIBIO;
    default: return ERR_UNKNOWN;
  }
}

// Both buffers and files of one run, released together on every way out.
struct PackJob {
  uint8_t *in = nullptr;
  uint8_t *out = nullptr;
  qmFileHandle *source = nullptr;
  qmFileHandle *target = nullptr;

  ~PackJob() {
    if (source) FileClose(source);
    if (target) FileClose(target);
    MemFree(in);
    MemFree(out);
  }
  bool AllocBuffers() {
    in = static_cast<uint8_t *>(MemAlloc(kBlockSize, 0));
    out = static_cast<uint8_t *>(MemAlloc(kBlockSize, 0));
    return in && out;
  }
};

void PutMagic(uint8_t *header, uint32_t magic) {
  header[0] = uint8_t(magic >> 24);
  header[1] = uint8_t(magic >> 16);
  header[2] = uint8_t(magic >> 8);
  header[3] = uint8_t(magic);
  for (int i = 4; i < 8; i++) header[i] = 0;
}

}  // namespace

uint32_t PackQMPK(uint32_t magic, const char *source, const char *target, uint64_t *outSize,
                  const qmCancel &cancel) {
  if (outSize) *outSize = 0;
  PackJob job;
  if (!job.AllocBuffers()) return ERR_MEM;
  SetErrorArgument(source);
  job.source = FileOpen(source, FILE_MODE_READ);
  if (job.source == nullptr) return ERR_READFILE;
  SetErrorArgument(target);
  job.target = FileOpen(target, FILE_MODE_WRITE);
  if (job.target == nullptr) return ERR_WRITEFILE;

  uint8_t header[8];
  PutMagic(header, magic);
  if (FileWriteBytes(job.target, header, sizeof header) != sizeof header) return ERR_WRITE;

  z_stream zs{};
  int z = deflateInit(&zs, Z_DEFAULT_COMPRESSION);
  if (z != Z_OK) return MapZlibError(z);
  uint32_t code = 0;
  bool finished = false;
  while (!finished && code == 0) {
    if ((code = PollCancel(cancel))) break;
    uint64_t got = FileReadBytes(job.source, job.in, kBlockSize);
    bool atEnd = FileEof(job.source) != 0;
    if (got < kBlockSize && !atEnd) {
      code = ERR_READ;
      break;
    }
    int flush = atEnd ? Z_FINISH : Z_NO_FLUSH;
    zs.next_in = job.in;
    zs.avail_in = uInt(got);
    do {
      zs.next_out = job.out;
      zs.avail_out = kBlockSize;
      z = deflate(&zs, flush);
      if (z == Z_STREAM_ERROR) {
        code = ERR_ZLIBSTREAM;
        break;
      }
      uint64_t produced = kBlockSize - zs.avail_out;
      if (FileWriteBytes(job.target, job.out, produced) != produced) {
        code = ERR_WRITE;
        break;
      }
    } while (zs.avail_out == 0);
    finished = flush == Z_FINISH;
  }
  deflateEnd(&zs);
  if (code) return code;
  if (outSize) *outSize = job.target->position;
  qmFileHandle *t = job.target;
  job.target = nullptr;
  return FileClose(t) ? 0 : uint32_t(ERR_WRITE);
}

uint32_t UnpackQMPK(uint32_t magic, const char *source, const char *target, uint64_t offset, uint64_t *outSize,
                    uint64_t limit, const qmCancel &cancel) {
  if (outSize) *outSize = 0;
  PackJob job;
  if (!job.AllocBuffers()) return ERR_MEM;
  SetErrorArgument(source);
  if (FileOpenRegular(source, &job.source)) return ERR_READFILE;
  if (offset > job.source->size) return ERR_PAKFORMAT;
  FileSeek(job.source, int64_t(offset), FILE_SEEK_START);

  uint8_t header[8];
  if (FileReadBytes(job.source, header, 4) != 4) return ERR_PAKFORMAT;
  uint32_t found = uint32_t(header[0]) << 24 | uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
  if (found != magic) return ERR_PAKFORMAT;
  // The reserved bytes are not read: a container cut inside them simply has no stream.
  FileSeek(job.source, 4, FILE_SEEK_CURRENT);

  SetErrorArgument(target);
  job.target = FileOpen(target, FILE_MODE_WRITE);
  if (job.target == nullptr) return ERR_WRITEFILE;

  z_stream zs{};
  int z = inflateInit(&zs);
  if (z != Z_OK) return MapZlibError(z);
  uint32_t code = 0;
  int last = Z_OK;
  while (code == 0 && last != Z_STREAM_END) {
    uint64_t got = FileReadBytes(job.source, job.in, kBlockSize);
    if (got < kBlockSize && !FileEof(job.source)) {
      code = ERR_READ;
      break;
    }
    if (got == 0) {
      code = ERR_ZLIBDATA;  // the input ended before the stream did
      break;
    }
    zs.next_in = job.in;
    zs.avail_in = uInt(got);
    do {
      if ((code = PollCancel(cancel))) break;  // a small input may inflate for a long time
      zs.next_out = job.out;
      zs.avail_out = kBlockSize;
      last = inflate(&zs, Z_NO_FLUSH);
      if (last == Z_MEM_ERROR) code = ERR_MEM;
      else if (last == Z_DATA_ERROR || last == Z_NEED_DICT) code = ERR_ZLIBDATA;
      if (code) break;
      uint64_t produced = kBlockSize - zs.avail_out;
      if (produced > limit - job.target->position) {
        code = ERR_PAKFORMAT;
        break;
      }
      if (FileWriteBytes(job.target, job.out, produced) != produced) {
        code = ERR_WRITE;
        break;
      }
    } while (zs.avail_out == 0 && last != Z_STREAM_END);
  }
  inflateEnd(&zs);
  if (code) return code;
  if (outSize) *outSize = job.target->position;
  qmFileHandle *t = job.target;
  job.target = nullptr;
  return FileClose(t) ? 0 : uint32_t(ERR_WRITE);
}
