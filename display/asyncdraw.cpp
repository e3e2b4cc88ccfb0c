#include "display/asyncdraw.h"

#include <climits>
#include <cmath>

#include "display/bgpic.h"
#include "display/dirtyrects.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"

namespace {

qmAsyncDraw *FirstAsyncDraw(const qmScene *scene) {
  if (!scene || !scene->objects) return nullptr;
  return reinterpret_cast<qmAsyncDraw *>(FirstObject(scene->objects, QMTYPE_ASYNCDRAW));
}

qmAsyncDraw *NextAsyncDraw(const qmAsyncDraw *ad) { return reinterpret_cast<qmAsyncDraw *>(ad->head.next); }

intptr_t Control(qmAsyncDraw *ad, int32_t op, intptr_t arg) {
  return ad->control ? ad->control(op, arg, ad->userData) : 0;
}

// Ends an object: the finish callback (when asked and given), out of the list, the free
// callback, then the record. The list is left before the free callback, and a record whose
// callbacks run is skipped by every other ending, so no callback sees a freed record.
void EndAsyncDraw(qmScene *scene, qmAsyncDraw *ad, int32_t callFinish, int32_t flag) {
  ad->ending = 1;
  if (callFinish && ad->finish) ad->finish(ad->userData, flag);
  RemoveObject(scene->objects, &ad->head);
  if (ad->free) ad->free(ad->userData, flag);
  FreeObjectDataList(scene->objects, static_cast<qmObjectData *>(ad->head.userData));
  MemFree(ad);
}

bool DrawsIntoDoubleBuffer(const qmScene *scene) {
  const qmDisplay *d = scene->current;
  return d && d->doubleBuffer && scene->picture && scene->picture == d->doubleBufferBGPic;
}

// On the double buffer the rectangle of what the object draws waits for the next Flip.
void MarkDrawnObject(qmScene *scene, qmAsyncDraw *ad) {
  void *object = nullptr;
  Control(ad, ADOP_DRAWNOBJECT, reinterpret_cast<intptr_t>(&object));
  int32_t x, y, w, h;
  if (!object || !PictureLayerBounds(scene, object, &x, &y, &w, &h)) return;
  AddDirtyRect(scene->current, x, y, w, h, scene->picture->unscaledWidth, scene->picture->unscaledHeight);
}

uint32_t DrawNextFrame(qmScene *scene, qmAsyncDraw *ad) {
  const bool doubleBuffer = DrawsIntoDoubleBuffer(scene);
  if (doubleBuffer) Control(ad, ADOP_DOUBLEBUFFER, 1);
  const uint32_t code = ad->frame ? ad->frame(ad->userData, &ad->finished) : 0;
  // The bracket is closed on an error too, so that the producer does not stay in
  // double-buffer mode.
  if (doubleBuffer) {
    Control(ad, ADOP_DOUBLEBUFFER, 0);
    if (code == 0) MarkDrawnObject(scene, ad);
  }
  return code;
}

// Ends the first object that matches and is not ending already; false when there is none. The
// walk starts again after each ending, as a callback may have changed the list.
template <typename Match>
bool CancelFirst(qmScene *scene, Match match) {
  for (qmAsyncDraw *ad = FirstAsyncDraw(scene); ad; ad = NextAsyncDraw(ad)) {
    if (ad->ending || !match(ad)) continue;
    EndAsyncDraw(scene, ad, 0, 0);
    return true;
  }
  return false;
}

}  // namespace

uint32_t CreateAsyncDraw(qmScene *scene, int32_t kind, qmAsyncFrameFn frame, uintptr_t producerWord,
                         qmAsyncFinishFn finish, qmAsyncFreeFn free, qmAsyncControlFn control, void *userData,
                         qmAsyncDraw **out) {
  if (out) *out = nullptr;
  if (!scene || !scene->objects) return ERR_MEM;
  auto *ad = static_cast<qmAsyncDraw *>(MemAlloc(sizeof(qmAsyncDraw), 1));
  if (!ad) return ERR_MEM;
  const qmObjectId id{0, reinterpret_cast<uintptr_t>(ad)};
  SetObjectHeader(&ad->head, QMTYPE_ASYNCDRAW, &id);
  ad->display = scene->current;
  ad->kind = kind;
  ad->frame = frame;
  ad->producerWord = producerWord;
  ad->finish = finish;
  ad->free = free;
  ad->control = control;
  ad->userData = userData;
  if (uint32_t code = AddObject(scene->objects, &ad->head)) {
    MemFree(ad);
    return code;
  }
  if (out) *out = ad;
  return 0;
}

int32_t IsDisplayInAsyncDraw(const qmScene *scene, const qmDisplay *display) {
  for (qmAsyncDraw *ad = FirstAsyncDraw(scene); ad; ad = NextAsyncDraw(ad))
    if (ad->display == display) return 1;
  return 0;
}

void *QueryPendingAsyncDraw(const qmScene *scene) {
  for (qmAsyncDraw *ad = FirstAsyncDraw(scene); ad; ad = NextAsyncDraw(ad)) {
    if (ad->kind != ADF_FX) continue;
    void *picture = nullptr;
    Control(ad, ADOP_PENDINGPICTURE, reinterpret_cast<intptr_t>(&picture));
    if (picture) return picture;
  }
  return nullptr;
}

uint32_t BroadcastAsyncDraws(const qmScene *scene, int32_t op, intptr_t arg) {
  uint32_t first = 0;
  for (qmAsyncDraw *ad = FirstAsyncDraw(scene); ad;) {
    qmAsyncDraw *next = NextAsyncDraw(ad);
    const intptr_t answer = ad->control ? ad->control(op, arg, ad->userData) : 0;
    if (!first && answer) first = uint32_t(answer);
    ad = next;
  }
  return first;
}

int32_t IsObjectInAsyncDraw(const qmScene *scene, const void *object) {
  for (qmAsyncDraw *ad = FirstAsyncDraw(scene); ad; ad = NextAsyncDraw(ad)) {
    void *drawn = nullptr;
    Control(ad, ADOP_DRAWNOBJECT, reinterpret_cast<intptr_t>(&drawn));
    if (drawn && drawn == object) return 1;
  }
  return 0;
}

uint32_t FindAsyncDraw(const qmScene *scene, const qmObjectId *id, qmAsyncDraw **out) {
  *out = nullptr;
  qmObjectHeader *h = scene && scene->objects ? FindObject(scene->objects, QMTYPE_ASYNCDRAW, id) : nullptr;
  if (!h) return MissingObjectError(id, ERR_FINDASYNCDRAW);
  *out = reinterpret_cast<qmAsyncDraw *>(h);
  return 0;
}

uint32_t CheckAsyncDrawOutput(const qmScene *scene) {
  const qmDisplay *d = scene->current;
  if (!d) return 0;
  switch (d->outputType) {
  case DISPOUT_MASK: return ERR_SELECTMASK;
  case DISPOUT_ALPHA: return ERR_SELECTALPHACHANNEL;
  case DISPOUT_BRUSH:
  case DISPOUT_ANIM:
  case DISPOUT_LAYER:
    if (DrawsIntoDoubleBuffer(scene)) return 0;
    if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
    if (d->outputType == DISPOUT_ANIM || (d->selectBGPic && d->selectBGPic->selectedType == QMTYPE_ANIM))
      return ERR_SELECTANIM;
    return ERR_SELECTBRUSH;
  default: return 0;
  }
}

uint32_t AdvanceAsyncDraw(qmScene *scene, qmAsyncDraw *ad, int32_t hasFrame, double frame, int32_t *result) {
  *result = 0;
  if (!hasFrame) {
    if (ad->finished) {
      EndAsyncDraw(scene, ad, 1, 1);
      *result = 1;
      return 0;
    }
    return DrawNextFrame(scene, ad);
  }
  if (!scene->current || !scene->current->layersOn) return ERR_NOLAYERS;
  // Truncated, negative taken as 0; beyond any frame count stays beyond it.
  const int64_t wanted = !(frame > 0) ? 0 : frame >= 9.0e18 ? INT64_MAX : int64_t(frame);
  const int64_t current = Control(ad, ADOP_CURFRAME, 0);
  const int64_t total = Control(ad, ADOP_FRAMECOUNT, 0);
  if (ad->finished && (wanted == 0 || wanted > total)) {
    EndAsyncDraw(scene, ad, 1, 1);
    *result = 1;
    return 0;
  }
  if (wanted > total) return ERR_ANIMFRAME;
  if (wanted == current) return 0;
  if (wanted == 0 || wanted == current + 1) return DrawNextFrame(scene, ad);
  int32_t target = wanted > INT32_MAX ? INT32_MAX : int32_t(wanted);
  if (uint32_t code = uint32_t(Control(ad, ADOP_SEEK, reinterpret_cast<intptr_t>(&target)))) return code;
  if (DrawsIntoDoubleBuffer(scene))
    MarkDrawnObject(scene, ad);
  else
    Control(ad, ADOP_REDRAW, 0);
  ad->finished = total == wanted ? 1 : 0;
  *result = ad->finished;
  return 0;
}

void FinishAsyncDrawObject(qmScene *scene, qmAsyncDraw *ad) {
  if (!ad->ending) EndAsyncDraw(scene, ad, 1, ad->finished);
}

void CancelAsyncDrawObject(qmScene *scene, qmAsyncDraw *ad) {
  if (!ad->ending) EndAsyncDraw(scene, ad, 0, 0);
}

void EndDisplayAsyncDraws(qmScene *scene, const qmDisplay *display) {
  while (CancelFirst(scene, [display](const qmAsyncDraw *ad) { return ad->display == display; })) {
  }
}

void FreeAllAsyncDraws(qmScene *scene) {
  while (CancelFirst(scene, [](const qmAsyncDraw *) { return true; })) {
  }
}
