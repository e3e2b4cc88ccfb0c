#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/memory.h"
#include "platform/path.h"
#include "platform/vfile.h"
#include "runtime/errcodes.h"

namespace {

const char *ModeString(int32_t mode) {
  switch (mode) {
    case FILE_MODE_READ: return "rb";
    case FILE_MODE_WRITE: return "wb";
    case FILE_MODE_READWRITE: return "r+b";
    default: return nullptr;
  }
}

// "PROGDIR:rest" becomes the executable's folder joined with rest.
std::string ExpandProgDir(const char *name) {
  if (std::strncmp(name, "PROGDIR:", 8) != 0) return name;
  char exe[kMaxPathLength + 1];
  GetExecutablePath(exe);
  std::string folder(exe);
  size_t slash = folder.find_last_of('/');
  folder.resize(slash == std::string::npos ? 0 : slash);
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  return folder + (name + 8);
}

qmFileHandle *OpenChunk(const char *name, int32_t mode) {
  qmChunkName chunk;
  if (mode != FILE_MODE_READ || !ParseChunkName(name, &chunk)) return nullptr;
  auto *h = static_cast<qmFileHandle *>(MemAlloc(sizeof(qmFileHandle), 1));
  if (!h) return nullptr;
  h->isVirtual = 1;
  h->size = chunk.length;
  if (chunk.memory) {
    h->memoryBase = AcquireMemoryWindow(chunk.reference, chunk.length);
    if (!h->memoryBase) {
      MemFree(h);
      return nullptr;
    }
    h->memoryWindow = static_cast<int32_t>(chunk.reference);
    return h;
  }
  h->base = chunk.offset;
  h->stream = OpenStdioFile(chunk.container, "rb");
  if (!h->stream) {
    MemFree(h);
    return nullptr;
  }
  // A window reaching past its container's end is cut at the end, so that its size tells the
  // truth to readers that check FileEof.
  struct stat st;
  if (fstat(fileno(h->stream), &st) == 0 && S_ISREG(st.st_mode)) {
    uint64_t available = static_cast<uint64_t>(st.st_size) > h->base ? st.st_size - h->base : 0;
    h->size = std::min(h->size, available);
  }
  if (fseeko(h->stream, static_cast<off_t>(h->base), SEEK_SET) != 0) {
    std::fclose(h->stream);
    MemFree(h);
    return nullptr;
  }
  return h;
}

// The handle of an open stream; a read handle knows the file's length.
qmFileHandle *NewHandle(FILE *stream, int32_t mode) {
  auto *h = static_cast<qmFileHandle *>(MemAlloc(sizeof(qmFileHandle), 1));
  if (!h) {
    std::fclose(stream);
    return nullptr;
  }
  h->stream = stream;
  h->size = kUnboundedSize;
  if (mode == FILE_MODE_READ) {
    if (fseeko(stream, 0, SEEK_END) == 0) {
      off_t end = ftello(stream);
      h->size = end > 0 ? static_cast<uint64_t>(end) : 0;
    }
    fseeko(stream, 0, SEEK_SET);
  }
  return h;
}

}  // namespace

FILE *OpenStdioFile(const char *name, const char *mode) {
  char *converted = ToFileSystemPath(name);
  FILE *f = std::fopen(converted ? converted : name, mode);
  MemFree(converted);
  return f;
}

qmFileHandle *FileOpen(const char *name, int32_t mode) {
  const char *modeString = ModeString(mode);
  if (!name || !modeString) return nullptr;
  std::string expanded = ExpandProgDir(name);
  if (IsChunkName(expanded.c_str())) return OpenChunk(expanded.c_str(), mode);

  char buffer[kMaxPathLength + 1];
  const char *path = NormalizeSlashes(expanded.c_str(), buffer);
  FILE *stream = OpenStdioFile(path, modeString);
  if (!stream && mode == FILE_MODE_READWRITE && errno == ENOENT) {
    FILE *created = OpenStdioFile(path, "wb");
    if (created && std::fclose(created) == 0) stream = OpenStdioFile(path, modeString);
  }
  if (!stream) return nullptr;
  return NewHandle(stream, mode);
}

uint32_t FileOpenRegular(const char *name, qmFileHandle **out) {
  *out = nullptr;
  std::string expanded = ExpandProgDir(name);
  if (IsChunkName(expanded.c_str())) {
    *out = OpenChunk(expanded.c_str(), FILE_MODE_READ);
    return *out ? 0u : static_cast<uint32_t>(ERR_FILEEXIST);
  }
  char buffer[kMaxPathLength + 1];
  const char *path = NormalizeSlashes(expanded.c_str(), buffer);
  char *converted = ToFileSystemPath(path);
  const char *systemName = converted ? converted : path;
  // The stat refuses FIFOs and devices unopened; the open does not block either, because a FIFO
  // may have taken the file's place since, and the fstat after it has the last word.
  struct stat st;
  int fd = -1;
  uint32_t code = 0;
  if (stat(systemName, &st) != 0) code = errno == ENOENT || errno == ENOTDIR ? ERR_FILEEXIST : ERR_READFILE;
  else if (!S_ISREG(st.st_mode)) code = ERR_READFILE;
  else if ((fd = open(systemName, O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0) code = ERR_READFILE;
  MemFree(converted);
  if (code) return code;
  FILE *stream = nullptr;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
    stream = fdopen(fd, "rb");
  if (stream == nullptr) {
    close(fd);
    return ERR_READFILE;
  }
  *out = NewHandle(stream, FILE_MODE_READ);
  return *out ? 0u : static_cast<uint32_t>(ERR_MEM);
}

int FileClose(qmFileHandle *h) {
  if (!h) return 0;
  int ok = 1;
  if (h->stream) {
    // A failed write (full disk) may have dropped its buffer already; the error flag keeps it.
    if (std::ferror(h->stream)) ok = 0;
    if (std::fclose(h->stream) != 0) ok = 0;
  }
  if (h->memoryWindow) ReleaseMemoryWindow(h->memoryWindow);
  std::free(h->lineBuffer);
  MemFree(h);
  return ok;
}

uint64_t FileSeek(qmFileHandle *h, int64_t offset, int32_t origin) {
  uint64_t before = h->position;
  h->writePending = 0;
  if (origin == FILE_SEEK_END && h->size == kUnboundedSize) {
    if (h->stream && fseeko(h->stream, static_cast<off_t>(offset), SEEK_END) == 0) {
      off_t now = ftello(h->stream);
      if (now >= 0) h->position = static_cast<uint64_t>(now);
    }
    return before;
  }
  // Work in signed 128 bits so that no offset can wrap around the window's arithmetic.
  __int128 target = offset;
  if (origin == FILE_SEEK_CURRENT) target += h->position;
  else if (origin == FILE_SEEK_END) target += h->size;
  else if (origin != FILE_SEEK_START) return before;
  if (h->isVirtual) target = std::clamp<__int128>(target, 0, h->size);
  if (target < 0 || target > INT64_MAX - static_cast<__int128>(h->base)) return before;
  if (h->stream && fseeko(h->stream, static_cast<off_t>(target + h->base), SEEK_SET) != 0)
    return before;
  h->position = static_cast<uint64_t>(target);
  return before;
}

uint64_t FileRead(qmFileHandle *h, void *buffer, uint64_t n) {
  if (h->writePending) {
    if (h->stream) fseeko(h->stream, 0, SEEK_CUR);
    h->writePending = 0;
  }
  if (h->isVirtual) n = std::min(n, h->size - h->position);
  uint64_t count = 0;
  if (h->memoryBase) {
    std::memcpy(buffer, h->memoryBase + h->position, n);
    count = n;
  } else if (h->stream) {
    count = std::fread(buffer, 1, n, h->stream);
  }
  h->position += count;
  return count;
}

uint64_t FileReadBytes(qmFileHandle *h, void *buffer, uint64_t n) { return FileRead(h, buffer, n); }

int FileGetc(qmFileHandle *h) {
  unsigned char byte;
  return FileRead(h, &byte, 1) == 1 ? byte : -1;
}

namespace {

// Room for at least need bytes in the handle's line buffer; false when memory is short.
bool ReserveLine(qmFileHandle *h, size_t need) {
  if (need <= h->lineCapacity) return true;
  size_t capacity = std::max<size_t>(need, std::max<size_t>(h->lineCapacity * 2, 128));
  auto *grown = static_cast<char *>(std::realloc(h->lineBuffer, capacity));
  if (!grown) return false;
  h->lineBuffer = grown;
  h->lineCapacity = capacity;
  return true;
}

}  // namespace

uint64_t FileReadLine(qmFileHandle *h, uint64_t max, char **line) {
  if (h->isVirtual) max = std::min(max, h->size - h->position);
  uint64_t count = 0;
  if (max == 0) {
  } else if (h->memoryBase) {
    const uint8_t *from = h->memoryBase + h->position;
    const void *lf = std::memchr(from, '\n', max);
    count = lf ? uint64_t(static_cast<const uint8_t *>(lf) - from) + 1 : max;
    if (!ReserveLine(h, size_t(count))) return 0;
    std::memcpy(h->lineBuffer, from, count);
  } else if (h->stream) {
    if (h->writePending) {
      fseeko(h->stream, 0, SEEK_CUR);
      h->writePending = 0;
    }
    if (!h->isVirtual) {
      // The line straight from stdio's buffer; what passed max is given back to the stream.
      ssize_t got = getdelim(&h->lineBuffer, &h->lineCapacity, '\n', h->stream);
      count = got > 0 ? uint64_t(got) : 0;
      if (count > max) {
        fseeko(h->stream, -static_cast<off_t>(count - max), SEEK_CUR);
        count = max;
      }
    } else {
      // A window of a container stops at its end, so the container's next bytes stay unread.
      flockfile(h->stream);
      for (int c; count < max && (c = getc_unlocked(h->stream)) != EOF;) {
        if (!ReserveLine(h, size_t(count) + 1)) break;
        h->lineBuffer[count++] = static_cast<char>(c);
        if (c == '\n') break;
      }
      funlockfile(h->stream);
    }
  }
  h->position += count;
  *line = h->lineBuffer;
  return count;
}

uint64_t FileWrite(qmFileHandle *h, const void *buffer, uint64_t n) {
  if (!h->stream || h->isVirtual) return 0;
  if (!h->writePending) {
    fseeko(h->stream, 0, SEEK_CUR);
    h->writePending = 1;
  }
  uint64_t count = std::fwrite(buffer, 1, n, h->stream);
  h->position += count;
  return count;
}

uint64_t FileWriteBytes(qmFileHandle *h, const void *buffer, uint64_t n) {
  return FileWrite(h, buffer, n);
}

uint64_t FileCopyRange(qmFileHandle *in, qmFileHandle *out, uint64_t n) {
  if (in->isVirtual || out->isVirtual || !in->stream || !out->stream || !FileFlush(out)) return 0;
  // Explicit offsets leave both descriptors alone; the streams are set to the new positions
  // at the end, so that stdio's idea of them stays true.
  off_t inAt = static_cast<off_t>(in->position), outAt = static_cast<off_t>(out->position);
  uint64_t copied = 0;
  while (copied < n) {
    size_t step = static_cast<size_t>(std::min<uint64_t>(n - copied, uint64_t(1) << 30));
    ssize_t got = copy_file_range(fileno(in->stream), &inAt, fileno(out->stream), &outAt, step, 0);
    if (got <= 0) break;
    copied += static_cast<uint64_t>(got);
  }
  if (copied) {
    in->position += copied;
    out->position += copied;
    fseeko(in->stream, inAt, SEEK_SET);
    fseeko(out->stream, outAt, SEEK_SET);
    out->writePending = 0;
  }
  return copied;
}

int FilePutc(qmFileHandle *h, int byte) {
  unsigned char c = static_cast<unsigned char>(byte);
  return FileWrite(h, &c, 1) == 1 ? 1 : 0;
}

int FileFlush(qmFileHandle *h) {
  if (!h->stream) return 1;
  return std::fflush(h->stream) == 0 ? 1 : 0;
}

int FileEof(qmFileHandle *h) {
  if (h->size == kUnboundedSize) {
    struct stat st;
    if (!h->stream || (h->writePending && std::fflush(h->stream) != 0) ||
        fstat(fileno(h->stream), &st) != 0)
      return 1;
    return h->position >= static_cast<uint64_t>(st.st_size) ? 1 : 0;
  }
  return h->position >= h->size ? 1 : 0;
}

int FileLengthNow(const qmFileHandle *h, uint64_t *size) {
  struct stat st;
  if (!h->stream || h->isVirtual || h->memoryBase || h->writePending || fstat(fileno(h->stream), &st) != 0 ||
      !S_ISREG(st.st_mode))
    return 0;
  *size = static_cast<uint64_t>(st.st_size);
  return 1;
}
