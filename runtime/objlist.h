// The objects of every library, one list per object type, in creation order, found in
// constant time by the number the script chose or by the handle of an automatic id. The lists
// hold the records' headers; the records belong to their libraries, which free them.
#pragma once
#include <cstdint>

#include "runtime/objectid.h"
#include "runtime/objtypes.h"

struct VmState;
struct qmObjectRegistry;

// 0 or ERR_MEM. Allocated by the runtime support for each run; owner is the VM whose registry
// references the objects' data items hold.
uint32_t NewObjectRegistry(VmState *owner, qmObjectRegistry **out);
// The VM given at creation: the runtime's own services (data items) reach the script's values
// through it, so that engines handed the registry need no VM.
VmState *ObjectRegistryOwner(const qmObjectRegistry *registry);
// Frees the registry's indexes; the records stay their libraries'.
void FreeObjectRegistry(qmObjectRegistry *registry);

// Appends the record under header->type: 0, ERR_MEM (nothing added) or ERR_FINDARRAY for a
// type outside the list of object types. A number already in use finds the older record
// until that one is removed.
uint32_t AddObject(VmState *L, qmObjectHeader *object);
// Unlinks the record (it is not freed); a record that is not listed is ignored.
void RemoveObject(VmState *L, qmObjectHeader *object);

// The same on a registry directly: engines that keep objects are handed the run's registry
// (the scene's), never the VM.
uint32_t AddObject(qmObjectRegistry *registry, qmObjectHeader *object);
void RemoveObject(qmObjectRegistry *registry, qmObjectHeader *object);
// Lists a record just allocated with MemAlloc and filled (header included): 0 with the id's
// handle made the record's, or ERR_MEM with the record freed and nothing listed.
uint32_t ListNewObject(qmObjectRegistry *registry, qmObjectHeader *header, void *record, qmObjectId *id);
qmObjectHeader *FindObject(const qmObjectRegistry *registry, uint32_t type, const qmObjectId *id);
qmObjectHeader *FirstObject(const qmObjectRegistry *registry, uint32_t type);
uint32_t CountObjectsOfType(const qmObjectRegistry *registry, uint32_t type);
int32_t GetObjectTypeByHandle(const qmObjectRegistry *registry, uintptr_t handle);
// The run's registry, or null for a VM without the runtime support.
qmObjectRegistry *ObjectRegistryOf(VmState *L);

// Handles are compared, never followed: a stale automatic id simply finds nothing.
qmObjectHeader *FindObject(VmState *L, uint32_t type, const qmObjectId *id);
// The oldest record of the type; walk on with ->next. Null when there is none.
qmObjectHeader *FirstObject(VmState *L, uint32_t type);
uint32_t CountObjectsOfType(VmState *L, uint32_t type);
// The type of the record with that handle, or -1 (also for a null handle).
int32_t GetObjectTypeByHandle(VmState *L, uintptr_t handle);
// t[0..] in the table on the stack top: handles as light user data, else ids as numbers.
uint32_t ListObjectsOfType(VmState *L, uint32_t type);

// A record's header filled for the id the script gave: an automatic id (handle set) gets the
// record's own address as handle, a number keeps it.
void SetObjectHeader(qmObjectHeader *header, uint32_t type, const qmObjectId *id);
// The code for an id that names no object: ERR_FINDARRAY for an automatic id, else
// notFoundCode with the number as error argument.
uint32_t MissingObjectError(const qmObjectId *id, uint32_t notFoundCode);
// Whether the record is the one the id names.
inline bool ObjectHasId(const qmObjectHeader *h, const qmObjectId *id) {
  return h->id == id->id && h->handle == id->handle;
}
