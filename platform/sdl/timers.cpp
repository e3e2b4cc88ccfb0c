#include "platform/timers.h"

#include "platform/memory.h"
#include "platform/sdl/sdl_internal.h"
#include "runtime/errcodes.h"

namespace {
qmPlatformTimer *gTimers = nullptr;

bool SameOwner(const qmObjectId &a, const qmObjectId &b) { return a.id == b.id && a.handle == b.handle; }

uint64_t PeriodOf(uint32_t ms) { return uint64_t(ms ? ms : 1) * 1000u; }

void Unlink(qmPlatformTimer *node) {
  for (qmPlatformTimer **p = &gTimers; *p; p = &(*p)->next) {
    if (*p == node) {
      *p = node->next;
      return;
    }
  }
}

uint32_t AddTimer(uint32_t kind, const qmObjectId *owner, uint32_t ms) {
  auto *t = static_cast<qmPlatformTimer *>(MemAlloc(sizeof(qmPlatformTimer), 1));
  if (!t) return ERR_MEM;
  t->kind = kind;
  t->owner = *owner;
  t->period = PeriodOf(ms);
  uint64_t now = DesktopMicros();
  t->deadline = kind == TIMER_INTERVAL ? now : now + t->period;
  qmPlatformTimer **tail = &gTimers;
  while (*tail) tail = &(*tail)->next;
  *tail = t;
  return 0;
}
}  // namespace

uint32_t ControlPlatformTimer(uint32_t op, const qmObjectId *owner, uint32_t ms) {
  switch (op) {
  case TIMEROP_ADDINTERVAL: return AddTimer(TIMER_INTERVAL, owner, ms);
  case TIMEROP_ADDONESHOT: return AddTimer(TIMER_ONESHOT, owner, ms);
  case TIMEROP_REMOVEINTERVAL:
  case TIMEROP_REMOVEONESHOT: {
    qmPlatformTimer *next;
    qmPlatformTimer *t = FindPlatformTimer(op == TIMEROP_REMOVEINTERVAL ? TIMER_INTERVAL : TIMER_ONESHOT, owner, &next);
    if (t) {
      Unlink(t);
      MemFree(t);
    }
    return 0;
  }
  case TIMEROP_CHANGEINTERVAL: {
    qmPlatformTimer *next;
    qmPlatformTimer *t = FindPlatformTimer(TIMER_INTERVAL, owner, &next);
    if (t) {
      t->period = PeriodOf(ms);
      t->deadline = DesktopMicros();
      t->fired = 0;
    }
    return 0;
  }
  default: return 0;
  }
}

qmPlatformTimer *FindPlatformTimer(uint32_t kind, const qmObjectId *owner, qmPlatformTimer **next) {
  for (qmPlatformTimer *t = gTimers; t; t = t->next) {
    if (t->kind == kind && SameOwner(t->owner, *owner)) {
      if (next) *next = t->next;
      return t;
    }
  }
  if (next) *next = nullptr;
  return nullptr;
}

qmPlatformTimer *NextFiredTimer(qmPlatformTimer *node, uint32_t *kind, qmObjectId *owner) {
  if (!node) {
    ServicePlatformTimers();
    node = gTimers;
  }
  *kind = TIMER_NOTFIRED;
  if (!node) return nullptr;
  qmPlatformTimer *next = node->next;
  if (!node->fired) return next;
  *owner = node->owner;
  if (node->kind == TIMER_ONESHOT) {
    *kind = TIMER_ONESHOT;
    Unlink(node);
    MemFree(node);
  } else {
    *kind = TIMER_INTERVAL;
    node->fired = 0;
  }
  return next;
}

bool ServicePlatformTimers() {
  if (!gTimers) return false;
  uint64_t now = DesktopMicros();
  bool any = false;
  for (qmPlatformTimer *t = gTimers; t; t = t->next) {
    if (t->deadline > now) continue;
    t->fired = 1;
    any = true;
    if (t->kind == TIMER_ONESHOT) {
      t->deadline = UINT64_MAX;
    } else {
      // One firing per period; a timer left far behind (a long handler) restarts from now
      // instead of firing a burst of catch-up ticks.
      t->deadline += t->period;
      if (t->deadline <= now) t->deadline = now + t->period;
    }
  }
  return any;
}

uint64_t MicrosToNextTimer() {
  uint64_t now = DesktopMicros();
  uint64_t best = UINT64_MAX;
  for (qmPlatformTimer *t = gTimers; t; t = t->next) {
    if (t->deadline == UINT64_MAX) continue;
    uint64_t left = t->deadline > now ? t->deadline - now : 0;
    if (left < best) best = left;
  }
  return best;
}

void FreeAllPlatformTimers() {
  while (gTimers) {
    qmPlatformTimer *next = gTimers->next;
    MemFree(gTimers);
    gTimers = next;
  }
}
