// Double buffering: drawing goes into an off-screen draw buffer; Flip copies what changed into
// the present buffer and shows it.
#pragma once
#include <cstdint>

struct VmState;
struct qmDisplay;

uint32_t BeginDoubleBufferCore(VmState *L, qmDisplay *display, int32_t hardware);
// sync: wait out the rest of the frame time after showing.
uint32_t FlipCore(VmState *L, qmDisplay *display, int32_t sync);
uint32_t EndDoubleBufferCore(qmDisplay *display);
// Shows the present buffer: whole, or the dirty rectangles only.
void PresentDoubleBuffer(qmDisplay *display, int32_t whole, uint32_t flags);
// A new black present buffer of width x height, shown whole: 0 or ERR_MEM.
uint32_t ResizePresentBuffer(qmDisplay *display, int32_t width, int32_t height);
// Whether the display shows its picture scaled to a scaled size.
bool DisplayScales(const qmDisplay *display);
