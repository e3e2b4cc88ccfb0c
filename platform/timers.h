// Timers behind script intervals and timeouts: one list in creation order, on monotonic
// deadlines, served on the main thread by the pump and the waits.
#pragma once
#include <cstdint>

#include "runtime/objectid.h"

enum : uint32_t {
  TIMER_INTERVAL = 0,
  TIMER_ONESHOT = 1,
  TIMER_NOTFIRED = 9,  // NextFiredTimer's kind for a node that has not fired
};

enum : uint32_t {
  TIMEROP_ADDINTERVAL = 0,
  TIMEROP_ADDONESHOT = 1,
  TIMEROP_REMOVEINTERVAL = 2,
  TIMEROP_REMOVEONESHOT = 3,
  TIMEROP_CHANGEINTERVAL = 4,
};

struct qmPlatformTimer {
  qmPlatformTimer *next;
  uint32_t kind;  // TIMER_INTERVAL or TIMER_ONESHOT
  qmObjectId owner;
  uint32_t fired;
  uint64_t deadline;  // microseconds on the desktop clock; UINT64_MAX once a one-shot fired
  uint64_t period;    // microseconds
};

// Op 0 adds an interval that fires at once and then every ms; 1 a one-shot firing after ms;
// 2 / 3 remove the owner's first interval / one-shot; 4 restarts the owner's first interval with
// a new period, firing at once. 0, or ERR_MEM. A period below 1 ms counts as 1 ms.
uint32_t ControlPlatformTimer(uint32_t op, const qmObjectId *owner, uint32_t ms);
// The first node of that kind and owner, or null; its successor goes to *next.
qmPlatformTimer *FindPlatformTimer(uint32_t kind, const qmObjectId *owner, qmPlatformTimer **next);
// Walks the list: pass null for the head, then the returned successor. *kind is 9 for a node
// that has not fired, 1 for a fired one-shot (which is freed now), 0 for a fired interval (its
// fired flag cleared); *owner is set for 0 and 1. An empty list gives null and kind 9.
qmPlatformTimer *NextFiredTimer(qmPlatformTimer *node, uint32_t *kind, qmObjectId *owner);

// Marks every due timer fired; true when any fired now.
bool ServicePlatformTimers();
// Microseconds until the earliest pending deadline; UINT64_MAX without one.
uint64_t MicrosToNextTimer();
void FreeAllPlatformTimers();
