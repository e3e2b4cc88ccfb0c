#include "platform/port.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/errorarg.h"
#include "platform/memory.h"
#include "platform/polltimer.h"
#include "runtime/errcodes.h"

namespace {

std::string lastArgument;

TEST(Ports, AreNotOfferedAndNameTheMissingPort) {
  InstallErrorArgumentSetter([](const char *text) { lastArgument = text; });
  EXPECT_EQ(CreatePlatformPort(), ERR_CREATEPORT);
  EXPECT_EQ(SendPlatformMessage("OTHERAPP.1"), ERR_FINDPORT);
  EXPECT_EQ(lastArgument, "OTHERAPP.1");
  InstallErrorArgumentSetter(nullptr);
}

TEST(Memory, ZeroSizeAllocatesNothingAndClearZeroes) {
  EXPECT_EQ(MemAlloc(0, 1), nullptr);
  auto *p = static_cast<unsigned char *>(MemAlloc(64, 1));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; i++) EXPECT_EQ(p[i], 0);
  MemFree(p);
}

TEST(Memory, PhysicalSizeSaturatesInsteadOfWrapping) {
  uint32_t reported = GetPhysicalMemory();
  EXPECT_GT(reported, 0u);
  EXPECT_EQ(PhysicalMemoryFromPages(1ull << 20, 4096), 0xFFFFFFFFu);  // 4 GiB exactly
  EXPECT_EQ(PhysicalMemoryFromPages(6ull << 20, 4096), 0xFFFFFFFFu);  // 24 GiB
  EXPECT_EQ(PhysicalMemoryFromPages(1000, 4096), 4096000u);
}

// The event library's interval list, as the poll timer sees it.
int registered, addCalls, removeCalls;
uint32_t addResult;

uint32_t FakeAdd(VmState *, const qmIntervalId *id, uint32_t ms, uint32_t noHandler) {
  addCalls++;
  EXPECT_EQ(id->id, 0u);
  EXPECT_EQ(id->handle, 1u);
  EXPECT_EQ(ms, 20u);
  EXPECT_EQ(noHandler, 1u);
  if (addResult == 0) registered++;
  return addResult;
}

void FakeRemove(VmState *, const qmIntervalId *) {
  removeCalls++;
  registered--;
}

TEST(PollTimer, RegistersOnceForBothClientsAndRemovesWithTheLast) {
  InstallPollTimerHooks(FakeAdd, FakeRemove);
  registered = addCalls = removeCalls = 0;
  addResult = 0;
  EXPECT_EQ(AcquirePollTimer(nullptr, POLL_CLIENT_SOUND), 0u);
  EXPECT_EQ(AcquirePollTimer(nullptr, POLL_CLIENT_EVENTS), 0u);
  EXPECT_EQ(addCalls, 1);
  ReleasePollTimer(nullptr, POLL_CLIENT_SOUND);
  EXPECT_EQ(registered, 1);
  ReleasePollTimer(nullptr, POLL_CLIENT_SOUND);  // a second release changes nothing
  EXPECT_EQ(removeCalls, 0);
  ReleasePollTimer(nullptr, POLL_CLIENT_EVENTS);
  EXPECT_EQ(registered, 0);
  EXPECT_EQ(removeCalls, 1);

  // A failed registration is passed on and leaves the client unregistered.
  addResult = ERR_MEM;
  EXPECT_EQ(AcquirePollTimer(nullptr, POLL_CLIENT_EVENTS), static_cast<uint32_t>(ERR_MEM));
  addResult = 0;
  EXPECT_EQ(AcquirePollTimer(nullptr, POLL_CLIENT_SOUND), 0u);
  EXPECT_EQ(addCalls, 3);
  ReleasePollTimer(nullptr, POLL_CLIENT_SOUND);
  EXPECT_EQ(registered, 0);
  EXPECT_EQ(AcquirePollTimer(nullptr, 2), static_cast<uint32_t>(ERR_WRONGUSAGE));
  InstallPollTimerHooks(nullptr, nullptr);
}

}  // namespace
