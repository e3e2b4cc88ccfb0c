// Double buffering: drawing goes into an off-screen draw buffer; Flip copies what changed into
// the present buffer and shows it.
#pragma once
#include <cstdint>

struct qmDisplay;
struct qmScene;

// Drawing of the display goes to its draw buffer, which becomes the scene's picture.
uint32_t BeginDoubleBufferCore(qmScene *scene, qmDisplay *display, int32_t hardware);
// Copies what changed into the present buffer and shows it; pacing the frame is the caller's.
uint32_t FlipCore(qmDisplay *display);
// The draw buffer's picture stays in the display's buffers; the display's own picture becomes
// the scene's picture again.
uint32_t EndDoubleBufferCore(qmScene *scene, qmDisplay *display);
// Shows the present buffer: whole, or the dirty rectangles only.
void PresentDoubleBuffer(qmDisplay *display, int32_t whole, uint32_t flags);
// A new black present buffer of width x height, shown whole: 0 or ERR_MEM.
uint32_t ResizePresentBuffer(qmDisplay *display, int32_t width, int32_t height);
// Whether the display shows its picture scaled to a scaled size.
bool DisplayScales(const qmDisplay *display);
