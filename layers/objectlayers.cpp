#include "layers/objectlayers.h"

#include <cmath>

#include "display/asyncdraw.h"
#include "display/display.h"
#include "display/displaytags.h"
#include "display/imagecore.h"
#include "display/scene.h"
#include "graphics/transform.h"
#include "graphics/vectorrender.h"
#include "layers/layerimage.h"
#include "layers/layerops.h"
#include "layers/layerscale.h"
#include "layers/redraw.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "text/textobject.h"

uint32_t LayersAddImageLayer(qmScene *scene, qmImageLayer *r) {
  auto *state = static_cast<qmLayerState *>(MemAlloc(sizeof(qmLayerState), 1));
  qmPlaneSet planes{r->bitmap, r->mask, r->alpha};
  if (!state) {
    FreePlaneSet(&planes);
    qmLayerState request{};
    request.textRequest = r->textRequest;
    FreeLayerTextRequest(&request);
    return ERR_MEM;
  }
  // What a text layer or a line keeps beside its picture.
  state->textRequest = r->textRequest;
  state->lineX1 = r->lineEnds[0], state->lineY1 = r->lineEnds[1];
  state->lineX2 = r->lineEnds[2], state->lineY2 = r->lineEnds[3];
  state->requestedX = r->requestedX, state->requestedY = r->requestedY;
  state->objectWidth = r->objectWidth, state->objectHeight = r->objectHeight;
  state->partX = r->partX, state->partY = r->partY;
  state->shapeData = r->shapeData, state->fillStyle = r->fillStyle, state->shapeColor = r->shapeColor;
  state->frame = r->frame, state->frameCount = r->frameCount, state->frameDelay = r->frameDelay;
  if (r->path && CopyPathLayerData(r->path, &state->path)) {
    FreePlaneSet(&planes);
    FreeLayerState(scene->objects, state);
    return ERR_MEM;
  }
  if (r->shape) {
    if (CopyShapeData(r->shape, &state->shape)) {
      FreePlaneSet(&planes);
      FreeLayerState(scene->objects, state);
      return ERR_MEM;
    }
  }
  uint32_t flags = 0;
  if (r->flags & IMGCORE_HIDDEN) flags |= ADDLAYER_HIDDEN;
  if (r->flags & IMGCORE_INSERT) flags |= ADDLAYER_INSERT;
  // AddLayer places the picture at x minus the anchor's share of the object's size.
  const double ax = r->transform ? r->transform->anchorX : 0, ay = r->transform ? r->transform->anchorY : 0;
  const int32_t x = r->x + int32_t(r->objectWidth * ax), y = r->y + int32_t(r->objectHeight * ay);
  if (uint32_t code = AddLayer(scene, int32_t(r->kind), &r->id, x, y, r->width, r->height, r->transform, r->tags, planes,
                               state, r->position, flags))
    return code;
  const bool transformed = r->transform && !IsIdentityMatrix(r->transform->matrix);
  const bool scaled = (r->flags & IMGCORE_RENDERSCALED) && DisplayScalesPictureLayers(scene->current, scene->picture);
  if (!transformed && !scaled) return 0;
  // The layer keeps the untouched picture and shows it through its transform, or at the
  // display's scale (the transform's rendering brings that one along).
  qmLayer *layer = LastLayer(scene->picture);
  while (layer && layer->base != state) layer = LayerBelow(layer);
  if (!layer) return 0;
  int32_t before[4];
  GetLayerBounds(scene->current, layer, layer->current, &before[0], &before[1], &before[2], &before[3]);
  const uint32_t mode = (r->flags & IMGCORE_INSERT) ? LRENDERMODE_SCALED | LRENDERMODE_FOLLOW | LRENDERMODE_KEEPCURRENT
                                                    : LRENDERMODE_SCALED | LRENDERMODE_KEEPCURRENT;
  const uint32_t code = RenderLayerImage(scene, layer, transformed ? 0 : mode);
  if (!layer->hidden) {
    RefreshRect(scene, before[0], before[1], before[2], before[3]);
    RefreshLayer(scene, layer);
  }
  return code;
}

uint32_t LayersAddTextLayer(qmScene *scene, const qmTextRequest *request, qmImageLayer *layer) {
  auto *copy = static_cast<qmTextRequest *>(MemAlloc(sizeof(qmTextRequest), 1));
  if (!copy || CopyTextRequest(request, copy)) {
    MemFree(copy);
    // The planes were handed over: they go with the refusal.
    FreeBitmap(layer->bitmap), FreeMask(layer->mask), FreeAlphaChannel(layer->alpha);
    layer->bitmap = nullptr, layer->mask = nullptr, layer->alpha = nullptr;
    return ERR_MEM;
  }
  layer->textRequest = copy;
  return LayersAddImageLayer(scene, layer);
}

void FreeLayerTextRequest(qmLayerState *state) {
  if (!state->textRequest) return;
  FreeTextRequest(state->textRequest);
  MemFree(state->textRequest);
  state->textRequest = nullptr;
}

uint32_t LayersRemoveAllLayers(qmScene *scene) {
  qmDisplay *d = scene->current;
  qmBGPic *pic = scene->picture;
  if (!d || !pic) return 0;
  // A layer an asynchronous draw object still draws may not go: then none goes.
  for (qmLayer *layer = FirstLayer(pic); layer; layer = LayerAbove(layer))
    if (IsObjectInAsyncDraw(scene, layer)) return ERR_REMADLAYER;
  const bool selected = d->outputType == DISPOUT_BGPIC;
  while (qmLayer *layer = FirstLayer(pic)) DestroyLayer(scene, layer, !selected || layer->hidden, nullptr, nullptr);
  pic->layersChanged = 1;
  return 0;
}

uint32_t LayersRemoveLastLayer(qmScene *scene, int32_t type) {
  qmBGPic *pic = scene->picture;
  const qmObjectId none{0, 0};
  qmLayer *layer = pic ? FindObjectLayer(pic, type, &none, 1) : nullptr;
  if (!layer) return 0;
  DestroyLayer(scene, layer, 0, nullptr, nullptr);
  pic->layersChanged = 1;
  return 0;
}

uint32_t DrawTextLayerObject(qmScene *scene, qmLayer *layer, qmLayerState *N, const qmTransform *transform,
                             const double m[4], uint32_t flags, int32_t *drawn) {
  *drawn = 0;
  const qmLayerState *base = layer->base;
  qmTextRequest *request = base->textRequest;
  // A text object layer holds the object's request only while the object is shown as made.
  const int32_t type = layer->type;
  if (!IsTextType(type) || !request || !request->text || !request->style.font || !request->style.font->scalable)
    return 0;
  // The scale of each row: the diagonal itself, or for a turn the length of the rows, which
  // must be equal and at right angles (no shear). The row lengths are taken rather than the
  // general-transform flag, whose angle search divides by cos 90 and misses scaled quarter
  // turns.
  double sx = std::fabs(m[0]), sy = std::fabs(m[3]);
  if (m[1] != 0 || m[2] != 0) {
    sx = std::hypot(m[0], m[1]), sy = std::hypot(m[2], m[3]);
    if (std::fabs(sx - sy) > 0.01 || std::fabs(m[0] * m[2] + m[1] * m[3]) > 1e-6 * sx * sy) return 0;
  }
  if (sx < 1e-6 || sy < 1e-6 || (std::fabs(sx - 1.0) < 1e-9 && std::fabs(sy - 1.0) < 1e-9)) return 0;
  qmTextBox box{};
  int32_t fontScaled = 0;
  if (uint32_t code = RenderTextAtScale(request, type, sx, sy, scene->context ? scene->context->tagConstant : nullptr, scene, 0,
                                        &box, &fontScaled)) {
    FreeTextBox(&box);
    return code;
  }
  if (!fontScaled || !box.bitmap) {
    FreeTextBox(&box);
    return 0;
  }
  // What is left of the matrix once the font carries the scale: a turn or a mirror.
  const double divided[4] = {m[0] / sx, m[1] / sx, m[2] / sy, m[3] / sy};
  double rest[4];
  SnapMatrixNoise(divided, rest);
  // The anchor point stays where the unscaled picture has it; the new picture is laid around it.
  const double ax = layer->anchorX, ay = layer->anchorY;
  const bool scaled = flags & LRENDER_SCALED;
  const double px = (scaled ? N->x : base->x) + base->width * ax, py = (scaled ? N->y : base->y) + base->height * ay;
  const auto cx = int32_t(std::lround(px - box.width * ax)), cy = int32_t(std::lround(py - box.height * ay));
  qmTransformedImage t{};
  const qmDisplay *display = scene->current;
  const uint32_t code = TransformImageBitmaps(display, TFKIND_PIXEL, box.bitmap, box.mask, box.alpha, 0, 0, cx, cy,
                                              box.width, box.height, ax, ay, rest, transform->smooth, &t);
  FreeTextBox(&box);
  if (code) return code;
  N->transformed = {t.bitmap, t.mask, t.alpha};
  N->x = t.x, N->y = t.y;
  N->width = t.width, N->height = t.height;
  *drawn = 1;
  return 0;
}

bool BuildTextLayerBorder(const qmLayer *layer, const qmLayerState *state, uint32_t rgb, int32_t size,
                          qmPlaneSet *out, uint32_t *code) {
  if (!IsTextType(layer->type) || size >= 8) return false;
  const qmPlaneSet *img = StatePicture(state, 0, 1);
  if (!img || (!img->mask && !img->alpha)) return false;
  *out = {};
  *code = MakeTextLayerBorder(img->mask, img->alpha, state->width, state->height, rgb, size, &out->bitmap, &out->mask,
                              &out->alpha);
  return true;
}
