// The rendering of a prepared distortion, shared by the scalar path (distort.cpp) and the AVX2
// path (distort_avx2.cpp). A kernel set K gives the byte sums of a sample (K::Sums), Floor and
// Ceil, the mapping of a row (K::MapRow), and may take groups of pixels off this code's hands
// (K::StoreBilinearGroup, K::SmoothRowGroups with what it keeps across rows in a K::RowCache,
// K::PointRowGroups); the rest is this one code, and
// each kernel does what it replaces in the same order of double operations, so both paths give
// the same bits.
// Everything here has internal linkage: each path compiles its own copy for its own processor.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/alpha_kernels.h"
#include "graphics/distort.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kEps = 1e-6;
constexpr int32_t kWeights = 1024;

// Two doubles handled as one value (one register on every 64-bit target): each lane gets exactly
// the operations a scalar would, so the results are the scalar ones, with one division
// instruction where there were two.
typedef double Doubles2 __attribute__((vector_size(16)));

// Sums of the four bytes of words: bytes 0 and 1 in lo, 2 and 3 in hi.
struct ByteSums {
  Doubles2 lo = {0, 0}, hi = {0, 0};
  // Adds the bytes of v times a.
  void Add(double a, uint32_t v) {
    lo += a * Doubles2{double(v & 0xFF), double((v >> 8) & 0xFF)};
    hi += a * Doubles2{double((v >> 16) & 0xFF), double(v >> 24)};
  }
  // The word of the sums divided by d, each byte rounded and clamped to 0..255.
  uint32_t Word(double d) const {
    const Doubles2 l = lo / d, h = hi / d;
    const double mean[4] = {l[0], l[1], h[0], h[1]};
    uint32_t word = 0;
    for (int k = 0; k < 4; k++) word |= uint32_t(std::clamp(mean[k] + 0.5, 0.0, 255.0)) << (8 * k);
    return word;
  }
};

// floor and ceil without a call into the maths library (the baseline instruction set has no
// rounding instruction, and a call clobbers every floating-point register in the loops here).
// Whole numbers, zeros of either sign and values beyond 2^52 or not numbers come back as they
// are, as from std::floor and std::ceil.
constexpr double kWhole = 4503599627370496.0; // 2^52: from here on every double is whole
inline double Floor(double x) {
  if (!(std::fabs(x) < kWhole)) return x;
  const double t = double(int64_t(x));
  return t > x ? t - 1 : t == x ? x : t;
}
inline double Ceil(double x) { return -Floor(-x); }

// Rounding half away from zero.
inline double RoundHalfAway(double v) { return std::round(v); }

// The source position of result point (x, y) with the partial derivatives (du/dx, du/dy,
// dv/dx, dv/dy) where the smooth sampling needs them; valid <= 0 marks a point with none.
struct Mapped {
  double u, v, valid, p, q, r, s;
  bool derivatives;
};

// Point sampling leaves the derivatives out (WithDerivatives false): their divisions were a
// third of its time. The method is fixed per rendering, so each gets a loop of its own.
template <int32_t Method, bool WithDerivatives> Mapped MapPoint(const qmDistortRequest *req, double x, double y) {
  const double *c = req->coeffs;
  const double w = req->src.width;
  Mapped m{0, 0, 1, 0, 0, 0, 0, false};
  if constexpr (Method == DISTORT_PERSPECTIVE) {
    const double q = c[6] * x + c[7] * y + 1;
    m.valid = q * c[8] >= 0 ? 1 : 0;
    const double mm = std::fabs(c[6]) >= std::fabs(c[7]) ? c[6] : c[7];
    if (2 * std::fabs(q) < std::fabs(mm)) m.valid = 0.5 - q * c[8] / mm;
    m.u = (c[0] * x + c[1] * y + c[2]) / q;
    m.v = (c[3] * x + c[4] * y + c[5]) / q;
    if (WithDerivatives) {
      const Doubles2 du = Doubles2{c[0] - c[6] * m.u, c[1] - c[7] * m.u} / q, dv = Doubles2{c[3] - c[6] * m.v, c[4] - c[7] * m.v} / q;
      m.p = du[0], m.q = du[1], m.r = dv[0], m.s = dv[1];
      m.derivatives = true;
    }
  } else if constexpr (Method == DISTORT_ARC) {
    double t = (std::atan2(y, x) - c[0]) / (2 * kPi);
    t -= RoundHalfAway(t);
    const double rho = std::hypot(x, y);
    m.u = t * c[1] + c[4] + 0.5;
    m.v = (c[2] - rho) * c[3];
    if (WithDerivatives && rho > kEps) m.p = c[1] / (2 * kPi * rho), m.s = c[3], m.derivatives = true;
  } else if constexpr (Method == DISTORT_POLAR) {
    const double dx = x - c[2], dy = y - c[3];
    double t = (std::atan2(dx, dy) - (c[4] + c[5]) / 2) / (2 * kPi);
    t -= RoundHalfAway(t);
    const double rho = std::hypot(dx, dy);
    m.u = t * 2 * kPi * c[6] + w / 2;
    m.v = (rho - c[1]) * c[7];
    if (WithDerivatives && rho > kEps) m.p = c[6] / (2 * kPi * rho), m.s = c[7], m.derivatives = true;
  } else {
    const double dx = x - c[8], dy = y - c[9], r = std::sqrt(dx * dx + dy * dy);
    if (r <= kEps) {
      m.u = c[8] - 0.5, m.v = c[9] - 0.5;
      if (WithDerivatives) m.p = c[3], m.s = c[7], m.derivatives = true;
      return m;
    }
    const double fx = ((c[0] * r + c[1]) * r + c[2]) * r + c[3], fy = ((c[4] * r + c[5]) * r + c[6]) * r + c[7];
    m.u = fx * dx + c[8], m.v = fy * dy + c[9];
    if (WithDerivatives) {
      const double gx = (3 * c[0] * r + 2 * c[1]) * r + c[2], gy = (3 * c[4] * r + 2 * c[5]) * r + c[6];
      const Doubles2 du = Doubles2{dx * gx * dx, dx * gx * dy} / r, dv = Doubles2{dy * gy * dx, dy * gy * dy} / r;
      m.p = fx + du[0], m.q = du[1], m.r = dv[0], m.s = fy + dv[1];
      m.derivatives = true;
    }
  }
  m.u -= 0.5, m.v -= 0.5;
  return m;
}

// Opacity and the four bytes of the words (whatever their channel order), premultiplied sums.
template <typename Sums> struct Sample {
  Sums c;
  double a = 0;
};

struct Source {
  const qmDistortPicture *pic;
  uint32_t At(int64_t x, int64_t y) const { return pic->pixels[y * pic->pitch + x]; }
  int32_t Opacity(int64_t x, int64_t y) const {
    if (pic->alpha) return pic->alpha[y * pic->alphaBytesPerRow + x];
    if (pic->mask) return GetMaskBit(pic->mask + y * pic->maskBytesPerRow, int32_t(x)) ? 255 : 0;
    return 255;
  }
  bool Inside(int64_t x, int64_t y) const { return x >= 0 && y >= 0 && x < pic->width && y < pic->height; }
  // Adds pixel (x, y) with weight w; outside the picture it is transparent black.
  template <typename Sums> void Add(int64_t x, int64_t y, double w, Sample<Sums> *s) const {
    if (!Inside(x, y)) return;
    const double a = Opacity(x, y) * w;
    s->c.Add(a, At(x, y));
    s->a += a;
  }
};

// Writes an averaged sample: opacity = sum / total weight, colour = premultiplied sum / opacity sum.
template <typename Sums>
__attribute__((always_inline)) inline void Store(const qmDistortRequest *req, int64_t i, int64_t j, const Sample<Sums> &s, double total) {
  const qmDistortPicture &d = req->dst;
  const double a = total > 0 ? s.a / total : 0;
  d.pixels[j * d.pitch + i] = s.a > 0 ? s.c.Word(s.a) : 0;
  const int32_t opacity = int32_t(std::clamp(a + 0.5, 0.0, 255.0));
  if (d.alpha) d.alpha[j * d.alphaBytesPerRow + i] = uint8_t(opacity);
  if (d.mask) SetMaskBit(d.mask + j * d.maskBytesPerRow, int32_t(i), opacity >= 128);
}

inline void StoreClear(const qmDistortRequest *req, int64_t i, int64_t j) { Store(req, i, j, Sample<ByteSums>{}, 0); }

// The sampling steps add into *out (cleared by the caller) and return the total weight for Store:
// 0 leaves the pixel clear.
template <typename K>
__attribute__((always_inline)) inline double Bilinear(const Source &src, double u, double v, Sample<typename K::Sums> *out) {
  const double fu = K::Floor(u), fv = K::Floor(v);
  if (!(fu > -2 && fv > -2 && fu < src.pic->width && fv < src.pic->height)) return 0;
  const int64_t x = int64_t(fu), y = int64_t(fv);
  const double tx = u - fu, ty = v - fv;
  Sample<typename K::Sums> &s = *out;
  const qmDistortPicture &pic = *src.pic;
  if (x >= 0 && y >= 0 && x + 1 < pic.width && y + 1 < pic.height) {
    // All four inside: the same sums in the same order, without the tests per neighbour.
    const double weights[4] = {(1 - tx) * (1 - ty), tx * (1 - ty), (1 - tx) * ty, tx * ty};
    const uint32_t *row = pic.pixels + y * pic.pitch + x;
    const uint32_t words[4] = {row[0], row[1], row[pic.pitch], row[pic.pitch + 1]};
    int32_t opacity[4] = {255, 255, 255, 255};
    if (pic.alpha) {
      const uint8_t *a = pic.alpha + y * pic.alphaBytesPerRow + x;
      opacity[0] = a[0], opacity[1] = a[1], opacity[2] = a[pic.alphaBytesPerRow], opacity[3] = a[pic.alphaBytesPerRow + 1];
    } else if (pic.mask) {
      const uint8_t *m0 = pic.mask + y * pic.maskBytesPerRow, *m1 = m0 + pic.maskBytesPerRow;
      const int32_t x0 = int32_t(x);
      opacity[0] = GetMaskBit(m0, x0) ? 255 : 0, opacity[1] = GetMaskBit(m0, x0 + 1) ? 255 : 0;
      opacity[2] = GetMaskBit(m1, x0) ? 255 : 0, opacity[3] = GetMaskBit(m1, x0 + 1) ? 255 : 0;
    }
    for (int k = 0; k < 4; k++) {
      const double a = opacity[k] * weights[k];
      s.c.Add(a, words[k]);
      s.a += a;
    }
    return 1.0;
  }
  src.Add(x, y, (1 - tx) * (1 - ty), &s);
  src.Add(x + 1, y, tx * (1 - ty), &s);
  src.Add(x, y + 1, (1 - tx) * ty, &s);
  src.Add(x + 1, y + 1, tx * ty, &s);
  return 1.0;
}

// The ellipse of a point's footprint: Q(du, dv) = alpha du^2 + beta du dv + gamma dv^2 scaled to
// the weight table, its reach in rows (vLimit) and along a row (uWidth) and its shear (slope);
// taps 0 where the bilinear mix serves instead (no derivatives, an ellipse within a pixel or
// too large).
struct EwaShape {
  double alpha, beta, gamma, vLimit, uWidth, slope;
  int32_t taps;
};

inline EwaShape EwaShapeOf(const Mapped &m, double w, double h) {
  EwaShape e{};
  if (!m.derivatives) return e;
  double alpha = m.r * m.r + m.s * m.s + 1, beta = -2 * (m.p * m.r + m.q * m.s), gamma = m.p * m.p + m.q * m.q + 1;
  const double F = alpha * gamma - beta * beta / 4;
  if (!(F > 4) || F > 1e6 || 4 * (std::sqrt(alpha) + 1) * (std::sqrt(F / alpha) + 1) > 20 * w * h) return e;
  const double vLimit = std::sqrt(alpha) + 1, uWidth = std::sqrt(F / alpha) + 1, slope = beta / (-2 * alpha);
  const double scale = kWeights / F;
  return EwaShape{alpha * scale, beta * scale, gamma * scale, vLimit, uWidth, slope, 1};
}

template <typename K>
__attribute__((always_inline)) inline double Ewa(const Source &src, const double *weight, const Mapped &m, const EwaShape &e,
                                                 Sample<typename K::Sums> *out) {
  if (!e.taps) return Bilinear<K>(src, m.u, m.v, out);
  const double alpha = e.alpha, beta = e.beta, gamma = e.gamma, vLimit = e.vLimit, uWidth = e.uWidth, slope = e.slope;
  const double w = src.pic->width, h = src.pic->height;
  const double v0 = m.v, u0 = m.u;
  const double uReach = std::fabs(slope) * vLimit + uWidth;
  if (v0 + vLimit < 0 || v0 - vLimit > h - 1 || u0 + uReach < 0 || u0 - uReach > w - 1) return 0;
  Sample<typename K::Sums> s;
  double total = 0;
  int32_t count = 0;
  const qmDistortPicture &pic = *src.pic;
  const int64_t vLast = int64_t(K::Floor(v0 + vLimit));
  for (int64_t v = int64_t(K::Ceil(v0 - vLimit)); v <= vLast; v++) {
    const double dv = double(v) - v0;
    const double u1 = u0 + dv * slope - uWidth;
    const int64_t uFirst = int64_t(K::Ceil(u1)), uLast = int64_t(K::Floor(u1 + 2 * uWidth));
    // Q along the row by differences: Q(du + 1) = Q(du) + alpha (2 du + 1) + beta dv.
    const double du0 = double(uFirst) - u0;
    double Q = alpha * du0 * du0 + beta * du0 * dv + gamma * dv * dv;
    double dQ = alpha * (2 * du0 + 1) + beta * dv;
    const double ddQ = 2 * alpha;
    const bool rowInside = v >= 0 && v < pic.height;
    const uint32_t *prow = rowInside ? pic.pixels + v * pic.pitch : nullptr;
    const uint8_t *arow = rowInside && pic.alpha ? pic.alpha + v * pic.alphaBytesPerRow : nullptr;
    const uint8_t *mrow = rowInside && !pic.alpha && pic.mask ? pic.mask + v * pic.maskBytesPerRow : nullptr;
    // dQ never falls (ddQ > 0, and rounding keeps order), so Q falls and then rises: the taps
    // within the table's reach (Q < kWeights) are one run, and after it none come back.
    int64_t u = uFirst;
    for (; u <= uLast && !(Q < kWeights); u++) Q += dQ, dQ += ddQ;
    for (; u <= uLast && Q < kWeights; u++, Q += dQ, dQ += ddQ) {
      if (!(Q >= 0)) continue;
      const double wt = weight[int32_t(Q)];
      total += wt;
      count++;
      // Outside the picture a sample is transparent black: weight, but nothing to add.
      if (!prow || u < 0 || u >= pic.width) continue;
      const double a = wt * (arow ? arow[u] : mrow ? (GetMaskBit(mrow, int32_t(u)) ? 255 : 0) : 255);
      s.c.Add(a, prow[u]);
      s.a += a;
    }
  }
  if (count < 4 || total < 1) return Bilinear<K>(src, m.u, m.v, out);
  *out = s;
  return total;
}

// Maps pixels from..resultWidth-1 of the result row at y.
template <int32_t Method, bool WithDerivatives> void MapRowScalar(const qmDistortRequest *req, double y, Mapped *row, int64_t from) {
  for (int64_t i = from; i < req->resultWidth; i++) row[i] = MapPoint<Method, WithDerivatives>(req, req->originX + i + 0.5, y);
}

// The result rows in the order they are rendered: a barrel's rows by pairs mirrored about its
// centre row (each right after its mirror), so that the kernels may keep what depends on the
// distance from the centre alone for the second of the pair; other methods from the top.
template <int32_t Method> std::vector<int32_t> RowOrder(const qmDistortRequest *req) {
  const int32_t h = req->resultHeight;
  std::vector<int32_t> order;
  order.reserve(size_t(std::max(h, 0)));
  // Row j lies at dy = originY + j + 0.5 - centre, so rows j and mirror - j at opposite offsets.
  const double mirror = 2 * (req->coeffs[9] - req->originY) - 1;
  if (Method != DISTORT_BARREL || !(mirror >= 0 && mirror <= 2.0 * h) || mirror != Floor(mirror)) {
    for (int32_t j = 0; j < h; j++) order.push_back(j);
    return order;
  }
  const int64_t m = int64_t(mirror);
  for (int32_t j = 0; j < h; j++) {
    const int64_t other = m - j;
    if (other < j && other >= 0) continue; // rendered beside its mirror already
    order.push_back(j);
    if (other > j && other < h) order.push_back(int32_t(other));
  }
  return order;
}

// A row is mapped first, then sampled, then stored: the steps of one pixel do not wait on each
// other's results across pixels, so the divisions and roots of neighbours overlap.
template <typename K, int32_t Method> void RenderSmooth(qmDistortRequest *req, const Source &src, const double *weight) {
  using Sample = ::Sample<typename K::Sums>;
  const size_t n = size_t(req->resultWidth);
  std::vector<Mapped> mapped(n);
  std::vector<Sample> samples(n);
  std::vector<double> totals(n);
  std::vector<uint8_t> stored(n);
  std::vector<EwaShape> shapes(n);
  typename K::RowCache cache(req);
  for (const int32_t row : RowOrder<Method>(req)) {
    const int64_t j = row;
    // The kernels may map, sample and store groups from the row's start themselves; of those,
    // the pixels they leave (stored 0) come back mapped and shaped.
    const size_t from = size_t(K::template SmoothRowGroups<Method>(req, j, &cache, mapped.data(), shapes.data(), stored.data()));
    K::template MapRow<Method, true>(req, req->originY + j + 0.5, mapped.data(), int64_t(from));
    K::ShapeRow(mapped.data() + from, shapes.data() + from, int64_t(n - from), src.pic->width, src.pic->height);
    // Where the kernels stored every pixel of their groups, the loops start past them.
    const void *left = from ? std::memchr(stored.data(), 0, from) : nullptr;
    const size_t first = left ? size_t(static_cast<const uint8_t *>(left) - stored.data()) : from;
    for (size_t i = first; i < n; i++) {
      if (i < from && stored[i]) continue;
      // A group of four that the kernels sample and store at once, where they can.
      if (i >= from && i % 4 == 0 && i + 4 <= n && K::StoreBilinearGroup(req, mapped.data() + i, shapes.data() + i, int64_t(i), j)) {
        for (size_t k = i; k < i + 4; k++) stored[k] = 1;
        i += 3;
        continue;
      }
      stored[i] = 0;
      samples[i] = Sample{};
      totals[i] = mapped[i].valid <= 0 ? 0 : Ewa<K>(src, weight, mapped[i], shapes[i], &samples[i]);
    }
    for (size_t i = first; i < n; i++)
      if (!stored[i]) Store(req, int64_t(i), j, samples[i], totals[i]);
  }
}

template <typename K, int32_t Method> void RenderPoint(qmDistortRequest *req, const Source &src) {
  const int32_t w = req->src.width, h = req->src.height;
  const qmDistortPicture &d = req->dst;
  std::vector<Mapped> mapped(size_t(req->resultWidth));
  for (int64_t j = 0; j < req->resultHeight; j++) {
    // The kernels may sample and store groups of pixels from the row's start themselves.
    const int64_t from = K::template PointRowGroups<Method>(req, j);
    MapRowScalar<Method, false>(req, req->originY + j + 0.5, mapped.data(), from);
    for (int64_t i = from; i < req->resultWidth; i++) {
      const Mapped &m = mapped[size_t(i)];
      // Truncation toward zero keeps u in (-1, w) inside; the test in doubles also refuses
      // positions that are not numbers.
      if (!(m.valid > 0) || !(m.u > -1 && m.u < w && m.v > -1 && m.v < h)) {
        StoreClear(req, i, j);
        continue;
      }
      const int64_t x = int64_t(m.u), y = int64_t(m.v);
      d.pixels[j * d.pitch + i] = src.At(x, y);
      if (d.mask) SetMaskBit(d.mask + j * d.maskBytesPerRow, int32_t(i), req->src.mask ? GetMaskBit(req->src.mask + y * req->src.maskBytesPerRow, int32_t(x)) : true);
      if (d.alpha) d.alpha[j * d.alphaBytesPerRow + i] = req->src.alpha ? req->src.alpha[y * req->src.alphaBytesPerRow + x] : 255;
    }
  }
}

template <typename K, int32_t Method> void Render(qmDistortRequest *req) {
  const Source src{&req->src};
  if (req->smooth) {
    double weight[kWeights];
    for (int32_t k = 0; k < kWeights; k++) weight[k] = std::exp(-k * 0.0027076061740622863);
    RenderSmooth<K, Method>(req, src, weight);
  } else {
    RenderPoint<K, Method>(req, src);
  }
}

template <typename K> void RenderWith(qmDistortRequest *req) {
  switch (req->method) {
  case DISTORT_PERSPECTIVE: Render<K, DISTORT_PERSPECTIVE>(req); break;
  case DISTORT_ARC: Render<K, DISTORT_ARC>(req); break;
  case DISTORT_POLAR: Render<K, DISTORT_POLAR>(req); break;
  default: Render<K, DISTORT_BARREL>(req); break;
  }
}

} // namespace
