#include "platform/path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/memory.h"

namespace {

bool IsChunkName(const char *path) { return std::strncmp(path, ":::chunk", 8) == 0; }

// Decodes one UTF-8 sequence at s; returns its length and the code point, or 0 when invalid.
size_t DecodeUtf8(const unsigned char *s, uint32_t *cp) {
  unsigned char c = s[0];
  size_t len;
  uint32_t v, min;
  if (c < 0x80) {
    *cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    len = 2, v = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, v = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  for (size_t i = 1; i < len; i++) {
    if ((s[i] & 0xC0) != 0x80) return 0;  // also stops at the terminating zero
    v = (v << 6) | (s[i] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

// True when the text is valid UTF-8 with at least one character beyond Latin-1: such a name
// cannot have come from Latin-1 text, only from a listing that could not convert it.
bool IsUtf8BeyondLatin1(const char *text) {
  auto *s = reinterpret_cast<const unsigned char *>(text);
  bool beyond = false;
  while (*s) {
    uint32_t cp;
    size_t len = DecodeUtf8(s, &cp);
    if (len == 0) return false;
    if (cp > 0xFF) beyond = true;
    s += len;
  }
  return beyond;
}

bool Exists(const char *path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

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
  std::string out;
  out.reserve(len * 2);
  for (const unsigned char *s = reinterpret_cast<const unsigned char *>(path); *s; s++) {
    unsigned char c = *s == '\\' ? '/' : *s;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  if (out.size() != len && IsUtf8BeyondLatin1(path) && !Exists(out.c_str())) {
    out.assign(path);
    for (char &c : out)
      if (c == '\\') c = '/';
  }
  auto *result = static_cast<char *>(MemAlloc(static_cast<uint32_t>(out.size() + 1), 0));
  if (result) std::memcpy(result, out.c_str(), out.size() + 1);
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
  ssize_t n = readlink("/proc/self/exe", out, kMaxPathLength);
  out[n > 0 ? n : 0] = 0;
}
