// Read-only locks on files and folders, the examine record and the walk over a folder's
// entries. Names handed out are read in through TextFromSystem, so each opens again.
#pragma once
#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

// Protection bits, the values of the dos library's FILEATTR_ constants; the nine below map one
// to one onto the permission bits of the file mode.
enum : uint32_t {
  FILEATTR_READ_USR = 1,
  FILEATTR_WRITE_USR = 2,
  FILEATTR_EXECUTE_USR = 8,
  FILEATTR_READ_GRP = 0x200,
  FILEATTR_WRITE_GRP = 0x400,
  FILEATTR_EXECUTE_GRP = 0x800,
  FILEATTR_READ_OTH = 0x1000,
  FILEATTR_WRITE_OTH = 0x2000,
  FILEATTR_EXECUTE_OTH = 0x4000,
  FILEATTR_NORMAL = 0x10000,  // in a request: mode 0644, whatever else is set
};

struct qmFileInfo {
  uint32_t isDirectory;
  uint64_t size;
  uint32_t protection;
  char comment[256];  // never filled here; callers clear it
  uint32_t accessTime, modifyTime, changeTime;  // seconds since 1970
};

struct qmLock {
  char *path;        // absolute, in the file system's spelling
  DIR *dir;          // folders
  int fd;            // files; -1 otherwise
  char *entryPath;   // path + "/" + the current entry's name
  char entryName[512];  // the current entry's name, read in (at most twice 255 bytes)
  size_t pathLength;
};

enum : int32_t {
  QMOS_LOCK_READ = 0,
  QMOS_LOCK_WRITE = 1,  // not offered: locks are shared
};

// nullptr when the path does not exist, is neither a file nor a folder, or the mode is
// QMOS_LOCK_WRITE.
// An empty path is the current folder.
qmLock *LockPath(const char *path, int32_t mode);
void UnlockPath(qmLock *lock);
// 0; fills everything but the comment.
int ExamineLock(qmLock *lock, qmFileInfo *info);
// 0 with *isDirectory = 1 for a folder; ERR_NOTADIR with the path as error argument for a file.
uint32_t CheckDirectoryLock(qmLock *lock, uint32_t *isDirectory);
// 1 for the next entry of a locked folder, 0 at the end. "." and "..", and entries that vanish
// before they can be examined, are skipped. Every output is optional; the name stays valid
// until the next call. The state argument is not used here.
int ExamineNextEntry(qmLock *lock, void *state, const char **name, uint32_t *isDirectory,
                     qmFileInfo *info);
void EndDirectoryScan(void *state);
// 1 and the lock's absolute path, read in, in buffer (kMaxPathLength + 1
// bytes); 0 when it does not fit.
int GetLockPath(qmLock *lock, char *buffer);

void FileInfoFromStat(const struct stat *st, qmFileInfo *info);
uint32_t ProtectionFromMode(uint32_t mode);
uint32_t ModeFromProtection(uint32_t bits);
