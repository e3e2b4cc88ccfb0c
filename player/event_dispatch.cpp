#include "player/event_dispatch.h"

#include <cstdio>
#include <cstring>

#include "display/display.h"
#include "platform/eventpump.h"
#include "platform/memory.h"
#include "platform/process.h"
#include "platform/timers.h"
#include "platform/time.h"
#include "platform/window.h"
#include "player/event_labels.h"
#include "player/event_timers.h"
#include "player/event_user.h"
#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/eventqueue.h"
#include "runtime/objdata.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"

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

qmHandlerSlot ObjectEventSlots[kObjectEventCount];
qmEventState *EventState = nullptr;

namespace {

qmEventSources gSources = {};

// Cursors of the per-display passes: the next display to look at, and whether the pass began.
struct DisplayCursor {
  qmDisplay *next;
  bool started;
};
DisplayCursor gMoveCursor, gHoverCursor;

enum : uint32_t {
  EV_LEFT = 1, EV_RIGHT = 2, EV_KEY = 3, EV_MOVED = 4, EV_SIZED = 5, EV_INACTIVE = 6, EV_CLOSE = 7,
  EV_ACTIVE = 8, EV_HIDDEN = 9, EV_SHOWN = 10, EV_WHEELUP = 11, EV_WHEELDOWN = 12, EV_MODESWITCH = 13,
  EV_DROP = 14, EV_CLIPBOARD = 15, EV_MIDDLE = 16, EV_ORIENTATION = 17, EV_SHOWKBD = 18, EV_HIDEKBD = 19,
  EV_HOTKEY = 20, EV_TRAYICON = 21,
};

void setaction(qmEventMessage *msg, const char *action) { std::snprintf(msg->action, sizeof msg->action, "%s", action); }

void clearmsg(qmEventMessage *msg) {
  MemFree(msg->reply);
  std::memset(msg, 0, sizeof *msg);
  msg->function = -1;
  msg->userData = -1;
}

qmDisplay *nextdisplay(DisplayCursor &c) {
  qmDisplay *d = c.started ? c.next : DisplayList;
  c.started = true;
  c.next = d ? d->next : nullptr;
  return d;
}

bool displayopen(const qmDisplay *d) {
  if (gSources.displayOpen) return gSources.displayOpen(d);
  return d && d->state == DISPSTATE_OPEN;
}

// The mouse in picture pixels of a display: window position = picture position x scale + offset.
void picturepos(const qmDisplay *d, int32_t wx, int32_t wy, int32_t *px, int32_t *py) {
  double sx = d && d->scaleX > 0 ? d->scaleX : 1.0, sy = d && d->scaleY > 0 ? d->scaleY : 1.0;
  int32_t ox = d ? d->marginLeft : 0, oy = d ? d->marginTop : 0;
  *px = static_cast<int32_t>((wx - ox) / sx);
  *py = static_cast<int32_t>((wy - oy) / sy);
}

bool pointer(const qmDisplay *d, int32_t *px, int32_t *py) {
  if (!d || !d->platform || !displayopen(d)) return false;
  int32_t wx, wy;
  GetPlatformPointer(d, &wx, &wy);
  picturepos(d, wx, wy, px, py);
  return true;
}

bool inrect(const qmLabelEvent *e, int32_t x, int32_t y) { return x >= e->x1 && x <= e->x2 && y >= e->y1 && y <= e->y2; }

void freepayload(qmHeldEvent *h) {
  if (h->valid && h->type < EVENT_FIRST_FOREIGN_PAYLOAD) MemFree(h->payload);
  h->payload = nullptr;
  h->valid = 0;
}

// Sets up the jump to a label when the script has one: the Gosub request of the command.
bool labeljump(VmState *L, const char *name) {
  int32_t index = GetLabelIndex(L, name);
  if (index < 0) return false;
  G(L)->pendinggosuboffset = index - G(L)->callsiteindex;
  return true;
}

// Step 9: a queued input or window event that matches a label registration.
bool scanlabels(VmState *L, qmEventMessage *msg) {
  if (!LabelEvents.list) return false;
  uint32_t n = GetEventCount();
  for (uint32_t i = 0; i < n; i++) {
    qmQueuedEvent ev{};
    if (!PeekEvent(i, &ev, 0)) break;
    auto *owner = static_cast<qmDisplay *>(ev.owner);
    for (qmLabelEvent *e = LabelEvents.list; e; e = e->next) {
      if (!e->enabled) continue;
      char name[64] = "";
      int32_t px, py;
      switch (e->kind) {
        case LABEL_CLICK:
        case LABEL_RIGHTCLICK: {
          uint32_t want = e->kind == LABEL_CLICK ? EV_LEFT : EV_RIGHT;
          if (ev.type != want || !ev.buttons) break;
          picturepos(owner ? owner : CurrentDisplay, static_cast<int32_t>(ev.x), static_cast<int32_t>(ev.y), &px, &py);
          if (!inrect(e, px, py)) break;
          bool all = e->kind == LABEL_CLICK ? LabelEvents.clickAll : LabelEvents.rightClickAll;
          if (all) {
            std::snprintf(name, sizeof name, e->kind == LABEL_CLICK ? "ONBUTTONCLICKALL" : "ONBUTTONRIGHTCLICKALL");
            LabelEvents.lastAllId = e->id;
          } else {
            std::snprintf(name, sizeof name, e->kind == LABEL_CLICK ? "ONBUTTONCLICK%d" : "ONBUTTONRIGHTCLICK%d", e->id);
          }
          break;
        }
        case LABEL_KEYDOWN: {
          if (ev.type != EV_KEY || !ev.keyDown || !e->key) break;
          char key[32];
          KeyNameForLabel(ev.keyCode, key);
          if (Stricmp(key, e->key) != 0) break;
          if (LabelEvents.keyDownAll) {
            std::snprintf(name, sizeof name, "ONKEYDOWNALL");
            LabelEvents.lastAllId = e->id;
          } else {
            std::snprintf(name, sizeof name, "ONKEYDOWN%d", e->id);
          }
          LabelEvents.lastKeyCode = ev.keyCode;
          break;
        }
        case LABEL_MOVEWINDOW: if (ev.type == EV_MOVED) std::snprintf(name, sizeof name, "MOVEWINDOW"); break;
        case LABEL_SIZEWINDOW: if (ev.type == EV_SIZED) std::snprintf(name, sizeof name, "SIZEWINDOW"); break;
        case LABEL_INACTIVEWINDOW: if (ev.type == EV_INACTIVE) std::snprintf(name, sizeof name, "INACTIVEWINDOW"); break;
        case LABEL_ACTIVEWINDOW: if (ev.type == EV_ACTIVE) std::snprintf(name, sizeof name, "ACTIVEWINDOW"); break;
        case LABEL_CLOSEWINDOW: if (ev.type == EV_CLOSE) std::snprintf(name, sizeof name, "CLOSEWINDOW"); break;
        default: break;
      }
      if (name[0] && labeljump(L, name)) {
        RemoveEvents(i, 0);
        UnlockEventQueue();
        EventState->state = DSTATE_START;
        msg->type = 11;
        return true;
      }
    }
  }
  return false;
}

// The display-level handler of a mouse event: slot index, or -1.
int displaymouseslot(const qmHeldEvent &h, const char **action) {
  switch (h.type) {
    case EV_LEFT: *action = h.down ? "OnMouseDown" : "OnMouseUp"; return h.down ? DISPH_ONMOUSEDOWN : DISPH_ONMOUSEUP;
    case EV_RIGHT:
      *action = h.down ? "OnRightMouseDown" : "OnRightMouseUp";
      return h.down ? DISPH_ONRIGHTMOUSEDOWN : DISPH_ONRIGHTMOUSEUP;
    case EV_MIDDLE:
      *action = h.down ? "OnMidMouseDown" : "OnMidMouseUp";
      return h.down ? DISPH_ONMIDMOUSEDOWN : DISPH_ONMIDMOUSEUP;
    case EV_WHEELUP: *action = "OnWheelUp"; return DISPH_ONWHEELUP;
    case EV_WHEELDOWN: *action = "OnWheelDown"; return DISPH_ONWHEELDOWN;
    default: return -1;
  }
}

struct TypeRow {
  uint32_t event;
  int slot;
  const char *action;
  uint32_t msgtype;
};
const TypeRow kTypeRows[] = {
    {EV_MOVED, DISPH_MOVEWINDOW, "MoveWindow", 5},       {EV_SIZED, DISPH_SIZEWINDOW, "SizeWindow", 4},
    {EV_INACTIVE, DISPH_INACTIVEWINDOW, "InactiveWindow", 3}, {EV_CLOSE, DISPH_CLOSEWINDOW, "CloseWindow", 3},
    {EV_ACTIVE, DISPH_ACTIVEWINDOW, "ActiveWindow", 3},  {EV_HIDDEN, DISPH_HIDEWINDOW, "HideWindow", 3},
    {EV_SHOWN, DISPH_SHOWWINDOW, "ShowWindow", 3},       {EV_MODESWITCH, DISPH_MODESWITCH, "ModeSwitch", 12},
    {EV_DROP, DISPH_ONDROPFILE, "OnDropFile", 13},       {EV_CLIPBOARD, DISPH_CLIPBOARDCHANGE, "ClipboardChange", 3},
    {EV_ORIENTATION, DISPH_ORIENTATIONCHANGE, "OrientationChange", 19},
    {EV_SHOWKBD, DISPH_SHOWKEYBOARD, "ShowKeyboard", 3}, {EV_HIDEKBD, DISPH_HIDEKEYBOARD, "HideKeyboard", 3},
    {EV_HOTKEY, DISPH_HOTKEY, "Hotkey", 3},               {EV_TRAYICON, DISPH_TRAYICON, "TrayIcon", 3},
};

// Step 11 for the held event: fills the message and returns true when something is to be called.
bool typedmessage(VmState *L, qmEventMessage *msg) {
  qmHeldEvent &h = EventState->held;
  qmDisplay *d = h.owner;
  msg->owner = d;
  if (h.type >= kFirstUserEvent) {
    qmUserEvent *u = FindUserEvent(h.type);
    if (!u || u->function == -1) return false;
    msg->type = 21;
    msg->function = u->function;
    msg->userData = u->userData;
    msg->userEvent = u;
    msg->userPayload = h.payload;
    setaction(msg, u->name);
    return true;
  }
  if (!d) return false;
  if (h.type == EV_LEFT || h.type == EV_RIGHT || h.type == EV_MIDDLE) {
    return gSources.buttonEvent && gSources.buttonEvent(L, &h, msg) && msg->function != -1;
  }
  if (h.type == EV_KEY) {
    int slot = h.down ? DISPH_ONKEYDOWN : DISPH_ONKEYUP;
    if (d->handlers[slot].function == -1) return false;
    msg->type = 2;
    msg->function = d->handlers[slot].function;
    msg->userData = d->handlers[slot].userData;
    msg->modifiers = h.modifiers;
    setaction(msg, h.down ? "OnKeyDown" : "OnKeyUp");
    KeyTextForMessage(h.keyCode, msg->key);
    return true;
  }
  for (const TypeRow &row : kTypeRows) {
    if (row.event != h.type) continue;
    if (d->handlers[row.slot].function == -1) return false;
    msg->type = row.msgtype;
    msg->function = d->handlers[row.slot].function;
    msg->userData = d->handlers[row.slot].userData;
    msg->x = h.x;
    msg->y = h.y;
    if (h.type == EV_DROP) msg->dropList = static_cast<const char *>(h.payload);
    setaction(msg, row.action);
    return true;
  }
  return false;
}

uint32_t firetimeout(VmState *L, qmTimeout *rec, qmEventMessage *msg) {
  // Unlinked before its handler runs: its id is no longer valid inside the handler.
  for (qmObjectHeader **p = reinterpret_cast<qmObjectHeader **>(&TimeoutList); *p; p = &(*p)->next)
    if (*p == &rec->header) {
      *p = rec->header.next;
      break;
    }
  int32_t function = rec->function, userData = rec->userData;
  msg->id = qmObjectId{rec->header.id, rec->header.handle};
  msg->objectId = &msg->id;
  FreeObjectDataList(L, static_cast<qmObjectData *>(rec->header.userData));
  MemFree(rec);
  msg->type = 7;
  msg->function = function;
  msg->userData = userData;
  setaction(msg, "Timeout");
  uint32_t r = CallEventHandler(L, msg, 0);
  if (function != -1) vm_unref(L, VM_REGISTRYINDEX, function);
  if (userData != -1) vm_unref(L, VM_REGISTRYINDEX, userData);
  return r;
}

}  // namespace

void SetEventSources(const qmEventSources *sources) { gSources = sources ? *sources : qmEventSources{}; }

uint32_t InitEventDispatcher() {
  if (!EventState) {
    EventState = static_cast<qmEventState *>(MemAlloc(sizeof(qmEventState), 1));
    if (!EventState) return ERR_MEM;
  }
  for (qmHandlerSlot &s : ObjectEventSlots) s = {kNoHandler, kNoHandler};
  DispatcherTimerCursor = &EventState->timerCursor;
  gMoveCursor = {};
  gHoverCursor = {};
  return 0;
}

void FreeEventDispatcher(VmState *L) {
  if (L) {
    for (qmHandlerSlot &s : ObjectEventSlots) {
      if (s.function != kNoHandler) vm_unref(L, VM_REGISTRYINDEX, s.function);
      if (s.userData != kNoHandler) vm_unref(L, VM_REGISTRYINDEX, s.userData);
      s = {kNoHandler, kNoHandler};
    }
  }
  if (EventState) {
    freepayload(&EventState->held);
    MemFree(EventState);
    EventState = nullptr;
  }
  DispatcherTimerCursor = nullptr;
}

void ResetEventDispatcher() {
  if (!EventState) return;
  if (EventState->state == DSTATE_DISPLAYMOUSE) freepayload(&EventState->held);
  EventState->state = DSTATE_START;
  EventState->timerCursor = nullptr;
  EventState->timersDone = 0;
}

uint32_t DispatchEvents(VmState *L, int hoverSuppressed, int, qmEventMessage *msg) {
  qmEventState *st = EventState;
  if (!st) return ERR_WRONGUSAGE;
  clearmsg(msg);
  uint32_t state = st->state;
  // Where the previous step stopped decides where this one starts.
  enum Stage { S_MUSIC, S_TIMERS, S_SOUND, S_MOVE, S_QUEUE, S_QUEUE_SAME, S_HOVER };
  Stage stage;
  switch (state) {
    case DSTATE_MUSICBUFFER:
    case DSTATE_TIMER: stage = S_TIMERS; break;
    case DSTATE_SOUND: stage = S_SOUND; break;
    case DSTATE_MOUSEMOVE: stage = S_MOVE; break;
    case DSTATE_UDP: case DSTATE_CONNECT: case DSTATE_RECEIVE: case DSTATE_DISCONNECT:
    case DSTATE_USERMESSAGE: stage = S_QUEUE; break;
    case DSTATE_DISPLAYMOUSE: stage = S_QUEUE_SAME; break;
    case DSTATE_QUEUED: stage = S_QUEUE; break;
    case DSTATE_HOVER: case DSTATE_HOVERDISPLAY: stage = S_HOVER; break;
    default:
      stage = S_MUSIC;
      st->timerCursor = nullptr;
      st->timersDone = 0;
      st->button = st->hoverButton = st->heldButton = nullptr;
      st->display = nullptr;
      gMoveCursor = {};
      gHoverCursor = {};
      break;
  }

  if (stage <= S_MUSIC && gSources.musicBufferRequest && ObjectEventSlots[OBJH_FILLMUSICBUFFER].function != -1) {
    if (gSources.musicBufferRequest(&msg->id, &msg->samples, &msg->count)) {
      st->state = DSTATE_MUSICBUFFER;
      msg->type = 20;
      msg->objectId = &msg->id;
      msg->function = ObjectEventSlots[OBJH_FILLMUSICBUFFER].function;
      msg->userData = ObjectEventSlots[OBJH_FILLMUSICBUFFER].userData;
      setaction(msg, "FillMusicBuffer");
      return CallEventHandler(L, msg, 0);
    }
  }

  if (stage <= S_TIMERS) {
    while (!st->timersDone) {
      uint32_t kind;
      qmObjectId owner{};
      qmPlatformTimer *next = NextFiredTimer(st->timerCursor, &kind, &owner);
      st->timerCursor = next;
      if (!next) st->timersDone = 1;
      if (kind == TIMER_INTERVAL) {
        qmInterval *rec = nullptr;
        if (FindInterval(&owner, &rec) != 0 || rec->function == -1) continue;
        st->state = DSTATE_TIMER;
        msg->type = 6;
        msg->id = owner;
        msg->objectId = &msg->id;
        msg->function = rec->function;
        msg->userData = rec->userData;
        setaction(msg, "Interval");
        return CallEventHandler(L, msg, 0);
      }
      if (kind == TIMER_ONESHOT) {
        qmTimeout *rec = nullptr;
        if (FindTimeout(&owner, &rec) != 0) continue;
        st->state = DSTATE_TIMER;
        return firetimeout(L, rec, msg);
      }
    }
  }

  if (stage <= S_SOUND && gSources.popSoundEvent) {
    static const int slotOf[4] = {OBJH_ONSAMPLEEND, OBJH_ONSAMPLELOOP, OBJH_ONMUSICEND, OBJH_ONVIDEOEND};
    static const char *const actionOf[4] = {"OnSampleEnd", "OnSampleLoop", "OnMusicEnd", "OnVideoEnd"};
    bool any = false;
    for (int s : slotOf) any = any || ObjectEventSlots[s].function != -1;
    uint32_t kind;
    qmObjectId id;
    double time, starts;
    while (any && gSources.popSoundEvent(&kind, &id, &time, &starts)) {
      if (kind < 5 || kind > 8) continue;
      const qmHandlerSlot &slot = ObjectEventSlots[slotOf[kind - 5]];
      if (slot.function == -1) continue;  // dropped
      st->state = DSTATE_SOUND;
      msg->type = 9;
      msg->id = id;
      msg->objectId = &msg->id;
      msg->time = time;
      msg->starts = starts;
      msg->function = slot.function;
      msg->userData = slot.userData;
      setaction(msg, actionOf[kind - 5]);
      return CallEventHandler(L, msg, 0);
    }
  }

  if (stage <= S_MOVE) {
    uint32_t timeoutMs = GetEventTimeout();
    while (qmDisplay *d = nextdisplay(gMoveCursor)) {
      if (d->handlers[DISPH_ONMOUSEMOVE].function == -1 || !d->pointerMoved) continue;
      qmTimeval now, age;
      GetTimeval(&now);
      age = now;
      SubTimeval(&age, &d->pointerMoveTime);
      uint64_t ms = uint64_t{age.seconds} * 1000 + age.microseconds / 1000;
      if (ms > timeoutMs) continue;  // too old to report
      st->state = DSTATE_MOUSEMOVE;
      msg->type = 8;
      msg->owner = d;
      msg->function = d->handlers[DISPH_ONMOUSEMOVE].function;
      msg->userData = d->handlers[DISPH_ONMOUSEMOVE].userData;
      setaction(msg, "OnMouseMove");
      return CallEventHandler(L, msg, 0);
    }
    // Network objects and message ports have nothing to report on this platform yet.
  }

  if (stage <= S_QUEUE_SAME) {
    ExpireEvents();
    LockEventQueue();
    if (stage != S_QUEUE_SAME) {
      if (scanlabels(L, msg)) return 0xFFFFFFFFu;
    }
    for (;;) {
      if (stage == S_QUEUE_SAME) {
        stage = S_QUEUE;  // the held event goes on to its own handlers
      } else {
        qmQueuedEvent ev{};
        if (!PeekEvent(0, &ev, 1)) break;
        RemoveEvents(0, 0);
        qmHeldEvent &h = st->held;
        h = qmHeldEvent{};
        h.owner = static_cast<qmDisplay *>(ev.owner);
        h.type = ev.type;
        h.payload = ev.payload;
        h.valid = 1;
        if (ev.type == EV_KEY) {
          h.down = ev.keyDown;
          h.keyCode = ev.keyCode;
          h.modifiers = ev.keyArg;
        } else if (ev.type == EV_LEFT || ev.type == EV_RIGHT || ev.type == EV_MIDDLE) {
          h.x = static_cast<int32_t>(ev.x);
          h.y = static_cast<int32_t>(ev.y);
          h.down = ev.buttons;
        } else {
          h.x = static_cast<int32_t>(ev.arg1);
          h.y = static_cast<int32_t>(ev.arg2);
        }
        if (h.type < EVENT_FIRST_FOREIGN_PAYLOAD && !h.owner) {  // its display is gone
          freepayload(&h);
          continue;
        }
        const char *action = nullptr;
        int slot = displaymouseslot(h, &action);
        if (slot >= 0 && h.owner->handlers[slot].function != -1) {
          st->state = DSTATE_DISPLAYMOUSE;
          msg->type = 3;
          msg->owner = h.owner;
          msg->function = h.owner->handlers[slot].function;
          msg->userData = h.owner->handlers[slot].userData;
          setaction(msg, action);
          UnlockEventQueue();
          return CallEventHandler(L, msg, 0);
        }
      }
      if (typedmessage(L, msg)) {
        st->state = DSTATE_QUEUED;
        UnlockEventQueue();
        uint32_t r = CallEventHandler(L, msg, 0);
        freepayload(&st->held);
        return r;
      }
      clearmsg(msg);
      freepayload(&st->held);
    }
    UnlockEventQueue();
  }

  // Hover labels, then the hover pass of every display (which also retires the move flags).
  if (!hoverSuppressed && LabelEvents.list && displayopen(CurrentDisplay)) {
    int32_t px, py;
    if (pointer(CurrentDisplay, &px, &py)) {
      for (qmLabelEvent *e = LabelEvents.list; e; e = e->next) {
        if (!e->enabled || e->kind != LABEL_HOVER || !inrect(e, px, py)) continue;
        char name[64];
        if (LabelEvents.overAll) {
          std::snprintf(name, sizeof name, "ONBUTTONOVERALL");
          LabelEvents.lastAllId = e->id;
        } else {
          std::snprintf(name, sizeof name, "ONBUTTONOVER%d", e->id);
        }
        LabelEvents.lastHover = e;
        if (labeljump(L, name)) {
          st->state = DSTATE_START;
          msg->type = 11;
          return 0xFFFFFFFFu;
        }
        break;
      }
    }
  }
  while (qmDisplay *d = nextdisplay(gHoverCursor)) {
    if (!d->pointerMoved) continue;
    d->pointerMoved = 0;
    if (gSources.buttonHover && gSources.buttonHover(L, d, msg)) {
      st->state = DSTATE_HOVER;
      if (msg->function == -1) continue;
      return CallEventHandler(L, msg, 0);
    }
  }
  st->state = DSTATE_START;
  clearmsg(msg);
  return 0;
}

uint32_t CallEventHandler(VmState *L, qmEventMessage *msg, int discard) {
  msg->savedTop = vm_gettop(L);
  msg->hasId = 0;
  vm_getref(L, msg->function);
  vm_newtable(L);
  auto setid = [&](const qmObjectId &id) {
    msg->id = id;
    msg->hasId = 1;
    SetFieldObjectId(L, "id", &id);
  };
  auto displayid = [&](const qmDisplay *d) {
    if (d) setid(qmObjectId{d->id, d->handle});
  };
  qmDisplay *d = msg->owner;
  switch (msg->type) {
    case 2:
      SetFieldString(L, "action", msg->action);
      SetFieldString(L, "key", msg->key);
      displayid(d);
      break;
    case 3:
      SetFieldString(L, "action", msg->action);
      displayid(d);
      break;
    case 4:
      SetFieldString(L, "action", msg->action);
      SetFieldInt(L, "width", d ? d->width : 0);
      SetFieldInt(L, "height", d ? d->height : 0);
      displayid(d);
      break;
    case 5:
      SetFieldString(L, "action", msg->action);
      SetFieldInt(L, "x", d ? d->x : 0);
      SetFieldInt(L, "y", d ? d->y : 0);
      displayid(d);
      break;
    case 6:
    case 7:
      SetFieldString(L, "action", msg->action);
      if (msg->objectId) setid(*msg->objectId);
      break;
    case 8: {
      SetFieldString(L, "action", msg->action);
      int32_t px = 0, py = 0;
      if (!pointer(CurrentDisplay, &px, &py)) px = py = 0;
      SetFieldInt(L, "x", px);
      SetFieldInt(L, "y", py);
      displayid(d);
      break;
    }
    case 9:
      if (std::strcmp(msg->action, "OnMusicEnd") != 0 && std::strcmp(msg->action, "OnVideoEnd") != 0) {
        SetFieldNumber(L, "time", msg->time);
        SetFieldNumber(L, "starts", msg->starts);
      }
      SetFieldString(L, "action", msg->action);
      if (msg->objectId) setid(*msg->objectId);
      break;
    case 12:
      SetFieldString(L, "action", msg->action);
      SetFieldInt(L, "mode", FullScreenActive ? 2 : 1);
      displayid(d);
      break;
    case 13: {
      SetFieldString(L, "action", msg->action);
      displayid(d);
      SetFieldInt(L, "x", msg->x);
      SetFieldInt(L, "y", msg->y);
      vm_pushstring(L, "dropfiles");
      vm_newtable(L);
      int n = 0;
      for (const char *p = msg->dropList; p && *p; p += std::strlen(p) + 1) {
        vm_pushstring(L, p);
        vm_rawseti(L, -2, n++);
      }
      vm_rawset(L, -3);
      SetFieldInt(L, "numdropfiles", n);
      break;
    }
    case 19:
      SetFieldString(L, "action", msg->action);
      displayid(d);
      SetFieldInt(L, "orientation", 0);
      break;
    case 20:
      SetFieldString(L, "action", msg->action);
      if (msg->objectId) setid(*msg->objectId);
      vm_pushstring(L, "samples");
      vm_pushlightuserdata(L, msg->samples);
      vm_rawset(L, -3);
      SetFieldNumber(L, "count", msg->count);
      break;
    case 21:
      if (msg->userEvent && msg->userEvent->owner) msg->userEvent->owner(L, msg->userEvent->number, msg->userPayload);
      SetFieldString(L, "action", msg->action);
      break;
    default:
      break;
  }
  if (msg->userData != -1) {
    vm_pushstring(L, "userdata");
    vm_getref(L, msg->userData);
    vm_rawset(L, -3);
  }
  if (!discard) {
    vm_pushvalue(L, -1);
    vm_insert(L, -3);  // a reference to the table stays below the function
  }
  VmErrorState &e = G(L)->err;
  e.callbackdepth++;
  uint32_t r = vm_pcall(L, 1, VM_MULTRET, 0);
  if (e.callbackdepth) e.callbackdepth--;
  if (G(L)->endrequested) return ERR_USERABORT;
  return r;
}

uint32_t WaitOrCheckEvent(VmState *L, int wait) {
  if (G(L)->err.callbackdepth != 0) return ERR_WRONGUSAGE;
  static qmEventMessage msg = {};
  msg.type = 0;
  msg.hasId = 0;
  auto dispatchcycle = [&]() -> uint32_t {
    uint32_t r = 0;
    bool first = true;
    while (first || (EventState->state != DSTATE_START && msg.type == 0)) {
      first = false;
      r = DispatchEvents(L, 0, wait, &msg);
      if (r) return r;
    }
    while (msg.type == 0) {
      r = DispatchEvents(L, 0, wait, &msg);
      if (r || EventState->state == DSTATE_START) break;
    }
    return r;
  };
  uint32_t r = dispatchcycle();
  if (r == 0xFFFFFFFFu) return VM_GOSUB_REQUEST;  // a label jump
  if (r) return r;
  if (msg.type == 0) {
    if (!wait) {
      vm_newtable(L);
      SetFieldString(L, "action", "");
      SetFieldInt(L, "id", 0);
      SetFieldInt(L, "nresults", 0);
      SetFieldInt(L, "triggered", 0);
      return 1;
    }
    while (msg.type == 0) {
      if (!VideoRecordingActive) WaitPlatformEvent();
      if (PumpPlatformEvents(L)) return 0;
      if (IsQuitRequested()) {
        vm_setendrequested(L, 1);
        return 0;
      }
      r = dispatchcycle();
      if (r == 0xFFFFFFFFu) return VM_GOSUB_REQUEST;
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
  PumpPlatformEventsIfDue(L);
}
