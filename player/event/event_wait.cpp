#include "player/event/event_wait.h"

#include <cstdio>
#include <cstring>

#include "display/display.h"
#include "display/scene.h"
#include "platform/memory.h"
#include "platform/process.h"
#include "platform/eventpump.h"
#include "player/event/event_pump.h"
#include "platform/timers.h"
#include "platform/window.h"
#include "platform/time.h"
#include "runtime/auxlib.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/eventqueue.h"
#include "runtime/objdata.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

void FillDisplayId(VmState *L, qmEventMessage *msg) {
  if (const qmDisplay *d = msg->owner) FillId(L, msg, qmObjectId{d->id, d->handle});
}

uint32_t WaitOrCheckEvent(VmState *L, int wait) {
  if (vm_callbackdepth(L) != 0) return ERR_WRONGUSAGE;
  qmEventState *st = GetEventState(L);
  if (!st) return ERR_WRONGUSAGE;
  qmEventMessage &msg = st->msg;
  msg.type = MSG_NONE;
  msg.hasId = 0;
  auto dispatchcycle = [&]() -> uint32_t {
    uint32_t r = 0;
    bool first = true;
    while (first || (st->next != kNewCycle && msg.type == MSG_NONE)) {
      first = false;
      r = DispatchEvents(L, 0, &msg);
      if (r) return r;
    }
    while (msg.type == MSG_NONE) {
      r = DispatchEvents(L, 0, &msg);
      if (r || st->next == kNewCycle) break;
    }
    return r;
  };
  uint32_t r = dispatchcycle();
  if (r == kLabelJump) return VM_GOSUB_REQUEST;  // a label jump
  if (r) return r;
  if (msg.type == MSG_NONE) {
    if (!wait) {
      vm_newtable(L);
      SetFieldString(L, "action", "");
      SetFieldInt(L, "id", 0);
      SetFieldInt(L, "nresults", 0);
      SetFieldInt(L, "triggered", 0);
      return 1;
    }
    while (msg.type == MSG_NONE) {
      if (!GetScene(L)->videoRecording) WaitPlatformEvent();
      if (PumpEvents(L)) return 0;
      if (IsQuitRequested()) {
        vm_setendrequested(L, 1);
        return 0;
      }
      r = dispatchcycle();
      if (r == kLabelJump) return VM_GOSUB_REQUEST;
      if (r) return r;
    }
  }
  // The table stays below the handler's results.
  int n = vm_gettop(L) - msg.savedTop - 1;
  int tableIndex = msg.savedTop + 1;
  if (n > 0) {
    vm_pushstring(L, "results");
    vm_newtable(L);
    for (int i = 0; i < n; i++) {
      vm_pushvalue(L, tableIndex + 1 + i);
      vm_rawseti(L, -2, i);
    }
    vm_rawset(L, tableIndex);
  }
  vm_pushvalue(L, tableIndex);
  SetFieldString(L, "action", msg.action);
  if (msg.hasId) SetFieldObjectId(L, "id", &msg.id);
  else SetFieldInt(L, "id", 0);
  SetFieldInt(L, "nresults", n > 0 ? n : 0);
  SetFieldInt(L, "triggered", 1);
  return 1;
}

void ServiceEvents(VmState *L) {
  // A quit request from outside (SIGINT, SIGTERM) ends the script like one from a window.
  if (IsQuitRequested()) {
    vm_setendrequested(L, 1);
    return;
  }
  PumpEventsIfDue(L);
}
