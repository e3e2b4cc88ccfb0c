// Table fill/read (array and hash parts) and string interning, next to the standard
// library's containers doing the same work as the peer.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

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

void BM_TableFillArray(benchmark::State &state) {
  Vm vm;
  for (auto _ : state) {
    Run(vm.L, [&] {
      VmTable *t = vm_newtable_sized(vm.L, 0, 0);
      for (int i = 1; i <= kN; i++) vm_setnumber(vm_setnum(vm.L, t, i), i);
      benchmark::DoNotOptimize(t);
    });
    // Nothing collects yet: drop the tables by hand.
    VmGlobalState *g = G(vm.L);
    VmTable *t = static_cast<VmTable *>(g->rootgc);
    g->rootgc = t->next;
    vm_freetable(vm.L, t);
  }
  state.SetItemsProcessed(state.iterations() * kN);
}
BENCHMARK(BM_TableFillArray);

void BM_PeerVectorFill(benchmark::State &state) {
  for (auto _ : state) {
    std::vector<double> v;
    for (int i = 1; i <= kN; i++) v.push_back(i);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * kN);
}
BENCHMARK(BM_PeerVectorFill);

void BM_TableReadArray(benchmark::State &state) {
  Vm vm;
  VmTable *t = nullptr;
  Run(vm.L, [&] {
    t = vm_newtable_sized(vm.L, 0, 0);
    for (int i = 1; i <= kN; i++) vm_setnumber(vm_setnum(vm.L, t, i), i);
  });
  for (auto _ : state) {
    double sum = 0;
    for (int i = 1; i <= kN; i++) sum += vm_getnum(t, i)->v.n;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kN);
}
BENCHMARK(BM_TableReadArray);

void BM_TableFillHash(benchmark::State &state) {
  Vm vm;
  std::vector<VmString *> keys;
  Run(vm.L, [&] {
    for (int i = 0; i < kN; i++) keys.push_back(vm_newstr(vm.L, ("key" + std::to_string(i)).c_str()));
  });
  for (auto _ : state) {
    Run(vm.L, [&] {
      VmTable *t = vm_newtable_sized(vm.L, 0, 0);
      VmValue k;
      for (int i = 0; i < kN; i++) {
        vm_setstring(&k, keys[i]);
        vm_setnumber(vm_settable_raw(vm.L, t, &k), i);
      }
      benchmark::DoNotOptimize(t);
    });
    VmGlobalState *g = G(vm.L);
    VmTable *t = static_cast<VmTable *>(g->rootgc);
    g->rootgc = t->next;
    vm_freetable(vm.L, t);
  }
  state.SetItemsProcessed(state.iterations() * kN);
}
BENCHMARK(BM_TableFillHash);

void BM_TableReadHash(benchmark::State &state) {
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
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < kN; i++) sum += vm_getstr(t, keys[i])->v.n;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kN);
}
BENCHMARK(BM_TableReadHash);

// The peer keys by pointer too, as interned strings allow.
void BM_PeerUnorderedMapFill(benchmark::State &state) {
  std::vector<std::string> keys;
  for (int i = 0; i < kN; i++) keys.push_back("key" + std::to_string(i));
  for (auto _ : state) {
    std::unordered_map<const std::string *, double> m;
    for (int i = 0; i < kN; i++) m[&keys[i]] = i;
    benchmark::DoNotOptimize(m.size());
  }
  state.SetItemsProcessed(state.iterations() * kN);
}
BENCHMARK(BM_PeerUnorderedMapFill);

void BM_PeerUnorderedMapRead(benchmark::State &state) {
  std::vector<std::string> keys;
  for (int i = 0; i < kN; i++) keys.push_back("key" + std::to_string(i));
  std::unordered_map<const std::string *, double> m;
  for (int i = 0; i < kN; i++) m[&keys[i]] = i;
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < kN; i++) sum += m.find(&keys[i])->second;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kN);
}
BENCHMARK(BM_PeerUnorderedMapRead);

// Interning strings that already exist: the path of every concatenation and conversion.
void BM_InternExisting(benchmark::State &state) {
  Vm vm;
  std::vector<std::string> texts;
  for (int i = 0; i < kN; i++) texts.push_back("name_" + std::to_string(i));
  Run(vm.L, [&] {
    for (auto &s : texts) vm_newlstr(vm.L, s.data(), s.size());
  });
  for (auto _ : state) {
    for (auto &s : texts) benchmark::DoNotOptimize(vm_newlstr(vm.L, s.data(), s.size()));
  }
  state.SetItemsProcessed(state.iterations() * kN);
}
BENCHMARK(BM_InternExisting);

void BM_PeerUnorderedSetFind(benchmark::State &state) {
  std::vector<std::string> texts;
  for (int i = 0; i < kN; i++) texts.push_back("name_" + std::to_string(i));
  std::unordered_set<std::string> set(texts.begin(), texts.end());
  for (auto _ : state) {
    for (auto &s : texts) benchmark::DoNotOptimize(&*set.find(s));
  }
  state.SetItemsProcessed(state.iterations() * kN);
}
BENCHMARK(BM_PeerUnorderedSetFind);

}  // namespace
