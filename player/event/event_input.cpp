#include "player/event/event_input.h"

#include <cstring>

#include "display/display.h"
#include "display/scene.h"
#include "platform/eventpump.h"
#include "player/event/event_pump.h"
#include "platform/process.h"
#include "platform/window.h"
#include "display/displaywindow.h"
#include "player/event/event_buttons.h"
#include "runtime/eventdispatch.h"
#include "player/event/event_labels.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/eventqueue.h"
#include "runtime/vm/vm_api.h"

namespace {

constexpr uint32_t kModifierBit = 0x80000000u;
constexpr uint32_t kLeftModifiers = 0x00550000u;   // LSHIFT, LALT, LCOMMAND, LCONTROL
constexpr uint32_t kRightModifiers = 0x00AA0000u;  // their right-hand twins, one bit higher

bool displayopen(const qmDisplay *d) { return d && d->state != DISPSTATE_CLOSED && d->platform; }

uint32_t *buttonstate(qmDisplay *d, uint32_t input) {
  switch (input) {
    case WAITON_LEFT: return &d->leftButton;
    case WAITON_RIGHT: return &d->rightButton;
    case WAITON_MIDDLE: return &d->middleButton;
    default: return nullptr;
  }
}

int inputdown(qmDisplay *d, uint32_t input, uint32_t keyCode) {
  if (const uint32_t *b = buttonstate(d, input)) return *b != 0;
  return KeyIsDown(d, keyCode, 0);
}

uint32_t closeevents() {
  uint32_t n = 0;
  qmQueuedEvent ev{};
  LockEventQueue();
  for (uint32_t i = 0; PeekEvent(i, &ev, 0); i++) n += ev.type == EVENT_CLOSE;
  UnlockEventQueue();
  return n;
}

// One step of a wait: block until the platform has an event, pump once. 0 to go on, else why
// the wait ends (WAITEND_*).
int waitstep(VmState *L, uint32_t closesBefore) {
  const qmScene *scene = GetScene(L);
  if (!displayopen(scene->current)) return WAITEND_QUIT;
  WaitPlatformEvent();
  if (PumpEvents(L)) return WAITEND_QUIT;
  if (IsQuitRequested()) {  // SIGINT or SIGTERM
    vm_setendrequested(L, 1);
    return WAITEND_QUIT;
  }
  if (closeevents() > closesBefore) return WAITEND_CLOSE;  // the script's close handler must get to run
  return displayopen(scene->current) ? 0 : WAITEND_QUIT;
}

}  // namespace

uint32_t ParseKeyArgument(const char *text, int lastRow, uint32_t *code) {
  size_t n = std::strlen(text);
  if (n > 1) {
    int row = FindKeyRow(text, KEYROW_FIRSTKEY, lastRow);
    if (row < 0) return ERR_WRONGUSAGE;
    *code = KeyTable[row].value;
    return 0;
  }
  // A byte of 128 and above counts as negative and is refused with the control characters.
  auto c = static_cast<signed char>(n ? text[0] : 0);
  if (c < '!' || c > '~') return ERR_WRONGUSAGE;
  *code = static_cast<uint32_t>(c);
  return 0;
}

int KeyIsDown(const qmDisplay *d, uint32_t code, uint32_t qualifiers) {
  if (code & kModifierBit) {
    // The platform reports a modifier without its side: either key counts for both names.
    uint32_t side = code & (kLeftModifiers | kRightModifiers);
    uint32_t want = kModifierBit | (side & kLeftModifiers) | ((side & kRightModifiers) >> 1);
    return (qualifiers & want) == want;
  }
  if (!d || code >= static_cast<uint32_t>(kKeyStateCount)) return 0;
  return d->keyStates[code] != 0;
}

void MousePosition(const qmDisplay *d, int32_t *x, int32_t *y) {
  *x = *y = 0;
  if (!d || d->state != DISPSTATE_OPEN || !d->platform) return;
  int32_t wx, wy;
  GetPlatformPointer(d, &wx, &wy);
  WindowToPicture(d, wx, wy, x, y);
}

int WaitWhileInput(VmState *L, uint32_t input, uint32_t keyCode, int down) {
  uint32_t closes = closeevents();
  const qmScene *scene = GetScene(L);
  for (;;) {
    qmDisplay *d = scene->current;
    if (!displayopen(d)) return WAITEND_QUIT;
    if (inputdown(d, input, keyCode) != down) return 0;
    if (int end = waitstep(L, closes)) return end;
  }
}

void WaitForClick(VmState *L, uint32_t input) {
  int end = WaitWhileInput(L, input, 0, 0);
  if (!end) end = WaitWhileInput(L, input, 0, 1);
  if (end != WAITEND_CLOSE) RemoveEvents(kRemoveAllEvents, 1);
}

void WaitForKeyPress(VmState *L, uint32_t keyCode) {
  int end = WaitWhileInput(L, WAITON_KEY, keyCode, 1);
  if (!end) end = WaitWhileInput(L, WAITON_KEY, keyCode, 0);
  if (!end) end = WaitWhileInput(L, WAITON_KEY, keyCode, 1);
  if (end != WAITEND_CLOSE) RemoveEvents(kRemoveAllEvents, 1);
}

uint32_t WhileMouseOn(VmState *L) {
  qmEventMessage msg{};
  uint32_t closes = closeevents();
  const qmScene *scene = GetScene(L);
  for (;;) {
    const qmLabelEvent *e = LabelsOf(L)->lastHover;
    if (!e) return 0;
    int32_t x, y;
    if (!displayopen(scene->current)) return 0;
    MousePosition(scene->current, &x, &y);
    if (x < e->x1 || x > e->x2 || y < e->y1 || y > e->y2) return 0;
    int top = vm_gettop(L);
    uint32_t r = DispatchEvents(L, 1, &msg);
    vm_settop(L, top);
    if (r == kLabelJump) return VM_GOSUB_REQUEST;
    if (r) return r;
    if (msg.type == MSG_NONE && waitstep(L, closes)) return 0;
  }
}
