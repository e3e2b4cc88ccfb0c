#include "platform/port.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/errorarg.h"
#include "platform/memory.h"
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

}  // namespace
