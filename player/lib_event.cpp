#include "player/lib_event.h"

#include <initializer_list>

#include "display/display.h"
#include "platform/desktop.h"
#include "platform/polltimer.h"
#include "platform/window.h"
#include "player/event_dispatch.h"
#include "player/event_labels.h"
#include "player/event_timers.h"
#include "player/event_user.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/eventqueue.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_number.h"

namespace {

int32_t intarg(VmState *L, int i) { return vm_toint32(vm_checknumber(L, i)); }

uint32_t WaitEvent(VmState *L) {
  CheckArgCount(L, 0, 0);
  return WaitOrCheckEvent(L, 1);
}

uint32_t CheckEvent(VmState *L) {
  CheckArgCount(L, 0, 0);
  return WaitOrCheckEvent(L, 0);
}

// SetInterval and SetTimeout: (id, function, milliseconds [, userdata]).
uint32_t settimer(VmState *L, bool interval) {
  CheckArgCount(L, 3, 4);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  int32_t ms = intarg(L, 3);
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

uint32_t SetInterval(VmState *L) { return settimer(L, true); }
uint32_t SetTimeout(VmState *L) { return settimer(L, false); }

uint32_t ClearInterval(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  return RemoveInterval(L, &id);
}

uint32_t ClearTimeout(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  return RemoveTimeout(L, &id);
}

uint32_t ChangeInterval(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId id = GetObjectIdArg(L, 1);
  int32_t ms = intarg(L, 2);
  if (ms < 1) return ERR_WRONGUSAGE;  // as SetInterval: a period must be at least 1 ms
  return ChangeIntervalPeriod(&id, ms);
}

uint32_t CreateKeyDownCmd(VmState *L) {
  CheckArgCount(L, 2, 2);
  int32_t id = intarg(L, 1);
  return CreateKeyDown(id, vm_checkstring(L, 2, nullptr));
}

uint32_t ModifyKeyDownCmd(VmState *L) {
  CheckArgCount(L, 2, 2);
  int32_t id = intarg(L, 1);
  return ModifyKeyDown(id, vm_checkstring(L, 2, nullptr));
}

uint32_t RemoveKeyDownCmd(VmState *L) {
  CheckArgCount(L, 1, 1);
  RemoveKeyDown(intarg(L, 1));
  return 0;
}

uint32_t CreateButtonCmd(VmState *L) {
  CheckArgCount(L, 5, 5);
  return CreateLabelButton(intarg(L, 1), intarg(L, 2), intarg(L, 3), intarg(L, 4), intarg(L, 5));
}

uint32_t ModifyButtonCmd(VmState *L) {
  CheckArgCount(L, 5, 5);
  ModifyLabelButton(intarg(L, 1), intarg(L, 2), intarg(L, 3), intarg(L, 4), intarg(L, 5));
  return 0;
}

uint32_t RemoveButtonCmd(VmState *L) {
  CheckArgCount(L, 1, 1);
  RemoveLabelButton(intarg(L, 1));
  return 0;
}

uint32_t EnableEvent(VmState *L) {
  CheckArgCount(L, 2, 2);
  SetLabelEventEnabled(vm_touint32(vm_checknumber(L, 1)), intarg(L, 2), 1);
  return 0;
}

uint32_t DisableEvent(VmState *L) {
  CheckArgCount(L, 2, 2);
  SetLabelEventEnabled(vm_touint32(vm_checknumber(L, 1)), intarg(L, 2), 0);
  return 0;
}

uint32_t ClearEvents(VmState *L) {
  CheckArgCount(L, 0, 0);
  ClearLabelEvents();
  return 0;
}

uint32_t GetEventCode(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_pushnumber(L, LabelEvents.lastAllId);
  return 1;
}

uint32_t SetEventTimeout(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmTagItem tags[] = {{RTTAG_EVENTTIMEOUT, vm_touint32(vm_checknumber(L, 1))}, {0, 0}};
  SetRuntimeTags(L, tags);
  return 0;
}

uint32_t FreeEventCache(VmState *L) {
  CheckArgCount(L, 0, 0);
  RemoveEvents(kRemoveAllEvents, 1);
  return 0;
}

uint32_t BreakEventHandler(VmState *L) {
  CheckArgCount(L, 0, 0);
  ResetEventDispatcher();
  return 0;
}

// LeftMouseQuit, EscapeQuit, CtrlCQuit: the platform's quit switches.
uint32_t quitswitch(VmState *L, int32_t selector) {
  CheckArgCount(L, 1, 1);
  SetPlatformAttr(CurrentDisplay, selector, vm_toint32(vm_checknumber(L, 1)) != 0);
  return 0;
}
uint32_t LeftMouseQuit(VmState *L) { return quitswitch(L, PLATATTR_LEFTMOUSEQUIT); }
uint32_t EscapeQuit(VmState *L) { return quitswitch(L, PLATATTR_ESCAPEQUIT); }
uint32_t CtrlCQuit(VmState *L) { return quitswitch(L, PLATATTR_CTRLCQUIT); }

bool hasnetworkhandler() {
  for (int s : {OBJH_ONCONNECT, OBJH_ONDISCONNECT, OBJH_ONRECEIVEDATA, OBJH_ONRECEIVEUDPDATA})
    if (ObjectEventSlots[s].function != kNoHandler) return true;
  return false;
}

uint32_t InstallEventHandler(VmState *L) {
  CheckArgCount(L, 1, 2);
  vm_checktable(L, 1);
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
  bool hadnet = hasnetworkhandler();
  bool dropchanged = false;
  if (d) {
    for (int i = 0; i < kDisplayEventCount; i++) {
      bool changed = apply(d->handlers[i].function, d->handlers[i].userData, DisplayEventNames[i]);
      if (i == DISPH_ONDROPFILE) dropchanged = changed;
    }
  }
  for (int i = 0; i < kObjectEventCount; i++)
    apply(ObjectEventSlots[i].function, ObjectEventSlots[i].userData, ObjectEventNames[i]);
  for (qmUserEvent *u = UserEventList; u; u = u->next) apply(u->function, u->userData, u->name);
  if (d) {
    d->closeHandled = d->handlers[DISPH_CLOSEWINDOW].function != kNoHandler;
    if (dropchanged && d->state == DISPSTATE_OPEN && d->platform) {
      uint32_t err = SetDropTarget(d);
      if (err) return err;
    }
  }
  bool hasnet = hasnetworkhandler();
  if (hasnet && !hadnet) {
    uint32_t err = AcquirePollTimer(L, POLL_CLIENT_EVENTS);
    if (err) return err;
  } else if (!hasnet && hadnet) {
    ReleasePollTimer(L, POLL_CLIENT_EVENTS);
  }
  qmTagItem tags[] = {
      {13, ObjectEventSlots[OBJH_ONSAMPLELOOP].function != kNoHandler},
      {14, ObjectEventSlots[OBJH_ONSAMPLEEND].function != kNoHandler},
      {19, ObjectEventSlots[OBJH_ONMUSICEND].function != kNoHandler},
      {24, ObjectEventSlots[OBJH_ONVIDEOEND].function != kNoHandler},
      {0, 0}};
  SetRuntimeTags(L, tags);
  return 0;
}

const qmCommandEntry kEventCommands[] = {
    {"RemoveButton", RemoveButtonCmd},
    {"RemoveKeyDown", RemoveKeyDownCmd},
    {"ModifyButton", ModifyButtonCmd},
    {"ModifyKeyDown", ModifyKeyDownCmd},
    {"CreateButton", CreateButtonCmd},
    {"CreateKeyDown", CreateKeyDownCmd},
    {"EnableEvent", EnableEvent},
    {"DisableEvent", DisableEvent},
    {"SetEventTimeout", SetEventTimeout},
    {"GetEventCode", GetEventCode},
    {"LeftMouseQuit", LeftMouseQuit},
    {"EscapeQuit", EscapeQuit},
    {"CtrlCQuit", CtrlCQuit},
    {"FreeEventCache", FreeEventCache},
    {"ClearEvents", ClearEvents},
    {"CheckEvent", CheckEvent},
    {"WaitEvent", WaitEvent},
    {"InstallEventHandler", InstallEventHandler},
    {"SetInterval", SetInterval},
    {"SetTimeout", SetTimeout},
    {"ClearInterval", ClearInterval},
    {"ClearTimeout", ClearTimeout},
    {"ChangeInterval", ChangeInterval},
    {"BreakEventHandler", BreakEventHandler},
    {nullptr, nullptr},
};

const qmConstantEntry kEventConstants[] = {
    {"ONBUTTONOVER", nullptr, 1},          {"ONBUTTONCLICK", nullptr, 2},   {"ONKEYDOWN", nullptr, 3},
    {"ONBUTTONRIGHTCLICK", nullptr, 5},    {"MOVEWINDOW", nullptr, 6},      {"SIZEWINDOW", nullptr, 7},
    {"INACTIVEWINDOW", nullptr, 8},        {"ACTIVEWINDOW", nullptr, 9},    {"CLOSEWINDOW", nullptr, 10},
    {"ONBUTTONCLICKALL", nullptr, 11},     {"ONBUTTONRIGHTCLICKALL", nullptr, 12},
    {"ONBUTTONOVERALL", nullptr, 13},      {"ONKEYDOWNALL", nullptr, 14},
    {"JOYUP", nullptr, 0},                 {"JOYUPRIGHT", nullptr, 1},      {"JOYRIGHT", nullptr, 2},
    {"JOYDOWNRIGHT", nullptr, 3},          {"JOYDOWN", nullptr, 4},         {"JOYDOWNLEFT", nullptr, 5},
    {"JOYLEFT", nullptr, 6},               {"JOYUPLEFT", nullptr, 7},       {"JOYNODIR", nullptr, 8},
    {"SIMPLEBUTTON", nullptr, 0},          {"LAYERBUTTON", nullptr, 1},
    {nullptr, nullptr, 0},
};


}  // namespace

uint32_t InitEventLibrary(VmState *L) {
  uint32_t err = InitEventDispatcher();
  if (err) return err;
  vm_pushvalue(L, VM_GLOBALSINDEX);
  vm_openlib(L, nullptr, kEventCommands, 0);
  vm_pop(L, 1);
  err = RegisterCommandTable(kEventCommands, "event");
  if (err) return err;
  vm_registerconstants(L, kEventConstants, 0);
  err = RegisterObjectList(reinterpret_cast<qmObjectHeader **>(&IntervalList));
  if (!err) err = RegisterObjectList(reinterpret_cast<qmObjectHeader **>(&TimeoutList));
  if (err) return err;
  InstallPollIntervalHooks();
  return 0;
}

void FreeEventLibrary(VmState *L) {
  ClearLabelEvents();
  FreeAllIntervalsAndTimeouts(L);
  FreeUserEvents(L);
  FreeEventDispatcher(L);
  InstallPollTimerHooks(nullptr, nullptr);
}
