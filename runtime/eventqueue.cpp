#include "runtime/eventqueue.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/memory.h"
#include "runtime/rttags.h"

struct qmEventQueue {
  std::recursive_mutex mutex;
  qmEvent entries[kEventQueueSize];
  uint32_t count = 0;
  int (*isScaling)(const void *owner) = nullptr;
};

namespace {

// The queue of the run being played, bound by the runtime support at its start and unbound at
// its end. Other threads post into it, so the binding is read atomically; they are stopped
// before a run's queue goes.
std::atomic<qmEventQueue *> gBoundQueue{nullptr};
// A queue of the module's own for code that uses the queue without a run (the desktop layer's
// and the queue's own tests): bound by InitEventQueue when no run's queue is, unbound by
// FreeEventQueue.
qmEventQueue gOwnQueue;

qmEventQueue *Bound() { return gBoundQueue.load(std::memory_order_acquire); }

void FreePayload(qmEvent *e) {
  if (e->payload && e->type < EVENT_FIRST_FOREIGN_PAYLOAD) MemFree(e->payload);
  e->payload = nullptr;
}

}  // namespace

qmEventQueue *NewEventQueue() {
  auto *q = new (std::nothrow) qmEventQueue;
  if (q) std::memset(q->entries, 0, sizeof q->entries);
  return q;
}

void DeleteEventQueue(qmEventQueue *queue) {
  if (queue == nullptr) return;
  if (Bound() == queue) gBoundQueue.store(nullptr, std::memory_order_release);
  {
    std::lock_guard<std::recursive_mutex> lock(queue->mutex);
    for (uint32_t i = 0; i < queue->count; i++) FreePayload(&queue->entries[i]);
    queue->count = 0;
  }
  delete queue;
}

void BindEventQueue(qmEventQueue *queue) { gBoundQueue.store(queue, std::memory_order_release); }

void InitEventQueue() {
  qmEventQueue *q = Bound();
  if (q == nullptr) {
    q = &gOwnQueue;
    BindEventQueue(q);
  }
  std::lock_guard<std::recursive_mutex> lock(q->mutex);
  std::memset(q->entries, 0, sizeof q->entries);
  q->count = 0;
}

void FreeEventQueue() {
  RemoveEvents(kRemoveAllEvents, 1);
  if (Bound() == &gOwnQueue) {
    gOwnQueue.isScaling = nullptr;
    BindEventQueue(nullptr);
  }
}

void SetEventScaleQuery(int (*isScaling)(const void *owner)) {
  qmEventQueue *q = Bound();
  if (q == nullptr) return;
  std::lock_guard<std::recursive_mutex> lock(q->mutex);
  q->isScaling = isScaling;
}

int PostEventStamped(void *owner, uint32_t type, uint32_t arg1, uint32_t arg2, uint32_t arg3,
                     void *payload, const qmTimeval *stamp) {
  qmEventQueue *q = Bound();
  if (q == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> lock(q->mutex);
  if (type == EVENT_RESIZED && owner && q->isScaling && q->isScaling(owner)) return 0;
  if (q->count >= kEventQueueSize) return 0;
  qmEvent &e = q->entries[q->count++];
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
  qmEventQueue *q = Bound();
  if (q == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> lock(q->mutex);
  if (index >= kEventQueueSize || index >= q->count) return 0;
  qmEvent &e = q->entries[index];
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

static void RemoveLocked(qmEventQueue *q, uint32_t n) {
  if (q->count == 0) return;
  if (n == kRemoveAllEvents || n >= q->count - 1) {
    if (n != kRemoveAllEvents && n >= kEventQueueSize) return;
    n = q->count - 1;  // never beyond the valid entries: stale slots hold nothing
  }
  for (uint32_t i = 0; i <= n; i++) FreePayload(&q->entries[i]);
  uint32_t remaining = q->count - (n + 1);
  std::memmove(&q->entries[0], &q->entries[n + 1], remaining * sizeof(qmEvent));
  std::memset(&q->entries[remaining], 0, (q->count - remaining) * sizeof(qmEvent));
  q->count = remaining;
}

uint32_t RemoveEvents(uint32_t n, int lock) {
  qmEventQueue *q = Bound();
  if (q == nullptr) return 0;
  if (lock) {
    std::lock_guard<std::recursive_mutex> guard(q->mutex);
    RemoveLocked(q, n);
  } else {
    RemoveLocked(q, n);
  }
  return 0;
}

uint32_t ExpireEventsAt(const qmTimeval *now, uint32_t timeoutMs) {
  qmEventQueue *q = Bound();
  if (q == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> lock(q->mutex);
  int64_t last = -1;
  for (uint32_t i = 0; i < q->count; i++) {
    qmTimeval age = *now;
    qmTimeval stamp = {q->entries[i].seconds, q->entries[i].microseconds};
    SubTimeval(&age, &stamp);
    uint64_t ms = uint64_t(age.seconds) * 1000 + age.microseconds / 1000;
    if (ms > timeoutMs) last = i;
  }
  if (last >= 0) RemoveLocked(q, uint32_t(last));
  return 0;
}

void RestampEventsFrom(uint32_t first) {
  qmTimeval now;
  GetTimeval(&now);
  qmEventQueue *q = Bound();
  if (q == nullptr) return;
  std::lock_guard<std::recursive_mutex> lock(q->mutex);
  for (uint32_t i = first; i < q->count; i++) {
    q->entries[i].seconds = now.seconds;
    q->entries[i].microseconds = now.microseconds;
  }
}

uint32_t ExpireEvents() {
  qmTimeval now;
  GetTimeval(&now);
  return ExpireEventsAt(&now, GetEventTimeout());
}

void DetachEventOwner(const void *owner) {
  qmEventQueue *q = Bound();
  if (q == nullptr) return;
  std::lock_guard<std::recursive_mutex> lock(q->mutex);
  if (q->count == 0) return;
  for (qmEvent &e : q->entries)
    if (e.owner == owner) e.owner = nullptr;
}

uint32_t GetEventCount() {
  qmEventQueue *q = Bound();
  if (q == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> lock(q->mutex);
  return q->count;
}

void LockEventQueue() {
  if (qmEventQueue *q = Bound()) q->mutex.lock();
}
void UnlockEventQueue() {
  if (qmEventQueue *q = Bound()) q->mutex.unlock();
}
