#include "display/display.h"

#include <cstring>

#include "display/displayops.h"
#include "display/scene.h"
#include "platform/hooks.h"
#include "platform/memory.h"
#include "platform/mutex.h"


namespace {
constexpr int32_t kCenter = -100000;
}

qmDisplay *NewDisplayRecord(uint32_t id) {
  auto *d = static_cast<qmDisplay *>(MemAlloc(sizeof(qmDisplay), 1));
  if (!d) return nullptr;
  d->updateLock = MutexCreate();
  if (!d->updateLock) {
    MemFree(d);
    return nullptr;
  }
  d->id = id;
  d->outputType = DISPOUT_DISPLAY;
  d->x = kCenter;
  d->y = kCenter;
  d->width = 640;
  d->height = 480;
  std::strcpy(d->title, "Quenmoor");
  d->scaleX = 1.0;
  d->scaleY = 1.0;
  d->textMarginRight = d->width - 1;
  for (auto &slot : d->handlers) slot = {kNoHandler, kNoHandler};
  return d;
}

void FreeDisplayRecord(qmDisplay *display) {
  if (!display) return;
  DiscardDisplayUpdates(display);
  MutexFree(display->updateLock);
  MemFree(display);
}

void LinkDisplay(qmScene *scene, qmDisplay *display) {
  if (scene->displaysLock) MutexLock(scene->displaysLock);
  display->type = QMTYPE_DISPLAY;
  display->next = nullptr;
  if (display->private1 || !scene->displays) {
    display->next = scene->displays;
    scene->displays = display;
  } else {
    qmDisplay *last = scene->displays;
    while (last->next) last = last->next;
    last->next = display;
  }
  if (scene->displaysLock) MutexUnlock(scene->displaysLock);
}

void UnlinkDisplay(qmScene *scene, qmDisplay *display) {
  if (scene->displaysLock) MutexLock(scene->displaysLock);
  for (qmDisplay **p = &scene->displays; *p; p = &(*p)->next) {
    if (*p == display) {
      *p = display->next;
      display->next = nullptr;
      break;
    }
  }
  if (scene->displaysLock) MutexUnlock(scene->displaysLock);
}

void ResetDisplayInput(const qmScene *scene, qmDisplay *display) {
  if (!display) return;
  std::memset(display->keyStates, 0, sizeof display->keyStates);
  display->leftButton = 0;
  display->rightButton = 0;
  display->middleButton = 0;
  FlushPlatformInput(display);
  ResetDisplayButtonStates(scene, display);
}

bool IsSoleDisplay(const qmScene *scene, const qmDisplay *display) {
  const qmDisplay *first = scene->displays;
  if (!first) return false;
  if (first == display && !display->next) return true;
  return first->private1 && first->next == display && !display->next;
}
