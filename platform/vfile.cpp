#include "platform/vfile.h"

#include <cstring>
#include <map>
#include <mutex>

#include "runtime/errcodes.h"

namespace {

// Reads decimal digits at *p (at least one) into *value without overflow; advances *p.
bool ReadDecimal(const char **p, uint64_t *value) {
  const char *s = *p;
  uint64_t v = 0;
  if (*s < '0' || *s > '9') return false;
  for (; *s >= '0' && *s <= '9'; s++) {
    unsigned digit = static_cast<unsigned>(*s - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *p = s;
  *value = v;
  return true;
}

struct MemoryWindow {
  const uint8_t *base;
  uint64_t length;
  uint32_t openHandles;
};

// Virtual names carry a window's reference in their text, so the windows answer wherever such a
// name is opened, on any thread; the one who registered a window removes it.
std::mutex gMemoryWindowsLock;
std::map<int64_t, MemoryWindow> gMemoryWindows;
int32_t gLastWindowReference;

}  // namespace

int IsChunkName(const char *name) { return name && std::strncmp(name, ":::chunk", 8) == 0; }

int ParseChunkName(const char *name, qmChunkName *out) {
  if (!IsChunkName(name)) return 0;
  *out = qmChunkName{};
  const char *p = name + 8;
  uint64_t first;
  if (*p == 'S') {
    out->memory = 1;
    p++;
    bool negative = *p == '-';  // the runtime prints the reference signed
    if (negative) p++;
    if (!ReadDecimal(&p, &first) || first > INT32_MAX) return 0;
    out->reference = negative ? -static_cast<int64_t>(first) : static_cast<int64_t>(first);
  } else {
    if (!ReadDecimal(&p, &first)) return 0;
    out->offset = first;
  }
  if (*p++ != ':' || !ReadDecimal(&p, &out->length) || *p++ != '*') return 0;
  const char *slash = std::strchr(p, '/');
  if (!slash) return 0;
  out->display = p;
  out->displayLength = static_cast<size_t>(slash - p);
  out->container = slash + 1;
  if (!out->memory && (*out->container == 0 || out->offset > UINT64_MAX - out->length)) return 0;
  return 1;
}

int32_t RegisterMemoryWindow(const void *base, uint64_t length) {
  if (!base) return 0;
  std::lock_guard<std::mutex> lock(gMemoryWindowsLock);
  if (gLastWindowReference == INT32_MAX) return 0;
  int32_t reference = ++gLastWindowReference;
  gMemoryWindows[reference] = MemoryWindow{static_cast<const uint8_t *>(base), length, 0};
  return reference;
}

uint32_t UnregisterMemoryWindow(int32_t reference) {
  std::lock_guard<std::mutex> lock(gMemoryWindowsLock);
  auto it = gMemoryWindows.find(reference);
  if (it == gMemoryWindows.end()) return ERR_WRONGUSAGE;
  if (it->second.openHandles) return ERR_LOCKEDOBJ;
  gMemoryWindows.erase(it);
  return 0;
}

const uint8_t *AcquireMemoryWindow(int64_t reference, uint64_t length) {
  std::lock_guard<std::mutex> lock(gMemoryWindowsLock);
  auto it = gMemoryWindows.find(reference);
  if (it == gMemoryWindows.end() || length > it->second.length) return nullptr;
  it->second.openHandles++;
  return it->second.base;
}

void ReleaseMemoryWindow(int64_t reference) {
  std::lock_guard<std::mutex> lock(gMemoryWindowsLock);
  auto it = gMemoryWindows.find(reference);
  if (it != gMemoryWindows.end() && it->second.openHandles) it->second.openHandles--;
}
