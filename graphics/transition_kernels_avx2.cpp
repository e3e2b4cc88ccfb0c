// Vector rows of ThresholdPlane's mask output, of RevealPixels and of WavePixels' columns.
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

// RevealPixels' row, eight pixels a step: each map byte widened to its lane and compared with
// the level, each mask bit spread to its lane; the pixels done (a multiple of 8).
__attribute__((target("avx2"))) int32_t RevealRowAvx2(const uint8_t *map, const uint8_t *mask, int32_t maskX,
                                                     const uint32_t *shown, const uint32_t *hidden, uint32_t *out,
                                                     int32_t width, int32_t level, uint32_t colorBits) {
  const __m256i levels = _mm256_set1_epi32(level);
  const __m256i bitOfLane = _mm256_setr_epi32(0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01);
  const __m256i keep = _mm256_set1_epi32(int32_t(colorBits));
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m256i times = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(map + x)));
    __m256i lanes = _mm256_cmpgt_epi32(levels, times);
    if (mask) {
      // The eight bits straddle two bytes unless they start on one; the second is read only then.
      const int32_t bit = maskX + x, shift = bit & 7;
      uint32_t bits = uint32_t(mask[bit >> 3]) << shift;
      if (shift) bits |= uint32_t(mask[(bit >> 3) + 1]) >> (8 - shift);
      const __m256i set = _mm256_and_si256(_mm256_set1_epi32(int32_t(bits & 0xFF)), bitOfLane);
      lanes = _mm256_and_si256(lanes, _mm256_cmpeq_epi32(set, bitOfLane));
    }
    // No branch on the lanes: a dissolve's are random, and a guess missed costs more than a load.
    const __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(hidden + x));
    const __m256i s = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(shown + x)), keep);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), _mm256_blendv_epi8(h, s, lanes));
  }
  return x;
}

// dst[k] = src[from[k]], eight a step; the pixels done (a multiple of 8).
__attribute__((target("avx2"))) int32_t GatherRowAvx2(const uint32_t *src, const int32_t *from, uint32_t *dst,
                                                     int32_t n) {
  int32_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + k));
    const __m256i v = _mm256_i32gather_epi32(reinterpret_cast<const int *>(src), at, 4);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + k), v);
  }
  return k;
}
