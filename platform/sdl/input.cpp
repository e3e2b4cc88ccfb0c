// The window handler: SDL's mouse, keyboard and window events become portable events in the
// event queue, owned by their display, and the display's input state follows them.
#include <cstring>

#include "display/display.h"
#include "display/displayops.h"
#include "platform/desktop.h"
#include "platform/pointer.h"
#include "platform/sdl/keytable.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/window.h"
#include "runtime/eventqueue.h"

namespace {

void Post(qmDisplay *d, uint32_t type, uint32_t a1 = 0, uint32_t a2 = 0, uint32_t a3 = 0) {
  PostEvent(d, type, a1, a2, a3, nullptr);
}

bool InRegions(const qmDisplayRegion *regions, int32_t count, int32_t x, int32_t y) {
  for (int32_t i = 0; i < count; i++) {
    const qmDisplayRegion &r = regions[i];
    if (x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height) return true;
  }
  return false;
}

void HandleButton(qmDisplay *d, const SDL_MouseButtonEvent &b) {
  bool press = b.type == SDL_MOUSEBUTTONDOWN;
  if (press && d->private1) return;  // the backdrop display swallows clicks
  uint32_t type;
  uint32_t *state;
  switch (b.button) {
  case SDL_BUTTON_LEFT: type = EVENT_LEFTBUTTON; state = &d->leftButton; break;
  case SDL_BUTTON_RIGHT: type = EVENT_RIGHTBUTTON; state = &d->rightButton; break;
  case SDL_BUTTON_MIDDLE: type = EVENT_MIDDLEBUTTON; state = &d->middleButton; break;
  default: return;
  }
  // A press in a drag or size region of a borderless window moves or sizes it (the window
  // system does that through the hit test) and is no click.
  if (press && type == EVENT_LEFTBUTTON && DisplayRegionHit(d, b.x, b.y) != 0) return;
  *state = press ? 1 : 0;
  Post(d, type, uint32_t(b.x), uint32_t(b.y), press ? 1 : 0);
}

// A key's code on the way down: a special key from its symbol, a character from the text input
// that the system queues right behind the key, else the key's own Latin-1 symbol.
int32_t CodeOfKeyDown(qmPlatformWindow *pw, const SDL_KeyboardEvent &k) {
  int32_t code = SpecialKeyCode(k.keysym.sym);
  SDL_Event next;
  if (SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1 && next.type == SDL_TEXTINPUT) {
    SDL_PeepEvents(&next, 1, SDL_GETEVENT, SDL_TEXTINPUT, SDL_TEXTINPUT);
    if (code == KEY_NONE) code = Latin1KeyCode(next.text.text);
  }
  uint32_t sc = uint32_t(k.keysym.scancode) & 511;
  if (code == KEY_NONE && k.repeat && pw->keyCodeOfScancode[sc]) code = pw->keyCodeOfScancode[sc];
  if (code == KEY_NONE && k.keysym.sym >= 32 && k.keysym.sym < 256 && k.keysym.sym != 127) code = k.keysym.sym;
  return code;
}

int32_t CodeOfKeyUp(qmPlatformWindow *pw, const SDL_KeyboardEvent &k) {
  uint32_t sc = uint32_t(k.keysym.scancode) & 511;
  int32_t code = pw->keyCodeOfScancode[sc];
  pw->keyCodeOfScancode[sc] = 0;
  if (code) return code;
  code = SpecialKeyCode(k.keysym.sym);
  if (code == KEY_NONE && k.keysym.sym >= 32 && k.keysym.sym < 256 && k.keysym.sym != 127) code = k.keysym.sym;
  return code;
}

void SetKeyState(qmDisplay *d, int32_t code, bool down) {
  if (code >= 0 && code < kKeyStateCount) d->keyStates[code] = down ? 1 : 0;
}

void HandleKey(qmDisplay *d, const SDL_KeyboardEvent &k) {
  qmPlatformWindow *pw = d->platform;
  bool pressed = k.type == SDL_KEYDOWN;
  int32_t code = pressed ? CodeOfKeyDown(pw, k) : CodeOfKeyUp(pw, k);
  if (k.keysym.mod & KMOD_CTRL) {
    if (k.keysym.sym == SDLK_c) pw->ctrlCSeen = 1;
    // Nothing is posted under Control, but a release still counts: a key pressed before
    // Control went down must not stay down.
    if (!pressed) SetKeyState(d, code, false);
    return;
  }
  if (pressed && code != KEY_NONE) pw->keyCodeOfScancode[uint32_t(k.keysym.scancode) & 511] = uint16_t(code);
  // Alt+Return (or the logo key + Return) toggles the screen mode on release.
  if (!pressed && code == KEY_RETURN && (k.keysym.mod & (KMOD_ALT | KMOD_GUI)) &&
      IsSoleDisplay(ActiveScene, d) && !(d->flags & DISPF_NOMODESWITCH) && !d->requesterOpen) {
    pw->pendingScreenMode = FullScreenActive ? 0 : 1;
    Post(d, EVENT_MODETOGGLE);
  }
  if (code == KEY_NONE) return;
  SetKeyState(d, code, pressed);
  Post(d, EVENT_KEY, pressed ? 1 : 0, 0, uint32_t(code));
  if (code == KEY_ESCAPE) pw->escapeSeen = 1;
}

// Text that no key event claimed (an input method, a character without a key): each
// character is pressed and released.
void HandleText(qmDisplay *d, const char *text) {
  auto *s = reinterpret_cast<const unsigned char *>(text);
  while (*s) {
    int32_t code = Latin1KeyCode(reinterpret_cast<const char *>(s));
    if (code != KEY_NONE) {
      Post(d, EVENT_KEY, 1, 0, uint32_t(code));
      Post(d, EVENT_KEY, 0, 0, uint32_t(code));
    }
    s++;
    while ((*s & 0xC0) == 0x80) s++;
  }
}

void HandleWindowEvent(qmDisplay *d, const SDL_WindowEvent &w) {
  qmPlatformWindow *pw = d->platform;
  switch (w.event) {
  case SDL_WINDOWEVENT_MOVED: {
    if (pw->fullscreen) break;
    int32_t x = w.data1 - d->frameLeft, y = w.data2 - d->frameTop;
    if (x == d->x && y == d->y) break;  // where the program put it
    d->x = x;
    d->y = y;
    Post(d, EVENT_MOVED);
    break;
  }
  case SDL_WINDOWEVENT_SIZE_CHANGED:
    pw->surfaceLost = 1;
    if (pw->fullscreen || (w.data1 == d->width && w.data2 == d->height)) break;
    d->width = w.data1;
    d->height = w.data2;
    pw->resizePending = 1;
    Post(d, EVENT_RESIZED);
    break;
  case SDL_WINDOWEVENT_MINIMIZED:
    d->state = DISPSTATE_MINIMIZED;
    Post(d, EVENT_MINIMISED);
    break;
  case SDL_WINDOWEVENT_RESTORED:
    if (d->state != DISPSTATE_MINIMIZED) break;
    d->state = DISPSTATE_OPEN;
    Post(d, EVENT_RESTORED);
    break;
  case SDL_WINDOWEVENT_CLOSE:
    pw->closeRequested = 1;
    Post(d, EVENT_CLOSE);
    break;
  case SDL_WINDOWEVENT_FOCUS_GAINED:
    d->active = 1;
    ApplyDisplayPointer(d);
    Post(d, EVENT_ACTIVATED);
    break;
  case SDL_WINDOWEVENT_ENTER:
    ApplyDisplayPointer(d);
    break;
  case SDL_WINDOWEVENT_FOCUS_LOST:
    // Keys held while the focus goes would otherwise stay down: no release will come.
    d->active = 0;
    std::memset(d->keyStates, 0, sizeof d->keyStates);
    std::memset(pw->keyCodeOfScancode, 0, sizeof pw->keyCodeOfScancode);
    Post(d, EVENT_DEACTIVATED);
    break;
  case SDL_WINDOWEVENT_EXPOSED:
    if (pw->surfaceLost) RefreshDisplay(pw->vm, d, 2);
    else if (pw->window) SDL_UpdateWindowSurface(pw->window);
    break;
  default: break;
  }
}

qmDisplay *DisplayOfEventWindow(uint32_t windowId) {
  qmDisplay *d = FindDisplayOfWindow(windowId);
  return d && d->platform ? d : nullptr;
}
}  // namespace

int32_t DisplayRegionHit(const qmDisplay *d, int32_t x, int32_t y) {
  if (!(d->flags & DISPF_BORDERLESS)) return 0;
  // Without regions of the script's the top 15 rows drag and the bottom-right 10 x 10 sizes.
  qmDisplayRegion drag{0, 0, 0, d->width, 15};
  qmDisplayRegion size{0, d->width - 10, d->height - 10, 10, 10};
  if (!(d->flags & DISPF_FIXED)) {
    if (d->dragRegionCount > 0 ? InRegions(d->dragRegions, d->dragRegionCount, x, y) : InRegions(&drag, 1, x, y))
      return 1;
  }
  if (d->flags & DISPF_SIZEABLE) {
    if (d->sizeRegionCount > 0 ? InRegions(d->sizeRegions, d->sizeRegionCount, x, y) : InRegions(&size, 1, x, y))
      return 2;
  }
  return 0;
}

void DrainMouseMotion() {
  SDL_Event events[32];
  int n;
  uint64_t now = 0;
  while ((n = SDL_PeepEvents(events, 32, SDL_GETEVENT, SDL_MOUSEMOTION, SDL_MOUSEMOTION)) > 0) {
    if (!now) now = DesktopMicros();
    for (int i = 0; i < n; i++) {
      qmDisplay *d = DisplayOfEventWindow(events[i].motion.windowID);
      if (!d) continue;
      d->platform->pointerX = events[i].motion.x;
      d->platform->pointerY = events[i].motion.y;
      d->pointerMoved = 1;
      d->pointerMoveTime = {uint32_t(now / 1000000u), uint32_t(now % 1000000u)};
    }
  }
}

void HandleSystemEvent(const SDL_Event *e) {
  switch (e->type) {
  case SDL_QUIT:
    // The desktop (or a signal) asks the program to end: every window's close box at once.
    for (qmDisplay *d = DisplayList; d; d = d->next) {
      if (!d->platform) continue;
      d->platform->closeRequested = 1;
      Post(d, EVENT_CLOSE);
    }
    return;
  case SDL_CLIPBOARDUPDATE:
    for (qmDisplay *d = DisplayList; d; d = d->next)
      if (d->handlers[DISPH_CLIPBOARDCHANGE].function != kNoHandler) Post(d, EVENT_CLIPBOARD);
    return;
  case SDL_WINDOWEVENT:
    if (qmDisplay *d = DisplayOfEventWindow(e->window.windowID)) HandleWindowEvent(d, e->window);
    return;
  case SDL_MOUSEBUTTONDOWN:
  case SDL_MOUSEBUTTONUP:
    if (qmDisplay *d = DisplayOfEventWindow(e->button.windowID)) HandleButton(d, e->button);
    return;
  case SDL_MOUSEWHEEL: {
    qmDisplay *d = DisplayOfEventWindow(e->wheel.windowID);
    if (!d) return;
    int32_t y = e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e->wheel.y : e->wheel.y;
    if (y > 0) Post(d, EVENT_WHEELUP);
    else if (y < 0) Post(d, EVENT_WHEELDOWN);  // a sideways scroll (y 0) is no wheel event
    return;
  }
  case SDL_MOUSEMOTION:
    return;  // DrainMouseMotion's
  case SDL_KEYDOWN:
  case SDL_KEYUP:
    if (qmDisplay *d = DisplayOfEventWindow(e->key.windowID)) HandleKey(d, e->key);
    return;
  case SDL_TEXTINPUT:
    if (qmDisplay *d = DisplayOfEventWindow(e->text.windowID)) HandleText(d, e->text.text);
    return;
  default: return;
  }
}
