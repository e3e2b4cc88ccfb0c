#include "player/event/event_buttons.h"

#include <cstring>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "platform/memory.h"
#include "platform/window.h"
#include "display/displaywindow.h"
#include "runtime/eventdispatch.h"
#include "runtime/auxlib.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/eventqueue.h"
#include "runtime/objlist.h"
#include "runtime/registry.h"
#include "runtime/vm/vm_api.h"

const char *const ButtonEventNames[BTNH_COUNT] = {
    "onmouseover",      "onmouseout",     "onmousedown",    "onmouseup",
    "onrightmousedown", "onrightmouseup", "onmidmousedown", "onmidmouseup"};

namespace {

const char *const kButtonActions[BTNH_COUNT] = {"OnMouseOver",      "OnMouseOut",     "OnMouseDown",
                                                "OnMouseUp",        "OnRightMouseDown", "OnRightMouseUp",
                                                "OnMidMouseDown",   "OnMidMouseUp"};

qmBGPicButton *&head(const qmBGPic *pic) {
  return *reinterpret_cast<qmBGPicButton **>(const_cast<void **>(&pic->buttons));
}

void release(VmState *L, int32_t &ref) {
  if (ref != kNoHandler && L) vm_unref(L, VM_REGISTRYINDEX, ref);
  ref = kNoHandler;
}

bool anydown(const qmBGPicButton *b) { return b->leftDown || b->rightDown || b->midDown; }

void setmessage(qmEventMessage *msg, qmDisplay *d, qmBGPic *pic, qmBGPicButton *b, int handler) {
  msg->type = MSG_BUTTON;
  msg->owner = d;
  msg->bgpic = pic;
  msg->button = b;
  msg->function = b->handlers[handler];
  msg->userData = b->userData;
  SetMessageAction(msg, kButtonActions[handler]);
}

// One change of the hover pass: a flag set or cleared, the message set. False when every button
// already shows where the mouse is.
bool hoverstep(const qmScene *scene, qmDisplay *d, qmBGPic *pic, int32_t wx, int32_t wy, qmEventMessage *msg) {
  qmBGPicButton *held = nullptr, *hovered = nullptr;
  for (qmBGPicButton *b = head(pic); b; b = b->next) {
    if (!ButtonActive(scene, b)) continue;
    if (!held && anydown(b)) held = b;
    if (!hovered && HitTestButton(scene, b, d, wx, wy)) hovered = b;
  }
  for (qmBGPicButton *b = head(pic); b; b = b->next) {
    if (held && b != held) continue;  // a held button keeps the others as they are
    if (b == hovered) {
      if (b->over) continue;
      if (!held) {
        // The one the mouse left says so first.
        for (qmBGPicButton *o = head(pic); o; o = o->next) {
          if (o == b || !o->over) continue;
          o->over = 0;
          if (ButtonActive(scene, o) && o->handlers[BTNH_ONMOUSEOUT] != kNoHandler) {
            setmessage(msg, d, pic, o, BTNH_ONMOUSEOUT);
            return true;
          }
        }
      }
      b->over = 1;
      setmessage(msg, d, pic, b, BTNH_ONMOUSEOVER);
      return true;
    }
    if (b->over) {
      b->over = 0;
      setmessage(msg, d, pic, b, BTNH_ONMOUSEOUT);
      return true;
    }
  }
  return false;
}

// The buttons release their script references through the run's VM.
void freeallhook(qmScene *scene, qmBGPic *pic) { FreeBGPicButtons(ObjectRegistryOwner(scene->objects), pic); }
void removelayerhook(qmScene *scene, qmBGPic *pic, const void *layer) {
  RemoveLayerButton(ObjectRegistryOwner(scene->objects), pic, layer);
}

}  // namespace

const qmButtonHooks kButtonHooks = {freeallhook, ResetButtonStates, removelayerhook};

uint32_t GetButtonPicture(const qmScene *scene, qmBGPic **out) {
  qmDisplay *d = scene->current;
  *out = nullptr;
  if (!d) return ERR_BGPICBUTTON;
  if (d->outputType == DISPOUT_DISPLAY) *out = d->bgpic;
  else if (d->outputType == DISPOUT_BGPIC) *out = scene->picture;
  if (!*out) return ERR_BGPICBUTTON;
  return 0;
}

qmBGPicButton *FindButton(const qmBGPic *pic, const qmObjectId *id) {
  for (qmBGPicButton *b = head(pic); b; b = b->next)
    if (b->id.id == id->id && b->id.handle == id->handle) return b;
  return nullptr;
}

uint32_t AddButton(qmBGPic *pic, const qmBGPicButton &fields, qmBGPicButton **out) {
  auto *b = static_cast<qmBGPicButton *>(MemAlloc(sizeof(qmBGPicButton), 1));
  if (!b) return ERR_MEM;
  *b = fields;
  if (b->id.handle) b->id.handle = reinterpret_cast<uintptr_t>(b);
  b->enabled = 1;
  b->leftDown = b->rightDown = b->midDown = b->over = 0;
  b->next = head(pic);
  head(pic) = b;
  *out = b;
  return 0;
}

void DeleteButtonRecord(VmState *L, qmBGPic *pic, qmBGPicButton *button) {
  for (int32_t &ref : button->handlers) release(L, ref);
  release(L, button->userData);
  for (qmBGPicButton **p = &head(pic); *p; p = &(*p)->next) {
    if (*p == button) {
      *p = button->next;
      break;
    }
  }
  MemFree(button);
}

qmBGPicButton *FindLayerButton(const qmBGPic *pic, const void *layer) {
  for (qmBGPicButton *b = head(pic); b; b = b->next)
    if (b->kind == BUTTON_LAYER && b->layer == layer) return b;
  return nullptr;
}

void RemoveLayerButton(VmState *L, qmBGPic *pic, const void *layer) {
  if (qmBGPicButton *b = FindLayerButton(pic, layer)) DeleteButtonRecord(L, pic, b);
}

void FreeBGPicButtons(VmState *L, qmBGPic *pic) {
  while (qmBGPicButton *b = head(pic)) DeleteButtonRecord(L, pic, b);
}

void ResetButtonStates(qmBGPic *pic) {
  for (qmBGPicButton *b = head(pic); b; b = b->next) b->leftDown = b->rightDown = b->midDown = 0;
}

bool ButtonActive(const qmScene *scene, const qmBGPicButton *button) {
  if (!button->enabled) return false;
  if (button->kind != BUTTON_LAYER || button->activeWhenHidden) return true;
  const char *name;
  int32_t hidden;
  DescribePictureLayer(scene, nullptr, button->layer, &name, &hidden);
  return !hidden;
}

int32_t CountButtons(const qmBGPic *pic) {
  int32_t n = 0;
  for (qmBGPicButton *b = head(pic); b; b = b->next) n++;
  return n;
}

void WindowToPicture(const qmDisplay *d, int32_t wx, int32_t wy, int32_t *px, int32_t *py) {
  double sx = d && d->scaleX > 0 ? d->scaleX : 1.0, sy = d && d->scaleY > 0 ? d->scaleY : 1.0;
  int32_t ox = d ? d->marginLeft : 0, oy = d ? d->marginTop : 0;
  *px = static_cast<int32_t>((wx - ox) / sx);
  *py = static_cast<int32_t>((wy - oy) / sy);
}

int HitTestButton(const qmScene *scene, const qmBGPicButton *b, const qmDisplay *d, int32_t wx, int32_t wy) {
  int32_t x, y;
  WindowToPicture(d, wx, wy, &x, &y);
  if (b->kind == BUTTON_LAYER)
    return b->layer && HitPictureLayer(scene, b->layer, x, y, int32_t(b->pixelExact)) ? 1 : 0;
  if (b->kind != BUTTON_SIMPLE) return 0;
  return x >= b->x1 && x <= b->x2 && y >= b->y1 && y <= b->y2;
}

int DispatchButtonEvent(VmState *L, qmHeldEvent *h, qmEventMessage *msg) {
  const qmScene *scene = GetScene(L);
  qmDisplay *d = h->owner;
  qmBGPic *pic = d ? d->bgpic : nullptr;
  if (!pic) return 0;
  uint32_t qmBGPicButton::*flag;
  int downHandler;
  switch (h->type) {
    case EVENT_LEFTBUTTON: flag = &qmBGPicButton::leftDown; downHandler = BTNH_ONMOUSEDOWN; break;
    case EVENT_RIGHTBUTTON: flag = &qmBGPicButton::rightDown; downHandler = BTNH_ONRIGHTMOUSEDOWN; break;
    case EVENT_MIDDLEBUTTON: flag = &qmBGPicButton::midDown; downHandler = BTNH_ONMIDMOUSEDOWN; break;
    default: return 0;
  }
  for (qmBGPicButton *b = head(pic); b; b = b->next) {
    if (!ButtonActive(scene, b) || !HitTestButton(scene, b, d, h->x, h->y)) continue;
    if (h->down) {
      b->*flag = 1;
      setmessage(msg, d, pic, b, downHandler);
      return 1;
    }
    if (!(b->*flag)) continue;
    b->*flag = 0;
    setmessage(msg, d, pic, b, downHandler + 1);
    return 1;
  }
  // A release away from the button it was pressed on clicks nothing.
  if (!h->down)
    for (qmBGPicButton *b = head(pic); b; b = b->next)
      if (ButtonActive(scene, b)) b->*flag = 0;
  return 0;
}

int DispatchButtonHover(VmState *L, qmDisplay *d, qmEventMessage *msg) {
  const qmScene *scene = GetScene(L);
  qmBGPic *pic = d->bgpic;
  if (!pic || !head(pic) || !d->platform) return 0;
  int32_t wx, wy;
  GetPlatformPointer(d, &wx, &wy);
  // Each step changes one flag, so this ends; steps without a handler only change the flags.
  while (hoverstep(scene, d, pic, wx, wy, msg)) {
    if (msg->function != kNoHandler) return 1;
    ClearEventMessage(msg);
  }
  return 0;
}

void FillButtonMessage(VmState *L, qmEventMessage *msg) {
  const qmBGPicButton *b = msg->button;
  FillId(L, msg, b->id);
  FillAction(L, msg);
  SetFieldInt(L, "x", b->x1);
  SetFieldInt(L, "y", b->y1);
  SetFieldInt(L, "width", b->x2 - b->x1 + 1);
  SetFieldInt(L, "height", b->y2 - b->y1 + 1);
  SetFieldInt(L, "mousedown", static_cast<int32_t>(b->leftDown));
  SetFieldInt(L, "rightmousedown", static_cast<int32_t>(b->rightDown));
  SetFieldInt(L, "midmousedown", static_cast<int32_t>(b->midDown));
  if (const qmDisplay *d = msg->owner) {
    qmObjectId did{d->id, d->handle};
    SetFieldObjectId(L, "display", &did);
  }
  if (b->kind == BUTTON_LAYER) {
    const char *name;
    int32_t hidden;
    SetFieldInt(L, "layer",
                DescribePictureLayer(GetScene(L), msg->bgpic, b->layer, &name, &hidden));
    SetFieldString(L, "layername", name);
  }
}

