#include "player/system/system_tables.h"

#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"

namespace {

struct SortContext {
  VmState *L;
  int t;
  int comparator;
};

// *less = a < b for the values at the absolute stack positions a and b.
uint32_t Less(const SortContext &s, int a, int b, int *less) {
  VmState *L = s.L;
  if (!s.comparator) {
    *less = vm_lessthan(L, a, b, 1);
    return 0;
  }
  vm_pushvalue(L, s.comparator);
  vm_pushvalue(L, a);
  vm_pushvalue(L, b);
  uint32_t code = vm_call(L, 2, 1);
  if (code) return code;
  *less = vm_type(L, -1) == VM_TNUMBER && vm_tonumber(L, -1) != 0;
  vm_pop(L, 1);
  return 0;
}

// *less = t[i] < t[j].
uint32_t LessAt(const SortContext &s, int64_t i, int64_t j, int *less) {
  VmState *L = s.L;
  vm_rawgeti(L, s.t, static_cast<int>(i));
  vm_rawgeti(L, s.t, static_cast<int>(j));
  int top = vm_gettop(L);
  uint32_t code = Less(s, top - 1, top, less);
  vm_pop(L, 2);
  return code;
}

void Swap(const SortContext &s, int64_t i, int64_t j) {
  VmState *L = s.L;
  vm_rawgeti(L, s.t, static_cast<int>(i));
  vm_rawgeti(L, s.t, static_cast<int>(j));
  vm_rawseti(L, s.t, static_cast<int>(i));
  vm_rawseti(L, s.t, static_cast<int>(j));
}

// Puts the pivot t[mid] at hi - 1 and splits lo..hi around it; *split is its final place.
uint32_t Partition(const SortContext &s, int64_t lo, int64_t hi, int64_t mid, int64_t *split) {
  VmState *L = s.L;
  Swap(s, mid, hi - 1);
  vm_rawgeti(L, s.t, static_cast<int>(hi - 1));
  int pivot = vm_gettop(L);
  int64_t i = lo, j = hi - 1;
  uint32_t code = 0;
  int less;
  for (;;) {
    // Up while t[i] < pivot: a strict order stops at the pivot itself, so leaving the range
    // means the comparator contradicts itself.
    for (;;) {
      if (++i > hi) {
        code = ERR_SORTFUNC;
        break;
      }
      vm_rawgeti(L, s.t, static_cast<int>(i));
      code = Less(s, vm_gettop(L), pivot, &less);
      vm_pop(L, 1);
      if (code || !less) break;
    }
    if (code) break;
    // Down while pivot < t[j]: t[lo] is not above the pivot after the median step.
    for (;;) {
      if (--j < lo) {
        code = ERR_SORTFUNC;
        break;
      }
      vm_rawgeti(L, s.t, static_cast<int>(j));
      code = Less(s, pivot, vm_gettop(L), &less);
      vm_pop(L, 1);
      if (code || !less) break;
    }
    if (code || j < i) break;
    Swap(s, i, j);
  }
  vm_settop(L, pivot - 1);
  if (code) return code;
  Swap(s, hi - 1, i);
  *split = i;
  return 0;
}

uint32_t SortRange(const SortContext &s, int64_t lo, int64_t hi) {
  while (lo < hi) {
    int less;
    uint32_t code = LessAt(s, hi, lo, &less);
    if (code) return code;
    if (less) Swap(s, lo, hi);
    if (hi - lo == 1) return 0;
    int64_t mid = (lo + hi) / 2;
    if ((code = LessAt(s, mid, lo, &less))) return code;
    if (less) {
      Swap(s, mid, lo);
    } else {
      if ((code = LessAt(s, hi, mid, &less))) return code;
      if (less) Swap(s, mid, hi);
    }
    if (hi - lo == 2) return 0;
    int64_t split;
    if ((code = Partition(s, lo, hi, mid, &split))) return code;
    // Recursing only into the smaller part keeps the depth logarithmic.
    if (split - lo < hi - split) {
      if ((code = SortRange(s, lo, split - 1))) return code;
      lo = split + 1;
    } else {
      if ((code = SortRange(s, split + 1, hi))) return code;
      hi = split - 1;
    }
  }
  return 0;
}

uint32_t CopyLevel(VmState *L, int src, const void **path, int depth) {
  if (depth >= kCopyTableMaxDepth) return ERR_STACK;
  const void *self = vm_topointer(L, src);
  for (int k = 0; k < depth; k++)
    if (path[k] == self) return ERR_STACK;
  if (!vm_checkstack(L, 4)) return ERR_STACK;
  path[depth] = self;
  vm_newtable(L);
  int dst = vm_gettop(L);
  vm_pushnil(L);
  while (vm_next(L, src)) {
    if (vm_type(L, -1) == VM_TTABLE) {
      int value = vm_gettop(L);
      uint32_t code = CopyLevel(L, value, path, depth + 1);
      if (code) {
        vm_settop(L, dst - 1);
        return code;
      }
      vm_replace(L, value);
    }
    vm_pushvalue(L, -2);
    vm_insert(L, -2);
    vm_rawset(L, dst);
  }
  return 0;
}

}  // namespace

int32_t CountTableItems(VmState *L, int t, int stopAtEmpty) {
  int32_t n = 0;
  for (;; n++) {
    vm_rawgeti(L, t, n);
    int type = vm_type(L, -1);
    bool end = type == VM_TNIL || (stopAtEmpty && type == VM_TSTRING && vm_strlen(L, -1) == 0);
    vm_pop(L, 1);
    if (end || n == INT32_MAX) break;
  }
  return n;
}

uint32_t SortTableRange(VmState *L, int t, int comparator, int32_t first, int32_t last) {
  if (!vm_checkstack(L, kSortStackSlots)) return ERR_STACK;
  SortContext s{L, vm_absindex(L, t), comparator ? vm_absindex(L, comparator) : 0};
  return SortRange(s, first, last);
}

uint32_t CopyTableDeep(VmState *L, int t) {
  const void *path[kCopyTableMaxDepth];
  return CopyLevel(L, vm_absindex(L, t), path, 0);
}

void InsertTableItem(VmState *L, int t, int v, int64_t position) {
  t = vm_absindex(L, t);
  v = vm_absindex(L, v);
  int32_t n = CountTableItems(L, t, 0);
  if (position < 0 || position > n) position = n;
  for (int64_t i = n; i > position; i--) {
    vm_rawgeti(L, t, static_cast<int>(i - 1));
    vm_rawseti(L, t, static_cast<int>(i));
  }
  vm_pushvalue(L, v);
  vm_rawseti(L, t, static_cast<int>(position));
}

int RemoveTableItem(VmState *L, int t, int64_t position) {
  t = vm_absindex(L, t);
  int32_t n = CountTableItems(L, t, 0);
  if (n == 0) return 0;
  if (position < 0 || position > n - 1) position = n - 1;
  vm_rawgeti(L, t, static_cast<int>(position));
  for (int64_t i = position; i < n - 1; i++) {
    vm_rawgeti(L, t, static_cast<int>(i + 1));
    vm_rawseti(L, t, static_cast<int>(i));
  }
  vm_pushnil(L);
  vm_rawseti(L, t, n - 1);
  return 1;
}
