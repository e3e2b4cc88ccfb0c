// Vector rows of the scaler. Bilinear steps a + (((b - a) * f) >> 16) run in 16-bit lanes:
// with f taken as a signed 16-bit value, mulhi gives ((b - a) * (f - 65536)) >> 16, and adding
// (b - a) back where f >= 32768 restores the exact result.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "graphics/scale.h"

namespace {

__attribute__((target("avx2"))) inline __m256i LerpLanes(__m256i a, __m256i b, __m256i f) {
  __m256i diff = _mm256_sub_epi16(b, a);
  __m256i hi = _mm256_mulhi_epi16(diff, f);
  __m256i fix = _mm256_and_si256(diff, _mm256_srai_epi16(f, 15));
  return _mm256_add_epi16(a, _mm256_add_epi16(hi, fix));
}

// Eight pixels of a row at ascending columns idx (first `first`, last `last`). Columns that lie
// within 16 pixels come from one or two loads and permutes, which is much cheaper than a gather.
__attribute__((target("avx2"))) inline __m256i Fetch8(const uint32_t *row, __m256i idx, int32_t first, int32_t last,
                                                      int32_t rowLength) {
  if (last - first < 16 && first + 16 <= rowLength) {
    __m256i rel = _mm256_sub_epi32(idx, _mm256_set1_epi32(first));
    __m256i lo = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + first)), rel);
    if (last - first < 8) return lo;
    __m256i hi = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + first + 8)), rel);
    return _mm256_blendv_epi8(lo, hi, _mm256_cmpgt_epi32(rel, _mm256_set1_epi32(7)));
  }
  // Eight plain loads: a gather costs more on processors that split it into loads anyway.
  alignas(32) int32_t at[8];
  _mm256_store_si256(reinterpret_cast<__m256i *>(at), idx);
  return _mm256_setr_epi32(int32_t(row[at[0]]), int32_t(row[at[1]]), int32_t(row[at[2]]), int32_t(row[at[3]]),
                           int32_t(row[at[4]]), int32_t(row[at[5]]), int32_t(row[at[6]]), int32_t(row[at[7]]));
}

} // namespace

__attribute__((target("avx2"))) void NearestRowAvx2(uint32_t *dst, const uint32_t *srcRow, const int32_t *xIndex,
                                                    int32_t width, int32_t srcWidth) {
  int32_t i = 0;
  for (; i + 8 <= width; i += 8) {
    __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(xIndex + i));
    __m256i v = Fetch8(srcRow, idx, xIndex[i], xIndex[i + 7], srcWidth);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), v);
  }
  for (; i < width; i++) dst[i] = srcRow[xIndex[i]];
}

__attribute__((target("avx2"))) void NearestAlphaRowAvx2(uint8_t *dst, const uint8_t *srcRow, const int32_t *xIndex,
                                                         int32_t width, int32_t srcWidth) {
  int32_t i = 0;
  // Sixteen samples that lie within 16 bytes of the first: one load and a byte shuffle.
  for (; i + 16 <= width; i += 16) {
    const int32_t first = xIndex[i];
    if (xIndex[i + 15] - first >= 16 || first + 16 > srcWidth) {
      for (int32_t k = i; k < i + 16; k++) dst[k] = srcRow[xIndex[k]];
      continue;
    }
    const __m256i base = _mm256_set1_epi32(first);
    const __m256i a = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(xIndex + i)), base);
    const __m256i b = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(xIndex + i + 8)), base);
    // 32 to 16 bits works within 128-bit lanes; the permute puts the sixteen offsets in order.
    const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
    const __m128i rel = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(srcRow + first));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), _mm_shuffle_epi8(bytes, rel));
  }
  for (; i < width; i++) dst[i] = srcRow[xIndex[i]];
}

__attribute__((target("avx2"))) void HorizontalRowAvx2(uint32_t *dst, const uint32_t *srcRow, const int32_t *xIndex,
                                                       const int32_t *xFrac, int32_t srcWidth, int32_t width) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i last = _mm256_set1_epi32(srcWidth - 1);
  const __m256i one = _mm256_set1_epi32(1);
  int32_t i = 0;
  for (; i + 8 <= width; i += 8) {
    __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(xIndex + i));
    __m256i idx1 = _mm256_min_epi32(_mm256_add_epi32(idx, one), last);
    __m256i p0 = Fetch8(srcRow, idx, xIndex[i], xIndex[i + 7], srcWidth);
    __m256i p1 = Fetch8(srcRow, idx1, std::min(xIndex[i] + 1, srcWidth - 1), std::min(xIndex[i + 7] + 1, srcWidth - 1),
                        srcWidth);
    __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(xFrac + i));
    f = _mm256_or_si256(f, _mm256_slli_epi32(f, 16)); // fraction in both 16-bit halves
    __m256i fLo = _mm256_unpacklo_epi32(f, f), fHi = _mm256_unpackhi_epi32(f, f);
    __m256i lo = LerpLanes(_mm256_unpacklo_epi8(p0, zero), _mm256_unpacklo_epi8(p1, zero), fLo);
    __m256i hi = LerpLanes(_mm256_unpackhi_epi8(p0, zero), _mm256_unpackhi_epi8(p1, zero), fHi);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_packus_epi16(lo, hi));
  }
  for (; i < width; i++) {
    int32_t x = xIndex[i], x1 = std::min(x + 1, srcWidth - 1), fx = xFrac[i];
    uint32_t a = srcRow[x], b = srcRow[x1], r = 0;
    for (int shift = 0; shift < 32; shift += 8) {
      int32_t ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
      r |= uint32_t((ca + (((cb - ca) * fx) >> 16)) & 0xFF) << shift;
    }
    dst[i] = r;
  }
}

__attribute__((target("avx2"))) void VerticalBlendAvx2(uint32_t *dst, const uint32_t *top, const uint32_t *bottom,
                                                       int32_t fy, uint32_t colourMask, int32_t width) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i keep = _mm256_set1_epi32(int32_t(colourMask));
  int32_t i = 0;
  if (fy == 0) {
    for (; i + 8 <= width; i += 8) {
      __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(top + i));
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_and_si256(t, keep));
    }
  } else {
    const __m256i f = _mm256_set1_epi16(int16_t(fy));
    for (; i + 8 <= width; i += 8) {
      __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(top + i));
      __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bottom + i));
      __m256i lo = LerpLanes(_mm256_unpacklo_epi8(t, zero), _mm256_unpacklo_epi8(b, zero), f);
      __m256i hi = LerpLanes(_mm256_unpackhi_epi8(t, zero), _mm256_unpackhi_epi8(b, zero), f);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_and_si256(_mm256_packus_epi16(lo, hi), keep));
    }
  }
  for (; i < width; i++) {
    uint32_t a = top[i], b = bottom[i], r = 0;
    for (int shift = 0; shift < 32; shift += 8) {
      int32_t ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
      r |= uint32_t((ca + (((cb - ca) * fy) >> 16)) & 0xFF) << shift;
    }
    dst[i] = r & colourMask;
  }
}

namespace {

// Copies a row with streaming stores, for destinations too large to stay in the cache.
__attribute__((target("avx2"))) void StreamRow(uint32_t *dst, const uint32_t *src, int32_t width) {
  int32_t i = 0;
  for (; i < width && (reinterpret_cast<uintptr_t>(dst + i) & 31); i++) dst[i] = src[i];
  for (; i + 8 <= width; i += 8)
    _mm256_stream_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i)));
  for (; i < width; i++) dst[i] = src[i];
}

} // namespace

// Large destinations: each distinct source row is sampled once into the row cache, and
// every destination row that shows it is written with streaming stores.
__attribute__((target("avx2"))) void ScaleNearestStreamingAvx2(const qmScaleRequest *req) {
  const qmScaleBuffers *b = req->buffers;
  uint32_t *row = b->rowCache;
  int32_t cached = -1;
  for (int32_t j = 0; j < req->dstHeight; j++) {
    if (b->yIndex[j] != cached) {
      cached = b->yIndex[j];
      NearestRowAvx2(row, req->srcPixels + int64_t(cached) * req->srcPitch, b->xIndex, req->dstWidth, req->srcWidth);
    }
    StreamRow(req->dstPixels + int64_t(j) * req->dstPitch, row, req->dstWidth);
  }
  _mm_sfence();
}
