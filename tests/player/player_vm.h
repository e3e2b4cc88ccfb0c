// A VM set up the way the player sets one up for a run: the script state of start-up and
// every library of the player's table (or of the table given), freed in the shut-down order.
// Library tests build on it, so that what a script sees in a test is what it sees in the player.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "player/libtable.h"
#include "player/startup.h"
#include "player/wiring.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "tests/runtime/vm/vm_test_util.h"

struct PlayerVm : VmFixture {
  const qmLibrary *const *libraries;

  explicit PlayerVm(const qmLibrary *const *table = kPlayerLibraries) : libraries(table) {
    EXPECT_EQ(OpenScriptState(L), 0u);
    EXPECT_EQ(OpenLibraries(L, libraries), 0u);
    WireLibraryServices(L);
    vm_settop(L, 0);
  }
  ~PlayerVm() { Close(); }
  // The shut-down half; a fixture that must clean up after the VM is gone calls it first.
  void Close() {
    if (L == nullptr) return;
    UnwireLibraryServices(L);
    FreeLibraries(L, libraries);
    FreeRuntimeSupport();
    vm_close(L);
    L = nullptr;
  }

  // The script's chunk name, as the player gives it.
  uint32_t Run(const std::string &text, const char *chunkName = "@main.qms") {
    return VmFixture::Run(text, chunkName);
  }
};
