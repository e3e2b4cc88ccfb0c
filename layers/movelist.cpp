#include "layers/movelist.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "display/display.h"
#include "display/scene.h"
#include "display/displayops.h"
#include "display/imagecore.h"
#include "display/position.h"
#include "layers/animlayer.h"
#include "layers/layer.h"
#include "layers/layerops.h"
#include "media/animcore/anim.h"
#include "media/animcore/animplay.h"
#include "layers/redraw.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"

qmMoveList *FindMoveList(const qmScene *scene, const qmObjectId *id) {
  return reinterpret_cast<qmMoveList *>(FindObject(scene->objects, QMTYPE_MOVELIST, id));
}

uint32_t AddMoveEntry(qmScene *scene, qmObjectId *id, const qmMoveEntry &entry, qmMoveList **out) {
  qmMoveList *list = FindMoveList(scene, id);
  if (list && list->count >= kMoveListSize) return ERR_INTERNAL;
  if (!list) {
    list = static_cast<qmMoveList *>(MemAlloc(sizeof(qmMoveList), 1));
    if (!list) return ERR_MEM;
    SetObjectHeader(&list->header, QMTYPE_MOVELIST, id);
    if (uint32_t code = ListNewObject(scene->objects, &list->header, list, id)) return code;
  }
  qmMoveEntry &e = list->entries[list->count++];
  e = entry;
  e.done = 0;
  e.hasRect = 0;
  if (out) *out = list;
  return 0;
}

uint32_t ClearMoveList(qmScene *scene, const qmObjectId *id) {
  qmMoveList *list = FindMoveList(scene, id);
  if (!list) return MissingObjectError(id, ERR_FINDMOVE);
  RemoveObject(scene->objects, &list->header);
  MemFree(list);
  return 0;
}

void FreeAllMoveLists(qmScene *scene) {
  while (qmObjectHeader *h = FirstObject(scene->objects, QMTYPE_MOVELIST)) {
    RemoveObject(scene->objects, h);
    MemFree(h);
  }
  MemFree(scene->foundLayers);
  scene->foundLayers = nullptr;
  scene->foundCount = scene->foundCapacity = 0;
}

namespace {

struct qmBox {
  int32_t x, y, w, h;
};

qmBox Bounds(const qmScene *scene, const qmLayer *layer) {
  qmBox b;
  GetLayerBounds(scene->current, layer, layer->current, &b.x, &b.y, &b.w, &b.h);
  return b;
}

// Whether the box reaches into the current background picture.
inline bool OnPicture(const qmScene *scene, const qmBox &b) {
  const qmBGPic *pic = scene->picture;
  return pic && pic->shownWidth > 0 && pic->shownHeight > 0 && b.w > 0 && b.h > 0 && b.x < pic->shownWidth &&
         b.y < pic->shownHeight && int64_t(b.x) + b.w > 0 && int64_t(b.y) + b.h > 0;
}

inline void SetRect(qmMoveEntry *e, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  auto cut = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  e->rect = {cut(x1), cut(y1), cut(x2), cut(y2)};
  e->hasRect = 1;
}

// The layer's box as the entry's rectangle when it lies on the picture.
void TakeBox(const qmScene *scene, qmMoveEntry *e, const qmBox &b) {
  if (OnPicture(scene, b)) SetRect(e, b.x, b.y, int64_t(b.x) + b.w - 1, int64_t(b.y) + b.h - 1);
  e->done = 1;
}

// Removes the layer; the entry takes the box it covered.
void RemoveAndTakeBox(qmScene *scene, qmLayer *layer, qmMoveEntry *e) {
  const qmBox b = Bounds(scene, layer);
  DestroyLayer(scene, layer, 1, nullptr, nullptr);
  TakeBox(scene, e, b);
}

void RefreshEntries(qmScene *scene, qmMoveList *list) {
  MergeMoveRects(list->entries, list->count);
  const qmDisplay *d = scene->current;
  if (d && d->outputType == DISPOUT_DISPLAY) {
    // Shown at once: composed as one batch, the layers sorted once for all the rectangles.
    std::vector<qmDirtyRect> rects;
    for (int32_t i = 0; i < list->count; i++)
      if (list->entries[i].hasRect) rects.push_back(list->entries[i].rect);
    RefreshRectList(scene, rects.data(), int32_t(rects.size()));
    return;
  }
  for (int32_t i = 0; i < list->count; i++) {
    const qmMoveEntry &e = list->entries[i];
    if (!e.hasRect) continue;
    RefreshRect(scene, e.rect.x1, e.rect.y1, int32_t(int64_t(e.rect.x2) - e.rect.x1 + 1),
                int32_t(int64_t(e.rect.y2) - e.rect.y1 + 1));
  }
}

// Draws the entry's brush as a new top layer and takes its box.
uint32_t DrawBrushOnTop(qmScene *scene, qmMoveEntry *e) {
  qmImageRequest req{};
  req.kind = QMTYPE_BRUSH;
  req.id = e->object;
  req.x = e->x, req.y = e->y;
  req.layerPosition = -1;
  req.flags = IMGCORE_INSERT | IMGCORE_RENDERSCALED;
  if (uint32_t code = DisplayImageCore(scene, &req)) return code;
  qmLayer *top = LastLayer(scene->picture);
  if (!top) return ERR_LAYERRANGE;
  TakeBox(scene, e, Bounds(scene, top));
  return 0;
}

bool Matches(const qmLayer *l, int32_t type, const qmObjectId &id) {
  return l->type == type && l->origin.id == id.id && l->origin.handle == id.handle;
}

// The layers by position, found by walking up the layer list only as far as an entry asks and
// walked again only after an entry changed the list: a list of many LAYER entries then costs at
// most one walk of the layer list, not one per entry.
struct qmLayerIndex {
  const qmBGPic *pic;
  std::vector<qmLayer *> layers;  // positions 1..size(), as the list stands
  bool stale = false;
  qmLayer *At(int32_t position) {
    if (stale) {
      layers.clear();
      stale = false;
    }
    if (position < 1) return nullptr;
    while (layers.size() < size_t(position)) {
      qmLayer *next = layers.empty() ? FirstLayer(pic) : LayerAbove(layers.back());
      if (!next) return nullptr;
      layers.push_back(next);
    }
    return layers[size_t(position) - 1];
  }
};

// Entries that add or take out layers shift the positions after them.
bool ShiftsPositions(int32_t kind) {
  return kind == QMTYPE_UNDO || kind == QMTYPE_REMOVELAYER || kind == QMTYPE_INSERTBRUSH;
}

bool AddressesPosition(int32_t kind) {
  return kind == QMTYPE_REMOVELAYER || kind == QMTYPE_LAYER || kind == QMTYPE_HIDELAYER || kind == QMTYPE_NEXTFRAME2;
}

inline constexpr int32_t kCheckAhead = 16;

// How many of the layers a move list found last time (lists made anew each frame included) still
// stand at their positions, up to the highest position this list's entries address. Each link
// is checked from the bottom up, a layer read only once it is known to be linked; the reads do
// not wait on each other as a walk's do.
int32_t StillLinked(const qmScene *scene, const qmMoveList *list) {
  int32_t highest = 0;
  for (int32_t i = 0; i < list->count; i++)
    if (AddressesPosition(list->entries[i].kind) && list->entries[i].object.id <= uint32_t(INT32_MAX))
      highest = std::max(highest, int32_t(list->entries[i].object.id));
  const int32_t n = std::min(highest, scene->foundCount);
  const qmBGPic *pic = scene->picture;
  qmLayer *const *found = scene->foundLayers;
  if (n < 1 || FirstLayer(pic) != found[0]) return 0;
  int32_t k = 1;
  for (; k < n && LayerAbove(found[k - 1]) == found[k]; k++)
    if (k + kCheckAhead < n) __builtin_prefetch(found[k + kCheckAhead]);  // never faults, even if freed
  return k;
}

// Entries this far ahead have their records asked for while the current one is carried out: a
// crowded list's layers and states lie far apart and out of the cache after a composition.
inline constexpr int32_t kPrefetchAhead = 8;

// The layer an entry addresses by position, when the index already holds it.
const qmLayer *KnownLayer(const qmMoveList *list, int32_t i, const qmLayerIndex &index) {
  if (i < 0 || i >= list->count) return nullptr;
  const qmMoveEntry &e = list->entries[i];
  if (!AddressesPosition(e.kind) || e.object.id - 1u >= index.layers.size()) return nullptr;
  return index.layers[e.object.id - 1u];
}

// Asks for what placing entry i's layer reads (its list word and flags, anchor, shadow and border,
// state pointers), and for the position words of entry i - kPrefetchAhead's states, whose layer
// was asked for one distance earlier. Only for lists that neither add nor take out layers, so
// every layer read here outlives the pass. Inlined: GCC takes a call of a function that only
// prefetches for one without effect and drops it.
[[gnu::always_inline]] inline void PrefetchAhead(const qmMoveList *list, int32_t i, const qmLayerIndex &index) {
  // A field each, as the records need not start on a cache line: two may share one or not.
  if (const qmLayer *l = KnownLayer(list, i, index)) {
    for (const void *field : {static_cast<const void *>(&l->type), static_cast<const void *>(&l->hidden),
                              static_cast<const void *>(&l->anchorY), static_cast<const void *>(&l->border),
                              static_cast<const void *>(&l->base), static_cast<const void *>(&l->current)})
      __builtin_prefetch(field);
  }
  if (const qmLayer *l = KnownLayer(list, i - kPrefetchAhead, index)) {
    for (const qmLayerState *s : {l->base, l->current}) {
      __builtin_prefetch(&s->requestedX);
      __builtin_prefetch(&s->width);
    }
  }
}

// Keeps what the index found for the next list; without memory the next list walks. Found
// layers past the index stay: the next list checks them link by link like the others.
void KeepFound(qmScene *scene, const qmLayerIndex &index) {
  const size_t n = index.stale ? 0 : index.layers.size();
  if (n > size_t(scene->foundCapacity)) {
    MemFree(scene->foundLayers);
    scene->foundCount = scene->foundCapacity = 0;
    scene->foundLayers = n * sizeof(qmLayer *) <= INT32_MAX
                             ? static_cast<qmLayer **>(MemAlloc(uint32_t(n * sizeof(qmLayer *)), 0))
                             : nullptr;
    if (!scene->foundLayers) return;
    scene->foundCapacity = int32_t(n);
  }
  if (n) std::memcpy(scene->foundLayers, index.layers.data(), n * sizeof(qmLayer *));
  scene->foundCount = std::max(scene->foundCount, int32_t(n));
}

// An anim layer shows frame extra (0 the next) and moves as the entry says.
uint32_t StepAnimLayer(qmScene *scene, qmLayer *l, qmMoveEntry *e) {
  if (uint32_t code = SetAnimLayerFrame(scene, l, e->extra, 1)) return code;
  MoveLayerStep(scene, l, e, 0);
  return 0;
}

uint32_t FirstPassStep(qmScene *scene, qmMoveEntry *e, qmLayerIndex *index) {
  qmBGPic *pic = scene->picture;
  switch (e->kind) {
  case QMTYPE_UNDO: {
    qmLayer *l = FindObjectLayer(pic, e->x, &e->object, e->y < 1 ? 1 : e->y);
    e->done = 1;  // nothing to take back is no error, as with Undo
    if (l) RemoveAndTakeBox(scene, l, e);
    return 0;
  }
  case QMTYPE_REMOVELAYER: {
    qmLayer *l = index->At(int32_t(e->object.id));
    if (!l) return ERR_LAYERRANGE;
    RemoveAndTakeBox(scene, l, e);
    return 0;
  }
  case QMTYPE_LAYER: {
    qmLayer *l = index->At(int32_t(e->object.id));
    if (!l) return ERR_LAYERRANGE;
    MoveLayerStep(scene, l, e, 1);
    return 0;
  }
  case QMTYPE_INSERTBRUSH: {
    qmLayer *l = nullptr;
    if (uint32_t code = InsertObjectLayer(scene, e->extra, QMTYPE_BRUSH, &e->object, e->x, e->y, 1, 0, &l)) return code;
    TakeBox(scene, e, Bounds(scene, l));
    return 0;
  }
  case QMTYPE_HIDELAYER: {
    qmLayer *l = index->At(int32_t(e->object.id));
    if (!l) return ERR_LAYERRANGE;
    l->hidden = 1;
    TakeBox(scene, e, Bounds(scene, l));
    return 0;
  }
  case QMTYPE_NEXTFRAME2: {
    qmLayer *l = index->At(int32_t(e->object.id));
    if (!l) return ERR_LAYERRANGE;
    if (l->type != QMTYPE_ANIM) return ERR_WRONGUSAGE;
    return StepAnimLayer(scene, l, e);
  }
  default: return 0;
  }
}

uint32_t FirstPass(qmScene *scene, qmMoveEntry *e, qmLayerIndex *index) {
  const uint32_t code = FirstPassStep(scene, e, index);
  if (ShiftsPositions(e->kind)) index->stale = true;
  return code;
}

// Each entry not done yet acts on the bottom-most layer made for its object; 0 or the first
// frame change's error.
uint32_t SecondPass(qmScene *scene, qmMoveList *list) {
  // Entries done in the first pass stay done: only the others are looked at for each layer.
  std::vector<int32_t> waiting;
  for (int32_t i = 0; i < list->count; i++)
    if (!list->entries[i].done) waiting.push_back(i);
  if (waiting.empty()) return 0;
  for (qmLayer *l = FirstLayer(scene->picture); l; l = LayerAbove(l)) {
    for (int32_t i : waiting) {
      qmMoveEntry *e = &list->entries[i];
      if (e->done) continue;
      if ((e->kind == QMTYPE_BRUSH || e->kind == QMTYPE_TEXTOBJECT) && Matches(l, e->kind, e->object)) {
        MoveLayerStep(scene, l, e, 0);
      } else if (e->kind == QMTYPE_HIDEBRUSH && Matches(l, QMTYPE_BRUSH, e->object)) {
        l->hidden = 1;
        TakeBox(scene, e, Bounds(scene, l));
      } else if (e->kind == QMTYPE_NEXTFRAME && Matches(l, QMTYPE_ANIM, e->object)) {
        if (uint32_t code = StepAnimLayer(scene, l, e)) return code;
      }
    }
  }
  return 0;
}

// Draws the entry's anim as a new top layer (frame extra; 0 the second when there is one, -1
// the last) and takes its box.
uint32_t DrawAnimOnTop(qmScene *scene, qmMoveEntry *e) {
  qmAnim *a = nullptr;
  if (uint32_t code = FindAnim(scene, &e->object, &a, 0)) return code;
  int32_t frame = e->extra;
  if (frame == 0) frame = a->frameCount > 1 ? 2 : 1;
  else if (frame == -1) frame = a->frameCount;
  qmImageRequest req{};
  req.id = e->object;
  req.x = e->x, req.y = e->y;
  req.layerPosition = -1;
  req.flags = IMGCORE_INSERT | IMGCORE_RENDERSCALED;
  if (uint32_t code = DrawAnimFrame(scene, a, frame, &req)) return code;
  qmLayer *top = LastLayer(scene->picture);
  if (!top) return ERR_LAYERRANGE;
  TakeBox(scene, e, Bounds(scene, top));
  return 0;
}

// Draws the entry's text object as a new top layer, placed as DisplayTextObject places it, and
// takes its box.
uint32_t DrawTextObjectOnTop(qmScene *scene, qmMoveEntry *e) {
  const qmPlayerContext *ctx = scene->context;
  if (!ctx || !ctx->insertTextObjectLayer) return MissingObjectError(&e->object, ERR_FINDTEXTOBJECT);
  if (uint32_t code = ctx->insertTextObjectLayer(scene, &e->object, e->x, e->y, CountLayers(scene->picture) + 1, 0))
    return code;
  qmLayer *top = LastLayer(scene->picture);
  if (!top) return ERR_LAYERRANGE;
  TakeBox(scene, e, Bounds(scene, top));
  return 0;
}

uint32_t ThirdPass(qmScene *scene, qmMoveEntry *e) {
  switch (e->kind) {
  case QMTYPE_BRUSH: return DrawBrushOnTop(scene, e);
  case QMTYPE_NEXTFRAME: return DrawAnimOnTop(scene, e);
  case QMTYPE_TEXTOBJECT: return DrawTextObjectOnTop(scene, e);
  default: return ERR_WRONGUSAGE;
  }
}

}  // namespace

void MoveLayerStep(qmScene *scene, qmLayer *layer, qmMoveEntry *e, int32_t layerKind) {
  const qmBox old = Bounds(scene, layer);
  const qmLayerState *base = layer->base;
  int32_t x = e->x, y = e->y;
  if (x != kKeepPosition) x = ResolvePositionX(scene, x, base->objectWidth, 0, layer->anchorX);
  if (y != kKeepPosition) y = ResolvePositionY(scene, y, base->objectHeight, 0, layer->anchorY);
  // A text object's layer stands where its picture does, off the object's own position as
  // DisplayTextObject places it: the entry names the object's position.
  const qmPlayerContext *ctx = scene->context;
  int32_t ox = 0, oy = 0;
  if (e->kind == QMTYPE_TEXTOBJECT && ctx && ctx->textObjectOffset &&
      ctx->textObjectOffset(scene, &e->object, &ox, &oy) == 0) {
    if (x != kKeepPosition) x += ox;
    if (y != kKeepPosition) y += oy;
  }
  // Placed without a refresh: the entry's rectangle stands for both places.
  PlaceLayer(scene, layer, nullptr, x, y, 1, 0, nullptr);
  if (layerKind) {
    if (e->extra == 0) layer->hidden = 0;
    else if (e->extra == 1) layer->hidden = 1;
  } else {
    layer->hidden = 0;
  }
  const qmBox now = Bounds(scene, layer);
  if (OnPicture(scene, now) && !layer->hidden) {
    SetRect(e, std::min(old.x, now.x), std::min(old.y, now.y), int64_t(std::max(old.x, now.x)) + now.w - 1,
            int64_t(std::max(old.y, now.y)) + now.h - 1);
  } else if (OnPicture(scene, old)) {
    SetRect(e, old.x, old.y, int64_t(old.x) + old.w - 1, int64_t(old.y) + old.h - 1);
  }
  e->done = 1;
}

int32_t MergeMoveRects(qmMoveEntry *entries, int32_t count) {
  if (count < 1) return 0;
  // The rectangles side by side, so that the scan of every pair reads them from a short array;
  // filled before they are read.
  const std::unique_ptr<qmDirtyRect[]> rects(new qmDirtyRect[size_t(count)]);
  const std::unique_ptr<uint8_t[]> has(new uint8_t[size_t(count)]);
  for (int32_t i = 0; i < count; i++) rects[size_t(i)] = entries[i].rect, has[size_t(i)] = entries[i].hasRect != 0;
  const int32_t left = MergeLiveRects(rects.get(), has.get(), count, 0);
  // An entry without a rectangle stays as it was.
  for (int32_t i = 0; i < count; i++)
    if (entries[i].hasRect) entries[i].rect = rects[size_t(i)], entries[i].hasRect = has[size_t(i)];
  return left;
}

uint32_t ExecuteMoveList(qmScene *scene, qmMoveList *list) {
  // A list may be carried out again and again: each run starts from its entries as added.
  for (int32_t i = 0; i < list->count; i++) list->entries[i].done = list->entries[i].hasRect = 0;
  scene->picture->layersChanged = 1;
  uint32_t code = 0;
  qmLayerIndex index{scene->picture, {}, false};
  index.layers.assign(scene->foundLayers, scene->foundLayers + StillLinked(scene, list));
  bool steady = true;
  for (int32_t i = 0; i < list->count; i++) steady = steady && !ShiftsPositions(list->entries[i].kind);
  for (int32_t i = 0; i < list->count && !code; i++) {
    if (steady) PrefetchAhead(list, i + 2 * kPrefetchAhead, index);
    code = FirstPass(scene, &list->entries[i], &index);
  }
  KeepFound(scene, index);
  if (!code) code = SecondPass(scene, list);
  for (int32_t i = 0; i < list->count && !code; i++)
    if (!list->entries[i].done) code = ThirdPass(scene, &list->entries[i]);
  // What was carried out before an error is shown too, so the display matches the layers.
  RefreshEntries(scene, list);
  return code;
}
