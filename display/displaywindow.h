// Where the display engine meets the platform: a display's record turned into the platform's
// window record, placement records and pixel views, and the platform's answers written back
// into the display.
#pragma once
#include <cstdint>

struct qmBitmap;
struct qmDisplay;
struct qmMask;

enum : uint32_t {
  PRESENT_EVEN_IF_CLOSED = 16,
  PRESENT_NO_MOVIE_CLIP = 32,
};

// The display's window record (it owns it; the platform hands the display back in its reports):
// 0 or ERR_MEM.
uint32_t CreatePlatformWindowRecord(qmDisplay *display);
void FreePlatformWindowRecord(qmDisplay *display);
// The last pointer position in the window's content; the display must have a window record.
void GetPlatformPointer(const qmDisplay *display, int32_t *x, int32_t *y);
// Where the open window's frame begins on the desktop (its content less the frame's left and
// top widths); the display's own x and y while no window is open.
void GetPlatformWindowPosition(const qmDisplay *display, int32_t *x, int32_t *y);
// Frame widths into the display: all 0 when borderless or when the window system tells none.
void GetWindowFrameWidths(qmDisplay *display);
// Opens and shows the window at the display's position and size plus frame, with title and
// flags, covering the screen when fullScreen: 0, ERR_MEM, ERR_XDISPLAY or ERR_WINDOW.
uint32_t OpenPlatformWindow(qmDisplay *display, int32_t show, qmBitmap *shapeBrush, qmMask *shapeAlpha,
                            int32_t fullScreen);
void ClosePlatformWindow(qmDisplay *display);
void SetPlatformWindowBounds(qmDisplay *display);
void MovePlatformWindow(qmDisplay *display);
void SetPlatformWindowTitle(qmDisplay *display);
// Ignored in full screen; 0.
uint32_t MinimizePlatformWindow(qmDisplay *display, int32_t minimize);
void ActivatePlatformWindow(qmDisplay *display);
uint32_t SetDropTarget(qmDisplay *display);
void UpdatePlatformWindow(qmDisplay *display);
// 1 when the display's window covers the whole desktop in the desktop's own mode (no screen mode
// was switched to), with the window's content size; else 0.
int32_t GetDesktopFullScreenSize(const qmDisplay *display, int32_t *width, int32_t *height);
// 1 when (x, y) of the content lies in a drag region of a borderless window that may move, 2
// in a size region of a sizeable one, else 0.
int32_t DisplayRegionHit(const qmDisplay *display, int32_t x, int32_t y);

// Copies the source rectangle of a 32-bit bitmap to (dstX, dstY) of the display's picture (the
// picture offset is added). With both scaled sizes non-zero the source rectangle is stretched,
// nearest neighbour, to scaledWidth x scaledHeight at the picture offset. Nothing unless the
// display is open or flag 16 is given. The pixels reach the screen at the next frame end or pump.
void PresentBackBuffer(const qmBitmap *bitmap, int32_t srcX, int32_t srcY, qmDisplay *display, int32_t dstX,
                       int32_t dstY, int32_t width, int32_t height, int32_t scaledWidth, int32_t scaledHeight,
                       uint32_t flags);
// PresentBackBuffer of (x, y, width x height) at the same place, unscaled, that in the same pass
// copies those pixels to the same place of `keep`: false, with nothing done, where one pass
// cannot do both (the display not open, the rectangle not whole in the bitmap, `keep` or the
// window).
bool PresentBackBufferKeeping(const qmBitmap *bitmap, qmDisplay *display, int32_t x, int32_t y, int32_t width,
                              int32_t height, qmBitmap *keep);
// PresentBackBufferKeeping that leaves `keep` as it was: the window holds those pixels for it
// and they go back into it (unused bytes 0) before anything else could write over them or lose
// them, or at RestoreHeldBackBuffer. False, with nothing done, where it cannot.
bool PresentBackBufferHeld(const qmBitmap *bitmap, qmDisplay *display, int32_t x, int32_t y, int32_t width,
                           int32_t height, qmBitmap *keep);
// What the display's window holds for a bitmap goes back into it now.
void RestoreHeldBackBuffer(qmDisplay *display);
// Forgets what the window holds for `keep`, which the caller is about to write whole or free.
void DropHeldBackBuffer(qmDisplay *display, const qmBitmap *keep);
// Where the window holds all of the rectangle of `keep`, placed as PresentBackBuffer places it
// unscaled, pushes it to the screen again as it stands: true; else false, with nothing done.
bool RepushHeldBackBuffer(qmDisplay *display, const qmBitmap *keep, int32_t x, int32_t y, int32_t width,
                          int32_t height);
// A queued cross-thread update of the display (the display library's update presenter).
void PresentDisplayUpdate(qmBitmap *bitmap, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height);
// Ends a frame of the display's window: its changes to the screen, then the rest of the frame time.
void FlushDisplayWindow(qmDisplay *display);
// Direct drawing into the open window (picture offset added). Colour $RRGGBB.
void FillPlatformRect(qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rgb);
void PlotPlatformPixel(qmDisplay *display, int32_t x, int32_t y, uint32_t rgb);
void DrawPlatformLine(qmDisplay *display, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t rgb);

// The display's mouse pointer (platform/pointer.h), through its window record.
void SetPlatformPointer(qmDisplay *display, void *image, int32_t kind, void *owner);
void ShowPlatformPointer(qmDisplay *display);
void HidePlatformPointer(qmDisplay *display);
void MovePointerTo(qmDisplay *display, int32_t x, int32_t y);
int32_t PlatformPointerHidden(const qmDisplay *display);
void *PlatformPointerImage(const qmDisplay *display);
void *PlatformPointerOwner(const qmDisplay *display);

// The desktop's switches (platform/desktop.h); the display plays no part in them.
void SetPlatformAttr(qmDisplay *display, int32_t selector, int32_t value);

// The rectangle of what the desktop shows, in a new bitmap (FreeBitmap), or null when the
// desktop cannot be read (no X server), the rectangle is not wholly on it, or memory runs out.
qmBitmap *GrabScreenPixels(int32_t x, int32_t y, int32_t width, int32_t height);
