#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

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

namespace {

std::string gFreeOrder;
void FreeA(VmState *) { gFreeOrder += "A"; }
void StopA(VmState *) { gFreeOrder += "a"; }
void FreeB(VmState *) { gFreeOrder += "B"; }
void FreeC(VmState *) { gFreeOrder += "C"; }
const qmCommandEntry kNoCommands[] = {{nullptr, nullptr}};

}  // namespace

// A library with an early step (the sound output) runs it at its own rank, its free at the other.
TEST(Libraries, EarlyStepRunsAtItsOwnRank) {
  RtVm vm;
  const qmLibrary a = {"a", kNoCommands, nullptr, nullptr, FreeA, FREERANK_SOUND, StopA, FREERANK_SOUNDDEVICE};
  const qmLibrary b = {"b", kNoCommands, nullptr, nullptr, FreeB, FREERANK_DISPLAY};
  const qmLibrary c = {"c", kNoCommands, nullptr, nullptr, FreeC, FREERANK_LAST};
  const qmLibrary *const table[] = {&c, &a, &b, nullptr};
  gFreeOrder.clear();
  EXPECT_EQ(FreeLibraries(vm.L, table), 0u);
  EXPECT_EQ(gFreeOrder, "aBAC");
}

// The sound library stops its device first and frees its objects among the last.
TEST(Libraries, SoundStopsFirstAndFreesLast) {
  bool found = false;
  for (const qmLibrary *const *row = kPlayerLibraries; *row; row++) {
    if (std::string((*row)->name) != "sound") continue;
    found = true;
    EXPECT_EQ((*row)->earlyFreeRank, FREERANK_SOUNDDEVICE);
    EXPECT_NE((*row)->earlyFree, nullptr);
    EXPECT_EQ((*row)->freeRank, FREERANK_SOUND);
  }
  EXPECT_TRUE(found);
}

// Shut-down stops the sound output and the videos first and frees the rest in a fixed order,
// whatever the order the libraries open in.
TEST(Libraries, ShutDownOrder) {
  std::vector<std::pair<int32_t, std::string>> steps;
  for (const qmLibrary *const *row = kPlayerLibraries; *row; row++) {
    if ((*row)->earlyFree) steps.push_back({(*row)->earlyFreeRank, std::string("stop ") + (*row)->name});
    if ((*row)->free && (*row)->freeRank != FREERANK_LAST) steps.push_back({(*row)->freeRank, (*row)->name});
  }
  std::stable_sort(steps.begin(), steps.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
  std::vector<std::string> order;
  for (const auto &s : steps) order.push_back(s.second);
  const std::vector<std::string> expected = {
      "stop sound", "stop video", "display", "network", "graphics", "draw",   "brush", "bgpic",   "video",
      "vectorgraphics", "sprite", "system", "text", "anim", "layers", "dos", "memblock", "event", "sound"};
  EXPECT_EQ(order, expected);
}
