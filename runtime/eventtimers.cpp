#include "runtime/eventtimers.h"

#include <initializer_list>

#include "platform/memory.h"
#include "platform/timers.h"
#include "runtime/eventdispatch.h"
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

namespace {

// What tells an interval from a timeout.
struct TimerKind {
  uint32_t type;          // object type
  uint32_t platformKind;  // TIMER_INTERVAL or TIMER_ONESHOT
  uint32_t addOp, removeOp;
  uint32_t notFound;
};
constexpr TimerKind kIntervalKind{QMTYPE_INTERVAL, TIMER_INTERVAL, TIMEROP_ADDINTERVAL, TIMEROP_REMOVEINTERVAL,
                                  ERR_FINDINTERVAL};
constexpr TimerKind kTimeoutKind{QMTYPE_TIMEOUT, TIMER_ONESHOT, TIMEROP_ADDONESHOT, TIMEROP_REMOVEONESHOT,
                                 ERR_FINDTIMEOUT};

void release(VmState *L, qmScriptTimer *rec) {
  unref(L, rec->function);
  unref(L, rec->userData);
  MemFree(rec);
}

uint32_t addtimer(VmState *L, const TimerKind &kind, const qmObjectId *id, int32_t ms, bool noHandler,
                  int funcIndex, int udIndex, qmScriptTimer **out) {
  auto *rec = static_cast<qmScriptTimer *>(MemAlloc(sizeof(qmScriptTimer), 1));
  if (!rec) return ERR_MEM;
  setid(&rec->header, kind.type, id, noHandler);
  rec->ms = ms;
  rec->function = noHandler ? -1 : refat(L, funcIndex);
  rec->userData = noHandler ? -1 : refat(L, udIndex);
  qmObjectId timerid{rec->header.id, rec->header.handle};
  if (uint32_t err = ControlPlatformTimer(kind.addOp, &timerid, static_cast<uint32_t>(ms))) {
    release(L, rec);
    return err;
  }
  if (uint32_t err = AddObject(L, &rec->header)) {
    ControlPlatformTimer(kind.removeOp, &timerid, 0);
    release(L, rec);
    return err;
  }
  if (out) *out = rec;
  return 0;
}

uint32_t findtimer(VmState *L, const TimerKind &kind, const qmObjectId *id, qmScriptTimer **out) {
  *out = reinterpret_cast<qmScriptTimer *>(FindObject(L, kind.type, id));
  return *out ? 0 : MissingObjectError(id, kind.notFound);
}

uint32_t removetimer(VmState *L, const TimerKind &kind, const qmObjectId *id) {
  qmScriptTimer *rec;
  if (uint32_t err = findtimer(L, kind, id, &rec)) return err;
  RemoveObject(L, &rec->header);
  FreeObjectDataList(L, static_cast<qmObjectData *>(rec->header.userData));
  qmObjectId timerid{id->id, id->handle};
  movecursor(L, kind.platformKind, &timerid);
  release(L, rec);
  ControlPlatformTimer(kind.removeOp, &timerid, 0);
  return 0;
}

}  // namespace

uint32_t AddInterval(VmState *L, const qmObjectId *id, int32_t ms, int noHandler, int funcIndex, int udIndex,
                     qmInterval **out) {
  return addtimer(L, kIntervalKind, id, ms, noHandler != 0, funcIndex, udIndex, out);
}

uint32_t AddTimeout(VmState *L, const qmObjectId *id, int32_t ms, int funcIndex, int udIndex, qmTimeout **out) {
  return addtimer(L, kTimeoutKind, id, ms, false, funcIndex, udIndex, out);
}

uint32_t FindInterval(VmState *L, const qmObjectId *id, qmInterval **out) {
  return findtimer(L, kIntervalKind, id, out);
}

uint32_t FindTimeout(VmState *L, const qmObjectId *id, qmTimeout **out) { return findtimer(L, kTimeoutKind, id, out); }

uint32_t RemoveInterval(VmState *L, const qmObjectId *id) { return removetimer(L, kIntervalKind, id); }

uint32_t RemoveTimeout(VmState *L, const qmObjectId *id) { return removetimer(L, kTimeoutKind, id); }

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

