// Include in exactly one file of each test program that starts the desktop layer.
#pragma once

// SDL and the libraries under it keep some allocations until the process ends; only their
// own frames are named here.
extern "C" __attribute__((used)) const char *__lsan_default_suppressions() {
  return "leak:libSDL2\nleak:libX11\nleak:libxcb\nleak:libdbus\n";
}
