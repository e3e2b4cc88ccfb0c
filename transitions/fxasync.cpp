#include "transitions/fxasync.h"

#include "display/asyncdraw.h"
#include "display/display.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "runtime/errcodes.h"
#include "layers/layer.h"
#include "layers/redraw.h"
#include "transitions/fxprims.h"
#include "transitions/fxrunner.h"
#include "transitions/fxtable.h"

uint32_t AsyncFxFrame(void *userData, int32_t *done) {
  auto *fx = static_cast<qmFxRequest *>(userData);
  if (fx->layerGone) {
    *done = 1;
    return 0;
  }
  // A layer that could not be followed after a change has no planes to draw into.
  if (fx->realtime && !fx->realtimePrepared) return ERR_WRONGUSAGE;
  if (fx->bgpicEmu && !IsWholeDisplayFx(fx->effect) && !IsScrollFx(fx->effect)) {
    // The emulated picture's layers changed: the frames so far again from the new picture.
    if (UpdateFxSources(fx, FXSOURCE_NEW)) {
      if (uint32_t code = RerenderFx(fx, fx->frameNo, 1)) return code;
      if (fx->layer) RefreshLayer(fx->scene, fx->layer);
    }
  } else if (fx->realtimePrepared && fx->layer && fx->layer->current && !IsScrollFx(fx->effect)) {
    // The script may have moved the layer since the last frame: the frame draws where it stands
    // (a scroll moves the layer itself).
    fx->x = FxPlaceWithinReach(fx->layer->current->x);
    fx->y = FxPlaceWithinReach(fx->layer->current->y);
  }
  return RunFxFrame(fx, done);
}

void AsyncFxFinish(void *userData, int32_t complete) { FinishFx(static_cast<qmFxRequest *>(userData), complete); }

void AsyncFxFree(void *userData, int32_t complete) { ReleaseFxRequest(static_cast<qmFxRequest *>(userData), complete); }

uint32_t RerenderFx(qmFxRequest *fx, int32_t n, int32_t force) {
  if (n < 0) n = 0;
  if (n > fx->stepCount) n = fx->stepCount;
  if (n == fx->frameNo && !force) return 0;
  if (IsSelfDrawingFx(fx->effect) && n > 0) {
    fx->phase = FXPHASE_DRAW;
    fx->frameNo = n;
    uint32_t code = fx->frameFn(fx, nullptr);
    fx->phase = FXPHASE_FRAME;
    return code;
  }
  // The area as it stood before the first frame, then the frames again. A scroll goes back to
  // its start itself, clearing where its picture or layer stands now, which may be beyond the area.
  if (!ResetFxPlanes(fx) && fx->oldImage && !IsScrollFx(fx->effect))
    BlitFxToScreen(fx, fx->oldImage, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr);
  fx->rerender = 1;
  fx->frameNo = 0;
  uint32_t code = 0;
  for (int32_t i = 0; i < n && !code; i++) {
    int32_t done = 0;
    code = RunFxFrame(fx, &done);
  }
  fx->rerender = 0;
  fx->frameNo = n;
  if (fx->scaledDisplay) {
    qmDisplay *d = fx->scene->current;
    if (d && d->layerBuffer) BltToDisplay(d->layerBuffer, 0, 0, d, 0, 0, fx->screenWidth, fx->screenHeight, 1);
  }
  return code;
}

intptr_t AsyncFxControl(int32_t op, intptr_t argument, void *userData) {
  auto *fx = static_cast<qmFxRequest *>(userData);
  switch (op) {
    case ADOP_REPLACELAYER: {
      // The record before the layer takes its place: the transition goes on in that one.
      qmLayer *old = reinterpret_cast<qmLayer *>(argument);
      if (old != fx->layer || !old || !LayerBelow(old)) return 0;
      if (fx->realtimePrepared) {
        RestoreRealtimeLayer(fx);
        fx->layerSuspended = 1;
      }
      fx->layer = LayerBelow(old);
      return intptr_t(FollowFxLayer(fx));
    }
    case ADOP_LAYERCHANGING:
      // The layer's own pictures go back for the change; the planes follow it afterwards.
      if (reinterpret_cast<qmLayer *>(argument) == fx->layer && fx->realtimePrepared) {
        RestoreRealtimeLayer(fx);
        fx->layerSuspended = 1;
      }
      return 0;
    case ADOP_LAYERCHANGED:
      if (reinterpret_cast<qmLayer *>(argument) != fx->layer) return 0;
      return intptr_t(FollowFxLayer(fx));
    case ADOP_LAYERGONE:
      // The layer takes its own pictures back, to be freed with them; nothing is drawn any more.
      if (!fx->layer || reinterpret_cast<qmLayer *>(argument) != fx->layer) return 0;
      RestoreRealtimeLayer(fx);
      fx->layer = nullptr;
      fx->layerGone = 1;
      return 0;
    case ADOP_FRAMECOUNT: return fx->stepCount;
    case ADOP_CURFRAME: return fx->frameNo;
    case ADOP_SEEK: return intptr_t(RerenderFx(fx, *reinterpret_cast<int32_t *>(argument), 0));
    case ADOP_REDRAW:
      // The layer's planes hold the frame; on the screen path it is drawn again.
      if (fx->realtimePrepared && fx->layer) {
        RefreshLayer(fx->scene, fx->layer);
        return 0;
      }
      return intptr_t(RerenderFx(fx, fx->frameNo, 1));
    case ADOP_DRAWNOBJECT:
      *reinterpret_cast<void **>(argument) = fx->layer;
      return 0;
    case ADOP_PENDINGPICTURE:
      if (fx->bgpicEmu) *reinterpret_cast<void **>(argument) = fx->emuBGPic;
      return 0;
    case ADOP_DOUBLEBUFFER:
      fx->rerender = argument ? 1 : 0;
      return 0;
    default:
      return 0;
  }
}
