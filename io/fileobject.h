// A file object of the run (OpenFile's) and the two primitives every read and write of one goes
// through. Other libraries (memory blocks, samples) read and write through the same file objects
// and keep their position and size in step.
#pragma once
#include <cstdint>

#include "platform/file.h"
#include "runtime/objectid.h"

struct qmObjectRegistry;

// The mode numbers OpenFile takes (MODE_ constants).
enum : int32_t {
  DOS_MODE_READWRITE = 1004,
  DOS_MODE_READ = 1005,
  DOS_MODE_WRITE = 1006,
};

struct qmFileObject {
  qmObjectHeader header;  // QMTYPE_FILE
  int32_t openMode;       // DOS_MODE_*
  int32_t access;         // FILE_MODE_READ, _WRITE or _READWRITE
  uint64_t position;      // the library's own position; reads never pass size
  uint64_t size;          // the length at opening, raised by every write that ends beyond it
  qmFileHandle *file;
};

// The run's open file of that id, or null.
qmFileObject *FindFileObject(const qmObjectRegistry *objects, const qmObjectId *id);

// The read primitive: count bytes into buffer. With a file object a read beyond its size is
// ERR_READRANGE before anything is read; the position grows by what was read and a short
// read is ERR_READ. Without raw, a 2-, 4- or 8-byte value arrives big-endian and is stored in
// host order.
uint32_t ReadFileObject(qmFileObject *f, qmFileHandle *h, void *buffer, int raw, uint64_t count);
// The write primitive, its twin: without raw a 2-, 4- or 8-byte host value goes out
// big-endian. Position and size move by what was written; a short write is ERR_WRITE.
uint32_t WriteFileObject(qmFileObject *f, qmFileHandle *h, const void *data, int raw, uint64_t count);
