// The desktop layer: start and end, the clock it paces and times with, and the attribute
// switches the script sets and reads. A backend (platform/sdl/) implements it.
#pragma once
#include <cstdint>

#include "platform/time.h"

// Starts the backend's video and event subsystems once (the first window or wait calls it too):
// 0, or ERR_XDISPLAY when there is no desktop to talk to.
uint32_t InitDesktop();
// Frees every timer, closes the backend; a later InitDesktop starts afresh.
void ShutdownDesktop();
bool DesktopStarted();

// The clock behind pacing, the 10 ms rule and the timers, and the sleep of frame pacing.
// Tests put a controllable pair here; null restores the monotonic clock and nanosleep.
void SetDesktopClock(void (*now)(qmTimeval *out), void (*sleepMicros)(uint32_t us));
// Now on that clock, in microseconds.
uint64_t DesktopClockMicros();

enum : int32_t {
  PLATATTR_CTRLCQUIT = 8,
  PLATATTR_LEFTMOUSEQUIT = 9,
  PLATATTR_ESCAPEQUIT = 10,
  PLATATTR_FRAMERATE = 16,
};

// 8 CtrlCQuit, 9 LeftMouseQuit, 10 EscapeQuit; 16 the frame-rate limit (0 off). Others ignored.
void SetPlatformAttr(int32_t selector, int32_t value);
// 5 screen depth; 6/7 pointer position in the content of the window whose owner is object;
// 12/13 16; 14/15 desktop size; 16 current frame rate; 20 1; 22 the height above the work area;
// 23 fills object (a rectangle of four int32) with the work area. Other selectors 0.
int32_t GetPlatformAttr(void *object, int32_t selector);

// The rectangle of what the desktop shows as width x height words 0x00RRGGBB, rows without
// gaps (MemFree), or null when the desktop cannot be read (no X server), the rectangle is not
// wholly on it, or memory runs out.
uint32_t *ReadScreenPixels(int32_t x, int32_t y, int32_t width, int32_t height);

// Frame-rate state: the screen's refresh rate (60 when unknown) and the value frames are paced
// at (the refresh rate, or the script's limit).
int32_t GetRefreshRate();
int32_t GetCurrentFrameRate();
bool FrameRateLimitOn();
// Sets the refresh rate as a newly opened window reports it (0 counts as 60).
void SetRefreshRate(int32_t hz);

// The qualifier mask of the keys held now: bit 31, shift 0x10000, option (Alt) 0x40000,
// command (GUI) 0x100000, control 0x400000.
uint32_t GetQualifierKeys();
