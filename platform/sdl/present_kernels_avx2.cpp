// Vector byte order of presenting: one byte shuffle per eight pixels.
#include <immintrin.h>

#include <cstdint>

#include "platform/sdl/present_kernels.h"

namespace {

// Within each word: bytes 3, 2, 1 become 0, 1, 2; byte 3 is cleared (index with the top bit).
__attribute__((target("avx2"))) inline __m256i ByteOrder() {
  return _mm256_setr_epi8(3, 2, 1, -128, 7, 6, 5, -128, 11, 10, 9, -128, 15, 14, 13, -128, 3, 2, 1, -128, 7, 6, 5,
                          -128, 11, 10, 9, -128, 15, 14, 13, -128);
}

// Within each word: bytes 2, 1, 0 become 3, 2, 1; byte 0 is cleared.
__attribute__((target("avx2"))) inline __m256i ByteOrderBack() {
  return _mm256_setr_epi8(-128, 2, 1, 0, -128, 6, 5, 4, -128, 10, 9, 8, -128, 14, 13, 12, -128, 2, 1, 0, -128, 6, 5,
                          4, -128, 10, 9, 8, -128, 14, 13, 12);
}

}  // namespace

__attribute__((target("avx2"))) void ConvertXrgbRowAvx2(const uint32_t *src, uint32_t *dst, int32_t count,
                                                        uint32_t fill) {
  const __m256i order = ByteOrder();
  const __m256i top = _mm256_set1_epi32(int32_t(fill));
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i + 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_or_si256(_mm256_shuffle_epi8(a, order), top));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i + 8), _mm256_or_si256(_mm256_shuffle_epi8(b, order), top));
  }
  for (; i + 8 <= count; i += 8) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_or_si256(_mm256_shuffle_epi8(a, order), top));
  }
  ConvertXrgbRowScalar(src + i, dst + i, count - i, fill);
}

__attribute__((target("avx2"))) void ConvertXrgbRowKeepingAvx2(const uint32_t *src, uint32_t *dst, uint32_t *keep,
                                                               int32_t count, uint32_t fill) {
  const __m256i order = ByteOrder();
  const __m256i top = _mm256_set1_epi32(int32_t(fill));
  int32_t i = 0;
  // On long rows (a frame that nearly fills the cache) the kept copy's stores bypass the cache,
  // as it is not read back soon; the window's stay ordinary: with both bypassing (or neither)
  // the pass costs half as much again. Short rows (a small rectangle) keep ordinary stores, as
  // bypassing writes their partial cache lines at many times the cost. The first pixels go one
  // by one up to a 32-byte boundary of the window's row, as stores across cache lines cost
  // more than the loads do.
  const int32_t head = int32_t(((32 - (reinterpret_cast<uintptr_t>(dst) & 31)) & 31) / 4);
  if ((reinterpret_cast<uintptr_t>(dst) & 3) == 0 && ((reinterpret_cast<uintptr_t>(keep + head) & 15) == 0) &&
      count >= 1024) {
    ConvertXrgbRowKeepingScalar(src, dst, keep, head, fill);
    for (i = head; i + 8 <= count; i += 8) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
      _mm_stream_si128(reinterpret_cast<__m128i *>(keep + i), _mm256_castsi256_si128(a));
      _mm_stream_si128(reinterpret_cast<__m128i *>(keep + i + 4), _mm256_extracti128_si256(a, 1));
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_or_si256(_mm256_shuffle_epi8(a, order), top));
    }
    _mm_sfence();
  }
  for (; i + 8 <= count; i += 8) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(keep + i), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_or_si256(_mm256_shuffle_epi8(a, order), top));
  }
  ConvertXrgbRowKeepingScalar(src + i, dst + i, keep + i, count - i, fill);
}

__attribute__((target("avx2"))) void RestoreXrgbRowAvx2(const uint32_t *src, uint32_t *dst, int32_t count) {
  const __m256i order = ByteOrderBack();
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_shuffle_epi8(a, order));
  }
  RestoreXrgbRowScalar(src + i, dst + i, count - i);
}
