// Pushes: the new picture enters from one edge and pushes the old one out of the other. Whole
// pictures move, so any frame can be drawn from its number alone.
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "transitions/effects/fxroutines.h"
#include "transitions/fxprims.h"
#include "transitions/fxtable.h"

namespace {

struct PushState {
  int32_t pos;  // how far the new picture has come in, in pixels
};

bool Horizontal(int32_t effect) { return effect == FX_PUSHLEFT || effect == FX_PUSHRIGHT; }

// Where the new and the old picture stand when the push has come pos pixels in.
void PushOffsets(int32_t effect, int32_t pos, int32_t width, int32_t height, int32_t *nx, int32_t *ny, int32_t *ox,
                 int32_t *oy) {
  *nx = *ny = *ox = *oy = 0;
  switch (effect) {
    case FX_PUSHLEFT: *nx = pos - width; *ox = pos; break;
    case FX_PUSHRIGHT: *nx = width - pos; *ox = -pos; break;
    case FX_PUSHTOP: *ny = pos - height; *oy = pos; break;
    default: *ny = height - pos; *oy = -pos; break;
  }
}

}  // namespace

uint32_t PushFx(qmFxRequest *fx, int32_t *done) {
  const int32_t size = Horizontal(fx->effect) ? fx->width : fx->height;
  if (fx->phase == FXPHASE_INIT) {
    auto *s = static_cast<PushState *>(MemAlloc(sizeof(PushState), 1));
    if (!s) return ERR_MEM;
    fx->fxState = s;
    fx->step = FxSpeedToStep(fx->step, size, 40, 10, 100);
    s->pos = fx->step;
    fx->stepCount = FxStepCount(size - fx->step, fx->step, 0);
    return 0;
  }
  auto *s = static_cast<PushState *>(fx->fxState);
  if (fx->phase == FXPHASE_DRAW) s->pos = fx->frameNo * fx->step;
  else if (fx->phase != FXPHASE_FRAME) return 0;
  int32_t stop = 0;
  if (s->pos >= size) {
    s->pos = size;
    stop = 1;
  }
  int32_t nx, ny, ox, oy;
  PushOffsets(fx->effect, s->pos, fx->width, fx->height, &nx, &ny, &ox, &oy);
  // The two pictures never overlap: each goes whole, the blitter cuts what lies outside.
  BlitFxToScreen(fx, fx->srcImage, 0, 0, fx->x + nx, fx->y + ny, fx->width, fx->height, nullptr, nullptr);
  BlitFxToScreen(fx, fx->oldImage, 0, 0, fx->x + ox, fx->y + oy, fx->width, fx->height, nullptr, nullptr);
  s->pos += fx->step;
  if (fx->phase == FXPHASE_DRAW) return 0;
  if (stop) *done = 1;
  FxFrameTail(fx);
  return 0;
}
