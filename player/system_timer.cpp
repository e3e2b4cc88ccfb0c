#include "player/system_timer.h"

#include <cstring>

#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

// Linked through the headers; every record is a qmTimer whose header comes first.
qmObjectHeader *gTimers = nullptr;

qmTimer *AsTimer(qmObjectHeader *h) { return reinterpret_cast<qmTimer *>(h); }

qmTimeval Elapsed(const qmTimer *timer, const qmTimeval *now) {
  qmTimeval t = *now;
  SubTimeval(&t, &timer->start);
  AddTimeval(&t, &timer->accumulated);
  return t;
}

}  // namespace

qmObjectHeader **TimerListHead() { return &gTimers; }

qmTimer *FindTimer(const qmObjectId *id) {
  for (qmObjectHeader *h = gTimers; h; h = h->next)
    if (h->id == id->id && h->handle == id->handle) return AsTimer(h);
  return nullptr;
}

uint32_t StartTimer(const qmObjectId *id, const qmTimeval *now, qmTimer **out) {
  qmTimer *timer = id->handle ? nullptr : FindTimer(id);
  if (timer) {
    timer->accumulated = {0, 0};
    timer->paused = 0;
    timer->start = *now;
    *out = timer;
    return 0;
  }
  timer = static_cast<qmTimer *>(MemAlloc(sizeof(qmTimer), 1));
  if (!timer) return ERR_MEM;
  timer->header.type = kTimerObjectType;
  if (id->handle) timer->header.handle = reinterpret_cast<uintptr_t>(timer);
  else timer->header.id = id->id;
  timer->start = *now;
  qmObjectHeader **tail = &gTimers;
  while (*tail) tail = &(*tail)->next;
  *tail = &timer->header;
  *out = timer;
  return 0;
}

void StopTimer(qmTimer *timer) {
  for (qmObjectHeader **p = &gTimers; *p; p = &(*p)->next) {
    if (*p != &timer->header) continue;
    *p = timer->header.next;
    MemFree(timer);
    return;
  }
}

void FreeAllTimers() {
  while (gTimers) StopTimer(AsTimer(gTimers));
}

double TimerMilliseconds(const qmTimer *timer, const qmTimeval *now) {
  qmTimeval t = timer->paused ? timer->accumulated : Elapsed(timer, now);
  return static_cast<double>(t.seconds) * 1000.0 + t.microseconds / 1000;
}

void PauseTimer(qmTimer *timer, const qmTimeval *now) {
  if (timer->paused) return;
  timer->accumulated = Elapsed(timer, now);
  timer->paused = 1;
}

void ResumeTimer(qmTimer *timer, const qmTimeval *now) {
  if (!timer->paused) return;
  timer->start = *now;
  timer->paused = 0;
}

void ResetTimer(qmTimer *timer, uint32_t ms, const qmTimeval *now) {
  timer->paused = 0;
  timer->accumulated = {ms / 1000, (ms % 1000) * 1000};
  timer->start = *now;
}
