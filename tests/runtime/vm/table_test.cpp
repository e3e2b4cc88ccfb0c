#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_string.h"
#include "runtime/vm/vm_table.h"
#include "tests/runtime/vm/vm_test_util.h"

namespace {

VmValue Num(double x) {
  VmValue v;
  vm_setnumber(&v, x);
  return v;
}

VmValue Str(VmState *L, const std::string &s) {
  VmValue v;
  vm_setstring(&v, vm_newlstr(L, s.data(), s.size()));
  return v;
}

void Set(VmState *L, VmTable *t, const VmValue &k, const VmValue &v) {
  ASSERT_EQ(Protected(L, [&] { *vm_settable_raw(L, t, &k) = v; }), 0u);
}

VmTable *NewTable(VmState *L, int narray = 0, int lnhash = 0) {
  VmTable *t = nullptr;
  EXPECT_EQ(Protected(L, [&] { t = vm_newtable_sized(L, narray, lnhash); }), 0u);
  return t;
}

}  // namespace

TEST(Table, NilKeyIsZero) {
  VmFixture f;
  VmTable *t = NewTable(f.L);
  Set(f.L, t, vm_nilobject, Num(5));
  VmValue zero = Num(0);
  EXPECT_EQ(vm_nvalue(vm_gettable_raw(t, &zero)), 5);
  EXPECT_EQ(vm_nvalue(vm_gettable_raw(t, &vm_nilobject)), 5);
  VmValue kv[2] = {vm_nilobject, vm_nilobject};
  ASSERT_EQ(vm_tablenext(f.L, t, kv), 1);
  EXPECT_EQ(kv[0].tt, VM_TNUMBER);
  EXPECT_EQ(kv[0].v.n, 0);
}

TEST(Table, ZeroAndNegativeZeroShareASlot) {
  VmFixture f;
  VmTable *t = NewTable(f.L);
  Set(f.L, t, Num(-0.0), Num(7));
  VmValue zero = Num(0.0);
  EXPECT_EQ(vm_nvalue(vm_gettable_raw(t, &zero)), 7);
  Set(f.L, t, Num(0.0), Num(8));
  VmValue negzero = Num(-0.0);
  EXPECT_EQ(vm_nvalue(vm_gettable_raw(t, &negzero)), 8);
}

TEST(Table, Sizing) {
  VmFixture f;
  // Keys 1..4 into an empty table end in an array part of 4 and no hash part.
  VmTable *t = NewTable(f.L);
  for (int i = 1; i <= 4; i++) Set(f.L, t, Num(i), Num(i * 10));
  EXPECT_EQ(t->sizearray, 4);
  EXPECT_EQ(t->lsizenode, 0);
  // A lone key 1 goes to an array part of 1 at the first rehash.
  VmTable *t1 = NewTable(f.L);
  Set(f.L, t1, Num(1), Num(1));
  EXPECT_EQ(t1->sizearray, 1);
  // A lone large key stays in the hash part.
  VmTable *t2 = NewTable(f.L);
  Set(f.L, t2, Num(1000000), Num(1));
  EXPECT_EQ(t2->sizearray, 0);
  EXPECT_EQ(t2->lsizenode, 1);
  // Keys 1 and 2 fill the lower half of an array of 4: a distant key doubles it all the same,
  // so 3 then lands in the array and is traversed before the distant key.
  VmTable *t3 = NewTable(f.L);
  for (double k : {1.0, 2.0, 100.0}) Set(f.L, t3, Num(k), Num(k));
  EXPECT_EQ(t3->sizearray, 4);
  Set(f.L, t3, Num(3), Num(3));
  std::vector<double> order;
  VmValue kv[2] = {vm_nilobject, vm_nilobject};
  while (vm_tablenext(f.L, t3, kv)) order.push_back(kv[0].v.n);
  EXPECT_EQ(order, (std::vector<double>{1, 2, 3, 100}));
  // Removing entries never shrinks until an insertion rehashes.
  for (int i = 1; i <= 4; i++) Set(f.L, t, Num(i), vm_nilobject);
  EXPECT_EQ(t->sizearray, 4);
  // The shared dummy node is never left written.
  EXPECT_TRUE(vm_isnil(&G(f.L)->dummynode.key));
  EXPECT_TRUE(vm_isnil(&G(f.L)->dummynode.val));
}

// A key stored just past the end of an array part, with no hash part beside it, takes the
// size the rehash gives: the next power of two when at least half of it is then used, else the
// array keeps (or shrinks to) the size its keys fill and the new key goes to the hash part.
TEST(Table, AppendingPastTheArrayEnd) {
  struct Case {
    int sizearray;
    std::vector<int> present;  // the keys stored before the append
    int wantArray;
    int wantLogHash;
  };
  std::vector<int> upTo1024;
  for (int i = 1; i <= 1024; i++) upTo1024.push_back(i);
  const Case cases[] = {
      {0, {}, 1, 0},
      {1, {1}, 2, 0},
      {4, {1, 2, 3, 4}, 8, 0},
      {4, {1, 3, 4}, 8, 0},            // one hole: 4 of 8 used
      {4, {1, 4}, 4, 1},               // two holes: 3 of 8 is not enough
      {3, {1, 2, 3}, 4, 0},            // an odd size rounds up to the power of two
      {3, {2, 3}, 4, 0},
      {5, {1, 5}, 2, 2},               // sparse: the array shrinks, 5 and 6 go to the hash part
      {8, {1, 2, 3, 4, 5, 6, 7}, 16, 0},
      {8, {1, 2, 3, 4, 5, 6}, 8, 1},
      {1024, upTo1024, 2048, 0},
  };
  for (const Case &c : cases) {
    VmFixture f;
    VmTable *t = NewTable(f.L, c.sizearray);
    for (int k : c.present) Set(f.L, t, Num(k), Num(k * 10));
    const int key = c.sizearray + 1;
    Set(f.L, t, Num(key), Num(key * 10));
    EXPECT_EQ(t->sizearray, c.wantArray) << "from " << c.sizearray << " with " << c.present.size();
    EXPECT_EQ(t->lsizenode, c.wantLogHash) << "from " << c.sizearray << " with " << c.present.size();
    // Every key is found with its value, the absent ones are nil, and a traversal sees each once.
    std::set<int> want(c.present.begin(), c.present.end());
    want.insert(key);
    for (int k = 1; k <= key + 1; k++) {
      VmValue kv = Num(k);
      const VmValue *v = vm_gettable_raw(t, &kv);
      if (want.count(k)) EXPECT_EQ(vm_nvalue(v), k * 10) << k;
      else EXPECT_TRUE(vm_isnil(v)) << k;
    }
    std::set<int> seen;
    VmValue kv[2] = {vm_nilobject, vm_nilobject};
    while (vm_tablenext(f.L, t, kv)) EXPECT_TRUE(seen.insert(int(kv[0].v.n)).second);
    EXPECT_EQ(seen, want);
    EXPECT_TRUE(vm_isnil(&G(f.L)->dummynode.key));
  }
}

TEST(Table, TraversalGivesArrayKeysFirst) {
  VmFixture f;
  VmTable *t = NewTable(f.L, 3, 1);
  Set(f.L, t, Str(f.L, "name"), Num(0));
  for (int i = 1; i <= 3; i++) Set(f.L, t, Num(i), Num(i));
  std::vector<std::string> keys;
  VmValue kv[2] = {vm_nilobject, vm_nilobject};
  while (vm_tablenext(f.L, t, kv)) keys.push_back(kv[0].tt == VM_TNUMBER ? std::to_string(int(kv[0].v.n)) : vm_svalue(&kv[0])->data());
  EXPECT_EQ(keys, (std::vector<std::string>{"1", "2", "3", "name"}));
}

TEST(Table, Errors) {
  VmFixture f;
  VmTable *t = NewTable(f.L);
  VmValue nan = Num(NAN);
  EXPECT_EQ(Protected(f.L, [&] { vm_settable_raw(f.L, t, &nan); }), ERR_TABLEINDEX);
  EXPECT_EQ(Protected(f.L, [&] { vm_newtable_sized(f.L, 0, 25); }), ERR_TABLEOVERFLOW);
  Set(f.L, t, Str(f.L, "a"), Num(1));
  VmValue kv[2] = {Str(f.L, "absent"), vm_nilobject};
  EXPECT_EQ(Protected(f.L, [&] { vm_tablenext(f.L, t, kv); }), ERR_INVNEXTKEY);
  // Reading a NaN key finds nothing rather than failing.
  EXPECT_TRUE(vm_isnil(vm_gettable_raw(t, &nan)));
}

TEST(Table, TraversalSurvivesClearingTheCurrentKey) {
  VmFixture f;
  VmTable *t = NewTable(f.L);
  for (int i = 0; i < 20; i++) Set(f.L, t, Str(f.L, "k" + std::to_string(i)), Num(i));
  int seen = 0;
  VmValue kv[2] = {vm_nilobject, vm_nilobject};
  while (vm_tablenext(f.L, t, kv)) {
    Set(f.L, t, kv[0], vm_nilobject);  // storing nil keeps the key's node
    seen++;
  }
  EXPECT_EQ(seen, 20);
}

TEST(TagMethods, AbsenceCacheIsClearedByAStore) {
  VmFixture f;
  VmTable *mt = NewTable(f.L);
  VmString *index = G(f.L)->tmname[VM_TM_INDEX];
  EXPECT_EQ(vm_fasttm(mt, VM_TM_INDEX, index), nullptr);
  EXPECT_TRUE(mt->flags & 1);
  Set(f.L, mt, Str(f.L, "__index"), Num(42));
  const VmValue *tm = vm_fasttm(mt, VM_TM_INDEX, index);
  ASSERT_NE(tm, nullptr);
  EXPECT_EQ(vm_nvalue(tm), 42);
  // Lookup through an object: tables and full user data have methods, numbers none.
  VmTable *obj = NewTable(f.L);
  obj->metatable = mt;
  VmValue o;
  vm_setgc(&o, VM_TTABLE, obj);
  EXPECT_EQ(vm_nvalue(vm_gettmbyobj(f.L, &o, VM_TM_INDEX)), 42);
  VmValue n = Num(1);
  EXPECT_TRUE(vm_isnil(vm_gettmbyobj(f.L, &n, VM_TM_INDEX)));
}

// Random set/get/delete/next sequences against a std::map model.
TEST(Table, MatchesMapModel) {
  for (unsigned seed = 1; seed <= 6; seed++) {
    VmFixture f;
    VmTable *t = NewTable(f.L);
    std::mt19937 rng(seed);
    std::map<std::string, double> model;  // key text -> value
    auto make_key = [&](int kind, int x, std::string &name) -> VmValue {
      switch (kind) {
        case 0: name = "i" + std::to_string(x); return Num(x);                    // small integers
        case 1: name = "i" + std::to_string(x * 1000); return Num(x * 1000.0);    // sparse integers
        case 2: name = "d" + std::to_string(x); return Num(x + 0.5);              // non-integers
        case 3: name = "i" + std::to_string(-x); return Num(-x);                  // negatives, zero
        default: name = "s" + std::to_string(x); return Str(f.L, "s" + std::to_string(x));
      }
    };
    for (int step = 0; step < 4000; step++) {
      int op = rng() % 10;
      int kind = rng() % 5;
      int x = rng() % 64;
      std::string name;
      VmValue k = make_key(kind, x, name);
      if (op < 5) {
        double v = rng() % 1000 + 1;
        Set(f.L, t, k, Num(v));
        model[name] = v;
      } else if (op < 7) {
        Set(f.L, t, k, vm_nilobject);
        model.erase(name);
      } else {
        const VmValue *got = vm_gettable_raw(t, &k);
        auto it = model.find(name);
        if (it == model.end()) {
          ASSERT_TRUE(vm_isnil(got)) << name;
        } else {
          ASSERT_EQ(vm_nvalue(got), it->second) << name;
        }
      }
      if (step % 500 == 499) {
        // A full traversal visits exactly the model's keys once each.
        std::set<std::string> seen;
        VmValue kv[2] = {vm_nilobject, vm_nilobject};
        int r;
        while (true) {
          ASSERT_EQ(Protected(f.L, [&] { r = vm_tablenext(f.L, t, kv); }), 0u);
          if (!r) break;
          std::string n;
          if (kv[0].tt == VM_TSTRING) n = vm_svalue(&kv[0])->data();
          else if (kv[0].v.n == std::floor(kv[0].v.n)) n = "i" + std::to_string(static_cast<long>(kv[0].v.n));
          else n = "d" + std::to_string(static_cast<long>(std::floor(kv[0].v.n)));
          ASSERT_TRUE(seen.insert(n).second) << "visited twice: " << n;
          ASSERT_EQ(model.count(n), 1u) << n;
          ASSERT_EQ(model[n], kv[1].v.n);
        }
        ASSERT_EQ(seen.size(), model.size());
      }
    }
  }
}

// An array part of megabytes lives in a mapping of its own that grows and shrinks in place or
// moves: every value it held is still there, every slot it gained is nil (also past an end
// that was not on a page boundary), and a refused growth leaves it as it was.
TEST(Table, LargeArrayPartKeepsItsValuesAsItGrowsAndShrinks) {
  VmFixture f;
  auto check = [&](VmTable *t, int filled, const char *when) {
    int wrong = 0;
    for (int i = 1; i <= t->sizearray; i++) {
      const VmValue *v = vm_getnum(t, i);
      if (i <= filled ? !vm_isnumber(v) || v->v.n != i * 3.0 : !vm_isnil(v)) wrong++;
    }
    EXPECT_EQ(wrong, 0) << when;
  };
  auto fill = [&](VmTable *t, int from, int to) {
    for (int i = from; i <= to; i++) Set(f.L, t, Num(i), Num(i * 3.0));
  };
  auto clearFrom = [&](VmTable *t, int from) {
    for (int i = from; i <= t->sizearray; i++) Set(f.L, t, Num(i), vm_nilobject);
  };

  VmTable *t = NewTable(f.L);
  const int n = 600000;  // array part of 2^20 slots at the end: 16 MB
  fill(t, 1, n);
  ASSERT_EQ(t->sizearray, 1 << 20);
  check(t, n, "grown");
  // A new key rehashes: the part shrinks to 2^17 slots (still mapped), then to 2^9 (not).
  clearFrom(t, 100001);
  Set(f.L, t, Str(f.L, "a"), Num(1));
  ASSERT_EQ(t->sizearray, 1 << 17);
  check(t, 100000, "shrunk");
  clearFrom(t, 301);
  Set(f.L, t, Str(f.L, "b"), Num(1));
  Set(f.L, t, Str(f.L, "c"), Num(1));
  ASSERT_EQ(t->sizearray, 1 << 9);
  check(t, 300, "shrunk below a megabyte");
  fill(t, 301, 300000);
  ASSERT_EQ(t->sizearray, 1 << 19);
  check(t, 300000, "grown again");

  // A part made at an odd size ends inside a page.
  VmTable *odd = NewTable(f.L, 70001);
  fill(odd, 1, 70001);
  check(odd, 70001, "odd size");
  fill(odd, 70002, 100000);
  ASSERT_EQ(odd->sizearray, 1 << 17);
  check(odd, 100000, "grown from an odd size");

  // Beyond the memory limit the growth is refused and nothing is lost.
  VmTable *capped = NewTable(f.L);
  fill(capped, 1, 1 << 16);
  G(f.L)->memlimit = G(f.L)->nblocks + (1u << 19);
  VmValue k = Num((1 << 16) + 1), v = Num(1);
  EXPECT_EQ(Protected(f.L, [&] { *vm_settable_raw(f.L, capped, &k) = v; }), unsigned(ERR_MEM));
  G(f.L)->memlimit = 0;
  EXPECT_EQ(capped->sizearray, 1 << 16);
  check(capped, 1 << 16, "refused");
}
