#include "runtime/eventqueue.h"

#include <cstring>
#include <mutex>

#include "platform/memory.h"
#include "runtime/rttags.h"

namespace {

struct EventQueue {
  std::recursive_mutex mutex;
  qmEvent entries[kEventQueueSize];
  uint32_t count = 0;
  int (*isScaling)(const void *owner) = nullptr;
};

EventQueue gQueue;

void FreePayload(qmEvent *e) {
  if (e->payload && e->type < EVENT_FIRST_FOREIGN_PAYLOAD) MemFree(e->payload);
  e->payload = nullptr;
}

}  // namespace

void InitEventQueue() {
  std::lock_guard<std::recursive_mutex> lock(gQueue.mutex);
  std::memset(gQueue.entries, 0, sizeof gQueue.entries);
  gQueue.count = 0;
}

void FreeEventQueue() { RemoveEvents(kRemoveAllEvents, 1); }

void SetEventScaleQuery(int (*isScaling)(const void *owner)) {
  std::lock_guard<std::recursive_mutex> lock(gQueue.mutex);
  gQueue.isScaling = isScaling;
}

int PostEventStamped(void *owner, uint32_t type, uint32_t arg1, uint32_t arg2, uint32_t arg3,
                     void *payload, const qmTimeval *stamp) {
  std::lock_guard<std::recursive_mutex> lock(gQueue.mutex);
  if (type == EVENT_RESIZED && owner && gQueue.isScaling && gQueue.isScaling(owner)) return 0;
  if (gQueue.count >= kEventQueueSize) return 0;
  qmEvent &e = gQueue.entries[gQueue.count++];
  e.type = type;
  e.arg1 = arg1;
  e.arg2 = arg2;
  e.arg3 = arg3;
  e.seconds = stamp->seconds;
  e.microseconds = stamp->microseconds;
  e.owner = owner;
  e.payload = payload;
  return 1;
}

int PostEvent(void *owner, uint32_t type, uint32_t arg1, uint32_t arg2, uint32_t arg3, void *payload) {
  qmTimeval now;
  GetTimeval(&now);
  return PostEventStamped(owner, type, arg1, arg2, arg3, payload, &now);
}

uint32_t PeekEvent(uint32_t index, qmQueuedEvent *msg, int take) {
  std::lock_guard<std::recursive_mutex> lock(gQueue.mutex);
  if (index >= kEventQueueSize || index >= gQueue.count) return 0;
  qmEvent &e = gQueue.entries[index];
  msg->owner = e.owner;
  msg->type = e.type;
  msg->payload = e.payload;
  msg->arg1 = e.arg1;  // every type: moves and resizes carry a position here too
  msg->arg2 = e.arg2;
  switch (e.type) {
    case 1: case 2: case 16:
      msg->x = e.arg1;
      msg->y = e.arg2;
      msg->buttons = e.arg3;
      break;
    case 3:
      msg->keyDown = e.arg1;
      msg->keyArg = e.arg2;
      msg->keyCode = e.arg3;
      break;
    default:
      break;
  }
  if (take) e.payload = nullptr;
  return index + 1;
}

static void RemoveLocked(uint32_t n) {
  if (gQueue.count == 0) return;
  if (n == kRemoveAllEvents || n >= gQueue.count - 1) {
    if (n != kRemoveAllEvents && n >= kEventQueueSize) return;
    n = gQueue.count - 1;  // never beyond the valid entries: stale slots hold nothing
  }
  for (uint32_t i = 0; i <= n; i++) FreePayload(&gQueue.entries[i]);
  uint32_t remaining = gQueue.count - (n + 1);
  std::memmove(&gQueue.entries[0], &gQueue.entries[n + 1], remaining * sizeof(qmEvent));
  std::memset(&gQueue.entries[remaining], 0, (gQueue.count - remaining) * sizeof(qmEvent));
  gQueue.count = remaining;
}

uint32_t RemoveEvents(uint32_t n, int lock) {
  if (lock) {
    std::lock_guard<std::recursive_mutex> guard(gQueue.mutex);
    RemoveLocked(n);
  } else {
    RemoveLocked(n);
  }
  return 0;
}

uint32_t ExpireEventsAt(const qmTimeval *now, uint32_t timeoutMs) {
  std::lock_guard<std::recursive_mutex> lock(gQueue.mutex);
  int64_t last = -1;
  for (uint32_t i = 0; i < gQueue.count; i++) {
    qmTimeval age = *now;
    qmTimeval stamp = {gQueue.entries[i].seconds, gQueue.entries[i].microseconds};
    SubTimeval(&age, &stamp);
    uint64_t ms = uint64_t(age.seconds) * 1000 + age.microseconds / 1000;
    if (ms > timeoutMs) last = i;
  }
  if (last >= 0) RemoveLocked(uint32_t(last));
  return 0;
}

void RestampEventsFrom(uint32_t first) {
  qmTimeval now;
  GetTimeval(&now);
  std::lock_guard<std::recursive_mutex> lock(gQueue.mutex);
  for (uint32_t i = first; i < gQueue.count; i++) {
    gQueue.entries[i].seconds = now.seconds;
    gQueue.entries[i].microseconds = now.microseconds;
  }
}

uint32_t ExpireEvents() {
  qmTimeval now;
  GetTimeval(&now);
  return ExpireEventsAt(&now, GetEventTimeout());
}

void DetachEventOwner(const void *owner) {
  std::lock_guard<std::recursive_mutex> lock(gQueue.mutex);
  if (gQueue.count == 0) return;
  for (qmEvent &e : gQueue.entries)
    if (e.owner == owner) e.owner = nullptr;
}

uint32_t GetEventCount() {
  std::lock_guard<std::recursive_mutex> lock(gQueue.mutex);
  return gQueue.count;
}

void LockEventQueue() { gQueue.mutex.lock(); }
void UnlockEventQueue() { gQueue.mutex.unlock(); }
