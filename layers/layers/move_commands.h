// Handlers of the layers library that make, select, test, animate and queue moves of layers;
// the command table in lib_layers.cpp lists them.
#pragma once
#include <cstdint>

struct VmState;

uint32_t LayAddMove(VmState *L);
uint32_t LayClearMove(VmState *L);
uint32_t LayDoMove(VmState *L);
uint32_t LayNextFrame(VmState *L);
uint32_t LayCollision(VmState *L);
uint32_t LaySelectLayer(VmState *L);
uint32_t LayCreateLayer(VmState *L);
uint32_t LayModifyLayerFrames(VmState *L);
