// A VM set up the way the player sets one up for a run: the script state of start-up and
// every library of the player's table (or of the table given), freed in the shut-down order.
// Library tests build on it, so that what a script sees in a test is what it sees in the player.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/libtable.h"
#include "player/startup.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

struct PlayerVm {
  VmState *L = vm_open();
  const qmLibrary *const *libraries;

  explicit PlayerVm(const qmLibrary *const *table = kPlayerLibraries) : libraries(table) {
    EXPECT_EQ(OpenScriptState(L), 0u);
    EXPECT_EQ(OpenLibraries(L, libraries), 0u);
    vm_settop(L, 0);
  }
  ~PlayerVm() { Close(); }
  // The shut-down half; a fixture that must clean up after the VM is gone calls it first.
  void Close() {
    if (L == nullptr) return;
    FreeLibraries(L, libraries);
    FreeRuntimeSupport();
    vm_close(L);
    L = nullptr;
  }
  PlayerVm(const PlayerVm &) = delete;
  PlayerVm &operator=(const PlayerVm &) = delete;

  // Pops the stack top into the global of that name.
  void SetGlobal(const char *name) {
    vm_pushstring(L, name);
    vm_insert(L, -2);
    vm_settable(L, VM_GLOBALSINDEX);
  }

  // Assembles the program text and runs it protected: 0 or the raised code.
  uint32_t Run(const std::string &text, const char *chunkName = "@main.qms") {
    qmtools::AsmResult r = qmtools::AssembleText(text);
    EXPECT_TRUE(r.proto) << r.error;
    if (!r.proto) return 0xFFFFFFFF;
    std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
    uint32_t code = vm_loadbuffer(L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), chunkName);
    if (code) return code;
    return vm_pcall(L, 0, VM_MULTRET, 0);
  }
};
