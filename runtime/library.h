// A library of script commands is one record: its name, commands and constants, what it sets
// up after they are registered, what it frees at shut-down and its place in the shut-down
// order. The player opens its libraries from one table and frees them in rank order.
#pragma once
#include <cstdint>

#include "runtime/registry.h"

struct VmState;

// The shut-down order: sound output and videos stop first, so that their threads no longer
// touch what is freed after them; sound objects go last. Lower ranks are freed first.
enum qmFreeRank : int32_t {
  FREERANK_SOUNDDEVICE = 1,
  FREERANK_VIDEOPLAYBACK,
  FREERANK_DISPLAY,
  FREERANK_NETWORK,
  FREERANK_GRAPHICS,
  FREERANK_DRAW,
  FREERANK_BRUSH,
  FREERANK_BGPIC,
  FREERANK_VIDEO,
  FREERANK_VECTORGRAPHICS,
  FREERANK_SPRITE,
  FREERANK_SYSTEM,
  FREERANK_TEXT,
  FREERANK_ANIM,
  FREERANK_LAYERS,
  FREERANK_DOS,
  FREERANK_MEMBLOCK,
  FREERANK_EVENT,
  FREERANK_SOUND,
  // Libraries that keep nothing the VM's closing could still need.
  FREERANK_LAST,
};

struct qmLibrary {
  const char *name;
  const qmCommandEntry *commands;    // ended by an empty row
  const qmConstantEntry *constants;  // ended by an empty row; null: none
  uint32_t (*init)(VmState *L);      // after the commands and constants; null: nothing to do
  void (*free)(VmState *L);          // null: nothing to free
  int32_t freeRank;                  // qmFreeRank
  // A library that must also stop something early (the sound output before the libraries
  // whose objects its threads could touch) names that step and its own rank here.
  void (*earlyFree)(VmState *L) = nullptr;
  int32_t earlyFreeRank = 0;  // qmFreeRank; 0: no early step
};

// Registers the commands as globals and in the command registry, then the constants, then
// runs init: 0 or the first error.
uint32_t OpenLibrary(VmState *L, const qmLibrary *library);
// Opens every library of the null-ended table in its order: 0 or the first error (the
// libraries opened before it stay open; FreeLibraries frees them all).
uint32_t OpenLibraries(VmState *L, const qmLibrary *const *table);
// Calls every library's free in rank order (the table's order within a rank), each under
// protection: 0 or the first error a free raised. Every free must cope with a library whose
// init never ran or failed half-way.
uint32_t FreeLibraries(VmState *L, const qmLibrary *const *table);
