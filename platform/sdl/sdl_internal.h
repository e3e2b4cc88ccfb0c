// What the files of the desktop layer share among themselves; the one header that includes SDL.
#pragma once
#include <SDL.h>

#include <atomic>
#include <cstdint>

#include "platform/time.h"
#include "platform/window.h"

struct qmPumpClient;

inline constexpr int32_t kMaxPendingRects = 16;

// Every SDL subsystem starts through here. SIGINT and SIGTERM belong to the platform layer: SDL's
// own handlers would turn them into a quit event that only a pumping loop sees, and a process
// that is not pumping would then never end on them.
inline int InitSdlSubSystem(uint32_t flags) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  return SDL_InitSubSystem(flags);
}

struct qmPlatformRect {
  int32_t x, y, width, height;
};

// A rectangle of a caller's picture that was shown but not written there: the window's surface
// holds it until it is brought back (RestoreHeldPixels). While `pixels` is set, `surface` is
// the window's surface, as every path that could make it anew or write over it restores first.
struct qmHeldPixels {
  uint32_t *pixels;  // the caller's picture, null when nothing is held
  int32_t pitch;     // bytes from one row of it to the next
  int32_t x, y, width, height;  // the rectangle, in the picture
  int32_t windowX, windowY;     // where its top left lies in the surface
  SDL_Surface *surface;
};

// The window record behind platform/window.h: its owner, the window, the input flags the
// window handler raises and the pump consumes, presentation bookkeeping.
struct qmPlatformWindow {
  qmPlatformWindow *next;  // every record in creation order
  void *owner;
  qmWindowRegionHit regionHit;
  SDL_Window *window;
  uint32_t windowId;
  // Raised by the window handler, evaluated and cleared by the next full pump.
  uint32_t ctrlCSeen, escapeSeen;
  uint32_t pointerHidden;
  void *pointerImage;    // the script's pointer (platform/pointer.h), or null
  int32_t pointerKind;   // PLATPTR_SYSTEM, PLATPTR_BUILTIN or PLATPTR_IMAGE
  void *pointerOwner;    // the script's record that chose the pointer, or null
  uint32_t fullscreen;  // 1 exclusive mode, 2 desktop full screen
  uint32_t centred;     // the picture offset was set to centre a full-screen picture
  qmTimeval lastPresent;  // end of the previous frame, for pacing
  uint64_t lastShown;     // microseconds on the desktop clock of the last push to the screen
  int32_t pointerX, pointerY;  // last pointer position in the content
  uint32_t pointerMovedNow;    // while the queued motion is drained: this window's pointer moved
  // The portable code each held key went down with, so that repeats and the release match it.
  uint16_t keyCodeOfScancode[512];
  // Rectangles written into the window surface and not yet pushed to the screen.
  qmPlatformRect pending[kMaxPendingRects];
  int32_t pendingCount;
  uint32_t surfaceLost;  // the surface was re-made (size change): its old contents are gone
  qmHeldPixels held;
  // The paths of a drop in progress, each ended by a zero byte (MemFree), and their length.
  char *dropPaths;
  uint32_t dropLength;
  uint32_t dropping;  // between the drop's beginning and its end
  // Where the drag source last said the pointer is, on the screen (X11 only); while known it is
  // the drop's place instead of the pointer's last place in the window.
  int32_t dropRootX, dropRootY;
  uint32_t dropPointKnown;
};

struct qmDesktopState {
  bool started;
  uint32_t wakeEventType;  // SDL user event that ends a blocking wait
  // Quit switches the script sets.
  int32_t leftMouseQuit, escapeQuit, ctrlCQuit;
  // Frame rate.
  int32_t refreshRate;  // 60 when the screen reports none
  int32_t frameLimit;   // 0: off
  // Full-screen mode chosen by SwitchDisplayMode.
  bool haveFullscreenMode;
  SDL_DisplayMode fullscreenMode;
};

extern qmDesktopState gDesktop;
// Every window record, open or not, in creation order.
extern qmPlatformWindow *gWindows;
extern std::atomic<uint32_t> gStickyQuit;
extern std::atomic<uint32_t> gWakePending;

// Microseconds on the desktop clock (monotonic, or the tests' clock).
uint64_t DesktopMicros();
void DesktopSleepMicros(uint32_t us);
bool DesktopClockIsReal();

// The window record whose window has this window-system id, or null.
qmPlatformWindow *FindWindowById(uint32_t windowId);

// The window handler: turns one SDL event into reports to the client (which may be null); 1
// when a report asked the script to stop.
int HandleSystemEvent(const SDL_Event *event, const qmPumpClient *client);
// Records queued mouse motion (all of it at once) as the pointer's place in its window, and
// reports the last place of each window.
void DrainMouseMotion(const qmPumpClient *client);
// Forgets a drop in progress (its paths are freed).
void DiscardDrop(qmPlatformWindow *window);
// Reads the drop positions the window system tells (X11) from its own events, which are
// then not queued; off again before SDL's events close.
void WatchDropPoints(bool on);
// Puts the window's chosen pointer in place when the window has the pointer or the focus.
void ApplyWindowPointer(qmPlatformWindow *window);

// The pointers the desktop layer makes itself (built-in, empty); freed before SDL's video
// closes, which takes every cursor with it.
void FreeStandardPointers();

// Gives the window the shape of the coverage bytes (width x height, rows without gaps; shown
// from 1 up) where the window system shapes windows (X11); elsewhere it stays a rectangle.
void ShapeSystemWindow(SDL_Window *window, const uint8_t *shape, int32_t width, int32_t height);

// The X server's root window read through Xlib (screengrab.cpp), as ReadScreenPixels gives it;
// null without an X server.
uint32_t *GrabX11Pixels(int32_t x, int32_t y, int32_t width, int32_t height);
