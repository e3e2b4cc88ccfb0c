#include "player/system/system_timer.h"

#include <cstring>

#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

qmTimer *AsTimer(qmObjectHeader *h) { return reinterpret_cast<qmTimer *>(h); }

qmTimeval Elapsed(const qmTimer *timer, const qmTimeval *now) {
  qmTimeval t = *now;
  SubTimeval(&t, &timer->start);
  AddTimeval(&t, &timer->accumulated);
  return t;
}

}  // namespace

qmTimer *FindTimer(VmState *L, const qmObjectId *id) {
  return AsTimer(FindObject(L, QMTYPE_TIMER, id));
}

uint32_t StartTimer(VmState *L, const qmObjectId *id, const qmTimeval *now, qmTimer **out) {
  qmTimer *timer = id->handle ? nullptr : FindTimer(L, id);
  if (timer) {
    timer->accumulated = {0, 0};
    timer->paused = 0;
    timer->start = *now;
    *out = timer;
    return 0;
  }
  timer = static_cast<qmTimer *>(MemAlloc(sizeof(qmTimer), 1));
  if (!timer) return ERR_MEM;
  SetObjectHeader(&timer->header, QMTYPE_TIMER, id);
  timer->start = *now;
  if (uint32_t code = AddObject(L, &timer->header)) {
    MemFree(timer);
    return code;
  }
  *out = timer;
  return 0;
}

void StopTimer(VmState *L, qmTimer *timer) {
  RemoveObject(L, &timer->header);
  MemFree(timer);
}

void FreeAllTimers(VmState *L) {
  while (qmObjectHeader *h = FirstObject(L, QMTYPE_TIMER)) StopTimer(L, AsTimer(h));
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
