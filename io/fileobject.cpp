#include "io/fileobject.h"

#include <cstring>
#include <utility>

#include "runtime/errcodes.h"
#include "runtime/objlist.h"

namespace {

// Scripts see every number big-endian; the host is little-endian.
void SwapToHost(uint8_t *p, uint64_t count) {
  if (count == 2 || count == 4 || count == 8)
    for (uint64_t i = 0; i < count / 2; i++) std::swap(p[i], p[count - 1 - i]);
}

}  // namespace

qmFileObject *FindFileObject(const qmObjectRegistry *objects, const qmObjectId *id) {
  return reinterpret_cast<qmFileObject *>(FindObject(objects, QMTYPE_FILE, id));
}

uint32_t ReadFileObject(qmFileObject *f, qmFileHandle *h, void *buffer, int raw, uint64_t count) {
  if (f && (f->position > f->size || count > f->size - f->position)) return ERR_READRANGE;
  uint8_t scratch[8] = {};
  uint8_t *to = raw || count > sizeof scratch ? static_cast<uint8_t *>(buffer) : scratch;
  uint64_t got = FileRead(h, to, count);
  if (f) f->position += got;
  if (got < count) return ERR_READ;
  if (!raw && count <= sizeof scratch) {
    SwapToHost(scratch, count);
    std::memcpy(buffer, scratch, count);
  }
  return 0;
}

uint32_t WriteFileObject(qmFileObject *f, qmFileHandle *h, const void *data, int raw, uint64_t count) {
  if (count == 0) return 0;
  uint8_t scratch[8];
  const void *from = data;
  if (!raw && (count == 2 || count == 4 || count == 8)) {
    std::memcpy(scratch, data, count);
    SwapToHost(scratch, count);
    from = scratch;
  }
  uint64_t put = FileWrite(h, from, count);
  if (f) {
    f->position += put;
    if (f->position > f->size) f->size = f->position;
  }
  return put < count ? uint32_t(ERR_WRITE) : 0;
}
