#include "platform/env.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/memory.h"
#include "platform/path.h"
#include "runtime/errcodes.h"

char *GetEnvVar(const char *name) {
  const char *value = std::getenv(name);
  if (!value) return nullptr;
  size_t length = std::strlen(value);
  auto *copy = static_cast<char *>(MemAlloc(static_cast<uint32_t>(length + 1), 0));
  if (copy) std::memcpy(copy, value, length + 1);
  return copy;
}

uint32_t SetEnvVar(const char *name, const char *value) {
  return setenv(name, value, 1) == 0 ? 0u : static_cast<uint32_t>(ERR_SETENV);
}

uint32_t UnsetEnvVar(const char *name) {
  unsetenv(name);
  return 0;
}

char *TempFileName(char *buffer) {
  const char *folder = std::getenv("TMPDIR");
  if (!folder || !*folder) folder = "/tmp";
  std::string name = std::string(folder) + "/quenmoor-XXXXXX";
  if (name.size() > kMaxPathLength) return nullptr;
  int fd = mkstemp(name.data());
  if (fd < 0) return nullptr;
  close(fd);
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return buffer;
}

void DebugPrintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}
