#include "graphics/effect_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "graphics/color_kernels.h"
#include "graphics/cpu.h"
#include "graphics/pixelformat.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

#ifdef QM_HAVE_AVX2
void ConvolveTapsAvx2(const double *const *taps, const double *weights, int32_t count, int32_t n, double *out, int32_t truncate);
void PackChannelsAvx2(const double *r, const double *g, const double *b, int32_t n, int32_t shiftR, int32_t shiftG,
                      int32_t shiftB, uint32_t *out);
void SplitChannelsAvx2(const uint32_t *src, int64_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB, double *r, double *g,
                       double *b);
// A quit is seen before it starts; then it runs whole.
uint32_t BlurRowsCertifiedAvx2(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, const double *kernel, int32_t w,
                               int32_t shiftR, int32_t shiftG, int32_t shiftB, const uint8_t *flat, const qmCancel &cancel);
// The pixels of the row it modulated (a multiple of four); the caller finishes the rest.
int32_t ModulateRowAvx2(uint32_t *row, int32_t width, int32_t shiftR, int32_t shiftG, int32_t shiftB, double hueShift,
                        double satFactor, double lightFactor);
#endif

namespace {

constexpr double kSqrt2Pi = 2.5066282746310002;

struct MemFreeDeleter {
  void operator()(void *p) const { MemFree(p); }
};
using PaddedPixels = std::unique_ptr<uint32_t, MemFreeDeleter>;

// Where red, green and blue sit in a 32-bit word of each format, so the inner loops shift
// instead of converting every word.
struct ChannelShifts {
  int r, g, b;
};

ChannelShifts ShiftsOf(int32_t format) {
  switch (format) {
  case PIXFMT_BGRX: return {8, 16, 24};
  case PIXFMT_RGBX: return {24, 16, 8};
  case PIXFMT_XBGR: return {0, 8, 16};
  default: return {16, 8, 0};
  }
}

inline double Chan(uint32_t v, int shift) { return double((v >> shift) & 0xFF); }

// Calls f(canonical colour) for every pixel and stores the canonical result with the fourth byte 0.
template <typename F> void MapPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t format, F f) {
  for (int32_t y = 0; y < height; y++) {
    uint32_t *row = pixels + int64_t(y) * pitch;
    for (int32_t x = 0; x < width; x++) row[x] = CanonicalToPixel(format, f(PixelToCanonical(format, row[x])) & 0xFFFFFF);
  }
}

inline uint32_t Rgb(int32_t r, int32_t g, int32_t b) { return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b); }

// A picture's rows as three planes of doubles, one row at a time, kept in a ring of the last
// `count` padded rows so every padded row is converted once per pass.
struct PlaneRing {
  int32_t count;
  std::vector<double> data; // count rows x 3 planes x capacity
  int64_t capacity;
  PlaneRing(int32_t rows, int64_t n) : count(rows), data(size_t(rows * 3 * n)), capacity(n) {}
  double *Plane(int64_t row, int32_t channel) { return data.data() + ((row % count) * 3 + channel) * capacity; }
};

// Rows of a picture in padded coordinates: padded (x, y) is the picture's (x - colPad, y - rowPad)
// with the edge rows and columns repeated outside it.
struct RowSource {
  const uint32_t *pixels;
  int32_t width, height, pitch;
  int32_t rowPad, colPad;
  void Load(int64_t py, int64_t px, int64_t n, const ChannelShifts &sh, double *r, double *g, double *b) const {
    const uint32_t *row = pixels + std::clamp<int64_t>(py - rowPad, 0, height - 1) * pitch;
    const int64_t first = px - colPad; // picture column of the first element
    const int64_t lo = std::clamp<int64_t>(-first, 0, n), hi = std::clamp<int64_t>(width - first, lo, n);
    if (hi > lo) SplitChannels(row + first + lo, hi - lo, sh.r, sh.g, sh.b, r + lo, g + lo, b + lo);
    for (int64_t i = 0; i < lo; i++) r[i] = Chan(row[0], sh.r), g[i] = Chan(row[0], sh.g), b[i] = Chan(row[0], sh.b);
    const uint32_t last = row[width - 1];
    for (int64_t i = hi; i < n; i++) r[i] = Chan(last, sh.r), g[i] = Chan(last, sh.g), b[i] = Chan(last, sh.b);
  }
};

// Output row y of a pass: `taps` (row, column) offsets with their weights, summed per channel
// and written clamped and truncated.
void ConvolveRow(PlaneRing &ring, int64_t y, const std::vector<std::pair<int32_t, int32_t>> &taps, const double *kernel,
                 int32_t width, std::vector<double> (&sums)[3], std::vector<const double *> &ptrs, uint32_t *out,
                 const ChannelShifts &sh) {
  for (int32_t c = 0; c < 3; c++) {
    for (size_t k = 0; k < taps.size(); k++) ptrs[k] = ring.Plane(y + taps[k].first, c) + taps[k].second;
    ConvolveTaps(ptrs.data(), kernel, int32_t(taps.size()), width, sums[c].data());
  }
  PackChannels(sums[0].data(), sums[1].data(), sums[2].data(), width, sh.r, sh.g, sh.b, out);
}

// One convolution pass: rowsUsed padded rows and columnsUsed padded columns feed each output
// pixel. Every padded row is converted once, into a ring; columns go in strips so that the ring
// stays small whatever the kernel's size.
uint32_t ConvolvePass(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, const RowSource &src,
                      int32_t rowsUsed, int32_t columnsUsed, const std::vector<std::pair<int32_t, int32_t>> &taps,
                      const double *kernel, const ChannelShifts &sh, const qmCancel &cancel) {
  const int32_t strip = std::min(width, 512);
  PlaneRing ring(rowsUsed, int64_t(strip) + columnsUsed - 1);
  std::vector<double> sums[3] = {std::vector<double>(strip), std::vector<double>(strip), std::vector<double>(strip)};
  std::vector<const double *> ptrs(taps.size());
  for (int32_t x0 = 0; x0 < width; x0 += strip) {
    const int32_t n = std::min(strip, width - x0);
    const int64_t len = int64_t(n) + columnsUsed - 1;
    auto load = [&](int64_t r) { src.Load(r, x0, len, sh, ring.Plane(r, 0), ring.Plane(r, 1), ring.Plane(r, 2)); };
    for (int32_t r = 0; r + 1 < rowsUsed; r++) load(r);
    for (int32_t y = 0; y < height; y++) {
      if (uint32_t code = PollCancel(cancel)) return code;
      load(int64_t(y) + rowsUsed - 1);
      ConvolveRow(ring, y, taps, kernel, n, sums, ptrs, pixels + int64_t(y) * pitch + x0, sh);
    }
  }
  return 0;
}

void BlurPassBytes(uint8_t *plane, int32_t width, int32_t height, int32_t bytesPerRow, const uint8_t *pad, int64_t padRow,
                   const double *kernel, int32_t w, bool vertical) {
  std::vector<double> s(width);
  const int32_t half = w / 2;
  for (int32_t y = 0; y < height; y++) {
    std::fill(s.begin(), s.end(), 0.0);
    for (int32_t k = 0; k < w; k++) {
      const uint8_t *src = vertical ? pad + (y + k) * padRow + half : pad + (y + half) * padRow + k;
      const double e = kernel[k];
      for (int32_t x = 0; x < width; x++) s[x] += e * double(src[x]);
    }
    uint8_t *row = plane + int64_t(y) * bytesPerRow;
    for (int32_t x = 0; x < width; x++) row[x] = uint8_t(ClampChannel(s[x]));
  }
}

// Both blur passes in one sweep down the picture. Each row's horizontal sums, clamped and
// truncated just as the written pixels of a first pass would hold them, go into a ring of the last
// w rows; the vertical sums over the ring give the output row. The horizontal pass reads row y +
// w/2 before output row y is written, so the picture is read as it was; and the values the
// vertical pass sees are those that a first pass would have written, so the result is the same.
uint32_t BlurRows(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, const double *kernel, int32_t w,
                  const ChannelShifts &sh, const qmCancel &cancel) {
  const int32_t half = w / 2;
  const RowSource source{pixels, width, height, pitch, half, half};
  PlaneRing row(1, int64_t(width) + w - 1), across(w, width);
  std::vector<double> sums[3] = {std::vector<double>(width), std::vector<double>(width), std::vector<double>(width)};
  std::vector<const double *> ptrs(w);
  // Padded row p (0 .. height + w - 2) is the horizontal result of picture row p - w/2, the
  // edge rows repeated.
  auto horizontal = [&](int64_t p) {
    source.Load(p, 0, int64_t(width) + w - 1, sh, row.Plane(0, 0), row.Plane(0, 1), row.Plane(0, 2));
    for (int32_t c = 0; c < 3; c++) {
      for (int32_t k = 0; k < w; k++) ptrs[k] = row.Plane(0, c) + k;
      ConvolveTaps(ptrs.data(), kernel, w, width, across.Plane(p, c), 1);
    }
  };
  for (int32_t p = 0; p + 1 < w; p++) horizontal(p);
  for (int32_t y = 0; y < height; y++) {
    if (uint32_t code = PollCancel(cancel)) return code;
    horizontal(int64_t(y) + w - 1);
    for (int32_t c = 0; c < 3; c++) {
      for (int32_t k = 0; k < w; k++) ptrs[k] = across.Plane(int64_t(y) + k, c);
      ConvolveTaps(ptrs.data(), kernel, w, width, sums[c].data());
    }
    PackChannels(sums[0].data(), sums[1].data(), sums[2].data(), width, sh.r, sh.g, sh.b, pixels + int64_t(y) * pitch);
  }
  return 0;
}

// The blur's kernel of w weights (empty when the blur does nothing).
std::vector<double> BlurKernel(const qmConvolveRequest *req) {
  const double sigma = req->sigma;
  if (!std::isfinite(sigma) || std::fabs(sigma) <= 1e-10) return {};
  const int32_t w = GaussWidth1D(req->radius, sigma);
  if (w < 1) return {};
  std::vector<double> kernel(w, 0.0);
  const int32_t bias = (3 * w) / 2;
  for (int32_t i = -bias; i <= bias; i++)
    kernel[(i + bias) / 3] += std::exp(-double(i * i) / (18.0 * sigma * sigma)) / (kSqrt2Pi * sigma);
  double sum = 0;
  for (double k : kernel) sum += k;
  for (double &k : kernel) k /= sum;
  return kernel;
}

// What a window of one value sums to, by the definition's own sums: the table of the certified
// vector blur, which alone reads it. Worked out here, in the plain code, as the definition does.
struct FlatWindows {
  uint8_t sum[256];
};
[[maybe_unused]] FlatWindows FlatWindowSums(const std::vector<double> &kernel) {
  FlatWindows flat;
  for (int32_t v = 0; v < 256; v++) {
    double s = 0;
    for (double k : kernel) s += k * double(v);
    flat.sum[v] = uint8_t(ClampChannel(s));
  }
  return flat;
}

// The colour channels' part of the blur; a quit gives its code.
uint32_t BlurPixelRows(const qmConvolveRequest *req, const std::vector<double> &kernel) {
  const ChannelShifts sh = ShiftsOf(req->format);
  const int32_t w = int32_t(kernel.size());
  QM_AVX2_RETURN_IF(CpuHasAvx2Fma(), BlurRowsCertifiedAvx2(req->pixels, req->width, req->height, req->pitch, kernel.data(), w, sh.r,
                                                           sh.g, sh.b, FlatWindowSums(kernel).sum, req->cancel));
  return BlurRows(req->pixels, req->width, req->height, req->pitch, kernel.data(), w, sh, req->cancel);
}

int32_t Blur(const qmConvolveRequest *req) {
  const std::vector<double> kernel = BlurKernel(req);
  const int32_t w = int32_t(kernel.size());
  if (!w) return 0;
  if (req->pixels)
    if (uint32_t code = BlurPixelRows(req, kernel)) return int32_t(code);
  if (!req->alpha) return 0;
  int32_t padRow = 0;
  std::unique_ptr<uint8_t, MemFreeDeleter> apad(PadBytes(req->alpha, req->width, req->height, req->alphaBytesPerRow, w, nullptr, &padRow));
  if (!apad) return ERR_MEM;
  BlurPassBytes(req->alpha, req->width, req->height, req->alphaBytesPerRow, apad.get(), padRow, kernel.data(), w, false);
  PadBytes(req->alpha, req->width, req->height, req->alphaBytesPerRow, w, apad.get(), &padRow);
  BlurPassBytes(req->alpha, req->width, req->height, req->alphaBytesPerRow, apad.get(), padRow, kernel.data(), w, true);
  return 0;
}

// Emboss, sharpen and edge: one w x w kernel over the padded copy.
int32_t Convolve2D(const qmConvolveRequest *req) {
  const int32_t op = req->operation;
  const int32_t w = op == CONVOLVE_EDGE ? GaussWidth1D(req->radius, 0.5) : GaussWidth2D(req->radius, req->sigma);
  if (w < 1 || w > req->width || w > req->height) return 0;
  const int32_t j = w / 2;
  const double s = (std::fabs(req->sigma) <= 1e-10 || !std::isfinite(req->sigma)) ? 1.0 : req->sigma;
  std::vector<double> kernel(int64_t(w) * w);
  if (op == CONVOLVE_EDGE) {
    std::fill(kernel.begin(), kernel.end(), -1.0);
    kernel[int64_t(j) * w + j] = double(w * w - 1);
  } else if (op == CONVOLVE_SHARPEN) {
    double normalize = 0;
    for (int32_t v = -j; v <= j; v++)
      for (int32_t u = -j; u <= j; u++) {
        double &e = kernel[int64_t(v + j) * w + (u + j)];
        e = -(std::exp(-double(u * u + v * v) / (2.0 * s * s)) / (2.0 * M_PI * s * s));
        normalize += e;
      }
    kernel[int64_t(j) * w + j] = -2.0 * normalize;
  } else {
    int32_t k = j;
    for (int32_t v = -j; v <= j; v++, k--)
      for (int32_t u = -j; u <= j; u++) {
        double e = std::exp(-double(u * u + v * v) / (2.0 * s * s)) / (2.0 * M_PI * s * s);
        e *= (u < 0 || v < 0) ? -8.0 : 8.0;
        kernel[int64_t(v + j) * w + (u + j)] = u == k ? e : 0.0;
      }
  }
  double sum = 0;
  for (double e : kernel) sum += e;
  if (std::fabs(sum) > 1e-10)
    for (double &e : kernel) e /= sum;

  std::vector<std::pair<int32_t, int32_t>> taps;
  for (int32_t v = 0; v < w; v++)
    for (int32_t u = 0; u < w; u++) taps.push_back({v, u});
  int32_t padPitch = 0;
  PaddedPixels pad(PadPixels(req->pixels, req->width, req->height, req->pitch, w, nullptr, &padPitch));
  if (!pad) return ERR_MEM;
  // The padded copy is the source, so the window may reach into columns already written.
  const RowSource padded{pad.get(), int32_t(PaddedPitch(req->width, w)), req->height + w - 1, padPitch, 0, 0};
  return int32_t(ConvolvePass(req->pixels, req->width, req->height, req->pitch, padded, w, w, taps, kernel.data(),
                              ShiftsOf(req->format), req->cancel));
}

} // namespace

void ConvolveTapsScalar(const double *const *taps, const double *weights, int32_t count, int32_t n, double *out, int32_t truncate) {
  for (int32_t x = 0; x < n; x++) {
    double s = 0;
    for (int32_t k = 0; k < count; k++) s += weights[k] * taps[k][x];
    out[x] = truncate ? double(ClampChannel(s)) : s;
  }
}

void ConvolveTaps(const double *const *taps, const double *weights, int32_t count, int32_t n, double *out, int32_t truncate) {
  QM_AVX2_RETURN(ConvolveTapsAvx2(taps, weights, count, n, out, truncate));
  ConvolveTapsScalar(taps, weights, count, n, out, truncate);
}

void SplitChannelsScalar(const uint32_t *src, int64_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB, double *r, double *g,
                         double *b) {
  for (int64_t x = 0; x < n; x++) {
    const uint32_t v = src[x];
    r[x] = Chan(v, shiftR), g[x] = Chan(v, shiftG), b[x] = Chan(v, shiftB);
  }
}

void SplitChannels(const uint32_t *src, int64_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB, double *r, double *g, double *b) {
  QM_AVX2_RETURN(SplitChannelsAvx2(src, n, shiftR, shiftG, shiftB, r, g, b));
  SplitChannelsScalar(src, n, shiftR, shiftG, shiftB, r, g, b);
}

void PackChannelsScalar(const double *r, const double *g, const double *b, int32_t n, int32_t shiftR, int32_t shiftG,
                        int32_t shiftB, uint32_t *out) {
  for (int32_t x = 0; x < n; x++)
    out[x] = (uint32_t(ClampChannel(r[x])) << shiftR) | (uint32_t(ClampChannel(g[x])) << shiftG) | (uint32_t(ClampChannel(b[x])) << shiftB);
}

void PackChannels(const double *r, const double *g, const double *b, int32_t n, int32_t shiftR, int32_t shiftG, int32_t shiftB,
                  uint32_t *out) {
  QM_AVX2_RETURN(PackChannelsAvx2(r, g, b, n, shiftR, shiftG, shiftB, out));
  PackChannelsScalar(r, g, b, n, shiftR, shiftG, shiftB, out);
}

int32_t GaussWidth1D(double radius, double sigma) {
  if (radius > 0) return radius > (QM_MAX_KERNEL_WIDTH - 1) / 2 ? 0 : 2 * int32_t(std::ceil(radius)) + 1;
  if (std::isnan(sigma)) return 0;
  if (std::fabs(sigma) <= 1e-10) return 1;
  for (int32_t w = 5; w <= QM_MAX_KERNEL_WIDTH + 2; w += 2) {
    const int32_t j = w / 2;
    double normalize = 0;
    for (int32_t i = -j; i <= j; i++) normalize += std::exp(-double(i * i) / (2.0 * sigma * sigma)) / (kSqrt2Pi * sigma);
    const double value = std::exp(-double(j * j) / (2.0 * sigma * sigma)) / (kSqrt2Pi * sigma) / normalize;
    if (value * 255 < 1) return w - 2; // truncation toward 0 of a value below 1 gives 0
  }
  return 0;
}

int32_t GaussWidth2D(double radius, double sigma) {
  if (radius > 0) return radius > (QM_MAX_KERNEL_WIDTH - 1) / 2 ? 0 : 2 * int32_t(std::ceil(radius)) + 1;
  // Near 0 every term is 0 or not a number and the search would never end.
  if (!(std::fabs(sigma) > 1e-10)) return sigma == sigma ? 1 : 0;
  for (int32_t w = 5; w <= QM_MAX_KERNEL_WIDTH + 2; w += 2) {
    const int32_t j = w / 2;
    double normalize = 0;
    for (int32_t v = -j; v <= j; v++)
      for (int32_t u = -j; u <= j; u++) normalize += std::exp(-double(u * u + v * v) / (2.0 * sigma * sigma)) / (2.0 * M_PI * sigma * sigma);
    if (std::exp(-double(j * j) / (2.0 * sigma * sigma)) / (kSqrt2Pi * sigma) / normalize < 0.00392156862745098) return w - 2;
  }
  return 0;
}

int64_t PaddedPitch(int32_t width, int32_t kernelWidth) { return ((int64_t(width) + kernelWidth) & ~int64_t(3)) + 4; }

int64_t PaddedBytesPerRow(int32_t width, int32_t kernelWidth) { return (((int64_t(width) + kernelWidth) * 8 + 7) / 8 + 3) & ~int64_t(3); }

uint32_t *PadPixels(const uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t kernelWidth,
                    uint32_t *buffer, int32_t *outPitch) {
  if (width < 1 || height < 1 || kernelWidth < 1) return nullptr;
  const int32_t b = kernelWidth / 2;
  const int64_t pp = PaddedPitch(width, kernelWidth), rows = int64_t(height) + 2 * b;
  if (pp * rows * 4 > 0xFFFFFFFFll) return nullptr;
  uint32_t *out = buffer ? buffer : static_cast<uint32_t *>(MemAlloc(uint32_t(pp * rows * 4), 0));
  if (!out) return nullptr;
  for (int64_t py = 0; py < rows; py++) {
    const uint32_t *src = pixels + std::clamp<int64_t>(py - b, 0, height - 1) * pitch;
    uint32_t *dst = out + py * pp;
    std::fill(dst, dst + b, src[0]);
    std::memcpy(dst + b, src, size_t(width) * 4);
    std::fill(dst + b + width, dst + 2 * b + width, src[width - 1]);
  }
  *outPitch = int32_t(pp);
  return out;
}

uint8_t *PadBytes(const uint8_t *plane, int32_t width, int32_t height, int32_t bytesPerRow, int32_t kernelWidth,
                  uint8_t *buffer, int32_t *outBytesPerRow) {
  if (width < 1 || height < 1 || kernelWidth < 1) return nullptr;
  const int32_t b = kernelWidth / 2;
  const int64_t pr = PaddedBytesPerRow(width, kernelWidth), rows = int64_t(height) + 2 * b;
  if (pr * rows > 0xFFFFFFFFll) return nullptr;
  uint8_t *out = buffer ? buffer : static_cast<uint8_t *>(MemAlloc(uint32_t(pr * rows), 0));
  if (!out) return nullptr;
  for (int64_t py = 0; py < rows; py++) {
    const uint8_t *src = plane + std::clamp<int64_t>(py - b, 0, height - 1) * bytesPerRow;
    uint8_t *dst = out + py * pr;
    std::memset(dst, src[0], size_t(b));
    std::memcpy(dst + b, src, size_t(width));
    std::memset(dst + b + width, src[width - 1], size_t(b));
  }
  *outBytesPerRow = int32_t(pr);
  return out;
}

int32_t BlurPixelsScalar(const qmConvolveRequest *req) {
  if (req->bytesPerPixel != 4 || req->width < 1 || req->height < 1 || !req->pixels) return 0;
  try {
    const std::vector<double> kernel = BlurKernel(req);
    if (!kernel.empty())
      return int32_t(BlurRows(req->pixels, req->width, req->height, req->pitch, kernel.data(), int32_t(kernel.size()),
                              ShiftsOf(req->format), req->cancel));
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
  return 0;
}

int32_t ConvolvePixels(const qmConvolveRequest *req) {
  if (req->bytesPerPixel != 4 || req->width < 1 || req->height < 1) return 0;
  if (!req->pixels && req->operation != CONVOLVE_BLUR) return 0;
  try {
    switch (req->operation) {
    case CONVOLVE_BLUR: return Blur(req);
    case CONVOLVE_EMBOSS:
    case CONVOLVE_EDGE:
    case CONVOLVE_SHARPEN: return Convolve2D(req);
    default: return 0;
    }
  } catch (const std::bad_alloc &) {
    return ERR_MEM; // a kernel table or row buffer
  }
}

void SolarizePixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t format, int32_t threshold) {
  MapPixels(pixels, width, height, pitch, format, [threshold](uint32_t c) {
    uint32_t out = 0;
    for (int shift = 16; shift >= 0; shift -= 8) {
      int32_t v = int32_t((c >> shift) & 0xFF);
      out |= uint32_t(v > threshold ? 255 - v : v) << shift;
    }
    return out;
  });
}

void GammaPixels(const qmGammaRequest *req) {
  MapPixels(req->pixels, req->width, req->height, req->pitch, req->format, [req](uint32_t c) {
    uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    if (req->flags & 1) r = req->red[r];
    if (req->flags & 2) g = req->green[g];
    if (req->flags & 4) b = req->blue[b];
    return Rgb(int32_t(r), int32_t(g), int32_t(b));
  });
}

namespace {
uint32_t ContrastColour(uint32_t c, int32_t sign) {
    const double r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
    double hue = 0, sat = 0, br = 0;
    if (mx != 0) {
      br = mx / 255.0;
      sat = (mx - mn) / mx;
      const double delta = mx - mn;
      if (delta != 0) {
        if (r == mx) hue = (g - b) / delta;
        else if (g == mx) hue = 2.0 + (b - r) / delta;
        else hue = 4.0 + (r - g) / delta;
        hue /= 6.0;
        if (hue < 0) hue += 1.0;
      }
    }
    br += 0.5 * sign * (0.5 * (std::sin(M_PI * (br - 0.5)) + 1.0) - br);
    br = std::clamp(br, 0.0, 1.0);
    if (sat == 0) {
      const int32_t v = ClampChannel(br * 255.0);
      return Rgb(v, v, v);
    }
    const double h = 6.0 * (hue - std::floor(hue)), f = h - std::floor(h);
    const double p = br * (1.0 - sat), q = br * (1.0 - sat * f), t = br * (1.0 - sat * (1.0 - f));
    double rr, gg, bb;
    switch (int32_t(h)) {
    case 0: rr = br, gg = t, bb = p; break;
    case 1: rr = q, gg = br, bb = p; break;
    case 2: rr = p, gg = br, bb = t; break;
    case 3: rr = p, gg = q, bb = br; break;
    case 4: rr = t, gg = p, bb = br; break;
    default: rr = br, gg = p, bb = q; break;
    }
    return Rgb(ClampChannel(rr * 255.0), ClampChannel(gg * 255.0), ClampChannel(bb * 255.0));
}

// n passes of step from p, in steps bounded by the path's length before it repeats: once a
// value comes back (Brent's cycle search), the passes left are taken modulo the cycle.
template <typename F> uint32_t Iterate(uint32_t p, int64_t n, F step) {
  uint32_t mark = p;
  int64_t done = 0, power = 1, since = 0;
  while (done < n) {
    p = step(p);
    done++;
    since++;
    if (p == mark) {
      for (int64_t left = (n - done) % since; left > 0; left--) p = step(p);
      return p;
    }
    if (since == power) {
      mark = p;
      power *= 2;
      since = 0;
    }
  }
  return p;
}
}  // namespace

void ContrastPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t format, int32_t sign) {
  MapPixels(pixels, width, height, pitch, format, [sign](uint32_t c) { return ContrastColour(c, sign); });
}

void ContrastPixelsRepeated(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t format,
                            int32_t sign, int32_t repeat) {
  auto pass = [format, sign](uint32_t p) {
    return CanonicalToPixel(format, ContrastColour(PixelToCanonical(format, p), sign) & 0xFFFFFF);
  };
  // Pictures hold few colours compared with their pixels: each is followed once.
  std::unordered_map<uint32_t, uint32_t> done;
  for (int32_t y = 0; y < height; y++) {
    uint32_t *row = pixels + int64_t(y) * pitch;
    for (int32_t x = 0; x < width; x++) {
      auto [it, fresh] = done.try_emplace(row[x], 0);
      if (fresh) it->second = Iterate(row[x], repeat, pass);
      row[x] = it->second;
    }
  }
}

namespace {
double HslChannel(double m1, double m2, double h) {
  if (h < 0) h += 1.0;
  else if (h > 1) h -= 1.0;
  if (6.0 * h < 1.0) return m1 + (m2 - m1) * 6.0 * h;
  if (2.0 * h < 1.0) return m2;
  if (3.0 * h < 2.0) return m1 + (m2 - m1) * 6.0 * (2.0 / 3.0 - h);
  return m1;
}
} // namespace

namespace {

// One pixel of the modulation: hue shifted by hueShift turns, saturation and lightness scaled.
uint32_t ModulateOne(uint32_t c, double hueShift, double satFactor, double lightFactor) {
  double h, s, l;
  RgbToHsl(int32_t((c >> 16) & 0xFF), int32_t((c >> 8) & 0xFF), int32_t(c & 0xFF), &h, &s, &l);
  h += hueShift;
  // Far out of range, whole turns go at once rather than in millions of steps.
  if (std::fabs(h) > 1024) h -= std::floor(h);
  while (h < 0) h += 1.0;
  while (h > 1) h -= 1.0;
  s *= satFactor;
  l *= lightFactor;
  if (s == 0) {
    const int32_t v = ClampChannel(l * 255.0);
    return Rgb(v, v, v);
  }
  const double m2 = l <= 0.5 ? l * (1.0 + s) : l + s - l * s;
  const double m1 = 2.0 * l - m2;
  return Rgb(ClampChannel(HslChannel(m1, m2, h + 1.0 / 3.0) * 255.0), ClampChannel(HslChannel(m1, m2, h) * 255.0),
             ClampChannel(HslChannel(m1, m2, h - 1.0 / 3.0) * 255.0));
}

void ModulateRows(const qmModulateRequest *req, bool vector) {
  const double bp = req->brightness, sp = req->saturation, hp = req->hue;
  if (!std::isfinite(bp) || !std::isfinite(sp) || !std::isfinite(hp)) return;
  const double hueShift = 0.5 * (hp * 0.01 - 1.0), satFactor = sp * 0.01, lightFactor = bp * 0.01;
  // The vector rows bring the shifted hue back into 0..1 by at most two turns each way.
  const bool vectorRows = vector && std::fabs(hueShift) <= 2;
  [[maybe_unused]] const ChannelShifts sh = ShiftsOf(req->format);
  for (int32_t y = 0; y < req->height; y++) {
    uint32_t *row = req->pixels + int64_t(y) * req->pitch;
    int32_t x = QM_AVX2_HEAD(vectorRows, ModulateRowAvx2(row, req->width, sh.r, sh.g, sh.b, hueShift, satFactor, lightFactor));
    for (; x < req->width; x++)
      row[x] = CanonicalToPixel(req->format, ModulateOne(PixelToCanonical(req->format, row[x]), hueShift, satFactor, lightFactor));
  }
}

} // namespace

void ModulatePixels(const qmModulateRequest *req) { ModulateRows(req, true); }

void ModulatePixelsScalar(const qmModulateRequest *req) { ModulateRows(req, false); }

void SepiaPixels(uint32_t *pixels, int32_t width, int32_t height, int32_t pitch, int32_t format, double t) {
  if (!std::isfinite(t)) return;
  const int32_t floor7 = ClampChannel(t / 7.0);
  MapPixels(pixels, width, height, pitch, format, [t, floor7](uint32_t c) {
    const double i = PixelIntensity(c);
    int32_t r = ClampChannel(i > t ? 255.0 : i + 255.0 - t);
    int32_t g = ClampChannel(i > 7.0 * t / 6.0 ? 255.0 : i + 255.0 - 7.0 * t / 6.0);
    int32_t b = ClampChannel(i < t / 6.0 ? 0.0 : i - t / 6.0);
    g = std::max(g, floor7);
    b = std::max(b, floor7);
    return Rgb(r, g, b);
  });
}

void LevelStretchPixels(const qmLevelStretchRequest *req) {
  if (req->bytesPerPixel != 4 || req->width < 1 || req->height < 1) return;
  int64_t histogram[256] = {};
  for (int32_t y = 0; y < req->height; y++) {
    const uint32_t *row = req->pixels + int64_t(y) * req->pitch;
    for (int32_t x = 0; x < req->width; x++) histogram[std::min(255, int32_t(PixelIntensity(PixelToCanonical(req->format, row[x]))))]++;
  }
  const double total = double(int64_t(req->width) * req->height);
  int32_t low = 256, high = -1;
  int64_t run = 0;
  for (int32_t i = 0; i < 256; i++)
    if ((run += histogram[i]) > req->blackCount) {
      low = i;
      break;
    }
  run = 0;
  for (int32_t i = 255; i >= 0; i--)
    if ((run += histogram[i]) > total - req->whiteCount) {
      high = i;
      break;
    }
  high = std::max(high, 0);
  if (low == high) return;
  uint8_t map[256];
  for (int32_t i = 0; i < 256; i++)
    map[i] = uint8_t(i < low ? 0 : i > high ? 255 : (i - low) * 255 / (high - low));
  MapPixels(req->pixels, req->width, req->height, req->pitch, req->format,
            [&map](uint32_t c) { return Rgb(map[(c >> 16) & 0xFF], map[(c >> 8) & 0xFF], map[c & 0xFF]); });
}

int32_t OilPaintPixels(const qmOilPaintRequest *req) {
  if (req->width < 1 || req->height < 1) return 0;
  const int32_t w = GaussWidth2D(req->radius, 0.5);
  if (w < 1) return 0;
  int32_t padPitch = 0;
  PaddedPixels owned(PadPixels(req->pixels, req->width, req->height, req->pitch, w, nullptr, &padPitch));
  if (!owned) return ERR_MEM;
  const uint32_t *pad = owned.get();
  // The intensity of every padded pixel once, rather than w * w times.
  const int64_t rows = int64_t(req->height) + w - 1;
  std::vector<uint8_t> level;
  try {
    level.resize(size_t(rows * padPitch));
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
  for (int64_t i = 0; i < rows * padPitch; i++) level[i] = uint8_t(std::min(255, int32_t(PixelIntensity(PixelToCanonical(req->format, pad[i])))));
  int32_t histogram[256];
  for (int32_t y = 0; y < req->height; y++) {
    if (uint32_t code = PollCancel(req->cancel)) return int32_t(code);
    uint32_t *row = req->pixels + int64_t(y) * req->pitch;
    for (int32_t x = 0; x < req->width; x++) {
      std::memset(histogram, 0, sizeof histogram);
      int32_t best = 0;
      uint32_t chosen = 0;
      for (int32_t v = 0; v < w; v++) {
        const int64_t base = int64_t(y + v) * padPitch + x;
        for (int32_t u = 0; u < w; u++) {
          const int32_t n = ++histogram[level[base + u]];
          if (n > best) best = n, chosen = pad[base + u];
        }
      }
      row[x] = chosen;
    }
  }
  return 0;
}
