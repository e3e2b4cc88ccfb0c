// Vector masked copy: eight pixels per mask byte, one masked store each.
#include <immintrin.h>

#include <cstring>

#include "graphics/blit_kernels.h"

__attribute__((target("avx2"))) void MaskedCopyPixelsAvx2(const qmMaskedBlitRequest *req) {
  if (req->width < 1 || req->height < 1) return;
  const __m256i bits = _mm256_setr_epi32(0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01);
  const uint32_t *src = req->srcBase + int64_t(req->srcY) * req->srcPitch + req->srcX;
  uint32_t *dst = req->dstBase + int64_t(req->dstY) * req->dstPitch + req->dstX;
  const uint8_t *mrow = req->mask + int64_t(req->srcY) * req->maskBytesPerRow;
  const int32_t phase = req->srcX & 7;
  const int32_t head = phase ? (8 - phase < req->width ? 8 - phase : req->width) : 0;
  for (int32_t y = 0; y < req->height; y++) {
    const uint8_t *m = mrow + (req->srcX >> 3);
    int32_t x = 0;
    // Leading pixels up to the next mask byte.
    if (head) {
      uint32_t bit = 0x80u >> phase;
      for (; x < head; x++, bit >>= 1)
        if (*m & bit) dst[x] = src[x];
      m++;
    }
    for (; x + 8 <= req->width; x += 8, m++) {
      uint8_t byte = *m;
      if (byte == 0) continue;
      if (byte == 0xFF) {
        std::memcpy(dst + x, src + x, 32);
        continue;
      }
      __m256i sel = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(byte), bits), bits);
      __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x));
      _mm256_maskstore_epi32(reinterpret_cast<int *>(dst + x), sel, v);
    }
    for (uint32_t bit = 0x80; x < req->width; x++, bit >>= 1)
      if (*m & bit) dst[x] = src[x];
    src += req->srcPitch;
    dst += req->dstPitch;
    mrow += req->maskBytesPerRow;
  }
}

// Plain row copy: for rows of a few kilobytes an inline vector loop beats a library call per row.
__attribute__((target("avx2"))) void CopyRowsAvx2(uint32_t *dst, const uint32_t *src, int32_t width, int32_t height,
                                                  int32_t dstPitch, int32_t srcPitch) {
  for (int32_t y = 0; y < height; y++, src += srcPitch, dst += dstPitch) {
    int32_t x = 0;
    // Aligned stores once the destination reaches a 32-byte boundary.
    for (; x < width && (reinterpret_cast<uintptr_t>(dst + x) & 31); x++) dst[x] = src[x];
    for (; x + 32 <= width; x += 32) {
      __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x));
      __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x + 8));
      __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x + 16));
      __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x + 24));
      _mm256_store_si256(reinterpret_cast<__m256i *>(dst + x), a);
      _mm256_store_si256(reinterpret_cast<__m256i *>(dst + x + 8), b);
      _mm256_store_si256(reinterpret_cast<__m256i *>(dst + x + 16), c);
      _mm256_store_si256(reinterpret_cast<__m256i *>(dst + x + 24), d);
    }
    for (; x + 8 <= width; x += 8)
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x)));
    for (; x < width; x++) dst[x] = src[x];
  }
}
