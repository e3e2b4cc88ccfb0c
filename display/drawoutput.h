// Where a drawing command's pixels go: the current output picture as a draw target cut to its
// clip, the window refresh after drawing straight into it, and the one blit of a finished
// shape image.
#pragma once
#include <cstdint>

#include "graphics/shape_render.h"

struct qmScene;
struct qmDisplay;
struct qmClipRegion;

struct qmDrawOutput {
  qmDisplay *display;
  qmDrawTarget target;
  int32_t width, height;      // the picture drawn into
  const qmClipRegion *clip;   // its active clip region, or null
  bool onDisplay;             // the display's background copy and window
  bool doubleBuffered;        // the draw buffer of double buffering
};

// 0 with out filled, or an error of preparing a selected mask or alpha channel; nothing to
// draw into gives ERR_WRONGUSAGE.
uint32_t GetDrawOutput(qmScene *scene, qmDrawOutput *out);
// After drawing straight into the target: the window shows the rectangle, or double buffering
// notes it.
void ShowDrawnRect(qmScene *scene, const qmDrawOutput &o, int64_t x, int64_t y, int64_t w, int64_t h);
// The image into the output through the one blit that knows every kind of output.
void BlitShapeImage(qmScene *scene, const qmDrawOutput &o, const qmShapeImage &img);
