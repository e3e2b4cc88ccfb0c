// The whole run in this process with fake libraries that record what happens: the opening
// order, the fixed shut-down order, and finalisers that still find the runtime support.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "player/libtable.h"
#include "player/mainrun.h"
#include "player/playerrun.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
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

// The VM may not grow any more from here on; then it is asked for a string it has not made.
void Exhaust(VmState *L) {
  G(L)->memlimit = G(L)->nblocks;
  vm_pushstring(L, "a string nobody made before");
}
uint32_t ExhaustCommand(VmState *L) {
  Exhaust(L);
  return 0;
}

uint32_t InitFirst(VmState *L) {
  gEvents.push_back("init first");
  vm_register(L, "mkfinal", MakeFinal);
  vm_register(L, "exhaust", ExhaustCommand);
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
void FreeExhausting(VmState *L) {
  gEvents.push_back("free exhausting");
  Exhaust(L);
}

const qmCommandEntry kNoCommands[] = {{nullptr, nullptr}};
// Opened first, freed last: the shut-down order is the ranks', not the table's.
const qmLibrary kFirst = {"first", kNoCommands, nullptr, InitFirst, FreeFirst, FREERANK_EVENT};
const qmLibrary kSecond = {"second", kNoCommands, nullptr, InitSecond, FreeSecond, FREERANK_DISPLAY};
const qmLibrary kFailing = {"failing", kNoCommands, nullptr, InitFailing, FreeFailing, FREERANK_DISPLAY};
const qmLibrary *const kFakeLibraries[] = {&kFirst, &kSecond, nullptr};
const qmLibrary *const kFailingLibraries[] = {&kFirst, &kFailing, nullptr};
const qmLibrary kExhausting = {"exhausting", kNoCommands, nullptr, nullptr, FreeExhausting, FREERANK_DISPLAY};
const qmLibrary *const kExhaustingLibraries[] = {&kFirst, &kExhausting, nullptr};

int RunPlayer(const qmLibrary *const *libraries, const std::string &applet) {
  CurrentDirGuard keepDir;
  std::vector<std::string> args = {"qp", "-QUIET", applet};
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  return PlayerMainWith(int(argv.size()), argv.data(), libraries);
}

// An applet of the text, written into dir as name.
std::string WriteApplet(const TempDir &dir, const std::string &name, const std::string &text) {
  qmtools::AsmResult a = qmtools::AssembleText(text);
  EXPECT_TRUE(a.proto) << a.error;
  if (!a.proto) return "";
  std::string path = dir / (name + ".qma");
  qmtools::WriteBytes(path, qmtools::MakeSimpleApplet(qmtools::BuildChunk(*a.proto), name + ".qms", 3));
  return path;
}

// The final report goes to standard error when no desktop can show the requester: these runs
// have none, whatever the environment they were started in.
void WithoutDesktop() { setenv("SDL_VIDEODRIVER", "dummy", 1); }

}  // namespace

TEST(StartupShutdown, OrderOfLibrariesPluginsAndFinalisers) {
  WithoutDesktop();
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
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunPlayer(kFailingLibraries, dir / "s.qma"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Out of memory!\n");
  expected = {"init first", "init failing", "free failing", "free first"};
  EXPECT_EQ(gEvents, expected);
}

// Memory that is gone for good, from the script or from a library's free, still gives the
// report and status 1; every library is freed all the same.
TEST(StartupShutdown, OutOfMemoryUntilTheEnd) {
  WithoutDesktop();
  TempDir dir;
  std::string fine = WriteApplet(dir, "fine",
                                 ".func source=\"fine.qms\" maxstack=2\n"
                                 "  .k \"mkfinal\"\n"
                                 "      GETGLOBAL 0 k0 @1\n"
                                 "      CALL 0 1 1\n"
                                 "      RETURN 0 1 @2\n"
                                 ".end\n");
  std::string exhausting = WriteApplet(dir, "exhausting",
                                       ".func source=\"exhausting.qms\" maxstack=2\n"
                                       "  .k \"mkfinal\" \"exhaust\"\n"
                                       "      GETGLOBAL 0 k0 @1\n"
                                       "      CALL 0 1 1\n"
                                       "      GETGLOBAL 0 k1 @2\n"
                                       "      CALL 0 1 1\n"
                                       "      RETURN 0 1 @3\n"
                                       ".end\n");
  struct Case {
    const char *name;
    const qmLibrary *const *libraries;
    std::string applet;
    std::vector<std::string> freed;
    std::string report;  // the start of standard error: no desktop shows the requester
  } cases[] = {
      {"the script", kFakeLibraries, exhausting, {"free second", "free first"},
       "Out of memory!\nFile: exhausting.qms (current line: 2"},
      {"a library's free", kExhaustingLibraries, fine, {"free exhausting", "free first"}, "Out of memory!\n"},
      {"the script, then a library's free", kExhaustingLibraries, exhausting, {"free exhausting", "free first"},
       "Out of memory!\nFile: exhausting.qms (current line: 2"},
  };
  for (const Case &c : cases) {
    gEvents.clear();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunPlayer(c.libraries, c.applet), 1) << c.name;
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.rfind(c.report, 0), 0u) << c.name << ": " << out;
    std::vector<std::string> freed;
    for (const std::string &e : gEvents)
      if (e.rfind("free ", 0) == 0) freed.push_back(e);
    EXPECT_EQ(freed, c.freed) << c.name;
    EXPECT_EQ(GetMainState(), nullptr) << c.name;
  }
}
