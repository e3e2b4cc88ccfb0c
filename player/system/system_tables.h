// Table utilities of the system library on tables indexed from 0: counting, sorting, deep
// copies, inserting and removing items. Table indices are stack positions (positive).
#pragma once
#include <cstdint>

struct VmState;

inline constexpr int kCopyTableMaxDepth = 200;
inline constexpr int kSortStackSlots = 40;

// The number of consecutive entries from t[0] that are not nil (and, with stopAtEmpty, not
// the empty string).
int32_t CountTableItems(VmState *L, int t, int stopAtEmpty);

// Sorts t[first..last] in place: a median-of-three quicksort that orders the ends and the
// middle, partitions around the middle, recurses into the smaller part and loops on the
// larger. Ranges of three or fewer elements are finished by the median step alone. The order
// is the VM's "<", or comparator(a, b) (stack position, 0 for none) returning a non-zero
// number when a comes first. 0, ERR_SORTFUNC when the comparator is not a strict order (a
// scan would leave the range; nothing outside it is read), ERR_STACK, or the comparator's
// error.
uint32_t SortTableRange(VmState *L, int t, int comparator, int32_t first, int32_t last);

// Pushes a new table with every key of t; values that are tables are copied the same way,
// other values are shared. A table met again on its own path (a cycle) or nesting deeper than
// kCopyTableMaxDepth gives ERR_STACK and pushes nothing.
uint32_t CopyTableDeep(VmState *L, int t);

// Inserts the value at stack position v before t[position]; a position outside 0..count
// appends.
void InsertTableItem(VmState *L, int t, int v, int64_t position);
// Pushes the removed item and returns 1; 0 (nothing pushed) for an empty table. A position
// outside 0..count-1 removes the last item.
int RemoveTableItem(VmState *L, int t, int64_t position);
