#include "layers/layers/move_commands.h"

#include "display/brush.h"
#include "display/display.h"
#include "display/scene.h"
#include "display/displayops.h"
#include "display/imagecore.h"
#include "display/outputselect.h"
#include "layers/animlayer.h"
#include "layers/collision.h"
#include "layers/layerops.h"
#include "layers/layers/layerargs.h"
#include "layers/movelist.h"
#include "layers/layers/style_commands.h"
#include "media/animcore/anim.h"
#include "media/animcore/animplay.h"
#include "runtime/bindings/displaytags_reader.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"
#include "layers/sprite.h"

namespace {

// Collision kinds that name no object type of their own (the placeholder numbers).
enum : int32_t { COLLIDE_BRUSH_VS_BOX = 46, COLLIDE_LAYER_VS_BOX = 47, COLLIDE_SPRITE_VS_BOX = 48 };

uint32_t BrushObject(VmState *L, int first, qmCollisionObject *out) {
  const qmObjectId id = GetObjectIdArg(L, first);
  const int32_t x = vm_checkint32(L, first + 1), y = vm_checkint32(L, first + 2);
  qmBrush *b = nullptr;
  if (uint32_t code = FindBrush(ObjectRegistryOf(L), &id, &b, FINDBRUSH_HARDWARE)) return code;
  *out = {};
  out->x = x, out->y = y, out->width = b->width, out->height = b->height;
  out->mask = b->mask, out->alpha = b->alpha;
  return 0;
}

qmCollisionObject BoxObject(VmState *L, int first, double sx, double sy) {
  qmCollisionObject o{};
  o.x = NumberToInt(vm_checknumber(L, first) * sx);
  o.y = NumberToInt(vm_checknumber(L, first + 1) * sy);
  o.width = NumberToInt(vm_checknumber(L, first + 2) * sx);
  o.height = NumberToInt(vm_checknumber(L, first + 3) * sy);
  return o;
}

uint32_t LayerObject(const qmScene *scene, int32_t position, qmCollisionObject *out) {
  if (!scene->current || !scene->current->layersOn) return ERR_NOLAYERS;
  const qmLayer *l = GetNthLayer(scene->picture, position);
  if (!l) return ERR_LAYERRANGE;
  LayerCollisionObject(l, out);
  return 0;
}

// A shown sprite where it stands, with the planes of its current frame.
uint32_t SpriteObject(VmState *L, int i, qmCollisionObject *out) {
  const qmObjectId id = GetObjectIdArg(L, i);
  qmShownSprite *n = nullptr;
  if (uint32_t code = LookUpShownSprite(GetScene(L), &id, &n)) return code;
  const qmBitmap *bitmap;
  GetSpriteFrame(n->sprite, n->frame - 1, &bitmap, &out->mask, &out->alpha);
  out->x = n->x, out->y = n->y, out->width = n->width, out->height = n->height;
  return 0;
}

}  // namespace

uint32_t LayCollision(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 3, 9);
  const int32_t kind = vm_checkint32(L, 1);
  qmCollisionObject a{}, b{};
  switch (kind) {
  case QMTYPE_BRUSH:
    CheckArgCount(L, 7, 7);
    if (uint32_t code = BrushObject(L, 2, &a)) return code;
    if (uint32_t code = BrushObject(L, 5, &b)) return code;
    break;
  case COLLIDE_BRUSH_VS_BOX:
    CheckArgCount(L, 8, 8);
    if (uint32_t code = BrushObject(L, 2, &a)) return code;
    b = BoxObject(L, 5, 1, 1);
    break;
  case QMTYPE_BOX:
    CheckArgCount(L, 9, 9);
    a = BoxObject(L, 2, 1, 1);
    b = BoxObject(L, 6, 1, 1);
    vm_pushnumber(L, BoxCollision(a.x, a.y, a.width, a.height, b.x, b.y, b.width, b.height));
    return 1;
  case QMTYPE_SPRITE:
    CheckArgCount(L, 3, 3);
    if (uint32_t code = SpriteObject(L, 2, &a)) return code;
    if (uint32_t code = SpriteObject(L, 3, &b)) return code;
    break;
  case COLLIDE_SPRITE_VS_BOX:
    CheckArgCount(L, 6, 6);
    if (uint32_t code = SpriteObject(L, 2, &a)) return code;
    b = BoxObject(L, 3, 1, 1);
    break;
  case QMTYPE_LAYER: {
    CheckArgCount(L, 3, 3);
    int32_t p1 = 0, p2 = 0;
    if (uint32_t code = GetLayerArg(L, 2, &p1)) return code;
    if (uint32_t code = GetLayerArg(L, 3, &p2)) return code;
    if (uint32_t code = LayerObject(scene, p1, &a)) return code;
    if (uint32_t code = LayerObject(scene, p2, &b)) return code;
    break;
  }
  case COLLIDE_LAYER_VS_BOX: {
    CheckArgCount(L, 6, 6);
    int32_t p = 0;
    if (uint32_t code = GetLayerArg(L, 2, &p)) return code;
    const qmDisplay *d = scene->current;
    const double sx = d && d->scaleX > 0 ? d->scaleX : 1, sy = d && d->scaleY > 0 ? d->scaleY : 1;
    b = BoxObject(L, 3, sx, sy);
    if (uint32_t code = LayerObject(scene, p, &a)) return code;
    break;
  }
  default: return ERR_WRONGUSAGE;
  }
  vm_pushnumber(L, PixelCollision(a, b));
  return 1;
}

// AddMove(queue, kind, object or layer or number [, x [, y [, extra]]]).
uint32_t LayAddMove(VmState *L) {
  CheckArgCount(L, 3, 6);
  // A list made with an automatic id is added to through its handle; only a number makes a
  // new list of that number.
  const bool handle = vm_type(L, 1) == VM_TLIGHTUSERDATA;
  qmObjectId id = handle ? GetObjectIdArg(L, 1) : GetNewObjectIdArg(L, 1);
  qmMoveEntry e{};
  e.kind = vm_checkint32(L, 2);
  switch (e.kind) {
  case QMTYPE_UNDO:
    // The object type stands in argument 3, the object in argument 4.
    e.x = vm_checkint32(L, 3);
    e.object = vm_isnoneornil(L, 4) ? qmObjectId{0, 0} : GetObjectIdArg(L, 4);
    e.y = vm_optint32(L, 5, 0);
    e.extra = vm_optint32(L, 6, 0);
    break;
  case QMTYPE_LAYER:
  case QMTYPE_HIDELAYER:
  case QMTYPE_REMOVELAYER:
  case QMTYPE_NEXTFRAME2: {
    int32_t pos = 0;
    if (uint32_t code = GetLayerArg(L, 3, &pos)) return code;
    e.object = {uint32_t(pos), 0};
    break;
  }
  default: e.object = GetObjectIdArg(L, 3); break;
  }
  if (e.kind != QMTYPE_UNDO) {
    e.x = vm_optint32(L, 4, 0);
    e.y = vm_optint32(L, 5, 0);
    if (e.kind == QMTYPE_INSERTBRUSH && !vm_isnoneornil(L, 6)) {
      if (uint32_t code = GetLayerArg(L, 6, &e.extra)) return code;
    } else {
      e.extra = vm_optint32(L, 6, 0);
    }
  }
  if (handle && !FindMoveList(GetScene(L), &id)) return MissingObjectError(&id, ERR_FINDMOVE);
  if (uint32_t code = AddMoveEntry(GetScene(L), &id, e, nullptr)) return code;
  return id.handle && !handle ? PushNewId(L, id) : 0;
}

uint32_t LayClearMove(VmState *L) {
  CheckArgCount(L, 1, 1);
  const qmObjectId id = GetObjectIdArg(L, 1);
  return ClearMoveList(GetScene(L), &id);
}

uint32_t LayDoMove(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 1, 1);
  const qmObjectId id = GetObjectIdArg(L, 1);
  qmDisplay *d = scene->current;
  if (!d || !d->layersOn) return ERR_NOLAYERS;
  if (uint32_t code = LayerGuard(scene)) return code;
  qmMoveList *list = FindMoveList(scene, &id);
  if (!list) return MissingObjectError(&id, ERR_FINDMOVE);
  return ExecuteMoveList(scene, list);
}

// NextFrame(layer [, x [, y [, frame]]]).
uint32_t LayNextFrame(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 1, 4);
  int32_t pos = 0;
  if (uint32_t code = GetLayerArg(L, 1, &pos)) return code;
  const int32_t x = vm_optint32(L, 2, kKeepPosition);
  const int32_t y = vm_optint32(L, 3, kKeepPosition);
  const int32_t frame = vm_optint32(L, 4, 0);
  qmLayer *l = nullptr;
  if (uint32_t code = FindGuardedLayer(scene, pos, &l)) return code;
  if (l->type != QMTYPE_ANIM) return ERR_NOANMLAYER;
  return SetLayerPosFrame(L, l, x, y, frame, 0);
}

// SelectLayer(layer [, mode [, frame [, combo]]]).
uint32_t LaySelectLayer(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 1, 4);
  int32_t pos = 0;
  if (uint32_t code = GetLayerArg(L, 1, &pos)) return code;
  const int32_t mode = vm_optint32(L, 2, 0), frame = vm_optint32(L, 3, 0), combo = vm_optint32(L, 4, 0);
  if (uint32_t code = LayerGuard(scene)) return code;
  const qmObjectId id{uint32_t(pos), 0};
  return SelectOutputCore(GetScene(L), QMTYPE_LAYER, &id, DISPOUT_BRUSH, frame, uint32_t(mode), uint32_t(combo));
}

// CreateLayer(x, y, width, height [, options and display tags]).
uint32_t LayCreateLayer(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 4, 5);
  const int32_t x = vm_checkint32(L, 1), y = vm_checkint32(L, 2);
  const int32_t width = vm_checkint32(L, 3), height = vm_checkint32(L, 4);
  if (uint32_t code = LayerGuard(scene)) return code;
  const bool table = vm_gettop(L) >= 5 && !vm_isnoneornil(L, 5);
  int32_t alpha = 0, mask = 0, clear = 0, frames = 0;
  uint32_t color = 0;
  if (table) {
    vm_checktable(L, 5);
    GetFieldInt(L, 5, "alphachannel", &alpha, nullptr);
    GetFieldInt(L, 5, "mask", &mask, nullptr);
    GetFieldInt(L, 5, "clear", &clear, nullptr);
    GetFieldUInt(L, 5, "color", &color, nullptr);
    GetFieldInt(L, 5, "frames", &frames, nullptr);
  }
  if (frames < 0 || (mask && alpha)) return ERR_WRONGUSAGE;
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  // The display tags are read before the picture exists: their reader raises on a wrong value,
  // and a picture made first would stay behind, shown by no layer.
  qmImageRequest req{};
  req.x = x, req.y = y;
  qmTransform transform;
  qmDisplayTags tags;
  if (table) ReadImageRequestTags(L, GetScene(L), 5, 1, &transform, &tags, &req);
  qmObjectId id{0, 1};
  if (frames > 0) {
    // An anim of blank frames, its first shown as the layer; it lives as long as layers show it.
    qmAnim *anim = nullptr;
    if (uint32_t code = NewBlankAnim(ObjectRegistryOf(L), &id, width, height, frames, color, mask, alpha, clear, &anim))
      return code;
    req.id = id;
    if (uint32_t code = DrawAnimFrame(GetScene(L), anim, 1, &req)) {
      DeleteAnim(GetScene(L), &id, 0);
      return code;
    }
    anim->freed = 1;
    return 0;
  }
  qmBrush *brush = nullptr;
  if (uint32_t code = CreateBrushNode(ObjectRegistryOf(L), &id, width, height, color, mask, alpha, clear, 0, &brush))
    return code;
  req.kind = QMTYPE_BRUSH;
  req.id = id;
  if (uint32_t code = DisplayImageCore(GetScene(L), &req)) {
    FreeBrushNode(GetScene(L), &id, 0);
    return code;
  }
  // The brush lives exactly as long as layers show it.
  brush->deleted = 1;
  return 0;
}

// ModifyLayerFrames(layer, count [, pos]).
uint32_t LayModifyLayerFrames(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 2, 3);
  int32_t pos = 0;
  if (uint32_t code = GetLayerArg(L, 1, &pos)) return code;
  const int32_t count = vm_checkint32(L, 2);
  const int32_t position = vm_optint32(L, 3, 0);
  qmLayer *l = nullptr;
  if (uint32_t code = FindGuardedLayer(scene, pos, &l)) return code;
  return ChangeAnimLayerFrames(scene, l, count, position);
}
