// Presentation: rectangles of 32-bit back buffers into a display's window, optionally scaled,
// and the pacing of frames.
#pragma once
#include <cstdint>

struct qmBitmap;
struct qmDisplay;
struct VmState;

enum : uint32_t {
  PRESENT_EVEN_IF_CLOSED = 16,
  PRESENT_NO_MOVIE_CLIP = 32,
};

// Copies the source rectangle to (dstX, dstY) of the display's picture (the picture offset is
// added). With both scaled sizes non-zero the source rectangle is stretched, nearest neighbour,
// to scaledWidth x scaledHeight at the picture offset. Nothing unless the display is open or
// flag 16 is given. The pixels reach the screen at the next frame end or pump.
void PresentBackBuffer(const qmBitmap *bitmap, int32_t srcX, int32_t srcY, qmDisplay *display, int32_t dstX,
                       int32_t dstY, int32_t width, int32_t height, int32_t scaledWidth, int32_t scaledHeight,
                       uint32_t flags);
// Ends a frame: pushes the changed rectangles to the screen (with a frame-rate limit above the
// refresh rate at most once per refresh period), then sleeps the rest of the frame time.
void FlushDisplayWindow(VmState *vm, qmDisplay *display);
// Pushes every window's pending rectangles, under the same once-per-refresh rule.
void PushPendingWindowUpdates();

// Direct drawing into the window (picture offset added; only while open). Colour $RRGGBB.
void FillPlatformRect(qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rgb);
void PlotPlatformPixel(qmDisplay *display, int32_t x, int32_t y, uint32_t rgb);
void DrawPlatformLine(qmDisplay *display, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t rgb);

