// The platform half of a window: the record the backend keeps for each of the player's windows,
// what is done with the window, and the screen's modes and work area. Each record belongs to an
// owner (the caller's record shown in the window), handed back in every report about it.
#pragma once
#include <cstdint>

// Only the backend knows its fields.
struct qmPlatformWindow;

enum : uint32_t {
  WINDOW_BORDERLESS = 0x1,
  WINDOW_SIZEABLE = 0x2,
};

// Where a window stands: the whole window's left and top (a special position, -15001 or less or
// 95001 or more, centres it), the content size, and the frame's left and top widths.
struct qmWindowPlace {
  int32_t x, y, width, height;
  int32_t frameLeft, frameTop;
};

// How a window opens.
struct qmWindowOpening {
  qmWindowPlace place;
  uint32_t flags;       // WINDOW_*
  const char *title;    // ISO Latin-1
  int32_t fullScreen;   // 1: the window covers the screen
  int32_t show;         // 1: raised and given the focus
  int32_t mayCentre;    // 1: in full screen a picture smaller than the screen is centred
  // A shaped window: width x height bytes, rows without gaps, 0 where the desktop shows through
  // the content; null for a rectangle. Where the window system cannot shape windows (or in
  // full screen) the window stays a rectangle.
  const uint8_t *shape;
};

// Which part of a borderless window's content the owner gives over to the window system:
// 1 drags the window, 2 sizes it, 0 neither. Called on the main thread while events are read.
using qmWindowRegionHit = int32_t (*)(void *owner, int32_t x, int32_t y);

// A record for the owner, not yet with a window: 0 or ERR_MEM.
uint32_t NewSystemWindow(void *owner, qmWindowRegionHit regionHit, qmPlatformWindow **out);
// Closes the window when open and frees the record.
void FreeSystemWindow(qmPlatformWindow *window);
// Whether the record has its window open.
bool SystemWindowOpen(const qmPlatformWindow *window);

// The last pointer position in the window's content, as the window handler recorded it.
void GetSystemWindowPointer(const qmPlatformWindow *window, int32_t *x, int32_t *y);
// The open window's content position on the desktop: 1, or 0 while no window is open.
int32_t GetSystemWindowPosition(const qmPlatformWindow *window, int32_t *x, int32_t *y);
// Frame widths {left, top, left + right, top + bottom}: all 0 when borderless, without an open
// window or when the window system tells none.
void GetSystemWindowFrame(const qmPlatformWindow *window, uint32_t flags, int32_t frame[4]);
// Opens and shows the window: 0, ERR_MEM, ERR_XDISPLAY or ERR_WINDOW. A full-screen window
// whose picture the platform centres sets *offsetX and *offsetY to the picture's offset.
uint32_t OpenSystemWindow(qmPlatformWindow *window, const qmWindowOpening *opening, int32_t *offsetX,
                          int32_t *offsetY);
// 1 when the window had centred its picture (the owner's offset goes back to 0), else 0.
int32_t CloseSystemWindow(qmPlatformWindow *window);
// Size and place (not in full screen).
void SetSystemWindowBounds(qmPlatformWindow *window, const qmWindowPlace *place);
void MoveSystemWindow(qmPlatformWindow *window, const qmWindowPlace *place);
void SetSystemWindowTitle(qmPlatformWindow *window, const char *title);
// Ignored while the window covers the screen; 0.
uint32_t MinimizeSystemWindow(qmPlatformWindow *window, int32_t minimize);
void ActivateSystemWindow(qmPlatformWindow *window);
uint32_t SetSystemWindowDropTarget(qmPlatformWindow *window);
int32_t IsDisplaySizeSupported();
void UpdateSystemWindow(qmPlatformWindow *window);
// 1 when the window covers the whole desktop in the desktop's own mode (no screen mode was
// switched to), with the window's content size; else 0.
int32_t GetSystemWindowDesktopSize(const qmPlatformWindow *window, int32_t *width, int32_t *height);

// The main screen's modes: with null the count of all modes (a bound for the buffer); with a
// buffer each distinct {width, height} once, and their number.
int32_t ListDisplayModes(int32_t *pairs);
// Picks the screen mode that full-screen windows switch to: 0 or ERR_SCREEN when the screen has
// no mode that large. Only a mode of exactly the asked size is switched to; otherwise, as when
// the system refuses the switch, full-screen windows cover the desktop in its own mode.
uint32_t SwitchDisplayMode(int32_t width, int32_t height, int32_t depth);
// Full-screen windows opened from now on use the desktop's own mode; 0.
uint32_t RestoreDisplayMode();
// The desktop shell cannot be hidden here; a mode other than 0 raises the program's windows.
void SetFullscreenUIMode(int32_t mode);
// The main screen's usable area {x, y, width, height}.
void GetWorkArea(int32_t *rect);

// Fades around screen-mode switches, drawn into the player's own open windows (the desktop
// around them keeps its colours): FadeDisplayOut takes the fader for ten seconds and turns
// every window black over half a second; FadeDisplayIn gives the fader back and brings the
// windows from black to what they show now over a second. Both return when the fade is over.
// The token is 0 when another fade holds the fader; fading in with 0 does nothing.
uint32_t FadeDisplayOut();
void FadeDisplayIn(uint32_t token);
