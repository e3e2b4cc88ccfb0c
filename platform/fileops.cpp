#include "platform/fileops.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/dir.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "platform/systemtext.h"
#include "runtime/errcodes.h"

namespace {

// The path in the file system's spelling, owned for the length of one operation.
class SystemPath {
 public:
  explicit SystemPath(const char *path) {
    const char *normal = NormalizeSlashes(path, buffer_);
    converted_ = ToFileSystemPath(normal);
    use_ = converted_ ? converted_ : normal;
  }
  ~SystemPath() { MemFree(converted_); }
  SystemPath(const SystemPath &) = delete;
  SystemPath &operator=(const SystemPath &) = delete;
  const char *c_str() const { return use_; }

 private:
  char buffer_[kMaxPathLength + 1];
  char *converted_;
  const char *use_;
};

// Reads a file-system name back in; 0 when it does not fit.
int CopyOut(const std::string &name, char *buffer, size_t size) {
  return TextFromSystem(name.c_str(), buffer, size) == 0 ? 1 : 0;
}

}  // namespace

int RemoveFile(const char *path) { return std::remove(SystemPath(path).c_str()) == 0 ? 1 : 0; }

int RemoveFailedOutput(const char *path) {
  const SystemPath name(path);
  struct stat st;
  if (lstat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return unlink(name.c_str()) == 0 ? 1 : 0;
}

int GetFileIdentity(const char *path, int followLinks, qmFileIdentity *out) {
  struct stat st;
  SystemPath name(path);
  if ((followLinks ? stat(name.c_str(), &st) : lstat(name.c_str(), &st)) != 0) return 0;
  out->device = uint64_t(st.st_dev);
  out->inode = uint64_t(st.st_ino);
  out->isLink = S_ISLNK(st.st_mode) ? 1 : 0;
  out->isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
  return 1;
}

int RenameFile(const char *oldPath, const char *newPath) {
  return std::rename(SystemPath(oldPath).c_str(), SystemPath(newPath).c_str()) == 0 ? 1 : 0;
}

uint32_t CreateDir(const char *path) {
  return mkdir(SystemPath(path).c_str(), 0755) == 0 ? 0u : static_cast<uint32_t>(ERR_CREATEDIR);
}

int SetFileDate(const char *path, const uint32_t *times) {
  timeval tv[2] = {{static_cast<time_t>(times[0]), 0}, {static_cast<time_t>(times[1]), 0}};
  return utimes(SystemPath(path).c_str(), tv) == 0 ? 1 : 0;
}

int SetProtection(const char *path, uint32_t bits) {
  return chmod(SystemPath(path).c_str(), ModeFromProtection(bits)) == 0 ? 1 : 0;
}

int SetFileComment(const char *, const char *) { return 0; }

char *SetCurrentDir(const char *path) {
  char current[PATH_MAX + 1];
  if (!getcwd(current, sizeof current)) return nullptr;
  size_t size = 2 * std::strlen(current) + 1;
  auto *previous = static_cast<char *>(MemAlloc(static_cast<uint32_t>(size), 0));
  if (!previous) return nullptr;
  TextFromSystem(current, previous, size);
  if (chdir(SystemPath(path).c_str()) != 0) {
    MemFree(previous);
    return nullptr;
  }
  return previous;
}

int GetFullPath(const char *path, char *buffer, size_t size) {
  SystemPath systemPath(path);
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(systemPath.c_str(), nullptr),
                                                       &std::free);
  if (resolved) return CopyOut(resolved.get(), buffer, size);
  std::string joined = systemPath.c_str();
  if (joined.empty() || joined[0] != '/') {
    char cwd[PATH_MAX + 1];
    if (!getcwd(cwd, sizeof cwd)) return 0;
    std::string folder = cwd;
    if (folder.back() != '/') folder += '/';
    joined = folder + joined;
  }
  return CopyOut(joined, buffer, size);
}

int ReadVolumeName(const char *, char *buffer) {
  std::strcpy(buffer, "unimplemented");
  return 0;
}

int QueryVolumeSpace(const char *, uint64_t *freeBytes, uint64_t *usedBytes) {
  *freeBytes = 0;
  *usedBytes = 0;
  return 0;
}
