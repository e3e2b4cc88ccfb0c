#include "layers/sweep.h"

#include "display/bgpic.h"
#include "display/scene.h"
#include "display/brush.h"
#include "layers/animlayer.h"
#include "media/animcore/anim.h"
#include "platform/memory.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"

namespace {

bool Shows(const qmLayer *l, int32_t type, const qmObjectId *id) {
  const bool kind = l->type == type || (type == QMTYPE_BRUSH && l->type == QMTYPE_BRUSHPART) ||
                    l->type == QMTYPE_NOOBJECT;
  return kind && l->object.id == id->id && l->object.handle == id->handle;
}

template <typename Fn> void ForEachLayer(const qmObjectRegistry *objects, Fn fn) {
  for (qmObjectHeader *h = FirstObject(objects, QMTYPE_BGPIC); h; h = h->next)
    for (qmLayer *l = FirstLayer(reinterpret_cast<qmBGPic *>(h)); l; l = LayerAbove(l))
      if (!fn(l)) return;
}

qmObjectId IdOf(const qmObjectHeader *h) { return {h->id, h->handle}; }

}  // namespace

uint32_t SweepFlagOfLayerType(int32_t type) {
  switch (type) {
  case QMTYPE_BRUSH:
  case QMTYPE_BRUSHPART: return SWEEP_BRUSHES;
  case QMTYPE_ANIM: return SWEEP_ANIMS;
  case QMTYPE_TEXTOBJECT: return SWEEP_TEXTOBJECTS;
  case QMTYPE_BGPICPART: return SWEEP_BGPICS;
  default: return 0;
  }
}

bool IsObjectInAnyLayer(const qmObjectRegistry *objects, int32_t type, const qmObjectId *id, const qmLayer *ignore) {
  bool found = false;
  ForEachLayer(objects, [&](qmLayer *l) {
    found = l != ignore && Shows(l, type, id);
    return !found;
  });
  return found;
}

int32_t RebindLayerObjects(const qmObjectRegistry *objects, int32_t type, const qmObjectId *from,
                           const qmObjectId *to) {
  int32_t n = 0;
  ForEachLayer(objects, [&](qmLayer *l) {
    if (!Shows(l, type, from)) return true;
    l->object = *to, n++;
    // A frame lent by the anim left behind must not outlive it.
    FollowLentFrame(objects, l);
    return true;
  });
  return n;
}

void SweepUnusedObjects(qmScene *scene, uint32_t flags) {
  if (flags & SWEEP_BRUSHES) {
    for (qmObjectHeader *h = FirstObject(scene->objects, QMTYPE_BRUSH); h;) {
      auto *b = reinterpret_cast<qmBrush *>(h);
      h = h->next;
      const qmObjectId id = IdOf(&b->header);
      if (!b->deleted || IsObjectInAnyLayer(scene->objects, QMTYPE_BRUSH, &id, nullptr)) continue;
      RemoveObject(scene->objects, &b->header);
      FreeBrushContents(scene->objects, b);
      MemFree(b);
    }
  }
  if (flags & SWEEP_ANIMS) PurgeFreedAnims(scene);
  if (flags & SWEEP_BGPICS) {
    for (qmObjectHeader *h = FirstObject(scene->objects, QMTYPE_BGPIC); h;) {
      auto *pic = reinterpret_cast<qmBGPic *>(h);
      h = h->next;
      const qmObjectId id = IdOf(&pic->header);
      if (!pic->deleted || DisplayShowingBGPic(scene, pic) ||
          IsObjectInAnyLayer(scene->objects, QMTYPE_BGPICPART, &id, nullptr))
        continue;
      RemoveObject(scene->objects, &pic->header);
      FreeBGPicContents(scene, pic);
      MemFree(pic);
    }
  }
}
