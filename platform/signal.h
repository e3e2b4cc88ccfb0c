// Signals: a flag with a condition variable, so that a post made before the wait is not lost.
#pragma once
#include <pthread.h>
#include <cstdint>

#include "platform/mutex.h"

struct qmSignal {
  uint32_t flag;  // a post that nobody has consumed yet; read and written under the waiter's mutex
  pthread_cond_t cond;
};

// A signal with a clear flag, or nullptr when out of memory.
qmSignal *SignalCreate();
void SignalFree(qmSignal *s);
// The caller holds the mutex that the waiter passes to SignalWait.
void SignalPost(qmSignal *s);
// The caller holds the mutex exactly once (a wait releases one level of a recursive lock).
// Consumes a pending post at once, else waits for one; returns 0.
int SignalWait(qmSignal *s, qmMutex *mutex);
// The same with a deadline: 0 when a post was consumed, 1 when ms milliseconds passed first.
int SignalWaitFor(qmSignal *s, qmMutex *mutex, uint32_t ms);
