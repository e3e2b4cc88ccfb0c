// The reader of a "filters" option table (display tags, layer styles) into filter slots.
#pragma once
#include <cstdint>

#include "display/filters.h"

struct VmState;

// Reads table["filters"] (a list of {name, disable, priority, args} from index 0) into the
// slots; slots no entry names keep their state. *given := 1 when a list was read. 0,
// ERR_TABEXPECTED2, ERR_NOFILTERNAME, ERR_STRTABLEARG, ERR_UNKNOWNFILTER, ERR_TABEXPECTED or
// ERR_NUMTABLEARG; the slots may be partly written on an error.
uint32_t ReadFilterTable(VmState *L, int32_t table, qmFilterSlot *filters, int32_t *given);
// The "tint" level (0..255 or "n%", switching the tint slot on when not 0) and "tintcolor" of the
// table into the tint slot; slots of keys not given stay.
void ReadTintOptions(VmState *L, int32_t table, qmFilterSlot *filters);
