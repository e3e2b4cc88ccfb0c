#include "layers/layerops.h"

#include <algorithm>
#include <cstring>

#include "display/display.h"
#include "display/displayops.h"
#include "display/imagecore.h"
#include "graphics/bitmap.h"
#include "layers/sweep.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"

qmDirtyRectList LayerRefreshBatch = {};

namespace {

void FreePlanes(const qmPlaneSet &p) {
  FreeBitmap(p.bitmap);
  FreeMask(p.mask);
  FreeAlphaChannel(p.alpha);
}

bool AnyFilter(const qmLayer *l) {
  for (const qmFilterSlot &f : l->filters)
    if (f.enabled) return true;
  return false;
}

// Whether the rectangle reaches into a picture of W x H.
constexpr int64_t kPositionLimit = 1 << 28;

bool OnPicture(int32_t x, int32_t y, int32_t w, int32_t h, int32_t W, int32_t H) {
  return int64_t(x) + w >= 1 && x < W && int64_t(y) + h >= 1 && y < H;
}

}  // namespace

uint32_t AddLayer(VmState *L, int32_t type, const qmObjectId *id, int32_t x, int32_t y, int32_t width,
                  int32_t height, const qmTransform *transform, qmDisplayTags *tags, const qmPlaneSet &planes,
                  qmLayerState *state, int32_t position, uint32_t flags) {
  qmBGPic *pic = CurrentBGPic;
  qmDisplay *d = CurrentDisplay;
  auto *layer = pic ? static_cast<qmLayer *>(MemAlloc(sizeof(qmLayer), 1)) : nullptr;
  if (!layer) {
    // Planes and state were handed over: nothing of them may stay behind.
    FreePlanes(planes);
    if (state) {
      FreeLayerStateImages(state);
      MemFree(state);
    }
    return pic ? ERR_MEM : ERR_WRONGUSAGE;
  }
  state->own = planes;
  state->anchoredX = state->requestedX, state->anchoredY = state->requestedY;
  state->x = x, state->y = y;
  state->width = width, state->height = height;

  auto fail = [&](uint32_t code) {
    FreeLayerStateImages(state);
    MemFree(state);
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
    layer->shadow = DefaultDisplayTags.shadow;
    layer->border = DefaultDisplayTags.border;
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
    CopyDefaultTransform(&layer->transform);
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
  if (!layer->hidden) RefreshLayer(L, layer);
  return 0;
}

void DestroyLayer(VmState *L, qmLayer *layer, int32_t noRefresh, int32_t *bounds, qmDirtyRectList *batch) {
  int32_t x, y, w, h;
  GetLayerBounds(layer, layer->current, &x, &y, &w, &h);
  if (bounds) bounds[0] = x, bounds[1] = y, bounds[2] = w, bounds[3] = h;
  if (!noRefresh) {
    // Left out of the redraw while its area is composed without it.
    const int32_t type = layer->type;
    layer->type = QMTYPE_NOOBJECT;
    if (batch) AppendRect(batch, x, y, w, h);
    else RefreshRect(L, x, y, w, h);
    layer->type = type;
  }
  RemovePictureLayerButton(L, CurrentBGPic, layer);
  const uint32_t sweep = SweepFlagOfLayerType(layer->type);
  FreeLayerContents(L, layer);
  UnlinkLayer(layer);
  MemFree(layer);
  if (sweep) SweepUnusedObjects(L, sweep);
}

void PlaceLayer(VmState *L, qmLayer *layer, int32_t x, int32_t y, int32_t relative, qmDirtyRectList *batch) {
  int32_t old[4];
  GetLayerBounds(layer, layer->current, &old[0], &old[1], &old[2], &old[3]);
  const qmLayerState *base = layer->base;
  int64_t dx = relative ? x : (x == kKeepPosition ? 0 : int64_t(x) - base->requestedX);
  int64_t dy = relative ? y : (y == kKeepPosition ? 0 : int64_t(y) - base->requestedY);
  dx = std::clamp<int64_t>(dx, -kKeepPosition, kKeepPosition);
  dy = std::clamp<int64_t>(dy, -kKeepPosition, kKeepPosition);
  qmLayerState *states[3] = {layer->base, layer->unscaled, layer->current};
  for (int i = 0; i < 3; i++) {
    qmLayerState *st = states[i];
    if (!st || (i >= 1 && st == states[0]) || (i == 2 && st == states[1])) continue;
    // Positions stay within what the picture code can add without overflow.
    auto shift = [](int32_t &v, int64_t d) { v = int32_t(std::clamp<int64_t>(v + d, -kPositionLimit, kPositionLimit)); };
    shift(st->requestedX, dx), shift(st->requestedY, dy);
    shift(st->anchoredX, dx), shift(st->anchoredY, dy);
    shift(st->x, dx), shift(st->y, dy);
  }
  if (CurrentBGPic) CurrentBGPic->layersChanged = 1;
  int32_t now[4];
  GetLayerBounds(layer, layer->current, &now[0], &now[1], &now[2], &now[3]);
  for (const int32_t *r : {old, now}) {
    if (batch) AppendRect(batch, r[0], r[1], r[2], r[3]);
    else RefreshRect(L, r[0], r[1], r[2], r[3]);
  }
}

uint32_t SwapLayerPositions(VmState *L, int32_t pos1, int32_t pos2) {
  qmBGPic *pic = CurrentBGPic;
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
    GetLayerBounds(l, l->current, &x, &y, &w, &h);
    if (OnPicture(x, y, w, h, pic->shownWidth, pic->shownHeight)) RefreshRect(L, x, y, w, h);
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

uint32_t LayerGuard() {
  qmDisplay *d = CurrentDisplay;
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

uint32_t InsertObjectLayer(VmState *L, int32_t position, int32_t type, const qmObjectId *id, int32_t x, int32_t y,
                           int32_t noRefresh, int32_t hidden, qmLayer **out) {
  if (uint32_t code = LayerGuard()) return code;
  if (position < 0) return ERR_INVINSERT;
  qmBGPic *pic = CurrentBGPic;
  const int32_t n = CountLayers(pic);
  if (position == 0 || (n > 0 && position > n + 1)) position = n + 1;
  // Anims and text objects are drawn as layers by their own libraries, which do not yet.
  if (type != QMTYPE_BRUSH) return ERR_WRONGUSAGE;
  qmImageRequest req{};
  req.layerPosition = position;
  req.kind = QMTYPE_BRUSH;
  req.id = *id;
  req.x = x, req.y = y;
  req.flags = IMGCORE_INSERT | IMGCORE_RENDERSCALED | (hidden ? IMGCORE_HIDDEN : 0u);
  if (uint32_t code = DisplayImageCore(L, &req)) return code;
  qmLayer *layer = GetNthLayer(pic, position);
  if (!layer) return ERR_LAYERRANGE;
  if (!noRefresh && !hidden) RefreshLayer(L, layer);
  if (out) *out = layer;
  return 0;
}
