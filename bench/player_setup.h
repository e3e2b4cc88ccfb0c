// A player state for benches that drive the libraries: every library opened and the display
// services wired, on SDL's dummy video driver unless the caller chose one.
#pragma once

#include <cstdlib>

#include "player/libtable.h"
#include "player/startup.h"
#include "player/wiring.h"
#include "runtime/vm/vm_api.h"

// *L is set even when opening fails, so the caller's clean-up closes it; returns 0 when ready.
inline int OpenBenchPlayer(VmState **L) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  *L = vm_open();
  if (OpenScriptState(*L) || OpenLibraries(*L, kPlayerLibraries)) return 1;
  WireDisplayServices(*L);
  return 0;
}
