#include "display/displaytags.h"

#include <cmath>
#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/scene.h"

namespace {
constexpr double kRadiansPerDegree = 0.017453292519943295;
}  // namespace

// The layer list is walked through its first-node word.
int32_t CountPictureLayers(const qmBGPic *picture) {
  if (!picture) return 0;
  int32_t n = 0;
  for (void *const *node = static_cast<void *const *>(picture->layers.head); node && *node;
       node = static_cast<void *const *>(*node))
    n++;
  return n;
}

void ResetDefaultDrawTags(qmTransform *t, qmDisplayTags *tags) {
  std::memset(t, 0, sizeof *t);
  std::memset(tags, 0, sizeof *tags);
  t->matrix[0] = t->matrix[3] = 1.0;
  t->scaleX = t->scaleY = 1.0;
  qmShadowBlock &s = tags->shadow;
  s.color = 0x80000000u;
  s.size = 4;
  s.direction = 3;
  s.radius = 5.0;
  s.sigma = 5.0 / 3.0;
  tags->border.size = 2;
}

void CopyDefaultTransform(const qmScene *scene, qmTransform *out) { *out = scene->defaultTransform; }
void CopyDefaultDisplayTags(const qmScene *scene, qmDisplayTags *out) { *out = scene->defaultTags; }

void InitDefaultDrawTags(const qmScene *scene, qmTransform *t, qmDisplayTags *tags, int32_t width, int32_t height,
                         int32_t smooth, int32_t flags) {
  CopyDefaultTransform(scene, t);
  if (tags) CopyDefaultDisplayTags(scene, tags);
  t->targetWidth = width;
  t->targetHeight = height;
  if (!(flags & DTAG_SMOOTHROTATE)) t->smooth = smooth;
}

void FinishDisplayTags(const qmBGPic *picture, int32_t width, int32_t height, qmTransform *t, qmDisplayTags *tags) {
  if (t->geometryPending) {
    BuildTransformMatrix(t->matrix, t->targetWidth, t->targetHeight, width, height, t->scaleX, t->scaleY,
                         t->rotation);
    t->geometryPending = 0;
  }
  if (tags && tags->insertPending) {
    const int32_t n = CountPictureLayers(picture);
    if (n > 0 && tags->insertPosition > n + 1) tags->insertPosition = n + 1;
    tags->insertPending = 0;
  }
}

void BuildTransformMatrix(double m[4], int32_t targetWidth, int32_t targetHeight, int32_t width, int32_t height,
                          double scaleX, double scaleY, double rotation) {
  const int32_t tw = targetWidth ? targetWidth : width;
  const int32_t th = targetHeight ? targetHeight : height;
  if (tw == width && th == height) {
    m[0] = scaleX, m[1] = 0, m[2] = 0, m[3] = scaleY;
  } else {
    m[0] = double(tw) / width, m[1] = 0, m[2] = 0, m[3] = double(th) / height;
  }
  if (rotation != 0) {
    const double theta = (360 - std::fmod(rotation, 360.0)) * kRadiansPerDegree;
    const double c = std::cos(theta), s = std::sin(theta);
    const double a = m[0], b = m[1], cc = m[2], d = m[3];
    m[0] = a * c - b * s;
    m[1] = a * s + b * c;
    m[2] = cc * c - d * s;
    m[3] = cc * s + d * c;
  }
}

void PredictTransformedSize(const qmDisplay *d, const double m[4], int32_t width, int32_t height, int64_t *widthOut,
                            int64_t *heightOut) {
  int64_t w = width, h = height;
  if (m[1] == 0 && m[2] == 0 && m[0] >= 0 && m[3] >= 0) {
    if (m[0] == 1 && m[3] == 1) {
      // unchanged
    } else if (d && d->scaleLayer && d->scaleWidth && d->scaleHeight && d->bgpic && d->scaleX == m[0] &&
               d->scaleY == m[3] && width == d->bgpic->unscaledWidth && height == d->bgpic->unscaledHeight) {
      // Drawn at the display's own factors: exactly the display's scaled size.
      w = d->scaleWidth;
      h = d->scaleHeight;
    } else {
      const double fw = std::floor(m[0] * width), fh = std::floor(m[3] * height);
      w = fw > 4e9 ? int64_t(4e9) : int64_t(fw);
      h = fh > 4e9 ? int64_t(4e9) : int64_t(fh);
    }
  } else {
    // The turned rectangle's bounding box, in doubles so that no size overflows.
    const double xs[4] = {0, m[0] * width, m[2] * height, m[0] * width + m[2] * height};
    const double ys[4] = {0, m[1] * width, m[3] * height, m[1] * width + m[3] * height};
    double x0 = xs[0], x1 = xs[0], y0 = ys[0], y1 = ys[0];
    for (int i = 1; i < 4; i++) {
      x0 = std::fmin(x0, xs[i]), x1 = std::fmax(x1, xs[i]);
      y0 = std::fmin(y0, ys[i]), y1 = std::fmax(y1, ys[i]);
    }
    const double bw = std::ceil(x1 - x0), bh = std::ceil(y1 - y0);
    w = bw > 4e9 ? int64_t(4e9) : int64_t(bw);
    h = bh > 4e9 ? int64_t(4e9) : int64_t(bh);
  }
  *widthOut = w < 1 ? 1 : w;
  *heightOut = h < 1 ? 1 : h;
}
