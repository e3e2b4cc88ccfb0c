#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "player/system/system_debug.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "tests/player/system/recording_handler.h"
#include "tests/player/system/system_test_util.h"

namespace {

std::string gOut;
void Capture(const char *text) { gOut += text; }

struct CaptureOutput {
  VmState *L;
  explicit CaptureOutput(VmState *state) : L(state) {
    gOut.clear();
    SetDebugSink(L, Capture);
  }
  ~CaptureOutput() { SetDebugSink(L, nullptr); }
};

}  // namespace

// With exit-on-error off a failing command gives no results, GetLastError tells its code,
// and the next command clears it again.
TEST(SystemErrors, ExitOnErrorOffRecordsTheCode) {
  SysVm vm;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=6
  .k "exitonerror" 0 "assert" "record" "getlasterror" "gettype"
      GETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k2
      LOADK     1 k1
      CALL      0 2 2          ; x = Assert(0)
      GETGLOBAL 1 k3
      MOVE      2 0
      GETGLOBAL 3 k4
      CALL      3 1 2
      CALL      1 3 1          ; record(x, GetLastError())
      GETGLOBAL 0 k5
      LOADK     1 k1
      CALL      0 2 1          ; GetType(0) succeeds
      GETGLOBAL 1 k3
      GETGLOBAL 2 k4
      CALL      2 1 2
      CALL      1 2 1          ; record(GetLastError())
      RETURN    0 1
.end
)"),
            0u);
  ASSERT_EQ(vm.rec.size(), 2u);
  EXPECT_EQ(vm.rec[0], "nil 1493");
  EXPECT_EQ(vm.rec[1], "0");
}

// The handler sees the code, its message, the command's registered spelling and the line of
// the call; when it returns, the script goes on after the failed command.
TEST(SystemErrors, RaiseOnErrorHandlerGetsTheFailure) {
  SysVm vm;
  std::string program = R"(
.func maxstack=4 source="@test.qms"
  .k "raiseonerror" "assert" 0 "record" "after"
      GETGLOBAL 0 k0 @1
      CLOSURE   1 p0 @1
      CALL      0 2 1 @1
      GETGLOBAL 0 k1 @2
      LOADK     1 k2 @2
      CALL      0 2 1 @3
      GETGLOBAL 0 k3 @4
      LOADK     1 k4 @4
      CALL      0 2 1 @4
      RETURN    0 1 @5
)" + std::string(kRecordingHandler) + ".end\n";
  ASSERT_EQ(vm.Run(program), 0u);
  ASSERT_EQ(vm.rec.size(), 2u);
  EXPECT_EQ(vm.rec[0], "1493 'Assertion failed!' 'Assert' 3");
  EXPECT_EQ(vm.rec[1], "'after'");
  EXPECT_STREQ(G(vm.L)->err.funcname, "----");
  EXPECT_EQ(G(vm.L)->err.callbackdepth, 0u);
}

// A handler that fails itself is not called again; its error ends the script.
TEST(SystemErrors, FailingHandlerIsNotReentered) {
  SysVm vm;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=4
  .k "raiseonerror" "assert" 0 "record" "after"
      GETGLOBAL 0 k0
      CLOSURE   1 p0
      CALL      0 2 1
      GETGLOBAL 0 k1
      LOADK     1 k2
      CALL      0 2 1
      GETGLOBAL 0 k3
      LOADK     1 k4
      CALL      0 2 1
      RETURN    0 1
  .func maxstack=6 params=4
    .k "record" "error" "again"
        GETGLOBAL 4 k0
        MOVE      5 0
        CALL      4 2 1
        GETGLOBAL 4 k1
        LOADK     5 k2
        CALL      4 2 1
        RETURN    0 1
  .end
.end
)"),
            uint32_t(ERR_ERRORCALLED));
  ASSERT_EQ(vm.rec.size(), 1u);
  EXPECT_EQ(vm.rec[0], "1493");
  EXPECT_FALSE(G(vm.L)->err.inhandler);
  char message[256];
  EXPECT_STREQ(FormatErrorMessage(ERR_ERRORCALLED, message, sizeof message), "again");
}

// RaiseOnError needs exit-on-error; exit-on-error cannot go off under a handler; Nil removes
// the handler.
TEST(SystemErrors, HandlerAndExitOnErrorRules) {
  SysVm vm;
  VmState *L = vm.L;
  ASSERT_EQ(vm.Call("exitonerror", [&] { vm_pushnumber(L, 0); }), 0u);
  EXPECT_EQ(vm.Call("raiseonerror", [&] { vm_pushcfunction(L, SysVm::Record); }), ERR_WRONGUSAGE);
  ASSERT_EQ(vm.Call("exitonerror", [&] { vm_pushnumber(L, 1); }), 0u);
  ASSERT_EQ(vm.Call("raiseonerror", [&] {
    vm_pushlightuserdata(L, &vm);
    vm_pushcclosure(L, SysVm::Record, 1);
  }), 0u);
  EXPECT_NE(G(L)->err.handlerref, -1);
  // Switching exit-on-error off fails with 1055; the handler sees that failure, and its
  // success makes the command's error go away (the switch stays on).
  EXPECT_EQ(vm.Call("exitonerror", [&] { vm_pushnumber(L, 0); }), 0u);
  EXPECT_EQ(G(L)->err.exitonerror, 1);
  EXPECT_EQ(vm.Call("assert", [&] { vm_pushnil(L); }), 0u);
  ASSERT_EQ(vm.rec.size(), 2u);
  EXPECT_EQ(vm.rec[0].substr(0, 4), "1055");
  EXPECT_EQ(vm.rec[1].substr(0, 24), "1493 'Assertion failed!'");
  ASSERT_EQ(vm.Call("raiseonerror", [&] { vm_pushnil(L); }), 0u);
  EXPECT_EQ(G(L)->err.handlerref, -1);
  EXPECT_EQ(vm.Call("assert", [&] { vm_pushnumber(L, 0); }), ERR_ASSERTFAILED);
  EXPECT_EQ(vm.rec.size(), 2u);
  ASSERT_EQ(vm.Call("exitonerror", [&] { vm_pushnumber(L, 0); }), 0u);
}

TEST(SystemErrors, ErrorAssertAndMessages) {
  SysVm vm;
  VmState *L = vm.L;
  EXPECT_EQ(vm.Call("error", [&] { vm_pushstring(L, "my own words"); }), ERR_ERRORCALLED);
  ASSERT_EQ(vm.Call("geterrorname", [&] { vm_pushnumber(L, ERR_ERRORCALLED); }), 0u);
  EXPECT_EQ(vm.Results(), "'my own words'");
  uint32_t user = AddUserError("Custom trouble!");
  ASSERT_EQ(user, kFirstUserError);
  ASSERT_EQ(vm.Call("geterrorname", [&] { vm_pushnumber(L, user); }), 0u);
  EXPECT_EQ(vm.Results(), "'Custom trouble!'");
  ASSERT_EQ(vm.Call("geterrorname", [&] { vm_pushnumber(L, user + 1); }), 0u);
  EXPECT_EQ(vm.Results(), "'Unknown error code!'");
  struct Case {
    void (*push)(VmState *);
    uint32_t code;
    const char *result;
  };
  const Case asserts[] = {
      {[](VmState *L) { vm_pushnumber(L, 5); }, 0, "5"},
      {[](VmState *L) { vm_pushstring(L, ""); }, 0, "''"},
      {[](VmState *L) { vm_pushnumber(L, 0); }, ERR_ASSERTFAILED, ""},
      {[](VmState *L) { vm_pushnil(L); }, ERR_ASSERTFAILED, ""},
  };
  for (const Case &c : asserts) {
    EXPECT_EQ(vm.Call("assert", [&] { c.push(L); }), c.code);
    if (c.code == 0) {
      EXPECT_EQ(vm.Results(), c.result);
    }
  }
  EXPECT_EQ(vm.Call("error"), ERR_MISSINGPARAMTR);
  EXPECT_EQ(vm.Call("getlasterror", [&] { vm_pushnumber(L, 1); }), ERR_TOOMANYARGS);
}

// End stops the script before its next instruction.
TEST(SystemErrors, EndStopsTheScript) {
  SysVm vm;
  vm.Run(R"(
.func maxstack=4
  .k "end" "record" 1
      GETGLOBAL 0 k0
      CALL      0 1 1
      GETGLOBAL 0 k1
      LOADK     1 k2
      CALL      0 2 1
      RETURN    0 1
.end
)");
  EXPECT_TRUE(vm.rec.empty());
  EXPECT_TRUE(G(vm.L)->endrequested);
}

TEST(SystemDebug, PrintTraceAndPrompt) {
  SysVm vm;
  VmState *L = vm.L;
  {
    CaptureOutput out(L);
    ASSERT_EQ(vm.Call("debugprint", [&] {
      vm_pushnumber(L, 1.5);
      vm_pushstring(L, "50% done");
      vm_pushnil(L);
    }), 0u);
    ASSERT_EQ(vm.Call("debugstr", [&] { vm_pushstring(L, "x"); }), 0u);
    EXPECT_EQ(gOut, "1.5 50% done Nil\nx\n");
    EXPECT_EQ(vm.Call("debugval"), ERR_MISSINGPARAMTR);
  }
  {
    CaptureOutput out(L);
    ASSERT_EQ(vm.Call("debugoutput", [&] { vm_pushnumber(L, 1); }), 0u);
    vm.Run(R"(
.func maxstack=4
  .k "record" 7 "debugoutput" 0
      GETGLOBAL 0 k0
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k2
      LOADK     1 k3
      CALL      0 2 1
      GETGLOBAL 0 k0
      CALL      0 1 1
      RETURN    0 1
.end
)");
    EXPECT_NE(gOut.find("Now calling record() with arguments #1=(NUMBER)7 \n"), std::string::npos) << gOut;
    EXPECT_EQ(gOut.find("Now calling record()\n"), std::string::npos) << gOut;  // traced no more
  }
  {
    CaptureOutput out(L);
    std::FILE *in = std::tmpfile();
    std::fputs("first line\r\nsecond\n", in);
    std::rewind(in);
    SetDebugInput(L, in);
    ASSERT_EQ(vm.Call("debugprompt", [&] { vm_pushstring(L, "Name? "); }), 0u);
    EXPECT_EQ(vm.Results(), "'first line'");
    ASSERT_EQ(vm.Call("debugprompt", [&] { vm_pushstring(L, ""); }), 0u);
    EXPECT_EQ(vm.Results(), "'second'");
    ASSERT_EQ(vm.Call("debugprompt", [&] { vm_pushstring(L, ""); }), 0u);
    EXPECT_EQ(vm.Results(), "''");
    EXPECT_EQ(gOut, "Name? ");
    SetDebugInput(L, nullptr);
    std::fclose(in);
  }
}
