#include "layers/layerimage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/imagecore.h"
#include "display/scene.h"
#include "display/filters.h"
#include "graphics/draw_style.h"
#include "graphics/bitmapops.h"
#include "graphics/clipregion.h"
#include "graphics/transform.h"
#include "graphics/vectorrender.h"
#include "layers/animlayer.h"
#include "layers/objectlayers.h"
#include "layers/layerscale.h"
#include "layers/sweep.h"
#include "media/animcore/anim.h"
#include "media/image/pluginimage.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"

namespace {

bool IsPartType(int32_t type) { return type == QMTYPE_BRUSHPART || type == QMTYPE_BGPICPART; }

void SetImage(qmLayerImage *out, const qmPlaneSet &set, int32_t width, int32_t height) {
  *out = {set.bitmap, set.mask, set.alpha, width, height, 0, 0, nullptr};
}

// Where the planes of the object a layer shows are kept, and their size. A brush keeps them in
// its own fields. A background picture shows its unscaled set: the picture at its present
// size, which a size change renders anew from the master with its mask and alpha, so image,
// mask and alpha always come from that one set. A text object only lends its picture to be
// read (readOnly). An anim layer holds its frame as its own picture: no bitmap here, as for
// kinds without an object picture.
struct ObjectPlanes {
  qmBitmap **bitmap = nullptr;
  qmMask **mask = nullptr;
  qmAlphaChannel **alpha = nullptr;
  int32_t width = 0, height = 0;
  void *source = nullptr;  // a brush's source image
  bool readOnly = false;
  qmPlaneSet lent{};  // what the references point at for a read-only picture
};

uint32_t FindObjectPlanes(qmScene *scene, const qmLayer *layer, ObjectPlanes *out) {
  switch (layer->type) {
  case QMTYPE_BRUSH:
  case QMTYPE_BRUSHPART: {
    qmBrush *b = nullptr;
    if (uint32_t code = FindBrush(scene->objects, &layer->object, &b, FINDBRUSH_DELETED | FINDBRUSH_HARDWARE))
      return code;
    out->bitmap = &b->bitmap, out->mask = &b->mask, out->alpha = &b->alpha;
    out->width = b->width, out->height = b->height;
    out->source = b->sourceImage;
    return 0;
  }
  case QMTYPE_BGPICPART: {
    qmBGPic *pic = nullptr;
    if (uint32_t code = FindBGPic(scene->objects, &layer->object, &pic, FINDBGPIC_DELETED)) return code;
    qmPlaneSet &set = pic->unscaled;
    out->bitmap = &set.bitmap, out->mask = &set.mask, out->alpha = &set.alpha;
    out->width = pic->unscaledWidth, out->height = pic->unscaledHeight;
    return 0;
  }
  case QMTYPE_TEXTOBJECT: {
    const qmPlayerContext *ctx = scene->context;
    if (!ctx || !ctx->textObjectPicture) return MissingObjectError(&layer->object, ERR_FINDTEXTOBJECT);
    const qmBitmap *b = nullptr;
    const qmMask *m = nullptr;
    const qmAlphaChannel *a = nullptr;
    if (uint32_t code = ctx->textObjectPicture(scene, &layer->object, &b, &m, &a, &out->width, &out->height))
      return code;
    // Borrowed: the layer code only reads the text object's planes.
    out->lent = {const_cast<qmBitmap *>(b), const_cast<qmMask *>(m), const_cast<qmAlphaChannel *>(a)};
    out->bitmap = &out->lent.bitmap, out->mask = &out->lent.mask, out->alpha = &out->lent.alpha;
    out->readOnly = true;
    return 0;
  }
  default: return 0;
  }
}

// The image of the layer's object itself, for layers that keep no picture of their own.
uint32_t GetObjectImage(qmScene *scene, qmLayer *layer, const qmLayerState *S, qmLayerImage *out) {
  ObjectPlanes p;
  if (uint32_t code = FindObjectPlanes(scene, layer, &p)) return code;
  if (!p.bitmap) return ERR_WRONGUSAGE;
  *out = {*p.bitmap, *p.mask, *p.alpha, p.width, p.height, 0, 0, p.source};
  if (IsPartType(layer->type)) out->originX = S->partX, out->originY = S->partY;
  return 0;
}

// cos and sin of whole degrees 0..360 from the draw library's tables (kept as angles 360 - i).
bool DegreeTables(const double **cosine, const double **sine) {
  const qmDrawTables *t = GetDrawTables();
  if (!t->cosine || !t->sine) {
    if (InitDrawTables()) return false;
    t = GetDrawTables();
  }
  *cosine = t->cosine, *sine = t->sine;
  return true;
}

// What of a line layer can show: the display (at its shown scale when scaled) grown by the room
// the layer's shadow and border take, so that a line with far-off ends is drawn again for that
// part alone. No view without a display.
qmLineView LineLayerView(const qmScene *scene, const qmLayer *layer, bool scaled) {
  const qmDisplay *d = scene->current;
  if (!d) return {};
  const double sx = scaled ? d->scaleX : 1.0, sy = scaled ? d->scaleY : 1.0;
  const int32_t grow = LineEffectsRoom(layer->shadow.on, layer->shadow.size, layer->shadow.radius,
                                       layer->shadow.sigma, layer->border.on, layer->border.size);
  const auto side = [](int32_t n, double s) { return int32_t(std::clamp(std::ceil(n * s), 1.0, 1e9)); };
  return {side(d->width, sx), side(d->height, sy), grow};
}

// The shape of state S drawn by the shape renderers at the placement.
uint32_t RenderLayerShape(qmScene *scene, const qmLayer *layer, int32_t type, const qmLayerState *S,
                          const qmShapePlacement *at, bool scaled, qmShapeImage *out) {
  const qmShapeLayerData &shape = S->shape;
  if (type == QMTYPE_LINE) {
    const qmLineView view = LineLayerView(scene, layer, scaled);
    return RenderLine(at, S->lineX1, S->lineY1, S->lineX2, S->lineY2, shape.thickness, S->shapeColor,
                      (shape.style.formStyle & FORM_ANTIALIAS) ? 1 : 0, &view, out);
  }
  const qmBitmap *texture = nullptr;
  if (shape.style.fillStyle == DRAWFILL_TEXTURE) {
    qmObjectId id = shape.style.texture;
    qmBrush *b = nullptr;
    if (uint32_t code = FindBrush(scene->objects, &id, &b, FINDBRUSH_DELETED)) return code;
    texture = b->bitmap;
  }
  return RenderShapeOfType(type, &shape.style, at, &shape, S->objectWidth, S->objectHeight, S->shapeColor, texture,
                           out);
}

// A corner at pos, whose anchor lies share pixels further on, for a display of that scale: the
// anchor point taken to the scale, less the anchor's unscaled share (the picture turns about it).
int32_t ScaledCorner(int32_t pos, double share, double scale) {
  return int32_t(std::lround((pos + share) * scale - share));
}

// The layer's vector brush drawn by its plug-in through the matrix, at the place and size its
// picture turned as pixels would take; *drawn 0 when the layer's brush is not a vector brush.
uint32_t DrawVectorBrushLayer(qmScene *scene, const qmLayer *layer, qmLayerState *N, const double m[4],
                              uint32_t flags, int32_t *drawn) {
  *drawn = 0;
  qmObjectId id = layer->object;
  qmBrush *b = nullptr;
  if (FindBrush(scene->objects, &id, &b, FINDBRUSH_DELETED) || b->kind != BRUSHKIND_VECTOR || !b->sourceImage)
    return 0;
  const auto *source = static_cast<const qmPluginImage *>(b->sourceImage);
  const qmLayerState *base = layer->base;
  const int32_t width = base->width, height = base->height;
  if (width < 1 || height < 1 || source->width < 1 || source->height < 1) return 0;
  const bool scaled = flags & LRENDER_SCALED;
  qmTransformedImage at{};
  if (uint32_t code = TransformImageBitmaps(scene->current, TFKIND_GEOMETRY, nullptr, nullptr, nullptr, 0, 0,
                                            scaled ? N->x : base->x, scaled ? N->y : base->y, width, height,
                                            layer->anchorX, layer->anchorY, m, 0, &at))
    return code;
  // The picture as loaded taken to the layer's size, then through the matrix, moved so that the
  // turned box starts at (0, 0).
  const double sx = double(width) / source->width, sy = double(height) / source->height;
  double x0 = 0, y0 = 0;
  const double corners[3][2] = {{double(width), 0}, {0, double(height)}, {double(width), double(height)}};
  for (const auto &c : corners) {
    x0 = std::min(x0, m[0] * c[0] + m[2] * c[1]);
    y0 = std::min(y0, m[1] * c[0] + m[3] * c[1]);
  }
  const double values[6] = {m[0] * sx, m[1] * sx, m[2] * sy, m[3] * sy, -x0, -y0};
  qmPlaneSet planes{};
  int32_t ownMask = 0;
  if (uint32_t code = RenderVectorBrushPlanes(b, values, at.width, at.height, !(m[1] == 0 && m[2] == 0),
                                              &planes.bitmap, &planes.mask, &planes.alpha, &ownMask))
    return code;
  N->transformed = planes;
  N->x = at.x, N->y = at.y;
  N->width = at.width, N->height = at.height;
  *drawn = 1;
  return 0;
}

}  // namespace

const qmPlaneSet *StatePicture(const qmLayerState *S, int32_t useFilters, int32_t useTransform) {
  if (useFilters && S->filtered.bitmap) return &S->filtered;
  if (useTransform && S->transformed.bitmap) return &S->transformed;
  if (S->own.bitmap) return &S->own;
  return nullptr;
}

uint32_t GetLayerImage(qmScene *scene, qmLayer *layer, qmLayerState *S, int32_t useFilters, int32_t useTransform,
                       int32_t frame, qmLayerImage *out) {
  if (layer->type == QMTYPE_NOOBJECT) return ERR_WRONGUSAGE;
  if (useFilters && !S->filtered.bitmap && HasFilters(layer->filters)) {
    // Failures here are not reported: the layer then shows its picture without filters.
    qmLayerImage plain{};
    if (!GetLayerImage(scene, layer, S, 0, useTransform, frame, &plain) && plain.bitmap) {
      qmPlaneSet f{};
      if (!CopyBitmap(plain.bitmap, plain.mask, plain.alpha, plain.originX, plain.originY, S->width, S->height, 0,
                      &f.bitmap, &f.mask, &f.alpha)) {
        ApplyFilters(layer->filters, f.bitmap, f.mask, f.alpha, S->width, S->height);
        S->filtered = f;
      }
    }
  }
  // The filtered image is made from the transformed one when there is one, so it shows the
  // filters over the transform whatever kind of filter is set.
  const qmPlaneSet *held = StatePicture(S, useFilters, useTransform);
  if (!held) return GetObjectImage(scene, layer, S, out);
  SetImage(out, *held, S->width, S->height);
  return 0;
}

uint32_t RenderShapeLayerImage(qmScene *scene, const qmLayer *layer, const qmLayerState *S, qmShapeImage *out) {
  *out = {};
  qmShapePlacement at{S->anchoredX, S->anchoredY, {1, 0, 0, 1}, layer->anchorX, layer->anchorY};
  return RenderLayerShape(scene, layer, layer->type, S, &at, false, out);
}

void UpdateTransform(qmTransform *t, int32_t width, int32_t height) {
  if (t->userMatrixSet) {
    std::memcpy(t->matrix, t->userMatrix, sizeof t->matrix);
    return;
  }
  BuildTransformMatrix(t->matrix, t->targetWidth, t->targetHeight, width, height, t->scaleX, t->scaleY, t->rotation);
}

int32_t FindRotationScales(const qmTransform *t, double *scaleX, double *scaleY) {
  const double *cosine = nullptr, *sine = nullptr;
  if (!DegreeTables(&cosine, &sine)) return 0;
  const double m00 = t->matrix[0], m01 = t->matrix[1], m10 = t->matrix[2], m11 = t->matrix[3];
  auto sinOf = [&](int i) { return -sine[i]; };  // the table holds sin(360 - i)
  int i = 0, j = 0;
  for (; i <= 360; i++)
    if ((cosine[i] < 0) == (m00 < 0) && std::fabs(m00 / cosine[i] - m01 / sinOf(i)) <= 0.0001) break;
  for (; j <= 360; j++)
    if ((cosine[j] < 0) == (m11 < 0) && std::fabs(m11 / cosine[j] - m10 / -sinOf(j)) <= 0.0001) break;
  if (i > 360 || j > 360) return 0;
  *scaleX = m00 / cosine[i];
  *scaleY = m11 / cosine[j];
  return 1;
}

void DetectPureRotation(qmTransform *t) {
  if (t->matrix[1] == 0 && t->matrix[2] == 0) return;
  t->generalTransform = 1;
  double sx = 0, sy = 0;
  if (FindRotationScales(t, &sx, &sy)) {
    if (std::fabs(sx - sy) <= 0.01) t->generalTransform = 0;
    t->scaleXEstimate = sx, t->scaleYEstimate = sy;
  }
}

bool IsShapeType(int32_t type) {
  switch (type) {
  case QMTYPE_BOX:
  case QMTYPE_CIRCLE:
  case QMTYPE_ELLIPSE:
  case QMTYPE_LINE:
  case QMTYPE_POLYGON:
  case QMTYPE_ARC: return true;
  default: return false;
  }
}

bool IsTextType(int32_t type) {
  return type == QMTYPE_TEXTOBJECT || type == QMTYPE_TEXTOUT || type == QMTYPE_PRINT;
}

uint32_t RenderPathLayer(qmScene *scene, const qmLayer *layer, const qmPathLayerData *path, const double matrix[4],
                         qmShapeImage *out, qmPathBox *box) {
  *out = {};
  *box = {};
  const qmPlayerContext *ctx = scene->context;
  qmVectorEngine engine{};
  if (!ctx || !ctx->findVectorEngine || !ctx->findVectorEngine(&engine)) return ERR_VECGFXPLUGIN;
  const qmBitmap *texture = nullptr;
  if (path->style.fillStyle == DRAWFILL_TEXTURE) {
    qmObjectId id = path->style.texture;
    qmBrush *b = nullptr;
    if (FindBrush(scene->objects, &id, &b, FINDBRUSH_DELETED) == 0) texture = b->bitmap;
  }
  const qmPathPicture p{&engine, path->commands, &path->settings, &path->style, path->color, texture, matrix,
                        layer->anchorX, layer->anchorY};
  return RenderPathPicture(&p, out, box);
}

namespace {

// Whether the layer's kind shows its picture through something other than a pixel brush: it
// would draw the picture anew from its text, shape, path, vector source or object part.
bool DrawsFromDescription(qmScene *scene, const qmLayer *layer) {
  if (layer->type != QMTYPE_BRUSH) return true;
  qmObjectId id = layer->object;
  qmBrush *b = nullptr;
  if (FindBrush(scene->objects, &id, &b, FINDBRUSH_DELETED | FINDBRUSH_HARDWARE)) return true;
  return b->kind == BRUSHKIND_VECTOR;
}

// The state stops describing its object: only its picture is left to show.
void DropLayerDescription(qmLayerState *s) {
  FreeLayerTextRequest(s);
  FreePathLayerData(s->path);
  s->path = nullptr;
  MemFree(s->shape.vertices);
  s->shape = {};
  s->shapeData = 0;
  s->partX = s->partY = 0;
}

// The layer's own untransformed picture as the drawing target (a lent frame is copied first).
uint32_t OwnPictureTarget(qmLayerState *s, qmPlaneSet *planes, int32_t *width, int32_t *height) {
  if (!s->own.bitmap) return ERR_WRONGUSAGE;
  if (uint32_t code = CopyLentPicture(s)) return code;
  *planes = s->own;
  *width = s->own.bitmap->width, *height = s->own.bitmap->height;
  return 0;
}

// A part layer draws into the whole brush it shows a part of: the brush itself when it lives
// only for this layer, else a copy of it made for the layer, which goes with the layer.
uint32_t TakeLayerBrush(qmScene *scene, qmLayer *layer, qmPlaneSet *planes, int32_t *width, int32_t *height) {
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(scene->objects, &layer->object, &b, FINDBRUSH_DELETED)) return code;
  if (b->kind == BRUSHKIND_VECTOR) return ERR_BRUSHTYPE;
  if (!b->deleted || IsObjectInAnyLayer(scene->objects, QMTYPE_BRUSH, &layer->object, layer)) {
    qmObjectId id{0, 0};
    qmBrush *copy = nullptr;
    if (uint32_t code = CopyBrushRecord(scene->objects, b, &id, 0, &copy)) return code;
    layer->object = id;
    b = copy;
  }
  b->deleted = 1;
  b->kind = BRUSHKIND_PIXEL;
  ReleasePluginImage(static_cast<qmPluginImage *>(b->sourceImage));
  b->sourceImage = nullptr;
  *planes = {b->bitmap, b->mask, b->alpha};
  *width = b->width, *height = b->height;
  return 0;
}

// An anim layer draws into the frame of its anim in place: the anim itself when it lives only
// for this layer, else a copy made for the layer. The layer stays a layer of that anim and
// shows what was drawn whenever it shows that frame.
uint32_t TakeLayerAnimFrame(qmScene *scene, qmLayer *layer, int32_t frame, qmPlaneSet *planes, int32_t *width,
                            int32_t *height) {
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &layer->object, &a, FINDANIM_FREED)) return code;
  if (a->onDisk) return ERR_ANIMDISK;
  if (frame < 1 || frame > a->frameCount) return ERR_ANIMFRAME;
  if (uint32_t code = OwnLayerAnim(scene, layer, &a)) return code;
  qmBitmap *bitmap = nullptr;
  qmMask *mask = nullptr;
  qmAlphaChannel *alpha = nullptr;
  if (uint32_t code = FetchAnimFrame(a, frame - 1, 0, 1, &bitmap, &mask, &alpha)) return code;
  *planes = {bitmap, mask, alpha};
  *width = bitmap->width, *height = bitmap->height;
  return 0;
}

// A picture-part layer draws into the picture it keeps of its own; one that keeps none draws
// into the whole background picture, taken for the layer alone (a copy when it is shared) and
// made a plain raster picture whose sets are all its master.
uint32_t TakeLayerPicture(qmScene *scene, qmLayer *layer, qmPlaneSet *planes, int32_t *width, int32_t *height) {
  if (layer->base->own.bitmap) return OwnPictureTarget(layer->base, planes, width, height);
  qmBGPic *pic = nullptr;
  if (uint32_t code = FindBGPic(scene->objects, &layer->object, &pic, FINDBGPIC_DELETED)) return code;
  if (!pic->deleted || DisplayShowingBGPic(scene, pic) ||
      IsObjectInAnyLayer(scene->objects, QMTYPE_BGPICPART, &layer->object, layer)) {
    qmObjectId id{0, 0};
    qmBGPic *copy = nullptr;
    if (uint32_t code = CopyBGPicRecord(scene->objects, pic, &id, &copy)) return code;
    layer->object = id;
    pic = copy;
  }
  pic->deleted = 1;
  pic->kind = 0;
  ReleasePluginImage(static_cast<qmPluginImage *>(pic->pluginImage));
  pic->pluginImage = nullptr;
  FreeDerivedSets(pic);
  pic->shownWidth = pic->unscaledWidth = pic->masterWidth;
  pic->shownHeight = pic->unscaledHeight = pic->masterHeight;
  *planes = pic->master;
  *width = pic->masterWidth, *height = pic->masterHeight;
  return 0;
}

}  // namespace

uint32_t RasterizeVectorLayer(qmScene *scene, qmLayer *layer, int32_t frame, qmPlaneSet *planes, int32_t *width,
                              int32_t *height) {
  *planes = {};
  *width = *height = 0;
  if (IsObjectInAsyncDraw(scene, layer)) return ERR_RENDERADLAYER;
  switch (layer->type) {
  case QMTYPE_ANIM: return TakeLayerAnimFrame(scene, layer, frame, planes, width, height);
  case QMTYPE_BRUSHPART: return TakeLayerBrush(scene, layer, planes, width, height);
  case QMTYPE_BGPICPART: return TakeLayerPicture(scene, layer, planes, width, height);
  case QMTYPE_BRUSH:
  case QMTYPE_TEXTOBJECT:
  case QMTYPE_TEXTOUT:
  case QMTYPE_PRINT:
  case QMTYPE_VECTORPATH: break;
  default:
    if (!IsShapeType(layer->type)) return ERR_WRONGUSAGE;
  }
  qmLayerState *s = layer->base;
  if (!s->own.bitmap) {
    // Layers of an object's picture hold the rectangle they show.
    qmLayerImage img{};
    if (uint32_t code = GetLayerImage(scene, layer, s, 0, 0, -1, &img)) return code;
    if (!img.bitmap || s->width < 1 || s->height < 1 || img.originX < 0 || img.originY < 0 ||
        int64_t(img.originX) + s->width > img.width || int64_t(img.originY) + s->height > img.height)
      return ERR_WRONGUSAGE;
    qmPlaneSet copy{};
    if (uint32_t code = CopyBitmap(img.bitmap, img.mask, img.alpha, img.originX, img.originY, s->width, s->height, 0,
                                   &copy.bitmap, img.mask ? &copy.mask : nullptr, img.alpha ? &copy.alpha : nullptr))
      return code;
    s->own = copy;
  }
  if (!DrawsFromDescription(scene, layer)) return OwnPictureTarget(s, planes, width, height);
  // The layer becomes a layer of a pixel brush of its picture, kept only for it (flagged as
  // freed, it goes with the layer); a later SelectLayer finds a brush layer and keeps it.
  const qmPlaneSet &own = s->own;
  const int32_t w = own.bitmap->width, h = own.bitmap->height;
  qmPlaneSet picture{};
  if (uint32_t code = CopyBitmap(own.bitmap, own.mask, own.alpha, 0, 0, w, h, 0, &picture.bitmap,
                                 own.mask ? &picture.mask : nullptr, own.alpha ? &picture.alpha : nullptr))
    return code;
  qmObjectId id{0, 0};
  qmBrush *brush = nullptr;
  if (uint32_t code = NewBrushRecord(scene->objects, &id, BRUSHKIND_PIXEL, w, h, w, 0, nullptr, picture.bitmap,
                                     picture.mask ? kOwnMaskColor : kNoTransparentColor, picture.mask, picture.alpha,
                                     &brush)) {
    FreePlaneSet(&picture);
    return code;
  }
  brush->deleted = 1;
  const uint32_t sweep = SweepFlagOfLayerType(layer->type);
  ForEachLayerState(layer, DropLayerDescription);
  layer->type = QMTYPE_BRUSH;
  layer->object = id;
  // What the layer showed before may have lived only for it.
  if (sweep) SweepUnusedObjects(scene, sweep);
  return OwnPictureTarget(s, planes, width, height);
}

uint32_t RefreshPartPicture(qmScene *scene, qmLayer *layer) {
  if (layer->type != QMTYPE_BRUSHPART) return 0;
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(scene->objects, &layer->object, &b, FINDBRUSH_DELETED)) return code;
  qmLayerState *s = layer->base;
  if (s->partX < 0 || s->partY < 0 || int64_t(s->partX) + s->width > b->width ||
      int64_t(s->partY) + s->height > b->height)
    return ERR_WRONGUSAGE;
  qmPlaneSet part{};
  if (uint32_t code = CopyBitmap(b->bitmap, b->mask, b->alpha, s->partX, s->partY, s->width, s->height, 0,
                                 &part.bitmap, b->mask ? &part.mask : nullptr, b->alpha ? &part.alpha : nullptr))
    return code;
  DropOwnPicture(s);
  s->own = part;
  return 0;
}

bool IsShapeLayer(const qmLayer *layer) {
  if (!IsShapeType(layer->type) || !layer->base || !layer->base->shapeData) return false;
  return layer->type != QMTYPE_LINE || layer->base->shape.thickness >= 1;
}

uint32_t DrawLayerObject(qmScene *scene, qmLayer *layer, qmLayerState *N, const qmTransform *transform,
                         uint32_t flags) {
  switch (layer->type) {
  case QMTYPE_ANIM: {
    // The frame is the layer's own picture; the anim it belongs to must still be there.
    qmAnim *anim = nullptr;
    if (uint32_t code = FindAnim(scene, &layer->object, &anim, FINDANIM_FREED)) return code;
    break;
  }
  case QMTYPE_NOOBJECT: return 0;
  default: break;
  }
  if (layer->type == QMTYPE_VECTORPATH && layer->base && layer->base->path) {
    // Paths too are drawn again through the matrix, about the layer's anchor.
    const qmLayerState *base = layer->base;
    int32_t x = base->anchoredX, y = base->anchoredY;
    if (flags & LRENDER_SCALED) {
      const qmDisplay *d = scene->current;
      x = ScaledCorner(base->anchoredX, base->objectWidth * layer->anchorX, d ? d->scaleX : 1.0);
      y = ScaledCorner(base->anchoredY, base->objectHeight * layer->anchorY, d ? d->scaleY : 1.0);
    }
    double m[4];
    SnapMatrixNoise(transform->matrix, m);
    qmShapeImage img{};
    qmPathBox box{};
    if (uint32_t code = RenderPathLayer(scene, layer, base->path, m, &img, &box)) return code;
    N->transformed = {img.bitmap, img.mask, img.alpha};
    N->x = x - box.x, N->y = y - box.y;
    N->width = img.bitmap->width, N->height = img.bitmap->height;
    return 0;
  }
  if (IsShapeLayer(layer)) {
    // Shapes are drawn again at the transformed geometry rather than turning their picture.
    const qmLayerState *base = layer->base;
    qmShapePlacement at{base->anchoredX, base->anchoredY, {}, layer->anchorX, layer->anchorY};
    if (flags & LRENDER_SCALED) {
      // For the display scale the shape turns about its anchor point taken to that scale: the
      // corner handed on is that point less the anchor's share of the unscaled size.
      const qmDisplay *d = scene->current;
      at.x = ScaledCorner(base->anchoredX, base->objectWidth * layer->anchorX, d ? d->scaleX : 1.0);
      at.y = ScaledCorner(base->anchoredY, base->objectHeight * layer->anchorY, d ? d->scaleY : 1.0);
    }
    std::memcpy(at.matrix, transform->matrix, sizeof at.matrix);
    qmShapeImage img{};
    if (uint32_t code = RenderLayerShape(scene, layer, layer->type, base, &at, flags & LRENDER_SCALED, &img))
      return code;
    if (!img.bitmap) return ERR_WRONGUSAGE;
    N->transformed = {img.bitmap, img.mask, img.alpha};
    N->x = img.x, N->y = img.y;
    N->width = img.bitmap->width, N->height = img.bitmap->height;
    return 0;
  }
  // Every kind that exists here draws from its picture: the object's, or the one the layer was
  // given (shapes, text and paths), turned about the layer's anchor.
  qmLayerState *base = layer->base;
  qmLayerImage img{};
  if (uint32_t code = GetLayerImage(scene, layer, base, 0, 0, -1, &img)) return code;
  if (!img.bitmap) return ERR_WRONGUSAGE;
  // Turns by whole quarters carry rounding noise of about 1e-16 in the matrix (cos 90 is not 0
  // in doubles), enough to truncate the placed corner one pixel off: such terms count as exact.
  double m[4];
  SnapMatrixNoise(transform->matrix, m);
  // A vector brush is drawn anew by its plug-in through the matrix rather than its pixels turned.
  if (layer->type == QMTYPE_BRUSH) {
    int32_t drawn = 0;
    if (uint32_t code = DrawVectorBrushLayer(scene, layer, N, m, flags, &drawn)) return code;
    if (drawn) return 0;
  }
  // Scaled text is rendered again at its scaled size rather than its picture enlarged.
  if (IsTextType(layer->type)) {
    int32_t drawn = 0;
    if (uint32_t code = DrawTextLayerObject(scene, layer, N, transform, m, flags, &drawn)) return code;
    if (drawn) return 0;
  }
  // Rendered for the display scale, the picture lies where the caller put N's corner.
  const bool scaled = flags & LRENDER_SCALED;
  qmTransformedImage t{};
  if (uint32_t code = TransformImageBitmaps(scene->current, TFKIND_PIXEL, img.bitmap, img.mask, img.alpha, img.originX,
                                            img.originY, scaled ? N->x : base->x, scaled ? N->y : base->y, base->width,
                                            base->height, layer->anchorX, layer->anchorY, m, transform->smooth, &t))
    return code;
  N->transformed = {t.bitmap, t.mask, t.alpha};
  N->x = t.x, N->y = t.y;
  N->width = t.width, N->height = t.height;
  return 0;
}

uint32_t RenderLayerImage(qmScene *scene, qmLayer *layer, uint32_t mode) {
  qmLayerState *base = layer->base, *unscaled = layer->unscaled, *current = layer->current;
  const bool scaled = mode & LRENDERMODE_SCALED;
  const qmDisplay *d = scene->current;
  const double sx = d ? d->scaleX : 1.0, sy = d ? d->scaleY : 1.0;
  qmTransform T = layer->transform;
  if (IsTextType(layer->type)) DetectPureRotation(&T);
  // The old current state goes unless it is one of the others or the caller keeps it.
  auto dropCurrent = [&] {
    if (current != base && current != unscaled && !(mode & LRENDERMODE_KEEPCURRENT))
      FreeLayerState(scene->objects, current);
  };
  if (scaled) {
    // At a factor of 1.0 the display shows the unscaled state itself.
    if (sx == 1.0 && sy == 1.0) {
      dropCurrent();
      layer->current = unscaled;
      return 0;
    }
    T.matrix[0] *= sx, T.matrix[1] *= sx;
    T.matrix[2] *= sy, T.matrix[3] *= sy;
    T.smooth = d ? int32_t(d->smoothScale) : 0;
    T.scaleXEstimate *= sx, T.scaleYEstimate *= sy;
    if (!T.generalTransform && std::fabs(sx - sy) > 0.01) T.generalTransform = 1;
  }
  // The unscaled rendering is followed by one for the display when it scales this picture's
  // layers.
  const bool follow = !scaled && DisplayScalesPictureLayers(d, scene->picture);
  const uint32_t followMode = (mode & LRENDERMODE_FOLLOW) ? LRENDERMODE_SCALED | LRENDERMODE_FOLLOW
                                                          : LRENDERMODE_SCALED;
  // Untransformed, the layer shows its base state again.
  if (!scaled && IsIdentityMatrix(T.matrix)) {
    if (current != base && current != unscaled) FreeLayerState(scene->objects, current);
    if (unscaled != base) FreeLayerState(scene->objects, unscaled);
    layer->unscaled = layer->current = base;
    return follow ? RenderLayerImage(scene, layer, followMode) : 0;
  }
  auto *N = static_cast<qmLayerState *>(MemAlloc(sizeof(qmLayerState), 1));
  if (!N) return ERR_MEM;
  N->requestedX = base->requestedX, N->requestedY = base->requestedY;
  N->objectWidth = base->objectWidth, N->objectHeight = base->objectHeight;
  N->anchoredX = base->anchoredX, N->anchoredY = base->anchoredY;
  N->shapeData = base->shapeData, N->fillStyle = base->fillStyle, N->shapeColor = base->shapeColor;
  N->lineX1 = base->lineX1, N->lineY1 = base->lineY1, N->lineX2 = base->lineX2, N->lineY2 = base->lineY2;
  if (CopyShapeData(&base->shape, &N->shape)) {
    MemFree(N);
    return ERR_MEM;
  }
  if (scaled) {
    N->requestedX = int32_t(std::lround(unscaled->requestedX * sx));
    N->requestedY = int32_t(std::lround(unscaled->requestedY * sy));
    if (layer->type == QMTYPE_LINE) {
      N->lineX1 = int32_t(std::lround(unscaled->lineX1 * sx)), N->lineX2 = int32_t(std::lround(unscaled->lineX2 * sx));
      N->lineY1 = int32_t(std::lround(unscaled->lineY1 * sy)), N->lineY2 = int32_t(std::lround(unscaled->lineY2 * sy));
    }
    // The picture turns about its anchor point, which lies at the display's scale: the corner
    // handed to the renderer is that point less the anchor's share of the unscaled size.
    N->x = ScaledCorner(base->x, base->width * layer->anchorX, sx);
    N->y = ScaledCorner(base->y, base->height * layer->anchorY, sy);
  }
  // A rendered state is cut by a copy of its own: the region counts the layer once, for its
  // base state, and a second reference would release it twice. Scaled, the unscaled state's
  // region is taken to the display's scale; else the base's is turned with the layer unless
  // nocliptransform keeps it as it is.
  if (const qmClipRegion *c = scaled && unscaled->clip ? unscaled->clip : base->clip) {
    static constexpr double kIdentity[4] = {1, 0, 0, 1};
    const double S[4] = {sx, 0, 0, sy};
    qmClipRegion *copy = scaled                  ? TransformClipRegion(c, 0, 0, S)
                         : layer->nocliptransform ? TransformClipRegion(c, 0, 0, kIdentity)
                                                  : TransformClipRegion(c, layer->anchorX, layer->anchorY, T.matrix);
    if (!copy) {
      FreeLayerState(scene->objects, N);
      return ERR_MEM;
    }
    if (scaled) copy->x = int32_t(c->x * sx), copy->y = int32_t(c->y * sy);
    N->clip = copy;
  }
  const uint32_t renderFlags = scaled ? LRENDER_INTOSTATE | LRENDER_SCALED : LRENDER_INTOSTATE;
  if (uint32_t code = DrawLayerObject(scene, layer, N, &T, renderFlags)) {
    FreeLayerState(scene->objects, N);
    return code;
  }
  if (scaled) {
    dropCurrent();
    layer->current = N;
    return 0;
  }
  if (current != base && current != unscaled) FreeLayerState(scene->objects, current);
  if (unscaled != base) FreeLayerState(scene->objects, unscaled);
  layer->unscaled = layer->current = N;
  return follow ? RenderLayerImage(scene, layer, followMode) : 0;
}

uint32_t RenderLayerImageScaled(qmScene *scene, qmLayer *layer) {
  return RenderLayerImage(scene, layer, LRENDERMODE_SCALED | LRENDERMODE_FOLLOW);
}

uint32_t GetLayerMaskRefs(qmScene *scene, qmLayer *layer, int32_t, qmMask ***mask, qmAlphaChannel ***alpha) {
  *mask = nullptr, *alpha = nullptr;
  qmLayerState *base = layer->base;
  // An anim layer's frame and a picture part's cut-out are the layer's own picture; a lent
  // frame stays the anim's, so the layer takes a copy before its planes can be replaced.
  if (layer->type == QMTYPE_ANIM) {
    if (uint32_t code = CopyLentPicture(base)) return code;
    *mask = &base->own.mask, *alpha = &base->own.alpha;
    return 0;
  }
  if (layer->type == QMTYPE_BGPICPART && base->own.bitmap) {
    *mask = &base->own.mask, *alpha = &base->own.alpha;
    return 0;
  }
  // Else the planes the object's image is read from; a text object's are not the layer's to
  // replace.
  ObjectPlanes p;
  if (uint32_t code = FindObjectPlanes(scene, layer, &p)) return code;
  if (p.bitmap && !p.readOnly) *mask = p.mask, *alpha = p.alpha;
  return 0;
}
