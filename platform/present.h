// Presentation: rectangles of 32-bit pictures into a window, optionally scaled, and the pacing
// of frames.
#pragma once
#include <cstdint>

struct qmPlatformWindow;

enum : uint32_t {
  PIXELS_XRGB_BYTES = 1,  // four bytes a pixel: unused, red, green, blue
};

// A plain view of someone's pixels.
struct qmPixelView {
  const uint32_t *pixels;
  int32_t width, height;
  int32_t pitch;    // bytes from one row to the next
  uint32_t format;  // PIXELS_*
};

// What goes where: the source rectangle, its place in the picture, and a scaled size.
struct qmPresentRect {
  int32_t srcX, srcY;
  int32_t dstX, dstY;
  int32_t width, height;
  int32_t scaledWidth, scaledHeight;  // both non-zero: stretched to this size at the offset
};

// Copies the source rectangle to (dstX, dstY) of the picture, which begins at (offsetX,
// offsetY) of the window's content. With both scaled sizes non-zero the source rectangle is
// stretched, nearest neighbour, to scaledWidth x scaledHeight at the offset. Nothing unless the
// window is open. The pixels reach the screen at the next frame end or pump.
void PresentWindowPixels(qmPlatformWindow *window, const qmPixelView *pixels, const qmPresentRect *rect,
                         int32_t offsetX, int32_t offsetY);
// PresentWindowPixels of an unscaled rectangle that lies whole in the view and in the window,
// which in the same pass copies it, unchanged, to the same place of `keep` (a picture of the
// view's layout, pitch in bytes). 1 when both were done; 0, with nothing done, otherwise. Inside
// a rectangle the window holds for `keep` (below), only the window is written and it stays held.
int32_t PresentWindowPixelsKeeping(qmPlatformWindow *window, const qmPixelView *pixels, const qmPresentRect *rect,
                                   int32_t offsetX, int32_t offsetY, uint32_t *keep, int32_t keepPitch);
// PresentWindowPixels of an unscaled rectangle that lies whole in the view and in the window,
// leaving that rectangle of `keep` (a picture of the view's layout, pitch in bytes) as it was:
// the window's surface holds the pixels for it, and they go back into `keep` (unused bytes 0)
// before anything else writes the surface, the surface is made anew or the window closes. A
// rectangle of `keep` already held stays held. 1 when done; 0, with nothing done, otherwise.
int32_t PresentWindowPixelsHeld(qmPlatformWindow *window, const qmPixelView *pixels, const qmPresentRect *rect,
                                int32_t offsetX, int32_t offsetY, uint32_t *keep, int32_t keepPitch);
// What the window holds for a picture goes back into it now.
void RestoreHeldPixels(qmPlatformWindow *window);
// Forgets what the window holds for `keep`, which its owner is about to rewrite or free.
void DropHeldPixels(qmPlatformWindow *window, const uint32_t *keep);
// Where the window holds the whole rectangle of `keep` at (dstX + offsetX, dstY + offsetY)
// (source and destination as in qmPresentRect, unscaled), pushes it to the screen again as it
// stands: 1; else 0, with nothing done.
int32_t RepushHeldPixels(qmPlatformWindow *window, const uint32_t *keep, const qmPresentRect *rect, int32_t offsetX,
                         int32_t offsetY);
// Ends a frame: pushes the changed rectangles to the screen (with a frame-rate limit above the
// refresh rate at most once per refresh period), then sleeps the rest of the frame time.
void FlushWindowFrame(qmPlatformWindow *window);
// Pushes every window's pending rectangles, under the same once-per-refresh rule.
void PushPendingWindowUpdates();

// Direct drawing into the window at the picture offset. Colour $RRGGBB.
void FillWindowRect(qmPlatformWindow *window, int32_t offsetX, int32_t offsetY, int32_t x, int32_t y,
                    int32_t width, int32_t height, uint32_t rgb);
void DrawWindowLine(qmPlatformWindow *window, int32_t offsetX, int32_t offsetY, int32_t x1, int32_t y1, int32_t x2,
                    int32_t y2, uint32_t rgb);
