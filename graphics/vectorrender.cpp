#include "graphics/vectorrender.h"

#include <cmath>

#include "graphics/blit.h"
#include "graphics/fillarea.h"
#include "runtime/errcodes.h"

namespace {

bool Filled(const qmDrawStyle *s) { return s->fillStyle != DRAWFILL_NONE; }

// A side of the picture: the extent rounded to whole pixels, 0 for nothing or for no number.
int64_t PixelSide(double extent) {
  if (!(extent > 0)) return 0;
  if (extent >= double(QM_MAX_PICTURE_SIDE) + 1) return int64_t(QM_MAX_PICTURE_SIDE) + 1;
  return int64_t(extent + 0.5);
}

}  // namespace

uint32_t MeasurePath(const qmPathPicture *p, double box[4]) {
  const qmVectorStyle style = VectorStyleOf(p->state, int32_t(p->drawStyle->formStyle & FORM_ANTIALIAS));
  qmPathExtentsRequest q{};
  q.commands = p->commands;
  q.style = &style;
  q.fill = Filled(p->drawStyle) ? 1 : 0;
  q.lineWidth = p->drawStyle->lineWidth;
  if (!p->engine->getPathExtents(&q)) return ERR_DRAWPATH;
  box[0] = q.x1, box[1] = q.y1, box[2] = q.x2, box[3] = q.y2;
  return 0;
}

uint32_t RenderPathPicture(const qmPathPicture *p, qmShapeImage *out) {
  *out = {};
  if (!p->commands) return ERR_EMPTYPATH;
  double box[4];
  if (uint32_t code = MeasurePath(p, box)) return code;
  const int64_t w = PixelSide(box[2] - box[0]), h = PixelSide(box[3] - box[1]);
  if (w == 0 || h == 0) return ERR_EMPTYPATH;
  // The plug-in's box decides the size: a path far out must not make a picture past the cap.
  if (w > QM_MAX_PICTURE_SIDE || h > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  out->bitmap = AllocBitmap(int32_t(w), int32_t(h));
  out->alpha = out->bitmap ? AllocAlphaChannel(int32_t(w), int32_t(h), 1) : nullptr;
  if (!out->alpha) {
    FreeShapeImage(out);
    return ERR_MEM;
  }
  out->x = int32_t(box[0]), out->y = int32_t(box[1]);
  const qmDrawStyle *s = p->drawStyle;
  uint32_t code = 0;
  if (s->fillStyle == DRAWFILL_GRADIENT) {
    const qmGradientFill g = GradientFillOf(&s->gradient);
    code = DrawGradient(out->bitmap, 0, 0, int32_t(w), int32_t(h), &g);
  } else if (s->fillStyle == DRAWFILL_TEXTURE && p->texture) {
    const qmBitmap *t = p->texture;
    TileBitmap(out->bitmap, 0, 0, int32_t(w), int32_t(h), t, s->textureX, s->textureY, t->width, t->height);
  } else {
    FillBitmapRect(out->bitmap, 0, 0, int32_t(w), int32_t(h), p->color & 0xFFFFFF);
  }
  const qmVectorStyle style = VectorStyleOf(p->state, int32_t(s->formStyle & FORM_ANTIALIAS));
  static const double kIdentity[6] = {1, 0, 0, 1, 0, 0};
  qmDrawPathRequest q{};
  q.commands = p->commands;
  q.style = &style;
  q.fill = Filled(s) ? 1 : 0;
  q.lineWidth = s->lineWidth;
  q.color = p->color;
  q.alpha = out->alpha->memory;
  q.bytesPerRow = out->alpha->bytesPerRow;
  q.width = int32_t(w), q.height = int32_t(h);
  q.originX = box[0], q.originY = box[1];
  q.matrix = kIdentity;
  if (!code && !p->engine->drawPath(&q)) code = ERR_DRAWPATH;
  if (code) FreeShapeImage(out);
  return code;
}
