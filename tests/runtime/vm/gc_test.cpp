#include <gtest/gtest.h>

#include <string>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_gc.h"
#include "tests/runtime/vm/exec_test_util.h"

namespace {

int CountEntries(VmState *L, int idx) {
  int n = 0;
  vm_pushnil(L);
  while (vm_next(L, idx < 0 ? idx - 1 : idx)) {
    n++;
    vm_pop(L, 1);
  }
  return n;
}

// A table with the given __mode, left on the stack.
void WeakTable(VmState *L, const char *mode) {
  vm_newtable(L);
  vm_newtable(L);
  vm_pushstring(L, "__mode");
  vm_pushstring(L, mode);
  vm_rawset(L, -3);
  vm_setmetatable(L, -2);
}

int gc_calls = 0;
uint32_t CountGc(VmState *) {
  gc_calls++;
  return 0;
}

// A user data whose metatable has CountGc as "__gc", left on the stack.
void FinalisedUd(VmState *L) {
  vm_newuserdata(L, 16);
  vm_newtable(L);
  vm_pushstring(L, "__gc");
  vm_pushcfunction(L, CountGc);
  vm_rawset(L, -3);
  vm_setmetatable(L, -2);
}

}  // namespace

TEST(Collector, WeakKeysLoseUnreachedTablesButKeepStrings) {
  ExecVm vm;
  VmState *L = vm.L;
  WeakTable(L, "k");
  vm_newtable(L);  // a key referenced nowhere else
  vm_pushnumber(L, 1);
  vm_rawset(L, 1);
  vm_pushstring(L, "name");
  vm_pushnumber(L, 2);
  vm_rawset(L, 1);
  vm_newtable(L);  // a key kept on the stack
  vm_pushvalue(L, -1);
  vm_pushnumber(L, 3);
  vm_rawset(L, 1);
  vm_collectgarbage(L);
  EXPECT_EQ(CountEntries(L, 1), 2);
  vm_pushstring(L, "name");
  vm_rawget(L, 1);
  EXPECT_EQ(vm_tonumber(L, -1), 2);
}

TEST(Collector, WeakValuesLoseUnreachedTablesButKeepStrings) {
  ExecVm vm;
  VmState *L = vm.L;
  WeakTable(L, "v");
  vm_newtable(L);
  vm_rawseti(L, 1, 1);
  vm_pushstring(L, "text");
  vm_rawseti(L, 1, 2);
  vm_pushstring(L, "h");
  vm_newtable(L);
  vm_rawset(L, 1);
  vm_collectgarbage(L);
  EXPECT_EQ(CountEntries(L, 1), 1);
  vm_rawgeti(L, 1, 2);
  EXPECT_STREQ(vm_tostring(L, -1), "text");
}

TEST(Collector, FinaliserRunsOnceAndTheBlockIsFreedLater) {
  gc_calls = 0;
  ExecVm vm;
  VmState *L = vm.L;
  FinalisedUd(L);
  vm_collectgarbage(L);
  EXPECT_EQ(gc_calls, 0);  // still reachable
  vm_pop(L, 1);
  size_t before = G(L)->nblocks;
  vm_collectgarbage(L);
  EXPECT_EQ(gc_calls, 1);
  vm_collectgarbage(L);
  EXPECT_EQ(gc_calls, 1);
  EXPECT_LT(G(L)->nblocks, before);
}

TEST(Collector, ClosingRunsPendingFinalisers) {
  gc_calls = 0;
  {
    ExecVm vm;
    FinalisedUd(vm.L);
    FinalisedUd(vm.L);
    vm_settop(vm.L, 1);  // one unreachable, one on the stack
  }
  EXPECT_EQ(gc_calls, 2);
}

TEST(Collector, FreesWhatScriptsDrop) {
  ExecVm vm;
  VmState *L = vm.L;
  vm_collectgarbage(L);
  size_t base = G(L)->nblocks;
  ASSERT_EQ(vm.Run(R"(
.func maxstack=6
  .k "x" 1 2000 "-"
      LOADK   1 k1
      LOADK   2 k2
      LOADK   3 k1
      SUB     1 1 3
      JMP     test
body: NEWTABLE 5 4 2
      LOADK    5 k3
      CONCAT   5 4 5
test: FORLOOP 1 body
      RETURN  0 1
.end
)"),
            0u);
  vm_settop(L, 0);
  vm_collectgarbage(L);
  vm_collectgarbage(L);
  // Only the loaded chunk's own objects (and the string table's growth) remain.
  EXPECT_LT(G(L)->nblocks, base + 16384);
}

TEST(Collector, DeepRecursionDoesNotShrinkTheStackInUse) {
  ExecVm vm;
  // collect() at the bottom of a 300-deep recursion, then every frame returns normally.
  ASSERT_EQ(vm.Run(R"(
.func maxstack=4
  .k "deep" 300 "record"
      CLOSURE   0 p0
      SETGLOBAL 0 k0
      GETGLOBAL 1 k2
      GETGLOBAL 2 k0
      LOADK     3 k1
      CALL      2 2 2
      CALL      1 2 1
      RETURN    0 1
  .func params=1 maxstack=30
    .k 0 "deep" 1 "collect"
      EQ        1 0 k0
      JMP       bottom
      GETGLOBAL 1 k1
      SUB       2 0 k2
      CALL      1 2 2
      ADD       1 1 k2
      RETURN    1 2
bottom: GETGLOBAL 1 k3
      CALL      1 1 1
      LOADK     1 k0
      RETURN    1 2
  .end
.end
)"),
            0u);
  EXPECT_EQ(vm.rec.size(), 1u);
  EXPECT_EQ(vm.rec[0], "300");
}
