#include "player/event/lib_event.h"

#include <cstring>
#include <initializer_list>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/position.h"
#include "display/scene.h"
#include "platform/desktop.h"
#include "platform/env.h"
#include "platform/joystick.h"
#include "platform/window.h"
#include "display/displaywindow.h"
#include "player/event/event_buttons.h"
#include "player/event/event_wait.h"
#include "player/event/event_input.h"
#include "player/event/event_labels.h"
#include "player/event/event_sources.h"
#include "runtime/eventtimers.h"
#include "player/event/event_user.h"
#include "runtime/polltimer.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/eventdispatch.h"
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
  return CreateKeyDown(LabelsOf(L), id, vm_checkstring(L, 2, nullptr));
}

uint32_t EvtModifyKeyDown(VmState *L) {
  CheckArgCount(L, 2, 2);
  int32_t id = vm_checkint32(L, 1);
  return ModifyKeyDown(LabelsOf(L), id, vm_checkstring(L, 2, nullptr));
}

uint32_t EvtRemoveKeyDown(VmState *L) {
  CheckArgCount(L, 1, 1);
  RemoveKeyDown(LabelsOf(L), vm_checkint32(L, 1));
  return 0;
}

uint32_t EvtCreateButton(VmState *L) {
  CheckArgCount(L, 5, 5);
  return CreateLabelButton(LabelsOf(L), vm_checkint32(L, 1), vm_checkint32(L, 2), vm_checkint32(L, 3), vm_checkint32(L, 4), vm_checkint32(L, 5));
}

uint32_t EvtModifyButton(VmState *L) {
  CheckArgCount(L, 5, 5);
  ModifyLabelButton(LabelsOf(L), vm_checkint32(L, 1), vm_checkint32(L, 2), vm_checkint32(L, 3), vm_checkint32(L, 4), vm_checkint32(L, 5));
  return 0;
}

uint32_t EvtRemoveButton(VmState *L) {
  CheckArgCount(L, 1, 1);
  RemoveLabelButton(LabelsOf(L), vm_checkint32(L, 1));
  return 0;
}

uint32_t EvtEnableEvent(VmState *L) {
  CheckArgCount(L, 2, 2);
  SetLabelEventEnabled(LabelsOf(L), vm_checkinteger(L, 1), vm_checkint32(L, 2), 1, GetScene(L)->current);
  return 0;
}

uint32_t EvtDisableEvent(VmState *L) {
  CheckArgCount(L, 2, 2);
  SetLabelEventEnabled(LabelsOf(L), vm_checkinteger(L, 1), vm_checkint32(L, 2), 0, GetScene(L)->current);
  return 0;
}

uint32_t EvtClearEvents(VmState *L) {
  CheckArgCount(L, 0, 0);
  ClearLabelEvents(LabelsOf(L), GetScene(L)->current);
  return 0;
}

uint32_t EvtGetEventCode(VmState *L) {
  CheckArgCount(L, 0, 0);
  vm_pushnumber(L, LabelsOf(L)->lastAllId);
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

// Buttons.

// MakeButton(id, SIMPLEBUTTON, x, y, width, height, events [, userdata]) and
// MakeButton(id, LAYERBUTTON, layer, pixelexact, activewhenhidden, events [, userdata]).
uint32_t EvtMakeButton(VmState *L) {
  CheckArgCount(L, 6, 8);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  uint32_t kind = vm_checkinteger(L, 2);
  qmBGPic *pic = nullptr;
  if (uint32_t err = GetButtonPicture(GetScene(L), &pic)) return err;
  if (!id.handle)
    if (qmBGPicButton *old = FindButton(pic, &id)) DeleteButtonRecord(L, pic, old);
  qmBGPicButton fields{};
  fields.id = id;
  fields.kind = kind;
  int events;
  if (kind == BUTTON_SIMPLE) {
    int32_t x = vm_checkint32(L, 3), y = vm_checkint32(L, 4);
    int32_t width = vm_checkint32(L, 5), height = vm_checkint32(L, 6);
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    fields.x1 = ResolvePositionX(GetScene(L), x, width, pic->unscaledWidth, 0);
    fields.y1 = ResolvePositionY(GetScene(L), y, height, pic->unscaledHeight, 0);
    fields.x2 = fields.x1 + width - 1;
    fields.y2 = fields.y1 + height - 1;
    events = 7;
  } else if (kind == BUTTON_LAYER) {
    int32_t position = 0;
    if (vm_type(L, 3) == VM_TSTRING) {
      const char *name = vm_tostring(L, 3);
      qmPlayerContext *ctx = GetPlayerContext(L);
      position = ctx && ctx->findLayerByName ? ctx->findLayerByName(ctx->scene, name) : 0;
      if (position <= 0) {
        SetErrorArgument(name);
        return ERR_FINDLAYER;
      }
    } else if (vm_type(L, 3) == VM_TNUMBER) {
      position = ArgToInt32(L, 3, vm_tonumber(L, 3));
    } else {
      SetErrorNumber(3);
      return ERR_STRORNUM;
    }
    fields.pixelExact = vm_checkint32(L, 4) != 0;
    fields.activeWhenHidden = vm_checkint32(L, 5) != 0;
    fields.layer = PictureLayerAt(GetScene(L), pic, position);
    if (!fields.layer) return ERR_LAYERRANGE;
    if (FindLayerButton(pic, fields.layer)) return ERR_WRONGUSAGE;
    events = 6;
  } else {
    return ERR_WRONGUSAGE;
  }
  vm_checktable(L, events);
  // Every value is checked before any reference is taken.
  bool any = false;
  for (const char *name : ButtonEventNames) {
    vm_pushstring(L, name);
    vm_rawget(L, events);
    int t = vm_type(L, -1);
    vm_pop(L, 1);
    if (t == VM_TNIL) continue;
    if (t != VM_TFUNCTION) {
      SetErrorNumber(static_cast<uint32_t>(events));
      return ERR_FUNCEXPECTED;
    }
    any = true;
  }
  if (!any) return ERR_WRONGUSAGE;
  for (int i = 0; i < BTNH_COUNT; i++) {
    vm_pushstring(L, ButtonEventNames[i]);
    vm_rawget(L, events);
    if (vm_type(L, -1) == VM_TNIL) {
      vm_pop(L, 1);
      fields.handlers[i] = kNoHandler;
    } else {
      fields.handlers[i] = vm_ref(L, VM_REGISTRYINDEX);
    }
  }
  fields.userData = kNoHandler;
  if (vm_gettop(L) > events) {
    vm_pushvalue(L, events + 1);
    fields.userData = vm_ref(L, VM_REGISTRYINDEX);
  }
  qmBGPicButton *b = nullptr;
  if (uint32_t err = AddButton(pic, fields, &b)) {
    for (int32_t ref : fields.handlers)
      if (ref != kNoHandler) vm_unref(L, VM_REGISTRYINDEX, ref);
    if (fields.userData != kNoHandler) vm_unref(L, VM_REGISTRYINDEX, fields.userData);
    return err;
  }
  if (id.handle) {
    vm_pushlightuserdata(L, b);
    return 1;
  }
  return 0;
}

// The button of argument 1 on the current picture.
uint32_t findbutton(VmState *L, qmBGPic **pic, qmBGPicButton **button) {
  CheckArgCount(L, 1, 1);
  qmObjectId id = GetObjectIdArg(L, 1);
  if (uint32_t err = GetButtonPicture(GetScene(L), pic)) return err;
  *button = FindButton(*pic, &id);
  return *button ? 0 : MissingObjectError(&id, ERR_FINDBUTTON);
}

uint32_t EvtDeleteButton(VmState *L) {
  qmBGPic *pic;
  qmBGPicButton *b;
  if (uint32_t err = findbutton(L, &pic, &b)) return err;
  DeleteButtonRecord(L, pic, b);
  return 0;
}

uint32_t EvtEnableButton(VmState *L) {
  qmBGPic *pic;
  qmBGPicButton *b;
  if (uint32_t err = findbutton(L, &pic, &b)) return err;
  b->enabled = 1;
  b->leftDown = b->rightDown = b->midDown = 0;
  return 0;
}

uint32_t EvtDisableButton(VmState *L) {
  qmBGPic *pic;
  qmBGPicButton *b;
  if (uint32_t err = findbutton(L, &pic, &b)) return err;
  b->enabled = 0;  // the over flag stays
  b->leftDown = b->rightDown = b->midDown = 0;
  return 0;
}

uint32_t EvtDumpButtons(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmBGPic *pic = nullptr;
  if (uint32_t err = GetButtonPicture(GetScene(L), &pic)) return err;
  DebugPrintf("BUTTON SYSTEM INFO - BGPIC: %d (%p)\nsizeof(qmBGPicButton): %d\nButtons: %d\n",
              static_cast<int>(pic->header.id), static_cast<void *>(pic), 100, static_cast<int>(CountButtons(pic)));
  int n = 1;
  for (const qmBGPicButton *b = static_cast<const qmBGPicButton *>(pic->buttons); b; b = b->next, n++)
    DebugPrintf("(%d) Type: %d - X1: %d - Y1: %d - X2: %d - Y2: %d\n", n, static_cast<int>(b->kind), b->x1, b->y1,
                b->x2, b->y2);
  return 0;
}

// Input queries and waits.

uint32_t EvtIsKeyDown(VmState *L) {
  CheckArgCount(L, 1, 1);
  uint32_t code;
  if (uint32_t err = ParseKeyArgument(vm_checkstring(L, 1, nullptr), KEYROW_RCONTROL, &code)) return err;
  vm_pushnumber(L, KeyIsDown(GetScene(L)->current, code, GetQualifierKeys()));
  return 1;
}

uint32_t EvtWaitKeyDown(VmState *L) {
  CheckArgCount(L, 1, 1);
  uint32_t code;
  if (uint32_t err = ParseKeyArgument(vm_checkstring(L, 1, nullptr), KEYROW_PAUSE, &code)) return err;
  WaitForKeyPress(L, code);
  return 0;
}

uint32_t mousebutton(VmState *L, uint32_t input) {
  CheckArgCount(L, 0, 0);
  const qmDisplay *d = GetScene(L)->current;
  uint32_t down = 0;
  if (d) down = input == WAITON_LEFT ? d->leftButton : input == WAITON_RIGHT ? d->rightButton : d->middleButton;
  vm_pushnumber(L, down ? 1 : 0);
  return 1;
}
uint32_t EvtIsLeftMouse(VmState *L) { return mousebutton(L, WAITON_LEFT); }
uint32_t EvtIsRightMouse(VmState *L) { return mousebutton(L, WAITON_RIGHT); }
uint32_t EvtIsMidMouse(VmState *L) { return mousebutton(L, WAITON_MIDDLE); }

uint32_t waitclick(VmState *L, uint32_t input) {
  CheckArgCount(L, 0, 0);
  WaitForClick(L, input);
  return 0;
}
uint32_t EvtWaitLeftMouse(VmState *L) { return waitclick(L, WAITON_LEFT); }
uint32_t EvtWaitRightMouse(VmState *L) { return waitclick(L, WAITON_RIGHT); }
uint32_t EvtWaitMidMouse(VmState *L) { return waitclick(L, WAITON_MIDDLE); }

uint32_t EvtWhileMouseDown(VmState *L) {
  CheckArgCount(L, 0, 0);
  WaitWhileInput(L, WAITON_LEFT, 0, 1);
  return 0;
}

uint32_t EvtWhileRightMouseDown(VmState *L) {
  CheckArgCount(L, 0, 0);
  WaitWhileInput(L, WAITON_RIGHT, 0, 1);
  return 0;
}

uint32_t EvtWhileKeyDown(VmState *L) {
  CheckArgCount(L, 0, 0);
  if (LabelsOf(L)->lastKeyCode) WaitWhileInput(L, WAITON_KEY, LabelsOf(L)->lastKeyCode, 1);
  return 0;
}

uint32_t EvtWhileMouseOn(VmState *L) {
  CheckArgCount(L, 0, 0);
  return WhileMouseOn(L);
}

uint32_t EvtBreakWhileMouseOn(VmState *L) {
  CheckArgCount(L, 0, 0);
  LabelsOf(L)->lastHover = nullptr;
  return 0;
}

uint32_t mousecoord(VmState *L, bool wantX) {
  CheckArgCount(L, 0, 0);
  int32_t x, y;
  MousePosition(GetScene(L)->current, &x, &y);
  vm_pushnumber(L, wantX ? x : y);
  return 1;
}
uint32_t EvtMouseX(VmState *L) { return mousecoord(L, true); }
uint32_t EvtMouseY(VmState *L) { return mousecoord(L, false); }

uint32_t EvtResetKeyStates(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmScene *scene = GetScene(L);
  ResetDisplayInput(scene, scene->current);
  return 0;
}

// Joysticks: ports count from 0.

uint32_t EvtJoyDir(VmState *L) {
  CheckArgCount(L, 1, 1);
  int32_t direction;
  if (uint32_t err = ReadJoystick(vm_checkint32(L, 1), &direction, nullptr)) return err;
  vm_pushnumber(L, direction);
  return 1;
}

uint32_t EvtJoyFire(VmState *L) {
  CheckArgCount(L, 1, 2);
  int32_t port = vm_checkint32(L, 1);
  int32_t button = vm_optint32(L, 2, 1);
  if (button < 0 || button > 32) return ERR_WRONGUSAGE;
  uint32_t mask;
  if (uint32_t err = ReadJoystick(port, nullptr, &mask)) return err;
  vm_pushnumber(L, button == 0 ? mask : (mask >> (button - 1)) & 1);
  return 1;
}

uint32_t EvtCountJoysticks(VmState *L) {
  CheckArgCount(L, 0, 0);
  int32_t n;
  if (uint32_t err = CountPlatformJoysticks(&n)) return err;
  vm_pushnumber(L, n);
  return 1;
}

// Message ports cannot be made on this system: CreatePort fails and SendMessage finds no port.

uint32_t EvtCreatePort(VmState *L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  vm_checkstring(L, 1, &len);
  const qmDisplay *d = GetScene(L)->current;
  if (len > 127 || !d || d->state != DISPSTATE_OPEN) return ERR_WRONGUSAGE;
  return ERR_CREATEPORT;
}

uint32_t EvtSendMessage(VmState *L) {
  CheckArgCount(L, 2, VM_ANYARGS);
  const char *port = vm_checkstring(L, 1, nullptr);
  const char *command = vm_checkstring(L, 2, nullptr);
  if (!*command || std::strchr(command, ' ')) return ERR_WRONGUSAGE;
  // The message would be the command and each argument as a blank and the quoted text; it has
  // nowhere to go, so only its size is checked.
  size_t length = std::strlen(command);
  for (int i = 3; i <= vm_gettop(L); i++) {
    size_t n;
    vm_checkstring(L, i, &n);
    length += n + 3;
  }
  if (uint32_t err = CheckResultLength(length, 0, 0)) return err;
  SetErrorArgument(port);
  return ERR_FINDPORT;
}

// LeftMouseQuit, EscapeQuit, CtrlCQuit: the platform's quit switches.
uint32_t quitswitch(VmState *L, int32_t selector) {
  CheckArgCount(L, 1, 1);
  SetPlatformAttr(GetScene(L)->current, selector, vm_checkint32(L, 1) != 0);
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
  qmDisplay *d = GetScene(L)->current;
  if (d)
    for (int i = 0; i < kDisplayEventCount; i++) check(DisplayEventNames[i]);
  for (int i = 0; i < kObjectEventCount; i++) check(ObjectEventNames[i]);
  for (qmUserEvent *u = GetEventState(L)->userEvents; u; u = u->next) check(u->name);
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
  for (qmUserEvent *u = GetEventState(L)->userEvents; u; u = u->next) apply(u->function, u->userData, u->name);
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

// In the order of the library's command list.
const qmCommandEntry kEventCommands[] = {
    {"WaitLeftMouse", EvtWaitLeftMouse},
    {"WaitRightMouse", EvtWaitRightMouse},
    {"WaitKeyDown", EvtWaitKeyDown},
    {"IsKeyDown", EvtIsKeyDown},
    {"WhileRightMouseDown", EvtWhileRightMouseDown},
    {"WhileMouseDown", EvtWhileMouseDown},
    {"WhileKeyDown", EvtWhileKeyDown},
    {"IsLeftMouse", EvtIsLeftMouse},
    {"IsRightMouse", EvtIsRightMouse},
    {"BreakWhileMouseOn", EvtBreakWhileMouseOn},
    {"SetEventTimeout", EvtSetEventTimeout},
    {"GetEventCode", EvtGetEventCode},
    {"LeftMouseQuit", EvtLeftMouseQuit},
    {"EscapeQuit", EvtEscapeQuit},
    {"CtrlCQuit", EvtCtrlCQuit},
    {"EnableEvent", EvtEnableEvent},
    {"DisableEvent", EvtDisableEvent},
    {"RemoveButton", EvtRemoveButton},
    {"RemoveKeyDown", EvtRemoveKeyDown},
    {"ModifyButton", EvtModifyButton},
    {"ModifyKeyDown", EvtModifyKeyDown},
    {"WhileMouseOn", EvtWhileMouseOn},
    {"CreateButton", EvtCreateButton},
    {"CreateKeyDown", EvtCreateKeyDown},
    {"FreeEventCache", EvtFreeEventCache},
    {"ClearEvents", EvtClearEvents},
    {"CheckEvent", EvtCheckEvent},
    {"WaitEvent", EvtWaitEvent},
    {"MouseX", EvtMouseX},
    {"MouseY", EvtMouseY},
    {"MakeButton", EvtMakeButton},
    {"DeleteButton", EvtDeleteButton},
    {"DisableButton", EvtDisableButton},
    {"EnableButton", EvtEnableButton},
    {"InstallEventHandler", EvtInstallEventHandler},
    {"SetInterval", EvtSetInterval},
    {"SetTimeout", EvtSetTimeout},
    {"ClearInterval", EvtClearInterval},
    {"ClearTimeout", EvtClearTimeout},
    {"ChangeInterval", EvtChangeInterval},
    {"DumpButtons", EvtDumpButtons},
    {"WaitMidMouse", EvtWaitMidMouse},
    {"IsMidMouse", EvtIsMidMouse},
    {"ResetKeyStates", EvtResetKeyStates},
    {"JoyDir", EvtJoyDir},
    {"JoyFire", EvtJoyFire},
    {"CountJoysticks", EvtCountJoysticks},
    {"BreakEventHandler", EvtBreakEventHandler},
    {"CreatePort", EvtCreatePort},
    {"SendMessage", EvtSendMessage},
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
  qmEventState *st = GetEventState(L);
  if (!st->labels) st->labels = static_cast<qmLabelState *>(MemAlloc(sizeof(qmLabelState), 1));
  return st->labels ? 0u : uint32_t(ERR_MEM);
}

void FreeEventLibrary(VmState *L) {
  qmPlayerContext *ctx = L ? GetPlayerContext(L) : nullptr;
  // The registrations, the last key and the last label code go with the run.
  if (qmEventState *st = ctx ? ctx->event : nullptr) {
    ClearLabelEvents(st->labels, ctx->scene ? ctx->scene->current : nullptr);
    MemFree(st->labels);
    st->labels = nullptr;
  }
  FreeAllIntervalsAndTimeouts(L);
  FreeUserEvents(L);
  FreeEventDispatcher(L);
}

}  // namespace

const qmLibrary kEventLibrary = {"event",          kEventCommands, kEventConstants, InitEventLibrary,
                                 FreeEventLibrary, FREERANK_EVENT};
