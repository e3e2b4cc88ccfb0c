#include "runtime/objdata.h"

#include <cstring>

#include "platform/memory.h"
#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

namespace {

qmObjectData *NewNode(const char *key) {
  size_t n = std::strlen(key);
  if (n > 0xFFFF0000u) return nullptr;
  auto *node = static_cast<qmObjectData *>(MemAlloc(uint32_t(sizeof(qmObjectData) + n + 1), 1));
  if (node == nullptr) return nullptr;
  char *text = reinterpret_cast<char *>(node + 1);
  std::memcpy(text, key, n + 1);
  node->key = text;
  return node;
}

int32_t RefValueAt(VmState *L, int index) {
  vm_pushvalue(L, index);
  return vm_ref(L, VM_REGISTRYINDEX);
}

}  // namespace

qmObjectData *FindObjectDataItem(qmObjectData *list, const char *key) {
  for (qmObjectData *n = list; n; n = n->next)
    if (Stricmp(n->key, key) == 0) return n;
  return nullptr;
}

uint32_t SetObjectDataItem(VmState *L, const char *key, int valueIndex, qmObjectData **list) {
  if (valueIndex < 0 && valueIndex > VM_REGISTRYINDEX) valueIndex = vm_gettop(L) + valueIndex + 1;
  if (qmObjectData *existing = FindObjectDataItem(*list, key)) {
    vm_unref(L, VM_REGISTRYINDEX, existing->ref);
    existing->ref = RefValueAt(L, valueIndex);
    return 0;
  }
  qmObjectData *node = NewNode(key);
  if (node == nullptr) return ERR_MEM;
  node->ref = RefValueAt(L, valueIndex);
  while (*list) list = &(*list)->next;
  *list = node;
  return 0;
}

int RemoveObjectDataItem(VmState *L, qmObjectData **list, const char *key) {
  for (; *list; list = &(*list)->next) {
    qmObjectData *n = *list;
    if (Stricmp(n->key, key) != 0) continue;
    *list = n->next;
    vm_unref(L, VM_REGISTRYINDEX, n->ref);
    MemFree(n);
    return 1;
  }
  return 0;
}

uint32_t CopyObjectDataList(VmState *L, const qmObjectData *list, qmObjectData **out) {
  qmObjectData *copy = nullptr;
  qmObjectData **tail = &copy;
  for (const qmObjectData *n = list; n; n = n->next) {
    qmObjectData *node = NewNode(n->key);
    if (node == nullptr) {
      FreeObjectDataList(L, copy);
      return ERR_MEM;
    }
    vm_getref(L, n->ref);
    node->ref = vm_ref(L, VM_REGISTRYINDEX);
    *tail = node;
    tail = &node->next;
  }
  *out = copy;
  return 0;
}

void FreeObjectDataList(VmState *L, qmObjectData *list) {
  while (list) {
    qmObjectData *next = list->next;
    vm_unref(L, VM_REGISTRYINDEX, list->ref);
    MemFree(list);
    list = next;
  }
}

uint32_t CopyObjectDataList(qmObjectRegistry *registry, const qmObjectData *list, qmObjectData **out) {
  if (list == nullptr) {
    *out = nullptr;
    return 0;
  }
  return CopyObjectDataList(ObjectRegistryOwner(registry), list, out);
}

void FreeObjectDataList(qmObjectRegistry *registry, qmObjectData *list) {
  if (list) FreeObjectDataList(ObjectRegistryOwner(registry), list);
}
