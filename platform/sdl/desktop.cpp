#include "platform/desktop.h"

#include <cstdlib>
#include <ctime>
#include <string>

#include <X11/Xlib.h>
#include <X11/Xproto.h>

#include "platform/joystick.h"
#include "platform/present.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/timers.h"
#include "platform/window.h"
#include "runtime/errcodes.h"

qmDesktopState gDesktop = {false, 0, 0, 0, 1, 60, 0, false, {}};
std::atomic<uint32_t> gStickyQuit{0};
std::atomic<uint32_t> gWakePending{0};

namespace {
void (*gClock)(qmTimeval *) = nullptr;
void (*gSleep)(uint32_t) = nullptr;

// Without an absolute runtime folder (or socket path) the Wayland client library can reach no
// compositor, and says so on standard error while the drivers are probed: unless the user
// named a driver, the others are tried in their usual order without it.
void SkipUnreachableWayland() {
  const char *chosen = SDL_GetHint(SDL_HINT_VIDEODRIVER);  // the environment's, when set
  if (chosen && *chosen) return;
  const char *runtime = std::getenv("XDG_RUNTIME_DIR"), *socket = std::getenv("WAYLAND_DISPLAY");
  if ((runtime && runtime[0] == '/') || (socket && socket[0] == '/')) return;
  std::string drivers;
  for (int i = 0; i < SDL_GetNumVideoDrivers(); i++) {
    const char *name = SDL_GetVideoDriver(i);
    if (!name || SDL_strcasecmp(name, "wayland") == 0) continue;
    if (!drivers.empty()) drivers += ',';
    drivers += name;
  }
  // Over an empty SDL_VIDEODRIVER, which would otherwise win and mean "probe them all".
  if (!drivers.empty()) SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, drivers.c_str(), SDL_HINT_OVERRIDE);
}
// Xlib's own handler ends the process on any protocol error. A wake-up or message sent to one
// of our windows just as it is being destroyed (another thread's event on the way out) fails
// with BadWindow: the window is gone and there is nothing left to tell it, so that one error
// is passed over; every other error goes on to the handler that was there before.
XErrorHandler gPreviousXErrorHandler = nullptr;
int PassOverVanishedWindows(Display *dpy, XErrorEvent *e) {
  if (e->error_code == BadWindow && e->request_code == X_SendEvent) return 0;
  return gPreviousXErrorHandler ? gPreviousXErrorHandler(dpy, e) : 0;
}
}  // namespace

uint32_t InitDesktop() {
  if (gDesktop.started) return 0;
  // The close box of the last window must reach the script as a close event, not as a quit.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  // The player makes every picture itself: a window's pixels go to the window system as they
  // are (shared memory on X11), not through a GL texture. That would load a GL driver only to
  // copy the same pixels; without a graphics card it is a software renderer with a compiler and
  // threads of its own, some 75 MB more for every applet that opens a window. The user's own
  // setting of the same name still wins.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SkipUnreachableWayland();
  // Before the video driver starts, so that its own safety net passes errors on to this one.
  if (!gPreviousXErrorHandler) gPreviousXErrorHandler = XSetErrorHandler(PassOverVanishedWindows);
  if (InitSdlSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return ERR_XDISPLAY;
  uint32_t type = SDL_RegisterEvents(1);
  if (type == UINT32_MAX) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    return ERR_XDISPLAY;
  }
  gDesktop.wakeEventType = type;
  gDesktop.started = true;
  SDL_StartTextInput();
  WatchDropPoints(true);
  return 0;
}

void ShutdownDesktop() {
  FreeAllPlatformTimers();
  ReleaseJoysticks();
  if (gDesktop.started) {
    FreeStandardPointers();
    // Closing the video takes every window's surface with it.
    for (qmPlatformWindow *pw = gWindows; pw; pw = pw->next) RestoreHeldPixels(pw);
    WatchDropPoints(false);
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  }
  gDesktop = {false, 0, 0, 0, 1, 60, 0, false, {}};
  gStickyQuit = 0;
  gWakePending = 0;
}

bool DesktopStarted() { return gDesktop.started; }

void SetDesktopClock(void (*now)(qmTimeval *out), void (*sleepMicros)(uint32_t us)) {
  gClock = now;
  gSleep = sleepMicros;
}

bool DesktopClockIsReal() { return gClock == nullptr; }

uint64_t DesktopMicros() {
  if (gClock) {
    qmTimeval t;
    gClock(&t);
    return uint64_t(t.seconds) * 1000000u + t.microseconds;
  }
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

uint64_t DesktopClockMicros() { return DesktopMicros(); }

void DesktopSleepMicros(uint32_t us) {
  if (gSleep) {
    gSleep(us);
    return;
  }
  timespec ts{time_t(us / 1000000u), long(us % 1000000u) * 1000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

void SetPlatformAttr(int32_t selector, int32_t value) {
  switch (selector) {
  case PLATATTR_CTRLCQUIT: gDesktop.ctrlCQuit = value != 0; break;
  case PLATATTR_LEFTMOUSEQUIT: gDesktop.leftMouseQuit = value != 0; break;
  case PLATATTR_ESCAPEQUIT: gDesktop.escapeQuit = value != 0; break;
  case PLATATTR_FRAMERATE: gDesktop.frameLimit = value > 0 ? value : 0; break;
  default: break;
  }
}

int32_t GetRefreshRate() { return gDesktop.refreshRate; }
int32_t GetCurrentFrameRate() { return gDesktop.frameLimit ? gDesktop.frameLimit : gDesktop.refreshRate; }
bool FrameRateLimitOn() { return gDesktop.frameLimit != 0; }
void SetRefreshRate(int32_t hz) { gDesktop.refreshRate = hz > 0 ? hz : 60; }

uint32_t GetQualifierKeys() {
  uint32_t q = 0x80000000u;
  if (!gDesktop.started) return q;
  SDL_Keymod m = SDL_GetModState();
  if (m & KMOD_SHIFT) q |= 0x10000;
  if (m & KMOD_ALT) q |= 0x40000;
  if (m & KMOD_GUI) q |= 0x100000;
  if (m & KMOD_CTRL) q |= 0x400000;
  return q;
}

int32_t GetPlatformAttr(void *object, int32_t selector) {
  SDL_DisplayMode mode{};
  bool haveMode = gDesktop.started && SDL_GetDesktopDisplayMode(0, &mode) == 0;
  switch (selector) {
  case 5: return haveMode && SDL_BITSPERPIXEL(mode.format) <= 16 ? 16 : 32;
  case 6:
  case 7: {
    const qmPlatformWindow *pw = gWindows;
    while (pw && (!object || pw->owner != object)) pw = pw->next;
    if (!pw) return 0;
    return selector == 6 ? pw->pointerX : pw->pointerY;
  }
  case 12:
  case 13: return 16;
  case 14: return haveMode ? mode.w : 0;
  case 15: return haveMode ? mode.h : 0;
  case 16: return GetCurrentFrameRate();
  case 20: return 1;
  case 22: {
    int32_t r[4];
    GetWorkArea(r);
    return r[1];
  }
  case 23:
    if (object) GetWorkArea(static_cast<int32_t *>(object));
    return 0;
  default: return 0;
  }
}

// Here rather than beside the X reader, so that every program holding the desktop layer has it.
uint32_t *ReadScreenPixels(int32_t x, int32_t y, int32_t width, int32_t height) {
  return GrabX11Pixels(x, y, width, height);
}
