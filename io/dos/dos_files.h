// The dos library's open files and directory listings as objects of the run, and its per-run
// state; the file object record and its read and write primitives are io/fileobject.h's.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "io/fileobject.h"
#include "platform/file.h"
#include "runtime/cmdargs.h"
#include "runtime/registry.h"

struct VmState;
struct qmVirtualLock;

enum : uint32_t { IO_BUFFERED = 0, IO_UNBUFFERED = 1 };

struct qmDirectoryObject {
  qmObjectHeader header;  // QMTYPE_DIRECTORY
  uint32_t done;          // the listing has reported its end
  qmVirtualLock *lock;
};

// A file the library made that goes at shut-down, and the virtual file it holds a copy of
// (empty for GetTempFileName).
struct qmDosTempFile {
  std::string path;
  std::string virtualName;
};

struct qmDosState {
  uint32_t ioMode = IO_BUFFERED;
  std::vector<qmDosTempFile> tempFiles;
  // Strings defined as virtual files: memory-window reference -> registry reference of the
  // string that keeps the window's bytes alive.
  std::map<int32_t, int> stringFiles;
};

// The run's dos state; null before the library's init and after its free.
qmDosState *GetDosState(VmState *L);

// 0 and *out, or ERR_FINDARRAY / ERR_FINDFILE (the number as error argument).
uint32_t FindFileObject(VmState *L, const qmObjectId *id, qmFileObject **out);

// Takes the file's length from the file system, where another program may have cut or grown
// it since it was opened; a memory or virtual file, or one with buffered writes, keeps its own.
void RefreshFileSize(qmFileObject *f);

// Closes the platform file, frees the user data and the record: 0, or ERR_WRITE when data
// still buffered could not be written.
uint32_t CloseFileObject(VmState *L, qmFileObject *f);
// Opens name in a DOS_MODE_* mode for the id (an open explicit id is closed first): 0 and
// *out, or ERR_WRONGUSAGE, ERR_READFILE, ERR_WRITEFILE (the name as error argument), ERR_MEM.
uint32_t OpenFileObject(VmState *L, const qmObjectId *id, const char *name, int32_t mode, qmFileObject **out);

// A file handle for reading by name that never blocks: regular files and virtual names only.
// 0, or ERR_READFILE with the name as error argument.
uint32_t OpenFileForReading(const char *name, qmFileHandle **out);

void CloseDirectoryObject(VmState *L, qmDirectoryObject *d);

// Reads one line from a handle: bytes up to a line feed (consumed, not stored) or max bytes,
// carriage returns dropped. *line points into the handle's line buffer (valid until its next
// read) and *length is the line's; 0 bytes consumed means the end: false.
bool ReadTextLine(qmFileHandle *h, uint64_t max, const char **line, uint64_t *length);

// Reads one line for ReadLine up to the object's size, as ReadTextLine. The caller has checked
// access and that a byte is left.
void ReadLineFromObject(qmFileObject *f, const char **line, uint64_t *length);

// Shut-down: every file closed, every temporary file deleted, every listing ended and every
// string file released.
void FreeDosObjects(VmState *L);
