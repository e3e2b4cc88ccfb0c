#include "graphics/distort.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/cpu.h"
#include "graphics/distort_render.h"
#include "runtime/errcodes.h"

#ifdef QM_HAVE_AVX2
int32_t RenderDistortionAvx2(qmDistortRequest *req);
#endif

namespace {

struct Extent {
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  void Add(double x, double y) {
    minX = std::min(minX, x), maxX = std::max(maxX, x);
    minY = std::min(minY, y), maxY = std::max(maxY, y);
  }
};

// Solves for the eight coefficients of the inverse perspective by Gauss-Jordan elimination with
// partial pivoting; false when singular. Four point pairs give a square system whose least-squares
// solution is its exact one, so it is solved as it stands: forming the normal equations would
// square its condition and leave the identity a few ulps off, moving whole rows of pixels.
bool SolvePerspective(const double *p, double *c) {
  double m[8][9];
  for (int32_t i = 0; i < 4; i++) {
    const double u = p[4 * i], v = p[4 * i + 1], x = p[4 * i + 2], y = p[4 * i + 3];
    const double rows[2][9] = {{x, y, 1, 0, 0, 0, -x * u, -y * u, u}, {0, 0, 0, x, y, 1, -x * v, -y * v, v}};
    std::copy(rows[0], rows[0] + 9, m[2 * i]);
    std::copy(rows[1], rows[1] + 9, m[2 * i + 1]);
  }
  for (int col = 0; col < 8; col++) {
    int pivot = col;
    for (int r = col + 1; r < 8; r++)
      if (std::fabs(m[r][col]) > std::fabs(m[pivot][col])) pivot = r;
    if (!(std::fabs(m[pivot][col]) > 1e-12)) return false;
    std::swap(m[pivot], m[col]);
    const double d = m[col][col];
    for (int b = col; b < 9; b++) m[col][b] /= d;
    for (int r = 0; r < 8; r++) {
      if (r == col || m[r][col] == 0) continue;
      const double f = m[r][col];
      for (int b = col; b < 9; b++) m[r][b] -= f * m[col][b];
    }
  }
  for (int i = 0; i < 8; i++) c[i] = m[i][8];
  return true;
}

int32_t PreparePerspective(qmDistortRequest *req, Extent *e) {
  if (req->paramCount != 16) return ERR_WRONGUSAGE; // the commands always give four corners
  double *c = req->coeffs;
  if (!SolvePerspective(req->params, c)) return ERR_WRONGUSAGE;
  const double q = c[6] * req->params[2] + c[7] * req->params[3] + 1;
  c[8] = (q < 0) ? -1.0 : 1.0;
  double f[8];
  InvertPerspective(c, f);
  const double w = req->src.width, h = req->src.height;
  for (auto [u, v] : {std::pair{0.0, 0.0}, std::pair{w, 0.0}, std::pair{0.0, h}, std::pair{w, h}}) {
    double d = f[6] * u + f[7] * v + 1;
    if (std::fabs(d) <= kEps) d = 1;
    e->Add((f[0] * u + f[1] * v + f[2]) / d, (f[3] * u + f[4] * v + f[5]) / d);
  }
  return 0;
}

int32_t PrepareArc(qmDistortRequest *req, Extent *e) {
  const int32_t n = req->paramCount;
  const double *p = req->params;
  double *c = req->coeffs;
  const double w = req->src.width, h = req->src.height;
  if (n < 1 || n > 4 || !(p[0] >= kEps) || (n >= 3 && !(p[2] >= kEps))) return ERR_WRONGUSAGE;
  c[0] = -kPi / 2 + (n >= 2 ? p[1] * kPi / 180 : 0);
  c[1] = p[0] * kPi / 180;
  c[0] -= 2 * kPi * RoundHalfAway(c[0] / (2 * kPi));
  c[3] = h - 1;
  c[2] = w / c[1] + (h - 1) / 2;
  if (n == 3) c[3] = (p[2] / c[2]) * c[3], c[2] = p[2];
  if (n >= 4) c[3] = p[2] - p[3], c[2] = p[2];
  c[4] = (w - 1) / 2;
  const double a0 = c[0] - c[1] / 2, a1 = c[0] + c[1] / 2;
  for (double a : {a0, a1}) {
    e->Add(c[2] * std::cos(a), c[2] * std::sin(a));
    e->Add((c[2] - c[3]) * std::cos(a), (c[2] - c[3]) * std::sin(a));
  }
  // The quarter turns inside the arc. Past four turns they only come round again, and far
  // enough out a quarter turn no longer moves a double: the steps stop there either way.
  int32_t steps = 0;
  for (double a = std::ceil(a0 / (kPi / 2)) * (kPi / 2); a < a1 && steps < 16; a += kPi / 2, steps++)
    if (a > a0) e->Add(c[2] * std::cos(a), c[2] * std::sin(a));
  c[1] = 2 * kPi * w / c[1];
  c[3] = h / c[3];
  return 0;
}

int32_t PreparePolar(qmDistortRequest *req, Extent *e) {
  const int32_t n = req->paramCount;
  const double *p = req->params;
  double *c = req->coeffs;
  const double w = req->src.width, h = req->src.height;
  if (n == 3 || n > 6 || n < 0) return ERR_WRONGUSAGE;
  c[0] = n >= 1 ? p[0] : 0;
  c[1] = n >= 2 ? p[1] : 0;
  c[2] = n >= 4 ? p[2] : w / 2, c[3] = n >= 4 ? p[3] : h / 2;
  c[4] = n >= 5 ? p[4] * kPi / 180 : -kPi;
  c[5] = n >= 6 ? p[5] * kPi / 180 : c[4];
  if (std::fabs(c[4] - c[5]) < kEps) c[5] += 2 * kPi;
  if (c[0] < kEps) {
    if (std::fabs(c[0]) < kEps) {
      c[0] = std::min({std::fabs(c[3]), std::fabs(c[2]), std::fabs(c[2] - w), std::fabs(c[3] - h)});
    } else if (std::fabs(c[0] + 1) < kEps) {
      c[0] = 0;
      for (auto [x, y] : {std::pair{0.0, 0.0}, std::pair{w, 0.0}, std::pair{0.0, h}, std::pair{w, h}})
        c[0] = std::max(c[0], std::hypot(c[2] - x, c[3] - y));
    }
    if (!(c[0] >= kEps)) return ERR_WRONGUSAGE;
  }
  if (!(c[1] >= -kEps) || !(c[0] - c[1] >= kEps)) return ERR_WRONGUSAGE;
  c[6] = w / (c[5] - c[4]);
  c[7] = h / (c[0] - c[1]);
  // Without a given centre the ring sits at the origin and so in the middle of its own picture.
  if (n < 2) c[2] = c[3] = 0;
  e->Add(c[2] - c[0], c[3] - c[0]);
  e->Add(c[2] + c[0], c[3] + c[0]);
  return 0;
}

int32_t PrepareBarrel(qmDistortRequest *req) {
  const int32_t n = req->paramCount;
  const double *p = req->params;
  double *c = req->coeffs;
  if (n != 4 && n != 6 && n != 8 && n != 10) return ERR_WRONGUSAGE;
  const double w = req->src.width, h = req->src.height;
  const double s = 2 / std::min(w, h);
  c[0] = p[0] * s * s * s, c[1] = p[1] * s * s, c[2] = p[2] * s, c[3] = p[3];
  if (n >= 8) {
    c[4] = p[4] * s * s * s, c[5] = p[5] * s * s, c[6] = p[6] * s, c[7] = p[7];
  } else {
    c[4] = c[0], c[5] = c[1], c[6] = c[2], c[7] = c[3];
  }
  c[8] = (w - 1) / 2, c[9] = (h - 1) / 2;
  if (n == 6) c[8] = p[4], c[9] = p[5];
  if (n == 10) c[8] = p[8], c[9] = p[9];
  return 0;
}

} // namespace

void InvertPerspective(const double *c, double *f) {
  const double k = 1 / (c[0] * c[4] - c[1] * c[3]);
  f[0] = (c[4] - c[7] * c[5]) * k;
  f[1] = (c[7] * c[2] - c[1]) * k;
  f[2] = (c[1] * c[5] - c[4] * c[2]) * k;
  f[3] = (c[6] * c[5] - c[3]) * k;
  f[4] = (c[0] - c[6] * c[2]) * k;
  f[5] = (c[3] * c[2] - c[0] * c[5]) * k;
  f[6] = (c[3] * c[7] - c[6] * c[4]) * k;
  f[7] = (c[6] * c[1] - c[0] * c[7]) * k;
}

int32_t PrepareDistortion(qmDistortRequest *req) {
  std::fill(std::begin(req->coeffs), std::end(req->coeffs), 0.0);
  req->error = 0;
  const qmDistortPicture &src = req->src;
  int32_t err = 0;
  if (src.width < 1 || src.height < 1 || req->paramCount < 0 || req->paramCount > 16) {
    err = ERR_WRONGUSAGE;
  } else {
    for (int32_t k = 0; k < req->paramCount; k++)
      if (!std::isfinite(req->params[k])) err = ERR_WRONGUSAGE;
  }
  Extent e;
  if (!err) {
    switch (req->method) {
    case DISTORT_PERSPECTIVE: err = PreparePerspective(req, &e); break;
    case DISTORT_ARC: err = PrepareArc(req, &e); break;
    case DISTORT_POLAR: err = PreparePolar(req, &e); break;
    case DISTORT_BARREL: err = PrepareBarrel(req); break;
    default: err = ERR_WRONGUSAGE; break;
    }
  }
  if (!err) {
    if (req->method == DISTORT_BARREL) {
      req->originX = req->originY = 0;
      req->resultWidth = src.width, req->resultHeight = src.height;
    } else {
      // Sizes in doubles and then 64 bits: a result of no pixels is refused, one beyond the
      // picture limits is out of memory, both before anything is allocated.
      const double ox = std::floor(e.minX - 0.5), oy = std::floor(e.minY - 0.5);
      const double wd = std::ceil(e.maxX - ox + 0.5), ht = std::ceil(e.maxY - oy + 0.5);
      if (!std::isfinite(ox) || !std::isfinite(oy) || !std::isfinite(wd) || !std::isfinite(ht)) {
        err = ERR_MEM;
      } else {
        const int64_t width = int64_t(std::clamp(wd, 0.0, 4294967295.0)), height = int64_t(std::clamp(ht, 0.0, 4294967295.0));
        if (width == 0 || height == 0) err = ERR_WRONGUSAGE;
        else if (width > QM_MAX_PICTURE_SIDE || height > QM_MAX_PICTURE_SIDE || std::fabs(ox) > 1e9 || std::fabs(oy) > 1e9)
          err = ERR_MEM;
        else
          req->resultWidth = int32_t(width), req->resultHeight = int32_t(height), req->originX = int32_t(ox),
          req->originY = int32_t(oy);
      }
    }
  }
  req->error = err;
  return err;
}


namespace {

// The portable kernels: byte sums in pairs of doubles, rows mapped point by point.
struct ScalarKernels {
  using Sums = ByteSums;
  static double Floor(double x) { return ::Floor(x); }
  static double Ceil(double x) { return ::Ceil(x); }
  static bool StoreBilinearGroup(const qmDistortRequest *, const Mapped *, const EwaShape *, int64_t, int64_t) { return false; }
  template <int32_t> static int64_t PointRowGroups(const qmDistortRequest *, int64_t) { return 0; }
  struct RowCache {
    explicit RowCache(const qmDistortRequest *) {}
  };
  template <int32_t> static int64_t SmoothRowGroups(const qmDistortRequest *, int64_t, RowCache *, Mapped *, EwaShape *, uint8_t *) { return 0; }
  static void ShapeRow(const Mapped *m, EwaShape *e, int64_t n, double w, double h) {
    for (int64_t i = 0; i < n; i++) e[i] = EwaShapeOf(m[i], w, h);
  }
  template <int32_t Method, bool WithDerivatives> static void MapRow(const qmDistortRequest *req, double y, Mapped *row, int64_t from) {
    MapRowScalar<Method, WithDerivatives>(req, y, row, from);
  }
};

} // namespace

int32_t RenderDistortionScalar(qmDistortRequest *req) {
  RenderWith<ScalarKernels>(req);
  return 0;
}

int32_t RenderDistortion(qmDistortRequest *req) {
  QM_AVX2_RETURN(RenderDistortionAvx2(req));
  return RenderDistortionScalar(req);
}
