// The graphics cache of decoded pictures: while the applet's declarations run, a picture file
// declared more than once is decoded once and the later declarations take it from here.
#pragma once
#include <cstdint>

// Adds a copy of the width x height picture (rows without gaps) under the name (at most 1023
// bytes are kept) with two words stored and given back as they are. 0 or ERR_MEM.
uint32_t AddCachedImage(const char *name, int32_t width, int32_t height, uint32_t word1, uint32_t word2,
                        const uint32_t *pixels);
// Looks the name up without regard to case: 0 with the stored size and words and a new copy of
// the picture in *pixels (the caller frees it with MemFree); ERR_CACHEERROR when absent, ERR_MEM.
uint32_t FindCachedImage(const char *name, int32_t *width, int32_t *height, uint32_t *word1, uint32_t *word2,
                         uint32_t **pixels);
// Frees every entry (at the end of a run).
void FreeImageCache();
