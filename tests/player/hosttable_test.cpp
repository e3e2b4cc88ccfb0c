// The host table's guard: a host function that fails answers a neutral value and leaves its
// code for the caller of the plug-in, with the VM put back, even outside any protected call.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "player/plugins.h"
#include "runtime/errcodes.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "tests/runtime/rt_test_util.h"

namespace {

template <typename F>
F Slot(int slot) {
  return reinterpret_cast<F>(GetHostTable()->sub[HOSTSUB_VM][slot]);
}

double CheckNumber(VmState *L, int i) { return Slot<double (*)(VmState *, int)>(HOSTVM_CHECKNUMBER)(L, i); }

// An __index that fails as a command does.
uint32_t FailingIndex(VmState *) { return ERR_MEM; }

}  // namespace

TEST(HostTable, FailingCallsAnswerACode) {
  struct Case {
    const char *name;
    std::function<std::string(VmState *)> call;  // pushes what it needs, calls, gives the answer
    std::string answer;
    uint32_t code;
  } cases[] = {
      {"a check that passes",
       [](VmState *L) {
         vm_pushnumber(L, 5);
         return std::to_string(CheckNumber(L, 1));
       },
       "5.000000", 0},
      {"a number check on a text",
       [](VmState *L) {
         vm_pushstring(L, "x");
         return std::to_string(CheckNumber(L, 1));
       },
       "0.000000", ERR_NUMEXPECTED},
      {"a text check on a table: an empty text",
       [](VmState *L) {
         vm_newtable(L);
         size_t len = 99;
         const char *s = Slot<const char *(*)(VmState *, int, size_t *)>(HOSTVM_CHECKSTRING)(L, 1, &len);
         return "'" + std::string(s) + "' " + std::to_string(len);
       },
       "'' 0", ERR_STREXPECTED},
      {"RaiseError returns",
       [](VmState *L) {
         Slot<void (*)(VmState *, uint32_t)>(HOSTVM_RAISEERROR)(L, 1234);
         return std::string("back");
       },
       "back", 1234},
      {"the first failure is the one kept",
       [](VmState *L) {
         vm_pushstring(L, "x");
         CheckNumber(L, 1);
         Slot<void (*)(VmState *, uint32_t)>(HOSTVM_RAISEERROR)(L, 1234);
         return std::string();
       },
       "", ERR_NUMEXPECTED},
      {"a metamethod failing inside gettable",
       [](VmState *L) {
         vm_newtable(L);
         vm_newtable(L);
         vm_pushstring(L, "__index");
         vm_pushcfunction(L, FailingIndex);
         vm_settable(L, -3);
         vm_setmetatable(L, 1);
         vm_pushstring(L, "key");
         Slot<void (*)(VmState *, int)>(HOSTVM_GETTABLE)(L, 1);
         return std::to_string(vm_gettop(L));
       },
       "2", ERR_MEM},
      {"no memory for a new text",
       [](VmState *L) {
         G(L)->memlimit = G(L)->nblocks;
         Slot<void (*)(VmState *, const char *)>(HOSTVM_PUSHSTRING)(L, "a text not interned yet");
         G(L)->memlimit = 0;
         return std::to_string(vm_gettop(L));
       },
       "0", ERR_MEM},
  };
  for (const Case &c : cases) {
    RtVm vm;
    VmState *L = vm.L;
    SwapHostCallError({});
    EXPECT_EQ(c.call(L), c.answer) << c.name;
    qmHostCallError failure = SwapHostCallError({});
    EXPECT_EQ(failure.code, c.code) << c.name;
    EXPECT_EQ(failure.raised, c.code != 0) << c.name;
    // The VM is back at its base, as a protected call leaves it.
    EXPECT_EQ(L->ci, L->base_ci) << c.name;
    EXPECT_EQ(L->errorJmp, nullptr) << c.name;
  }
}
