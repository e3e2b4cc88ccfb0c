// Vector row of the transform: four pixels per step, each computed with exactly the
// double operations of the one-pixel path, so the results are equal bit for bit.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "graphics/alpha_kernels.h"
#include "graphics/pixelformat.h"
#include "graphics/transform.h"

namespace {

__attribute__((target("avx2"))) inline __m256d Channel(__m128i p, int shift) {
  return _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(p, shift), _mm_set1_epi32(0xFF)));
}

} // namespace

// ia, ib, ic, id: the inverse matrix. Writes pixels [x0, x1) of row y into the row `out`; without
// smoothing the mask and alpha planes too, from the same source pixel. Gives the pixels written.
__attribute__((target("avx2"))) int32_t TransformRowAvx2(const qmTransformRequest *req, double ia, double ib, double ic,
                                                         double id, int32_t y, int32_t x0, int32_t x1,
                                                         const qmTransformRowOut *out) {
  const __m256d iaLanes = _mm256_set1_pd(ia), ibLanes = _mm256_set1_pd(ib);
  const __m256d e = _mm256_set1_pd(req->e);
  // Nearest samples take the source pixel under each pixel's centre, smooth ones weigh the
  // pixels around the point the pixel itself maps to.
  const double rowOffset = req->smooth ? 0.0 : 0.5;
  const __m256d rowX = _mm256_set1_pd(ic * (y + rowOffset - req->f));
  const __m256d rowY = _mm256_set1_pd(id * (y + rowOffset - req->f));
  const __m256d columnOffset = _mm256_set1_pd(rowOffset);
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0), half = _mm256_set1_pd(0.5);
  const __m256d maxX = _mm256_set1_pd(req->srcWidth - 1), maxY = _mm256_set1_pd(req->srcHeight - 1);
  const __m128i pitch = _mm_set1_epi32(req->srcPitch);
  const __m128i keep = _mm_set1_epi32(int32_t(~FourthByteMask(req->format)));
  const int *src = reinterpret_cast<const int *>(req->srcPixels);
  uint32_t *dst = out->pixels;
  const bool alpha = req->srcAlpha && out->alpha;
  uint8_t *dstAlpha = alpha ? out->alpha : nullptr;
  uint8_t *dstMask = out->mask;
  for (int32_t x = x0; x < x1; x += 4) {
    // Same operations, in the same order, as the one-pixel path.
    __m256d xd = _mm256_add_pd(_mm256_set1_pd(double(x)), _mm256_setr_pd(0, 1, 2, 3));
    __m256d tx = _mm256_sub_pd(_mm256_add_pd(xd, columnOffset), e);
    __m256d cx = _mm256_add_pd(_mm256_mul_pd(iaLanes, tx), rowX);
    __m256d cy = _mm256_add_pd(_mm256_mul_pd(ibLanes, tx), rowY);
    __m128i out;
    if (!req->smooth) {
      __m128i ix = _mm256_cvttpd_epi32(_mm256_max_pd(_mm256_min_pd(_mm256_floor_pd(cx), maxX), zero));
      __m128i iy = _mm256_cvttpd_epi32(_mm256_max_pd(_mm256_min_pd(_mm256_floor_pd(cy), maxY), zero));
      out = _mm_i32gather_epi32(src, _mm_add_epi32(_mm_mullo_epi32(iy, pitch), ix), 4);
      if (alpha || dstMask) {
        int32_t cols[4], rows[4];
        _mm_storeu_si128(reinterpret_cast<__m128i *>(cols), ix);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rows), iy);
        for (int32_t k = 0; k < 4 && x + k < x1; k++) {
          if (alpha) dstAlpha[x + k] = req->srcAlpha[int64_t(rows[k]) * req->srcAlphaBytesPerRow + cols[k]];
          if (dstMask)
            SetMaskBit(dstMask, x + k,
                       req->srcMask ? GetMaskBit(req->srcMask + int64_t(rows[k]) * req->srcMaskBytesPerRow, cols[k])
                                    : true);
        }
      }
    } else {
      const __m256d sx = cx, sy = cy;
      __m256d flx = _mm256_floor_pd(sx), fly = _mm256_floor_pd(sy);
      __m128i ix = _mm256_cvttpd_epi32(_mm256_max_pd(_mm256_min_pd(flx, maxX), zero));
      __m128i iy = _mm256_cvttpd_epi32(_mm256_max_pd(_mm256_min_pd(fly, maxY), zero));
      __m128i ix1 = _mm256_cvttpd_epi32(_mm256_max_pd(_mm256_min_pd(_mm256_add_pd(flx, one), maxX), zero));
      __m128i iy1 = _mm256_cvttpd_epi32(_mm256_max_pd(_mm256_min_pd(_mm256_add_pd(fly, one), maxY), zero));
      __m128i row0 = _mm_mullo_epi32(iy, pitch), row1 = _mm_mullo_epi32(iy1, pitch);
      __m128i p00 = _mm_i32gather_epi32(src, _mm_add_epi32(row0, ix), 4);
      __m128i p10 = _mm_i32gather_epi32(src, _mm_add_epi32(row0, ix1), 4);
      __m128i p01 = _mm_i32gather_epi32(src, _mm_add_epi32(row1, ix), 4);
      __m128i p11 = _mm_i32gather_epi32(src, _mm_add_epi32(row1, ix1), 4);
      __m256d fx = _mm256_sub_pd(sx, flx), fy = _mm256_sub_pd(sy, fly);
      __m256d gx = _mm256_sub_pd(one, fx), gy = _mm256_sub_pd(one, fy);
      out = _mm_setzero_si128();
      for (int shift = 0; shift < 32; shift += 8) {
        __m256d top = _mm256_add_pd(_mm256_mul_pd(Channel(p00, shift), gx), _mm256_mul_pd(Channel(p10, shift), fx));
        __m256d bottom = _mm256_add_pd(_mm256_mul_pd(Channel(p01, shift), gx), _mm256_mul_pd(Channel(p11, shift), fx));
        __m256d v = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(top, gy), _mm256_mul_pd(bottom, fy)), half);
        __m128i c = _mm_and_si128(_mm256_cvttpd_epi32(v), _mm_set1_epi32(0xFF));
        out = _mm_or_si128(out, _mm_slli_epi32(c, shift));
      }
      out = _mm_and_si128(out, keep);
    }
    if (x + 4 <= x1) {
      _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), out);
    } else {
      uint32_t tmp[4];
      _mm_storeu_si128(reinterpret_cast<__m128i *>(tmp), out);
      std::memcpy(dst + x, tmp, size_t(x1 - x) * 4);
    }
  }
  return x1 > x0 ? x1 - x0 : 0;
}
