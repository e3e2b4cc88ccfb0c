#include "layers/border.h"

#include <algorithm>

#include "display/display.h"
#include "graphics/blit.h"
#include "graphics/shape_draw.h"
#include "graphics/shape_render.h"
#include "graphics/alphaops.h"
#include "graphics/bitmap_effects.h"
#include "graphics/geometry.h"
#include "graphics/transform.h"
#include "graphics/vectorrender.h"
#include "layers/layerimage.h"
#include "layers/objectlayers.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"

namespace {

bool ShowsPicture(int32_t type) {
  return type == QMTYPE_BRUSH || type == QMTYPE_BRUSHPART || type == QMTYPE_BGPICPART || type == QMTYPE_ANIM;
}

// A turned picture without mask or alpha is a rectangle: its outline is drawn as the frame of an
// anti-aliased box under the layer's matrix, which stays sharp where a blurred plane would not.
uint32_t BuildTurnedFrame(const qmLayer *layer, uint32_t rgb, int32_t size,
                          int32_t *offsetX, int32_t *offsetY, qmPlaneSet *out) {
  const qmLayerState *base = layer->base;
  qmShapeRequest req{};
  req.type = QMTYPE_BOX;
  req.width = std::max(base->width, 1), req.height = std::max(base->height, 1);
  req.color = rgb;
  std::copy(layer->transform.matrix, layer->transform.matrix + 4, req.matrix);
  req.anchorX = layer->anchorX, req.anchorY = layer->anchorY;
  req.style.fillStyle = DRAWFILL_NONE;
  req.style.formStyle = FORM_ANTIALIAS;
  req.style.lineWidth = size;
  qmShapeImage img;
  if (uint32_t code = RenderShapeImage(&req, nullptr, &img)) return code;
  if (!img.bitmap) return ERR_MEM;
  // Both the frame and the layer's picture are placed relative to the untransformed box.
  int32_t tx, ty, tw, th;
  GetTransformedRect(0, 0, req.width, req.height, layer->anchorX, layer->anchorY, layer->transform.matrix, &tx, &ty,
                     &tw, &th);
  *offsetX = tx - img.x, *offsetY = ty - img.y;
  *out = {img.bitmap, img.mask, img.alpha};
  return 0;
}

// A shape's border is its own outline, drawn as wide as the border at the layer's geometry; the
// offsets place it against the layer's picture of that state.
uint32_t BuildShapeOutline(const qmLayer *layer, const qmLayerState *s, uint32_t rgb, int32_t size,
                           int32_t *offsetX, int32_t *offsetY, qmPlaneSet *out) {
  const qmLayerState *base = layer->base;
  const bool transformed = s->transformed.bitmap != nullptr;
  qmShapePlacement at{base->anchoredX, base->anchoredY, {1, 0, 0, 1}, layer->anchorX, layer->anchorY};
  if (transformed) std::copy(layer->transform.matrix, layer->transform.matrix + 4, at.matrix);
  qmShapeImage img;
  if (uint32_t code = RenderShapeOutline(layer->type, &at, &base->shape, base->objectWidth, base->objectHeight, rgb,
                                         size, &img))
    return code;
  if (!img.bitmap) return ERR_MEM;
  *offsetX = s->x - img.x, *offsetY = s->y - img.y;
  *out = {img.bitmap, img.mask, img.alpha};
  return 0;
}

// A path layer's border is its path stroked as wide as the border, drawn through the same
// matrix as the state's picture (the display's scale included for the scaled state). false
// when the plug-in cannot be reached: the border is then made from the picture.
bool BuildPathOutline(const qmDisplay *display, const qmLayer *layer, const qmLayerState *s, uint32_t rgb,
                      int32_t size, int32_t *offsetX, int32_t *offsetY, qmPlaneSet *out, uint32_t *code) {
  const qmPathLayerData *path = layer->type == QMTYPE_VECTORPATH ? layer->base->path : nullptr;
  qmVectorEngine engine{};
  if (!path || !path->commands || !path->findEngine || !path->findEngine(&engine)) return false;
  double m[4] = {1, 0, 0, 1};
  if (s->transformed.bitmap) {
    double t[4] = {layer->transform.matrix[0], layer->transform.matrix[1], layer->transform.matrix[2],
                   layer->transform.matrix[3]};
    if (display && s == layer->current && s != layer->unscaled) {
      t[0] *= display->scaleX, t[1] *= display->scaleX;
      t[2] *= display->scaleY, t[3] *= display->scaleY;
    }
    SnapMatrixNoise(t, m);
  }
  const qmPathPicture p{&engine, path->commands, &path->settings, &path->style, path->color, nullptr, m,
                        layer->anchorX, layer->anchorY};
  qmShapeImage img{};
  *code = RenderPathOutline(&p, rgb, size, &img);
  if (*code) return true;
  *offsetX = img.x, *offsetY = img.y;
  *out = {img.bitmap, img.mask, img.alpha};
  return true;
}

}  // namespace

int32_t GetTransformedEdgeOffset(const double m[4], int32_t width, int32_t height, int32_t edge) {
  int32_t inner, outer, y, w, h;
  GetTransformedRect(edge, edge, width, height, 0.5, 0.5, m, &inner, &y, &w, &h);
  GetTransformedRect(0, 0, width + 2 * edge, height + 2 * edge, 0.5, 0.5, m, &outer, &y, &w, &h);
  return inner - outer;
}

uint32_t BuildBorderImage(const qmDisplay *display, const qmLayer *layer, const qmLayerState *s, uint32_t color,
                          int32_t size, int32_t *offsetX, int32_t *offsetY, int32_t *width, int32_t *height,
                          qmPlaneSet *out) {
  *out = {};
  const int32_t opacity = 255 - int32_t(color >> 24);
  const uint32_t rgb = color & 0xFFFFFF;
  // The unfiltered picture of the state at the state's size: its transformed image, else its
  // own picture (for parts that holds only the part, so the outline is read from (0, 0)).
  static const qmPlaneSet kNone{};
  const qmPlaneSet *held = StatePicture(s, 0, 1);
  const qmPlaneSet &img = held ? *held : kNone;
  if (s->width < 1 || s->height < 1 || size < 1 || size > QM_MAX_PICTURE_SIDE) return ERR_MEM;
  const int32_t w = s->width, h = s->height;

  qmPlaneSet border{};
  int32_t ox = 0, oy = 0;
  const qmPlaneSet &baseImg = layer->base->own;
  const double *m = layer->transform.matrix;
  uint32_t textCode = 0, pathCode = 0;
  // A line's border is made from its picture like any other.
  if (IsShapeLayer(layer) && layer->type != QMTYPE_LINE) {
    if (uint32_t code = BuildShapeOutline(layer, s, rgb, size, &ox, &oy, &border)) return code;
  } else if (BuildPathOutline(display, layer, s, rgb, size, &ox, &oy, &border, &pathCode)) {
    if (pathCode) return pathCode;
  } else if (BuildTextLayerBorder(layer, s, rgb, size, &border, &textCode)) {
    if (textCode) return textCode;
    ox = oy = size;
  } else if (ShowsPicture(layer->type) && !baseImg.mask && !baseImg.alpha && (m[1] != 0 || m[2] != 0)) {
    if (uint32_t code = BuildTurnedFrame(layer, rgb, size, &ox, &oy, &border)) return code;
  } else {
    if (!img.bitmap) return ERR_MEM;
    double sm[4] = {m[0], m[1], m[2], m[3]};
    if (const qmDisplay *d = display) {
      sm[0] *= d->scaleX, sm[1] *= d->scaleX;
      sm[2] *= d->scaleY, sm[3] *= d->scaleY;
    }
    int32_t e = IsIdentityMatrix(sm) ? size : GetTransformedEdgeOffset(sm, w, h, size);
    e = std::clamp(e, 1, int32_t(QM_MAX_PICTURE_SIDE));
    const int64_t bw = int64_t(w) + 2 * e, bh = int64_t(h) + 2 * e;
    if (bw > QM_MAX_PICTURE_SIDE || bh > QM_MAX_PICTURE_SIDE) return ERR_MEM;
    border.bitmap = AllocBitmap(int32_t(bw), int32_t(bh));
    if (!border.bitmap) return ERR_MEM;
    FillBitmapRect(border.bitmap, 0, 0, int32_t(bw), int32_t(bh), rgb);
    if (img.mask || img.alpha) {
      border.alpha = CreateShadowAlpha(img.alpha, img.mask, 0, 0, w, h, e, e / 3.0, 255, 1, size > 3);
      if (!border.alpha) {
        FreePlaneSet(&border);
        return ERR_MEM;
      }
    }
    ox = oy = e;
  }

  const int32_t fw = border.bitmap->width, fh = border.bitmap->height;
  if (opacity < 255) {
    if (border.alpha) {
      ScaleAlphaChannel(border.alpha, border.alpha, fh, opacity);
    } else {
      border.alpha = AllocAlphaChannel(fw, fh, 1);
      if (!border.alpha) {
        FreePlaneSet(&border);
        return ERR_MEM;
      }
      if (border.mask) {
        MaskToAlphaRect(border.mask, 0, 0, border.alpha, 0, 0, fw, fh, uint8_t(opacity));
        FreeMask(border.mask);
        border.mask = nullptr;
      } else {
        FillAlphaRect(border.alpha, 0, 0, fw, fh, uint8_t(opacity));
      }
    }
  }
  *offsetX = ox, *offsetY = oy, *width = fw, *height = fh;
  *out = border;
  return 0;
}

bool EnsureBorderImage(const qmDisplay *display, const qmLayer *layer, qmLayerState *s) {
  if (s->border.bitmap) return true;
  qmPlaneSet img;
  int32_t ox, oy, w, h;
  if (BuildBorderImage(display, layer, s, layer->border.color, layer->border.size, &ox, &oy, &w, &h, &img))
    return false;
  s->border = img;
  s->borderOffsetX = ox, s->borderOffsetY = oy;
  s->borderWidth = w, s->borderHeight = h;
  return true;
}
