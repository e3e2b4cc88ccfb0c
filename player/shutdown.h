// The end of every run after the VM exists: the libraries free their objects in a fixed
// order, the exit code is reported, plug-ins and finalisers run while the runtime support
// still exists, and everything of the run is freed.
#pragma once
#include <cstdint>

struct qmPlayerRun;

// The process's exit status: 0 for success and for a user abort (nothing is reported then),
// 1 after a reported error.
int Shutdown(uint32_t code, qmPlayerRun *run);
