// Every command of every library, called with a value of the wrong type in one argument
// position at a time (the positions before it plain numbers, for the ids and sizes most
// commands take first). The command may fail however its arguments make it fail, but it never
// crashes and never leaves memory behind: a handler reads its arguments before it allocates,
// or holds what it allocated in an owner that the raise releases.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "io/fileobject.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_gc.h"
#include "tests/platform/tempdir.h"
#include "platform/audio.h"
#include "player/wiring.h"
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

// Commands that do not end with an argument error when the first value is a boolean, each for
// a reason of its own.
const std::set<std::string> kFirstNotChecked = {
    // They take a value of any type first.
    "Assert", "DebugPrint", "DebugStr", "DebugVal", "GetMetaTable", "GetType", "NPrint", "Print", "RawEqual",
    "ToString", "RaiseOnError",
    // It takes any type but refuses a boolean with its own wrong-type error.
    "IIf",
    // They read no argument at all: what they are given is ignored.
    "GetVersion", "ShowPointer", "TextHeight", "SetMasterVolume",
    // The number the sweep puts second (1, not 0) is itself refused before the layer is read.
    "SetLayerFilter",
    // They answer that no vector plug-in is there before they read; the sweep loads none.
    "AddTextToPath", "DrawPath", "GetCurrentPoint", "GetPathExtents", "NormalizePath",
    // They answer that no music callback is there or running before they read.
    "CreateMusic", "FillMusicBuffer",
};

// The largest number of arguments any command reads.
constexpr int kPositions = 10;

#ifdef QM_SWEEP_LEAKS
// A frame of our own sources (the sanitizer's own frames carry relative paths too).
bool OursOnTheWay(const std::string &stack) {
  size_t at = 0;
  while ((at = stack.find("\n", at)) != std::string::npos) {
    at++;
    const size_t end = stack.find('\n', at);
    const std::string frame = stack.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (frame.find(" ../../") != std::string::npos && frame.find("/libsanitizer/") == std::string::npos) return true;
  }
  return false;
}

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
    if (!leak.empty() && OursOnTheWay(leak) && known->insert(leak).second) found.push_back(leak);
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

// The sweep runs in the sanitized build alone: elsewhere its helpers stand unused.
[[maybe_unused]] bool ArgumentError(uint32_t code) {
  switch (code) {
    case ERR_NUMEXPECTED: case ERR_STREXPECTED: case ERR_TABEXPECTED: case ERR_STRORNUM:
    case ERR_FUNCEXPECTED: case ERR_UDEXPECTED: case ERR_NUMTABLEARG: case ERR_STRTABLEARG:
      return true;
    default: return false;
  }
}

// A value the set-up hands a command: a number, a text, or a list of that many zeros.
struct SetupArg {
  enum Kind { NUM, STR, LIST } kind = NUM;
  double num = 0;
  const char *str = nullptr;
  SetupArg(double v) : num(v) {}  // NOLINT: rows read as plain numbers
  SetupArg(int v) : num(v) {}     // NOLINT
  SetupArg(const char *s) : kind(STR), str(s) {}  // NOLINT
  static SetupArg List(int count) {
    SetupArg a(count);
    a.kind = LIST;
    return a;
  }
};

const qmCommandEntry *FindCommand(const qmLibrary *const *libraries, const std::string &name) {
  for (const qmLibrary *const *lib = libraries; *lib; lib++)
    for (const qmCommandEntry *c = (*lib)->commands; c->name; c++)
      if (name == c->name) return c;
  return nullptr;
}

uint32_t CallCommand(PlayerVm &vm, const char *name, const std::vector<SetupArg> &args) {
  const qmCommandEntry *c = FindCommand(vm.libraries, name);
  if (!c) {
    ADD_FAILURE() << name << " is not a command";
    return ~0u;
  }
  VmState *L = vm.L;
  vm_settop(L, 0);
  vm_pushcfunction(L, c->handler);
  for (const SetupArg &a : args) {
    switch (a.kind) {
      case SetupArg::NUM: vm_pushnumber(L, a.num); break;
      case SetupArg::STR: vm_pushstring(L, a.str); break;
      case SetupArg::LIST:
        vm_newtable(L);
        for (int k = 0; k < int(a.num); k++) {
          vm_pushnumber(L, 0);
          vm_rawseti(L, -2, k);
        }
        break;
    }
  }
  const uint32_t code = vm_pcall(L, int(args.size()), 0, 0);
  vm_settop(L, 0);
  return code;
}

// An object of id 1 of every kind the commands take, so that a command finds what its
// numbers name and goes on to read the value that is wrong. Made again before every command:
// the command before may have freed or changed it. Creating with a number in use replaces the
// object, so this holds nothing twice.
struct SetupCall {
  const char *name;
  std::vector<SetupArg> args;
  bool mayFail;  // what the dummy drivers or the machine may not give
};
const std::vector<SetupCall> &ObjectsOfIdOne() {
  static const std::vector<SetupCall> calls = {
      {"EndSelect", {}, true},  // output back on the display, after a command chose a picture
      {"SelectDisplay", {1}, false},
      {"CreateBrush", {1, 32, 32}, false},
      {"CreateBGPic", {2, 32, 32}, false},  // 1 is the display's own; replacing it would take the layers
      {"CreateAnim", {1, 1, 16, 16, 2, 2}, false},
      {"CreateTextObject", {1, "Sweep"}, false},
      {"CreateSprite", {1, int(QMTYPE_BRUSH), 1}, false},
      {"AllocMem", {1, 256}, false},
      {"CreateSample", {1, SetupArg::List(64), 8000}, true},
      {"StartPath", {1}, false},
      {"MoveTo", {1, 0, 0}, false},
      {"LineTo", {1, 10, 10}, false},
      {"CreateClipRegion", {1, int(QMTYPE_BOX), 0, 0, 10, 10}, false},
      {"StartTimer", {1}, false},
      {"OpenFont", {1, ":::default_serif", 12}, false},
      {"OpenFile", {1, "sweep.txt", DOS_MODE_READWRITE}, true},
      {"OpenDirectory", {1, "."}, false},
      {"CreateButton", {1, 0, 0, 10, 10}, false},
      {"CreateKeyDown", {1, "A"}, false},
      {"CreatePointer", {1, int(QMTYPE_BRUSH), 1}, false},
  };
  return calls;
}

// The same with layers on: a brush on layer 1, a text object on layer 2 and an anim on layer 3.
const std::vector<SetupCall> &LayersOfIdOne() {
  static const std::vector<SetupCall> calls = {
      {"EnableLayers", {}, false},
      {"FreeLayers", {0}, false},
      {"DisplayBrush", {1, 0, 0}, false},
      {"DisplayTextObject", {1, 0, 0}, false},
      {"DisplayAnimFrame", {1, 0, 0, 1}, false},
  };
  return calls;
}

[[maybe_unused]] void MakeObjects(PlayerVm &vm, bool layers, std::set<std::string> *refused) {
  for (int part = 0; part < (layers ? 2 : 1); part++)
    for (const SetupCall &c : part ? LayersOfIdOne() : ObjectsOfIdOne()) {
      const uint32_t code = CallCommand(vm, c.name, c.args);
      if (std::getenv("QM_SWEEP_TRACE")) std::fprintf(stderr, "  set-up %s: %u\n", c.name, code);
      if (code && !c.mayFail && refused->insert(c.name).second)
        ADD_FAILURE() << "the set-up call " << c.name << " fails with " << code;
    }
  if (!layers) CallCommand(vm, "DisableLayers", {});
}

// Calls the handler with `count` arguments, plain numbers but for the one at `wrong`: a boolean
// (no reader takes it), or a table wrong in every field.
[[maybe_unused]] uint32_t CallWith(PlayerVm &vm, VmCFunction handler, int wrong, int count, bool table) {
  vm_settop(vm.L, 0);
  vm_pushcfunction(vm.L, handler);
  for (int i = 1; i <= count; i++) {
    if (i != wrong) vm_pushnumber(vm.L, 1);
    else if (table) PushWrongEverywhere(vm.L);
    else vm_pushboolean(vm.L, 1);
  }
  const uint32_t code = vm_pcall(vm.L, count, 0, 0);
  vm_settop(vm.L, 0);
  return code;
}

}  // namespace

TEST(ArgumentSweep, WrongTypesFailWithoutCrashOrLeak) {
#ifndef QM_SWEEP_LEAKS
  GTEST_SKIP() << "leaks are looked for in the sanitized build";
#else
  TempDir dir;  // files the commands make with names from plain numbers land here
  // The folder the program started in comes back however the test ends: the tests after this
  // one run there, and the temporary folder goes.
  struct BackToStart {
    std::string path = std::filesystem::current_path().string();
    ~BackToStart() { std::filesystem::current_path(path); }
  } back;
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  // Headless: the desktop layer's own drivers, not modules of the machine's window system.
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  PlayerVm vm;
  // The window work and the layer engine behind the display commands, as the player wires them.
  WireDisplayServices(vm.L);
  // A sound output that plays into nothing, so that the sound commands get past the device.
  SetAudioSink(&kNullAudioSink);
  // The player always has its first display; many commands draw into it.
  ASSERT_EQ(vm.Run(".func maxstack=4\n  .k \"createdisplay\" 1 \"opendisplay\"\n"
                   "      GETGLOBAL 0 k0\n      LOADK 1 k1\n      CALL 0 2 1\n"
                   "      GETGLOBAL 0 k2\n      LOADK 1 k1\n      CALL 0 2 1\n      RETURN 0 1\n.end\n"),
            0u);
  std::set<std::string> knownLeaks, refused;
  // What the set-up keeps is not the commands': both set-ups run once before the first check.
  MakeObjects(vm, true, &refused);
  MakeObjects(vm, false, &refused);
  vm_collectgarbage(vm.L);
  NewLeaks(&knownLeaks, dir.path() + "/leaks.txt");
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
  std::set<std::string> firstChecked;
  std::map<std::string, std::string> firstEnds;
  // Each command runs in both worlds: display 1 without layers, then with them.
  for (int layers = 0; layers < 2; layers++)
    for (const qmLibrary *const *lib = vm.libraries; *lib; lib++) {
      for (const qmCommandEntry *c = (*lib)->commands; c->name; c++) {
        if (kLeftOut.count(c->name)) continue;
        // QM_SWEEP_ONLY=name sweeps that command alone, to look at one closely.
        if (const char *only = std::getenv("QM_SWEEP_ONLY"); only && std::string(only) != c->name) continue;
        current = c->name;
        // How many arguments the command wants at least, found with the wrong value first so
        // that nothing is done: the wrong value then goes into each position in turn, plain
        // numbers in all the others.
        // A call that ends with an argument error has done nothing; after any other end the
        // objects are made again.
        bool fresh = false;
        auto call = [&](int wrong, int count, bool table) {
          if (!fresh) MakeObjects(vm, layers, &refused);
          const uint32_t code = CallWith(vm, c->handler, wrong, count, table);
          calls++;
          fresh = ArgumentError(code) || code == ERR_MISSINGPARAMTR || code == ERR_TOOMANYARGS;
          return code;
        };
        int least = 1;
        uint32_t first = call(1, 1, false);
        for (; least < kPositions && first == ERR_MISSINGPARAMTR; least++) first = call(1, least + 1, false);
        // The first value wrong: a command that takes arguments reads it before it does
        // anything else, and one that takes none refuses it.
        if (ArgumentError(first) || (first == ERR_TOOMANYARGS && least == 1)) firstChecked.insert(c->name);
        else firstEnds[c->name] += std::to_string(first) + (layers ? " (layers on) " : " ");
        for (int kind = 0; kind < 2; kind++)
          for (int wrong = kind ? 1 : 2; wrong <= kPositions; wrong++) {
            const uint32_t code = call(wrong, std::max(wrong, least), kind == 1);
            if (std::getenv("QM_SWEEP_TRACE"))
              std::fprintf(stderr, "%s%s wrong %d %s: %u\n", c->name, layers ? " (layers)" : "", wrong,
                           kind ? "table" : "boolean", code);
            (ArgumentError(code) ? argumentErrors : otherEnds)++;
          }
        vm_settop(vm.L, 0);
        vm_collectgarbage(vm.L);
        for (const std::string &leak : NewLeaks(&knownLeaks, dir.path() + "/leaks.txt"))
          ADD_FAILURE() << (*lib)->name << ": " << c->name << (layers ? " (layers on)" : "")
                        << " leaves a block behind:\n" << leak;
      }
    }
  done = true;
  watchdog.join();
  for (const auto &[name, codes] : firstEnds)
    if (!firstChecked.count(name) && !kFirstNotChecked.count(name))
      ADD_FAILURE() << name << " with a boolean first ends with " << codes << "not an argument error";
  std::printf("%d argument errors, %d other ends\n", argumentErrors, otherEnds);
  vm.Close();
  SetAudioSink(nullptr);
#endif
}
