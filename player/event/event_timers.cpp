#include "player/event/event_timers.h"

#include <initializer_list>

#include "platform/memory.h"
#include "platform/timers.h"
#include "player/event/event_dispatch.h"
#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/cmdargs.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/vm/vm_api.h"

namespace {

int32_t refat(VmState *L, int index) {
  if (index == 0 || vm_isnoneornil(L, index)) return -1;
  vm_pushvalue(L, index);
  return vm_ref(L, VM_REGISTRYINDEX);
}

void unref(VmState *L, int32_t ref) {
  if (ref != -1) vm_unref(L, VM_REGISTRYINDEX, ref);
}

// An automatic id (a handle asked for) becomes the record's own address; a verbatim id (the
// shared poll interval's fixed marker) is kept as given.
void setid(qmObjectHeader *h, uint32_t type, const qmObjectId *id, bool verbatim) {
  SetObjectHeader(h, type, id);
  if (verbatim) h->handle = id->handle;
}

// The dispatcher must not keep a cursor on a timer that goes away.
void movecursor(VmState *L, uint32_t kind, const qmObjectId *id) {
  qmEventState *st = GetEventState(L);
  if (!st || !st->timerCursor) return;
  qmPlatformTimer *next = nullptr;
  qmPlatformTimer *node = FindPlatformTimer(kind, id, &next);
  if (node && node == st->timerCursor) st->timerCursor = next;
}

}  // namespace

uint32_t AddInterval(VmState *L, const qmObjectId *id, int32_t ms, int noHandler, int funcIndex, int udIndex,
                     qmInterval **out) {
  auto *rec = static_cast<qmInterval *>(MemAlloc(sizeof(qmInterval), 1));
  if (!rec) return ERR_MEM;
  setid(&rec->header, QMTYPE_INTERVAL, id, noHandler != 0);
  rec->period = ms;
  rec->function = noHandler ? -1 : refat(L, funcIndex);
  rec->userData = noHandler ? -1 : refat(L, udIndex);
  qmObjectId timerid{rec->header.id, rec->header.handle};
  uint32_t err = ControlPlatformTimer(TIMEROP_ADDINTERVAL, &timerid, static_cast<uint32_t>(ms));
  if (err) {
    unref(L, rec->function);
    unref(L, rec->userData);
    MemFree(rec);
    return err;
  }
  if ((err = AddObject(L, &rec->header))) {
    ControlPlatformTimer(TIMEROP_REMOVEINTERVAL, &timerid, 0);
    unref(L, rec->function);
    unref(L, rec->userData);
    MemFree(rec);
    return err;
  }
  if (out) *out = rec;
  return 0;
}

uint32_t AddTimeout(VmState *L, const qmObjectId *id, int32_t ms, int funcIndex, int udIndex, qmTimeout **out) {
  auto *rec = static_cast<qmTimeout *>(MemAlloc(sizeof(qmTimeout), 1));
  if (!rec) return ERR_MEM;
  setid(&rec->header, QMTYPE_TIMEOUT, id, false);
  rec->delay = ms;
  rec->function = refat(L, funcIndex);
  rec->userData = refat(L, udIndex);
  qmObjectId timerid{rec->header.id, rec->header.handle};
  uint32_t err = ControlPlatformTimer(TIMEROP_ADDONESHOT, &timerid, static_cast<uint32_t>(ms));
  if (err) {
    unref(L, rec->function);
    unref(L, rec->userData);
    MemFree(rec);
    return err;
  }
  if ((err = AddObject(L, &rec->header))) {
    ControlPlatformTimer(TIMEROP_REMOVEONESHOT, &timerid, 0);
    unref(L, rec->function);
    unref(L, rec->userData);
    MemFree(rec);
    return err;
  }
  if (out) *out = rec;
  return 0;
}

uint32_t FindInterval(VmState *L, const qmObjectId *id, qmInterval **out) {
  *out = reinterpret_cast<qmInterval *>(FindObject(L, QMTYPE_INTERVAL, id));
  return *out ? 0 : MissingObjectError(id, ERR_FINDINTERVAL);
}

uint32_t FindTimeout(VmState *L, const qmObjectId *id, qmTimeout **out) {
  *out = reinterpret_cast<qmTimeout *>(FindObject(L, QMTYPE_TIMEOUT, id));
  return *out ? 0 : MissingObjectError(id, ERR_FINDTIMEOUT);
}

uint32_t RemoveInterval(VmState *L, const qmObjectId *id) {
  qmInterval *rec;
  if (uint32_t err = FindInterval(L, id, &rec)) return err;
  RemoveObject(L, &rec->header);
  unref(L, rec->function);
  unref(L, rec->userData);
  FreeObjectDataList(L, static_cast<qmObjectData *>(rec->header.userData));
  qmObjectId timerid{id->id, id->handle};
  movecursor(L, TIMER_INTERVAL, &timerid);
  MemFree(rec);
  ControlPlatformTimer(TIMEROP_REMOVEINTERVAL, &timerid, 0);
  return 0;
}

uint32_t RemoveTimeout(VmState *L, const qmObjectId *id) {
  qmTimeout *rec;
  if (uint32_t err = FindTimeout(L, id, &rec)) return err;
  RemoveObject(L, &rec->header);
  unref(L, rec->function);
  unref(L, rec->userData);
  FreeObjectDataList(L, static_cast<qmObjectData *>(rec->header.userData));
  qmObjectId timerid{id->id, id->handle};
  movecursor(L, TIMER_ONESHOT, &timerid);
  MemFree(rec);
  ControlPlatformTimer(TIMEROP_REMOVEONESHOT, &timerid, 0);
  return 0;
}

uint32_t ChangeIntervalPeriod(VmState *L, const qmObjectId *id, int32_t ms) {
  qmInterval *rec;
  uint32_t err = FindInterval(L, id, &rec);
  if (err) return err;
  qmObjectId timerid{rec->header.id, rec->header.handle};
  return ControlPlatformTimer(TIMEROP_CHANGEINTERVAL, &timerid, static_cast<uint32_t>(ms));
}

void FreeAllIntervalsAndTimeouts(VmState *L) {
  for (uint32_t type : {QMTYPE_INTERVAL, QMTYPE_TIMEOUT})
    while (qmObjectHeader *h = FirstObject(L, type)) {
      qmObjectId id{h->id, h->handle};
      if (type == QMTYPE_INTERVAL) RemoveInterval(L, &id);
      else RemoveTimeout(L, &id);
    }
}

