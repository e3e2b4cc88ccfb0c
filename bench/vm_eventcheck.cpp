// The cost of the interpreter's periodic event check: a tight script loop with and without
// the player's check installed (the throttled pump on SDL's dummy video driver).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "platform/desktop.h"
#include "player/event/event_wait.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

namespace {

const char *kLoop = R"(
.func maxstack=6
  .k 1 5000000 0
      LOADK    4 k2
      LOADK    1 k0
      LOADK    2 k1
      LOADK    3 k0
      SUB      1 1 3
      JMP      t
b:    ADD      4 4 1
t:    FORLOOP  1 b
      RETURN   4 2
.end
)";

void Run(benchmark::State &state, bool withCheck) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  VmState *L = vm_open();
  qmtools::AsmResult r = qmtools::AssembleText(kLoop);
  std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
  vm_loadbuffer(L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), "=loop");
  if (withCheck) vm_setperiodiccheck(L, ServiceEvents, 256);
  for (auto _ : state) {
    vm_pushvalue(L, 1);
    vm_pcall(L, 0, 0, 0);
  }
  vm_close(L);
  ShutdownDesktop();
}

void BM_LoopWithoutCheck(benchmark::State &state) { Run(state, false); }
void BM_LoopWithCheck(benchmark::State &state) { Run(state, true); }
BENCHMARK(BM_LoopWithoutCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoopWithCheck)->Unit(benchmark::kMillisecond);

}  // namespace
