// Scrolls: the new picture (on the display) or the layer itself travels from outside the display
// to its place, or from its place out when a layer is taken away, moved by the object-move engine
// one step a frame. The frames are the steps of the move's path, counted up front.
#include "display/position.h"
#include "display/safeblt.h"
#include "display/scene.h"
#include "graphics/blit.h"
#include "layers/layer.h"
#include "layers/layerops.h"
#include "layers/move.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxprims.h"
#include "transitions/fxrequest.h"
#include "transitions/fxtable.h"

namespace {

struct ScrollState {
  qmMove move;
  qmMove start;         // the move as it stood before its first step: a replay starts from it
  int32_t stepsTaken;   // since the start
};

// The start of the effect's path, given its end (x, y): special positions outside the display.
void ScrollStart(int32_t effect, int32_t x, int32_t y, int32_t *sx, int32_t *sy) {
  switch (effect) {
  case FX_SCROLLLEFT: *sx = POS_LEFTOUT, *sy = y; break;
  case FX_SCROLLRIGHT: *sx = POS_RIGHTOUT, *sy = y; break;
  case FX_SCROLLTOP: *sx = x, *sy = POS_TOPOUT; break;
  case FX_SCROLLBOTTOM: *sx = x, *sy = POS_BOTTOMOUT; break;
  case FX_SCROLLNORTHEAST: *sx = POS_RIGHTOUT, *sy = POS_TOPOUT; break;
  case FX_SCROLLSOUTHEAST: *sx = POS_RIGHTOUT, *sy = POS_BOTTOMOUT; break;
  case FX_SCROLLSOUTHWEST: *sx = POS_LEFTOUT, *sy = POS_BOTTOMOUT; break;
  default: *sx = POS_LEFTOUT, *sy = POS_TOPOUT; break;
  }
}

uint32_t ScrollInit(qmFxRequest *fx) {
  auto *s = static_cast<ScrollState *>(MemAlloc(sizeof(ScrollState), 1));
  if (!s) return ERR_MEM;
  fx->fxState = s;
  qmMove *m = &s->move;
  m->scene = fx->scene;
  m->objectType = QMTYPE_NOOBJECT;
  m->embedded = 1;
  if (fx->layer) {
    m->layer = fx->layer;
  } else {
    m->image = fx->srcImage;
    m->imageMask = fx->srcMask;
    m->imageAlpha = fx->srcAlpha;
  }
  m->width = fx->width;
  m->height = fx->height;
  int32_t sx = 0, sy = 0;
  ScrollStart(fx->effect, fx->x, fx->y, &sx, &sy);
  if (fx->layerTarget) {
    m->startX = fx->x, m->startY = fx->y, m->endX = sx, m->endY = sy;
  } else {
    m->startX = sx, m->startY = sy, m->endX = fx->x, m->endY = fx->y;
  }
  m->path = uint32_t(fx->parameter == FX_RANDOMPARAMETER ? 0 : fx->parameter);
  // The speed asked for (what step holds at the init call) is the move's own speed value, not a
  // step size of the effect table.
  m->speedOption = fx->step;
  m->animSpeedOption = MOVESPEED_NORMAL;
  // The display-blit flags beyond the background copy the move always names.
  m->extraBlitFlags = fx->bltFlags & ~uint32_t(SAFEBLT_BACKGROUND);
  if (uint32_t code = RunMove(m, nullptr)) {
    // The buffers are gone already; the record stays the state's (embedded: never freed itself).
    *m = {};
    m->embedded = 1;
    return code;
  }
  s->start = *m;
  fx->stepCount = CountMoveSteps(m);
  return 0;
}

// Back to the start of the path with nothing drawn yet; the first step then clears what the
// last one left (the move redraws the union of where the picture was and where it goes).
void RestartScroll(ScrollState *s) {
  qmMove *m = &s->move;
  qmLayer *layer = m->layer;
  const int32_t wasX = m->x, wasY = m->y;
  *m = s->start;
  m->layer = layer;
  m->previousX = wasX, m->previousY = wasY;
  s->stepsTaken = 0;
}

}  // namespace

uint32_t ScrollFx(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) return ScrollInit(fx);
  auto *s = static_cast<ScrollState *>(fx->fxState);
  // A replay of the frames from the first one (a jump of an asynchronous run).
  if (fx->frameNo == 0 && s->stepsTaken > 0) RestartScroll(s);
  if (fx->bgpicEmu && (UpdateFxSources(fx, FXSOURCE_NEW) & FXSOURCE_NEW) && fx->realtimePrepared && fx->layer &&
      fx->layer->current && fx->layer->current->own.bitmap) {
    // The layer shows the emulated picture through its stand-in planes.
    BltBitmapClipped(fx->srcImage, 0, 0, fx->layer->current->own.bitmap, 0, 0, fx->width, fx->height);
    DropDerivedImages(fx->layer->current);
  }
  int32_t end = 0;
  const uint32_t code = MoveStep(&s->move, &end);
  s->stepsTaken++;
  FxFrameTail(fx);
  if (end || fx->frameNo >= fx->stepCount) *done = 1;
  return code;
}

void ScrollFxFree(qmFxRequest *fx, int32_t complete) {
  auto *s = static_cast<ScrollState *>(fx->fxState);
  if (!s) return;
  (void)complete;
  // The layer stands where it stood before (hidden when taken away, at its place when shown).
  if (fx->layer) PlaceLayer(fx->scene, fx->layer, nullptr, fx->layerX, fx->layerY, 0, 0, nullptr);
  MoveFree(&s->move);
}
