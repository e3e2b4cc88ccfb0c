// Runtime tags: the switches that start-up, libraries and plug-ins read and set through tag
// lists, with hook lists through which other libraries answer further tags; the plug-in hook
// list; status output.
#pragma once
#include <cstdint>

enum : uint32_t {
#define QM_RTTAG(number, name) RTTAG_##name = number,
#include "runtime/rttags.def"
#undef QM_RTTAG
};

// A tag list is pairs ended by the tag 0. Values are pointer-sized; for reading, the value is
// the address where the answer goes.
struct qmTagItem {
  uint32_t tag;
  uintptr_t value;
};

using qmSetTagHook = int (*)(void *context, uint32_t tag, uintptr_t value);
using qmGetTagHook = int (*)(void *context, uint32_t tag, uintptr_t *result);

// A run's tags and hook lists live in its record (the player context): made at their start
// values, bound while the run is played, deleted with their hooks. The calls below act on the
// bound record; with none bound, on a record of the module's own.
struct qmRuntimeTags;
qmRuntimeTags *NewRuntimeTags();
void DeleteRuntimeTags(qmRuntimeTags *tags);
void BindRuntimeTags(qmRuntimeTags *tags);

// The number of tags answered / taken; tags that nothing takes are not counted.
uint32_t GetRuntimeTags(void *context, const qmTagItem *tags);
uint32_t SetRuntimeTags(void *context, const qmTagItem *tags);
// 0 or ERR_MEM; hooks are asked in the order they were added.
uint32_t AddSetTagHook(qmSetTagHook hook);
uint32_t AddGetTagHook(qmGetTagHook hook);

struct qmPluginHook {
  qmPluginHook *next;
  uint32_t kind;
  uintptr_t second;
  uintptr_t first;
};
// 1, or 0 without memory or for a kind other than 0.
int AddPluginHook(uint32_t kind, uintptr_t first, uintptr_t second);
const qmPluginHook *GetPluginHooks();

// Direct access for the runtime itself.
uint32_t GetEventTimeout();
int IsQuiet();
int IsLineInfoOn();
// Whether the applet's declarations are running (start-up creating its declared objects).
bool DeclarationsRunning();

// Unless quiet, prints the format on standard output, its "%s" filled with the display name of
// name (when given), followed by "..." when dots is set.
void PrintStatusMessage(const char *format, const char *name, int dots);

// Back to the start values; frees both hook lists and the plug-in hooks.
void ResetRuntimeTags();
