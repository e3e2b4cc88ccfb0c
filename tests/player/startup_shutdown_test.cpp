// The whole run in this process with fake libraries that record what happens: the opening
// order, the fixed shut-down order, and finalisers that still find the runtime support.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/libtable.h"
#include "player/mainrun.h"
#include "player/playerrun.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "tests/platform/tempdir.h"
#include "tools/appletwriter.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

namespace {

std::vector<std::string> gEvents;

uint32_t Finaliser(VmState *) {
  gEvents.push_back(GetMainState() ? "finaliser with runtime" : "finaliser without runtime");
  return 0;
}

// mkfinal(): a user-data value whose finaliser records whether the runtime support exists.
uint32_t MakeFinal(VmState *L) {
  vm_newuserdata(L, 8);
  vm_newtable(L);
  vm_pushstring(L, "__gc");
  vm_pushcfunction(L, Finaliser);
  vm_settable(L, -3);
  vm_setmetatable(L, -2);
  vm_pushstring(L, "keep");
  vm_pushvalue(L, -2);
  vm_settable(L, VM_REGISTRYINDEX);
  vm_pop(L, 1);
  return 0;
}

uint32_t InitFirst(VmState *L) {
  gEvents.push_back("init first");
  vm_register(L, "mkfinal", MakeFinal);
  return 0;
}
uint32_t InitSecond(VmState *) {
  gEvents.push_back("init second");
  return 0;
}
uint32_t InitFailing(VmState *) {
  gEvents.push_back("init failing");
  return 1000;
}
void FreeFirst(VmState *) { gEvents.push_back("free first"); }
void FreeSecond(VmState *) { gEvents.push_back("free second"); }
void FreeFailing(VmState *) { gEvents.push_back("free failing"); }

const qmCommandEntry kNoCommands[] = {{nullptr, nullptr}};
// Opened first, freed last: the shut-down order is the ranks', not the table's.
const qmLibrary kFirst = {"first", kNoCommands, nullptr, InitFirst, FreeFirst, FREERANK_EVENT};
const qmLibrary kSecond = {"second", kNoCommands, nullptr, InitSecond, FreeSecond, FREERANK_DISPLAY};
const qmLibrary kFailing = {"failing", kNoCommands, nullptr, InitFailing, FreeFailing, FREERANK_DISPLAY};
const qmLibrary *const kFakeLibraries[] = {&kFirst, &kSecond, nullptr};
const qmLibrary *const kFailingLibraries[] = {&kFirst, &kFailing, nullptr};

int RunPlayer(const qmLibrary *const *libraries, const std::string &applet) {
  CurrentDirGuard keepDir;
  ResetPlayerRun();
  GetPlayerRun()->libraries = libraries;
  std::vector<std::string> args = {"qp", "-QUIET", applet};
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  int status = PlayerMain(int(argv.size()), argv.data());
  ResetPlayerRun();
  return status;
}

}  // namespace

TEST(StartupShutdown, OrderOfLibrariesPluginsAndFinalisers) {
  TempDir dir;
  qmtools::AsmResult a = qmtools::AssembleText(
      ".func source=\"s.qms\" maxstack=2\n"
      "  .k \"mkfinal\"\n"
      "      GETGLOBAL 0 k0 @1\n"
      "      CALL 0 1 1\n"
      "      RETURN 0 1 @2\n"
      ".end\n");
  ASSERT_TRUE(a.proto) << a.error;
  qmtools::WriteBytes(dir / "s.qma", qmtools::MakeSimpleApplet(qmtools::BuildChunk(*a.proto), "s.qms", 2));

  gEvents.clear();
  EXPECT_EQ(RunPlayer(kFakeLibraries, dir / "s.qma"), 0);
  std::vector<std::string> expected = {"init first", "init second", "free second", "free first",
                                       "finaliser with runtime"};
  EXPECT_EQ(gEvents, expected);
  EXPECT_EQ(GetMainState(), nullptr);

  // A library that fails to open ends the start; every library is still freed.
  gEvents.clear();
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunPlayer(kFailingLibraries, dir / "s.qma"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Out of memory!\n");
  expected = {"init first", "init failing", "free failing", "free first"};
  EXPECT_EQ(gEvents, expected);
}
