// From the process's arguments to a ready VM: platform, catalog, link record, options, .ini
// file, banner, runtime support and the script libraries.
#pragma once
#include <cstdint>

struct qmPlayerRun;

// 0 or an error code. No program file and nothing appended gives ERR_USERABORT (a silent end).
uint32_t StartUp(qmPlayerRun *run, const uint8_t *linkRecord, int argc, char **argv);
