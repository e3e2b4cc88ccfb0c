#include "player/event_timers.h"

#include "platform/memory.h"
#include "platform/polltimer.h"
#include "platform/timers.h"
#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objdata.h"
#include "runtime/vm/vm_api.h"

qmInterval *IntervalList = nullptr;
qmTimeout *TimeoutList = nullptr;
qmPlatformTimer **DispatcherTimerCursor = nullptr;

namespace {

bool sameid(const qmObjectHeader &h, const qmObjectId *id) { return h.id == id->id && h.handle == id->handle; }

uint32_t notfound(const qmObjectId *id, uint32_t code) {
  if (id->handle) return ERR_FINDARRAY;
  SetErrorNumber(id->id);
  return code;
}

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
  h->type = type;
  h->id = id->id;
  h->handle = verbatim ? id->handle : (id->handle ? reinterpret_cast<uintptr_t>(h) : 0);
}

// The dispatcher must not keep a cursor on a timer that goes away.
void movecursor(uint32_t kind, const qmObjectId *id) {
  if (!DispatcherTimerCursor || !*DispatcherTimerCursor) return;
  qmPlatformTimer *next = nullptr;
  qmPlatformTimer *node = FindPlatformTimer(kind, id, &next);
  if (node && node == *DispatcherTimerCursor) *DispatcherTimerCursor = next;
}

template <typename T>
void append(T **head, T *rec) {
  T **p = head;
  while (*p) p = reinterpret_cast<T **>(&(*p)->header.next);
  *p = rec;
}

uint32_t pollAdd(VmState *L, const qmIntervalId *id, uint32_t ms, uint32_t noHandler) {
  qmObjectId oid{id->id, id->handle};
  return AddInterval(L, &oid, static_cast<int32_t>(ms), noHandler ? 1 : 0, 0, 0, nullptr);
}

void pollRemove(VmState *L, const qmIntervalId *id) {
  qmObjectId oid{id->id, id->handle};
  RemoveInterval(L, &oid);
}

}  // namespace

uint32_t AddInterval(VmState *L, const qmObjectId *id, int32_t ms, int noHandler, int funcIndex, int udIndex,
                     qmInterval **out) {
  auto *rec = static_cast<qmInterval *>(MemAlloc(sizeof(qmInterval), 1));
  if (!rec) return ERR_MEM;
  setid(&rec->header, OBJTYPE_INTERVAL, id, noHandler != 0);
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
  append(&IntervalList, rec);
  if (out) *out = rec;
  return 0;
}

uint32_t AddTimeout(VmState *L, const qmObjectId *id, int32_t ms, int funcIndex, int udIndex, qmTimeout **out) {
  auto *rec = static_cast<qmTimeout *>(MemAlloc(sizeof(qmTimeout), 1));
  if (!rec) return ERR_MEM;
  setid(&rec->header, OBJTYPE_TIMEOUT, id, false);
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
  append(&TimeoutList, rec);
  if (out) *out = rec;
  return 0;
}

uint32_t FindInterval(const qmObjectId *id, qmInterval **out) {
  for (qmInterval *r = IntervalList; r; r = reinterpret_cast<qmInterval *>(r->header.next))
    if (sameid(r->header, id)) {
      *out = r;
      return 0;
    }
  return notfound(id, ERR_FINDINTERVAL);
}

uint32_t FindTimeout(const qmObjectId *id, qmTimeout **out) {
  for (qmTimeout *r = TimeoutList; r; r = reinterpret_cast<qmTimeout *>(r->header.next))
    if (sameid(r->header, id)) {
      *out = r;
      return 0;
    }
  return notfound(id, ERR_FINDTIMEOUT);
}

uint32_t RemoveInterval(VmState *L, const qmObjectId *id) {
  qmObjectHeader **p = reinterpret_cast<qmObjectHeader **>(&IntervalList);
  for (; *p; p = &(*p)->next) {
    if (!sameid(**p, id)) continue;
    auto *rec = reinterpret_cast<qmInterval *>(*p);
    *p = rec->header.next;
    unref(L, rec->function);
    unref(L, rec->userData);
    FreeObjectDataList(L, static_cast<qmObjectData *>(rec->header.userData));
    qmObjectId timerid{id->id, id->handle};
    movecursor(TIMER_INTERVAL, &timerid);
    MemFree(rec);
    ControlPlatformTimer(TIMEROP_REMOVEINTERVAL, &timerid, 0);
    return 0;
  }
  return notfound(id, ERR_FINDINTERVAL);
}

uint32_t RemoveTimeout(VmState *L, const qmObjectId *id) {
  qmObjectHeader **p = reinterpret_cast<qmObjectHeader **>(&TimeoutList);
  for (; *p; p = &(*p)->next) {
    if (!sameid(**p, id)) continue;
    auto *rec = reinterpret_cast<qmTimeout *>(*p);
    *p = rec->header.next;
    unref(L, rec->function);
    unref(L, rec->userData);
    FreeObjectDataList(L, static_cast<qmObjectData *>(rec->header.userData));
    qmObjectId timerid{id->id, id->handle};
    movecursor(TIMER_ONESHOT, &timerid);
    MemFree(rec);
    ControlPlatformTimer(TIMEROP_REMOVEONESHOT, &timerid, 0);
    return 0;
  }
  return notfound(id, ERR_FINDTIMEOUT);
}

uint32_t ChangeIntervalPeriod(const qmObjectId *id, int32_t ms) {
  qmInterval *rec;
  uint32_t err = FindInterval(id, &rec);
  if (err) return err;
  qmObjectId timerid{rec->header.id, rec->header.handle};
  return ControlPlatformTimer(TIMEROP_CHANGEINTERVAL, &timerid, static_cast<uint32_t>(ms));
}

void FreeAllIntervalsAndTimeouts(VmState *L) {
  while (IntervalList) {
    qmObjectId id{IntervalList->header.id, IntervalList->header.handle};
    RemoveInterval(L, &id);
  }
  while (TimeoutList) {
    qmObjectId id{TimeoutList->header.id, TimeoutList->header.handle};
    RemoveTimeout(L, &id);
  }
}

void InstallPollIntervalHooks() { InstallPollTimerHooks(pollAdd, pollRemove); }
