// What lives for the whole run beside the two records: the VM, the link state, the option
// settings, the temporary files and the library tables.
#pragma once
#include <cstdint>

#include "player/options.h"

struct VmState;
struct qmClArgs;
struct qmPlayerApplet;
struct qmLibrary;

struct qmTempFile {
  qmTempFile *next;
  char path[1024];
};

struct qmPlayerRun {
  VmState *L;
  qmClArgs *args;
  qmPlayerApplet *applet;
  uint32_t linked;         // the executable carries its applet
  uint64_t linkOffset;     // where the appended applet starts
  uint32_t startedFromShell;
  qmRunOptions options;
  qmTempFile *tempFiles;   // removed at shut-down
  const qmLibrary *const *libraries;  // opened at start-up, freed at shut-down
};

// 0 or ERR_MEM.
uint32_t AddTempFile(qmPlayerRun *run, const char *path);
// Deletes every temporary file and frees the list.
void RemoveTempFiles(qmPlayerRun *run);
