// The platform half of a display: its window record and what is done with its window; and the
// screen's modes and work area.
#pragma once
#include <cstdint>

struct qmDisplay;
struct qmBitmap;
struct qmMask;
struct VmState;

// The window record hangs off qmDisplay::platform; only the backend knows its fields.
struct qmPlatformWindow;

// Allocates the window record and hangs it off the display: 0 or ERR_MEM.
uint32_t CreatePlatformWindowRecord(VmState *vm, qmDisplay *display);
void FreePlatformWindowRecord(qmDisplay *display);
// The last pointer position in the window's content, as the window handler recorded it; the
// display must have a window record.
void GetPlatformPointer(const qmDisplay *display, int32_t *x, int32_t *y);
// Where the open window's frame begins on the desktop (its content less the frame's left and
// top widths); the display's own x and y while no window is open.
void GetPlatformWindowPosition(const qmDisplay *display, int32_t *x, int32_t *y);
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
// Picks the screen mode that full-screen windows switch to: 0 or ERR_SCREEN when the screen has
// no mode that large. Only a mode of exactly the asked size is switched to; otherwise, as when
// the system refuses the switch, full-screen windows cover the desktop in its own mode.
uint32_t SwitchDisplayMode(int32_t width, int32_t height, int32_t depth);
// Full-screen windows opened from now on use the desktop's own mode; 0.
uint32_t RestoreDisplayMode();
// 1 when the display's window covers the whole desktop in the desktop's own mode (no screen mode
// was switched to), with the window's content size; else 0.
int32_t GetDesktopFullScreenSize(const qmDisplay *display, int32_t *width, int32_t *height);
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
