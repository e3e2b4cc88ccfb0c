// The window handler: SDL's mouse, keyboard and window events become reports to the pump's
// client, each with its window's owner; the window records keep what the platform itself needs
// (the key codes held, the pointer's place, the quit keys seen).
#include <cstring>

#include "platform/desktop.h"
#include "platform/eventpump.h"
#include "platform/memory.h"
#include "platform/present.h"
#include "platform/pointer.h"
#include "platform/sdl/keytable.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/systemtext.h"

namespace {

// 1 when the client asks the script to stop.
int Report(const qmPumpClient *client, qmPlatformReport r) {
  if (!client || !client->report) return 0;
  r.micros = DesktopMicros();
  return client->report(client->data, &r);
}

qmPlatformReport About(const qmPlatformWindow *pw, uint32_t kind) {
  qmPlatformReport r{};
  r.kind = kind;
  r.owner = pw ? pw->owner : nullptr;
  return r;
}

void HandleButton(qmPlatformWindow *pw, const SDL_MouseButtonEvent &b, const qmPumpClient *client) {
  qmPlatformReport r = About(pw, REPORT_BUTTON);
  switch (b.button) {
  case SDL_BUTTON_LEFT: r.code = 1; break;
  case SDL_BUTTON_RIGHT: r.code = 2; break;
  case SDL_BUTTON_MIDDLE: r.code = 3; break;
  default: return;
  }
  r.down = b.type == SDL_MOUSEBUTTONDOWN ? 1 : 0;
  r.x = b.x;
  r.y = b.y;
  Report(client, r);
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

void HandleKey(qmPlatformWindow *pw, const SDL_KeyboardEvent &k, const qmPumpClient *client) {
  bool pressed = k.type == SDL_KEYDOWN;
  qmPlatformReport r = About(pw, REPORT_KEY);
  r.code = pressed ? CodeOfKeyDown(pw, k) : CodeOfKeyUp(pw, k);
  r.down = pressed ? 1 : 0;
  if (k.keysym.mod & (KMOD_ALT | KMOD_GUI)) r.modifiers |= REPORTMOD_ALT;
  if (k.keysym.mod & KMOD_CTRL) {
    if (k.keysym.sym == SDLK_c) pw->ctrlCSeen = 1;
    r.modifiers |= REPORTMOD_CONTROL;
    Report(client, r);
    return;
  }
  if (pressed && r.code != KEY_NONE) pw->keyCodeOfScancode[uint32_t(k.keysym.scancode) & 511] = uint16_t(r.code);
  Report(client, r);
  if (r.code == KEY_ESCAPE) pw->escapeSeen = 1;
}

// Text that no key event claimed (an input method, a character without a key).
void HandleText(qmPlatformWindow *pw, const char *text, const qmPumpClient *client) {
  auto *s = reinterpret_cast<const unsigned char *>(text);
  while (*s) {
    int32_t code = Latin1KeyCode(reinterpret_cast<const char *>(s));
    if (code != KEY_NONE) {
      qmPlatformReport r = About(pw, REPORT_TYPED);
      r.code = code;
      Report(client, r);
    }
    s++;
    while ((*s & 0xC0) == 0x80) s++;
  }
}

int HandleWindowEvent(qmPlatformWindow *pw, const SDL_WindowEvent &w, const qmPumpClient *client) {
  qmPlatformReport r = About(pw, 0);
  switch (w.event) {
  case SDL_WINDOWEVENT_MOVED:
    if (pw->fullscreen) break;
    r.kind = REPORT_MOVED;
    r.x = w.data1;
    r.y = w.data2;
    Report(client, r);
    break;
  case SDL_WINDOWEVENT_SIZE_CHANGED:
    // The old surface stays until it is next taken: what it holds goes back now.
    RestoreHeldPixels(pw);
    pw->surfaceLost = 1;
    if (pw->fullscreen) break;
    r.kind = REPORT_RESIZED;
    r.x = w.data1;
    r.y = w.data2;
    Report(client, r);
    break;
  case SDL_WINDOWEVENT_MINIMIZED:
    r.kind = REPORT_MINIMIZED;
    Report(client, r);
    break;
  case SDL_WINDOWEVENT_RESTORED:
    r.kind = REPORT_RESTORED;
    Report(client, r);
    break;
  case SDL_WINDOWEVENT_CLOSE:
    r.kind = REPORT_CLOSE;
    return Report(client, r);
  case SDL_WINDOWEVENT_FOCUS_GAINED:
    ApplyWindowPointer(pw);
    r.kind = REPORT_FOCUS;
    Report(client, r);
    break;
  case SDL_WINDOWEVENT_ENTER:
    ApplyWindowPointer(pw);
    break;
  case SDL_WINDOWEVENT_FOCUS_LOST:
    // Keys held while the focus goes would otherwise stay down: no release will come.
    std::memset(pw->keyCodeOfScancode, 0, sizeof pw->keyCodeOfScancode);
    r.kind = REPORT_UNFOCUS;
    Report(client, r);
    break;
  case SDL_WINDOWEVENT_EXPOSED:
    if (pw->surfaceLost) {
      r.kind = REPORT_REDRAW;
      Report(client, r);
    } else if (pw->window) {
      SDL_UpdateWindowSurface(pw->window);
    }
    break;
  default: break;
  }
  return 0;
}

// One dropped file's name (UTF-8, as the window system gives it) joins the drop in progress.
void CollectDroppedPath(qmPlatformWindow *pw, const char *utf8) {
  const size_t n = std::strlen(utf8);
  const size_t room = 2 * n + 1;  // TextFromSystem's bound
  if (uint64_t(pw->dropLength) + room + 1 > UINT32_MAX) return;
  auto *grown = static_cast<char *>(MemAlloc(uint32_t(pw->dropLength + room), 0));
  if (!grown) return;  // out of memory: this name is left out
  if (pw->dropLength) std::memcpy(grown, pw->dropPaths, pw->dropLength);
  if (TextFromSystem(utf8, grown + pw->dropLength, room) == 0 && grown[pw->dropLength])
    pw->dropLength += uint32_t(std::strlen(grown + pw->dropLength) + 1);
  MemFree(pw->dropPaths);
  pw->dropPaths = grown;
}

// The drop is over: its names go to the client in one report, the list ended by an empty name.
void ReportDrop(qmPlatformWindow *pw, const qmPumpClient *client) {
  char *paths = pw->dropPaths;
  const uint32_t length = pw->dropLength;
  pw->dropPaths = nullptr;
  pw->dropLength = 0;
  pw->dropping = 0;
  if (!length) {
    MemFree(paths);
    return;
  }
  auto *list = static_cast<char *>(MemAlloc(length + 1, 0));
  if (list) {
    std::memcpy(list, paths, length);
    list[length] = 0;
  }
  MemFree(paths);
  if (!list) return;
  if (!client || !client->report) {
    MemFree(list);
    return;
  }
  qmPlatformReport r = About(pw, REPORT_DROP);
  r.x = pw->pointerX;
  r.y = pw->pointerY;
  if (pw->dropPointKnown && pw->window) {
    int wx = 0, wy = 0;
    SDL_GetWindowPosition(pw->window, &wx, &wy);
    r.x = pw->dropRootX - wx;
    r.y = pw->dropRootY - wy;
  }
  pw->dropPointKnown = 0;
  r.payload = list;
  Report(client, r);
}

int HandleDrop(const SDL_DropEvent &drop, const qmPumpClient *client) {
  qmPlatformWindow *pw = FindWindowById(drop.windowID);
  if (drop.type == SDL_DROPFILE && pw) CollectDroppedPath(pw, drop.file);
  // Text dropped is no file; every name the window system hands over is ours to free.
  if (drop.file) SDL_free(drop.file);
  if (!pw) return 0;
  switch (drop.type) {
  case SDL_DROPBEGIN: DiscardDrop(pw); pw->dropping = 1; break;
  case SDL_DROPCOMPLETE: ReportDrop(pw, client); break;
  case SDL_DROPFILE:
    // A window system that tells no beginning drops one file at a time.
    if (!pw->dropping) ReportDrop(pw, client);
    break;
  default: break;
  }
  return 0;
}

}  // namespace

void DiscardDrop(qmPlatformWindow *window) {
  MemFree(window->dropPaths);
  window->dropPaths = nullptr;
  window->dropLength = 0;
  window->dropping = 0;
}

qmPlatformWindow *FindWindowById(uint32_t windowId) {
  if (!windowId) return nullptr;
  for (qmPlatformWindow *pw = gWindows; pw; pw = pw->next)
    if (pw->window && pw->windowId == windowId) return pw;
  return nullptr;
}

void DrainMouseMotion(const qmPumpClient *client) {
  SDL_Event events[32];
  int n;
  bool moved = false;
  while ((n = SDL_PeepEvents(events, 32, SDL_GETEVENT, SDL_MOUSEMOTION, SDL_MOUSEMOTION)) > 0) {
    for (int i = 0; i < n; i++) {
      qmPlatformWindow *pw = FindWindowById(events[i].motion.windowID);
      if (!pw) continue;
      pw->pointerX = events[i].motion.x;
      pw->pointerY = events[i].motion.y;
      pw->pointerMovedNow = 1;
      moved = true;
    }
  }
  if (!moved) return;
  for (qmPlatformWindow *pw = gWindows; pw; pw = pw->next) {
    if (!pw->pointerMovedNow) continue;
    pw->pointerMovedNow = 0;
    qmPlatformReport r = About(pw, REPORT_MOTION);
    r.x = pw->pointerX;
    r.y = pw->pointerY;
    Report(client, r);
  }
}

int HandleSystemEvent(const SDL_Event *e, const qmPumpClient *client) {
  switch (e->type) {
  case SDL_QUIT: return Report(client, About(nullptr, REPORT_QUIT));
  case SDL_CLIPBOARDUPDATE: return Report(client, About(nullptr, REPORT_CLIPBOARD));
  case SDL_WINDOWEVENT:
    if (qmPlatformWindow *pw = FindWindowById(e->window.windowID)) return HandleWindowEvent(pw, e->window, client);
    return 0;
  case SDL_MOUSEBUTTONDOWN:
  case SDL_MOUSEBUTTONUP:
    if (qmPlatformWindow *pw = FindWindowById(e->button.windowID)) HandleButton(pw, e->button, client);
    return 0;
  case SDL_MOUSEWHEEL: {
    qmPlatformWindow *pw = FindWindowById(e->wheel.windowID);
    if (!pw) return 0;
    int32_t y = e->wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e->wheel.y : e->wheel.y;
    if (y == 0) return 0;  // a sideways scroll is no wheel event
    qmPlatformReport r = About(pw, REPORT_WHEEL);
    r.code = y > 0 ? 1 : -1;
    Report(client, r);
    return 0;
  }
  case SDL_MOUSEMOTION:
    return 0;  // DrainMouseMotion's
  case SDL_KEYDOWN:
  case SDL_KEYUP:
    if (qmPlatformWindow *pw = FindWindowById(e->key.windowID)) HandleKey(pw, e->key, client);
    return 0;
  case SDL_TEXTINPUT:
    if (qmPlatformWindow *pw = FindWindowById(e->text.windowID)) HandleText(pw, e->text.text, client);
    return 0;
  case SDL_DROPBEGIN:
  case SDL_DROPFILE:
  case SDL_DROPTEXT:
  case SDL_DROPCOMPLETE: return HandleDrop(e->drop, client);
  default: return 0;
  }
}
