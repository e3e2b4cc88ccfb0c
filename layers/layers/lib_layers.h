// The "layers" library of script commands.
#pragma once

#include <cstdint>

#include "runtime/library.h"

struct VmState;
struct qmScene;
struct qmDisplay;
struct qmBitmap;
struct qmLayerHooks;

extern const qmLibrary kLayersLibrary;
// The layers of a background picture, answered for the display engine.
extern const qmLayerHooks kLayerHooks;

// Player-context and display services of the layer engine (player/wiring.cpp).
uint32_t LayersReadAttribute(VmState *L, int32_t attribute);
int32_t LayersFindLayerByName(const qmScene *scene, const char *name);
void LayersRedrawDisplayRect(VmState *L, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height);
void LayersComposeDisplayPicture(VmState *L, qmDisplay *display, qmBitmap *dst);
int LayersCoverDisplayRect(qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height);
// The body of EnableLayers for a display: 0 or the reason it cannot switch.
uint32_t SwitchLayersOn(qmDisplay *display);
