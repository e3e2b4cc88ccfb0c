// The byte order of presenting: rows of pictures whose bytes are unused, R, G, B into the
// 0x00RRGGBB words of a window surface, the top byte set to `fill`'s.
#pragma once
#include <cstdint>

void ConvertXrgbRow(const uint32_t *src, uint32_t *dst, int32_t count, uint32_t fill);
void ConvertXrgbRowScalar(const uint32_t *src, uint32_t *dst, int32_t count, uint32_t fill);
// The same, and the source row copied unchanged to `keep`, in one reading of it.
void ConvertXrgbRowKeeping(const uint32_t *src, uint32_t *dst, uint32_t *keep, int32_t count, uint32_t fill);
void ConvertXrgbRowKeepingScalar(const uint32_t *src, uint32_t *dst, uint32_t *keep, int32_t count, uint32_t fill);
// The way back: 0x00RRGGBB words of a surface (top byte ignored) to pixels of bytes 0, R, G, B.
void RestoreXrgbRow(const uint32_t *src, uint32_t *dst, int32_t count);
void RestoreXrgbRowScalar(const uint32_t *src, uint32_t *dst, int32_t count);
#ifdef QM_HAVE_AVX2
void RestoreXrgbRowAvx2(const uint32_t *src, uint32_t *dst, int32_t count);
void ConvertXrgbRowAvx2(const uint32_t *src, uint32_t *dst, int32_t count, uint32_t fill);
void ConvertXrgbRowKeepingAvx2(const uint32_t *src, uint32_t *dst, uint32_t *keep, int32_t count, uint32_t fill);
#endif
