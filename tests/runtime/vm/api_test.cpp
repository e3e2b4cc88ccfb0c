#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_debug.h"
#include "runtime/vm/vm_string.h"
#include "tests/runtime/vm/exec_test_util.h"

TEST(Api, StackAndQueries) {
  ExecVm vm;
  VmState *L = vm.L;
  vm_pushnumber(L, 1);
  vm_pushnil(L);
  vm_pushstring(L, "x");
  EXPECT_EQ(vm_type(L, 5), VM_TNONE);
  EXPECT_EQ(vm_tonumber(L, 5), 0);
  EXPECT_EQ(vm_isnumber(L, 2), 1);  // nil counts as a number
  EXPECT_EQ(vm_tonumber(L, 2), 0);
  EXPECT_EQ(vm_isstring(L, 2), 0);
  EXPECT_STREQ(vm_tostring(L, 2), "");
  EXPECT_EQ(vm_type(L, 2), VM_TSTRING);  // converted in place
  EXPECT_EQ(vm_toboolean(L, 1), 1);
  vm_pushnumber(L, 0);
  EXPECT_EQ(vm_toboolean(L, -1), 1);  // the interface's truth: only nil and false are false
  vm_settop(L, -2);
  EXPECT_EQ(vm_gettop(L), 3);
  vm_pushstring(L, nullptr);
  EXPECT_EQ(vm_type(L, -1), VM_TNIL);
  vm_settop(L, 0);
  EXPECT_EQ(vm_gettop(L), 0);
  vm_concat(L, 0);
  EXPECT_STREQ(vm_tostring(L, -1), "");
  vm_newtable(L);
  EXPECT_EQ(vm_getmetatable(L, -1), 0);
  EXPECT_EQ(vm_gettop(L), 2);
  EXPECT_EQ(vm_checkstack(L, 3000), 0);
  EXPECT_EQ(vm_checkstack(L, 100), 1);
  std::string text = "Print(1)";
  EXPECT_EQ(vm_loadbuffer(L, text.data(), text.size(), "=t"), ERR_BADSIGNATURE);
  EXPECT_EQ(vm_gettop(L), 2);
}

TEST(Api, InsertRemoveReplaceAndFormat) {
  ExecVm vm;
  VmState *L = vm.L;
  for (int i = 1; i <= 3; i++) vm_pushnumber(L, i);
  vm_pushnumber(L, 9);
  vm_insert(L, 1);
  vm_remove(L, 3);
  vm_pushnumber(L, 7);
  vm_replace(L, 2);
  std::string s;
  for (int i = 1; i <= vm_gettop(L); i++) s += ValueText(L, i) + " ";
  EXPECT_EQ(s, "9 7 3 ");
  EXPECT_STREQ(vm_pushfstring(L, "%s=%d (%f) %c%%", "n", 42, 0.5, 'x'), "n=42 (0.5) x%");
}

TEST(Api, PseudoIndicesAndUpvalues) {
  ExecVm vm;
  VmState *L = vm.L;
  vm_pushstring(L, "up1");
  vm_pushnumber(L, 2);
  vm_pushcclosure(L, [](VmState *L) -> uint32_t {
    vm_pushvalue(L, vm_upvalueindex(1));
    vm_pushvalue(L, vm_upvalueindex(2));
    vm_pushboolean(L, vm_type(L, vm_upvalueindex(3)) == VM_TNONE);
    return 3;
  }, 2);
  EXPECT_EQ(vm_pcall(L, 0, VM_MULTRET, 0), 0u);
  EXPECT_EQ(ValueText(L, 1) + ValueText(L, 2) + ValueText(L, 3), "'up1'2true");
  vm_pushstring(L, "k");
  vm_pushnumber(L, 5);
  vm_settable(L, VM_REGISTRYINDEX);
  vm_pushstring(L, "k");
  vm_gettable(L, VM_REGISTRYINDEX);
  EXPECT_EQ(vm_tonumber(L, -1), 5);
}

TEST(Api, CallReturnsTheNativeErrorCodeAndPcallCatchesRaises) {
  ExecVm vm;
  VmState *L = vm.L;
  vm_pushcfunction(L, [](VmState *) -> uint32_t { return 1055; });
  EXPECT_EQ(vm_call(L, 0, 0), 1055u);
  vm_pushcfunction(L, [](VmState *L) -> uint32_t {
    vm_pushnumber(L, 1);
    vm_pushnumber(L, 0);
    vm_newtable(L);
    vm_concat(L, 2);  // raises
    return 0;
  });
  int top = vm_gettop(L);
  EXPECT_EQ(vm_pcall(L, 0, 0, 0), ERR_CONCAT);
  EXPECT_EQ(vm_gettop(L), top - 1);  // the function is dropped, no error value
}

TEST(Api, NextAndMetatables) {
  ExecVm vm;
  VmState *L = vm.L;
  vm_newtable(L);
  for (int i = 1; i <= 3; i++) {
    vm_pushnumber(L, i * 10);
    vm_rawseti(L, 1, i);
  }
  vm_pushstring(L, "a");
  vm_pushnumber(L, 1);
  vm_rawset(L, 1);
  std::string keys;
  vm_pushnil(L);
  while (vm_next(L, 1)) {
    keys += ValueText(L, -2) + " ";
    vm_pop(L, 1);
  }
  EXPECT_EQ(keys, "1 2 3 'a' ");
  vm_newtable(L);
  EXPECT_EQ(vm_setmetatable(L, 1), 1);
  EXPECT_EQ(vm_getmetatable(L, 1), 1);
  vm_pushnil(L);
  vm_setmetatable(L, 1);
  EXPECT_EQ(vm_getmetatable(L, 1), 0);
  vm_pushnumber(L, 1);
  vm_newtable(L);
  EXPECT_EQ(vm_setmetatable(L, -2), 0);
}

TEST(Api, CaseInsensitiveLessThan) {
  ExecVm vm;
  VmState *L = vm.L;
  vm_pushstring(L, "abc");
  vm_pushstring(L, "ABD");
  EXPECT_EQ(vm_lessthan(L, 1, 2, 1), 0);  // 'a' > 'A' by byte order
  EXPECT_EQ(vm_lessthan(L, 1, 2, 0), 1);
}

TEST(Debug, InfoNamesAndLocals) {
  ExecVm vm;
  VmState *L = vm.L;
  static std::string seen;
  seen.clear();
  vm_pushcfunction(L, [](VmState *L) -> uint32_t {
    VmDebug ar;
    for (int level = 0; vm_getstack(L, level, &ar); level++) {
      vm_getinfo(L, "Snl", &ar);
      seen += std::string(ar.what) + ":" + (ar.name ? ar.name : "-") + ":" + ar.namewhat + ":" +
              std::to_string(ar.currentline) + " ";
    }
    if (vm_getstack(L, 2, &ar)) {  // the main chunk, whose first local is internal
      vm_pushnumber(L, 99);
      const char *name = vm_setlocal(L, &ar, 1);
      seen += std::string("set:") + (name ? name : "null");
    }
    return 0;
  });
  vm_pushstring(L, "probe");
  vm_insert(L, -2);
  vm_settable(L, VM_GLOBALSINDEX);
  ASSERT_EQ(vm.Run(R"asm(
.func maxstack=4 source="@dbg.qms"
  .k "f" "record"
  .local "(for index)" 0 9
      CLOSURE   0 p0 @1
      SETGLOBAL 0 k0 @1
      NEWTABLE  1 0 0 @2
      SETTABLE  1 k0 0 @2
      SELF      2 1 k0 @3
      CALL      2 2 1 @3
      GETGLOBAL 2 k1 @4
      MOVE      3 0 @4
      CALL      2 2 1 @4
      RETURN    0 1 @5
  .func line=7 params=1 maxstack=3
    .k "probe"
      GETGLOBAL 1 k0 @8
      CALL      1 1 1 @8
      RETURN    0 1 @9
  .end
.end
)asm"),
            0u);
  EXPECT_EQ(seen, "C:probe:global:-1 Quenmoor:f:method:8 main:-::3 set:null");
  // ">" with a number on the top.
  vm_pushcfunction(L, [](VmState *L) -> uint32_t {
    VmDebug a;
    vm_pushnumber(L, 3);
    vm_getinfo(L, ">S", &a);
    return 0;
  });
  EXPECT_EQ(vm_pcall(L, 0, 0, 0), ERR_FUNCEXPECTED);
}

// A string filled in place interns like one pushed whole: equal content gives the one string
// (an existing one wins) and a shorter fill keeps only the filled bytes.
TEST(Api, OpenStringsInternByContent) {
  struct Case {
    const char *name;
    std::string existing;  // pushed first with vm_pushlstring; empty: nothing
    size_t asked;
    std::string filled;
  };
  const Case cases[] = {
      {"new text", "", 5, "hello"},
      {"equal to an existing string", "hello", 5, "hello"},
      {"shorter than asked", "", 64, "abc"},
      {"shorter and equal to an existing one", "abc", 64, "abc"},
      {"empty", "", 0, ""},
      {"zero bytes inside", "", 3, std::string("a\0b", 3)},
      {"long, same length as an existing one but different", std::string(4096, 'x'), 4096,
       std::string(4095, 'x') + "y"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ExecVm vm;
    VmState *L = vm.L;
    if (!c.existing.empty()) vm_pushlstring(L, c.existing.data(), c.existing.size());
    char *data = vm_openstring(L, c.asked);
    ASSERT_NE(data, nullptr);
    std::memcpy(data, c.filled.data(), c.filled.size());
    vm_pushopenstring(L, data, c.filled.size());
    ASSERT_EQ(vm_strlen(L, -1), c.filled.size());
    EXPECT_EQ(std::string(vm_tostring(L, -1), c.filled.size()), c.filled);
    EXPECT_EQ(vm_tostring(L, -1)[c.filled.size()], '\0');
    vm_pushlstring(L, c.filled.data(), c.filled.size());
    EXPECT_EQ(vm_tostring(L, -1), vm_tostring(L, -2)) << "the same string object";
    if (!c.existing.empty()) {
      EXPECT_EQ(vm_tostring(L, 1) == vm_tostring(L, -1), c.existing == c.filled);
    }
  }
}

// An open string grown step by step keeps what it holds, wherever its block moves, and a step
// the memory limit forbids is refused without a raise, leaving the bytes as they were.
TEST(Api, OpenStringsGrowKeepingTheirBytes) {
  ExecVm vm;
  VmState *L = vm.L;
  size_t before = G(L)->nblocks;
  std::string expected;
  char *data = vm_openstring(L, 16);
  ASSERT_NE(data, nullptr);
  size_t size = 16;
  for (; size <= (8u << 20); size *= 4) {
    for (size_t i = expected.size(); i < size; i++) expected += char('a' + i % 23);
    std::memcpy(data, expected.data(), size);
    char *grown = vm_resizeopenstring(L, data, size * 4);
    ASSERT_NE(grown, nullptr) << size;
    data = grown;
    EXPECT_EQ(std::memcmp(data, expected.data(), size), 0) << size;
  }
  G(L)->memlimit = G(L)->nblocks + (1u << 20);
  EXPECT_EQ(vm_resizeopenstring(L, data, size * 4), nullptr) << "beyond the memory limit: an answer, not a raise";
  G(L)->memlimit = 0;
  EXPECT_EQ(vm_resizeopenstring(L, data, VM_MAXSTRLEN + size_t(1)), nullptr);
  EXPECT_EQ(std::memcmp(data, expected.data(), expected.size()), 0) << "a refusal leaves the bytes";
  vm_pushopenstring(L, data, expected.size());
  EXPECT_EQ(std::string(vm_tostring(L, -1), vm_strlen(L, -1)), expected);
  vm_settop(L, 0);
  vm_setgcthreshold(L, 0);
  EXPECT_EQ(G(L)->nblocks, before) << "every byte counted on the way is given back";
}

TEST(Api, OpenStringsRefuseWhatCannotBeMadeAndGiveBackWhatIsNotPushed) {
  ExecVm vm;
  VmState *L = vm.L;
  size_t before = G(L)->nblocks;
  char *data = vm_openstring(L, 1000);
  ASSERT_NE(data, nullptr);
  EXPECT_GT(G(L)->nblocks, before);
  vm_freeopenstring(L, data);
  EXPECT_EQ(G(L)->nblocks, before);
  EXPECT_EQ(vm_openstring(L, VM_MAXSTRLEN + size_t(1)), nullptr);
  G(L)->memlimit = G(L)->nblocks + (1u << 20);
  EXPECT_EQ(vm_openstring(L, 2u << 20), nullptr) << "beyond the memory limit: an answer, not a raise";
  EXPECT_EQ(G(L)->nblocks, before);
  G(L)->memlimit = 0;
}

// A callback raises the depth only while it runs, also when it fails; vm_keeperrorstate puts
// back what a failure inside its work changed.
TEST(Api, CallbacksAndKeptErrorState) {
  ExecVm vm;
  VmState *L = vm.L;
  static uint32_t depthInside;
  struct Case {
    const char *name;
    VmCFunction f;
    bool protectedCall;
    uint32_t code;
  } cases[] = {
      {"call, success", [](VmState *L) -> uint32_t { depthInside = vm_callbackdepth(L); return 0; }, false, 0},
      {"call, error code", [](VmState *L) -> uint32_t { depthInside = vm_callbackdepth(L); return 1055; }, false, 1055},
      {"pcall, raise", [](VmState *L) -> uint32_t {
         depthInside = vm_callbackdepth(L);
         vm_raise(L, ERR_WRONGUSAGE);
       }, true, ERR_WRONGUSAGE},
  };
  for (const Case &c : cases) {
    depthInside = 0;
    vm_pushcfunction(L, c.f);
    EXPECT_EQ(c.protectedCall ? vm_pcallback(L, 0, 0) : vm_callback(L, 0, 0), c.code) << c.name;
    EXPECT_EQ(depthInside, 1u) << c.name;
    EXPECT_EQ(vm_callbackdepth(L), 0u) << c.name;
  }

  vm_seterrorplace(L, 12, "LoadBrush", nullptr);
  vm_keeperrorstate(
      L, [](void *ud) {
        auto *L = static_cast<VmState *>(ud);
        vm_seterrorplace(L, 99, "FreeBrush", nullptr);
        G(L)->err.lastcode = ERR_MEM;
      },
      L);
  EXPECT_EQ(vm_geterrorline(L), 12);
  EXPECT_STREQ(G(L)->err.funcname, "LoadBrush");
  EXPECT_EQ(vm_getlasterror(L), 0u);
  vm_clearerrorplace(L);
  EXPECT_EQ(vm_geterrorline(L), -1);
  EXPECT_STREQ(G(L)->err.funcname, "----");
}
