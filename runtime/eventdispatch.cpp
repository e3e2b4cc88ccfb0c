#include "runtime/eventdispatch.h"

#include <cstdio>
#include <cstring>

#include "platform/memory.h"
#include "runtime/auxlib.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/eventqueue.h"
#include "runtime/objdata.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

const char *const DisplayEventNames[kDisplayEventCount] = {
    "onkeydown",        "onkeyup",       "onmousemove",     "closewindow",       "movewindow",
    "sizewindow",       "activewindow",  "inactivewindow",  "hidewindow",        "showwindow",
    "onmousedown",      "onmouseup",     "onrightmousedown", "onrightmouseup",   "onwheeldown",
    "onwheelup",        "modeswitch",    "ondropfile",      "clipboardchange",   "onmidmousedown",
    "onmidmouseup",     "orientationchange", "showkeyboard", "hidekeyboard",     "hotkey",
    "trayicon"};
const char *const ObjectEventNames[kObjectEventCount] = {
    "onsampleloop", "onsampleend",      "onmusicend",  "onarexx",       "onconnect",      "ondisconnect",
    "onreceivedata", "onreceiveudpdata", "onvideoend", "onusermessage", "fillmusicbuffer"};

qmEventState *GetEventState(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  return ctx ? ctx->event : nullptr;
}

uint32_t InitEventDispatcher(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return ERR_WRONGUSAGE;
  if (ctx->event) return 0;  // a library registered its source first
  auto *st = static_cast<qmEventState *>(MemAlloc(sizeof(qmEventState), 1));
  if (!st) return ERR_MEM;
  st->next = kNewCycle;
  for (qmHandlerSlot &s : st->objectSlots) s = {kNoHandler, kNoHandler};
  ctx->event = st;
  return 0;
}

uint32_t RegisterEventSource(VmState *L, const qmEventSource *source) {
  if (source->rank < 0 || source->rank >= EVRANK_COUNT || !source->poll) return ERR_WRONGUSAGE;
  if (uint32_t err = InitEventDispatcher(L)) return err;
  qmEventState *st = GetEventState(L);
  if (st->sources[source->rank]) return ERR_WRONGUSAGE;
  st->sources[source->rank] = source;
  return 0;
}

void FreeEventDispatcher(VmState *L) {
  qmEventState *st = GetEventState(L);
  if (!st) return;
  for (qmHandlerSlot &s : st->objectSlots) {
    if (s.function != kNoHandler) vm_unref(L, VM_REGISTRYINDEX, s.function);
    if (s.userData != kNoHandler) vm_unref(L, VM_REGISTRYINDEX, s.userData);
  }
  // A cycle under way still holds what its sources took (a queued event's payload).
  for (const qmEventSource *src : st->sources)
    if (src && src->start) src->start(L, st);
  MemFree(st);
  GetPlayerContext(L)->event = nullptr;
}

void ResetEventDispatcher(VmState *L) {
  if (qmEventState *st = GetEventState(L)) st->next = kNewCycle;
}

void SetMessageAction(qmEventMessage *msg, const char *action) {
  std::snprintf(msg->action, sizeof msg->action, "%s", action);
}

void ClearEventMessage(qmEventMessage *msg) {
  std::memset(msg, 0, sizeof *msg);
  msg->function = -1;
  msg->userData = -1;
}

void FillAction(VmState *L, const qmEventMessage *msg) { SetFieldString(L, "action", msg->action); }

void FillId(VmState *L, qmEventMessage *msg, const qmObjectId &id) {
  msg->id = id;
  msg->hasId = 1;
  SetFieldObjectId(L, "id", &id);
}

uint32_t DispatchEvents(VmState *L, int hoverSuppressed, qmEventMessage *msg) {
  qmEventState *st = GetEventState(L);
  if (!st) return ERR_WRONGUSAGE;
  ClearEventMessage(msg);
  st->hoverSuppressed = hoverSuppressed;
  if (st->next == kNewCycle) {
    for (const qmEventSource *src : st->sources)
      if (src && src->start) src->start(L, st);
    st->next = 0;
  }
  for (int32_t rank = st->next; rank < EVRANK_COUNT; rank++) {
    const qmEventSource *src = st->sources[rank];
    if (!src) continue;
    int found = src->poll(L, st, msg);
    if (found == EVPOLL_JUMP) {
      st->next = kNewCycle;
      msg->type = MSG_LABELJUMP;
      return kLabelJump;
    }
    if (found == EVPOLL_CALL || found == EVPOLL_ONCE) {
      // Set before the call: BreakEventHandler inside the handler starts a new cycle.
      st->next = found == EVPOLL_CALL ? rank : rank + 1;
      msg->source = src;
      uint32_t r = CallEventHandler(L, msg, 0);
      if (src->done) src->done(L, st, msg);
      return r;
    }
    ClearEventMessage(msg);
  }
  st->next = kNewCycle;
  ClearEventMessage(msg);
  return 0;
}

uint32_t CallEventHandler(VmState *L, qmEventMessage *msg, int discard) {
  msg->savedTop = vm_gettop(L);
  msg->hasId = 0;
  vm_getref(L, msg->function);
  vm_newtable(L);
  if (msg->source && msg->source->fill) msg->source->fill(L, msg);
  if (msg->userData != -1) {
    vm_pushstring(L, "userdata");
    vm_getref(L, msg->userData);
    vm_rawset(L, -3);
  }
  if (!discard) {
    vm_pushvalue(L, -1);
    vm_insert(L, -3);  // a reference to the table stays below the function
  }
  uint32_t r = vm_pcallback(L, 1, VM_MULTRET);
  if (vm_endrequested(L)) return ERR_USERABORT;
  return r;
}
