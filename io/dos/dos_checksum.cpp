#include "io/dos/dos_checksum.h"

#include <memory>

#include "io/crc32.h"
#include "io/dos/dos_files.h"
#include "io/md5.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

constexpr uint64_t kChecksumBlock = 65536;
constexpr uint64_t kPatchBlock = 65536;

struct Buffer {
  uint8_t *p;
  explicit Buffer(uint64_t n) : p(static_cast<uint8_t *>(MemAlloc(n, 0))) {}
  ~Buffer() { MemFree(p); }
};

// Feeds every block of the file to step.
template <class Step>
uint32_t ForEachBlock(const char *name, const qmCancel &cancel, Step step) {
  Buffer buffer(kChecksumBlock);
  if (!buffer.p) return ERR_MEM;
  qmFileHandle *h = nullptr;
  if (uint32_t code = OpenFileForReading(name, &h)) return code;
  uint64_t total = 0;
  for (uint64_t got; (got = FileRead(h, buffer.p, kChecksumBlock)) > 0;) {
    step(buffer.p, got);
    total += got;
    if (uint32_t code = PollCancel(cancel)) {
      FileClose(h);
      return code;
    }
  }
  // A read that stopped before the file's end is an error, not a checksum of part of it.
  bool complete = total >= h->size;
  FileClose(h);
  return complete ? 0 : uint32_t(ERR_READ);
}

}  // namespace

uint32_t MD5OfFile(const char *name, const qmCancel &cancel, char hex[33]) {
  qmMD5Context ctx;
  MD5Init(&ctx);
  uint32_t code = ForEachBlock(name, cancel, [&](const uint8_t *p, uint64_t n) { MD5Digest(&ctx, p, n); });
  if (code) return code;
  uint8_t digest[16];
  MD5Final(&ctx, digest);
  MD5ToHex(digest, hex);
  return 0;
}

uint32_t CRC32OfFile(const char *name, const qmCancel &cancel, uint32_t *crc) {
  uint32_t c = 0xFFFFFFFFu;
  uint32_t code = ForEachBlock(name, cancel, [&](const uint8_t *p, uint64_t n) { c = UpdateCRC32(c, p, n); });
  if (code) return code;
  *crc = ~c;
  return 0;
}

uint32_t ApplyPatchFiles(qmFileObject *in1, qmFileObject *in2, qmFileObject *out, const qmPatchProgress *progress) {
  uint64_t n = in1->position < in1->size ? in1->size - in1->position : 0;
  if (n == 0) return 0;
  Buffer a(kPatchBlock), b(kPatchBlock);
  if (!a.p || !b.p) return ERR_MEM;
  int32_t reported = 0;
  uint64_t done = 0;
  while (done < n) {
    // A block never runs past the next whole percent, so that each report follows exactly
    // the byte that completed it.
    uint64_t nextPercent = uint64_t(reported) + 1;
    uint64_t boundary = (nextPercent * n + 99) / 100;  // first count with floor(100 * count / n) >= next
    uint64_t len = n - done;
    if (len > kPatchBlock) len = kPatchBlock;
    if (progress->report && boundary > done && boundary - done < len) len = boundary - done;
    if (uint32_t code = ReadFileObject(in1, in1->file, a.p, 1, len)) return code;
    uint64_t fromSecond = 0;
    if (in2->position < in2->size) {
      fromSecond = in2->size - in2->position;
      if (fromSecond > len) fromSecond = len;
      if (uint32_t code = ReadFileObject(in2, in2->file, b.p, 1, fromSecond)) return code;
    }
    for (uint64_t i = 0; i < len; i++) a.p[i] ^= i < fromSecond ? b.p[i] : 0xFF;
    if (uint32_t code = WriteFileObject(out, out->file, a.p, 1, len)) return code;
    done += len;
    int32_t percent = int32_t(done * 100 / n);
    if (percent != reported) {
      reported = percent;
      if (progress->report)
        if (uint32_t code = progress->report(progress->ud, percent)) return code;
    }
    if (progress->service)
      if (uint32_t code = progress->service(progress->ud)) return code;
  }
  return 0;
}
