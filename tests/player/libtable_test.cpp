#include <gtest/gtest.h>

#include <set>
#include <string>

#include "player/libtable.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "tests/runtime/rt_test_util.h"

// Every library of the player opens in a fresh state, frees again, and has a name of its own
// and a place in the shut-down order.
TEST(Libraries, OpenAndFreeEveryLibrary) {
  RtVm vm;
  VmState *L = vm.L;
  EXPECT_EQ(OpenLibraries(L, kPlayerLibraries), 0u);
  std::set<std::string> names;
  for (const qmLibrary *const *row = kPlayerLibraries; *row; row++) {
    EXPECT_TRUE(names.insert((*row)->name).second) << (*row)->name;
    EXPECT_GE((*row)->freeRank, FREERANK_SOUNDDEVICE) << (*row)->name;
    EXPECT_LE((*row)->freeRank, FREERANK_LAST) << (*row)->name;
  }
  FreeLibraries(L, kPlayerLibraries);
}
