// The "layers" library of script commands.
#pragma once

#include <cstdint>

#include "runtime/library.h"

struct VmState;
struct qmDisplay;
struct qmImageLayer;

extern const qmLibrary kLayersLibrary;

// Player-context and display services of the layer engine (player/wiring.cpp).
uint32_t LayersAddImageLayer(VmState *L, qmImageLayer *request);
uint32_t LayersReadAttribute(VmState *L, int32_t attribute);
int32_t LayersFindLayerByName(VmState *L, const char *name);
void LayersRedrawDisplayRect(VmState *L, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height);
int LayersCoverDisplayRect(qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height);
// Layers may be used: not while a Select* target takes the drawing, and only with layers on.
uint32_t LayerGuard();
// A layer argument: a position (truncated, not range-checked) or a layer name (ERR_FINDLAYER).
uint32_t GetLayerArg(VmState *L, int i, int32_t *position);
// A layer argument that must name an existing layer (ERR_LAYERRANGE).
struct qmLayer;
uint32_t GetExistingLayerArg(VmState *L, int i, qmLayer **out, int32_t *position);
// SetLayerShadow and SetLayerBorder (border_commands.cpp).
uint32_t LaySetLayerShadow(VmState *L);
uint32_t LaySetLayerBorder(VmState *L);
// The body of EnableLayers for a display: 0 or the reason it cannot switch.
uint32_t SwitchLayersOn(qmDisplay *display);
