// Every command of every library, called with a value of the wrong type in one argument
// position at a time (the positions before it plain numbers, for the ids and sizes most
// commands take first). The command may fail however its arguments make it fail, but it never
// crashes and never leaves memory behind: a handler reads its arguments before it allocates,
// or holds what it allocated in an owner that the raise releases.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_gc.h"
#include "tests/platform/tempdir.h"
#include "tests/player/player_vm.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define QM_SWEEP_LEAKS 1
#endif

namespace {

// Commands the sweep leaves out, each for a reason of its own: they wait for the user or for
// time to pass with arguments that read as valid, or end the process.
const std::set<std::string> kLeftOut = {
    "WaitEvent",   // waits for an event that never comes
    "WaitKeyDown", "WaitLeftMouse", "WaitRightMouse", "WaitMidMouse", "WaitTimer", "WaitPatternPosition",
    "WaitSampleEnd", "End", "Exit",
};

// The largest number of arguments any command reads.
constexpr int kPositions = 10;

#ifdef QM_SWEEP_LEAKS
// The leak reports of a check, one text per leaked block (its size line and its stack), that no
// earlier check reported: a block leaked once stays unreachable, and every later check would
// name it again.
std::vector<std::string> NewLeaks(std::set<std::string> *known, const std::string &file) {
  std::fflush(stderr);
  const int saved = dup(2);
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, 2);
  close(fd);
  __lsan_do_recoverable_leak_check();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::vector<std::string> found;
  std::string text = ReadWholeFile(file), leak;
  // Blocks that a system library allocated and keeps for itself, with no frame of ours on the
  // way (a fast stack stops at the first library built without frame pointers), are not the
  // commands' to free.
  auto flush = [&] {
    if (!leak.empty() && leak.find(" ../../") != std::string::npos && known->insert(leak).second)
      found.push_back(leak);
    leak.clear();
  };
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.find("leak of") != std::string::npos) {
      flush();
      // The stack alone names the block: the byte count of an indirect leak changes with what hangs on it.
      leak = line.substr(0, line.find(' '));
    } else if (!leak.empty() && line.find("    #") == 0) {
      leak += "\n" + line;
    } else {
      flush();
    }
  }
  flush();
  return found;
}
#endif

// A table that answers `true` for every field it is asked: a wrong type in every option of an
// option table at once.
uint32_t AnswerTrue(VmState *L) {
  vm_pushboolean(L, 1);
  return 1;
}
void PushWrongEverywhere(VmState *L) {
  vm_newtable(L);
  vm_newtable(L);
  vm_pushstring(L, "__index");
  vm_pushcfunction(L, AnswerTrue);
  vm_settable(L, -3);
  vm_setmetatable(L, -2);
}

bool ArgumentError(uint32_t code) {
  switch (code) {
    case ERR_NUMEXPECTED: case ERR_STREXPECTED: case ERR_TABEXPECTED: case ERR_STRORNUM:
    case ERR_FUNCEXPECTED: case ERR_UDEXPECTED: case ERR_NUMTABLEARG: case ERR_STRTABLEARG:
      return true;
    default: return false;
  }
}

}  // namespace

TEST(ArgumentSweep, WrongTypesFailWithoutCrashOrLeak) {
#ifndef QM_SWEEP_LEAKS
  GTEST_SKIP() << "leaks are looked for in the sanitized build";
#else
  TempDir dir;  // files the commands make with names from plain numbers land here
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  PlayerVm vm;
  // The player always has its first display; many commands draw into it.
  ASSERT_EQ(vm.Run(".func maxstack=4\n  .k \"createdisplay\" 1 \"opendisplay\"\n"
                   "      GETGLOBAL 0 k0\n      LOADK 1 k1\n      CALL 0 2 1\n"
                   "      GETGLOBAL 0 k2\n      LOADK 1 k1\n      CALL 0 2 1\n      RETURN 0 1\n.end\n"),
            0u);
  std::set<std::string> knownLeaks;
  NewLeaks(&knownLeaks, dir.path() + "/leaks.txt");  // what the set-up keeps is not the commands'
  // A watchdog names a command that does not come back.
  std::atomic<const char *> current{nullptr};
  std::atomic<uint64_t> calls{0};
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    uint64_t seen = ~uint64_t(0);
    while (!done) {
      for (int i = 0; i < 600 && !done; i++) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (done) break;
      if (calls.load() == seen) {
        std::fprintf(stderr, "the sweep is stuck in %s\n", current.load() ? current.load() : "?");
        std::abort();
      }
      seen = calls.load();
    }
  });
  int argumentErrors = 0, otherEnds = 0;
  for (const qmLibrary *const *lib = vm.libraries; *lib; lib++) {
    for (const qmCommandEntry *c = (*lib)->commands; c->name; c++) {
      if (kLeftOut.count(c->name)) continue;
      current = c->name;
      // A value of no type a reader takes, then an option table whose every field is wrong.
      for (int kind = 0; kind < 2; kind++)
        for (int wrong = 1; wrong <= kPositions; wrong++) {
          vm_settop(vm.L, 0);
          vm_pushcfunction(vm.L, c->handler);
          for (int i = 1; i < wrong; i++) vm_pushnumber(vm.L, 1);
          if (kind == 0) vm_pushboolean(vm.L, 1);
          else PushWrongEverywhere(vm.L);
          const uint32_t code = vm_pcall(vm.L, wrong, 0, 0);
          calls++;
          (ArgumentError(code) ? argumentErrors : otherEnds)++;
        }
      vm_settop(vm.L, 0);
      vm_collectgarbage(vm.L);
      for (const std::string &leak : NewLeaks(&knownLeaks, dir.path() + "/leaks.txt"))
        ADD_FAILURE() << (*lib)->name << ": " << c->name << " leaves a block behind:\n" << leak;
    }
  }
  done = true;
  watchdog.join();
  std::printf("%d argument errors, %d other ends\n", argumentErrors, otherEnds);
#endif
}
