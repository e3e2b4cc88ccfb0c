#include "platform/signal.h"

#include <ctime>

#include "platform/memory.h"

qmSignal *SignalCreate() {
  auto *s = static_cast<qmSignal *>(MemAlloc(sizeof(qmSignal), 1));
  if (!s) return nullptr;
  if (pthread_cond_init(&s->cond, nullptr) != 0) {
    MemFree(s);
    return nullptr;
  }
  return s;
}

void SignalFree(qmSignal *s) {
  if (!s) return;
  pthread_cond_destroy(&s->cond);
  MemFree(s);
}

void SignalPost(qmSignal *s) {
  s->flag = 1;
  pthread_cond_signal(&s->cond);
}

int SignalWait(qmSignal *s, qmMutex *mutex) {
  while (!s->flag) pthread_cond_wait(&s->cond, &mutex->mutex);  // spurious wake-ups wait again
  s->flag = 0;
  return 0;
}

int SignalWaitFor(qmSignal *s, qmMutex *mutex, uint32_t ms) {
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);  // the condition's clock
  deadline.tv_sec += time_t(ms / 1000);
  deadline.tv_nsec += long(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec++;
    deadline.tv_nsec -= 1000000000L;
  }
  while (!s->flag)
    if (pthread_cond_timedwait(&s->cond, &mutex->mutex, &deadline) != 0 && !s->flag) return 1;
  s->flag = 0;
  return 0;
}
