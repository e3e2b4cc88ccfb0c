// The event queue: order, drops, prefix removal with payload ownership, expiry, owners, and
// posting from several threads against the remover.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/memory.h"
#include "runtime/eventqueue.h"

namespace {

struct QueueScope {
  QueueScope() { InitEventQueue(); }
  ~QueueScope() {
    FreeEventQueue();
    SetEventScaleQuery(nullptr);
  }
};

uint32_t TypeAt(uint32_t i) {
  qmQueuedEvent m{};
  EXPECT_EQ(PeekEvent(i, &m, 0), i + 1);
  return m.type;
}

uint32_t Arg1At(uint32_t i) {
  qmQueuedEvent m{};
  PeekEvent(i, &m, 0);
  return m.x;
}

TEST(EventQueue, KeepsOrderAndDropsWhenFull) {
  QueueScope scope;
  for (uint32_t i = 0; i < kEventQueueSize; i++) EXPECT_EQ(PostEvent(nullptr, 1, i, 0, 0, nullptr), 1);
  void *payload = MemAlloc(8, 1);
  EXPECT_EQ(PostEvent(nullptr, 1, 999, 0, 0, payload), 0);  // the 257th: dropped, payload still ours
  MemFree(payload);
  EXPECT_EQ(GetEventCount(), kEventQueueSize);
  for (uint32_t i = 0; i < kEventQueueSize; i++) EXPECT_EQ(Arg1At(i), i);
  qmQueuedEvent m{};
  EXPECT_EQ(PeekEvent(kEventQueueSize, &m, 0), 0u);
}

TEST(EventQueue, PeekCopiesFieldsByType) {
  QueueScope scope;
  int owner;
  PostEvent(&owner, 3, 1, 2, 65, nullptr);
  PostEvent(&owner, 14, 7, 8, 9, nullptr);
  PostEvent(&owner, 16, 10, 20, 4, nullptr);
  qmQueuedEvent m{};
  EXPECT_EQ(PeekEvent(0, &m, 0), 1u);
  EXPECT_EQ(m.owner, &owner);
  EXPECT_EQ(m.keyDown, 1u);
  EXPECT_EQ(m.keyArg, 2u);
  EXPECT_EQ(m.keyCode, 65u);
  PeekEvent(1, &m, 0);
  EXPECT_EQ(m.arg1, 7u);
  EXPECT_EQ(m.arg2, 8u);
  PeekEvent(2, &m, 0);
  EXPECT_EQ(m.x, 10u);
  EXPECT_EQ(m.y, 20u);
  EXPECT_EQ(m.buttons, 4u);
  EXPECT_EQ(PeekEvent(3, &m, 0), 0u);
}

TEST(EventQueue, RemovesPrefixesAndFreesEachPayloadOnce) {
  QueueScope scope;
  // Payloads of types below 22 belong to the queue; under AddressSanitizer a double free or a
  // leak of any of them fails the test.
  for (uint32_t i = 0; i < 3; i++) PostEvent(nullptr, 1, i, 0, 0, MemAlloc(16, 1));
  RemoveEvents(0, 1);
  ASSERT_EQ(GetEventCount(), 2u);
  EXPECT_EQ(Arg1At(0), 1u);
  EXPECT_EQ(Arg1At(1), 2u);
  RemoveEvents(255, 1);  // beyond the valid entries: all that are there, each freed once
  EXPECT_EQ(GetEventCount(), 0u);
  RemoveEvents(255, 1);  // nothing left: nothing freed again
  RemoveEvents(0, 1);

  PostEvent(nullptr, 1, 0, 0, 0, MemAlloc(16, 1));
  RemoveEvents(300, 1);  // above 255: does nothing
  EXPECT_EQ(GetEventCount(), 1u);
  RemoveEvents(kRemoveAllEvents, 1);
  EXPECT_EQ(GetEventCount(), 0u);

  // A payload of type 22 or above is never freed by the queue; a taken one belongs to the reader.
  static char foreign[4];
  PostEvent(nullptr, 22, 0, 0, 0, foreign);
  void *taken = MemAlloc(16, 1);
  PostEvent(nullptr, 2, 0, 0, 0, taken);
  qmQueuedEvent m{};
  PeekEvent(1, &m, 1);
  EXPECT_EQ(m.payload, taken);
  RemoveEvents(kRemoveAllEvents, 1);
  MemFree(taken);
}

TEST(EventQueue, ExpiryDropsThePrefixUpToTheNewestOldEvent) {
  QueueScope scope;
  qmTimeval t0 = {100, 0}, t1 = {100, 200000}, t2 = {101, 600000};
  PostEventStamped(nullptr, 1, 0, 0, 0, MemAlloc(4, 1), &t0);
  PostEventStamped(nullptr, 1, 1, 0, 0, nullptr, &t1);
  PostEventStamped(nullptr, 1, 2, 0, 0, nullptr, &t2);
  qmTimeval now = {102, 100000};  // ages 2.1 s, 1.9 s and 0.5 s
  ExpireEventsAt(&now, 1500);
  ASSERT_EQ(GetEventCount(), 1u);
  EXPECT_EQ(Arg1At(0), 2u);
  ExpireEventsAt(&now, 1500);
  EXPECT_EQ(GetEventCount(), 1u);
  // An entry younger than the time-out in front of an old one goes with it.
  qmTimeval old = {90, 0};
  PostEventStamped(nullptr, 1, 3, 0, 0, nullptr, &old);
  ExpireEventsAt(&now, 1500);
  EXPECT_EQ(GetEventCount(), 0u);
}

TEST(EventQueue, ResizeDroppedWhileOwnerScalesAndOwnersDetach) {
  QueueScope scope;
  static int scaling;
  int plain;
  SetEventScaleQuery([](const void *owner) { return owner == &scaling ? 1 : 0; });
  EXPECT_EQ(PostEvent(&scaling, EVENT_RESIZED, 640, 480, 0, nullptr), 0);
  EXPECT_EQ(PostEvent(&plain, EVENT_RESIZED, 640, 480, 0, nullptr), 1);
  EXPECT_EQ(PostEvent(&scaling, 1, 0, 0, 0, nullptr), 1);
  DetachEventOwner(&scaling);
  qmQueuedEvent m{};
  PeekEvent(0, &m, 0);
  EXPECT_EQ(m.owner, &plain);
  PeekEvent(1, &m, 0);
  EXPECT_EQ(m.owner, nullptr);
  EXPECT_EQ(TypeAt(1), 1u);
}

TEST(EventQueue, ThreadsPostWhileTheMainThreadRemoves) {
  QueueScope scope;
  constexpr int kThreads = 4, kPerThread = 10000;
  std::atomic<int> dropped{0};
  std::atomic<int> running{kThreads};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; t++) {
    posters.emplace_back([t, &dropped, &running] {
      for (int i = 0; i < kPerThread; i++) {
        void *payload = MemAlloc(8, 0);
        if (!PostEvent(nullptr, 1, uint32_t(t), uint32_t(i), 0, payload)) {
          MemFree(payload);  // a refused payload stays with its poster
          dropped++;
        }
      }
      running--;
    });
  }
  // The reader sees each poster's events in the order they were posted.
  std::vector<int> next(kThreads, 0);
  int received = 0;
  auto drain = [&] {
    LockEventQueue();
    qmQueuedEvent m{};
    while (PeekEvent(0, &m, 0)) {
      EXPECT_GE(int(m.y), next[m.x]);
      next[m.x] = int(m.y) + 1;
      received++;
      RemoveEvents(0, 0);
    }
    UnlockEventQueue();
  };
  while (running > 0) drain();
  for (auto &p : posters) p.join();
  drain();
  EXPECT_EQ(received + dropped, kThreads * kPerThread);
}

}  // namespace
