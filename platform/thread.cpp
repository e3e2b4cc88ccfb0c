#include "platform/thread.h"

#include <sched.h>

#include <algorithm>
#include <new>

#include "platform/memory.h"
#include "platform/mutex.h"
#include "platform/time.h"

namespace {

// Round-robin at the asked priority where allowed; unprivileged users get EPERM and priorities
// outside the policy's range EINVAL, so any refusal falls back to default attributes.
bool CreateSystemThread(pthread_t *out, qmThreadEntry entry, void *arg, int32_t priority) {
  if (priority != 0) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) == 0) {
      sched_param param{};
      param.sched_priority = std::clamp(priority, sched_get_priority_min(SCHED_RR),
                                        sched_get_priority_max(SCHED_RR));
      bool ok = pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED) == 0 &&
                pthread_attr_setschedpolicy(&attr, SCHED_RR) == 0 &&
                pthread_attr_setschedparam(&attr, &param) == 0 &&
                pthread_create(out, &attr, entry, arg) == 0;
      pthread_attr_destroy(&attr);
      if (ok) return true;
    }
  }
  return pthread_create(out, nullptr, entry, arg) == 0;
}

void DestroyRecord(qmThread *t) {
  pthread_cond_destroy(&t->cond);
  pthread_mutex_destroy(&t->mutex);
  t->~qmThread();
  MemFree(t);
}

}  // namespace

qmThread *ThreadStart(const char *, qmThreadEntry entry, void *userData, uint32_t, uint32_t,
                      int32_t priority) {
  void *block = MemAlloc(sizeof(qmThread), 1);
  if (!block) return nullptr;
  auto *t = new (block) qmThread();
  t->userData = userData;
  if (InitRecursiveMutex(&t->mutex) != 0) {
    t->~qmThread();
    MemFree(t);
    return nullptr;
  }
  if (pthread_cond_init(&t->cond, nullptr) != 0) {
    pthread_mutex_destroy(&t->mutex);
    t->~qmThread();
    MemFree(t);
    return nullptr;
  }
  if (!CreateSystemThread(&t->thread, entry, t, priority)) {
    DestroyRecord(t);
    return nullptr;
  }
  pthread_mutex_lock(&t->mutex);
  while (!t->started) pthread_cond_wait(&t->cond, &t->mutex);
  int32_t code = t->exitCode;
  pthread_mutex_unlock(&t->mutex);
  if (code != 0) {
    ThreadJoin(t);
    return nullptr;
  }
  return t;
}

qmThread *GetThreadRecord(void *entryArgument) { return static_cast<qmThread *>(entryArgument); }

void *GetThreadUserData(qmThread *thread) { return thread->userData; }

void ThreadSignalStarted(qmThread *thread) {
  pthread_mutex_lock(&thread->mutex);
  thread->started = 1;
  pthread_cond_signal(&thread->cond);
  pthread_mutex_unlock(&thread->mutex);
}

void ThreadExit(qmThread *thread, int32_t code) {
  pthread_mutex_lock(&thread->mutex);
  thread->exitCode = code;
  if (code != 0) {
    thread->started = 1;
    pthread_cond_signal(&thread->cond);
  }
  pthread_mutex_unlock(&thread->mutex);
}

void ThreadRequestQuit(qmThread *thread) { thread->quit.store(1); }

uint32_t ThreadQuitRequested(qmThread *thread) { return thread->quit.load(); }

void ThreadWaitJoin(qmThread *thread) {
  while (!thread->mayExit.load()) SleepMilliseconds(1);
}

void ThreadJoin(qmThread *thread) {
  if (!thread) return;
  thread->mayExit.store(1);
  pthread_join(thread->thread, nullptr);
  DestroyRecord(thread);
}
