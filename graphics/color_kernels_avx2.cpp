// Vector rows of the YUV frame conversion to 32-bit pixels, sixteen pixels per step. Each channel
// is the integer quotient n / d of YuvRed, YuvGreen and YuvBlue, limited to 0..255, computed
// exactly by reducing it first:
//
// Red and blue. c Y / d = 85 Y / 73 in both (1904000 = 22400 * 85, 1635200 = 22400 * 73; 952000
// = 11200 * 85, 817600 = 11200 * 73). With the chroma term t = g a + b, g the common factor and
// 0 <= b < g, n = g (85 Y + a) + b, so floor(n / d) = floor((85 Y + a) / 73): b / g < 1 cannot
// carry a whole multiple of 73. n <= 0 gives 0 and n >= 256 d gives 255 exactly when that
// quotient is <= 0 or >= 256, so the channel is floor((85 Y + a) / 73) limited to 0..255, in
// 16-bit lanes: 85 Y + a is summed with signed saturation (any sum from 73 * 256 up stays there)
// and divided by a multiply-high with 28729 / 2^21, which is floor(m / 73) for 0 <= m < 73 * 256,
// at least 256 above that and negative below 0. The reduced chroma terms a come from one
// 32-bit multiply and shift, checked against the floor for every sample when compiling.
//
// Green. Both factors are even (gcd 2): floor(n / 3287200) = floor(m / 1643600) with m = 1913781 Y
// + a, a = floor(t / 2), in 32-bit lanes. A float estimate of m / 1643600 + 1/2 is within 2^-13 of
// its exact value, so it truncates to the quotient or one more; one exact integer remainder
// r = m - q d decides the step down (r < 0).
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "graphics/color_kernels.h"
#include "graphics/pixelformat.h"

namespace {

constexpr int32_t kGreenY = 1913781, kGreenD = 1643600; // YuvGreen's factor of Y and divisor, halved
constexpr int32_t kDiv73 = 28729, kDiv73Shift = 5;      // floor(m / 73) = (m * 28729) >> 21
static_assert(2 * kGreenY == 3827562 && 2 * kGreenD == 3287200);
static_assert(1904000 == 22400 * 85 && 1635200 == 22400 * 73 && 952000 == 11200 * 85 && 817600 == 11200 * 73);
// 28729 / 2^21 exceeds 1 / 73 by less than 1 / (73 * 73 * 256): exact below 73 * 256.
static_assert(int64_t(kDiv73) * 73 > (int64_t(1) << 21) && (int64_t(kDiv73) * 73 - (int64_t(1) << 21)) * 73 * 256 < (int64_t(1) << 21));

// The reduced red and blue chroma terms floor((factor c - offset) / g) of a sample c, as
// (c k + e) >> shift in 32-bit lanes: an integer line that falls within the floor's step for each
// of the 256 samples, checked here for all of them.
struct ChromaLine {
  int64_t factor, offset, g; // the term of YuvRed or YuvBlue and its common factor with the divisor
  int32_t k, e, shift;
};
constexpr ChromaLine kRedLine{2609823, 363703744, 22400, 1908899, -266023296, 14};
constexpr ChromaLine kBlueLine{1649289, 225932192, 11200, 603169, -82626688, 12};

constexpr bool LineIsExact(const ChromaLine &l) {
  for (int64_t c = 0; c < 256; c++) {
    const int64_t t = l.factor * c - l.offset, q = t / l.g - (t % l.g < 0); // the floor
    const int64_t line = c * l.k + l.e;
    if (line < INT32_MIN || line > INT32_MAX || (line >> l.shift) != q) return false;
  }
  return true;
}
static_assert(LineIsExact(kRedLine) && LineIsExact(kBlueLine));

// The reduced term of eight samples c, each repeated for the two pixels it serves, in 16-bit
// lanes in the order of Row16: pixels 0..3, 8..11, then 4..7, 12..15.
__attribute__((target("avx2"))) inline __m256i Reduced16(__m256i c, const ChromaLine &l) {
  const __m256i q = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(c, _mm256_set1_epi32(l.k)), _mm256_set1_epi32(l.e)), l.shift);
  const __m128i a = _mm_packs_epi32(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1)); // within -20173..17378
  const __m128i pairs = _mm_shuffle_epi32(a, 0xD8); // samples 0, 1, 4, 5, 2, 3, 6, 7
  return _mm256_set_m128i(_mm_unpackhi_epi16(pairs, pairs), _mm_unpacklo_epi16(pairs, pairs));
}

// The reduced chroma terms of eight samples, each repeated for the two pixels it serves: red and
// blue for sixteen pixels in 16-bit lanes; green for pixels 0..7 and 8..15 exactly (32-bit) and as
// the float estimate's share, a / 1643600 + 1/2.
struct Chroma16 {
  __m256i red, blue, green[2];
  __m256 greenEstimate[2];
};

__attribute__((target("avx2"))) inline Chroma16 ChromaOf(const uint8_t *pu, const uint8_t *pv) {
  const __m256i U = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(pu)));
  const __m256i V = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(pv)));
  Chroma16 c;
  c.red = Reduced16(V, kRedLine);
  c.blue = Reduced16(U, kBlueLine);
  // The green chroma term lies within -562541230..447306710: exact in 32-bit lanes.
  const __m256i t = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(U, _mm256_set1_epi32(-1287801)), _mm256_mullo_epi32(V, _mm256_set1_epi32(-2672387))),
                                     _mm256_set1_epi32(447306710));
  const __m256i a = _mm256_srai_epi32(t, 1);
  const __m256 estimate = _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(a), _mm256_set1_ps(1.0f / float(kGreenD))), _mm256_set1_ps(0.5f));
  const __m256i first = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3), second = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
  c.green[0] = _mm256_permutevar8x32_epi32(a, first), c.green[1] = _mm256_permutevar8x32_epi32(a, second);
  c.greenEstimate[0] = _mm256_permutevar8x32_ps(estimate, first), c.greenEstimate[1] = _mm256_permutevar8x32_ps(estimate, second);
  return c;
}

// Green quotients of eight pixels (not yet limited to 0..255). The estimate of m / d + 1/2 takes
// seven roundings (the factor, its product with Y, a as a float, 1 / d, their product, the two
// sums), none above 2^-16 at these magnitudes, so it is within 2^-13: where m >= 0 it truncates
// to floor(m / d) or one more, and a negative remainder m - q d takes the one back. Where m < 0
// every step keeps the result at or below 0, which gives 0 as the quotient does.
__attribute__((target("avx2"))) inline __m256i Green8(__m256i y, __m256i a, __m256 estimate) {
  const __m256 e = _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(y), _mm256_set1_ps(float(kGreenY) / float(kGreenD))), estimate);
  const __m256i q = _mm256_cvttps_epi32(e);
  const __m256i m = _mm256_add_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(kGreenY)), a); // below 2^30 in magnitude
  const __m256i r = _mm256_sub_epi32(m, _mm256_mullo_epi32(q, _mm256_set1_epi32(kGreenD)));
  return _mm256_add_epi32(q, _mm256_srai_epi32(r, 31));
}

__attribute__((target("avx2"))) inline __m256i RedOrBlue16(__m256i y85, __m256i a) {
  return _mm256_srai_epi16(_mm256_mulhi_epi16(_mm256_adds_epi16(y85, a), _mm256_set1_epi16(kDiv73)), kDiv73Shift);
}

// Sixteen pixels of one row. The 16-bit lanes hold pixels 0..3, 8..11 in the low half and 4..7,
// 12..15 in the high one (the order in which the 32-bit green quotients pack, and from which the
// words unpack without crossing halves). The quotients are limited to 0..255 by the unsigned
// saturation of the byte packing, laid out as bytes blue, green, red, 0 and moved into the
// format's order.
__attribute__((target("avx2"))) inline void Row16(const uint8_t *py, const Chroma16 &c, __m256i order, uint32_t *out) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(py));
  const __m256i Y = _mm256_cvtepu8_epi16(_mm_shuffle_epi32(bytes, 0xD8));
  // 85 Y as a byte multiply-add (Y times 85 plus 0 times 0): one instruction where the compiler
  // would split a multiply by 85 into shifts and adds.
  const __m256i y85 = _mm256_maddubs_epi16(Y, _mm256_set1_epi16(85));
  const __m256i r = RedOrBlue16(y85, c.red), b = RedOrBlue16(y85, c.blue);
  const __m256i g0 = Green8(_mm256_cvtepu8_epi32(bytes), c.green[0], c.greenEstimate[0]);
  const __m256i g1 = Green8(_mm256_cvtepu8_epi32(_mm_srli_si128(bytes, 8)), c.green[1], c.greenEstimate[1]);
  const __m256i g = _mm256_packs_epi32(g0, g1);
  // Per 128-bit half: eight blue bytes then eight green; red then zeros.
  const __m256i zero = _mm256_setzero_si256();
  const __m256i bg = _mm256_packus_epi16(b, g);
  const __m256i r0 = _mm256_packus_epi16(r, zero);
  const __m256i bgPairs = _mm256_unpacklo_epi8(bg, _mm256_srli_si256(bg, 8));
  const __m256i r0Pairs = _mm256_unpacklo_epi8(r0, zero);
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), _mm256_shuffle_epi8(_mm256_unpacklo_epi16(bgPairs, r0Pairs), order));
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 8), _mm256_shuffle_epi8(_mm256_unpackhi_epi16(bgPairs, r0Pairs), order));
}

// The byte shuffle from blue, green, red, 0 into the format's byte order (-1: a 0 byte), in both
// 128-bit halves.
__attribute__((target("avx2"))) __m256i ByteOrderOf(int32_t format) {
  int8_t b = 0, g = 1, r = 2, z = 3; // byte of each channel within the little-endian word
  switch (format) {
  case PIXFMT_BGRX: z = 0, r = 1, g = 2, b = 3; break;
  case PIXFMT_RGBX: z = 0, b = 1, g = 2, r = 3; break;
  case PIXFMT_XBGR: r = 0, g = 1, b = 2, z = 3; break;
  default: break;
  }
  int8_t m[16];
  for (int8_t p = 0; p < 4; p++) m[4 * p + b] = int8_t(4 * p), m[4 * p + g] = int8_t(4 * p + 1), m[4 * p + r] = int8_t(4 * p + 2), m[4 * p + z] = -1;
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(m)));
}

} // namespace

// The two rows that share a chroma row are done together, so each chroma term is computed once.
__attribute__((target("avx2"))) void ConvertYuvRowsAvx2(const qmYuvFrameRequest *req) {
  const __m256i order = ByteOrderOf(req->format);
  const int32_t width = req->width;
  for (int32_t y = 0; y < req->height; y += 2) {
    const int32_t rows = std::min(2, req->height - y);
    const uint8_t *py = req->planeY + int64_t(y) * req->bytesPerRowY;
    const uint8_t *pu = req->planeU + int64_t(y >> 1) * req->bytesPerRowU;
    const uint8_t *pv = req->planeV + int64_t(y >> 1) * req->bytesPerRowV;
    uint32_t *out = static_cast<uint32_t *>(req->dst) + int64_t(y) * req->dstPitch;
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
      const Chroma16 c = ChromaOf(pu + x / 2, pv + x / 2);
      Row16(py + x, c, order, out + x);
      if (rows == 2) Row16(py + req->bytesPerRowY + x, c, order, out + req->dstPitch + x);
    }
    for (int32_t k = 0; k < rows; k++)
      for (int32_t i = x; i < width; i++) {
        out[int64_t(k) * req->dstPitch + i] = ColorToPixel(YuvToRgb(py[int64_t(k) * req->bytesPerRowY + i], pu[i >> 1], pv[i >> 1]), req->format);
      }
  }
}

// A row of n pixels, two to each chroma sample (a source row of a scaled frame), sixteen at a
// time: gives the pixels done, and the caller finishes the rest.
__attribute__((target("avx2"))) int32_t ConvertYuvRowAvx2(const uint8_t *py, const uint8_t *pu, const uint8_t *pv, int32_t n,
                                                          uint32_t *out, int32_t format) {
  const __m256i order = ByteOrderOf(format);
  int32_t x = 0;
  for (; x + 16 <= n; x += 16) Row16(py + x, ChromaOf(pu + x / 2, pv + x / 2), order, out + x);
  return x;
}

namespace {

// Eight pixels of the packed blend: each byte widened to a 16-bit lane, s * ws + d * (256 - ws)
// (at most 255 * 256) shifted down by 8, the unused byte cleared.
__attribute__((target("avx2"))) inline __m256i MixEight(__m256i s, __m256i d, __m256i srcWeight, __m256i dstWeight) {
  const __m256i zero = _mm256_setzero_si256(), keep = _mm256_set1_epi32(int32_t(0xFFFFFF00u));
  const __m256i lo = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(s, zero), srcWeight),
                                                        _mm256_mullo_epi16(_mm256_unpacklo_epi8(d, zero), dstWeight)),
                                       8);
  const __m256i hi = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(s, zero), srcWeight),
                                                        _mm256_mullo_epi16(_mm256_unpackhi_epi8(d, zero), dstWeight)),
                                       8);
  return _mm256_and_si256(_mm256_packus_epi16(lo, hi), keep);
}

} // namespace

// MixPixels' packed blend of 32-bit pixels into out (which may be dst), eight at a time.
__attribute__((target("avx2"))) int32_t MixRowBgrxAvx2(const uint32_t *src, const uint32_t *dst, uint32_t *out, int32_t n,
                                                      uint32_t ws) {
  const __m256i srcWeight = _mm256_set1_epi16(int16_t(ws)), dstWeight = _mm256_set1_epi16(int16_t(256 - ws));
  int32_t x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(dst + x));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), MixEight(s, d, srcWeight, dstWeight));
  }
  return x;
}

// The same through a mask row (most significant bit first, the row's pixel x at bit maskX + x):
// pixels under a clear bit take dst. The eight bits of a step straddle at most two bytes, and the
// second is read only when some of them lie in it, so the row is never read past its last pixel.
__attribute__((target("avx2"))) int32_t MixRowMaskedBgrxAvx2(const uint32_t *src, const uint32_t *dst, uint32_t *out,
                                                            int32_t n, uint32_t ws, const uint8_t *mask, int32_t maskX) {
  const __m256i srcWeight = _mm256_set1_epi16(int16_t(ws)), dstWeight = _mm256_set1_epi16(int16_t(256 - ws));
  const __m256i bitOfLane = _mm256_setr_epi32(0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01);
  const __m256i keep = _mm256_set1_epi32(int32_t(0xFFFFFF00u));
  const bool whole = ws == 256;
  int32_t x = 0;
  for (; x + 8 <= n; x += 8) {
    const int32_t bit = maskX + x, shift = bit & 7;
    uint32_t bits = uint32_t(mask[bit >> 3]) << shift;
    if (shift) bits |= uint32_t(mask[(bit >> 3) + 1]) >> (8 - shift);
    bits &= 0xFF;
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(dst + x));
    if (!bits && !whole) {
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), d);
      continue;
    }
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x));
    // The full source weight (a selection through the mask) is the source with its unused byte
    // cleared, and goes without branches: a dissolve's mask bits are random, and a guess missed
    // costs more than the blend.
    const __m256i mixed = whole ? _mm256_and_si256(s, keep) : MixEight(s, d, srcWeight, dstWeight);
    if (bits == 0xFF && !whole) {
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), mixed);
      continue;
    }
    const __m256i lanes = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(int32_t(bits)), bitOfLane), bitOfLane);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), _mm256_blendv_epi8(d, mixed, lanes));
  }
  return x;
}
