#include "runtime/vm/vm_table.h"

#include <cstring>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vm/vm_string.h"

namespace {

constexpr int MAXASIZE = 1 << VM_MAXBITS;  // largest key counted for the array part

inline VmNode *gnode(const VmTable *t, size_t i) { return &t->node[i]; }

VmNode *hashnum(const VmTable *t, double n) {
  double x = n + 1.0;  // folds -0 onto 0
  uint32_t w[2];
  std::memcpy(w, &x, sizeof w);
  uint32_t sum = w[0] + w[1];
  return gnode(t, sum % ((static_cast<uint32_t>(vm_sizenode(t)) - 1) | 1));
}

VmNode *hashpointer(const VmTable *t, const void *p) {
  auto u = reinterpret_cast<uintptr_t>(p);
  return gnode(t, u % ((static_cast<uintptr_t>(vm_sizenode(t)) - 1) | 1));
}

inline __attribute__((always_inline)) VmNode *mainposition(const VmTable *t, const VmValue *key) {
  uint32_t mask = static_cast<uint32_t>(vm_sizenode(t)) - 1;
  switch (key->tt) {
    case VM_TNUMBER: return hashnum(t, key->v.n);
    case VM_TSTRING: return gnode(t, vm_svalue(key)->hash & mask);
    case VM_TBOOLEAN: return gnode(t, static_cast<uint32_t>(key->v.b) & mask);
    default: return hashpointer(t, key->v.p);
  }
}

// The array index a key stands for (1..2^24), or -1.
int arrayindex(const VmValue *key) {
  int k;
  if (key->tt == VM_TNUMBER && vm_num2intexact(key->v.n, &k) && k >= 1 && k <= MAXASIZE) return k;
  return -1;
}

const VmValue *getany(VmTable *t, const VmValue *key) {
  for (VmNode *n = mainposition(t, key); n; n = n->next)
    if (vm_rawequalobj(&n->key, key)) return &n->val;
  return &vm_nilobject;
}

// Resizes the array part (slots past a smaller size must have been moved out before).
void setarrayvector(VmState *L, VmTable *t, int size) {
  bool cleared;
  t->array = static_cast<VmValue *>(vm_arrayrealloc(L, t->array, static_cast<size_t>(t->sizearray) * sizeof(VmValue),
                                                    static_cast<size_t>(size) * sizeof(VmValue), &cleared));
  static_assert(VM_TNIL == 0, "cleared slots are nil");
  if (!cleared && size > t->sizearray)
    std::memset(static_cast<void *>(t->array + t->sizearray), 0, static_cast<size_t>(size - t->sizearray) * sizeof(VmValue));
  t->sizearray = size;
}

// Installs a fresh hash part of 2^lsize nodes (the shared dummy node for 0).
void setnodevector(VmState *L, VmTable *t, int lsize) {
  if (lsize > VM_MAXBITS) vm_raise(L, ERR_TABLEOVERFLOW);
  if (lsize == 0) {
    t->node = &G(L)->dummynode;
  } else {
    size_t size = size_t{1} << lsize;
    VmNode *nodes = vm_newvector<VmNode>(L, size);
    // Nil keys, nil values and no next: all zero bits, written in one sweep.
    std::memset(static_cast<void *>(nodes), 0, size * sizeof(VmNode));
    t->node = nodes;
  }
  t->lsizenode = static_cast<uint8_t>(lsize);
  t->firstfree = gnode(t, static_cast<size_t>(vm_sizenode(t) - 1));
}

// Counts used keys per slice: slice 0 is the key 1, slice i holds 2^(i-1)+1 .. 2^i.
// Returns the total number of used keys; *nint receives the number of integer keys.
int countkeys(const VmTable *t, int nums[VM_MAXBITS + 1], int *nint) {
  int total = 0;
  int i = 0;
  for (int lg = 0; lg <= VM_MAXBITS; lg++) nums[lg] = 0;
  for (int lg = 0; lg <= VM_MAXBITS; lg++) {
    int ttlg = 1 << lg;
    if (ttlg > t->sizearray) {
      ttlg = t->sizearray;
      if (i >= ttlg) break;
    }
    // A slice at a time into a local count, without a branch per slot: a growing array is
    // counted whole at every doubling.
    int used = 0;
    for (; i < ttlg; i++) used += t->array[i].tt != VM_TNIL;
    nums[lg] = used;
    total += used;
  }
  *nint = total;
  for (int n = vm_sizenode(t) - 1; n >= 0; n--) {
    const VmNode *node = &t->node[n];
    if (vm_isnil(&node->val)) continue;
    int k = arrayindex(&node->key);
    if (k >= 0) {
      nums[vm_log2(static_cast<uint32_t>(k - 1)) + 1]++;
      (*nint)++;
    }
    total++;
  }
  return total;
}

// The array size is the largest 2^i that is more than half full.
void computesizes(const int nums[VM_MAXBITS + 1], int total, int nint, int *narray, int *nhash) {
  int a = nums[0];
  int na = a;
  int n = (na == 0) ? -1 : 0;
  for (int i = 1; i <= VM_MAXBITS && a < nint && nint >= (1 << (i - 1)); i++) {
    // A slice without keys still doubles an array whose lower half is full.
    a += nums[i];
    if (a >= (1 << (i - 1))) { n = i; na = a; }
  }
  *nhash = total - na;
  *narray = (n == -1) ? 0 : (1 << n);
}

VmValue *newkey(VmState *L, VmTable *t, const VmValue *key);
inline VmValue *placekey(VmTable *t, const VmValue *key, bool *full);

void resize(VmState *L, VmTable *t, int nasize, int lnhash) {
  if (lnhash > VM_MAXBITS) vm_raise(L, ERR_TABLEOVERFLOW);
  int oldasize = t->sizearray;
  int oldlsize = t->lsizenode;
  VmNode *nold = t->node;
  VmNode temp;
  if (oldlsize == 0) {
    // The dummy node may hold the key being inserted; keep a copy and clear it.
    temp = *nold;
    nold = &temp;
    VmNode &d = G(L)->dummynode;
    vm_setnil(&d.key);
    vm_setnil(&d.val);
    d.next = nullptr;
  }
  if (nasize > oldasize) setarrayvector(L, t, nasize);
  setnodevector(L, t, lnhash);
  if (nasize < oldasize) {
    t->sizearray = nasize;
    for (int i = nasize; i < oldasize; i++)
      if (!vm_isnil(&t->array[i])) *vm_setnum(L, t, i + 1) = t->array[i];
    t->sizearray = oldasize;  // the part is still of its old size until it shrinks
    setarrayvector(L, t, nasize);
  }
  // The old keys are distinct, none is nil or NaN, and none is in the new parts yet: each goes
  // to its array slot or straight to a new node, without the lookup of a general store.
  bool full;
  for (int i = (1 << oldlsize) - 1; i >= 0; i--) {
    VmNode *old = nold + i;
    if (vm_isnil(&old->val)) continue;
    int k;
    if (old->key.tt == VM_TNUMBER && vm_num2intexact(old->key.v.n, &k) &&
        static_cast<unsigned>(k) - 1u < static_cast<unsigned>(t->sizearray))
      t->array[k - 1] = old->val;
    else
      *placekey(t, &old->key, &full) = old->val;  // the new part is larger than its keys: never full
  }
  if (oldlsize) vm_freearray(L, nold, size_t{1} << oldlsize);
}

void rehash(VmState *L, VmTable *t) {
  int nums[VM_MAXBITS + 1];
  int nint;
  int total = countkeys(t, nums, &nint);
  int nasize, nhsize;
  computesizes(nums, total, nint, &nasize, &nhsize);
  resize(L, t, nasize, vm_log2(static_cast<uint32_t>(nhsize)) + 1);
}

// The slot for the key just past the end of the array part of a table without a hash part,
// where a rehash would have to put it; nullptr when the rehash must decide. All integer keys of
// such a table are in the array part, and the new key lies in the slice of p, the least power
// of two above the array's end: the rehash makes the array p long exactly when the keys, the
// new one included, fill at least half of it. Counting the holes against that bound reaches the
// same size without the count per slice, the dummy node's round trip and the lookup after it,
// and gives up at the first block that passes the bound.
VmValue *appendslot(VmState *L, VmTable *t) {
  const int n = t->sizearray;
  if (n >= MAXASIZE) return nullptr;
  const int p = n == 0 ? 1 : 2 << vm_log2(static_cast<uint32_t>(n));
  const int allowed = n + 1 - p / 2;  // holes that still leave half of p used
  int holes = 0;
  const VmValue *a = t->array;
  for (int i = 0; i < n;) {
    int end = n - i > 512 ? i + 512 : n;
    for (; i < end; i++) holes += a[i].tt == VM_TNIL;
    if (holes > allowed) return nullptr;
  }
  setarrayvector(L, t, p);
  return &t->array[n];
}

// Places a key known to be absent into the hash part and returns its slot. A colliding
// occupant that is not in its own main position moves to the free node; otherwise the new key
// takes the free node. *full tells whether the part has no free node left after it.
inline __attribute__((always_inline)) VmValue *placekey(VmTable *t, const VmValue *key, bool *full) {
  VmNode *mp = mainposition(t, key);
  if (!vm_isnil(&mp->val)) {
    VmNode *othern = mainposition(t, &mp->key);
    VmNode *n = t->firstfree;
    if (othern != mp) {
      while (othern->next != mp) othern = othern->next;
      othern->next = n;
      *n = *mp;
      mp->next = nullptr;
      vm_setnil(&mp->val);
    } else {
      n->next = mp->next;
      mp->next = n;
      mp = n;
    }
  }
  mp->key = *key;
  *full = false;
  for (;;) {
    if (vm_isnil(&t->firstfree->key)) return &mp->val;
    if (t->firstfree == t->node) break;
    t->firstfree--;
  }
  *full = true;
  return &mp->val;
}

// Inserts a key known to be absent, growing the table when no free node is left.
VmValue *newkey(VmState *L, VmTable *t, const VmValue *key) {
  int k;
  if (t->lsizenode == 0 && key->tt == VM_TNUMBER && vm_num2intexact(key->v.n, &k) && k - 1 == t->sizearray)
    if (VmValue *slot = appendslot(L, t)) return slot;
  bool full;
  VmValue *slot = placekey(t, key, &full);
  if (!full) return slot;
  // No free node left: mark the new key used so the rehash counts it, then grow.
  vm_setboolean(slot, 0);
  rehash(L, t);
  slot = const_cast<VmValue *>(vm_gettable_raw(t, key));
  vm_setnil(slot);
  return slot;
}

// Position of a traversal key: array index, or node index after the array.
int findindex(VmState *L, VmTable *t, const VmValue *key) {
  if (vm_isnil(key)) return -1;
  int k;
  if (key->tt == VM_TNUMBER && vm_num2intexact(key->v.n, &k) && k >= 1 && k <= t->sizearray) return k - 1;
  for (VmNode *n = mainposition(t, key); n; n = n->next) {
    bool same = vm_rawequalobj(&n->key, key) ||
                (n->key.tt == VM_TNONE && vm_iscollectable(key) && n->key.v.gc == key->v.gc);
    if (same) return static_cast<int>(n - t->node) + t->sizearray;
  }
  vm_raise(L, ERR_INVNEXTKEY);
}

}  // namespace

VmTable *vm_newtable_sized(VmState *L, int narray, int lnhash) {
  if (lnhash > VM_MAXBITS) vm_raise(L, ERR_TABLEOVERFLOW);
  if (narray < 0) narray = 0;
  if (lnhash < 0) lnhash = 0;
  VmGlobalState *g = G(L);
  auto *t = static_cast<VmTable *>(vm_realloc(L, nullptr, 0, sizeof(VmTable)));
  t->tt = VM_TTABLE;
  t->marked = 0;
  t->next = g->rootgc;
  g->rootgc = t;
  t->flags = 0xFF;
  t->metatable = vm_istable(&g->defaultmeta) ? vm_hvalue(&g->defaultmeta) : t;
  t->array = nullptr;
  t->sizearray = 0;
  t->gclist = nullptr;
  t->lsizenode = 0;
  t->node = &g->dummynode;
  t->firstfree = t->node;
  setarrayvector(L, t, narray);
  setnodevector(L, t, lnhash);
  return t;
}

void vm_freetable(VmState *L, VmTable *t) {
  if (t->lsizenode) vm_freearray(L, t->node, static_cast<size_t>(vm_sizenode(t)));
  vm_arrayrealloc(L, t->array, static_cast<size_t>(t->sizearray) * sizeof(VmValue), 0, nullptr);
  vm_realloc(L, t, sizeof(VmTable), 0);
}

__attribute__((noinline)) const VmValue *vm_getnum_hash(VmTable *t, int key) {
  double nk = key;
  for (VmNode *n = hashnum(t, nk); n; n = n->next)
    if (n->key.tt == VM_TNUMBER && n->key.v.n == nk) return &n->val;
  return &vm_nilobject;
}

const VmValue *vm_getstr(VmTable *t, VmString *key) {
  for (VmNode *n = gnode(t, key->hash & static_cast<uint32_t>(vm_sizenode(t) - 1)); n; n = n->next)
    if (n->key.tt == VM_TSTRING && n->key.v.gc == key) return &n->val;
  return &vm_nilobject;
}

const VmValue *vm_gettable_raw(VmTable *t, const VmValue *key) {
  switch (key->tt) {
    case VM_TNIL: return vm_getnum(t, 0);
    case VM_TSTRING: return vm_getstr(t, vm_svalue(key));
    case VM_TNUMBER: {
      int k;
      if (vm_num2intexact(key->v.n, &k)) return vm_getnum(t, k);
      return getany(t, key);
    }
    default: return getany(t, key);
  }
}

VmValue *vm_settable_raw(VmState *L, VmTable *t, const VmValue *key) {
  const VmValue *p = vm_gettable_raw(t, key);
  t->flags = 0;
  if (p != &vm_nilobject) return const_cast<VmValue *>(p);
  if (vm_isnil(key)) {
    VmValue zero;
    vm_setnumber(&zero, 0);
    return newkey(L, t, &zero);
  }
  if (key->tt == VM_TNUMBER && key->v.n != key->v.n) vm_raise(L, ERR_TABLEINDEX);
  return newkey(L, t, key);
}

__attribute__((noinline)) VmValue *vm_setnum_hash(VmState *L, VmTable *t, int key) {
  const VmValue *p = vm_getnum_hash(t, key);
  if (p != &vm_nilobject) return const_cast<VmValue *>(p);
  VmValue k;
  vm_setnumber(&k, key);
  return newkey(L, t, &k);
}

int vm_tablenext(VmState *L, VmTable *t, VmValue *key) {
  int i = findindex(L, t, key);
  for (i++; i < t->sizearray; i++) {
    if (!vm_isnil(&t->array[i])) {
      vm_setnumber(key, i + 1);
      key[1] = t->array[i];
      return 1;
    }
  }
  for (i -= t->sizearray; i < vm_sizenode(t); i++) {
    VmNode *n = gnode(t, static_cast<size_t>(i));
    if (!vm_isnil(&n->val)) {
      key[0] = n->key;
      key[1] = n->val;
      return 1;
    }
  }
  return 0;
}
