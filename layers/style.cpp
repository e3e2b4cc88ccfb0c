#include "layers/style.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "graphics/draw_style.h"
#include "graphics/shape_draw.h"
#include "graphics/bitmapops.h"
#include "graphics/clipregion.h"
#include "graphics/vectorrender.h"
#include "display/position.h"
#include "layers/layerimage.h"
#include "layers/layerops.h"
#include "platform/memory.h"
#include "layers/animlayer.h"
#include "layers/sweep.h"
#include "layers/objectlayers.h"
#include "media/animcore/anim.h"
#include "runtime/context.h"
#include "text/textobject.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"

namespace {

void CollectLayer(const qmScene *scene, const qmLayer *layer, qmDirtyRectList *batch) {
  int32_t x, y, w, h;
  GetLayerBounds(scene->current, layer, layer->current, &x, &y, &w, &h);
  AppendRect(batch, x, y, w, h);
}

// Another anim, or another frame: the frame becomes the layer's picture. Another anim may have
// another size: the layer then hangs from its requested point by its anchor at the new size.
uint32_t ChangeAnimContent(qmScene *scene, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
  const qmObjectId was = layer->object;
  qmLayerState *base = layer->base;
  const qmLayerState before = *base;
  const qmTransform transformBefore = layer->transform;
  bool resized = false;
  qmAnim *a = nullptr;
  if (c.animGiven) {
    if (uint32_t code = FindAnim(scene, &c.object, &a, 0)) return code;
    layer->object = c.object;
    resized = a->nativeWidth != base->objectWidth || a->nativeHeight != base->objectHeight;
  }
  CollectLayer(scene, layer, batch);
  if (resized) {
    const int32_t w = a->nativeWidth, h = a->nativeHeight;
    base->objectWidth = base->width = w;
    base->objectHeight = base->height = h;
    base->anchoredX = base->requestedX - int32_t(w * layer->anchorX);
    base->anchoredY = base->requestedY - int32_t(h * layer->anchorY);
    base->x = base->anchoredX, base->y = base->anchoredY;
    // A layer shown at a size of its own keeps it; scales and turns apply to the new size.
    UpdateTransform(&layer->transform, w, h);
  }
  if (uint32_t code = ShowAnimLayerFrame(scene, layer, c.frameGiven ? c.frame : 1, 1)) {
    layer->object = was;
    if (resized) {
      base->objectWidth = before.objectWidth, base->objectHeight = before.objectHeight;
      base->width = before.width, base->height = before.height;
      base->anchoredX = before.anchoredX, base->anchoredY = before.anchoredY;
      base->x = before.x, base->y = before.y;
      layer->transform = transformBefore;
    }
    return code;
  }
  CollectLayer(scene, layer, batch);
  // The anim left behind may have lived for this layer alone.
  if (c.animGiven) SweepUnusedObjects(scene, SWEEP_ANIMS);
  return 0;
}

// The part rectangle of a brush or picture as the layer's new own picture.
uint32_t ReplaceContent(qmScene *scene, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
  qmLayerState *base = layer->base;
  const bool newObject = c.object.id != layer->object.id || c.object.handle != layer->object.handle;
  qmPlaneSet src{};
  int32_t W = 0, H = 0;
  if (c.type == QMTYPE_BGPICPART) {
    qmBGPic *pic = nullptr;
    if (uint32_t code = FindBGPic(scene->objects, &c.object, &pic, newObject ? 0 : FINDBGPIC_DELETED)) return code;
    src = pic->unscaled, W = pic->unscaledWidth, H = pic->unscaledHeight;
  } else {
    qmBrush *b = nullptr;
    const int32_t flags = FINDBRUSH_HARDWARE | (newObject ? 0 : FINDBRUSH_DELETED);
    if (uint32_t code = FindBrush(scene->objects, &c.object, &b, flags)) return code;
    src = {b->bitmap, b->mask, b->alpha}, W = b->width, H = b->height;
  }
  int32_t px = c.partX, py = c.partY, pw = c.partWidth, ph = c.partHeight;
  if (c.type == QMTYPE_BRUSH) px = py = 0, pw = W, ph = H;
  if (px < 0 || py < 0 || px >= W || py >= H || pw < 1 || ph < 1) return ERR_COORDSRANGE;
  pw = std::min(pw, W - px), ph = std::min(ph, H - py);
  qmPlaneSet own{};
  if (uint32_t code = CopyBitmap(src.bitmap, src.mask, src.alpha, px, py, pw, ph, 0, &own.bitmap,
                                 src.mask ? &own.mask : nullptr, src.alpha ? &own.alpha : nullptr))
    return code;
  CollectLayer(scene, layer, batch);
  ForEachLayerState(layer, DropDerivedImages);
  DropOwnPicture(base);
  FreePlaneSet(&base->transformed);
  base->own = own;
  base->objectWidth = base->width = pw;
  base->objectHeight = base->height = ph;
  base->partX = c.type == QMTYPE_BRUSH ? 0 : px;
  base->partY = c.type == QMTYPE_BRUSH ? 0 : py;
  base->anchoredX = base->requestedX - int32_t(pw * layer->anchorX);
  base->anchoredY = base->requestedY - int32_t(ph * layer->anchorY);
  base->x = base->anchoredX, base->y = base->anchoredY;
  layer->type = c.type;
  layer->object = c.object;
  base->shapeData = 0;  // a picture now, no longer a shape
  UpdateTransform(&layer->transform, pw, ph);
  const uint32_t code = RenderLayerImage(scene, layer, 0);
  CollectLayer(scene, layer, batch);
  return code;
}

// The shape of the change drawn as the layer's new own picture at the layer's place; the
// layer's transform then draws it again.
uint32_t ReplaceShape(qmScene *scene, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
  qmLayerState *base = layer->base;
  // The new content in a state of its own first: on failure the layer stays as it was.
  qmLayerState next{};
  next.shapeData = 1, next.fillStyle = c.shape.style.fillStyle, next.shapeColor = c.shapeColor;
  next.lineX1 = c.lineX1, next.lineY1 = c.lineY1, next.lineX2 = c.lineX2, next.lineY2 = c.lineY2;
  const qmShapeLayerData *from = &c.shape;
  qmShapeLayerData keep = c.shape;
  if (!c.shape.vertices && c.type == QMTYPE_POLYGON) {
    // Unchanged vertices stay those of the layer.
    if (layer->type != QMTYPE_POLYGON) return ERR_MISSINGPARAMTR;
    keep.vertices = base->shape.vertices, keep.vertexCount = base->shape.vertexCount;
    from = &keep;
  }
  if (uint32_t code = CopyShapeData(from, &next.shape)) return code;
  int32_t w = c.boxWidth, h = c.boxHeight;
  next.requestedX = base->requestedX, next.requestedY = base->requestedY;
  if (c.type == QMTYPE_LINE) {
    w = int32_t(std::min<int64_t>(std::llabs(int64_t(c.lineX2) - c.lineX1) + 1, INT32_MAX));
    h = int32_t(std::min<int64_t>(std::llabs(int64_t(c.lineY2) - c.lineY1) + 1, INT32_MAX));
    next.requestedX = std::min(c.lineX1, c.lineX2), next.requestedY = std::min(c.lineY1, c.lineY2);
  } else if (uint32_t code = ShapeBoxSize(c.type, &next.shape, &w, &h)) {
    FreeLayerStateImages(&next);
    return code;
  }
  next.objectWidth = w, next.objectHeight = h;
  next.anchoredX = next.requestedX - int32_t(w * layer->anchorX);
  next.anchoredY = next.requestedY - int32_t(h * layer->anchorY);
  const int32_t oldType = layer->type;
  layer->type = c.type;  // the renderer draws by the layer's type
  qmShapeImage img{};
  uint32_t code = RenderShapeLayerImage(scene, layer, &next, &img);
  if (!code && !img.bitmap) code = ERR_WRONGUSAGE;
  if (code) {
    layer->type = oldType;
    FreeLayerStateImages(&next);
    return code;
  }
  CollectLayer(scene, layer, batch);
  ForEachLayerState(layer, DropDerivedImages);
  DropOwnPicture(base);
  FreePlaneSet(&base->transformed);
  MemFree(base->shape.vertices);
  base->own = {img.bitmap, img.mask, img.alpha};
  base->shape = next.shape;
  base->shapeData = 1, base->fillStyle = next.fillStyle, base->shapeColor = next.shapeColor;
  base->lineX1 = next.lineX1, base->lineY1 = next.lineY1, base->lineX2 = next.lineX2, base->lineY2 = next.lineY2;
  base->requestedX = next.requestedX, base->requestedY = next.requestedY;
  base->objectWidth = w, base->objectHeight = h;
  base->anchoredX = next.anchoredX, base->anchoredY = next.anchoredY;
  base->x = img.x, base->y = img.y;
  base->width = img.bitmap->width, base->height = img.bitmap->height;
  base->partX = base->partY = 0;
  layer->object = {};
  UpdateTransform(&layer->transform, w, h);
  code = RenderLayerImage(scene, layer, 0);
  CollectLayer(scene, layer, batch);
  return code;
}

// The path of the change drawn as the layer's new own picture; the requested point stays and
// the new box hangs from it by the anchor. The layer's transform then draws it again.
uint32_t ReplacePath(qmScene *scene, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
  static constexpr double kUpright[4] = {1, 0, 0, 1};
  qmShapeImage img{};
  qmPathBox box{};
  if (uint32_t code = RenderPathLayer(scene, layer, c.path, kUpright, &img, &box)) return code;
  qmPathLayerData *data = nullptr;
  if (uint32_t code = CopyPathLayerData(c.path, &data)) {
    FreeShapeImage(&img);
    return code;
  }
  qmLayerState *base = layer->base;
  CollectLayer(scene, layer, batch);
  ForEachLayerState(layer, DropDerivedImages);
  DropOwnPicture(base);
  FreePlaneSet(&base->transformed);
  FreePathLayerData(base->path);
  base->path = data;
  base->own = {img.bitmap, img.mask, img.alpha};
  base->objectWidth = box.width, base->objectHeight = box.height;
  base->anchoredX = base->requestedX - int32_t(box.width * layer->anchorX);
  base->anchoredY = base->requestedY - int32_t(box.height * layer->anchorY);
  base->x = base->anchoredX - box.x, base->y = base->anchoredY - box.y;
  base->width = img.bitmap->width, base->height = img.bitmap->height;
  UpdateTransform(&layer->transform, box.width, box.height);
  const uint32_t code = RenderLayerImage(scene, layer, 0);
  CollectLayer(scene, layer, batch);
  return code;
}

// The layer stops describing what it showed before its new content: no text, path or shape.
void DropOldDescription(qmLayerState *base) {
  FreeLayerTextRequest(base);
  FreePathLayerData(base->path);
  base->path = nullptr;
  MemFree(base->shape.vertices);
  base->shape = {};
  base->shapeData = 0;
  base->partX = base->partY = 0;
}

// The picture becomes the layer's own, its anchor point at (x, y); the layer shows it as a
// layer of the type, through its transform. The old area and the new are collected; what the
// layer showed before may have lived for it alone.
uint32_t TakeNewPicture(qmScene *scene, qmLayer *layer, int32_t type, const qmObjectId &object, qmPlaneSet picture,
                        qmTextRequest *request, int32_t x, int32_t y, qmDirtyRectList *batch) {
  qmLayerState *base = layer->base;
  const uint32_t sweep = layer->type != type || layer->object.id != object.id || layer->object.handle != object.handle
                             ? SweepFlagOfLayerType(layer->type)
                             : 0;
  CollectLayer(scene, layer, batch);
  ForEachLayerState(layer, DropDerivedImages);
  DropOwnPicture(base);
  FreePlaneSet(&base->transformed);
  DropOldDescription(base);
  base->textRequest = request;
  base->own = picture;
  const int32_t w = picture.bitmap->width, h = picture.bitmap->height;
  base->requestedX = x, base->requestedY = y;
  base->objectWidth = base->width = w;
  base->objectHeight = base->height = h;
  base->anchoredX = x - int32_t(w * layer->anchorX);
  base->anchoredY = y - int32_t(h * layer->anchorY);
  base->x = base->anchoredX, base->y = base->anchoredY;
  layer->type = type;
  layer->object = object;
  UpdateTransform(&layer->transform, w, h);
  const uint32_t code = RenderLayerImage(scene, layer, 0);
  CollectLayer(scene, layer, batch);
  if (sweep) SweepUnusedObjects(scene, sweep);
  return code;
}

// The text block of the change set anew (TEXTOUT or PRINT). It hangs from the layer's requested
// point by the anchor, but a PRINT block given a cursor goes where Print puts it. The layer
// keeps the request, from which it is set again when scaled.
uint32_t ReplaceText(qmScene *scene, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
  auto *request = static_cast<qmTextRequest *>(MemAlloc(sizeof(qmTextRequest), 1));
  if (!request) return ERR_MEM;
  if (CopyTextRequest(c.text, request)) {
    MemFree(request);
    return ERR_MEM;
  }
  qmTextBox box{};
  int32_t fontScaled = 0;
  const qmConstantLookup lookup = scene->context ? scene->context->tagConstant : nullptr;
  uint32_t code = RenderTextAtScale(request, c.type, 1.0, 1.0, lookup, scene, 0, &box, &fontScaled);
  // A block that sets nothing (no text) leaves nothing to show: the layer keeps what it had.
  if (!code && !box.bitmap) code = ERR_WRONGUSAGE;
  if (code) {
    FreeTextBox(&box);
    FreeTextRequest(request);
    MemFree(request);
    return code;
  }
  int32_t x = layer->base->requestedX, y = layer->base->requestedY;
  if (c.type == QMTYPE_PRINT && c.cursorGiven) {
    x = request->marginLeft + box.firstLineOffset + box.x + int32_t(box.width * layer->anchorX);
    y = request->cursorY + box.y + int32_t(box.height * layer->anchorY);
  }
  request->x = x - box.x, request->y = y - box.y;
  request->width = box.width, request->height = box.height;
  return TakeNewPicture(scene, layer, c.type, qmObjectId{}, {box.bitmap, box.mask, box.alpha}, request, x, y, batch);
}

// Another text object's picture shown where the layer is.
uint32_t ReplaceTextObject(qmScene *scene, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
  const qmPlayerContext *ctx = scene->context;
  if (!ctx || !ctx->textObjectPicture) return ERR_WRONGUSAGE;
  const qmBitmap *bitmap = nullptr;
  const qmMask *mask = nullptr;
  const qmAlphaChannel *alpha = nullptr;
  int32_t w = 0, h = 0;
  if (uint32_t code = ctx->textObjectPicture(scene, &c.object, &bitmap, &mask, &alpha, &w, &h)) return code;
  if (!bitmap || w < 1 || h < 1) return ERR_WRONGUSAGE;
  // A text object layer keeps only its place and the object's size beside the picture.
  auto *place = static_cast<qmTextRequest *>(MemAlloc(sizeof(qmTextRequest), 1));
  if (!place) return ERR_MEM;
  qmPlaneSet own{};
  if (uint32_t code = CopyBitmap(bitmap, mask, alpha, 0, 0, w, h, 0, &own.bitmap, mask ? &own.mask : nullptr,
                                 alpha ? &own.alpha : nullptr)) {
    MemFree(place);
    return code;
  }
  const int32_t x = layer->base->requestedX, y = layer->base->requestedY;
  place->x = x, place->y = y, place->width = w, place->height = h;
  return TakeNewPicture(scene, layer, QMTYPE_TEXTOBJECT, c.object, own, place, x, y, batch);
}

// A new anchor: the anchored corner of every state follows, the requested position stays.
void Reanchor(qmLayer *layer) {
  const qmLayerState *base = layer->base;
  const int32_t dx = base->requestedX - int32_t(base->objectWidth * layer->anchorX) - base->anchoredX;
  const int32_t dy = base->requestedY - int32_t(base->objectHeight * layer->anchorY) - base->anchoredY;
  ForEachLayerState(layer, [&](qmLayerState *s) {
    s->anchoredX += dx, s->anchoredY += dy;
    s->x += dx, s->y += dy;
  });
}

}  // namespace

void InitStyleChange(const qmLayer *layer, qmStyleChange *c) {
  std::memset(static_cast<void *>(c), 0, sizeof *c);
  c->look = *layer;
  c->transform = layer->transform;
  c->x = c->y = kKeepPosition;
  c->type = layer->type;
  c->object = layer->object;
  c->partX = layer->base->partX, c->partY = layer->base->partY;
  c->partWidth = layer->base->objectWidth, c->partHeight = layer->base->objectHeight;
  const qmLayerState *base = layer->base;
  c->shape = base->shape;
  c->shape.vertices = nullptr, c->shape.vertexCount = 0;  // new ones only, read from the table
  c->shapeColor = base->shapeColor;
  c->boxWidth = base->objectWidth, c->boxHeight = base->objectHeight;
  c->lineX1 = base->lineX1, c->lineY1 = base->lineY1, c->lineX2 = base->lineX2, c->lineY2 = base->lineY2;
}

void FreeStyleChange(qmStyleChange *c) {
  FreePathLayerData(c->path);
  c->path = nullptr;
  if (c->text) {
    FreeTextRequest(c->text);
    MemFree(c->text);
    c->text = nullptr;
  }
  MemFree(c->shape.vertices);
  c->shape.vertices = nullptr, c->shape.vertexCount = 0;
}

namespace {

uint32_t ApplyStyleToLayer(qmScene *scene, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
  const qmLayer &look = c.look;
  const bool filtersChanged = std::memcmp(look.filters, layer->filters, sizeof look.filters) != 0;
  const bool shadowChanged = std::memcmp(&look.shadow, &layer->shadow, sizeof look.shadow) != 0;
  const bool borderChanged = std::memcmp(&look.border, &layer->border, sizeof look.border) != 0;
  const bool anchorChanged = look.anchorX != layer->anchorX || look.anchorY != layer->anchorY;
  // The area the old shadow and border cover is taken before their caches go: measuring it
  // builds a missing border picture, which must not be built from the settings being replaced.
  if (shadowChanged || borderChanged || filtersChanged) CollectLayer(scene, layer, batch);
  if (filtersChanged) ForEachLayerState(layer, [](qmLayerState *s) { FreePlaneSet(&s->filtered); });
  if (shadowChanged || filtersChanged)
    ForEachLayerState(layer, [](qmLayerState *s) {
      FreeAlphaChannel(s->shadowAlpha);
      s->shadowAlpha = nullptr;
    });
  if (borderChanged || filtersChanged) ForEachLayerState(layer, [](qmLayerState *s) { FreePlaneSet(&s->border); });
  layer->hidden = look.hidden;
  layer->transparency = look.transparency;
  layer->shadow = look.shadow;
  layer->border = look.border;
  layer->shapeFilters = look.shapeFilters;
  std::memcpy(layer->filters, look.filters, sizeof layer->filters);
  layer->anchorX = look.anchorX, layer->anchorY = look.anchorY;
  layer->nocliptransform = look.nocliptransform;
  // A border or shadow switched on or grown reaches past the old rectangle.
  if (shadowChanged || borderChanged) CollectLayer(scene, layer, batch);

  bool lookChanged = c.lookChanged;
  if (c.z) {
    CollectLayer(scene, layer, batch);
    if (MoveLayerToPos(scene->picture, layer, c.z < 0 ? 0 : c.z)) lookChanged = true;
  }
  if (c.contentChanged) {
    layer->transform = c.transform;
    const bool shape = IsShapeType(c.type);
    const uint32_t code = c.path && c.type == QMTYPE_VECTORPATH ? ReplacePath(scene, layer, c, batch)
                          : c.text                              ? ReplaceText(scene, layer, c, batch)
                          : c.textObjectGiven                   ? ReplaceTextObject(scene, layer, c, batch)
                          : shape                               ? ReplaceShape(scene, layer, c, batch)
                                                                : ReplaceContent(scene, layer, c, batch);
    if (code) return code;
  }
  if (layer->type == QMTYPE_ANIM && (c.animGiven || c.frameGiven))
    if (uint32_t code = ChangeAnimContent(scene, layer, c, batch)) return code;
  bool transformChanged = c.transformChanged || (anchorChanged && !IsIdentityMatrix(c.transform.matrix));
  if (c.clipGiven) {
    // The base state refers to the region; rendered states get it on their next rendering.
    if (c.clip) c.clip->layerUses++;
    ReleaseLayerClip(scene->objects, layer->base);
    layer->base->clip = c.clip;
    if (layer->unscaled != layer->base || layer->current != layer->base) transformChanged = true;
  }
  if (c.positionGiven || transformChanged || c.clipChanged) {
    if (anchorChanged) {
      CollectLayer(scene, layer, batch);
      Reanchor(layer);
      if (!transformChanged) CollectLayer(scene, layer, batch);
    }
    if (c.positionGiven && (c.x != kKeepPosition || c.y != kKeepPosition)) {
      const qmLayerState *base = layer->base;
      auto resolve = [&](int32_t v, bool relative, bool vertical) {
        if (v == kKeepPosition || relative) return v;
        return vertical ? ResolvePositionY(scene, v, base->objectHeight, 0, layer->anchorY)
                        : ResolvePositionX(scene, v, base->objectWidth, 0, layer->anchorX);
      };
      int32_t x = resolve(c.x, c.relativeX, false), y = resolve(c.y, c.relativeY, true);
      // New vertices lie at their offset from the given position.
      auto offset = [](int32_t v, int32_t by) {
        return int32_t(std::clamp<int64_t>(int64_t(v) + by, INT32_MIN + 1, INT32_MAX - 1));
      };
      if (c.shape.vertices && x != kKeepPosition && !c.relativeX) x = offset(x, c.vertexOffsetX);
      if (c.shape.vertices && y != kKeepPosition && !c.relativeY) y = offset(y, c.vertexOffsetY);
      const uint32_t flags =
          (c.relativeX ? uint32_t(PLACE_RELATIVEX) : 0u) | (c.relativeY ? uint32_t(PLACE_RELATIVEY) : 0u);
      PlaceLayer(scene, layer, nullptr, x, y, 0, flags, batch);
    } else if (!anchorChanged) {
      CollectLayer(scene, layer, batch);
    }
    if (!transformChanged) {
      layer->transform = c.transform;
      return 0;
    }
    qmTransform T = c.transform;
    if (T.userMatrixSet) std::memcpy(T.matrix, T.userMatrix, sizeof T.matrix);
    else
      BuildTransformMatrix(T.matrix, T.targetWidth, T.targetHeight, layer->base->objectWidth,
                           layer->base->objectHeight, T.scaleX, T.scaleY, T.rotation);
    layer->transform = T;
    CollectLayer(scene, layer, batch);
    const uint32_t code = RenderLayerImage(scene, layer, LRENDERMODE_FOLLOW);
    CollectLayer(scene, layer, batch);
    return code;
  }
  layer->transform = c.transform;
  if (lookChanged) CollectLayer(scene, layer, batch);
  return 0;
}

}  // namespace

uint32_t ApplyStyleChange(qmScene *scene, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
  // A transition drawing the layer gives the layer its own pictures back for the change, and
  // follows the new look after it.
  if (!IsObjectInAsyncDraw(scene, layer)) return ApplyStyleToLayer(scene, layer, c, batch);
  BroadcastAsyncDraws(scene, ADOP_LAYERCHANGING, reinterpret_cast<intptr_t>(layer));
  const uint32_t code = ApplyStyleToLayer(scene, layer, c, batch);
  const uint32_t followed = BroadcastAsyncDraws(scene, ADOP_LAYERCHANGED, reinterpret_cast<intptr_t>(layer));
  CollectLayer(scene, layer, batch);
  return code ? code : followed;
}
