#include "player/event/event_pump.h"

#include <cstring>

#include "display/display.h"
#include "display/displayops.h"
#include "display/displaywindow.h"
#include "display/scene.h"
#include "platform/desktop.h"
#include "platform/eventpump.h"
#include "platform/keycodes.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/eventqueue.h"
#include "runtime/vm/vm_api.h"

namespace {

// One pass: whom the reports concern, and what they leave for its end.
struct qmPumpPass {
  VmState *L;
  qmScene *scene;
  qmDisplay *resized;      // a user's resize to carry out
  qmDisplay *modeToggled;  // the display whose Alt+Return switches the screen mode
  uint32_t mode;           // 0 windowed, 1 full screen
  uint32_t toggleEntry;    // the queue entry of the toggle's event
};

void Post(qmDisplay *d, uint32_t type, uint32_t a1 = 0, uint32_t a2 = 0, uint32_t a3 = 0) {
  PostEvent(d, type, a1, a2, a3, nullptr);
}

void SetKeyState(qmDisplay *d, int32_t code, bool down) {
  if (code >= 0 && code < kKeyStateCount) d->keyStates[code] = down ? 1 : 0;
}

void OnButton(qmDisplay *d, const qmPlatformReport &r) {
  const bool press = r.down != 0;
  if (press && d->private1) return;  // the backdrop display swallows clicks
  uint32_t type;
  uint32_t *state;
  switch (r.code) {
  case 1: type = EVENT_LEFTBUTTON; state = &d->leftButton; break;
  case 2: type = EVENT_RIGHTBUTTON; state = &d->rightButton; break;
  case 3: type = EVENT_MIDDLEBUTTON; state = &d->middleButton; break;
  default: return;
  }
  // A press in a drag or size region of a borderless window moves or sizes it (the window
  // system does that through the hit test) and is no click.
  if (press && type == EVENT_LEFTBUTTON && DisplayRegionHit(d, r.x, r.y) != 0) return;
  *state = press ? 1 : 0;
  Post(d, type, uint32_t(r.x), uint32_t(r.y), press ? 1 : 0);
}

void OnKey(qmPumpPass *pass, qmDisplay *d, const qmPlatformReport &r) {
  const bool pressed = r.down != 0;
  if (r.modifiers & REPORTMOD_CONTROL) {
    // Nothing is posted under Control, but a release still counts: a key pressed before
    // Control went down must not stay down.
    if (!pressed) SetKeyState(d, r.code, false);
    return;
  }
  // Alt+Return (or the logo key + Return) toggles the screen mode on release.
  if (!pressed && r.code == KEY_RETURN && (r.modifiers & REPORTMOD_ALT) && pass->scene && IsSoleDisplay(pass->scene, d) &&
      !(d->flags & DISPF_NOMODESWITCH) && !d->requesterOpen) {
    pass->modeToggled = d;
    pass->mode = pass->scene && pass->scene->fullScreen ? 0 : 1;
    pass->toggleEntry = GetEventCount();
    Post(d, EVENT_MODETOGGLE);
  }
  if (r.code == KEY_NONE) return;
  SetKeyState(d, r.code, pressed);
  Post(d, EVENT_KEY, pressed ? 1 : 0, 0, uint32_t(r.code));
}

// Files dropped on a display reach its drop handler; a display without one ignores them.
void OnDrop(qmDisplay *d, const qmPlatformReport &r) {
  if (d && d->handlers[DISPH_ONDROPFILE].function != kNoHandler &&
      PostEvent(d, EVENT_FILESDROPPED, uint32_t(r.x), uint32_t(r.y), 0, r.payload))
    return;
  MemFree(r.payload);
}

// The window events of a display: 1 when a close box nobody handles ends the script.
int OnWindow(qmPumpPass *pass, qmDisplay *d, const qmPlatformReport &r) {
  switch (r.kind) {
  case REPORT_MOVED: {
    int32_t x = r.x - d->frameLeft, y = r.y - d->frameTop;
    if (x == d->x && y == d->y) return 0;  // where the program put it
    d->x = x;
    d->y = y;
    Post(d, EVENT_MOVED);
    return 0;
  }
  case REPORT_RESIZED:
    if (r.x == d->width && r.y == d->height) return 0;
    d->width = r.x;
    d->height = r.y;
    pass->resized = d;
    Post(d, EVENT_RESIZED);
    return 0;
  case REPORT_MINIMIZED:
    d->state = DISPSTATE_MINIMIZED;
    Post(d, EVENT_MINIMISED);
    return 0;
  case REPORT_RESTORED:
    if (d->state != DISPSTATE_MINIMIZED) return 0;
    d->state = DISPSTATE_OPEN;
    Post(d, EVENT_RESTORED);
    return 0;
  case REPORT_CLOSE:
    Post(d, EVENT_CLOSE);
    return d->closeHandled ? 0 : 1;
  case REPORT_FOCUS:
    d->active = 1;
    Post(d, EVENT_ACTIVATED);
    return 0;
  case REPORT_UNFOCUS:
    // Keys held while the focus goes would otherwise stay down: no release will come.
    d->active = 0;
    std::memset(d->keyStates, 0, sizeof d->keyStates);
    Post(d, EVENT_DEACTIVATED);
    return 0;
  case REPORT_REDRAW:
    RefreshDisplay(pass->scene, d, 2);
    return 0;
  default: return 0;
  }
}

int OnReport(void *data, const qmPlatformReport *r) {
  auto *pass = static_cast<qmPumpPass *>(data);
  qmScene *scene = pass->scene;
  switch (r->kind) {
  case REPORT_ENDRUN:
    if (pass->L) vm_setendrequested(pass->L, 1);
    return 0;
  case REPORT_QUIT: {
    // The desktop (or a signal) asks the program to end: every window's close box at once.
    int quit = 0;
    for (qmDisplay *d = scene ? scene->displays : nullptr; d; d = d->next) {
      if (!d->platform) continue;
      Post(d, EVENT_CLOSE);
      if (!d->closeHandled) quit = 1;
    }
    return quit;
  }
  case REPORT_CLIPBOARD:
    TellClipboardWatchers(scene);
    return 0;
  case REPORT_DROP:
    OnDrop(static_cast<qmDisplay *>(r->owner), *r);
    return 0;
  default: break;
  }
  auto *d = static_cast<qmDisplay *>(r->owner);
  if (!d) return 0;
  switch (r->kind) {
  case REPORT_BUTTON: OnButton(d, *r); return 0;
  case REPORT_WHEEL: Post(d, r->code > 0 ? EVENT_WHEELUP : EVENT_WHEELDOWN); return 0;
  case REPORT_KEY: OnKey(pass, d, *r); return 0;
  case REPORT_TYPED:
    Post(d, EVENT_KEY, 1, 0, uint32_t(r->code));
    Post(d, EVENT_KEY, 0, 0, uint32_t(r->code));
    return 0;
  case REPORT_MOTION:
    d->pointerMoved = 1;
    d->pointerMoveTime = {uint32_t(r->micros / 1000000u), uint32_t(r->micros % 1000000u)};
    return 0;
  default: return OnWindow(pass, d, *r);
  }
}

void FlushUpdates(void *data) {
  auto *pass = static_cast<qmPumpPass *>(data);
  if (pass->scene) FlushDisplayUpdates(pass->scene);
}

// After the pass's event: the screen-mode toggle and the user's resize, the left-button quit,
// and the sound library's deliveries (its channel upkeep once a second).
int EndPass(void *data, int secondDue) {
  auto *pass = static_cast<qmPumpPass *>(data);
  int quit = 0;
  const bool leftQuits = PlatformQuitSwitch(PLATATTR_LEFTMOUSEQUIT) != 0;
  for (qmDisplay *d = pass->scene ? pass->scene->displays : nullptr, *next; d; d = next) {
    next = d->next;
    if (!d->platform) continue;
    if (d->leftButton && leftQuits) quit = 1;
    if (d == pass->modeToggled) {
      ApplyScreenMode(pass->scene, pass->mode, d->width, d->height);
      // The switch fades out and in for longer than the event time-out: the toggle's event and
      // the key after it would be dropped as stale before the script saw them.
      RestampEventsFrom(pass->toggleEntry);
    }
    if (d == pass->resized) ResizeDisplay(pass->scene, d, kKeepPosition, kKeepPosition, d->width, d->height, 0, d->scaleMode);
  }
  pass->modeToggled = pass->resized = nullptr;
  qmPlayerContext *ctx = pass->L ? GetPlayerContext(pass->L) : nullptr;
  if (ctx && ctx->sound) {
    if (ctx->deliverAudioEvents) ctx->deliverAudioEvents(ctx);
    if (secondDue && ctx->updateAudioChannels) ctx->updateAudioChannels(ctx);
  }
  return quit;
}

qmPumpClient ClientOf(qmPumpPass *pass) { return {pass, FlushUpdates, OnReport, EndPass}; }

}  // namespace

int PumpSceneEvents(VmState *L, qmScene *scene) {
  qmPumpPass pass{L, scene, nullptr, nullptr, 0, 0};
  const qmPumpClient client = ClientOf(&pass);
  return PumpPlatformEvents(&client);
}

int PumpSceneEventsIfDue(VmState *L, qmScene *scene) {
  qmPumpPass pass{L, scene, nullptr, nullptr, 0, 0};
  const qmPumpClient client = ClientOf(&pass);
  return PumpPlatformEventsIfDue(&client);
}

uint32_t WaitSceneEvents(VmState *L, qmScene *scene, uint32_t ms) {
  qmPumpPass pass{L, scene, nullptr, nullptr, 0, 0};
  const qmPumpClient client = ClientOf(&pass);
  return WaitWithEventTimer(&client, ms);
}

int PumpEvents(VmState *L) { return PumpSceneEvents(L, GetScene(L)); }
int PumpEventsIfDue(VmState *L) { return PumpSceneEventsIfDue(L, GetScene(L)); }
uint32_t WaitEvents(VmState *L, uint32_t ms) { return WaitSceneEvents(L, GetScene(L), ms); }

void TellClipboardWatchers(qmScene *scene) {
  for (qmDisplay *d = scene ? scene->displays : nullptr; d; d = d->next)
    if (d->handlers[DISPH_CLIPBOARDCHANGE].function != kNoHandler) Post(d, EVENT_CLIPBOARD);
}
