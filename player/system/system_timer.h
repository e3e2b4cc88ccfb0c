// Stopwatch timers: objects of type TIMER in the object lists, in creation order. A timer counts
// the time since its last start, reset or resume on top of what it had accumulated before.
#pragma once
#include <cstdint>

#include "platform/time.h"
#include "runtime/objlist.h"

struct VmState;

struct qmTimer {
  qmObjectHeader header;
  qmTimeval start;        // the last start, reset or resume
  qmTimeval accumulated;  // counted before the last pause, or set by a reset
  uint32_t paused;
};

qmTimer *FindTimer(VmState *L, const qmObjectId *id);
// Restarts a timer that the number id names, else appends a new one; an automatic id (handle
// non-zero) always makes a new one. 0 or ERR_MEM; *out is the running timer.
uint32_t StartTimer(VmState *L, const qmObjectId *id, const qmTimeval *now, qmTimer **out);
// Unlinks and frees the timer; its data items are the caller's to free first.
void StopTimer(VmState *L, qmTimer *timer);
void FreeAllTimers(VmState *L);

// Milliseconds on the timer: accumulated + now - start while running, accumulated when paused.
double TimerMilliseconds(const qmTimer *timer, const qmTimeval *now);
void PauseTimer(qmTimer *timer, const qmTimeval *now);
void ResumeTimer(qmTimer *timer, const qmTimeval *now);
// Running, with ms already counted.
void ResetTimer(qmTimer *timer, uint32_t ms, const qmTimeval *now);
