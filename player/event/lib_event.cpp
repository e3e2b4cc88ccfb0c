#include "player/event/lib_event.h"

#include <initializer_list>

#include "display/display.h"
#include "platform/desktop.h"
#include "platform/window.h"
#include "player/event/event_dispatch.h"
#include "player/event/event_labels.h"
#include "player/event/event_sources.h"
#include "player/event/event_timers.h"
#include "player/event/event_user.h"
#include "player/event/polltimer.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/eventqueue.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"

namespace {

uint32_t EvtWaitEvent(VmState *L) {
  CheckArgCount(L, 0, 0);
  return WaitOrCheckEvent(L, 1);
}

uint32_t EvtCheckEvent(VmState *L) {
  CheckArgCount(L, 0, 0);
  return WaitOrCheckEvent(L, 0);
}

// SetInterval and SetTimeout: (id, function, milliseconds [, userdata]).
uint32_t settimer(VmState *L, bool interval) {
  CheckArgCount(L, 3, 4);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  int32_t ms = vm_checkint32(L, 3);
  if (ms < 1) return ERR_WRONGUSAGE;
  vm_checkfunction(L, 2);
  int ud = vm_gettop(L) >= 4 ? 4 : 0;
  void *record = nullptr;
  uint32_t err;
  if (interval) {
    if (!id.handle) RemoveInterval(L, &id);  // a number in use is taken over silently
    qmInterval *rec = nullptr;
    err = AddInterval(L, &id, ms, 0, 2, ud, &rec);
    record = rec;
  } else {
    if (!id.handle) RemoveTimeout(L, &id);
    qmTimeout *rec = nullptr;
    err = AddTimeout(L, &id, ms, 2, ud, &rec);
    record = rec;
  }
  if (err) return err;
  if (id.handle) {
    vm_pushlightuserdata(L, record);
    return 1;
  }
  return 0;
}

uint32_t EvtSetInterval(VmState *L) { return settimer(L, true); }
uint32_t EvtSetTimeout(VmState *L) { return settimer(L, false); }

uint32_t EvtClearInterval(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  return RemoveInterval(L, &id);
}

uint32_t EvtClearTimeout(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  return RemoveTimeout(L, &id);
}

uint32_t EvtChangeInterval(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId id = GetObjectIdArg(L, 1);
  int32_t ms = vm_checkint32(L, 2);
  if (ms < 1) return ERR_WRONGUSAGE;  // as SetInterval: a period must be at least 1 ms
  return ChangeIntervalPeriod(L, &id, ms);
}

uint32_t EvtCreateKeyDown(VmState *L) {
  CheckArgCount(L, 2, 2);
  int32_t id = vm_checkint32(L, 1);
  return CreateKeyDown(id, vm_checkstring(L, 2, nullptr));
}

uint32_t EvtModifyKeyDown(VmState *L) {
  CheckArgCount(L, 2, 2);
  int32_t id = vm_checkint32(L, 1);
  return ModifyKeyDown(id, vm_checkstring(L, 2, nullptr));
}

uint32_t EvtRemoveKeyDown(VmState *L) {
  CheckArgCount(L, 1, 1);
  RemoveKeyDown(vm_checkint32(L, 1));
  return 0;
}

uint32_t EvtCreateButton(VmState *L) {
  CheckArgCount(L, 5, 5);
  return CreateLabelButton(vm_checkint32(L, 1), vm_checkint32(L, 2), vm_checkint32(L, 3), vm_checkint32(L, 4), vm_checkint32(L, 5));
}

uint32_t EvtModifyButton(VmState *L) {
  CheckArgCount(L, 5, 5);
  ModifyLabelButton(vm_checkint32(L, 1), vm_checkint32(L, 2), vm_checkint32(L, 3), vm_checkint32(L, 4), vm_checkint32(L, 5));
  return 0;
}

uint32_t EvtRemoveButton(VmState *L) {
  CheckArgCount(L, 1, 1);
  RemoveLabelButton(vm_checkint32(L, 1));
  return 0;
}

uint32_t EvtEnableEvent(VmState *L) {
  CheckArgCount(L, 2, 2);
  SetLabelEventEnabled(vm_checkinteger(L, 1), vm_checkint32(L, 2), 1);
  return 0;
}

uint32_t EvtDisableEvent(VmState *L) {
  CheckArgCount(L, 2, 2);
  SetLabelEventEnabled(vm_checkinteger(L, 1), vm_checkint32(L, 2), 0);
  return 0;
}

uint32_t EvtClearEvents(VmState *L) {
  CheckArgCount(L, 0, 0);
  ClearLabelEvents();
  return 0;
}

uint32_t EvtGetEventCode(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_pushnumber(L, LabelEvents.lastAllId);
  return 1;
}

uint32_t EvtSetEventTimeout(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmTagItem tags[] = {{RTTAG_EVENTTIMEOUT, vm_checkinteger(L, 1)}, {0, 0}};
  SetRuntimeTags(L, tags);
  return 0;
}

uint32_t EvtFreeEventCache(VmState *L) {
  CheckArgCount(L, 0, 0);
  RemoveEvents(kRemoveAllEvents, 1);
  return 0;
}

uint32_t EvtBreakEventHandler(VmState *L) {
  CheckArgCount(L, 0, 0);
  ResetEventDispatcher(L);
  return 0;
}

// LeftMouseQuit, EscapeQuit, CtrlCQuit: the platform's quit switches.
uint32_t quitswitch(VmState *L, int32_t selector) {
  CheckArgCount(L, 1, 1);
  SetPlatformAttr(CurrentDisplay, selector, vm_checkint32(L, 1) != 0);
  return 0;
}
uint32_t EvtLeftMouseQuit(VmState *L) { return quitswitch(L, PLATATTR_LEFTMOUSEQUIT); }
uint32_t EvtEscapeQuit(VmState *L) { return quitswitch(L, PLATATTR_ESCAPEQUIT); }
uint32_t EvtCtrlCQuit(VmState *L) { return quitswitch(L, PLATATTR_CTRLCQUIT); }

bool hasnetworkhandler(const qmHandlerSlot *slots) {
  for (int s : {OBJH_ONCONNECT, OBJH_ONDISCONNECT, OBJH_ONRECEIVEDATA, OBJH_ONRECEIVEUDPDATA})
    if (slots[s].function != kNoHandler) return true;
  return false;
}

uint32_t EvtInstallEventHandler(VmState *L) {
  CheckArgCount(L, 1, 2);
  vm_checktable(L, 1);
  qmHandlerSlot *slots = GetEventState(L)->objectSlots;
  bool withud = vm_gettop(L) >= 2;
  // Every value must be checked before anything changes.
  uint32_t bad = 0;
  auto check = [&](const char *name) {
    vm_pushstring(L, name);
    vm_gettable(L, 1);
    int t = vm_type(L, -1);
    if (t != VM_TNIL && t != VM_TNUMBER && t != VM_TFUNCTION) bad = ERR_FUNCEXPECTED;
    vm_pop(L, 1);
  };
  qmDisplay *d = CurrentDisplay;
  if (d)
    for (int i = 0; i < kDisplayEventCount; i++) check(DisplayEventNames[i]);
  for (int i = 0; i < kObjectEventCount; i++) check(ObjectEventNames[i]);
  for (qmUserEvent *u = UserEventList; u; u = u->next) check(u->name);
  if (bad) {
    SetErrorNumber(1);
    return bad;
  }
  auto release = [&](int32_t &ref) {
    if (ref != kNoHandler) vm_unref(L, VM_REGISTRYINDEX, ref);
    ref = kNoHandler;
  };
  // 1 when the table named the slot (installed or removed).
  auto apply = [&](int32_t &function, int32_t &userData, const char *name) -> bool {
    vm_pushstring(L, name);
    vm_gettable(L, 1);
    int t = vm_type(L, -1);
    if (t == VM_TNIL) {
      vm_pop(L, 1);
      return false;
    }
    release(function);
    if (t == VM_TNUMBER) {
      vm_pop(L, 1);
      if (!withud) release(userData);  // a removed handler loses its user data
    } else {
      function = vm_ref(L, VM_REGISTRYINDEX);
    }
    if (withud) {
      release(userData);
      vm_pushvalue(L, 2);
      userData = vm_ref(L, VM_REGISTRYINDEX);
    }
    return true;
  };
  bool hadnet = hasnetworkhandler(slots);
  bool dropchanged = false;
  if (d) {
    for (int i = 0; i < kDisplayEventCount; i++) {
      bool changed = apply(d->handlers[i].function, d->handlers[i].userData, DisplayEventNames[i]);
      if (i == DISPH_ONDROPFILE) dropchanged = changed;
    }
  }
  for (int i = 0; i < kObjectEventCount; i++)
    apply(slots[i].function, slots[i].userData, ObjectEventNames[i]);
  for (qmUserEvent *u = UserEventList; u; u = u->next) apply(u->function, u->userData, u->name);
  if (d) {
    d->closeHandled = d->handlers[DISPH_CLOSEWINDOW].function != kNoHandler;
    if (dropchanged && d->state == DISPSTATE_OPEN && d->platform) {
      uint32_t err = SetDropTarget(d);
      if (err) return err;
    }
  }
  bool hasnet = hasnetworkhandler(slots);
  if (hasnet && !hadnet) {
    uint32_t err = AcquirePollTimer(L, POLL_CLIENT_EVENTS);
    if (err) return err;
  } else if (!hasnet && hadnet) {
    ReleasePollTimer(L, POLL_CLIENT_EVENTS);
  }
  qmTagItem tags[] = {
      {RTTAG_ONSAMPLELOOP, slots[OBJH_ONSAMPLELOOP].function != kNoHandler},
      {RTTAG_ONSAMPLEEND, slots[OBJH_ONSAMPLEEND].function != kNoHandler},
      {RTTAG_ONMUSICEND, slots[OBJH_ONMUSICEND].function != kNoHandler},
      {RTTAG_ONVIDEOEND, slots[OBJH_ONVIDEOEND].function != kNoHandler},
      {0, 0}};
  SetRuntimeTags(L, tags);
  return 0;
}

const qmCommandEntry kEventCommands[] = {
    {"RemoveButton", EvtRemoveButton},
    {"RemoveKeyDown", EvtRemoveKeyDown},
    {"ModifyButton", EvtModifyButton},
    {"ModifyKeyDown", EvtModifyKeyDown},
    {"CreateButton", EvtCreateButton},
    {"CreateKeyDown", EvtCreateKeyDown},
    {"EnableEvent", EvtEnableEvent},
    {"DisableEvent", EvtDisableEvent},
    {"SetEventTimeout", EvtSetEventTimeout},
    {"GetEventCode", EvtGetEventCode},
    {"LeftMouseQuit", EvtLeftMouseQuit},
    {"EscapeQuit", EvtEscapeQuit},
    {"CtrlCQuit", EvtCtrlCQuit},
    {"FreeEventCache", EvtFreeEventCache},
    {"ClearEvents", EvtClearEvents},
    {"CheckEvent", EvtCheckEvent},
    {"WaitEvent", EvtWaitEvent},
    {"InstallEventHandler", EvtInstallEventHandler},
    {"SetInterval", EvtSetInterval},
    {"SetTimeout", EvtSetTimeout},
    {"ClearInterval", EvtClearInterval},
    {"ClearTimeout", EvtClearTimeout},
    {"ChangeInterval", EvtChangeInterval},
    {"BreakEventHandler", EvtBreakEventHandler},
    {nullptr, nullptr},
};

const qmConstantEntry kEventConstants[] = {
    {"ONBUTTONOVER", nullptr, LABEL_HOVER},
    {"ONBUTTONCLICK", nullptr, LABEL_CLICK},
    {"ONKEYDOWN", nullptr, LABEL_KEYDOWN},
    {"ONBUTTONRIGHTCLICK", nullptr, LABEL_RIGHTCLICK},
    {"MOVEWINDOW", nullptr, LABEL_MOVEWINDOW},
    {"SIZEWINDOW", nullptr, LABEL_SIZEWINDOW},
    {"INACTIVEWINDOW", nullptr, LABEL_INACTIVEWINDOW},
    {"ACTIVEWINDOW", nullptr, LABEL_ACTIVEWINDOW},
    {"CLOSEWINDOW", nullptr, LABEL_CLOSEWINDOW},
    {"ONBUTTONCLICKALL", nullptr, LABEL_CLICKALL},
    {"ONBUTTONRIGHTCLICKALL", nullptr, LABEL_RIGHTCLICKALL},
    {"ONBUTTONOVERALL", nullptr, LABEL_OVERALL},
    {"ONKEYDOWNALL", nullptr, LABEL_KEYDOWNALL},
    {"JOYUP", nullptr, 0},                 {"JOYUPRIGHT", nullptr, 1},      {"JOYRIGHT", nullptr, 2},
    {"JOYDOWNRIGHT", nullptr, 3},          {"JOYDOWN", nullptr, 4},         {"JOYDOWNLEFT", nullptr, 5},
    {"JOYLEFT", nullptr, 6},               {"JOYUPLEFT", nullptr, 7},       {"JOYNODIR", nullptr, 8},
    {"SIMPLEBUTTON", nullptr, 0},          {"LAYERBUTTON", nullptr, 1},
    {nullptr, nullptr, 0},
};

uint32_t InitEventLibrary(VmState *L) {
  if (uint32_t err = InitEventDispatcher(L)) return err;
  if (uint32_t err = RegisterEventLibrarySources(L)) return err;
  return 0;
}

void FreeEventLibrary(VmState *L) {
  ClearLabelEvents();
  FreeAllIntervalsAndTimeouts(L);
  FreeUserEvents(L);
  FreeEventDispatcher(L);
}

}  // namespace

const qmLibrary kEventLibrary = {"event",          kEventCommands, kEventConstants, InitEventLibrary,
                                 FreeEventLibrary, FREERANK_EVENT};
