#include "player/event/event_sources.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "display/display.h"
#include "display/scene.h"
#include "platform/memory.h"
#include "platform/timers.h"
#include "platform/window.h"
#include "display/displaywindow.h"
#include "platform/time.h"
#include "player/event/event_buttons.h"
#include "player/event/event_wait.h"
#include "player/event/event_labels.h"
#include "runtime/eventtimers.h"
#include "player/event/event_user.h"
#include "runtime/auxlib.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/eventqueue.h"
#include "runtime/objdata.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

namespace {

// The scene of the run the dispatcher serves.
qmScene *sceneof(VmState *L) { return GetScene(L); }

qmDisplay *nextdisplay(const qmScene *scene, qmDisplayCursor &c) {
  qmDisplay *d = c.started ? c.next : scene->displays;
  c.started = true;
  c.next = d ? d->next : nullptr;
  return d;
}

bool displayopen(const qmEventState *st, const qmDisplay *d) {
  if (st->hooks.displayOpen) return st->hooks.displayOpen(d);
  return d && d->state == DISPSTATE_OPEN;
}

bool pointer(const qmEventState *st, const qmDisplay *d, int32_t *px, int32_t *py) {
  if (!d || !d->platform || !displayopen(st, d)) return false;
  int32_t wx, wy;
  GetPlatformPointer(d, &wx, &wy);
  WindowToPicture(d, wx, wy, px, py);
  return true;
}

bool inrect(const qmLabelEvent *e, int32_t x, int32_t y) { return x >= e->x1 && x <= e->x2 && y >= e->y1 && y <= e->y2; }

// Sets up the jump to a label when the script has one: the Gosub request of the command.
bool labeljump(VmState *L, const char *name) {
  int32_t index = GetLabelIndex(L, name);
  if (index < 0) return false;
  vm_setgosubtarget(L, index);
  return true;
}

// A queued input or window event that matches a label registration: the jump is set up, the
// events up to it are gone and the queue is unlocked.
bool scanlabels(VmState *L) {
  if (!LabelsOf(L)->list) return false;
  qmDisplay *current = sceneof(L)->current;
  uint32_t n = GetEventCount();
  for (uint32_t i = 0; i < n; i++) {
    qmQueuedEvent ev{};
    if (!PeekEvent(i, &ev, 0)) break;
    auto *owner = static_cast<qmDisplay *>(ev.owner);
    for (qmLabelEvent *e = LabelsOf(L)->list; e; e = e->next) {
      if (!e->enabled) continue;
      char name[64] = "";
      int32_t px, py;
      switch (e->kind) {
        case LABEL_CLICK:
        case LABEL_RIGHTCLICK: {
          uint32_t want = e->kind == LABEL_CLICK ? EVENT_LEFTBUTTON : EVENT_RIGHTBUTTON;
          if (ev.type != want || !ev.buttons) break;
          WindowToPicture(owner ? owner : current, static_cast<int32_t>(ev.x), static_cast<int32_t>(ev.y), &px, &py);
          if (!inrect(e, px, py)) break;
          bool all = e->kind == LABEL_CLICK ? LabelsOf(L)->clickAll : LabelsOf(L)->rightClickAll;
          if (all) {
            std::snprintf(name, sizeof name, e->kind == LABEL_CLICK ? "ONBUTTONCLICKALL" : "ONBUTTONRIGHTCLICKALL");
            LabelsOf(L)->lastAllId = e->id;
          } else {
            std::snprintf(name, sizeof name, e->kind == LABEL_CLICK ? "ONBUTTONCLICK%d" : "ONBUTTONRIGHTCLICK%d", e->id);
          }
          break;
        }
        case LABEL_KEYDOWN: {
          if (ev.type != EVENT_KEY || !ev.keyDown || !e->key) break;
          char key[32];
          KeyNameForLabel(ev.keyCode, key);
          if (Stricmp(key, e->key) != 0) break;
          if (LabelsOf(L)->keyDownAll) {
            std::snprintf(name, sizeof name, "ONKEYDOWNALL");
            LabelsOf(L)->lastAllId = e->id;
          } else {
            std::snprintf(name, sizeof name, "ONKEYDOWN%d", e->id);
          }
          LabelsOf(L)->lastKeyCode = ev.keyCode;
          break;
        }
        case LABEL_MOVEWINDOW: if (ev.type == EVENT_MOVED) std::snprintf(name, sizeof name, "MOVEWINDOW"); break;
        case LABEL_SIZEWINDOW: if (ev.type == EVENT_RESIZED) std::snprintf(name, sizeof name, "SIZEWINDOW"); break;
        case LABEL_INACTIVEWINDOW: if (ev.type == EVENT_DEACTIVATED) std::snprintf(name, sizeof name, "INACTIVEWINDOW"); break;
        case LABEL_ACTIVEWINDOW: if (ev.type == EVENT_ACTIVATED) std::snprintf(name, sizeof name, "ACTIVEWINDOW"); break;
        case LABEL_CLOSEWINDOW: if (ev.type == EVENT_CLOSE) std::snprintf(name, sizeof name, "CLOSEWINDOW"); break;
        default: break;
      }
      if (name[0] && labeljump(L, name)) {
        RemoveEvents(i, 0);
        UnlockEventQueue();
        return true;
      }
    }
  }
  return false;
}

// The display-level handler of a mouse event: slot index, or -1.
int displaymouseslot(const qmHeldEvent &h, const char **action) {
  switch (h.type) {
    case EVENT_LEFTBUTTON: *action = h.down ? "OnMouseDown" : "OnMouseUp"; return h.down ? DISPH_ONMOUSEDOWN : DISPH_ONMOUSEUP;
    case EVENT_RIGHTBUTTON:
      *action = h.down ? "OnRightMouseDown" : "OnRightMouseUp";
      return h.down ? DISPH_ONRIGHTMOUSEDOWN : DISPH_ONRIGHTMOUSEUP;
    case EVENT_MIDDLEBUTTON:
      *action = h.down ? "OnMidMouseDown" : "OnMidMouseUp";
      return h.down ? DISPH_ONMIDMOUSEDOWN : DISPH_ONMIDMOUSEUP;
    case EVENT_WHEELUP: *action = "OnWheelUp"; return DISPH_ONWHEELUP;
    case EVENT_WHEELDOWN: *action = "OnWheelDown"; return DISPH_ONWHEELDOWN;
    default: return -1;
  }
}

struct TypeRow {
  uint32_t event;
  int slot;
  const char *action;
  uint32_t msgtype;  // qmMessageType
};
const TypeRow kTypeRows[] = {
    {EVENT_MOVED, DISPH_MOVEWINDOW, "MoveWindow", MSG_MOVEWINDOW},
    {EVENT_RESIZED, DISPH_SIZEWINDOW, "SizeWindow", MSG_SIZEWINDOW},
    {EVENT_DEACTIVATED, DISPH_INACTIVEWINDOW, "InactiveWindow", MSG_DISPLAY},
    {EVENT_CLOSE, DISPH_CLOSEWINDOW, "CloseWindow", MSG_DISPLAY},
    {EVENT_ACTIVATED, DISPH_ACTIVEWINDOW, "ActiveWindow", MSG_DISPLAY},
    {EVENT_MINIMISED, DISPH_HIDEWINDOW, "HideWindow", MSG_DISPLAY},
    {EVENT_RESTORED, DISPH_SHOWWINDOW, "ShowWindow", MSG_DISPLAY},
    {EVENT_MODETOGGLE, DISPH_MODESWITCH, "ModeSwitch", MSG_MODESWITCH},
    {EVENT_FILESDROPPED, DISPH_ONDROPFILE, "OnDropFile", MSG_DROPFILE},
    {EVENT_CLIPBOARD, DISPH_CLIPBOARDCHANGE, "ClipboardChange", MSG_DISPLAY},
    {EVENT_ORIENTATION, DISPH_ORIENTATIONCHANGE, "OrientationChange", MSG_ORIENTATION},
    {EVENT_SHOWKEYBOARD, DISPH_SHOWKEYBOARD, "ShowKeyboard", MSG_DISPLAY},
    {EVENT_HIDEKEYBOARD, DISPH_HIDEKEYBOARD, "HideKeyboard", MSG_DISPLAY},
    {EVENT_HOTKEY, DISPH_HOTKEY, "Hotkey", MSG_DISPLAY},
    {EVENT_TRAYICON, DISPH_TRAYICON, "TrayIcon", MSG_DISPLAY},
};



// Intervals and timeouts, in the platform's firing order.

void starttimers(VmState *, qmEventState *st) {
  st->timerCursor = nullptr;
  st->timersDone = 0;
}

int polltimers(VmState *L, qmEventState *st, qmEventMessage *msg) {
  while (!st->timersDone) {
    uint32_t kind;
    qmObjectId owner{};
    qmPlatformTimer *next = NextFiredTimer(st->timerCursor, &kind, &owner);
    st->timerCursor = next;
    if (!next) st->timersDone = 1;
    if (kind == TIMER_INTERVAL) {
      qmInterval *rec = nullptr;
      if (FindInterval(L, &owner, &rec) != 0 || rec->function == -1) continue;
      msg->type = MSG_INTERVAL;
      msg->id = owner;
      msg->objectId = &msg->id;
      msg->function = rec->function;
      msg->userData = rec->userData;
      SetMessageAction(msg, "Interval");
      return EVPOLL_CALL;
    }
    if (kind == TIMER_ONESHOT) {
      qmTimeout *rec = nullptr;
      if (FindTimeout(L, &owner, &rec) != 0) continue;
      // Unlinked before its handler runs: its id is no longer valid inside the handler. The
      // message keeps the references until the handler returned.
      RemoveObject(L, &rec->header);
      msg->type = MSG_TIMEOUT;
      msg->id = qmObjectId{rec->header.id, rec->header.handle};
      msg->objectId = &msg->id;
      msg->function = rec->function;
      msg->userData = rec->userData;
      FreeObjectDataList(L, static_cast<qmObjectData *>(rec->header.userData));
      MemFree(rec);
      SetMessageAction(msg, "Timeout");
      return EVPOLL_CALL;
    }
  }
  return EVPOLL_NONE;
}

void filltimer(VmState *L, qmEventMessage *msg) {
  FillAction(L, msg);
  if (msg->objectId) FillId(L, msg, *msg->objectId);
}

void timerdone(VmState *L, qmEventState *, qmEventMessage *msg) {
  if (msg->type != MSG_TIMEOUT) return;
  if (msg->function != -1) vm_unref(L, VM_REGISTRYINDEX, msg->function);
  if (msg->userData != -1) vm_unref(L, VM_REGISTRYINDEX, msg->userData);
}

// OnMouseMove of every display whose pointer moved lately.

void startmoves(VmState *, qmEventState *st) { st->moveCursor = {}; }

int pollmoves(VmState *L, qmEventState *st, qmEventMessage *msg) {
  uint32_t timeoutMs = GetEventTimeout();
  while (qmDisplay *d = nextdisplay(sceneof(L), st->moveCursor)) {
    if (d->handlers[DISPH_ONMOUSEMOVE].function == -1 || !d->pointerMoved) continue;
    qmTimeval now, age;
    GetTimeval(&now);
    age = now;
    SubTimeval(&age, &d->pointerMoveTime);
    uint64_t ms = uint64_t{age.seconds} * 1000 + age.microseconds / 1000;
    if (ms > timeoutMs) continue;  // too old to report
    msg->type = MSG_MOUSEMOVE;
    msg->owner = d;
    msg->function = d->handlers[DISPH_ONMOUSEMOVE].function;
    msg->userData = d->handlers[DISPH_ONMOUSEMOVE].userData;
    SetMessageAction(msg, "OnMouseMove");
    return EVPOLL_CALL;
  }
  return EVPOLL_NONE;
}

void fillmove(VmState *L, qmEventMessage *msg) {
  FillAction(L, msg);
  int32_t px = 0, py = 0;
  if (!pointer(GetEventState(L), sceneof(L)->current, &px, &py)) px = py = 0;
  SetFieldInt(L, "x", px);
  SetFieldInt(L, "y", py);
  FillDisplayId(L, msg);
}

// The event queue: label jumps first, then one event at a time to the display's mouse handler
// and then to its own handler (or a user event's).

void freeheld(qmEventState *st) {
  qmHeldEvent *h = &st->held;
  if (h->valid && h->type < EVENT_FIRST_FOREIGN_PAYLOAD) MemFree(h->payload);
  h->payload = nullptr;
  h->valid = 0;
  st->heldPending = 0;
}

// The held event's own handler: fills the message and returns true when something is to be
// called.
bool typedmessage(VmState *L, qmEventState *st, qmEventMessage *msg) {
  qmHeldEvent &h = st->held;
  qmDisplay *d = h.owner;
  msg->owner = d;
  msg->payload = &h;
  if (h.type >= kFirstUserEvent) {
    qmUserEvent *u = FindUserEvent(st, h.type);
    if (!u || u->function == -1) return false;
    msg->type = MSG_USEREVENT;
    msg->function = u->function;
    msg->userData = u->userData;
    SetMessageAction(msg, u->name);
    return true;
  }
  if (!d) return false;
  if (h.type == EVENT_LEFTBUTTON || h.type == EVENT_RIGHTBUTTON || h.type == EVENT_MIDDLEBUTTON) {
    return st->hooks.buttonEvent && st->hooks.buttonEvent(L, &h, msg) && msg->function != -1;
  }
  if (h.type == EVENT_KEY) {
    int slot = h.down ? DISPH_ONKEYDOWN : DISPH_ONKEYUP;
    if (d->handlers[slot].function == -1) return false;
    msg->type = MSG_KEY;
    msg->function = d->handlers[slot].function;
    msg->userData = d->handlers[slot].userData;
    SetMessageAction(msg, h.down ? "OnKeyDown" : "OnKeyUp");
    return true;
  }
  for (const TypeRow &row : kTypeRows) {
    if (row.event != h.type) continue;
    if (d->handlers[row.slot].function == -1) return false;
    msg->type = row.msgtype;
    msg->function = d->handlers[row.slot].function;
    msg->userData = d->handlers[row.slot].userData;
    SetMessageAction(msg, row.action);
    return true;
  }
  return false;
}

// Takes the first queued event into st->held; false when the queue is empty.
bool takeevent(qmEventState *st) {
  qmQueuedEvent ev{};
  if (!PeekEvent(0, &ev, 1)) return false;
  RemoveEvents(0, 0);
  qmHeldEvent &h = st->held;
  h = qmHeldEvent{};
  h.owner = static_cast<qmDisplay *>(ev.owner);
  h.type = ev.type;
  h.payload = ev.payload;
  h.valid = 1;
  if (ev.type == EVENT_KEY) {
    h.down = ev.keyDown;
    h.keyCode = ev.keyCode;
    h.modifiers = ev.keyArg;
  } else if (ev.type == EVENT_LEFTBUTTON || ev.type == EVENT_RIGHTBUTTON || ev.type == EVENT_MIDDLEBUTTON) {
    h.x = static_cast<int32_t>(ev.x);
    h.y = static_cast<int32_t>(ev.y);
    h.down = ev.buttons;
  } else {
    h.x = static_cast<int32_t>(ev.arg1);
    h.y = static_cast<int32_t>(ev.arg2);
  }
  return true;
}

void startqueue(VmState *, qmEventState *st) { freeheld(st); }

int pollqueue(VmState *L, qmEventState *st, qmEventMessage *msg) {
  ExpireEvents();
  LockEventQueue();
  // A held event that went to its display's mouse handler goes on to its own handlers first.
  bool same = st->heldPending;
  st->heldPending = 0;
  if (!same && scanlabels(L)) return EVPOLL_JUMP;
  for (;;) {
    if (same) {
      same = false;
    } else {
      if (!takeevent(st)) break;
      qmHeldEvent &h = st->held;
      if (h.type < EVENT_FIRST_FOREIGN_PAYLOAD && !h.owner) {  // its display is gone
        freeheld(st);
        continue;
      }
      const char *action = nullptr;
      int slot = displaymouseslot(h, &action);
      if (slot >= 0 && h.owner->handlers[slot].function != -1) {
        st->heldPending = 1;
        msg->type = MSG_DISPLAY;
        msg->owner = h.owner;
        msg->function = h.owner->handlers[slot].function;
        msg->userData = h.owner->handlers[slot].userData;
        SetMessageAction(msg, action);
        UnlockEventQueue();
        return EVPOLL_CALL;
      }
    }
    if (typedmessage(L, st, msg)) {
      UnlockEventQueue();
      return EVPOLL_CALL;
    }
    ClearEventMessage(msg);
    freeheld(st);
  }
  UnlockEventQueue();
  return EVPOLL_NONE;
}

// The fields of the display messages, of the queue and of the button hover pass alike.
void filldisplay(VmState *L, qmEventMessage *msg) {
  qmDisplay *d = msg->owner;
  const auto *h = static_cast<const qmHeldEvent *>(msg->payload);
  switch (msg->type) {
    case MSG_KEY: {
      char key[32];
      KeyTextForMessage(h->keyCode, key);
      FillAction(L, msg);
      SetFieldString(L, "key", key);
      FillDisplayId(L, msg);
      break;
    }
    case MSG_DISPLAY:
      FillAction(L, msg);
      FillDisplayId(L, msg);
      break;
    case MSG_SIZEWINDOW:
      FillAction(L, msg);
      SetFieldInt(L, "width", d ? d->width : 0);
      SetFieldInt(L, "height", d ? d->height : 0);
      FillDisplayId(L, msg);
      break;
    case MSG_MOVEWINDOW:
      FillAction(L, msg);
      SetFieldInt(L, "x", d ? d->x : 0);
      SetFieldInt(L, "y", d ? d->y : 0);
      FillDisplayId(L, msg);
      break;
    case MSG_MODESWITCH:
      FillAction(L, msg);
      SetFieldInt(L, "mode", sceneof(L)->fullScreen ? 2 : 1);
      FillDisplayId(L, msg);
      break;
    case MSG_DROPFILE: {
      FillAction(L, msg);
      FillDisplayId(L, msg);
      SetFieldInt(L, "x", h->x);
      SetFieldInt(L, "y", h->y);
      vm_pushstring(L, "dropfiles");
      vm_newtable(L);
      int n = 0;
      // The paths one after another, each ended by a zero byte; an empty one ends the list.
      for (const char *p = static_cast<const char *>(h->payload); p && *p; p += std::strlen(p) + 1) {
        vm_pushstring(L, p);
        vm_rawseti(L, -2, n++);
      }
      vm_rawset(L, -3);
      SetFieldInt(L, "numdropfiles", n);
      break;
    }
    case MSG_ORIENTATION:
      FillAction(L, msg);
      FillDisplayId(L, msg);
      SetFieldInt(L, "orientation", 0);
      break;
    case MSG_BUTTON:
      FillButtonMessage(L, msg);
      break;
    case MSG_USEREVENT: {
      qmUserEvent *u = FindUserEvent(GetEventState(L), h->type);
      if (u && u->owner) u->owner(L, u->number, h->payload);
      FillAction(L, msg);
      break;
    }
    default:
      break;
  }
}

void queuedone(VmState *, qmEventState *st, qmEventMessage *) {
  if (!st->heldPending) freeheld(st);
}

// Hover labels, then the hover pass of every display (which also retires the move flags).

void starthover(VmState *, qmEventState *st) { st->hoverCursor = {}; }

bool displaylisted(const qmScene *scene, const qmDisplay *d) {
  for (const qmDisplay *o = scene->displays; o; o = o->next)
    if (o == d) return true;
  return false;
}

bool hoverpass(VmState *L, qmEventState *st, qmDisplay *d, qmEventMessage *msg) {
  if (!st->hooks.buttonHover || !displayopen(st, d)) return false;
  if (!st->hooks.buttonHover(L, d, msg) || msg->function == -1) return false;
  st->hoverDisplay = d;
  return true;
}

int pollhover(VmState *L, qmEventState *st, qmEventMessage *msg) {
  const qmScene *scene = sceneof(L);
  if (!st->hoverSuppressed && LabelsOf(L)->list && displayopen(st, scene->current)) {
    int32_t px, py;
    if (pointer(st, scene->current, &px, &py)) {
      for (qmLabelEvent *e = LabelsOf(L)->list; e; e = e->next) {
        if (!e->enabled || e->kind != LABEL_HOVER || !inrect(e, px, py)) continue;
        char name[64];
        if (LabelsOf(L)->overAll) {
          std::snprintf(name, sizeof name, "ONBUTTONOVERALL");
          LabelsOf(L)->lastAllId = e->id;
        } else {
          std::snprintf(name, sizeof name, "ONBUTTONOVER%d", e->id);
        }
        LabelsOf(L)->lastHover = e;
        if (labeljump(L, name)) return EVPOLL_JUMP;
        break;
      }
    }
  }
  // The display whose pass reported last may have more to report (one change per step).
  if (qmDisplay *d = st->hoverDisplay) {
    st->hoverDisplay = nullptr;
    if (displaylisted(scene, d) && hoverpass(L, st, d, msg)) return EVPOLL_CALL;
  }
  while (qmDisplay *d = nextdisplay(scene, st->hoverCursor)) {
    if (!d->pointerMoved) continue;
    d->pointerMoved = 0;
    if (hoverpass(L, st, d, msg)) return EVPOLL_CALL;
  }
  return EVPOLL_NONE;
}

const qmEventSource kTimerSource = {"timers", EVRANK_TIMERS, starttimers, polltimers, filltimer, timerdone};
const qmEventSource kMouseMoveSource = {"mousemove", EVRANK_MOUSEMOVE, startmoves, pollmoves, fillmove, nullptr};
const qmEventSource kQueueSource = {"queue", EVRANK_QUEUE, startqueue, pollqueue, filldisplay, queuedone};
const qmEventSource kHoverSource = {"hover", EVRANK_HOVER, starthover, pollhover, filldisplay, nullptr};

}  // namespace

uint32_t RegisterEventLibrarySources(VmState *L) {
  qmEventState *st = GetEventState(L);
  if (st) {
    st->hooks.buttonEvent = DispatchButtonEvent;
    st->hooks.buttonHover = DispatchButtonHover;
  }
  for (const qmEventSource *src : {&kTimerSource, &kMouseMoveSource, &kQueueSource, &kHoverSource})
    if (uint32_t err = RegisterEventSource(L, src)) return err;
  return 0;
}
