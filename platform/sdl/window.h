// The platform half of a display: its window, the input flags the window handler raises and the
// pump consumes, presentation bookkeeping; and the screen's modes and work area.
#pragma once
#include <cstdint>

#include "platform/time.h"

struct qmDisplay;
struct qmBitmap;
struct qmMask;
struct VmState;
struct SDL_Window;

inline constexpr int32_t kMaxPendingRects = 16;

struct qmPlatformRect {
  int32_t x, y, width, height;
};

struct qmPlatformWindow {
  SDL_Window *window;
  uint32_t windowId;
  // Raised by the window handler, evaluated and cleared by the next full pump.
  uint32_t closeRequested, resizePending, ctrlCSeen, escapeSeen;
  int32_t pendingScreenMode;  // -1 none, 0 windowed, 1 full screen
  uint32_t pointerHidden;
  void *pointerImage;
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

// Allocates the window record and hangs it off the display: 0 or ERR_MEM.
uint32_t CreatePlatformWindowRecord(VmState *vm, qmDisplay *display);
void FreePlatformWindowRecord(qmDisplay *display);
// The last pointer position in the window's content, as the window handler recorded it; the
// display must have a window record.
void GetPlatformPointer(const qmDisplay *display, int32_t *x, int32_t *y);
// Frame widths into the display: all 0 when borderless or when the window system tells none.
void GetWindowFrameWidths(qmDisplay *display);
// Opens and shows the window at the display's position and size plus frame, with title and
// flags, full screen while FullScreenActive: 0, ERR_MEM, ERR_XDISPLAY or ERR_WINDOW.
uint32_t OpenPlatformWindow(qmDisplay *display, int32_t show, qmBitmap *shapeBrush, qmMask *shapeAlpha);
void ClosePlatformWindow(qmDisplay *display);
void SetPlatformWindowBounds(qmDisplay *display);
void MovePlatformWindow(qmDisplay *display);
void SetPlatformWindowTitle(qmDisplay *display);
// Ignored in full screen; 0.
uint32_t MinimizePlatformWindow(qmDisplay *display, int32_t minimize);
void ActivatePlatformWindow(qmDisplay *display);
uint32_t SetDropTarget(qmDisplay *display);
int32_t IsDisplaySizeSupported();
void UpdatePlatformWindow(qmDisplay *display);
void WakeForPointerMove(qmDisplay *display);
// The display whose window has this window-system id, or null.
qmDisplay *FindDisplayOfWindow(uint32_t windowId);

// The main screen's modes: with null the count of all modes (a bound for the buffer); with a
// buffer each distinct {width, height} once, and their number.
int32_t ListDisplayModes(int32_t *pairs);
// Picks the screen mode that full-screen windows switch to: 0 or ERR_SCREEN when none fits.
uint32_t SwitchDisplayMode(int32_t width, int32_t height, int32_t depth);
// Full-screen windows opened from now on use the desktop's own mode; 0.
uint32_t RestoreDisplayMode();
// The desktop shell cannot be hidden here; a mode other than 0 raises the program's windows.
void SetFullscreenUIMode(int32_t mode);
// The main screen's usable area {x, y, width, height}.
void GetWorkArea(int32_t *rect);
