#include "layers/redraw.h"

#include <algorithm>
#include <cstring>

#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "graphics/draw_style.h"
#include "graphics/alphaops.h"
#include "graphics/bitmap_effects.h"
#include "graphics/clipregion.h"
#include "display/safeblt.h"
#include "layers/border.h"
#include "layers/layerimage.h"
#include "platform/env.h"
#include "platform/memory.h"
#include "runtime/objtypes.h"

void UnionRect(int32_t *x, int32_t *y, int32_t *w, int32_t *h, int32_t ox, int32_t oy, int32_t ow, int32_t oh) {
  const int64_t x0 = std::min(*x, ox), y0 = std::min(*y, oy);
  const int64_t x1 = std::max(int64_t(*x) + *w, int64_t(ox) + ow), y1 = std::max(int64_t(*y) + *h, int64_t(oy) + oh);
  *x = int32_t(x0), *y = int32_t(y0);
  *w = int32_t(std::min<int64_t>(x1 - x0, INT32_MAX)), *h = int32_t(std::min<int64_t>(y1 - y0, INT32_MAX));
}

namespace {

// One layer picture into the destination, cut by the state's clip region: copied through its
// mask or alpha channel, or mixed in at 255 - transparency. A region with a mask takes the mix
// through a copy of the destination, which then goes back through the region.
void BlitLayerImage(qmScene *scene, const qmBitmap *src, int32_t srcX, int32_t srcY, qmBitmap *dst, int32_t dstX,
                    int32_t dstY, int32_t width, int32_t height, int32_t W, int32_t H, const qmMask *mask,
                    const qmAlphaChannel *alpha, int32_t transparency, const qmClipRegion *clip) {
  if (transparency >= 255) return;
  qmSafeBlt b{};
  b.src = src, b.srcX = srcX, b.srcY = srcY;
  b.dst = dst, b.dstX = dstX, b.dstY = dstY;
  b.width = width, b.height = height;
  b.srcWidth = src->width, b.srcHeight = src->height;
  b.dstWidth = W, b.dstHeight = H;
  b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOSPRITES;
  b.clip = clip;
  if (transparency > 0 && clip && clip->mask) {
    if (qmBitmap *tmp = AllocBitmap(width, height)) {
      BltBitmap(dst, dstX, dstY, tmp, 0, 0, width, height);
      // The mix reads the planes over the source, so the copy is mixed at the source's place.
      MixBitmap(tmp, src, mask, srcX, srcY, 0, 0, width, height, 255 - transparency, alpha);
      b.src = tmp, b.srcX = 0, b.srcY = 0, b.srcWidth = width, b.srcHeight = height;
      SafeBlt(scene, &b);
      FreeBitmap(tmp);
      return;
    }
    transparency = 0;  // without the copy: drawn opaque
  }
  if (transparency <= 0) {
    b.mask = mask, b.alpha = alpha;
    SafeBlt(scene, &b);
    return;
  }
  MixBitmap(dst, src, mask, srcX, srcY, dstX, dstY, width, height, 255 - transparency, alpha);
}

qmRect BorderRect(const qmLayerState *s) {
  return {s->x - s->borderOffsetX, s->y - s->borderOffsetY, s->borderWidth, s->borderHeight};
}

// Where the shadow plane lies: the layer (or its border) grown by the radius and displaced by
// the size in the shadow's direction, scaled like the display.
qmRect ShadowRect(const qmDisplay *d, const qmLayer *l, const qmLayerState *s) {
  const qmShadowBlock &sh = l->shadow;
  const qmRect base = l->border.on && s->border.bitmap ? BorderRect(s) : qmRect{s->x, s->y, s->width, s->height};
  const int32_t r = int32_t(std::clamp(sh.radius, 0.0, double(QM_MAX_PICTURE_SIDE)));
  // Kept within what positions can take, whatever size the script gave.
  auto shift = [](double v) { return int64_t(std::clamp(v, -double(kPositionLimit), double(kPositionLimit))); };
  const int64_t dx = shift(sh.size * (d ? d->scaleX : 1.0)), dy = shift(sh.size * (d ? d->scaleY : 1.0));
  // x and y steps of the directions 0 (up) to 7 (up-left), clockwise.
  static constexpr int8_t kStepX[8] = {0, 1, 1, 1, 0, -1, -1, -1}, kStepY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  int64_t x = int64_t(base.x) - r, y = int64_t(base.y) - r;
  if (sh.direction >= 0 && sh.direction < 8) x += kStepX[sh.direction] * dx, y += kStepY[sh.direction] * dy;
  const int64_t w = int64_t(base.w) + 2 * r, h = int64_t(base.h) + 2 * r;
  return {int32_t(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX)), int32_t(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX)),
          int32_t(std::min<int64_t>(w, INT32_MAX)), int32_t(std::min<int64_t>(h, INT32_MAX))};
}

// The state's shadow plane, made from the border image when there is one, else from the
// layer's picture. Null when it cannot be made.
const qmAlphaChannel *EnsureShadowAlpha(qmScene *scene, qmLayer *l, qmLayerState *s) {
  if (s->shadowAlpha) return s->shadowAlpha;
  const qmShadowBlock &sh = l->shadow;
  int32_t v = 255 - int32_t(sh.color >> 24);
  if (l->shadowFade) v = int32_t(v * (l->shadowFade - 1) / 255.0);
  if (s->border.bitmap) {
    s->shadowAlpha = CreateShadowAlpha(s->border.alpha, s->border.mask, 0, 0, s->borderWidth, s->borderHeight,
                                       sh.radius, sh.sigma, v, 0, 0);
  } else {
    qmLayerImage img{};
    if (GetLayerImage(scene, l, s, 1, 1, -1, &img) || !img.bitmap) return nullptr;
    s->shadowAlpha = CreateShadowAlpha(img.alpha, img.mask, img.originX, img.originY, s->width, s->height, sh.radius,
                                       sh.sigma, v, 0, 0);
  }
  return s->shadowAlpha;
}

// The shadow colour through the shadow plane, cut to the clip rectangle and region.
void DrawShadow(qmScene *scene, const qmDisplay *display, qmLayer *l, qmLayerState *s, const qmRect &clipRect,
                qmBitmap *dst, int32_t W, int32_t H) {
  // Without its border image the shadow falls from the layer's own rectangle.
  if (l->border.on) EnsureBorderImage(display, l, s);
  const qmAlphaChannel *alpha = EnsureShadowAlpha(scene, l, s);
  if (!alpha) return;
  const qmRect r = ShadowRect(display, l, s);
  qmRect part;
  if (!IntersectRects(r, clipRect, &part)) return;
  // The part in the shadow's colour, drawn through the part of the plane that lies over it.
  const int32_t px = part.x - r.x, py = part.y - r.y;
  if (px + part.w > alpha->width || py + part.h > alpha->height) return;  // a plane of another size
  qmAlphaChannel view{alpha->memory + int64_t(py) * alpha->bytesPerRow + px, part.w, part.h, alpha->bytesPerRow, 1};
  qmBitmap *tmp = AllocBitmap(part.w, part.h);
  if (!tmp) return;
  FillBitmapRect(tmp, 0, 0, part.w, part.h, l->shadow.color & 0xFFFFFF);
  if (s->clip && s->clip->mask)
    BlitLayerImage(scene, tmp, 0, 0, dst, part.x, part.y, part.w, part.h, W, H, nullptr, &view, 0, s->clip);
  else
    BltAlphaBitmap(tmp, 0, 0, dst, part.x, part.y, part.w, part.h, &view);
  FreeBitmap(tmp);
}

void DrawBorder(qmScene *scene, const qmDisplay *display, const qmLayer *l, qmLayerState *s, const qmRect &clipRect,
                qmBitmap *dst, int32_t W, int32_t H) {
  if (!EnsureBorderImage(display, l, s)) return;
  const qmRect r = BorderRect(s);
  qmRect part;
  if (!IntersectRects(r, clipRect, &part)) return;
  int32_t o = 255 - l->transparency;
  if (l->borderFade) o = (l->borderFade - 1) * o / 255;
  BlitLayerImage(scene, s->border.bitmap, part.x - r.x, part.y - r.y, dst, part.x, part.y, part.w, part.h, W, H,
                 s->border.mask, s->border.alpha, 255 - o, s->clip);
}

// An unfilled outline drawn in the border's colour: its border stands for it.
bool BorderReplacesImage(const qmLayer *l) {
  if (!l->border.on || !(IsShapeType(l->type) || l->type == QMTYPE_VECTORPATH)) return false;
  const qmLayerState *base = l->base;
  return base->shapeData && base->fillStyle == DRAWFILL_NONE && base->shapeColor == l->border.color;
}

}  // namespace

const qmBitmap *RedrawBackground(const qmDisplay *display, const qmBGPic *pic, uint32_t flags) {
  if (flags & REDRAW_UNSCALED) return pic->unscaled.bitmap;
  if (flags & REDRAW_FROMSHOWN) return pic->shown.bitmap;
  if ((flags & REDRAW_FROMCOPY) || (display && pic == display->bgpic && display->backgroundCopy))
    return display && display->backgroundCopy ? display->backgroundCopy : pic->shown.bitmap;
  return pic->shown.bitmap;
}

void GetDecoratedLayerBounds(const qmDisplay *display, const qmLayer *layer, const qmLayerState *state, int32_t *x,
                             int32_t *y, int32_t *width, int32_t *height) {
  // The border image is a cache of the state, built here when the layer has none yet.
  auto *s = const_cast<qmLayerState *>(state);
  qmRect r{s->x, s->y, s->width, s->height};
  auto unite = [&r](const qmRect &o) { UnionRect(&r.x, &r.y, &r.w, &r.h, o.x, o.y, o.w, o.h); };
  if (layer->border.on && EnsureBorderImage(display, layer, s)) unite(BorderRect(s));
  if (layer->shadow.on) unite(ShadowRect(display, layer, s));
  *x = r.x, *y = r.y, *width = r.w, *height = r.h;
}

namespace {

// Redraw's argument checks and the cut of the rectangle to the picture and the destination:
// false when nothing is to be composed. W x H is the size that can be drawn to.
bool PrepareRedraw(const qmBGPic *pic, const qmBitmap *dst, uint32_t flags, int32_t *x, int32_t *y, int32_t *width,
                   int32_t *height, int32_t *W, int32_t *H) {
  if (*width < 1 || *height < 1) {
    DebugPrintf("ERROR! REDRAW CALLED WITH WIDTH/HEIGHT <= 0\n");
    return false;
  }
  if (*x < 0 || *y < 0) {
    DebugPrintf("ERROR! REDRAW CALLED WITH NEGATIVE X/Y COORDINATES\n");
    return false;
  }
  if (!dst) {
    DebugPrintf("ERROR! REDRAW CALLED WITHOUT DSTBM\n");
    return false;
  }
  if (!pic) return false;
  const bool unscaled = flags & REDRAW_UNSCALED;
  *W = std::min(unscaled ? pic->unscaledWidth : pic->shownWidth, dst->width);
  *H = std::min(unscaled ? pic->unscaledHeight : pic->shownHeight, dst->height);
  // The clipped rectangle may be empty (x at or past the edge): nothing to compose then.
  if (!ClipRectToPicture(*W, *H, x, y, width, height)) return false;
  return !(flags & REDRAW_SPRITESONLY);  // no sprites are shown while layers are on
}

void DrawBackgroundPart(const qmDisplay *display, const qmBGPic *pic, qmBitmap *dst, const qmRect &area,
                        uint32_t flags) {
  const qmBitmap *background = RedrawBackground(display, pic, flags);
  qmRect b;
  if (background && IntersectRects(area, {0, 0, background->width, background->height}, &b))
    BltBitmap(background, b.x, b.y, dst, b.x, b.y, b.w, b.h);
}

qmLayerState *RedrawState(const qmLayer *l, uint32_t flags) {
  if (l->type == QMTYPE_NOOBJECT) return nullptr;
  return flags & REDRAW_UNSCALED ? l->unscaled : l->current;
}

// What one layer draws into the area: shadow, border and picture, each cut by its clip region.
void DrawLayerPart(qmScene *scene, const qmDisplay *display, qmLayer *l, qmLayerState *s, const qmRect &area,
                   qmBitmap *dst, int32_t W, int32_t H) {
  // A clip region cuts everything the layer draws: shadow, border and picture.
  qmRect clipRect = area;
  if (s->clip && !IntersectRects(area, {s->clip->x, s->clip->y, s->clip->width, s->clip->height}, &clipRect)) return;
  if (l->hidden || l->deferred) return;
  if (l->shadow.on) DrawShadow(scene, display, l, s, clipRect, dst, W, H);
  if (l->border.on) DrawBorder(scene, display, l, s, clipRect, dst, W, H);
  if (BorderReplacesImage(l)) return;
  qmRect part;
  if (!IntersectRects(clipRect, {s->x, s->y, s->width, s->height}, &part)) return;
  qmLayerImage img{};
  if (GetLayerImage(scene, l, s, 1, 1, -1, &img) || !img.bitmap) return;
  BlitLayerImage(scene, img.bitmap, img.originX + part.x - s->x, img.originY + part.y - s->y, dst, part.x, part.y,
                 part.w, part.h, W, H, img.mask, img.alpha, l->transparency, s->clip);
}

// The area a layer can draw into, as DrawLayerPart would reach it: its picture, border and
// shadow, cut by its clip region. False when it draws nothing anywhere. A border image that
// cannot be made now might be made later: such a layer reaches everywhere.
bool LayerReach(const qmDisplay *display, const qmLayer *l, qmLayerState *s, qmRect *reach) {
  if (l->hidden || l->deferred) return false;
  if (l->border.on && !EnsureBorderImage(display, l, s)) {
    *reach = {INT32_MIN / 2, INT32_MIN / 2, INT32_MAX, INT32_MAX};
  } else {
    GetLayerBounds(display, l, s, &reach->x, &reach->y, &reach->w, &reach->h);
  }
  if (s->clip && !IntersectRects(*reach, {s->clip->x, s->clip->y, s->clip->width, s->clip->height}, reach)) return false;
  return reach->w > 0 && reach->h > 0;
}

// The grid's cell range a rectangle covers (inclusive), false when it lies off the grid.
bool CellRange(const qmLayerGrid &g, const qmRect &r, int32_t *c0, int32_t *r0, int32_t *c1, int32_t *r1) {
  const int64_t x0 = std::max<int64_t>(r.x, 0), y0 = std::max<int64_t>(r.y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t(r.x) + r.w, g.width);
  const int64_t y1 = std::min<int64_t>(int64_t(r.y) + r.h, g.height);
  if (x0 >= x1 || y0 >= y1) return false;
  *c0 = int32_t(x0 / kLayerGridCell), *r0 = int32_t(y0 / kLayerGridCell);
  *c1 = int32_t((x1 - 1) / kLayerGridCell), *r1 = int32_t((y1 - 1) / kLayerGridCell);
  return true;
}

}  // namespace

void Redraw(qmScene *scene, qmDisplay *display, qmBGPic *pic, qmBitmap *dst, int32_t x, int32_t y, int32_t width,
            int32_t height, uint32_t flags) {
  int32_t W, H;
  if (!PrepareRedraw(pic, dst, flags, &x, &y, &width, &height, &W, &H)) return;
  const qmRect area{x, y, width, height};
  DrawBackgroundPart(display, pic, dst, area, flags);
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l))
    if (qmLayerState *s = RedrawState(l, flags)) DrawLayerPart(scene, display, l, s, area, dst, W, H);
}

void BuildLayerGrid(const qmDisplay *display, qmBGPic *pic, uint32_t flags, qmLayerGrid *g) {
  *g = {};
  g->pic = pic, g->flags = flags;
  if (!pic) return;
  const bool unscaled = flags & REDRAW_UNSCALED;
  g->width = std::max(unscaled ? pic->unscaledWidth : pic->shownWidth, 0);
  g->height = std::max(unscaled ? pic->unscaledHeight : pic->shownHeight, 0);
  g->columns = (g->width + kLayerGridCell - 1) / kLayerGridCell;
  g->rows = (g->height + kLayerGridCell - 1) / kLayerGridCell;
  std::vector<int32_t> cells;  // per layer taken: its cell range, four numbers
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l)) {
    qmLayerState *s = RedrawState(l, flags);
    qmRect reach;
    int32_t c0, r0, c1, r1;
    if (!s || !LayerReach(display, l, s, &reach) || !CellRange(*g, reach, &c0, &r0, &c1, &r1)) continue;
    g->layers.push_back({l, s, reach.x, reach.y, reach.w, reach.h});
    cells.insert(cells.end(), {c0, r0, c1, r1});
  }
  // Counted first, then filled: each cell's layers lie together, bottom first.
  g->cellStart.assign(size_t(g->columns) * g->rows + 1, 0);
  for (size_t i = 0; i < g->layers.size(); i++)
    for (int32_t r = cells[4 * i + 1]; r <= cells[4 * i + 3]; r++)
      for (int32_t c = cells[4 * i]; c <= cells[4 * i + 2]; c++) g->cellStart[size_t(r) * g->columns + c + 1]++;
  for (size_t k = 1; k < g->cellStart.size(); k++) g->cellStart[k] += g->cellStart[k - 1];
  g->cellLayers.resize(size_t(g->cellStart.back()));
  std::vector<int32_t> fill(g->cellStart.begin(), g->cellStart.end() - 1);
  for (size_t i = 0; i < g->layers.size(); i++)
    for (int32_t r = cells[4 * i + 1]; r <= cells[4 * i + 3]; r++)
      for (int32_t c = cells[4 * i]; c <= cells[4 * i + 2]; c++)
        g->cellLayers[size_t(fill[size_t(r) * g->columns + c]++)] = int32_t(i);
}

namespace {

// Calls f with the index of each grid layer that may reach the area, once each, bottom first.
template <typename F>
void ForGridLayers(const qmLayerGrid &g, const qmRect &area, F f) {
  int32_t c0, r0, c1, r1;
  if (!CellRange(g, area, &c0, &r0, &c1, &r1)) return;
  if (c0 == c1 && r0 == r1) {
    const size_t cell = size_t(r0) * g.columns + c0;
    for (int32_t k = g.cellStart[cell]; k < g.cellStart[cell + 1]; k++) f(g.cellLayers[size_t(k)]);
    return;
  }
  if (int64_t(c1 - c0 + 1) * (r1 - r0 + 1) > kLayerGridGather) {
    for (int32_t i = 0; i < int32_t(g.layers.size()); i++) f(i);
    return;
  }
  // The layers of the few cells together, once each and in z order.
  std::vector<int32_t> found;
  for (int32_t r = r0; r <= r1; r++)
    for (int32_t c = c0; c <= c1; c++) {
      const size_t cell = size_t(r) * g.columns + c;
      const auto first = g.cellLayers.begin();
      found.insert(found.end(), first + g.cellStart[cell], first + g.cellStart[cell + 1]);
    }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  for (int32_t i : found) f(i);
}

// What composing the area costs, in pixels of a layer mixed in: each background pixel copied an
// eighth of one, and each layer reaching into it the pixels it covers there plus the work of
// drawing one part (finding its picture, cutting and setting up the copy), as measured on crowded
// pictures of 64 x 64 alpha layers.
inline constexpr int64_t kLayerPartCost = 512;

int64_t ComposeCost(const qmLayerGrid &g, const qmRect &area) {
  int64_t cost = int64_t(area.w) * area.h / 8;
  ForGridLayers(g, area, [&](int32_t i) {
    const qmLayerGrid::Entry &e = g.layers[size_t(i)];
    qmRect part;
    if (IntersectRects(area, {e.x, e.y, e.width, e.height}, &part)) cost += int64_t(part.w) * part.h + kLayerPartCost;
  });
  return cost;
}

qmRect AreaOf(const qmDirtyRect &r) {
  auto side = [](int32_t a, int32_t b) { return int32_t(std::clamp<int64_t>(int64_t(b) - a + 1, 0, INT32_MAX)); };
  return {r.x1, r.y1, side(r.x1, r.x2), side(r.y1, r.y2)};
}

qmDirtyRect BoxOf(const std::vector<qmDirtyRect> &plan) {
  qmDirtyRect box = plan[0];
  for (const qmDirtyRect &r : plan)
    box = {std::min(box.x1, r.x1), std::min(box.y1, r.y1), std::max(box.x2, r.x2), std::max(box.y2, r.y2)};
  return box;
}

}  // namespace

void RedrawFromGrid(qmScene *scene, qmDisplay *display, const qmLayerGrid *g, qmBitmap *dst, int32_t x, int32_t y,
                    int32_t width, int32_t height) {
  int32_t W, H;
  if (!PrepareRedraw(g->pic, dst, g->flags, &x, &y, &width, &height, &W, &H)) return;
  const qmRect area{x, y, width, height};
  DrawBackgroundPart(display, g->pic, dst, area, g->flags);
  ForGridLayers(*g, area, [&](int32_t i) {
    const qmLayerGrid::Entry &e = g->layers[size_t(i)];
    qmRect part;
    if (IntersectRects(area, {e.x, e.y, e.width, e.height}, &part))
      DrawLayerPart(scene, display, e.layer, e.state, area, dst, W, H);
  });
}

bool PlanCostsMoreThanBox(const qmLayerGrid *g, const std::vector<qmDirtyRect> &plan) {
  if (plan.size() < 2) return false;
  // In pieces the same pixels cost about half as much again as in one box (rows cut short, far
  // apart), as measured.
  const int64_t boxCost = 2 * ComposeCost(*g, AreaOf(BoxOf(plan)));
  int64_t cost = 0;
  for (const qmDirtyRect &r : plan)
    if ((cost += 3 * ComposeCost(*g, AreaOf(r))) > boxCost) return true;
  return false;
}

void RedrawRect(qmScene *scene, int32_t x, int32_t y, int32_t width, int32_t height) {
  qmDisplay *d = scene->current;
  qmBGPic *pic = scene->picture;
  if (!d || !pic || !d->layerBuffer) return;
  if (!ClipRectToPicture(pic->shownWidth, pic->shownHeight, &x, &y, &width, &height)) return;
  Redraw(scene, d, pic, d->layerBuffer, x, y, width, height, 0);
  BltToDisplay(d->layerBuffer, x, y, d, x, y, width, height, 1);
}

void RefreshRect(qmScene *scene, int32_t x, int32_t y, int32_t width, int32_t height) {
  qmDisplay *d = scene->current;
  if (!d) return;
  if (d->outputType == DISPOUT_DISPLAY) {
    RedrawRect(scene, x, y, width, height);
  } else if (d->outputType == DISPOUT_BGPIC) {
    qmDirtyRectList list{d->dirtyRects, d->dirtyCount, d->dirtyCapacity};
    AppendRect(&list, x, y, width, height);
    d->dirtyRects = list.entries, d->dirtyCount = list.count, d->dirtyCapacity = list.capacity;
  }
}

void RefreshLayer(qmScene *scene, const qmLayer *layer) {
  int32_t x, y, w, h;
  GetLayerBounds(scene->current, layer, layer->current, &x, &y, &w, &h);
  RefreshRect(scene, x, y, w, h);
}

void RedrawPlan(qmScene *scene, qmDisplay *display, qmBGPic *pic, qmBitmap *dst, const std::vector<qmDirtyRect> &plan,
                uint32_t flags) {
  // One rectangle (often the box of a crowded batch) gains nothing from sorting the layers first.
  if (plan.size() == 1) {
    const qmDirtyRect &r = plan[0];
    Redraw(scene, display, pic, dst, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1, flags);
    return;
  }
  if (plan.empty()) return;
  qmLayerGrid grid;
  BuildLayerGrid(display, pic, flags, &grid);
  // Rectangles cut their layers into more parts, and where they overlap they are composed twice:
  // their box composed once when that costs less, from the grid already made.
  if (PlanCostsMoreThanBox(&grid, plan)) {
    const qmDirtyRect box = BoxOf(plan);
    RedrawFromGrid(scene, display, &grid, dst, box.x1, box.y1, box.x2 - box.x1 + 1, box.y2 - box.y1 + 1);
    return;
  }
  for (const qmDirtyRect &r : plan) RedrawFromGrid(scene, display, &grid, dst, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1);
}

void RefreshRectList(qmScene *scene, const qmDirtyRect *entries, int32_t count) {
  qmDisplay *d = scene->current;
  qmBGPic *pic = scene->picture;
  if (!d || !pic || !d->layerBuffer || count < 1) return;
  const std::vector<qmDirtyRect> plan = PlanRefresh(entries, count, pic->shownWidth, pic->shownHeight);
  RedrawPlan(scene, d, pic, d->layerBuffer, plan, 0);
  for (const qmDirtyRect &r : plan) BltToDisplay(d->layerBuffer, r.x1, r.y1, d, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1, 1);
}

bool LayersCoverRect(const qmDisplay *display, const qmBGPic *pic, int32_t x, int32_t y, int32_t width,
                     int32_t height) {
  if (!pic) return false;
  const qmRect area{x, y, width, height};
  qmRect part;
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l)) {
    if (l->type == QMTYPE_NOOBJECT || l->hidden || l->deferred || !l->current) continue;
    qmRect r;
    GetLayerBounds(display, l, l->current, &r.x, &r.y, &r.w, &r.h);
    if (IntersectRects(area, r, &part)) return true;
  }
  return false;
}
