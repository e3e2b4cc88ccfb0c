#include "graphics/transition_kernels.h"

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "graphics/cpu.h"

#ifdef QM_HAVE_AVX2
int32_t ThresholdMaskRowAvx2(const uint8_t *map, const uint8_t *src, uint8_t *dst, int32_t width, int32_t level,
                             uint8_t flip);
int32_t GatherRowAvx2(const uint32_t *src, const int32_t *from, uint32_t *dst, int32_t n);
int32_t RevealRowAvx2(const uint8_t *map, const uint8_t *mask, int32_t maskX, const uint32_t *shown,
                      const uint32_t *hidden, uint32_t *out, int32_t width, int32_t level, uint32_t colorBits);
#endif

namespace {

inline bool MaskBit(const uint8_t *row, int32_t x) { return row[x >> 3] & (0x80 >> (x & 7)); }
inline void SetMaskBit(uint8_t *row, int32_t x) { row[x >> 3] |= uint8_t(0x80 >> (x & 7)); }
inline void ClearMaskBit(uint8_t *row, int32_t x) { row[x >> 3] &= uint8_t(~(0x80 >> (x & 7))); }

// Alpha output: each byte is the source byte masked by the pixel's visibility, in a form the
// compiler turns into vector code.
void ThresholdAlphaRow(const uint8_t *map, const uint8_t *src, uint8_t *dst,
                       int32_t width, int32_t level, uint8_t flip) {
  for (int32_t x = 0; x < width; x++) dst[x] = src[x] & (uint8_t(-int32_t(map[x] < level)) ^ flip);
}

// Mask output, eight pixels to a byte, from pixel x on (a multiple of 8); bits of the last byte
// past the width are kept.
void ThresholdMaskRow(const uint8_t *map, const uint8_t *src, uint8_t *dst,
                      int32_t x, int32_t width, int32_t level, uint8_t flip) {
  for (; x < width; x += 8) {
    const int32_t n = width - x < 8 ? width - x : 8;
    uint8_t bits = 0;
    for (int32_t i = 0; i < n; i++) bits |= uint8_t((map[x + i] < level) << (7 - i));
    bits ^= flip;
    if (src) bits &= src[x >> 3];
    const uint8_t inside = uint8_t(0xFF00 >> n);
    dst[x >> 3] = uint8_t((dst[x >> 3] & ~inside) | (bits & inside));
  }
}

void ThresholdRows(const qmThresholdRequest *req, int32_t level, bool vector) {
  const uint8_t flip = req->reverse ? 0xFF : 0;
  for (int32_t y = 0; y < req->height; y++) {
    const uint8_t *map = req->map + size_t(y) * size_t(req->width);
    uint8_t *dst = req->dst + size_t(y) * size_t(req->dstBytesPerRow);
    const uint8_t *src = req->src ? req->src + size_t(y) * size_t(req->srcBytesPerRow) : nullptr;
    if (req->alphaOutput) {
      ThresholdAlphaRow(map, src, dst, req->width, level, flip);
      continue;
    }
    // Levels outside 1..255 show all or nothing: the plain row handles them.
    const int32_t x = QM_AVX2_HEAD(vector && level >= 1 && level <= 255, ThresholdMaskRowAvx2(map, src, dst, req->width, level, flip));
    ThresholdMaskRow(map, src, dst, x, req->width, level, flip);
  }
}

}  // namespace

void ThresholdPlane(const qmThresholdRequest *req, int32_t level) { ThresholdRows(req, level, true); }

void ThresholdPlaneScalar(const qmThresholdRequest *req, int32_t level) { ThresholdRows(req, level, false); }

namespace {

void RevealRows(const qmRevealRequest *req, int32_t level, bool vector) {
  for (int32_t y = 0; y < req->height; y++) {
    const uint8_t *map = req->map + int64_t(y) * req->mapBytesPerRow;
    const uint8_t *mask = req->mask ? req->mask + int64_t(y) * req->maskBytesPerRow : nullptr;
    const uint32_t *shown = req->shown + int64_t(y) * req->shownPitch;
    const uint32_t *hidden = req->hidden + int64_t(y) * req->hiddenPitch;
    uint32_t *out = req->out + int64_t(y) * req->outPitch;
    int32_t x = QM_AVX2_HEAD(vector, RevealRowAvx2(map, mask, req->maskX, shown, hidden, out, req->width, level, req->colorBits));
    for (; x < req->width; x++) {
      const bool show = map[x] < level && (!mask || MaskBit(mask, req->maskX + x));
      out[x] = show ? shown[x] & req->colorBits : hidden[x];
    }
  }
}

}  // namespace

void RevealPixels(const qmRevealRequest *req, int32_t level) { RevealRows(req, level, true); }

void RevealPixelsScalar(const qmRevealRequest *req, int32_t level) { RevealRows(req, level, false); }

void LayAlphaPixelsOver(const qmAlphaOverRequest *req) {
  for (int32_t y = 0; y < req->height; y++) {
    const uint32_t *over = req->over + int64_t(y) * req->overPitch;
    const uint32_t *under = req->under + int64_t(y) * req->underPitch;
    const uint8_t *ao = req->overAlpha + int64_t(y) * req->overAlphaBytesPerRow;
    const uint8_t *au = req->underAlpha + int64_t(y) * req->underAlphaBytesPerRow;
    uint32_t *out = req->out + int64_t(y) * req->outPitch;
    uint8_t *alpha = req->outAlpha + int64_t(y) * req->outAlphaBytesPerRow;
    for (int32_t x = 0; x < req->width; x++) {
      // Weights of the two words in 255ths squared; their sum is the joined alpha's.
      const uint32_t wo = 255u * ao[x], wu = uint32_t(au[x]) * (255u - ao[x]), sum = wo + wu;
      alpha[x] = uint8_t((sum + 127) / 255);
      if (!wo || !wu) {
        out[x] = wo ? over[x] : under[x];
        continue;
      }
      uint32_t word = 0;
      for (int32_t shift = 0; shift < 32; shift += 8) {
        const uint32_t o = (over[x] >> shift) & 0xFF, u = (under[x] >> shift) & 0xFF;
        word |= ((o * wo + u * wu + sum / 2) / sum) << shift;
      }
      out[x] = word;
    }
  }
}

void CopyStripPixels(const qmWaveRequest *req, int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t dx,
                     int32_t dy) {
  for (int32_t row = 0; row < height; row++) {
    const uint32_t *src = req->src + size_t(sy + row) * size_t(req->srcPitch) + sx;
    uint32_t *dst = req->dst + size_t(dy + row) * size_t(req->dstPitch) + dx;
    if (req->srcMask) {
      const uint8_t *sm = req->srcMask + size_t(sy + row) * size_t(req->srcMaskBytesPerRow);
      uint8_t *dm = req->dstMask ? req->dstMask + size_t(dy + row) * size_t(req->dstMaskBytesPerRow) : nullptr;
      for (int32_t i = 0; i < width; i++) {
        if (MaskBit(sm, sx + i)) {
          dst[i] = src[i];
          if (dm) SetMaskBit(dm, dx + i);
        } else if (dm) {
          ClearMaskBit(dm, dx + i);
        }
      }
    } else if (req->srcAlpha) {
      const uint8_t *sa = req->srcAlpha + size_t(sy + row) * size_t(req->srcAlphaBytesPerRow) + sx;
      uint8_t *da = req->dstAlpha ? req->dstAlpha + size_t(dy + row) * size_t(req->dstAlphaBytesPerRow) + dx : nullptr;
      for (int32_t i = 0; i < width; i++) {
        if (sa[i]) {
          dst[i] = src[i];
          if (da) da[i] = sa[i];
        } else if (da) {
          da[i] = 0;
        }
      }
    } else {
      std::memmove(dst, src, size_t(width) * sizeof(uint32_t));
    }
  }
}

namespace {

void WaveLines(qmWaveRequest *req, bool vector) {
  req->linesCopied = 0;
  req->firstLine = kNoWaveLine;
  req->positionReached = req->position;
  const int32_t n = req->strips;
  if (n <= 0 || req->bytesPerPixel != 4) return;
  const double step = 6.283185307179586 / n;
  const int64_t lines = req->vertical ? req->width : req->height;
  // Destination and source line of each strip that lies inside on both ends.
  std::vector<std::pair<int32_t, int32_t>> pairs;
  pairs.reserve(size_t(n));
  for (int32_t i = 0; i < n; i++) {
    const int64_t to = int64_t(req->position) - n + 1 + i;
    // In doubles first: a wild offset must not overflow the line number.
    const double from = double(req->position) + std::trunc(req->offsets[i] / step);
    if (to < 0 || to >= lines || !(from >= 0 && from < double(lines))) continue;
    pairs.emplace_back(int32_t(to), int32_t(from));
  }
  if (pairs.empty()) return;
  req->firstLine = pairs.front().first;
  req->linesCopied = int32_t(pairs.size());
  if (!req->vertical) {
    for (auto [d, s] : pairs) CopyStripPixels(req, 0, s, req->width, 1, 0, d);
    return;
  }
  if (req->srcMask || req->srcAlpha) {
    // Columns move: row by row, so that each row is read and written once.
    for (int32_t y = 0; y < req->height; y++)
      for (auto [d, s] : pairs) CopyStripPixels(req, s, y, 1, 1, d, y);
    return;
  }
  // The columns written lie side by side (the strips run in order and only the ends fall
  // outside): each row is one run gathered from the source columns.
  std::vector<int32_t> from(pairs.size());
  bool sideBySide = true;
  for (size_t k = 0; k < pairs.size(); k++) {
    from[k] = pairs[k].second;
    sideBySide = sideBySide && pairs[k].first == pairs[0].first + int32_t(k);
  }
  const int32_t count = int32_t(pairs.size()), first = pairs.front().first;
  for (int32_t y = 0; y < req->height; y++) {
    const uint32_t *src = req->src + size_t(y) * size_t(req->srcPitch);
    uint32_t *dst = req->dst + size_t(y) * size_t(req->dstPitch);
    if (!sideBySide) {
      for (auto [d, s] : pairs) dst[d] = src[s];
      continue;
    }
    int32_t k = QM_AVX2_HEAD(vector, GatherRowAvx2(src, from.data(), dst + first, count));
    for (; k < count; k++) dst[first + k] = src[from[k]];
  }
}

}  // namespace

void WavePixels(qmWaveRequest *req) { WaveLines(req, true); }

void WavePixelsScalar(qmWaveRequest *req) { WaveLines(req, false); }
