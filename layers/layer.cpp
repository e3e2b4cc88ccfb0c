#include "layers/layer.h"

#include <cstring>

#include "display/asyncdraw.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "graphics/bitmapops.h"
#include "graphics/clipregion.h"
#include "graphics/vectorrender.h"
#include "layers/objectlayers.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "runtime/strutil.h"

namespace {

// The header read as the two sentinel nodes: {first, end word} and {end word, last}.
struct qmNode {
  qmNode *next, *pred;
};

qmNode *HeadNode(qmBGPic *pic) { return reinterpret_cast<qmNode *>(&pic->layers.head); }
qmNode *EndNode(qmBGPic *pic) { return reinterpret_cast<qmNode *>(&pic->layers.tail); }

// A header that was only zeroed becomes a proper empty list.
void Prepare(qmBGPic *pic) {
  if (!pic->layers.head) {
    pic->layers.head = &pic->layers.tail;
    pic->layers.tail = nullptr;
    pic->layers.tailPred = &pic->layers.head;
  }
}

void Insert(qmNode *after, qmNode *node) {
  qmNode *before = after->next;
  node->next = before;
  node->pred = after;
  before->pred = node;
  after->next = node;
}

}  // namespace

bool LayerListEmpty(const qmBGPic *pic) {
  const auto *first = static_cast<const qmNode *>(pic->layers.head);
  return !first || !first->next;
}

qmLayer *FirstLayer(const qmBGPic *pic) {
  return LayerListEmpty(pic) ? nullptr : static_cast<qmLayer *>(pic->layers.head);
}

qmLayer *LastLayer(const qmBGPic *pic) {
  return LayerListEmpty(pic) ? nullptr : static_cast<qmLayer *>(pic->layers.tailPred);
}

void LinkLayerAtHead(qmBGPic *pic, qmLayer *layer) {
  Prepare(pic);
  Insert(HeadNode(pic), reinterpret_cast<qmNode *>(layer));
}

void LinkLayerAtTail(qmBGPic *pic, qmLayer *layer) {
  Prepare(pic);
  Insert(EndNode(pic)->pred, reinterpret_cast<qmNode *>(layer));
}

void LinkLayerAfter(qmLayer *after, qmLayer *layer) {
  Insert(reinterpret_cast<qmNode *>(after), reinterpret_cast<qmNode *>(layer));
}

void UnlinkLayer(qmLayer *layer) {
  auto *n = reinterpret_cast<qmNode *>(layer);
  n->pred->next = n->next;
  n->next->pred = n->pred;
  n->next = n->pred = nullptr;
}

int32_t CountLayers(const qmBGPic *pic) {
  int32_t n = 0;
  if (!pic) return 0;
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l)) n++;
  return n;
}

qmLayer *GetNthLayer(const qmBGPic *pic, int32_t n) {
  if (!pic || n < 1) return nullptr;
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l))
    if (--n == 0) return l;
  return nullptr;
}

int32_t FindLayerIndex(const qmBGPic *pic, const qmLayer *layer) {
  int32_t i = 1;
  if (!pic) return -1;
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l), i++)
    if (l == layer) return i;
  return -1;
}

int32_t FindLayerByName(const qmBGPic *pic, const char *name) {
  int32_t i = 1;
  if (!pic || !name) return 0;
  for (qmLayer *l = FirstLayer(pic); l; l = LayerAbove(l), i++)
    if (l->name && Stricmp(l->name, name) == 0) return i;
  return 0;
}

uint32_t SetLayerNameChecked(const qmBGPic *pic, qmLayer *layer, const char *name) {
  const size_t len = std::strlen(name);
  if (len > size_t(kMaxLayerName)) return ERR_NAMETOOLONG;
  for (qmLayer *l = pic ? FirstLayer(pic) : nullptr; l; l = LayerAbove(l)) {
    if (l == layer) continue;
    if ((l->name && Stricmp(l->name, name) == 0) || Stricmp(l->group, name) == 0) return ERR_NAMEUSED;
  }
  char *copy = static_cast<char *>(MemAlloc(uint32_t(len + 1), 0));
  if (!copy) return ERR_MEM;
  std::memcpy(copy, name, len + 1);
  layer->name = copy;
  return 0;
}

int32_t MoveLayerToPos(qmBGPic *pic, qmLayer *layer, int32_t z) {
  if (z == 1) {
    if (FirstLayer(pic) == layer) return 0;
    UnlinkLayer(layer);
    LinkLayerAtHead(pic, layer);
    return 1;
  }
  if (z == 0) {
    if (LastLayer(pic) == layer) return 0;
    UnlinkLayer(layer);
    LinkLayerAtTail(pic, layer);
    return 1;
  }
  const int32_t p = FindLayerIndex(pic, layer);
  if (p == z) return 0;  // already there: nothing to refresh
  qmLayer *target = GetNthLayer(pic, z);
  if (!target) {
    if (LastLayer(pic) == layer) return 0;
    UnlinkLayer(layer);
    LinkLayerAtTail(pic, layer);
    return 1;
  }
  if (p < z) {
    UnlinkLayer(layer);
    LinkLayerAfter(target, layer);
  } else {
    qmLayer *below = LayerBelow(target);
    UnlinkLayer(layer);
    if (below) LinkLayerAfter(below, layer);
    else LinkLayerAtHead(pic, layer);
  }
  return 1;
}

bool AllocClearedPlanes(int32_t width, int32_t height, bool withMask, bool withAlpha, qmPlaneSet *out) {
  qmPlaneSet p{AllocClearedBitmap(width, height), nullptr, nullptr};
  if (p.bitmap && withMask) p.mask = AllocMask(width, height, 1);
  if (p.bitmap && withAlpha) p.alpha = AllocAlphaChannel(width, height, 1);
  if (!p.bitmap || (withMask && !p.mask) || (withAlpha && !p.alpha)) {
    FreePlaneSet(&p);
    *out = {};
    return false;
  }
  *out = p;
  return true;
}

void DropDerivedImages(qmLayerState *s) {
  FreePlaneSet(&s->filtered);
  FreePlaneSet(&s->border);
  FreeAlphaChannel(s->shadowAlpha);
  s->shadowAlpha = nullptr;
}

void DropOwnPicture(qmLayerState *s) {
  if (s->ownLent) s->own = {};
  else FreePlaneSet(&s->own);
  s->ownLent = 0;
}

uint32_t CopyLentPicture(qmLayerState *s) {
  if (!s->ownLent) return 0;
  const qmPlaneSet &lent = s->own;
  qmPlaneSet copy{};
  if (lent.bitmap) {
    const int32_t w = lent.bitmap->width, h = lent.bitmap->height;
    if (uint32_t code = CopyBitmap(lent.bitmap, lent.mask, lent.alpha, 0, 0, w, h, 0, &copy.bitmap,
                                   lent.mask ? &copy.mask : nullptr, lent.alpha ? &copy.alpha : nullptr))
      return code;
  }
  s->own = copy;
  s->ownLent = 0;
  return 0;
}

void FreeLayerStateImages(qmLayerState *s) {
  DropOwnPicture(s);
  FreePlaneSet(&s->transformed);
  DropDerivedImages(s);
  // A transformed copy belongs to the state; the picture's regions are only referred to.
  if (s->clip && s->clip->transformedCopy) {
    FreeMask(s->clip->mask);
    MemFree(s->clip);
  }
  s->clip = nullptr;
  MemFree(s->shape.vertices);
  s->shape.vertices = nullptr;
  s->shape.vertexCount = 0;
}

uint32_t CopyShapeData(const qmShapeLayerData *from, qmShapeLayerData *to) {
  *to = *from;
  to->vertices = nullptr, to->vertexCount = 0;
  if (!from->vertices || from->vertexCount < 1) return 0;
  const size_t bytes = 2 * sizeof(double) * size_t(from->vertexCount);
  auto *v = static_cast<double *>(MemAlloc(uint32_t(bytes), 0));
  if (!v) return ERR_MEM;
  std::memcpy(v, from->vertices, bytes);
  to->vertices = v, to->vertexCount = from->vertexCount;
  return 0;
}

void ReleaseLayerClip(qmObjectRegistry *objects, qmLayerState *s) {
  qmClipRegion *c = s->clip;
  if (!c || c->transformedCopy) return;  // a private copy goes with the state's images
  if (c->layerUses > 0) c->layerUses--;
  // Freed by the script (or at the end) while layers still used it: the last one frees it.
  if (c->deleted && c->layerUses == 0) DestroyClipRegion(objects, c);
  s->clip = nullptr;
}

void FreeLayerState(qmObjectRegistry *objects, qmLayerState *s) {
  ReleaseLayerClip(objects, s);
  FreeLayerStateImages(s);
  FreeLayerTextRequest(s);
  FreePathLayerData(s->path);
  MemFree(s);
}

void FreeLayerContents(qmObjectRegistry *objects, qmLayer *layer) {
  ForEachLayerState(layer, [objects](qmLayerState *s) { FreeLayerState(objects, s); });
  layer->base = layer->unscaled = layer->current = nullptr;
  MemFree(layer->name);
  layer->name = nullptr;
  FreeObjectDataList(objects, static_cast<qmObjectData *>(layer->userData));
  layer->userData = nullptr;
}

void FreeBGPicLayers(qmScene *scene, qmBGPic *pic) {
  while (qmLayer *l = FirstLayer(pic)) {
    BroadcastAsyncDraws(scene, ADOP_LAYERGONE, reinterpret_cast<intptr_t>(l));
    if (l->type != QMTYPE_NOOBJECT) FreeLayerContents(scene->objects, l);
    RemovePictureLayerButton(scene, pic, l);  // a layer button must not outlive its layer
    UnlinkLayer(l);
    MemFree(l);
  }
}
