#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "player/system/system_tables.h"
#include "runtime/errcodes.h"
#include "tests/player/system/system_test_util.h"

namespace {

// A comparator for Sort: a number < b, or descending with the upvalue "desc".
uint32_t Greater(VmState *L) {
  vm_pushnumber(L, vm_tonumber(L, 1) > vm_tonumber(L, 2) ? 1 : 0);
  return 1;
}
uint32_t Always(VmState *L) {
  vm_pushnumber(L, 1);
  return 1;
}

// An inconsistent comparator: answers from a fixed pseudo-random sequence and notes whether it
// ever saw nil, which would mean a read outside the items being sorted.
uint32_t gSeed = 1;
bool gSawNil = false;
uint32_t Coin(VmState *L) {
  if (vm_type(L, 1) == VM_TNIL || vm_type(L, 2) == VM_TNIL) gSawNil = true;
  gSeed = gSeed * 1103515245u + 12345u;
  vm_pushnumber(L, (gSeed >> 16) & 1);
  return 1;
}

uint32_t FailingCompare(VmState *) { return ERR_WRONGUSAGE; }

}  // namespace

TEST(SystemSort, OrdersAndStops) {
  struct Case {
    const char *name;
    std::initializer_list<const char *> items;
    const char *expect;
  };
  // Numbers are given as texts that Sort compares as strings; the nil and "" rows show where
  // the count stops (an empty string stops it only without a comparator).
  const Case cases[] = {
      {"three", {"c", "a", "b"}, "'a' 'b' 'c'"},
      {"one", {"z"}, "'z'"},
      {"two", {"b", "a"}, "'a' 'b'"},
      {"stops at nil", {"d", "c", nullptr, "a"}, "'c' 'd'"},
      {"stops at empty", {"d", "c", "", "a"}, "'c' 'd' '' 'a'"},
      {"many", {"m", "x", "b", "q", "a", "k", "c", "z", "e"}, "'a' 'b' 'c' 'e' 'k' 'm' 'q' 'x' 'z'"},
  };
  for (const Case &c : cases) {
    SysVm vm;
    vm.PushStrings(c.items);
    int t = vm_gettop(vm.L);
    vm_pushstring(vm.L, "sort");
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushvalue(vm.L, t);
    ASSERT_EQ(vm_pcall(vm.L, 1, 0, 0), 0u) << c.name;
    EXPECT_EQ(vm.ListText(t), c.expect) << c.name;
  }
}

TEST(SystemSort, NumbersWithComparatorAndErrors) {
  SysVm vm;
  // {3, 1, 2} sorts; a comparator sorts descending.
  ASSERT_EQ(vm.Call("sort", [&] { vm.PushList({3, 1, 2}); }), 0u);
  vm.PushList({5, 9, 1, 7, 3});
  int t = vm_gettop(vm.L);
  vm_pushstring(vm.L, "sort");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushvalue(vm.L, t);
  vm_pushcfunction(vm.L, Greater);
  ASSERT_EQ(vm_pcall(vm.L, 2, 0, 0), 0u);
  EXPECT_EQ(vm.ListText(t), "9 7 5 3 1");

  // A number and a string cannot be compared; a comparator's own error is the command's.
  EXPECT_EQ(vm.Call("sort",
                    [&] {
                      vm.PushList({1, 2});
                      vm_pushstring(vm.L, "x");
                      vm_rawseti(vm.L, -2, 2);
                    }),
            ERR_NUMSTRCMP);
  EXPECT_EQ(vm.Call("sort",
                    [&] {
                      vm.PushList({4, 3, 2, 1});
                      vm_pushcfunction(vm.L, FailingCompare);
                    }),
            ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("sort", [&] { vm_pushnumber(vm.L, 1); }), ERR_TABEXPECTED);
}

// A comparator that always answers 1 is not a strict order. Ranges of up to three items are
// finished by ordering their ends and middle, which cannot notice; from four items on the
// partition runs out of the range and Sort says so.
TEST(SystemSort, AlwaysTrueComparator) {
  for (int n = 1; n <= 8; n++) {
    SysVm vm;
    uint32_t code = vm.Call("sort", [&] {
      vm_newtable(vm.L);
      for (int i = 0; i < n; i++) {
        vm_pushnumber(vm.L, n - i);
        vm_rawseti(vm.L, -2, i);
      }
      vm_pushcfunction(vm.L, Always);
    });
    EXPECT_EQ(code, n <= 3 ? 0u : uint32_t(ERR_SORTFUNC)) << n << " items";
  }
}

// Whatever an inconsistent comparator answers, Sort reads only the items it sorts, ends with
// success or ERR_SORTFUNC, and leaves the same items in the table.
TEST(SystemSort, InconsistentComparatorStaysInside) {
  for (uint32_t seed = 1; seed <= 300; seed++) {
    SysVm vm;
    gSeed = seed;
    gSawNil = false;
    int n = 1 + static_cast<int>(seed % 40);
    vm_newtable(vm.L);
    int t = vm_gettop(vm.L);
    for (int i = 0; i < n; i++) {
      vm_pushnumber(vm.L, n - 1 - i);
      vm_rawseti(vm.L, t, i);
    }
    uint32_t code = SortTableRange(vm.L, t, 0, 0, n - 1);  // a consistent order first: no error
    ASSERT_EQ(code, 0u);
    vm_pushcfunction(vm.L, Coin);
    code = SortTableRange(vm.L, t, vm_gettop(vm.L), 0, n - 1);
    EXPECT_TRUE(code == 0 || code == ERR_SORTFUNC) << code;
    EXPECT_FALSE(gSawNil) << "seed " << seed;
    std::vector<int> seen;
    for (int i = 0; i < n; i++) {
      vm_rawgeti(vm.L, t, i);
      seen.push_back(static_cast<int>(vm_tonumber(vm.L, -1)));
      vm_pop(vm.L, 1);
    }
    std::sort(seen.begin(), seen.end());
    for (int i = 0; i < n; i++) EXPECT_EQ(seen[i], i);
    vm_rawgeti(vm.L, t, n);
    EXPECT_EQ(vm_type(vm.L, -1), VM_TNIL);
  }
}

TEST(SystemCopyTable, DeepCopyCyclesAndDepth) {
  SysVm vm;
  VmState *L = vm.L;
  // {1, {2, {3}}, shared, shared}: nested tables are new tables; a table met twice but not
  // on its own path is copied twice.
  vm_newtable(L);
  int shared = vm_gettop(L);
  vm_newtable(L);
  int src = vm_gettop(L);
  vm_pushnumber(L, 1);
  vm_rawseti(L, src, 0);
  vm.PushList({2});
  vm.PushList({3});
  vm_rawseti(L, -2, 1);
  vm_rawseti(L, src, 1);
  vm_pushvalue(L, shared);
  vm_rawseti(L, src, 2);
  vm_pushvalue(L, shared);
  vm_rawseti(L, src, 3);
  ASSERT_EQ(CopyTableDeep(L, src), 0u);
  int copy = vm_gettop(L);
  EXPECT_FALSE(vm_rawequal(L, copy, src));
  vm_rawgeti(L, copy, 1);
  vm_rawgeti(L, src, 1);
  EXPECT_FALSE(vm_rawequal(L, -1, -2));
  vm_rawgeti(L, -2, 1);
  vm_rawgeti(L, -1, 0);
  EXPECT_EQ(vm_tonumber(L, -1), 3);
  vm_settop(L, copy);
  vm_rawgeti(L, copy, 2);
  vm_rawgeti(L, copy, 3);
  EXPECT_FALSE(vm_rawequal(L, -1, -2));
  EXPECT_FALSE(vm_rawequal(L, -1, shared));
  vm_settop(L, copy);

  // t.self = t, and a cycle through another table, fail without a result.
  vm_newtable(L);
  int cyclic = vm_gettop(L);
  vm_newtable(L);
  vm_pushstring(L, "back");
  vm_pushvalue(L, cyclic);
  vm_rawset(L, -3);
  vm_rawseti(L, cyclic, 0);
  int top = vm_gettop(L);
  EXPECT_EQ(CopyTableDeep(L, cyclic), ERR_STACK);
  EXPECT_EQ(vm_gettop(L), top);
  EXPECT_EQ(vm.Call("copytable", [&] {
    vm_newtable(L);
    vm_pushstring(L, "self");
    vm_pushvalue(L, -2);
    vm_rawset(L, -3);
  }), ERR_STACK);
}

TEST(SystemCopyTable, NestingLimit) {
  struct Case {
    int depth;
    uint32_t code;
  };
  for (Case c : {Case{kCopyTableMaxDepth, 0}, Case{kCopyTableMaxDepth + 1, ERR_STACK}}) {
    SysVm vm;
    VmState *L = vm.L;
    vm_newtable(L);
    int outer = vm_gettop(L);
    vm_pushvalue(L, outer);
    for (int i = 1; i < c.depth; i++) {
      vm_newtable(L);
      vm_pushvalue(L, -1);
      vm_rawseti(L, -3, 0);
      vm_remove(L, -2);
    }
    vm_settop(L, outer);
    EXPECT_EQ(CopyTableDeep(L, outer), c.code) << c.depth;
  }
}

TEST(SystemItems, InsertRemoveCountConcatUnpack) {
  struct Case {
    const char *name;
    const char *command;
    std::initializer_list<double> list;
    std::initializer_list<double> args;  // after the table
    uint32_t code;
    const char *results;
    const char *after;
  };
  const Case cases[] = {
      {"insert at 1", "insertitem", {1, 2, 3}, {9, 1}, 0, "", "1 9 2 3"},
      {"insert at 0", "insertitem", {1, 2, 3}, {9, 0}, 0, "", "9 1 2 3"},
      {"insert at 100 appends", "insertitem", {1, 2, 3}, {9, 100}, 0, "", "1 2 3 9"},
      {"insert at -1 appends", "insertitem", {1, 2, 3}, {9, -1}, 0, "", "1 2 3 9"},
      {"insert without position", "insertitem", {1, 2}, {9}, 0, "", "1 2 9"},
      {"insert into empty", "insertitem", {}, {9, 5}, 0, "", "9"},
      {"remove first", "removeitem", {1, 2, 3}, {0}, 0, "1", "2 3"},
      {"remove last by default", "removeitem", {1, 2, 3}, {}, 0, "3", "1 2"},
      {"remove beyond", "removeitem", {1, 2, 3}, {7}, 0, "3", "1 2"},
      {"remove from empty", "removeitem", {}, {}, 0, "", ""},
      {"count", "listitems", {4, 5, 6}, {}, 0, "3", "4 5 6"},
      {"unpack", "unpack", {4, 5, 6}, {}, 0, "4 5 6", "4 5 6"},
      {"unpack empty", "unpack", {}, {}, 0, "", ""},
      {"concat all", "concat", {1, 2, 3}, {}, 0, "'123'", "1 2 3"},
  };
  for (const Case &c : cases) {
    SysVm vm;
    vm.PushList(c.list);
    int t = vm_gettop(vm.L);
    vm_pushstring(vm.L, c.command);
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushvalue(vm.L, t);
    for (double a : c.args) vm_pushnumber(vm.L, a);
    EXPECT_EQ(vm_pcall(vm.L, 1 + static_cast<int>(c.args.size()), VM_MULTRET, 0), c.code) << c.name;
    std::string results;
    for (int i = t + 1; i <= vm_gettop(vm.L); i++) {
      if (i > t + 1) results += ' ';
      results += SysValueText(vm.L, i);
    }
    if (c.code == 0) {
      EXPECT_EQ(results, c.results) << c.name;
    }
    EXPECT_EQ(vm.ListText(t), c.after) << c.name;
  }
}

TEST(SystemItems, ConcatSeparatorAndTypes) {
  SysVm vm;
  struct Case {
    const char *sep;
    double first, last;
    uint32_t code;
    const char *text;
  };
  // last 0 means the last item; an index past the items reads nil, which is no text.
  const Case cases[] = {
      {"-", 0, 0, 0, "'1-2-3-4'"},   {"", 1, 2, 0, "'23'"},          {"+", 3, 3, 0, "'4'"},
      {"+", 2, 1, 0, "''"},          {"", 0, 5, ERR_STRINGEXPECTED, ""}, {"", -1, 1, ERR_STRINGEXPECTED, ""},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(vm.Call("concat", [&] {
      vm.PushList({1, 2, 3, 4});
      vm_pushstring(vm.L, c.sep);
      vm_pushnumber(vm.L, c.first);
      vm_pushnumber(vm.L, c.last);
    }), c.code) << c.first << ".." << c.last;
    if (c.code == 0) {
      EXPECT_EQ(vm.Results(), c.text);
    }
  }
  ASSERT_EQ(vm.Call("concat", [&] {
    vm.PushStrings({"a", "b", "c"});
    vm_pushstring(vm.L, ", ");
  }), 0u);
  EXPECT_EQ(vm.Results(), "'a, b, c'");
  EXPECT_EQ(vm.Call("concat", [&] {
    vm.PushList({1});
    vm_newtable(vm.L);
    vm_rawseti(vm.L, -2, 1);
  }), ERR_STRINGEXPECTED);
}

TEST(SystemValues, IIfAndGetType) {
  SysVm vm;
  struct Case {
    const char *name;
    void (*push)(VmState *);
    uint32_t code;
    const char *iif;    // IIf(value, "a", "b")
    const char *type;   // GetType(value)
  };
  const Case cases[] = {
      {"zero", [](VmState *L) { vm_pushnumber(L, 0); }, 0, "'b'", "2"},
      {"number", [](VmState *L) { vm_pushnumber(L, -3); }, 0, "'a'", "2"},
      {"empty string", [](VmState *L) { vm_pushstring(L, ""); }, 0, "'b'", "3"},
      {"string", [](VmState *L) { vm_pushstring(L, "0"); }, 0, "'a'", "3"},
      {"nil", [](VmState *L) { vm_pushnil(L); }, 0, "'b'", "0"},
      {"table", [](VmState *L) { vm_newtable(L); }, ERR_WRONGDTYPE, "", "4"},
      {"boolean", [](VmState *L) { vm_pushboolean(L, 1); }, ERR_WRONGDTYPE, "", "-1"},
      {"function", [](VmState *L) { vm_pushcfunction(L, Always); }, ERR_WRONGDTYPE, "", "5"},
      {"light user data", [](VmState *L) { vm_pushlightuserdata(L, nullptr); }, ERR_WRONGDTYPE, "", "9"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(vm.Call("iif", [&] {
      c.push(vm.L);
      vm_pushstring(vm.L, "a");
      vm_pushstring(vm.L, "b");
    }), c.code) << c.name;
    if (c.code == 0) {
      EXPECT_EQ(vm.Results(), c.iif) << c.name;
    }
    ASSERT_EQ(vm.Call("gettype", [&] { c.push(vm.L); }), 0u) << c.name;
    EXPECT_EQ(vm.Results(), c.type) << c.name;
  }
}

TEST(SystemIteration, IPairsPairsNextItem) {
  SysVm vm;
  VmState *L = vm.L;
  // IPairs(t) hands out the iterator, t and -1; each step gives the next index and item.
  ASSERT_EQ(vm.Call("ipairs", [&] { vm.PushList({7, 8}); }), 0u);
  EXPECT_EQ(vm.Results(), "function table -1");
  const char *steps[] = {"0 7", "1 8", ""};
  for (int i = -1; i <= 1; i++) {
    ASSERT_EQ(vm.Call("ipairs", [&] {
      vm.PushList({7, 8});
      vm_pushnumber(L, i);
    }), 0u);
    EXPECT_EQ(vm.Results(), steps[i + 1]);
  }
  ASSERT_EQ(vm.Call("pairs", [&] { vm.PushList({7}); }), 0u);
  EXPECT_EQ(vm.Results(), "function table nil");
  ASSERT_EQ(vm.Call("nextitem", [&] { vm.PushList({7}); }), 0u);
  EXPECT_EQ(vm.Results(), "0 7");
  ASSERT_EQ(vm.Call("nextitem", [&] {
    vm.PushList({7});
    vm_pushnumber(L, 0);
  }), 0u);
  EXPECT_EQ(vm.Results(), "nil");
}

TEST(SystemIteration, ForEachStopsAtFirstResult) {
  SysVm vm;
  // f(i, v) returns v when v > 5, else nothing: ForEachI over {3, 9, 4} stops at 9.
  struct Cb {
    static uint32_t F(VmState *L) {
      if (vm_tonumber(L, 2) > 5) {
        vm_pushvalue(L, 2);
        return 1;
      }
      return 0;
    }
  };
  ASSERT_EQ(vm.Call("foreachi", [&] {
    vm.PushList({3, 9, 4});
    vm_pushcfunction(vm.L, Cb::F);
  }), 0u);
  EXPECT_EQ(vm.Results(), "9");
  ASSERT_EQ(vm.Call("foreachi", [&] {
    vm.PushList({3, 4});
    vm_pushcfunction(vm.L, Cb::F);
  }), 0u);
  EXPECT_EQ(vm.Results(), "");
  ASSERT_EQ(vm.Call("foreach", [&] {
    vm.PushList({1, 2, 8});
    vm_pushcfunction(vm.L, Cb::F);
  }), 0u);
  EXPECT_EQ(vm.Results(), "8");
  EXPECT_EQ(vm.Call("foreach", [&] {
    vm.PushList({1});
    vm_pushcfunction(vm.L, FailingCompare);
  }), ERR_WRONGUSAGE);
  EXPECT_EQ(G(vm.L)->err.callbackdepth, 0u);
}

TEST(SystemMetatables, ProtectionAndRawAccess) {
  SysVm vm;
  VmState *L = vm.L;
  vm_newtable(L);
  int t = vm_gettop(L);
  vm_newtable(L);
  int mt = vm_gettop(L);
  vm_pushstring(L, "__index");
  vm_newtable(L);
  vm_pushstring(L, "x");
  vm_pushnumber(L, 5);
  vm_rawset(L, -3);
  vm_rawset(L, mt);
  auto call = [&](const char *name, std::initializer_list<int> args) {
    vm_pushstring(L, name);
    vm_gettable(L, VM_GLOBALSINDEX);
    for (int a : args) vm_pushvalue(L, a);
    int base = vm_gettop(L) - static_cast<int>(args.size());
    uint32_t code = vm_pcall(L, static_cast<int>(args.size()), 1, 0);
    std::string r = code ? "" : SysValueText(L, base);
    vm_settop(L, base - 1);
    return code ? std::to_string(code) : r;
  };
  EXPECT_EQ(call("setmetatable", {t, mt}), "table");
  vm_pushstring(L, "x");
  int key = vm_gettop(L);
  EXPECT_EQ(call("rawget", {t, key}), "nil");
  vm_pushnumber(L, 1);
  int one = vm_gettop(L);
  EXPECT_EQ(call("rawequal", {t, t}), "1");
  EXPECT_EQ(call("rawequal", {t, mt}), "0");
  EXPECT_EQ(call("setmetatable", {t, one}), std::to_string(ERR_TABLEORNIL));
  // A "__metatable" field: GetMetaTable answers it and SetMetaTable refuses.
  vm_pushstring(L, "__metatable");
  vm_pushstring(L, "locked");
  vm_rawset(L, mt);
  EXPECT_EQ(call("getmetatable", {t}), "'locked'");
  EXPECT_EQ(call("setmetatable", {t, mt}), std::to_string(ERR_PROTMETATABLE));
  EXPECT_EQ(call("getmetatable", {one}), "nil");
}

namespace {

// Compares keys only (value / 100), so equal keys keep whatever order the algorithm leaves.
uint32_t KeyLess(VmState *L) {
  vm_pushnumber(L, static_cast<int>(vm_tonumber(L, 1)) / 100 < static_cast<int>(vm_tonumber(L, 2)) / 100 ? 1 : 0);
  return 1;
}

struct GoldenSort {
  std::vector<int> input, sorted;
};
const GoldenSort kGoldenSorts[] = {
#include "system_sort_golden.inc"
};

}  // namespace

// The same quicksort as lua5.1's table.sort (indices shifted to 0): equal keys end in the
// same places.
TEST(SystemSort, MatchesLuaTieOrder) {
  for (const GoldenSort &g : kGoldenSorts) {
    SysVm vm;
    vm_newtable(vm.L);
    int t = vm_gettop(vm.L);
    for (size_t i = 0; i < g.input.size(); i++) {
      vm_pushnumber(vm.L, g.input[i]);
      vm_rawseti(vm.L, t, static_cast<int>(i));
    }
    vm_pushcfunction(vm.L, KeyLess);
    ASSERT_EQ(SortTableRange(vm.L, t, vm_gettop(vm.L), 0, static_cast<int32_t>(g.input.size()) - 1), 0u);
    std::string expect, got;
    for (size_t i = 0; i < g.sorted.size(); i++) {
      vm_rawgeti(vm.L, t, static_cast<int>(i));
      got += std::to_string(static_cast<int>(vm_tonumber(vm.L, -1))) + " ";
      vm_pop(vm.L, 1);
      expect += std::to_string(g.sorted[i]) + " ";
    }
    EXPECT_EQ(got, expect);
  }
}
