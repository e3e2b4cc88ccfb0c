#include "runtime/auxlib.h"

#include <cstring>

#include "runtime/vm/vm_api.h"

namespace {

constexpr int kFreeListItem = 1;  // item 1 of a reference table heads its free list
constexpr int kSizesItem = 2;     // registry item 2: sizes of tables without a field "n"

void PushRegistryValue(VmState *L, const char *name) {
  vm_pushstring(L, name);
  vm_rawget(L, VM_REGISTRYINDEX);
}

void SetRegistryTop(VmState *L, const char *name) {
  vm_pushstring(L, name);
  vm_insert(L, -2);
  vm_rawset(L, VM_REGISTRYINDEX);
}

// Pushes the registry's size table, creating it (with weak keys) when asked.
bool PushSizes(VmState *L, bool create) {
  vm_rawgeti(L, VM_REGISTRYINDEX, kSizesItem);
  if (vm_type(L, -1) == VM_TTABLE) return true;
  vm_pop(L, 1);
  if (!create) return false;
  vm_newtable(L);
  vm_newtable(L);
  vm_pushstring(L, "__mode");
  vm_pushstring(L, "k");
  vm_rawset(L, -3);
  vm_setmetatable(L, -2);
  vm_pushvalue(L, -1);
  vm_rawseti(L, VM_REGISTRYINDEX, kSizesItem);
  return true;
}

}  // namespace

int vm_absindex(VmState *L, int i) { return i < 0 && i > VM_REGISTRYINDEX ? vm_gettop(L) + i + 1 : i; }

void *vm_registry_getudata(VmState *L, const char *name) {
  PushRegistryValue(L, name);
  void *p = vm_touserdata(L, -1);
  vm_pop(L, 1);
  return p;
}

const char *vm_registry_getstring(VmState *L, const char *name) {
  PushRegistryValue(L, name);
  // A string value stays alive in the registry after the pop.
  const char *s = vm_type(L, -1) == VM_TSTRING ? vm_tostring(L, -1) : nullptr;
  vm_pop(L, 1);
  return s;
}

double vm_registry_getnumber(VmState *L, const char *name) {
  PushRegistryValue(L, name);
  double n = vm_type(L, -1) == VM_TNUMBER ? vm_tonumber(L, -1) : 0;
  vm_pop(L, 1);
  return n;
}

void vm_registry_setlightudata(VmState *L, const char *name, void *p) {
  vm_pushlightuserdata(L, p);
  SetRegistryTop(L, name);
}

void vm_registry_setstring(VmState *L, const char *name, const char *text) {
  vm_pushstring(L, text);
  SetRegistryTop(L, name);
}

void vm_registry_setnumber(VmState *L, const char *name, double n) {
  vm_pushnumber(L, n);
  SetRegistryTop(L, name);
}

int vm_getmetafield(VmState *L, int i, const char *event) {
  if (!vm_getmetatable(L, i)) return 0;
  vm_pushstring(L, event);
  vm_rawget(L, -2);
  if (vm_type(L, -1) == VM_TNIL) {
    vm_pop(L, 2);
    return 0;
  }
  vm_remove(L, -2);
  return 1;
}

int vm_callmeta(VmState *L, int i, const char *event) {
  i = vm_absindex(L, i);
  if (!vm_getmetafield(L, i, event)) return 0;
  vm_pushvalue(L, i);
  vm_call(L, 1, 1);
  return 1;
}

int vm_newmetatable(VmState *L, const char *name) {
  PushRegistryValue(L, name);
  if (vm_type(L, -1) != VM_TNIL) return 0;
  vm_pop(L, 1);
  vm_newtable(L);
  vm_pushstring(L, name);
  vm_pushvalue(L, -2);
  vm_rawset(L, VM_REGISTRYINDEX);
  vm_pushvalue(L, -1);
  vm_pushstring(L, name);
  vm_rawset(L, VM_REGISTRYINDEX);
  return 1;
}

void vm_getmetatable_byname(VmState *L, const char *name) { PushRegistryValue(L, name); }

int vm_findstring(const char *text, const char *const list[]) {
  for (int i = 0; list[i]; i++)
    if (std::strcmp(list[i], text) == 0) return i;
  return -1;
}

int vm_ref(VmState *L, int t) {
  t = vm_absindex(L, t);
  if (vm_type(L, -1) == VM_TNIL) {
    vm_pop(L, 1);
    return VM_REFNIL;
  }
  vm_rawgeti(L, t, kFreeListItem);
  int ref = int(vm_tonumber(L, -1));
  vm_pop(L, 1);
  if (ref != 0) {
    vm_rawgeti(L, t, ref);  // the next free reference
    vm_rawseti(L, t, kFreeListItem);
  } else {
    ref = vm_getn(L, t);
    if (ref < kSizesItem) ref = kSizesItem;  // new references start at 3
    ref++;
    vm_setn(L, t, ref);
  }
  vm_rawseti(L, t, ref);
  return ref;
}

void vm_unref(VmState *L, int t, int ref) {
  if (ref < 0) return;
  t = vm_absindex(L, t);
  vm_rawgeti(L, t, kFreeListItem);
  vm_rawseti(L, t, ref);  // t[ref] = the old free-list head
  vm_pushnumber(L, ref);
  vm_rawseti(L, t, kFreeListItem);
}

void vm_getref(VmState *L, int ref) {
  if (ref == VM_REFNIL || ref == VM_NOREF) vm_pushnil(L);
  else vm_rawgeti(L, VM_REGISTRYINDEX, ref);
}

int vm_getn(VmState *L, int t) {
  t = vm_absindex(L, t);
  vm_pushstring(L, "n");
  vm_rawget(L, t);
  if (vm_type(L, -1) == VM_TNUMBER) {
    int n = int(vm_tonumber(L, -1));
    vm_pop(L, 1);
    return n;
  }
  vm_pop(L, 1);
  if (PushSizes(L, false)) {
    vm_pushvalue(L, t);
    vm_rawget(L, -2);
    if (vm_type(L, -1) == VM_TNUMBER) {
      int n = int(vm_tonumber(L, -1));
      vm_pop(L, 2);
      return n;
    }
    vm_pop(L, 2);
  }
  int n = 0;
  for (;; n++) {
    vm_rawgeti(L, t, n + 1);
    bool end = vm_type(L, -1) == VM_TNIL;
    vm_pop(L, 1);
    if (end) return n;
  }
}

void vm_setn(VmState *L, int t, int n) {
  t = vm_absindex(L, t);
  vm_pushstring(L, "n");
  vm_rawget(L, t);
  bool hasField = vm_type(L, -1) == VM_TNUMBER;
  vm_pop(L, 1);
  if (hasField) {
    vm_pushstring(L, "n");
    vm_pushnumber(L, n);
    vm_rawset(L, t);
    return;
  }
  PushSizes(L, true);
  vm_pushvalue(L, t);
  vm_pushnumber(L, n);
  vm_rawset(L, -3);
  vm_pop(L, 1);
}

// ---- string buffers ----

namespace {

constexpr int kMaxPieces = 9;  // pieces kept on the stack before they are joined

size_t BufferLength(VmStrBuffer *B) { return size_t(B->p - B->buffer); }

bool EmptyBuffer(VmStrBuffer *B) {
  size_t n = BufferLength(B);
  if (n == 0) return false;
  vm_pushlstring(B->L, B->buffer, n);
  B->p = B->buffer;
  B->level++;
  return true;
}

// Joins pieces while there are too many or the newest is longer than the one below it, so the
// pieces on the stack shrink towards the top.
void AdjustStack(VmStrBuffer *B) {
  if (B->level <= 1) return;
  VmState *L = B->L;
  int toget = 1;
  size_t toplen = vm_strlen(L, -1);
  do {
    size_t l = vm_strlen(L, -(toget + 1));
    if (B->level - toget + 1 >= kMaxPieces || toplen > l) {
      toplen += l;
      toget++;
    } else {
      break;
    }
  } while (toget < B->level);
  vm_concat(L, toget);
  B->level = B->level - toget + 1;
}

}  // namespace

void vm_buffinit(VmState *L, VmStrBuffer *B) {
  B->L = L;
  B->p = B->buffer;
  B->level = 0;
}

char *vm_prepbuffer(VmStrBuffer *B) {
  if (EmptyBuffer(B)) AdjustStack(B);
  return B->buffer;
}

void vm_addchar(VmStrBuffer *B, char c) {
  if (B->p >= B->buffer + VM_BUFFERSIZE) vm_prepbuffer(B);
  *B->p++ = c;
}

void vm_addlstring(VmStrBuffer *B, const char *s, size_t l) {
  while (l--) vm_addchar(B, *s++);
}

void vm_addstring(VmStrBuffer *B, const char *s) { vm_addlstring(B, s, std::strlen(s)); }

void vm_addvalue(VmStrBuffer *B) {
  VmState *L = B->L;
  size_t vl = vm_strlen(L, -1);
  const char *s = vm_tostring(L, -1);
  if (s && vl <= VM_BUFFERSIZE - BufferLength(B)) {
    std::memcpy(B->p, s, vl);
    B->p += vl;
    vm_pop(L, 1);
  } else {
    // Too long for the area: flush the area below the value and keep the value as a piece.
    if (EmptyBuffer(B)) vm_insert(L, -2);
    B->level++;
    AdjustStack(B);
  }
}

void vm_pushresult(VmStrBuffer *B) {
  EmptyBuffer(B);
  vm_concat(B->L, B->level);
  B->level = 1;
}
