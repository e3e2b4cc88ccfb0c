// Eight pixels per step: the 24 bytes are spread over the two lanes (bytes 0-15 and 12-27)
// and each lane shuffles four pixels into words.
#include <immintrin.h>

#include "media/image/bmp_rows.h"

__attribute__((target("avx2"))) void Bgr24ToArgbRowAvx2(const uint8_t *in, uint32_t *out, int32_t n) {
  const __m256i spread = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
  const __m256i pick = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                        0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  int32_t x = 0;
  // A 32-byte load needs 8 bytes beyond the 24 it converts: 11 pixels left at least.
  for (; x + 11 <= n; x += 8, in += 24) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x),
                        _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(v, spread), pick));
  }
  Bgr24ToArgbRowScalar(in, out + x, n - x);
}
