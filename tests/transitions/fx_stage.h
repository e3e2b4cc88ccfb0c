// A display without a window showing a picture of the area's size, and a transition request on
// it with an effect's routines after the init call: each frame's pieces land in the display's
// background copy, where a caller reads them. The bench and the tests of the effects' geometry
// share it.
#pragma once
#include <cstdint>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "platform/memory.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxowned.h"
#include "transitions/fxrequest.h"
#include "transitions/fxtable.h"

struct FxStage {
  qmScene *scene = nullptr;
  qmDisplay *display = nullptr;
  qmBGPic pic{};
  qmFxRequest fx{};
  qmBitmap *newPicture, *oldPicture;
  uint32_t initCode = 0;

  static void Fill(qmBitmap *b, uint32_t seed) {
    for (int y = 0; y < b->height; y++)
      for (int x = 0; x < b->width; x++)
        b->pixels[y * (b->bytesPerRow / 4) + x] = uint32_t(x * 2654435761u ^ (y + seed) * 40503u);
  }

  int32_t speed;

  FxStage(int w, int h, int32_t effect, int32_t speed, int32_t parameter = 8) : speed(speed) {
    NewScene(nullptr, &scene);
    display = NewDisplayRecord(1);
    display->outputType = DISPOUT_DISPLAY;
    display->width = w;
    display->height = h;
    display->backgroundCopy = AllocBitmap(w, h);
    display->layerBuffer = AllocBitmap(w, h);
    pic.shownWidth = pic.unscaledWidth = w;
    pic.shownHeight = pic.unscaledHeight = h;
    display->bgpic = &pic;
    scene->current = display;
    scene->picture = &pic;
    newPicture = AllocBitmap(w, h);
    oldPicture = AllocBitmap(w, h);
    Fill(newPicture, 1);
    Fill(oldPicture, 2);
    fx.scene = scene;
    fx.effect = effect;
    fx.step = speed;
    fx.parameter = parameter;
    fx.width = fx.screenWidth = w;
    fx.height = fx.screenHeight = h;
    fx.srcImage = newPicture;
    fx.oldImage = oldPicture;
    fx.bltFlags = SAFEBLT_BACKGROUND;
    const qmFxRoutines *r = FindFxRoutines(effect);
    fx.frameFn = r->frame;
    fx.freeFn = r->free;
    fx.phase = FXPHASE_INIT;
    initCode = fx.frameFn(&fx, nullptr);
  }
  ~FxStage() {
    FreeFxState(&fx, 0);
    FreeBitmap(newPicture);
    FreeBitmap(oldPicture);
    FreeBitmap(display->backgroundCopy);
    FreeBitmap(display->layerBuffer);
    display->backgroundCopy = display->layerBuffer = nullptr;
    display->bgpic = nullptr;
    scene->current = nullptr;
    scene->picture = nullptr;
    FreeDisplayRecord(display);
    FreeScene(scene);
  }
  // One frame of the routine, as the runner calls it; the done flag.
  int32_t Step() {
    int32_t done = 0;
    fx.phase = FXPHASE_FRAME;
    fx.frameFn(&fx, &done);
    return done;
  }
  // One frame as a running transition draws it; the effect starts over once it is through.
  void Frame() {
    int32_t done = 0;
    fx.phase = FXPHASE_FRAME;
    fx.frameFn(&fx, &done);
    if (!done) return;
    FreeFxState(&fx, 0);
    fx.frameNo = 0;
    fx.step = speed;
    fx.phase = FXPHASE_INIT;
    fx.frameFn(&fx, nullptr);
  }
};
