// The script libraries in the order start-up opens them and shut-down frees them.
#pragma once
#include <cstdint>

#include "runtime/registry.h"

struct VmState;

struct qmLibraryFree {
  const char *name;  // a null name ends the table
  void (*free)(VmState *L);
};

// The libraries that exist, in opening order, ended by an empty row.
extern const qmLibraryEntry kPlayerLibraries[];
// Shut-down order of the libraries that exist.
extern const qmLibraryFree kPlayerLibraryFrees[];

// For each row: push the global table, call the init function, reset the stack. The first
// error is returned.
uint32_t OpenPlayerLibraries(VmState *L, const qmLibraryEntry *table);
void FreePlayerLibraries(VmState *L, const qmLibraryFree *table);
