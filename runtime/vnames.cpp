#include "runtime/vnames.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/date.h"
#include "platform/env.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "platform/vfile.h"
#include "runtime/applet.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/strutil.h"

namespace {

static_assert(sizeof(qmApplet{}.resolvedName) == kChunkNameSize, "a resolved name has room for any chunk name");

constexpr char kFontPrefix[] = "::font:";
constexpr size_t kFontPrefixLength = sizeof kFontPrefix - 1;
constexpr size_t kCopyBlockSize = 16384;

bool EndsWithNoCase(const char *s, const char *suffix) {
  size_t n = std::strlen(s), m = std::strlen(suffix);
  return n >= m && Stricmp(s + n - m, suffix) == 0;
}

// Equal without regard to case, with "\" and "/" the same character.
bool SamePath(const char *a, const char *b) {
  for (;; a++, b++) {
    unsigned char ca = static_cast<unsigned char>(*a == '\\' ? '/' : *a);
    unsigned char cb = static_cast<unsigned char>(*b == '\\' ? '/' : *b);
    if (kUpperCaseTable[ca] != kUpperCaseTable[cb]) return false;
    if (ca == 0) return true;
  }
}

}  // namespace

char *ChunkDisplayNameInto(const char *name, char *out, size_t size) {
  if (size == 0) return out;
  size_t n = std::strlen(name);
  if (IsChunkName(name)) {
    const char *star = std::strchr(name, '*');
    if (star == nullptr) {
      CopyString(out, "", size);
      return out;
    }
    const char *end = std::strchr(star + 1, '/');
    size_t len = end ? size_t(end - (star + 1)) : std::strlen(star + 1);
    if (len >= size) len = size - 1;
    std::memcpy(out, star + 1, len);
    out[len] = 0;
    return out;
  }
  if (n < 2) {
    CopyString(out, name, size);
    return out;
  }
  const char *slash = nullptr;
  for (const char *p = name; *p; p++)
    if (*p == '/' || *p == '\\') slash = p;
  if (slash) {
    CopyString(out, slash + 1, size);
  } else if (const char *colon = std::strchr(name, ':')) {
    CopyString(out, colon + 1, size);
  } else {
    CopyString(out, name, size);
  }
  return out;
}

const char *ChunkDisplayName(const char *name, char *buffer, size_t size) {
  if (!IsChunkName(name)) {
    // A part of the name itself: no copy needed.
    size_t n = std::strlen(name);
    if (n < 2) return name;
    const char *slash = nullptr;
    for (const char *p = name; *p; p++)
      if (*p == '/' || *p == '\\') slash = p;
    if (slash) return slash + 1;
    const char *colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
  }
  return ChunkDisplayNameInto(name, buffer, size);
}

char *MakeChunkName(const char *name, char *out, size_t size, uint64_t offset, uint64_t length,
                    uint64_t base, const char *container) {
  char display[kChunkNameSize];
  ChunkDisplayNameInto(name, display, sizeof display);
  int n = std::snprintf(out, size, ":::chunk%" PRIu64 ":%" PRIu64 "*%s/%s", offset + base, length, display,
                        container);
  if (n < 0 || size_t(n) >= size) {
    if (size) out[0] = 0;
    return nullptr;
  }
  return out;
}

char *MakeMemoryChunkName(const char *name, char *out, size_t size, int32_t reference, uint64_t length,
                          const void *address) {
  char display[kChunkNameSize];
  ChunkDisplayNameInto(name, display, sizeof display);
  int n = std::snprintf(out, size, ":::chunkS%" PRId32 ":%" PRIu64 "*%s/%" PRIxPTR, reference, length, display,
                        reinterpret_cast<uintptr_t>(address));
  if (n < 0 || size_t(n) >= size) {
    if (size) out[0] = 0;
    return nullptr;
  }
  return out;
}

const char *ResolveLinkedFile(qmApplet *applet, const char *name, int fontFlag, int *font) {
  if (font) *font = 0;
  if (applet == nullptr || applet->linkedFiles == nullptr || name == nullptr) return name;
  char search[kChunkNameSize];
  if (CopyString(search, name, sizeof search) >= sizeof search) return name;  // nothing so long is linked
  if (fontFlag) {
    if (EndsWithNoCase(search, ".ttf") || EndsWithNoCase(search, ".otf")) {
      fontFlag = 0;
    } else if (EndsWithNoCase(search, ".font")) {
      search[std::strlen(search) - 5] = 0;
    }
  }
  for (const qmLinkedFile *node = applet->linkedFiles; node; node = node->next) {
    bool isFont = Strnicmp(node->name, kFontPrefix, kFontPrefixLength) == 0;
    const char *linkedName;
    if (fontFlag) {
      if (!isFont || Stricmp(node->name + kFontPrefixLength, search) != 0) continue;
      linkedName = node->name + kFontPrefixLength;
    } else {
      if (isFont || !SamePath(node->name, search)) continue;
      linkedName = node->name;
    }
    const char *container = node->container[0] ? node->container : applet->programPath;
    if (!MakeChunkName(linkedName, applet->resolvedName, sizeof applet->resolvedName, node->offset, node->length, applet->appletBase,
                       container))
      return name;  // a container path too long for a virtual name: the loader reports the file
    if (font) *font = fontFlag ? 1 : 0;
    return applet->resolvedName;
  }
  return name;
}

int AddPart(char *path, size_t size, const char *name) {
  size_t n = std::strlen(path);
  bool slash = n > 0 && path[n - 1] != '/' && path[n - 1] != '\\';
  size_t total = n + (slash ? 1 : 0) + std::strlen(name);
  if (total >= size) return 0;
  if (slash) path[n++] = '/';
  std::strcpy(path + n, name);
  return 1;
}

const char *GetPathPart(const char *path) {
  const char *start = path;
  while (*start == '/') start++;
  const char *slash = nullptr;
  const char *colon = nullptr;
  for (const char *p = start; *p; p++) {
    if (*p == '/' || *p == '\\') slash = p;
    else if (*p == ':') colon = p;
  }
  if (colon && (slash == nullptr || colon > slash)) return colon + 1;
  if (slash) return slash;
  return start;
}

char *GetPathPart(char *path) { return const_cast<char *>(GetPathPart(static_cast<const char *>(path))); }

char *MakeTempChunkFileName(char *out, const char *virtualName) {
  if (TempFileName(out) == nullptr) return nullptr;
  char display[kChunkNameSize];
  ChunkDisplayNameInto(virtualName, display, sizeof display);
  const char *dot = std::strrchr(display, '.');
  if (dot == nullptr) return out;
  char named[kMaxPathLength + 1];
  CopyString(named, out, sizeof named);
  // The file was created under a name nobody else could take; renaming moves that file, so the
  // name with the extension cannot be someone else's file either.
  if (std::strlen(named) + std::strlen(dot) > kMaxPathLength ||
      (std::strcat(named, dot), !RenameFile(out, named))) {
    RemoveFile(out);
    return nullptr;
  }
  CopyString(out, named, kMaxPathLength + 1);
  return out;
}

uint32_t ExtractChunkToFile(const char *source, const char *destination) {
  qmFileHandle *in = FileOpen(source, FILE_MODE_READ);
  if (in == nullptr) {
    SetErrorArgument(source);
    return ERR_READFILE;
  }
  qmFileHandle *out = FileOpen(destination, FILE_MODE_WRITE);
  if (out == nullptr) {
    FileClose(in);
    SetErrorArgument(destination);
    return ERR_WRITEFILE;
  }
  void *block = MemAlloc(kCopyBlockSize, 0);
  uint32_t result = 0;
  if (block == nullptr) {
    result = ERR_MEM;
  } else {
    for (;;) {
      uint64_t n = FileRead(in, block, kCopyBlockSize);
      if (n == 0) break;
      if (FileWrite(out, block, n) != n) {
        result = ERR_WRITE;
        break;
      }
    }
    MemFree(block);
  }
  FileClose(in);
  if (!FileClose(out) && result == 0) result = ERR_WRITE;
  return result;
}

qmVirtualLock *LockVirtualPath(const char *path, int32_t mode) {
  qmLock *platformLock = nullptr;
  if (IsChunkName(path)) {
    qmChunkName parsed;
    if (std::strlen(path) >= kChunkNameSize || !ParseChunkName(path, &parsed)) return nullptr;
    if (parsed.memory) {
      // Only a window that exists may be examined: the name alone proves nothing.
      if (AcquireMemoryWindow(parsed.reference, parsed.length) == nullptr) return nullptr;
      ReleaseMemoryWindow(parsed.reference);
    }
  } else {
    platformLock = LockPath(path, mode);
    if (platformLock == nullptr) return nullptr;
  }
  auto *lock = static_cast<qmVirtualLock *>(MemAlloc(sizeof(qmVirtualLock), 1));
  if (lock == nullptr) {
    if (platformLock) UnlockPath(platformLock);
    return nullptr;
  }
  lock->lock = platformLock;
  if (platformLock == nullptr) CopyString(lock->name, path, sizeof lock->name);
  return lock;
}

void UnlockVirtualPath(qmVirtualLock *lock) {
  if (lock == nullptr) return;
  if (lock->lock) UnlockPath(lock->lock);
  MemFree(lock);
}

uint32_t ExamineVirtualPath(qmVirtualLock *lock, qmFileInfo *info) {
  if (lock->lock) return uint32_t(ExamineLock(lock->lock, info));
  std::memset(info, 0, sizeof *info);
  qmChunkName parsed;
  if (ParseChunkName(lock->name, &parsed)) info->size = parsed.length;
  info->isDirectory = 0;
  info->protection = 15;
  qmDate date = {0, 0, 0, 16, 8, 1982};
  uint32_t times[1] = {0};
  DateToTime(&date, times, 0);
  info->accessTime = info->modifyTime = info->changeTime = times[0];
  return 0;
}

int ExamineNextVirtualEntry(qmVirtualLock *lock, const char **name, uint32_t *isDirectory, qmFileInfo *info) {
  if (lock->lock == nullptr) return 0;
  return ExamineNextEntry(lock->lock, nullptr, name, isDirectory, info);
}

uint32_t CheckVirtualDirectory(qmVirtualLock *lock, uint32_t *isDirectory) {
  if (lock->lock) return CheckDirectoryLock(lock->lock, isDirectory);
  *isDirectory = 0;
  SetErrorArgument(lock->name);
  return ERR_NOTADIR;
}

int GetVirtualLockName(qmVirtualLock *lock, char *out, size_t size) {
  char full[kMaxPathLength + 1];
  if (lock->lock) {
    if (!GetLockPath(lock->lock, full)) return 0;
    return CopyString(out, full, size) < size;
  }
  qmLock *current = LockPath("", QMOS_LOCK_READ);
  if (current == nullptr) return 0;
  int ok = GetLockPath(current, full);
  UnlockPath(current);
  if (!ok) return 0;
  char display[kChunkNameSize];
  ChunkDisplayNameInto(lock->name, display, sizeof display);
  if (!AddPart(full, sizeof full, display[0] ? display : "unknown")) return 0;
  return CopyString(out, full, size) < size;
}
