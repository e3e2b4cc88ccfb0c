// Tables: an array part for the keys 1..n and a chained hash part for everything else.
#pragma once
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/vm/vm_object.h"

struct VmNode {
  VmValue key;
  VmValue val;
  VmNode *next;  // next node of the same collision chain
};

struct VmTable : VmGCObject {
  uint8_t flags;      // bit e set: no tag method for event e (events 0..4), as a metatable
  uint8_t lsizenode;  // log2 of the hash-part size
  VmTable *metatable; // never null: the default metatable stands for "none"
  VmValue *array;
  VmNode *node;
  VmNode *firstfree;  // every node above it is in use
  VmGCObject *gclist;
  int32_t sizearray;
};

constexpr int VM_MAXBITS = 24;  // largest hash log size and array slice

inline int vm_sizenode(const VmTable *t) { return 1 << t->lsizenode; }

VmTable *vm_newtable_sized(VmState *L, int narray, int lnhash);
void vm_freetable(VmState *L, VmTable *t);

// Lookups return the slot of the key, or the shared nil object.
const VmValue *vm_gettable_raw(VmTable *t, const VmValue *key);
// The slot of an integer key outside the array part; vm_getnum's own way out.
const VmValue *vm_getnum_hash(VmTable *t, int key);
inline const VmValue *vm_getnum(VmTable *t, int key) {
  if (static_cast<unsigned>(key) - 1u < static_cast<unsigned>(t->sizearray)) return &t->array[key - 1];
  return vm_getnum_hash(t, key);
}
const VmValue *vm_getstr(VmTable *t, VmString *key);

// Writable slot for the key, created when absent (nil key means 0; NaN raises ERR_TABLEINDEX).
VmValue *vm_settable_raw(VmState *L, VmTable *t, const VmValue *key);
// The slot of a key outside the array part, created when absent; vm_setnum's own way out.
VmValue *vm_setnum_hash(VmState *L, VmTable *t, int key);
inline VmValue *vm_setnum(VmState *L, VmTable *t, int key) {
  if (static_cast<unsigned>(key) - 1u < static_cast<unsigned>(t->sizearray)) return &t->array[key - 1];
  return vm_setnum_hash(L, t, key);
}

// Advances a traversal: key[0] holds the current key (nil to start); on success key[0]
// and key[1] receive the next key and value and 1 is returned, else 0 at the end.
int vm_tablenext(VmState *L, VmTable *t, VmValue *key);

// The integer n a number key stands for when it is exactly one.
inline bool vm_num2intexact(double d, int *n) {
#if defined(__SSE2__)
  // The processor's truncation gives INT32_MIN for NaN and for anything out of range, so
  // the round trip alone decides; INT32_MIN itself comes back equal, as it should.
  int i = _mm_cvttsd_si32(_mm_set_sd(d));
#else
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) return false;
  int i = static_cast<int>(d);
#endif
  if (static_cast<double>(i) != d) return false;
  *n = i;
  return true;
}
