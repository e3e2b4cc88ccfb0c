// Timers on the controllable clock: firing times, the walk that reports them, removal.
#include "sdl_fixture.h"

namespace sdltest {
namespace {

class TimerTest : public testing::Test {
 protected:
  void SetUp() override { SetDesktopClock(FakeClock::Now, FakeClock::Sleep); }
  void TearDown() override {
    FreeAllPlatformTimers();
    SetDesktopClock(nullptr, nullptr);
  }
  // Owner ids of the fired timers in list order, with their kinds.
  std::vector<std::pair<uint32_t, uint32_t>> Fired() {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    uint32_t kind;
    qmObjectId owner{};
    qmPlatformTimer *node = NextFiredTimer(nullptr, &kind, &owner);
    for (;;) {
      if (kind != TIMER_NOTFIRED) out.push_back({owner.id, kind});
      if (!node) break;
      node = NextFiredTimer(node, &kind, &owner);
    }
    return out;
  }
};

using Fires = std::vector<std::pair<uint32_t, uint32_t>>;

TEST_F(TimerTest, IntervalFiresAtOnceThenEveryPeriod) {
  qmObjectId a{1, 0};
  ASSERT_EQ(ControlPlatformTimer(TIMEROP_ADDINTERVAL, &a, 100), 0u);
  EXPECT_EQ(Fired(), (Fires{{1, 0}}));
  FakeClock::Advance(99000);
  EXPECT_EQ(Fired(), Fires{});
  FakeClock::Advance(1000);
  EXPECT_EQ(Fired(), (Fires{{1, 0}}));
  FakeClock::Advance(350000);  // far behind: one firing, not a burst
  EXPECT_EQ(Fired(), (Fires{{1, 0}}));
  EXPECT_EQ(Fired(), Fires{});
  EXPECT_EQ(MicrosToNextTimer(), 100000u);
}

TEST_F(TimerTest, OneShotFiresOnceAndIsFreed) {
  qmObjectId a{1, 0}, b{2, 0}, c{3, 0};
  ControlPlatformTimer(TIMEROP_ADDONESHOT, &a, 500);
  ControlPlatformTimer(TIMEROP_ADDONESHOT, &b, 50);
  ControlPlatformTimer(TIMEROP_ADDONESHOT, &c, 500);
  FakeClock::Advance(50000);
  // The middle node is freed during the walk; the walk still reaches the third.
  EXPECT_EQ(Fired(), (Fires{{2, 1}}));
  EXPECT_EQ(FindPlatformTimer(TIMER_ONESHOT, &b, nullptr), nullptr);
  FakeClock::Advance(450000);
  EXPECT_EQ(Fired(), (Fires{{1, 1}, {3, 1}}));
  EXPECT_EQ(MicrosToNextTimer(), UINT64_MAX);
}

TEST_F(TimerTest, RemoveChangeAndMissingOwners) {
  qmObjectId a{1, 0}, b{1, 77};  // same number, one an automatic id
  ControlPlatformTimer(TIMEROP_ADDINTERVAL, &a, 10);
  ControlPlatformTimer(TIMEROP_ADDINTERVAL, &b, 10);
  Fired();
  qmPlatformTimer *next = nullptr;
  qmPlatformTimer *found = FindPlatformTimer(TIMER_INTERVAL, &a, &next);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(next, FindPlatformTimer(TIMER_INTERVAL, &b, nullptr));
  EXPECT_EQ(ControlPlatformTimer(TIMEROP_REMOVEONESHOT, &a, 0), 0u) << "no such one-shot: nothing, no error";
  EXPECT_EQ(ControlPlatformTimer(TIMEROP_CHANGEINTERVAL, &a, 1000), 0u);
  EXPECT_EQ(Fired(), (Fires{{1, 0}})) << "a changed interval fires at once";
  FakeClock::Advance(10000);
  EXPECT_EQ(Fired(), (Fires{{1, 0}})) << "only the 10 ms one";
  EXPECT_EQ(ControlPlatformTimer(TIMEROP_REMOVEINTERVAL, &b, 0), 0u);
  FakeClock::Advance(990000);
  EXPECT_EQ(Fired(), (Fires{{1, 0}}));
  EXPECT_EQ(ControlPlatformTimer(99, &a, 0), 0u);
}

TEST_F(TimerTest, ZeroPeriodDoesNotSpin) {
  qmObjectId a{1, 0};
  ControlPlatformTimer(TIMEROP_ADDINTERVAL, &a, 0);
  Fired();
  EXPECT_EQ(Fired(), Fires{}) << "a 0 ms period counts as 1 ms";
  FakeClock::Advance(1000);
  EXPECT_EQ(Fired(), (Fires{{1, 0}}));
}

TEST_F(TimerTest, EmptyListWalk) {
  uint32_t kind = 0;
  qmObjectId owner{};
  EXPECT_EQ(NextFiredTimer(nullptr, &kind, &owner), nullptr);
  EXPECT_EQ(kind, uint32_t(TIMER_NOTFIRED));
}

}  // namespace
}  // namespace sdltest
