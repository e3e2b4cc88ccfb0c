#include "graphics/imagecache.h"

#include <strings.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "runtime/errcodes.h"

struct qmImageCacheEntry {
  std::string name;
  int32_t width, height;
  uint32_t word1, word2;
  uint32_t *pixels;  // MemAlloc'ed copy
};

struct qmImageCache {
  std::vector<qmImageCacheEntry> entries;
};

namespace {

constexpr size_t kMaxCacheName = 1023;

uint32_t *CopyPixels(const uint32_t *pixels, int32_t width, int32_t height) {
  const uint64_t bytes = uint64_t(width) * uint64_t(height) * 4;
  if (width < 1 || height < 1 || bytes > UINT32_MAX) return nullptr;
  auto *copy = static_cast<uint32_t *>(MemAlloc(uint32_t(bytes), 0));
  if (copy) std::memcpy(copy, pixels, size_t(bytes));
  return copy;
}

} // namespace

uint32_t NewImageCache(qmImageCache **out) {
  *out = new (std::nothrow) qmImageCache;
  return *out ? 0u : uint32_t(ERR_MEM);
}

void FreeImageCache(qmImageCache *cache) {
  if (!cache) return;
  ClearImageCache(cache);
  delete cache;
}

uint32_t AddCachedImage(qmImageCache *cache, const char *name, int32_t width, int32_t height, uint32_t word1,
                        uint32_t word2, const uint32_t *pixels) {
  if (!cache) return 0;
  uint32_t *copy = CopyPixels(pixels, width, height);
  if (!copy) return ERR_MEM;
  std::string kept(name, strnlen(name, kMaxCacheName));
  try {
    cache->entries.push_back({std::move(kept), width, height, word1, word2, copy});
  } catch (const std::bad_alloc &) {
    MemFree(copy);
    return ERR_MEM;
  }
  return 0;
}

uint32_t FindCachedImage(const qmImageCache *cache, const char *name, int32_t *width, int32_t *height,
                         uint32_t *word1, uint32_t *word2, uint32_t **pixels) {
  if (!cache) return ERR_CACHEERROR;
  const std::string wanted(name, strnlen(name, kMaxCacheName));
  for (const qmImageCacheEntry &e : cache->entries) {
    if (strcasecmp(e.name.c_str(), wanted.c_str())) continue;
    uint32_t *copy = CopyPixels(e.pixels, e.width, e.height);
    if (!copy) return ERR_MEM;
    *width = e.width, *height = e.height;
    *word1 = e.word1, *word2 = e.word2;
    *pixels = copy;
    return 0;
  }
  return ERR_CACHEERROR;
}

void ClearImageCache(qmImageCache *cache) {
  if (!cache) return;
  for (qmImageCacheEntry &e : cache->entries) MemFree(e.pixels);
  cache->entries.clear();
}
