#include "platform/sdl/present_kernels.h"

#include "platform/cpu.h"

void ConvertXrgbRowScalar(const uint32_t *src, uint32_t *dst, int32_t count, uint32_t fill) {
  // A byte swap of each word gives 0x00RRGGBB; its top byte is the unused one.
  for (int32_t i = 0; i < count; i++) dst[i] = (__builtin_bswap32(src[i]) & 0x00FFFFFFu) | fill;
}

void ConvertXrgbRow(const uint32_t *src, uint32_t *dst, int32_t count, uint32_t fill) {
  QM_AVX2_RETURN(ConvertXrgbRowAvx2(src, dst, count, fill));
  ConvertXrgbRowScalar(src, dst, count, fill);
}

void ConvertXrgbRowKeepingScalar(const uint32_t *src, uint32_t *dst, uint32_t *keep, int32_t count, uint32_t fill) {
  for (int32_t i = 0; i < count; i++) {
    const uint32_t p = src[i];
    keep[i] = p;
    dst[i] = (__builtin_bswap32(p) & 0x00FFFFFFu) | fill;
  }
}

void ConvertXrgbRowKeeping(const uint32_t *src, uint32_t *dst, uint32_t *keep, int32_t count, uint32_t fill) {
  QM_AVX2_RETURN(ConvertXrgbRowKeepingAvx2(src, dst, keep, count, fill));
  ConvertXrgbRowKeepingScalar(src, dst, keep, count, fill);
}

void RestoreXrgbRowScalar(const uint32_t *src, uint32_t *dst, int32_t count) {
  for (int32_t i = 0; i < count; i++) dst[i] = __builtin_bswap32(src[i]) & 0xFFFFFF00u;
}

void RestoreXrgbRow(const uint32_t *src, uint32_t *dst, int32_t count) {
  QM_AVX2_RETURN(RestoreXrgbRowAvx2(src, dst, count));
  RestoreXrgbRowScalar(src, dst, count);
}
