#include "platform/path.h"

#include <unistd.h>

#include <cstring>

#include "platform/memory.h"
#include "platform/systemtext.h"

namespace {

bool IsChunkName(const char *path) { return std::strncmp(path, ":::chunk", 8) == 0; }

}  // namespace

const char *NormalizeSlashes(const char *path, char *buffer) {
  size_t len = std::strlen(path);
  if (len > kMaxPathLength) return path;
  std::memcpy(buffer, path, len + 1);
  if (!IsChunkName(path)) {
    for (char *p = buffer; *p; p++)
      if (*p == '\\') *p = '/';
  }
  return buffer;
}

char *ToFileSystemPath(const char *path) {
  size_t len = std::strlen(path);
  if (len > kMaxPathLength) return nullptr;
  size_t size = 2 * len + 1;
  auto *result = static_cast<char *>(MemAlloc(static_cast<uint32_t>(size), 0));
  if (!result) return nullptr;
  TextToSystem(path, result, size);
  for (char *p = result; *p; p++)
    if (*p == '\\') *p = '/';
  return result;
}

int FromFileSystemName(const char *utf8, char *out, size_t size) {
  auto *s = reinterpret_cast<const unsigned char *>(utf8);
  size_t n = 0;
  while (*s) {
    uint32_t cp;
    size_t len = DecodeUtf8(s, &cp);
    if (len == 0 || cp > 0xFF || n + 1 >= size) return 0;
    out[n++] = static_cast<char>(cp);
    s += len;
  }
  if (size == 0) return 0;
  out[n] = 0;
  return 1;
}

void GetExecutablePath(char *out) {
  char system[kMaxPathLength + 1];
  ssize_t n = readlink("/proc/self/exe", system, kMaxPathLength);
  system[n > 0 ? n : 0] = 0;
  TextFromSystem(system, out, kMaxPathLength + 1);
}
