// Layers on a display that scales them: each layer is rendered again at the display's scale
// instead of the finished picture being scaled, so the display shows every layer's current
// (scaled) state over the picture's shown set.
#pragma once
#include <cstdint>

struct qmScene;
struct qmDisplay;
struct qmBGPic;

// Scale mode LAYER with a scale size set.
bool DisplayScalesLayers(const qmDisplay *display);
// The display shows the picture and scales its layers by a factor other than 1.
bool DisplayScalesPictureLayers(const qmDisplay *display, const qmBGPic *pic);
// Every layer of the picture rendered at the display's scale, in list order, with the display
// and the picture current for the time of the call. 0 or the first error, which ends the run.
uint32_t RerenderBGPicLayers(qmScene *scene, qmDisplay *display, qmBGPic *pic);
// Every layer of the picture back to its unscaled state: the scaled current states are freed.
// A transformed layer whose unscaled state lost its rendering is rendered again (unscaled);
// when that fails it shows nothing (cleared planes) rather than stale memory.
void ResetBGPicLayerScale(qmScene *scene, qmBGPic *pic);
