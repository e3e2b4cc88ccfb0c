// Vector rows of ThresholdPlane's mask output, 32 pixels (four mask bytes) a step.
#include <immintrin.h>

#include <cstdint>

namespace {

// Each byte with its bits in the opposite order: the compare gives the first pixel in bit 0, the
// mask keeps it in bit 7.
struct ReversedBytes {
  uint8_t v[256];
  constexpr ReversedBytes() : v() {
    for (int i = 0; i < 256; i++) {
      int r = 0;
      for (int b = 0; b < 8; b++) r |= ((i >> b) & 1) << (7 - b);
      v[i] = uint8_t(r);
    }
  }
};
constexpr ReversedBytes kReversed;

}  // namespace

// Pixels shown where the map value lies below level (1..255), as mask bits, the flip applied and
// the source byte's bits kept; the pixels done (a multiple of 32), the caller finishes the rest.
__attribute__((target("avx2"))) int32_t ThresholdMaskRowAvx2(const uint8_t *map, const uint8_t *src, uint8_t *dst,
                                                            int32_t width, int32_t level, uint8_t flip) {
  const __m256i below = _mm256_set1_epi8(int8_t(level - 1));
  int32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(map + x));
    // m < level exactly when the smaller of m and level - 1 is m.
    const uint32_t bits = uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(m, below), m)));
    for (int32_t i = 0; i < 4; i++) {
      uint8_t b = uint8_t(kReversed.v[(bits >> (8 * i)) & 0xFF] ^ flip);
      if (src) b &= src[(x >> 3) + i];
      dst[(x >> 3) + i] = b;
    }
  }
  return x;
}
