// From the process's arguments to a ready VM: platform, catalog, link record, options, .ini
// file, banner, runtime support and the script libraries.
#pragma once
#include <cstdint>

struct qmPlayerRun;
struct VmState;

// 0 or an error code. No program file and nothing appended gives ERR_USERABORT (a silent end).
uint32_t StartUp(qmPlayerRun *run, const uint8_t *linkRecord, int argc, char **argv);

// The script state every run starts from, before its libraries open: the runtime support,
// the include levels and the "_g" global. 0 or ERR_MEM.
uint32_t OpenScriptState(VmState *L);
