#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_debug.h"
#include "tests/runtime/vm/exec_test_util.h"

namespace {

std::vector<int> lines_seen;

void LineHook(VmState *, VmDebug *ar, uint32_t *) { lines_seen.push_back(ar->currentline); }

int handler_calls = 0;
uint32_t handler_result = 0;
uint32_t FakeErrorHandler(VmState *L, uint32_t code) {
  handler_calls++;
  // A handler that itself fails: the failing command inside it must not call it again.
  if (handler_result == 1) {
    vm_pushcfunction(L, [](VmState *) -> uint32_t { return ERR_MEM; });
    return vm_call(L, 0, 0);
  }
  return handler_result ? handler_result : code;
}

const char *kFailProgram = R"(
.func maxstack=4
  .k "fail" 1055 "record" "after"
      GETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k2
      LOADK     1 k3
      CALL      0 2 1
      RETURN    0 1
.end
)";

}  // namespace

TEST(Hooks, LineHookOncePerLineAndOnJumpsBack) {
  ExecVm vm;
  lines_seen.clear();
  vm_sethook(vm.L, LineHook, VM_MASKLINE, 0);
  ASSERT_EQ(vm.Run(R"(
.func maxstack=4
  .k 1 3
      LOADK   0 k0 @1
      LOADK   1 k1 @1
      LOADK   2 k0 @1
      SUB     0 0 2 @2
loop: FORLOOP 0 loop @3
      RETURN  0 1 @4
.end
)"),
            0u);
  EXPECT_EQ(lines_seen, (std::vector<int>{1, 2, 3, 3, 3, 3, 4}));
}

// Each call of a function reports its lines afresh, also when the call record it takes last
// served another function.
TEST(Hooks, LineHookSeesEveryCalledFunctionFromItsFirstLine) {
  ExecVm vm;
  lines_seen.clear();
  vm_sethook(vm.L, LineHook, VM_MASKLINE, 0);
  ASSERT_EQ(vm.Run(R"(
.func maxstack=4
      CLOSURE 0 p0 @1
      MOVE    1 0  @2
      CALL    1 1 1 @2
      MOVE    1 0  @3
      CALL    1 1 1 @3
      CLOSURE 1 p1 @4
      CALL    1 1 1 @4
      RETURN  0 1  @5
  .func maxstack=2
      LOADNIL 0 0 @10
      RETURN  0 1 @11
  .end
  .func maxstack=2
      LOADNIL 0 0 @20
      LOADNIL 0 0 @21
      RETURN  0 1 @21
  .end
.end
)"),
            0u);
  EXPECT_EQ(lines_seen, (std::vector<int>{1, 2, 10, 11, 3, 10, 11, 4, 20, 21, 5}));
}

TEST(Hooks, HookErrorIsThrownAsIs) {
  ExecVm vm;
  vm_sethook(vm.L, [](VmState *, VmDebug *, uint32_t *e) { *e = ERR_USERABORT; }, VM_MASKCOUNT, 3);
  EXPECT_EQ(vm.Run(".func maxstack=2\nl: JMP l\n RETURN 0 1\n.end\n"), ERR_USERABORT);
}

TEST(Hooks, RaiseOnErrorHandlerRunsOnceAndItsAnswerReplacesTheCode) {
  struct {
    uint32_t result;
    uint32_t status;
    int calls;
    const char *rec;
  } cases[] = {
      {0, ERR_WRONGUSAGE, 1, ""},         // the handler hands the code back: the script stops
      {ERR_READFILE, ERR_READFILE, 1, ""},  // a different code replaces it
      {1, ERR_MEM, 1, ""},                // the handler fails: no second call
  };
  for (auto &c : cases) {
    ExecVm vm;
    handler_calls = 0;
    handler_result = c.result;
    G(vm.L)->rt.errorhandler = FakeErrorHandler;
    G(vm.L)->err.handlerref = 1;
    EXPECT_EQ(vm.Run(kFailProgram), c.status);
    EXPECT_EQ(handler_calls, c.calls);
    EXPECT_FALSE(G(vm.L)->err.inhandler);
  }
}

TEST(Hooks, CallTracePrintsNamesAndArguments) {
  ExecVm vm;
  static std::string out;
  out.clear();
  G(vm.L)->rt.debugprint = [](VmState *, const char *s) { out += s; };
  vm_setcalltrace(vm.L, 1);
  ASSERT_EQ(vm.Run(R"(
.func maxstack=5
  .k "record" 2 "s"
      GETGLOBAL 0 k0
      LOADNIL   1 1
      LOADK     2 k1
      LOADK     3 k2
      CALL      0 4 1
      RETURN    0 1
.end
)"),
            0u);
  EXPECT_NE(out.find("Now calling record() with arguments #1=(NIL) #2=(NUMBER)2 #3=(STRING)\"s\" \n"),
            std::string::npos)
      << out;
}

TEST(Hooks, ThreadsShareTheGlobals) {
  ExecVm vm;
  VmState *L1 = vm_newthread(vm.L);
  vm_pushnumber(L1, 5);
  vm_pushstring(L1, "shared");
  vm_insert(L1, -2);
  vm_settable(L1, VM_GLOBALSINDEX);
  EXPECT_EQ(vm.Global("shared"), "5");
  vm_pushnumber(L1, 1);
  vm_pushnumber(L1, 2);
  vm_xmove(L1, vm.L, 2);
  EXPECT_EQ(vm_tonumber(vm.L, -1), 2);
  EXPECT_EQ(vm_gettop(L1), 0);
  vm_settop(vm.L, 0);
  vm_setgcthreshold(vm.L, 0);  // the thread is unreachable now and is freed
}

TEST(Hooks, PeriodicCheckRunsAtLoopEdgesAndCanStopTheScript) {
  ExecVm vm;
  static int checks;
  checks = 0;
  // The check asks for the end after 5 runs: an endless loop stops with a user abort.
  vm_setperiodiccheck(vm.L, [](VmState *L) {
    if (++checks == 5) vm_setendrequested(L, 1);
  }, 100);
  EXPECT_EQ(vm.Run(".func maxstack=2\nl: JMP l\n RETURN 0 1\n.end\n"), ERR_USERABORT);
  EXPECT_EQ(checks, 5);
  // Calls count too: a recursion without loops is checked as well.
  vm_setendrequested(vm.L, 0);
  checks = 0;
  vm_setperiodiccheck(vm.L, [](VmState *) { checks++; }, 10);
  ASSERT_EQ(vm.Run(R"(
.func maxstack=4
  .k "f" 200
      CLOSURE   0 p0
      SETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 1
      RETURN    0 1
  .func params=1 maxstack=4
    .k 0 "f" 1
      EQ        1 0 k0
      JMP       done
      GETGLOBAL 1 k1
      SUB       2 0 k2
      CALL      1 2 1
done: RETURN    0 1
  .end
.end
)"),
            0u);
  EXPECT_EQ(checks, 20);
  vm_setperiodiccheck(vm.L, nullptr, 0);
}

namespace {

std::vector<std::string> events_seen;

void RecordEvent(VmState *, VmDebug *ar, uint32_t *) {
  switch (ar->event) {
    case VM_HOOKCALL: events_seen.push_back("call"); break;
    case VM_HOOKRET: events_seen.push_back("ret"); break;
    case VM_HOOKTAILRET: events_seen.push_back("tailret"); break;
    case VM_HOOKLINE: events_seen.push_back("line " + std::to_string(ar->currentline)); break;
    default: events_seen.push_back("count"); break;
  }
}

// sethook(mask): sets RecordEvent with that mask on the running thread.
uint32_t SetHookNative(VmState *L) {
  vm_sethook(L, RecordEvent, static_cast<int>(vm_tonumber(L, 1)), 0);
  return 0;
}

}  // namespace

// A hook set by native code while script frames run takes effect at once: for the frames
// already running (their returns), for the calls they make next, and for their lines.
// main calls f, f sets the hook, then calls g; g returns to f, f to main.
TEST(Hooks, HookSetWhileFramesRunCoversThem) {
  const char *program = R"(
.func maxstack=4
      CLOSURE   0 p0  @1
      CALL      0 1 1 @2
      RETURN    0 1   @3
  .func maxstack=4
    .k "sethook" %d
      GETGLOBAL 0 k0  @10
      LOADK     1 k1  @10
      CALL      0 2 1 @10
      CLOSURE   0 p0  @11
      CALL      0 1 1 @11
      RETURN    0 1   @12
    .func maxstack=2
        LOADNIL 0 0   @20
        RETURN  0 1   @21
    .end
  .end
.end
)";
  struct {
    const char *name;
    int mask;
    std::vector<std::string> events;
  } cases[] = {
      // sethook's own return, then g's, f's and main's.
      {"return hook", VM_MASKRET, {"ret", "ret", "ret", "ret"}},
      {"call hook", VM_MASKCALL, {"call"}},
      {"line hook", VM_MASKLINE, {"line 11", "line 20", "line 21", "line 12", "line 3"}},
      {"call and return hooks", VM_MASKCALL | VM_MASKRET, {"ret", "call", "ret", "ret", "ret"}},
  };
  for (const auto &c : cases) {
    ExecVm vm;
    vm_pushcfunction(vm.L, SetHookNative);
    vm.SetGlobal("sethook");
    events_seen.clear();
    char text[1024];
    std::snprintf(text, sizeof text, program, c.mask);
    EXPECT_EQ(vm.Run(text), 0u) << c.name;
    EXPECT_EQ(events_seen, c.events) << c.name;
  }
}

// Switched on by a command in the middle of a run, the trace covers the script calls that follow.
TEST(Hooks, CallTraceSwitchedOnByACommandCoversScriptCalls) {
  ExecVm vm;
  static std::string out;
  out.clear();
  G(vm.L)->rt.debugprint = [](VmState *, const char *s) { out += s; };
  vm_pushcfunction(vm.L, [](VmState *L) -> uint32_t {
    vm_setcalltrace(L, 1);
    return 0;
  });
  vm.SetGlobal("traceon");
  ASSERT_EQ(vm.Run(R"(
.func maxstack=4
  .k "traceon" 7
      CLOSURE   0 p0
      CALL      0 1 1
      RETURN    0 1
  .func maxstack=4
    .k "traceon" 7
      GETGLOBAL 0 k0
      CALL      0 1 1
      CLOSURE   0 p0
      LOADK     1 k1
      CALL      0 2 1
      RETURN    0 1
    .func params=1 maxstack=2
        RETURN  0 1
    .end
  .end
.end
)"),
            0u);
  EXPECT_NE(out.find("() with arguments #1=(NUMBER)7 \n"), std::string::npos) << out;
}
