// The layers library: switching layers on and off, adding, naming, finding, reordering and
// removing the layers of the current background picture.
#include "layers/layers/lib_layers.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

#include "display/asyncdraw.h"
#include "display/bgpic.h"
#include "display/brush.h"
#include "display/display.h"
#include "display/scene.h"
#include "display/displayops.h"
#include "display/imagecore.h"
#include "graphics/bitmapops.h"
#include "graphics/blit.h"
#include "display/safeblt.h"
#include "runtime/attributes.h"
#include "display/position.h"
#include "graphics/transform.h"
#include "layers/collision.h"
#include "layers/animlayer.h"
#include "layers/layer.h"
#include "media/animcore/anim.h"
#include "layers/layerimage.h"
#include "layers/layerops.h"
#include "layers/layerscale.h"
#include "layers/layers/border_commands.h"
#include "layers/layers/style_commands.h"
#include "layers/objectlayers.h"
#include "layers/layers/layerargs.h"
#include "layers/layers/move_commands.h"
#include "layers/movelist.h"
#include "layers/redraw.h"
#include "layers/sweep.h"
#include "platform/env.h"
#include "platform/memory.h"
#include "runtime/bindings/font_attributes.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "text/textlayout.h"
#include "layers/sprite.h"

// A layer argument that must name an existing layer.
uint32_t GetExistingLayerArg(VmState *L, int i, qmLayer **out, int32_t *position) {
  qmScene *scene = GetScene(L);
  int32_t pos = 0;
  if (uint32_t code = GetLayerArg(L, i, &pos)) return code;
  *out = GetNthLayer(scene->picture, pos);
  if (position) *position = pos;
  if (!*out) return ERR_LAYERRANGE;
  return 0;
}

uint32_t GetLayerOrGroupArg(VmState *L, int i, const qmBGPic *pic, qmLayer **out, int32_t *index, int32_t *group) {
  if (group) *group = 0;
  const int type = vm_type(L, i);
  if (type == VM_TNUMBER) {
    *index = -1;
    *out = GetNthLayer(pic, NumberToInt(vm_tonumber(L, i)));
    return *out ? 0u : uint32_t(ERR_LAYERRANGE);
  }
  if (type != VM_TSTRING) {
    SetErrorNumber(uint32_t(i));
    return ERR_STRORNUM;
  }
  const char *name = vm_tostring(L, i);
  if (int32_t pos = FindLayerByName(pic, name)) {
    *index = -1;
    *out = GetNthLayer(pic, pos);
    return 0;
  }
  int32_t count = 0;
  qmLayer *found = nullptr;
  // No layer is in the group without a name.
  for (qmLayer *l = pic && name[0] ? FirstLayer(pic) : nullptr; l; l = LayerAbove(l)) {
    if (Stricmp(l->group, name) != 0) continue;
    if (found) {
      *index = count;
      *out = found;
      if (group) *group = 1;
      return 0;
    }
    if (count++ == *index) found = l;
  }
  if (!found) {
    SetErrorArgument(name);
    return ERR_FINDLAYER;
  }
  *index = -1;
  *out = found;
  if (group) *group = 1;
  return 0;
}

namespace {

uint32_t LayEnableLayers(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 0, 0);
  return scene->current ? SwitchLayersOn(scene->current) : ERR_WRONGUSAGE;
}

uint32_t LayDisableLayers(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 0, 0);
  qmDisplay *d = scene->current;
  if (!d) return ERR_WRONGUSAGE;
  if (d->outputType != DISPOUT_DISPLAY) return ERR_LAYERSON;
  if (d->scaleLayer) return ERR_NODISLAYERS;
  d->layersOn = 0;
  return 0;
}

uint32_t LaySwapLayers(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 2, 2);
  int32_t a = 0, b = 0;
  if (uint32_t code = GetLayerArg(L, 1, &a)) return code;
  if (uint32_t code = GetLayerArg(L, 2, &b)) return code;
  if (uint32_t code = LayerGuard(scene)) return code;
  if (a == b) return ERR_WRONGUSAGE;
  return SwapLayerPositions(scene, a, b);
}

uint32_t LayLayerToBack(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 1, 1);
  int32_t pos = 0;
  if (uint32_t code = GetLayerArg(L, 1, &pos)) return code;
  if (uint32_t code = LayerGuard(scene)) return code;
  if (pos == 1) return 0;
  return SwapLayerPositions(scene, pos, 1);
}

uint32_t LayLayerToFront(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 1, 1);
  int32_t pos = 0;
  if (uint32_t code = GetLayerArg(L, 1, &pos)) return code;
  if (uint32_t code = LayerGuard(scene)) return code;
  const int32_t n = CountLayers(scene->picture);
  if (pos == n) return 0;
  return SwapLayerPositions(scene, pos, n);
}

uint32_t LaySetLayerZPos(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 2, 2);
  int32_t pos = 0, z = 0;
  if (uint32_t code = GetLayerArg(L, 1, &pos)) return code;
  if (uint32_t code = GetLayerArg(L, 2, &z)) return code;
  if (uint32_t code = LayerGuard(scene)) return code;
  if (z == pos || z < 0) return ERR_WRONGUSAGE;
  qmBGPic *pic = scene->picture;
  qmLayer *layer = GetNthLayer(pic, pos);
  if (!layer) return ERR_LAYERRANGE;
  if (!MoveLayerToPos(pic, layer, z)) return 0;
  pic->layersChanged = 1;
  RefreshLayer(scene, layer);
  return 0;
}

uint32_t LayRemoveLayer(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 1, 1);
  qmLayer *layer = nullptr;
  if (uint32_t code = GetExistingLayerArg(L, 1, &layer, nullptr)) return code;
  if (uint32_t code = LayerGuard(scene)) return code;
  if (IsObjectInAsyncDraw(scene, layer)) return ERR_REMADLAYER;
  qmDisplay *d = scene->current;
  if (d->outputType == DISPOUT_BGPIC) {
    DestroyLayer(scene, layer, 0, nullptr, nullptr);
  } else {
    scene->layerBatch.count = 0;
    DestroyLayer(scene, layer, 0, nullptr, &scene->layerBatch);
    RefreshRectList(scene, scene->layerBatch.entries, scene->layerBatch.count);
  }
  scene->picture->layersChanged = 1;
  return 0;
}

uint32_t LayUndo(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 1, 4);
  const int32_t type = vm_checkint32(L, 1);
  const qmObjectId id = vm_isnoneornil(L, 2) ? qmObjectId{0, 0} : GetObjectIdArg(L, 2);
  const int32_t level = vm_optint32(L, 3, 1);
  const int32_t noRefresh = vm_optint32(L, 4, 0);
  if (scene->picture) scene->picture->layersChanged = 1;
  if (uint32_t code = LayerGuard(scene)) return code;
  qmLayer *layer = FindObjectLayer(scene->picture, type, &id, level);
  if (!layer) return 0;
  if (IsObjectInAsyncDraw(scene, layer)) return ERR_REMADLAYER;
  DestroyLayer(scene, layer, noRefresh, nullptr, nullptr);
  return 0;
}

uint32_t LayFreeLayers(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 0, 1);
  const bool keep = vm_optint32(L, 1, 1) != 0;
  if (uint32_t code = LayerGuard(scene)) return code;
  qmDisplay *d = scene->current;
  qmBGPic *pic = scene->picture;
  if (d->outputType == DISPOUT_BGPIC && keep && d->bgpic != pic) return ERR_WRONGUSAGE;
  pic->layersChanged = 1;
  const int32_t W = pic->shownWidth, H = pic->shownHeight;
  if (keep) {
    // What the layers show becomes part of the background.
    if (d->layerBuffer && d->backgroundCopy && d->bgpic == pic) {
      Redraw(scene, d, pic, d->layerBuffer, 0, 0, W, H, REDRAW_NOSPRITES);
      BltBitmap(d->layerBuffer, 0, 0, d->backgroundCopy, 0, 0, W, H);
    }
    FreeBGPicLayers(scene, pic);
    SweepUnusedObjects(scene, SWEEP_ALL);
    return 0;
  }
  FreeBGPicLayers(scene, pic);
  SweepUnusedObjects(scene, SWEEP_ALL);
  if (d->outputType != DISPOUT_BGPIC) {
    if (d->layerBuffer && d->backgroundCopy && d->bgpic == pic) {
      Redraw(scene, d, pic, d->layerBuffer, 0, 0, W, H, REDRAW_NOSPRITES | REDRAW_FROMSHOWN);
      BltBitmap(d->layerBuffer, 0, 0, d->backgroundCopy, 0, 0, W, H);
      BltToDisplay(d->layerBuffer, 0, 0, d, 0, 0, W, H, 1);
    }
  } else if (d->bgpic == pic) {
    qmDirtyRectList list{d->dirtyRects, d->dirtyCount, d->dirtyCapacity};
    AppendRect(&list, 0, 0, W, H);
    d->dirtyRects = list.entries, d->dirtyCount = list.count, d->dirtyCapacity = list.capacity;
  }
  return 0;
}

uint32_t LaySetLayerName(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 2, 2);
  const int32_t pos = vm_checkint32(L, 1);
  const char *name = vm_checkstring(L, 2, nullptr);
  if (uint32_t code = LayerGuard(scene)) return code;
  qmBGPic *pic = scene->picture;
  qmLayer *layer = pos > 0 ? GetNthLayer(pic, pos) : LastLayer(pic);
  if (!layer) return ERR_LAYERRANGE;
  MemFree(layer->name);
  layer->name = nullptr;
  if (!name[0]) return 0;
  return SetLayerNameChecked(pic, layer, name);
}

uint32_t LayLayerExists(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 1, 1);
  const char *name = vm_checkstring(L, 1, nullptr);
  if (uint32_t code = LayerGuard(scene)) return code;
  vm_pushnumber(L, FindLayerByName(scene->picture, name) > 0 ? 1 : 0);
  return 1;
}

uint32_t LayGetLayerAtPos(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 2, 2);
  const int32_t x = vm_checkint32(L, 1), y = vm_checkint32(L, 2);
  if (uint32_t code = LayerGuard(scene)) return code;
  qmBGPic *pic = scene->picture;
  int32_t pos = CountLayers(pic);
  for (qmLayer *l = LastLayer(pic); l; l = LayerBelow(l), pos--) {
    const qmLayerState *s = l->current;
    if (int64_t(x) >= s->x && int64_t(x) < int64_t(s->x) + s->width && int64_t(y) >= s->y &&
        int64_t(y) < int64_t(s->y) + s->height) {
      vm_pushnumber(L, pos);
      vm_pushstring(L, l->name ? l->name : "");
      return 2;
    }
  }
  vm_pushnumber(L, 0);
  vm_pushstring(L, "");
  return 2;
}

// The size the layer record has in stored programs' view of it, which scripts may print.
constexpr int32_t kLayerRecordSize = 1072;

uint32_t LayDumpLayers(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 0, 1);
  const int32_t mode = vm_optint32(L, 1, 0);
  if (uint32_t code = LayerGuard(scene)) return code;
  qmBGPic *pic = scene->picture;
  DebugPrintf("LAYER SYSTEM INFO - BGPIC: %d (%p)\nsizeof(qmLayer): %d\nLayers: %d\n", int(pic->header.id),
              reinterpret_cast<void *>(pic->header.handle), int(kLayerRecordSize), int(CountLayers(pic)));
  int32_t pos = 1;
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l), pos++) {
    const qmLayerState *s = mode == 1 ? l->unscaled : mode == 2 ? l->current : l->base;
    const char *type = l->type > 0 ? GetObjectTypeName(uint32_t(l->type)) : nullptr;
    if (!type) type = "";
    DebugPrintf("(%d) %s #%d (%p / \"%s\") - X: %d (%d) - Y: %d (%d) - Width: %d (%d) - Height: %d (%d) - "
                "Visible: %d\n",
                int(pos), type, int(l->object.id), reinterpret_cast<void *>(l->object.handle),
                l->name ? l->name : "", int(s->requestedX), int(s->x), int(s->requestedY), int(s->y),
                int(s->objectWidth), int(s->width), int(s->objectHeight), int(s->height), int(1 - l->hidden));
  }
  return 0;
}

// ShowLayer and HideLayer over a layer or every layer of a group: shown (and placed) or
// hidden, their areas refreshed together. A group shown at (x, y) moves as one: its box (of the
// layers' anchored object rectangles) goes there and the distances between them stay.
uint32_t SetLayerVisible(VmState *L, int32_t hide) {
  qmScene *scene = GetScene(L);
  int32_t x = kKeepPosition, y = kKeepPosition;
  if (!hide) x = vm_optint32(L, 2, kKeepPosition), y = vm_optint32(L, 3, kKeepPosition);
  if (uint32_t code = LayerGuard(scene)) return code;
  qmBGPic *pic = scene->picture;
  std::vector<qmLayer *> layers;
  int32_t index = 0;
  do {
    qmLayer *l = nullptr;
    if (uint32_t code = GetLayerOrGroupArg(L, 1, pic, &l, &index, nullptr)) return code;
    layers.push_back(l);
  } while (index != -1);
  // A hidden layer keeps its place (x and y stay kKeepPosition); a group moves by (x, y).
  uint32_t placeFlags = 0;
  if (layers.size() == 1 || hide) {
    const qmLayer *one = layers[0];
    if (x != kKeepPosition) x = ResolvePositionX(GetScene(L), x, one->base->objectWidth, 0, one->anchorX);
    if (y != kKeepPosition) y = ResolvePositionY(GetScene(L), y, one->base->objectHeight, 0, one->anchorY);
  } else {
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    for (const qmLayer *l : layers) {
      const qmLayerState *b = l->base;
      left = std::min<int64_t>(left, b->anchoredX), top = std::min<int64_t>(top, b->anchoredY);
      right = std::max<int64_t>(right, int64_t(b->anchoredX) + b->objectWidth - 1);
      bottom = std::max<int64_t>(bottom, int64_t(b->anchoredY) + b->objectHeight - 1);
    }
    const int32_t boxW = int32_t(std::min<int64_t>(right - left + 1, INT32_MAX));
    const int32_t boxH = int32_t(std::min<int64_t>(bottom - top + 1, INT32_MAX));
    auto offset = [](int64_t to, int64_t from) {
      return int32_t(std::clamp<int64_t>(to - from, -kKeepPosition, kKeepPosition));
    };
    x = x != kKeepPosition ? offset(ResolvePositionX(GetScene(L), x, boxW, 0, 0), left) : 0;
    y = y != kKeepPosition ? offset(ResolvePositionY(GetScene(L), y, boxH, 0, 0), top) : 0;
    placeFlags = PLACE_RELATIVEX | PLACE_RELATIVEY;
  }
  pic->layersChanged = 1;
  const bool batch = scene->current->outputType != DISPOUT_BGPIC;
  scene->layerBatch.count = 0;
  for (qmLayer *l : layers) {
    l->hidden = hide;
    PlaceLayer(scene, l, nullptr, x, y, 0, placeFlags, batch ? &scene->layerBatch : nullptr);
  }
  if (batch) RefreshRectList(scene, scene->layerBatch.entries, scene->layerBatch.count);
  return 0;
}

uint32_t LayShowLayer(VmState *L) {
  CheckArgCount(L, 1, 3);
  return SetLayerVisible(L, 0);
}

uint32_t LayHideLayer(VmState *L) {
  CheckArgCount(L, 1, 2);
  return SetLayerVisible(L, 1);
}

uint32_t LayTranslateLayer(VmState *L) {
  qmScene *scene = GetScene(L);
  CheckArgCount(L, 3, 3);
  qmLayer *layer = nullptr;
  if (uint32_t code = GetExistingLayerArg(L, 1, &layer, nullptr)) return code;
  const int32_t dx = vm_checkint32(L, 2), dy = vm_checkint32(L, 3);
  if (uint32_t code = LayerGuard(scene)) return code;
  PlaceLayer(scene, layer, nullptr, dx, dy, 0, PLACE_RELATIVEX | PLACE_RELATIVEY, nullptr);
  return 0;
}

uint32_t LayInsertLayer(VmState *L) {
  CheckArgCount(L, 5, 6);
  int32_t pos = 0;
  if (uint32_t code = GetLayerArg(L, 1, &pos)) return code;
  const int32_t type = vm_checkint32(L, 2);
  const qmObjectId id = GetObjectIdArg(L, 3);
  int32_t x = vm_checkint32(L, 4), y = vm_checkint32(L, 5);
  const int32_t hidden = vm_optint32(L, 6, 0);
  return InsertObjectLayer(GetScene(L), pos, type, &id, x, y, 0, hidden, nullptr);
}

const qmCommandEntry kLayersCommands[] = {
    {"Undo", LayUndo},
    {"EnableLayers", LayEnableLayers},
    {"DisableLayers", LayDisableLayers},
    {"SwapLayers", LaySwapLayers},
    {"InsertLayer", LayInsertLayer},
    {"ShowLayer", LayShowLayer},
    {"HideLayer", LayHideLayer},
    {"RemoveLayer", LayRemoveLayer},
    {"SetLayerTransparency", LaySetLayerTransparency},
    {"SetLayerLight", LaySetLayerTint},
    {"SetLayerTint", LaySetLayerTint},
    {"AddMove", LayAddMove},
    {"ClearMove", LayClearMove},
    {"DoMove", LayDoMove},
    {"FreeLayers", LayFreeLayers},
    {"NextFrame", LayNextFrame},
    {"SetLayerName", LaySetLayerName},
    {"Collision", LayCollision},
    {"DumpLayers", LayDumpLayers},
    {"ScaleLayer", LayScaleLayer},
    {"RotateLayer", LayRotateLayer},
    {"SetLayerStyle", LaySetLayerStyle},
    {"GetLayerStyle", LayGetLayerStyle},
    {"TransformLayer", LayTransformLayer},
    {"SetLayerAnchor", LaySetLayerAnchor},
    {"LayerExists", LayLayerExists},
    {"SetLayerZPos", LaySetLayerZPos},
    {"TranslateLayer", LayTranslateLayer},
    {"SelectLayer", LaySelectLayer},
    {"CreateLayer", LayCreateLayer},
    {"ModifyLayerFrames", LayModifyLayerFrames},
    {"GetLayerAtPos", LayGetLayerAtPos},
    {"SetLayerShadow", LaySetLayerShadow},
    {"SetLayerFilter", LaySetLayerFilter},
    {"SetLayerBorder", LaySetLayerBorder},
    {"LayerToFront", LayLayerToFront},
    {"LayerToBack", LayLayerToBack},
    {nullptr, nullptr},
};

void ShowDeferred(qmBGPic *pic) {
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l)) l->deferred = 0;
}

void *LayerAt(const qmBGPic *pic, int32_t position) { return GetNthLayer(pic, position); }

int32_t DescribeLayer(const qmBGPic *pic, const void *layer, const char **name, int32_t *hidden) {
  const auto *l = static_cast<const qmLayer *>(layer);
  *name = l->name ? l->name : "";
  *hidden = l->hidden;
  return pic ? FindLayerIndex(pic, l) : -1;
}

int32_t HitLayer(const void *layer, int32_t x, int32_t y, int32_t pixelExact) {
  return LayerPixelTest(static_cast<const qmLayer *>(layer), x, y, pixelExact);
}

void LayerBounds(const void *layer, int32_t *x, int32_t *y, int32_t *width, int32_t *height) {
  const qmLayerState *s = static_cast<const qmLayer *>(layer)->current;
  *x = s->x, *y = s->y, *width = s->width, *height = s->height;
}

// SelectLayer draws into a picture that the layer alone shows: its own untransformed picture,
// or for a part layer the whole object it takes its part from, for an anim layer the frame
// named (a copy kept for the layer where the object is shared). The caches are built anew
// afterwards.
uint32_t SelectLayerPicture(qmScene *scene, int32_t position, int32_t frame, qmPlaneSet *planes, int32_t *width,
                            int32_t *height, void **record) {
  qmLayer *l = GetNthLayer(scene->picture, position);
  if (!l) return ERR_LAYERRANGE;
  // Only an anim layer has frames, and it has nothing to draw into but one of them, in memory.
  if (frame) {
    if (l->type != QMTYPE_ANIM) return ERR_NOANMLAYER;
    qmAnim *a = nullptr;
    if (uint32_t code = FindAnim(scene, &l->object, &a, FINDANIM_FREED)) return code;
    if (a->onDisk) return ERR_ANIMDISK;
    if (frame < 1 || frame > a->frameCount) return ERR_ANIMFRAME;
  } else if (l->type == QMTYPE_ANIM) {
    return ERR_MISSINGPARAMTR;
  }
  if (uint32_t code = RasterizeVectorLayer(scene, l, frame, planes, width, height)) return code;
  *record = l;
  return 0;
}

void EndSelectLayerPicture(qmScene *scene, void *record) {
  auto *l = static_cast<qmLayer *>(record);
  if (FindLayerIndex(scene->picture, l) < 0) return;
  if (l->type == QMTYPE_ANIM) {
    // The frame shown may be the one drawn into: it is shown anew from the anim. A layer left
    // at no frame keeps the picture it holds.
    scene->picture->layersChanged = 1;
    if (l->base->frame >= 1) ShowAnimLayerFrame(scene, l, l->base->frame, 0);
    return;
  }
  int32_t before[4];
  GetLayerBounds(scene->current, l, l->current, &before[0], &before[1], &before[2], &before[3]);
  // Out of memory the layer keeps showing its part as it was before the drawing.
  RefreshPartPicture(scene, l);
  FreePlaneSet(&l->base->filtered);
  if (l->current != l->base) {
    FreePlaneSet(&l->current->filtered);
    // A turned or scaled layer shows its new picture through its transform again.
    RenderLayerImage(scene, l, 0);
    RefreshRect(scene, before[0], before[1], before[2], before[3]);
  }
  scene->picture->layersChanged = 1;
  RefreshLayer(scene, l);
}

int32_t RebindObject(qmScene *scene, int32_t type, const qmObjectId *from, const qmObjectId *to) {
  return RebindLayerObjects(scene->objects, type, from, to);
}

uint32_t SetLayerFrame(qmScene *scene, void *layer, int32_t frame) {
  return SetAnimLayerFrame(scene, static_cast<qmLayer *>(layer), frame, 0);
}

}  // namespace

const qmLayerHooks kLayerHooks = {FreeBGPicLayers,     ShowDeferred,        RebindObject,
                                  LayerAt,             DescribeLayer,       HitLayer,
                                  SelectLayerPicture,  EndSelectLayerPicture, RerenderBGPicLayers,
                                  ResetBGPicLayerScale, LayerBounds,         SetLayerFrame};

namespace {

uint32_t InitLayersLibrary(VmState *L) {
  if (qmScene *scene = GetScene(L)) {
    qmDirtyRectList &batch = scene->layerBatch;
    FreeRectList(&batch);
    batch.entries = static_cast<qmDirtyRect *>(MemAlloc(kRectListStep * sizeof(qmDirtyRect), 0));
    if (!batch.entries) return ERR_MEM;
    batch.capacity = kRectListStep;
  }
  return 0;
}

void FreeLayersLibrary(VmState *L) {
  if (qmScene *scene = GetScene(L)) {
    FreeAllMoveLists(scene);
    FreeRectList(&scene->layerBatch);
  }
}

}  // namespace

uint32_t SwitchLayersOn(qmDisplay *d) {
  if (d->doubleBuffer || d->doubleBufferPaused) return ERR_ENDDOUBLEBUFFER;
  if (d->outputType != DISPOUT_DISPLAY) return ERR_LAYERSON;
  if (d->bgpic && d->bgpic->shownSprites) return ERR_NOSPRITES;
  d->layersOn = 1;
  return 0;
}

namespace {
// The attributes a layer has; any other is refused before the layer is looked up.
bool IsLayerAttribute(int32_t attribute) {
  switch (attribute) {
  case ATTRWIDTH: case ATTRHEIGHT: case ATTRXPOS: case ATTRYPOS: case ATTRRAWXPOS: case ATTRRAWYPOS:
  case ATTRRAWWIDTH: case ATTRRAWHEIGHT: case ATTRTYPE: case ATTRVISIBLE: case ATTRLAYERID: case ATTRZPOS:
  case ATTRGROUP: case ATTRNUMFRAMES: case ATTRCURFRAME: case ATTRFRAMEDELAY: case ATTRFONTASCENDER:
  case ATTRFONTDESCENDER: case ATTRFONTNAME: case ATTRFONTSIZE: case ATTRFONTSCALABLE: case ATTRFONTAA:
  case ATTRTEXT: case ATTRLAYERS: return true;
  default: return false;
  }
}
}  // namespace

uint32_t LayersReadAttribute(VmState *L, int32_t attribute) {
  qmScene *scene = GetScene(L);
  if (!IsLayerAttribute(attribute)) return ERR_UNKNOWNATTR;
  int32_t pos = 0;
  if (uint32_t code = GetLayerArg(L, 2, &pos)) return code;
  qmDisplay *d = scene->current;
  if (!d) return ERR_NOLAYERS;
  // With a Select* output the layers switched on before the selection count.
  const bool selecting = d->outputType == DISPOUT_BRUSH || d->outputType == DISPOUT_MASK ||
                         d->outputType == DISPOUT_ALPHA;
  if (!(selecting ? d->selectSave[5] : d->layersOn)) return ERR_NOLAYERS;
  const qmLayer *l = GetNthLayer(scene->picture, pos);
  if (!l) return ERR_LAYERRANGE;
  const qmLayerState *s = l->current, *raw = l->unscaled;
  switch (attribute) {
  case ATTRWIDTH: vm_pushnumber(L, s->width); break;
  case ATTRHEIGHT: vm_pushnumber(L, s->height); break;
  case ATTRXPOS: vm_pushnumber(L, s->x); break;
  case ATTRYPOS: vm_pushnumber(L, s->y); break;
  case ATTRRAWXPOS: vm_pushnumber(L, raw->anchoredX); break;
  case ATTRRAWYPOS: vm_pushnumber(L, raw->anchoredY); break;
  case ATTRRAWWIDTH: vm_pushnumber(L, raw->objectWidth); break;
  case ATTRRAWHEIGHT: vm_pushnumber(L, raw->objectHeight); break;
  case ATTRTYPE: vm_pushnumber(L, l->type); break;
  case ATTRVISIBLE: vm_pushnumber(L, l->hidden ? 0 : 1); break;
  case ATTRLAYERID:
  case ATTRZPOS: vm_pushnumber(L, pos); break;
  case ATTRGROUP: vm_pushstring(L, l->name ? l->name : ""); break;
  case ATTRNUMFRAMES:
  case ATTRCURFRAME:
  case ATTRFRAMEDELAY: {
    if (l->type != QMTYPE_ANIM) return ERR_NOANMLAYER;
    qmAnim *a = nullptr;
    if (uint32_t code = FindAnim(scene, &l->object, &a, FINDANIM_FREED)) return code;
    const double v = attribute == ATTRNUMFRAMES  ? a->frameCount
                     : attribute == ATTRCURFRAME ? l->base->frame
                                                 : GetAnimFrameDelay(a, l->base->frame - 1);
    vm_pushnumber(L, v);
    break;
  }
  case ATTRFONTASCENDER:
  case ATTRFONTDESCENDER:
  case ATTRFONTNAME:
  case ATTRFONTSIZE:
  case ATTRFONTSCALABLE:
  case ATTRFONTAA:
  case ATTRTEXT: {
    // Text and Print layers keep the request they were drawn from.
    const qmTextRequest *request = l->base ? l->base->textRequest : nullptr;
    if ((l->type != QMTYPE_TEXTOUT && l->type != QMTYPE_PRINT) || !request) return ERR_NOTXTLAYER;
    if (attribute != ATTRTEXT) return PushFontAttribute(L, request->style.font, attribute);
    vm_pushstring(L, request->text ? request->text : "");
    break;
  }
  case ATTRLAYERS: {
    int32_t n = 0;
    for (qmObjectHeader *h = FirstObject(L, QMTYPE_BGPIC); h; h = static_cast<qmObjectHeader *>(h->next))
      n += CountLayers(reinterpret_cast<const qmBGPic *>(h));
    vm_pushnumber(L, n);
    break;
  }
  default: return ERR_UNKNOWNATTR;
  }
  return 1;
}

int32_t LayersFindLayerByName(const qmScene *scene, const char *name) {
  return FindLayerByName(scene->picture, name);
}

// The sprites shown over the picture (only while layers are off) come after its layers.
// Without layers the background goes in with the sprites, which skip what opaque pixels hide.
void LayersRedrawDisplayRect(qmScene *scene, qmDisplay *d, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!d || !d->layerBuffer || !d->bgpic) return;
  if (!FirstLayer(d->bgpic) && x >= 0 && y >= 0 && width > 0 && height > 0) {
    DrawShownSprites(scene, d->bgpic, d->layerBuffer, RedrawBackground(d, d->bgpic, 0), x, y, width, height);
    return;
  }
  Redraw(scene, d, d->bgpic, d->layerBuffer, x, y, width, height, 0);
  DrawShownSprites(scene, d->bgpic, d->layerBuffer, nullptr, x, y, width, height);
}

void LayersComposeDisplayPicture(qmScene *scene, qmDisplay *d, qmBitmap *dst) {
  if (!d || !d->bgpic || !dst) return;
  if (!FirstLayer(d->bgpic) && dst->width > 0 && dst->height > 0) {
    DrawShownSprites(scene, d->bgpic, dst, RedrawBackground(d, d->bgpic, 0), 0, 0, dst->width, dst->height);
    return;
  }
  Redraw(scene, d, d->bgpic, dst, 0, 0, dst->width, dst->height, 0);
  DrawShownSprites(scene, d->bgpic, dst, nullptr, 0, 0, dst->width, dst->height);
}

int LayersCoverDisplayRect(qmDisplay *d, int32_t x, int32_t y, int32_t width, int32_t height) {
  return d && d->bgpic &&
                 (LayersCoverRect(d, d->bgpic, x, y, width, height) || SpritesCoverRect(d->bgpic, x, y, width, height))
             ? 1
             : 0;
}

const qmLibrary kLayersLibrary = {"layers", kLayersCommands, nullptr, InitLayersLibrary, FreeLayersLibrary,
                                  FREERANK_LAYERS};
