#include "platform/signal.h"

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
