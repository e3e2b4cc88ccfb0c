#include "platform/env.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/memory.h"
#include "platform/path.h"
#include "platform/systemtext.h"
#include "runtime/errcodes.h"

namespace {

// A new allocation (MemFree) of the text through one of the boundary conversions.
char *Converted(const char *text, uint32_t (*convert)(const char *, char *, size_t)) {
  size_t size = 2 * std::strlen(text) + 1;
  auto *out = static_cast<char *>(MemAlloc(static_cast<uint32_t>(size), 0));
  if (out) convert(text, out, size);
  return out;
}

}  // namespace

char *GetEnvVar(const char *name) {
  char *systemName = Converted(name, TextToSystem);
  if (!systemName) return nullptr;
  const char *value = std::getenv(systemName);
  MemFree(systemName);
  return value ? Converted(value, TextFromSystem) : nullptr;
}

uint32_t SetEnvVar(const char *name, const char *value) {
  char *systemName = Converted(name, TextToSystem);
  char *systemValue = Converted(value, TextToSystem);
  uint32_t code = ERR_MEM;
  if (systemName && systemValue)
    code = setenv(systemName, systemValue, 1) == 0 ? 0u : static_cast<uint32_t>(ERR_SETENV);
  MemFree(systemName);
  MemFree(systemValue);
  return code;
}

uint32_t UnsetEnvVar(const char *name) {
  if (char *systemName = Converted(name, TextToSystem)) {
    unsetenv(systemName);
    MemFree(systemName);
  }
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
  if (TextFromSystem(name.c_str(), buffer, kMaxPathLength + 1) != 0) {
    unlink(name.c_str());
    return nullptr;
  }
  return buffer;
}

void DebugPrintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}
