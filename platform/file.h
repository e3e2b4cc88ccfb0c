// One file handle for plain files and virtual files (see platform/vfile.h). Readers never need
// to know which kind they hold: reads stop at a window's end, seeks are clamped to it and
// positions count from its start.
#pragma once
#include <cstdint>
#include <cstdio>

enum : int32_t {
  FILE_MODE_READ = 0,       // "rb"
  FILE_MODE_WRITE = 1,      // "wb": created or truncated
  FILE_MODE_READWRITE = 2,  // "r+b": created empty first when missing
};

enum : int32_t {
  FILE_SEEK_CURRENT = 0,
  FILE_SEEK_START = 1,
  FILE_SEEK_END = 2,
};

// The size of a handle opened for writing: unbounded.
inline constexpr uint64_t kUnboundedSize = UINT64_MAX;

struct qmFileHandle {
  FILE *stream;               // nullptr for a memory window
  uint32_t isVirtual;         // 1 for both ":::chunk" forms
  uint64_t base;              // the window's offset in its container; 0 otherwise
  uint64_t size;              // window length, a read file's length at open, or kUnboundedSize
  uint64_t position;          // from the window's (or file's) start; never past size if virtual
  uint32_t writePending;      // the last access was a write: reposition before reading
  const uint8_t *memoryBase;  // first byte of a memory window
  int32_t memoryWindow;       // the registered window's reference; 0 otherwise
  char *lineBuffer;           // FileReadLine's line, malloc'd, grown as lines need; freed on close
  size_t lineCapacity;        // bytes at lineBuffer
};

// nullptr when the name is null, a virtual name is opened for writing or is malformed or
// unknown, or the file cannot be opened. "PROGDIR:" at the start stands for the executable's
// folder. No error code is set: callers report their own.
qmFileHandle *FileOpen(const char *name, int32_t mode);
// A plain stdio stream on the Latin-1 name in the file system's spelling (ToFileSystemPath),
// for writers that format their own text; nullptr when it cannot be opened.
FILE *OpenStdioFile(const char *name, const char *mode);
// Opens name for reading only when it is a regular file, so that a FIFO without a writer or a
// device can never block or feed the reader for ever. 0 and *out set; ERR_FILEEXIST when
// there is no such file; ERR_READFILE when it is no regular file or reading is denied; ERR_MEM.
// The caller sets the error argument.
uint32_t FileOpenRegular(const char *name, qmFileHandle **out);
// 1 when everything reached the file (or there was no stream); 0 when closing failed, for
// example because the disk is full. The handle is freed in both cases.
int FileClose(qmFileHandle *h);
// Returns the position before the seek. Targets are clamped to a virtual window at both ends;
// a plain file keeps its position when the system refuses the seek.
uint64_t FileSeek(qmFileHandle *h, int64_t offset, int32_t origin);
uint64_t FileRead(qmFileHandle *h, void *buffer, uint64_t n);
uint64_t FileReadBytes(qmFileHandle *h, void *buffer, uint64_t n);
// The next byte (0..255), or -1 at the end.
int FileGetc(qmFileHandle *h);
// Reads up to max bytes, stopping after the first line feed (which is kept): the count read,
// 0 at the end. *line points at the bytes in the handle's line buffer, which the caller may
// change and which stays valid until the next read or the close.
uint64_t FileReadLine(qmFileHandle *h, uint64_t max, char **line);
// The count written; short when the system refused part of it.
uint64_t FileWrite(qmFileHandle *h, const void *buffer, uint64_t n);
uint64_t FileWriteBytes(qmFileHandle *h, const void *buffer, uint64_t n);
// Copies up to n bytes from in's position to out's inside the system (copy_file_range), with
// no buffer in between, and moves both positions: the count copied, 0 at in's end. Short of
// n when the system stopped early; 0 also when it cannot copy between these two at all (a
// virtual source, another file system, a kernel without it), which callers tell from the end
// by in's position: they carry on with FileRead and FileWrite from where it stopped.
uint64_t FileCopyRange(qmFileHandle *in, qmFileHandle *out, uint64_t n);
// 1 when written, 0 on failure.
int FilePutc(qmFileHandle *h, int byte);
// 1 when the buffered data reached the file (or there is no stream), 0 when it failed.
int FileFlush(qmFileHandle *h);
// 1 when the position has reached the end: the window's or read file's size, and for handles
// open for writing the file's current length.
int FileEof(qmFileHandle *h);
// The plain file's length now, which another program may have changed since it was opened: 1
// and *size, or 0 when the handle keeps its own length (a memory or virtual file, writes still
// in the buffer, a stream that is no regular file).
int FileLengthNow(const qmFileHandle *h, uint64_t *size);
