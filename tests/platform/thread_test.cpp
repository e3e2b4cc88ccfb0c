#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/mutex.h"
#include "platform/signal.h"
#include "platform/time.h"

namespace {

TEST(Mutex, ReentersOnTheSameThreadButNotAnother) {
  qmMutex *m = MutexCreate();
  ASSERT_NE(m, nullptr);
  MutexLock(m);
  EXPECT_EQ(MutexTryLock(m), 1);  // recursive: the holder may lock again
  MutexLock(m);
  struct Probe {
    qmMutex *mutex;
    int got;
  } probe{m, -1};
  pthread_t other;
  pthread_create(
      &other, nullptr,
      [](void *arg) -> void * {
        auto *p = static_cast<Probe *>(arg);
        p->got = MutexTryLock(p->mutex);
        if (p->got) MutexUnlock(p->mutex);
        return nullptr;
      },
      &probe);
  pthread_join(other, nullptr);
  EXPECT_EQ(probe.got, 0);
  MutexUnlock(m);
  MutexUnlock(m);
  MutexUnlock(m);
  EXPECT_EQ(MutexTryLock(m), 1);
  MutexUnlock(m);
  MutexFree(m);
}

TEST(Signal, PostBeforeWaitIsKeptAndCountsOnce) {
  qmMutex *m = MutexCreate();
  qmSignal *s = SignalCreate();
  ASSERT_TRUE(m && s);
  MutexLock(m);
  SignalPost(s);
  SignalPost(s);
  EXPECT_EQ(SignalWait(s, m), 0);  // returns at once
  EXPECT_EQ(s->flag, 0u);          // both posts consumed by one wait
  MutexUnlock(m);
  SignalFree(s);
  MutexFree(m);
}

// A body that waits on a signal until asked to quit, counting its wake-ups.
struct Worker {
  qmMutex *mutex;
  qmSignal *wake;
  std::atomic<int> wakeups{0};
};

void *WorkerBody(void *arg) {
  qmThread *self = GetThreadRecord(arg);
  auto *w = static_cast<Worker *>(GetThreadUserData(self));
  ThreadSignalStarted(self);
  MutexLock(w->mutex);
  while (!ThreadQuitRequested(self)) {
    SignalWait(w->wake, w->mutex);
    w->wakeups++;
  }
  MutexUnlock(w->mutex);
  ThreadWaitJoin(self);
  ThreadExit(self, 0);
  return nullptr;
}

TEST(Thread, StartsSignalsAndJoins) {
  Worker w;
  w.mutex = MutexCreate();
  w.wake = SignalCreate();
  // A real-time priority is best effort: without the privilege the thread still starts.
  for (int32_t priority : {0, 20, 100}) {
    w.wakeups = 0;
    qmThread *t = ThreadStart("worker", WorkerBody, &w, 0, 16384, priority);
    ASSERT_NE(t, nullptr) << priority;
    EXPECT_EQ(t->started, 1u);
    MutexLock(w.mutex);
    SignalPost(w.wake);
    MutexUnlock(w.mutex);
    while (w.wakeups.load() == 0) SleepMilliseconds(1);
    ThreadRequestQuit(t);
    MutexLock(w.mutex);
    SignalPost(w.wake);
    MutexUnlock(w.mutex);
    ThreadJoin(t);
    EXPECT_GE(w.wakeups.load(), 1);
  }
  SignalFree(w.wake);
  MutexFree(w.mutex);
}

void *FailingBody(void *arg) {
  qmThread *self = GetThreadRecord(arg);
  static_cast<std::atomic<int> *>(GetThreadUserData(self))->store(1);
  ThreadExit(self, 7);
  return nullptr;
}

TEST(Thread, FailureBeforeStartReturnsNullAndLeavesNothing) {
  std::atomic<int> ran{0};
  EXPECT_EQ(ThreadStart("failing", FailingBody, &ran, 0, 0, 0), nullptr);
  EXPECT_EQ(ran.load(), 1);  // the body ran; the sanitizer checks that the record was freed
}

}  // namespace
