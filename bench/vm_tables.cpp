// Table fill/read (array and hash parts) and string interning, next to the standard
// library's containers doing the same work as the peer, in alternating rounds with their
// results compared once.
#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bench/side_by_side.h"
#include "platform/memory.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"
#include "runtime/vm/vm_table.h"

namespace {

// The allocator as the player sets it up at start-up, for the peers as for the tables.
const bool kLongRunAllocator = (MemSetUpForLongRun(), true);

struct Vm {
  VmState *L = vm_open();
  ~Vm() { vm_close(L); }
};

template <typename F>
void Run(VmState *L, F f) {
  auto tramp = [](VmState *, void *ud) { (*static_cast<F *>(ud))(); };
  vm_rawrunprotected(L, tramp, &f);
}

constexpr int kN = 4096;
// Rounds alternate ours and the peer (bench/side_by_side.h); each side does its work batch
// times a round, so that a round lasts milliseconds, well above the clocks' grain. The sums
// and results go to variables the checks read, not through DoNotOptimize, which g++ 12 with
// link-time optimisation lets garble a double.
void Rounds(benchmark::State &state, const char *peerName, int batch, const std::function<void()> &ours,
            const std::function<void()> &peer) {
  BenchBatchedRounds(state, peerName, batch, ours, peer);
  state.SetItemsProcessed(state.iterations() * batch * kN);
}

// Nothing collects yet: the newest table is dropped by hand.
void DropNewestTable(VmState *L) {
  VmGlobalState *g = G(L);
  VmTable *t = static_cast<VmTable *>(g->rootgc);
  g->rootgc = t->next;
  vm_freetable(L, t);
}

void BM_TableFillArrayVersusVector(benchmark::State &state) {
  Vm vm;
  double tableSum = 0, vectorSum = 0;
  auto ours = [&] {
    Run(vm.L, [&] {
      VmTable *t = vm_newtable_sized(vm.L, 0, 0);
      for (int i = 1; i <= kN; i++) vm_setnumber(vm_setnum(vm.L, t, i), i);
      benchmark::DoNotOptimize(t);
      tableSum = vm_getnum(t, kN)->v.n + vm_getnum(t, 1)->v.n;
    });
    DropNewestTable(vm.L);
  };
  auto peer = [&] {
    std::vector<double> v;
    for (int i = 1; i <= kN; i++) v.push_back(i);
    benchmark::DoNotOptimize(v.data());
    vectorSum = v.back() + v.front();
  };
  ours();
  peer();
  if (tableSum != vectorSum) return state.SkipWithError("the fills differ");
  Rounds(state, "vector", 1000, ours, peer);
}
BENCHMARK(BM_TableFillArrayVersusVector)->UseManualTime()->Iterations(15);

void BM_TableReadArrayVersusVector(benchmark::State &state) {
  Vm vm;
  VmTable *t = nullptr;
  Run(vm.L, [&] {
    t = vm_newtable_sized(vm.L, 0, 0);
    for (int i = 1; i <= kN; i++) vm_setnumber(vm_setnum(vm.L, t, i), i);
  });
  std::vector<double> v;
  for (int i = 1; i <= kN; i++) v.push_back(i);
  double tableSum = 0, vectorSum = 0;
  auto ours = [&] {
    double sum = 0;
    for (int i = 1; i <= kN; i++) sum += vm_getnum(t, i)->v.n;
    tableSum = sum;
  };
  auto peer = [&] {
    double sum = 0;
    for (int i = 0; i < kN; i++) sum += v[size_t(i)];
    vectorSum = sum;
  };
  ours();
  peer();
  if (tableSum != vectorSum) return state.SkipWithError("the sums differ");
  Rounds(state, "vector", 5000, ours, peer);
}
BENCHMARK(BM_TableReadArrayVersusVector)->UseManualTime()->Iterations(15);

// The peer keys by pointer too, as interned strings allow.
void BM_TableFillHashVersusUnorderedMap(benchmark::State &state) {
  Vm vm;
  std::vector<VmString *> keys;
  Run(vm.L, [&] {
    for (int i = 0; i < kN; i++) keys.push_back(vm_newstr(vm.L, ("key" + std::to_string(i)).c_str()));
  });
  std::vector<std::string> peerKeys;
  for (int i = 0; i < kN; i++) peerKeys.push_back("key" + std::to_string(i));
  double tableLast = -1, mapLast = -2;
  auto ours = [&] {
    Run(vm.L, [&] {
      VmTable *t = vm_newtable_sized(vm.L, 0, 0);
      VmValue k;
      for (int i = 0; i < kN; i++) {
        vm_setstring(&k, keys[size_t(i)]);
        vm_setnumber(vm_settable_raw(vm.L, t, &k), i);
      }
      benchmark::DoNotOptimize(t);
      tableLast = vm_getstr(t, keys.back())->v.n;
    });
    DropNewestTable(vm.L);
  };
  auto peer = [&] {
    std::unordered_map<const std::string *, double> m;
    for (int i = 0; i < kN; i++) m[&peerKeys[size_t(i)]] = i;
    benchmark::DoNotOptimize(m.size());
    mapLast = m[&peerKeys.back()];
  };
  ours();
  peer();
  if (tableLast != mapLast) return state.SkipWithError("the fills differ");
  Rounds(state, "unordered_map", 100, ours, peer);
}
BENCHMARK(BM_TableFillHashVersusUnorderedMap)->UseManualTime()->Iterations(15);

void BM_TableReadHashVersusUnorderedMap(benchmark::State &state) {
  Vm vm;
  std::vector<VmString *> keys;
  VmTable *t = nullptr;
  Run(vm.L, [&] {
    t = vm_newtable_sized(vm.L, 0, 0);
    VmValue k;
    for (int i = 0; i < kN; i++) {
      keys.push_back(vm_newstr(vm.L, ("key" + std::to_string(i)).c_str()));
      vm_setstring(&k, keys.back());
      vm_setnumber(vm_settable_raw(vm.L, t, &k), i);
    }
  });
  std::vector<std::string> peerKeys;
  for (int i = 0; i < kN; i++) peerKeys.push_back("key" + std::to_string(i));
  std::unordered_map<const std::string *, double> m;
  for (int i = 0; i < kN; i++) m[&peerKeys[size_t(i)]] = i;
  double tableSum = 0, mapSum = 0;
  auto ours = [&] {
    double sum = 0;
    for (int i = 0; i < kN; i++) sum += vm_getstr(t, keys[size_t(i)])->v.n;
    tableSum = sum;
  };
  auto peer = [&] {
    double sum = 0;
    for (int i = 0; i < kN; i++) sum += m.find(&peerKeys[size_t(i)])->second;
    mapSum = sum;
  };
  ours();
  peer();
  if (tableSum != mapSum) return state.SkipWithError("the sums differ");
  Rounds(state, "unordered_map", 2000, ours, peer);
}
BENCHMARK(BM_TableReadHashVersusUnorderedMap)->UseManualTime()->Iterations(15);

// Interning strings that already exist (the path of every concatenation and conversion),
// next to finding them in a set of strings.
void BM_InternExistingVersusUnorderedSet(benchmark::State &state) {
  Vm vm;
  std::vector<std::string> texts;
  for (int i = 0; i < kN; i++) texts.push_back("name_" + std::to_string(i));
  std::vector<VmString *> interned;
  Run(vm.L, [&] {
    for (auto &s : texts) interned.push_back(vm_newlstr(vm.L, s.data(), s.size()));
  });
  std::unordered_set<std::string> set(texts.begin(), texts.end());
  int oursFound = 0, setFound = 0;
  auto ours = [&] {
    oursFound = 0;
    for (size_t i = 0; i < texts.size(); i++) {
      VmString *s = vm_newlstr(vm.L, texts[i].data(), texts[i].size());
      benchmark::DoNotOptimize(s);
      oursFound += s == interned[i];
    }
  };
  auto peer = [&] {
    setFound = 0;
    for (auto &s : texts) {
      auto it = set.find(s);
      benchmark::DoNotOptimize(&*it);
      setFound += it != set.end();
    }
  };
  ours();
  peer();
  if (oursFound != kN || setFound != kN) return state.SkipWithError("a string was not found");
  Rounds(state, "unordered_set", 200, ours, peer);
}
BENCHMARK(BM_InternExistingVersusUnorderedSet)->UseManualTime()->Iterations(15);

}  // namespace
