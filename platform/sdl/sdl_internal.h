// What the files of the desktop layer share among themselves; the one header that includes SDL.
#pragma once
#include <SDL.h>

#include <atomic>
#include <cstdint>

#include "platform/time.h"

struct qmDisplay;
struct VmState;

inline constexpr int32_t kMaxPendingRects = 16;

struct qmPlatformRect {
  int32_t x, y, width, height;
};

// The window record behind platform/window.h: the window, the input flags the window handler
// raises and the pump consumes, presentation bookkeeping.
struct qmPlatformWindow {
  SDL_Window *window;
  uint32_t windowId;
  // Raised by the window handler, evaluated and cleared by the next full pump.
  uint32_t closeRequested, resizePending, ctrlCSeen, escapeSeen;
  int32_t pendingScreenMode;  // -1 none, 0 windowed, 1 full screen
  uint32_t pointerHidden;
  void *pointerImage;    // the script's pointer (platform/pointer.h), or null
  int32_t pointerKind;   // PLATPTR_SYSTEM, PLATPTR_BUILTIN or PLATPTR_IMAGE
  void *pointerOwner;    // the script's record that chose the pointer, or null
  uint32_t fullscreen;  // 1 exclusive mode, 2 desktop full screen
  uint32_t centred;     // the picture offset was set to centre a full-screen picture
  qmTimeval lastPresent;  // end of the previous frame, for pacing
  uint64_t lastShown;     // microseconds on the desktop clock of the last push to the screen
  VmState *vm;
  int32_t pointerX, pointerY;  // last pointer position in the content
  // The portable code each held key went down with, so that repeats and the release match it.
  uint16_t keyCodeOfScancode[512];
  // Rectangles written into the window surface and not yet pushed to the screen.
  qmPlatformRect pending[kMaxPendingRects];
  int32_t pendingCount;
  uint32_t surfaceLost;  // the surface was re-made (size change): its old contents are gone
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
extern std::atomic<uint32_t> gStickyQuit;
extern std::atomic<uint32_t> gWakePending;

// Microseconds on the desktop clock (monotonic, or the tests' clock).
uint64_t DesktopMicros();
void DesktopSleepMicros(uint32_t us);
bool DesktopClockIsReal();

// The window handler: turns one SDL event into portable events and display state.
void HandleSystemEvent(const SDL_Event *event);
// Records queued mouse motion (all of it at once) as pointer movement of its display.
void DrainMouseMotion();
// 1 when (x, y) of the content lies in a drag region of a borderless window that may move, 2
// in a size region of a sizeable one, else 0.
int32_t DisplayRegionHit(const qmDisplay *display, int32_t x, int32_t y);
// Lets the display library's queued cross-thread updates reach PresentBackBuffer.
void InstallUpdatePresenter();

// The pointers the desktop layer makes itself (built-in, empty); freed before SDL's video
// closes, which takes every cursor with it.
void FreeStandardPointers();

// The X server's root window read through Xlib (screengrab.cpp); null without an X server.
struct qmBitmap;
qmBitmap *GrabX11Pixels(int32_t x, int32_t y, int32_t width, int32_t height);
