// Running out of memory anywhere under a protected call: the VM's allocator, and native code
// whose standard containers throw, all end as ERR_MEM and leave the VM usable.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_gc.h"
#include "runtime/vm/vm_mem.h"
#include "tests/runtime/vm/exec_test_util.h"

namespace {

uint32_t ThrowBadAlloc(VmState *) { throw std::bad_alloc(); }
uint32_t ThrowLengthError(VmState *) {
  std::string s;
  s.resize(s.max_size() + 1);  // throws std::length_error
  return 0;
}
// Sets a ceiling 1 MB above what the VM holds and asks for 2 MB.
uint32_t PassMemLimit(VmState *L) {
  G(L)->memlimit = G(L)->nblocks + (1u << 20);
  vm_newuserdata(L, 2u << 20);
  return 1;
}

// oom() on line 2 of a script; what record() saw tells how far it got.
const char kCallsOom[] = R"(
.func maxstack=4
  .k "record" "before" "oom" "after"
      GETGLOBAL 0 k0 @1
      LOADK     1 k1
      CALL      0 2 1
      GETGLOBAL 0 k2 @2
      CALL      0 1 1
      GETGLOBAL 0 k0 @3
      LOADK     1 k3
      CALL      0 2 1
      RETURN    0 1
.end
)";

// pcall(oom), then record(status): the inner protected call catches, the script goes on.
const char kPcallsOom[] = R"(
.func maxstack=4
  .k "pcall" "oom" "record"
      GETGLOBAL 0 k0 @1
      GETGLOBAL 1 k1
      CALL      0 2 2
      GETGLOBAL 1 k2 @2
      MOVE      2 0
      CALL      1 2 1
      RETURN    0 1
.end
)";

const char kConcat[] = R"(
.func maxstack=4
  .k "record" "x" "y"
      GETGLOBAL 0 k0 @1
      LOADK     1 k1
      LOADK     2 k2
      CONCAT    1 1 2
      CALL      0 2 1
      RETURN    0 1
.end
)";

}  // namespace

TEST(OutOfMemory, EveryAllocationFailureInAProtectedCallIsErrMem) {
  struct Case {
    const char *name;
    VmCFunction oom;
  } cases[] = {
      {"std::bad_alloc from native code", ThrowBadAlloc},
      {"std::length_error from a size computation", ThrowLengthError},
      {"the VM's allocator beyond its ceiling", PassMemLimit},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ExecVm vm;
    VmState *L = vm.L;
    vm_pushcfunction(L, c.oom);
    vm.SetGlobal("oom");

    // Directly under vm_pcall: the function is dropped, the stack is as before.
    vm_pushnumber(L, 7);
    int top = vm_gettop(L);
    vm_pushcfunction(L, c.oom);
    EXPECT_EQ(vm_pcall(L, 0, 0, 0), ERR_MEM);
    EXPECT_EQ(vm_gettop(L), top);
    EXPECT_EQ(vm_tonumber(L, -1), 7);
    vm_settop(L, 0);

    // From a script: the script stops at the line of the call, with the call records restored.
    EXPECT_EQ(vm.Run(kCallsOom), ERR_MEM);
    EXPECT_EQ(vm.rec, (std::vector<std::string>{"'before'"}));
    EXPECT_EQ(G(L)->err.line, 2);
    EXPECT_EQ(L->ci, L->base_ci);
    EXPECT_EQ(L->nCcalls, 0);

    // A protected call inside the script catches it; the script goes on.
    vm.rec.clear();
    vm_settop(L, 0);
    EXPECT_EQ(vm.Run(kPcallsOom), 0u);
    EXPECT_EQ(vm.rec, (std::vector<std::string>{"1000"}));

    // And the VM runs the next script as usual.
    vm.rec.clear();
    vm_settop(L, 0);
    EXPECT_EQ(vm.Run(kConcat), 0u);
    EXPECT_EQ(vm.rec, (std::vector<std::string>{"'xy'"}));
  }
}

// A table of ever longer strings under a ceiling on the VM's bytes: ERR_MEM at the ceiling,
// whatever allocation (string, string table, table part, concatenation buffer) meets it.
TEST(OutOfMemory, GrowingTableStopsAtTheCeiling) {
  ExecVm vm;
  VmState *L = vm.L;
  vm_collectgarbage(L);
  G(L)->memlimit = G(L)->nblocks + (4u << 20);
  // s = "x"; for i = 1, 1e9 do s = s .. s .. i; t[i] = s end: each string twice the last.
  EXPECT_EQ(vm.Run(R"(
.func maxstack=8
  .k "x" 1 1000000000
      NEWTABLE  0 0 0 @1
      LOADK     1 k0
      LOADK     2 k1
      LOADK     3 k2
      LOADK     4 k1
      SUB       2 2 4
      JMP       test
body: MOVE      5 1 @2
      MOVE      6 1
      MOVE      7 2
      CONCAT    1 5 7
      SETTABLE  0 2 1 @3
test: FORLOOP   2 body
      RETURN    0 1
.end
)"),
            ERR_MEM);
  EXPECT_LE(G(L)->nblocks, G(L)->memlimit);
  EXPECT_GE(G(L)->err.line, 2);
  // The table is garbage now: collected, the VM works within the same ceiling.
  vm_settop(L, 0);
  vm_collectgarbage(L);
  EXPECT_LT(G(L)->nblocks + (1u << 20), G(L)->memlimit);
  EXPECT_EQ(vm.Run(kConcat), 0u);
  EXPECT_EQ(vm.rec, (std::vector<std::string>{"'xy'"}));
  G(L)->memlimit = 0;
}

namespace {

// Blocks of short strings: kept for reuse, counted like every other block, under the ceiling.
TEST(SmallBlocks, CountedReusedAndUnderTheCeiling) {
  VmFixture f;
  VmState *L = f.L;
  const size_t sizes[] = {1, 16, 17, 48, 64, 65, 300};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    size_t before = G(L)->nblocks;
    auto *b = static_cast<unsigned char *>(vm_allocsmall(L, size));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(G(L)->nblocks, before + size);
    std::memset(b, 0xA5, size);  // the whole block is usable
    vm_freesmall(L, b, size);
    EXPECT_EQ(G(L)->nblocks, before);
    // A block of the same class serves every size of it.
    size_t classmax = (size + 15) / 16 * 16;
    auto *c = static_cast<unsigned char *>(vm_allocsmall(L, classmax));
    std::memset(c, 0x5A, classmax);
    vm_freesmall(L, c, classmax);
    EXPECT_EQ(G(L)->nblocks, before);
  }
  G(L)->memlimit = G(L)->nblocks + 10;
  EXPECT_EQ(Protected(L, [&] { vm_allocsmall(L, 20); }), ERR_MEM);
  G(L)->memlimit = 0;
}

}  // namespace
