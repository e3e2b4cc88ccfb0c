#include "platform/dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/env.h"
#include "platform/errorarg.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "platform/systemtext.h"
#include "runtime/errcodes.h"

namespace {

struct ModeBit {
  uint32_t attr;
  uint32_t mode;
};
constexpr ModeBit kModeBits[] = {
    {FILEATTR_READ_USR, 0400},    {FILEATTR_WRITE_USR, 0200}, {FILEATTR_EXECUTE_USR, 0100},
    {FILEATTR_READ_GRP, 040},     {FILEATTR_WRITE_GRP, 020},  {FILEATTR_EXECUTE_GRP, 010},
    {FILEATTR_READ_OTH, 04},      {FILEATTR_WRITE_OTH, 02},   {FILEATTR_EXECUTE_OTH, 01},
};

uint32_t ClampTime(time_t t) { return t < 0 ? 0 : t > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(t); }

}  // namespace

uint32_t ProtectionFromMode(uint32_t mode) {
  uint32_t bits = 0;
  for (const auto &b : kModeBits)
    if (mode & b.mode) bits |= b.attr;
  return bits;
}

uint32_t ModeFromProtection(uint32_t bits) {
  if (bits & FILEATTR_NORMAL) return 0644;
  uint32_t mode = 0;
  for (const auto &b : kModeBits)
    if (bits & b.attr) mode |= b.mode;
  return mode;
}

void FileInfoFromStat(const struct stat *st, qmFileInfo *info) {
  info->isDirectory = S_ISDIR(st->st_mode) ? 1 : 0;
  info->size = st->st_size > 0 ? static_cast<uint64_t>(st->st_size) : 0;
  info->protection = ProtectionFromMode(st->st_mode);
  info->accessTime = ClampTime(st->st_atime);
  info->modifyTime = ClampTime(st->st_mtime);
  info->changeTime = ClampTime(st->st_ctime);
}

qmLock *LockPath(const char *path, int32_t mode) {
  if (mode == QMOS_LOCK_WRITE) {
    DebugPrintf("QMOS_LOCK_WRITE unsupported.\n");
    return nullptr;
  }
  if (!path) return nullptr;
  char buffer[kMaxPathLength + 1];
  const char *normal = NormalizeSlashes(*path ? path : ".", buffer);
  char *converted = ToFileSystemPath(normal);
  char *absolute = realpath(converted ? converted : normal, nullptr);
  MemFree(converted);
  if (!absolute) return nullptr;

  qmLock *lock = nullptr;
  struct stat st;
  size_t length = std::strlen(absolute);
  if (stat(absolute, &st) == 0 && (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) &&
      (lock = static_cast<qmLock *>(MemAlloc(sizeof(qmLock), 1)))) {
    lock->fd = -1;
    lock->pathLength = length;
    lock->path = static_cast<char *>(MemAlloc(static_cast<uint32_t>(length + 1), 0));
    lock->entryPath = static_cast<char *>(MemAlloc(static_cast<uint32_t>(length + 258), 0));
    bool opened = false;
    if (lock->path && lock->entryPath) {
      std::memcpy(lock->path, absolute, length + 1);
      if (S_ISDIR(st.st_mode)) opened = (lock->dir = opendir(absolute)) != nullptr;
      else opened = (lock->fd = open(absolute, O_RDONLY | O_CLOEXEC)) >= 0;
    }
    if (!opened) {
      UnlockPath(lock);
      lock = nullptr;
    }
  }
  std::free(absolute);
  return lock;
}

void UnlockPath(qmLock *lock) {
  if (!lock) return;
  if (lock->dir) closedir(lock->dir);
  if (lock->fd >= 0) close(lock->fd);
  MemFree(lock->path);
  MemFree(lock->entryPath);
  MemFree(lock);
}

int ExamineLock(qmLock *lock, qmFileInfo *info) {
  struct stat st;
  int rc = lock->dir ? fstat(dirfd(lock->dir), &st) : fstat(lock->fd, &st);
  if (rc == 0) FileInfoFromStat(&st, info);
  return 0;
}

uint32_t CheckDirectoryLock(qmLock *lock, uint32_t *isDirectory) {
  if (lock->dir) {
    *isDirectory = 1;
    return 0;
  }
  char name[kMaxPathLength + 1];
  SetPlatformErrorArgument(GetLockPath(lock, name) ? name : lock->path);
  return ERR_NOTADIR;
}

int ExamineNextEntry(qmLock *lock, void *, const char **name, uint32_t *isDirectory,
                     qmFileInfo *info) {
  if (!lock->dir) return 0;
  while (dirent *entry = readdir(lock->dir)) {
    const char *raw = entry->d_name;
    if (std::strcmp(raw, ".") == 0 || std::strcmp(raw, "..") == 0) continue;
    // Entry names are at most 255 bytes; the buffer has room for the path, "/" and 256 more.
    std::memcpy(lock->entryPath, lock->path, lock->pathLength);
    size_t at = lock->pathLength;
    if (at == 0 || lock->entryPath[at - 1] != '/') lock->entryPath[at++] = '/';
    size_t rawLength = strnlen(raw, 256);
    std::memcpy(lock->entryPath + at, raw, rawLength);
    lock->entryPath[at + rawLength] = 0;
    struct stat st;
    if (stat(lock->entryPath, &st) != 0) continue;  // vanished since the listing, or a dead link
    TextFromSystem(raw, lock->entryName, sizeof lock->entryName);  // twice 255 bytes fit
    if (name) *name = lock->entryName;
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
    if (info) FileInfoFromStat(&st, info);
    return 1;
  }
  return 0;
}

void EndDirectoryScan(void *) {}

int GetLockPath(qmLock *lock, char *buffer) {
  return TextFromSystem(lock->path, buffer, kMaxPathLength + 1) == 0 ? 1 : 0;
}
