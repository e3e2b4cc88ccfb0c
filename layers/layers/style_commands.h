// Handlers of the layers library's style commands (style_commands.cpp).
#pragma once
#include <cstdint>

struct VmState;

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
