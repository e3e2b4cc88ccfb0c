#include "display/displayhooks.h"

#include "display/bgpic.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "platform/memory.h"
#include "platform/time.h"
#include "runtime/errcodes.h"
#include "runtime/eventqueue.h"
#include "runtime/rttags.h"

namespace {

qmDisplay *FindDisplayOfId(const qmScene *scene, const qmObjectId *id) {
  for (qmDisplay *d = scene->displays; d; d = d->next)
    if (id->handle ? d->handle == id->handle : (d->handle == 0 && d->id == id->id)) return d;
  return nullptr;
}

}  // namespace

qmDisplayHook *AttachDisplayHook(qmScene *scene, const qmObjectId *id, qmDisplayHookFunction function, void *userData,
                                 qmTagItem *tags) {
  if (!scene || !id || scene->videoRecording) return nullptr;
  qmDisplay *d = FindDisplayOfId(scene, id);
  if (!d || !d->bgpic) return nullptr;
  // A satellite draws over the window as it is: a picture it could show through is refused.
  const qmBGPic *pic = d->bgpic;
  if (pic->transparentColor != kNoTransparency || pic->shown.mask || pic->shown.alpha) return nullptr;
  auto *node = static_cast<qmDisplayHook *>(MemAlloc(sizeof(qmDisplayHook), 1));
  if (!node) return nullptr;
  node->function = function;
  node->userData = userData;
  qmDisplayHook **tail = &d->satellites;
  while (*tail) tail = &(*tail)->next;
  *tail = node;
  for (qmTagItem *t = tags; t && t->tag; t++) {
    auto *out = reinterpret_cast<int32_t *>(t->value);
    if (!out) continue;
    if (t->tag == 1) *out = pic->unscaledWidth;
    if (t->tag == 2) *out = pic->unscaledHeight;
  }
  return node;
}

qmDisplay *DisplayOfHook(const qmScene *scene, const qmDisplayHook *node) {
  if (!scene || !node) return nullptr;
  for (qmDisplay *d = scene->displays; d; d = d->next)
    for (qmDisplayHook *h = d->satellites; h; h = h->next)
      if (h == node) return d;
  return nullptr;
}

void DetachDisplayHook(qmScene *scene, qmDisplayHook *node) {
  qmDisplay *d = DisplayOfHook(scene, node);
  if (!d) return;
  for (qmDisplayHook **p = &d->satellites; *p; p = &(*p)->next)
    if (*p == node) {
      *p = node->next;
      MemFree(node);
      return;
    }
}

void RefreshHookedDisplay(qmScene *scene, qmDisplayHook *node) {
  if (qmDisplay *d = DisplayOfHook(scene, node)) RefreshDisplay(scene, d, 2);
}

uint32_t ResizeHookedDisplay(qmScene *scene, qmDisplayHook *node, int32_t width, int32_t height) {
  qmDisplay *d = DisplayOfHook(scene, node);
  if (!d) return ERR_FINDDISPLAY;
  if (uint32_t code = ResizeDisplay(scene, d, kKeepPosition, kKeepPosition, width, height, kResizeNoNotify,
                                    d->scaleMode))
    return code;
  PostEvent(d, EVENT_RESIZED, uint32_t(d->width), uint32_t(d->height), 0, nullptr);
  return 0;
}

void PostHookedDisplayEvent(qmScene *scene, qmDisplayHook *node, uint32_t kind, uint32_t data1, uint32_t data2,
                            uint32_t data3) {
  qmDisplay *d = node ? DisplayOfHook(scene, node) : scene ? scene->displays : nullptr;
  if (!d) return;
  switch (kind) {
    case 0:
      d->pointerMoved = 1;
      GetTimeval(&d->pointerMoveTime);
      break;
    case 1:
      d->leftButton = data3;
      PostEvent(d, EVENT_LEFTBUTTON, data1, data2, data3, nullptr);
      break;
    case 2:
      d->rightButton = data3;
      PostEvent(d, EVENT_RIGHTBUTTON, data1, data2, data3, nullptr);
      break;
    case 3:
      d->middleButton = data3;
      PostEvent(d, EVENT_MIDDLEBUTTON, data1, data2, data3, nullptr);
      break;
    case 4: PostEvent(d, data3 == 0 ? EVENT_WHEELUP : EVENT_WHEELDOWN, data1, data2, 0, nullptr); break;
    case 5:
      // Codes beyond the key table change no state but are still posted.
      if (data1 < uint32_t(kKeyStateCount)) d->keyStates[data1] = uint8_t(data2);
      PostEvent(d, EVENT_KEY, data2, data3, data1, nullptr);
      break;
    default: break;
  }
}
