// Data items that scripts attach to any object (SetObjectData and its kin): a list per object,
// in insertion order, keys compared without regard to case, each value kept alive by a
// registry reference.
#pragma once
#include <cstdint>

struct VmState;
struct qmObjectRegistry;

struct qmObjectData {
  qmObjectData *next;
  const char *key;  // points at the text after the node
  int32_t ref;      // registry reference of the value
};

// 0 or ERR_MEM (the list is left as it was). An existing key gets the value at stack position
// valueIndex; otherwise a node is appended.
uint32_t SetObjectDataItem(VmState *L, const char *key, int valueIndex, qmObjectData **list);
qmObjectData *FindObjectDataItem(qmObjectData *list, const char *key);
// 1 after removing the item, 0 when absent.
int RemoveObjectDataItem(VmState *L, qmObjectData **list, const char *key);
// 0 with *out a copy holding new references to the same values; ERR_MEM with *out unchanged.
uint32_t CopyObjectDataList(VmState *L, const qmObjectData *list, qmObjectData **out);
void FreeObjectDataList(VmState *L, qmObjectData *list);
// The same for engines handed the run's registry: the values are its owner's.
uint32_t CopyObjectDataList(qmObjectRegistry *registry, const qmObjectData *list, qmObjectData **out);
void FreeObjectDataList(qmObjectRegistry *registry, qmObjectData *list);
