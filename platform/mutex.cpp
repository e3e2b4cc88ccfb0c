#include "platform/mutex.h"

#include "platform/memory.h"

int InitRecursiveMutex(pthread_mutex_t *mutex) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return -1;
  int rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (rc == 0) rc = pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  return rc;
}

qmMutex *MutexCreate() {
  auto *m = static_cast<qmMutex *>(MemAlloc(sizeof(qmMutex), 1));
  if (!m) return nullptr;
  if (InitRecursiveMutex(&m->mutex) != 0) {
    MemFree(m);
    return nullptr;
  }
  return m;
}

void MutexLock(qmMutex *m) { pthread_mutex_lock(&m->mutex); }

void MutexUnlock(qmMutex *m) { pthread_mutex_unlock(&m->mutex); }

int MutexTryLock(qmMutex *m) { return pthread_mutex_trylock(&m->mutex) == 0 ? 1 : 0; }

void MutexFree(qmMutex *m) {
  if (!m) return;
  pthread_mutex_destroy(&m->mutex);
  MemFree(m);
}
