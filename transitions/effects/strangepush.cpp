// Strange push: the new picture slides in from two opposite sides at once, its odd rows from one
// side and its even rows from the other, until the two halves meet; taking a layer away runs the
// same motion backwards. A frame depends only on the distance c come so far.
#include "display/safeblt.h"
#include "display/scene.h"
#include "graphics/alpha_kernels.h"
#include "graphics/alphaops.h"
#include "graphics/blit.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxowned.h"
#include "transitions/fxprims.h"
#include "transitions/fxrequest.h"
#include "transitions/fxtable.h"

namespace {

struct StrangePushState {
  int32_t counter;  // c of the next frame, in pixels along the motion
  // On the display: the old picture with the new one's rows drawn over it. In a layer's planes:
  // the new picture's rows moved to their places, shown through cover.
  qmBitmap *work;
  qmMask *coverMask;  // layer planes, a new picture without alpha: where work shows
  qmAlphaChannel *coverAlpha;  // layer planes, a new picture with alpha
};

int32_t Reach(const qmFxRequest *fx) { return fx->effect == FX_HSTRANGEPUSH ? fx->width : fx->height; }

// One source row y of the new picture, width w from sx, to (dx, dy) of the composition.
void Row(qmFxRequest *fx, StrangePushState *s, int32_t sx, int32_t y, int32_t dx, int32_t dy, int32_t w) {
  if (!fx->realtime) {
    qmSafeBlt b{};
    b.src = fx->srcImage;
    b.srcX = sx;
    b.srcY = y;
    b.dst = s->work;
    b.dstX = dx;
    b.dstY = dy;
    b.width = w;
    b.height = 1;
    b.srcWidth = fx->width;
    b.srcHeight = fx->height;
    b.dstWidth = fx->width;
    b.dstHeight = fx->height;
    b.flags = SAFEBLT_PIXELSONLY | SAFEBLT_NOCLIP | SAFEBLT_NOSPRITES | SAFEBLT_NOPRESENT;
    b.mask = fx->srcMask;
    b.alpha = fx->srcAlpha;
    SafeBlt(fx->scene, &b);
    return;
  }
  BltBitmap(fx->srcImage, sx, y, s->work, dx, dy, w, 1);
  if (s->coverAlpha) CombineAlphaRect(fx->srcAlpha, sx, y, s->coverAlpha, dx, dy, w, 1, 0, 0);
  else if (fx->srcMask) CopyMaskRect(fx->srcMask, sx, y, s->coverMask, dx, dy, w, 1, MASKVANILLACOPY);
  else FillMaskRect(s->coverMask, dx, dy, w, 1, MASKVISIBLE);
}

// The rows of parity odd (1) or even (0) of the source rectangle (sx, sy, w x h), moved to
// (dx, dy).
void Rows(qmFxRequest *fx, StrangePushState *s, int32_t odd, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
          int32_t w, int32_t h) {
  if (w < 1 || h < 1) return;
  for (int32_t y = sy + ((sy & 1) != odd); y < sy + h; y += 2) Row(fx, s, sx, y, dx, dy + y - sy, w);
}

// The composition at distance c: the odd rows come in from the left (top), the even rows from
// the right (bottom).
void Compose(qmFxRequest *fx, StrangePushState *s, int32_t c) {
  const int32_t w = fx->width, h = fx->height;
  if (fx->realtime) {
    if (s->coverAlpha) FillAlphaRect(s->coverAlpha, 0, 0, w, h, 0);
    else FillMaskRect(s->coverMask, 0, 0, w, h, MASKINVISIBLE);
  } else if (fx->srcMask || fx->srcAlpha) {
    // The rows moved: what the last frame's holes showed of the new picture must go.
    BltBitmap(fx->oldImage, 0, 0, s->work, 0, 0, w, h);
  }
  if (fx->effect == FX_HSTRANGEPUSH) {
    Rows(fx, s, 1, w - c, 0, 0, 0, c, h);
    Rows(fx, s, 0, 0, 0, w - c, 0, c, h);
  } else {
    Rows(fx, s, 1, 0, h - c, 0, 0, w, c);
    Rows(fx, s, 0, 0, 0, 0, h - c, w, c);
  }
}

uint32_t Init(qmFxRequest *fx) {
  auto *s = static_cast<StrangePushState *>(MemAlloc(sizeof(StrangePushState), 1));
  if (!s) return ERR_MEM;
  fx->fxState = s;
  FxOwn(fx, &s->work, &s->coverMask, &s->coverAlpha);
  const int32_t reach = Reach(fx);
  int32_t step = FxSpeedToStep(fx->step, reach, 60, 30, 120);
  if (step < 1) step = 1;
  if (step & 1) step++;  // the rows keep their parity from frame to frame
  fx->step = step;
  const int32_t w = fx->width, h = fx->height;
  s->work = AllocBitmap(w, h);
  if (!s->work) return ERR_MEM;
  if (!fx->realtime) {
    if (!fx->oldImage) return ERR_WRONGUSAGE;
    BltBitmap(fx->oldImage, 0, 0, s->work, 0, 0, w, h);
  } else if (fx->srcAlpha) {
    if (!(s->coverAlpha = AllocAlphaChannel(w, h, 1))) return ERR_MEM;
  } else if (!(s->coverMask = AllocMask(w, h, 1))) {
    return ERR_MEM;
  }
  s->counter = fx->layerTarget ? reach - step : step;
  fx->stepCount = FxStepCount(reach - step, step, 0);
  return 0;
}

}  // namespace

uint32_t StrangePushFx(qmFxRequest *fx, int32_t *done) {
  if (fx->phase == FXPHASE_INIT) return Init(fx);
  auto *s = static_cast<StrangePushState *>(fx->fxState);
  const int32_t reach = Reach(fx);
  int32_t c = s->counter;
  if (fx->phase == FXPHASE_DRAW) c = fx->layerTarget ? reach - fx->frameNo * fx->step : fx->frameNo * fx->step;
  else if (fx->phase != FXPHASE_FRAME) return 0;
  bool last = false;
  if (fx->layerTarget && c < 1) c = 0, last = true;
  else if (!fx->layerTarget && c >= reach) c = reach, last = true;
  Compose(fx, s, c);
  if (fx->realtime) BlitFxToScreen(fx, s->work, 0, 0, fx->x, fx->y, fx->width, fx->height, s->coverMask, s->coverAlpha);
  else BlitFxToScreen(fx, s->work, 0, 0, fx->x, fx->y, fx->width, fx->height, nullptr, nullptr);
  s->counter = fx->layerTarget ? c - fx->step : c + fx->step;
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (last) *done = 1;
  FxFrameTail(fx);
  return 0;
}

