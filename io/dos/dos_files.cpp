#include "io/dos/dos_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "platform/memory.h"
#include "platform/path.h"
#include "platform/fileops.h"
#include "platform/vfile.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/rttags.h"
#include "runtime/vnames.h"
#include "runtime/auxlib.h"
#include "runtime/vm/vm_api.h"

namespace {

constexpr int32_t kMessageOpeningFile = 286;

qmFileObject *AsFile(qmObjectHeader *h) { return reinterpret_cast<qmFileObject *>(h); }

// A named file that would block an open for writing (a FIFO without a reader, a socket).
bool WouldBlockWriting(const char *name) {
  if (IsChunkName(name)) return false;
  char buffer[kMaxPathLength + 1];
  char *converted = ToFileSystemPath(NormalizeSlashes(name, buffer));
  struct stat st;
  bool blocks = converted && stat(converted, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
  MemFree(converted);
  return blocks;
}

}  // namespace

qmDosState *GetDosState(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  return ctx ? ctx->dos : nullptr;
}

uint32_t FindFileObject(VmState *L, const qmObjectId *id, qmFileObject **out) {
  *out = FindFileObject(ObjectRegistryOf(L), id);
  return *out ? 0 : MissingObjectError(id, ERR_FINDFILE);
}

void RefreshFileSize(qmFileObject *f) {
  uint64_t now;
  if (FileLengthNow(f->file, &now)) f->size = now;
}

uint32_t CloseFileObject(VmState *L, qmFileObject *f) {
  RemoveObject(L, &f->header);
  int ok = FileClose(f->file);
  FreeObjectDataList(L, static_cast<qmObjectData *>(f->header.userData));
  MemFree(f);
  return ok ? 0 : uint32_t(ERR_WRITE);
}

uint32_t OpenFileForReading(const char *name, qmFileHandle **out) {
  SetErrorArgument(name);
  uint32_t code = FileOpenRegular(name, out);
  if (code == ERR_MEM) return code;
  return code ? uint32_t(ERR_READFILE) : 0;
}

uint32_t OpenFileObject(VmState *L, const qmObjectId *id, const char *name, int32_t mode, qmFileObject **out) {
  int32_t access;
  switch (mode) {
    case DOS_MODE_READ: access = FILE_MODE_READ; break;
    case DOS_MODE_WRITE: access = FILE_MODE_WRITE; break;
    case DOS_MODE_READWRITE: access = FILE_MODE_READWRITE; break;
    default: return ERR_WRONGUSAGE;
  }
  if (name[0] == 0) return ERR_WRONGUSAGE;
  if (!id->handle) {
    qmFileObject *old = AsFile(FindObject(L, QMTYPE_FILE, id));
    if (old) CloseFileObject(L, old);
  }
  PrintStatusMessage(GetErrorText(kMessageOpeningFile), name, 1);
  SetErrorArgument(name);
  qmFileHandle *h = nullptr;
  if (access == FILE_MODE_READ) {
    if (uint32_t code = OpenFileForReading(name, &h)) return code;
  } else {
    if (WouldBlockWriting(name) || (h = FileOpen(name, access)) == nullptr) return ERR_WRITEFILE;
  }
  FileSeek(h, 0, FILE_SEEK_END);
  uint64_t size = FileSeek(h, 0, FILE_SEEK_START);
  auto *f = static_cast<qmFileObject *>(MemAlloc(sizeof(qmFileObject), 1));
  if (f == nullptr) {
    FileClose(h);
    return ERR_MEM;
  }
  SetObjectHeader(&f->header, QMTYPE_FILE, id);
  f->openMode = mode;
  f->access = access;
  f->size = size;
  f->file = h;
  if (uint32_t code = AddObject(L, &f->header)) {
    FileClose(h);
    MemFree(f);
    return code;
  }
  PrintDoneMessage();
  *out = f;
  return 0;
}

void CloseDirectoryObject(VmState *L, qmDirectoryObject *d) {
  RemoveObject(L, &d->header);
  UnlockVirtualPath(d->lock);
  FreeObjectDataList(L, static_cast<qmObjectData *>(d->header.userData));
  MemFree(d);
}

bool ReadTextLine(qmFileHandle *h, uint64_t max, const char **line, uint64_t *length) {
  char *bytes = nullptr;
  uint64_t got = FileReadLine(h, max, &bytes);
  *line = bytes;
  *length = 0;
  if (got == 0) return false;
  uint64_t n = bytes[got - 1] == '\n' ? got - 1 : got;
  // Carriage returns are rare: the line is only compacted from the first one on.
  char *cr = static_cast<char *>(std::memchr(bytes, '\r', n));
  if (cr) n = uint64_t(std::remove(cr, bytes + n, '\r') - bytes);
  *length = n;
  return true;
}

void ReadLineFromObject(qmFileObject *f, const char **line, uint64_t *length) {
  uint64_t before = f->file->position;
  // A file that shrank under us ends the line where its data does.
  ReadTextLine(f->file, f->size - f->position, line, length);
  f->position += f->file->position - before;
}

void FreeDosObjects(VmState *L) {
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_FILE)) CloseFileObject(L, AsFile(h));
  if (qmDosState *dos = GetDosState(L)) {
    for (const qmDosTempFile &t : dos->tempFiles) RemoveFile(t.path.c_str());
    dos->tempFiles.clear();
    for (auto &[window, ref] : dos->stringFiles) {
      UnregisterMemoryWindow(window);
      vm_unref(L, VM_REGISTRYINDEX, ref);
    }
    dos->stringFiles.clear();
  }
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_DIRECTORY))
    CloseDirectoryObject(L, reinterpret_cast<qmDirectoryObject *>(h));
}
