#include "layers/style.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "display/bgpic.h"
#include "runtime/bindings/gradient_reader.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/filters.h"
#include "graphics/draw_style.h"
#include "graphics/shape_draw.h"
#include "graphics/bitmapops.h"
#include "graphics/graphics/clipregion.h"
#include "graphics/position.h"
#include "layers/layerimage.h"
#include "layers/layerops.h"
#include "layers/layers/layerargs.h"
#include "platform/memory.h"
#include "runtime/auxlib.h"
#include "runtime/bindings/displaytags_reader.h"
#include "runtime/bindings/filters_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"

namespace {

bool IsBrushContent(int32_t type) {
  return type == QMTYPE_BRUSH || type == QMTYPE_BRUSHPART || type == QMTYPE_BGPICPART;
}

// Most vertices a polygon layer takes, as the polygon command.
constexpr int32_t kVertexMax = 999;

int32_t Level(double v) { return v < 0 ? 0 : v > 255 ? 255 : int32_t(v); }

bool HasField(VmState *L, int32_t t, const char *key) {
  vm_pushstring(L, key);
  vm_gettable(L, t);
  const bool present = vm_type(L, -1) != VM_TNIL;
  vm_pop(L, 1);
  return present;
}

// The keys that define an object of that type, which a change of type makes required.
uint32_t CheckTypeKeys(VmState *L, int32_t t, int32_t type) {
  static const char *const kBox[] = {"sizex", "sizey", nullptr};
  static const char *const kCircle[] = {"radius", nullptr};
  static const char *const kEllipse[] = {"radiusa", "radiusb", nullptr};
  static const char *const kArc[] = {"radiusa", "radiusb", "startangle", "endangle", nullptr};
  static const char *const kLine[] = {"x1", "y1", "x2", "y2", nullptr};
  static const char *const kPolygon[] = {"vertices", nullptr};
  static const char *const kObject[] = {"id", nullptr};
  const char *const *keys = kObject;
  switch (type) {
  case QMTYPE_BOX: keys = kBox; break;
  case QMTYPE_CIRCLE: keys = kCircle; break;
  case QMTYPE_ELLIPSE: keys = kEllipse; break;
  case QMTYPE_ARC: keys = kArc; break;
  case QMTYPE_LINE: keys = kLine; break;
  case QMTYPE_POLYGON: keys = kPolygon; break;
  default: break;
  }
  for (; *keys; keys++)
    if (!HasField(L, t, *keys)) return ERR_MISSINGPARAMTR;
  return 0;
}

// "vertices": 2n numbers from index 0 ("numvertices" pairs when given, missing words 0; else up
// to the first missing pair), moved to start at (0, 0); the move is kept as the position's offset.
uint32_t ReadVertices(VmState *L, int32_t t, qmStyleChange *c) {
  vm_pushstring(L, "vertices");
  vm_gettable(L, t);
  if (vm_type(L, -1) == VM_TNIL) {
    vm_pop(L, 1);
    return 0;
  }
  if (vm_type(L, -1) != VM_TTABLE) {
    vm_pop(L, 1);
    return ERR_TABEXPECTED;
  }
  const int32_t v = vm_gettop(L);
  int32_t count = -1;
  GetFieldInt(L, t, "numvertices", &count, nullptr);
  if (count < 0) {
    count = 0;
    for (;; count++) {
      vm_rawgeti(L, v, 2 * count);
      const bool present = vm_type(L, -1) != VM_TNIL;
      vm_pop(L, 1);
      if (!present || count > kVertexMax) break;
    }
  }
  if (count < 2 || count > kVertexMax) {
    vm_pop(L, 1);
    return ERR_WRONGUSAGE;
  }
  auto *p = static_cast<double *>(MemAlloc(uint32_t(2 * sizeof(double) * size_t(count)), 0));
  if (!p) {
    vm_pop(L, 1);
    return ERR_MEM;
  }
  uint32_t code = 0;
  for (int32_t k = 0; k < 2 * count && !code; k++) {
    vm_rawgeti(L, v, k);
    // As in the polygon command, a missing word counts as 0.
    const int type = vm_type(L, -1);
    if (type != VM_TNIL && !vm_isnumber(L, -1)) code = ERR_NUMTABLEARG;
    else p[k] = type == VM_TNIL ? 0 : vm_tonumber(L, -1);
    vm_pop(L, 1);
    // Beyond any picture: no outline of it could be drawn.
    if (!code && !(std::fabs(p[k]) <= 1e9)) code = ERR_MEM;
  }
  vm_pop(L, 1);
  if (code) {
    MemFree(p);
    return code;
  }
  double x0 = p[0], y0 = p[1];
  for (int32_t i = 1; i < count; i++) x0 = std::min(x0, p[2 * i]), y0 = std::min(y0, p[2 * i + 1]);
  for (int32_t i = 0; i < count; i++) p[2 * i] -= x0, p[2 * i + 1] -= y0;
  MemFree(c->shape.vertices);
  c->shape.vertices = p, c->shape.vertexCount = count;
  c->vertexOffsetX = int32_t(std::nearbyint(x0)), c->vertexOffsetY = int32_t(std::nearbyint(y0));
  return 0;
}

// The content keys of a shape: colour, draw style and the geometry of its type.
uint32_t ReadShapeKeys(VmState *L, int32_t t, qmStyleChange *c) {
  int given = 0;
  GetFieldUInt(L, t, "color", &c->shapeColor, &given);
  int32_t styleGiven = 0, switched = 0;
  if (uint32_t code = ReadFormStyleOptions(L, &c->look, t, &c->shape.style, &styleGiven, &switched)) return code;
  if (switched) c->lookChanged = 1;
  qmShapeLayerData &s = c->shape;
  switch (c->type) {
  case QMTYPE_BOX: {
    GetFieldInt(L, t, "sizex", &c->boxWidth, &given);
    GetFieldInt(L, t, "sizey", &c->boxHeight, &given);
    if (given && (c->boxWidth < 1 || c->boxHeight < 1)) return ERR_WRONGUSAGE;
    int32_t level = 0;
    if (GetFieldInt(L, t, "roundlevel", &level, &given)) std::fill(s.corners, s.corners + 4, level);
    const char *keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
    for (int k = 0; k < 4; k++) GetFieldInt(L, t, keys[k], &s.corners[k], &given);
    ClampCornerLevels(s.corners);
    break;
  }
  case QMTYPE_CIRCLE:
    if (GetFieldInt(L, t, "radius", &s.radiusA, &given)) s.radiusB = s.radiusA;
    break;
  case QMTYPE_ELLIPSE:
  case QMTYPE_ARC:
    GetFieldInt(L, t, "radiusa", &s.radiusA, &given);
    GetFieldInt(L, t, "radiusb", &s.radiusB, &given);
    if (c->type == QMTYPE_ARC) {
      GetFieldInt(L, t, "startangle", &s.startAngle, &given);
      GetFieldInt(L, t, "endangle", &s.endAngle, &given);
      int32_t clockwise = 0;
      if (GetFieldInt(L, t, "clockwise", &clockwise, &given)) s.clockwise = clockwise != 0;
      if (s.startAngle < 0 || s.endAngle < 0) return ERR_WRONGUSAGE;
    }
    break;
  case QMTYPE_LINE:
    GetFieldInt(L, t, "x1", &c->lineX1, &given);
    GetFieldInt(L, t, "y1", &c->lineY1, &given);
    GetFieldInt(L, t, "x2", &c->lineX2, &given);
    GetFieldInt(L, t, "y2", &c->lineY2, &given);
    GetFieldInt(L, t, "thickness", &s.thickness, &given);
    if (s.thickness < 1) s.thickness = 1;
    break;
  case QMTYPE_POLYGON: {
    const bool had = s.vertices != nullptr;
    if (uint32_t code = ReadVertices(L, t, c)) return code;
    if (s.vertices && !had) given = 1;
    break;
  }
  default: break;
  }
  // Only a shape that is to be drawn again must be whole.
  if (!given && !styleGiven) return 0;
  if ((c->type == QMTYPE_CIRCLE || c->type == QMTYPE_ELLIPSE || c->type == QMTYPE_ARC) &&
      (s.radiusA < 1 || s.radiusB < 1))
    return ERR_WRONGUSAGE;
  ValidateDrawStyle(&s.style);
  c->contentChanged = 1;
  return 0;
}

// Content keys of one layer: another object, another part of it, another type.
uint32_t ReadContentKeys(VmState *L, int32_t t, const qmLayer *layer, qmStyleChange *c) {
  int32_t type = layer->type;
  if (GetFieldInt(L, t, "type", &type, nullptr) && type != layer->type) {
    if (uint32_t code = CheckTypeKeys(L, t, type)) return code;
    if (IsShapeType(type)) {
      // A shape made from another kind of layer starts from the draw style in force now.
      if (!IsShapeType(layer->type)) {
        c->shape = {};
        c->shape.style = *GetDrawStyle();
        c->shape.clockwise = 1;
        c->shapeColor = 0;
      }
      if (c->shape.thickness < 1) c->shape.thickness = 1;
      c->type = type;
      c->contentChanged = 1;
      return ReadShapeKeys(L, t, c);
    }
    // Text and paths are kept as pictures here: only brush, picture and shape content can be
    // built anew.
    if (!IsBrushContent(type)) {
      if (type == QMTYPE_ANIM || type == QMTYPE_VECTORPATH) {
        qmObjectId id{};
        GetFieldObjectId(L, t, "id", &id, nullptr);
        return MissingObjectError(&id, type == QMTYPE_ANIM ? ERR_FINDANIM : ERR_FINDPATH);
      }
      return ERR_WRONGUSAGE;
    }
    if (!IsBrushContent(layer->type) || (type == QMTYPE_BGPICPART) != (layer->type == QMTYPE_BGPICPART))
      if (!HasField(L, t, "id")) return ERR_MISSINGPARAMTR;
    c->type = type;
    c->contentChanged = 1;
  }
  if (layer->type == QMTYPE_ANIM || layer->type == QMTYPE_VECTORPATH) {
    // Neither anims nor paths exist in this player: a new one cannot be found.
    qmObjectId id{};
    if (GetFieldObjectId(L, t, "id", &id, nullptr))
      return MissingObjectError(&id, layer->type == QMTYPE_ANIM ? ERR_FINDANIM : ERR_FINDPATH);
    return 0;
  }
  if (IsShapeType(c->type)) return ReadShapeKeys(L, t, c);
  if (!IsBrushContent(c->type)) return 0;
  if (GetFieldObjectId(L, t, "id", &c->object, nullptr)) c->contentChanged = 1;
  int part = 0;
  GetFieldInt(L, t, "partx", &c->partX, &part);
  GetFieldInt(L, t, "party", &c->partY, &part);
  GetFieldInt(L, t, "partwidth", &c->partWidth, &part);
  GetFieldInt(L, t, "partheight", &c->partHeight, &part);
  if (part) {
    c->contentChanged = 1;
    if (c->type == QMTYPE_BRUSH) c->type = QMTYPE_BRUSHPART;
  }
  return 0;
}

// The transform keys: a user matrix, or scale, size and rotation.
uint32_t ReadTransformKeys(VmState *L, int32_t t, qmStyleChange *c) {
  qmTransform &T = c->transform;
  double m[4];
  int userSet = 0;
  if (GetFieldMatrix(L, t, "transform", m, nullptr)) {
    if (m[0] == 0 || m[3] == 0) return ERR_WRONGUSAGE;
    std::memcpy(T.userMatrix, m, sizeof m);
    T.userMatrixSet = 1;
    T.rotation = 0;
    T.targetWidth = T.targetHeight = 0;
    T.scaleX = T.scaleY = 1.0;
    c->transformChanged = userSet = 1;
  } else {
    double v = 0;
    if (GetFieldNumber(L, t, "scalex", &v, nullptr) && v != T.scaleX)
      T.scaleX = v, T.targetWidth = 0, c->transformChanged = 1;
    if (GetFieldNumber(L, t, "scaley", &v, nullptr) && v != T.scaleY)
      T.scaleY = v, T.targetHeight = 0, c->transformChanged = 1;
    int percent = 0;
    if (GetFieldNumberOrPercent(L, t, "width", 0, 1, &v, &percent, nullptr)) {
      if (percent) T.targetWidth = 0, T.scaleX = v;
      else T.targetWidth = NumberToInt(v), T.scaleX = 1.0;
      c->transformChanged = 1;
    }
    if (GetFieldNumberOrPercent(L, t, "height", 0, 1, &v, &percent, nullptr)) {
      if (percent) T.targetHeight = 0, T.scaleY = v;
      else T.targetHeight = NumberToInt(v), T.scaleY = 1.0;
      c->transformChanged = 1;
    }
    if (GetFieldNumber(L, t, "rotate", &v, nullptr) && v != T.rotation) {
      T.rotation = std::fmod(v, 360.0);
      c->transformChanged = 1;
    }
  }
  if (T.targetWidth < 0 || T.targetHeight < 0 || T.scaleX == 0 || T.scaleY == 0) return ERR_BADDIMENSIONS;
  if (c->transformChanged && !userSet) T.userMatrixSet = 0;
  return 0;
}

// A switch of the table into *out; 1 when it was given.
int FlagKey(VmState *L, int32_t t, const char *key, int32_t *out) {
  bool on = *out != 0;
  if (!GetFieldFlag(L, t, key, &on, nullptr)) return 0;
  *out = on ? 1 : 0;
  return 1;
}

uint32_t ReadCommonKeys(VmState *L, int32_t t, const qmLayer *layer, qmStyleChange *c) {
  qmLayer &look = c->look;
  if (uint32_t code = ReadTransformKeys(L, t, c)) return code;
  double v = 0;
  for (int axis = 0; axis < 2; axis++) {
    const char *key = axis ? "anchory" : "anchorx";
    if (!GetFieldNumber(L, t, key, &v, nullptr)) continue;
    if (!(v >= 0.0 && v <= 1.0)) return ERR_WRONGUSAGE;
    (axis ? look.anchorY : look.anchorX) = v;
    c->anchorGiven = c->positionGiven = 1;
  }
  c->transform.anchorX = look.anchorX, c->transform.anchorY = look.anchorY;
  if (GetFieldNumber(L, t, "translatex", &v, nullptr)) c->x = NumberToInt(v), c->relativeX = c->positionGiven = 1;
  else if (GetFieldNumber(L, t, "x", &v, nullptr)) c->x = NumberToInt(v), c->positionGiven = 1;
  if (GetFieldNumber(L, t, "translatey", &v, nullptr)) c->y = NumberToInt(v), c->relativeY = c->positionGiven = 1;
  else if (GetFieldNumber(L, t, "y", &v, nullptr)) c->y = NumberToInt(v), c->positionGiven = 1;
  FlagKey(L, t, "smoothscale", &c->transform.smooth);
  if (GetFieldNumberOrPercent(L, t, "transparency", 255, 0, &v, nullptr, nullptr) && Level(v) != look.transparency) {
    look.transparency = Level(v);
    c->lookChanged = 1;
  }
  int32_t given = 0;
  if (uint32_t code = ReadFilterTable(L, t, look.filters, &given)) return code;
  qmFilterSlot &tint = look.filters[kTintFilterSlot];
  if (GetFieldNumberOrPercent(L, t, "tint", 255, 0, &v, nullptr, nullptr)) {
    tint.params[1] = Level(v);
    tint.enabled = tint.params[1] != 0;
  }
  uint32_t color = 0;
  if (GetFieldUInt(L, t, "tintcolor", &color, nullptr)) tint.params[0] = int32_t(color);
  int32_t clear = 0;
  if (GetFieldInt(L, t, "clearfilters", &clear, nullptr) && clear) std::memset(look.filters, 0, sizeof look.filters);
  if (std::memcmp(look.filters, layer->filters, sizeof look.filters)) c->lookChanged = 1;
  look.shapeFilters = HasShapeFilters(look.filters);
  if (FlagKey(L, t, "hidden", &look.hidden)) c->lookChanged = 1;
  if (uint32_t code = ReadShadowOptions(L, t, &look.shadow, nullptr)) return code;
  if (uint32_t code = ReadBorderOptions(L, t, 0, &look.border, nullptr)) return code;
  vm_pushstring(L, "clipregion");
  vm_gettable(L, t);
  const bool dropClip = vm_type(L, -1) == VM_TNUMBER && vm_tonumber(L, -1) == -1;
  vm_pop(L, 1);
  qmObjectId clipId{};
  if (dropClip) {
    c->clipGiven = c->clipChanged = 1;
    c->clip = nullptr;
  } else if (GetFieldObjectId(L, t, "clipregion", &clipId, nullptr)) {
    if (uint32_t code = FindClipRegion(L, &clipId, &c->clip, 0)) return code;
    c->clipGiven = c->clipChanged = 1;
  }
  if (FlagKey(L, t, "nocliptransform", &look.nocliptransform)) c->clipChanged = 1;
  int32_t z = 0;
  if (GetFieldLayerId(L, t, "z", &z, nullptr)) c->z = z < 1 ? -1 : z;
  return 0;
}

void CollectLayer(const qmLayer *layer, qmDirtyRectList *batch) {
  int32_t x, y, w, h;
  GetLayerBounds(layer, layer->current, &x, &y, &w, &h);
  AppendRect(batch, x, y, w, h);
}

// The part rectangle of a brush or picture as the layer's new own picture.
uint32_t ReplaceContent(VmState *L, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
  qmLayerState *base = layer->base;
  const bool newObject = c.object.id != layer->object.id || c.object.handle != layer->object.handle;
  qmPlaneSet src{};
  int32_t W = 0, H = 0;
  if (c.type == QMTYPE_BGPICPART) {
    qmBGPic *pic = nullptr;
    if (uint32_t code = FindBGPic(ObjectRegistryOf(L), &c.object, &pic, newObject ? 0 : FINDBGPIC_DELETED)) return code;
    src = pic->unscaled, W = pic->unscaledWidth, H = pic->unscaledHeight;
  } else {
    qmBrush *b = nullptr;
    const int32_t flags = FINDBRUSH_HARDWARE | (newObject ? 0 : FINDBRUSH_DELETED);
    if (uint32_t code = FindBrush(ObjectRegistryOf(L), &c.object, &b, flags)) return code;
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
  CollectLayer(layer, batch);
  ForEachLayerState(layer, DropDerivedImages);
  FreePlaneSet(&base->own);
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
  const uint32_t code = RenderLayerImage(L, layer, 0);
  CollectLayer(layer, batch);
  return code;
}

// The shape of the change drawn as the layer's new own picture at the layer's place; the
// layer's transform then draws it again.
uint32_t ReplaceShape(VmState *L, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
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
  uint32_t code = RenderShapeLayerImage(L, layer, &next, &img);
  if (!code && !img.bitmap) code = ERR_WRONGUSAGE;
  if (code) {
    layer->type = oldType;
    FreeLayerStateImages(&next);
    return code;
  }
  CollectLayer(layer, batch);
  ForEachLayerState(layer, DropDerivedImages);
  FreePlaneSet(&base->own);
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
  code = RenderLayerImage(L, layer, 0);
  CollectLayer(layer, batch);
  return code;
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

// The output of the current display takes layer commands.
uint32_t StyleGuard() {
  if (uint32_t code = LayerGuard()) return code;
  return CurrentBGPic ? 0u : uint32_t(ERR_NOLAYERS);
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
  MemFree(c->shape.vertices);
  c->shape.vertices = nullptr, c->shape.vertexCount = 0;
}

uint32_t ReadLayerStyle(VmState *L, int32_t t, const qmLayer *layer, int32_t single, qmStyleChange *c) {
  t = vm_absindex(L, t);
  if (vm_type(L, t) != VM_TTABLE) {
    SetErrorNumber(uint32_t(t));
    return ERR_TABEXPECTED;
  }
  if (single)
    if (uint32_t code = ReadContentKeys(L, t, layer, c)) return code;
  return ReadCommonKeys(L, t, layer, c);
}

uint32_t ApplyStyleChange(VmState *L, qmLayer *layer, const qmStyleChange &c, qmDirtyRectList *batch) {
  const qmLayer &look = c.look;
  const bool filtersChanged = std::memcmp(look.filters, layer->filters, sizeof look.filters) != 0;
  const bool shadowChanged = std::memcmp(&look.shadow, &layer->shadow, sizeof look.shadow) != 0;
  const bool borderChanged = std::memcmp(&look.border, &layer->border, sizeof look.border) != 0;
  const bool anchorChanged = look.anchorX != layer->anchorX || look.anchorY != layer->anchorY;
  if (filtersChanged) ForEachLayerState(layer, [](qmLayerState *s) { FreePlaneSet(&s->filtered); });
  if (shadowChanged || filtersChanged) {
    ForEachLayerState(layer, [](qmLayerState *s) {
      FreeAlphaChannel(s->shadowAlpha);
      s->shadowAlpha = nullptr;
    });
    CollectLayer(layer, batch);
  }
  if (borderChanged || filtersChanged) {
    ForEachLayerState(layer, [](qmLayerState *s) { FreePlaneSet(&s->border); });
    CollectLayer(layer, batch);
  }
  layer->hidden = look.hidden;
  layer->transparency = look.transparency;
  layer->shadow = look.shadow;
  layer->border = look.border;
  layer->shapeFilters = look.shapeFilters;
  std::memcpy(layer->filters, look.filters, sizeof layer->filters);
  layer->anchorX = look.anchorX, layer->anchorY = look.anchorY;
  layer->nocliptransform = look.nocliptransform;
  // A border or shadow switched on or grown reaches past the old rectangle.
  if (shadowChanged || borderChanged) CollectLayer(layer, batch);

  bool lookChanged = c.lookChanged;
  if (c.z) {
    CollectLayer(layer, batch);
    if (MoveLayerToPos(CurrentBGPic, layer, c.z < 0 ? 0 : c.z)) lookChanged = true;
  }
  if (c.contentChanged) {
    layer->transform = c.transform;
    if (uint32_t code = IsShapeType(c.type) ? ReplaceShape(L, layer, c, batch) : ReplaceContent(L, layer, c, batch))
      return code;
  }
  bool transformChanged = c.transformChanged || (anchorChanged && !IsIdentityMatrix(c.transform.matrix));
  if (c.clipGiven) {
    // The base state refers to the region; rendered states get it on their next rendering.
    if (c.clip) c.clip->layerUses++;
    ReleaseLayerClip(L, layer->base);
    layer->base->clip = c.clip;
    if (layer->unscaled != layer->base || layer->current != layer->base) transformChanged = true;
  }
  if (c.positionGiven || transformChanged || c.clipChanged) {
    if (anchorChanged) {
      CollectLayer(layer, batch);
      Reanchor(layer);
      if (!transformChanged) CollectLayer(layer, batch);
    }
    if (c.positionGiven && (c.x != kKeepPosition || c.y != kKeepPosition)) {
      const qmLayerState *base = layer->base;
      auto resolve = [&](int32_t v, bool relative, bool vertical) {
        if (v == kKeepPosition || relative) return v;
        return vertical ? ResolvePositionY(GetPlayerContext(L)->scene, v, base->objectHeight, 0, layer->anchorY)
                        : ResolvePositionX(GetPlayerContext(L)->scene, v, base->objectWidth, 0, layer->anchorX);
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
      PlaceLayer(L, layer, nullptr, x, y, 0, flags, batch);
    } else if (!anchorChanged) {
      CollectLayer(layer, batch);
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
    CollectLayer(layer, batch);
    const uint32_t code = RenderLayerImage(L, layer, LRENDERMODE_FOLLOW);
    CollectLayer(layer, batch);
    return code;
  }
  layer->transform = c.transform;
  if (lookChanged) CollectLayer(layer, batch);
  return 0;
}

uint32_t ApplyLayerStyle(VmState *L, int32_t first, int32_t count, int32_t noFinalRefresh) {
  if (uint32_t code = StyleGuard()) return code;
  qmBGPic *pic = CurrentBGPic;
  qmDirtyRectList *batch = &LayerRefreshBatch;
  batch->count = 0;
  uint32_t code = 0;
  // A layer argument without its table meets the table check.
  for (int32_t i = first; i < first + count && !code; i += 2) {
    qmLayer *layer = nullptr;
    if ((code = GetExistingLayerArg(L, i, &layer, nullptr))) break;
    qmStyleChange *change = static_cast<qmStyleChange *>(MemAlloc(sizeof(qmStyleChange), 1));
    if (!change) {
      code = ERR_MEM;
      break;
    }
    InitStyleChange(layer, change);
    code = ReadLayerStyle(L, i + 1, layer, 1, change);
    if (!code) code = ApplyStyleChange(L, layer, *change, batch);
    FreeStyleChange(change);
    MemFree(change);
  }
  // What was changed before an error is shown as well.
  qmDisplay *d = CurrentDisplay;
  if (d && d->outputType == DISPOUT_BGPIC) {
    qmDirtyRectList list{d->dirtyRects, d->dirtyCount, d->dirtyCapacity};
    for (int32_t k = 0; k < batch->count; k++) {
      const qmDirtyRect &r = batch->entries[k];
      AppendRect(&list, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1);
    }
    d->dirtyRects = list.entries, d->dirtyCount = list.count, d->dirtyCapacity = list.capacity;
    batch->count = 0;
  } else if (!noFinalRefresh) {
    // A layer's old and new rectangle mostly overlap, and so do neighbours': each area is
    // composed once after merging (the pixels are the same as entry by entry).
    MergeRectArray(batch->entries, batch->count);
    RefreshRectList(L, batch->entries, batch->count);
    batch->count = 0;
  }
  pic->layersChanged = 1;
  return code;
}

uint32_t SetLayerPosFrame(VmState *L, qmLayer *layer, int32_t x, int32_t y, int32_t, int32_t noFinalRefresh) {
  if (layer->name) vm_pushstring(L, layer->name);
  else vm_pushnumber(L, FindLayerIndex(CurrentBGPic, layer));
  vm_newtable(L);
  SetFieldInt(L, "x", x);
  SetFieldInt(L, "y", y);
  // Frames belong to anims, which this player does not have yet: the frame stays.
  const int32_t top = vm_gettop(L);
  const uint32_t code = ApplyLayerStyle(L, top - 1, 2, noFinalRefresh);
  vm_settop(L, top - 2);
  return code;
}

uint32_t ReadFormStyleOptions(VmState *L, qmLayer *layer, int32_t t, qmDrawStyle *style, int32_t *styleGiven,
                              int32_t *changed) {
  constexpr uint32_t kLayerBits = FORM_SHADOW | FORM_EDGE;
  auto layerSwitch = [&](uint32_t bits, int32_t on) {
    if (!layer) return;
    if (bits & FORM_SHADOW) layer->shadow.on = on, *changed = 1;
    if (bits & FORM_EDGE) layer->border.on = on, *changed = 1;
  };
  uint32_t bits = 0;
  if (GetFieldUInt(L, t, "formstyle", &bits, nullptr)) {
    if (bits & FORM_NORMAL) {
      style->formStyle = FORM_NORMAL;
      *styleGiven = 1;
    } else {
      layerSwitch(bits & kLayerBits, 1);
      style->formStyle |= bits & ~kLayerBits;
      if (bits & ~kLayerBits) *styleGiven = 1;
    }
  }
  if (GetFieldUInt(L, t, "formstyleclear", &bits, nullptr)) {
    layerSwitch(bits & kLayerBits, 0);
    style->formStyle &= ~(bits & ~kLayerBits);
    if (bits & ~kLayerBits) *styleGiven = 1;
  }
  int found = 0;
  GetFieldInt(L, t, "fillstyle", &style->fillStyle, &found);
  qmGradientSpec &g = style->gradient;
  int32_t kind = int32_t(g.kind);
  GetFieldInt(L, t, "gradientstyle", &kind, &found);
  g.kind = uint32_t(kind);
  GetFieldInt(L, t, "gradientangle", &g.angle, &found);
  int colour = 0;
  GetFieldUInt(L, t, "gradientstartcolor", &g.startColor, &colour);
  GetFieldUInt(L, t, "gradientendcolor", &g.endColor, &colour);
  if (colour) g.colorCount = 0;
  if (style->fillStyle == DRAWFILL_GRADIENT)
    if (uint32_t code = ReadGradientSpec(L, t, kGradientOptionKeys, &g)) return code;
  GetFieldObjectId(L, t, "texturebrush", &style->texture, &found);
  GetFieldInt(L, t, "texturex", &style->textureX, &found);
  GetFieldInt(L, t, "texturey", &style->textureY, &found);
  if (found || colour) *styleGiven = 1;
  return 0;
}

void WriteFormStyleFields(VmState *L, const qmDrawStyle *style) {
  SetFieldNumber(L, "formstyle", style->formStyle);
  SetFieldInt(L, "fillstyle", style->fillStyle);
  SetFieldNumber(L, "gradientstyle", style->gradient.kind);
  SetFieldInt(L, "gradientangle", style->gradient.angle);
  SetFieldNumber(L, "gradientstartcolor", style->gradient.startColor);
  SetFieldNumber(L, "gradientendcolor", style->gradient.endColor);
  SetFieldObjectId(L, "texturebrush", &style->texture);
  SetFieldInt(L, "texturex", style->textureX);
  SetFieldInt(L, "texturey", style->textureY);
}
