// Handlers of the layers library's style commands (style_commands.cpp), and the walk of their
// (layer, style table) arguments.
#pragma once
#include <cstdint>

struct VmState;
struct qmLayer;

// The script arguments first, first + 1, ... (count of them) as pairs (layer, style table).
// Unless noFinalRefresh, the collected rectangles are refreshed at the end (or, while a
// background picture is selected, handed to its display's dirty list). 0 or an error code.
uint32_t ApplyLayerStyle(VmState *L, int32_t first, int32_t count, int32_t noFinalRefresh);
// Moves the layer to (x, y) and shows that frame (for the movers and frame steppers).
uint32_t SetLayerPosFrame(VmState *L, qmLayer *layer, int32_t x, int32_t y, int32_t frame, int32_t noFinalRefresh);

uint32_t LaySetLayerStyle(VmState *L);
uint32_t LaySetLayerFilter(VmState *L);
uint32_t LaySetLayerAnchor(VmState *L);
uint32_t LayTransformLayer(VmState *L);
uint32_t LayRotateLayer(VmState *L);
uint32_t LayScaleLayer(VmState *L);
// SetLayerLight and SetLayerTint.
uint32_t LaySetLayerTint(VmState *L);
uint32_t LaySetLayerTransparency(VmState *L);
uint32_t LayGetLayerStyle(VmState *L);
