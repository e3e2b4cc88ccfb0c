// What the files of the desktop layer share among themselves; the one header that includes SDL.
#pragma once
#include <SDL.h>

#include <atomic>
#include <cstdint>

struct qmDisplay;
struct qmPlatformWindow;

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
