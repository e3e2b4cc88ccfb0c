#include "graphics/color_kernels.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/cpu.h"
#include "graphics/effect_kernels.h"
#include "graphics/pixelformat.h"

#ifdef QM_HAVE_AVX2
void ConvertYuvRowsAvx2(const qmYuvFrameRequest *req);
// The pixels of the row it converted (a multiple of sixteen); the caller finishes the rest.
int32_t ConvertYuvRowAvx2(const uint8_t *py, const uint8_t *pu, const uint8_t *pv, int32_t n, uint32_t *out, int32_t format);
// The pixels of the row it blended (a multiple of eight); the caller finishes the rest.
int32_t MixRowBgrxAvx2(const uint32_t *src, const uint32_t *dst, uint32_t *out, int32_t n, uint32_t ws);
// The same where the mask row's bit (from bit maskX on) is set; dst elsewhere.
int32_t MixRowMaskedBgrxAvx2(const uint32_t *src, const uint32_t *dst, uint32_t *out, int32_t n, uint32_t ws,
                             const uint8_t *mask, int32_t maskX);
#endif

namespace {

// Bytes per pixel that each format code is written with.
int32_t FormatBytes(int32_t format) {
  if (format >= 0 && format <= 7) return 2;
  if (format == 8 || format == 9) return 3;
  if (format >= 10 && format <= 13) return 4;
  return 0;
}

// Writes colour 0xRRGGBB at dst in the format; the caller has checked format and size agree.
inline void StorePixel(uint8_t *dst, uint32_t rgb, int32_t format, int32_t bytes) {
  if (bytes == 4) {
    const uint32_t v = ColorToPixel(rgb, format);
    std::memcpy(dst, &v, 4);
  } else if (bytes == 2) {
    const uint16_t v = uint16_t(ColorToPixel(rgb, format));
    std::memcpy(dst, &v, 2);
  } else {
    const uint8_t r = uint8_t(rgb >> 16), g = uint8_t(rgb >> 8), b = uint8_t(rgb);
    dst[0] = format == 8 ? r : b;
    dst[1] = g;
    dst[2] = format == 8 ? b : r;
  }
}

} // namespace

void GrayPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t format, int32_t pitch, int32_t threshold) {
  for (int32_t y = 0; y < height; y++) {
    uint32_t *row = pixels + int64_t(y) * pitch;
    for (int32_t x = 0; x < width; x++) {
      uint32_t g = uint32_t(PixelIntensity(PixelToCanonical(format, row[x])));
      if (threshold) g = g > 128 ? 255 : 0;
      row[x] = CanonicalToPixel(format, (g << 16) | (g << 8) | g);
    }
  }
}

void IndexToMonochromePixels(uint32_t *pixels, int32_t width, int32_t height, int32_t format, int32_t pitch,
                             const uint8_t *indexBytes) {
  const uint32_t white = (format == PIXFMT_XRGB || format == PIXFMT_XBGR)   ? 0x00FFFFFFu
                         : (format == PIXFMT_BGRX || format == PIXFMT_RGBX) ? 0xFFFFFF00u
                                                                            : 0;
  for (int32_t y = 0; y < height; y++) {
    uint32_t *row = pixels + int64_t(y) * pitch;
    const uint8_t *idx = indexBytes + int64_t(y) * width;
    for (int32_t x = 0; x < width; x++) row[x] = idx[x] ? white : 0;
  }
}

void TintPixels(const qmTintRequest *req) {
  for (int32_t y = 0; y < req->height; y++) {
    uint32_t *row = req->pixels + int64_t(req->y + y) * req->pitch + req->x;
    for (int32_t x = 0; x < req->width; x++)
      row[x] = CanonicalToPixel(req->format, BlendCanonical(PixelToCanonical(req->format, row[x]), req->tint, req->level));
  }
}

namespace {

// One pixel of the packed blend in the pictures' own word order: s + ((d - s) * w >> 8) is
// (s * (256 - w) + d * w) >> 8, and each 16-bit lane holds up to 255 * 256. Red and blue share one
// word, green and the unused byte the other, which comes out 0 as in the canonical path.
inline uint32_t MixBgrx(uint32_t s, uint32_t d, uint32_t ws, uint32_t wd) {
  const uint32_t rb = ((((s >> 8) & 0x00FF00FFu) * ws + ((d >> 8) & 0x00FF00FFu) * wd) >> 8) & 0x00FF00FFu;
  const uint32_t g = (((s & 0x00FF0000u) >> 8) * ws + ((d & 0x00FF0000u) >> 8) * wd) & 0x00FF0000u;
  return rb << 8 | g;
}

void MixRows(const qmMixRequest *req, bool vector) {
  // A level outside 0..255 would overflow the packed lanes: it counts as the nearest end.
  const int32_t w = 255 - std::clamp(req->level, 0, 255);
  const uint32_t ws = uint32_t(256 - w), wd = uint32_t(w);
  const bool packed = req->format == PIXFMT_BGRX;
  for (int32_t y = 0; y < req->height; y++) {
    const uint32_t *src = req->src + int64_t(y) * req->srcPitch;
    const uint32_t *dst = req->dst + int64_t(y) * req->dstPitch;
    uint32_t *out = req->out ? req->out + int64_t(y) * req->outPitch : req->dst + int64_t(y) * req->dstPitch;
    const uint8_t *mrow = req->mask ? req->mask + int64_t(y) * req->maskBytesPerRow : nullptr;
    int32_t x = QM_AVX2_HEAD(vector && packed, mrow ? MixRowMaskedBgrxAvx2(src, dst, out, req->width, ws, mrow, req->maskX)
                                                    : MixRowBgrxAvx2(src, dst, out, req->width, ws));
    for (; x < req->width; x++) {
      if (mrow && !GetMaskBit(mrow, req->maskX + x)) {
        out[x] = dst[x];
        continue;
      }
      if (packed) {
        out[x] = MixBgrx(src[x], dst[x], ws, wd);
      } else {
        const uint32_t s = PixelToCanonical(req->format, src[x]), d = PixelToCanonical(req->format, dst[x]);
        out[x] = CanonicalToPixel(req->format, BlendCanonical(s, d, w));
      }
    }
  }
}

} // namespace

void MixPixels(const qmMixRequest *req) { MixRows(req, true); }

void MixPixelsScalar(const qmMixRequest *req) { MixRows(req, false); }

void RgbToHsl(int32_t red, int32_t green, int32_t blue, double *hue, double *saturation, double *lightness) {
  const double scale = 0.00392156862745098;
  const double r = red * scale, g = green * scale, b = blue * scale;
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  *lightness = (mx + mn) / 2.0;
  if (mx == mn) {
    *hue = 0;
    *saturation = 0;
    return;
  }
  const double delta = mx - mn;
  *saturation = *lightness < 0.5 ? delta / (mx + mn) : delta / (2.0 - mx - mn);
  auto d = [&](double c) { return (mx - c) / 6.0 + delta / 2.0; };
  double h;
  if (r == mx) h = (d(b) - d(g)) / delta;
  else if (g == mx) h = 1.0 / 3.0 + (d(r) - d(b)) / delta;
  else h = 2.0 / 3.0 + (d(g) - d(r)) / delta;
  if (h < 0) h += 1.0;
  if (h > 1) h -= 1.0;
  *hue = h;
}

void ConvertYuvFrameScalar(const qmYuvFrameRequest *req) {
  const int32_t bytes = req->bytesPerPixel;
  if (FormatBytes(req->format) != bytes) return; // an unknown combination writes nothing
  for (int32_t y = 0; y < req->height; y++) {
    const uint8_t *py = req->planeY + int64_t(y) * req->bytesPerRowY;
    const uint8_t *pu = req->planeU + int64_t(y >> 1) * req->bytesPerRowU;
    const uint8_t *pv = req->planeV + int64_t(y >> 1) * req->bytesPerRowV;
    uint8_t *out = static_cast<uint8_t *>(req->dst) + int64_t(y) * req->dstPitch * bytes;
    for (int32_t x = 0; x < req->width; x++) StorePixel(out + int64_t(x) * bytes, YuvToRgb(py[x], pu[x >> 1], pv[x >> 1]), req->format, bytes);
  }
}

void ConvertYuvFrame(const qmYuvFrameRequest *req) {
  QM_AVX2_RETURN_IF(req->bytesPerPixel == 4 && req->format >= PIXFMT_XRGB && req->format <= PIXFMT_XBGR,
                    ConvertYuvRowsAvx2(req));
  ConvertYuvFrameScalar(req);
}

namespace {

// How a scaled frame steps through its source: columns in 16.16 fixed point, rows by a float sum.
struct YuvScaleSteps {
  int64_t xstep;
  float ystep;
};

// Requests that convert nothing give false.
bool StepsOf(const qmYuvScaleRequest *req, YuvScaleSteps *steps) {
  if (FormatBytes(req->format) != req->bytesPerPixel || req->srcWidth < 1 || req->srcHeight < 1 || req->dstWidth < 1 || req->dstHeight < 1)
    return false;
  steps->xstep = int64_t(float(req->srcWidth) / float(req->dstWidth) * 65536.0f);
  steps->ystep = float(req->srcHeight) / float(req->dstHeight);
  return true;
}

// The source row of each output row: single-precision sums drift, and the row never passes the
// last one.
inline int32_t SourceRow(float acc, const qmYuvScaleRequest *req) { return std::min(int32_t(acc), req->srcHeight - 1); }

// Whether the column that the last output pixel picks lies inside the source row; only widths
// near 2^24 take it past.
bool PicksInsideRow(const qmYuvScaleRequest *req, const YuvScaleSteps &steps) {
  return int32_t((int64_t(req->dstWidth - 1) * steps.xstep) >> 16) < req->srcWidth;
}

// n pixels of a source row, two to each chroma sample, in 32-bit words of the format.
void ConvertYuvRow(const uint8_t *py, const uint8_t *pu, const uint8_t *pv, int32_t n, uint32_t *out, int32_t format) {
  int32_t x = QM_AVX2_HEAD(true, ConvertYuvRowAvx2(py, pu, pv, n, out, format));
  for (; x < n; x++) out[x] = ColorToPixel(YuvToRgb(py[x], pu[x >> 1], pv[x >> 1]), format);
}

// A frame of 32-bit words by whole source rows, which pays where rows convert many pixels at a
// time. Output column x is source column pos >> 16 with the chroma of pos >> 17, the source
// pixel's own: each source row that an output row picks is converted whole, and the output row
// picks its words. An output row from the same source row as the one before is that row again.
[[maybe_unused]] void ScaleYuvFrameByRows(const qmYuvScaleRequest *req, const YuvScaleSteps &steps) {
  const int32_t w = req->dstWidth;
  std::vector<int32_t> column(static_cast<size_t>(w));
  int64_t pos = 0;
  for (int32_t x = 0; x < w; x++, pos += steps.xstep) column[size_t(x)] = int32_t(pos >> 16);
  std::vector<uint32_t> words(static_cast<size_t>(req->srcWidth));
  uint32_t *const dst = static_cast<uint32_t *>(req->dst);
  float acc = 0;
  for (int32_t i = 0, last = -1; i < req->dstHeight; i++, acc += steps.ystep) {
    uint32_t *out = dst + int64_t(i) * req->dstPitch;
    const int32_t sy = SourceRow(acc, req);
    if (sy == last) {
      std::memcpy(out, out - req->dstPitch, size_t(w) * 4);
      continue;
    }
    last = sy;
    ConvertYuvRow(req->planeY + int64_t(sy) * req->bytesPerRowY, req->planeU + int64_t(sy >> 1) * req->bytesPerRowU,
                  req->planeV + int64_t(sy >> 1) * req->bytesPerRowV, req->srcWidth, words.data(), req->format);
    for (int32_t x = 0; x < w; x++) out[x] = words[size_t(column[size_t(x)])];
  }
}

} // namespace

void ScaleYuvFrameScalar(const qmYuvScaleRequest *req) {
  YuvScaleSteps steps;
  if (!StepsOf(req, &steps)) return;
  const int32_t bytes = req->bytesPerPixel;
  float acc = 0;
  for (int32_t i = 0; i < req->dstHeight; i++, acc += steps.ystep) {
    const int32_t sy = SourceRow(acc, req);
    const uint8_t *py = req->planeY + int64_t(sy) * req->bytesPerRowY;
    const uint8_t *pu = req->planeU + int64_t(sy >> 1) * req->bytesPerRowU;
    const uint8_t *pv = req->planeV + int64_t(sy >> 1) * req->bytesPerRowV;
    uint8_t *out = static_cast<uint8_t *>(req->dst) + int64_t(i) * req->dstPitch * bytes;
    int64_t pos = 0;
    for (int32_t x = 0; x < req->dstWidth; x++, pos += steps.xstep) {
      const int64_t sx = pos >> 16, cx = pos >> 17;
      StorePixel(out + int64_t(x) * bytes, YuvToRgb(py[sx], pu[cx], pv[cx]), req->format, bytes);
    }
  }
}

void ScaleYuvFrame(const qmYuvScaleRequest *req) {
  YuvScaleSteps steps;
  QM_AVX2_RETURN_IF(req->bytesPerPixel == 4 && req->format >= PIXFMT_XRGB && req->format <= PIXFMT_XBGR && StepsOf(req, &steps) &&
                        PicksInsideRow(req, steps),
                    ScaleYuvFrameByRows(req, steps));
  ScaleYuvFrameScalar(req);
}

void ExpandPaletteRow(const uint8_t *indexBytes, uint32_t *dst, const uint32_t *palette, int32_t width, int32_t height,
                      int32_t srcBytesPerRow, int32_t planes) {
  auto nibbles = [](uint32_t c) { return (c & 0xF0F0F0) | ((c & 0xF0F0F0) >> 4); };
  for (int32_t y = 0; y < height; y++, indexBytes += srcBytesPerRow, dst += width) {
    if (planes == 6) {
      uint32_t held = nibbles(palette[0]);
      for (int32_t x = 0; x < width; x++) {
        const uint32_t data = indexBytes[x] & 0x0F;
        switch ((indexBytes[x] >> 4) & 3) {
        case 0: held = nibbles(palette[data]); break;
        case 1: held = (held & 0xFFFF00) | (data * 17); break;
        case 2: held = (held & 0x00FFFF) | ((data * 17) << 16); break;
        default: held = (held & 0xFF00FF) | ((data * 17) << 8); break;
        }
        dst[x] = held;
      }
    } else if (planes == 8) {
      uint32_t held = palette[0];
      for (int32_t x = 0; x < width; x++) {
        const uint32_t data = indexBytes[x] & 0x3F;
        switch (indexBytes[x] >> 6) {
        case 0: held = palette[data]; break;
        case 1: held = (held & 0xFFFF03) | (data << 2); break;
        case 2: held = (held & 0x03FFFF) | (data << 18); break;
        default: held = (held & 0xFF03FF) | (data << 10); break;
        }
        dst[x] = held;
      }
    } else {
      for (int32_t x = 0; x < width; x++) dst[x] = palette[indexBytes[x]];
    }
  }
}
