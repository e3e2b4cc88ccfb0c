// The graphics cache of decoded pictures: while the applet's declarations run, a picture file
// declared more than once is decoded once and the later declarations take it from here. One
// cache per run, on its scene.
#pragma once
#include <cstdint>

struct qmImageCache;

// 0 with a new empty cache, or ERR_MEM.
uint32_t NewImageCache(qmImageCache **out);
// Frees every entry and the cache.
void FreeImageCache(qmImageCache *cache);
// Frees every entry; the cache stays, empty (the end of a run's graphics).
void ClearImageCache(qmImageCache *cache);
// Adds a copy of the width x height picture (rows without gaps) under the name (at most 1023
// bytes are kept) with two words stored and given back as they are. 0 or ERR_MEM; a null cache
// keeps nothing.
uint32_t AddCachedImage(qmImageCache *cache, const char *name, int32_t width, int32_t height, uint32_t word1,
                        uint32_t word2, const uint32_t *pixels);
// Looks the name up without regard to case: 0 with the stored size and words and a new copy of
// the picture in *pixels (the caller frees it with MemFree); ERR_CACHEERROR when absent (or
// without a cache), ERR_MEM.
uint32_t FindCachedImage(const qmImageCache *cache, const char *name, int32_t *width, int32_t *height,
                         uint32_t *word1, uint32_t *word2, uint32_t **pixels);
