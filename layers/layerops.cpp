#include "layers/layerops.h"

#include <algorithm>
#include <cstring>

#include "display/asyncdraw.h"
#include "display/display.h"
#include "display/scene.h"
#include "display/displayops.h"
#include "display/imagecore.h"
#include "graphics/bitmap.h"
#include "graphics/clipregion.h"
#include "layers/layerimage.h"
#include "layers/sweep.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"


namespace {

bool AnyFilter(const qmLayer *l) {
  for (const qmFilterSlot &f : l->filters)
    if (f.enabled) return true;
  return false;
}

// Whether the rectangle reaches into a picture of W x H.
bool OnPicture(int32_t x, int32_t y, int32_t w, int32_t h, int32_t W, int32_t H) {
  return int64_t(x) + w >= 1 && x < W && int64_t(y) + h >= 1 && y < H;
}

}  // namespace

uint32_t AddLayer(qmScene *scene, int32_t type, const qmObjectId *id, int32_t x, int32_t y, int32_t width,
                  int32_t height, const qmTransform *transform, qmDisplayTags *tags, const qmPlaneSet &planes,
                  qmLayerState *state, int32_t position, uint32_t flags) {
  qmBGPic *pic = scene->picture;
  qmDisplay *d = scene->current;
  auto *layer = pic ? static_cast<qmLayer *>(MemAlloc(sizeof(qmLayer), 1)) : nullptr;
  if (!layer) {
    // Planes and state were handed over: nothing of them may stay behind.
    qmPlaneSet handed = planes;
    FreePlaneSet(&handed);
    if (state) FreeLayerState(scene->objects, state);
    return pic ? ERR_MEM : ERR_WRONGUSAGE;
  }
  state->own = planes;
  // The picture's active clip region cuts the layer for as long as it lives.
  if (!(flags & ADDLAYER_REPLACE) && pic->activeClip) {
    state->clip = pic->activeClip;
    state->clip->layerUses++;
  }
  state->anchoredX = state->requestedX, state->anchoredY = state->requestedY;
  state->x = x, state->y = y;
  state->width = width, state->height = height;

  auto fail = [&](uint32_t code) {
    FreeLayerState(scene->objects, state);
    MemFree(layer->name);
    MemFree(layer);
    return code;
  };

  if (tags) {
    layer->transparency = std::clamp(tags->transparency, 0, 255);
    layer->shadow = tags->shadow;
    layer->border = tags->border;
    std::memcpy(layer->filters, tags->filters, sizeof layer->filters);
    for (int slot : {11, 15, 17, 18, 19})
      if (layer->filters[slot].enabled) layer->shapeFilters = 1;
    if (tags->hidden) flags |= ADDLAYER_HIDDEN;
    if (tags->name[0])
      if (uint32_t code = SetLayerNameChecked(pic, layer, tags->name)) return fail(code);
    if (tags->insertPosition > 0) {
      position = tags->insertPosition;
      const int32_t n = CountLayers(pic);
      if (n >= 1 && position > n + 1) position = tags->insertPosition = n + 1;
    }
  } else {
    layer->shadow = scene->defaultTags.shadow;
    layer->border = scene->defaultTags.border;
  }
  layer->type = type;
  layer->hidden = (flags & ADDLAYER_HIDDEN) ? 1 : 0;
  layer->deferred = !layer->hidden && d && d->outputType == DISPOUT_BGPIC && d->bgpic == pic ? 1 : 0;
  layer->base = layer->unscaled = layer->current = state;
  pic->layersChanged = 1;

  if (transform) {
    layer->transform = *transform;
    layer->anchorX = transform->anchorX, layer->anchorY = transform->anchorY;
    if (type != QMTYPE_LINE) {
      const int32_t dx = state->requestedX - x, dy = state->requestedY - y;
      state->anchoredX = state->requestedX - int32_t(state->objectWidth * layer->anchorX);
      state->anchoredY = state->requestedY - int32_t(state->objectHeight * layer->anchorY);
      state->x = state->anchoredX - dx;
      state->y = state->anchoredY - dy;
    }
  } else {
    layer->transform = scene->defaultTransform;
  }
  if (id) layer->object = layer->origin = *id;

  bool refresh = false;
  qmLayer *below = position >= 2 ? GetNthLayer(pic, position - 1) : nullptr;
  if (position == 1) {
    LinkLayerAtHead(pic, layer);
    refresh = !(flags & ADDLAYER_REPLACE);
  } else if (below) {
    LinkLayerAfter(below, layer);
    refresh = !(flags & ADDLAYER_REPLACE);
  } else {
    LinkLayerAtTail(pic, layer);
  }

  // Drawn into the selected picture, the layer's area must reach the dirty list so that
  // EndSelect shows it: nothing else puts it on the display.
  if (layer->deferred) refresh = true;
  if (!refresh && !AnyFilter(layer) && !layer->transparency && !layer->shadow.on && !layer->border.on) return 0;
  if (!layer->hidden) RefreshLayer(scene, layer);
  return 0;
}

void DestroyLayer(qmScene *scene, qmLayer *layer, int32_t noRefresh, int32_t *bounds, qmDirtyRectList *batch) {
  int32_t x, y, w, h;
  GetLayerBounds(scene->current, layer, layer->current, &x, &y, &w, &h);
  if (bounds) bounds[0] = x, bounds[1] = y, bounds[2] = w, bounds[3] = h;
  if (!noRefresh) {
    // Left out of the redraw while its area is composed without it.
    const int32_t type = layer->type;
    layer->type = QMTYPE_NOOBJECT;
    if (batch) AppendRect(batch, x, y, w, h);
    else RefreshRect(scene, x, y, w, h);
    layer->type = type;
  }
  RemovePictureLayerButton(scene, scene->picture, layer);
  BroadcastAsyncDraws(scene, ADOP_LAYERGONE, reinterpret_cast<intptr_t>(layer));
  const uint32_t sweep = SweepFlagOfLayerType(layer->type);
  FreeLayerContents(scene->objects, layer);
  UnlinkLayer(layer);
  MemFree(layer);
  if (sweep) SweepUnusedObjects(scene, sweep);
}

namespace {

int32_t ClampPosition(int64_t v) { return int32_t(std::clamp<int64_t>(v, -kPositionLimit, kPositionLimit)); }

// A state moved so that its requested position becomes (nx, ny), its anchored position
// following the anchor and the image keeping its offset from it.
void MoveState(const qmLayer *layer, qmLayerState *st, int32_t objectWidth, int32_t objectHeight, int64_t nx,
               int64_t ny) {
  const int64_t ox = int64_t(st->anchoredX) - st->x, oy = int64_t(st->anchoredY) - st->y;
  const int64_t dx = nx - st->requestedX, dy = ny - st->requestedY;
  st->requestedX = ClampPosition(nx), st->requestedY = ClampPosition(ny);
  st->anchoredX = ClampPosition(nx - int64_t(objectWidth * layer->anchorX));
  st->anchoredY = ClampPosition(ny - int64_t(objectHeight * layer->anchorY));
  st->x = ClampPosition(int64_t(st->anchoredX) - ox);
  st->y = ClampPosition(int64_t(st->anchoredY) - oy);
  if (layer->type == QMTYPE_LINE) {
    st->lineX1 = ClampPosition(st->lineX1 + dx), st->lineX2 = ClampPosition(st->lineX2 + dx);
    st->lineY1 = ClampPosition(st->lineY1 + dy), st->lineY2 = ClampPosition(st->lineY2 + dy);
  }
}

}  // namespace

void PlaceLayer(qmScene *scene, qmLayer *layer, const int32_t *formerSize, int32_t x, int32_t y,
                int32_t returnOnly, uint32_t flags, qmDirtyRectList *batch) {
  qmLayerState *base = layer->base, *unscaled = layer->unscaled, *current = layer->current;
  // Placed only, the layer needs none of the rectangles below.
  const bool decorated = !returnOnly && (layer->shadow.on || layer->border.on);
  int32_t before[4] = {};
  if (decorated) GetLayerBounds(scene->current, layer, current, &before[0], &before[1], &before[2], &before[3]);
  const int32_t oldX = current->x, oldY = current->y;
  if (x != kKeepPosition || y != kKeepPosition) {
    const int64_t nx = (flags & PLACE_RELATIVEX) ? int64_t(base->requestedX) + x
                       : x == kKeepPosition      ? base->requestedX
                                                 : x;
    const int64_t ny = (flags & PLACE_RELATIVEY) ? int64_t(base->requestedY) + y
                       : y == kKeepPosition      ? base->requestedY
                                                 : y;
    MoveState(layer, base, base->objectWidth, base->objectHeight, nx, ny);
    if (current != unscaled) {
      if (unscaled != base) MoveState(layer, unscaled, base->objectWidth, base->objectHeight, nx, ny);
      const qmDisplay *d = scene->current;
      const double sx = d ? d->scaleX : 1.0, sy = d ? d->scaleY : 1.0;
      current->x = ClampPosition(int64_t(unscaled->x * sx));
      current->y = ClampPosition(int64_t(unscaled->y * sy));
    } else if (current != base) {
      MoveState(layer, current, base->objectWidth, base->objectHeight, nx, ny);
    }
    if (scene->picture) scene->picture->layersChanged = 1;
  }
  if (returnOnly) return;
  // The old and the new place of the picture, as wide as the larger of its sizes.
  const int32_t w = formerSize ? std::max(formerSize[0], current->width) : current->width;
  const int32_t h = formerSize ? std::max(formerSize[1], current->height) : current->height;
  const int64_t spanX = std::llabs(int64_t(current->x) - oldX) + w, spanY = std::llabs(int64_t(current->y) - oldY) + h;
  int32_t rect[4] = {std::min(oldX, current->x), std::min(oldY, current->y),
                     int32_t(std::min<int64_t>(spanX, INT32_MAX)), int32_t(std::min<int64_t>(spanY, INT32_MAX))};
  if (decorated) {
    int32_t after[4];
    GetLayerBounds(scene->current, layer, current, &after[0], &after[1], &after[2], &after[3]);
    UnionRect(&rect[0], &rect[1], &rect[2], &rect[3], before[0], before[1], before[2], before[3]);
    UnionRect(&rect[0], &rect[1], &rect[2], &rect[3], after[0], after[1], after[2], after[3]);
  }
  if (batch) AppendRect(batch, rect[0], rect[1], rect[2], rect[3]);
  else RefreshRect(scene, rect[0], rect[1], rect[2], rect[3]);
}

void ReplaceLayerImage(qmScene *scene, qmLayer *layer, qmFormerRect *former, int32_t x, int32_t y, int32_t width,
                       int32_t height, qmBitmap *bitmap, qmMask *mask, qmAlphaChannel *alpha, uint32_t flags) {
  qmLayerState *s = layer->current;
  s->width = width, s->height = height;
  if (layer->type != QMTYPE_LINE) {
    s->x = x - int32_t(s->objectWidth * layer->anchorX);
    s->y = y - int32_t(s->objectHeight * layer->anchorY);
  } else if (!(flags & REPLACE_KEEPLINEPOS)) {
    s->x = x, s->y = y;
  }
  if (bitmap) {
    // The state owns its image: the one it had goes unless it is handed back or lent.
    if (s->ownLent) {
      s->own = {};
      s->ownLent = 0;
    }
    if (s->own.bitmap != bitmap) FreeBitmap(s->own.bitmap);
    if (s->own.mask != mask) FreeMask(s->own.mask);
    if (s->own.alpha != alpha) FreeAlphaChannel(s->own.alpha);
    s->own = {bitmap, mask, alpha};
  }
  if (former->width == -1) former->x = s->x, former->y = s->y, former->width = s->width, former->height = s->height;
  const int32_t left = std::min(former->x, s->x), top = std::min(former->y, s->y);
  const int64_t rw = int64_t(std::max(former->x, s->x)) - left + std::max(former->width, s->width);
  const int64_t rh = int64_t(std::max(former->y, s->y)) - top + std::max(former->height, s->height);

  // No asynchronous drawing exists that could hold the layer: the transformed image is made anew
  // at the new size, the old one freed and the new one cleared; the caches of the old image go.
  qmPlaneSet &t = s->transformed;
  if (t.bitmap) {
    qmPlaneSet old = t;
    t = {};
    if (width >= 1 && height >= 1) AllocClearedPlanes(width, height, old.mask, old.alpha, &t);
    FreePlaneSet(&old);
  }
  DropDerivedImages(s);
  if (scene->picture) scene->picture->layersChanged = 1;
  if (layer->hidden || layer->deferred || former->noRefresh) return;
  RefreshRect(scene, left, top, int32_t(std::min<int64_t>(rw, INT32_MAX)),
              int32_t(std::min<int64_t>(rh, INT32_MAX)));
}

uint32_t SwapLayerPicture(qmScene *scene, qmLayer *l, qmPlaneSet *planes, int32_t noRefresh) {
  qmLayerState *base = l->base;
  qmPlaneSet shown = base->own;
  if (base->ownLent) shown = {};  // the anim's frame, not the caller's
  base->own = *planes;
  base->ownLent = 0;
  *planes = shown;
  return RenewLayerPicture(scene, l, noRefresh);
}

uint32_t RenewLayerPicture(qmScene *scene, qmLayer *l, int32_t noRefresh) {
  qmLayerState *base = l->base;
  int32_t before[4];
  GetLayerBounds(scene->current, l, l->current, &before[0], &before[1], &before[2], &before[3]);
  DropDerivedImages(base);
  uint32_t code = 0;
  if (l->current != base) {
    DropDerivedImages(l->current);
    // A turned or scaled layer shows the new picture through its transform again.
    code = RenderLayerImage(scene, l, 0);
    if (!noRefresh) RefreshRect(scene, before[0], before[1], before[2], before[3]);
  }
  if (scene->picture) scene->picture->layersChanged = 1;
  if (!noRefresh) RefreshLayer(scene, l);
  return code;
}

uint32_t SwapLayerPositions(qmScene *scene, int32_t pos1, int32_t pos2) {
  qmBGPic *pic = scene->picture;
  qmLayer *a = pos1 >= 1 ? GetNthLayer(pic, pos1) : nullptr;
  qmLayer *b = pos2 >= 1 ? GetNthLayer(pic, pos2) : nullptr;
  if (!a || !b) return ERR_LAYERRANGE;
  pic->layersChanged = 1;
  if (a == b) return 0;
  // Exchange the places: a goes where b was and b where a was.
  qmLayer *aBelow = LayerBelow(a), *bBelow = LayerBelow(b);
  if (bBelow == a) {  // a directly under b
    UnlinkLayer(b);
    if (aBelow) LinkLayerAfter(aBelow, b);
    else LinkLayerAtHead(pic, b);
  } else if (aBelow == b) {
    UnlinkLayer(a);
    if (bBelow) LinkLayerAfter(bBelow, a);
    else LinkLayerAtHead(pic, a);
  } else {
    UnlinkLayer(a);
    UnlinkLayer(b);
    if (bBelow) LinkLayerAfter(bBelow, a);
    else LinkLayerAtHead(pic, a);
    if (aBelow) LinkLayerAfter(aBelow, b);
    else LinkLayerAtHead(pic, b);
  }
  // Each layer's own area changes when the two trade places, also when other layers lie
  // between them: both areas are refreshed where they reach the picture.
  for (qmLayer *l : {a, b}) {
    int32_t x, y, w, h;
    GetLayerBounds(scene->current, l, l->current, &x, &y, &w, &h);
    if (OnPicture(x, y, w, h, pic->shownWidth, pic->shownHeight)) RefreshRect(scene, x, y, w, h);
  }
  return 0;
}

qmLayer *FindObjectLayer(const qmBGPic *pic, int32_t type, const qmObjectId *id, int32_t level) {
  for (qmLayer *l = LastLayer(pic); l; l = LayerBelow(l)) {
    if (l->type != type || l->origin.id != id->id || l->origin.handle != id->handle) continue;
    if (--level <= 0) return l;
  }
  return nullptr;
}

uint32_t LayerGuard(const qmScene *scene) {
  const qmDisplay *d = scene->current;
  if (!d) return ERR_NOLAYERS;
  switch (d->outputType) {
  case DISPOUT_BRUSH:
    if (d->selectBGPic && d->selectBGPic->selectedType == QMTYPE_ANIM) return ERR_SELECTANIM;
    return ERR_SELECTBRUSH;
  case DISPOUT_MASK: return ERR_SELECTMASK;
  case DISPOUT_ALPHA: return ERR_SELECTALPHACHANNEL;
  default: break;
  }
  if (!d->layersOn) return ERR_NOLAYERS;
  return 0;
}

uint32_t FindGuardedLayer(const qmScene *scene, int32_t position, qmLayer **out) {
  if (uint32_t code = LayerGuard(scene)) return code;
  *out = GetNthLayer(scene->picture, position);
  return *out ? 0u : uint32_t(ERR_LAYERRANGE);
}

uint32_t InsertObjectLayer(qmScene *scene, int32_t position, int32_t type, const qmObjectId *id, int32_t x, int32_t y,
                           int32_t noRefresh, int32_t hidden, qmLayer **out) {
  if (uint32_t code = LayerGuard(scene)) return code;
  if (position < 0) return ERR_INVINSERT;
  qmBGPic *pic = scene->picture;
  const int32_t n = CountLayers(pic);
  if (position == 0 || (n > 0 && position > n + 1)) position = n + 1;
  const qmPlayerContext *ctx = scene->context;
  if (type == QMTYPE_TEXTOBJECT && ctx && ctx->insertTextObjectLayer) {
    if (uint32_t code = ctx->insertTextObjectLayer(scene, id, x, y, position, hidden)) return code;
  } else {
    // Anims are drawn as layers by their own library, which does not exist yet.
    if (type != QMTYPE_BRUSH) return ERR_WRONGUSAGE;
    qmImageRequest req{};
    req.layerPosition = position;
    req.kind = QMTYPE_BRUSH;
    req.id = *id;
    req.x = x, req.y = y;
    req.flags = IMGCORE_INSERT | IMGCORE_RENDERSCALED | (hidden ? IMGCORE_HIDDEN : 0u);
    if (uint32_t code = DisplayImageCore(scene, &req)) return code;
  }
  qmLayer *layer = GetNthLayer(pic, position);
  if (!layer) return ERR_LAYERRANGE;
  if (!noRefresh && !hidden) RefreshLayer(scene, layer);
  if (out) *out = layer;
  return 0;
}
