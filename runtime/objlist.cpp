#include "runtime/objlist.h"

#include <new>
#include <unordered_map>

#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/vm/vm_api.h"

struct qmObjectList {
  qmObjectHeader *head = nullptr, *tail = nullptr;
  uint32_t count = 0;
  std::unordered_map<uint32_t, qmObjectHeader *> byId;  // objects with a number of the script's
};

struct qmObjectRegistry {
  qmObjectList lists[kObjectTypeCount + 1];
  std::unordered_map<uintptr_t, qmObjectHeader *> byHandle;  // automatic ids of every type
  VmState *owner = nullptr;
};

namespace {

qmObjectList *ListOf(const qmObjectRegistry *r, uint32_t type) {
  if (r == nullptr || type < 1 || type > kObjectTypeCount) return nullptr;
  return const_cast<qmObjectList *>(&r->lists[type]);
}

}  // namespace

qmObjectRegistry *ObjectRegistryOf(VmState *L) {
  qmPlayerContext *ctx = L ? GetPlayerContext(L) : nullptr;
  return ctx ? ctx->objects : nullptr;
}

uint32_t NewObjectRegistry(VmState *owner, qmObjectRegistry **out) {
  *out = new (std::nothrow) qmObjectRegistry;
  if (*out == nullptr) return ERR_MEM;
  (*out)->owner = owner;
  return 0;
}

VmState *ObjectRegistryOwner(const qmObjectRegistry *registry) { return registry ? registry->owner : nullptr; }

uint32_t MissingObjectError(const qmObjectId *id, uint32_t notFoundCode) {
  if (id->handle) return ERR_FINDARRAY;
  SetErrorNumber(id->id);
  return notFoundCode;
}

void FreeObjectRegistry(qmObjectRegistry *registry) { delete registry; }

uint32_t AddObject(qmObjectRegistry *r, qmObjectHeader *object) {
  qmObjectList *list = ListOf(r, object->type);
  if (list == nullptr) return ERR_FINDARRAY;
  try {
    if (object->handle) r->byHandle.emplace(object->handle, object);
    else list->byId.emplace(object->id, object);
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
  object->next = nullptr;
  object->prev = list->tail;
  if (list->tail) list->tail->next = object;
  else list->head = object;
  list->tail = object;
  list->count++;
  return 0;
}

uint32_t ListNewObject(qmObjectRegistry *r, qmObjectHeader *header, void *record, qmObjectId *id) {
  if (AddObject(r, header) != 0) {
    MemFree(record);
    return ERR_MEM;
  }
  id->handle = header->handle;
  return 0;
}

void RemoveObject(qmObjectRegistry *r, qmObjectHeader *object) {
  qmObjectList *list = ListOf(r, object->type);
  if (list == nullptr) return;
  bool listed = list->head == object || object->prev != nullptr;
  if (!listed) return;
  if (object->prev) object->prev->next = object->next;
  else list->head = object->next;
  if (object->next) object->next->prev = object->prev;
  else list->tail = object->prev;
  object->next = object->prev = nullptr;
  list->count--;
  if (object->handle) {
    auto it = r->byHandle.find(object->handle);
    if (it != r->byHandle.end() && it->second == object) r->byHandle.erase(it);
    return;
  }
  auto it = list->byId.find(object->id);
  if (it == list->byId.end() || it->second != object) return;
  list->byId.erase(it);
  // A younger record with the same number takes over the index.
  for (qmObjectHeader *o = list->head; o; o = o->next)
    if (o->handle == 0 && o->id == object->id) {
      list->byId.emplace(o->id, o);  // the slot was just freed: no allocation can fail here
      break;
    }
}

qmObjectHeader *FindObject(const qmObjectRegistry *r, uint32_t type, const qmObjectId *id) {
  qmObjectList *list = ListOf(r, type);
  if (list == nullptr) return nullptr;
  if (id->handle) {
    auto it = r->byHandle.find(id->handle);
    return it != r->byHandle.end() && it->second->type == type ? it->second : nullptr;
  }
  auto it = list->byId.find(id->id);
  return it != list->byId.end() ? it->second : nullptr;
}

qmObjectHeader *FirstObject(const qmObjectRegistry *r, uint32_t type) {
  qmObjectList *list = ListOf(r, type);
  return list ? list->head : nullptr;
}

uint32_t CountObjectsOfType(const qmObjectRegistry *r, uint32_t type) {
  qmObjectList *list = ListOf(r, type);
  return list ? list->count : 0;
}

int32_t GetObjectTypeByHandle(const qmObjectRegistry *r, uintptr_t handle) {
  if (handle == 0 || r == nullptr) return -1;
  auto it = r->byHandle.find(handle);
  return it != r->byHandle.end() ? int32_t(it->second->type) : -1;
}

uint32_t AddObject(VmState *L, qmObjectHeader *object) { return AddObject(ObjectRegistryOf(L), object); }
void RemoveObject(VmState *L, qmObjectHeader *object) { RemoveObject(ObjectRegistryOf(L), object); }
qmObjectHeader *FindObject(VmState *L, uint32_t type, const qmObjectId *id) {
  return FindObject(ObjectRegistryOf(L), type, id);
}
qmObjectHeader *FirstObject(VmState *L, uint32_t type) { return FirstObject(ObjectRegistryOf(L), type); }
uint32_t CountObjectsOfType(VmState *L, uint32_t type) { return CountObjectsOfType(ObjectRegistryOf(L), type); }
int32_t GetObjectTypeByHandle(VmState *L, uintptr_t handle) {
  return GetObjectTypeByHandle(ObjectRegistryOf(L), handle);
}

uint32_t ListObjectsOfType(VmState *L, uint32_t type) {
  uint32_t n = 0;
  for (qmObjectHeader *o = FirstObject(L, type); o; o = o->next) {
    if (o->handle) vm_pushlightuserdata(L, reinterpret_cast<void *>(o->handle));
    else vm_pushnumber(L, o->id);
    vm_rawseti(L, -2, int(n++));
  }
  return n;
}

void SetObjectHeader(qmObjectHeader *header, uint32_t type, const qmObjectId *id) {
  header->type = type;
  header->id = id->id;
  header->handle = id->handle ? reinterpret_cast<uintptr_t>(header) : 0;
  header->next = header->prev = nullptr;
}
