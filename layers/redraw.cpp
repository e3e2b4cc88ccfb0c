#include "layers/redraw.h"

#include <algorithm>
#include <cstring>

#include "display/display.h"
#include "graphics/blit.h"
#include "graphics/graphics/bitmap_effects.h"
#include "graphics/graphics/safeblt.h"
#include "layers/layerimage.h"
#include "platform/env.h"
#include "platform/memory.h"
#include "runtime/objtypes.h"

void AppendRect(qmDirtyRectList *list, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (list->count >= list->capacity) {
    const int64_t grown = int64_t(list->capacity) + kRectListStep;
    if (grown * int64_t(sizeof(qmDirtyRect)) > INT32_MAX) return;
    auto *entries = static_cast<qmDirtyRect *>(MemAlloc(uint32_t(grown * sizeof(qmDirtyRect)), 0));
    if (!entries) return;  // dropped: the area stays as it is until its next refresh
    if (list->count) std::memcpy(entries, list->entries, size_t(list->count) * sizeof(qmDirtyRect));
    MemFree(list->entries);
    list->entries = entries;
    list->capacity = int32_t(grown);
  }
  list->entries[list->count++] = {x, y, x + width - 1, y + height - 1};
}

void FreeRectList(qmDirtyRectList *list) {
  MemFree(list->entries);
  *list = {};
}

bool ClipRectToPicture(int32_t W, int32_t H, int32_t *x, int32_t *y, int32_t *w, int32_t *h) {
  const int64_t x0 = std::max<int64_t>(*x, 0), y0 = std::max<int64_t>(*y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t(*x) + *w, W), y1 = std::min<int64_t>(int64_t(*y) + *h, H);
  if (x0 >= x1 || y0 >= y1) return false;
  *x = int32_t(x0), *y = int32_t(y0), *w = int32_t(x1 - x0), *h = int32_t(y1 - y0);
  return true;
}

namespace {

struct qmRect {
  int32_t x, y, w, h;
};

// The intersection of two rectangles; false when empty.
bool Intersect(const qmRect &a, const qmRect &b, qmRect *out) {
  const int64_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  const int64_t x1 = std::min(int64_t(a.x) + a.w, int64_t(b.x) + b.w);
  const int64_t y1 = std::min(int64_t(a.y) + a.h, int64_t(b.y) + b.h);
  if (x0 >= x1 || y0 >= y1) return false;
  *out = {int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
  return true;
}

// One layer picture into the destination: copied through its mask or alpha channel, or mixed
// in at 255 - transparency.
void BlitLayerImage(VmState *L, const qmPlaneSet &img, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX,
                    int32_t dstY, int32_t width, int32_t height, int32_t W, int32_t H, int32_t transparency) {
  if (transparency <= 0) {
    qmSafeBlt b{};
    b.src = img.bitmap, b.srcX = srcX, b.srcY = srcY;
    b.dst = dst, b.dstX = dstX, b.dstY = dstY;
    b.width = width, b.height = height;
    b.srcWidth = img.bitmap->width, b.srcHeight = img.bitmap->height;
    b.dstWidth = W, b.dstHeight = H;
    b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOSPRITES;
    b.mask = img.mask, b.alpha = img.alpha;
    SafeBlt(L, &b);
    return;
  }
  if (transparency >= 255) return;
  MixBitmap(dst, img.bitmap, img.mask, srcX, srcY, dstX, dstY, width, height, 255 - transparency, img.alpha);
}

}  // namespace

void GetLayerBounds(const qmLayer *, const qmLayerState *s, int32_t *x, int32_t *y, int32_t *width,
                    int32_t *height) {
  *x = s->x, *y = s->y, *width = s->width, *height = s->height;
}

void Redraw(VmState *L, qmDisplay *display, qmBGPic *pic, qmBitmap *dst, int32_t x, int32_t y, int32_t width,
            int32_t height, uint32_t flags) {
  if (width < 1 || height < 1) {
    DebugPrintf("ERROR! REDRAW CALLED WITH WIDTH/HEIGHT <= 0\n");
    return;
  }
  if (x < 0 || y < 0) {
    DebugPrintf("ERROR! REDRAW CALLED WITH NEGATIVE X/Y COORDINATES\n");
    return;
  }
  if (!dst) {
    DebugPrintf("ERROR! REDRAW CALLED WITHOUT DSTBM\n");
    return;
  }
  if (!pic) return;
  const bool unscaled = flags & REDRAW_UNSCALED;
  const int32_t W = std::min(unscaled ? pic->unscaledWidth : pic->shownWidth, dst->width);
  const int32_t H = std::min(unscaled ? pic->unscaledHeight : pic->shownHeight, dst->height);
  // The clipped rectangle may be empty (x at or past the edge): nothing to compose then.
  if (!ClipRectToPicture(W, H, &x, &y, &width, &height)) return;
  if (flags & REDRAW_SPRITESONLY) return;  // no sprites are shown while layers are on

  const qmBitmap *background;
  if (unscaled) background = pic->unscaled.bitmap;
  else if (flags & REDRAW_FROMSHOWN) background = pic->shown.bitmap;
  else if ((flags & REDRAW_FROMCOPY) || (display && pic == display->bgpic && display->backgroundCopy))
    background = display && display->backgroundCopy ? display->backgroundCopy : pic->shown.bitmap;
  else background = pic->shown.bitmap;
  if (background) {
    qmRect r{x, y, width, height}, b;
    if (Intersect(r, {0, 0, background->width, background->height}, &b))
      BltBitmap(background, b.x, b.y, dst, b.x, b.y, b.w, b.h);
  }

  const qmRect area{x, y, width, height};
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l)) {
    if (l->type == QMTYPE_NOOBJECT || l->hidden || l->deferred) continue;
    qmLayerState *s = unscaled ? l->unscaled : l->current;
    if (!s) continue;
    qmRect part;
    if (!Intersect(area, {s->x, s->y, s->width, s->height}, &part)) continue;
    qmLayerImage img{};
    if (GetLayerImage(L, l, s, 1, 1, -1, &img) || !img.bitmap) continue;
    BlitLayerImage(L, {img.bitmap, img.mask, img.alpha}, img.originX + part.x - s->x, img.originY + part.y - s->y,
                   dst, part.x, part.y, part.w, part.h, W, H, l->transparency);
  }
}

void RedrawRect(VmState *L, int32_t x, int32_t y, int32_t width, int32_t height) {
  qmDisplay *d = CurrentDisplay;
  qmBGPic *pic = CurrentBGPic;
  if (!d || !pic || !d->layerBuffer) return;
  if (!ClipRectToPicture(pic->shownWidth, pic->shownHeight, &x, &y, &width, &height)) return;
  Redraw(L, d, pic, d->layerBuffer, x, y, width, height, 0);
  BltToDisplay(d->layerBuffer, x, y, d, x, y, width, height, 1);
}

void RefreshRect(VmState *L, int32_t x, int32_t y, int32_t width, int32_t height) {
  qmDisplay *d = CurrentDisplay;
  if (!d) return;
  if (d->outputType == DISPOUT_DISPLAY) {
    RedrawRect(L, x, y, width, height);
  } else if (d->outputType == DISPOUT_BGPIC) {
    qmDirtyRectList list{d->dirtyRects, d->dirtyCount, d->dirtyCapacity};
    AppendRect(&list, x, y, width, height);
    d->dirtyRects = list.entries, d->dirtyCount = list.count, d->dirtyCapacity = list.capacity;
  }
}

void RefreshLayer(VmState *L, const qmLayer *layer) {
  int32_t x, y, w, h;
  GetLayerBounds(layer, layer->current, &x, &y, &w, &h);
  RefreshRect(L, x, y, w, h);
}

void RefreshRectList(VmState *L, const qmDirtyRect *entries, int32_t count) {
  for (int32_t i = 0; i < count; i++) {
    const qmDirtyRect &r = entries[i];
    if (r.x1 == kMergedRect) continue;
    RedrawRect(L, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1);
  }
}

bool LayersCoverRect(const qmBGPic *pic, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!pic) return false;
  const qmRect area{x, y, width, height};
  qmRect part;
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l)) {
    if (l->type == QMTYPE_NOOBJECT || l->hidden || l->deferred || !l->current) continue;
    const qmLayerState *s = l->current;
    if (Intersect(area, {s->x, s->y, s->width, s->height}, &part)) return true;
  }
  return false;
}
