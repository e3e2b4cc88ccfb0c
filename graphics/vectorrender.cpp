#include "graphics/vectorrender.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "graphics/alphaops.h"
#include "graphics/blit.h"
#include "graphics/fillarea.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

bool Filled(const qmDrawStyle *s) { return s->fillStyle != DRAWFILL_NONE; }
// An edge and a drop shadow belong to filled paths only.
bool HasEdge(const qmDrawStyle *s) { return Filled(s) && (s->formStyle & FORM_EDGE); }
bool HasShadow(const qmDrawStyle *s) { return Filled(s) && (s->formStyle & FORM_SHADOW); }
int32_t Level(uint32_t color) { return 255 - int32_t(color >> 24); }

// A side of the picture: the extent rounded to whole pixels, 0 for nothing or for no number.
int64_t PixelSide(double extent) {
  if (!(extent > 0)) return 0;
  if (extent >= double(QM_MAX_PICTURE_SIDE) + 1) return int64_t(QM_MAX_PICTURE_SIDE) + 1;
  return int64_t(extent + 0.5);
}

uint32_t Extents(const qmPathPicture *p, int32_t fill, int32_t lineWidth, double box[4]) {
  const qmVectorStyle style = VectorStyleOf(p->state, int32_t(p->drawStyle->formStyle & FORM_ANTIALIAS));
  qmPathExtentsRequest q{};
  q.commands = p->commands;
  q.style = &style;
  q.fill = fill;
  q.lineWidth = lineWidth;
  if (!p->engine->getPathExtents(&q)) return ERR_DRAWPATH;
  // The plug-in's answer places pictures in whole pixels: a box that is no number, turned
  // inside out or beyond +-2^30 cannot be placed.
  const double limit = double(1 << 30);
  if (!(q.x1 >= -limit && q.y1 >= -limit && q.x2 <= limit && q.y2 <= limit && q.x1 <= q.x2 && q.y1 <= q.y2))
    return ERR_DRAWPATH;
  box[0] = q.x1, box[1] = q.y1, box[2] = q.x2, box[3] = q.y2;
  return 0;
}

// Where the path's points land on the picture: matrix * (p - origin) + offset.
struct Placement {
  double matrix[6];
  double originX, originY, offsetX, offsetY;
};

// The plug-in's coverage of the path added to the plane.
uint32_t Cover(const qmPathPicture *p, qmAlphaChannel *plane, int32_t fill, int32_t lineWidth, uint32_t color,
               const Placement &at) {
  const qmVectorStyle style = VectorStyleOf(p->state, int32_t(p->drawStyle->formStyle & FORM_ANTIALIAS));
  qmDrawPathRequest q{};
  q.commands = p->commands;
  q.style = &style;
  q.fill = fill;
  q.lineWidth = lineWidth;
  q.color = color;
  q.alpha = plane->memory;
  q.bytesPerRow = plane->bytesPerRow;
  q.width = AlphaPlaneWidth(plane), q.height = plane->height;
  q.originX = at.originX, q.originY = at.originY;
  q.offsetX = at.offsetX, q.offsetY = at.offsetY;
  q.matrix = at.matrix;
  return p->engine->drawPath(&q) ? 0u : uint32_t(ERR_DRAWPATH);
}

// The gradient or texture of the draw style over the whole picture; the colour fills otherwise.
uint32_t PaintFill(const qmPathPicture *p, qmBitmap *bitmap, int32_t w, int32_t h) {
  const qmDrawStyle *s = p->drawStyle;
  if (s->fillStyle == DRAWFILL_GRADIENT) {
    const qmGradientFill g = GradientFillOf(&s->gradient);
    return DrawGradient(bitmap, 0, 0, w, h, &g);
  }
  if (s->fillStyle == DRAWFILL_TEXTURE && p->texture) {
    const qmBitmap *t = p->texture;
    TileBitmap(bitmap, 0, 0, w, h, t, s->textureX, s->textureY, t->width, t->height);
    return 0;
  }
  FillBitmapRect(bitmap, 0, 0, w, h, p->color & 0xFFFFFF);
  return 0;
}

}  // namespace

uint32_t MeasurePath(const qmPathPicture *p, double box[4]) {
  const qmDrawStyle *s = p->drawStyle;
  if (HasEdge(s)) return Extents(p, 0, 2 * s->edgeSize, box);
  return Extents(p, Filled(s) ? 1 : 0, s->lineWidth, box);
}

namespace {

// Where a path's picture lies: its size (the shadow's margins included), the plug-in's
// placement of the path in it (before the margins), the margins, and the path's upright box.
struct PathLayout {
  int64_t w, h;
  Placement at;
  int32_t left, top, right, bottom;
  int32_t x, y;  // the picture's top-left in the path's own coordinates
  qmPathBox upright;
};

uint32_t LayOutPath(const qmPathPicture *p, PathLayout *out) {
  *out = {};
  if (!p->commands) return ERR_EMPTYPATH;
  const qmDrawStyle *s = p->drawStyle;
  double box[4];
  if (uint32_t code = MeasurePath(p, box)) return code;
  int64_t w = PixelSide(box[2] - box[0]), h = PixelSide(box[3] - box[1]);
  if (w == 0 || h == 0) return ERR_EMPTYPATH;
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  out->upright.width = int32_t(w), out->upright.height = int32_t(h);
  Placement at{{1, 0, 0, 1, 0, 0}, box[0], box[1], 0, 0};
  // Turned, the picture holds the box's corners turned about the anchor; the box's own corner
  // then lies at (turnX, turnY) from the picture's.
  int64_t turnX = 0, turnY = 0;
  if (p->matrix && (p->matrix[0] != 1 || p->matrix[1] != 0 || p->matrix[2] != 0 || p->matrix[3] != 1)) {
    const double *m = p->matrix;
    if (!std::isfinite(m[0] + m[1] + m[2] + m[3] + p->anchorX + p->anchorY)) return ERR_WRONGUSAGE;
    const double px = double(w) * p->anchorX, py = double(h) * p->anchorY;
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    // The box as measured, not as rounded: rounding down would cut ink off the turned picture.
    const double ew = box[2] - box[0], eh = box[3] - box[1];
    const double corners[4][2] = {{0, 0}, {ew, 0}, {ew, eh}, {0, eh}};
    for (const auto &c : corners) {
      const double tx = m[0] * (c[0] - px) + m[2] * (c[1] - py), ty = m[1] * (c[0] - px) + m[3] * (c[1] - py);
      x0 = std::min(x0, tx), y0 = std::min(y0, ty), x1 = std::max(x1, tx), y1 = std::max(y1, ty);
    }
    if (!(x1 - x0 < double(QM_MAX_PICTURE_SIDE) && y1 - y0 < double(QM_MAX_PICTURE_SIDE))) return ERR_MEM;
    const double fx = std::floor(x0), fy = std::floor(y0);
    w = int64_t(std::ceil(x1) - fx), h = int64_t(std::ceil(y1) - fy);
    if (w == 0 || h == 0) return ERR_EMPTYPATH;
    std::copy(m, m + 4, at.matrix);
    // A point q of the box lands on M (q - pivot) + pivot, less the picture's corner.
    at.offsetX = -fx - (m[0] * px + m[2] * py), at.offsetY = -fy - (m[1] * px + m[3] * py);
    turnX = int64_t(px + fx), turnY = int64_t(py + fy);
  }
  // The drop shadow's room on the sides its direction reaches.
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  if (HasShadow(s)) GetShadowMargins(s->shadowSize, s->shadowDirection, &left, &top, &right, &bottom);
  w += left + right, h += top + bottom;
  // The plug-in's box decides the size: a path far out must not make a picture past the cap.
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  out->w = w, out->h = h;
  out->at = at;
  out->left = left, out->top = top, out->right = right, out->bottom = bottom;
  out->x = int32_t(box[0] + double(turnX)) - left, out->y = int32_t(box[1] + double(turnY)) - top;
  out->upright.x = left - int32_t(turnX), out->upright.y = top - int32_t(turnY);
  return 0;
}

}  // namespace

uint32_t RenderPathPicture(const qmPathPicture *p, qmShapeImage *out, qmPathBox *upright) {
  *out = {};
  *upright = {};
  PathLayout lay;
  if (uint32_t code = LayOutPath(p, &lay)) return code;
  const qmDrawStyle *s = p->drawStyle;
  const int64_t w = lay.w, h = lay.h;
  const int32_t left = lay.left, top = lay.top, right = lay.right, bottom = lay.bottom;
  Placement at = lay.at;
  *upright = lay.upright;
  out->bitmap = AllocBitmap(int32_t(w), int32_t(h));
  out->alpha = out->bitmap ? AllocAlphaChannel(int32_t(w), int32_t(h), 1) : nullptr;
  if (!out->alpha) {
    FreeShapeImage(out);
    return ERR_MEM;
  }
  out->x = lay.x, out->y = lay.y;
  uint32_t code = 0;
  if (!HasEdge(s) && !HasShadow(s)) {
    // The plug-in takes the colour's transparency into the coverage.
    code = PaintFill(p, out->bitmap, int32_t(w), int32_t(h));
    at.offsetX += left, at.offsetY += top;
    if (!code) code = Cover(p, out->alpha, Filled(s) ? 1 : 0, s->lineWidth, p->color, at);
    if (code) FreeShapeImage(out);
    return code;
  }
  // Shadow, edge and fill are laid on each other by their coverage, each at its own level.
  qmAlphaChannel *cov = AllocAlphaChannel(int32_t(w), int32_t(h), 1);
  qmBitmap *fill = nullptr;
  if (!cov) code = ERR_MEM;
  if (!code && (s->fillStyle == DRAWFILL_GRADIENT || (s->fillStyle == DRAWFILL_TEXTURE && p->texture))) {
    fill = AllocBitmap(int32_t(w), int32_t(h));
    code = fill ? PaintFill(p, fill, int32_t(w), int32_t(h)) : uint32_t(ERR_MEM);
  }
  const uint32_t rgb = p->color & 0xFFFFFF;
  auto pass = [&](bool edge, bool body, int32_t x, int32_t y, uint32_t color, int32_t level, const qmBitmap *source) {
    if (code) return;
    FillAlphaRect(cov, 0, 0, int32_t(w), int32_t(h), 0);
    Placement moved = at;
    moved.offsetX += x, moved.offsetY += y;
    if (edge) code = Cover(p, cov, 0, 2 * s->edgeSize, rgb, moved);
    if (!code && body) code = Cover(p, cov, 1, 1, rgb, moved);
    if (!code) CoverShapeImage(out, cov, color, level, source);
  };
  // The shadow is the silhouette of edge and fill, moved to the far side of its margins.
  if (HasShadow(s)) pass(HasEdge(s), true, right, bottom, s->shadowColor & 0xFFFFFF, Level(s->shadowColor), nullptr);
  if (HasEdge(s)) pass(true, false, left, top, s->edgeColor & 0xFFFFFF, Level(s->edgeColor), nullptr);
  pass(false, true, left, top, rgb, Level(p->color), fill);
  FreeAlphaChannel(cov);
  FreeBitmap(fill);
  if (code) FreeShapeImage(out);
  return code;
}

uint32_t RenderPathOutline(const qmPathPicture *p, uint32_t rgb, int32_t size, qmShapeImage *out) {
  *out = {};
  if (size < 1 || size > QM_MAX_PICTURE_SIDE / 2) return ERR_MEM;
  PathLayout lay;
  if (uint32_t code = LayOutPath(p, &lay)) return code;
  // The path stroked twice the border wide, in the layer picture's own placement.
  qmDrawStyle style = *p->drawStyle;
  style.fillStyle = DRAWFILL_NONE;
  style.formStyle &= FORM_ANTIALIAS;
  style.lineWidth = 2 * size;
  qmPathPicture outline = *p;
  outline.drawStyle = &style;
  outline.color = rgb;
  double box[4];
  if (uint32_t code = Extents(&outline, 0, 2 * size, box)) return code;
  Placement at = lay.at;
  at.offsetX += lay.left, at.offsetY += lay.top;
  // The outline's box as it lands on the layer's picture, cut to whole pixels around it.
  const double *m = at.matrix;
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  const double corners[4][2] = {{box[0], box[1]}, {box[2], box[1]}, {box[2], box[3]}, {box[0], box[3]}};
  for (const auto &c : corners) {
    const double dx = c[0] - at.originX, dy = c[1] - at.originY;
    const double tx = m[0] * dx + m[2] * dy + at.offsetX, ty = m[1] * dx + m[3] * dy + at.offsetY;
    x0 = std::min(x0, tx), y0 = std::min(y0, ty), x1 = std::max(x1, tx), y1 = std::max(y1, ty);
  }
  const double limit = double(QM_MAX_PICTURE_SIDE);
  if (!(x0 > -limit && y0 > -limit && x1 < limit && y1 < limit)) return ERR_MEM;
  const double fx = std::floor(x0), fy = std::floor(y0);
  const int64_t w = int64_t(std::ceil(x1) - fx), h = int64_t(std::ceil(y1) - fy);
  if (w < 1 || h < 1) return ERR_EMPTYPATH;
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  at.offsetX -= fx, at.offsetY -= fy;
  out->bitmap = AllocBitmap(int32_t(w), int32_t(h));
  out->alpha = out->bitmap ? AllocAlphaChannel(int32_t(w), int32_t(h), 1) : nullptr;
  if (!out->alpha) {
    FreeShapeImage(out);
    return ERR_MEM;
  }
  FillBitmapRect(out->bitmap, 0, 0, int32_t(w), int32_t(h), rgb & 0xFFFFFF);
  uint32_t code = Cover(&outline, out->alpha, 0, 2 * size, rgb & 0xFFFFFF, at);
  // A filled path's border is a solid silhouette: what the fill covers fully is covered too.
  if (!code && Filled(p->drawStyle)) {
    qmAlphaChannel *body = AllocAlphaChannel(int32_t(w), int32_t(h), 1);
    code = body ? Cover(&outline, body, 1, 1, rgb & 0xFFFFFF, at) : uint32_t(ERR_MEM);
    if (!code) CombineAlphaRect(body, 0, 0, out->alpha, 0, 0, int32_t(w), int32_t(h), 8, 0);
    FreeAlphaChannel(body);
  }
  if (code) {
    FreeShapeImage(out);
    return code;
  }
  out->x = int32_t(-fx), out->y = int32_t(-fy);
  return 0;
}

uint32_t CopyPathLayerData(const qmPathLayerData *from, qmPathLayerData **out) {
  *out = nullptr;
  auto *d = static_cast<qmPathLayerData *>(MemAlloc(sizeof(qmPathLayerData), 1));
  if (!d) return ERR_MEM;
  *d = *from;
  d->commands = nullptr, d->settings.dashes = nullptr;
  if (from->commands && from->bytes) {
    d->commands = static_cast<uint8_t *>(MemAlloc(from->bytes, 0));
    if (!d->commands) {
      FreePathLayerData(d);
      return ERR_MEM;
    }
    std::memcpy(d->commands, from->commands, from->bytes);
  } else {
    d->bytes = 0;
  }
  const uint32_t n = from->settings.dashes ? from->settings.dashCount : 0;
  if (n) {
    d->settings.dashes = static_cast<double *>(MemAlloc(n * uint32_t(sizeof(double)), 0));
    if (!d->settings.dashes) {
      FreePathLayerData(d);
      return ERR_MEM;
    }
    std::memcpy(d->settings.dashes, from->settings.dashes, n * sizeof(double));
  } else {
    d->settings.dashCount = 0;
  }
  *out = d;
  return 0;
}

void FreePathLayerData(qmPathLayerData *data) {
  if (!data) return;
  MemFree(data->commands);
  MemFree(data->settings.dashes);
  MemFree(data);
}
